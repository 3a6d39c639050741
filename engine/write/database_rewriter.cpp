#include "engine/write/database_rewriter.h"

#include <algorithm>
#include <future>
#include <limits>
#include <map>
#include <set>
#include <span>

#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/format/damaged.h"
#include "engine/index/index_builder.h"
#include "engine/index/index_findings.h"
#include "engine/index/index_tree_reader.h"
#include "engine/read/database.h"
#include "engine/write/batch_pipeline.h"
#include "engine/write/code_page_conversion.h"
#include "engine/write/data_page_builder.h"
#include "engine/write/header_writer.h"
#include "engine/write/index_feed.h"
#include "engine/write/index_rebuild.h"
#include "engine/write/key_list.h"
#include "engine/write/key_spill.h"
#include "engine/write/little_endian.h"
#include "engine/write/long_value_writer.h"
#include "engine/write/object_ids.h"
#include "engine/write/page_sink.h"
#include "engine/write/rewrite_source.h"
#include "engine/write/row_finder.h"
#include "engine/format/row_layout.h"
#include "engine/write/table_definition_writer.h"
#include "engine/write/usage_map_builder.h"

namespace jet::write {

namespace {

constexpr std::uint16_t kGeneralOrder = 0x0409;    // the General collating order
constexpr std::uint16_t kGeneralCodePage = 1252;   // its code page
constexpr std::uint32_t kFirstDefinitionPage = 2;  // the catalog's definition always starts here
constexpr std::uint32_t kMapPageOwner = 0;         // usage-map rows live on pages owned by no table
constexpr std::uint32_t kLongValueHeaderSize = 12;
constexpr std::size_t kMaxRows = 0xFFFFFFFFu;  // row counts are 32-bit
constexpr std::size_t kListsInFlight = 2;  // key lists besides those being filled: one being written, one spare
// Primary-key lists take half the key budget (see RewriteOptions), shared
// with the lists in flight.
constexpr std::size_t kOrderLists = 2 * (1 + kListsInFlight);

[[noreturn]] void internal(const std::string& what) {
  throw Error(errc::kCannotOpenDatabase, "Internal error while writing the new database: " + what + ".");
}

// One usage-map row on the map pages: its fixed place and the pages it lists.
struct MapSlot {
  std::uint32_t page = 0;
  std::uint8_t row = 0;
  PageSet pages;
  MapReference reference() const { return MapReference{page, row}; }
};

// Where each live row of a table is and how long it is, in scan order, and
// the order the rows are written in: all that is kept per row while a table
// is copied. Rows are read again from the source when they are written.
struct RowTable {
  std::vector<RowPointer> old_at;
  std::vector<std::uint16_t> size;
  std::vector<std::uint32_t> order;  // positions in old_at, in write order
};

// Places rows in write order on consecutive data pages from their sizes
// alone, the way write_rows fills the pages.
class RowPlacer {
 public:
  explicit RowPlacer(const WriteFormat& format) : format_(format) {}
  // The row's page (counted from the table's first data page) and its row
  // number there.
  std::pair<std::size_t, std::uint16_t> place(std::size_t size) {
    if (!fill_ || !fill_->fits(size)) {
      if (fill_) ++page_;
      fill_.emplace(format_);
    }
    return {page_, fill_->add(size)};
  }
  std::size_t pages() const { return fill_ ? page_ + 1 : 0; }

 private:
  const WriteFormat& format_;
  std::optional<PageFill> fill_;
  std::size_t page_ = 0;
};

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

// One index while its table is copied: its key encoder (none when the
// source's stored entries are carried over instead) and the keys so far.
struct IndexCopy {
  const IndexData* data = nullptr;
  std::optional<IndexKeys> keys;
  std::string reason;         // why the keys cannot be formed
  KeyList entries;            // tagged with the row's new place
  std::vector<KeySpill::Run> runs;  // sorted runs of entries set aside on the scratch file
  std::uint64_t listed = 0;   // rows the index lists (for carrying over)
  // Per row (scan position): 1 when the row keeps the key the source's
  // stored index holds for it; empty when every key is formed.
  std::vector<std::uint8_t> stored;
  // Per row with a stored key: that key's first byte, which says whether the
  // first key column is null and in which direction it sorts. A stored key
  // whose first byte our key for the row does not share belongs to other
  // values (a row changed or damaged behind its index) and is not carried.
  std::vector<std::uint8_t> stored_lead;
};

// Rows read, decoded and keyed ahead of being written: the rows' bytes back
// to back, the long values they refer to, and one key slot per index and
// row. The buffers are kept from batch to batch.
struct RowBatch {
  enum class KeyState : std::uint8_t { kNone, kKey, kGaveUp };  // kGaveUp: carry the index over
  struct Key {
    std::size_t begin = 0;  // in key_bytes
    std::uint32_t size = 0;
    KeyState state = KeyState::kNone;
  };
  struct LongValue {
    std::size_t at = 0;  // of its 12-byte reference inside the row
    int group = -1;      // the column whose own pages take it, or -1
    Bytes value;
  };
  struct Row {
    std::size_t begin = 0;  // in bytes
    std::size_t size = 0;
    std::size_t first_long_value = 0;
    std::size_t long_values = 0;
    std::size_t first_key = 0;
    std::uint32_t position = 0;  // scan position (in RowTable::old_at)
  };

  // A batch this large goes on.
  static constexpr std::size_t kMaxRows = 512;
  static constexpr std::size_t kMaxBytes = std::size_t{256} << 10;

  Bytes bytes;
  Bytes key_bytes;
  std::vector<Row> rows;
  std::vector<Key> keys;
  std::vector<LongValue> long_values;
  std::size_t long_value_bytes = 0;
  bool keyed = false;  // the rows' keys have been formed

  void clear() {
    bytes.clear();
    key_bytes.clear();
    rows.clear();
    keys.clear();
    long_values.clear();
    long_value_bytes = 0;
    keyed = false;
  }
  bool full() const {
    return rows.size() >= kMaxRows || bytes.size() + key_bytes.size() + long_value_bytes >= kMaxBytes;
  }
};

// A scratch file for keys, created when its keys first outgrow their budget.
// A full list is sorted and written as a run on a helper thread while the
// next keys are gathered, one list at a time.
struct Spill {
  explicit Spill(std::string after_path) : suffix(std::move(after_path)) {}

