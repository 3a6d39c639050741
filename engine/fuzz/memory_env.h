#pragma once
// A read-only Env over byte buffers held in memory, so a fuzzer can open a
// database made of arbitrary bytes without touching the disk. Writing is
// refused: nothing the fuzzer drives should ever write.
#include <map>
#include <memory>
#include <string>

#include "engine/file/env.h"
#include "engine/model/value.h"

namespace jet::fuzz {

class MemoryEnv : public Env {
 public:
  void put(const std::string& path, Bytes bytes) { files_[path] = std::make_shared<Bytes>(std::move(bytes)); }

  std::unique_ptr<RandomAccessFile> open_readable(const std::string& path) override;
  std::unique_ptr<WritableFile> create_exclusive(const std::string& path) override;
  std::unique_ptr<WritableFile> open_writable(const std::string& path) override;
  void remove(const std::string& path) override;
  void rename(const std::string& from, const std::string& to) override;
  void sync_directory(const std::string& dir) override;
  bool file_exists(const std::string& path) override;
  std::unique_ptr<FileLock> lock_file(const std::string& path, bool exclusive) override;

 private:
  std::map<std::string, std::shared_ptr<const Bytes>> files_;
};

}  // namespace jet::fuzz
