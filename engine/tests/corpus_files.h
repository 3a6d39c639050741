#pragma once
// Files for the engine's tests: the shared sample databases (found through
// QUILLMAR_SHARED), whole-file reads and writes, scratch folders, and the
// outside comparison tool jetdiff.
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <set>
#include <sstream>
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

struct CorpusFile {
  std::filesystem::path path;
  std::optional<std::string> password;  // the samples under password/ use "password"
  // "jet4_testV2000": unique, and usable as a test name.
  std::string name() const { return path.parent_path().filename().string() + "_" + path.stem().string(); }
};

// Names the file in test listings instead of dumping its bytes.
inline void PrintTo(const CorpusFile& f, std::ostream* os) { *os << f.path.string(); }

inline bool is_password_file(const std::filesystem::path& p) { return p.parent_path().filename() == "password"; }

// Every sample database (jet3/, jet4/, password/), sorted by path; empty
// when the samples are absent.
inline std::vector<CorpusFile> corpus_files() {
  std::vector<CorpusFile> out;
  std::error_code ec;
  for (const char* dir : {"jet3", "jet4", "password"}) {
    for (const auto& f : std::filesystem::directory_iterator(corpus_dir() / dir, ec)) {
      if (f.path().extension() != ".mdb") continue;
      CorpusFile c{f.path(), std::nullopt};
      if (is_password_file(f.path())) c.password = "password";
      out.push_back(c);
    }
  }
  std::sort(out.begin(), out.end(), [](const CorpusFile& a, const CorpusFile& b) { return a.path < b.path; });
  return out;
}

// The databases under wild/ (made by people with Access for their own
// projects), sorted by path; empty when absent. Their passwords, where they
// have one, are not known.
inline std::vector<CorpusFile> wild_files() {
  std::vector<CorpusFile> out;
  std::error_code ec;
  for (const auto& f : std::filesystem::directory_iterator(corpus_dir() / "wild", ec)) {
    if (f.path().extension() == ".mdb") out.push_back(CorpusFile{f.path(), std::nullopt});
  }
  std::sort(out.begin(), out.end(), [](const CorpusFile& a, const CorpusFile& b) { return a.path < b.path; });
  return out;
}

// The passwords of a folder's README table ("| file | ... | password | ..."
// with a column headed "password"), by file name.
inline std::map<std::string, std::string> passwords_from_readme(const std::filesystem::path& folder) {
  std::map<std::string, std::string> out;
  std::ifstream in(folder / "README.md");
  std::string line;
  std::optional<std::size_t> column;
  while (std::getline(in, line)) {
    if (line.rfind("|", 0) != 0) continue;
    std::vector<std::string> cells;
    std::stringstream row(line.substr(1));
    for (std::string cell; std::getline(row, cell, '|');) {
      const auto first = cell.find_first_not_of(' ');
      const auto last = cell.find_last_not_of(' ');
      cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    for (std::size_t i = 0; !column && i < cells.size(); ++i) {
      if (cells[i] == "password") column = i;
    }
    if (column && *column < cells.size() && !cells.empty() && cells[0] != "file") out[cells[0]] = cells[*column];
  }
  return out;
}

// The ACE databases (Access 2007 and later) under ace/, ace-lib/ and
// ace-encrypted/, sorted by path; empty when absent. The encrypted ones
// come with the passwords their folder's README gives.
inline std::vector<CorpusFile> ace_files() {
  std::vector<CorpusFile> out;
  std::error_code ec;
  for (const char* dir : {"ace", "ace-lib", "ace-encrypted"}) {
    const auto passwords = passwords_from_readme(corpus_dir() / dir);
    for (const auto& f : std::filesystem::directory_iterator(corpus_dir() / dir, ec)) {
      if (f.path().extension() != ".accdb") continue;
      const auto password = passwords.find(f.path().filename().string());
      out.push_back(CorpusFile{f.path(), password == passwords.end() ? std::nullopt
                                                                     : std::optional<std::string>(password->second)});
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

inline Bytes read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::filesystem::path& p, const Bytes& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder under the system temp folder, removed with its contents
// when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillmar-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch folder in " + pattern);
    path_ = pattern;
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
// `extra` is added to its options as it stands.
inline int run_jetdiff(const std::filesystem::path& a, const std::filesystem::path& b,
                       const std::optional<std::string>& password, const std::filesystem::path& log,
                       const std::string& extra = "") {
  std::string cmd = "'" + jetdiff_tool().string() + "' '" + a.string() + "' '" + b.string() + "'";
  if (password) cmd += " --password '" + *password + "'";
  if (!extra.empty()) cmd += " " + extra;
  cmd += " > '" + log.string() + "' 2>&1";
  const int status = std::system(cmd.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The sections of a jetdiff report ("database" or a table's name) that
// list a difference, not only notes.
inline std::set<std::string> jetdiff_differing_sections(const std::string& report) {
  std::set<std::string> out;
  std::string section;
  std::size_t at = 0;
  while (at < report.size()) {
    std::size_t end = report.find('\n', at);
    if (end == std::string::npos) end = report.size();
    const std::string line = report.substr(at, end - at);
    at = end + 1;
    if (line.rfind("table ", 0) == 0) {
      section = line.substr(6);
    } else if (line == "database") {
      section = line;
    } else if (line.rfind("  [", 0) == 0 && line.find("] note: ") == std::string::npos) {
      out.insert(section);
    }
  }
  return out;
}

// Whether jetdiff found A and a compacted copy B alike. It compares the
// table ids of MSysComplexColumns as plain numbers (it maps only those of
// MSysObjects, MSysACEs, MSysQueries and MSysNavPane* to names), and
// compaction renumbers tables, so a difference there alone is by design:
// audit_compacted compares those ids by the tables they name.
inline bool jetdiff_agrees_with_copy(int status, const std::string& report) {
  return status == 0 || (status == 1 && jetdiff_differing_sections(report) == std::set<std::string>{"MSysComplexColumns"});
}

}  // namespace jet::testing

// Skips the test, saying so, when a sample file is absent.
#define QUILLMAR_REQUIRE_CORPUS(file)                                                          \
  do {                                                                                         \
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "sample database absent: " << (file); \
  } while (0)
