// Values that read but are not what they seem: a long-value page whose row
// offsets were garbled hands out slices of other values, or of nothing.
// The repair takes them as damage (the value made NULL and logged, the row
// kept), never as data that the outside readers then choke on.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>

#include "engine/builder/database_builder.h"
#include "engine/format/data_page.h"
#include "engine/salvage/tests/repair_fixture.h"

namespace jet {
namespace {

using namespace repair_testing;

// Gives every row of `page` a random offset, as garbling does; the deleted
// and overflow flags stay off, so each row still looks live.
void garble_row_offsets(const std::filesystem::path& file, const JetFormat& f, PageNumber page, unsigned seed) {
  Bytes bytes = testing::read_file(file);
  const std::size_t at = std::size_t{page} * f.page_size;
  const std::uint16_t count = data_page_row_count(f, std::span<const std::uint8_t>(bytes.data() + at, f.page_size));
  std::mt19937 random(seed);
  for (std::uint16_t r = 0; r < count; ++r) {
    const auto offset = static_cast<std::uint16_t>(random() % f.page_size);
    bytes[at + f.data_row_table_offset + 2u * r] = static_cast<std::uint8_t>(offset);
    bytes[at + f.data_row_table_offset + 2u * r + 1] = static_cast<std::uint8_t>(offset >> 8);
  }
  testing::write_file(file, bytes);
}

// Every Memo and OLE value of a database, by table and column, as bytes
// (text as UTF-8); the catalog's rows by object name, so that the rows a
// repair adds can be told apart.
std::map<std::string, std::set<std::string>> long_values(Database& db) {
  std::map<std::string, std::set<std::string>> out;
  for (const TableDef& t : db.tables()) {
    db.scan_rows(t, [&](RowPointer, const Row& row) {
      std::string name;
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (t.name == "MSysObjects" && t.columns[i].name == "Name") name = utf16_to_utf8(row[i].text);
      }
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (!is_long_value(t.columns[i].type) || row[i].is_null) continue;
        const std::string value = t.columns[i].type == ColumnType::Memo
                                      ? utf16_to_utf8(row[i].text)
                                      : std::string(row[i].bytes.begin(), row[i].bytes.end());
        out[t.name + "." + t.columns[i].name + (name.empty() ? "" : " of " + name)].insert(value);
      }
    });
  }
  return out;
}

TEST_F(Repair, LongValuePageWithGarbledOffsetsLosesItsValuesNotItsRows) {
  struct Case {
    const char* folder;
    const char* file;
    PageNumber page;  // a long-value page of the sample with many values
  };
  // Pages 20-29 hold the catalog's property blobs and the first memos.
  for (const Case& c : {Case{"jet4", "testV2003.mdb", 22}, Case{"jet4", "testV2003.mdb", 29},
                        Case{"jet3", "testV1997.mdb", 20}, Case{"jet4", "queryTestV2003.mdb", 36}}) {
    SCOPED_TRACE(std::string(c.file) + " page " + std::to_string(c.page));
    if (!take(c.folder, c.file, std::to_string(c.page))) GTEST_SKIP() << "sample database absent: " << original_;
    garble_row_offsets(damaged_, source_->format(), c.page, c.page);
    const CompactResult result = compact();
    EXPECT_FALSE(result.losses.empty()) << "values taken from a garbled page";
    for (const CompactLoss& loss : result.losses) {
      EXPECT_NE(loss.description.find("lost"), std::string::npos) << loss.description;
    }
    // Every row stays; the repair adds its log table (a catalog row and
    // the table's permission rows).
    std::map<std::string, std::size_t> copy_rows = row_counts(*open_db(compacted_));
    std::map<std::string, std::size_t> source_rows = row_counts(*source_);
    for (auto* rows : {&copy_rows, &source_rows}) {
      for (const char* added : {"MSysCompactError", "MSysObjects", "MSysACEs"}) rows->erase(added);
    }
    EXPECT_EQ(copy_rows, source_rows);
    // A value the copy kept is one the original held: nothing was read
    // from between the garbled offsets.
    const auto original_values = long_values(*source_);
    for (const auto& [column, values] : long_values(*open_db(compacted_))) {
      if (column.find("MSysCompactError") != std::string::npos) continue;
      const auto known = original_values.find(column);
      for (const std::string& value : values) {
        EXPECT_TRUE(known != original_values.end() && known->second.count(value) != 0)
            << column << " holds a value the original does not: " << value.substr(0, 40);
      }
    }
    const JetDiff diff = jetdiff(original_, compacted_, dir_);
    if (std::filesystem::exists(testing::jetdiff_tool())) {
      EXPECT_TRUE(diff.ran) << "an outside reader cannot read the copy:\n" << diff.log;
    }
  }
}

