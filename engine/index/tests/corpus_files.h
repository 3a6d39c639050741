#pragma once
// Test helpers: find the sample databases and serve their pages raw.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/error.h"
#include "engine/index/index_page_layout.h"
#include "engine/index/index_tree_reader.h"

namespace jet::index::testing {

inline std::filesystem::path shared_dir() {
  if (const char* env = std::getenv("QUILLMAR_SHARED"); env != nullptr && *env != '\0') return env;
  return std::filesystem::path(QUILLMAR_SOURCE_DIR) / ".." / "shared";
}

// Unencrypted sample databases (.mdb, .accdb) of one corpus folder (the
// RC4-encrypted one has no readable pages), sorted; empty when the folder
// is absent.
inline std::vector<std::filesystem::path> corpus_files(const std::string& folder) {
  std::vector<std::filesystem::path> out;
  const auto dir = shared_dir() / "corpus" / folder;
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return out;
  for (const auto& f : std::filesystem::directory_iterator(dir)) {
    std::string ext = f.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if ((ext == ".mdb" || ext == ".accdb") && f.path().filename() != "db-enc.mdb") out.push_back(f.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The samples Access made in the test folders (jet3, jet4, password).
inline std::vector<std::filesystem::path> corpus_files() {
  std::vector<std::filesystem::path> out;
  for (const char* dir : {"jet3", "jet4", "password"}) {
    auto files = corpus_files(dir);
    out.insert(out.end(), files.begin(), files.end());
  }
  return out;
}

struct RawFile {
  Bytes bytes;
  Format format = Format::Jet4;
  std::size_t page_size() const { return layout_for(format).page_size; }
  std::size_t page_count() const { return bytes.size() / page_size(); }
  Bytes page(PageNumber n) const {
    if (n == 0 || n >= page_count()) throw Error(errc::kCannotOpenDatabase, "page out of range");
    auto first = bytes.begin() + static_cast<std::ptrdiff_t>(n * page_size());
    return Bytes(first, first + static_cast<std::ptrdiff_t>(page_size()));
  }
  PageFetcher fetcher() const {
    return [this](PageNumber n) { return page(n); };
  }
};

inline RawFile load_raw(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  RawFile f;
  f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  // Version byte at 0x14: 0 is Jet 3, anything else Jet 4.
  f.format = (f.bytes.size() > 0x14 && f.bytes[0x14] == 0) ? Format::Jet3 : Format::Jet4;
  return f;
}

}  // namespace jet::index::testing
