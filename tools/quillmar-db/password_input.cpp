#include "tools/quillmar-db/password_input.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <termios.h>
#include <unistd.h>

#include "engine/error.h"

namespace quillmar_db {
namespace {

constexpr const char* kSource = "quillmar-db password input";
// Jet passwords hold at most 20 characters, those of encrypted ACE files
// 255; anything far longer is a wrong file given by mistake, not a password.
constexpr std::size_t kMaxBytes = 4096;

std::string read_all(std::FILE* in, const std::string& what) {
  std::string text;
  char buf[512];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) {
    text.append(buf, n);
    if (text.size() > kMaxBytes) {
      throw jet::Error(jet::errc::kNotAValidPassword,
                       "Not a valid password: " + what + " holds more than a password.", kSource);
    }
  }
  if (std::ferror(in)) {
    throw jet::Error(3043, "Cannot read the password from " + what + ": " +
                               std::strerror(errno) + ".", kSource);
  }
  return text;
}

}  // namespace

std::string without_line_end(std::string text) {
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  return text;
}

std::string read_password_file(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) {
    int err = errno;
    if (err == ENOENT) {
      throw jet::Error(jet::errc::kCouldNotFindFile, "Could not find file '" + path + "'.", kSource);
    }
    throw jet::Error(3051, "Cannot open the password file '" + path + "': " + std::strerror(err) + ".",
                     kSource);
  }
  return without_line_end(read_all(file.get(), "'" + path + "'"));
}

std::string read_password_stream(std::FILE* in) {
  // One line: a password holds no line break, and someone typing at a
  // terminal ends it with Enter (not echoed there).
  int fd = ::fileno(in);
  termios saved{};
  bool terminal = fd >= 0 && ::isatty(fd) == 1 && ::tcgetattr(fd, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  std::string line;
  int c = 0;
  while ((c = std::fgetc(in)) != EOF && c != '\n' && line.size() <= kMaxBytes) {
    line.push_back(static_cast<char>(c));
  }
  bool failed = std::ferror(in) != 0;
  if (terminal) ::tcsetattr(fd, TCSAFLUSH, &saved);
  if (failed) {
    throw jet::Error(3043, std::string("Cannot read the password from standard input: ") +
                               std::strerror(errno) + ".", kSource);
  }
  if (line.size() > kMaxBytes) {
    throw jet::Error(jet::errc::kNotAValidPassword,
                     "Not a valid password: standard input holds more than a password.", kSource);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace quillmar_db
