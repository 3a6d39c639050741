#pragma once
// An Env that hands every call to another Env. Wrappers that change a few
// calls (the fault-injecting Env, say) derive from it and override only
// those, so each says what it adds and nothing else.
#include <string>

#include "engine/file/env.h"

namespace jet {

class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}

  Env& target() const { return target_; }

  std::unique_ptr<RandomAccessFile> open_readable(const std::string& path) override {
    return target_.open_readable(path);
  }
  std::unique_ptr<WritableFile> create_exclusive(const std::string& path) override {
    return target_.create_exclusive(path);
  }
  std::unique_ptr<WritableFile> open_writable(const std::string& path) override { return target_.open_writable(path); }
  void remove(const std::string& path) override { target_.remove(path); }
  void rename(const std::string& from, const std::string& to) override { target_.rename(from, to); }
  void sync_directory(const std::string& dir) override { target_.sync_directory(dir); }
  bool file_exists(const std::string& path) override { return target_.file_exists(path); }
  std::unique_ptr<FileHold> hold_file(const std::string& path, bool read_lock_all) override {
    return target_.hold_file(path, read_lock_all);
  }

 private:
  Env& target_;
};

}  // namespace jet
