#include "engine/format/table_definition.h"

#include <algorithm>
#include <unordered_set>

#include "engine/format/damaged.h"
#include "engine/format/text_codec.h"

namespace jet {
namespace {

// A definition of 255 columns and 32 indexes with long names fills about
// a dozen 2 KB pages; anything far longer is a damaged chain.
constexpr std::size_t kMaxDefinitionPages = 512;

class Cursor {
 public:
  explicit Cursor(std::span<const std::uint8_t> d, std::size_t pos) : d_(d), pos_(pos) {}
  std::size_t pos() const { return pos_; }
  void skip(std::size_t n) {
    check_range(d_, pos_, n);
    pos_ += n;
  }
  std::span<const std::uint8_t> take(std::size_t n) {
    auto s = get_bytes(d_, pos_, n);
    pos_ += n;
    return s;
  }
  std::uint8_t u8() { return take(1)[0]; }
  std::uint16_t u16() {
    auto v = get_u16(d_, pos_);
    pos_ += 2;
    return v;
  }
  std::uint32_t u32() {
    auto v = get_u32(d_, pos_);
    pos_ += 4;
    return v;
  }
  std::size_t remaining() const { return d_.size() - pos_; }

 private:
  std::span<const std::uint8_t> d_;
  std::size_t pos_;
};

std::string read_name(Cursor& c, const JetFormat& f, std::uint16_t code_page) {
  std::size_t len = f.name_length_size == 1 ? c.u8() : c.u16();
  auto bytes = c.take(len);
  return utf16_to_utf8(f.text_is_ucs2() ? decode_ucs2(bytes) : decode_code_page(bytes, code_page));
}

void check_count(std::size_t count, std::size_t each, const Cursor& c, const char* what) {
  if (each != 0 && count > c.remaining() / each) {
    damaged(std::string("table definition claims more ") + what + " than it holds");
  }
}

}  // namespace

Bytes join_table_definition(const JetFormat& format, const PageSource& read_page,
                            PageNumber first, std::uint32_t page_count,
                            std::vector<PageNumber>* pages) {
  Bytes joined;
  std::unordered_set<PageNumber> seen;
  PageNumber page = first;
  while (page != 0) {
    if (page >= page_count) damaged("table definition chain leaves the file");
    if (!seen.insert(page).second) damaged("table definition chain loops");
    if (seen.size() > kMaxDefinitionPages) damaged("table definition chain too long");
    auto data = read_page(page);
    const Bytes& p = *data;
    if (p[0] != page_type::kTableDefinition) {
      damaged("page " + std::to_string(page) + " is not a table definition page");
    }
    if (joined.empty()) {
      joined.assign(p.begin(), p.end());
    } else {
      joined.insert(joined.end(), p.begin() + format.tdef_header_size, p.end());
    }
    if (pages != nullptr) pages->push_back(page);
    page = get_u32(p, format.tdef_next_page_offset);
  }
  return joined;
}

TableDef parse_table_definition(const JetFormat& f, std::span<const std::uint8_t> d,
                                std::uint16_t code_page) {
  TableDef t;
  if (get_u8(d, 0) != page_type::kTableDefinition) damaged("not a table definition");
  t.raw.assign(d.begin(), d.end());
  t.row_count = get_u32(d, f.tdef_row_count_offset);
  t.next_autonumber = get_u32(d, f.tdef_autonumber_offset);
  t.table_type = get_u8(d, f.tdef_table_type_offset);
  t.max_columns = get_u16(d, f.tdef_max_columns_offset);
  t.var_column_count = get_u16(d, f.tdef_var_column_count_offset);
  std::uint16_t column_count = get_u16(d, f.tdef_column_count_offset);
  std::uint32_t logical_count = get_u32(d, f.tdef_logical_index_count_offset);
  std::uint32_t physical_count = get_u32(d, f.tdef_index_data_count_offset);
  t.owned_map_row = decode_row_pointer(get_u32(d, f.tdef_owned_pages_offset));
  t.free_map_row = decode_row_pointer(get_u32(d, f.tdef_free_pages_offset));
  if (physical_count > f.max_indexes * 4 || logical_count > f.max_indexes * 4) {
    damaged("table definition claims too many indexes");
  }

  Cursor c(d, f.tdef_index_block_offset);
  check_count(physical_count, f.tdef_index_count_entry_size, c, "index entries");
  std::vector<std::uint32_t> index_rows;
  for (std::uint32_t i = 0; i < physical_count; ++i) {
    auto entry = c.take(f.tdef_index_count_entry_size);
    index_rows.push_back(get_u32(entry, f.tdef_index_count_row_offset));
  }

  check_count(column_count, f.column_descriptor_size, c, "columns");
  t.columns.resize(column_count);
  for (Column& col : t.columns) {
    auto desc = c.take(f.column_descriptor_size);
    col.raw.assign(desc.begin(), desc.end());
    col.type = static_cast<ColumnType>(desc[f.column_type_offset]);
    col.number = get_u16(desc, f.column_number_offset);
    col.var_index = get_u16(desc, f.column_var_index_offset);
    col.column_id = get_u16(desc, f.column_id_offset);
    col.flags = desc[f.column_flags_offset];
    if (f.column_ext_flags_offset >= 0) col.ext_flags = desc[static_cast<std::size_t>(f.column_ext_flags_offset)];
    col.fixed_offset = get_u16(desc, f.column_fixed_offset_offset);
    col.length = get_u16(desc, f.column_length_offset);
    if (col.type == ColumnType::Complex && f.column_complex_id_offset >= 0) {
      col.complex_id = static_cast<std::int32_t>(get_u32(desc, static_cast<std::size_t>(f.column_complex_id_offset)));
    } else if (col.type == ColumnType::Numeric) {
      col.precision = desc[f.column_precision_offset];
      col.scale = desc[f.column_scale_offset];
    } else if (col.type == ColumnType::Text || col.type == ColumnType::Memo) {
      col.collation = get_u16(desc, f.column_sort_order_offset);
      if (f.column_code_page_offset >= 0) {
        col.code_page = get_u16(desc, static_cast<std::size_t>(f.column_code_page_offset));
      }
    }
  }
  for (Column& col : t.columns) col.name = read_name(c, f, code_page);

  check_count(physical_count, f.index_data_entry_size, c, "physical indexes");
  for (std::uint32_t i = 0; i < physical_count; ++i) {
    auto entry = c.take(f.index_data_entry_size);
    IndexData idx;
    idx.number = i;
    idx.raw.assign(entry.begin(), entry.end());
    idx.row_count = index_rows[i];
    std::size_t p = f.index_data_leading_skip;
    for (std::uint32_t k = 0; k < f.index_columns_per_entry; ++k, p += 3) {
      std::uint16_t number = get_u16(entry, p);
      if (number == 0xFFFF) continue;
      idx.columns.push_back(IndexColumn{number, entry[p + 2] == 0x01});
    }
    idx.usage_map = get_u32(entry, p);
    idx.first_page = get_u32(entry, p + 4);
    idx.flags = get_u8(entry, p + 8 + f.index_data_flags_skip);
    t.index_data.push_back(std::move(idx));
  }

  check_count(logical_count, f.logical_index_entry_size, c, "indexes");
  for (std::uint32_t i = 0; i < logical_count; ++i) {
    auto entry = c.take(f.logical_index_entry_size);
    Index idx;
    idx.raw.assign(entry.begin(), entry.end());
    std::size_t p = f.logical_index_leading_skip;
    idx.number = get_u32(entry, p);
    idx.index_data = get_u32(entry, p + 4);
    idx.related_table_type = get_u8(entry, p + 8);
    idx.related_index = get_u32(entry, p + 9);
    idx.related_table = get_u32(entry, p + 13);
    idx.cascade_updates = get_u8(entry, p + 17) != 0;
    idx.cascade_deletes = get_u8(entry, p + 18) != 0;
    idx.kind = get_u8(entry, p + 19);
    if (idx.index_data >= physical_count) damaged("index refers to a missing physical index");
    t.indexes.push_back(std::move(idx));
  }
  for (Index& idx : t.indexes) idx.name = read_name(c, f, code_page);

  // The column-map list ends with 0xFFFF. Older files may end the
  // definition before it; a list cut short is read as far as it goes.
  while (c.pos() + 2 <= d.size()) {
    const std::uint16_t column = get_u16(d, c.pos());
    if (column == 0xFFFF || c.pos() + 10 > d.size()) break;
    c.skip(2);
    TableDef::ColumnMaps maps;
    maps.column = column;
    maps.owned_map = c.u32();
    maps.free_map = c.u32();
    t.column_maps.push_back(maps);
  }

  std::stable_sort(t.columns.begin(), t.columns.end(),
                   [](const Column& a, const Column& b) { return a.number < b.number; });
  return t;
}

}  // namespace jet
