// The users named in an ".ldb": what the entries hold and how a damaged or
// odd file still gives a clean list.
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

}  // namespace
}  // namespace jet
