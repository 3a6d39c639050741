#include "tools/quillmar-db/csv_values.h"

#include "tools/quillmar-db/value_text.h"

namespace quillmar_db {

void write_csv_value(CsvWriter& csv, const jet::Value& v, std::string& scratch) {
  using jet::ColumnType;
  if (v.is_null) {
    csv.plain("");
    return;
  }
  scratch.clear();
  switch (v.type) {
    case ColumnType::Boolean:
      csv.plain(v.integer != 0 ? "1" : "0");
      return;
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::BigInt:
    case ColumnType::Complex:
      scratch = std::to_string(v.integer);
      csv.plain(scratch);
      return;
    case ColumnType::Currency:
      append_currency(scratch, v.integer);
      csv.plain(scratch);
      return;
    case ColumnType::Single:
      append_single(scratch, static_cast<float>(v.real));
      csv.plain(scratch);
      return;
    case ColumnType::Double:
      append_double(scratch, v.real);
      csv.plain(scratch);
      return;
    case ColumnType::Numeric:
      append_decimal(scratch, v.decimal);
      csv.plain(scratch);
      return;
    case ColumnType::DateTime:
      append_datetime(scratch, v.real);
      csv.quoted(scratch);
      return;
    case ColumnType::Text:
    case ColumnType::Memo:
      append_utf8(scratch, v.text);
      csv.quoted(scratch);
      return;
    case ColumnType::Guid:
      append_guid(scratch, v.bytes);
      csv.quoted(scratch);
      return;
    case ColumnType::Binary:
    case ColumnType::Ole:
    case ColumnType::DateTimeExtended:
      // A value that is not of the stored form is kept as its bytes.
      if (const auto date = jet::parse_extended_date_time(v.bytes)) {
        append_extended_datetime(scratch, *date);
      } else {
        append_hex(scratch, v.bytes);
      }
      csv.quoted(scratch);
      return;
    case ColumnType::Complex11:
      append_hex(scratch, v.bytes);
      csv.quoted(scratch);
      return;
  }
  // A type byte the model does not know: keep whatever bytes there are.
  append_hex(scratch, v.bytes);
  csv.quoted(scratch);
}

}  // namespace quillmar_db
