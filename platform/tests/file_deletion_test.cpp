#include <gtest/gtest.h>

#include "platform/failure.h"
#include "platform/file_deletion.h"
#include "platform/testing/temp_folder.h"
#include "platform/text.h"

namespace quillmar::platform {
namespace {

std::int32_t KillFailure(const std::filesystem::path& path) {
  try {
    PosixFileDeletion().Kill(FromUtf8(path.string()));
  } catch (const Failure& failure) {
    return failure.number();
  }
  return 0;
}

TEST(FileDeletion, RemovesOneFileAndReportsWhatIsWrong) {
  testing::TempFolder folder;
  testing::WriteFile(folder / "x.mdb", "x");
  std::filesystem::create_directory(folder / "sub");
  EXPECT_EQ(KillFailure(folder / "x.mdb"), 0);
  EXPECT_FALSE(std::filesystem::exists(folder / "x.mdb"));
  EXPECT_EQ(KillFailure(folder / "x.mdb"), 53);
  EXPECT_EQ(KillFailure(folder / "none" / "x.mdb"), 76);
  EXPECT_EQ(KillFailure(folder / "sub"), 75);
  EXPECT_TRUE(std::filesystem::is_directory(folder / "sub"));
}

}  // namespace
}  // namespace quillmar::platform
