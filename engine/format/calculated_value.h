#pragma once
// Calculated columns (Access 2010 and later). Access computes the value
// when it writes the row and stores it wrapped: 16 bytes it leaves zero,
// the value's length (4 bytes), the value as a column of the result type
// holds it, then 3 bytes of padding. The column is a variable-length one
// whatever its result; a Memo result is a long value whose data is wrapped
// that way. The result type is a column property (ResultType): the
// descriptor's own type byte need not agree with it (FORMAT.md, "ACE
// column kinds").
#include <span>
#include <vector>

#include "engine/format/property_map.h"
#include "engine/model/schema.h"

namespace jet {

// The value inside a stored calculated value; empty for a null result.
// Throws DamagedData when the wrapping is cut short.
std::span<const std::uint8_t> unwrap_calculated(std::span<const std::uint8_t> stored);

// A Decimal result is Windows' 16-byte DECIMAL: 2 bytes of no meaning
// here, the scale, the sign (0x80 negative), then the 96-bit magnitude as
// its upper 32 bits and its lower 64, each little-endian. Throws
// DamagedData for another size.
Decimal calculated_decimal(std::span<const std::uint8_t> inner);

// The stored form of a calculated result: `inner` wrapped as above.
Bytes wrap_calculated(std::span<const std::uint8_t> inner);
// A Decimal result as a DECIMAL (its first two bytes zero).
Bytes calculated_decimal_bytes(const Decimal& d);

// Gives each calculated column of `table` the result type its property
// map names, where that is a type whose stored form is known; the others
// keep their descriptor's type.
void apply_calculated_result_types(TableDef& table, const std::vector<PropertyMap>& maps);

}  // namespace jet
