// The builder makes Jet 3 and Jet 4 files alike: the reader, the integrity
// check, compaction and the outside readers must all take them as Access
// files of that version.
#include <gtest/gtest.h>

#include "engine/builder/database_builder.h"
#include "engine/check/check.h"
#include "engine/compact/compact.h"
#include "engine/error.h"
#include "engine/file/fault_injection_env.h"
#include "engine/file/memory_env.h"
#include "engine/read/database.h"
#include "engine/tests/compact_audit.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

using testing::ScratchDir;

Value v_text(std::u16string s, ColumnType type = ColumnType::Text) {
  Value v;
  v.type = type;
  v.is_null = false;
  v.text = std::move(s);
  return v;
}
Value v_null(ColumnType type) {
  Value v;
  v.type = type;
  return v;
}

build::TableDesign people() {
  build::TableDesign d;
  d.name = "People";
  d.columns = {{"ID", ColumnType::Long, 0, true},       {"Name", ColumnType::Text, 50, false},
               {"Notes", ColumnType::Memo, 0, false},   {"Photo", ColumnType::Ole, 0, false},
               {"Born", ColumnType::DateTime, 0, false}, {"Member", ColumnType::Boolean, 0, false}};
  d.indexes = {{"PrimaryKey", {"ID"}, true, true}, {"Name", {"Name"}, false, false}};
  return d;
}

// Rows with long and short values, some null, names out of key order.
std::vector<Row> people_rows(std::size_t n) {
  std::vector<Row> rows;
  for (std::size_t i = 0; i < n; ++i) {
    Row r(6);
    r[0] = v_null(ColumnType::Long);  // numbered by the builder
    r[1] = v_text(u"Person " + std::u16string(1, static_cast<char16_t>(u'A' + (i * 7) % 26)) + u" " +
                  std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
    r[2] = i % 3 == 0 ? v_text(std::u16string(100 + 40 * i, u'x'), ColumnType::Memo) : v_null(ColumnType::Memo);
    r[3] = v_null(ColumnType::Ole);
    if (i % 5 == 0) {
      r[3].is_null = false;
      r[3].bytes.assign(3000 + i, static_cast<std::uint8_t>(i));
    }
    r[4].type = ColumnType::DateTime;
    r[4].is_null = false;
    r[4].real = 30000.25 + static_cast<double>(i);
    r[5].type = ColumnType::Boolean;
    r[5].is_null = false;
    r[5].integer = i % 2;
    rows.push_back(std::move(r));
  }
  return rows;
}

void expect_clean(Database& db) {
  const CheckReport report = check_database(db);
  for (const Finding& f : report.findings) {
    if (f.severity == Severity::Error) ADD_FAILURE() << f.kind << " [" << f.table << "] page " << f.page << ": " << f.message;
  }
}

std::vector<Row> rows_of(Database& db, const std::string& table) {
  std::vector<Row> out;
  db.scan_rows(db.table(table), [&](RowPointer, const Row& r) { out.push_back(r); });
  return out;
}

build::BuildOptions options_for(JetVersion version) {
  build::BuildOptions o;
  o.version = version;
  return o;
}

class BuiltDatabase : public ::testing::TestWithParam<JetVersion> {};

TEST_P(BuiltDatabase, ReadsBackChecksCleanAndCompactsToTheSameData) {
  ScratchDir dir;
  const auto path = dir / "built.mdb";
  const std::vector<Row> rows = people_rows(400);
  {
    build::DatabaseBuilder builder(path.string(), options_for(GetParam()));
    const std::size_t t = builder.add_table(people());
    for (const Row& r : rows) builder.append_row(t, r);
    builder.finish();
  }

  auto db = Database::open(path.string());
  EXPECT_EQ(db->version(), GetParam());
  EXPECT_EQ(db->page_size(), GetParam() == JetVersion::Jet3 ? 2048u : 4096u);
  std::vector<std::string> names;
  for (const TableDef& t : db->tables()) names.push_back(t.name);
  EXPECT_EQ(names, (std::vector<std::string>{"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships", "People"}));
  const TableDef people_table = db->table("People");
  EXPECT_EQ(people_table.row_count, rows.size());
  std::size_t i = 0;
  db->scan_rows(people_table, [&](RowPointer, const Row& got) {
    ASSERT_LT(i, rows.size());
    EXPECT_EQ(got[0].integer, static_cast<std::int64_t>(i + 1)) << "AutoNumber in key order";
    for (std::size_t k = 1; k < got.size(); ++k) {
      EXPECT_EQ(got[k].is_null, rows[i][k].is_null) << "row " << i << " column " << k;
      EXPECT_EQ(got[k].text, rows[i][k].text) << "row " << i << " column " << k;
      EXPECT_EQ(got[k].bytes, rows[i][k].bytes) << "row " << i << " column " << k;
    }
    ++i;
  });
  EXPECT_EQ(i, rows.size());
  expect_clean(*db);
  write_testing::audit_compacted(*db, *db);

  CompactRequest r;
  r.source_path = path.string();
  r.destination_path = (dir / "compacted.mdb").string();
  compact_database(r);
  auto compacted = Database::open(r.destination_path);
  EXPECT_EQ(rows_of(*compacted, "People"), rows_of(*db, "People"));
  // A built file is nearly compact: the builder closes long-value pages
  // early to bound its memory, which compaction packs a little tighter.
  EXPECT_LE(compacted->page_count(), db->page_count());
  EXPECT_GE(compacted->page_count() * 100, db->page_count() * 97);

  if (!std::filesystem::exists(testing::jetdiff_tool())) GTEST_SKIP() << "jetdiff not found; outside readers not run";
  const int diff = testing::run_jetdiff(path, r.destination_path, std::nullopt, dir / "jetdiff.log");
  if (diff == -1) GTEST_SKIP() << "jetdiff could not run";
  const Bytes log = testing::read_file(dir / "jetdiff.log");
  EXPECT_EQ(diff, 0) << std::string(log.begin(), log.end());
}

TEST_P(BuiltDatabase, PasswordIsSetAndRequired) {
  ScratchDir dir;
  build::BuildOptions o = options_for(GetParam());
  o.password = "geheim";
  build::DatabaseBuilder(dir / "p.mdb", o).finish();
  OpenOptions right;
  right.password = "geheim";
  EXPECT_EQ(Database::open((dir / "p.mdb").string(), right)->header().password, u"geheim");
  EXPECT_THROW(Database::open((dir / "p.mdb").string()), Error);

  o.password = std::string(41, 'x');
  try {
    build::DatabaseBuilder b(dir / "long.mdb", o);
    ADD_FAILURE() << "a password longer than the header holds was taken";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3031);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "long.mdb"));
}

