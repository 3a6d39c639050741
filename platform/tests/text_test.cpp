#include <gtest/gtest.h>

#include "platform/ansi_code_page.h"
#include "platform/text.h"

namespace quillmar::platform {
namespace {

TEST(Utf8, RoundTripsAllPlanesAndReplacesBrokenInput) {
  const std::u16string text = u"C:/d\u00E9j\u00E0/\u20AC/\U0001F600.mdb";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(u"\u00E9"), "\xC3\xA9");
  // A lone surrogate cannot be written as UTF-8.
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  // Truncated, overlong and stray continuation bytes each become one U+FFFD.
  EXPECT_EQ(FromUtf8("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(FromUtf8("\xC0\xAF"), u"\uFFFD");
  EXPECT_EQ(FromUtf8("\x80z"), u"\uFFFDz");
}

TEST(Names, MatchWithoutRegardToCase) {
  EXPECT_TRUE(EqualsIgnoringCase(u"CopyFile", u"copyfile"));
  EXPECT_TRUE(EqualsIgnoringCase(u"DAO.DBEngine.36", u"dao.dbengine.36"));
  EXPECT_FALSE(EqualsIgnoringCase(u"CopyFile", u"CopyFiles"));
}

TEST(AnsiCodePage, EveryByteRoundTrips) {
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(AnsiCodeOf(CharOfAnsiCode(static_cast<std::uint8_t>(code))), code);
  }
}

TEST(AnsiCodePage, IsWindows1252WithQuestionMarkForTheRest) {
  EXPECT_EQ(CharOfAnsiCode(0x80), u'\u20AC');
  EXPECT_EQ(CharOfAnsiCode(0x9F), u'\u0178');
  EXPECT_EQ(CharOfAnsiCode(0xE1), u'\u00E1');
  EXPECT_EQ(AnsiCodeOf(u'\u2122'), 0x99);
  EXPECT_EQ(AnsiCodeOf(u'\u4E2D'), '?');
  EXPECT_EQ(AnsiCodeOf(char16_t(0xD83D)), '?');
  // Latin-1 controls that 1252 uses for printable characters have no code.
  EXPECT_EQ(AnsiCodeOf(u'\u0080'), '?');
}

}  // namespace
}  // namespace quillmar::platform
