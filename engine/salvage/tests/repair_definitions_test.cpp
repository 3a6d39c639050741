// Copies of the sample databases whose table definitions or catalog are
// damaged the way fuzzing and practice found them (a definition overwritten
// or unable to place its columns, the catalog's definition or its rows for
// itself, for MSysDb or for a table garbled, the catalog's rows all lost),
// then compacted: each test checks what the copy keeps and logs, or that the
// run fails cleanly when nothing can be recovered by name.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "engine/builder/database_builder.h"
#include "engine/check/check.h"
#include "engine/compact/compact.h"
#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/format/data_page.h"
#include "engine/format/lock_file_users.h"
#include "engine/format/row_layout.h"
#include "engine/format/table_definition.h"
#include "engine/format/text_codec.h"
#include "engine/index/index_findings.h"
#include "engine/index/index_page_builder.h"
#include "engine/index/index_page_reader.h"
#include "engine/index/index_tree_reader.h"
#include "engine/model/access_tables.h"
#include "engine/read/database.h"
#include "engine/salvage/tests/repair_fixture.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

using namespace repair_testing;

// A user table whose definition page is overwritten: that table is left
// out (logged), every other table kept whole.
TEST_F(Repair, DamagedDefinitionLeavesOutOnlyThatTable) {
  if (!take("wild", "w133.mdb")) GTEST_SKIP() << "sample database absent: " << original_;
  const TableDef t = source_->table("Shippers");
  zero_page(damaged_, t.definition_page, source_->page_size());

  const CompactResult result = compact();
  ASSERT_EQ(result.losses.size(), 1u);
  EXPECT_EQ(result.losses[0].table, "Shippers");
  EXPECT_NE(result.losses[0].description.find("Table Shippers was left out with all its rows"), std::string::npos)
      << result.losses[0].description;
  auto before = row_counts(*source_);
  auto after = row_counts(*open_db(compacted_));
  EXPECT_EQ(after.count("Shippers"), 0u);
  before.erase("Shippers");
  after.erase("MSysCompactError");
  after["MSysACEs"] -= ace_rows(*open_db(compacted_), "MSysCompactError");
  EXPECT_EQ(after, before);
  expect_jetdiff({{"Shippers", {0, 0}}});
}


// Changes the descriptor of a column in its table's definition page.
void edit_column_descriptor(const std::filesystem::path& file, Database& db, const TableDef& t,
                            const std::string& column, const std::function<void(std::uint8_t*)>& edit) {
  const Column* c = t.find_column(column);
  ASSERT_NE(c, nullptr);
  Bytes bytes = testing::read_file(file);
  const auto page = bytes.begin() + std::ptrdiff_t{t.definition_page} * db.page_size();
  const auto at = std::search(page, page + db.page_size(), c->raw.begin(), c->raw.end());
  ASSERT_NE(at, page + db.page_size()) << "the descriptor of " << column;
  edit(&*at);
  testing::write_file(file, bytes);
}

// Flips a column's "fixed length" flag and zeroes its fixed offset (a
// variable column's holds leftovers, often 0), so that the column claims
// the first bytes of the row's fixed area.
void flip_fixed_flag(const std::filesystem::path& file, Database& db, const TableDef& t, const std::string& column) {
  const JetFormat& f = db.format();
  edit_column_descriptor(file, db, t, column, [&](std::uint8_t* d) {
    d[f.column_flags_offset] ^= 0x01;
    d[f.column_fixed_offset_offset] = 0;
    d[f.column_fixed_offset_offset + 1] = 0;
  });
}

// Gives a column another number (its bit in the null mask).
void renumber_column(const std::filesystem::path& file, Database& db, const TableDef& t, const std::string& column,
                     std::uint16_t number) {
  const JetFormat& f = db.format();
  edit_column_descriptor(file, db, t, column, [&](std::uint8_t* d) {
    d[f.column_number_offset] = static_cast<std::uint8_t>(number & 0xFF);
    d[f.column_number_offset + 1] = static_cast<std::uint8_t>(number >> 8);
  });
}

