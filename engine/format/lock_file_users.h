#pragma once
// The users a database's lock file names. Beside "stock.mdb", every opener
// keeps "stock.ldb" ("stock.laccdb" beside "stock.accdb", the same inside;
// see lock_file_path): one 64-byte entry per user, 32 bytes of computer name
// and then 32 bytes of account name, in the ANSI code page (Windows-1252
// for us), each ended by a NUL or padded with spaces (FORMAT.md, "Lock
// file"). Entries stay after their user has left, so a name says who had
// the database open, not who still has it.
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "engine/model/value.h"

namespace jet {

inline constexpr std::size_t kLockFileEntrySize = 64;
inline constexpr std::size_t kLockFileNameSize = 32;
// Jet allows 255 users at once, so a lock file never holds more entries.
inline constexpr std::size_t kLockFileMaxEntries = 255;

struct LockFileUser {
  std::string computer;  // UTF-8
  std::string account;   // UTF-8
  bool operator==(const LockFileUser&) const = default;
};

// The users of the entries, in file order, each named once. Blank entries
// and a partial last entry are skipped; control characters become '?'.
std::vector<LockFileUser> parse_lock_file_users(std::span<const std::uint8_t> bytes);

// One entry as Jet writes it: each name in the code page, NUL-ended and
// padded with NULs (cut to 31 bytes so the NUL fits).
Bytes lock_file_entry(const LockFileUser& user);

// The lock file beside `database`, named after its extension as Access
// names it, whatever format the file holds: ".laccdb" for ".accdb",
// ".accde" and ".accdr" (in any case), ".ldb" for any other name, an ACE
// file called ".mdb" included (engine/file/FILES.md).
std::string lock_file_path(const std::string& database);

// "FRONTDESK-PC (Admin), OFFICE-2 (Maria)"; a missing part is left out.
std::string describe_lock_file_users(const std::vector<LockFileUser>& users);

}  // namespace jet
