#include "engine/write/database_rewriter.h"

#include <algorithm>
#include <map>
#include <set>

#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/format/rc4.h"
#include "engine/index/index_tree_reader.h"
#include "engine/read/database.h"
#include "engine/write/data_page_builder.h"
#include "engine/write/header_writer.h"
#include "engine/write/index_rebuild.h"
#include "engine/write/little_endian.h"
#include "engine/write/long_value_writer.h"
#include "engine/write/object_ids.h"
#include "engine/write/rewrite_source.h"
#include "engine/format/row_layout.h"
#include "engine/write/table_definition_writer.h"
#include "engine/write/usage_map_builder.h"

namespace jet::write {

namespace {

constexpr std::uint32_t kFirstDefinitionPage = 2;  // the catalog's definition always starts here
constexpr std::uint32_t kMapPageOwner = 0;         // usage-map rows live on pages owned by no table
constexpr std::uint32_t kLongValueHeaderSize = 12;

[[noreturn]] void internal(const std::string& what) {
  throw Error(errc::kCannotOpenDatabase, "Internal error while writing the new database: " + what + ".");
}

// Writes finished pages to the new file, encrypting them like the source.
class PageSink {
 public:
  PageSink(WritableFile& out, const WriteFormat& format, std::uint32_t database_key,
           const std::function<void(std::uint64_t, std::uint64_t)>& progress, std::uint64_t expected)
      : out_(out), format_(format), key_(database_key), progress_(progress), expected_(expected) {}

  void write(std::uint32_t number, Bytes page) {
    if (page.size() != format_.page_size) internal("page of the wrong size");
    if (!written_.insert(number).second) internal("page written twice");
    if (key_ != 0 && number != 0) rc4_apply_page(key_, number, page.data(), page.size());
    out_.write(std::uint64_t{number} * format_.page_size, page.data(), page.size());
    if (progress_) progress_(written_.size(), std::max<std::uint64_t>(expected_, written_.size()));
  }
  const std::set<std::uint32_t>& written() const { return written_; }

 private:
  WritableFile& out_;
  WriteFormat format_;
  std::uint32_t key_;
  const std::function<void(std::uint64_t, std::uint64_t)>& progress_;
  std::uint64_t expected_;
  std::set<std::uint32_t> written_;
};

// One usage-map row on the map pages: its fixed place and the pages it lists.
struct MapSlot {
  std::uint32_t page = 0;
  std::uint8_t row = 0;
  std::set<std::uint32_t> pages;
  MapReference reference() const { return MapReference{page, row}; }
};

// A row being copied: its bytes, its values (for keys), where it was and
// where it goes.
struct Record {
  Bytes raw;
  Row values;
  RowPointer at;
  RowPointer old_at;
};

struct RowPointerOf {
  static RowPointer old_place(const Record& r) { return r.old_at; }
  static RowPointer new_place(const Record& r) { return r.at; }
};

struct TablePlan {
  TableDef def;
  Bytes definition;
  TableDefinitionLayout layout;
  std::vector<std::uint32_t> definition_pages;
  std::uint32_t id = 0;
  std::size_t first_slot = 0;  // owned, free, one per physical index, two per column map
  TableDefinitionUpdate update;
};

std::size_t slots_for(const TableDefinitionLayout& l) { return 2 + l.real_index_count + 2 * l.column_map_count; }

class Rewriter {
 public:
  Rewriter(RewriteSource& db, WritableFile& out, const RewriteOptions& options)
      : db_(db),
        jet_format_(*db.header().format),
        format_(WriteFormat::for_version(jet_format_.version == JetVersion::Jet4)),
        options_(options),
        sink_(out, format_, db.header().database_key, options.progress, db.page_count()) {
  }

