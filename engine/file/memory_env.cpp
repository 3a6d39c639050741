#include "engine/file/memory_env.h"

#include <cerrno>
#include <cstring>
#include <map>

#include "engine/file/file_errors.h"

namespace jet {

struct MemoryFiles {
  // Each file's bytes are shared with its open handles, so a file removed
  // while open stays readable through them, as on POSIX.
  std::map<std::string, std::shared_ptr<Bytes>> by_path;
  // The hold that has each path locked. Holds are whole-file and
  // exclusive: a second hold on a path finds it held, as another opener
  // would on disk.
  std::map<std::string, const void*> holders;
  bool read_only = false;
  bool locks_work = true;

  void refuse_if_read_only(const std::string& path, const char* what) const {
    if (read_only) throw error_from_errno(EROFS, path, what);
  }
  std::shared_ptr<Bytes> find(const std::string& path) const {
    const auto it = by_path.find(path);
    if (it == by_path.end()) throw error_from_errno(ENOENT, path, "open");
    return it->second;
  }
};

namespace {

class MemoryReadable : public RandomAccessFile {
 public:
  MemoryReadable(std::string path, std::shared_ptr<Bytes> bytes) : path_(std::move(path)), bytes_(std::move(bytes)) {}
  void read(std::uint64_t offset, std::size_t n, std::uint8_t* dst) override {
    if (offset > bytes_->size() || n > bytes_->size() - offset) {
      throw damaged_file_error(path_, "read past the end of the file");
    }
    if (n != 0) std::memcpy(dst, bytes_->data() + offset, n);
  }
  std::uint64_t size() override { return bytes_->size(); }
  const std::string& path() const override { return path_; }

 private:
  std::string path_;
  std::shared_ptr<Bytes> bytes_;
};

class MemoryWritable : public WritableFile {
 public:
  MemoryWritable(std::string path, std::shared_ptr<Bytes> bytes, std::shared_ptr<const MemoryFiles> files)
      : path_(std::move(path)), bytes_(std::move(bytes)), files_(std::move(files)) {}
  void write(std::uint64_t offset, const std::uint8_t* data, std::size_t n) override {
    check_open("write");
    files_->refuse_if_read_only(path_, "write");
    if (offset + n > bytes_->size()) bytes_->resize(static_cast<std::size_t>(offset + n), 0);
    if (n != 0) std::memcpy(bytes_->data() + offset, data, n);
  }
  void append(const std::uint8_t* data, std::size_t n) override { write(size(), data, n); }
  std::uint64_t size() override {
    check_open("size");
    return bytes_->size();
  }
  void sync() override { check_open("sync"); }
  void close() override {
    check_open("close");
    open_ = false;
  }
  const std::string& path() const override { return path_; }

 private:
  void check_open(const char* what) const {
    if (!open_) throw error_from_errno(EBADF, path_, what);
  }

  std::string path_;
  std::shared_ptr<Bytes> bytes_;
  std::shared_ptr<const MemoryFiles> files_;
  bool open_ = true;
};

class MemoryHold : public FileHold {
 public:
  MemoryHold(std::shared_ptr<MemoryFiles> files, std::string path) : files_(std::move(files)), path_(std::move(path)) {}
  ~MemoryHold() override {
    const auto it = files_->holders.find(path_);
    if (it != files_->holders.end() && it->second == this) files_->holders.erase(it);
  }
  MemoryHold(const MemoryHold&) = delete;
  MemoryHold& operator=(const MemoryHold&) = delete;

  LockState test() override {
    if (!files_->locks_work) return LockState::kUntestable;
    const auto [it, taken] = files_->holders.try_emplace(path_, this);
    return taken || it->second == this ? LockState::kFree : LockState::kHeld;
  }

 private:
  std::shared_ptr<MemoryFiles> files_;
  std::string path_;
};

}  // namespace

MemoryEnv::MemoryEnv() : files_(std::make_shared<MemoryFiles>()) {}
MemoryEnv::~MemoryEnv() = default;

void MemoryEnv::put(const std::string& path, Bytes bytes) {
  files_->by_path[path] = std::make_shared<Bytes>(std::move(bytes));
}

std::optional<Bytes> MemoryEnv::contents(const std::string& path) const {
  const auto it = files_->by_path.find(path);
  if (it == files_->by_path.end()) return std::nullopt;
  return *it->second;
}

void MemoryEnv::set_read_only(bool on) { files_->read_only = on; }

void MemoryEnv::set_locks_work(bool on) { files_->locks_work = on; }

std::unique_ptr<RandomAccessFile> MemoryEnv::open_readable(const std::string& path) {
  return std::make_unique<MemoryReadable>(path, files_->find(path));
}

std::unique_ptr<WritableFile> MemoryEnv::create_exclusive(const std::string& path) {
  files_->refuse_if_read_only(path, "create");
  if (files_->by_path.count(path) != 0) throw error_from_errno(EEXIST, path, "create");
  auto bytes = std::make_shared<Bytes>();
  files_->by_path[path] = bytes;
  return std::make_unique<MemoryWritable>(path, bytes, files_);
}

std::unique_ptr<WritableFile> MemoryEnv::open_writable(const std::string& path) {
  files_->refuse_if_read_only(path, "open");
  return std::make_unique<MemoryWritable>(path, files_->find(path), files_);
}

void MemoryEnv::remove(const std::string& path) {
  files_->refuse_if_read_only(path, "remove");
  if (files_->by_path.erase(path) == 0) throw error_from_errno(ENOENT, path, "remove");
}

void MemoryEnv::rename(const std::string& from, const std::string& to) {
  files_->refuse_if_read_only(from, "rename");
  auto bytes = files_->find(from);
  files_->by_path.erase(from);
  files_->by_path[to] = std::move(bytes);
}

void MemoryEnv::sync_directory(const std::string&) {}

bool MemoryEnv::file_exists(const std::string& path) { return files_->by_path.count(path) != 0; }

std::unique_ptr<FileHold> MemoryEnv::hold_file(const std::string& path, bool) {
  files_->find(path);
  return std::make_unique<MemoryHold>(files_, path);
}

}  // namespace jet
