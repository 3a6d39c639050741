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

// Held lock on a file; released when destroyed.
class FileLock {
 public:
  virtual ~FileLock() = default;
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
  // Takes an advisory lock on the file (shared or exclusive, not waiting).
  // Fails with 3356 when another process holds a conflicting lock.
  virtual std::unique_ptr<FileLock> lock_file(const std::string& path, bool exclusive) = 0;
};

// The real POSIX file system.
Env& default_env();

}  // namespace jet
