// The builder makes Jet 3 and Jet 4 files alike: the reader, the integrity
// check, compaction and the outside readers must all take them as Access
// files of that version.
#include <gtest/gtest.h>

#include "engine/builder/database_builder.h"
#include "engine/builder/encrypted_copy.h"
#include "engine/check/check.h"
#include "engine/compact/compact.h"
#include "engine/crypt/encryption_info.h"
#include "engine/crypt/office_cipher.h"
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

// A built Jet 4 file, encrypted here as Access 2010 would with each kind of
// Office encryption: it opens with its password only, and compacts into a
// copy encrypted the same way that holds the same rows and no readable text.
class EncryptedRoundTrip : public ::testing::TestWithParam<crypt::OfficeKind> {};

bool holds(const Bytes& bytes, const Bytes& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

void expect_wrong_password(const std::string& path, const std::optional<std::string>& password,
                           const crypt::Sealed* written_under = nullptr) {
  OpenOptions options;
  options.password = password;
  options.written_under = written_under;
  try {
    Database::open(path, options);
    ADD_FAILURE() << "opened with a wrong password";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errc::kNotAValidPassword) << e.description();
  }
}

TEST_P(EncryptedRoundTrip, OpensAndCompactsWithItsPasswordOnly) {
  ScratchDir dir;
  const auto plain = dir / "plain.mdb";
  {
    build::DatabaseBuilder builder(plain.string(), options_for(JetVersion::Jet4));
    const std::size_t t = builder.add_table(people());
    for (const Row& r : people_rows(300)) builder.append_row(t, r);
    builder.finish();
  }
  const std::string password = "Kennwort \xC3\xA4\xC3\x9F";  // "Kennwort äß"
  const auto encrypted = dir / "encrypted.accdb";
  build::write_encrypted_copy(default_env(), plain.string(), encrypted.string(), GetParam(), u"Kennwort \u00E4\u00DF");
  expect_wrong_password(encrypted.string(), std::nullopt);
  expect_wrong_password(encrypted.string(), "kennwort \xC3\xA4\xC3\x9F");

  OpenOptions options;
  options.password = password;
  auto source = Database::open(encrypted.string(), options);
  ASSERT_TRUE(source->office_encryption());
  EXPECT_EQ(source->office_encryption()->kind, GetParam());
  auto plain_db = Database::open(plain.string());
  EXPECT_EQ(rows_of(*source, "People"), rows_of(*plain_db, "People"));
  expect_clean(*source);

  CompactRequest r;
  r.source_path = encrypted.string();
  r.destination_path = (dir / "compacted.accdb").string();
  r.source_password = password;
  compact_database(r);
  auto copy = Database::open(r.destination_path, options);
  ASSERT_TRUE(copy->office_encryption());
  EXPECT_EQ(copy->office_encryption()->describe(), source->office_encryption()->describe());
  EXPECT_EQ(rows_of(*copy, "People"), rows_of(*plain_db, "People"));
  expect_clean(*copy);
  // Read back for the compaction's check, a copy is read with the cipher
  // that wrote it when its header is exactly the one sealed; any other
  // header still asks for its password.
  const crypt::Sealed wrote{*copy->office_encryption(), copy->page_cipher()};
  OpenOptions known;
  known.password = "not it";
  known.written_under = &wrote;
  EXPECT_EQ(rows_of(*Database::open(r.destination_path, known), "People"), rows_of(*plain_db, "People"));
  const crypt::Sealed other = crypt::reseal(wrote.info, u"not it", copy->header().database_key);
  expect_wrong_password(r.destination_path, "not it", &other);

  // A new password seals the copy instead of the source's.
  CompactRequest renamed = r;
  renamed.destination_path = (dir / "new-password.accdb").string();
  renamed.destination_password = "Neu";
  compact_database(renamed);
  expect_wrong_password(renamed.destination_path, password);
  OpenOptions with_new;
  with_new.password = "Neu";
  EXPECT_EQ(rows_of(*Database::open(renamed.destination_path, with_new), "People"), rows_of(*plain_db, "People"));
  const Bytes wide{'P', 0, 'e', 0, 'r', 0, 's', 0, 'o', 0, 'n', 0, ' ', 0};
  const Bytes narrow{'P', 'e', 'r', 's', 'o', 'n', ' '};
  ASSERT_TRUE(holds(testing::read_file(plain), wide) || holds(testing::read_file(plain), narrow));
  for (const auto& file : {encrypted, std::filesystem::path(r.destination_path)}) {
    const Bytes bytes = testing::read_file(file);
    EXPECT_FALSE(holds(bytes, wide) || holds(bytes, narrow)) << file << " holds readable text";
  }

  // The JavaScript reader decrypts agile and RC4 CryptoAPI files only.
  if (GetParam() != crypt::OfficeKind::Agile && GetParam() != crypt::OfficeKind::Rc4CryptoApi) return;
  if (!std::filesystem::exists(testing::jetdiff_tool())) GTEST_SKIP() << "jetdiff not found; outside reader not run";
  const int diff = testing::run_jetdiff(encrypted, r.destination_path, password, dir / "jetdiff.log", "--reader mdb-reader");
  if (diff == -1) GTEST_SKIP() << "jetdiff could not run";
  const Bytes log = testing::read_file(dir / "jetdiff.log");
  EXPECT_EQ(diff, 0) << std::string(log.begin(), log.end());
}

