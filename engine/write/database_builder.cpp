#include "engine/write/database_builder.h"

#include <cstring>
#include <filesystem>

#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/format/row_layout.h"
#include "engine/format/text_codec.h"
#include "engine/write/data_page_builder.h"
#include "engine/write/database_rewriter.h"
#include "engine/write/little_endian.h"
#include "engine/write/rewrite_source.h"
#include "engine/write/row_builder.h"
#include "engine/write/usage_map_builder.h"

namespace jet::write {

namespace {

constexpr std::uint16_t kCodePage = 1252;
constexpr std::uint32_t kGeneralOrder = 0x0409;
constexpr double kCreated = 46000.5;  // a fixed date keeps built files reproducible
constexpr std::int32_t kTablesContainer = 0x0F000001;
constexpr std::int32_t kRootContainer = 0x0F000000;
constexpr std::uint32_t kSystemObjectFlags = 0x80000000u;
constexpr int kTableAlreadyExists = 3010;

Value long_value(std::int64_t v) {
  Value x;
  x.type = ColumnType::Long;
  x.is_null = false;
  x.integer = v;
  return x;
}

Value text_value(const std::string& s) {
  Value x;
  x.type = ColumnType::Text;
  x.is_null = false;
  x.text = utf8_to_utf16(s);
  return x;
}

TableDesign catalog_design() {
  TableDesign s{"MSysObjects", {}, {}, true};
  auto col = [&](const char* name, ColumnType type, std::uint16_t size = 0) { s.columns.push_back({name, type, size, false, false}); };
  col("Id", ColumnType::Long);
  col("ParentId", ColumnType::Long);
  col("Name", ColumnType::Text, 255);
  col("Type", ColumnType::Integer);
  col("DateCreate", ColumnType::DateTime);
  col("DateUpdate", ColumnType::DateTime);
  col("Owner", ColumnType::Binary, 255);
  col("Flags", ColumnType::Long);
  col("Database", ColumnType::Memo);
  col("Connect", ColumnType::Memo);
  col("ForeignName", ColumnType::Text, 255);
  col("RmtInfoShort", ColumnType::Binary, 255);
  col("RmtInfoLong", ColumnType::Ole);
  col("Lv", ColumnType::Ole);
  col("LvProp", ColumnType::Ole);
  col("LvModule", ColumnType::Ole);
  col("LvExtra", ColumnType::Ole);
  s.indexes.push_back({"Id", {"Id"}, true, true});
  s.indexes.push_back({"ParentIdName", {"ParentId", "Name"}, false, true});
  return s;
}

std::vector<TableDesign> other_system_designs() {
  std::vector<TableDesign> out;
  out.push_back({"MSysACEs",
                 {{"ACM", ColumnType::Long, 0, false, false},
                  {"FInheritable", ColumnType::Boolean, 0, false, false},
                  {"ObjectId", ColumnType::Long, 0, false, false},
                  {"SID", ColumnType::Binary, 255, false, false}},
                 {{"ObjectId", {"ObjectId"}, false, false}},
                 true});
  out.push_back({"MSysQueries",
                 {{"Attribute", ColumnType::Byte, 0, false, false},
                  {"Expression", ColumnType::Memo, 0, false, false},
                  {"Flag", ColumnType::Integer, 0, false, false},
                  {"LvExtra", ColumnType::Ole, 0, false, false},
                  {"Name1", ColumnType::Text, 255, false, false},
                  {"Name2", ColumnType::Text, 255, false, false},
                  {"ObjectId", ColumnType::Long, 0, false, false},
                  {"Order", ColumnType::Binary, 255, false, false}},
                 {{"ObjectIdAttribute", {"ObjectId", "Attribute"}, false, false}},
                 true});
  out.push_back({"MSysRelationships",
                 {{"ccolumn", ColumnType::Long, 0, false, false},
                  {"grbit", ColumnType::Long, 0, false, false},
                  {"icolumn", ColumnType::Long, 0, false, false},
                  {"szColumn", ColumnType::Text, 64, false, false},
                  {"szObject", ColumnType::Text, 64, false, false},
                  {"szReferencedColumn", ColumnType::Text, 64, false, false},
                  {"szReferencedObject", ColumnType::Text, 64, false, false},
                  {"szRelationship", ColumnType::Text, 64, false, false}},
                 {},
                 true});
  return out;
}

}  // namespace

struct DatabaseBuilder::Table {
  TableDef def;
  std::vector<Row> rows;
  std::int64_t next_autonumber = 1;
};

// Serves the builder's tables to the rewriter: rows are laid out by the row
// builder, long values wait in memory under a made-up reference.
class BuiltSource : public RewriteSource {
 public:
  BuiltSource(const JetFormat& format, const std::optional<std::u16string>& password,
              const std::vector<std::unique_ptr<DatabaseBuilder::Table>>& tables)
      : format_(format), tables_(tables) {
    header_.format = &format;
    header_.version_byte = format.version == JetVersion::Jet4 ? 1 : 0;
    header_.code_page = kCodePage;
    header_.sort_order = kGeneralOrder;
    header_.creation_date = format.header_creation_date_offset >= 0 ? kCreated : 0;
    header_.unmasked.assign(format.page_size, 0);
    Bytes& h = header_.unmasked;
    const char magic[] = "\x00\x01\x00\x00Standard Jet DB";
    std::memcpy(h.data(), magic, sizeof magic - 1);
    h[0x14] = header_.version_byte;
    // Access writes this counting sequence at the start of the masked region.
    for (std::uint32_t i = 0; i < 6; ++i) put_u32(h, 0x18 + 4 * i, i == 0 ? 0x100 : (i == 1 ? 0x101 : i));
    put_u16(h, format.header_code_page_offset, kCodePage);
    put_u16(h, format.header_sort_order_offset, kGeneralOrder);
    if (format.header_creation_date_offset >= 0) {
      std::memcpy(h.data() + format.header_creation_date_offset, &kCreated, sizeof kCreated);
      toggle_password_date_mask(format, h.data());  // an empty password, as stored under its mask
    }
    (void)password;  // set by the rewriter, which masks it properly
  }

