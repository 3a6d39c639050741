#include "engine/write/object_ids.h"

#include <array>
#include <utility>

#include "engine/error.h"
#include "engine/format/row_layout.h"
#include "engine/format/text_codec.h"
#include "engine/write/little_endian.h"
#include "engine/write/rewrite_context.h"
#include "engine/write/rewrite_source.h"

namespace jet::write {

bool holds_object_ids(std::string_view table, std::string_view column) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kColumns{{
      {"MSysObjects", "Id"},
      {"MSysObjects", "ParentId"},
      {"MSysACEs", "ObjectId"},
      {"MSysQueries", "ObjectId"},
      {"MSysNavPaneObjectIDs", "Id"},
      {"MSysNavPaneGroupToObjects", "ObjectID"},
      // ACE: each complex column names its table, its hidden flat table and
      // the template table of its kind.
      {"MSysComplexColumns", "ConceptualTableID"},
      {"MSysComplexColumns", "FlatTableID"},
      {"MSysComplexColumns", "ComplexTypeObjectID"},
  }};
  for (const auto& [t, c] : kColumns) {
    if (equals_ignoring_ascii_case(t, table) && equals_ignoring_ascii_case(c, column)) return true;
  }
  return false;
}

std::vector<std::size_t> object_id_columns(const TableDef& t) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    if (t.columns[i].type == ColumnType::Long && holds_object_ids(t.name, t.columns[i].name)) out.push_back(i);
  }
  return out;
}

std::set<std::uint32_t> taken_object_ids(RewriteSource& source, const JetFormat& format,
                                         const std::vector<TableDef>& tables) {
  std::set<std::uint32_t> taken;
  for (const TableDef& t : tables) {
    bool any = false;
    for (const Column& c : t.columns) any = any || holds_object_ids(t.name, c.name);
    if (!any) continue;
    source.scan_raw_rows(t, [&](RowPointer, std::span<const std::uint8_t> bytes) {
      const std::vector<RawField> fields = split_row(format, t, bytes);
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const Column& c = t.columns[i];
        if (!holds_object_ids(t.name, c.name) || c.type != ColumnType::Long || fields[i].null) continue;
        if (fields[i].bytes.size() != 4) throw Error(errc::kCannotOpenDatabase, "Damaged row in " + t.name + ".");
        const auto& b = fields[i].bytes;
        taken.insert(static_cast<std::uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16)) |
                     (static_cast<std::uint32_t>(b[3]) << 24));
      }
    });
  }
  for (const TableDef& t : tables) taken.erase(t.definition_page);
  return taken;
}

void patch_object_ids(const JetFormat& format, const TableDef& t, const std::vector<std::size_t>& id_columns,
                      const std::map<std::uint32_t, std::uint32_t>& table_ids, Bytes& raw) {
  if (id_columns.empty()) return;
  const std::vector<RawField> fields = split_row(format, t, raw);
  for (const std::size_t i : id_columns) {
    if (fields[i].null) continue;
    if (fields[i].bytes.size() != 4) throw Error(errc::kCannotOpenDatabase, "Damaged row in " + t.name + ".");
    const std::size_t at = offset_in(raw, fields[i]);
    const auto it = table_ids.find(get_u32(raw, at));
    if (it != table_ids.end()) put_u32(raw, at, it->second);
  }
}

}  // namespace jet::write
