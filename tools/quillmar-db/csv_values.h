#pragma once
// One column value as one CSV field, in the form the usual Linux export of
// Jet tables uses with the date format "%Y-%m-%d %H:%M:%S" and binary as
// hex: text, dates, binary and ids quoted; numbers and booleans (1/0) plain;
// null an empty unquoted field. Two deliberate differences keep information
// that form loses: floating-point numbers and decimals are written exactly,
// and an empty text is written as "" so it stays apart from null.
#include <string>

#include "engine/model/value.h"
#include "tools/quillmar-db/csv_writer.h"

namespace quillmar_db {

// `scratch` is reused between calls to avoid an allocation per value.
void write_csv_value(CsvWriter& csv, const jet::Value& value, std::string& scratch);

}  // namespace quillmar_db
