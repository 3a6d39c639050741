// Text as the two formats store it.
#include <gtest/gtest.h>

#include "engine/format/text_codec.h"
#include "engine/write/code_page_conversion.h"

namespace jet {
namespace {

TEST(CodePageText, EveryWindows1252ByteSurvivesARoundTrip) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  std::u16string text = decode_code_page(all, 1252);
  ASSERT_EQ(text.size(), 256u);
  EXPECT_EQ(text[0x80], u'\u20AC');  // euro sign
  EXPECT_EQ(text[0x9F], u'\u0178');
  EXPECT_EQ(text[0x81], u'\u0081');  // undefined in 1252: kept as its own value
  EXPECT_EQ(text[0xE4], u'\u00E4');
  EXPECT_EQ(encode_code_page(text, 1252), all);
}

TEST(CodePageText, OtherCodePagesDecodeThroughTheirOwnTables) {
  const Bytes cyrillic{0xCC, 0xE8, 0xF0};  // "Мир" in Windows-1251
  EXPECT_EQ(decode_code_page(cyrillic, 1251), u"\u041C\u0438\u0440");
  EXPECT_EQ(encode_code_page(u"\u041C\u0438\u0440", 1251), cyrillic);
  EXPECT_EQ(encode_code_page(u"\u4E2D", 1252), Bytes{'?'});
}

TEST(Jet4Text, CompressedFormSwitchesBetweenOneAndTwoByteCharacters) {
  // FF FE marks compression; "ab", switch, U+4E2D, switch, "c".
  const Bytes stored{0xFF, 0xFE, 'a', 'b', 0x00, 0x2D, 0x4E, 0x00, 'c'};
  EXPECT_EQ(decode_jet4_text(stored), u"ab\u4E2Dc");
  // Without the marker the bytes are plain UCS-2.
  EXPECT_EQ(decode_jet4_text(Bytes{'h', 0, 'i', 0}), u"hi");
  // A truncated two-byte character at the end is dropped, not read past.
  EXPECT_EQ(decode_jet4_text(Bytes{0xFF, 0xFE, 'x', 0x00, 0x41}), u"x");
  EXPECT_EQ(decode_ucs2(encode_ucs2(u"\u00E4\u4E2D")), u"\u00E4\u4E2D");
}

TEST(Jet4Text, EncodingCompressesOnlyWhatTheReaderCanTellApart) {
  for (std::u16string text : {std::u16string(u"plain ascii text"), std::u16string(u"ab\u4E2D\u4E2Dcd\u00E4"),
                              std::u16string(u"\u0100\u0100 low byte zero"), std::u16string(u"\u4E2D"),
                              std::u16string()}) {
    Bytes stored = encode_jet4_text(text, true);
    EXPECT_EQ(decode_jet4_text(stored), text);
    EXPECT_LE(stored.size(), text.size() * 2);
  }
  EXPECT_EQ(encode_jet4_text(u"abc", true), (Bytes{0xFF, 0xFE, 'a', 'b', 'c'}));
  EXPECT_EQ(encode_jet4_text(u"abc", false), (Bytes{'a', 0, 'b', 0, 'c', 0}));
  // U+0100 would read back as a mode switch: the whole value stays plain.
  EXPECT_EQ(encode_jet4_text(u"aaaa\u0100", true), encode_ucs2(u"aaaa\u0100"));
}

TEST(GuidText, FirstThreeGroupsAreLittleEndian) {
  // As stored in MSysNameMap of a sample file, and as other readers print it.
  const Bytes stored{0xA0, 0x6C, 0x09, 0x8F, 0x16, 0xFC, 0x88, 0x42,
                     0x80, 0x1E, 0x11, 0x9F, 0x26, 0xC0, 0xB6, 0xFC};
  EXPECT_EQ(format_guid(stored), "{8F096CA0-FC16-4288-801E-119F26C0B6FC}");
  EXPECT_EQ(format_guid(Bytes(15, 0)), "");
}

TEST(Utf8, ConvertsBothWaysIncludingSurrogatePairsAndRejectsBrokenInput) {
  std::u16string text = u"A\u00E4\u4E2D\U0001F600";
  std::string utf8 = utf16_to_utf8(text);
  EXPECT_EQ(utf8, "A\xC3\xA4\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8_to_utf16(utf8), text);
  EXPECT_EQ(utf8_to_utf16("\xC3"), u"\uFFFD");         // cut short
  EXPECT_EQ(utf8_to_utf16("\xFF" "a"), u"\uFFFDa");     // not a lead byte
  EXPECT_EQ(utf16_to_utf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");  // lone surrogate
  EXPECT_TRUE(equals_ignoring_ascii_case("MSysObjects", "msysOBJECTS"));
  EXPECT_FALSE(equals_ignoring_ascii_case("Table1", "Table2"));
}

}  // namespace
}  // namespace jet

namespace jet {
namespace {

// Jet 3 text moves into code page 1252 byte for byte when a database is
// converted to the General order; letters 1252 lacks stop it.
TEST(CodePageConversion, MovesHeldLettersAndRefusesTheRest) {
  const write::CodePageConversion turkish(1254, 1252);
  EXPECT_FALSE(turkish.is_identity());
  EXPECT_TRUE(turkish.holds(u"Çal"));
  EXPECT_FALSE(turkish.holds(u"Çalışma"));                // dotless i
  const std::uint8_t with_s_cedilla[] = {'a', 0xFE};        // "aş" in 1254
  EXPECT_FALSE(turkish.holds(std::span<const std::uint8_t>(with_s_cedilla)));
  Bytes cedilla = {0xC7, 'a'};                              // "Ça" is the same byte in both
  turkish.convert(cedilla);
  EXPECT_EQ(cedilla, (Bytes{0xC7, 'a'}));

  EXPECT_TRUE(write::CodePageConversion(1252, 1252).is_identity());
  const write::CodePageConversion arabic(1256, 1252);
  EXPECT_TRUE(arabic.holds(u"café"));
  EXPECT_FALSE(arabic.holds(u"\u0645\u062D\u0645\u062F"));  // an Arabic name
  // A byte that stands for a letter both pages hold at different places.
  const write::CodePageConversion greek(1253, 1252);
  Bytes micro = {0xB5};  // MICRO SIGN in both
  greek.convert(micro);
  EXPECT_EQ(micro, (Bytes{0xB5}));
  const std::uint8_t alpha[] = {0xE1};  // Greek small alpha
  EXPECT_FALSE(greek.holds(std::span<const std::uint8_t>(alpha)));
}

}  // namespace
}  // namespace jet
