#pragma once
// Test support: an Env that forwards to another (the POSIX one, or a
// MemoryEnv) and fails on command, so tests can prove every caller turns I/O
// failures into clean jet::Errors and leaves no half-written file behind.
// Lives in the engine library so every team's tests can use it.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/file/env_wrapper.h"

namespace jet {

class FaultInjectionEnv : public EnvWrapper {
 public:
  explicit FaultInjectionEnv(Env& base) : EnvWrapper(base) {}

  // Any read whose range covers this byte fails with an I/O error (3043).
  void fail_read_at(std::uint64_t offset) { read_fault_ = offset; }
  void fail_read_page(std::uint32_t page, std::uint32_t page_size) {
    read_fault_ = std::uint64_t{page} * page_size;
  }
  // The write that would put byte `offset` into any written file fails:
  // with errno EIO (3043) or, when disk_full, ENOSPC (3026). The bytes before
  // it in the same call are written, as a real short write would.
  void fail_write_at(std::uint64_t offset, bool disk_full = false) {
    write_fault_ = offset;
    write_fault_disk_full_ = disk_full;
  }
  void fail_sync(bool on = true) { sync_fault_ = on; }
  void fail_rename(bool on = true) { rename_fault_ = on; }
  void fail_create(bool on = true) { create_fault_ = on; }
  // Read and write faults strike only the file at this path (by default
  // every file).
  void only_in(const std::string& path) { fault_path_ = path; }
  void clear_faults();

  // Counters so tests can check what happened.
  int syncs() const { return syncs_; }
  int renames() const { return renames_; }
  std::uint64_t bytes_written() const { return bytes_written_; }

  std::unique_ptr<RandomAccessFile> open_readable(const std::string& path) override;
  std::unique_ptr<WritableFile> create_exclusive(const std::string& path) override;
  std::unique_ptr<WritableFile> open_writable(const std::string& path) override;
  void rename(const std::string& from, const std::string& to) override;
  void sync_directory(const std::string& dir) override;

 private:
  friend class FaultyReadable;
  friend class FaultyWritable;

  bool strikes(const std::string& path) const { return !fault_path_ || *fault_path_ == path; }

  std::optional<std::string> fault_path_;
  std::optional<std::uint64_t> read_fault_;
  std::optional<std::uint64_t> write_fault_;
  bool write_fault_disk_full_ = false;
  bool sync_fault_ = false;
  bool rename_fault_ = false;
  bool create_fault_ = false;
  // Files are written and synced on several threads at once.
  std::atomic<int> syncs_ = 0;
  std::atomic<int> renames_ = 0;
  std::atomic<std::uint64_t> bytes_written_ = 0;
};

}  // namespace jet
