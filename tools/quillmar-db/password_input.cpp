#include "tools/quillmar-db/password_input.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "engine/error.h"

namespace quillmar_db {
namespace {

constexpr const char* kSource = "quillmar-db password input";
// Jet passwords hold at most 20 characters; anything far longer is a
// wrong file given by mistake, not a password.
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
  return without_line_end(read_all(in, "standard input"));
}

}  // namespace quillmar_db
