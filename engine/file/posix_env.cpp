// The real file system through POSIX calls. Descriptors are closed on every
// path; EINTR is retried; short reads and writes are continued.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "engine/file/env.h"
#include "engine/file/file_errors.h"

namespace jet {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class PosixReadable : public RandomAccessFile {
 public:
  PosixReadable(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

  void read(std::uint64_t offset, std::size_t n, std::uint8_t* dst) override {
    std::size_t done = 0;
    while (done < n) {
      ssize_t got = ::pread(fd_.get(), dst + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        throw error_from_errno(errno, path_, "read");
      }
      if (got == 0) throw damaged_file_error(path_, "read past the end of the file");
      done += static_cast<std::size_t>(got);
    }
  }

  void read_blocks(std::uint64_t offset, std::span<std::uint8_t* const> buffers, std::size_t each) override {
    constexpr std::size_t kMaxBlocks = 64;
    if (buffers.size() > kMaxBlocks) {
      RandomAccessFile::read_blocks(offset, buffers, each);
      return;
    }
    std::array<iovec, kMaxBlocks> parts{};
    for (std::size_t i = 0; i < buffers.size(); ++i) parts[i] = iovec{buffers[i], each};
    ssize_t got;
    do {
      got = ::preadv(fd_.get(), parts.data(), static_cast<int>(buffers.size()), static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    if (got < 0) throw error_from_errno(errno, path_, "read");
    // A short read (a signal, the end of the file): the blocks not filled
    // whole are read one by one, which reports the end of the file if that
    // is what it was.
    const std::size_t whole = static_cast<std::size_t>(got) / each;
    for (std::size_t i = whole; i < buffers.size(); ++i) read(offset + i * each, each, buffers[i]);
  }

  std::uint64_t size() override {
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) throw error_from_errno(errno, path_, "stat");
    return static_cast<std::uint64_t>(st.st_size);
  }

  const std::string& path() const override { return path_; }

 private:
  std::string path_;
  Descriptor fd_;
};

class PosixWritable : public WritableFile {
 public:
  PosixWritable(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

  void write(std::uint64_t offset, const std::uint8_t* data, std::size_t n) override {
    check_open();
    std::size_t done = 0;
    while (done < n) {
      ssize_t put = ::pwrite(fd_.get(), data + done, n - done, static_cast<off_t>(offset + done));
      if (put < 0) {
        if (errno == EINTR) continue;
        throw error_from_errno(errno, path_, "write");
      }
      if (put == 0) throw error_from_errno(ENOSPC, path_, "write");
      done += static_cast<std::size_t>(put);
    }
  }

  void append(const std::uint8_t* data, std::size_t n) override { write(size(), data, n); }

  std::uint64_t size() override {
    check_open();
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) throw error_from_errno(errno, path_, "stat");
    return static_cast<std::uint64_t>(st.st_size);
  }

  void sync() override {
    check_open();
    while (::fsync(fd_.get()) != 0) {
      if (errno != EINTR) throw error_from_errno(errno, path_, "sync");
    }
  }

  void close() override {
    check_open();
    int fd = fd_.release();
    // close() failing can mean lost delayed-write data (NFS); report it.
    if (::close(fd) != 0 && errno != EINTR) throw error_from_errno(errno, path_, "close");
  }

  const std::string& path() const override { return path_; }

 private:
  void check_open() const {
    if (fd_.get() < 0) throw error_from_errno(EBADF, path_, "use after close");
  }

  std::string path_;
  Descriptor fd_;
};

// A lock call that fails this way means the file system cannot lock at
// all (a network mount without its lock service, say), not that someone
// else holds the file.
bool cannot_lock(int err) { return err == ENOLCK || err == EINVAL || err == EOPNOTSUPP || err == ENOTSUP; }

// Every byte from 0 to beyond any end of the file: a length of 0 reaches to
// the largest offset there can be.
struct flock whole_file(short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 0;
  range.l_pid = 0;  // open-file-description calls refuse anything else
  return range;
}

int fcntl_lock(int fd, int command, struct flock* range) {
  int r;
  do {
    r = ::fcntl(fd, command, range);
  } while (r != 0 && errno == EINTR);
  return r;
}

// One open file description of the held file carries all our locks: the
// flock, and the shared range lock as an open-file-description lock, which
// no other descriptor of this process can drop by closing (a per-process
// POSIX lock would go with the first close of any descriptor of the file).
// Tested from the same description, our own range lock never conflicts,
// while every other owner's does: other processes' POSIX locks, other open
// files' OFD locks.
class PosixHold : public FileHold {
 public:
  PosixHold(std::string path, int fd, bool read_lock_all)
      : path_(std::move(path)), fd_(fd), want_range_(read_lock_all) {}

  ~PosixHold() override {
    // Closing the description drops both kinds; unlock first all the same,
    // in case a copy of the descriptor outlives us.
    if (range_held_) {
      struct flock range = whole_file(F_UNLCK);
      ::fcntl(fd_.get(), F_OFD_SETLK, &range);
    }
    if (flock_held_) ::flock(fd_.get(), LOCK_UN);
  }

  LockState test() override {
    bool untestable = false;
    if (!flock_held_) {
      int r;
      do {
        r = ::flock(fd_.get(), LOCK_EX | LOCK_NB);
      } while (r != 0 && errno == EINTR);
      if (r == 0) {
        flock_held_ = true;
      } else if (errno == EWOULDBLOCK) {
        return LockState::kHeld;
      } else if (cannot_lock(errno)) {
        untestable = true;
      } else {
        throw error_from_errno(errno, path_, "lock");
      }
    }
    if (want_range_ && !range_held_ && ofd_works_) {
      struct flock range = whole_file(F_RDLCK);
      if (fcntl_lock(fd_.get(), F_OFD_SETLK, &range) == 0) {
        range_held_ = true;
      } else if (errno == EAGAIN || errno == EACCES) {
        return LockState::kHeld;  // someone's write lock on some range
      } else if (cannot_lock(errno)) {
        ofd_works_ = false;  // an old kernel or a file system without them
      } else {
        throw error_from_errno(errno, path_, "lock");
      }
    }
    switch (probe()) {
      case LockState::kHeld: return LockState::kHeld;
      case LockState::kUntestable: untestable = true; break;
      case LockState::kFree: break;
    }
    return untestable ? LockState::kUntestable : LockState::kFree;
  }

 private:
  // A write lock over every byte conflicts with any lock of another owner,
  // shared or exclusive, wherever it lies. Asked from our description
  // (F_OFD_GETLK) our own range lock is not in the way; where OFD calls do
  // not work we took no range lock, and the per-process call tests the rest.
  LockState probe() {
    if (ofd_works_) {
      struct flock probe = whole_file(F_WRLCK);
      if (fcntl_lock(fd_.get(), F_OFD_GETLK, &probe) == 0) {
        return probe.l_type == F_UNLCK ? LockState::kFree : LockState::kHeld;
      }
      if (!cannot_lock(errno)) throw error_from_errno(errno, path_, "test locks");
      ofd_works_ = false;
    }
    struct flock probe = whole_file(F_WRLCK);
    if (fcntl_lock(fd_.get(), F_GETLK, &probe) == 0) {
      return probe.l_type == F_UNLCK ? LockState::kFree : LockState::kHeld;
    }
    if (!cannot_lock(errno)) throw error_from_errno(errno, path_, "test locks");
    return LockState::kUntestable;
  }

  std::string path_;
  Descriptor fd_;
  bool want_range_;
  bool flock_held_ = false;
  bool range_held_ = false;
  bool ofd_works_ = true;
};

int open_or_throw(const std::string& path, int flags, mode_t mode = 0) {
  for (;;) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    if (errno != EINTR) throw error_from_errno(errno, path, "open");
  }
}

class PosixEnv : public Env {
 public:
  std::unique_ptr<RandomAccessFile> open_readable(const std::string& path) override {
    Descriptor fd(open_or_throw(path, O_RDONLY));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw error_from_errno(errno, path, "stat");
    if (!S_ISREG(st.st_mode)) {
      throw Error(errc::kUnrecognizedFormat, "Unrecognized database format '" + path + "'.");
    }
    return std::make_unique<PosixReadable>(path, fd.release());
  }

