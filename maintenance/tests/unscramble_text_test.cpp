#include <gtest/gtest.h>

#include "maintenance/database_password.h"
#include "maintenance/testing/plain_database_password.h"
#include "maintenance/unscramble_text.h"
#include "platform/ansi_code_page.h"
#include "platform/failure.h"

namespace quillmar::maintenance {
namespace {

TEST(UnscrambleText, FlipsTheTopBitOfEachAnsiCode) {
  EXPECT_EQ(UnscrambleText(u"abc"), u"\u00E1\u00E2\u00E3");
  EXPECT_EQ(UnscrambleText(u"A"), u"\u00C1");
  EXPECT_EQ(UnscrambleText(u"\u00C1"), u"A");
  EXPECT_EQ(UnscrambleText(u""), u"");
  // Codes 0x80..0x9F are Windows-1252 characters, not Latin-1 controls.
  EXPECT_EQ(UnscrambleText(std::u16string(u"\0\x01", 2)), u"\u20AC\u0081");
  EXPECT_EQ(UnscrambleText(u"\u20AC"), std::u16string(1, u'\0'));
  // A character without a code counts as "?" (63), giving 191.
  EXPECT_EQ(UnscrambleText(u"\u4E2D"), u"\u00BF");
}

TEST(UnscrambleText, KeepsLengthAndUndoesItselfForEveryCode) {
  std::u16string all;
  for (int code = 0; code < 256; ++code) all.push_back(platform::CharOfAnsiCode(static_cast<std::uint8_t>(code)));
  const std::u16string once = UnscrambleText(all);
  EXPECT_EQ(once.size(), all.size());
  EXPECT_NE(once, all);
  EXPECT_EQ(UnscrambleText(once), all);
  const std::u16string copy = all;
  UnscrambleText(all);
  EXPECT_EQ(all, copy) << "the caller's text is not changed";
}

TEST(UnscrambleText, LongerThanItsCounterOverflows) {
  EXPECT_EQ(UnscrambleText(std::u16string(32767, u'a')).size(), 32767u);
  try {
    UnscrambleText(std::u16string(32768, u'a'));
    ADD_FAILURE() << "no overflow";
  } catch (const platform::Failure& failure) {
    EXPECT_EQ(failure.number(), 6);
    EXPECT_EQ(failure.description(), u"Overflow");
  }
}

TEST(DatabasePassword, StoredFormIsTwentyHighCodesOfThePassword) {
  const std::u16string stored = kScrambledDatabasePassword;
  ASSERT_EQ(stored.size(), 20u);
  for (char16_t c : stored) EXPECT_GE(platform::AnsiCodeOf(c), 128);
  EXPECT_EQ(UnscrambleText(stored), testing::kPlainDatabasePassword);
}

}  // namespace
}  // namespace quillmar::maintenance
