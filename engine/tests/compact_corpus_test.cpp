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
  EXPECT_EQ(diff, 0) << std::string(log.begin(), log.end());
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

}  // namespace
}  // namespace jet
