#pragma once
// Splitting a stored row into its columns' bytes and decoding those into
// values. Layout (FORMAT.md): column count, fixed-length area, variable-
// length data, then from the end: null mask, variable column count, the
// variable columns' offsets (reversed) and the end-of-data offset, with a
// jump table in Jet 3 rows longer than 255 bytes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <span>
#include <vector>

#include "engine/format/jet_format.h"
#include "engine/model/schema.h"
#include "engine/model/value.h"

namespace jet {

struct RawField {
  bool null = true;                   // also true when the row predates the column
  std::span<const std::uint8_t> bytes;  // the stored bytes (empty for Boolean)
  bool boolean = false;               // Boolean: its value (taken from the null mask)
};

// One RawField per column of `table.columns`, in that order. The spans
// point into `row`. Throws DamagedData when the row's structure is broken.
std::vector<RawField> split_row(const JetFormat& format, const TableDef& table,
                                std::span<const std::uint8_t> row);
// The same into `fields`, whose buffer a caller splitting many rows keeps.
void split_row_into(const JetFormat& format, const TableDef& table, std::span<const std::uint8_t> row,
                    std::vector<RawField>& fields);

// Resolves a long-value field (12-byte header and inline data) to its bytes.
using LongValueResolver = std::function<Bytes(std::span<const std::uint8_t>)>;

// Decodes one column's stored bytes. `code_page` decodes Jet 3 text whose
// column names none.
Value decode_field(const JetFormat& format, const Column& column, const RawField& field,
                   std::uint16_t code_page, const LongValueResolver& resolve_long_value);

Row decode_row(const JetFormat& format, const TableDef& table, std::span<const std::uint8_t> row,
               std::uint16_t code_page, const LongValueResolver& resolve_long_value);

// Size of a fixed-length column's data: from its type, else its length.
std::size_t fixed_data_size(const Column& column);
// True for the types whose values have one size (numbers, dates, GUIDs,
// complex ids).
bool has_typed_size(ColumnType type);

// Why a definition cannot place its columns' values apart in a row: two
// columns with one number (their bit in the null mask) or a number beyond
// the table's column count, two fixed-length columns sharing bytes, or two
// variable-length columns one slot. Rows of such a table read one value
// into two columns or none, and a row built for it does not read back.
// Access never writes one (no sample has any); nullopt when the placement
// is sound.
std::optional<std::string> column_placement_fault(const TableDef& table);

// Long-value header fields.
struct LongValueRef {
  std::uint32_t length = 0;
  std::uint8_t kind = 0;       // 0x80 inline, 0x40 one LVAL row, 0x00 chained LVAL rows
  std::uint32_t row_pointer = 0;  // stored form: row in the low byte, page above
};
inline constexpr std::uint8_t kLongValueInline = 0x80;
inline constexpr std::uint8_t kLongValueSingleRow = 0x40;
inline constexpr std::uint8_t kLongValueChained = 0x00;
LongValueRef parse_long_value_ref(std::span<const std::uint8_t> field);

}  // namespace jet
