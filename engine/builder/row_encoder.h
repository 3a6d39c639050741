#pragma once
// Lays out one row's values as Jet 4 stores them (the reverse of
// split_row/decode_row in engine/format/row_layout.h): column count, fixed
// area, variable data, then the variable columns' offsets in reverse, their
// count and the null mask. Long values arrive already turned into their
// 12-byte reference (plus inline data) by the caller.
#include <functional>

#include "engine/builder/table_layout.h"
#include "engine/model/value.h"

namespace jet::build {

// Turns a non-null Memo/OLE value into the bytes the row stores for it.
using LongValueStorer = std::function<Bytes(const ColumnLayout& column, const Bytes& value)>;

// One value per column of `layout`, in column-number order. Throws
// jet::Error 3001 for a value that does not fit its column.
Bytes encode_row(const TableLayout& layout, const Row& values, const LongValueStorer& store_long_value);

// The bytes a Memo value is stored as (UCS-2, uncompressed).
Bytes memo_bytes(const Value& v);

}  // namespace jet::build
