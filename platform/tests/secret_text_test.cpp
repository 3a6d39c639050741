#include <gtest/gtest.h>

#include "platform/secret_text.h"

namespace quillmar::platform {
namespace {

TEST(WipeOnExit, ZeroesTheBufferItLeavesBehind) {
  std::u16string wide = u";pwd=Kv7rQm2xWp9LtZ4hNc8B";
  std::string narrow = "Kv7rQm2xWp9LtZ4hNc8B";
  const char16_t* wide_buffer = wide.data();
  const char* narrow_buffer = narrow.data();
  const std::size_t wide_size = wide.size();
  const std::size_t narrow_size = narrow.size();
  {
    WipeOnExit<std::u16string> wipe_wide(wide);
    WipeOnExit<std::string> wipe_narrow(narrow);
  }
  EXPECT_TRUE(wide.empty());
  EXPECT_TRUE(narrow.empty());
  // Emptying keeps the buffer, so the old characters can still be looked at.
  ASSERT_EQ(wide.data(), wide_buffer);
  ASSERT_EQ(narrow.data(), narrow_buffer);
  for (std::size_t i = 0; i < wide_size; ++i) EXPECT_EQ(wide_buffer[i], 0) << i;
  for (std::size_t i = 0; i < narrow_size; ++i) EXPECT_EQ(narrow_buffer[i], 0) << i;
}

}  // namespace
}  // namespace quillmar::platform
