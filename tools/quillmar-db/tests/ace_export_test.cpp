// Export of the column kinds ACE files added, checked against what the
// sample files themselves say: the text twins Access keeps beside some
// values, and the values the public readers' test files were made with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/tests/corpus_files.h"
#include "tools/quillmar-db/commands.h"
#include "tools/quillmar-db/csv_values.h"
#include "tools/quillmar-db/csv_writer.h"

namespace quillmar_db {
namespace {

using Record = std::map<std::string, std::string>;  // column name -> field as written ("" quoted stays "\"\"")

// A small RFC 4180 reader: quoted fields keep their quotes so a test can
// tell an empty text from null.
std::vector<std::vector<std::string>> parse_csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false, in_quotes = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_quotes) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        in_quotes = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      in_quotes = quoted = true;
    } else if (c == ',' || c == '\n') {
      rows.back().push_back(quoted ? "\"" + field + "\"" : field);
      field.clear();
      quoted = false;
      if (c == '\n') rows.emplace_back();
    } else {
      field += c;
    }
  }
  rows.pop_back();  // after the last line break
  return rows;
}

std::vector<Record> export_table(const std::filesystem::path& file, const std::string& table) {
  std::FILE* out = std::tmpfile();
  CommandContext ctx;
  ctx.out = out;
  EXPECT_EQ(run_export(ctx, file.string(), table), kExitOk);
  std::string text;
  std::rewind(out);
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
  std::fclose(out);
  const auto rows = parse_csv(text);
  std::vector<Record> records;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    Record rec;
    for (std::size_t c = 0; c < rows[0].size() && c < rows[r].size(); ++c) rec[rows[0][c]] = rows[r][c];
    records.push_back(rec);
  }
  return records;
}

std::filesystem::path ace_lib(const std::string& name) { return jet::testing::corpus_dir() / "ace-lib" / name; }

// "6/14/2021 10:45:12.3456789 PM" (or a date alone) as the export writes
// a Date/Time Extended value.
std::string from_us_text(const std::string& us) {
  int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
  char fraction[16] = "0000000", half[3] = "AM";
  const int got = std::sscanf(us.c_str(), "%d/%d/%d %d:%d:%d.%7[0-9] %2s", &month, &day, &year, &hour, &minute,
                              &second, fraction, half);
  EXPECT_TRUE(got == 3 || got == 8) << us;
  if (hour == 12) hour = 0;
  if (std::string(half) == "PM") hour += 12;
  char out[64];
  std::snprintf(out, sizeof out, "\"%04d-%02d-%02d %02d:%02d:%02d.%s\"", year, month, day, hour, minute, second,
                fraction);
  return out;
}

TEST(AceExport, ExtendedDatesMatchTheTextAccessWroteBesideThem) {
  const auto file = ace_lib("extDateTestV2019.accdb");
  QUILLMAR_REQUIRE_CORPUS(file);
  const auto rows = export_table(file, "Table1");
  ASSERT_EQ(rows.size(), 9u);
  for (const Record& r : rows) {
    SCOPED_TRACE(r.at("Field1"));
    if (r.at("DateExtStr").empty()) {
      EXPECT_EQ(r.at("DateExt"), "");
      continue;
    }
    const std::string text = r.at("DateExtStr").substr(1, r.at("DateExtStr").size() - 2);
    EXPECT_EQ(r.at("DateExt"), from_us_text(text));
    // The plain Date/Time twin holds the same moment, to the second.
    EXPECT_EQ(r.at("DateNormal").substr(0, 20), r.at("DateExt").substr(0, 20));
  }
}

std::string unquoted(const std::string& field) {
  return field.size() >= 2 && field.front() == '"' ? field.substr(1, field.size() - 2) : field;
}

// A calculated column's stored result against its expression (the
// column's Expression property), worked out from the row's other fields.
struct Calculated {
  const char* folder;
  const char* file;
  const char* table;
  const char* column;
  std::string (*expected)(const Record&);
};

const Calculated kCalculated[] = {
    {"ace-lib", "calcFieldTestV2010.accdb", "Table1", "LastFirst",  // [LastName] & ", " & [FirstName]
     [](const Record& r) { return "\"" + unquoted(r.at("LastName")) + ", " + unquoted(r.at("FirstName")) + "\""; }},
    {"ace-lib", "calcFieldTestV2010.accdb", "Table1", "LastFirstLen",  // Len([LastFirst])
     [](const Record& r) { return std::to_string(unquoted(r.at("LastFirst")).size()); }},
    {"ace-lib", "calcFieldTestV2010.accdb", "Table1", "AllNames",  // a Memo: ... & "=" & [LastFirst]
     [](const Record& r) { return "\"" + unquoted(r.at("LastFirst")) + "=" + unquoted(r.at("LastFirst")) + "\""; }},
    {"ace-lib", "calcFieldTestV2010.accdb", "Table1", "SalaryTest",  // [Salary], a Currency
     [](const Record& r) { return r.at("Salary"); }},
    {"ace-lib", "calcFieldTestV2010.accdb", "Table1", "IsRich",  // [Salary]>100000, a Yes/No
     [](const Record& r) { return std::string(std::stod(r.at("Salary")) > 100000 ? "1" : "0"); }},
    {"ace-lib", "calcFieldTestV2010.accdb", "Table1", "BoolTest",  // True
     [](const Record&) { return std::string("1"); }},
    {"ace-lib", "calcFieldTestV2010.accdb", "Table1", "DecimalTest",  // [Popularity], a Decimal
     [](const Record& r) { return r.at("Popularity"); }},
    {"ace-lib", "calcFieldTestV2010.accdb", "Table1", "MonthlySalary",  // [Salary]/12, a Currency
     [](const Record& r) {
       char text[32];
       std::snprintf(text, sizeof text, "%.4f", std::trunc(std::stod(r.at("Salary")) / 12 * 10000) / 10000);
       return std::string(text);
     }},
    {"ace-lib", "extDateTestV2019.accdb", "Table1", "DateNormalCalc",  // [DateNormal]; null stays null
     [](const Record& r) { return r.at("DateNormal"); }},
    {"ace", "a061.accdb", "groups", "full_name",  // [specialization] & "-" & [course] & [number]
     [](const Record& r) {
       return "\"" + unquoted(r.at("specialization")) + "-" + unquoted(r.at("course")) + unquoted(r.at("number")) +
              "\"";
     }},
};

