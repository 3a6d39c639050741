// The ACE databases (Access 2007 and later) of the sample folders: each
// unencrypted one is read whole, checked, and compacted into a copy of the
// same ACE version that holds the same data for the outside readers, keeps
// Access's index keys, passes our check and is its own compaction. Each
// encrypted one is refused with 3031 and leaves nothing behind.
#include <gtest/gtest.h>

#include "engine/check/check.h"
#include "engine/compact/compact.h"
#include "engine/error.h"
#include "engine/read/database.h"
#include "engine/tests/compact_audit.h"
#include "engine/tests/corpus_files.h"
#include "engine/tests/reader_view.h"

namespace jet {
namespace {

using testing::CorpusFile;
using testing::ScratchDir;

constexpr std::size_t kVersionByte = 0x14;
constexpr std::uint16_t kGeneralOrder = 0x0409;

std::unique_ptr<Database> open_db(const std::filesystem::path& p) { return Database::open(p.string(), OpenOptions{}); }

std::string text_of(const std::filesystem::path& p) {
  const Bytes b = testing::read_file(p);
  return std::string(b.begin(), b.end());
}

bool is_encrypted_sample(const CorpusFile& f) { return f.path.parent_path().filename() == "ace-encrypted"; }

// Errors the check rightly reports in files as they were found.
bool is_known_damage(const std::string& file, const Finding& f) {
  // Six rows of one table sit on pages its usage map leaves out, with no
  // index entry for them: lost to every reader that follows the maps.
  return file == "a163.accdb" && f.kind == "usage-map" && f.table == "tb_tempOut";
}

// Errors of the check, one line each; for a copy we wrote, pages it cannot
// place as well (Access leaves some, a copy never does).
std::string errors_of(Database& db, bool every_page_placed = false) {
  std::string out;
  const std::string file = std::filesystem::path(db.path()).filename().string();
  for (const Finding& f : check_database(db).findings) {
    if (is_known_damage(file, f)) continue;
    if (f.severity == Severity::Error || (every_page_placed && f.kind == "page-owner")) {
      out += "  page " + std::to_string(f.page) + " [" + f.table + "] " + f.kind + ": " + f.message + "\n";
    }
  }
  return out;
}

class AceCorpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(AceCorpus, EncryptedFilesAreRefusedWithoutAFile) {
  const CorpusFile& file = GetParam();
  if (file.path.empty()) GTEST_SKIP() << "ACE databases not found under " << testing::corpus_dir();
  const Bytes before = testing::read_file(file.path);
  ScratchDir dir;
  const auto source = dir / "source.accdb";
  testing::write_file(source, before);
  std::unique_ptr<Database> db;
  try {
    db = open_db(source);
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errc::kNotAValidPassword) << e.description();
  }
  if (db) {
    EXPECT_FALSE(is_encrypted_sample(file)) << "an encrypted file opened without its password";
    GTEST_SKIP() << "not encrypted";
  }
  CompactRequest request;
  request.source_path = source.string();
  request.destination_path = (dir / "copy.accdb").string();
  try {
    compact_database(request);
    ADD_FAILURE() << "an encrypted file compacted without its password";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errc::kNotAValidPassword) << e.description();
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "copy.accdb"));
  EXPECT_EQ(testing::read_file(source), before);
}

TEST_P(AceCorpus, ReadsChecksAndCompactsIntoTheSameVersion) {
  const CorpusFile& file = GetParam();
  if (file.path.empty()) GTEST_SKIP() << "ACE databases not found under " << testing::corpus_dir();
  if (is_encrypted_sample(file)) GTEST_SKIP() << "encrypted: refused (the other test)";
  const Bytes before = testing::read_file(file.path);
  std::unique_ptr<Database> source;
  try {
    source = open_db(file.path);
  } catch (const Error& e) {
    // Real files with a password nobody knows are encrypted as a whole.
    ASSERT_EQ(e.number(), errc::kNotAValidPassword) << e.description();
    GTEST_SKIP() << "encrypted with an unknown password";
  }
  ASSERT_TRUE(source->format().ace);

  // Every value of every table reads.
  for (const TableDef& t : source->tables()) {
    std::size_t rows = 0;
    EXPECT_NO_THROW(source->scan_rows(t, [&](RowPointer, const Row&) { ++rows; })) << t.name;
  }
  EXPECT_EQ(errors_of(*source), "") << "the check finds errors in a file as Access left it";

  ScratchDir dir;
  // Compaction locks its source; a copy keeps parallel runs apart.
  const auto source_copy = dir / "source.accdb";
  testing::write_file(source_copy, before);
  const auto dst = dir / "copy.accdb";
  CompactRequest request;
  request.source_path = source_copy.string();
  request.destination_path = dst.string();
  CompactResult result;
  try {
    result = compact_database(request);
  } catch (const Error& e) {
    // A repair adds catalog rows, whose keys in an order we cannot form
    // yet are refused by name; the conversion to General repairs it.
    ASSERT_EQ(e.number(), errc::kNotBuiltYet) << e.description();
    EXPECT_FALSE(std::filesystem::exists(dst));
    EXPECT_EQ(testing::read_file(source_copy), before);
    request.destination_language = kGeneralOrder;
    compact_database(request);
    auto converted = open_db(dst);
    EXPECT_EQ(errors_of(*converted, true), "");
    GTEST_SKIP() << "repaired only when converted to General: " << e.description();
  }
  EXPECT_EQ(testing::read_file(source_copy), before) << "the source must never change";
  const Bytes copy_bytes = testing::read_file(dst);
  ASSERT_GT(copy_bytes.size(), kVersionByte);
  EXPECT_EQ(copy_bytes[kVersionByte], before[kVersionByte]) << "the copy keeps the ACE version";
  EXPECT_EQ(copy_bytes.size(), result.bytes_after);

  auto copy = open_db(dst);
  EXPECT_EQ(errors_of(*copy, true), "");
  write_testing::audit_compacted(*copy, *source);
  const testing::ColumnsByTable calculated = testing::calculated_long_values(*source);
  EXPECT_EQ(testing::values_of(*copy, calculated), testing::values_of(*source, calculated));

  const auto again = dir / "again.accdb";
  request.source_path = dst.string();
  request.destination_path = again.string();
  compact_database(request);
  EXPECT_EQ(testing::read_file(again), copy_bytes) << "a compacted file is its own compaction";

  if (!std::filesystem::exists(testing::jetdiff_tool())) GTEST_SKIP() << "jetdiff not found; data not compared";
  // A repaired copy differs by what the repair added (its log, recovery
  // tables); engine/salvage's tests compare those.
  for (const TableDef& t : copy->tables()) {
    if (t.name == "MSysCompactError") GTEST_SKIP() << "repaired; data not compared";
  }
  const auto log = dir / "jetdiff.log";
  const int diff = testing::run_jetdiff(file.path, dst, std::nullopt, log);
  if (diff == -1) GTEST_SKIP() << "jetdiff could not run";
  ASSERT_NE(diff, 2) << text_of(log);
  EXPECT_EQ(testing::unexplained_differences(text_of(log), testing::ghost_rows_by_table(*source),
                                              testing::calculated_long_values(*source)), "")
      << text_of(log);
}

std::vector<CorpusFile> ace_or_placeholder() {
  auto files = testing::ace_files();
  if (files.empty()) files.push_back(CorpusFile{});  // so the skip is visible
  return files;
}

INSTANTIATE_TEST_SUITE_P(Ace, AceCorpus, ::testing::ValuesIn(ace_or_placeholder()),
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