  RewriteResult run() {
    plan_tables();
    plan_map_slots();
    for (TablePlan& plan : plans_) write_table(plan);
    write_usage_maps();
    for (TablePlan& plan : plans_) write_definition(plan);
    if (!spare_.empty()) internal("pages skipped for definitions were not used");
    const std::uint32_t page_count = next_page_;
    sink_.write(0, build_header_page(db_.header(), options_.new_password));
    sink_.write(1, build_free_page_map_page(format_, db_.page_one(), page_count));
    if (sink_.written().size() != page_count) internal("a page was left unwritten");
    result_.page_count = page_count;
    if (options_.progress) options_.progress(page_count, page_count);
    return result_;
  }

 private:
  // Pages skipped when placing definitions are handed out first, so the
  // file has no holes.
  std::uint32_t allocate() {
    if (!spare_.empty()) {
      const std::uint32_t p = *spare_.begin();
      spare_.erase(spare_.begin());
      return p;
    }
    return next_page_++;
  }

  // A table's id is its first definition page, so that page must not be a
  // number some row already uses for another object (or for one that no
  // longer exists): the reference would silently change meaning.
  std::uint32_t allocate_definition_start() {
    while (taken_ids_.count(next_page_) != 0) spare_.insert(next_page_++);
    return next_page_++;
  }

