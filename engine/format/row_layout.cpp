#include "engine/format/row_layout.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/format/calculated_value.h"
#include "engine/format/damaged.h"
#include "engine/format/text_codec.h"

namespace jet {
namespace {

// Offsets of the variable-length columns stored in the row, plus the
// end-of-data offset as the last entry. Empty when the row holds none.
std::vector<std::size_t> variable_offsets(const JetFormat& f, std::span<const std::uint8_t> row,
                                          std::size_t null_mask_pos) {
  std::vector<std::size_t> offsets;
  if (f.row_var_offset_size == 2) {
    if (null_mask_pos < 2) damaged("row too short for its variable column count");
    std::size_t var_count = get_u16(row, null_mask_pos - 2);
    if ((var_count + 1) * 2 + 2 > null_mask_pos) damaged("row variable column table overruns the row");
    offsets.reserve(var_count + 1);
    for (std::size_t i = 0; i <= var_count; ++i) {
      offsets.push_back(get_u16(row, null_mask_pos - 4 - 2 * i));
    }
    return offsets;
  }
  // Jet 3: one-byte offsets; each jump-table entry names the first variable
  // column (or the end-of-data entry) whose offset lies 256 bytes further.
  if (null_mask_pos < 1) damaged("row too short for its variable column count");
  std::size_t var_count = get_u8(row, null_mask_pos - 1);
  std::size_t jumps = (row.size() - 1) / 256;
  if (null_mask_pos < 2 + jumps + var_count + 1) damaged("row variable column table overruns the row");
  std::size_t first_offset_pos = null_mask_pos - 2 - jumps;
  // The jump count follows the row length, so the last entry can be a
  // filler that jumps nothing.
  if ((first_offset_pos - var_count) / 256 < jumps) --jumps;
  std::size_t used = 0;
  offsets.reserve(var_count + 1);
  for (std::size_t i = 0; i <= var_count; ++i) {
    while (used < jumps && i == get_u8(row, null_mask_pos - 2 - used)) ++used;
    offsets.push_back(get_u8(row, first_offset_pos - i) + 256 * used);
  }
  return offsets;
}

template <typename T>
T load(std::span<const std::uint8_t> b) {
  T v{};
  std::memcpy(&v, b.data(), sizeof v);  // little-endian hosts only; see FORMAT.md
  return v;
}

void need(std::span<const std::uint8_t> bytes, std::size_t n, const Column& column) {
  if (bytes.size() < n) {
    damaged("column '" + column.name + "' holds " + std::to_string(bytes.size()) + " bytes, needs " +
            std::to_string(n));
  }
}

std::u16string decode_text(const JetFormat& f, const Column& column,
                           std::span<const std::uint8_t> bytes, std::uint16_t code_page) {
  if (f.text_is_ucs2()) return decode_jet4_text(bytes);
  return decode_code_page(bytes, column.code_page != 0 ? column.code_page : code_page);
}

}  // namespace

std::size_t fixed_data_size(const Column& column) {
  switch (column.type) {
    case ColumnType::Boolean: return 0;
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long: return 4;
    case ColumnType::Currency: return 8;
    case ColumnType::Single: return 4;
    case ColumnType::Double: return 8;
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    case ColumnType::Complex: return 4;
    case ColumnType::BigInt: return 8;
    case ColumnType::DateTimeExtended: return 42;
    default: return column.length;
  }
}

std::optional<std::string> column_placement_fault(const TableDef& table) {
  // A column's number is its bit in the null mask, which rows size from
  // the table's column count.
  std::vector<std::pair<std::uint16_t, const Column*>> numbered;
  for (const Column& c : table.columns) {
    if (c.number >= table.max_columns) {
      return "column " + c.name + " is numbered " + std::to_string(c.number) + ", beyond the table's " +
             std::to_string(table.max_columns) + " columns";
    }
    numbered.emplace_back(c.number, &c);
  }
  std::sort(numbered.begin(), numbered.end());
  for (std::size_t i = 1; i < numbered.size(); ++i) {
    if (numbered[i].first == numbered[i - 1].first) {
      return "columns " + numbered[i - 1].second->name + " and " + numbered[i].second->name + " share a number";
    }
  }
  std::vector<std::pair<std::size_t, const Column*>> fixed;  // by first byte
  std::vector<std::pair<std::uint16_t, const Column*>> variable;
  for (const Column& c : table.columns) {
    if (c.value_in_null_mask()) continue;
    if (c.is_fixed()) {
      fixed.emplace_back(c.fixed_offset, &c);
    } else {
      variable.emplace_back(c.var_index, &c);
    }
  }
  std::sort(fixed.begin(), fixed.end());
  for (std::size_t i = 1; i < fixed.size(); ++i) {
    const Column& before = *fixed[i - 1].second;
    if (fixed[i].first < before.fixed_offset + fixed_data_size(before)) {
      return "columns " + before.name + " and " + fixed[i].second->name + " share bytes of the row";
    }
  }
  std::sort(variable.begin(), variable.end());
  for (std::size_t i = 1; i < variable.size(); ++i) {
    if (variable[i].first == variable[i - 1].first) {
      return "columns " + variable[i - 1].second->name + " and " + variable[i].second->name + " share a slot of the row";
    }
  }
  return std::nullopt;
}

bool has_typed_size(ColumnType type) {
  switch (type) {
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::DateTime:
    case ColumnType::Guid:
    case ColumnType::Numeric:
    case ColumnType::Complex:
    case ColumnType::BigInt:
    case ColumnType::DateTimeExtended: return true;
    default: return false;
  }
}

std::vector<RawField> split_row(const JetFormat& f, const TableDef& table,
                                std::span<const std::uint8_t> row) {
  std::vector<RawField> fields;
  split_row_into(f, table, row, fields);
  return fields;
}

void split_row_into(const JetFormat& f, const TableDef& table, std::span<const std::uint8_t> row,
                    std::vector<RawField>& fields) {
  std::size_t count_size = f.row_column_count_size;
  std::size_t row_columns = count_size == 1 ? get_u8(row, 0) : get_u16(row, 0);
  std::size_t mask_size = (row_columns + 7) / 8;
  if (row.size() < count_size + mask_size) damaged("row too short for its null mask");
  std::size_t mask_pos = row.size() - mask_size;
  auto not_null = [&](std::size_t number) {
    return number < row_columns && (row[mask_pos + number / 8] & (1u << (number % 8))) != 0;
  };

  bool has_variable = false;
  for (const Column& c : table.columns) has_variable |= !c.is_fixed();
  std::vector<std::size_t> var_offsets;
  if (has_variable || table.var_column_count > 0) var_offsets = variable_offsets(f, row, mask_pos);
  // Variable data is laid out in column order, a NULL column taking no
  // room; an offset that goes back would let two fields share bytes.
  for (std::size_t i = 1; i < var_offsets.size(); ++i) {
    if (var_offsets[i] < var_offsets[i - 1]) damaged("row variable column offsets go backwards");
  }
  // Fixed data ends where variable data (or the end of data) begins.
  std::size_t fixed_end = var_offsets.empty() ? mask_pos : var_offsets.front();
  std::size_t data_end = var_offsets.empty() ? mask_pos : var_offsets.back();
  if (fixed_end > mask_pos || data_end > mask_pos) damaged("row data offsets overrun the row");

  fields.assign(table.columns.size(), RawField{});
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const Column& c = table.columns[i];
    RawField& out = fields[i];
    if (c.value_in_null_mask()) {
      out.null = false;
      out.boolean = not_null(c.number);
      continue;
    }
    if (!not_null(c.number)) continue;
    if (c.is_fixed()) {
      std::size_t start = count_size + c.fixed_offset;
      std::size_t size = fixed_data_size(c);
      if (start + size > fixed_end) {
        damaged("fixed column '" + c.name + "' lies outside its row's fixed area");
      }
      out.null = false;
      out.bytes = row.subspan(start, size);
    } else {
      if (var_offsets.empty() || std::size_t{c.var_index} + 1 >= var_offsets.size()) continue;  // added later
      std::size_t start = var_offsets[c.var_index];
      std::size_t end = var_offsets[c.var_index + 1];
      if (start > end || end > data_end) damaged("variable column '" + c.name + "' has bad bounds");
      out.null = false;
      out.bytes = row.subspan(start, end - start);
    }
  }
}