  const HeaderInfo& header() override { return header_; }
  std::uint32_t page_count() override { return 0; }
  Bytes page_one() override {
    const WriteFormat f = WriteFormat::for_version(format_.version == JetVersion::Jet4);
    DataPageBuilder page(f, 1);
    page.add(build_inline_map(f, {}));
    page.add(build_inline_map(f, {}));
    return page.page();
  }
  std::vector<TableDef> tables() override {
    std::vector<TableDef> out;
    for (const auto& t : tables_) out.push_back(t->def);
    return out;
  }
  void scan_raw_rows(const TableDef& table,
                     const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit) override {
    for (const auto& t : tables_) {
      if (t->def.definition_page != table.definition_page) continue;
      for (std::size_t i = 0; i < t->rows.size(); ++i) {
        const RowPointer at = place_of(*t, i);
        visit(at, *read_row(at));
      }
    }
  }
  // A row's place names its table's definition page in the low 24 bits and
  // its position in the rest, so tables may hold more rows than a page does.
  static RowPointer place_of(const DatabaseBuilder::Table& t, std::size_t i) {
    return RowPointer{t.def.definition_page | static_cast<PageNumber>((i >> 16) << 24), static_cast<std::uint16_t>(i & 0xFFFF)};
  }
  // Rows are encoded again on each read; their long values go on a shelf
  // and the row's reference names the shelf slot.
  std::optional<Bytes> read_row(RowPointer where) override {
    const std::size_t i = (std::size_t{where.page >> 24} << 16) | where.row;
    for (const auto& t : tables_) {
      if (t->def.definition_page != (where.page & 0xFFFFFFu) || i >= t->rows.size()) continue;
      return build_row(format_, t->def, t->rows[i], kCodePage, [&](const Bytes& v) {
        Bytes field(12, 0);
        put_u32(field, 0, static_cast<std::uint32_t>(v.size()));
        put_u32(field, 4, static_cast<std::uint32_t>(shelf_.size()));
        shelf_.push_back(v);
        return field;
      });
    }
    return std::nullopt;
  }
  Bytes read_long_value(std::span<const std::uint8_t> field) override {
    const std::uint32_t slot = static_cast<std::uint32_t>(field[4] | (field[5] << 8) | (field[6] << 16) | (field[7] << 24));
    if (slot >= shelf_.size()) throw Error(errc::kCannotOpenDatabase, "Internal error: unknown long value.");
    return shelf_[slot];
  }
  Bytes read_page(PageNumber) override {
    throw Error(errc::kCannotOpenDatabase, "Internal error: a new database has no stored index to carry over.");
  }