  std::string suffix;  // after the scratch path
  std::unique_ptr<KeySpill> file;
  std::future<std::pair<KeySpill::Run, KeyList>> pending;  // the run, and the list's buffers back
  std::vector<KeySpill::Run>* pending_runs = nullptr;      // where the pending run belongs
  KeyList spare;                                           // buffers of the list written last
};

struct TablePlan {
  TableDef def;
  Bytes definition;
  TableDefinitionLayout layout;
  std::vector<std::uint32_t> definition_pages;
  std::uint32_t id = 0;
  std::size_t first_slot = 0;  // owned, free, one per physical index, two per column map
  std::vector<std::size_t> id_columns;  // columns holding object ids
  // Jet 3 text moving to code page 1252, per column (null: none).
  std::vector<const CodePageConversion*> text_conversions;
  TableDefinitionUpdate update;
};

std::size_t slots_for(const TableDefinitionLayout& l) { return 2 + l.real_index_count + 2 * l.column_map_count; }

// The cipher the copy's pages are written under.
std::shared_ptr<const crypt::PageCipher> copy_cipher(const HeaderInfo& source, const RewriteOptions& options) {
  if (options.page_cipher) return options.page_cipher;
  if (!source.encrypted()) return nullptr;
  if (source.format->ace) {
    throw Error(errc::kCannotOpenDatabase,
                "Internal error while writing the new database: an encrypted copy without its key.");
  }
  return crypt::jet_rc4_cipher(source.database_key);
}

class Rewriter {
 public:
  Rewriter(RewriteSource& db, WritableFile& out, const RewriteOptions& options)
      : db_(db),
        jet_format_(*db.header().format),
        format_(WriteFormat::for_version(jet_format_.version == JetVersion::Jet4)),
        options_(options),
        sink_(out, format_, copy_cipher(db.header(), options), options.progress, db.page_count()) {
  }

  RewriteResult run() {
    plan_tables();
    plan_map_slots();
    write_tables();
    write_usage_maps();
    for (TablePlan& plan : plans_) write_definition(plan);
    if (!spare_.empty()) internal("pages skipped for definitions were not used");
    const std::uint32_t page_count = next_page_;
    Bytes header = build_header_page(options_.convert_to_general ? in_general_order(db_.header()) : db_.header(),
                                     options_.new_password);
    if (options_.office_encryption) crypt::write_office_encryption(*options_.office_encryption, header);
    sink_.write(0, header);
    sink_.write(1, build_free_page_map_page(format_, db_.page_one(), page_count));
    sink_.flush();
    if (sink_.pages_written() != page_count) internal("a page was left unwritten");
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
      if (options_.convert_to_general) put_text_columns_in_general_order(t, plan.definition, plan.text_conversions);
      const std::uint32_t n = table_definition_page_count(format_, plan.definition);
      plan.definition_pages.push_back(allocate_definition_start());
      for (std::uint32_t i = 1; i < n; ++i) plan.definition_pages.push_back(allocate());
      plan.id = plan.definition_pages.front();
      table_ids_[t.definition_page] = plan.id;
      plan.id_columns = object_id_columns(t);
      plan.def = std::move(t);
      plans_.push_back(std::move(plan));
    }
  }

  // The header of a file in the General order: its collating order, and
  // the code page that order comes with.
  HeaderInfo in_general_order(const HeaderInfo& source) const {
    HeaderInfo h = source;
    put_u16(h.unmasked, jet_format_.header_sort_order_offset, kGeneralOrder);
    put_u16(h.unmasked, jet_format_.header_code_page_offset, kGeneralCodePage);
    h.sort_order = kGeneralOrder;
    h.code_page = kGeneralCodePage;
    return h;
  }

  // Gives the table's columns the General order, in its stored definition
  // (Access names the order in every column but Decimal ones, whose bytes
  // there hold precision and scale, complex ones, whose hold the column's
  // ComplexID, and Date/Time Extended ones, whose second byte is their
  // precision) and in its model, so that keys are
  // formed in it. Jet 3 columns name the code page as well. The model's
  // columns need not be in the order of the stored descriptors.
  void put_text_columns_in_general_order(TableDef& t, Bytes& definition,
                                         std::vector<const CodePageConversion*>& conversions) {
    const JetFormat& f = jet_format_;
    conversions.assign(t.columns.size(), nullptr);
    const std::size_t physical = get_u32(definition, f.tdef_index_data_count_offset);
    const std::size_t first = f.tdef_index_block_offset + physical * f.tdef_index_count_entry_size;
    const std::size_t count = get_u16(definition, f.tdef_column_count_offset);
    for (std::size_t d = 0; d < count; ++d) {
      const std::size_t at = first + d * f.column_descriptor_size;
      if (at + f.column_descriptor_size > definition.size()) internal("a column lies beyond its definition");
      const auto type = static_cast<ColumnType>(definition[at + f.column_type_offset]);
      if (type == ColumnType::Numeric || type == ColumnType::Complex || type == ColumnType::DateTimeExtended) continue;
      put_u16(definition, at + f.column_sort_order_offset, kGeneralOrder);
      if (f.column_code_page_offset >= 0) {
        put_u16(definition, at + static_cast<std::size_t>(f.column_code_page_offset), kGeneralCodePage);
      }
    }
    for (std::size_t k = 0; k < t.columns.size(); ++k) {
      Column& c = t.columns[k];
      if (c.type != ColumnType::Text && c.type != ColumnType::Memo) continue;
      c.collation = kGeneralOrder;
      if (f.column_code_page_offset < 0) continue;
      const std::uint16_t from = c.code_page != 0 ? c.code_page : db_.header().code_page;
      auto it = conversions_.find(from);
      if (it == conversions_.end()) it = conversions_.emplace(from, CodePageConversion(from, kGeneralCodePage)).first;
      if (!it->second.is_identity()) conversions[k] = &it->second;
      c.code_page = kGeneralCodePage;
    }
  }

