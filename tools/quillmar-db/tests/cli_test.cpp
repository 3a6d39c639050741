// quillmar-db as a user runs it: arguments in, text and exit status out.
#include "tools/quillmar-db/cli.h"
#include "tools/quillmar-db/tests/cli_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/format/lock_file_users.h"
#include "engine/tests/corpus_files.h"
#include "engine/tests/lock_holder_process.h"

namespace quillmar_db {
namespace {

namespace fs = std::filesystem;

using Result = testing::CliRun;

Result run(std::vector<std::string> args, const std::string& input = "") {
  return testing::run_cli_args(std::move(args), input);
}

fs::path corpus() {
  const char* env = std::getenv("QUILLMAR_SHARED");
  fs::path shared = env != nullptr ? fs::path(env) : fs::path(QUILLMAR_SOURCE_DIR) / ".." / "shared";
  return shared / "corpus";
}

#define REQUIRE_CORPUS()                                                              \
  if (!fs::exists(corpus() / "jet3" / "testV1997.mdb"))                               \
  GTEST_SKIP() << "sample databases not found at " << corpus()                        \
               << " (set QUILLMAR_SHARED)"

TEST(Cli, HelpAndVersionGoToStandardOutput) {
  Result help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: quillmar-db"), std::string::npos);
  EXPECT_NE(help.out.find("--password-stdin"), std::string::npos);
  for (const char* format : {"(.mdb, Access 97-2003)", "(.accdb, Access 2007", "read with their password"}) {
    EXPECT_NE(help.out.find(format), std::string::npos) << format;
  }
  EXPECT_EQ(help.err, "");
  Result version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("quillmar-db ", 0), 0u);
}

TEST(Cli, FailuresPrintNumberDescriptionAndSourceOnStandardError) {
  Result usage = run({"export", "only-one-operand.mdb"});
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(usage.out, "");
  EXPECT_EQ(usage.err.rfind("quillmar-db: error 3001: ", 0), 0u) << usage.err;
  EXPECT_NE(usage.err.find("(quillmar-db command line)\n"), std::string::npos) << usage.err;

  Result missing = run({"info", "/nonexistent/dir/x.mdb"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err.rfind("quillmar-db: error 3024: ", 0), 0u) << missing.err;

  Result no_password_file = run({"--password-file", "/nonexistent/pw", "info", "x.mdb"});
  EXPECT_EQ(no_password_file.status, 2);
  EXPECT_NE(no_password_file.err.find("error 3024"), std::string::npos);
}

TEST(Cli, NotADatabaseIsRefusedCleanly) {
  fs::path junk = fs::temp_directory_path() / ("qdb-junk-" + std::to_string(::getpid()) + ".mdb");
  std::ofstream(junk) << "this is not a database, just some text\n";
  for (const char* command : {"info", "check"}) {
    Result r = run({command, junk.string()});
    EXPECT_EQ(r.status, 2) << command;
    EXPECT_NE(r.err.find("quillmar-db: error 3343"), std::string::npos) << r.err;
  }
  fs::remove(junk);
}

TEST(Cli, InfoDescribesTheFile) {
  REQUIRE_CORPUS();
  Result r = run({"info", (corpus() / "jet4" / "testV2003.mdb").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Format:          Jet 4 (Access 2000-2003)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Page size:       4096 bytes"), std::string::npos);
  EXPECT_NE(r.out.find("Pages:           772"), std::string::npos);
  EXPECT_NE(r.out.find("Code page:       1252"), std::string::npos);
  EXPECT_NE(r.out.find("Encrypted:       no"), std::string::npos);
  EXPECT_NE(r.out.find("Password:        not set"), std::string::npos);
  EXPECT_NE(r.out.find("  Table1                               2  user"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  MSysObjects                         26  system"), std::string::npos);

  Result jet3 = run({"info", (corpus() / "jet3" / "testV1997.mdb").string()});
  EXPECT_NE(jet3.out.find("Jet 3 (Access 97)"), std::string::npos);
  EXPECT_NE(jet3.out.find("Page size:       2048 bytes"), std::string::npos);
  Result enc = run({"info", (corpus() / "jet4" / "db-enc.mdb").string()});
  EXPECT_NE(enc.out.find("Encrypted:       yes"), std::string::npos);
}

// An encrypted ACE file: its kind of encryption is in the clear, its tables
// need the password, and a wrong one is refused.
TEST(Cli, InfoTellsTheEncryptionOfAnAceFileWithoutItsPassword) {
  const fs::path db = corpus() / "ace-encrypted" / "db2013-enc.accdb";
  if (!fs::exists(db)) GTEST_SKIP() << "sample database absent: " << db;
  Result header = run({"info", db.string()});
  ASSERT_EQ(header.status, 0) << header.err;
  EXPECT_NE(header.out.find("Encrypted:       yes, Office agile (version 4.4, AES-256 CBC, SHA512, 100000 rounds)"),
            std::string::npos) << header.out;
  EXPECT_NE(header.out.find("the password is needed"), std::string::npos) << header.out;
  Result tables = run({"--password-stdin", "info", db.string()}, "1234\n");
  ASSERT_EQ(tables.status, 0) << tables.err;
  EXPECT_NE(tables.out.find("  MSysObjects"), std::string::npos) << tables.out;
  Result wrong = run({"--password-stdin", "info", db.string()}, "12345\n");
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("error 3031"), std::string::npos) << wrong.err;
}

TEST(Cli, ExportWritesEveryTypeInTheAgreedForm) {
  REQUIRE_CORPUS();
  Result r = run({"export", (corpus() / "jet3" / "testV1997.mdb").string(), "Table1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "A,B,C,D,E,F,G,H,I\n"
            "\"a\",\"b\",0,0,0,0,\"1981-12-12 00:00:00\",0.0000,0\n"
            "\"abcdefg\",\"hijklmnop\",2,222,333333333,444.555,\"1974-09-21 00:00:00\",3.5000,1\n");
  // Table names match ignoring case, as Jet does.
  Result lower = run({"export", (corpus() / "jet3" / "testV1997.mdb").string(), "table1"});
  EXPECT_EQ(lower.out, r.out);
}

TEST(Cli, ExportOfAMissingTableFails) {
  REQUIRE_CORPUS();
  Result r = run({"export", (corpus() / "jet3" / "testV1997.mdb").string(), "NoSuchTable"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("error 3078"), std::string::npos) << r.err;
}

TEST(Cli, PasswordComesFromStandardInputOrAFile) {
  REQUIRE_CORPUS();
  std::string db = (corpus() / "password" / "V2003_with-password.mdb").string();
  Result without = run({"export", db, "Table1"});
  EXPECT_EQ(without.status, 2);
  EXPECT_NE(without.err.find("error 3031"), std::string::npos) << without.err;

  Result wrong = run({"--password-stdin", "export", db, "Table1"}, "Password\n");
  EXPECT_EQ(wrong.status, 2);  // passwords are case-sensitive

  Result right = run({"--password-stdin", "export", db, "Table1"}, "password\n");
  ASSERT_EQ(right.status, 0) << right.err;
  EXPECT_EQ(right.out.rfind("ID,Data\n1,\"One\"\n", 0), 0u) << right.out;

  fs::path pw = fs::temp_directory_path() / ("qdb-pw-" + std::to_string(::getpid()));
  std::ofstream(pw) << "password\r\n";
  Result from_file = run({"info", db, "--password-file", pw.string()});
  fs::remove(pw);
  EXPECT_EQ(from_file.status, 0) << from_file.err;
  EXPECT_NE(from_file.out.find("Password:        set"), std::string::npos);
}

TEST(Cli, CompactFailureLeavesNoDestination) {
  REQUIRE_CORPUS();
  fs::path dst = fs::temp_directory_path() / ("qdb-compact-" + std::to_string(::getpid()) + ".mdb");
  Result r = run({"compact", (corpus() / "jet3" / "testV1997.mdb").string(), dst.string()});
  if (r.status == 0) {
    // Once compaction exists: one summary line, and the copy is a database.
    EXPECT_NE(r.out.find("Pages: "), std::string::npos) << r.out;
    EXPECT_EQ(run({"info", dst.string()}).status, 0);
    fs::remove(dst);
  } else {
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("quillmar-db: error ", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(dst));
  }
}

// The program itself, run while another process has the database open:
// each kind of lock on the lock file (far beyond its end, where Jet locks)
// or on a byte range of the database; the lock file is ".ldb" beside an
// ".mdb" and ".laccdb" beside an ".accdb" (by name: the file is Jet 4 in
// both).
TEST(Cli, CompactRefusesADatabaseInUseAndNamesItsUsers) {
  REQUIRE_CORPUS();
  for (const auto& [name, lock_name] :
       {std::pair{"stock.mdb", "stock.ldb"}, std::pair{"stock.accdb", "stock.laccdb"}}) {
    jet::testing::ScratchDir dir;
    const fs::path source = dir / name;
    const fs::path lock_file = dir / lock_name;
    const fs::path destination = dir / "out.mdb";
    fs::copy_file(corpus() / "jet4" / "testV2000.mdb", source);
    jet::testing::write_file(lock_file, jet::lock_file_entry({"FRONTDESK-PC", "Admin"}));
    const std::string command = std::string("'") + QUILLMAR_DB_PROGRAM + "' compact '" + source.string() + "' '" +
                                destination.string() + "' >'" + (dir / "out.txt").string() + "' 2>'" +
                                (dir / "err.txt").string() + "'";
    const auto compact = [&] {
      const int status = std::system(command.c_str());
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const auto errors = [&] {
      std::ifstream in(dir / "err.txt");
      return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };

    for (const char* kind : {"flock", "posix", "ofd"}) {
      for (const bool on_lock_file : {true, false}) {
        const long long start = on_lock_file ? 0x10000000 : 4096;
        jet::testing::LockHolder other(kind, true, on_lock_file ? lock_file : source, start, 1);
        ASSERT_TRUE(other.held()) << kind << ": " << other.answer();
        SCOPED_TRACE(std::string(kind) + " on " + (on_lock_file ? lock_name : name));
        EXPECT_EQ(compact(), 2);
        EXPECT_EQ(errors(), "quillmar-db: error 3356: The database '" + source.string() +
                                "' is in use by FRONTDESK-PC (Admin); close it there before compacting. "
                                "(Quillmar Jet engine)\n");
        EXPECT_FALSE(fs::exists(destination));
      }
    }
    EXPECT_EQ(compact(), 0) << errors();
    EXPECT_TRUE(fs::exists(destination));
  }
}

}  // namespace
}  // namespace quillmar_db

namespace quillmar_db {
namespace {

// A copy of a sample with one data page of zeros: `check` says what
// compacting it would cost, `compact` lists the same on standard error with
// a summary, and a sound file gets neither.
TEST(Cli, DamagedFileCheckAndCompactNameTheLoss) {
  const fs::path sample = corpus() / "wild" / "w133.mdb";
  if (!fs::exists(sample)) GTEST_SKIP() << "sample database absent: " << sample;
  const fs::path dir = fs::temp_directory_path() / ("qdb-repair-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path damaged = dir / "damaged.mdb";
  fs::copy_file(sample, damaged, fs::copy_options::overwrite_existing);
  {
    std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(200 * 4096);  // a data page of MSysAccessObjects, holding one row
    const std::string zeros(4096, '\0');
    f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  const std::string loss = "1 row of table MSysAccessObjects on damaged page 200 was lost (the page is all zeros).";

  Result check = run({"check", damaged.string()});
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.out.find("compaction: repairs the errors above at this cost (1 entry in the copy's "
                           "MSysCompactError):\n  " + loss + "\n"),
            std::string::npos)
      << check.out;

  Result compact = run({"compact", damaged.string(), (dir / "repaired.mdb").string()});
  ASSERT_EQ(compact.status, 0) << compact.err;
  EXPECT_NE(compact.err.find("Repair: " + loss), std::string::npos) << compact.err;
  EXPECT_NE(compact.err.find("Repaired: 1 loss recorded in table MSysCompactError of the new file.\n"),
            std::string::npos);

  Result sound = run({"compact", (dir / "repaired.mdb").string(), (dir / "again.mdb").string()});
  ASSERT_EQ(sound.status, 0) << sound.err;
  EXPECT_EQ(sound.err.find("Repair"), std::string::npos) << sound.err;
  Result clean = run({"check", (dir / "repaired.mdb").string()});
  EXPECT_EQ(clean.out.find("compaction:"), std::string::npos) << clean.out;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quillmar_db
