#include "engine/builder/row_encoder.h"

#include <cstring>

#include "engine/error.h"
#include "engine/format/text_codec.h"
#include "engine/write/little_endian.h"

namespace jet::build {

namespace {

constexpr int kInvalidArgument = 3001;

[[noreturn]] void refuse(const ColumnLayout& c, const std::string& why) {
  throw Error(kInvalidArgument, "Value for column '" + c.name + "': " + why + ".");
}

template <typename T>
void store(Bytes& row, std::size_t at, T v) {
  std::memcpy(row.data() + at, &v, sizeof v);  // little-endian hosts only, like the reader
}

void put_fixed(Bytes& row, std::size_t at, const ColumnLayout& c, const Value& v) {
  switch (c.type) {
    case ColumnType::Byte:
      if (v.integer < 0 || v.integer > 255) refuse(c, "out of range for Byte");
      row[at] = static_cast<std::uint8_t>(v.integer);
      break;
    case ColumnType::Integer:
      if (v.integer < -32768 || v.integer > 32767) refuse(c, "out of range for Integer");
      store(row, at, static_cast<std::int16_t>(v.integer));
      break;
    case ColumnType::Long:
      if (v.integer < INT32_MIN || v.integer > INT32_MAX) refuse(c, "out of range for Long");
      store(row, at, static_cast<std::int32_t>(v.integer));
      break;
    case ColumnType::Currency:
      store(row, at, v.integer);
      break;
    case ColumnType::Single:
      store(row, at, static_cast<float>(v.real));
      break;
    case ColumnType::Double:
    case ColumnType::DateTime:
      store(row, at, v.real);
      break;
    case ColumnType::Guid:
      if (v.bytes.size() != 16) refuse(c, "a GUID has 16 bytes");
      std::memcpy(row.data() + at, v.bytes.data(), 16);
      break;
    default:
      refuse(c, "type not supported in the fixed area");
  }
}

Bytes variable_bytes(const ColumnLayout& c, const Value& v, const LongValueStorer& store_long_value) {
  switch (c.type) {
    case ColumnType::Text: {
      if (v.text.size() * 2 > c.length) refuse(c, "text longer than the column allows");
      return encode_jet4_text(v.text, false);
    }
    case ColumnType::Binary:
      if (v.bytes.size() > 255) refuse(c, "binary value longer than 255 bytes");
      return v.bytes;
    case ColumnType::Memo:
      return store_long_value(c, memo_bytes(v));
    case ColumnType::Ole:
      return store_long_value(c, v.bytes);
    default:
      refuse(c, "type not supported as a variable column");
  }
}

}  // namespace

Bytes memo_bytes(const Value& v) { return encode_jet4_text(v.text, false); }

Bytes encode_row(const TableLayout& layout, const Row& values, const LongValueStorer& store_long_value) {
  if (values.size() != layout.columns.size()) {
    throw Error(kInvalidArgument, "Row for table '" + layout.name + "' has " + std::to_string(values.size()) +
                                      " values, the table " + std::to_string(layout.columns.size()) + " columns.");
  }
  const std::size_t count = layout.columns.size();
  Bytes row(2 + layout.fixed_area, 0);
  write::put_u16(row, 0, static_cast<std::uint32_t>(count));
  Bytes mask((count + 7) / 8, 0);
  std::vector<std::uint32_t> var_offsets(layout.var_columns + 1u, 0);

  for (std::size_t i = 0; i < count; ++i) {
    const ColumnLayout& c = layout.columns[i];
    const Value& v = values[i];
    if (!v.is_null && v.type != c.type) refuse(c, "value of another type");
    const bool present = c.type == ColumnType::Boolean ? (!v.is_null && v.integer != 0) : !v.is_null;
    if (present) mask[c.number / 8] = static_cast<std::uint8_t>(mask[c.number / 8] | (1u << (c.number % 8)));
    if (c.is_fixed() && !v.is_null && c.type != ColumnType::Boolean) put_fixed(row, 2 + c.fixed_offset, c, v);
  }
  // Variable data in slot order (columns are in number order, so slots are too).
  for (std::size_t i = 0; i < count; ++i) {
    const ColumnLayout& c = layout.columns[i];
    if (c.is_fixed()) continue;
    var_offsets[c.var_index] = static_cast<std::uint32_t>(row.size());
    if (values[i].is_null) continue;
    const Bytes data = variable_bytes(c, values[i], store_long_value);
    row.insert(row.end(), data.begin(), data.end());
  }
  var_offsets[layout.var_columns] = static_cast<std::uint32_t>(row.size());
  if (layout.var_columns > 0) {
    // From the end inwards: offsets of slot n .. 0 come first, the count last.
    for (std::size_t k = var_offsets.size(); k-- > 0;) {
      const std::size_t at = row.size();
      row.resize(at + 2);
      write::put_u16(row, at, var_offsets[k]);
    }
    const std::size_t at = row.size();
    row.resize(at + 2);
    write::put_u16(row, at, layout.var_columns);
  }
  row.insert(row.end(), mask.begin(), mask.end());
  return row;
}

}  // namespace jet::build
