// quillmar-db maintain over copies of the sample databases: what each kind
// of database ends as, and that the original is only ever replaced by a
// copy that is on disk and checked.
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <set>

#include "engine/file/fault_injection_env.h"
#include "engine/format/lock_file_users.h"
#include "engine/tests/lock_holder_process.h"
#include "tools/quillmar-db/commands.h"
#include "tools/quillmar-db/maintain_database.h"
#include "tools/quillmar-db/tests/maintain_test_support.h"

namespace quillmar_db {
namespace {

using namespace quillmar_db::testing;
using jet::testing::read_file;

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::vector<fs::path> backups_of(const fs::path& database) {
  return files_in(database.parent_path() / ".quillmar-backups" / database.filename());
}

// A folder tree as an office keeps it: every kind of database, one needing a
// repair, two with passwords, and a file that is no database.
TEST(Maintain, EachKindOfDatabaseEndsAsReported) {
  REQUIRE_MAINTAIN_CORPUS();
  jet::testing::ScratchDir dir;
  const fs::path share = dir / "share";
  struct Case {
    std::string sample;  // empty: the damaged copy
    fs::path path;
    std::string status;
    std::optional<std::string> password;
  };
  const std::vector<Case> cases = {
      {"jet3/testV1997.mdb", share / "jet3.mdb", "compacted", {}},
      {"jet4/testV2003.mdb", share / "jet4.MDB", "compacted", {}},
      {"ace/a001.accdb", share / "sub" / "ace.accdb", "compacted", {}},
      {"ace-encrypted/office-agile-4.4.accdb", share / "sub" / "encrypted.accdb", "skipped-password", "password"},
      {"password/V2000_with-password.mdb", share / "password.mdb", "skipped-password", "password"},
      {"", share / "damaged.mdb", "repaired", {}},
  };
  for (const Case& c : cases) {
    if (c.sample.empty()) {
      copy_damaged_sample(c.path);
    } else {
      copy_sample(c.sample, c.path);
    }
  }
  std::ofstream(share / "notes.txt") << "not a database\n";

  const CliRun run = run_cli_args({"maintain", "--recursive", "--json", share.string()});
  EXPECT_EQ(run.status, 1) << run.err;  // skipped and repaired, none failed
  EXPECT_EQ(count(run.out, "\n"), cases.size()) << run.out;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string());
    EXPECT_NE(run.out.find("{\"path\":\"" + c.path.string() + "\",\"status\":\"" + c.status + "\""),
              std::string::npos)
        << run.out;
    const auto original = c.sample.empty() ? std::vector<std::uint8_t>{} : read_file(jet::testing::corpus_dir() / c.sample);
    if (c.status == "compacted") {
      EXPECT_EQ(table_rows(c.path), table_rows(jet::testing::corpus_dir() / c.sample));
      ASSERT_EQ(backups_of(c.path).size(), 1u);
      EXPECT_EQ(read_file(backups_of(c.path)[0]), original);
      EXPECT_EQ(backups_of(c.path)[0].extension(), c.path.extension());
    } else if (c.status == "repaired") {
      EXPECT_FALSE(table_rows(c.path).empty());  // opens and checks clean
      EXPECT_EQ(backups_of(c.path).size(), 1u);
    } else {
      EXPECT_EQ(read_file(c.path), original);
      EXPECT_TRUE(backups_of(c.path).empty());
    }
  }
  EXPECT_NE(run.out.find("\"losses\":[{\"code\":"), std::string::npos);
  EXPECT_NE(run.err.find("Summary: 6 databases: 4 compacted (1 of them repaired), 2 skipped"), std::string::npos)
      << run.err;

  // The password opens both; the copies keep it.
  const fs::path password_file = dir / "password.txt";
  std::ofstream(password_file) << "password\n";
  const CliRun again = run_cli_args({"maintain", "--password-file", password_file.string(), cases[3].path.string(),
                                  cases[4].path.string()});
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  for (const Case& c : {cases[3], cases[4]}) {
    EXPECT_EQ(table_rows(c.path, c.password), table_rows(jet::testing::corpus_dir() / c.sample, c.password));
    EXPECT_TRUE(table_rows(c.path).empty()) << "opens without its password: " << c.path;
  }
}

