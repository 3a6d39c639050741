#include "engine/write/stored_index_entries.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>

#include "engine/format/damaged.h"
#include "engine/index/index_findings.h"
#include "engine/index/index_tree_reader.h"
#include "engine/write/key_pipeline.h"
#include "engine/write/object_ids.h"
#include "engine/write/rewrite_plan.h"
#include "engine/write/rewrite_context.h"
#include "engine/write/rewrite_options.h"
#include "engine/write/rewrite_source.h"
#include "engine/write/row_finder.h"
#include "engine/write/row_keys.h"
#include "engine/write/unkeyed_rows.h"

namespace jet::write {

namespace {

// Follows a walk over a stored index in key order and tells when an entry
// repeats the key of the one before it in an index that must be unique (a
// sound one never does; keys of all NULL aside, which it may repeat). The
// walk checks key order, so repeats meet side by side.
class UniqueKeyRepeats {
 public:
  UniqueKeyRepeats(const TableDef& t, const IndexData& data)
      : unique_(index::detail::must_be_unique(t, data)), columns_(data.columns.size()) {}

  bool repeats(std::span<const std::uint8_t> key) {
    if (!unique_) return false;
    const bool repeat = !previous_.empty() && std::ranges::equal(key, previous_) &&
                        !index::detail::all_null_key(key, columns_);
    previous_.assign(key.begin(), key.end());
    return repeat;
  }

 private:
  bool unique_;
  std::size_t columns_;
  Bytes previous_;
};

Error carry_refusal(const TableDef& t, const IndexData& data, const std::string& reason, const std::string& why) {
  return Error(errc::kNotBuiltYet, reason + " The stored index " + index_name(t, data) + " of table " + t.name +
                                       " cannot stand in: " + why +
                                       "; converting the database to the General order rebuilds it.");
}

// Walks the stored entries that are to stand in for keys we cannot form;
// a tree that cannot be read cannot stand in, and the refusal names it.
void walk_entries_to_carry(RewriteSource& source, const WriteFormat& format, const TableDef& t, const IndexData& data,
                           const std::string& reason, const std::function<void(const index::EntryView&)>& visit) {
  try {
    walk_stored_entries(source, format, t, data, visit);
  } catch (const Error& e) {
    if (e.number() != errc::kCannotOpenDatabase) throw;
    // The damaged-file error keeps where the reader gave up in its source.
    const std::string& where = e.source();
    const std::size_t open = where.find(" (");
    const std::string detail =
        open != std::string::npos && where.back() == ')' ? where.substr(open + 2, where.size() - open - 3) : "damaged";
    throw UnreadableStoredIndex(carry_refusal(t, data, reason, "it cannot be read (" + detail + ")").description());
  } catch (const DamagedData& e) {
    throw UnreadableStoredIndex(
        carry_refusal(t, data, reason, std::string("it cannot be read (") + e.what() + ")").description());
  }
}

}  // namespace

void walk_stored_entries(RewriteSource& source, const WriteFormat& format, const TableDef& t, const IndexData& data,
                         const std::function<void(const index::EntryView&)>& visit) {
  index::walk_index_tree([&source](PageNumber p) { return std::make_shared<const Bytes>(source.read_page(p)); },
                         data.first_page, format.jet4 ? index::Format::Jet4 : index::Format::Jet3, t.definition_page,
                         visit);
}

std::vector<std::uint32_t> stored_order(RewriteSource& source, const WriteFormat& format, const TableDef& t,
                                        const IndexData& primary, const RowTable& rows, const std::string& reason) {
  const RowFinder rows_by_place(rows.old_at);
  KeyList listed;
  walk_entries_to_carry(source, format, t, primary, reason, [&](const index::EntryView& e) {
    const std::optional<std::uint32_t> at = rows_by_place.find(e.row);
    if (at) listed.add(e.key, *at);  // else a deleted row's leftover entry
  });
  listed.sort();
  std::vector<std::uint32_t> order;
  std::vector<bool> seen(rows.old_at.size(), false);
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const auto at = static_cast<std::uint32_t>(listed.tag(i));
    if (seen[at]) throw carry_refusal(t, primary, reason, "it lists a row twice");
    seen[at] = true;
    order.push_back(at);
  }
  if (order.size() != rows.old_at.size()) {
    throw Error(errc::kCannotOpenDatabase, "Damaged table " + t.name + ": its primary key does not cover every row.");
  }
  return order;
}

