#include "engine/salvage/table_salvager.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <functional>
#include <future>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "engine/error.h"
#include "engine/file/file_errors.h"
#include "engine/format/calculated_value.h"
#include "engine/format/damaged.h"
#include "engine/format/data_page.h"
#include "engine/format/property_map.h"
#include "engine/format/row_layout.h"
#include "engine/format/table_definition.h"
#include "engine/format/text_codec.h"
#include "engine/format/usage_map.h"
#include "engine/index/index_findings.h"
#include "engine/index/index_tree_reader.h"
#include "engine/model/access_tables.h"
#include "engine/model/system_catalog.h"
#include "engine/read/database.h"
#include "engine/write/index_rebuild.h"
#include "engine/write/write_format.h"
#include "engine/salvage/catalog_properties.h"
#include "engine/salvage/salvage_damage.h"
#include "engine/salvage/unkeyed_rows.h"

namespace jet::salvage {
namespace {

using system_catalog::kCatalogPage;

class TableSalvager {
 public:
  TableSalvager(Database& db, const PageSurvey& pages, const std::set<PageNumber>& table_pages, LossLog& log,
                bool system, const SalvageOptions& options)
      : db_(db), f_(db.format()), pages_(pages), table_pages_(table_pages), log_(log), system_(system),
        options_(options) {}

  SalvagedTable run(TableDef def) {
    SalvagedTable out;
    out.def = std::move(def);
    t_ = &out.def;
    out_ = &out;
    for (const IndexData& d : t_->index_data) {
      for (const IndexColumn& c : d.columns) keyed_.insert(c.column_number);
    }
    const auto owned_it = pages_.data_pages_by_owner.find(t_->definition_page);
    const std::vector<PageNumber> no_pages;
    const std::vector<PageNumber>& owned = owned_it == pages_.data_pages_by_owner.end() ? no_pages : owned_it->second;

    std::optional<std::vector<PageNumber>> mapped = mapped_pages();
    std::vector<PageNumber> listed;   // pages whose rows count as the table's
    std::vector<PageNumber> unlisted;  // owned pages only the owner field names
    std::vector<PageNumber> freed;     // unlisted ones the database's map marks free
    if (mapped) {
      for (PageNumber p : *mapped) {
        if (std::binary_search(owned.begin(), owned.end(), p)) {
          listed.push_back(p);
        } else if (const std::optional<std::string> why = damage_of_mapped_page(p)) {
          damaged_pages_.emplace_back(p, *why);
        }
      }
      std::vector<PageNumber> mapped_sorted = *mapped;
      std::sort(mapped_sorted.begin(), mapped_sorted.end());
      for (PageNumber p : owned) {
        if (std::binary_search(mapped_sorted.begin(), mapped_sorted.end(), p)) continue;
        (pages_.free.count(p) ? freed : unlisted).push_back(p);
      }
    } else {
      const bool indexed = has_readable_index();
      for (PageNumber p : owned) {
        if (pages_.free.count(p)) {
          freed.push_back(p);
          continue;
        }
        // Which of the owned pages hold the table's rows and which stale
        // copies is then told by an index, where one reads.
        (indexed ? unlisted : listed).push_back(p);
      }
    }

    // The list of rows is the larger part of the memory a big table's
    // repair view takes: sized once from the survey, not grown by doubling.
    out.rows.reserve(surveyed_rows(owned, listed));
    for (PageNumber p : listed) {
      if (!take_surveyed_rows(owned, p)) read_page_rows(p, true);
    }
    for (PageNumber p : unlisted) read_page_rows(p, false);
    for (PageNumber p : freed) read_page_rows(p, false, true);
    place_unlisted_rows();
    set_aside_duplicate_keys();
    take_out_unkeyed_rows(*t_, system_, options_.unkeyed, out, log_);
    log_damaged_pages();
    if (t_->definition_page == kCatalogPage) drop_unparsable_properties(db_, *t_, out, log_);
    return out;
  }

 private:
  // A row that reads, with the values it loses (long values that cannot
  // be read, made NULL) and why.
  struct ReadRow {
    std::optional<Row> repaired;  // every value, when some were made NULL
    std::vector<std::string> losses;
  };

