#pragma once
// Lays out one row from column values: the pair of the reader's split_row /
// decode_row. Column count, fixed-length area, variable-length data, then
// from the end the null mask, the variable column count and the offsets
// (reversed, with the end-of-data offset; Jet 3 adds a jump table for rows
// longer than 256 bytes).
#include <cstdint>
#include <functional>

#include "engine/format/jet_format.h"
#include "engine/model/schema.h"
#include "engine/model/value.h"

namespace jet::write {

// Turns a Memo/OLE value's stored bytes into the field the row holds (the
// 12-byte reference, possibly with the data inline).
using LongValueStore = std::function<Bytes(const Column& column, const Bytes& stored)>;

// `row` holds one value per column of `table.columns` (in column-number
// order), each null or of its column's type. Text goes out as the column
// asks (Jet 4: compressed when the column allows and every character fits
// one byte; Jet 3: in `code_page`). Throws jet::Error 3001 for a value the
// column cannot hold (wrong type, out of range, too long) or a row too long
// for a page.
Bytes build_row(const JetFormat& format, const TableDef& table, const Row& row, std::uint16_t code_page,
                const LongValueStore& store_long_value);

// The bytes a text or memo value is stored as.
Bytes encode_text(const JetFormat& format, const Column& column, const std::u16string& text, std::uint16_t code_page);

}  // namespace jet::write