// A definition that cannot place its columns' values apart (columns
// sharing bytes of the row, a column numbered beyond the table's columns;
// fuzzing found both in the catalog's) cannot say where a row's values lie.
// A user table so damaged is left out with its rows, logged; the catalog so
// damaged fails the run cleanly, nothing written, rather than writing a
// catalog whose rows do not read back.
TEST_F(Repair, DefinitionThatCannotPlaceItsColumnsIsDamage) {
  for (const bool renumbered : {false, true}) {
    SCOPED_TRACE(renumbered ? "renumbered" : "overlapping");
    if (!take("wild", "w133.mdb", renumbered ? ".renumbered" : ".overlapping")) {
      GTEST_SKIP() << "sample database absent: " << original_;
    }
    if (renumbered) {
      renumber_column(damaged_, *source_, source_->table("Orders"), "ShipCity", 300);
    } else {
      flip_fixed_flag(damaged_, *source_, source_->table("Orders"), "ShipCity");
    }
    const CheckReport report = check_database(*open_db(damaged_));
    EXPECT_TRUE(std::any_of(report.findings.begin(), report.findings.end(), [](const Finding& f) {
      return f.severity == Severity::Error && f.kind == "definition" && f.table == "Orders";
    }));
    const CompactResult result = compact();
    ASSERT_EQ(result.losses.size(), 1u);
    const std::string& said = result.losses[0].description;
    EXPECT_NE(said.find("Table Orders was left out with all its rows"), std::string::npos) << said;
    EXPECT_NE(said.find(renumbered ? "numbered 300" : "share bytes of the row"), std::string::npos) << said;
    auto before = row_counts(*source_);
    auto after = row_counts(*open_db(compacted_));
    EXPECT_EQ(after.count("Orders"), 0u);
    EXPECT_EQ(after["Order Details"], before["Order Details"]);
  }

  for (const auto& [folder, file] : {std::pair{"jet3", "testV1997.mdb"}, std::pair{"wild", "w133.mdb"}}) {
    SCOPED_TRACE(file);
    if (!take(folder, file, ".catalog")) GTEST_SKIP() << "sample database absent: " << original_;
    flip_fixed_flag(damaged_, *source_, source_->table("MSysObjects"), "Owner");
    compact_fails_naming("share bytes");
    std::filesystem::remove(damaged_);
    std::filesystem::copy_file(original_, damaged_);
    renumber_column(damaged_, *source_, source_->table("MSysObjects"), "ForeignName", 256);
    compact_fails_naming("numbered 256");
  }
}



// Found by fuzzing the compaction: a catalog definition whose Name column
// is renamed names no table. Nothing can be recovered by name, so the run
// fails cleanly rather than writing a copy no reader can list.
TEST_F(Repair, CatalogDefinitionWithoutItsNameColumnFailsCleanly) {
  for (const auto& [folder, file] : {std::pair{"jet3", "testV1997.mdb"}, std::pair{"wild", "w133.mdb"}}) {
    SCOPED_TRACE(file);
    if (!take(folder, file)) GTEST_SKIP() << "sample database absent: " << original_;
    const bool jet4 = source_->format().version == JetVersion::Jet4;
    Bytes bytes = testing::read_file(damaged_);
    const std::size_t page2 = std::size_t{2} * source_->page_size();
    const Bytes name = jet4 ? Bytes{8, 0, 'N', 0, 'a', 0, 'm', 0, 'e', 0} : Bytes{4, 'N', 'a', 'm', 'e'};
    const auto at = std::search(bytes.begin() + std::ptrdiff_t(page2), bytes.begin() + std::ptrdiff_t(page2 + source_->page_size()),
                                name.begin(), name.end());
    ASSERT_NE(at, bytes.begin() + std::ptrdiff_t(page2 + source_->page_size()));
    *(at + (jet4 ? 4 : 2)) = 'b';
    testing::write_file(damaged_, bytes);
    compact_fails_naming("catalog");
  }
}

// The root page of a user table's index on text, garbled behind its page
// type; none when the sample has no such index.

// Found by fuzzing the compaction: the catalog's row for itself with every
// value NULL (its null mask zeroed) while the catalog's indexes still list
// it under its old key. The copy must not keep that stale key (it would
// clash with the catalog's own row in the unique name index), and the
// catalog gets its own row back. The blank row names no object: it is left
// out and logged rather than copied as a catalog row of nothing.
TEST_F(Repair, CatalogRowForItselfBlankedIsWrittenAgain) {
  for (const auto& [folder, file] : {std::pair{"jet3", "testV1997.mdb"}, std::pair{"wild", "w133.mdb"}}) {
    SCOPED_TRACE(file);
    if (!take(folder, file)) GTEST_SKIP() << "sample database absent: " << original_;
    const TableDef catalog = source_->table("MSysObjects");
    std::optional<RowPointer> own;
    source_->scan_rows(catalog, [&](RowPointer where, const Row& row) {
      if (row[0].integer == 2 && !row[0].is_null) own = where;
    });
    ASSERT_TRUE(own);
    blank_row(damaged_, *source_, *own);

    const CompactResult result = compact();
    auto db = open_db(compacted_);
    std::size_t own_rows = 0, blank_rows = 0;
    db->scan_rows(db->table("MSysObjects"), [&](RowPointer, const Row& row) {
      own_rows += !row[0].is_null && row[0].integer == 2 && utf16_to_utf8(row[2].text) == "MSysObjects";
      blank_rows += row[0].is_null || row[2].is_null;
    });
    EXPECT_EQ(own_rows, 1u);
    EXPECT_EQ(blank_rows, 0u);
    ASSERT_EQ(result.losses.size(), 1u);
    EXPECT_NE(result.losses[0].description.find("names no object"), std::string::npos);
    expect_row_counts_but_the_log_tables(*db);
  }
}

