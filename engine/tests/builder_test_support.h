#pragma once
// Shared by the builder tests: a table with every common column type, rows
// that exercise inline, single-page and chained long values, and value
// constructors.
#include <string>

#include "engine/builder/database_builder.h"
#include "engine/format/text_codec.h"
#include "engine/model/value.h"

namespace jet::builder_testing {

inline Value null_value(ColumnType t) { return Value{t, true, 0, 0, {}, {}, {}}; }
inline Value int_value(ColumnType t, std::int64_t v) { return Value{t, false, v, 0, {}, {}, {}}; }
inline Value real_value(ColumnType t, double v) { return Value{t, false, 0, v, {}, {}, {}}; }
inline Value text_value(ColumnType t, const std::u16string& s) { return Value{t, false, 0, 0, s, {}, {}}; }
inline Value bytes_value(ColumnType t, Bytes b) { return Value{t, false, 0, 0, {}, std::move(b), {}}; }

inline build::TableDesign customers_design() {
  using build::ColumnDesign;
  build::TableDesign s;
  s.name = "Customers";
  s.columns = {ColumnDesign{"ID", ColumnType::Long, 0, true},     ColumnDesign{"Name", ColumnType::Text, 50, false},
               ColumnDesign{"Age", ColumnType::Integer, 0, false}, ColumnDesign{"Balance", ColumnType::Currency, 0, false},
               ColumnDesign{"Score", ColumnType::Double, 0, false}, ColumnDesign{"Joined", ColumnType::DateTime, 0, false},
               ColumnDesign{"Active", ColumnType::Boolean, 0, false}, ColumnDesign{"Notes", ColumnType::Memo, 0, false},
               ColumnDesign{"Photo", ColumnType::Ole, 0, false},   ColumnDesign{"Visits", ColumnType::Long, 0, false}};
  s.indexes = {build::IndexDesign{"PrimaryKey", {"ID"}, true, false}, build::IndexDesign{"Name", {"Name"}, false, false},
               build::IndexDesign{"AgeVisits", {"Age", "Visits"}, false, false}};
  return s;
}

// Row n of the Customers table; the ID is left to the AutoNumber (null)
// unless `id` is given.
inline Row customer_row(int n, std::int64_t id = 0) {
  Row r;
  r.push_back(id == 0 ? null_value(ColumnType::Long) : int_value(ColumnType::Long, id));
  // Names repeat (a non-unique index) and mix case and accents.
  static const char16_t* const kNames[] = {u"Müller", u"smith", u"Smith", u"Øster", u"Ann", u"zeta", u"O'Brien"};
  r.push_back(n % 17 == 3 ? null_value(ColumnType::Text)
                          : text_value(ColumnType::Text, kNames[n % 7] + std::u16string(u" ") +
                                                             utf8_to_utf16(std::to_string(n % 50))));
  r.push_back(n % 13 == 0 ? null_value(ColumnType::Integer) : int_value(ColumnType::Integer, (n * 37) % 120 - 20));
  r.push_back(int_value(ColumnType::Currency, std::int64_t{n} * 12345 - 500000));
  r.push_back(real_value(ColumnType::Double, n * 0.25 - 3.5));
  r.push_back(real_value(ColumnType::DateTime, 36526.5 + n));
  r.push_back(int_value(ColumnType::Boolean, n % 3 == 0 ? 1 : 0));
  // Memo: null, inline, one long-value row, or a chain over several pages.
  std::u16string memo;
  switch (n % 5) {
    case 0: break;
    case 1: memo = u"short note"; break;
    case 2: memo = std::u16string(800 + n % 300, static_cast<char16_t>(u'a' + n % 26)); break;
    case 3: memo = std::u16string(5000 + n % 4000, u'x') + u"end"; break;
    default: memo = u"";
  }
  r.push_back(n % 5 == 0 ? null_value(ColumnType::Memo) : text_value(ColumnType::Memo, memo));
  Bytes ole;
  if (n % 4 == 1) {
    ole.resize(static_cast<std::size_t>(100 + (n * 131) % 9000));
    for (std::size_t i = 0; i < ole.size(); ++i) ole[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(n));
  }
  r.push_back(ole.empty() ? null_value(ColumnType::Ole) : bytes_value(ColumnType::Ole, ole));
  r.push_back(int_value(ColumnType::Long, n % 9));
  return r;
}

}  // namespace jet::builder_testing