  struct Candidate {
    RowPointer where;
    ReadRow read;
    bool freed = false;  // on a page the database's map marks free
  };

  // The pages the owned-pages map marks; none when the map cannot be read
  // (the pages are then found by their owner field alone).
  std::optional<std::vector<PageNumber>> mapped_pages() {
    std::vector<PageNumber> pages;
    std::size_t beyond = 0;
    const std::optional<std::string> why = damage_of([&] {
      if (t_->owned_map_row.page == 0) damaged("the table names no usage map");
      std::optional<Bytes> map = db_.read_row_bytes(t_->owned_map_row);
      if (!map) damaged("its usage map row is deleted");
      pages = decode_usage_map(
          f_, *map, [this](PageNumber p) { return db_.page(p); }, db_.page_count(), &beyond);
    });
    if (why) {
      log_.add(kLossDamaged, t_->name,
               "The usage map of table " + t_->name + " is damaged (" + *why +
                   "); its pages were found by their owner field and the map rebuilt.");
      return std::nullopt;
    }
    if (beyond > 0) {
      pages_beyond_file_ = beyond;
    }
    return pages;
  }

  // Why a page the map marks holds none of the table's rows: none when it
  // is simply no longer the table's (given up and reused or freed, which
  // Access leaves in the map), else the damage that emptied it.
  std::optional<std::string> damage_of_mapped_page(PageNumber p) {
    std::shared_ptr<const Bytes> page;
    if (const auto why = damage_of([&] { page = db_.page(p); })) return why;
    if (all_zero(*page)) return std::string("the page is all zeros");
    switch ((*page)[0]) {
      case page_type::kData: {
        const bool long_values =
            std::equal(std::begin(kLongValueOwner), std::end(kLongValueOwner), page->begin() + f_.page_owner_offset);
        const PageNumber owner = data_page_owner(f_, *page);
        if (long_values || owner == 0 || table_pages_.count(owner) || owner < db_.page_count()) return std::nullopt;
        return std::string("the page names no table as its owner");
      }
      case page_type::kTableDefinition:
      case page_type::kIndexNode:
      case page_type::kIndexLeaf:
      case page_type::kUsageMap:
      case 0x08:
      case 0x09:
        return std::nullopt;
      default:
        return std::string("the page is of no known type");
    }
  }

  bool has_readable_index() {
    for (const IndexData& d : t_->index_data) {
      if (!damage_of([&] { walk_index(d, [](const index::EntryView&) {}); })) return true;
    }
    return false;
  }

  void walk_index(const IndexData& d, const std::function<void(const index::EntryView&)>& visit) {
    index::walk_index_tree([this](PageNumber p) { return db_.page(p); }, d.first_page,
                           f_.version == JetVersion::Jet4 ? index::Format::Jet4 : index::Format::Jet3,
                           t_->definition_page, visit);
  }

  // Reads every live row of one of the table's pages. Rows of listed pages
  // are the table's; rows of unlisted ones are candidates, placed later.
  // On the quick pass the rows of a listed page are taken as they stand,
  // so the survey's look at the page serves; false when it cannot.
  bool take_surveyed_rows(const std::vector<PageNumber>& owned, PageNumber p) {
    if (options_.check_values) return false;
    const std::optional<std::uint64_t> live = surveyed_slots(owned, p);
    if (!live) return false;
    for (std::uint16_t r = 0; r < kSurveyedSlots; ++r) {
      if (*live & std::uint64_t{1} << r) keep(RowPointer{p, r}, ReadRow{});
    }
    return true;
  }

  // The slots of owned page `p` the survey found live, where it could tell.
  std::optional<std::uint64_t> surveyed_slots(const std::vector<PageNumber>& owned, PageNumber p) const {
    const auto it = pages_.live_slots_by_owner.find(t_->definition_page);
    if (it == pages_.live_slots_by_owner.end()) return std::nullopt;
    const auto at = std::lower_bound(owned.begin(), owned.end(), p) - owned.begin();
    const std::uint64_t live = it->second[static_cast<std::size_t>(at)];
    if (live == kSlotsUnknown) return std::nullopt;
    return live;
  }

