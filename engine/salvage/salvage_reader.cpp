#include "engine/salvage/salvage_reader.h"

#include <algorithm>
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

namespace jet::salvage {

std::uint32_t record_id(RowPointer row) { return (row.page << 8) | (row.row & 0xFFu); }

namespace {

using system_catalog::kCatalogPage;
constexpr std::uint8_t kLongValueOwner[4] = {'L', 'V', 'A', 'L'};

// Runs `body`; any sign of damage comes back as its description.
template <typename Body>
std::optional<std::string> damage_of(Body&& body) {
  try {
    body();
    return std::nullopt;
  } catch (const DamagedData& e) {
    return std::string(e.what());
  } catch (const Error& e) {
    if (is_environment_fault(e)) throw;
    // The damaged-file error keeps where the reader gave up in its source.
    const std::string& source = e.source();
    const std::size_t open = source.find(" (");
    if (e.number() == errc::kCannotOpenDatabase && open != std::string::npos && source.back() == ')') {
      return source.substr(open + 2, source.size() - open - 3);
    }
    return e.description();
  } catch (const std::length_error& e) {
    return std::string(e.what());
  } catch (const std::bad_alloc&) {
    return std::string("a stored length is too large");
  }
}

std::string rows_text(std::size_t n) { return std::to_string(n) + (n == 1 ? " row" : " rows"); }
std::string were(std::size_t n) { return n == 1 ? " was" : " were"; }

bool all_zero(const Bytes& page) {
  return std::all_of(page.begin(), page.end(), [](std::uint8_t b) { return b == 0; });
}

// The live slots of a data page as the survey found them: bit i for slot
// i, for pages of at most kSurveyedSlots slots that all have a possible
// place; kSlotsUnknown for any other page, whose slots are read again.
constexpr std::uint16_t kSurveyedSlots = 63;
constexpr std::uint64_t kSlotsUnknown = std::uint64_t{1} << 63;

// What one pass over every page of the file tells about data pages.
struct PageSurvey {
  std::map<PageNumber, std::vector<PageNumber>> data_pages_by_owner;
  // The same pages' live slots, entry for entry.
  std::map<PageNumber, std::vector<std::uint64_t>> live_slots_by_owner;
  // Pages the database's own map (row 0 of page 1) marks free: their rows
  // are old ones, given up with the page.
  std::set<PageNumber> free;
  // Table-definition pages, and those another definition page continues
  // onto (the rest start a definition).
  std::vector<PageNumber> definition_pages;
  std::set<PageNumber> continuations;
};

// So that rows of pages the usage map lists need not be read twice when
// their values are left to the copy.
std::uint64_t live_slots(const JetFormat& f, std::span<const std::uint8_t> page) {
  std::uint64_t live = 0;
  const bool readable = !damage_of([&] {
    const std::uint16_t count = data_page_row_count(f, page);
    if (count > kSurveyedSlots) {
      live = kSlotsUnknown;
      return;
    }
    for (std::uint16_t r = 0; r < count; ++r) {
      if (!data_page_slot(f, page, r).deleted) live |= std::uint64_t{1} << r;
    }
  });
  return readable ? live : kSlotsUnknown;
}

void survey_page(const JetFormat& f, PageNumber p, std::span<const std::uint8_t> page, PageSurvey& s) {
  if (page[0] == page_type::kTableDefinition) {
    s.definition_pages.push_back(p);
    s.continuations.insert(get_u32(page, 4));
  }
  if (page[0] != page_type::kData) return;
  if (std::equal(std::begin(kLongValueOwner), std::end(kLongValueOwner), page.begin() + f.page_owner_offset)) return;
  const PageNumber owner = data_page_owner(f, page);
  s.data_pages_by_owner[owner].push_back(p);
  s.live_slots_by_owner[owner].push_back(live_slots(f, page));
}

// Pages the survey reads at once (256 KB of Jet 4 pages), past the cache:
// it looks at each page once.
constexpr std::uint32_t kSurveyRun = 64;
// What the survey reads of a page: its type, owner or continuation, row
// count and the slots of up to kSurveyedSlots rows, all in the first 142
// bytes. Encrypted pages are decrypted this far only.
constexpr std::uint32_t kSurveyedHead = 256;
static_assert(14 + 2 * kSurveyedSlots <= kSurveyedHead);

void survey_range(Database& db, PageNumber from, PageNumber to, PageSurvey& s) {
  const JetFormat& f = db.format();
  Bytes run;
  for (PageNumber first = from; first < to; first += kSurveyRun) {
    const std::uint32_t count = std::min(kSurveyRun, to - first);
    if (damage_of([&] { db.read_pages(first, count, run, kSurveyedHead); })) {
      // Read one by one, so that only the pages that cannot be read are missed.
      for (PageNumber p = first; p < first + count; ++p) {
        std::shared_ptr<const Bytes> page;
        if (!damage_of([&] { page = db.page(p); })) survey_page(f, p, *page, s);
      }
      continue;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      survey_page(f, first + i, std::span<const std::uint8_t>(run.data() + std::size_t{i} * f.page_size, f.page_size), s);
    }
  }
}

// Files of this many pages and more are surveyed in two halves at once.
constexpr PageNumber kSurveyInHalvesFrom = 256;

PageSurvey survey_pages(Database& db) {
  PageSurvey s;
  const PageNumber count = db.page_count();
  if (count < kSurveyInHalvesFrom) {
    survey_range(db, 1, count, s);
  } else {
    // The second half on a handle of its own; its findings follow the
    // first half's, so every list stays in page order.
    const PageNumber middle = count / 2;
    std::unique_ptr<Database> sibling = db.open_sibling();
    PageSurvey later;
    std::future<void> second = std::async(std::launch::async, [&] { survey_range(*sibling, middle, count, later); });
    survey_range(db, 1, middle, s);
    second.get();
    s.definition_pages.insert(s.definition_pages.end(), later.definition_pages.begin(), later.definition_pages.end());
    s.continuations.merge(later.continuations);
    for (auto& [owner, pages] : later.data_pages_by_owner) {
      std::vector<PageNumber>& into = s.data_pages_by_owner[owner];
      into.insert(into.end(), pages.begin(), pages.end());
      std::vector<std::uint64_t>& live = s.live_slots_by_owner[owner];
      const std::vector<std::uint64_t>& more = later.live_slots_by_owner[owner];
      live.insert(live.end(), more.begin(), more.end());
    }
  }
  damage_of([&] {
    if (const std::optional<Bytes> map = db.read_row_bytes({1, 0})) {
      for (PageNumber p : db.usage_map_pages(*map)) s.free.insert(p);
    }
  });
  return s;
}

// One catalog row as far as finding tables needs it.
struct CatalogRow {
  RowPointer where;
  std::int32_t id = 0;
  std::int32_t parent_id = 0;
  std::string name;
  std::int16_t type = 0;
  std::uint32_t flags = 0;
  Bytes properties;  // LvProp, empty when its long value is lost
};

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

