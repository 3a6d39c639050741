#pragma once
// An Env whose files are byte buffers in memory: the fuzzer opens arbitrary
// bytes through it without touching the disk, and tests can build, read
// and compact databases without a scratch folder (wrapped in a
// FaultInjectionEnv when failures are wanted). It fails the way the POSIX
// Env does, with the same numbers: missing file 3024, existing file 3204,
// read past the end 3049, and, once made read-only, any change 3051. A hold
// locks its whole file: a second hold on the same path finds it held. One thread at a time, but files open for reading may
// each be read on a thread of their own while nothing writes.
#include <memory>
#include <optional>
#include <string>

#include "engine/file/env.h"
#include "engine/model/value.h"

namespace jet {

struct MemoryFiles;  // the files and locks; open handles share it with the Env

class MemoryEnv : public Env {
 public:
  MemoryEnv();
  ~MemoryEnv() override;

  // Adds or replaces a file.
  void put(const std::string& path, Bytes bytes);
  // A copy of the file's bytes; nullopt when there is no such file.
  std::optional<Bytes> contents(const std::string& path) const;
  // From now on every create, write, remove or rename fails (3051).
  void set_read_only(bool on);
  // Off: every hold's test says the file system cannot lock.
  void set_locks_work(bool on);

  std::unique_ptr<RandomAccessFile> open_readable(const std::string& path) override;
  std::unique_ptr<WritableFile> create_exclusive(const std::string& path) override;
  std::unique_ptr<WritableFile> open_writable(const std::string& path) override;
  void remove(const std::string& path) override;
  void rename(const std::string& from, const std::string& to) override;
  void sync_directory(const std::string& dir) override;
  bool file_exists(const std::string& path) override;
  std::unique_ptr<FileHold> hold_file(const std::string& path, bool read_lock_all) override;

 private:
  std::shared_ptr<MemoryFiles> files_;
};

}  // namespace jet
