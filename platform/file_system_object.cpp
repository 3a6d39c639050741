#include "platform/file_system_object.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>

#include "platform/file_failures.h"
#include "platform/text.h"

namespace quillmar::platform {
namespace {

namespace fs = std::filesystem;

// Closes a descriptor and removes an unfinished temporary file on every path out.
class TempFile {
 public:
  explicit TempFile(fs::path folder, const fs::path& name) {
    std::string hidden(".");
    hidden.append(name.filename().string()).append(".quillmar-XXXXXX");
    std::string pattern = (folder / hidden).string();
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) throw FileFailure(errno, folder / name);
    path_ = pattern;
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  const fs::path& path() const { return path_; }
  void CloseOrThrow() {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw FileFailure(errno, path_);
  }
  void Release() { path_.clear(); }

 private:
  int fd_ = -1;
  fs::path path_;
};

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void SyncFolder(const fs::path& folder) {
  Descriptor dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0 || ::fsync(dir.get()) != 0) throw FileFailure(errno, folder);
}

}  // namespace

FileSystemObject::FileSystemObject() : FileSystemObject(WriteFn(::write)) {}

FileSystemObject::FileSystemObject(WriteFn write) : write_(std::move(write)) {}

DispId FileSystemObject::GetIdOfName(std::u16string_view name) {
  return FindMember(name, {{u"CopyFile", kCopyFile}});
}

Variant FileSystemObject::Invoke(DispId id, InvokeKind kind, const std::vector<Variant>& arguments) {
  if (id != kCopyFile || kind != InvokeKind::kMethod) {
    throw RuntimeFailure(failure_number::kNoSuchMember);
  }
  if (arguments.size() < 2 || arguments.size() > 3) {
    throw RuntimeFailure(failure_number::kWrongArguments);
  }
  const bool overwrite = arguments.size() < 3 || std::holds_alternative<Missing>(arguments[2]) ||
                         AsBoolean(arguments[2]);
  CopyFile(AsText(arguments[0]), AsText(arguments[1]), overwrite);
  return Empty{};
}

void FileSystemObject::CopyFile(const std::u16string& source, const std::u16string& destination,
                                bool overwrite) {
  const fs::path from = PathOf(source);
  fs::path to = PathOf(destination);
  if (!destination.empty() && destination.back() == u'/') to /= from.filename();

  Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) throw FileFailure(errno, from);
  struct stat source_info {};
  if (::fstat(in.get(), &source_info) != 0) throw FileFailure(errno, from);
  if (!S_ISREG(source_info.st_mode)) throw RuntimeFailure(failure_number::kFileNotFound);

  struct stat target_info {};
  if (::stat(to.c_str(), &target_info) == 0) {
    if (S_ISDIR(target_info.st_mode)) throw RuntimeFailure(failure_number::kPermissionDenied);
    // A file copied onto itself would let a later deletion of "the other" one
    // take the only copy with it.
    if (target_info.st_dev == source_info.st_dev && target_info.st_ino == source_info.st_ino) {
      throw RuntimeFailure(failure_number::kPermissionDenied);
    }
    if (!overwrite) throw RuntimeFailure(failure_number::kFileAlreadyExists);
  }

  const fs::path folder = to.parent_path();
  TempFile temp(folder.empty() ? fs::path(".") : folder, to);
  std::array<char, 1 << 16> buffer{};
  for (;;) {
    const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw FileFailure(errno, from);
    if (got == 0) break;
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(got)) {
      const ssize_t put = write_(temp.fd(), buffer.data() + done, static_cast<std::size_t>(got) - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) throw FileFailure(put < 0 ? errno : ENOSPC, to);
      done += static_cast<std::size_t>(put);
    }
  }
  if (::fchmod(temp.fd(), source_info.st_mode & 07777) != 0) throw FileFailure(errno, to);
  if (::fsync(temp.fd()) != 0) throw FileFailure(errno, to);
  temp.CloseOrThrow();
  if (::rename(temp.path().c_str(), to.c_str()) != 0) throw FileFailure(errno, to);
  temp.Release();
  SyncFolder(folder);
}

}  // namespace quillmar::platform