  // Moves a Jet 3 row's text into code page 1252 in place: Text fields and
  // Memo values held inside the row (a text keeps its length).
  void convert_row_text(const TablePlan& plan, Bytes& raw, std::vector<RawField>& fields) const {
    if (plan.text_conversions.empty()) return;
    bool any = false;
    for (const CodePageConversion* c : plan.text_conversions) any = any || c != nullptr;
    if (!any) return;
    split_row_into(jet_format_, plan.def, raw, fields);
    for (std::size_t k = 0; k < fields.size(); ++k) {
      const CodePageConversion* conversion = plan.text_conversions[k];
      if (conversion == nullptr || fields[k].null || fields[k].bytes.empty()) continue;
      const std::size_t at = offset_in(raw, fields[k]);
      std::span<std::uint8_t> bytes(raw.data() + at, fields[k].bytes.size());
      if (plan.def.columns[k].type == ColumnType::Memo) {
        if (bytes.size() < kLongValueHeaderSize || !(get_u32(raw, at) & kLongValueFlagInline)) continue;
        bytes = bytes.subspan(kLongValueHeaderSize);
      }
      conversion->convert(bytes);
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

  // Columns of a table that hold object ids (Long columns only).
  static std::vector<std::size_t> object_id_columns(const TableDef& t) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      if (t.columns[i].type == ColumnType::Long && holds_object_ids(t.name, t.columns[i].name)) out.push_back(i);
    }
    return out;
  }

  void patch_object_ids(const TablePlan& plan, Bytes& raw) {
    if (plan.id_columns.empty()) return;
    const TableDef& t = plan.def;
    const std::vector<RawField> fields = split_row(jet_format_, t, raw);
    for (const std::size_t i : plan.id_columns) {
      if (fields[i].null) continue;
      if (fields[i].bytes.size() != 4) throw Error(errc::kCannotOpenDatabase, "Damaged row in " + t.name + ".");
      const std::size_t at = offset_in(raw, fields[i]);
      const auto it = table_ids_.find(get_u32(raw, at));
      if (it != table_ids_.end()) put_u32(raw, at, it->second);
    }
  }


  // A table is copied in two passes over its rows. The first notes each
  // live row's place and size and, for a primary key, its key; that gives
  // the write order and how many data pages the rows fill. The second reads
  // the rows again in that order, rewrites their long values, fills the data
  // pages and collects every index's keys; then the indexes are laid out.
  // Only the per-row table and the keys stay in memory, never the rows.
  //
  // After a large table's first pass, the next table's first pass runs on
  // a second thread: with a second handle on the source, alongside this
  // table's second pass; without, once this table no longer reads the
  // source (while its indexes are laid out, which only writes).
  void write_tables() {
    std::future<RowTable> next;
    for (std::size_t i = 0; i < plans_.size(); ++i) {
      TablePlan& plan = plans_[i];
      const RowTable rows = next.valid() ? next.get() : scan(plan, db_);
      const bool scan_ahead = i + 1 < plans_.size() && rows.order.size() >= options_.read_ahead_from_rows;
      RewriteSource* second = scan_ahead ? second_source() : nullptr;
      const auto scan_next = [&](RewriteSource& source) {
        next = std::async(std::launch::async, [this, i, &source] { return scan(plans_[i + 1], source); });
      };
      if (second) scan_next(*second);
      try {
        write_rows(plan, rows, [&] {
          if (scan_ahead && !second) scan_next(db_);
        });
      } catch (const DamagedData& e) {
        throw Error(errc::kCannotOpenDatabase, "Damaged row in table " + plan.def.name + ": " + e.what() + ".");
      }
    }
  }

  RowTable scan(const TablePlan& plan, RewriteSource& source) {
    try {
      return scan_table(plan, source);
    } catch (const DamagedData& e) {
      throw Error(errc::kCannotOpenDatabase, "Damaged row in table " + plan.def.name + ": " + e.what() + ".");
    }
  }

  RowTable scan_table(const TablePlan& plan, RewriteSource& source) {
    const TableDef& t = plan.def;
    RowTable rows;
    const IndexData* primary = primary_key_of(t);
    std::optional<IndexKeys> primary_keys;
    std::string reason;
    if (primary) primary_keys = keys_for(t, *primary, reason);
    const std::vector<bool> wanted = primary_keys ? columns_keyed(t, {primary}, nullptr) : std::vector<bool>{};
    KeyList keys;
    std::vector<KeySpill::Run> runs;  // primary keys set aside past the budget
    Bytes patched;
    Bytes key;
    Row values;
    // The stored row count is only a hint (a damaged file may hold anything
    // there), so it is capped by what the file could hold at all.
    const std::uint64_t could_hold = std::uint64_t{source.page_count()} * (format_.page_size / 16);
    const auto expected = static_cast<std::size_t>(std::min<std::uint64_t>({t.row_count, could_hold, kMaxRows}));
    rows.old_at.reserve(expected);
    rows.size.reserve(expected);
    source.scan_raw_rows(t, [&](RowPointer old_at, std::span<const std::uint8_t> bytes) {
      if (bytes.size() > DataPageBuilder::max_row_size(format_)) {
        throw Error(errc::kCannotOpenDatabase, "Damaged row in " + t.name + ": longer than a page.");
      }
      if (rows.old_at.size() >= kMaxRows) {
        throw Error(errc::kCannotOpenDatabase, "Damaged table " + t.name + ": more rows than a table can hold.");
      }
      const auto position = static_cast<std::uint32_t>(rows.old_at.size());
      rows.old_at.push_back(old_at);
      rows.size.push_back(static_cast<std::uint16_t>(bytes.size()));
      if (!primary_keys) return;
      std::span<const std::uint8_t> row = bytes;
      if (!plan.id_columns.empty()) {
        patched.assign(bytes.begin(), bytes.end());
        patch_object_ids(plan, patched);
        row = patched;
      }
      decode_fields(&source, t, split_row(jet_format_, t, row), wanted, values);
      bool listed = false;
      if (!key_or_give_up(*primary_keys, values, key, listed, reason)) {
        primary_keys.reset();
        finish_pending(order_spill_);
        keys = KeyList{};
        runs.clear();
        return;
      }
      if (!listed) {
        throw Error(errc::kCannotOpenDatabase, "Damaged table " + t.name + ": its primary key does not cover every row.");
      }
      add_key(order_spill_, keys, runs, key, position, key_limit(kOrderLists));
    });
    const std::size_t n = rows.old_at.size();
    finish_pending(order_spill_);
    if (primary_keys) {
      keys.sort();
      rows.order.reserve(n);
      merge_keys(order_spill_, runs, keys, [&](std::span<const std::uint8_t>, std::uint64_t tag) {
        rows.order.push_back(static_cast<std::uint32_t>(tag));
      });
    } else if (primary) {
      rows.order = stored_order(source, t, *primary, rows, reason);
    } else {
      rows.order.resize(n);
      for (std::size_t i = 0; i < n; ++i) rows.order[i] = static_cast<std::uint32_t>(i);
    }
    return rows;
  }

