#include "engine/builder/system_tables.h"

#include "engine/format/text_codec.h"

namespace jet::build {

namespace {

// The definition builder adds kColumnUpdatable to every system column.
constexpr std::uint8_t kSysFixed = write::kColumnFixed | write::kColumnNullable;
constexpr std::uint8_t kSysVariable = write::kColumnNullable;
constexpr std::uint8_t kSysOwner = write::kColumnNullable | 0x20;  // what Access keeps on the SID columns
constexpr std::uint32_t kSystemObjectFlag = system_catalog::kEngineObjectFlags;

struct ColumnDef {
  const char* name;
  ColumnType type;
  std::uint8_t flags;
  std::uint16_t length;
};

// Lengths are given as Jet 4 stores them; Jet 3 text and binary columns
// hold half as many bytes (one byte a character).
TableLayout make(bool jet4, const char* name, std::initializer_list<ColumnDef> columns) {
  TableLayout t;
  t.name = name;
  t.system = true;
  for (const ColumnDef& d : columns) {
    ColumnLayout c;
    c.name = d.name;
    c.type = d.type;
    c.flags = d.flags;
    c.length = jet4 || (d.type != ColumnType::Text && d.type != ColumnType::Binary) ? d.length
                                                                                   : static_cast<std::uint16_t>(d.length / 2);
    c.number = static_cast<std::uint16_t>(t.columns.size());
    t.columns.push_back(c);
  }
  write::assign_positions(t);
  return t;
}

IndexLayout index(const char* name, std::vector<std::uint16_t> columns, std::uint8_t flags, bool primary = false) {
  return IndexLayout{name, std::move(columns), flags, primary};
}

Value long_value(std::int64_t v) { return Value{ColumnType::Long, false, v, 0, {}, {}, {}}; }
Value integer_value(std::int64_t v) { return Value{ColumnType::Integer, false, v, 0, {}, {}, {}}; }
Value text_value(const std::string& s) { return Value{ColumnType::Text, false, 0, 0, utf8_to_utf16(s), {}, {}}; }
Value date_value(double d) { return Value{ColumnType::DateTime, false, 0, d, {}, {}, {}}; }
Value binary_value(Bytes b) { return Value{ColumnType::Binary, false, 0, 0, {}, std::move(b), {}}; }
Value boolean_value(bool b) { return Value{ColumnType::Boolean, false, b ? 1 : 0, 0, {}, {}, {}}; }
Value null_of(ColumnType t) { return Value{t, true, 0, 0, {}, {}, {}}; }

using system_catalog::kAdminsSid;
using system_catalog::kCreatorSid;
using system_catalog::kEngineSid;
using system_catalog::kUsersSid;

}  // namespace

TableLayout system_table_layout(SystemTable which, JetVersion version) {
  const bool jet4 = version == JetVersion::Jet4;
  const ColumnType L = ColumnType::Long, T = ColumnType::Text, D = ColumnType::DateTime, B = ColumnType::Binary,
                   M = ColumnType::Memo, O = ColumnType::Ole, I = ColumnType::Integer;
  switch (which) {
    case SystemTable::kObjects: {
      TableLayout t = make(jet4, "MSysObjects", {{"Id", L, kSysFixed, 4},           {"ParentId", L, kSysFixed, 4},
                                           {"Name", T, kSysVariable, 510},    {"Type", I, kSysFixed, 2},
                                           {"DateCreate", D, kSysFixed, 8},   {"DateUpdate", D, kSysFixed, 8},
                                           {"Owner", B, kSysOwner, 510},      {"Flags", L, kSysFixed, 4},
                                           {"Database", M, kSysVariable, 0},  {"Connect", M, kSysVariable, 0},
                                           {"ForeignName", T, kSysVariable, 510}, {"RmtInfoShort", B, kSysVariable, 510},
                                           {"RmtInfoLong", O, kSysVariable, 0}, {"Lv", O, kSysVariable, 0},
                                           {"LvProp", O, kSysVariable, 0},    {"LvModule", O, kSysVariable, 0},
                                           {"LvExtra", O, kSysVariable, 0}});
      t.indexes = {index("ParentIdName", {1, 2}, 0x81), index("Id", {0}, 0x81, true)};
      return t;
    }
    case SystemTable::kAces: {
      TableLayout t = make(jet4, "MSysACEs", {{"ObjectId", L, kSysFixed, 4},
                                        {"SID", B, kSysOwner, 510},
                                        {"ACM", L, kSysFixed, 4},
                                        {"FInheritable", ColumnType::Boolean, kSysFixed, 1}});
      t.indexes = {index("ObjectId", {0}, 0x88)};
      return t;
    }
    case SystemTable::kQueries: {
      TableLayout t = make(jet4, "MSysQueries", {{"ObjectId", L, kSysFixed, 4},
                                           {"Attribute", ColumnType::Byte, kSysFixed, 1},
                                           {"Order", B, kSysVariable, 510},
                                           {"Name1", T, kSysVariable, 510},
                                           {"Name2", T, kSysVariable, 510},
                                           {"Expression", M, kSysVariable, 0},
                                           {"Flag", I, kSysFixed, 2},
                                           {"LvExtra", L, kSysFixed, 4}});
      if (!jet4) t.columns.pop_back();  // Access 97 has no LvExtra here
      write::assign_positions(t);
      t.indexes = {index("ObjectIdAttribute", {0, 1, 2}, 0x81, true)};
      return t;
    }
    case SystemTable::kRelationships: {
      TableLayout t = make(jet4, "MSysRelationships", {{"szRelationship", T, kSysVariable, 510},
                                                 {"grbit", L, kSysFixed, 4},
                                                 {"ccolumn", L, kSysFixed, 4},
                                                 {"icolumn", L, kSysFixed, 4},
                                                 {"szObject", T, kSysVariable, 510},
                                                 {"szColumn", T, kSysVariable, 510},
                                                 {"szReferencedObject", T, kSysVariable, 510},
                                                 {"szReferencedColumn", T, kSysVariable, 510}});
      t.indexes = {index("szRelationship", {0}, 0x82), index("szObject", {4}, 0x82),
                   index("szReferencedObject", {6}, 0x82)};
      return t;
    }
  }
  return {};
}

Row catalog_row(std::int32_t id, std::int32_t parent_id, const std::string& name, std::int16_t type,
                std::uint32_t flags, double created, const Bytes& owner) {
  Row r;
  r.push_back(long_value(id));
  r.push_back(long_value(parent_id));
  r.push_back(text_value(name));
  r.push_back(integer_value(type));
  r.push_back(date_value(created));
  r.push_back(date_value(created));
  r.push_back(binary_value(owner));
  r.push_back(long_value(static_cast<std::int32_t>(flags)));
  for (ColumnType t : {ColumnType::Memo, ColumnType::Memo, ColumnType::Text, ColumnType::Binary, ColumnType::Ole,
                       ColumnType::Ole, ColumnType::Ole, ColumnType::Ole, ColumnType::Ole}) {
    r.push_back(null_of(t));
  }
  return r;
}

std::vector<Row> standard_catalog_rows(double created) {
  std::vector<Row> rows;
  for (const system_catalog::StandardObject& o : system_catalog::kStandardObjects) {
    rows.push_back(catalog_row(o.id, o.parent_id, o.name, o.type, kSystemObjectFlag, created,
                               o.owned_by_engine ? kEngineSid : kCreatorSid));
  }
  return rows;
}

Row table_catalog_row(std::uint32_t page, const std::string& name, bool system, double created) {
  return catalog_row(static_cast<std::int32_t>(page), kTablesContainerId, name, 1, system ? kSystemObjectFlag : 0,
                     created, kEngineSid);
}

std::vector<Row> standard_ace_rows() {
  const auto ace = [](std::int32_t object, const Bytes& sid, std::int32_t acm, bool inheritable) {
    return Row{long_value(object), binary_value(sid), long_value(acm), boolean_value(inheritable)};
  };
  return {ace(2, kCreatorSid, 393216, false),
          ace(3, kCreatorSid, 393216, false),
          ace(4, kCreatorSid, 393216, false),
          ace(5, kCreatorSid, 917504, false),
          ace(kTablesContainerId, kUsersSid, 983294, true),
          ace(kTablesContainerId, kCreatorSid, 393217, false),
          ace(kRelationshipsContainerId, kUsersSid, 983294, true),
          ace(kRelationshipsContainerId, kCreatorSid, 393217, false),
          ace(kDatabasesContainerId, kCreatorSid, 393216, false),
          ace(kMSysDbId, kCreatorSid, 393230, false),
          ace(kMSysDbId, kAdminsSid, 14, false),
          ace(4, kAdminsSid, 20, false),
          ace(5, kAdminsSid, 20, false),
          ace(2, kAdminsSid, 20, false),
          ace(kTablesContainerId, kAdminsSid, 1048319, true),
          ace(kRelationshipsContainerId, kAdminsSid, 1048575, true)};
}

}  // namespace jet::build
