// Damaged copies of ACE samples with complex columns, compacted: a lost
// page of a complex column's hidden table costs only the values on it (the
// parent rows stay, each keeping its complex id), a lost page of the parent
// table costs only its rows; either way the loss is logged, the copy keeps
// its ACE version, its complex columns still find their tables, and our
// check finds it sound.
#include <gtest/gtest.h>

#include "engine/check/check.h"
#include "engine/compact/compact.h"
#include "engine/error.h"
#include "engine/format/text_codec.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

using testing::ScratchDir;

std::unique_ptr<Database> open_db(const std::filesystem::path& p) { return Database::open(p.string()); }

std::size_t live_rows(Database& db, const std::string& table) {
  std::size_t n = 0;
  db.scan_rows(db.table(table), [&](RowPointer, const Row&) { ++n; });
  return n;
}

// The table whose name starts with `prefix` and ends with `suffix`.
std::string table_named(Database& db, const std::string& prefix, const std::string& suffix) {
  for (const TableDef& t : db.tables()) {
    if (t.name.starts_with(prefix) && t.name.ends_with(suffix)) return t.name;
  }
  return {};
}

struct AceDamage {
  const char* sample;        // under ace-lib/
  const char* damaged_table; // prefix of the table whose data pages are zeroed
  const char* suffix;
  const char* parent;        // the table holding the complex columns
};

void PrintTo(const AceDamage& c, std::ostream* os) { *os << c.sample << " " << c.damaged_table << "*" << c.suffix; }

class AceRepair : public ::testing::TestWithParam<AceDamage> {};

TEST_P(AceRepair, ZeroedPagesCostOnlyTheirRowsAndAreLogged) {
  const AceDamage& c = GetParam();
  const auto path = testing::corpus_dir() / "ace-lib" / c.sample;
  QUILLMAR_REQUIRE_CORPUS(path);
  ScratchDir dir;
  const auto damaged = dir / "damaged.accdb";
  Bytes bytes = testing::read_file(path);
  std::string table;
  std::size_t lost = 0, parent_rows = 0;
  {
    auto db = open_db(path);
    table = table_named(*db, c.damaged_table, c.suffix);
    ASSERT_FALSE(table.empty());
    lost = live_rows(*db, table);
    parent_rows = live_rows(*db, c.parent);
    for (PageNumber p : db->table_pages(db->table(table))) {
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(p) * db->page_size(), db->page_size(), 0);
    }
  }
  ASSERT_GT(lost, 0u);
  testing::write_file(damaged, bytes);

  const auto copy_path = dir / "copy.accdb";
  CompactRequest request;
  request.source_path = damaged.string();
  request.destination_path = copy_path.string();
  const CompactResult result = compact_database(request);
  EXPECT_EQ(testing::read_file(damaged), bytes) << "the source must never change";
  EXPECT_FALSE(result.losses.empty());

  auto copy = open_db(copy_path);
  EXPECT_EQ(testing::read_file(copy_path)[0x14], bytes[0x14]);
  EXPECT_EQ(live_rows(*copy, table), 0u);
  if (table != c.parent) {
    EXPECT_EQ(live_rows(*copy, c.parent), parent_rows) << "parent rows must stay";
  }
  // The log names the table that lost its rows.
  std::size_t logged = 0;
  const TableDef log = copy->table("MSysCompactError");
  copy->scan_rows(log, [&](RowPointer, const Row& row) {
    for (std::size_t i = 0; i < log.columns.size(); ++i) {
      if (log.columns[i].name == "ErrorTable" && utf16_to_utf8(row[i].text) == table) ++logged;
    }
  });
  EXPECT_GT(logged, 0u);
  if (table != c.parent) {
    // The loss is told as the complex column's.
    bool told = false;
    for (const auto& loss : result.losses) told = told || loss.description.find("of table '" + std::string(c.parent) + "'") != std::string::npos;
    EXPECT_TRUE(told);
  }
  for (const Finding& f : check_database(*copy).findings) {
    EXPECT_NE(f.severity, Severity::Error) << f.table << ": " << f.message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, AceRepair,
    ::testing::Values(AceDamage{"complexDataTestV2010.accdb", "f_", "_attach-data", "Table1"},
                      AceDamage{"complexDataTestV2010.accdb", "f_", "_multi-value-data", "Table1"},
                      AceDamage{"complexDataTestV2007.accdb", "Table1", "", "Table1"},
                      AceDamage{"attachments.accdb", "f_", "_Field1", "Table1"}),
    [](const ::testing::TestParamInfo<AceDamage>& p) {
      std::string n = std::string(p.param.sample).substr(0, std::string(p.param.sample).find('.')) + "_" +
                      (std::string(p.param.suffix).empty() ? "parent" : std::string(p.param.suffix).substr(1));
      for (char& ch : n) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return n;
    });

}  // namespace
}  // namespace jet
