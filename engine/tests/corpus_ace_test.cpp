// The ACE databases (Access 2007 and later) of the sample folders: each
// unencrypted one is read whole, checked, and compacted into a copy of the
// same ACE version that holds the same data for the outside readers, keeps
// Access's index keys, passes our check and is its own compaction. Each
// encrypted one does the same with its password, and its copy is encrypted
// as it was; without the password it is refused with 3031 and leaves
// nothing behind.
#include <gtest/gtest.h>

#include "engine/check/check.h"
#include "engine/compact/compact.h"
#include "engine/crypt/encryption_info.h"
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

std::unique_ptr<Database> open_db(const std::filesystem::path& p, const std::optional<std::string>& password = {}) {
  OpenOptions options;
  options.password = password;
  return Database::open(p.string(), options);
}

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

// Text the file's decrypted pages hold as stored (UTF-16, or one byte per
// character where Access compressed it): the catalog's object names and one
// text value of at least six characters per user table that has one.
std::vector<Bytes> stored_texts(Database& db) {
  Bytes plain;
  for (PageNumber p = 1; p < db.page_count(); ++p) {
    const Bytes page = db.read_page(p);
    plain.insert(plain.end(), page.begin(), page.end());
  }
  const auto stored = [&](const std::u16string& text) -> std::optional<Bytes> {
    Bytes wide;
    Bytes narrow;
    for (char16_t c : text) {
      wide.push_back(static_cast<std::uint8_t>(c));
      wide.push_back(static_cast<std::uint8_t>(c >> 8));
      narrow.push_back(static_cast<std::uint8_t>(c));
    }
    for (const Bytes& form : {wide, narrow}) {
      if (std::search(plain.begin(), plain.end(), form.begin(), form.end()) != plain.end()) return form;
    }
    return std::nullopt;
  };
  std::vector<Bytes> out;
  for (const TableDef& t : db.tables()) {
    bool found = false;
    db.scan_rows(t, [&](RowPointer, const Row& row) {
      for (std::size_t i = 0; i < row.size() && !found; ++i) {
        const ColumnType type = t.columns[i].type;
        if (row[i].is_null || (type != ColumnType::Text && type != ColumnType::Memo) || row[i].text.size() < 6) continue;
        if (auto form = stored(row[i].text)) {
          out.push_back(std::move(*form));
          found = t.name != "MSysObjects";
        }
      }
    });
  }
  return out;
}

// An encrypted copy: the source's kind and parameters of encryption, fresh
// salts, and none of the text the source holds readable in its bytes.
void expect_encrypted_alike(Database& source, const Bytes& copy_bytes) {
  ASSERT_TRUE(source.office_encryption());
  const crypt::OfficeEncryption& was = *source.office_encryption();
  const crypt::OfficeEncryption now = crypt::read_office_encryption(copy_bytes);
  EXPECT_EQ(now.describe(), was.describe());
  EXPECT_EQ(now.kind, was.kind);
  if (now.kind == crypt::OfficeKind::Agile) {
    EXPECT_NE(now.agile.data.salt, was.agile.data.salt);
    EXPECT_NE(now.agile.password.salt, was.agile.password.salt);
  } else {
    EXPECT_EQ(now.api.header, was.api.header);
    EXPECT_NE(now.api.salt, was.api.salt);
  }
  const std::vector<Bytes> texts = stored_texts(source);
  EXPECT_GE(texts.size(), 1u) << "no text to look for";
  for (const Bytes& text : texts) {
    EXPECT_EQ(std::search(copy_bytes.begin(), copy_bytes.end(), text.begin(), text.end()), copy_bytes.end())
        << "the copy holds readable text: " << std::string(text.begin(), text.end());
  }
}

class AceCorpus : public ::testing::TestWithParam<CorpusFile> {};

// The encrypted ones among them, the samples whose password is known and
// the real files whose password nobody here knows.
class AceEncrypted : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(AceEncrypted, NeedTheirPassword) {
  const CorpusFile& file = GetParam();
  if (file.path.empty()) GTEST_SKIP() << "encrypted ACE databases not found under " << testing::corpus_dir();
  if (is_encrypted_sample(file)) {
    ASSERT_TRUE(file.password) << "the folder's README gives no password for it";
  }
  const Bytes before = testing::read_file(file.path);
  ScratchDir dir;
  const auto source = dir / "source.accdb";
  testing::write_file(source, before);
  std::vector<std::optional<std::string>> wrong_passwords{std::nullopt};
  if (file.password) wrong_passwords.push_back(*file.password + "x");
  for (const std::optional<std::string>& wrong : wrong_passwords) {
    try {
      open_db(source, wrong);
      ADD_FAILURE() << "opened with a wrong password";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::kNotAValidPassword) << e.description();
    }
    CompactRequest request;
    request.source_path = source.string();
    request.destination_path = (dir / "copy.accdb").string();
    request.source_password = wrong;
    try {
      compact_database(request);
      ADD_FAILURE() << "compacted with a wrong password";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::kNotAValidPassword) << e.description();
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "copy.accdb"));
  }
  EXPECT_EQ(testing::read_file(source), before);
}