  // Rows in the order the source's stored primary key lists them, when our
  // encoder cannot form its keys; the index must list every row once.
  std::vector<std::uint32_t> stored_order(RewriteSource& source, const TableDef& t, const IndexData& primary,
                                          const RowTable& rows, const std::string& reason) {
    const RowFinder rows_by_place(rows.old_at);
    KeyList listed;
    walk_entries_to_carry(source, t, primary, reason, [&](const index::EntryView& e) {
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

  // `source_done` is called once the source is no longer needed for this
  // table (before its indexes are laid out).
  void write_rows(TablePlan& plan, const RowTable& rows, const std::function<void()>& source_done) {
    const TableDef& t = plan.def;
    if (t.index_data.size() != plan.layout.real_index_count) internal("index count differs from the definition");

    std::vector<std::uint32_t> data_pages;
    for (std::uint32_t i = 0, n = count_data_pages(rows); i < n; ++i) data_pages.push_back(allocate());

    std::vector<IndexCopy> indexes(t.index_data.size());
    for (std::size_t i = 0; i < t.index_data.size(); ++i) {
      indexes[i].data = &t.index_data[i];
      indexes[i].keys = keys_for(t, t.index_data[i], indexes[i].reason);
      if (indexes[i].keys) indexes[i].entries.reserve(entries_to_reserve(rows.order.size(), t.index_data.size()));
      if (indexes[i].keys && options_.keep_stored_text_keys && !options_.convert_to_general &&
          has_text_key(t, t.index_data[i])) {
        indexes[i].stored = rows_with_stored_keys(t, t.index_data[i], rows, indexes[i].stored_lead);
      }
    }

    LongValueCopy long_values(*this, plan);
    RowReader reader(*this, plan, rows, indexes, long_values.needed());
    std::optional<DataPageBuilder> page;
    std::size_t page_index = 0;
    const auto take = [&](RowBatch& batch) {
      reader.key(batch);
      for (const RowBatch::Row& r : batch.rows) {
        const std::span<std::uint8_t> raw(batch.bytes.data() + r.begin, r.size);
        for (std::size_t k = r.first_long_value; k < r.first_long_value + r.long_values; ++k) {
          long_values.write(raw, batch.long_values[k]);
        }
        if (!page || !page->fits(raw.size())) {
          if (page) sink_.write(data_pages.at(page_index++), page->page());
          if (page_index >= data_pages.size()) internal("rows need more pages than counted");
          page.emplace(format_, plan.id);
        }
        const RowPointer at{data_pages[page_index], page->add(raw)};
        for (std::size_t i = 0; i < indexes.size(); ++i) {
          const RowBatch::Key& key = batch.keys[r.first_key + i];
          if (key.state == RowBatch::KeyState::kGaveUp) {
            finish_pending(index_spill_);
            indexes[i].entries = KeyList{};
            indexes[i].runs.clear();
          } else if (key.state == RowBatch::KeyState::kKey) {
            add_key(index_spill_, indexes[i].entries, indexes[i].runs,
                    std::span<const std::uint8_t>(batch.key_bytes.data() + key.begin, key.size), place_tag(at),
                    key_limit(indexes.size() + kListsInFlight));
          }
        }
      }
    };
    // Threaded, the rows are read on a second thread, and keyed and written
    // on this one.
    run_batches<RowBatch>(rows.order.size() >= options_.read_ahead_from_rows,
                          [&](RowBatch& batch) { return reader.fill(batch); }, take);
    if (page) sink_.write(data_pages.at(page_index++), page->page());
    if (page_index != data_pages.size()) internal("rows filled fewer pages than counted");
    long_values.finish();
    finish_pending(index_spill_);

    MapSlot& owned = slot(plan, 0);
    MapSlot& free = slot(plan, 1);
    owned.pages.insert(data_pages.begin(), data_pages.end());
    // Pages are filled in order, so only the last one can have room left.
    if (!data_pages.empty()) free.pages.insert(data_pages.back());

    std::vector<RowPointer> new_at;
    for (IndexCopy& index : indexes) {
      if (index.keys && index.stored.empty()) continue;
      if (new_at.empty()) new_at = new_places(rows, data_pages);
      if (!index.keys) {
        carry_over(t, index, rows, new_at, indexes.size() + kListsInFlight);
      } else {
        carry_stored_keys(t, index, rows, new_at, indexes.size() + kListsInFlight);
      }
      index.stored = {};
    }
    finish_pending(index_spill_);
    source_done();

    lay_out_indexes(plan, indexes, rows.order.size() >= options_.read_ahead_from_rows);

    plan.update.row_count = static_cast<std::uint32_t>(rows.order.size());
    plan.update.next_autonumber = get_u32(plan.definition, format_.tdef_autonumber_at);  // kept unless recounted below
    if (reader.has_autonumber()) plan.update.next_autonumber = static_cast<std::uint32_t>(reader.largest_autonumber() + 1);
    plan.update.table_ids = table_ids_;
    result_.rows.emplace_back(t.name, rows.order.size());
  }

  // Builds every index's tree from its keys, index after index, recording
  // roots and entry counts in the plan. The keys are merged on a helper
  // thread with `threaded`; the trees take page numbers here either way.
  void lay_out_indexes(TablePlan& plan, std::vector<IndexCopy>& indexes, bool threaded) {
    plan.update.index_row_counts.assign(plan.layout.real_index_count, 0);
    plan.update.index_roots.assign(plan.layout.real_index_count, 0);
    std::vector<IndexKeySource> sources;
    for (IndexCopy& index : indexes) sources.push_back({&index.entries, &index.runs});

    std::unique_ptr<index::IndexTreeWriter> tree;
    std::size_t building = 0;  // the index whose tree is being built; those before are done
    std::uint32_t listed = 0;
    const auto start = [&] {
      MapSlot& map = slot(plan, 2 + building);
      tree = std::make_unique<index::IndexTreeWriter>(format_.jet4 ? index::Format::Jet4 : index::Format::Jet3,
                                                      plan.id, [this] { return allocate(); },
                                                      [&map, this](index::BuiltPage p) {
                                                        map.pages.insert(p.number);
                                                        sink_.write(p.number, std::move(p.bytes));
                                                      });
      listed = 0;
    };
    // Finishes the trees before `index`, empty ones included.
    const auto finish_before = [&](std::size_t index) {
      for (; building < index; ++building) {
        if (!tree) start();
        plan.update.index_roots[building] = tree->finish().root;
        plan.update.index_row_counts[building] = listed;
        tree.reset();
      }
    };
    feed_index_entries(index_spill_.file.get(), sources, threaded && !indexes.empty(),
                       [&](std::size_t index, std::span<const std::uint8_t> key, std::uint64_t tag) {
                         finish_before(index);
                         if (!tree) start();
                         tree->add(key, place_of_tag(tag));
                         ++listed;
                       });
    finish_before(indexes.size());
  }

  // Bytes each of `lists` key lists may hold before it is set aside on the
  // scratch file; no limit without one.
  std::size_t key_limit(std::size_t lists) const {
    if (options_.scratch_env == nullptr) return std::numeric_limits<std::size_t>::max();
    return options_.key_memory / std::max<std::size_t>(lists, 1);
  }

  // Room each index's key list takes up front: all rows, unless that would
  // take more than half the list's share (the key bytes need the rest).
  std::size_t entries_to_reserve(std::size_t rows, std::size_t index_count) const {
    return std::min(rows, key_limit(index_count + kListsInFlight) / 64);
  }

  // Adds a key to a list. A full list is handed to a helper thread that
  // sorts it and writes it to the scratch file as one run, and the list
  // goes on with the buffers of the list written before; besides the lists
  // being filled, one list is being written and one kept for its buffers
  // (kListsInFlight), which the limits leave room for.
  void add_key(Spill& spill, KeyList& keys, std::vector<KeySpill::Run>& runs, std::span<const std::uint8_t> key,
               std::uint64_t tag, std::size_t limit) {
    if (keys.add_within(key, tag, limit)) return;
    if (!spill.file) spill.file = std::make_unique<KeySpill>(*options_.scratch_env, options_.scratch_path + spill.suffix);
    finish_pending(spill);
    KeyList full = std::exchange(keys, std::move(spill.spare));
    keys.clear();
    spill.pending_runs = &runs;
    KeySpill& file = *spill.file;
    spill.pending = std::async(std::launch::async, [&file, list = std::move(full)]() mutable {
      list.sort();
      const KeySpill::Run run = file.write_run(list);
      list.clear();
      return std::make_pair(run, std::move(list));
    });
    keys.add(key, tag);
  }

  // Waits for the run being written, if any, and files it with its list's
  // runs; a failure to write it is raised here.
  static void finish_pending(Spill& spill) {
    if (!spill.pending.valid()) return;
    auto [run, list] = spill.pending.get();
    spill.pending_runs->push_back(run);
    spill.spare = std::move(list);
  }

  // Every entry of the runs and of the sorted list, in key order.
  static void merge_keys(Spill& spill, const std::vector<KeySpill::Run>& runs, const KeyList& sorted,
                         const KeySpill::Visit& visit) {
    if (runs.empty()) {
      visit_sorted(sorted, visit);
    } else {
      spill.file->merge(runs, sorted, visit);
    }
  }

  // Forms a key into `key` (`listed` false when the index leaves the row
  // out); false (with the reason) when the encoder cannot key some value of
  // this row, so the index must be carried over instead.
  static bool key_or_give_up(const IndexKeys& keys, const Row& values, Bytes& key, bool& listed, std::string& reason) {
    try {
      listed = keys.key_into(values, key);
      return true;
    } catch (const Error& e) {
      if (e.number() != errc::kNotBuiltYet) throw;
      reason = e.description();
      return false;
    }
  }

  // Each row's new place by its scan position, worked out again the way
  // write_rows placed the rows (only needed to carry stored entries over).
  std::vector<RowPointer> new_places(const RowTable& rows, const std::vector<std::uint32_t>& data_pages) const {
    std::vector<RowPointer> at(rows.old_at.size());
    RowPlacer placer(format_);
    for (const std::uint32_t position : rows.order) {
      const auto [page, row] = placer.place(rows.size[position]);
      at[position] = RowPointer{data_pages.at(page), row};
    }
    return at;
  }

  // Data pages the rows fill in write order (sizes do not change when they
  // are written: long-value references keep their 12 bytes).
  std::uint32_t count_data_pages(const RowTable& rows) const {
    RowPlacer placer(format_);
    for (const std::uint32_t position : rows.order) placer.place(rows.size[position]);
    return static_cast<std::uint32_t>(placer.pages());
  }

  // The stored entries of an index whose keys the encoder cannot form stand
  // in for the rebuilt ones, provided they list exactly the rows they should.
  // Fills an index the encoder gave up on with the source's stored keys,
  // each under its row's new place. The entries are read one at a time and
  // kept within the index's share of the key budget, like formed keys.
  void carry_over(const TableDef& t, IndexCopy& index, const RowTable& rows, const std::vector<RowPointer>& new_at,
                  std::size_t lists) {
    if (options_.convert_to_general && has_text_key(t, *index.data)) {
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
    walk_entries_to_carry(db_, t, *index.data, index.reason, [&](const index::EntryView& e) {
      const std::optional<std::uint32_t> at = rows_by_place.find(e.row);
      if (!at) return;  // a deleted row's leftover entry
      if (seen[*at]) throw carry_refusal(t, *index.data, index.reason, "it lists a row twice");
      if (repeats.repeats(e.key)) throw carry_refusal(t, *index.data, index.reason, "it lists two rows under one key");
      seen[*at] = true;
      add_key(index_spill_, index.entries, index.runs, e.key, place_tag(new_at[*at]), key_limit(lists));
      ++carried;
    });
    if (carried != index.listed) throw carry_refusal(t, *index.data, index.reason, "it does not list every row");
  }

  // Which rows keep their stored key: those the source's stored index
  // lists exactly once, under a key no other row of a unique index shares
  // (such a repeat is a damaged key). A tree that cannot be read keeps none,
  // and the index is built from keys we form.
  std::vector<std::uint8_t> rows_with_stored_keys(const TableDef& t, const IndexData& data, const RowTable& rows,
                                                  std::vector<std::uint8_t>& lead) {
    constexpr std::uint8_t kNotCarried = 2;
    std::vector<std::uint8_t> listed(rows.old_at.size(), 0);
    lead.assign(rows.old_at.size(), 0);
    const RowFinder rows_by_place(rows.old_at);
    UniqueKeyRepeats repeats(t, data);
    std::optional<std::uint32_t> previous_row;
    try {
      walk_stored_entries(db_, t, data, [&](const index::EntryView& e) {
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

  // Adds the stored entries of the rows that keep their stored key (the
  // others were keyed as they were written), each under the row's new place.
  void carry_stored_keys(const TableDef& t, IndexCopy& index, const RowTable& rows, const std::vector<RowPointer>& new_at,
                         std::size_t lists) {
    const RowFinder rows_by_place(rows.old_at);
    walk_stored_entries(db_, t, *index.data, [&](const index::EntryView& e) {
      const std::optional<std::uint32_t> at = rows_by_place.find(e.row);
      if (!at || index.stored[*at] != 1) return;
      index.stored[*at] = 0;
      add_key(index_spill_, index.entries, index.runs, e.key, place_tag(new_at[*at]), key_limit(lists));
    });
  }

  static bool has_text_key(const TableDef& t, const IndexData& data) {
    for (const IndexColumn& c : data.columns) {
      for (const Column& col : t.columns) {
        if (col.number == c.column_number && (col.type == ColumnType::Text || col.type == ColumnType::Memo)) return true;
      }
    }
    return false;
  }

  // Visits the source's stored entries of an index in key order.
  void walk_stored_entries(RewriteSource& source, const TableDef& t, const IndexData& data,
                           const std::function<void(const index::EntryView&)>& visit) {
    index::walk_index_tree([&source](PageNumber p) { return std::make_shared<const Bytes>(source.read_page(p)); },
                           data.first_page, format_.jet4 ? index::Format::Jet4 : index::Format::Jet3,
                           t.definition_page, visit);
  }

  // Walks the stored entries that are to stand in for keys we cannot form;
  // a tree that cannot be read cannot stand in, and the refusal names it.
  template <typename Visit>
  void walk_entries_to_carry(RewriteSource& source, const TableDef& t, const IndexData& data, const std::string& reason,
                             Visit&& visit) {
    try {
      walk_stored_entries(source, t, data, visit);
    } catch (const Error& e) {
      if (e.number() != errc::kCannotOpenDatabase) throw;
      // The damaged-file error keeps where the reader gave up in its source.
      const std::string& where = e.source();
      const std::size_t open = where.find(" (");
      const std::string detail =
          open != std::string::npos && where.back() == ')' ? where.substr(open + 2, where.size() - open - 3) : "damaged";
      throw carry_refusal(t, data, reason, "it cannot be read (" + detail + ")");
    } catch (const DamagedData& e) {
      throw carry_refusal(t, data, reason, std::string("it cannot be read (") + e.what() + ")");
    }
  }

  static Error carry_refusal(const TableDef& t, const IndexData& data, const std::string& reason,
                             const std::string& why) {
    return Error(errc::kNotBuiltYet, reason + " The stored index " + index_name(t, data) + " of table " + t.name +
                                         " cannot stand in: " + why +
                                         "; converting the database to the General order rebuilds it.");
  }

  // The names of the logical indexes a physical index serves, for messages.
  static std::string index_name(const TableDef& t, const IndexData& data) {
    std::string names;
    for (const Index& index : t.indexes) {
      if (index.index_data != data.number) continue;
      names += (names.empty() ? "'" : ", '") + index.name + "'";
    }
    return names.empty() ? std::to_string(data.number) : names;
  }

  // The index's key encoder, or none (with the reason) when it cannot form
  // keys for this index.
  std::optional<IndexKeys> keys_for(const TableDef& t, const IndexData& data, std::string& reason) {
    try {
      return IndexKeys(format_, t, data, options_.convert_to_general ? nullptr : options_.learned_orders);
    } catch (const Error& e) {
      if (e.number() != errc::kNotBuiltYet) throw;
      reason = e.description();
      return std::nullopt;
    }
  }

  static const IndexData* primary_key_of(const TableDef& t) {
    for (const Index& index : t.indexes) {
      if (index.is_primary_key()) return find_index_data(t, index.index_data);
    }
    return nullptr;
  }

  // Which columns must be decoded: those the indexes key and the AutoNumber.
  // The rest (long values above all) are copied without being decoded.
  static std::vector<bool> columns_keyed(const TableDef& t, const std::vector<const IndexData*>& indexes,
                                         const Column* autonumber) {
    std::vector<bool> wanted(t.columns.size(), false);
    for (std::size_t k = 0; k < t.columns.size(); ++k) {
      for (const IndexData* data : indexes) {
        for (const IndexColumn& c : data->columns) {
          if (t.columns[k].number == c.column_number) wanted[k] = true;
        }
      }
      if (autonumber == &t.columns[k]) wanted[k] = true;
    }
    return wanted;
  }

  // Decodes the wanted columns only; the others are left as they were and
  // must not be read. Long values come from `source`; without one, none
  // may be wanted.
  void decode_fields(RewriteSource* source, const TableDef& t, const std::vector<RawField>& fields,
                     const std::vector<bool>& wanted, Row& values) const {
    values.resize(t.columns.size());
    for (std::size_t k = 0; k < t.columns.size(); ++k) {
      if (!wanted[k]) continue;
      values[k] = decode_field(jet_format_, t.columns[k], fields[k], db_.header().code_page,
                               [source](std::span<const std::uint8_t> f) {
                                 if (source == nullptr) internal("a key needed a long value after its row was read");
                                 return source->read_long_value(f);
                               });
    }
  }

  static bool all_null(const TableDef& t, const IndexData& data, const Row& values) {
    for (const IndexColumn& c : data.columns) {
      for (std::size_t k = 0; k < t.columns.size(); ++k) {
        if (t.columns[k].number == c.column_number && k < values.size() && !values[k].is_null) return false;
      }
    }
    return true;
  }

  // Rewrites the long values a table's rows refer to onto fresh pages as the
  // rows are written. Columns with their own usage maps get their own pages;
  // the others share.
  class LongValueCopy {
   public:
    LongValueCopy(Rewriter& rewriter, TablePlan& plan) : w_(rewriter), plan_(plan) {}

    // True when the table has Memo or OLE columns at all.
    bool needed() const {
      return std::any_of(plan_.def.columns.begin(), plan_.def.columns.end(),
                         [](const Column& c) { return is_long_value(c.type); });
    }

    // Writes a collected value onto fresh pages and points the row at them.
    void write(std::span<std::uint8_t> raw, const RowBatch::LongValue& v) {
      const LongValueReference ref = writer_for(v.group).write(v.value);
      std::copy(ref.begin(), ref.end(), raw.begin() + static_cast<std::ptrdiff_t>(v.at));
    }

    // Writes the open pages and records every page in the column maps.
    void finish() {
      const auto& mapped = plan_.layout.column_map_columns;
      for (auto& [group, writer] : writers_) {
        for (FinishedPage& p : writer.finish()) w_.sink_.write(p.number, std::move(p.bytes));
        if (group < 0) continue;
        const std::vector<std::uint32_t>& pages = writer.pages();
        for (std::size_t k = 0; k < mapped.size(); ++k) {
          if (mapped[k] != group) continue;
          w_.slot(plan_, w_.column_slot(plan_, k, true)).pages.insert(pages.begin(), pages.end());
          if (!pages.empty()) w_.slot(plan_, w_.column_slot(plan_, k, false)).pages.insert(pages.back());
        }
      }
    }

   private:
    LongValueWriter& writer_for(int group) {
      auto it = writers_.find(group);
      if (it == writers_.end()) {
        it = writers_
                 .emplace(group, LongValueWriter(
                                     w_.format_, [this] { return w_.allocate(); },
                                     [this](FinishedPage p) { w_.sink_.write(p.number, std::move(p.bytes)); }))
                 .first;
      }
      return it->second;
    }

    Rewriter& w_;
    TablePlan& plan_;
    std::map<int, LongValueWriter> writers_;
  };

  // The reading half of a table's second pass: reads the rows in write
  // order, puts their object ids right and reads the long values they refer
  // to; then, in key(), decodes the rows and forms every index's key. It
  // uses only the source and the index encoders (never the output or the
  // key lists), so it may run on a thread of its own. Keys are formed by
  // whichever thread calls key(), reading nothing more from the source, so
  // the writing thread can take that share of the work; only when a key
  // needs a long value is the row keyed as it is read.
  class RowReader {
   public:
    RowReader(Rewriter& rewriter, const TablePlan& plan, const RowTable& rows, std::vector<IndexCopy>& indexes,
              bool copy_long_values)
        : w_(rewriter), plan_(plan), rows_(rows), indexes_(indexes), copy_long_values_(copy_long_values) {
      const TableDef& t = plan.def;
      std::vector<const IndexData*> keyed;
      for (const IndexData& d : t.index_data) keyed.push_back(&d);
      for (const Column& c : t.columns) {
        if (c.is_autonumber() && c.type == ColumnType::Long) autonumber_ = &c;
      }
      wanted_ = columns_keyed(t, keyed, autonumber_);
      decode_ = !indexes.empty() || autonumber_ != nullptr;
      for (std::size_t k = 0; k < t.columns.size(); ++k) {
        if (wanted_[k] && is_long_value(t.columns[k].type)) key_as_read_ = true;
      }
    }

    // The next rows, until the batch is full; false when none are left.
    bool fill(RowBatch& batch) {
      batch.clear();
      const TableDef& t = plan_.def;
      while (next_ < rows_.order.size() && !batch.full()) {
        const std::uint32_t position = rows_.order[next_++];
        Bytes& raw = raw_;
        if (!w_.db_.read_row_into(rows_.old_at[position], raw) || raw.size() != rows_.size[position]) {
          throw Error(errc::kCannotOpenDatabase, "Damaged table " + t.name + ": a row changed while it was copied.");
        }
        w_.patch_object_ids(plan_, raw);
        w_.convert_row_text(plan_, raw, text_fields_);
        RowBatch::Row row;
        row.position = position;
        row.first_long_value = batch.long_values.size();
        if (copy_long_values_) {
          // Rewriting a long-value reference keeps its place and size in
          // the row, so the split serves the keys as well.
          split_row_into(w_.jet_format_, t, raw, fields_);
          collect_long_values(raw, fields_, batch);
        }
        row.long_values = batch.long_values.size() - row.first_long_value;
        row.begin = batch.bytes.size();
        row.size = raw.size();
        batch.bytes.insert(batch.bytes.end(), raw.begin(), raw.end());
        batch.rows.push_back(row);
        if (key_as_read_) {
          if (!copy_long_values_) split_row_into(w_.jet_format_, t, raw, fields_);
          key_row(batch, batch.rows.back(), fields_, &w_.db_);
        }
      }
      batch.keyed = key_as_read_;
      return !batch.rows.empty();
    }

    // Decodes the batch's rows and forms their keys, unless fill() has.
    void key(RowBatch& batch) {
      if (batch.keyed) return;
      batch.keyed = true;
      for (RowBatch::Row& row : batch.rows) {
        const std::span<const std::uint8_t> raw(batch.bytes.data() + row.begin, row.size);
        if (decode_) split_row_into(w_.jet_format_, plan_.def, raw, key_fields_);
        key_row(batch, row, key_fields_, nullptr);
      }
    }

    bool has_autonumber() const { return autonumber_ != nullptr; }
    // The largest AutoNumber of the rows read, 0 for none.
    std::int64_t largest_autonumber() const { return largest_; }

   private:
    void key_row(RowBatch& batch, RowBatch::Row& row, const std::vector<RawField>& fields, RewriteSource* source) {
      if (decode_) w_.decode_fields(source, plan_.def, fields, wanted_, values_);
      position_ = row.position;
      row.first_key = batch.keys.size();
      for (IndexCopy& index : indexes_) batch.keys.push_back(key_of(index, batch));
      if (autonumber_) {
        const Value& v = values_[column_position(plan_.def, *autonumber_)];
        if (!v.is_null) largest_ = std::max(largest_, v.integer);
      }
    }

    // Notes the long values a row refers to, read from the source, for
    // LongValueCopy::write(); `fields` is the row split. Empty values become
    // inline ones right away.
    void collect_long_values(Bytes& raw, const std::vector<RawField>& fields, RowBatch& batch) {
      const TableDef& t = plan_.def;
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const Column& c = t.columns[i];
        if (!is_long_value(c.type) || fields[i].null || fields[i].bytes.empty()) continue;
        if (fields[i].bytes.size() < kLongValueHeaderSize) {
          throw Error(errc::kCannotOpenDatabase, "Damaged long value in " + t.name + ".");
        }
        const std::size_t at = offset_in(raw, fields[i]);
        const std::uint32_t head = get_u32(raw, at);
        if (head & kLongValueFlagInline) continue;  // kept in the row as it is
        const std::uint32_t length = head & kLongValueLengthMask;
        if (length == 0) {
          put_u32(raw, at, kLongValueFlagInline);
          put_u32(raw, at + 4, 0);
          put_u32(raw, at + 8, 0);
          continue;
        }
        Bytes value = w_.db_.read_long_value(fields[i].bytes);
        if (value.size() != length) throw Error(errc::kCannotOpenDatabase, "Damaged long value in " + t.name + ".");
        if (!plan_.text_conversions.empty() && plan_.text_conversions[i] != nullptr) {
          plan_.text_conversions[i]->convert(value);
        }
        const auto& mapped = plan_.layout.column_map_columns;
        const bool own = std::find(mapped.begin(), mapped.end(), c.number) != mapped.end();
        batch.long_value_bytes += value.size();
        batch.long_values.push_back(RowBatch::LongValue{at, own ? c.number : -1, std::move(value)});
      }
    }

    // Whether the stored key can be this row's: it starts as ours does. A
    // row our encoder cannot key keeps its stored key.
    bool stored_key_is_the_rows(IndexCopy& index) {
      try {
        if (!index.keys->key_into(values_, row_key_)) return false;
      } catch (const Error& e) {
        if (e.number() != errc::kNotBuiltYet) throw;
        return true;
      }
      return row_key_.empty() || row_key_[0] == index.stored_lead[position_];
    }

    // Forms the row's key for one index into the batch; gives the index up
    // (its stored entries are carried over) when the encoder cannot key
    // some value.
    RowBatch::Key key_of(IndexCopy& index, RowBatch& batch) {
      RowBatch::Key key;
      const bool listed_at_all = !(index.data->ignores_nulls() && all_null(plan_.def, *index.data, values_));
      if (listed_at_all) ++index.listed;
      if (!index.keys) return key;
      if (!index.stored.empty() && index.stored[position_] == 1) {
        // The stored key goes in after the rows, unless the index should not
        // list the row or the key is not the row's.
        if (listed_at_all && stored_key_is_the_rows(index)) return key;
        index.stored[position_] = 0;
      }
      bool listed = false;
      if (!key_or_give_up(*index.keys, values_, row_key_, listed, index.reason)) {
        index.keys.reset();
        key.state = RowBatch::KeyState::kGaveUp;
      } else if (listed) {
        key.state = RowBatch::KeyState::kKey;
        key.begin = batch.key_bytes.size();
        key.size = static_cast<std::uint32_t>(row_key_.size());
        batch.key_bytes.insert(batch.key_bytes.end(), row_key_.begin(), row_key_.end());
      }
      return key;
    }

    Rewriter& w_;
    const TablePlan& plan_;
    const RowTable& rows_;
    std::vector<IndexCopy>& indexes_;  // the reader uses their encoders, reasons and counts only
    const bool copy_long_values_;
    const Column* autonumber_ = nullptr;
    std::vector<bool> wanted_;
    bool decode_ = false;
    bool key_as_read_ = false;  // some key needs a long value: rows are keyed as they are read
    std::size_t next_ = 0;  // in rows_.order
    // Used while reading: the row being read and its split, buffers reused.
    Bytes raw_;
    std::vector<RawField> fields_;
    std::vector<RawField> text_fields_;  // the split convert_row_text uses
    // Used while keying (on the thread that calls key() when rows are not
    // keyed as they are read).
    std::vector<RawField> key_fields_;
    Row values_;
    std::uint32_t position_ = 0;  // of the row being keyed
    Bytes row_key_;
    std::int64_t largest_ = 0;
  };

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

  // A second handle on the source for scanning ahead, opened the first time
  // a table is large enough; none if the source has none or it cannot be
  // opened.
  RewriteSource* second_source() {
    if (!second_tried_) {
      second_tried_ = true;
      try {
        second_ = db_.open_another();
      } catch (const Error&) {
        second_.reset();  // scanning ahead waits for the source instead
      }
    }
    return second_.get();
  }

  RewriteSource& db_;
  std::unique_ptr<RewriteSource> second_;
  bool second_tried_ = false;
  const JetFormat& jet_format_;
  WriteFormat format_;
  const RewriteOptions& options_;
  PageSink sink_;
  // One for the index keys of the table being written, one for the primary
  // keys of the table being scanned (the two may be at work at once).
  Spill index_spill_{""};
  Spill order_spill_{kOrderScratchSuffix};
  std::uint32_t next_page_ = 0;
  std::vector<TablePlan> plans_;
  std::map<std::uint32_t, std::uint32_t> table_ids_;
  std::set<std::uint32_t> taken_ids_;  // object ids in use that are not table ids
  std::map<std::uint16_t, CodePageConversion> conversions_;  // by source code page
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