// Found by fuzzing the compaction: the catalog's MSysDb row with its Id and
// ParentId changed while the index still lists it under its old key. The
// row is kept as it now reads, MSysDb is written again under its own ids,
// and the old stored key, which is the new row's, must not come along.
// Where in the file a catalog column of the row naming `object` lies (a
// fixed-length column: Id, ParentId, Type, Flags).
std::uint64_t catalog_value_at(Database& db, const std::string& object, const std::string& column) {
  const TableDef catalog = db.table("MSysObjects");
  std::optional<RowPointer> row;
  db.scan_rows(catalog, [&](RowPointer where, const Row& values) {
    if (utf16_to_utf8(values[2].text) == object) row = where;
  });
  EXPECT_TRUE(row) << object;
  if (!row) return 0;
  const RowSlot slot = data_page_slot(db.format(), db.read_page(row->page), row->row);
  // The fixed columns follow the column count (2 bytes in Jet 4, 1 in Jet 3).
  const std::size_t fixed = slot.start + (db.format().version == JetVersion::Jet4 ? 2 : 1);
  return std::uint64_t{row->page} * db.page_size() + fixed + catalog.find_column(column)->fixed_offset;
}

TEST_F(Repair, CatalogRowChangedBehindItsKeyLeavesTheKeyBehind) {
  for (const auto& [folder, file] : {std::pair{"jet3", "testV1997.mdb"}, std::pair{"jet4", "testV2000.mdb"}}) {
    SCOPED_TRACE(file);
    if (!take(folder, file)) GTEST_SKIP() << "sample database absent: " << original_;
    put_u32_at(damaged_, catalog_value_at(*source_, "MSysDb", "Id"), 0x1B1B1B1B);
    put_u32_at(damaged_, catalog_value_at(*source_, "MSysDb", "ParentId"), 0x1B1B1B1B);

    compact();
    auto db = open_db(compacted_);
    std::size_t named = 0, with_its_ids = 0;
    db->scan_rows(db->table("MSysObjects"), [&](RowPointer, const Row& row) {
      if (utf16_to_utf8(row[2].text) != "MSysDb") return;
      ++named;
      with_its_ids += row[0].integer == 0x10000000 && row[1].integer == 0x0F000002;
    });
    EXPECT_EQ(named, 2u) << "the changed row is a row of the source and stays";
    EXPECT_EQ(with_its_ids, 1u);
  }
}

// Found by fuzzing the compaction: a table's catalog row whose Type no
// longer says table. The table is found by its definition and gets a row
// of its own (an engine table under its name, a user table as
// Recovered_Table_<page>); the damaged row, which still claims the table's
// id, is left out (logged), or the two would share a key in the unique
// index on Id.
TEST_F(Repair, TableRowWithADamagedTypeIsWrittenAgain) {
  for (const std::string table : {"MSysRelationships", "Table1"}) {
    SCOPED_TRACE(table);
    if (!take("jet4", "testV2000.mdb", table)) GTEST_SKIP() << "sample database absent: " << original_;
    const TableDef def = source_->table(table);
    Bytes bytes = testing::read_file(damaged_);
    bytes[catalog_value_at(*source_, table, "Type")] = 0x7F;
    testing::write_file(damaged_, bytes);

    const CompactResult result = compact();
    const bool claim_logged = std::any_of(result.losses.begin(), result.losses.end(), [&](const CompactLoss& l) {
      return l.description.find("claims the id of table") != std::string::npos;
    });
    EXPECT_TRUE(claim_logged);
    auto before = row_counts(*source_);
    auto after = row_counts(*open_db(compacted_));
    const std::string found_as = def.is_system() ? table : "Recovered_Table_" + std::to_string(def.definition_page);
    EXPECT_EQ(after[found_as], before[table]);
  }
}