  // The live rows the survey counted on `listed` pages.
  std::size_t surveyed_rows(const std::vector<PageNumber>& owned, const std::vector<PageNumber>& listed) const {
    std::size_t rows = 0;
    for (PageNumber p : listed) rows += static_cast<std::size_t>(std::popcount(surveyed_slots(owned, p).value_or(0)));
    return rows;
  }

  void read_page_rows(PageNumber p, bool listed, bool freed = false) {
    std::shared_ptr<const Bytes> page;
    std::uint16_t count = 0;
    if (const auto why = damage_of([&] {
          page = db_.page(p);
          count = data_page_row_count(f_, *page);
        })) {
      // A page the map leaves out is not known to hold the table's rows.
      if (listed) damaged_pages_.emplace_back(p, *why);
      return;
    }
    for (std::uint16_t r = 0; r < count; ++r) {
      const RowPointer where{p, r};
      RowSlot slot;
      if (const auto why = damage_of([&] { slot = data_page_slot(f_, *page, r); })) {
        if (listed) lost_row(where, "its place on the page is impossible (" + *why + ")");
        continue;
      }
      if (slot.deleted) continue;
      if (listed && !options_.check_values) {
        keep(where, ReadRow{});  // the copy reads it, and fails on damage
        continue;
      }
      std::optional<Bytes> bytes;
      if (const auto why = damage_of([&] { bytes = db_.read_row_bytes(where); })) {
        if (listed) lost_row(where, "it could not be read (" + *why + ")");
        continue;
      }
      if (!bytes) continue;
      ReadRow read;
      if (const auto why = damage_of([&] { read = check_row(where, *bytes); })) {
        if (listed) lost_row(where, "its columns cannot be told apart (" + *why + ")");
        continue;
      }
      if (listed) {
        keep(where, std::move(read));
      } else {
        candidates_.push_back(Candidate{where, std::move(read), freed});
      }
    }
  }

  void keep(RowPointer where, ReadRow read) {
    out_->rows.push_back(where);
    note(where, std::move(read));
  }

  void note(RowPointer where, ReadRow read) {
    if (read.repaired) out_->repaired.emplace(where, std::move(*read.repaired));
    for (std::string& loss : read.losses) log_.add(kLossDamaged, t_->name, std::move(loss), where);
  }

  // Checks that every value of a row decodes.
  ReadRow check_row(RowPointer where, const Bytes& bytes) {
    const std::vector<RawField> fields = split_row(f_, *t_, bytes);
    std::vector<std::size_t> broken;
    ReadRow out;
    const auto no_long_value = [](std::span<const std::uint8_t>) -> Bytes {
      damaged("a long value where none belongs");
    };
    const auto long_value = [this](std::span<const std::uint8_t> field) { return db_.read_long_value(field); };
    // What the copy needs of a value: numbers as long as their type, long
    // values that resolve, and values an index keys on that decode (the
    // rest is copied as stored).
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const Column& c = t_->columns[i];
      if (fields[i].null) continue;
      const bool keyed = keyed_.count(c.number) != 0;
      if (!is_long_value(c.type)) {
        if ((keyed && options_.check_values) || has_typed_size(c.type)) {
          decode_field(f_, c, fields[i], db_.header().code_page, no_long_value);
        }
        if (options_.check_values && c.type == ColumnType::Text) {
          damage_of([&] { note_invalid_text(where, c, decode_field(f_, c, fields[i], db_.header().code_page, no_long_value), out); });
        }
        continue;
      }
      if (!options_.check_values) continue;
      const auto why = damage_of([&] {
        if (keyed) {
          decode_field(f_, c, fields[i], db_.header().code_page, long_value);
        } else {
          db_.read_long_value(fields[i].bytes);
        }
      });
      if (!why && c.type == ColumnType::Memo) {
        damage_of([&] { note_invalid_text(where, c, decode_field(f_, c, fields[i], db_.header().code_page, long_value), out); });
      }
      if (!why) continue;
      broken.push_back(i);
      out.losses.push_back(std::string(c.type == ColumnType::Memo ? "Memo " : "OLE object ") + c.name +
                           " of the row at page " + std::to_string(where.page) + ", slot " +
                           std::to_string(where.row) + " of table " + t_->name + " was lost (" + *why +
                           "); the row was kept with it empty (Null).");
    }
    if (broken.empty()) return out;
    Row values(t_->columns.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      values[i].type = t_->columns[i].type;
      if (std::find(broken.begin(), broken.end(), i) != broken.end()) continue;
      values[i] = decode_field(f_, t_->columns[i], fields[i], db_.header().code_page, long_value);
    }
    out.repaired = std::move(values);
    return out;
  }

