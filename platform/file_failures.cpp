#include "platform/file_failures.h"

#include <cerrno>
#include <system_error>

namespace quillmar::platform {

Failure FileFailure(int error_number, const std::filesystem::path& path) {
  namespace n = failure_number;
  switch (error_number) {
    case ENOENT: {
      std::error_code ignored;
      const auto folder = path.parent_path();
      const bool folder_exists = folder.empty() || std::filesystem::is_directory(folder, ignored);
      return RuntimeFailure(folder_exists ? n::kFileNotFound : n::kPathNotFound);
    }
    case ENOTDIR:
      return RuntimeFailure(n::kPathNotFound);
    case EEXIST:
      return RuntimeFailure(n::kFileAlreadyExists);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return RuntimeFailure(n::kDiskFull);
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
      return RuntimeFailure(n::kPermissionDenied);
    case ENOMEM:
      return RuntimeFailure(n::kOutOfMemory);
    default:
      return RuntimeFailure(n::kPathFileAccessError);
  }
}

}  // namespace quillmar::platform