    for (PageNumber p : listed) {
      if (!take_surveyed_rows(owned, p)) read_page_rows(p, true);
    }
    for (PageNumber p : unlisted) read_page_rows(p, false);
    for (PageNumber p : freed) read_page_rows(p, false, true);
    place_unlisted_rows();
    set_aside_duplicate_keys();
    log_damaged_pages();
    if (t_->definition_page == kCatalogPage) drop_unparsable_properties();
    return out;
  }

 private:
  // A catalog row's property blob (LvProp) that reads but does not parse as
  // properties is garbage to every reader: the outside ones refuse the
  // table or the whole file over it. The copy gets none for that object
  // (Access then applies its defaults), logged. The catalog is small, so
  // this runs on the quick pass too, where values are otherwise not read.
  void drop_unparsable_properties() {
    const Column* column = t_->find_column("LvProp");
    if (column == nullptr || !is_long_value(column->type)) return;
    const auto at = static_cast<std::size_t>(column - t_->columns.data());
    const auto long_value = [this](std::span<const std::uint8_t> field) { return db_.read_long_value(field); };
    for (RowPointer where : out_->rows) {
      if (out_->repaired.count(where)) continue;
      damage_of([&] {
        const std::optional<Bytes> bytes = db_.read_row_bytes(where);
        if (!bytes) return;
        const std::vector<RawField> fields = split_row(f_, *t_, *bytes);
        if (at >= fields.size() || fields[at].null) return;
        const Bytes blob = db_.read_long_value(fields[at].bytes);
        if (!damage_of([&] { check_property_blob(blob); })) return;
        Row values(t_->columns.size());
        for (std::size_t i = 0; i < fields.size(); ++i) {
          values[i].type = t_->columns[i].type;
          if (i != at) values[i] = decode_field(f_, t_->columns[i], fields[i], db_.header().code_page, long_value);
        }
        const std::size_t name_at = t_->find_column("Name") != nullptr
                                        ? static_cast<std::size_t>(t_->find_column("Name") - t_->columns.data())
                                        : fields.size();
        const std::string object = name_at < values.size() ? utf16_to_utf8(values[name_at].text) : "";
        log_.add(kLossDamaged, t_->name,
                 "The properties of '" + object + "' (catalog row at page " + std::to_string(where.page) +
                     ", slot " + std::to_string(where.row) + ") do not read as properties; the copy has none for it.",
                 where);
        out_->repaired.emplace(where, std::move(values));
      });
    }
  }

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
    const auto it = pages_.live_slots_by_owner.find(t_->definition_page);
    if (it == pages_.live_slots_by_owner.end()) return false;
    const auto at = std::lower_bound(owned.begin(), owned.end(), p) - owned.begin();
    const std::uint64_t live = it->second[static_cast<std::size_t>(at)];
    if (live == kSlotsUnknown) return false;
    for (std::uint16_t r = 0; r < kSurveyedSlots; ++r) {
      if (live & std::uint64_t{1} << r) keep(RowPointer{p, r}, ReadRow{});
    }
    return true;
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

// A table's definition and usage-map rows, read without trusting the maps
// (the strict reader's table_at refuses a table whose map row is gone).
// `properties` (the catalog row's LvProp) give calculated columns their
// result types; without them, or when they are damaged, the columns keep
// their descriptors' types.
TableDef read_definition(Database& db, PageNumber first, const std::string& name, const Bytes& properties = {}) {
  const JetFormat& f = db.format();
  std::vector<PageNumber> chain;
  const Bytes joined =
      join_table_definition(f, [&db](PageNumber p) { return db.page(p); }, first, db.page_count(), &chain);
  TableDef t = parse_table_definition(f, joined, db.header().code_page);
  if (const std::optional<std::string> why = column_placement_fault(t)) damaged(*why);
  t.name = name;
  t.definition_page = first;
  t.definition_pages = std::move(chain);
  if (!properties.empty()) damage_of([&] { apply_calculated_result_types(t, parse_property_maps(properties)); });
  for (const auto& slot : {std::pair{t.owned_map_row, &t.usage_map_owned}, std::pair{t.free_map_row, &t.usage_map_free}}) {
    if (slot.first.page == 0) continue;
    damage_of([&] {
      if (auto bytes = db.read_row_bytes(slot.first)) *slot.second = std::move(*bytes);
    });
  }
  return t;
}

// The columns every catalog has and the copy's readers look objects up by.
// A catalog definition that lost one of them cannot name any table: that
// is the one damage the repair gives up on.
void require_catalog_columns(const TableDef& catalog) {
  const std::pair<const char*, ColumnType> needed[] = {{"Id", ColumnType::Long},
                                                       {"ParentId", ColumnType::Long},
                                                       {"Name", ColumnType::Text},
                                                       {"Type", ColumnType::Integer},
                                                       {"Flags", ColumnType::Long}};
  for (const auto& [name, type] : needed) {
    const Column* c = catalog.find_column(name);
    if (c == nullptr || c->type != type) {
      throw Error(errc::kCannotOpenDatabase,
                  std::string("The database cannot be repaired: the definition of its catalog (MSysObjects, page 2) "
                              "is damaged (column ") + name + " is missing or of the wrong type).");
    }
  }
}

// Object names are compared without regard to case, as Access does for
// the ASCII names of its own tables.
bool same_name(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<CatalogRow> catalog_row(Database& db, const TableDef& catalog, RowPointer where) {
  CatalogRow out;
  out.where = where;
  const std::optional<std::string> why = damage_of([&] {
    const std::optional<Bytes> bytes = db.read_row_bytes(where);
    if (!bytes) damaged("deleted");
    const Row row = values_without_long_ones(db, catalog, *bytes);
    for (std::size_t i = 0; i < catalog.columns.size(); ++i) {
      const std::string& c = catalog.columns[i].name;
      const Value& v = row[i];
      if (c == "Id") out.id = static_cast<std::int32_t>(v.integer);
      if (c == "ParentId") out.parent_id = static_cast<std::int32_t>(v.integer);
      if (c == "Name") out.name = utf16_to_utf8(v.text);
      if (c == "Type") out.type = static_cast<std::int16_t>(v.integer);
      if (c == "Flags") out.flags = static_cast<std::uint32_t>(v.integer);
    }
    const std::vector<RawField> fields = split_row(db.format(), catalog, *bytes);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (catalog.columns[i].name != "LvProp" || fields[i].null || !is_long_value(catalog.columns[i].type)) continue;
      damage_of([&] { out.properties = db.read_long_value(fields[i].bytes); });
    }
  });
  if (why) return std::nullopt;
  return out;
}

// The object ids the permissions table (MSysACEs) holds rows for, as far as
// its rows can be read.
std::set<std::int32_t> ids_with_permissions(Database& db, const std::vector<SalvagedTable>& tables) {
  std::set<std::int32_t> out;
  for (const SalvagedTable& t : tables) {
    if (system_catalog::engine_table_name(t.def) != std::optional<std::string>("MSysACEs")) continue;
    const Column* object = t.def.find_column("ObjectId");
    if (object == nullptr) continue;
    const auto at = static_cast<std::size_t>(object - t.def.columns.data());
    for (RowPointer where : t.rows) {
      damage_of([&] {
        if (const std::optional<Bytes> bytes = db.read_row_bytes(where)) {
          const Row row = values_without_long_ones(db, t.def, *bytes);
          if (!row[at].is_null) out.insert(static_cast<std::int32_t>(row[at].integer));
        }
      });
    }
  }
  return out;
}

// Table definitions that no catalog row names (the row was lost with a
// damaged catalog page): each comes back as Recovered_Table_<page>, since
// the name lived only in the catalog, with its rows or, when it has none,
// empty (its design is the user's work too).
// The engine's and Access's own tables are the exception: their design
// tells their name, and the copy needs them under it (one of them under
// another name would be a table of the user's). An engine table whose
// design is not known, or one whose name another table already has, is
// left out (logged).
// Definitions of deleted tables mostly sit on pages the database's map
// marks free, but not always: real files keep some on pages still marked
// used. Such a leftover holds no rows, so an empty definition is taken for
// a table only when the permissions (MSysACEs) still list its id and no
// catalog row of another object holds that id.
void recover_unnamed_tables(Database& db, const PageSurvey& pages, std::set<PageNumber>& table_pages,
                            const std::set<PageNumber>& named, const std::set<std::int32_t>& catalog_ids,
                            std::set<std::string>& names, SalvagedDatabase& out, const SalvageOptions& options) {
  // Empty ones wait until the permissions table is found, which may itself
  // be among the definitions found here.
  struct Empty {
    PageNumber page;
    SalvagedTable table;
    LossLog log;
  };
  std::vector<Empty> empty;
  for (PageNumber p : pages.definition_pages) {
    if (named.count(p) || pages.continuations.count(p) || pages.free.count(p)) continue;
    std::optional<TableDef> def;
    const std::string name = "Recovered_Table_" + std::to_string(p);
    if (damage_of([&] { def = read_definition(db, p, name); })) continue;  // a fragment: nothing to go on
    if (def->is_system()) {
      const std::optional<std::string> engine_name = system_catalog::engine_table_name(*def);
      if (!engine_name || names.count(*engine_name)) {
        out.log.add(kLossDamaged, def->name,
                    "A system table at page " + std::to_string(p) + " that no catalog row names was left out" +
                        (engine_name ? " (the catalog names another " + *engine_name + ")." : "."));
        continue;
      }
      def->name = *engine_name;
      names.insert(*engine_name);
      table_pages.insert(p);
      SalvagedTable t = TableSalvager(db, pages, table_pages, out.log, true, options).run(std::move(*def));
      t.named_by_catalog = false;
      out.tables.push_back(std::move(t));
      continue;
    }
    if (const std::optional<system_catalog::AccessTable> access = system_catalog::access_table_by_design(*def)) {
      if (names.count(access->name)) {
        out.log.add(kLossDamaged, def->name,
                    "A table at page " + std::to_string(p) + " that no catalog row names has the design of " +
                        access->name + ", which the catalog names at another page; it was left out.");
        continue;
      }
      def->name = access->name;
      names.insert(access->name);
      table_pages.insert(p);
      SalvagedTable t = TableSalvager(db, pages, table_pages, out.log, false, options).run(std::move(*def));
      t.named_by_catalog = false;
      t.access_flags = access->flags;
      out.log.add(kLossDamaged, access->name,
                  "The catalog row of " + access->name + " (page " + std::to_string(p) +
                      ") was lost; the table was given back under its name, known by its design.");
      out.tables.push_back(std::move(t));
      continue;
    }
    table_pages.insert(p);
    LossLog log;
    SalvagedTable t = TableSalvager(db, pages, table_pages, log, false, options).run(std::move(*def));
    if (t.rows.empty() && t.set_aside.empty()) {
      empty.push_back(Empty{p, std::move(t), std::move(log)});
      continue;
    }
    out.log.add(kLossSetAside, name,
                "The definition of a table at page " + std::to_string(p) + " is named by no catalog row; its " +
                    rows_text(t.rows.size()) + were(t.rows.size()) + " put into table " + name +
                    " for you to check and rename.");
    for (const Loss& loss : log.entries()) out.log.add(loss.code, loss.table, loss.description, loss.row);
    t.named_by_catalog = false;
    out.tables.push_back(std::move(t));
  }
  const std::set<std::int32_t> permitted = ids_with_permissions(db, out.tables);
  for (Empty& e : empty) {
    const auto id = static_cast<std::int32_t>(e.page);
    if (permitted.count(id) == 0 || catalog_ids.count(id) != 0) {
      table_pages.erase(e.page);
      continue;
    }
    out.log.add(kLossSetAside, e.table.def.name,
                "The definition of a table at page " + std::to_string(e.page) +
                    " is named by no catalog row and holds no rows; its design was kept as table " +
                    e.table.def.name + " for you to check and rename.");
    for (const Loss& loss : e.log.entries()) out.log.add(loss.code, loss.table, loss.description, loss.row);
    e.table.named_by_catalog = false;
    out.tables.push_back(std::move(e.table));
  }
}

// A table found by its definition alone gets a catalog row of its own, with
// its page for id and, under the Tables container, its name. A kept row
// that claims either (one whose type was damaged, so it named no table) is
// damage: kept, it would clash with the new row in the unique indexes on
// Id and on the name.
void drop_rows_claiming_found_tables(const std::vector<CatalogRow>& entries, SalvagedDatabase& out) {
  for (const SalvagedTable& t : out.tables) {
    if (t.named_by_catalog || t.def.definition_page == kCatalogPage) continue;
    const auto id = static_cast<std::int32_t>(t.def.definition_page);
    for (const CatalogRow& e : entries) {
      if (out.dropped_catalog_rows.count(e.where)) continue;
      const bool its_id = e.id == id;
      const bool its_name = e.parent_id == system_catalog::kTablesContainerId && same_name(e.name, t.def.name);
      if (!its_id && !its_name) continue;
      out.log.add(kLossDamaged, "MSysObjects",
                  "A catalog row of type " + std::to_string(e.type) + " named '" + e.name + "' with id " +
                      std::to_string(e.id) + " was left out: it claims the " + (its_id ? "id" : "name") +
                      " of table " + t.def.name + " (page " + std::to_string(t.def.definition_page) +
                      "), which no sound catalog row names, so it is damaged.",
                  e.where);
      out.dropped_catalog_rows.insert(e.where);
    }
  }
}

}  // namespace

