// Compacts every sample database and checks the result from several sides:
// the outside readers see the same data, the file is no larger, a second
// compaction changes nothing, every page is accounted for by exactly one
// owner, and every rebuilt index lists exactly the rows it should.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine/check/check.h"
#include "engine/compact/compact.h"
#include "engine/error.h"
#include "engine/format/table_definition.h"
#include "engine/format/text_codec.h"
#include "engine/index/index_key.h"
#include "engine/index/index_tree_reader.h"
#include "engine/read/database.h"
#include "engine/tests/compact_audit.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

using testing::CorpusFile;
using testing::ScratchDir;

std::unique_ptr<Database> open_db(const std::filesystem::path& p, const std::optional<std::string>& password) {
  OpenOptions o;
  o.password = password;
  return Database::open(p.string(), o);
}

CompactRequest request_for(const CorpusFile& f, const std::filesystem::path& dst) {
  CompactRequest r;
  r.source_path = f.path.string();
  r.destination_path = dst.string();
  r.source_password = f.password;
  return r;
}

// What each page of a compacted file is for; fails the test on a page
// claimed twice, a data page missing from its table's map, or a page no
// structure claims.
class CompactCorpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(CompactCorpus, CopyHoldsTheSameDataInFreshPages) {
  const CorpusFile& file = GetParam();
  if (file.path.empty()) GTEST_SKIP() << "sample databases not found under " << testing::shared_dir();
  ScratchDir dir;
  const Bytes source_before = testing::read_file(file.path);
  const auto dst = dir / "compacted.mdb";
  CompactResult result;
  try {
    result = compact_database(request_for(file, dst));
  } catch (const Error& e) {
    // Refusing is allowed only with a clear reason and no file left behind.
    EXPECT_EQ(e.number(), errc::kNotBuiltYet) << e.description();
    EXPECT_FALSE(std::filesystem::exists(dst));
    EXPECT_EQ(testing::read_file(file.path), source_before);
    GTEST_SKIP() << "compaction refused: " << e.description();
  }
  EXPECT_EQ(testing::read_file(file.path), source_before) << "the source must never change";
  const auto size = std::filesystem::file_size(dst);
  EXPECT_LE(size, source_before.size());
  EXPECT_EQ(size, result.bytes_after);

  auto db = open_db(dst, file.password);
  EXPECT_EQ(db->header().sort_order, open_db(file.path, file.password)->header().sort_order);
  write_testing::audit_compacted(*db, *open_db(file.path, file.password));
  // Our check places every page of the copy as well (the pages holding
  // the indexes' and long-value columns' usage maps included).
  for (const Finding& f : check_database(*db).findings) {
    EXPECT_TRUE(f.severity != Severity::Error && f.kind != "page-owner") << "page " << f.page << ": " << f.message;
  }

  // A compacted file is its own compaction.
  const auto again = dir / "again.mdb";
  CompactRequest second = request_for(file, again);
  second.source_path = dst.string();
  compact_database(second);
  EXPECT_EQ(testing::read_file(again), testing::read_file(dst));

  if (!std::filesystem::exists(testing::jetdiff_tool())) GTEST_SKIP() << "jetdiff not found; data not compared";
  const int diff = testing::run_jetdiff(file.path, dst, file.password, dir / "jetdiff.log");
  if (diff == -1) GTEST_SKIP() << "jetdiff could not run";
  const Bytes log = testing::read_file(dir / "jetdiff.log");
  EXPECT_TRUE(testing::jetdiff_agrees_with_copy(diff, std::string(log.begin(), log.end())))
      << std::string(log.begin(), log.end());
}

std::vector<CorpusFile> corpus_or_placeholder() {
  auto files = testing::corpus_files();
  if (files.empty()) files.push_back(CorpusFile{});  // so the skip below is visible
  return files;
}

INSTANTIATE_TEST_SUITE_P(Samples, CompactCorpus, ::testing::ValuesIn(corpus_or_placeholder()),
                         [](const ::testing::TestParamInfo<CorpusFile>& param) {
                           if (param.param.path.empty()) return std::string("NoCorpus");
                           std::string n = param.param.name();
                           for (char& c : n) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return n;
                         });

// The rows of every table but the system ones (whose object ids compaction
// renumbers), decoded, by table name; and MSysComplexColumns with its
// table ids as the names of those tables.
std::map<std::string, std::vector<Row>> decoded_tables(Database& db) {
  std::map<std::string, std::vector<Row>> out;
  std::map<std::int64_t, std::string> names;
  for (const CatalogEntry& e : db.catalog()) names[e.id] = e.name;
  for (const TableDef& t : db.tables()) {
    const bool complex_columns = t.name == "MSysComplexColumns";
    if (t.name.rfind("MSys", 0) == 0 && !complex_columns) continue;
    auto& rows = out[t.name];
    db.scan_rows(t, [&](RowPointer, Row row) {
      for (std::size_t i = 0; complex_columns && i < row.size(); ++i) {
        if (t.columns[i].name == "ComplexID" || row[i].type != ColumnType::Long) continue;
        row[i].type = ColumnType::Text;
        row[i].text = utf8_to_utf16(names[row[i].integer]);
        row[i].integer = 0;
      }
      rows.push_back(std::move(row));
    });
  }
  return out;
}

// The ACE column kinds through compaction: calculated results (a Memo one
// is a long value that must move with its row), complex ids and the tables
// MSysComplexColumns names for them, Large Numbers and Date/Time Extended
// values read back the same, and the keys the copy was built with pass its
// own check (compaction runs it).
TEST(CompactAce, KindsOfColumnReadTheSameInTheCopy) {
  for (const char* name : {"calcFieldTestV2010.accdb", "complexDataTestV2010.accdb", "bigint.accdb",
                           "extDateTestV2019.accdb"}) {
    const auto source = testing::corpus_dir() / "ace-lib" / name;
    QUILLMAR_REQUIRE_CORPUS(source);
    SCOPED_TRACE(name);
    ScratchDir dir;
    const CorpusFile file{source, std::nullopt};
    compact_database(request_for(file, dir / "compacted.accdb"));
    auto before = open_db(source, std::nullopt);
    auto after = open_db(dir / "compacted.accdb", std::nullopt);
    EXPECT_EQ(decoded_tables(*after), decoded_tables(*before));
  }
}

}  // namespace
}  // namespace jet