LongValueRef parse_long_value_ref(std::span<const std::uint8_t> field) {
  if (field.size() < 12) damaged("long value header too short");
  LongValueRef ref;
  std::uint32_t first = get_u32(field, 0);
  ref.length = first & 0x3FFFFFFFu;
  ref.kind = static_cast<std::uint8_t>((first >> 24) & 0xC0);
  ref.row_pointer = get_u32(field, 4);
  return ref;
}

namespace {

// A value as a column of its type stores it (the bytes of a calculated
// column already unwrapped).
void decode_stored(const JetFormat& f, const Column& column, std::span<const std::uint8_t> b,
                   std::uint16_t code_page, const LongValueResolver& resolve_long_value, Value& v) {
  switch (column.type) {
    case ColumnType::Byte: need(b, 1, column); v.integer = b[0]; break;
    case ColumnType::Integer: need(b, 2, column); v.integer = load<std::int16_t>(b); break;
    case ColumnType::Long: need(b, 4, column); v.integer = load<std::int32_t>(b); break;
    case ColumnType::Currency: need(b, 8, column); v.integer = load<std::int64_t>(b); break;
    case ColumnType::Single: need(b, 4, column); v.real = load<float>(b); break;
    case ColumnType::Double:
    case ColumnType::DateTime: need(b, 8, column); v.real = load<double>(b); break;
    case ColumnType::Guid: need(b, 16, column); v.bytes.assign(b.begin(), b.begin() + 16); break;
    case ColumnType::Complex: need(b, 4, column); v.integer = load<std::int32_t>(b); break;
    case ColumnType::BigInt: need(b, 8, column); v.integer = load<std::int64_t>(b); break;
    case ColumnType::DateTimeExtended: need(b, 42, column); v.bytes.assign(b.begin(), b.begin() + 42); break;
    case ColumnType::Numeric: {
      need(b, 17, column);
      // Sign byte, then the 128-bit magnitude as four little-endian 32-bit
      // words, most significant word first.
      v.decimal.negative = b[0] != 0;
      auto word = [&](int k) { return std::uint64_t{get_u32(b, 1 + 4 * static_cast<std::size_t>(k))}; };
      v.decimal.high = (word(0) << 32) | word(1);
      v.decimal.low = (word(2) << 32) | word(3);
      v.decimal.precision = column.precision;
      v.decimal.scale = column.scale;
      break;
    }
    case ColumnType::Text: v.text = decode_text(f, column, b, code_page); break;
    case ColumnType::Memo: {
      Bytes data = resolve_long_value(b);
      v.text = decode_text(f, column, data, code_page);
      break;
    }
    case ColumnType::Ole: v.bytes = resolve_long_value(b); break;
    default: v.bytes.assign(b.begin(), b.end()); break;  // Binary, type 0x11, unknown types
  }
}

// A calculated column's value: unwrapped, then read as its result type
// holds it. Yes/No results are one byte (0xFF Yes), Decimal results
// Windows' DECIMAL; an empty value is a null result.
Value decode_calculated(const JetFormat& f, const Column& column, std::span<const std::uint8_t> stored,
                        std::uint16_t code_page, const LongValueResolver& resolve_long_value) {
  Value v;
  v.type = column.type;
  Bytes long_value;
  std::span<const std::uint8_t> inner;
  if (is_long_value(column.type)) {
    long_value = resolve_long_value(stored);
    inner = unwrap_calculated(long_value);
  } else {
    inner = unwrap_calculated(stored);
  }
  if (inner.empty()) return v;
  v.is_null = false;
  switch (column.type) {
    case ColumnType::Boolean: v.integer = inner[0] != 0 ? 1 : 0; break;
    case ColumnType::Numeric: v.decimal = calculated_decimal(inner); break;
    case ColumnType::Memo: v.text = decode_text(f, column, inner, code_page); break;
    case ColumnType::Ole: v.bytes.assign(inner.begin(), inner.end()); break;
    default: decode_stored(f, column, inner, code_page, resolve_long_value, v); break;
  }
  return v;
}

}  // namespace

Value decode_field(const JetFormat& f, const Column& column, const RawField& field,
                   std::uint16_t code_page, const LongValueResolver& resolve_long_value) {
  Value v;
  v.type = column.type;
  if (column.value_in_null_mask()) {
    v.is_null = false;
    v.integer = field.boolean ? 1 : 0;
    return v;
  }
  if (field.null) return v;
  if (column.is_calculated()) return decode_calculated(f, column, field.bytes, code_page, resolve_long_value);
  v.is_null = false;
  decode_stored(f, column, field.bytes, code_page, resolve_long_value, v);
  return v;
}

Row decode_row(const JetFormat& f, const TableDef& table, std::span<const std::uint8_t> row,
               std::uint16_t code_page, const LongValueResolver& resolve_long_value) {
  auto fields = split_row(f, table, row);
  Row out;
  out.reserve(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    out.push_back(decode_field(f, table.columns[i], fields[i], code_page, resolve_long_value));
  }
  return out;
}

}  // namespace jet