TEST_P(AceCorpus, ReadsChecksAndCompactsIntoTheSameVersion) {
  const CorpusFile& file = GetParam();
  if (file.path.empty()) GTEST_SKIP() << "ACE databases not found under " << testing::corpus_dir();
  const bool encrypted = is_encrypted_sample(file);
  const Bytes before = testing::read_file(file.path);
  std::unique_ptr<Database> source;
  try {
    source = open_db(file.path, file.password);
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
  request.source_password = file.password;
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
    auto converted = open_db(dst, file.password);
    EXPECT_EQ(errors_of(*converted, true), "");
    GTEST_SKIP() << "repaired only when converted to General: " << e.description();
  }
  EXPECT_EQ(testing::read_file(source_copy), before) << "the source must never change";
  const Bytes copy_bytes = testing::read_file(dst);
  ASSERT_GT(copy_bytes.size(), kVersionByte);
  EXPECT_EQ(copy_bytes[kVersionByte], before[kVersionByte]) << "the copy keeps the ACE version";
  EXPECT_EQ(copy_bytes.size(), result.bytes_after);

  auto copy = open_db(dst, file.password);
  EXPECT_EQ(errors_of(*copy, true), "");
  if (encrypted) expect_encrypted_alike(*source, copy_bytes);
  write_testing::audit_compacted(*copy, *source);
  const testing::ColumnsByTable calculated = testing::calculated_long_values(*source);
  EXPECT_EQ(testing::values_of(*copy, calculated), testing::values_of(*source, calculated));

  const auto again = dir / "again.accdb";
  request.source_path = dst.string();
  request.destination_path = again.string();
  EXPECT_TRUE(compact_database(request).losses.empty()) << "a compacted file needs no repair";
  // An encrypted copy gets fresh salts each time, so only its pages as
  // read can be the same. A repaired copy's second compaction keeps every
  // row (a repair's log would show otherwise) but not always every byte:
  // the definitions the repair built get their free space counted anew.
  bool repaired = false;
  for (const TableDef& t : copy->tables()) repaired = repaired || t.name == "MSysCompactError";
  EXPECT_EQ(testing::read_file(again).size(), copy_bytes.size());
  if (!encrypted && !repaired) {
    EXPECT_EQ(testing::read_file(again), copy_bytes) << "a compacted file is its own compaction";
  }

  if (!std::filesystem::exists(testing::jetdiff_tool())) GTEST_SKIP() << "jetdiff not found; data not compared";
  // A repaired copy differs by what the repair added (its log, recovery
  // tables); engine/salvage's tests compare those.
  for (const TableDef& t : copy->tables()) {
    if (t.name == "MSysCompactError") GTEST_SKIP() << "repaired; data not compared";
  }
  const auto log = dir / "jetdiff.log";
  // mdbtools reads no encrypted ACE file; the folder's README says which
  // ones the JavaScript reader opens.
  const int diff = testing::run_jetdiff(file.path, dst, file.password, log, encrypted ? "--reader mdb-reader" : "");
  if (diff == -1) GTEST_SKIP() << "jetdiff could not run";
  if (encrypted && diff == 2) GTEST_SKIP() << "the other reader cannot open it: " << text_of(log);
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

std::vector<CorpusFile> encrypted_or_placeholder() {
  std::vector<CorpusFile> files;
  for (const CorpusFile& f : testing::ace_files()) {
    if (Database::read_header(f.path.string()).header.encrypted()) files.push_back(f);
  }
  if (files.empty()) files.push_back(CorpusFile{});
  return files;
}

std::string test_name(const ::testing::TestParamInfo<CorpusFile>& param) {
  if (param.param.path.empty()) return std::string("NoCorpus");
  std::string n = param.param.name();
  for (char& c : n) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return n;
}

INSTANTIATE_TEST_SUITE_P(Ace, AceCorpus, ::testing::ValuesIn(ace_or_placeholder()), test_name);
INSTANTIATE_TEST_SUITE_P(Ace, AceEncrypted, ::testing::ValuesIn(encrypted_or_placeholder()), test_name);

}  // namespace
}  // namespace jet