  // Text that is not valid UTF-16 (a half of a surrogate pair alone) is
  // kept as stored, since it may be what was written, but a damaged file's
  // text of that kind is more likely garbage: logged for the user to look at.
  void note_invalid_text(RowPointer where, const Column& c, const Value& v, ReadRow& out) {
    const std::u16string& text = v.text;
    for (std::size_t k = 0; k < text.size(); ++k) {
      const bool high = text[k] >= 0xD800 && text[k] <= 0xDBFF;
      const bool low = text[k] >= 0xDC00 && text[k] <= 0xDFFF;
      const bool paired = high && k + 1 < text.size() && text[k + 1] >= 0xDC00 && text[k + 1] <= 0xDFFF;
      if (paired) {
        ++k;
        continue;
      }
      if (!high && !low) continue;
      out.losses.push_back("Text " + c.name + " of the row at page " + std::to_string(where.page) + ", slot " +
                           std::to_string(where.row) + " of table " + t_->name +
                           " is not valid text (a lone half of a surrogate pair); it was kept as stored.");
      return;
    }
  }

  void lost_row(RowPointer where, const std::string& why) {
    log_.add(kLossDamaged, t_->name,
             "The row at page " + std::to_string(where.page) + ", slot " + std::to_string(where.row) + " of table " +
                 t_->name + " was lost: " + why + ".",
             where);
  }

  // Rows found only on pages the map leaves out come back when an index of
  // the table points at them; those that merely copy a row of the table are
  // stale leftovers; the rest are set aside (user tables) or left out
  // (system tables, whose leftovers the check notes).
  void place_unlisted_rows() {
    if (candidates_.empty()) return;
    std::set<RowPointer> wanted;
    for (const Candidate& c : candidates_) wanted.insert(c.where);
    std::set<RowPointer> pointed;
    for (const IndexData& d : t_->index_data) {
      damage_of([&] {
        walk_index(d, [&](const index::EntryView& e) {
          if (wanted.count(e.row)) pointed.insert(e.row);
        });
      });
    }
    std::unordered_multimap<std::size_t, RowPointer> kept_by_hash;
    for (const Candidate& c : candidates_) {
      if (pointed.count(c.where)) continue;
      if (kept_by_hash.empty()) {
        for (RowPointer r : out_->rows) {
          if (const auto bytes = read_quietly(r)) kept_by_hash.emplace(hash_of(*bytes), r);
        }
      }
      break;
    }
    std::size_t set_aside = 0;
    for (Candidate& c : candidates_) {
      if (pointed.count(c.where)) {
        keep(c.where, std::move(c.read));
        continue;
      }
      // The old rows of a page Access gave up and freed are leftovers
      // unless an index still points at them.
      if (c.freed) continue;
      const std::optional<Bytes> bytes = read_quietly(c.where);
      if (!bytes || copies_a_kept_row(kept_by_hash, *bytes)) continue;
      if (system_ || t_->is_system()) continue;
      out_->set_aside.push_back(c.where);
      note(c.where, std::move(c.read));
      ++set_aside;
    }
    std::sort(out_->rows.begin(), out_->rows.end());
    if (set_aside > 0) {
      log_.add(kLossSetAside, t_->name,
               rows_text(set_aside) + " of table " + t_->name +
                   " found only on pages its usage map leaves out, with no index entry pointing there," +
                   were(set_aside) + " put into table " + t_->name + "_Recovered for you to check.");
    }
  }

