#include "engine/write/table_definition_builder.h"

#include "engine/error.h"
#include "engine/format/row_layout.h"
#include "engine/format/text_codec.h"
#include "engine/write/little_endian.h"

namespace jet::write {

namespace {

// Values Access writes in every definition; their meaning is unknown.
constexpr std::uint32_t kTableMagic = 0x0659;
constexpr std::uint32_t kIndexMagic = 0x0783;
constexpr std::uint16_t kGeneralOrder = 0x0409;

constexpr std::uint8_t kFlagFixed = 0x01;
constexpr std::uint8_t kFlagNullable = 0x02;
constexpr std::uint8_t kFlagAutoNumber = 0x04;
constexpr std::uint8_t kFlagUpdatable = 0x10;
constexpr std::uint8_t kExtCompressedUnicode = 0x01;
constexpr std::uint8_t kIndexUnique = 0x01;

[[noreturn]] void refuse(const std::string& why) { throw Error(errc::kNotBuiltYet, "Cannot create the table: " + why + "."); }

bool is_variable(ColumnType t) {
  return t == ColumnType::Text || t == ColumnType::Binary || t == ColumnType::Memo || t == ColumnType::Ole;
}

void append(Bytes& out, std::size_t n) { out.resize(out.size() + n, 0); }

void append_name(const JetFormat& f, Bytes& out, const std::string& name, std::uint16_t code_page) {
  const std::u16string text = utf8_to_utf16(name);
  const Bytes stored = f.text_is_ucs2() ? encode_ucs2(text) : encode_code_page(text, code_page);
  if (stored.size() > (f.name_length_size == 1 ? 0xFFu : 0xFFFFu)) refuse("name too long");
  out.push_back(static_cast<std::uint8_t>(stored.size()));
  if (f.name_length_size == 2) out.push_back(static_cast<std::uint8_t>(stored.size() >> 8));
  out.insert(out.end(), stored.begin(), stored.end());
}

}  // namespace

TableDef build_table_definition(const JetFormat& f, const TableDesign& design, std::uint16_t code_page) {
  const bool jet4 = f.version == JetVersion::Jet4;
  TableDef t;
  t.name = design.name;
  t.table_type = design.system ? 0x53 : 0x4E;
  if (design.columns.empty() || design.columns.size() > f.max_columns) refuse("a table has 1 to 255 columns");

  std::uint16_t fixed_at = 0;
  std::uint16_t var_index = 0;
  for (std::size_t i = 0; i < design.columns.size(); ++i) {
    const ColumnDesign& s = design.columns[i];
    Column c;
    c.name = s.name;
    c.type = s.type;
    c.number = static_cast<std::uint16_t>(i);
    c.flags = static_cast<std::uint8_t>(kFlagUpdatable | (s.required ? 0 : kFlagNullable));
    if (s.autonumber) {
      if (s.type != ColumnType::Long) refuse("only Long columns count automatically");
      c.flags = static_cast<std::uint8_t>(c.flags | kFlagAutoNumber);
    }
    if (s.type == ColumnType::Text) {
      c.length = static_cast<std::uint16_t>(jet4 ? 2 * s.size : s.size);
      if (s.size == 0 || s.size > 255) refuse("text columns hold 1 to 255 characters");
    } else if (s.type == ColumnType::Binary) {
      c.length = s.size;
    }
    if (s.type == ColumnType::Text || s.type == ColumnType::Memo) {
      c.collation = kGeneralOrder;
      if (jet4) c.ext_flags = kExtCompressedUnicode;
    }
    if (s.type == ColumnType::Numeric || s.type == ColumnType::Complex11) refuse("column type not supported here");
    if (!is_variable(s.type)) {
      c.flags = static_cast<std::uint8_t>(c.flags | kFlagFixed);
      c.fixed_offset = fixed_at;
      c.length = static_cast<std::uint16_t>(fixed_data_size(c));
      fixed_at = static_cast<std::uint16_t>(fixed_at + c.length);
    } else {
      c.var_index = var_index++;
    }
    t.columns.push_back(c);
  }
  t.max_columns = static_cast<std::uint16_t>(t.columns.size());
  t.var_column_count = var_index;

  auto column_number = [&](const std::string& name) -> std::uint16_t {
    for (const Column& c : t.columns) {
      if (c.name == name) return c.number;
    }
    refuse("index names an unknown column " + name);
  };
  for (std::size_t i = 0; i < design.indexes.size(); ++i) {
    const IndexDesign& s = design.indexes[i];
    if (s.columns.empty() || s.columns.size() > f.index_columns_per_entry) refuse("an index has 1 to 10 columns");
    IndexData d;
    d.number = static_cast<std::uint32_t>(i);
    for (const std::string& name : s.columns) d.columns.push_back(IndexColumn{column_number(name), true});
    d.flags = (s.unique || s.primary_key) ? kIndexUnique : 0;
    t.index_data.push_back(d);
    Index x;
    x.name = s.name;
    x.number = static_cast<std::uint32_t>(i);
    x.index_data = static_cast<std::uint32_t>(i);
    x.kind = s.primary_key ? 1 : 0;
    t.indexes.push_back(x);
  }

  // Header.
  Bytes d(f.tdef_index_block_offset, 0);
  d[0] = 0x02;
  d[1] = 0x01;
  if (jet4) {
    put_u32(d, 12, kTableMagic);
    put_u32(d, 24, 1);  // Access writes 1 here in every Jet 4 definition
  } else {
    d[2] = 'V';
    d[3] = 'C';
  }
  d[f.tdef_table_type_offset] = t.table_type;
  put_u16(d, f.tdef_max_columns_offset, t.max_columns);
  put_u16(d, f.tdef_var_column_count_offset, t.var_column_count);
  put_u16(d, f.tdef_column_count_offset, static_cast<std::uint32_t>(t.columns.size()));
  put_u32(d, f.tdef_logical_index_count_offset, static_cast<std::uint32_t>(t.indexes.size()));
  put_u32(d, f.tdef_index_data_count_offset, static_cast<std::uint32_t>(t.index_data.size()));
  append(d, t.index_data.size() * f.tdef_index_count_entry_size);

  for (const Column& c : t.columns) {
    const std::size_t at = d.size();
    append(d, f.column_descriptor_size);
    d[at + f.column_type_offset] = static_cast<std::uint8_t>(c.type);
    if (jet4) put_u32(d, at + 1, kTableMagic);
    put_u16(d, at + f.column_number_offset, c.number);
    put_u16(d, at + f.column_var_index_offset, c.var_index);
    put_u16(d, at + f.column_sort_order_offset, kGeneralOrder);
    if (f.column_code_page_offset >= 0) put_u16(d, at + static_cast<std::size_t>(f.column_code_page_offset), code_page);
    if (!jet4) put_u16(d, at + 7, 1);  // as Access writes it
    d[at + f.column_flags_offset] = c.flags;
    if (f.column_ext_flags_offset >= 0) d[at + static_cast<std::size_t>(f.column_ext_flags_offset)] = c.ext_flags;
    put_u16(d, at + f.column_fixed_offset_offset, c.fixed_offset);
    put_u16(d, at + f.column_length_offset, c.length);
  }
  for (const Column& c : t.columns) append_name(f, d, c.name, code_page);

  for (const IndexData& x : t.index_data) {
    const std::size_t at = d.size();
    append(d, f.index_data_entry_size);
    if (jet4) put_u32(d, at, kIndexMagic);
    std::size_t p = at + f.index_data_leading_skip;
    for (std::uint32_t k = 0; k < f.index_columns_per_entry; ++k, p += 3) {
      if (k < x.columns.size()) {
        put_u16(d, p, x.columns[k].column_number);
        d[p + 2] = 0x01;  // ascending
      } else {
        put_u16(d, p, 0xFFFF);
      }
    }
    d[p + 8 + f.index_data_flags_skip] = x.flags;
  }
  for (const Index& x : t.indexes) {
    const std::size_t at = d.size();
    append(d, f.logical_index_entry_size);
    if (jet4) put_u32(d, at, kTableMagic);
    const std::size_t p = at + f.logical_index_leading_skip;
    put_u32(d, p, x.number);
    put_u32(d, p + 4, x.index_data);
    put_u32(d, p + 9, 0xFFFFFFFF);  // no related index
    d[p + 19] = x.kind;
  }
  for (const Index& x : t.indexes) append_name(f, d, x.name, code_page);
  d.push_back(0xFF);  // no long-value column keeps its own usage maps
  d.push_back(0xFF);
  put_u32(d, 8, static_cast<std::uint32_t>(d.size() - 8));
  t.raw = std::move(d);
  return t;
}

}  // namespace jet::write
