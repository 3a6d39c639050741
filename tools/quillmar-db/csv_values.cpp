#include "tools/quillmar-db/csv_values.h"

#include "engine/format/extended_date_time.h"
#include "tools/quillmar-db/value_text.h"

namespace quillmar_db {

bool append_value_text(std::string& out, const jet::Value& v) {
  using jet::ColumnType;
  switch (v.type) {
    case ColumnType::Boolean: out += v.integer != 0 ? "1" : "0"; return false;
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::BigInt:
    case ColumnType::Complex: out += std::to_string(v.integer); return false;
    case ColumnType::Currency: append_currency(out, v.integer); return false;
    case ColumnType::Single: append_single(out, static_cast<float>(v.real)); return false;
    case ColumnType::Double: append_double(out, v.real); return false;
    case ColumnType::Numeric: append_decimal(out, v.decimal); return false;
    case ColumnType::DateTime: append_datetime(out, v.real); return true;
    case ColumnType::DateTimeExtended:
      // A value that is not of the stored form is kept as its bytes.
      if (const auto date = jet::parse_extended_date_time(v.bytes)) {
        append_extended_datetime(out, *date);
      } else {
        append_hex(out, v.bytes);
      }
      return true;
    case ColumnType::Text:
    case ColumnType::Memo: append_utf8(out, v.text); return true;
    case ColumnType::Guid: append_guid(out, v.bytes); return true;
    case ColumnType::Binary:
    case ColumnType::Ole:
    case ColumnType::Complex11: append_hex(out, v.bytes); return true;
  }
  // A type byte the model does not know: keep whatever bytes there are.
  append_hex(out, v.bytes);
  return true;
}

void write_csv_value(CsvWriter& csv, const jet::Value& v, std::string& scratch) {
  if (v.is_null) {
    csv.plain("");
    return;
  }
  scratch.clear();
  if (append_value_text(scratch, v)) {
    csv.quoted(scratch);
  } else {
    csv.plain(scratch);
  }
}

void write_csv_list(CsvWriter& csv, const std::vector<jet::Value>& values, std::string& scratch) {
  scratch.clear();
  std::string one;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) scratch.push_back(';');
    one.clear();
    if (!values[i].is_null) append_value_text(one, values[i]);
    for (char c : one) {
      if (c == ';' || c == '\\') scratch.push_back('\\');
      scratch.push_back(c);
    }
  }
  csv.quoted(scratch);
}

}  // namespace quillmar_db
