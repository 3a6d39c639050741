// Databases made by the builder: our reader gets back exactly the rows that
// went in, the integrity check finds nothing wrong, and the two outside
// readers (mdbtools, mdb-reader) read the same rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "engine/builder/database_builder.h"
#include "engine/check/check.h"
#include "engine/error.h"
#include "engine/read/database.h"
#include "engine/tests/builder_test_support.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

using builder_testing::customer_row;
using builder_testing::customers_design;
using testing::ScratchDir;

std::vector<Row> rows_of(Database& db, const std::string& table) {
  std::vector<Row> out;
  db.scan_rows(db.table(table), [&](RowPointer, const Row& r) { out.push_back(r); });
  return out;
}

void expect_clean(Database& db) {
  const CheckReport report = check_database(db);
  for (const Finding& f : report.findings) {
    if (f.severity == Severity::Error) ADD_FAILURE() << f.kind << " [" << f.table << "] page " << f.page << ": " << f.message;
  }
}

// Expected rows: the AutoNumber filled in with 1, 2, 3...
Row with_id(Row r, std::int64_t id) {
  r[0] = builder_testing::int_value(ColumnType::Long, id);
  return r;
}

TEST(BuilderDatabase, EmptyDatabaseHoldsTheSystemTablesAccessCreates) {
  ScratchDir dir;
  const auto path = dir / "empty.mdb";
  build::DatabaseBuilder(path.string()).finish();

  auto db = Database::open(path.string());
  EXPECT_EQ(db->version(), JetVersion::Jet4);
  EXPECT_EQ(db->header().code_page, 1252);
  EXPECT_EQ(db->header().sort_order, 0x0409u);
  EXPECT_FALSE(db->header().has_password());
  EXPECT_EQ(db->catalog_table().definition_page, 2u);

  std::map<std::string, CatalogEntry> catalog;
  for (const CatalogEntry& e : db->catalog()) catalog[e.name] = e;
  ASSERT_EQ(catalog.size(), 8u);
  for (const char* container : {"Tables", "Databases", "Relationships"}) {
    ASSERT_TRUE(catalog.count(container)) << container;
    EXPECT_EQ(catalog[container].type, object_type::kContainer);
    EXPECT_EQ(catalog[container].parent_id, 0x0F000000);
  }
  EXPECT_EQ(catalog["MSysDb"].type, object_type::kDatabase);
  EXPECT_EQ(catalog["MSysDb"].parent_id, catalog["Databases"].id);
  for (const char* table : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}) {
    ASSERT_TRUE(catalog.count(table)) << table;
    EXPECT_TRUE(catalog[table].is_table());
    EXPECT_TRUE(catalog[table].is_system());
    EXPECT_EQ(catalog[table].parent_id, catalog["Tables"].id);
    const TableDef t = db->table(table);
    EXPECT_EQ(t.definition_page, catalog[table].table_page());
    EXPECT_TRUE(t.is_system());
  }
  // The catalog's indexes and its columns as Access lays them out.
  const TableDef objects = db->table("MSysObjects");
  EXPECT_EQ(objects.columns.size(), 17u);
  ASSERT_EQ(objects.indexes.size(), 2u);
  EXPECT_EQ(rows_of(*db, "MSysACEs").size(), 16u);
  EXPECT_EQ(rows_of(*db, "MSysQueries").size(), 0u);
  expect_clean(*db);
}

// An Access file of each version to hold the builder's system tables against.
struct AccessSample {
  JetVersion version;
  const char* folder;
  const char* file;
};

void PrintTo(const AccessSample& s, std::ostream* os) { *os << s.folder << "/" << s.file; }

class BuilderSystemTables : public ::testing::TestWithParam<AccessSample> {};

