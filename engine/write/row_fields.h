#pragma once
// Finds where each column's bytes sit inside a stored row, so the writer can
// copy a row as stored and patch only what moves (long-value references,
// renumbered object ids) without decoding and re-encoding every value.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/model/schema.h"
#include "engine/write/write_format.h"

namespace jet::write {

struct FieldSpan {
  std::uint32_t offset = 0;  // from the row start
  std::uint32_t length = 0;
};

struct RowFields {
  std::uint32_t column_count = 0;  // columns the row was written with
  std::vector<std::uint8_t> null_mask;
  // Variable-length column data, by var index (as many as the row holds).
  std::vector<FieldSpan> var_fields;

  // Null-mask bit of a column number: set means "has a value" (for
  // Boolean columns the bit is the value itself).
  bool has_value(std::uint16_t column_number) const;
};

// Throws jet::Error 3049 when the offsets inside the row do not add up.
RowFields parse_row_fields(const WriteFormat& format, std::span<const std::uint8_t> row);

// The bytes of `column` inside the row, or nullopt when the row holds no
// value for it (null, or a column added after the row was written).
std::optional<FieldSpan> find_column(const WriteFormat& format, const RowFields& fields, const Column& column);

}  // namespace jet::write