 private:
  const JetFormat& format_;
  const std::vector<std::unique_ptr<DatabaseBuilder::Table>>& tables_;
  HeaderInfo header_;
  std::vector<Bytes> shelf_;
};

DatabaseBuilder::DatabaseBuilder(JetVersion version)
    : format_(version == JetVersion::Jet4 ? jet4_format() : jet3_format()) {
  create_table(catalog_design());
  for (const TableDesign& s : other_system_designs()) create_table(s);
}

DatabaseBuilder::~DatabaseBuilder() = default;

void DatabaseBuilder::set_password(const std::string& utf8) { password_ = utf8_to_utf16(utf8); }

DatabaseBuilder::Table& DatabaseBuilder::find(const std::string& name) {
  for (auto& t : tables_) {
    if (equals_ignoring_ascii_case(t->def.name, name)) return *t;
  }
  throw Error(3078, "The database engine cannot find the input table or query '" + name + "'.");
}

void DatabaseBuilder::create_table(const TableDesign& design) {
  for (auto& t : tables_) {
    if (equals_ignoring_ascii_case(t->def.name, design.name)) {
      throw Error(kTableAlreadyExists, "Table '" + design.name + "' already exists.");
    }
  }
  auto table = std::make_unique<Table>();
  table->def = build_table_definition(format_, design, kCodePage);
  // Ids only need to differ here; the rewriter gives each table its page.
  table->def.definition_page = static_cast<PageNumber>(2 + tables_.size());
  tables_.push_back(std::move(table));
  if (tables_.size() == 1) return;  // the catalog lists itself below, once it exists
  if (tables_.size() == 2) append_catalog_row(tables_.front()->def);
  append_catalog_row(tables_.back()->def);
}

void DatabaseBuilder::append_catalog_row(const TableDef& def) {
  Table& catalog = *tables_.front();
  Row row(catalog.def.columns.size());
  for (std::size_t i = 0; i < row.size(); ++i) row[i].type = catalog.def.columns[i].type;
  row[0] = long_value(def.definition_page);
  row[1] = long_value(kTablesContainer);
  row[2] = text_value(def.name);
  row[3] = long_value(1);
  row[3].type = ColumnType::Integer;
  for (int k : {4, 5}) {
    row[static_cast<std::size_t>(k)].type = ColumnType::DateTime;
    row[static_cast<std::size_t>(k)].is_null = false;
    row[static_cast<std::size_t>(k)].real = kCreated;
  }
  row[7] = long_value(def.is_system() ? static_cast<std::int32_t>(kSystemObjectFlags) : 0);
  catalog.rows.push_back(std::move(row));
}

void DatabaseBuilder::append_row(const std::string& name, Row row) {
  Table& t = find(name);
  if (row.size() != t.def.columns.size()) throw Error(errc::kNotBuiltYet, "Row of table " + name + " has the wrong number of values.");
  for (std::size_t i = 0; i < row.size(); ++i) {
    const Column& c = t.def.columns[i];
    row[i].type = c.type;
    if (c.is_autonumber()) {
      if (row[i].is_null) row[i] = long_value(t.next_autonumber);
      t.next_autonumber = std::max(t.next_autonumber, row[i].integer + 1);
    }
  }
  t.rows.push_back(std::move(row));
}

void DatabaseBuilder::write(const std::string& path, Env* env) {
  Env& fs = env ? *env : default_env();
  // The containers the catalog's tables hang under.
  BuiltSource source(format_, password_, tables_);
  auto out = fs.create_exclusive(path);
  try {
    RewriteOptions options;
    options.new_password = password_;
    rewrite_database(source, *out, options);
    out->sync();
    out->close();
  } catch (...) {
    out.reset();
    try {
      fs.remove(path);
    } catch (...) {
      // The original failure is the one to report.
    }
    throw;
  }
}

}  // namespace jet::write
