#include "engine/format/calculated_value.h"

#include <algorithm>

#include "engine/format/damaged.h"

namespace jet {
namespace {

constexpr std::size_t kLengthAt = 16;
constexpr std::size_t kValueAt = 20;
constexpr std::size_t kTrailingPadding = 3;
constexpr std::size_t kDecimalSize = 16;
// A DECIMAL's magnitude has 96 bits: 28 digits always fit.
constexpr std::uint8_t kDecimalPrecision = 28;

bool has_known_stored_form(ColumnType t) {
  switch (t) {
    case ColumnType::Boolean:
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::DateTime:
    case ColumnType::Text:
    case ColumnType::Memo:
    case ColumnType::Guid:
    case ColumnType::Numeric: return true;
    default: return false;
  }
}

}  // namespace

std::span<const std::uint8_t> unwrap_calculated(std::span<const std::uint8_t> stored) {
  const std::uint32_t length = get_u32(stored, kLengthAt);
  return get_bytes(stored, kValueAt, length);
}

Bytes wrap_calculated(std::span<const std::uint8_t> inner) {
  Bytes out(kValueAt + inner.size() + kTrailingPadding, 0);
  put_u32(out.data() + kLengthAt, static_cast<std::uint32_t>(inner.size()));
  std::copy(inner.begin(), inner.end(), out.begin() + kValueAt);
  return out;
}

Bytes calculated_decimal_bytes(const Decimal& d) {
  Bytes out(kDecimalSize, 0);
  out[2] = d.scale;
  out[3] = d.negative ? 0x80 : 0x00;
  put_u32(out.data() + 4, static_cast<std::uint32_t>(d.high));
  put_u32(out.data() + 8, static_cast<std::uint32_t>(d.low));
  put_u32(out.data() + 12, static_cast<std::uint32_t>(d.low >> 32));
  return out;
}

Decimal calculated_decimal(std::span<const std::uint8_t> inner) {
  if (inner.size() != kDecimalSize) {
    damaged("a calculated Decimal holds " + std::to_string(inner.size()) + " bytes, not 16");
  }
  Decimal d;
  d.scale = inner[2];
  d.negative = (inner[3] & 0x80) != 0;
  d.high = get_u32(inner, 4);
  d.low = get_u64(inner, 8);
  d.precision = kDecimalPrecision;
  return d;
}

void apply_calculated_result_types(TableDef& table, const std::vector<PropertyMap>& maps) {
  for (Column& c : table.columns) {
    if (!c.is_calculated()) continue;
    for (const PropertyMap& map : maps) {
      if (map.name != c.name) continue;
      const Property* result = map.find("ResultType");
      if (result == nullptr || result->value.size() != 1) continue;
      const auto type = static_cast<ColumnType>(result->value[0]);
      if (has_known_stored_form(type)) c.type = type;
    }
  }
}

}  // namespace jet