// The system tables match those of a database Access itself created (Access
// 97 for Jet 3, Access 2000 for Jet 4): same columns (number, type, flags,
// size, place) and the same indexes.
TEST_P(BuilderSystemTables, MatchAnAccessFile) {
  const AccessSample& s = GetParam();
  const auto sample = testing::corpus_file(s.folder, s.file);
  if (!sample) GTEST_SKIP() << "sample " << s.file << " not found under " << testing::shared_dir();
  ScratchDir dir;
  const auto path = dir / "empty.mdb";
  build::BuildOptions options;
  options.version = s.version;
  build::DatabaseBuilder(path.string(), options).finish();
  auto ours = Database::open(path.string());
  auto access = Database::open(sample->path.string());
  EXPECT_EQ(ours->version(), access->version());
  EXPECT_EQ(ours->header().code_page, access->header().code_page);
  EXPECT_EQ(ours->header().sort_order, access->header().sort_order);
  EXPECT_EQ(ours->header().sort_order_version, access->header().sort_order_version);
  for (const char* name : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}) {
    SCOPED_TRACE(name);
    const TableDef a = access->table(name);
    const TableDef b = ours->table(name);
    EXPECT_EQ(b.definition_page, a.definition_page);
    EXPECT_EQ(b.table_type, a.table_type);
    EXPECT_EQ(b.var_column_count, a.var_column_count);
    ASSERT_EQ(b.columns.size(), a.columns.size());
    for (std::size_t i = 0; i < a.columns.size(); ++i) {
      const Column& x = a.columns[i];
      const Column& y = b.columns[i];
      EXPECT_EQ(y.name, x.name);
      EXPECT_EQ(y.type, x.type) << x.name;
      EXPECT_EQ(y.number, x.number) << x.name;
      EXPECT_EQ(y.flags, x.flags) << x.name;
      EXPECT_EQ(y.length, x.length) << x.name;
      EXPECT_EQ(y.collation, x.collation) << x.name;
      EXPECT_EQ(y.code_page, x.code_page) << x.name;
      EXPECT_EQ(y.column_id, x.column_id) << x.name;
      if (x.is_fixed()) {
        EXPECT_EQ(y.fixed_offset, x.fixed_offset) << x.name;
      }
      EXPECT_EQ(y.var_index, x.var_index) << x.name;
    }
    ASSERT_EQ(b.index_data.size(), a.index_data.size());
    for (std::size_t i = 0; i < a.index_data.size(); ++i) {
      EXPECT_EQ(b.index_data[i].flags, a.index_data[i].flags);
      ASSERT_EQ(b.index_data[i].columns.size(), a.index_data[i].columns.size());
      for (std::size_t k = 0; k < a.index_data[i].columns.size(); ++k) {
        EXPECT_EQ(b.index_data[i].columns[k].column_number, a.index_data[i].columns[k].column_number);
      }
    }
    ASSERT_EQ(b.indexes.size(), a.indexes.size());
    for (std::size_t i = 0; i < a.indexes.size(); ++i) {
      EXPECT_EQ(b.indexes[i].name, a.indexes[i].name);
      EXPECT_EQ(b.indexes[i].index_data, a.indexes[i].index_data);
      EXPECT_EQ(b.indexes[i].kind, a.indexes[i].kind);
    }
  }
  // The same catalog rows (ids, parents, types, flags), tables aside.
  std::map<std::string, CatalogEntry> theirs;
  for (const CatalogEntry& e : access->catalog()) theirs[e.name] = e;
  for (const CatalogEntry& e : ours->catalog()) {
    ASSERT_TRUE(theirs.count(e.name)) << e.name;
    EXPECT_EQ(e.id, theirs[e.name].id) << e.name;
    EXPECT_EQ(e.parent_id, theirs[e.name].parent_id) << e.name;
    EXPECT_EQ(e.type, theirs[e.name].type) << e.name;
    EXPECT_EQ(e.flags, theirs[e.name].flags) << e.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, BuilderSystemTables,
                         ::testing::Values(AccessSample{JetVersion::Jet3, "jet3", "testV1997.mdb"},
                                           AccessSample{JetVersion::Jet4, "jet4", "emptyJet4.mdb"}),
                         [](const ::testing::TestParamInfo<AccessSample>& p) {
                           return std::string(p.param.version == JetVersion::Jet3 ? "Jet3" : "Jet4");
                         });

