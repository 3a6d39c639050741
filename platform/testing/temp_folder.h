#pragma once
// Test helpers for real files: a fresh folder removed afterwards, and a guard
// that puts the current directory back.
#include <filesystem>
#include <string>
#include <vector>

namespace quillmar::platform::testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

class CurrentDirectoryGuard {
 public:
  CurrentDirectoryGuard() : saved_(std::filesystem::current_path()) {}
  ~CurrentDirectoryGuard() { std::filesystem::current_path(saved_); }
  CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
  CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

 private:
  std::filesystem::path saved_;
};

void WriteFile(const std::filesystem::path& path, const std::string& content);
std::string ReadFile(const std::filesystem::path& path);
// Names of the entries of a folder, sorted.
std::vector<std::string> ListFolder(const std::filesystem::path& folder);

}  // namespace quillmar::platform::testing
