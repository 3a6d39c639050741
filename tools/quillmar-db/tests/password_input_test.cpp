#include "tools/quillmar-db/password_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "engine/error.h"

namespace quillmar_db {
namespace {

namespace fs = std::filesystem;

class PasswordFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qdb-pw-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string write(const std::string& content) {
    auto path = dir_ / "pw";
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
  fs::path dir_;
};

TEST_F(PasswordFile, DropsOneLineEndOnly) {
  EXPECT_EQ(read_password_file(write("password\n")), "password");
  EXPECT_EQ(read_password_file(write("password\r\n")), "password");
  EXPECT_EQ(read_password_file(write("pass word \n\n")), "pass word \n");
  EXPECT_EQ(read_password_file(write("")), "");
  EXPECT_EQ(read_password_file(write("\xC3\xA9t\xC3\xA9")), "\xC3\xA9t\xC3\xA9");
}

TEST_F(PasswordFile, MissingAndOversizedFilesFailWithNumbers) {
  try {
    read_password_file((dir_ / "absent").string());
    ADD_FAILURE() << "a missing file gave a password";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), jet::errc::kCouldNotFindFile);
  }
  EXPECT_THROW(read_password_file(write(std::string(100000, 'x'))), jet::Error);
  EXPECT_THROW(read_password_file(dir_.string()), jet::Error);  // a directory
}

std::string from_stream(std::string text) {
  std::FILE* in = fmemopen(text.data(), text.size(), "r");
  EXPECT_NE(in, nullptr);
  std::string password = read_password_stream(in);
  std::fclose(in);
  return password;
}

TEST(PasswordStream, ReadsTheFirstLineOnly) {
  EXPECT_EQ(from_stream("secret\n"), "secret");
  EXPECT_EQ(from_stream("secret\r\nmore input\n"), "secret");
  EXPECT_EQ(from_stream(" with blanks "), " with blanks ");
  EXPECT_THROW(from_stream(std::string(100000, 'x')), jet::Error);
}

}  // namespace
}  // namespace quillmar_db