class BuilderRows : public ::testing::TestWithParam<JetVersion> {};

TEST_P(BuilderRows, OfEveryCommonTypeReadBackUnchanged) {
  ScratchDir dir;
  const auto path = dir / "customers.mdb";
  constexpr int kRows = 1500;
  std::vector<Row> expected;
  {
    build::BuildOptions options;
    options.version = GetParam();
    build::DatabaseBuilder b(path.string(), options);
    const std::size_t t = b.add_table(customers_design());
    for (int n = 0; n < kRows; ++n) {
      const std::int64_t id = b.append_row(t, customer_row(n));
      EXPECT_EQ(id, n + 1);
      expected.push_back(with_id(customer_row(n), id));
    }
    b.finish();
  }
  auto db = Database::open(path.string());
  const TableDef t = db->table("Customers");
  EXPECT_FALSE(t.is_system());
  EXPECT_EQ(t.row_count, static_cast<std::uint32_t>(kRows));
  ASSERT_EQ(t.indexes.size(), 3u);
  const std::vector<Row> got = rows_of(*db, "Customers");
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].size(), expected[i].size());
    for (std::size_t c = 0; c < got[i].size(); ++c) {
      EXPECT_EQ(got[i][c], expected[i][c]) << "row " << i << " column " << t.columns[c].name;
    }
  }
  // The catalog lists the table under the Tables container.
  bool listed = false;
  for (const CatalogEntry& e : db->catalog()) {
    if (e.name == "Customers") listed = e.is_table() && !e.is_system() && e.table_page() == t.definition_page;
  }
  EXPECT_TRUE(listed);
  expect_clean(*db);
}

INSTANTIATE_TEST_SUITE_P(Versions, BuilderRows, ::testing::Values(JetVersion::Jet3, JetVersion::Jet4),
                         [](const ::testing::TestParamInfo<JetVersion>& p) {
                           return std::string(p.param == JetVersion::Jet3 ? "Jet3" : "Jet4");
                         });

TEST(BuilderDatabase, LessCommonTypesReadBackUnchanged) {
  using builder_testing::bytes_value;
  using builder_testing::int_value;
  using builder_testing::null_value;
  using builder_testing::real_value;
  ScratchDir dir;
  const auto path = dir / "types.mdb";
  build::TableDesign design;
  design.name = "Odd Types";
  design.columns = {build::ColumnDesign{"B", ColumnType::Byte, 0, false}, build::ColumnDesign{"S", ColumnType::Single, 0, false},
                  build::ColumnDesign{"G", ColumnType::Guid, 0, false}, build::ColumnDesign{"Raw", ColumnType::Binary, 0, false}};
  design.indexes = {build::IndexDesign{"ByB", {"B"}, false, false}};
  Bytes guid(16);
  for (std::size_t i = 0; i < guid.size(); ++i) guid[i] = static_cast<std::uint8_t>(0xF0 - i);
  const std::vector<Row> rows = {
      {int_value(ColumnType::Byte, 255), real_value(ColumnType::Single, -1.5), bytes_value(ColumnType::Guid, guid),
       bytes_value(ColumnType::Binary, Bytes{0, 1, 2, 0xFF})},
      {int_value(ColumnType::Byte, 0), null_value(ColumnType::Single), null_value(ColumnType::Guid),
       bytes_value(ColumnType::Binary, Bytes(255, 0xAB))},
      {null_value(ColumnType::Byte), real_value(ColumnType::Single, 0.25), bytes_value(ColumnType::Guid, guid),
       null_value(ColumnType::Binary)}};
  {
    build::DatabaseBuilder b(path.string());
    const std::size_t t = b.add_table(design);
    for (const Row& r : rows) b.append_row(t, r);
    b.finish();
  }
  auto db = Database::open(path.string());
  EXPECT_EQ(rows_of(*db, "Odd Types"), rows);
  expect_clean(*db);
}