Row values_without_long_ones(Database& db, const TableDef& table, std::span<const std::uint8_t> bytes) {
  const std::vector<RawField> fields = split_row(db.format(), table, bytes);
  Row row(table.columns.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    row[i].type = table.columns[i].type;
    if (is_long_value(table.columns[i].type)) continue;
    row[i] = decode_field(db.format(), table.columns[i], fields[i], db.header().code_page,
                          [](std::span<const std::uint8_t>) -> Bytes { damaged("a long value where none belongs"); });
  }
  return row;
}

SalvagedDatabase salvage_database(Database& db, const SalvageOptions& options) {
  SalvagedDatabase out;
  const PageSurvey pages = survey_pages(db);
  TableDef catalog_def;
  try {
    catalog_def = read_definition(db, kCatalogPage, "MSysObjects");
  } catch (const DamagedData& e) {
    throw Error(errc::kCannotOpenDatabase,
                std::string("The database cannot be repaired: the definition of its catalog (MSysObjects, page 2) "
                            "is damaged (") + e.what() + ").");
  }
  require_catalog_columns(catalog_def);

  // Table ids the catalog names: pages a reused data page may name as owner.
  std::set<PageNumber> table_pages{kCatalogPage};
  SalvagedTable catalog = TableSalvager(db, pages, table_pages, out.log, true, options).run(catalog_def);
  std::vector<CatalogRow> entries;
  for (RowPointer where : catalog.rows) {
    if (auto e = catalog_row(db, catalog.def, where)) {
      entries.push_back(*e);
      if (e->type == object_type::kTable) table_pages.insert(static_cast<PageNumber>(e->id) & 0x00FFFFFFu);
    }
  }
  // The catalog lists itself; where that row was lost the copy gets it back,
  // or the new file would hold a catalog no reader can find by name.
  // Its id is its page. A row that claims that id or the catalog's name but
  // is not the catalog's own row is damage: kept, it would clash with the
  // catalog's row in the unique indexes on Id and on the name.
  catalog.named_by_catalog = false;
  for (const CatalogRow& e : entries) {
    const bool own_id = e.id == static_cast<std::int32_t>(kCatalogPage);
    const bool own_name = e.type == object_type::kTable && same_name(e.name, catalog.def.name);
    if (!own_id && !own_name) continue;
    if (own_id && own_name && !catalog.named_by_catalog) {
      catalog.named_by_catalog = true;
      continue;
    }
    out.log.add(kLossDamaged, catalog.def.name,
                "A catalog row of type " + std::to_string(e.type) + " named '" + e.name + "' with id " +
                    std::to_string(e.id) + " was left out: it claims the catalog's own " +
                    (own_id ? "id" : "name") + ", so it is damaged.",
                e.where);
    out.dropped_catalog_rows.insert(e.where);
  }
  std::set<std::string> names{catalog.def.name};
  out.tables.push_back(std::move(catalog));

  std::set<PageNumber> done{kCatalogPage};
  for (const CatalogRow& e : entries) {
    if (e.type != object_type::kTable) continue;
    const PageNumber first = static_cast<PageNumber>(e.id) & 0x00FFFFFFu;
    if (!done.insert(first).second) continue;
    std::optional<TableDef> def;
    const std::optional<std::string> why = damage_of([&] { def = read_definition(db, first, e.name, e.properties); });
    if (why) {
      // Without its definition a table's rows cannot be read at all; the
      // rest of the database still can (a missing engine table is one
      // Access makes again).
      const bool system = (e.flags & 0x80000002u) != 0;
      out.log.add(kLossDamaged, e.name,
                  std::string(system ? "System table " : "Table ") + e.name +
                      " was left out with all its rows: its definition (page " + std::to_string(first) +
                      ") is damaged (" + *why + ").");
      out.dropped_catalog_rows.insert(e.where);
      continue;
    }
    const bool system = (e.flags & 0x80000002u) != 0;
    names.insert(e.name);
    out.tables.push_back(TableSalvager(db, pages, table_pages, out.log, system, options).run(std::move(*def)));
  }
  std::set<std::int32_t> catalog_ids;
  for (const CatalogRow& e : entries) {
    if (!out.dropped_catalog_rows.count(e.where)) catalog_ids.insert(e.id);
  }
  recover_unnamed_tables(db, pages, table_pages, done, catalog_ids, names, out, options);
  drop_rows_claiming_found_tables(entries, out);
  for (const CatalogRow& e : entries) {
    if (out.dropped_catalog_rows.count(e.where) == 0) out.catalog_objects.push_back({e.id, e.parent_id, e.name});
  }
  const bool user_table_left = std::any_of(out.tables.begin(), out.tables.end(),
                                           [](const SalvagedTable& t) { return !t.def.is_system(); });
  if (entries.empty() && !user_table_left) {
    throw Error(errc::kCannotOpenDatabase,
                "The database cannot be repaired: its catalog (MSysObjects) lost every row and no table of yours "
                "was found on its pages.");
  }
  if (!out.dropped_catalog_rows.empty()) {
    std::vector<RowPointer>& rows = out.tables.front().rows;
    std::erase_if(rows, [&](RowPointer r) { return out.dropped_catalog_rows.count(r) != 0; });
  }
  return out;
}

}  // namespace jet::salvage
