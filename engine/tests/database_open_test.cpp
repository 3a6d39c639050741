// Opening databases: formats, header facts, passwords, encryption and the
// errors for files that are not (or no longer) databases.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/error.h"
#include "engine/file/fault_injection_env.h"
#include "engine/file/file_errors.h"
#include "engine/file/memory_env.h"
#include "engine/format/header_page.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

using testing::corpus_dir;
using testing::ScratchDir;

OpenOptions with_password(const char* password) {
  OpenOptions o;
  o.password = password;
  return o;
}

template <typename Call>
int open_error_of(Call&& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

int open_error(const std::string& path, const OpenOptions& options = {}) {
  try {
    Database::open(path, options);
  } catch (const Error& e) {
    EXPECT_FALSE(e.description().empty());
    EXPECT_FALSE(e.source().empty());
    return e.number();
  }
  return 0;
}

TEST(DatabaseOpen, EveryCorpusFileOpensAndListsItsCatalogTable) {
  auto files = testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "sample databases absent under " << corpus_dir();
  for (const testing::CorpusFile& sample : files) {
    const std::filesystem::path& file = sample.path;
    SCOPED_TRACE(file.string());
    OpenOptions o;
    o.password = sample.password;
    auto db = Database::open(file.string(), o);
    bool jet3 = file.parent_path().filename() == "jet3";
    EXPECT_EQ(db->version(), jet3 ? JetVersion::Jet3 : JetVersion::Jet4);
    EXPECT_EQ(db->page_size(), jet3 ? 2048u : 4096u);
    EXPECT_EQ(db->page_count() * std::uint64_t{db->page_size()}, db->file_size());
    EXPECT_EQ(db->header().code_page, 1252);
    EXPECT_EQ(db->header().sort_order, 0x0409u);
    if (!jet3) {
      EXPECT_GT(db->header().creation_date, 35000.0);  // after 1995
    }
    auto catalog = db->catalog();
    ASSERT_FALSE(catalog.empty());
    bool found = false;
    for (const auto& e : catalog) found |= e.name == "MSysObjects" && e.is_table() && e.table_page() == 2;
    EXPECT_TRUE(found);
  }
}

TEST(DatabaseOpen, PasswordIsCheckedCaseSensitivelyOnlyWhenTheFileHasOne) {
  auto file = (corpus_dir() / "password" / "V2003_with-password.mdb").string();
  QUILLMAR_REQUIRE_CORPUS(file);
  EXPECT_EQ(open_error(file), errc::kNotAValidPassword);
  EXPECT_EQ(open_error(file, with_password("Password")), errc::kNotAValidPassword);
  EXPECT_EQ(open_error(file, with_password("passwor")), errc::kNotAValidPassword);
  auto db = Database::open(file, with_password("password"));
  EXPECT_TRUE(db->header().has_password());
  EXPECT_EQ(db->header().password, u"password");

  auto plain = (corpus_dir() / "jet4" / "testV2000.mdb").string();
  EXPECT_EQ(open_error(plain, with_password("anything at all")), 0);
  EXPECT_FALSE(Database::open(plain)->header().has_password());
  try {
    Database::open(file, with_password("wrong"));
  } catch (const Error& e) {
    EXPECT_EQ(e.description(), "Not a valid password.");
  }
}

TEST(DatabaseOpen, EncryptedPagesAreDecryptedTransparently) {
  auto file = (corpus_dir() / "jet4" / "db-enc.mdb").string();
  QUILLMAR_REQUIRE_CORPUS(file);
  auto db = Database::open(file);
  EXPECT_TRUE(db->header().encrypted());
  // Stored bytes of the catalog's definition page are scrambled; decrypted
  // they start with the table-definition page type.
  Bytes stored = testing::read_file(file);
  EXPECT_NE(stored[2 * 4096], page_type::kTableDefinition);
  EXPECT_EQ(db->read_page(2)[0], page_type::kTableDefinition);
  std::size_t user_tables = 0;
  for (const auto& t : db->tables()) user_tables += t.is_system() ? 0 : 1;
  EXPECT_GT(user_tables, 0u);
}

TEST(DatabaseOpen, FilesThatAreNotJetDatabasesAreUnrecognized) {
  ScratchDir dir;
  auto make = [&](const std::string& name, const Bytes& bytes) {
    testing::write_file(dir / name, bytes);
    return (dir / name).string();
  };
  EXPECT_EQ(open_error(make("empty.mdb", {})), errc::kUnrecognizedFormat);
  const char* text = "Name,Value\nfirst,1\n";
  EXPECT_EQ(open_error(make("text.mdb", Bytes(text, text + std::strlen(text)))), errc::kUnrecognizedFormat);
  // An ACE header with a version byte later than any we know is refused by
  // name.
  Bytes ace(4096, 0);
  ace[1] = 1;
  std::memcpy(ace.data() + 4, "Standard ACE DB", 15);
  for (const int version : {7, 0xFF}) {
    ace[0x14] = static_cast<std::uint8_t>(version);
    const std::string path = make("later.accdb", ace);
    EXPECT_EQ(open_error(path), errc::kUnrecognizedFormat);
    try {
      Database::open(path);
    } catch (const Error& e) {
      EXPECT_NE(e.description().find("ACE version byte " + std::to_string(version)), std::string::npos)
          << e.description();
    }
  }
  EXPECT_EQ(open_error(make("zeros.mdb", Bytes(8192, 0))), errc::kUnrecognizedFormat);
  EXPECT_EQ(open_error(dir.path().string()), errc::kUnrecognizedFormat);
  std::string missing = (dir / "nowhere.mdb").string();
  EXPECT_EQ(open_error(missing), errc::kCouldNotFindFile);
  try {
    Database::open((dir / "empty.mdb").string());
  } catch (const Error& e) {
    EXPECT_EQ(e.description(), "Unrecognized database format '" + (dir / "empty.mdb").string() + "'.");
  }
}

TEST(DatabaseOpen, TruncatedOrZeroedDatabasesAreReportedAsDamaged) {
  auto file = corpus_dir() / "jet4" / "testV2003.mdb";
  QUILLMAR_REQUIRE_CORPUS(file);
  Bytes original = testing::read_file(file);
  ScratchDir dir;
  auto variant = [&](const std::string& name, Bytes bytes) {
    testing::write_file(dir / name, bytes);
    return open_error((dir / name).string());
  };
  EXPECT_EQ(variant("header-only.mdb", Bytes(original.begin(), original.begin() + 4096)),
            errc::kCannotOpenDatabase);
  EXPECT_EQ(variant("half-header.mdb", Bytes(original.begin(), original.begin() + 2000)),
            errc::kCannotOpenDatabase);
  Bytes zeroed = original;
  std::fill(zeroed.begin() + 4096, zeroed.end(), 0);
  EXPECT_EQ(variant("zeroed.mdb", zeroed), errc::kCannotOpenDatabase);
  // A catalog definition chain that points back at itself.
  Bytes looping = original;
  looping[2 * 4096 + 4] = 2;
  EXPECT_EQ(variant("loop.mdb", looping), errc::kCannotOpenDatabase);
}

TEST(DatabaseOpen, ReadFailuresSurfaceAsFileLayerErrors) {
  auto file = (corpus_dir() / "jet4" / "testV2003.mdb").string();
  QUILLMAR_REQUIRE_CORPUS(file);
  FaultInjectionEnv env(default_env());
  OpenOptions o;
  o.env = &env;
  env.fail_read_page(2, 4096);
  EXPECT_EQ(open_error(file, o), errc::kDiskOrNetworkError);
  env.clear_faults();
  auto db = Database::open(file, o);
  env.fail_read_page(27, 4096);  // Table1's data page
  EXPECT_THROW(db->scan_rows(db->table("Table1"), [](RowPointer, const Row&) {}), Error);
}

TEST(DatabaseOpen, SiblingHandleReadsTheSameDecryptedPagesThroughItsOwnCache) {
  for (const auto& [folder, name] : {std::pair{"jet4", "db-enc.mdb"}, std::pair{"password", "V2003_with-password.mdb"}}) {
    const auto sample = testing::corpus_file(folder, name);
    if (!sample) GTEST_SKIP() << "sample database absent: " << folder << "/" << name << " under " << corpus_dir();
    SCOPED_TRACE(sample->path.string());
    OpenOptions o;
    o.password = sample->password;
    o.cache_pages = 8;
    auto db = Database::open(sample->path.string(), o);
    db->page(2);
    const std::size_t cached = db->cached_pages();
    auto sibling = db->open_sibling();
    EXPECT_EQ(sibling->page_count(), db->page_count());
    for (PageNumber p = 0; p < db->page_count(); ++p) EXPECT_EQ(*sibling->page(p), db->read_page(p)) << "page " << p;
    EXPECT_EQ(db->cached_pages(), cached);
    EXPECT_LE(sibling->cached_pages(), 8u);
    EXPECT_EQ(sibling->tables().size(), db->tables().size());
  }
}

TEST(DatabaseOpen, NoSiblingOnceTheFileHasChanged) {
  const auto sample = testing::corpus_file("jet4", "testV2003.mdb");
  if (!sample) GTEST_SKIP() << "sample database absent under " << corpus_dir();
  const Bytes original = testing::read_file(sample->path);
  MemoryEnv env;
  OpenOptions o;
  o.env = &env;
  env.put("db.mdb", original);
  auto db = Database::open("db.mdb", o);
  EXPECT_NO_THROW(db->open_sibling());

  Bytes grown = original;
  grown.resize(grown.size() + 4096, 0);
  env.put("db.mdb", grown);
  EXPECT_EQ(open_error_of([&] { db->open_sibling(); }), errc::kCannotOpenDatabase);

  Bytes other = original;  // same size, another header (a different creation date)
  other[0x72] ^= 0x01;
  env.put("db.mdb", other);
  EXPECT_EQ(open_error_of([&] { db->open_sibling(); }), errc::kCannotOpenDatabase);
}

TEST(HeaderPage, MaskingTwiceRestoresTheBytesAndThePasswordSitsUnderTheDateMask) {
  auto file = corpus_dir() / "password" / "V2000_with-password.mdb";
  QUILLMAR_REQUIRE_CORPUS(file);
  Bytes page = testing::read_file(file);
  page.resize(4096);
  HeaderInfo info;
  ASSERT_TRUE(parse_header_page(page.data(), page.size(), file.string(), info));
  EXPECT_EQ(info.password, u"password");
  Bytes again = info.unmasked;
  toggle_header_mask(jet4_format(), again.data());
  EXPECT_EQ(again, page);
  // Without the date mask the stored password bytes are not the plain text.
  Bytes raw(info.unmasked.begin() + 0x42, info.unmasked.begin() + 0x42 + 4);
  EXPECT_NE(raw, (Bytes{'p', 0, 'a', 0}));
  toggle_password_date_mask(jet4_format(), info.unmasked.data());
  EXPECT_EQ(Bytes(info.unmasked.begin() + 0x42, info.unmasked.begin() + 0x42 + 4), (Bytes{'p', 0, 'a', 0}));
}

// Puts `password` into a copy of a corpus file's header the way Access
// stores it, then checks the reader finds it again: covers Jet 3, which has
// no password sample, and the Jet 4 creation-date mask.
TEST(HeaderPage, PasswordsWrittenIntoEitherFormatAreRecognised) {
  ScratchDir dir;
  for (const char* file : {"jet3/testV1997.mdb", "jet4/testV2000.mdb"}) {
    SCOPED_TRACE(file);
    QUILLMAR_REQUIRE_CORPUS(corpus_dir() / file);
    Bytes bytes = testing::read_file(corpus_dir() / file);
    HeaderInfo info;
    ASSERT_TRUE(parse_header_page(bytes.data(), bytes.size(), file, info));
    const JetFormat& f = *info.format;
    Bytes header = info.unmasked;
    toggle_password_date_mask(f, header.data());  // now the plain, zero-padded password
    // "S\u00E9same": an accented letter checks the code page / UCS-2 path.
    std::u16string secret = u"S\u00E9same";
    for (std::size_t i = 0; i < secret.size(); ++i) {
      if (f.text_is_ucs2()) {
        header[f.header_password_offset + 2 * i] = static_cast<std::uint8_t>(secret[i]);
        header[f.header_password_offset + 2 * i + 1] = static_cast<std::uint8_t>(secret[i] >> 8);
      } else {
        header[f.header_password_offset + i] = static_cast<std::uint8_t>(secret[i]);
      }
    }
    toggle_password_date_mask(f, header.data());
    toggle_header_mask(f, header.data());
    std::copy(header.begin(), header.end(), bytes.begin());
    auto path = dir / (std::string(f.name) + ".mdb");
    testing::write_file(path, bytes);

    EXPECT_EQ(open_error(path.string(), with_password("S\xC3\xA9same")), 0);
    EXPECT_EQ(open_error(path.string(), with_password("s\xC3\xA9same")), errc::kNotAValidPassword);
    EXPECT_EQ(open_error(path.string()), errc::kNotAValidPassword);
  }
}

}  // namespace
}  // namespace jet