// Found by fuzzing the compaction: a copy of the catalog's definition on a
// page no catalog row names (here over the root of a user table's index,
// which the copy builds from the rows anyway). By its design it is the catalog, whose name is taken: it is
// left out (logged), and the copy keeps one catalog and one row naming it.
TEST_F(Repair, SecondCatalogDefinitionIsLeftOut) {
  for (const auto& [folder, file] : {std::pair{"jet3", "testV1997.mdb"}, std::pair{"jet4", "testV2000.mdb"}}) {
    SCOPED_TRACE(file);
    if (!take(folder, file)) GTEST_SKIP() << "sample database absent: " << original_;
    std::optional<PageNumber> blank;
    for (const TableDef& t : source_->tables()) {
      for (const IndexData& d : t.index_data) {
        if (!t.is_system() && !blank && d.first_page != 0) blank = d.first_page;
      }
    }
    ASSERT_TRUE(blank) << "no index of a user table to put the copy on";
    Bytes bytes = testing::read_file(damaged_);
    const Bytes catalog = source_->read_page(2);
    std::copy(catalog.begin(), catalog.end(), bytes.begin() + std::ptrdiff_t{*blank} * source_->page_size());
    testing::write_file(damaged_, bytes);

    const CompactResult result = compact();
    const bool logged = std::any_of(result.losses.begin(), result.losses.end(), [](const CompactLoss& l) {
      return l.description.find("the catalog names another MSysObjects") != std::string::npos;
    });
    EXPECT_TRUE(logged);
    auto db = open_db(compacted_);
    std::size_t catalog_rows = 0;
    db->scan_rows(db->table("MSysObjects"), [&](RowPointer, const Row& row) {
      catalog_rows += utf16_to_utf8(row[2].text) == "MSysObjects";
    });
    EXPECT_EQ(catalog_rows, 1u);
    expect_row_counts_but_the_log_tables(*db);
  }
}

// The rows of a table, as our reader decodes them, in no particular order.
std::vector<Row> rows_of(Database& db, const TableDef& t) {
  std::vector<Row> out;
  db.scan_rows(t, [&](RowPointer, const Row& row) { out.push_back(row); });
  return out;
}

// A catalog that lost every row (a small database keeps its whole catalog
// on one page): every table's definition is found on its page and comes
// back with all its rows, the user's as Recovered_Table_<page>, the
// engine's own under their names; the containers and the database object
// every catalog holds are written again.
TEST_F(Repair, CatalogThatLostEveryRowGivesEachTableBack) {
  for (const auto& [folder, file] :
       {std::pair{"jet3", "testV1997.mdb"}, std::pair{"jet4", "testV2000.mdb"}, std::pair{"wild", "w133.mdb"}}) {
    SCOPED_TRACE(file);
    if (!take(folder, file)) GTEST_SKIP() << "sample database absent: " << original_;
    const std::vector<PageNumber> catalog_pages = source_->table_pages(source_->table("MSysObjects"));
    for (PageNumber p : catalog_pages) zero_page(damaged_, p, source_->page_size());

    const CompactResult result = compact();
    EXPECT_EQ(result.losses.front().table, "MSysObjects");
    auto copy = open_db(compacted_);
    std::map<std::string, std::pair<long, long>> expected;
    for (const TableDef& t : source_->tables()) {
      SCOPED_TRACE(t.name);
      if (t.name == "MSysObjects") continue;
      const std::vector<Row> before = rows_of(*source_, t);
      if (t.is_system() || system_catalog::access_table_by_design(t)) {
        // The engine's and Access's own tables come back under their names.
        // Their rows name objects by id, and ids are definition pages, which
        // compaction moves: only the count compares.
        EXPECT_EQ(rows_of(*copy, copy->table(t.name)).size(), before.size());
        continue;
      }
      // A user's table comes back under its definition page's number, an
      // empty one too (its design is the user's work).
      const std::string name = "Recovered_Table_" + std::to_string(t.definition_page);
      const std::vector<Row> after = rows_of(*copy, copy->table(name));
      EXPECT_TRUE(std::is_permutation(before.begin(), before.end(), after.begin(), after.end()));
      if (!t.name.starts_with("MSys")) expected[t.name] = {0, 0};
      expected[name] = {0, 0};
    }
    std::set<std::string> objects;
    copy->scan_rows(copy->table("MSysObjects"), [&](RowPointer, const Row& row) { objects.insert(utf16_to_utf8(row[2].text)); });
    for (const char* standard : {"Tables", "Databases", "Relationships", "MSysDb", "MSysObjects"}) {
      EXPECT_TRUE(objects.count(standard)) << standard;
    }
    expect_jetdiff(expected, true);
  }
}

// With the catalog's rows gone and no table of the user's on any page,
// there is nothing to give back: a clear failure, nothing written.
TEST_F(Repair, CatalogThatLostEveryRowOfAnEmptyDatabaseFailsCleanly) {
  damaged_ = dir_ / "engine-tables-only.mdb";
  compacted_ = dir_ / "engine-tables-only.compacted";
  build::DatabaseBuilder(damaged_.string()).finish();
  const auto made = open_db(damaged_);
  for (PageNumber p : made->table_pages(made->table("MSysObjects"))) zero_page(damaged_, p, made->page_size());
  compact_fails_naming("lost every row");
}

}  // namespace
}  // namespace jet