TEST(BuilderDatabase, RowsDeletedLikeAccessStayOnTheirPagesButAreGone) {
  ScratchDir dir;
  const auto path = dir / "deleted.mdb";
  std::vector<std::int64_t> live_ids;
  std::uint32_t pages = 0;
  {
    build::DatabaseBuilder b(path.string());
    const std::size_t t = b.add_table(customers_design());
    for (int n = 0; n < 600; ++n) {
      const bool doomed = n % 3 != 0;
      const std::int64_t id = b.append_row(t, customer_row(n), doomed ? build::RowFate::kDeleted : build::RowFate::kLive);
      if (!doomed) live_ids.push_back(id);
    }
    b.finish();
    pages = b.pages_written();
  }
  auto db = Database::open(path.string());
  EXPECT_EQ(db->page_count(), pages);
  const TableDef t = db->table("Customers");
  EXPECT_EQ(t.row_count, live_ids.size());
  std::vector<std::int64_t> ids;
  for (const Row& r : rows_of(*db, "Customers")) ids.push_back(r[0].integer);
  EXPECT_EQ(ids, live_ids);
  // AutoNumbers of deleted rows are used up, as in Access.
  EXPECT_EQ(t.next_autonumber, 601u);
  expect_clean(*db);
}

TEST(BuilderDatabase, SeveralTablesInterleavedKeepTheirOwnPages) {
  ScratchDir dir;
  const auto path = dir / "two.mdb";
  build::TableDesign orders;
  orders.name = "Orders";
  orders.columns = {build::ColumnDesign{"OrderNo", ColumnType::Long, 0, false},
                    build::ColumnDesign{"Item", ColumnType::Text, 20, false}};
  orders.indexes = {build::IndexDesign{"OrderNo", {"OrderNo"}, false, true}};
  {
    build::DatabaseBuilder b(path.string());
    const std::size_t c = b.add_table(customers_design());
    const std::size_t o = b.add_table(orders);
    for (int n = 0; n < 400; ++n) {
      b.append_row(c, customer_row(n));
      b.append_row(o, Row{builder_testing::int_value(ColumnType::Long, 1000 - n),
                          builder_testing::text_value(ColumnType::Text, u"item")});
    }
    b.finish();
  }
  auto db = Database::open(path.string());
  EXPECT_EQ(rows_of(*db, "Customers").size(), 400u);
  EXPECT_EQ(rows_of(*db, "Orders").size(), 400u);
  expect_clean(*db);
}

TEST(BuilderDatabase, RefusesWhatAccessWouldRefuse) {
  ScratchDir dir;
  const auto expect_error = [](int number, const auto& action) {
    try {
      action();
      ADD_FAILURE() << "expected error " << number;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), number) << e.description();
      EXPECT_FALSE(e.description().empty());
    }
  };
  {
    build::DatabaseBuilder b((dir / "a.mdb").string());
    build::TableDesign bad = customers_design();
    bad.columns.push_back(bad.columns[1]);
    expect_error(3001, [&] { b.add_table(bad); });
    bad = customers_design();
    bad.columns[1].autonumber = true;
    expect_error(3001, [&] { b.add_table(bad); });
    bad = customers_design();
    bad.indexes.push_back(build::IndexDesign{"ByNotes", {"Notes"}, false, false});
    expect_error(3001, [&] { b.add_table(bad); });
    bad = customers_design();
    bad.indexes[1].columns = {"Nope"};
    expect_error(3001, [&] { b.add_table(bad); });
    const std::size_t t = b.add_table(customers_design());
    expect_error(3010, [&] { b.add_table(customers_design()); });
    expect_error(3001, [&] { b.append_row(t, Row{}); });
    Row too_long = customer_row(1);
    too_long[1] = builder_testing::text_value(ColumnType::Text, std::u16string(51, u'a'));
    expect_error(3001, [&] { b.append_row(t, too_long); });
    Row wrong_type = customer_row(1);
    wrong_type[2] = builder_testing::real_value(ColumnType::Double, 1.5);
    expect_error(3001, [&] { b.append_row(t, wrong_type); });
    Row out_of_range = customer_row(1);
    out_of_range[2] = builder_testing::int_value(ColumnType::Integer, 40000);
    expect_error(3001, [&] { b.append_row(t, out_of_range); });
    expect_error(3001, [&] { b.append_row(0, Row{}); });  // system tables are the builder's own
    expect_error(3001, [&] { b.append_row(t + 1, customer_row(1)); });
    expect_error(3001, [&] { b.add_table(build::TableDesign{"No Columns", {}, {}}); });
  }
  // Unfinished builders leave no file behind.
  EXPECT_FALSE(std::filesystem::exists(dir / "a.mdb"));
  // A duplicate in a unique index fails the whole build.
  expect_error(3022, [&] {
    build::DatabaseBuilder b((dir / "dup.mdb").string());
    const std::size_t t = b.add_table(customers_design());
    b.append_row(t, customer_row(1, 7));
    b.append_row(t, customer_row(2, 7));
    b.finish();
  });
  EXPECT_FALSE(std::filesystem::exists(dir / "dup.mdb"));
  // An existing file is never overwritten.
  testing::write_file(dir / "taken.mdb", Bytes{1, 2, 3});
  expect_error(3204, [&] { build::DatabaseBuilder b((dir / "taken.mdb").string()); });
  EXPECT_EQ(testing::read_file(dir / "taken.mdb"), (Bytes{1, 2, 3}));
}

