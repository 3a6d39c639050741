#pragma once
// Finding the shared sample databases from tests, and scratch copies of
// them to damage. Tests skip with a message when the samples are absent.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/read/database.h"

namespace quillmar_test {

namespace fs = std::filesystem;

inline fs::path corpus_dir() {
  const char* env = std::getenv("QUILLMAR_SHARED");
  fs::path shared = env != nullptr ? fs::path(env) : fs::path(QUILLMAR_SOURCE_DIR) / ".." / "shared";
  return shared / "corpus";
}

struct CorpusFile {
  fs::path path;
  std::optional<std::string> password;  // the password samples use "password"
};

// Every sample database, sorted by path; empty when none are there.
inline std::vector<CorpusFile> corpus_files() {
  std::vector<CorpusFile> files;
  std::error_code ec;
  for (const char* dir : {"jet3", "jet4", "password"}) {
    for (const auto& entry : fs::directory_iterator(corpus_dir() / dir, ec)) {
      if (entry.path().extension() != ".mdb") continue;
      CorpusFile f{entry.path(), std::nullopt};
      if (std::string(dir) == "password") f.password = "password";
      files.push_back(f);
    }
  }
  std::sort(files.begin(), files.end(), [](const CorpusFile& a, const CorpusFile& b) { return a.path < b.path; });
  return files;
}

// Opens a sample read-only, with its password if it has one.
inline std::unique_ptr<jet::Database> open_sample(const CorpusFile& f) {
  jet::OpenOptions options;
  options.password = f.password;
  return jet::Database::open(f.path.string(), options);
}

#define QUILLMAR_REQUIRE_CORPUS()                                                             \
  if (::quillmar_test::corpus_files().empty())                                                \
  GTEST_SKIP() << "sample databases not found at " << ::quillmar_test::corpus_dir()           \
               << " (set QUILLMAR_SHARED)"

// A temporary directory removed with the object.
class ScratchDir {
 public:
  ScratchDir() {
    dir_ = fs::temp_directory_path() / ("quillmar-test-" + std::to_string(::getpid()) + "-" +
                                        std::to_string(counter()++));
    fs::create_directories(dir_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return dir_; }

  // A writable copy of `source` under `name`.
  fs::path copy_of(const fs::path& source, const std::string& name) const {
    fs::path target = dir_ / name;
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    return target;
  }

 private:
  static int& counter() {
    static int n = 0;
    return n;
  }
  fs::path dir_;
};

inline std::vector<std::uint8_t> read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void write_bytes(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace quillmar_test