TEST(Maintain, NoRepairLeavesADamagedDatabaseAsItWasAndSaysSo) {
  REQUIRE_MAINTAIN_CORPUS();
  jet::testing::ScratchDir dir;
  const fs::path damaged = copy_damaged_sample(dir / "damaged.mdb");
  const auto before = read_file(damaged);
  const CliRun run = run_cli_args({"maintain", "--no-repair", damaged.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("NEEDS REPAIR, left as it was (--no-repair): " + damaged.string() +
                         ": compacting it would cost 1 loss\n  loss: 1 row of table MSysAccessObjects"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(read_file(damaged), before);
  EXPECT_EQ(files_in(dir.path()), std::vector<fs::path>{damaged});  // no backup, no copy left
}

// Another process has one of two databases open, with each kind of lock on
// the database or its lock file: that one is skipped with its users named,
// the other is compacted.
TEST(Maintain, ADatabaseInUseIsSkippedWithItsUsersAndTheOthersGoOn) {
  REQUIRE_MAINTAIN_CORPUS();
  for (const char* kind : {"flock", "posix", "ofd"}) {
    for (const bool on_lock_file : {true, false}) {
      jet::testing::ScratchDir dir;
      const fs::path busy = copy_sample("jet4/testV2000.mdb", dir / "busy.accdb");
      const fs::path lock_file = dir / "busy.laccdb";
      const fs::path free = copy_sample("jet3/testV1997.mdb", dir / "free.mdb");
      jet::testing::write_file(lock_file, jet::lock_file_entry({"FRONTDESK-PC", "Admin"}));
      const auto before = read_file(busy);
      SCOPED_TRACE(std::string(kind) + (on_lock_file ? " on the lock file" : " on the database"));
      jet::testing::LockHolder other(kind, true, on_lock_file ? lock_file : busy, on_lock_file ? 0x10000000 : 4096, 1);
      ASSERT_TRUE(other.held()) << other.answer();

      const CliRun run = run_cli_args({"maintain", dir.path().string()});
      EXPECT_EQ(run.status, 1);
      EXPECT_NE(run.out.find("skipped: " + busy.string() + ": The database '" + busy.string() +
                             "' is in use by FRONTDESK-PC (Admin)"),
                std::string::npos)
          << run.out;
      EXPECT_NE(run.out.find("compacted: " + free.string()), std::string::npos) << run.out;
      EXPECT_EQ(read_file(busy), before);
      EXPECT_TRUE(backups_of(busy).empty());
    }
  }
}

std::string acl_entry(std::uint16_t tag, std::uint16_t perm, std::uint32_t id) {
  std::string e(8, '\0');
  std::memcpy(e.data(), &tag, 2);
  std::memcpy(e.data() + 2, &perm, 2);
  std::memcpy(e.data() + 4, &id, 4);
  return e;
}

// user::rw-, user:1500:rw-, group::r--, mask::rw-, other::---
std::string sample_acl() {
  constexpr std::uint32_t kNoId = 0xFFFFFFFF;
  const std::uint32_t version = 2;
  std::string acl(reinterpret_cast<const char*>(&version), 4);
  return acl + acl_entry(0x01, 6, kNoId) + acl_entry(0x02, 6, 1500) + acl_entry(0x04, 4, kNoId) +
         acl_entry(0x10, 6, kNoId) + acl_entry(0x20, 0, kNoId);
}

std::map<std::string, std::string> attributes(const fs::path& path) {
  std::map<std::string, std::string> out;
  char names[4096];
  const ssize_t n = ::listxattr(path.c_str(), names, sizeof names);
  for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
    char value[4096];
    const ssize_t size = ::getxattr(path.c_str(), names + at, value, sizeof value);
    out[names + at] = std::string(value, static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
  }
  return out;
}

// The share's users open the new file as they did the old one: owner,
// group, mode, ACL, Samba's attributes; and the folder's default ACL does
// not give a file an ACL it did not have.
TEST(Maintain, TheNewFileKeepsOwnerModeAclAndAttributes) {
  REQUIRE_MAINTAIN_CORPUS();
  jet::testing::ScratchDir dir;
  const fs::path with_acl = copy_sample("jet3/testV1997.mdb", dir / "share" / "acl.mdb");
  const fs::path plain = copy_sample("jet3/testV1997.mdb", dir / "share" / "plain.mdb");
  const std::string acl = sample_acl();
  const std::string dos = "0x20";
  if (::setxattr(with_acl.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0 ||
      ::setxattr(with_acl.c_str(), "user.DOSATTRIB", dos.data(), dos.size(), 0) != 0 ||
      ::setxattr((dir / "share").c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) != 0) {
    GTEST_SKIP() << "the scratch folder's file system takes no ACLs or user attributes: " << std::strerror(errno);
  }
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(with_acl.c_str(), 1234, 1235), 0);
    ASSERT_EQ(::chown(plain.c_str(), 4321, 4322), 0);
  }
  ASSERT_EQ(::chmod(plain.c_str(), 0604), 0);
  struct stat before_acl {};
  struct stat before_plain {};
  ::stat(with_acl.c_str(), &before_acl);
  ::stat(plain.c_str(), &before_plain);
  const auto attributes_acl = attributes(with_acl);
  const auto attributes_plain = attributes(plain);

  const CliRun run = run_cli_args({"maintain", (dir / "share").string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  for (const auto& [path, before, attrs] : {std::tuple{with_acl, before_acl, attributes_acl},
                                            std::tuple{plain, before_plain, attributes_plain}}) {
    SCOPED_TRACE(path.string());
    struct stat after {};
    ::stat(path.c_str(), &after);
    EXPECT_NE(after.st_ino, before.st_ino);  // a new file
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(attributes(path), attrs);
    // The backup is as private as the file.
    struct stat backup {};
    ::stat(backups_of(path).at(0).c_str(), &backup);
    EXPECT_EQ(backup.st_mode, before.st_mode);
    EXPECT_EQ(backup.st_uid, before.st_uid);
  }
  EXPECT_EQ(attributes(with_acl).count("system.posix_acl_access"), 1u);
  EXPECT_EQ(attributes(plain).count("system.posix_acl_access"), 0u);
}

// Runs maintain in a child that cannot write to `folder`'s parent: as
// another user when we are root (root writes anywhere), else through mode.
int maintain_without_write_permission(const fs::path& folder, const std::vector<std::string>& args) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
    } else {
      ::chmod(folder.c_str(), 0555);
    }
    std::vector<std::string> all = {"maintain"};
    all.insert(all.end(), args.begin(), args.end());
    ::_exit(run_cli_args(all).status);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ::chmod(folder.c_str(), 0755);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Maintain, AFolderThatIsNotWritableFailsCleanly) {
  REQUIRE_MAINTAIN_CORPUS();
  jet::testing::ScratchDir dir;
  const fs::path folder = dir / "readonly";
  const fs::path database = copy_sample("jet3/testV1997.mdb", folder / "stock.mdb");
  ::chmod(database.c_str(), 0644);
  ::chmod(dir.path().c_str(), 0777);  // the backups may go here
  const fs::path backups = dir / "backups";
  fs::create_directories(backups);
  ::chmod(backups.c_str(), 0777);
  const auto before = read_file(database);

  // Backups beside it cannot be made; elsewhere they can, but not the copy.
  EXPECT_EQ(maintain_without_write_permission(folder, {folder.string()}), 2);
  EXPECT_EQ(maintain_without_write_permission(folder, {"--backup-dir", backups.string(), folder.string()}), 2);
  EXPECT_EQ(read_file(database), before);
  EXPECT_EQ(files_in(dir.path()), std::vector<fs::path>{database});  // the backup made went again
}

// The disk fills halfway through the backup, or halfway through the copy.
TEST(Maintain, ADiskThatFillsLeavesTheOriginalAndNothingElse) {
  REQUIRE_MAINTAIN_CORPUS();
  for (const bool during_backup : {true, false}) {
    SCOPED_TRACE(during_backup ? "backup" : "copy");
    jet::testing::ScratchDir dir;
    const fs::path database = copy_sample("jet4/testV2003.mdb", dir / "stock.mdb");
    const auto before = read_file(database);
    jet::FaultInjectionEnv env(jet::default_env());
    if (during_backup) {
      env.fail_write_at(before.size() / 2, true);
    } else {
      env.only_in(temporary_path_for(database.string()));
      env.fail_write_at(3 * 4096, true);
    }
    CommandContext ctx;
    ctx.out = std::tmpfile();
    ctx.err = std::tmpfile();
    MaintainArgs args;
    args.json = true;
    EXPECT_EQ(run_maintain(ctx, args, {database.string()}, &env), kExitTrouble);
    const std::string out = read_all(ctx.out);
    std::fclose(ctx.out);
    std::fclose(ctx.err);
    EXPECT_NE(out.find("\"status\":\"failed\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"error\":{\"number\":3026"), std::string::npos) << out;
    EXPECT_EQ(read_file(database), before);
    EXPECT_EQ(files_in(dir.path()), std::vector<fs::path>{database});
  }
}

TEST(Maintain, KeepCountsEachDatabasesBackupsAndDryRunChangesNothing) {
  REQUIRE_MAINTAIN_CORPUS();
  jet::testing::ScratchDir dir;
  const fs::path a = copy_sample("jet3/testV1997.mdb", dir / "a.mdb");
  const fs::path b = copy_sample("ace/a001.accdb", dir / "b.accdb");

  const CliRun dry = run_cli_args({"maintain", "--dry-run", dir.path().string()});
  EXPECT_EQ(dry.status, 0);
  EXPECT_EQ(count(dry.out, "would compact: "), 2u) << dry.out;
  EXPECT_EQ(files_in(dir.path()).size(), 2u);
  EXPECT_FALSE(fs::exists(dir / ".quillmar-backups"));

  // Each night's backups, as the report names them.
  std::vector<fs::path> made;
  for (int night = 0; night < 3; ++night) {
    const CliRun run = run_cli_args({"maintain", "--json", "--keep", "2", dir.path().string()});
    ASSERT_EQ(run.status, 0) << run.err;
    for (auto at = run.out.find("\"backup\":\""); at != std::string::npos; at = run.out.find("\"backup\":\"", at + 1)) {
      const auto start = at + 10;
      made.emplace_back(run.out.substr(start, run.out.find('"', start) - start));
    }
  }
  ASSERT_EQ(made.size(), 6u);
  std::set<fs::path> kept;
  for (const fs::path& database : {a, b}) {
    for (const auto& backup : backups_of(database)) kept.insert(backup);
  }
  EXPECT_EQ(kept, (std::set<fs::path>{made[2], made[3], made[4], made[5]}));
}

// A hard-linked database would come apart from its other names, so it is
// refused; a link named leads to the database, which is replaced beside
// itself, and the link stays a link.
TEST(Maintain, HardLinksAreRefusedAndSymbolicLinksFollowed) {
  REQUIRE_MAINTAIN_CORPUS();
  jet::testing::ScratchDir dir;
  const fs::path linked = copy_sample("jet3/testV1997.mdb", dir / "linked.mdb");
  fs::create_hard_link(linked, dir / "other-name.mdb");
  const fs::path real = copy_sample("jet3/testV1997.mdb", dir / "data" / "real.mdb");
  fs::create_directories(dir / "links");
  fs::create_symlink(real, dir / "links" / "shortcut.mdb");
  const auto before = read_file(linked);

  const CliRun run = run_cli_args({"maintain", linked.string(), (dir / "links" / "shortcut.mdb").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find("FAILED, left as it was: " + linked.string() + ": error 3001: It has 2 hard links"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(read_file(linked), before);
  EXPECT_TRUE(fs::is_symlink(dir / "links" / "shortcut.mdb"));
  EXPECT_LT(fs::file_size(real), before.size());
  EXPECT_EQ(backups_of(real).size(), 1u);
}

}  // namespace
}  // namespace quillmar_db
