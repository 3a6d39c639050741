// The users named in a lock file (".ldb", ".laccdb"): what the entries hold
// and how a damaged or odd file still gives a clean list; and which name the
// lock file has beside a database.
#include <gtest/gtest.h>

#include "engine/format/lock_file_users.h"

namespace jet {
namespace {

Bytes entry(const std::string& computer, const std::string& account, std::uint8_t pad) {
  Bytes e(kLockFileEntrySize, pad);
  std::copy(computer.begin(), computer.end(), e.begin());
  std::copy(account.begin(), account.end(), e.begin() + kLockFileNameSize);
  return e;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(LockFileUsers, NamesPaddedEitherWayInTheAnsiCodePage) {
  const Bytes file = join({entry("FRONTDESK-PC", "Admin", 0), entry("M\xDCLLER-PC", "J\xF6rg", ' '),
                           entry("FRONTDESK-PC", "Admin", 0),  // the same user twice
                           Bytes(kLockFileEntrySize, 0), Bytes(kLockFileEntrySize, ' '),  // blank
                           entry("NOACCOUNT", "", 0), entry("BELL\x07", "x\x81", 0),
                           Bytes(10, 'Z')});  // a partial last entry
  const std::vector<LockFileUser> users = parse_lock_file_users(file);
  EXPECT_EQ(users, (std::vector<LockFileUser>{{"FRONTDESK-PC", "Admin"},
                                              {"M\xC3\x9CLLER-PC", "J\xC3\xB6rg"},
                                              {"NOACCOUNT", ""},
                                              {"BELL?", "x?"}}));
  EXPECT_EQ(describe_lock_file_users(users), "FRONTDESK-PC (Admin), M\xC3\x9CLLER-PC (J\xC3\xB6rg), NOACCOUNT, BELL? (x?)");
  EXPECT_EQ(describe_lock_file_users({{"", "Admin"}}), "Admin");
}

TEST(LockFileUsers, EntriesReadBackAndNeverRunIntoEachOther) {
  const LockFileUser long_names{std::string(40, 'C'), std::string(40, 'A')};
  const Bytes e = lock_file_entry(long_names);
  ASSERT_EQ(e.size(), kLockFileEntrySize);
  EXPECT_EQ(e[kLockFileNameSize - 1], 0);
  EXPECT_EQ(parse_lock_file_users(e), (std::vector<LockFileUser>{{std::string(31, 'C'), std::string(31, 'A')}}));

  // No more entries are read than Jet allows users.
  Bytes many;
  for (int i = 0; i < 300; ++i) {
    const Bytes one = lock_file_entry({"PC" + std::to_string(i), "Admin"});
    many.insert(many.end(), one.begin(), one.end());
  }
  EXPECT_EQ(parse_lock_file_users(many).size(), kLockFileMaxEntries);
}

// By the database's name alone: an ACE file called ".mdb" (as some are) has
// an ".ldb", and only the last dot counts.
TEST(LockFileUsers, TheLockFileIsNamedAfterTheDatabasesExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"/d/stock.mdb", "/d/stock.ldb"},
      {"/d/stock.MDB", "/d/stock.ldb"},
      {"/d/stock.accdb", "/d/stock.laccdb"},
      {"/d/Stock.AccDB", "/d/Stock.laccdb"},
      {"/d/stock.accde", "/d/stock.laccdb"},
      {"/d/stock.accdr", "/d/stock.laccdb"},
      {"/d/w057.mdb", "/d/w057.ldb"},
      {"/d/stock.accdb.mdb", "/d/stock.accdb.ldb"},
      {"/d/stock.mdb.accdb", "/d/stock.mdb.laccdb"},
      {"/d/stock.accdbx", "/d/stock.ldb"},
      {"/d/stock.dat", "/d/stock.ldb"},
      {"/d/stock", "/d/stock.ldb"},
      {"/d.accdb/stock", "/d.accdb/stock.ldb"},
      {"stock.accdb", "stock.laccdb"},
  };
  for (const auto& [database, lock_file] : cases) EXPECT_EQ(lock_file_path(database), lock_file) << database;
}

}  // namespace
}  // namespace jet
