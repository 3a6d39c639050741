#include "engine/write/table_definition_builder.h"

#include <algorithm>

#include "engine/format/row_layout.h"
#include "engine/format/text_codec.h"
#include "engine/write/little_endian.h"

namespace jet::write {

namespace {

// Stamps Access writes into every Jet 4 definition (at offset 12), column
// and logical index descriptor (0x0659) and physical index descriptor
// (0x0783); readers ignore them.
constexpr std::uint32_t kDescriptorStamp = 0x0659;
constexpr std::uint32_t kIndexStamp = 0x0783;
constexpr std::uint16_t kGeneralSortOrder = 0x0409;
// Jet 4 sets this bit on every physical index; Jet 3 has no such bit.
constexpr std::uint8_t kJet4IndexAlwaysSet = 0x80;
constexpr std::uint8_t kAscending = 0x01;

void append(Bytes& out, std::size_t n) { out.resize(out.size() + n, 0); }

void put_name(const JetFormat& f, Bytes& out, const std::string& name, std::uint16_t code_page) {
  const std::u16string text = utf8_to_utf16(name);
  const Bytes stored = f.text_is_ucs2() ? encode_ucs2(text) : encode_code_page(text, code_page);
  out.push_back(static_cast<std::uint8_t>(stored.size()));
  if (f.name_length_size == 2) out.push_back(static_cast<std::uint8_t>(stored.size() >> 8));
  out.insert(out.end(), stored.begin(), stored.end());
}

}  // namespace

TablePlacement TablePlacement::blank(const TableLayout& layout) {
  TablePlacement p;
  p.index_maps.assign(layout.indexes.size(), 0);
  p.index_roots.assign(layout.indexes.size(), 0);
  p.index_entries.assign(layout.indexes.size(), 0);
  p.column_owned_maps.assign(layout.long_value_columns.size(), 0);
  p.column_free_maps.assign(layout.long_value_columns.size(), 0);
  return p;
}

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

Bytes build_table_definition(const JetFormat& f, const TableLayout& layout, const TablePlacement& placement,
                             std::uint16_t code_page) {
  const bool jet4 = f.version == JetVersion::Jet4;
  const std::size_t real = layout.indexes.size();
  Bytes d(f.tdef_index_block_offset, 0);
  d[0] = 0x02;
  d[1] = 0x01;
  if (jet4) {
    put_u32(d, 12, kDescriptorStamp);
    put_u32(d, 24, 1);  // AutoNumber increment
  } else {
    d[2] = 'V';
    d[3] = 'C';
  }
  put_u32(d, f.tdef_row_count_offset, placement.row_count);
  put_u32(d, f.tdef_autonumber_offset, placement.next_autonumber);
  d[f.tdef_table_type_offset] = layout.system ? 0x53 : 0x4E;
  put_u16(d, f.tdef_max_columns_offset, static_cast<std::uint32_t>(layout.columns.size()));
  put_u16(d, f.tdef_var_column_count_offset, layout.var_columns);
  put_u16(d, f.tdef_column_count_offset, static_cast<std::uint32_t>(layout.columns.size()));
  put_u32(d, f.tdef_logical_index_count_offset, static_cast<std::uint32_t>(real));
  put_u32(d, f.tdef_index_data_count_offset, static_cast<std::uint32_t>(real));
  put_u32(d, f.tdef_owned_pages_offset, placement.owned_map);
  put_u32(d, f.tdef_free_pages_offset, placement.free_map);

  for (std::size_t i = 0; i < real; ++i) {
    const std::size_t at = d.size();
    append(d, f.tdef_index_count_entry_size);
    put_u32(d, at + f.tdef_index_count_row_offset, placement.index_entries.at(i));
  }
  for (const ColumnLayout& c : layout.columns) {
    const std::size_t at = d.size();
    append(d, f.column_descriptor_size);
    d[at + f.column_type_offset] = static_cast<std::uint8_t>(c.type);
    if (jet4) {
      put_u32(d, at + 1, kDescriptorStamp);
    } else {
      put_u16(d, at + 7, 1);  // as Access 97 writes it
    }
    put_u16(d, at + f.column_number_offset, c.number);
    put_u16(d, at + f.column_var_index_offset, c.var_index);
    put_u16(d, at + f.column_id_offset, c.column_id);
    put_u16(d, at + f.column_sort_order_offset, kGeneralSortOrder);
    if (f.column_code_page_offset >= 0) put_u16(d, at + static_cast<std::size_t>(f.column_code_page_offset), code_page);
    d[at + f.column_flags_offset] = static_cast<std::uint8_t>(c.flags | (layout.system ? kColumnUpdatable : 0));
    put_u16(d, at + f.column_fixed_offset_offset, c.fixed_offset);
    put_u16(d, at + f.column_length_offset, c.length);
  }
  for (const ColumnLayout& c : layout.columns) put_name(f, d, c.name, code_page);

  for (std::size_t i = 0; i < real; ++i) {
    const IndexLayout& index = layout.indexes[i];
    const std::size_t at = d.size();
    append(d, f.index_data_entry_size);
    if (jet4) put_u32(d, at, kIndexStamp);
    std::size_t p = at + f.index_data_leading_skip;
    for (std::uint32_t k = 0; k < f.index_columns_per_entry; ++k, p += 3) {
      const bool used = k < index.columns.size();
      put_u16(d, p, used ? index.columns[k] : 0xFFFF);
      d[p + 2] = used ? kAscending : 0x00;
    }
    put_u32(d, p, placement.index_maps.at(i));
    put_u32(d, p + 4, placement.index_roots.at(i));
    d[p + 8 + f.index_data_flags_skip] =
        jet4 ? index.flags : static_cast<std::uint8_t>(index.flags & ~kJet4IndexAlwaysSet);
  }
  // Logical indexes go in name order, as Access lists them.
  std::vector<std::size_t> order(real);
  for (std::size_t i = 0; i < real; ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return layout.indexes[a].name < layout.indexes[b].name; });
  for (std::size_t i : order) {
    const std::size_t at = d.size();
    append(d, f.logical_index_entry_size);
    if (jet4) put_u32(d, at, kDescriptorStamp);
    const std::size_t p = at + f.logical_index_leading_skip;
    put_u32(d, p, static_cast<std::uint32_t>(i));
    put_u32(d, p + 4, static_cast<std::uint32_t>(i));
    put_u32(d, p + 9, 0xFFFFFFFFu);  // no related index
    d[p + 17] = 0x04;                // both versions carry these two bytes on plain indexes
    d[p + 18] = 0x04;
    d[p + 19] = layout.indexes[i].primary_key ? 0x01 : 0x00;
  }
  for (std::size_t i : order) put_name(f, d, layout.indexes[i].name, code_page);

  for (std::size_t k = 0; k < layout.long_value_columns.size(); ++k) {
    const std::size_t at = d.size();
    append(d, 10);
    put_u16(d, at, layout.long_value_columns[k]);
    put_u32(d, at + 2, placement.column_owned_maps.at(k));
    put_u32(d, at + 6, placement.column_free_maps.at(k));
  }
  d.push_back(0xFF);
  d.push_back(0xFF);
  put_u32(d, f.tdef_length_offset, static_cast<std::uint32_t>(d.size()));
  return d;
}

}  // namespace jet::write
