#pragma once
// One column value as one CSV field, in the form the usual Linux export of
// Jet tables uses with the date format "%Y-%m-%d %H:%M:%S" and binary as
// hex: text, dates, binary and ids quoted; numbers and booleans (1/0) plain;
// null an empty unquoted field. Two deliberate differences keep information
// that form loses: floating-point numbers and decimals are written exactly,
// and an empty text is written as "" so it stays apart from null.
#include <string>
#include <vector>

#include "engine/model/value.h"
#include "tools/quillmar-db/csv_writer.h"

namespace quillmar_db {

// The text of a non-null value, appended to `out`; true when its field is
// quoted.
bool append_value_text(std::string& out, const jet::Value& value);

// `scratch` is reused between calls to avoid an allocation per value.
void write_csv_value(CsvWriter& csv, const jet::Value& value, std::string& scratch);

// The values behind one row's complex column as one quoted field: their
// texts joined by ';', each ';' or backslash inside a text preceded by a
// backslash (a null value is an empty text; no values, an empty field "").
void write_csv_list(CsvWriter& csv, const std::vector<jet::Value>& values, std::string& scratch);

}  // namespace quillmar_db
