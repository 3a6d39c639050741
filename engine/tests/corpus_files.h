#pragma once
// Finding the shared sample databases and making scratch copies of them.
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/model/value.h"

namespace jet::testing {

inline std::filesystem::path shared_dir() {
  if (const char* env = std::getenv("QUILLMAR_SHARED"); env != nullptr && *env != '\0') return env;
#ifdef QUILLMAR_SOURCE_DIR
  return std::filesystem::path(QUILLMAR_SOURCE_DIR) / ".." / "shared";
#else
  return "../shared";
#endif
}

inline std::filesystem::path corpus_dir() { return shared_dir() / "corpus"; }

// Every .mdb under the corpus, sorted; empty when the corpus is absent.
inline std::vector<std::filesystem::path> corpus_files() {
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  if (!std::filesystem::is_directory(corpus_dir(), ec)) return out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(corpus_dir(), ec)) {
    if (e.path().extension() == ".mdb") out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

inline bool is_password_file(const std::filesystem::path& p) {
  return p.parent_path().filename() == "password";
}

inline Bytes read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::filesystem::path& p, const Bytes& b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A fresh directory under the system temp dir, removed on destruction.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quillmar-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
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

}  // namespace jet::testing

#define QUILLMAR_REQUIRE_CORPUS(file)                                                   \
  do {                                                                                  \
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "sample database absent: " << (file); \
  } while (0)
