#include "platform/file_deletion.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_failures.h"
#include "platform/text.h"

namespace quillmar::platform {

void PosixFileDeletion::Kill(const std::u16string& path) {
  const auto native = PathOf(path);
  struct stat info {};
  // Only files: a folder of that name is not ours to remove.
  if (::lstat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw FileFailure(EISDIR, native);
  }
  if (::unlink(native.c_str()) != 0) throw FileFailure(errno, native);
}

}  // namespace quillmar::platform
