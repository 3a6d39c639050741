#include "engine/write/row_builder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/error.h"
#include "engine/format/calculated_value.h"
#include "engine/format/row_layout.h"
#include "engine/format/text_codec.h"

namespace jet::write {

namespace {

constexpr int kInvalidArgument = 3001;

[[noreturn]] void refuse(const Column& c, const std::string& why) {
  throw Error(kInvalidArgument, "Cannot store a value in column '" + c.name + "': " + why + ".");
}

void check_range(const Column& c, std::int64_t v, std::int64_t low, std::int64_t high, const char* type) {
  if (v < low || v > high) refuse(c, std::to_string(v) + " is out of range for " + type);
}

template <typename T>
void append_le(Bytes& out, T value) {
  const std::size_t at = out.size();
  out.resize(at + sizeof(T));
  std::memcpy(out.data() + at, &value, sizeof(T));  // the engine runs on little-endian machines only
}

bool fits_one_byte(const std::u16string& text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c != 0 && c < 0x100; });
}

Bytes fixed_bytes(const Column& c, const Value& v) {
  Bytes out;
  switch (c.type) {
    case ColumnType::Byte:
      check_range(c, v.integer, 0, 255, "a Byte");
      out.push_back(static_cast<std::uint8_t>(v.integer));
      break;
    case ColumnType::Integer:
      check_range(c, v.integer, INT16_MIN, INT16_MAX, "an Integer");
      append_le(out, static_cast<std::int16_t>(v.integer));
      break;
    case ColumnType::Long:
    case ColumnType::Complex:
      check_range(c, v.integer, INT32_MIN, INT32_MAX, "a Long");
      append_le(out, static_cast<std::int32_t>(v.integer));
      break;
    case ColumnType::Currency:
    case ColumnType::BigInt: append_le(out, static_cast<std::int64_t>(v.integer)); break;
    case ColumnType::Single: append_le(out, static_cast<float>(v.real)); break;
    case ColumnType::Double:
    case ColumnType::DateTime: append_le(out, v.real); break;
    case ColumnType::Guid:
      if (v.bytes.size() != 16) refuse(c, "a GUID has 16 bytes");
      out = v.bytes;
      break;
    case ColumnType::Numeric: {
      // Sign byte, then the magnitude as four 32-bit words, most significant first.
      out.push_back(v.decimal.negative ? 0x80 : 0x00);
      append_le(out, static_cast<std::uint32_t>(v.decimal.high >> 32));
      append_le(out, static_cast<std::uint32_t>(v.decimal.high));
      append_le(out, static_cast<std::uint32_t>(v.decimal.low >> 32));
      append_le(out, static_cast<std::uint32_t>(v.decimal.low));
      break;
    }
    default: {
      out = v.bytes;
      if (out.size() > c.length) refuse(c, "the value is longer than the column");
      out.resize(c.length, 0);
    }
  }
  return out;
}

// A calculated column's result as its type holds it, before wrapping (a
// null result is an empty one, as Access stores it).
Bytes calculated_bytes(const JetFormat& f, const Column& c, const Value& v, std::uint16_t code_page);

}  // namespace

Bytes encode_text(const JetFormat& format, const Column& column, const std::u16string& text, std::uint16_t code_page) {
  if (!format.text_is_ucs2()) return encode_code_page(text, column.code_page != 0 ? column.code_page : code_page);
  if (column.is_compressed_unicode() && !text.empty() && text.size() <= format.max_compressed_unicode &&
      fits_one_byte(text)) {
    Bytes out{0xFF, 0xFE};
    for (char16_t ch : text) out.push_back(static_cast<std::uint8_t>(ch));
    return out;
  }
  return encode_ucs2(text);
}