std::vector<std::uint8_t> rows_with_stored_keys(RewriteSource& source, const WriteFormat& format, const TableDef& t,
                                                const IndexData& data, const RowTable& rows,
                                                std::vector<std::uint8_t>& lead) {
  constexpr std::uint8_t kNotCarried = 2;
  std::vector<std::uint8_t> listed(rows.old_at.size(), 0);
  lead.assign(rows.old_at.size(), 0);
  const RowFinder rows_by_place(rows.old_at);
  UniqueKeyRepeats repeats(t, data);
  std::optional<std::uint32_t> previous_row;
  try {
    walk_stored_entries(source, format, t, data, [&](const index::EntryView& e) {
      const std::optional<std::uint32_t> at = rows_by_place.find(e.row);
      if (repeats.repeats(e.key)) {
        if (previous_row) listed[*previous_row] = kNotCarried;
        if (at) listed[*at] = kNotCarried;
      }
      previous_row = at;
      if (!at || listed[*at] >= kNotCarried) return;
      ++listed[*at];
      lead[*at] = e.key.empty() ? 0 : e.key[0];
    });
  } catch (const Error& e) {
    if (e.number() != errc::kCannotOpenDatabase) throw;
    return {};
  } catch (const DamagedData&) {
    lead.clear();
    return {};
  }
  for (std::uint8_t& n : listed) n = n == 1 ? 1 : 0;
  return listed;
}

void carry_over(RewriteContext& ctx, const TableDef& t, IndexCopy& index, const RowTable& rows,
                const std::vector<RowPointer>& new_at, std::size_t lists) {
  if (ctx.options.convert_to_general && has_text_key(t, *index.data)) {
    // The stored keys follow the source's order, not the new one.
    throw Error(errc::kNotBuiltYet, "Cannot convert index " + index_name(t, *index.data) + " of table " + t.name +
                                        " to the General order: " + index.reason);
  }
  const RowFinder rows_by_place(rows.old_at);
  std::vector<bool> seen(rows.old_at.size(), false);
  std::uint64_t carried = 0;
  // A unique index that repeats a key is damaged, and without keys of our
  // own there is no telling which of the rows the key is not.
  UniqueKeyRepeats repeats(t, *index.data);
  walk_entries_to_carry(ctx.db, ctx.format, t, *index.data, index.reason, [&](const index::EntryView& e) {
    const std::optional<std::uint32_t> at = rows_by_place.find(e.row);
    if (!at) return;  // a deleted row's leftover entry
    if (seen[*at]) throw carry_refusal(t, *index.data, index.reason, "it lists a row twice");
    if (repeats.repeats(e.key)) throw carry_refusal(t, *index.data, index.reason, "it lists two rows under one key");
    seen[*at] = true;
    ctx.index_keys.add(index.entries, index.runs, e.key, place_tag(new_at[*at]), ctx.index_keys.limit(lists));
    ++carried;
  });
  if (carried != index.listed) throw carry_refusal(t, *index.data, index.reason, "it does not list every row");
}

void carry_stored_keys(RewriteContext& ctx, const TableDef& t, IndexCopy& index, const RowTable& rows,
                       const std::vector<RowPointer>& new_at, std::size_t lists) {
  const RowFinder rows_by_place(rows.old_at);
  walk_stored_entries(ctx.db, ctx.format, t, *index.data, [&](const index::EntryView& e) {
    const std::optional<std::uint32_t> at = rows_by_place.find(e.row);
    if (!at || index.stored[*at] != 1) return;
    index.stored[*at] = 0;
    ctx.index_keys.add(index.entries, index.runs, e.key, place_tag(new_at[*at]), ctx.index_keys.limit(lists));
  });
}

namespace {

std::string row_at(RowPointer r) {
  return "the row at page " + std::to_string(r.page) + ", slot " + std::to_string(r.row);
}

}  // namespace