  void collect_object_ids(const std::vector<TableDef>& tables) {
    for (const TableDef& t : tables) {
      bool any = false;
      for (const Column& c : t.columns) any = any || holds_object_ids(t.name, c.name);
      if (!any) continue;
      db_.scan_raw_rows(t, [&](RowPointer, std::span<const std::uint8_t> bytes) {
        const std::vector<RawField> fields = split_row(jet_format_, t, bytes);
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
          const Column& c = t.columns[i];
          if (!holds_object_ids(t.name, c.name) || c.type != ColumnType::Long || fields[i].null) continue;
          if (fields[i].bytes.size() != 4) throw Error(errc::kCannotOpenDatabase, "Damaged row in " + t.name + ".");
          const auto& b = fields[i].bytes;
          taken_ids_.insert(static_cast<std::uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16)) |
                            (static_cast<std::uint32_t>(b[3]) << 24));
        }
      });
    }
    for (const TableDef& t : tables) taken_ids_.erase(t.definition_page);
  }

  void plan_tables() {
    std::vector<TableDef> tables = db_.tables();
    std::sort(tables.begin(), tables.end(),
              [](const TableDef& a, const TableDef& b) { return a.definition_page < b.definition_page; });
    tables.erase(std::unique(tables.begin(), tables.end(),
                             [](const TableDef& a, const TableDef& b) { return a.definition_page == b.definition_page; }),
                 tables.end());
    if (tables.empty() || tables.front().definition_page != kFirstDefinitionPage) {
      throw Error(errc::kCannotOpenDatabase, "Damaged database: the catalog table is not where it belongs.");
    }
    collect_object_ids(tables);
    if (taken_ids_.count(kFirstDefinitionPage) != 0) {
      throw Error(errc::kCannotOpenDatabase, "Damaged database: an object other than the catalog has id 2.");
    }
    next_page_ = kFirstDefinitionPage;
    for (TableDef& t : tables) {
      TablePlan plan;
      plan.definition = t.raw;
      if (plan.definition.size() < 12) throw Error(errc::kCannotOpenDatabase, "Damaged table definition of " + t.name + ".");
      // The stored length counts the bytes after the first eight; drop what the last page holds beyond it.
      const std::size_t declared = std::size_t{get_u32(plan.definition, 8)} + 8;
      if (declared < plan.definition.size()) plan.definition.resize(declared);
      plan.layout = scan_table_definition(format_, plan.definition);
      const std::uint32_t n = table_definition_page_count(format_, plan.definition);
      plan.definition_pages.push_back(allocate_definition_start());
      for (std::uint32_t i = 1; i < n; ++i) plan.definition_pages.push_back(allocate());
      plan.id = plan.definition_pages.front();
      table_ids_[t.definition_page] = plan.id;
      plan.def = std::move(t);
      plans_.push_back(std::move(plan));
    }
  }

  void plan_map_slots() {
    std::size_t total = 0;
    for (TablePlan& plan : plans_) {
      plan.first_slot = total;
      total += slots_for(plan.layout);
    }
    const std::size_t row_space = format_.usage_map_row_size() + 2;
    const std::size_t per_page =
        std::min<std::size_t>(format_.max_rows_per_page, (format_.page_size - format_.data_page_header_size()) / row_space);
    for (std::size_t i = 0; i < total; ++i) {
      if (i % per_page == 0) map_pages_.push_back(allocate());
      MapSlot slot;
      slot.page = map_pages_.back();
      slot.row = static_cast<std::uint8_t>(i % per_page);
      slots_.push_back(std::move(slot));
    }
  }

  // Offset of a field inside the row its span points into.
  static std::size_t offset_in(const Bytes& row, const RawField& field) {
    return static_cast<std::size_t>(field.bytes.data() - row.data());
  }

  void patch_object_ids(const TableDef& t, Bytes& raw) {
    bool any = false;
    for (const Column& c : t.columns) any = any || holds_object_ids(t.name, c.name);
    if (!any) return;
    const std::vector<RawField> fields = split_row(jet_format_, t, raw);
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      const Column& c = t.columns[i];
      if (!holds_object_ids(t.name, c.name) || c.type != ColumnType::Long || fields[i].null) continue;
      if (fields[i].bytes.size() != 4) throw Error(errc::kCannotOpenDatabase, "Damaged row in " + t.name + ".");
      const std::size_t at = offset_in(raw, fields[i]);
      const auto it = table_ids_.find(get_u32(raw, at));
      if (it != table_ids_.end()) put_u32(raw, at, it->second);
    }
  }

  void write_table(TablePlan& plan) {
    const TableDef& t = plan.def;
    std::vector<Record> rows;
    db_.scan_raw_rows(t, [&](RowPointer old_at, std::span<const std::uint8_t> bytes) {
      rows.push_back(Record{Bytes(bytes.begin(), bytes.end()), {}, {}, old_at});
    });

    const Column* autonumber = nullptr;
    for (const Column& c : t.columns) {
      if (c.is_autonumber() && c.type == ColumnType::Long) autonumber = &c;
    }
    const bool need_values = !t.index_data.empty() || autonumber != nullptr;
    for (Record& r : rows) {
      patch_object_ids(t, r.raw);
      if (need_values) r.values = db_.decode_row(t, r.raw);
    }

    // Rows go out in primary-key order; without a primary key, as found.
    for (const Index& index : t.indexes) {
      if (!index.is_primary_key()) continue;
      const IndexData* data = find_index_data(t, index.index_data);
      const std::vector<IndexKeyEntry> entries = index_entries(t, *data, rows, &RowPointerOf::old_place);
      if (entries.size() != rows.size()) {
        throw Error(errc::kCannotOpenDatabase, "Damaged table " + t.name + ": its primary key does not cover every row.");
      }
      std::map<RowPointer, std::size_t> position;
      for (std::size_t i = 0; i < rows.size(); ++i) position.emplace(rows[i].old_at, i);
      std::vector<Record> sorted;
      sorted.reserve(rows.size());
      for (const IndexKeyEntry& e : entries) sorted.push_back(std::move(rows[position.at(e.row)]));
      rows = std::move(sorted);
      break;
    }

    // Place rows on data pages (sizes do not change below: long-value
    // references keep their 12 bytes).
    std::uint32_t data_pages = 0;
    {
      std::optional<DataPageBuilder> page;
      for (Record& r : rows) {
        if (r.raw.size() > DataPageBuilder::max_row_size(format_)) {
          throw Error(errc::kCannotOpenDatabase, "Damaged row in " + t.name + ": longer than a page.");
        }
        if (!page || !page->fits(r.raw.size())) {
          page.emplace(format_, plan.id);
          ++data_pages;
        }
        r.at = RowPointer{data_pages - 1, page->add(r.raw)};  // page index for now
      }
    }
    std::vector<std::uint32_t> data_page_numbers;
    for (std::uint32_t i = 0; i < data_pages; ++i) data_page_numbers.push_back(allocate());
    for (Record& r : rows) r.at.page = data_page_numbers[r.at.page];

    rewrite_long_values(plan, rows);

    // Data pages.
    {
      std::optional<DataPageBuilder> page;
      std::uint32_t number = 0;
      for (Record& r : rows) {
        if (!page || r.at.page != number) {
          if (page) sink_.write(number, page->page());
          page.emplace(format_, plan.id);
          number = r.at.page;
        }
        if (page->add(r.raw) != r.at.row) internal("row landed on another slot");
      }
      if (page) sink_.write(number, page->page());
    }
    MapSlot& owned = slot(plan, 0);
    MapSlot& free = slot(plan, 1);
    owned.pages.insert(data_page_numbers.begin(), data_page_numbers.end());
    // Pages are filled in order, so only the last one can have room left.
    if (!data_page_numbers.empty()) free.pages.insert(data_page_numbers.back());

    // Indexes.
    plan.update.index_row_counts.assign(plan.layout.real_index_count, 0);
    plan.update.index_roots.assign(plan.layout.real_index_count, 0);
    if (t.index_data.size() != plan.layout.real_index_count) internal("index count differs from the definition");
    for (std::size_t i = 0; i < t.index_data.size(); ++i) {
      const std::vector<IndexKeyEntry> entries = index_entries(t, t.index_data[i], rows, &RowPointerOf::new_place);
      BuiltIndex built = build_index(format_, plan.id, entries, [this] { return allocate(); });
      MapSlot& map = slot(plan, 2 + i);
      for (FinishedPage& p : built.pages) {
        map.pages.insert(p.number);
        sink_.write(p.number, std::move(p.bytes));
      }
      plan.update.index_roots[i] = built.root;
      plan.update.index_row_counts[i] = static_cast<std::uint32_t>(entries.size());
    }

    plan.update.row_count = static_cast<std::uint32_t>(rows.size());
    plan.update.next_autonumber = get_u32(plan.definition, format_.tdef_autonumber_at);  // kept unless recounted below
    if (autonumber) {
      std::int64_t largest = 0;
      const std::size_t at = column_position(t, *autonumber);
      for (const Record& r : rows) {
        if (at < r.values.size() && !r.values[at].is_null) largest = std::max(largest, r.values[at].integer);
      }
      plan.update.next_autonumber = static_cast<std::uint32_t>(largest + 1);
    }
    plan.update.table_ids = table_ids_;
    result_.rows.emplace_back(t.name, rows.size());
  }

  // One index's entries for the rows, in key order (equal keys in row
  // order), pointing at each row's old or new place. Keys come from the
  // encoder; when it cannot key some value, the source's own stored entries
  // are carried over, provided they list exactly the rows they should.
  std::vector<IndexKeyEntry> index_entries(const TableDef& t, const IndexData& data, const std::vector<Record>& rows,
                                           RowPointer (*place)(const Record&)) {
    std::string reason;
    try {
      const IndexKeys encoder(format_, t, data);
      std::vector<IndexKeyEntry> entries;
      for (const Record& r : rows) {
        std::optional<Bytes> key = encoder.key_for(r.values);
        if (key) entries.push_back(IndexKeyEntry{std::move(*key), place(r)});
      }
      std::stable_sort(entries.begin(), entries.end(),
                       [](const IndexKeyEntry& a, const IndexKeyEntry& b) { return a.key < b.key; });
      return entries;
    } catch (const Error& e) {
      if (e.number() != errc::kNotBuiltYet) throw;
      reason = e.description();
    }
    return carried_over_entries(t, data, rows, place, reason);
  }

  std::vector<IndexKeyEntry> carried_over_entries(const TableDef& t, const IndexData& data,
                                                  const std::vector<Record>& rows,
                                                  RowPointer (*place)(const Record&), const std::string& reason) {
    const auto refuse = [&](const std::string& why) -> Error {
      return Error(errc::kNotBuiltYet, reason + " The stored index of table " + t.name + " cannot stand in: " + why + ".");
    };
    std::map<RowPointer, RowPointer> moved;
    for (const Record& r : rows) moved.emplace(r.old_at, place(r));
    const index::IndexTree tree = index::read_index_tree([this](PageNumber p) { return db_.read_page(p); }, data.first_page,
                                                         format_.jet4 ? index::Format::Jet4 : index::Format::Jet3,
                                                         t.definition_page);
    std::vector<IndexKeyEntry> entries;
    std::set<RowPointer> seen;
    for (const index::IndexEntry& e : tree.entries) {
      const auto it = moved.find(e.row);
      if (it == moved.end()) continue;  // a deleted row's leftover entry
      if (!seen.insert(e.row).second) throw refuse("it lists a row twice");
      entries.push_back(IndexKeyEntry{e.key, it->second});
    }
    // Every row must be there, except rows an index that ignores nulls leaves out.
    std::size_t expected = 0;
    for (const Record& r : rows) {
      bool all_null = true;
      for (const IndexColumn& c : data.columns) {
        for (std::size_t k = 0; k < t.columns.size(); ++k) {
          if (t.columns[k].number == c.column_number && k < r.values.size() && !r.values[k].is_null) all_null = false;
        }
      }
      if (!(all_null && data.ignores_nulls())) ++expected;
    }
    if (entries.size() != expected) throw refuse("it does not list every row");
    // Equal keys go in row order of the place they point at.
    std::stable_sort(entries.begin(), entries.end(), [](const IndexKeyEntry& a, const IndexKeyEntry& b) {
      return a.key < b.key || (a.key == b.key && a.row < b.row);
    });
    return entries;
  }

  template <typename Rec>
  void rewrite_long_values(TablePlan& plan, std::vector<Rec>& rows) {
    const TableDef& t = plan.def;
    // Columns with their own usage maps get their own pages; the others share.
    std::map<int, LongValueWriter> writers;
    auto writer_for = [&](int group) -> LongValueWriter& {
      auto it = writers.find(group);
      if (it == writers.end()) it = writers.emplace(group, LongValueWriter(format_, [this] { return allocate(); })).first;
      return it->second;
    };
    const auto& mapped = plan.layout.column_map_columns;
    for (Rec& r : rows) {
      const std::vector<RawField> fields = split_row(jet_format_, t, r.raw);
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const Column& c = t.columns[i];
        if (!is_long_value(c.type) || fields[i].null || fields[i].bytes.empty()) continue;
        if (fields[i].bytes.size() < kLongValueHeaderSize) {
          throw Error(errc::kCannotOpenDatabase, "Damaged long value in " + t.name + ".");
        }
        const std::size_t at = offset_in(r.raw, fields[i]);
        const std::uint32_t head = get_u32(r.raw, at);
        if (head & kLongValueFlagInline) continue;  // kept in the row as it is
        const std::uint32_t length = head & kLongValueLengthMask;
        if (length == 0) {
          put_u32(r.raw, at, kLongValueFlagInline);
          put_u32(r.raw, at + 4, 0);
          put_u32(r.raw, at + 8, 0);
          continue;
        }
        const Bytes value = db_.read_long_value(fields[i].bytes);
        if (value.size() != length) throw Error(errc::kCannotOpenDatabase, "Damaged long value in " + t.name + ".");
        const bool own = std::find(mapped.begin(), mapped.end(), c.number) != mapped.end();
        const LongValueReference ref = writer_for(own ? c.number : -1).write(value);
        std::copy(ref.begin(), ref.end(), r.raw.begin() + static_cast<std::ptrdiff_t>(at));
      }
    }
    plan.update.column_owned_maps.clear();
    plan.update.column_free_maps.clear();
    for (auto& [group, writer] : writers) {
      std::vector<FinishedPage> pages = writer.finish();
      if (group >= 0) {
        for (std::size_t k = 0; k < mapped.size(); ++k) {
          if (mapped[k] != group) continue;
          for (const FinishedPage& p : pages) slot(plan, column_slot(plan, k, true)).pages.insert(p.number);
          if (!pages.empty()) slot(plan, column_slot(plan, k, false)).pages.insert(pages.back().number);
        }
      }
      for (FinishedPage& p : pages) sink_.write(p.number, std::move(p.bytes));
    }
  }

  static const IndexData* find_index_data(const TableDef& t, std::uint32_t number) {
    for (const IndexData& d : t.index_data) {
      if (d.number == number) return &d;
    }
    throw Error(errc::kCannotOpenDatabase, "Damaged table definition of " + t.name + ": an index names a missing index.");
  }

  static std::size_t column_position(const TableDef& t, const Column& c) {
    return static_cast<std::size_t>(&c - t.columns.data());
  }

  std::size_t column_slot(const TablePlan& plan, std::size_t record, bool owned) const {
    return 2 + plan.layout.real_index_count + 2 * record + (owned ? 0 : 1);
  }
  MapSlot& slot(const TablePlan& plan, std::size_t i) { return slots_[plan.first_slot + i]; }

  void write_usage_maps() {
    std::map<std::uint32_t, DataPageBuilder> pages;
    for (std::uint32_t p : map_pages_) pages.emplace(p, DataPageBuilder(format_, kMapPageOwner));
    for (MapSlot& s : slots_) {
      Bytes row;
      if (fits_inline_map(format_, s.pages)) {
        row = build_inline_map(format_, s.pages);
      } else {
        std::vector<std::uint32_t> bitmap_pages;
        const std::uint32_t n = reference_map_pages_needed(format_, s.pages);
        for (std::uint32_t i = 0; i < n; ++i) bitmap_pages.push_back(allocate());
        ReferenceMap map = build_reference_map(format_, s.pages, bitmap_pages);
        for (std::uint32_t i = 0; i < n; ++i) sink_.write(bitmap_pages[i], std::move(map.pages[i]));
        row = std::move(map.row);
      }
      DataPageBuilder& page = pages.at(s.page);
      if (page.add(row) != s.row) internal("usage map landed on another slot");
    }
    for (auto& [number, page] : pages) sink_.write(number, page.page());
  }

  void write_definition(TablePlan& plan) {
    TableDefinitionUpdate& u = plan.update;
    u.owned_map = slot(plan, 0).reference();
    u.free_map = slot(plan, 1).reference();
    u.index_maps.clear();
    for (std::uint32_t i = 0; i < plan.layout.real_index_count; ++i) u.index_maps.push_back(slot(plan, 2 + i).reference());
    u.column_owned_maps.clear();
    u.column_free_maps.clear();
    for (std::uint32_t k = 0; k < plan.layout.column_map_count; ++k) {
      u.column_owned_maps.push_back(slot(plan, column_slot(plan, k, true)).reference());
      u.column_free_maps.push_back(slot(plan, column_slot(plan, k, false)).reference());
    }
    const Bytes patched = patch_table_definition(format_, plan.definition, plan.layout, u);
    std::vector<Bytes> pages = split_table_definition(format_, patched, plan.definition_pages);
    for (std::size_t i = 0; i < pages.size(); ++i) sink_.write(plan.definition_pages[i], std::move(pages[i]));
  }

  RewriteSource& db_;
  const JetFormat& jet_format_;
  WriteFormat format_;
  const RewriteOptions& options_;
  PageSink sink_;
  std::uint32_t next_page_ = 0;
  std::vector<TablePlan> plans_;
  std::map<std::uint32_t, std::uint32_t> table_ids_;
  std::set<std::uint32_t> taken_ids_;  // object ids in use that are not table ids
  std::set<std::uint32_t> spare_;
  std::vector<std::uint32_t> map_pages_;
  std::vector<MapSlot> slots_;
  RewriteResult result_;
};

}  // namespace

RewriteResult rewrite_database(RewriteSource& source, WritableFile& out, const RewriteOptions& options) {
  return Rewriter(source, out, options).run();
}

RewriteResult rewrite_database(Database& source, WritableFile& out, const RewriteOptions& options) {
  DatabaseSource adapter(source);
  return rewrite_database(adapter, out, options);
}

}  // namespace jet::write