  // A unique index (the primary key included) must not list two rows under
  // one key, or the copy would break it. The first row in key order (equal
  // keys: in row order, as the index lists them) stays; the others are set
  // aside like rows no structure places, or left out of a system table.
  void set_aside_duplicate_keys() {
    if (!options_.check_values) return;
    const write::WriteFormat format = write::WriteFormat::for_version(f_.version == JetVersion::Jet4);
    for (const IndexData& d : t_->index_data) {
      if (!index::detail::must_be_unique(*t_, d)) continue;
      std::optional<write::IndexKeys> keys;
      try {
        keys.emplace(format, *t_, d);
      } catch (const Error& e) {
        if (is_environment_fault(e)) throw;
        continue;  // keys we cannot form: the index is carried over as stored
      }
      // (hash of the key, row), then the rows of equal hashes compared key
      // by key; only a hash and a place are kept per row.
      std::vector<std::pair<std::size_t, RowPointer>> hashed;
      Bytes key;
      for (RowPointer r : out_->rows) {
        if (key_of(*keys, d, r, key)) hashed.emplace_back(hash_of(key), r);
      }
      std::sort(hashed.begin(), hashed.end());
      std::set<RowPointer> repeats;
      std::vector<std::pair<RowPointer, RowPointer>> found;  // (kept, repeat)
      for (std::size_t i = 0; i < hashed.size();) {
        std::size_t end = i;
        while (end < hashed.size() && hashed[end].first == hashed[i].first) ++end;
        for (std::size_t a = i; a < end && end - i > 1; ++a) {
          if (repeats.count(hashed[a].second)) continue;
          Bytes first;
          key_of(*keys, d, hashed[a].second, first);
          for (std::size_t b = a + 1; b < end; ++b) {
            if (repeats.count(hashed[b].second) || !key_of(*keys, d, hashed[b].second, key) || key != first) continue;
            repeats.insert(hashed[b].second);
            found.emplace_back(hashed[a].second, hashed[b].second);
          }
        }
        i = end;
      }
      if (repeats.empty()) continue;
      std::erase_if(out_->rows, [&](RowPointer r) { return repeats.count(r) != 0; });
      const std::string name = index_name(d);
      for (const auto& [kept, repeat] : found) {
        const std::string fate = system_ || t_->is_system() ? "it was left out"
                                                             : "it was put into table " + t_->name + "_Recovered";
        log_.add(kLossDuplicate, t_->name,
                 "The row at page " + std::to_string(repeat.page) + ", slot " + std::to_string(repeat.row) +
                     " of table " + t_->name + " repeats the key that unique index " + name +
                     " holds for the row at page " + std::to_string(kept.page) + ", slot " + std::to_string(kept.row) +
                     "; " + fate + ".",
                 repeat);
        if (!(system_ || t_->is_system())) out_->set_aside.push_back(repeat);
      }
      std::sort(out_->set_aside.begin(), out_->set_aside.end());
    }
  }

  // The row's key in an index; false when the index leaves it out (or the
  // key is all NULL, which a unique index may repeat).
  bool key_of(const write::IndexKeys& keys, const IndexData& d, RowPointer r, Bytes& key) {
    Row values;
    const auto it = out_->repaired.find(r);
    if (it != out_->repaired.end()) {
      values = it->second;
    } else {
      const std::optional<Bytes> bytes = read_quietly(r);
      if (!bytes) return false;
      bool long_key = false;
      for (const IndexColumn& c : d.columns) {
        for (const Column& col : t_->columns) long_key = long_key || (col.number == c.column_number && is_long_value(col.type));
      }
      if (damage_of([&] { values = long_key ? db_.decode_row(*t_, *bytes) : values_without_long_ones(db_, *t_, *bytes); })) {
        return false;
      }
    }
    try {
      if (!keys.key_into(values, key)) return false;
    } catch (const Error& e) {
      if (is_environment_fault(e)) throw;
      return false;  // a value our encoder cannot key: not compared
    }
    return !index::detail::all_null_key(key, d.columns.size());
  }

