#pragma once
// The file layer: every byte the engine reads or writes goes through an Env,
// so tests can substitute one that fails on command (fault_injection_env.h).
// Every failure is a jet::Error (numbers in file_errors.h).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace jet {

class RandomAccessFile {
 public:
  virtual ~RandomAccessFile() = default;
  // Reads exactly n bytes at offset into dst. Reading past the end of the
  // file is a damaged-file error (3049); other failures map from errno.
  virtual void read(std::uint64_t offset, std::size_t n, std::uint8_t* dst) = 0;
  // Reads consecutive blocks of `each` bytes from offset into the buffers
  // in turn (one call where the system allows it). The same errors as read.
  virtual void read_blocks(std::uint64_t offset, std::span<std::uint8_t* const> buffers, std::size_t each) {
    for (std::size_t i = 0; i < buffers.size(); ++i) read(offset + i * each, each, buffers[i]);
  }
  virtual std::uint64_t size() = 0;
  virtual const std::string& path() const = 0;
};

class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Writes n bytes at offset (the file grows as needed).
  virtual void write(std::uint64_t offset, const std::uint8_t* data, std::size_t n) = 0;
  // Writes n bytes at the current end of the file.
  virtual void append(const std::uint8_t* data, std::size_t n) = 0;
  virtual std::uint64_t size() = 0;
  virtual void sync() = 0;
  // Closes the descriptor; further calls fail. Destruction closes silently.
  virtual void close() = 0;
  virtual const std::string& path() const = 0;
};

// What testing a file's locks found.
enum class LockState {
  kFree,        // nobody else holds a lock on it
  kHeld,        // another open file holds a lock that conflicts with ours
  kUntestable,  // the file system cannot lock (ENOLCK, EINVAL, EOPNOTSUPP)
};

// A file held open for the length of a run, with the locks that tell other
// openers we are using it; they go when this is destroyed. Which locks and
// over which bytes: FILES.md.
class FileHold {
 public:
  virtual ~FileHold() = default;
  // Takes the locks not held yet, then tests the file for locks of anyone
  // else: flock, POSIX record and open-file-description locks, shared or
  // exclusive, on any range including beyond the end of the file. Locks
  // this hold took itself never count. May be called again at any time.
  virtual LockState test() = 0;
};

// The files an Env opened for reading may each be read on a thread of
// their own, side by side: the check reads one database through several
// handles at once.
class Env {
 public:
  virtual ~Env() = default;

  // Opens an existing file for reading. Missing: 3024; no permission: 3051;
  // a directory or other non-regular file: 3343 (it cannot be a database).
  virtual std::unique_ptr<RandomAccessFile> open_readable(const std::string& path) = 0;
  // Creates a new file; fails with 3204 "Database already exists." if the
  // path exists (O_EXCL, so two creators never share a file).
  virtual std::unique_ptr<WritableFile> create_exclusive(const std::string& path) = 0;
  // Opens an existing file for writing without truncating it.
  virtual std::unique_ptr<WritableFile> open_writable(const std::string& path) = 0;
  virtual void remove(const std::string& path) = 0;
  // Atomic replace within one file system.
  virtual void rename(const std::string& from, const std::string& to) = 0;
  // Makes directory entries (creates, renames) durable.
  virtual void sync_directory(const std::string& dir) = 0;
  virtual bool file_exists(const std::string& path) = 0;
  // Opens an existing file to hold it (takes no lock until test() is
  // called). `read_lock_all` adds a shared byte-range lock over every byte
  // of it, so that others' write locks on any range fail while we hold it.
  // Fails as open_readable does when the file cannot be opened.
  virtual std::unique_ptr<FileHold> hold_file(const std::string& path, bool read_lock_all) = 0;
};

// The real POSIX file system.
Env& default_env();

}  // namespace jet
