// Tables whose catalog row is lost: the name lived only there, so the table
// is found by its definition page. Access's own tables come back under
// their names, known by their design; a user's table, with or without
// rows, as Recovered_Table_<page> with the loss logged.
#include <gtest/gtest.h>

#include "engine/format/data_page.h"
#include "engine/model/access_tables.h"
#include "engine/salvage/tests/repair_fixture.h"

namespace jet {
namespace {

using namespace repair_testing;

// Makes every column of the catalog row naming `object` NULL (its null
// mask zeroed), as a garbled row reads.
void blank_catalog_row(const std::filesystem::path& file, Database& db, const std::string& object) {
  const TableDef catalog = db.table("MSysObjects");
  std::optional<RowPointer> at;
  db.scan_rows(catalog, [&](RowPointer where, const Row& row) {
    if (utf16_to_utf8(row[2].text) == object) at = where;
  });
  ASSERT_TRUE(at) << object;
  blank_row(file, db, *at);
}

struct CatalogEntryView {
  std::uint32_t flags = 0;
  std::size_t rows = 0;
};

std::optional<CatalogEntryView> table_entry(Database& db, const std::string& name) {
  for (const CatalogEntry& e : db.catalog()) {
    if (!e.is_table() || e.name != name) continue;
    CatalogEntryView out{e.flags, 0};
    db.scan_rows(db.table_of(e), [&](RowPointer, const Row&) { ++out.rows; });
    return out;
  }
  return std::nullopt;
}

// One of Access's own tables comes back under its name, as a system table
// with its rows; no Recovered_Table_ takes its place.
TEST_F(Repair, AccessTableWithoutItsCatalogRowKeepsItsName) {
  struct Case {
    const char* folder;
    const char* file;
    const char* table;
  };
  for (const Case& c : {Case{"jet4", "compIndexTestV2000.mdb", "MSysAccessObjects"},
                        Case{"ace-lib", "testV2007.accdb", "MSysNavPaneGroupCategories"},
                        Case{"ace-lib", "testV2010.accdb", "MSysAccessStorage"}}) {
    SCOPED_TRACE(std::string(c.file) + " " + c.table);
    if (!take(c.folder, c.file, c.table)) GTEST_SKIP() << "sample database absent: " << original_;
    const std::optional<CatalogEntryView> before = table_entry(*source_, c.table);
    ASSERT_TRUE(before) << "the sample has no " << c.table;
    blank_catalog_row(damaged_, *source_, c.table);
    const CompactResult result = compact();
    auto copy = open_db(compacted_);
    const std::optional<CatalogEntryView> after = table_entry(*copy, c.table);
    ASSERT_TRUE(after) << c.table << " did not come back";
    EXPECT_EQ(after->flags, before->flags);
    EXPECT_EQ(after->rows, before->rows);
    for (const TableDef& t : copy->tables()) EXPECT_FALSE(t.name.starts_with("Recovered_Table_")) << t.name;
    EXPECT_FALSE(result.losses.empty()) << "the lost catalog row is not logged";
  }
}

// A user's table with no rows keeps its design, under a name that says it
// was recovered, and the log says so.
TEST_F(Repair, EmptyTableWithoutItsCatalogRowComesBackEmpty) {
  if (!take("jet4", "testV2003.mdb")) GTEST_SKIP() << "sample database absent: " << original_;
  const TableDef lost = source_->table("Table3");
  ASSERT_EQ(row_counts(*source_).at("Table3"), 0u);
  blank_catalog_row(damaged_, *source_, "Table3");
  const CompactResult result = compact();
  const std::string recovered = "Recovered_Table_" + std::to_string(lost.definition_page);
  auto copy = open_db(compacted_);
  const TableDef back = copy->table(recovered);
  ASSERT_EQ(back.columns.size(), lost.columns.size());
  for (std::size_t i = 0; i < lost.columns.size(); ++i) {
    EXPECT_EQ(back.columns[i].name, lost.columns[i].name);
    EXPECT_EQ(back.columns[i].type, lost.columns[i].type);
  }
  EXPECT_EQ(row_counts(*copy).at(recovered), 0u);
  const bool logged = std::any_of(result.losses.begin(), result.losses.end(),
                                  [&](const CompactLoss& l) { return l.table == recovered; });
  EXPECT_TRUE(logged);
}

// Every table Access keeps in a sample file is known by its design, with
// the catalog flags the file gives it, and no table of a user's is taken
// for one of them.
TEST(AccessTables, EverySampleTableIsKnownByItsDesign) {
  std::vector<testing::CorpusFile> files = testing::corpus_files();
  for (auto more : {testing::wild_files(), testing::ace_files()}) files.insert(files.end(), more.begin(), more.end());
  if (files.empty()) GTEST_SKIP() << "sample databases not found under " << testing::corpus_dir();
  std::size_t known = 0;
  for (const testing::CorpusFile& file : files) {
    std::unique_ptr<Database> db;
    try {
      OpenOptions options;
      options.password = file.password;
      db = Database::open(file.path.string(), options);
    } catch (const Error&) {
      continue;  // encrypted with a password nobody here knows
    }
    for (const CatalogEntry& e : db->catalog()) {
      if (!e.is_table()) continue;
      const TableDef t = db->table_of(e);
      const auto design = system_catalog::access_table_by_design(t);
      const bool access_table = e.is_system() && !t.is_system() && e.name.starts_with("MSys") &&
                                e.name.find("VH_") == std::string::npos;
      // One sample gives a column a kind no version of Access has (0x48):
      // no design is to be read from it.
      const bool unknown_kind = std::any_of(t.columns.begin(), t.columns.end(), [](const Column& c) {
        return static_cast<int>(c.type) > static_cast<int>(ColumnType::DateTimeExtended);
      });
      if (access_table && !unknown_kind) {
        ASSERT_TRUE(design) << file.name() << ": " << e.name;
        EXPECT_EQ(design->name, e.name) << file.name();
        EXPECT_EQ(design->flags, e.flags) << file.name() << ": " << e.name;
        ++known;
      } else if (!e.is_system()) {
        EXPECT_FALSE(design) << file.name() << ": user table " << e.name << " taken for " << design->name;
      }
    }
  }
  EXPECT_GT(known, 0u);
}

}  // namespace
}  // namespace jet
