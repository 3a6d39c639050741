#include "engine/file/file_errors.h"

#include <cerrno>
#include <cstring>

namespace jet {

Error error_from_errno(int err, const std::string& path, const std::string& what) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return Error(errc::kCouldNotFindFile, "Could not find file '" + path + "'.");
    case EACCES:
    case EPERM:
    case EROFS:
      return Error(errc::kNoPermission,
                   "Cannot open the file '" + path +
                       "'. It is already opened exclusively by another user, or you need "
                       "permission to view its data.");
    case EEXIST:
      return Error(errc::kDatabaseAlreadyExists, "Database already exists.");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return Error(errc::kDiskFull, "Not enough space on disk.");
    case EWOULDBLOCK:
      return Error(errc::kDatabaseInUse,
                   "The file '" + path + "' is already in use by another process.");
    default:
      return Error(errc::kDiskOrNetworkError, "Disk or network error (" + what + " '" + path +
                                                   "': " + std::strerror(err) + ").");
  }
}

Error damaged_file_error(const std::string& path, const std::string& detail) {
  std::string text = "Cannot open database '" + path +
                     "'. It may not be a database that your application recognizes, or the "
                     "file may be corrupt.";
  // The description stays the familiar sentence; where the reader gave up
  // goes with the source so a failure record still points at it.
  std::string source = kEngineSource;
  if (!detail.empty()) source += " (" + detail + ")";
  return Error(errc::kCannotOpenDatabase, text, source);
}

bool is_environment_fault(const Error& e) {
  switch (e.number()) {
    case errc::kDiskOrNetworkError:
    case errc::kDiskFull:
    case errc::kNoPermission:
    case errc::kCouldNotFindFile:
    case errc::kDatabaseInUse:
      return true;
    default:
      return false;
  }
}

}  // namespace jet
