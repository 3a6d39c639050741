#include "engine/builder/table_layout.h"

#include <algorithm>
#include <set>

#include "engine/error.h"
#include "engine/format/row_layout.h"
#include "engine/format/text_codec.h"
#include "engine/write/little_endian.h"

namespace jet::build {

namespace {

constexpr int kInvalidArgument = 3001;
// Stamp Access writes into every column and logical index descriptor of a
// fresh file (and at offset 12 of the definition); readers ignore it.
constexpr std::uint32_t kDescriptorStamp = 0x0659;
constexpr std::uint16_t kGeneralSortOrder = 0x0409;
constexpr std::uint8_t kIndexAlwaysSet = 0x80;

[[noreturn]] void refuse(const std::string& why) { throw Error(kInvalidArgument, "Invalid table: " + why + "."); }

std::uint16_t stored_length(const ColumnDesign& c) {
  switch (c.type) {
    case ColumnType::Text:
      if (c.text_length == 0 || c.text_length > 255) refuse("text column '" + c.name + "' must hold 1 to 255 characters");
      return static_cast<std::uint16_t>(c.text_length * 2);
    case ColumnType::Memo:
    case ColumnType::Ole:
      return 0;
    case ColumnType::Binary:
      return 510;
    case ColumnType::Boolean:
      return 1;
    default: {
      Column probe;
      probe.type = c.type;
      return static_cast<std::uint16_t>(fixed_data_size(probe));
    }
  }
}

bool is_variable(ColumnType t) {
  return t == ColumnType::Text || t == ColumnType::Memo || t == ColumnType::Ole || t == ColumnType::Binary;
}

void put_name(Bytes& out, const std::string& name) {
  const Bytes ucs2 = encode_ucs2(utf8_to_utf16(name));
  const std::size_t at = out.size();
  out.resize(at + 2);
  write::put_u16(out, at, static_cast<std::uint32_t>(ucs2.size()));
  out.insert(out.end(), ucs2.begin(), ucs2.end());
}

void append_u32(Bytes& out, std::uint32_t v) {
  const std::size_t at = out.size();
  out.resize(at + 4);
  write::put_u32(out, at, v);
}

}  // namespace

void assign_positions(TableLayout& layout) {
  std::uint16_t var = 0;
  std::uint16_t fixed = 0;
  layout.long_value_columns.clear();
  for (ColumnLayout& c : layout.columns) {
    c.var_index = var;
    if (c.is_fixed()) {
      // Booleans live in the null mask; Access leaves their offset at 0.
      c.fixed_offset = c.type == ColumnType::Boolean ? 0 : fixed;
      Column probe;
      probe.type = c.type;
      probe.length = c.length;
      fixed = static_cast<std::uint16_t>(fixed + fixed_data_size(probe));
    } else {
      c.fixed_offset = 0;
      ++var;
    }
    if (is_long_value(c.type)) layout.long_value_columns.push_back(c.number);
  }
  layout.var_columns = var;
  layout.fixed_area = fixed;
}

TableLayout layout_user_table(const TableDesign& design) {
  if (design.name.empty() || design.name.size() > 64) refuse("a table name must have 1 to 64 characters");
  if (design.columns.empty() || design.columns.size() > 255) refuse("table '" + design.name + "' needs 1 to 255 columns");
  TableLayout layout;
  layout.name = design.name;
  std::set<std::string> names;
  for (const ColumnDesign& c : design.columns) {
    if (c.name.empty() || c.name.size() > 64) refuse("a column name must have 1 to 64 characters");
    if (!names.insert(c.name).second) refuse("column '" + c.name + "' appears twice");
    if (c.autonumber && c.type != ColumnType::Long) refuse("AutoNumber column '" + c.name + "' must be a Long");
    if (c.type == ColumnType::Numeric || c.type == ColumnType::Complex11) {
      refuse("column '" + c.name + "' has a type the builder does not write");
    }
    ColumnLayout col;
    col.name = c.name;
    col.type = c.type;
    col.number = static_cast<std::uint16_t>(layout.columns.size());
    col.column_id = col.number;
    col.length = stored_length(c);
    col.flags = is_variable(c.type) ? 0 : kColumnFixed;
    if (c.autonumber) {
      col.flags |= kColumnAutoNumber;
    } else {
      col.flags |= kColumnUpdatable;
    }
    layout.columns.push_back(col);
  }
  assign_positions(layout);

  bool have_primary = false;
  std::set<std::string> index_names;
  for (const IndexDesign& s : design.indexes) {
    if (s.name.empty() || !index_names.insert(s.name).second) refuse("index names must be present and distinct");
    if (s.columns.empty() || s.columns.size() > 10) refuse("index '" + s.name + "' needs 1 to 10 columns");
    IndexLayout index;
    index.name = s.name;
    for (const std::string& name : s.columns) {
      const auto it = std::find_if(layout.columns.begin(), layout.columns.end(),
                                   [&](const ColumnLayout& c) { return c.name == name; });
      if (it == layout.columns.end()) refuse("index '" + s.name + "' names unknown column '" + name + "'");
      if (it->type == ColumnType::Ole || it->type == ColumnType::Memo || it->type == ColumnType::Binary) {
        refuse("index '" + s.name + "' cannot key column '" + name + "'");
      }
      index.columns.push_back(it->number);
    }
    if (s.primary_key) {
      if (have_primary) refuse("table '" + design.name + "' has two primary keys");
      have_primary = true;
    }
    index.primary_key = s.primary_key;
    index.flags = static_cast<std::uint8_t>(kIndexAlwaysSet | (s.primary_key ? 0x09 : 0) | (s.unique ? 0x01 : 0));
    layout.indexes.push_back(index);
  }
  return layout;
}

Bytes build_table_definition(const TableLayout& layout, const TablePlacement& placement) {
  const std::size_t real = layout.indexes.size();
  Bytes d(63, 0);
  d[0] = 0x02;
  d[1] = 0x01;
  write::put_u32(d, 12, kDescriptorStamp);
  write::put_u32(d, 16, placement.row_count);
  write::put_u32(d, 20, placement.next_autonumber);
  write::put_u32(d, 24, 1);  // AutoNumber increment
  d[40] = layout.system ? 0x53 : 0x4E;
  write::put_u16(d, 41, static_cast<std::uint32_t>(layout.columns.size()));
  write::put_u16(d, 43, layout.var_columns);
  write::put_u16(d, 45, static_cast<std::uint32_t>(layout.columns.size()));
  write::put_u32(d, 47, static_cast<std::uint32_t>(real));
  write::put_u32(d, 51, static_cast<std::uint32_t>(real));
  write::put_u32(d, 55, placement.owned_map);
  write::put_u32(d, 59, placement.free_map);

  for (std::size_t i = 0; i < real; ++i) {
    append_u32(d, 0);
    append_u32(d, placement.index_entries.at(i));
    append_u32(d, 0);
  }
  for (const ColumnLayout& c : layout.columns) {
    Bytes col(25, 0);
    col[0] = static_cast<std::uint8_t>(c.type);
    write::put_u32(col, 1, kDescriptorStamp);
    write::put_u16(col, 5, c.number);
    write::put_u16(col, 7, c.var_index);
    write::put_u16(col, 9, c.column_id);
    write::put_u16(col, 11, kGeneralSortOrder);
    col[15] = static_cast<std::uint8_t>(c.flags | (layout.system ? 0x10 : 0));
    write::put_u16(col, 21, c.fixed_offset);
    write::put_u16(col, 23, c.length);
    d.insert(d.end(), col.begin(), col.end());
  }
  for (const ColumnLayout& c : layout.columns) put_name(d, c.name);

  for (std::size_t i = 0; i < real; ++i) {
    const IndexLayout& index = layout.indexes[i];
    Bytes r(52, 0);
    write::put_u32(r, 0, 0x0783);
    for (std::size_t k = 0; k < 10; ++k) {
      const bool used = k < index.columns.size();
      write::put_u16(r, 4 + 3 * k, used ? index.columns[k] : 0xFFFF);
      r[6 + 3 * k] = used ? 0x01 : 0x00;  // ascending
    }
    write::put_u32(r, 34, placement.index_maps.at(i));
    write::put_u32(r, 38, placement.index_roots.at(i));
    r[46] = index.flags;
    d.insert(d.end(), r.begin(), r.end());
  }
  // Logical indexes go in name order, as Access lists them.
  std::vector<std::size_t> order(real);
  for (std::size_t i = 0; i < real; ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return layout.indexes[a].name < layout.indexes[b].name; });
  for (std::size_t i : order) {
    Bytes l(28, 0);
    write::put_u32(l, 0, kDescriptorStamp);
    write::put_u32(l, 4, static_cast<std::uint32_t>(i));
    write::put_u32(l, 8, static_cast<std::uint32_t>(i));
    write::put_u32(l, 13, 0xFFFFFFFFu);  // no related index
    l[21] = 0x04;
    l[22] = 0x04;
    l[23] = layout.indexes[i].primary_key ? 0x01 : 0x00;
    d.insert(d.end(), l.begin(), l.end());
  }
  for (std::size_t i : order) put_name(d, layout.indexes[i].name);

  for (std::size_t k = 0; k < layout.long_value_columns.size(); ++k) {
    const std::size_t at = d.size();
    d.resize(at + 10);
    write::put_u16(d, at, layout.long_value_columns[k]);
    write::put_u32(d, at + 2, placement.column_owned_maps.at(k));
    write::put_u32(d, at + 6, placement.column_free_maps.at(k));
  }
  d.push_back(0xFF);
  d.push_back(0xFF);
  write::put_u32(d, 8, static_cast<std::uint32_t>(d.size()));
  return d;
}

}  // namespace jet::build
