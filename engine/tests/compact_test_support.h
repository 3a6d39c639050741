#pragma once
// Helpers for the compaction tests: the sample databases, scratch folders,
// whole-file reads and the outside comparison tool.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "engine/model/value.h"

namespace jet::write_testing {

inline std::filesystem::path shared_dir() {
  if (const char* env = std::getenv("QUILLMAR_SHARED"); env != nullptr && *env != '\0') return env;
  return std::filesystem::path(QUILLMAR_SOURCE_DIR) / ".." / "shared";
}

struct CorpusFile {
  std::filesystem::path path;
  std::optional<std::string> password;
  std::string name() const { return path.parent_path().filename().string() + "_" + path.stem().string(); }
};

// Names the file in test listings instead of dumping its bytes.
inline void PrintTo(const CorpusFile& f, std::ostream* os) { *os << f.path.string(); }

// Every sample database; those under password/ open with "password".
inline std::vector<CorpusFile> corpus_files() {
  std::vector<CorpusFile> out;
  const auto corpus = shared_dir() / "corpus";
  std::error_code ec;
  for (const char* dir : {"jet3", "jet4", "password"}) {
    if (!std::filesystem::is_directory(corpus / dir, ec)) continue;
    for (const auto& f : std::filesystem::directory_iterator(corpus / dir)) {
      if (f.path().extension() != ".mdb") continue;
      CorpusFile c{f.path(), std::nullopt};
      if (std::string(dir) == "password") c.password = "password";
      out.push_back(c);
    }
  }
  std::sort(out.begin(), out.end(), [](const CorpusFile& a, const CorpusFile& b) { return a.path < b.path; });
  return out;
}

inline std::optional<CorpusFile> corpus_file(const std::string& folder, const std::string& file) {
  for (const CorpusFile& c : corpus_files()) {
    if (c.path.parent_path().filename() == folder && c.path.filename() == file) return c;
  }
  return std::nullopt;
}

inline Bytes read_whole_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_whole_file(const std::filesystem::path& p, const Bytes& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder, removed with its contents at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("quillmar-write-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::filesystem::path jetdiff_tool() { return shared_dir() / "tools" / "jetdiff"; }

// Exit status of jetdiff A B (0 agree, 1 differ, 2 unreadable); -1 when it cannot run.
inline int run_jetdiff(const std::filesystem::path& a, const std::filesystem::path& b,
                       const std::optional<std::string>& password, const std::filesystem::path& log) {
  std::string cmd = "'" + jetdiff_tool().string() + "' '" + a.string() + "' '" + b.string() + "'";
  if (password) cmd += " --password '" + *password + "'";
  cmd += " > '" + log.string() + "' 2>&1";
  const int status = std::system(cmd.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace jet::write_testing
