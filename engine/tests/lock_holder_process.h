#pragma once
// Starts quillmar-lock-holder (lock_holder.cpp) as a second process that
// holds a lock on a file until release() or destruction. Tests that use it
// define QUILLMAR_LOCK_HOLDER as the helper's path.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace jet::testing {

class LockHolder {
 public:
  // kind: "flock", "posix" or "ofd"; a length of 0 reaches beyond any end.
  LockHolder(const std::string& kind, bool exclusive, const std::filesystem::path& file, long long start = 0,
             long long length = 0) {
    int to_child[2];
    int from_child[2];
    // Close-on-exec, so that no other child keeps our end of its input open.
    if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) return;
    std::vector<std::string> args{QUILLMAR_LOCK_HOLDER, kind, exclusive ? "exclusive" : "shared", file.string(),
                                  std::to_string(start), std::to_string(length)};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_child[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, from_child[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, to_child[1]);
    posix_spawn_file_actions_addclose(&actions, from_child[0]);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(to_child[0]);
    ::close(from_child[1]);
    input_ = to_child[1];
    // The first line says whether the lock was taken.
    char c;
    while (::read(from_child[0], &c, 1) == 1 && c != '\n') answer_ += c;
    ::close(from_child[0]);
  }
  ~LockHolder() { release(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  // "held", "busy" (someone else's lock was in the way) or "error ...".
  const std::string& answer() const { return answer_; }
  bool held() const { return answer_ == "held"; }

  // Ends the helper; its locks go with it.
  void release() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
    if (pid_ > 0) {
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  std::string answer_;
};

}  // namespace jet::testing
