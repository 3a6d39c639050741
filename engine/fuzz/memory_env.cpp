#include "engine/fuzz/memory_env.h"

#include <cstring>

#include "engine/error.h"

namespace jet::fuzz {
namespace {

[[noreturn]] void refuse(const std::string& path) {
  throw Error(3043, "The in-memory file layer is read-only.", "fuzz env: " + path);
}

class MemoryFile : public RandomAccessFile {
 public:
  MemoryFile(std::string path, std::shared_ptr<const Bytes> bytes)
      : path_(std::move(path)), bytes_(std::move(bytes)) {}
  void read(std::uint64_t offset, std::size_t n, std::uint8_t* dst) override {
    if (offset > bytes_->size() || n > bytes_->size() - offset) {
      throw Error(errc::kCannotOpenDatabase, "Read past the end of the file.", path_);
    }
    if (n != 0) std::memcpy(dst, bytes_->data() + offset, n);
  }
  std::uint64_t size() override { return bytes_->size(); }
  const std::string& path() const override { return path_; }

 private:
  std::string path_;
  std::shared_ptr<const Bytes> bytes_;
};

class NoLock : public FileLock {};

}  // namespace

std::unique_ptr<RandomAccessFile> MemoryEnv::open_readable(const std::string& path) {
  auto it = files_.find(path);
  if (it == files_.end()) {
    throw Error(errc::kCouldNotFindFile, "Could not find file '" + path + "'.", "fuzz env");
  }
  return std::make_unique<MemoryFile>(path, it->second);
}
std::unique_ptr<WritableFile> MemoryEnv::create_exclusive(const std::string& path) { refuse(path); }
std::unique_ptr<WritableFile> MemoryEnv::open_writable(const std::string& path) { refuse(path); }
void MemoryEnv::remove(const std::string& path) { refuse(path); }
void MemoryEnv::rename(const std::string& from, const std::string&) { refuse(from); }
void MemoryEnv::sync_directory(const std::string&) {}
bool MemoryEnv::file_exists(const std::string& path) { return files_.count(path) != 0; }
std::unique_ptr<FileLock> MemoryEnv::lock_file(const std::string&, bool) {
  return std::make_unique<NoLock>();
}

}  // namespace jet::fuzz
