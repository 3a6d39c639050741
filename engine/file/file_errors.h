#pragma once
// Error numbers the file layer raises, in the spirit of the classic Jet
// numbers so a user looking one up finds a familiar meaning:
//   3024 missing file            "Could not find file '<path>'."
//   3051 no permission           "Cannot open the file '<path>'. It is already opened
//                                 exclusively by another user, or you need permission
//                                 to view its data."
//   3204 create over existing    "Database already exists."
//   3026 disk full (ENOSPC/EDQUOT) "Not enough space on disk."
//   3043 any other I/O failure   "Disk or network error."
//   3356 lock held elsewhere     "The file '<path>' is already in use by another process."
//   3049 file shorter than asked (a page beyond the end): the damaged-file message.
#include <string>

#include "engine/error.h"

namespace jet {

namespace errc {
inline constexpr int kNoPermission = 3051;
inline constexpr int kDiskFull = 3026;
inline constexpr int kDiskOrNetworkError = 3043;
}  // namespace errc

// Builds the jet::Error for a failed system call on `path` from its errno.
// `what` names the operation ("read", "write", ...) for the description of
// errors that have no fixed wording.
Error error_from_errno(int err, const std::string& path, const std::string& what);

// The damaged-file error (3049) for `path`. The description is the fixed
// sentence; `detail` (what was wrong, where) is added to the source text.
Error damaged_file_error(const std::string& path, const std::string& detail = {});

// True for failures of the disk, the network or the system (3043, 3026,
// 3051, 3024, 3356) rather than of the file's contents. Code that reads
// around damage must let these through: a page it could not read is not a
// damaged page, and repairing "around" it would drop rows that are intact.
bool is_environment_fault(const Error& e);

}  // namespace jet
