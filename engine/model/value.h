#pragma once
// A decoded column value. The column's type says which member holds it.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/model/column_type.h"

namespace jet {

using Bytes = std::vector<std::uint8_t>;

// Numeric (decimal) value: sign plus a 128-bit unsigned magnitude, scaled by
// 10^scale. Precision and scale come from the column definition.
struct Decimal {
  bool negative = false;
  std::uint64_t high = 0;  // upper 64 bits of the magnitude
  std::uint64_t low = 0;   // lower 64 bits of the magnitude
  std::uint8_t precision = 0;
  std::uint8_t scale = 0;
  bool operator==(const Decimal&) const = default;
};

struct Value {
  ColumnType type = ColumnType::Long;
  bool is_null = true;
  std::int64_t integer = 0;  // Boolean (0/1), Byte, Integer, Long, Currency (scaled by 10 000), Large
                             // Number, Complex (the id of the row's values in the column's hidden table)
  double real = 0;           // Single, Double, DateTime (days since 1899-12-30)
  std::u16string text;       // Text, Memo: UTF-16 code units (Jet 3 text decoded from its code page)
  Bytes bytes;               // Binary, Ole, Guid (16 bytes as stored), Complex11 (raw), Date/Time
                             // Extended (the 42 stored bytes; engine/format/extended_date_time.h reads them)
  Decimal decimal;           // Numeric

  bool operator==(const Value&) const = default;
};

using Row = std::vector<Value>;  // one value per column, in column-number order

}  // namespace jet