// Runs jetdump and returns its output, or nullopt when it cannot run.
std::optional<std::string> jetdump(const std::filesystem::path& file, const std::string& reader) {
  const auto tool = testing::shared_dir() / "tools" / "jetdump";
  if (!std::filesystem::exists(tool)) return std::nullopt;
  const std::string cmd = "'" + tool.string() + "' '" + file.string() + "' --reader " + reader + " 2>&1";
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  char buffer[4096];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  const int status = pclose(pipe);
  if (status != 0) return "exit " + std::to_string(status) + "\n" + out;
  return out;
}

class BuilderOutsideReaders : public ::testing::TestWithParam<JetVersion> {};

TEST_P(BuilderOutsideReaders, ReadTheBuiltFile) {
  ScratchDir dir;
  const auto path = dir / "outside.mdb";
  {
    build::BuildOptions options;
    options.version = GetParam();
    build::DatabaseBuilder b(path.string(), options);
    const std::size_t t = b.add_table(customers_design());
    for (int n = 0; n < 300; ++n) b.append_row(t, customer_row(n), n % 10 == 9 ? build::RowFate::kDeleted : build::RowFate::kLive);
    b.finish();
  }
  int ran = 0;
  for (const char* reader : {"mdbtools", "mdb-reader"}) {
    const std::optional<std::string> out = jetdump(path, reader);
    if (!out || out->find("reader " + std::string(reader)) == std::string::npos) {
      std::cout << "[  SKIPPED ] jetdump with " << reader << " is not available here" << std::endl;
      continue;
    }
    ++ran;
    EXPECT_EQ(out->rfind("exit ", 0), std::string::npos) << *out;
    EXPECT_NE(out->find("table Customers"), std::string::npos) << reader;
    EXPECT_NE(out->find("stored-rows 270"), std::string::npos) << reader;
    EXPECT_NE(out->find("rows 270 "), std::string::npos) << reader;
    EXPECT_NE(out->find("rows 16 "), std::string::npos) << reader << ": MSysACEs";
    // A long memo comes back whole, and text with accents intact.
    EXPECT_NE(out->find(std::string(5003, 'x').substr(0, 5000)), std::string::npos) << reader;
    EXPECT_NE(out->find("Müller"), std::string::npos) << reader;
  }
  if (ran == 0) GTEST_SKIP() << "neither outside reader is available (" << testing::shared_dir() << "/tools)";
}

INSTANTIATE_TEST_SUITE_P(Versions, BuilderOutsideReaders, ::testing::Values(JetVersion::Jet3, JetVersion::Jet4),
                         [](const ::testing::TestParamInfo<JetVersion>& p) {
                           return std::string(p.param == JetVersion::Jet3 ? "Jet3" : "Jet4");
                         });

}  // namespace
}  // namespace jet
