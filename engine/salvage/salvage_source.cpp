#include "engine/salvage/salvage_source.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "engine/error.h"
#include "engine/file/file_errors.h"
#include "engine/format/damaged.h"
#include "engine/format/row_layout.h"
#include "engine/format/table_definition.h"
#include "engine/model/access_tables.h"
#include "engine/format/text_codec.h"
#include "engine/model/system_catalog.h"
#include "engine/read/database.h"
#include "engine/write/header_writer.h"
#include "engine/write/row_builder.h"
#include "engine/write/table_definition_builder.h"

namespace jet::salvage {

namespace {

using system_catalog::kCatalogPage;
// Places past the source's last page: added tables' definition pages
// first, then the pages of rows held in memory, then long values.
constexpr PageNumber kRowPagesFrom = 0x1000;
constexpr PageNumber kLongValuePagesFrom = 0x8000;
constexpr std::uint32_t kSlotsPerPage = 0x100;

Value long_value(std::int32_t v) {
  Value out;
  out.type = ColumnType::Long;
  out.is_null = false;
  out.integer = v;
  return out;
}

Value text_value(ColumnType type, const std::string& utf8) {
  Value out;
  out.type = type;
  out.is_null = false;
  out.text = utf8_to_utf16(utf8);
  return out;
}

Value binary_value(const Bytes& b) {
  Value out;
  out.type = ColumnType::Binary;
  out.is_null = false;
  out.bytes = b;
  return out;
}

write::ColumnLayout column(const std::string& name, ColumnType type, std::uint16_t number, std::uint16_t length) {
  write::ColumnLayout c;
  c.name = name;
  c.type = type;
  c.number = number;
  c.column_id = number;
  c.length = length;
  const bool variable = type == ColumnType::Text || type == ColumnType::Binary || is_long_value(type);
  c.flags = static_cast<std::uint8_t>((variable ? 0 : write::kColumnFixed) | write::kColumnNullable);
  return c;
}

// The log table's columns, as the Windows engine names them.
write::TableLayout log_table_layout(const JetFormat& f) {
  write::TableLayout l;
  l.name = kLogTableName;
  const std::uint16_t text_bytes = f.version == JetVersion::Jet4 ? 510 : 255;
  l.columns = {column("ErrorCode", ColumnType::Long, 0, 4), column("ErrorDescription", ColumnType::Memo, 1, 0),
               column("ErrorRecid", ColumnType::Binary, 2, 255), column("ErrorTable", ColumnType::Text, 3, text_bytes)};
  write::assign_positions(l);
  return l;
}

// A recovery table: the source table's columns exactly as placed there, so
// that its rows' bytes read the same under the new definition; no indexes.
write::TableLayout recovery_table_layout(const TableDef& source, const std::string& name) {
  write::TableLayout l;
  l.name = name;
  std::uint16_t fixed_end = 0;
  for (const Column& c : source.columns) {
    write::ColumnLayout out;
    out.name = c.name;
    out.type = c.type;
    out.number = c.number;
    out.var_index = c.var_index;
    out.column_id = c.column_id;
    out.flags = c.flags;
    out.fixed_offset = c.fixed_offset;
    out.length = c.length;
    if (c.is_fixed() && c.type != ColumnType::Boolean) {
      fixed_end = std::max<std::uint16_t>(fixed_end, static_cast<std::uint16_t>(c.fixed_offset + fixed_data_size(c)));
    }
    if (is_long_value(c.type)) l.long_value_columns.push_back(c.number);
    l.columns.push_back(std::move(out));
  }
  l.var_columns = source.var_column_count;
  l.fixed_area = fixed_end;
  return l;
}

template <typename Body>
bool damage_of_page_one(Body&& body) {
  try {
    body();
    return false;
  } catch (const Error& e) {
    if (is_environment_fault(e)) throw;
    return true;
  } catch (const DamagedData&) {
    return true;
  }
}

std::string free_name(const std::set<std::string>& taken, const std::string& wanted) {
  std::string name = wanted;
  for (int i = 2; taken.count(name) != 0; ++i) name = wanted + "_" + std::to_string(i);
  return name;
}

// ACE keeps the values of each complex column (attachments, multi-value
// fields, version history) in a hidden table named after a GUID. A loss
// there is told as the column's: the hidden table's name alone means
// nothing to the person reading the log.
std::map<std::string, std::string> complex_value_tables(Database& db, const std::vector<SalvagedTable>& tables) {
  std::map<std::string, std::string> out;
  std::map<std::int64_t, std::string> name_of;
  const SalvagedTable* columns = nullptr;
  for (const SalvagedTable& t : tables) {
    name_of[t.def.definition_page] = t.def.name;
    if (t.def.name == "MSysComplexColumns") columns = &t;
  }
  if (columns == nullptr) return out;
  const TableDef& def = columns->def;
  for (RowPointer where : columns->rows) {
    try {
      const std::optional<Bytes> bytes = db.read_row_bytes(where);
      if (!bytes) continue;
      const Row row = db.decode_row(def, *bytes);
      std::string column, table, flat;
      for (std::size_t i = 0; i < def.columns.size() && i < row.size(); ++i) {
        if (def.columns[i].name == "ColumnName") column = utf16_to_utf8(row[i].text);
        if (def.columns[i].name == "ConceptualTableID") table = name_of[row[i].integer];
        if (def.columns[i].name == "FlatTableID") flat = name_of[row[i].integer];
      }
      if (!flat.empty() && !table.empty()) out[flat] = "column '" + column + "' of table '" + table + "'";
    } catch (const Error&) {
      // A damaged row of the list only costs the plainer wording.
    }
  }
  return out;
}

}  // namespace

SalvageSource::~SalvageSource() = default;

SalvageSource::SalvageSource(std::unique_ptr<Database> sibling, std::shared_ptr<const View> view)
    : owned_(std::move(sibling)), db_(*owned_), view_(std::move(view)), first_memory_page_(db_.page_count() + 1) {}

std::unique_ptr<write::RewriteSource> SalvageSource::open_another() {
  return std::unique_ptr<write::RewriteSource>(new SalvageSource(db_.open_sibling(), view_));
}

SalvageSource::SalvageSource(Database& db, SalvagedDatabase salvaged, double now)
    : db_(db), making_(std::make_shared<View>()) {
  making_->log = std::move(salvaged.log);
  build_view(salvaged, now);
  view_ = std::move(making_);
}

void SalvageSource::build_view(SalvagedDatabase& salvaged, double now) {
  Database& db = db_;
  first_memory_page_ = db.page_count() + 1;
  next_table_ = first_memory_page_;
  std::set<std::string> names;
  for (SalvagedTable& t : salvaged.tables) names.insert(t.def.name);

  learn_catalog_owners(salvaged.tables.front());
  const auto complex_tables = complex_value_tables(db, salvaged.tables);

  std::vector<std::pair<TableDef, std::vector<RowPointer>>> recovery;
  std::vector<std::pair<TableDef, std::optional<std::uint32_t>>> unnamed;
  for (SalvagedTable& t : salvaged.tables) {
    for (auto& [where, values] : t.repaired) making_->built.emplace(where, build(t.def, values));
    if (!t.set_aside.empty()) {
      const std::string name = free_name(names, t.def.name + "_Recovered");
      names.insert(name);
      write::TableLayout layout = recovery_table_layout(t.def, name);
      Bytes raw = write::build_table_definition(db.format(), layout, write::TablePlacement::blank(layout),
                                                db.header().code_page);
      put_u16(raw.data() + db.format().tdef_max_columns_offset, t.def.max_columns);
      TableDef def = parse_table_definition(db.format(), raw, db.header().code_page);
      def.raw = std::move(raw);
      def.name = name;
      recovery.emplace_back(std::move(def), std::move(t.set_aside));
    }
    if (!t.named_by_catalog) unnamed.emplace_back(t.def, t.access_flags);
    making_->rows[t.def.definition_page] = std::move(t.rows);
    making_->tables.push_back(std::move(t.def));
  }
  for (const auto& [def, access_flags] : unnamed) add_table_catalog_row(def, access_flags, now);
  add_lost_standard_objects(salvaged.catalog_objects, now);
  for (auto& [def, rows] : recovery) add_table(std::move(def), std::move(rows), now);

  if (!making_->log.empty()) {
    for (Loss& loss : making_->log.mutable_entries()) {
      const auto it = complex_tables.find(loss.table);
      if (it != complex_tables.end()) {
        loss.description += " These were values of the complex " + it->second + "; its rows are kept.";
      }
    }
    const write::TableLayout layout = log_table_layout(db.format());
    Bytes raw = write::build_table_definition(db.format(), layout, write::TablePlacement::blank(layout),
                                              db.header().code_page);
    TableDef def = parse_table_definition(db.format(), raw, db.header().code_page);
    def.raw = std::move(raw);
    def.name = free_name(names, kLogTableName);
    std::vector<RowPointer> rows;
    for (const Loss& loss : making_->log.entries()) {
      Row values(def.columns.size());
      for (std::size_t i = 0; i < def.columns.size(); ++i) values[i].type = def.columns[i].type;
      values[0] = long_value(loss.code);
      values[1] = text_value(ColumnType::Memo, loss.description);
      if (loss.row) {
        Bytes id(4);
        put_u32(id.data(), record_id(*loss.row));
        values[2] = binary_value(id);
      }
      values[3] = text_value(ColumnType::Text, loss.table.substr(0, 255));
      const RowPointer at = next_place();
      making_->built.emplace(at, build(def, values));
      rows.push_back(at);
    }
    add_table(std::move(def), std::move(rows), now);
  }
  give_added_tables_permissions();
}

// Each table the repair adds gets the permissions (MSysACEs rows) of the
// table its catalog row was modelled on, so whoever could open that table
// can open these. A table that still has rows there (one recovered under
// its definition page's number) keeps its own.
void SalvageSource::give_added_tables_permissions() {
  if (added_ids_.empty() || catalog_model_.empty()) return;
  const TableDef& catalog = making_->tables.front();
  const Column* id_column = catalog.find_column("Id");
  if (id_column == nullptr) return;
  const std::int64_t model = catalog_model_.front()[static_cast<std::size_t>(id_column - catalog.columns.data())].integer;
  const auto aces = std::find_if(making_->tables.begin(), making_->tables.end(),
                                 [](const TableDef& t) { return equals_ignoring_ascii_case(t.name, "MSysACEs"); });
  if (aces == making_->tables.end()) return;
  const Column* object = aces->find_column("ObjectId");
  if (object == nullptr) return;
  const std::size_t object_at = static_cast<std::size_t>(object - aces->columns.data());
  std::vector<RowPointer>& rows = making_->rows[aces->definition_page];
  std::set<std::int64_t> with_rows;
  std::vector<Row> model_rows;
  for (RowPointer where : rows) {
    try {
      const auto it = making_->built.find(where);
      const std::optional<Bytes> bytes = it != making_->built.end() ? std::optional<Bytes>(it->second) : db_.read_row_bytes(where);
      if (!bytes) continue;
      Row row = values_without_long_ones(db_, *aces, *bytes);
      with_rows.insert(row[object_at].integer);
      if (row[object_at].integer == model) model_rows.push_back(std::move(row));
    } catch (const Error& e) {
      if (is_environment_fault(e)) throw;
    } catch (const DamagedData&) {
    }
  }
  for (const std::int32_t id : added_ids_) {
    if (with_rows.count(id)) continue;
    for (Row row : model_rows) {
      row[object_at].integer = id;
      const RowPointer at = next_place();
      making_->built.emplace(at, build(*aces, row));
      rows.push_back(at);
    }
  }
}

void SalvageSource::add_table(TableDef def, std::vector<RowPointer> rows, double now) {
  def.definition_page = next_table_++;
  def.definition_pages = {def.definition_page};
  def.row_count = static_cast<std::uint32_t>(rows.size());
  add_table_catalog_row(def, std::nullopt, now);
  making_->rows[def.definition_page] = std::move(rows);
  making_->tables.push_back(std::move(def));
}

// Owners for the catalog rows the copy adds, taken from the rows that are
// left: the database's creator owns its tables, MSysDb and every object
// not flagged as the engine's; the engine owns the rest. A user table's row
// also serves as the model whose permissions added tables get. Where the
// catalog lost every row, the owners a new database gets serve.
void SalvageSource::learn_catalog_owners(const SalvagedTable& catalog) {
  const TableDef& def = catalog.def;
  const Column* id = def.find_column("Id");
  const Column* type = def.find_column("Type");
  const Column* flags = def.find_column("Flags");
  const Column* owner = def.find_column("Owner");
  const auto at = [&](const Column* c) { return static_cast<std::size_t>(c - def.columns.data()); };
  for (RowPointer where : catalog.rows) {
    if (id == nullptr || type == nullptr || flags == nullptr) break;
    if (!catalog_model_.empty() && !creator_owner_.empty() && !engine_owner_.empty()) break;
    try {
      const std::optional<Bytes> bytes = db_.read_row_bytes(where);
      if (!bytes) continue;
      Row row = values_without_long_ones(db_, def, *bytes);
      const std::uint32_t f = static_cast<std::uint32_t>(row[at(flags)].integer);
      const bool engines = (f & system_catalog::kEngineObjectFlags) != 0 && row[at(id)].integer != system_catalog::kMSysDbId;
      if (owner != nullptr && !row[at(owner)].is_null) {
        Bytes& slot = engines ? engine_owner_ : creator_owner_;
        if (slot.empty()) slot = row[at(owner)].bytes;
      }
      if (catalog_model_.empty() && row[at(type)].integer == object_type::kTable && (f & 0x80000002u) == 0) {
        catalog_model_.push_back(std::move(row));
      }
    } catch (const Error& e) {
      if (is_environment_fault(e)) throw;
      // Another row serves.
    } catch (const DamagedData&) {
    }
  }
  if (creator_owner_.empty()) creator_owner_ = system_catalog::kCreatorSid;
  if (engine_owner_.empty()) engine_owner_ = system_catalog::kEngineSid;
}

// The containers and the database object every catalog holds: those the
// damage took (by id, and by parent and name, which the catalog's indexes
// keep unique) are written again as a new database has them.
void SalvageSource::add_lost_standard_objects(const std::vector<CatalogObject>& kept, double now) {
  for (const system_catalog::StandardObject& o : system_catalog::kStandardObjects) {
    const bool present = std::any_of(kept.begin(), kept.end(), [&](const CatalogObject& k) {
      return k.id == o.id || (k.parent_id == o.parent_id && equals_ignoring_ascii_case(k.name, o.name));
    });
    if (present) continue;
    add_catalog_row({o.id, o.parent_id, o.name, o.type, system_catalog::kEngineObjectFlags, o.owned_by_engine}, now);
  }
}

// A table's row: the engine's own tables are flagged and owned as such;
// the user's are remembered, for their permissions.
void SalvageSource::add_table_catalog_row(const TableDef& def, std::optional<std::uint32_t> access_flags,
                                          double now) {
  const auto id = static_cast<std::int32_t>(def.definition_page);
  const bool engines = def.is_system();
  std::uint32_t flags = engines ? system_catalog::kEngineObjectFlags : 0u;
  bool owned_by_engine = engines;
  if (access_flags) {
    flags = *access_flags;
    owned_by_engine = system_catalog::AccessTable{def.name, flags}.owned_by_engine();
  }
  add_catalog_row({id, system_catalog::kTablesContainerId, def.name, system_catalog::kTypeTable, flags,
                   owned_by_engine},
                  now);
  if (!engines) added_ids_.push_back(id);
}

void SalvageSource::add_catalog_row(const NewCatalogRow& object, double now) {
  const TableDef& catalog = making_->tables.front();
  Row entry(catalog.columns.size());
  for (std::size_t i = 0; i < catalog.columns.size(); ++i) {
    const std::string& c = catalog.columns[i].name;
    Value& v = entry[i];
    v.type = catalog.columns[i].type;
    v.is_null = false;
    if (c == "Id") {
      v.integer = object.id;
    } else if (c == "ParentId") {
      v.integer = object.parent_id;
    } else if (c == "Type") {
      v.integer = object.type;
    } else if (c == "Flags") {
      v.integer = static_cast<std::int32_t>(object.flags);
    } else if (c == "Name") {
      v.text = utf8_to_utf16(object.name);
    } else if (c == "DateCreate" || c == "DateUpdate") {
      v.real = now;
    } else if (c == "Owner") {
      v.bytes = object.owned_by_engine ? engine_owner_ : creator_owner_;
    } else {
      v.is_null = true;  // the rest a new object leaves empty
    }
  }
  const RowPointer at = next_place();
  making_->built.emplace(at, build(catalog, entry));
  making_->rows[kCatalogPage].push_back(at);
}

RowPointer SalvageSource::next_place() {
  const std::uint32_t n = next_row_++;
  return RowPointer{first_memory_page_ + kRowPagesFrom + n / kSlotsPerPage, static_cast<std::uint16_t>(n % kSlotsPerPage)};
}

Bytes SalvageSource::build(const TableDef& table, const Row& values) {
  return write::build_row(db_.format(), table, values, db_.header().code_page,
                          [this](const Column&, const Bytes& stored) { return keep_long_value(stored); });
}

Bytes SalvageSource::keep_long_value(const Bytes& stored) {
  const std::uint32_t n = next_long_value_++;
  const std::uint32_t pointer =
      ((first_memory_page_ + kLongValuePagesFrom + n / kSlotsPerPage) << 8) | (n % kSlotsPerPage);
  Bytes field(12, 0);
  put_u32(field.data(), static_cast<std::uint32_t>(stored.size()) & 0x3FFFFFFFu);  // a chain, as far as flags go
  put_u32(field.data() + 4, pointer);
  making_->long_values.emplace(pointer, stored);
  return field;
}

const HeaderInfo& SalvageSource::header() { return db_.header(); }
std::uint32_t SalvageSource::page_count() { return db_.page_count(); }
// Page 1 only lends the copy its layout (the free-page map is made anew),
// so a damaged one is replaced by a new database's.
Bytes SalvageSource::page_one() {
  const write::WriteFormat format = write::WriteFormat::for_version(db_.format().version == JetVersion::Jet4);
  std::optional<Bytes> page;
  if (!damage_of_page_one([&] { page = db_.read_page(1); }) && write::is_free_page_map_page(format, *page)) return *page;
  return write::blank_free_page_map_page(format);
}
std::vector<TableDef> SalvageSource::tables() { return view_->tables; }
Bytes SalvageSource::read_page(PageNumber page) { return db_.read_page(page); }

void SalvageSource::scan_raw_rows(const TableDef& table,
                                  const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit) {
  const auto it = view_->rows.find(table.definition_page);
  if (it == view_->rows.end()) return;
  // Rows the salvage built itself come from memory, the others from the
  // file in stretches between them, in the order listed.
  const std::vector<RowPointer>& rows = it->second;
  std::size_t from_file = 0;
  for (std::size_t i = 0; i <= rows.size(); ++i) {
    const auto built = i < rows.size() ? view_->built.find(rows[i]) : view_->built.end();
    if (i < rows.size() && built == view_->built.end()) continue;
    db_.read_rows_at(std::span<const RowPointer>(rows).subspan(from_file, i - from_file), visit);
    if (i < rows.size()) visit(rows[i], built->second);
    from_file = i + 1;
  }
}

void SalvageSource::release_rows(const TableDef& table) {
  const auto it = view_->rows.find(table.definition_page);
  if (it != view_->rows.end()) std::vector<RowPointer>().swap(it->second);
}

std::optional<Bytes> SalvageSource::read_row(RowPointer where) {
  const auto it = view_->built.find(where);
  if (it != view_->built.end()) return it->second;
  return db_.read_row_bytes(where);
}

write::RewriteSource::RowOrigin SalvageSource::row_origin(RowPointer where) {
  if (where.page >= first_memory_page_) return RowOrigin::kAdded;
  return view_->built.count(where) != 0 ? RowOrigin::kLongValuesLost : RowOrigin::kStored;
}

Bytes SalvageSource::read_long_value(std::span<const std::uint8_t> field) {
  if (field.size() >= 12) {
    const LongValueRef ref = parse_long_value_ref(field);
    if (ref.kind == kLongValueChained) {
      const auto it = view_->long_values.find(ref.row_pointer);
      if (it != view_->long_values.end()) return it->second;
    }
  }
  return db_.read_long_value(field);
}

}  // namespace jet::salvage
