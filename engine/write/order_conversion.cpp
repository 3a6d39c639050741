#include "engine/write/order_conversion.h"

#include <span>

#include "engine/write/little_endian.h"
#include "engine/write/long_value_writer.h"
#include "engine/write/rewrite_context.h"

namespace jet::write {

HeaderInfo in_general_order(const JetFormat& format, const HeaderInfo& source) {
  HeaderInfo h = source;
  put_u16(h.unmasked, format.header_sort_order_offset, kGeneralOrder);
  put_u16(h.unmasked, format.header_code_page_offset, kGeneralCodePage);
  h.sort_order = kGeneralOrder;
  h.code_page = kGeneralCodePage;
  return h;
}

// Access names the order in every column but Decimal ones, whose bytes there
// hold precision and scale, complex ones, whose hold the column's
// ComplexID, and Date/Time Extended ones, whose second byte is their
// precision. Jet 3 columns name the code page as well. The model's columns
// need not be in the order of the stored descriptors.
void GeneralOrderConversion::put_text_columns_in_general_order(TableDef& t, Bytes& definition,
                                                               std::vector<const CodePageConversion*>& conversions) {
  const JetFormat& f = format_;
  conversions.assign(t.columns.size(), nullptr);
  const std::size_t physical = get_u32(definition, f.tdef_index_data_count_offset);
  const std::size_t first = f.tdef_index_block_offset + physical * f.tdef_index_count_entry_size;
  const std::size_t count = get_u16(definition, f.tdef_column_count_offset);
  for (std::size_t d = 0; d < count; ++d) {
    const std::size_t at = first + d * f.column_descriptor_size;
    if (at + f.column_descriptor_size > definition.size()) internal_error("a column lies beyond its definition");
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
    const std::uint16_t from = c.code_page != 0 ? c.code_page : database_code_page_;
    auto it = conversions_.find(from);
    if (it == conversions_.end()) it = conversions_.emplace(from, CodePageConversion(from, kGeneralCodePage)).first;
    if (!it->second.is_identity()) conversions[k] = &it->second;
    c.code_page = kGeneralCodePage;
  }
}

void convert_row_text(const JetFormat& format, const TableDef& t,
                      const std::vector<const CodePageConversion*>& conversions, Bytes& raw,
                      std::vector<RawField>& fields) {
  if (conversions.empty()) return;
  bool any = false;
  for (const CodePageConversion* c : conversions) any = any || c != nullptr;
  if (!any) return;
  split_row_into(format, t, raw, fields);
  for (std::size_t k = 0; k < fields.size(); ++k) {
    const CodePageConversion* conversion = conversions[k];
    if (conversion == nullptr || fields[k].null || fields[k].bytes.empty()) continue;
    const std::size_t at = offset_in(raw, fields[k]);
    std::span<std::uint8_t> bytes(raw.data() + at, fields[k].bytes.size());
    if (t.columns[k].type == ColumnType::Memo) {
      if (bytes.size() < kLongValueHeaderSize || !(get_u32(raw, at) & kLongValueFlagInline)) continue;
      bytes = bytes.subspan(kLongValueHeaderSize);
    }
    conversion->convert(bytes);
  }
}

}  // namespace jet::write