  std::unique_ptr<WritableFile> create_exclusive(const std::string& path) override {
    int fd = open_or_throw(path, O_RDWR | O_CREAT | O_EXCL, 0666);
    return std::make_unique<PosixWritable>(path, fd);
  }

  std::unique_ptr<WritableFile> open_writable(const std::string& path) override {
    int fd = open_or_throw(path, O_RDWR);
    return std::make_unique<PosixWritable>(path, fd);
  }

  void remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) throw error_from_errno(errno, path, "remove");
  }

  void rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) throw error_from_errno(errno, from, "rename");
  }

  void sync_directory(const std::string& dir) override {
    Descriptor fd(open_or_throw(dir.empty() ? "." : dir, O_RDONLY | O_DIRECTORY));
    while (::fsync(fd.get()) != 0) {
      // Some file systems cannot sync a directory; that is not a failure of ours.
      if (errno == EINVAL || errno == ENOTSUP) break;
      if (errno != EINTR) throw error_from_errno(errno, dir, "sync directory");
    }
  }

  bool file_exists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  std::unique_ptr<FileHold> hold_file(const std::string& path, bool read_lock_all) override {
    Descriptor fd(open_or_throw(path, O_RDONLY));
    return std::make_unique<PosixHold>(path, fd.release(), read_lock_all);
  }
};

}  // namespace

Env& default_env() {
  static PosixEnv env;
  return env;
}

}  // namespace jet
