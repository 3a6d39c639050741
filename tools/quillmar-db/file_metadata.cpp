#include "tools/quillmar-db/file_metadata.h"
#include "tools/quillmar-db/maintain_outcome.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/error.h"

namespace quillmar_db {
namespace {



[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
  const int number = (error == EPERM || error == EACCES) ? 3051 : 3043;
  throw jet::Error(number, what + " '" + path + "': " + std::strerror(error) + ".", kMaintainSource);
}

std::vector<std::string> attribute_names(int fd, const std::string& path) {
  for (;;) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0) {
      if (errno == ENOTSUP) return {};
      fail("Cannot list the extended attributes of", path, errno);
    }
    std::string list(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::flistxattr(fd, list.data(), list.size());
    if (got < 0 && errno == ERANGE) continue;  // grew meanwhile
    if (got < 0) fail("Cannot list the extended attributes of", path, errno);
    std::vector<std::string> names;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
      const std::size_t end = list.find('\0', at);
      names.push_back(list.substr(at, end - at));
      at = end + 1;
    }
    return names;
  }
}

std::string attribute_value(int fd, const std::string& name, const std::string& path) {
  for (;;) {
    const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) fail("Cannot read the attribute " + name + " of", path, errno);
    std::string value(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (got < 0 && errno == ERANGE) continue;
    if (got < 0) fail("Cannot read the attribute " + name + " of", path, errno);
    value.resize(static_cast<std::size_t>(got));
    return value;
  }
}

}  // namespace

void copy_file_metadata(int from_fd, int to_fd, const std::string& to_path) {
  struct stat from {};
  if (::fstat(from_fd, &from) != 0) fail("Cannot read the owner and mode of the original of", to_path, errno);
  struct stat to {};
  if (::fstat(to_fd, &to) != 0) fail("Cannot read the owner and mode of", to_path, errno);
  // Owner first: changing it clears set-id bits, which the mode then restores.
  if ((from.st_uid != to.st_uid || from.st_gid != to.st_gid) && ::fchown(to_fd, from.st_uid, from.st_gid) != 0) {
    fail("Cannot give the original's owner and group (" + std::to_string(from.st_uid) + ":" +
             std::to_string(from.st_gid) + ") to",
         to_path, errno);
  }

  const std::vector<std::string> wanted = attribute_names(from_fd, to_path);
  const std::set<std::string> wanted_set(wanted.begin(), wanted.end());
  for (const std::string& name : attribute_names(to_fd, to_path)) {
    if (!wanted_set.contains(name) && ::fremovexattr(to_fd, name.c_str()) != 0 && errno != ENODATA) {
      fail("Cannot remove the attribute " + name + " from", to_path, errno);
    }
  }
  for (const std::string& name : wanted) {
    const std::string value = attribute_value(from_fd, name, to_path);
    if (::fsetxattr(to_fd, name.c_str(), value.data(), value.size(), 0) != 0) {
      fail("Cannot set the attribute " + name + " on", to_path, errno);
    }
  }
  // After the ACL, whose mask the group bits of the mode are.
  if (::fchmod(to_fd, from.st_mode & 07777) != 0) fail("Cannot set the original's mode on", to_path, errno);
}

void make_folders_like_parent(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path folder(path);
  if (fs::is_directory(folder)) return;
  const fs::path parent = folder.parent_path().empty() ? fs::path(".") : folder.parent_path();
  make_folders_like_parent(parent.string());
  struct stat like {};
  if (::stat(parent.c_str(), &like) != 0) fail("Cannot read the folder", parent.string(), errno);
  if (::mkdir(folder.c_str(), like.st_mode & 07777) != 0 && errno != EEXIST) fail("Cannot create the folder", path, errno);
  // The umask narrowed the mode; owner first, as above. Someone who may not
  // give the folder away (not root, not the owner) keeps it as made.
  if (::lchown(folder.c_str(), like.st_uid, like.st_gid) != 0 && errno != EPERM) {
    fail("Cannot set the owner of the folder", path, errno);
  }
  if (::chmod(folder.c_str(), like.st_mode & 07777) != 0) fail("Cannot set the mode of the folder", path, errno);
}

}  // namespace quillmar_db