TEST(AceExport, CalculatedColumnsHoldWhatTheirExpressionsGive) {
  for (const Calculated& c : kCalculated) {
    const auto file = jet::testing::corpus_dir() / c.folder / c.file;
    QUILLMAR_REQUIRE_CORPUS(file);
    SCOPED_TRACE(std::string(c.file) + " " + c.column);
    const auto rows = export_table(file, c.table);
    ASSERT_FALSE(rows.empty());
    for (const Record& r : rows) EXPECT_EQ(r.at(c.column), c.expected(r));
  }
}

// Complex columns against the values the public Java reader's tests expect
// of the same files (it lists versions newest first; we write them oldest
// first).
struct ComplexRow {
  const char* key;  // the value of the row's first column
  std::vector<std::pair<const char*, const char*>> fields;
};

TEST(AceExport, ComplexColumnsListTheirHiddenRowsValues) {
  const std::vector<ComplexRow> complex_data = {
      {"\"row1\"", {{"VersionHistory_F5F8918F-0A3F-4DA9-AE71-184EE5012880", "\"\""},
                     {"multi-value-data", "\"\""},
                     {"attach-data", "\"\""}}},
      {"\"row2\"", {{"VersionHistory_F5F8918F-0A3F-4DA9-AE71-184EE5012880", "\"row2-memo\""},
                     {"multi-value-data", "\"value1;value4\""},
                     {"attach-data", "\"test_data.txt;test_data2.txt\""}}},
      {"\"row3\"", {{"VersionHistory_F5F8918F-0A3F-4DA9-AE71-184EE5012880",
                      "\"row3-memo;row3-memo-revised;row3-memo-again\""},
                     {"append-memo-data", "\"row3-memo-again\""},
                     {"multi-value-data", "\"value1;value2;value3;value4\""},
                     {"attach-data", "\"\""}}},
      {"\"row4\"", {{"VersionHistory_F5F8918F-0A3F-4DA9-AE71-184EE5012880", "\"row4-memo\""},
                     {"multi-value-data", "\"\""},
                     {"attach-data", "\"test_data2.txt\""}}},
  };
  // A hidden table whose one value column is of a type nobody knows: the
  // values as hex, in the order they were added.
  const std::vector<ComplexRow> unsupported = {
      {"1", {{"UnknownComplex", "\"FFFE62617A\""}}},
      {"2", {{"UnknownComplex", "\"FFFE666F6F;FFFE62617A\""}}},
      {"3", {{"UnknownComplex", "\"\""}}},
  };
  const struct {
    const char* file;
    const char* table;
    const char* key_column;
    const std::vector<ComplexRow>& rows;
  } cases[] = {{"complexDataTestV2007.accdb", "Table1", "id", complex_data},
               {"complexDataTestV2010.accdb", "Table1", "id", complex_data},
               {"unsupportedFieldsTestV2007.accdb", "Test", "ID", unsupported}};
  for (const auto& c : cases) {
    const auto file = ace_lib(c.file);
    QUILLMAR_REQUIRE_CORPUS(file);
    SCOPED_TRACE(c.file);
    const auto rows = export_table(file, c.table);
    ASSERT_EQ(rows.size(), c.rows.size());
    for (const ComplexRow& expected : c.rows) {
      const auto row = std::find_if(rows.begin(), rows.end(), [&](const Record& r) { return r.at(c.key_column) == expected.key; });
      ASSERT_NE(row, rows.end()) << expected.key;
      for (const auto& [column, field] : expected.fields) EXPECT_EQ(row->at(column), field) << expected.key << " " << column;
    }
  }
}

TEST(AceExport, ValuesOfAComplexColumnAreEscapedInTheirList) {
  std::FILE* out = std::tmpfile();
  {
    CsvWriter csv(out);
    std::string scratch;
    jet::Value a, b, c;
    a.type = b.type = c.type = jet::ColumnType::Text;
    a.is_null = b.is_null = false;
    a.text = u"a;b";
    b.text = u"c\\d\"";
    write_csv_list(csv, {a, b, c}, scratch);
    write_csv_list(csv, {}, scratch);
    csv.end_row();
    csv.flush();
  }
  std::rewind(out);
  char buf[256] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf, out);
  std::fclose(out);
  EXPECT_EQ(std::string(buf, n), "\"a\\;b;c\\\\d\"\";\",\"\"\n");
}

}  // namespace
}  // namespace quillmar_db