Bytes build_row(const JetFormat& f, const TableDef& t, const Row& row, std::uint16_t code_page,
                const LongValueStore& store_long_value) {
  if (row.size() != t.columns.size()) {
    throw Error(kInvalidArgument, "Row for table '" + t.name + "' has " + std::to_string(row.size()) +
                                      " values, the table " + std::to_string(t.columns.size()) + " columns.");
  }
  std::uint32_t column_count = 0;
  std::uint32_t var_count = 0;
  std::size_t fixed_size = 0;
  for (const Column& c : t.columns) {
    column_count = std::max<std::uint32_t>(column_count, c.number + 1u);
    if (c.is_fixed()) {
      fixed_size = std::max(fixed_size, std::size_t{c.fixed_offset} + fixed_data_size(c));
    } else if (!c.value_in_null_mask()) {
      var_count = std::max<std::uint32_t>(var_count, c.var_index + 1u);
    }
  }
  const std::size_t count_size = f.row_column_count_size;
  Bytes mask((column_count + 7) / 8, 0);
  Bytes out(count_size + fixed_size, 0);
  out[0] = static_cast<std::uint8_t>(column_count);
  if (count_size == 2) out[1] = static_cast<std::uint8_t>(column_count >> 8);

  std::vector<Bytes> var_data(var_count);
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const Column& c = t.columns[i];
    const Value& v = row[i];
    if (c.value_in_null_mask()) {
      if (!v.is_null && v.integer != 0) mask[c.number / 8] = static_cast<std::uint8_t>(mask[c.number / 8] | (1u << (c.number % 8)));
      continue;
    }
    if (v.is_null && !c.is_calculated()) continue;
    if (!v.is_null && v.type != c.type) refuse(c, "the value is of another type");
    mask[c.number / 8] = static_cast<std::uint8_t>(mask[c.number / 8] | (1u << (c.number % 8)));
    Bytes bytes;
    if (c.is_calculated()) {
      bytes = wrap_calculated(calculated_bytes(f, c, v, code_page));
      if (is_long_value(c.type)) bytes = store_long_value(c, bytes);
    } else if (c.type == ColumnType::Text) {
      // The declared length is in stored bytes: two a character in Jet 4.
      const std::size_t characters = f.text_is_ucs2() ? c.length / 2u : c.length;
      if (c.length != 0 && v.text.size() > characters) refuse(c, "the text is longer than the column allows");
      bytes = encode_text(f, c, v.text, code_page);
    } else if (c.type == ColumnType::Memo) {
      bytes = store_long_value(c, encode_text(f, c, v.text, code_page));
    } else if (c.type == ColumnType::Ole) {
      bytes = store_long_value(c, v.bytes);
    } else if (c.is_fixed() || has_typed_size(c.type)) {
      bytes = fixed_bytes(c, v);  // numbers keep their size even when stored as variable-length
    } else {
      bytes = v.bytes;  // Binary and raw types
      if (c.length != 0 && bytes.size() > c.length) refuse(c, "the value is longer than the column");
    }
    if (c.is_fixed()) {
      if (bytes.size() != fixed_data_size(c)) refuse(c, "a fixed-length value of the wrong size");
      std::copy(bytes.begin(), bytes.end(), out.begin() + count_size + c.fixed_offset);
    } else {
      var_data[c.var_index] = std::move(bytes);
    }
  }

  std::vector<std::size_t> offsets;  // var_count + 1, the last one the end of data
  for (const Bytes& d : var_data) {
    offsets.push_back(out.size());
    out.insert(out.end(), d.begin(), d.end());
  }
  offsets.push_back(out.size());
  const std::size_t data_end = out.size();

  if (f.row_var_offset_size == 2) {
    for (std::size_t i = offsets.size(); i-- > 0;) {
      out.push_back(static_cast<std::uint8_t>(offsets[i]));
      out.push_back(static_cast<std::uint8_t>(offsets[i] >> 8));
    }
    out.push_back(static_cast<std::uint8_t>(var_count));
    out.push_back(static_cast<std::uint8_t>(var_count >> 8));
  } else {
    // One-byte offsets: each 256-byte block the row reaches gets a jump
    // entry naming the first var index whose offset lies in or beyond it.
    // The row's length decides how many entries there are, so settle it.
    const std::size_t trailer = offsets.size() + 1 + mask.size();
    std::size_t jumps = 0;
    while ((data_end + trailer + jumps - 1) / 256 != jumps) {
      jumps = (data_end + trailer + jumps - 1) / 256;
      if (jumps > 8) refuse(t.columns.front(), "the row is too long");
    }
    std::vector<std::uint8_t> jump(jumps, static_cast<std::uint8_t>(offsets.size()));
    std::size_t real_jumps = 0;
    for (std::size_t j = 0; j < jumps; ++j) {
      for (std::size_t i = 0; i < offsets.size(); ++i) {
        if (offsets[i] >= (j + 1) * 256) {
          jump[j] = static_cast<std::uint8_t>(i);
          ++real_jumps;
          break;
        }
      }
    }
    // Readers ignore one unused last entry, never more.
    if (jumps - real_jumps > 1) refuse(t.columns.front(), "the row's offsets cannot be laid out");
    for (std::size_t i = offsets.size(); i-- > 0;) out.push_back(static_cast<std::uint8_t>(offsets[i]));
    for (std::size_t j = jumps; j-- > 0;) out.push_back(jump[j]);
    out.push_back(static_cast<std::uint8_t>(var_count));
  }
  out.insert(out.end(), mask.begin(), mask.end());
  if (out.size() > f.max_row_size) refuse(t.columns.front(), "the row is longer than a page holds");
  return out;
}

namespace {

Bytes calculated_bytes(const JetFormat& f, const Column& c, const Value& v, std::uint16_t code_page) {
  if (v.is_null) return {};
  switch (c.type) {
    case ColumnType::Boolean: return Bytes{static_cast<std::uint8_t>(v.integer != 0 ? 0xFF : 0x00)};
    case ColumnType::Numeric: return calculated_decimal_bytes(v.decimal);
    case ColumnType::Text:
    case ColumnType::Memo: return encode_text(f, c, v.text, code_page);
    case ColumnType::Ole: return v.bytes;
    default: return fixed_bytes(c, v);
  }
}

}  // namespace

}  // namespace jet::write
