#include "tools/quillmar-db/csv_values.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace quillmar_db {
namespace {

std::string row_text(const std::vector<jet::Value>& values) {
  std::FILE* f = std::tmpfile();
  {
    CsvWriter csv(f);
    std::string scratch;
    for (const auto& v : values) write_csv_value(csv, v, scratch);
    csv.end_row();
    csv.flush();
  }
  std::rewind(f);
  char buf[1024] = {};
  std::size_t n = std::fread(buf, 1, sizeof buf, f);
  std::fclose(f);
  return std::string(buf, n);
}

jet::Value value(jet::ColumnType type) {
  jet::Value v;
  v.type = type;
  v.is_null = false;
  return v;
}

TEST(CsvValues, EachTypeIsQuotedOrPlainAsAgreed) {
  using T = jet::ColumnType;
  auto b = value(T::Boolean);
  b.integer = 1;
  auto n = value(T::Long);
  n.integer = -5;
  auto cur = value(T::Currency);
  cur.integer = 12345;
  auto d = value(T::Double);
  d.real = 0.1;
  auto s = value(T::Single);
  s.real = static_cast<double>(1.1f);
  auto date = value(T::DateTime);
  date.real = 2.5;
  auto text = value(T::Text);
  text.text = u"say \"x\"";
  auto empty = value(T::Memo);
  auto bin = value(T::Ole);
  bin.bytes = {0xDE, 0xAD};
  jet::Value null;
  null.type = T::Text;
  EXPECT_EQ(row_text({b, n, cur, d, s, date, text, empty, bin, null}),
            "1,-5,1.2345,0.1,1.1,\"1900-01-01 12:00:00\",\"say \"\"x\"\"\",\"\",\"DEAD\",\n");
}

TEST(CsvValues, DecimalsAndGuidsKeepTheirForm) {
  auto dec = value(jet::ColumnType::Numeric);
  dec.decimal.low = 150;
  dec.decimal.scale = 2;
  dec.decimal.negative = true;
  auto guid = value(jet::ColumnType::Guid);
  guid.bytes = {1, 0, 0, 0, 2, 0, 3, 0, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(row_text({dec, guid}), "-1.50,\"{00000001-0002-0003-0405-060708090A0B}\"\n");
}

}  // namespace
}  // namespace quillmar_db