  // The name a person knows the index by: the primary key's, else one
  // Access shows (names of relationships' own indexes start with a dot).
  std::string index_name(const IndexData& d) const {
    const Index* best = nullptr;
    for (const Index& i : t_->indexes) {
      if (i.index_data != d.number) continue;
      const auto rank = [](const Index& x) { return x.is_primary_key() ? 0 : x.name.starts_with(".") ? 2 : 1; };
      if (best == nullptr || rank(i) < rank(*best)) best = &i;
    }
    return best != nullptr ? best->name : std::to_string(d.number);
  }

  std::optional<Bytes> read_quietly(RowPointer r) {
    std::optional<Bytes> bytes;
    if (damage_of([&] { bytes = db_.read_row_bytes(r); })) return std::nullopt;
    return bytes;
  }

  static std::size_t hash_of(const Bytes& b) {
    return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
  }

  bool copies_a_kept_row(const std::unordered_multimap<std::size_t, RowPointer>& kept, const Bytes& bytes) {
    const auto [from, to] = kept.equal_range(hash_of(bytes));
    for (auto it = from; it != to; ++it) {
      if (read_quietly(it->second) == bytes) return true;
    }
    return false;
  }

  // One entry per damaged page (and one for pages past the end of a file
  // cut short), with the number of rows lost where the indexes tell it.
  void log_damaged_pages() {
    if (damaged_pages_.empty() && pages_beyond_file_ == 0) return;
    std::map<PageNumber, std::size_t> pointed_per_page;
    std::size_t pointed_beyond = 0;
    for (const IndexData& d : t_->index_data) {
      std::map<PageNumber, std::size_t> counts;
      std::size_t beyond = 0;
      const bool read = !damage_of([&] {
        walk_index(d, [&](const index::EntryView& e) {
          if (e.row.page >= db_.page_count()) ++beyond;
          for (const auto& [p, why] : damaged_pages_) {
            if (p == e.row.page) ++counts[p];
          }
        });
      });
      if (!read) continue;
      for (const auto& [p, n] : counts) pointed_per_page[p] = std::max(pointed_per_page[p], n);
      pointed_beyond = std::max(pointed_beyond, beyond);
    }
    for (const auto& [p, why] : damaged_pages_) {
      const auto it = pointed_per_page.find(p);
      const std::size_t n = it != pointed_per_page.end() ? it->second : 0;
      const std::string what = n > 0 ? rows_text(n) + " of table " + t_->name : "The rows of table " + t_->name;
      log_.add(kLossDamaged, t_->name,
               what + " on damaged page " + std::to_string(p) + (n == 1 ? " was" : " were") + " lost (" + why + ").",
               RowPointer{p, 0});
    }
    if (pages_beyond_file_ > 0) {
      const std::string what =
          pointed_beyond > 0 ? rows_text(pointed_beyond) + " of table " + t_->name : "The rows of table " + t_->name;
      log_.add(kLossDamaged, t_->name,
               what + " on " + std::to_string(pages_beyond_file_) + " page(s) past the end of the file" +
                   (pointed_beyond == 1 ? " was" : " were") + " lost (the file was cut short).");
    }
  }

  Database& db_;
  const JetFormat& f_;
  const PageSurvey& pages_;
  const std::set<PageNumber>& table_pages_;
  LossLog& log_;
  const bool system_;  // the engine's own table: its leftovers are not set aside
  const SalvageOptions options_;
  TableDef* t_ = nullptr;
  SalvagedTable* out_ = nullptr;
  std::set<std::uint16_t> keyed_;  // column numbers some index keys on
  std::vector<std::pair<PageNumber, std::string>> damaged_pages_;
  std::size_t pages_beyond_file_ = 0;
  std::vector<Candidate> candidates_;
};

}  // namespace

SalvagedTable salvage_table(Database& db, const PageSurvey& pages, const std::set<PageNumber>& table_pages,
                            LossLog& log, bool system, const SalvageOptions& options, TableDef def) {
  return TableSalvager(db, pages, table_pages, log, system, options).run(std::move(def));
}

}  // namespace jet::salvage
