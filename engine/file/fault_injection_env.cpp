#include "engine/file/fault_injection_env.h"

#include <cerrno>

#include "engine/file/file_errors.h"

namespace jet {

class FaultyReadable : public RandomAccessFile {
 public:
  FaultyReadable(FaultInjectionEnv& env, std::unique_ptr<RandomAccessFile> base)
      : env_(env), base_(std::move(base)) {}

  void read(std::uint64_t offset, std::size_t n, std::uint8_t* dst) override {
    if (env_.read_fault_ && env_.strikes(path()) && *env_.read_fault_ >= offset && *env_.read_fault_ < offset + n) {
      throw error_from_errno(EIO, path(), "read");
    }
    base_->read(offset, n, dst);
  }
  std::uint64_t size() override { return base_->size(); }
  const std::string& path() const override { return base_->path(); }

 private:
  FaultInjectionEnv& env_;
  std::unique_ptr<RandomAccessFile> base_;
};

class FaultyWritable : public WritableFile {
 public:
  FaultyWritable(FaultInjectionEnv& env, std::unique_ptr<WritableFile> base)
      : env_(env), base_(std::move(base)) {}

  void write(std::uint64_t offset, const std::uint8_t* data, std::size_t n) override {
    if (env_.write_fault_ && env_.strikes(path()) && *env_.write_fault_ >= offset && *env_.write_fault_ < offset + n) {
      std::size_t before = static_cast<std::size_t>(*env_.write_fault_ - offset);
      if (before > 0) {
        base_->write(offset, data, before);
        env_.bytes_written_ += before;
      }
      throw error_from_errno(env_.write_fault_disk_full_ ? ENOSPC : EIO, path(), "write");
    }
    base_->write(offset, data, n);
    env_.bytes_written_ += n;
  }
  void append(const std::uint8_t* data, std::size_t n) override { write(size(), data, n); }
  std::uint64_t size() override { return base_->size(); }
  void sync() override {
    ++env_.syncs_;
    if (env_.sync_fault_) throw error_from_errno(EIO, path(), "sync");
    base_->sync();
  }
  void close() override { base_->close(); }
  const std::string& path() const override { return base_->path(); }

 private:
  FaultInjectionEnv& env_;
  std::unique_ptr<WritableFile> base_;
};

void FaultInjectionEnv::clear_faults() {
  fault_path_.reset();
  read_fault_.reset();
  write_fault_.reset();
  write_fault_disk_full_ = false;
  sync_fault_ = false;
  rename_fault_ = false;
  create_fault_ = false;
}

std::unique_ptr<RandomAccessFile> FaultInjectionEnv::open_readable(const std::string& path) {
  return std::make_unique<FaultyReadable>(*this, target().open_readable(path));
}

std::unique_ptr<WritableFile> FaultInjectionEnv::create_exclusive(const std::string& path) {
  if (create_fault_) throw error_from_errno(EIO, path, "create");
  return std::make_unique<FaultyWritable>(*this, target().create_exclusive(path));
}

std::unique_ptr<WritableFile> FaultInjectionEnv::open_writable(const std::string& path) {
  return std::make_unique<FaultyWritable>(*this, target().open_writable(path));
}

void FaultInjectionEnv::rename(const std::string& from, const std::string& to) {
  ++renames_;
  if (rename_fault_) throw error_from_errno(EIO, from, "rename");
  target().rename(from, to);
}

void FaultInjectionEnv::sync_directory(const std::string& dir) {
  ++syncs_;
  if (sync_fault_) throw error_from_errno(EIO, dir, "sync directory");
  target().sync_directory(dir);
}

}  // namespace jet