void carry_proven_keys(RewriteContext& ctx, const TablePlan& plan, IndexCopy& index, const RowTable& rows,
                       const std::vector<RowPointer>& new_at, std::size_t lists) {
  const TableDef& t = plan.def;
  const IndexData& data = *index.data;
  const std::string& reason = index.unformed_reason;
  const auto row = [&](std::uint32_t at) { return row_at(rows.old_at[at]); };
  // Every row without a provable key is gathered, with why the first is
  // refused, so that a repair can take them all out of the table at once.
  std::vector<RowPointer> refused;
  std::string first_why;
  const auto refuse = [&](std::uint32_t at, const std::string& why) {
    if (refused.empty()) first_why = why;
    refused.push_back(rows.old_at[at]);
  };
  // Per row: 0 not wanted, 1 wanted, 2 listed once, 3 listed more often,
  // 4 listed under a key another row shares.
  constexpr std::uint8_t kWanted = 1, kOnce = 2, kAgain = 3, kShared = 4;
  std::vector<std::uint8_t> state(rows.old_at.size(), 0);
  bool keys_long_value = false;
  for (const IndexColumn& ic : data.columns) {
    for (const Column& c : t.columns) {
      if (c.number == ic.column_number && is_long_value(c.type)) keys_long_value = true;
    }
  }
  for (std::uint32_t at : index.unformed) state[at] = kWanted;
  const RowFinder rows_by_place(rows.old_at);
  UniqueKeyRepeats repeats(t, data);
  std::optional<std::uint32_t> previous_row;
  std::optional<std::string> unreadable;
  try {
    walk_entries_to_carry(ctx.db, ctx.format, t, data, reason, [&](const index::EntryView& e) {
      const std::optional<std::uint32_t> at = rows_by_place.find(e.row);
      if (repeats.repeats(e.key)) {
        if (previous_row && state[*previous_row] != 0) state[*previous_row] = kShared;
        if (at && state[*at] != 0) state[*at] = kShared;
      }
      previous_row = at;
      if (!at || state[*at] == 0 || state[*at] == kShared) return;
      state[*at] = state[*at] == kWanted ? kOnce : kAgain;
    });
  } catch (const UnreadableStoredIndex& e) {
    unreadable = e.description();  // no row has a stored key
  }
  for (std::uint32_t at : index.unformed) {
    if (unreadable) {
      refuse(at, *unreadable);
      continue;
    }
    if (state[at] == kWanted) refuse(at, "it does not list " + row(at));
    if (state[at] == kAgain) refuse(at, "it lists " + row(at) + " more than once");
    if (state[at] == kShared) refuse(at, "it lists " + row(at) + " under a key another row shares");
    if (state[at] != kOnce) continue;
    // An added row is not the one the entry was written for, nor is a row
    // rebuilt without a long value the index keys.
    const RewriteSource::RowOrigin origin = ctx.db.row_origin(rows.old_at[at]);
    if (origin == RewriteSource::RowOrigin::kAdded) {
      refuse(at, "the repair added " + row(at));
      state[at] = 0;
    } else if (origin == RewriteSource::RowOrigin::kLongValuesLost && keys_long_value) {
      refuse(at, "the repair lost a value it keys of " + row(at));
      state[at] = 0;
    }
  }
  // Each entry must begin as the row's key would: a row whose values no
  // longer match its entry (changed behind its index) does not take it.
  const std::vector<bool> decoded = columns_keyed(t, {&data}, nullptr);
  Bytes raw, formed;
  Row values;
  if (!unreadable) {
    walk_entries_to_carry(ctx.db, ctx.format, t, data, reason, [&](const index::EntryView& e) {
      const std::optional<std::uint32_t> at = rows_by_place.find(e.row);
      if (!at || state[*at] != kOnce) return;
      if (!ctx.db.read_row_into(rows.old_at[*at], raw)) {
        refuse(*at, "the source no longer holds " + row(*at));
        return;
      }
      patch_object_ids(ctx.jet_format, t, plan.id_columns, ctx.plan.table_ids(), raw);
      decode_fields(ctx.jet_format, ctx.db.header().code_page, &ctx.db, t, split_row(ctx.jet_format, t, raw),
                    decoded, values);
      index.keys->formed_prefix_into(values, formed);
      if (formed.empty() || e.key.size() < formed.size() || !std::equal(formed.begin(), formed.end(), e.key.begin())) {
        refuse(*at, "its entry for " + row(*at) + " holds other values than the row");
        return;
      }
      ctx.index_keys.add(index.entries, index.runs, e.key, place_tag(new_at[*at]), ctx.index_keys.limit(lists));
    });
  }
  if (!refused.empty()) {
    std::string why = first_why;
    std::string description = unreadable ? *unreadable : carry_refusal(t, data, reason, first_why).description();
    if (unreadable) {
      // The refusal's own words for why the tree cannot stand in.
      constexpr std::string_view kBecause = "cannot stand in: ";
      const std::size_t from = unreadable->find(kBecause);
      const std::size_t to = unreadable->find(';', from);
      if (from != std::string::npos && to != std::string::npos) {
        why = unreadable->substr(from + kBecause.size(), to - from - kBecause.size());
      }
    }
    throw UnkeyedRows(std::move(description), t.definition_page, index_name(t, data), std::move(why),
                      std::move(refused));
  }
}

}  // namespace jet::write