// A catalog row's property blob that reads but is not properties (its
// bytes overwritten where they lie): the object keeps its row, the copy has
// no properties for it, the loss is logged, and the outside readers read
// the copy (they refuse a table, or the whole file, over such a blob).
TEST_F(Repair, PropertyBlobThatDoesNotParseIsDropped) {
  for (const auto& [folder, file, object] : {std::tuple{"jet4", "testV2003.mdb", "Table1"},
                                             std::tuple{"ace-lib", "testV2010.accdb", "Table1"}}) {
    SCOPED_TRACE(file);
    if (!take(folder, file)) GTEST_SKIP() << "sample database absent: " << original_;
    Bytes blob;
    for (const CatalogEntry& e : source_->catalog()) {
      if (e.name == object) blob = e.properties;
    }
    ASSERT_GE(blob.size(), 16u);
    Bytes bytes = testing::read_file(damaged_);
    const auto at = std::search(bytes.begin(), bytes.end(), blob.begin(), blob.begin() + 16);
    ASSERT_NE(at, bytes.end()) << "the blob is not stored in one piece";
    std::fill_n(at, 4, std::uint8_t{'X'});
    testing::write_file(damaged_, bytes);

    // The check names it before the copy is made.
    const CheckReport before = check_database(*open_db(damaged_));
    EXPECT_TRUE(std::any_of(before.findings.begin(), before.findings.end(),
                            [](const Finding& f) { return f.kind == "properties"; }));
    const CompactResult result = compact();
    const bool logged = std::any_of(result.losses.begin(), result.losses.end(), [](const CompactLoss& l) {
      return l.description.find("do not read as properties") != std::string::npos;
    });
    EXPECT_TRUE(logged);
    auto copy = open_db(compacted_);
    for (const CatalogEntry& e : copy->catalog()) {
      if (e.name == object) {
        EXPECT_TRUE(e.properties.empty()) << "the copy kept the garbled blob";
      }
    }
    EXPECT_EQ(row_counts(*copy).at(object), row_counts(*source_).at(object));
    if (std::filesystem::exists(testing::jetdiff_tool())) {
      EXPECT_TRUE(jetdiff(original_, compacted_, dir_).ran) << "an outside reader cannot read the copy";
    }
  }
}

// The catalog's definition damaged so that LvProp reads as a Binary column:
// each row's property field is then its long-value reference taken for the
// blob, which is not properties. The copy has none and checks clean (found
// by fuzzing: only blobs of long-value columns were looked at, the others
// went into the copy, which then failed its closing check).
TEST_F(Repair, PropertiesOfACatalogColumnThatLostItsTypeAreDropped) {
  if (!take("jet4", "testV2003.mdb")) GTEST_SKIP() << "sample database absent: " << original_;
  const JetFormat& f = source_->format();
  const TableDef catalog = source_->table("MSysObjects");
  const Column* column = catalog.find_column("LvProp");
  ASSERT_NE(column, nullptr);
  Bytes bytes = testing::read_file(damaged_);  // the descriptor lies on one of the definition's pages
  const auto at = std::search(bytes.begin(), bytes.end(), column->raw.begin(), column->raw.end());
  ASSERT_NE(at, bytes.end());
  at[f.column_type_offset] = static_cast<std::uint8_t>(ColumnType::Binary);
  testing::write_file(damaged_, bytes);

  const CompactResult result = compact();
  EXPECT_TRUE(std::any_of(result.losses.begin(), result.losses.end(), [](const CompactLoss& l) {
    return l.description.find("do not read as properties") != std::string::npos;
  }));
  const CheckReport after = check_database(*open_db(compacted_));
  EXPECT_FALSE(std::any_of(after.findings.begin(), after.findings.end(),
                           [](const Finding& finding) { return finding.kind == "properties"; }));
}

// Text that is not valid UTF-16 in a file being repaired is kept as stored
// and logged. A built file: one table's text holds a lone surrogate half,
// another table's long value is lost with its page, so that the copy fails
// on it and the repair reads every value.
TEST(RepairText, LoneSurrogateIsKeptAndLogged) {
  ScratchDir dir;
  const auto path = dir / "built.mdb";
  {
    build::DatabaseBuilder builder(path.string());
    build::TableDesign notes{"Notes", {{"ID", ColumnType::Long, 0, true}, {"Body", ColumnType::Text, 50, false}}, {}};
    build::TableDesign other{"Other", {{"ID", ColumnType::Long, 0, true}, {"Body", ColumnType::Memo, 0, false}}, {}};
    const std::size_t a = builder.add_table(notes);
    const std::size_t b = builder.add_table(other);
    for (const auto& [table, text] : {std::pair{a, std::u16string(u"ab") + char16_t(0xD800) + u"cd"},
                                      std::pair{b, std::u16string(3000, u'x')}}) {
      Row row(2);
      row[0].type = ColumnType::Long;
      row[1].type = table == a ? ColumnType::Text : ColumnType::Memo;
      row[1].is_null = false;
      row[1].text = text;
      builder.append_row(table, row);
    }
    builder.finish();
  }
  const Bytes bytes = testing::read_file(path);
  PageNumber long_values = 0;
  for (PageNumber p = 1; p < bytes.size() / 4096; ++p) {
    const std::uint8_t* page = bytes.data() + std::size_t{p} * 4096;
    if (page[0] == 0x01 && std::equal(page + 4, page + 8, "LVAL")) long_values = p;
  }
  ASSERT_NE(long_values, 0u);
  zero_page(path, long_values, 4096);
  CompactRequest request;
  request.source_path = path.string();
  request.destination_path = (dir / "copy.mdb").string();
  const CompactResult result = compact_database(request);
  const bool logged = std::any_of(result.losses.begin(), result.losses.end(), [](const CompactLoss& l) {
    return l.table == "Notes" && l.description.find("not valid text") != std::string::npos;
  });
  EXPECT_TRUE(logged);
  auto copy = open_db(dir / "copy.mdb");
  std::u16string kept;
  copy->scan_rows(copy->table("Notes"), [&](RowPointer, const Row& row) { kept = row[1].text; });
  EXPECT_EQ(kept, std::u16string(u"ab") + char16_t(0xD800) + u"cd");
}

}  // namespace
}  // namespace jet