// The builder writes through the Env it is given; a failed write leaves no
// file behind there either.
TEST_P(BuiltDatabase, BuildsThroughTheEnvItIsGivenAndCleansUpAfterAFailure) {
  MemoryEnv memory;
  build::BuildOptions o = options_for(GetParam());
  o.env = &memory;
  const std::vector<Row> rows = people_rows(60);
  {
    build::DatabaseBuilder builder("/memory/people.mdb", o);
    const std::size_t t = builder.add_table(people());
    for (const Row& r : rows) builder.append_row(t, r);
    builder.finish();
  }
  EXPECT_FALSE(std::filesystem::exists("/memory/people.mdb"));
  OpenOptions open;
  open.env = &memory;
  auto db = Database::open("/memory/people.mdb", open);
  EXPECT_EQ(db->version(), GetParam());
  EXPECT_EQ(rows_of(*db, "People").size(), rows.size());

  FaultInjectionEnv faulty(memory);
  faulty.fail_write_at(std::uint64_t{db->page_size()} * 40, /*disk_full=*/true);
  o.env = &faulty;
  try {
    build::DatabaseBuilder builder("/memory/full.mdb", o);
    const std::size_t t = builder.add_table(people());
    for (const Row& r : people_rows(400)) builder.append_row(t, r);
    builder.finish();
    ADD_FAILURE() << "a full disk went unnoticed";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3026) << e.description();
  }
  EXPECT_FALSE(memory.file_exists("/memory/full.mdb"));
}

INSTANTIATE_TEST_SUITE_P(Versions, BuiltDatabase, ::testing::Values(JetVersion::Jet3, JetVersion::Jet4),
                         [](const ::testing::TestParamInfo<JetVersion>& p) {
                           return std::string(p.param == JetVersion::Jet3 ? "Jet3" : "Jet4");
                         });

TEST(BuiltDatabase, TableBeyondAnInlineMapGetsAReferenceMap) {
  ScratchDir dir;
  const auto path = dir / "large.mdb";
  build::TableDesign wide;
  wide.name = "Wide";
  wide.columns = {{"ID", ColumnType::Long, 0, true}, {"Body", ColumnType::Text, 255, false}};
  wide.indexes = {{"PrimaryKey", {"ID"}, true, true}};
  // 255 characters that do not compress: about 520 bytes a row, 7 rows a page.
  const std::u16string body(255, u'\u0416');
  constexpr std::size_t kRows = 4000;
  {
    build::DatabaseBuilder builder(path.string());
    const std::size_t t = builder.add_table(wide);
    for (std::size_t i = 0; i < kRows; ++i) builder.append_row(t, Row{v_null(ColumnType::Long), v_text(body)});
    builder.finish();
  }

  auto db = Database::open(path.string());
  const TableDef t = db->table("Wide");
  EXPECT_EQ(t.row_count, kRows);
  EXPECT_EQ(t.usage_map_owned.at(0), 0x01) << "a reference map";
  const std::vector<PageNumber> pages = db->table_pages(t);
  EXPECT_GT(pages.size(), 512u);
  EXPECT_EQ(pages.back() - pages.front() + 1, pages.size()) << "data pages are adjacent";
  std::size_t n = 0;
  db->scan_rows(t, [&](RowPointer, const Row& row) {
    EXPECT_EQ(row[0].integer, static_cast<std::int64_t>(++n));
    EXPECT_EQ(row[1].text, body);
  });
  EXPECT_EQ(n, kRows);
  expect_clean(*db);
  write_testing::audit_compacted(*db, *db);
}

}  // namespace
}  // namespace jet