INSTANTIATE_TEST_SUITE_P(Kinds, EncryptedRoundTrip,
                         ::testing::Values(crypt::OfficeKind::Rc4CryptoApi, crypt::OfficeKind::StandardAes,
                                           crypt::OfficeKind::AesWithoutSpin, crypt::OfficeKind::Agile),
                         [](const ::testing::TestParamInfo<crypt::OfficeKind>& param) {
                           switch (param.param) {
                             case crypt::OfficeKind::Rc4CryptoApi: return std::string("Rc4CryptoApi");
                             case crypt::OfficeKind::StandardAes: return std::string("StandardAes");
                             case crypt::OfficeKind::AesWithoutSpin: return std::string("AesWithoutSpin");
                             case crypt::OfficeKind::Agile: return std::string("Agile");
                           }
                           return std::string("Unknown");
                         });

// Encryption headers this engine cannot use are refused by name (3251) or
// as damage (3049), before any page is decrypted.
TEST(EncryptionHeader, UnusableHeadersAreRefusedClearly) {
  ScratchDir dir;
  const auto plain = dir / "plain.mdb";
  {
    build::DatabaseBuilder builder(plain.string(), options_for(JetVersion::Jet4));
    builder.add_table(people());
    builder.finish();
  }
  const auto encrypted = dir / "encrypted.accdb";
  build::write_encrypted_copy(default_env(), plain.string(), encrypted.string(), crypt::OfficeKind::Agile, u"pw");
  const Bytes good = testing::read_file(encrypted);
  const std::size_t info = crypt::kEncryptionInfoOffset + 2;
  const auto replaced = [&](std::string_view from, std::string_view to) {
    Bytes b = good;
    const auto at = std::search(b.begin(), b.begin() + 4096, from.begin(), from.end());
    EXPECT_NE(at, b.begin() + 4096) << from;
    if (at != b.begin() + 4096) std::copy(to.begin(), to.end(), at);
    return b;
  };
  struct Case {
    const char* what;
    Bytes bytes;
    int number;
    std::string says;
  };
  std::vector<Case> cases;
  Bytes extensible = good;
  extensible[info + 2] = 3;
  cases.push_back({"extensible", extensible, errc::kNotBuiltYet, "extensible encryption"});
  Bytes office97 = good;
  office97[info] = 1;
  office97[info + 2] = 1;
  cases.push_back({"Office 97", office97, errc::kNotBuiltYet, "Office 97 RC4"});
  cases.push_back({"CFB", replaced("ChainingModeCBC", "ChainingModeCFB"), errc::kNotBuiltYet, "ChainingModeCFB"});
  cases.push_back({"spin", replaced("<p:encryptedKey spinCount=\"100000\"", "<encryptedKey spinCount=\"99999999\""), errc::kCannotOpenDatabase, "rounds"});
  cases.push_back({"salt", replaced("saltValue=\"", "saltValue=\"!"), errc::kCannotOpenDatabase, "base64"});
  Bytes too_long = good;
  too_long[crypt::kEncryptionInfoOffset + 1] = 0x30;
  cases.push_back({"length", too_long, errc::kCannotOpenDatabase, "past the end"});
  for (const Case& c : cases) {
    const auto path = dir / (std::string(c.what) + ".accdb");
    testing::write_file(path, c.bytes);
    OpenOptions options;
    options.password = "pw";
    try {
      Database::open(path.string(), options);
      ADD_FAILURE() << c.what << ": opened";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), c.number) << c.what << ": " << e.description();
      // Damage is told in the source, the familiar sentence in the description.
      const std::string said = e.description() + " " + e.source();
      EXPECT_NE(said.find(c.says), std::string::npos) << c.what << ": " << said;
    }
  }
}

}  // namespace
}  // namespace jet
