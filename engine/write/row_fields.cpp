#include "engine/write/row_fields.h"

#include "engine/error.h"

namespace jet::write {

namespace {

[[noreturn]] void damaged(const char* what) {
  throw Error(errc::kCannotOpenDatabase, std::string("Damaged row: ") + what + ".");
}

std::uint32_t u16_at(std::span<const std::uint8_t> b, std::size_t at) {
  if (at + 2 > b.size()) damaged("offset table out of range");
  return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8));
}

}  // namespace

bool RowFields::has_value(std::uint16_t column_number) const {
  if (column_number >= column_count) return false;
  return ((null_mask[column_number / 8] >> (column_number % 8)) & 1u) != 0;
}

RowFields parse_row_fields(const WriteFormat& format, std::span<const std::uint8_t> row) {
  RowFields f;
  const std::size_t n = row.size();
  const std::size_t count_size = format.jet4 ? 2 : 1;
  if (n < count_size + 1) damaged("too short");
  f.column_count = format.jet4 ? u16_at(row, 0) : row[0];
  const std::size_t mask_size = (f.column_count + 7) / 8;
  if (mask_size + count_size + count_size > n) damaged("null mask out of range");
  f.null_mask.assign(row.end() - static_cast<std::ptrdiff_t>(mask_size), row.end());
  const std::size_t var_count_at = n - mask_size - count_size;
  const std::uint32_t var_count = format.jet4 ? u16_at(row, var_count_at) : row[var_count_at];
  std::vector<std::uint32_t> offsets;  // var_count + 1 entries, the last one the end of data
  if (format.jet4) {
    for (std::uint32_t i = 0; i <= var_count; ++i) {
      if (var_count_at < 2u * (i + 1)) damaged("offset table out of range");
      offsets.push_back(u16_at(row, var_count_at - 2u * (i + 1)));
    }
  } else {
    // One-byte offsets; rows longer than 256 bytes add a jump table (between
    // the offsets and the var count) naming the var index where each further
    // 256-byte block starts.
    const std::size_t last = n - 1;
    std::size_t jumps = last / 256;
    if (last < mask_size + jumps + 1) damaged("offset table out of range");
    const std::size_t table_end = last - mask_size - jumps - 1;  // entry of var index 0
    // The table keeps a slot for every 256-byte block, but the last one is
    // unused when the offsets themselves never reach that block.
    if (jumps > 0 && (table_end < var_count || (table_end - var_count) / 256 < jumps)) --jumps;
    std::size_t jumps_used = 0;
    for (std::uint32_t i = 0; i <= var_count; ++i) {
      while (jumps_used < jumps && i == row[last - mask_size - jumps_used - 1]) ++jumps_used;
      if (table_end < i) damaged("offset table out of range");
      offsets.push_back(static_cast<std::uint32_t>(row[table_end - i] + 256 * jumps_used));
    }
  }
  const std::size_t data_limit = n - mask_size;
  for (std::uint32_t i = 0; i < var_count; ++i) {
    if (offsets[i] > offsets[i + 1] || offsets[i + 1] > data_limit) damaged("variable column offsets out of order");
    f.var_fields.push_back(FieldSpan{offsets[i], offsets[i + 1] - offsets[i]});
  }
  return f;
}

std::optional<FieldSpan> find_column(const WriteFormat& format, const RowFields& fields, const Column& column) {
  if (!fields.has_value(column.number)) return std::nullopt;
  if (column.type == ColumnType::Boolean) return std::nullopt;  // lives in the mask only
  if (column.is_fixed()) {
    const std::uint32_t start = (format.jet4 ? 2u : 1u) + column.fixed_offset;
    return FieldSpan{start, column.length};
  }
  if (column.var_index >= fields.var_fields.size()) return std::nullopt;
  return fields.var_fields[column.var_index];
}

}  // namespace jet::write
