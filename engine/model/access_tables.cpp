#include "engine/model/access_tables.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

namespace jet::system_catalog {
namespace {

struct ColumnDesign {
  std::string_view name;
  ColumnType type;
  bool optional = false;  // present in the later versions of the table only
};

struct Design {
  std::string_view name;
  std::uint32_t flags;
  std::vector<ColumnDesign> columns;
};

constexpr ColumnType kLong = ColumnType::Long;
constexpr ColumnType kText = ColumnType::Text;
constexpr ColumnType kMemo = ColumnType::Memo;
constexpr ColumnType kOle = ColumnType::Ole;
constexpr ColumnType kDate = ColumnType::DateTime;
constexpr ColumnType kInteger = ColumnType::Integer;
constexpr ColumnType kByte = ColumnType::Byte;
constexpr ColumnType kBoolean = ColumnType::Boolean;
constexpr ColumnType kGuid = ColumnType::Guid;

const std::vector<Design>& designs() {
  static const std::vector<Design> all = {
      // Access 2000-2003 keep the data as type 0x11, later versions as binary.
      {"MSysAccessObjects", 0x00000002, {{"ID", kLong}, {"Data", ColumnType::Complex11}}},
      {"MSysAccessObjects", 0x00000002, {{"ID", kLong}, {"Data", ColumnType::Binary}}},
      {"MSysAccessStorage", 0x0000000A,
       {{"Id", kLong}, {"Name", kText}, {"ParentId", kLong}, {"Type", kLong}, {"DateCreate", kDate},
        {"DateUpdate", kDate}, {"Lv", kOle}}},
      {"MSysAccessXML", 0x00000002,
       {{"Id", kLong}, {"ObjectGuid", kGuid}, {"ObjectName", kText}, {"Property", kText}, {"Value", kText},
        {"LValue", kOle}}},
      {"MSysCmdbars", 0x00000002, {{"Grptbcd", kOle}, {"TbName", kText}}},
      {"MSysComplexColumns", 0x80000000,
       {{"ColumnName", kText}, {"ComplexTypeObjectID", kLong}, {"FlatTableID", kLong}, {"ConceptualTableID", kLong},
        {"ComplexID", kLong}}},
      {"MSysComplexType_Attachment", 0x80030000,
       {{"FileURL", kMemo}, {"FileName", kText}, {"FileType", kText}, {"FileData", kOle}, {"FileTimeStamp", kDate},
        {"FileFlags", kLong}}},
      {"MSysComplexType_Decimal", 0x80030000, {{"Value", ColumnType::Numeric}}},
      {"MSysComplexType_GUID", 0x80030000, {{"Value", kGuid}}},
      {"MSysComplexType_IEEEDouble", 0x80030000, {{"Value", ColumnType::Double}}},
      {"MSysComplexType_IEEESingle", 0x80030000, {{"Value", ColumnType::Single}}},
      {"MSysComplexType_Long", 0x80030000, {{"Value", kLong}}},
      {"MSysComplexType_Short", 0x80030000, {{"Value", kInteger}}},
      {"MSysComplexType_Text", 0x80030000, {{"Value", kText}}},
      {"MSysComplexType_UnsignedByte", 0x80030000, {{"Value", kByte}}},
      {"MSysIMEXColumns", 0x00000002,
       {{"SpecID", kLong}, {"FieldName", kText}, {"DataType", kInteger}, {"Start", kInteger}, {"Width", kInteger},
        {"IndexType", kByte}, {"SkipColumn", kBoolean}, {"Attributes", kLong, true}}},
      {"MSysIMEXSpecs", 0x00000002,
       {{"SpecName", kText}, {"SpecID", kLong}, {"SpecType", kByte}, {"FileType", kInteger},
        {"DateFourDigitYear", kBoolean}, {"DateLeadingZeros", kBoolean}, {"DateOrder", kInteger},
        {"DateDelim", kText}, {"TimeDelim", kText}, {"DecimalPoint", kText}, {"FieldSeparator", kText},
        {"TextDelim", kText}, {"StartRow", kLong}}},
      {"MSysModules", 0x00000002, {{"__A__", kText}}},
      {"MSysModules2", 0x00000002,
       {{"Name", kText}, {"Type", kLong}, {"Version", kLong}, {"ReplicationVersion", kLong}, {"Flags", kLong},
        {"Module", kOle}, {"Form", kOle}, {"TypeInfo", kOle}}},
      {"MSysNameMap", 0x0000000A, {{"Id", kLong}, {"Name", kText}, {"Type", kLong}, {"GUID", kGuid}, {"NameMap", kOle}}},
      {"MSysNavPaneGroupCategories", 0x0000000A,
       {{"Id", kLong}, {"Name", kText}, {"Type", kLong}, {"SelectedObjectID", kLong}, {"Filter", kText},
        {"Position", kLong}, {"Flags", kLong}}},
      {"MSysNavPaneGroupToObjects", 0x0000000A,
       {{"Id", kLong}, {"ObjectID", kLong}, {"GroupID", kLong}, {"Name", kText}, {"Position", kLong},
        {"Icon", kLong}, {"Flags", kLong}}},
      {"MSysNavPaneGroups", 0x0000000A,
       {{"Id", kLong}, {"Name", kText}, {"GroupCategoryID", kLong}, {"ObjectID", kLong}, {"Position", kLong},
        {"Object Type Group", kLong}, {"Flags", kLong}}},
      {"MSysNavPaneObjectIDs", 0x0000000A, {{"Id", kLong}, {"Name", kText}, {"Type", kLong}}},
      {"MSysResources", 0x0004000A,
       {{"Id", kLong}, {"Name", kText}, {"Type", kText}, {"Extension", kText}, {"Data", ColumnType::Complex}}},
      {"MSysSQLComments", 0x00000002, {{"queryname", kMemo}, {"comment", kMemo}}},
      {"MSysWSDPCacheComplexColumnMapping", 0x8002000A,
       {{"TableName", kText}, {"ComplexColumn", kText}, {"ComplexSrcColumn", kText}, {"ChildTableName", kText}}},
      {"MSysWSDPChangeTokenMapping", 0x8002000A,
       {{"TableName", kText}, {"LastChangeToken", kText}, {"References", kLong}, {"Pending", kLong},
        {"XASSite", kLong}, {"ErrorLoading", kLong}, {"Connect", kMemo}}},
      {"MSysWSDPRelationshipMapping", 0x8002000A,
       {{"ParentTableName", kMemo}, {"ParentColName", kText}, {"ChildTableName", kMemo}, {"ChildColName", kText},
        {"LookupType", kText}}},
  };
  return all;
}

bool matches(const Design& d, const TableDef& t) {
  std::size_t required = 0;
  for (const ColumnDesign& c : d.columns) {
    const Column* found = t.find_column(c.name);
    if (found == nullptr) {
      if (!c.optional) return false;
      continue;
    }
    if (found->type != c.type) return false;
    ++required;
  }
  return required == t.columns.size();
}

}  // namespace

std::optional<AccessTable> access_table_by_design(const TableDef& t) {
  if (t.columns.empty()) return std::nullopt;
  for (const Design& d : designs()) {
    if (matches(d, t)) return AccessTable{std::string(d.name), d.flags};
  }
  return std::nullopt;
}

std::vector<std::string> access_table_names() {
  std::vector<std::string> names;
  for (const Design& d : designs()) {
    if (names.empty() || names.back() != d.name) names.emplace_back(d.name);
  }
  return names;
}

}  // namespace jet::system_catalog
