// The text key rules learned from keys Access wrote. The expected bytes are
// copied from index entries of real files (named in each case), so these
// cases hold even where the sample files are absent.
#include "engine/index/text_key.h"

#include <gtest/gtest.h>

#include "engine/error.h"
#include "engine/index/index_key.h"

namespace jet::index {
namespace {

Bytes hex(const char* s) {
  Bytes out;
  for (; s[0] != '\0' && s[1] != '\0'; s += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(s, 2), nullptr, 16)));
  }
  return out;
}

// The key of a text column as stored: the 7F value flag, then the text.
Bytes key(const std::u16string& text, TextOrder order, ExpansionCount expansions = ExpansionCount::kPerLetter) {
  Bytes out{0x7F};
  append_text_key(text, order, true, out, expansions);
  return out;
}

// The position of the first control note (hyphen, apostrophe) in a Jet 4 key.
std::size_t first_note_position(const Bytes& key) {
  for (std::size_t i = 0; i + 2 < key.size(); ++i) {
    if ((key[i] & 0x80) != 0 && key[i + 2] == 0x06 && key[i] != 0xFF) {
      return ((static_cast<std::size_t>(key[i] & 0x7F) << 8 | key[i + 1]) - 7) / 4;
    }
  }
  return SIZE_MAX;
}

TEST(TextKeyRules, Jet4CountsEachLetterOfAnExpansion) {
  // Northwind (Access 2000 format): "ß" is "ss" and takes two positions, both
  // in the hyphens' notes and in the accent bytes before "ä".
  EXPECT_EQ(key(u"NuNuCa Nu\u00DF-Nougat-Creme", TextOrder::GeneralLegacy),
            hex("7f626f626f4d4a07626f6b6b62646f554a6d4d695160510101010180330682804b068200"));
  EXPECT_EQ(key(u"Plutzer Lebensmittelgro\u00DFm\u00E4rkte AG", TextOrder::GeneralLegacy),
            hex("7f665e6f6d785169075e514c51626b60596d6d515e5569646b6b604a695c6d51074a5501"
                "02020202020202020202020202020202020202020202020202021300"));
  // The same rule for the other letters that expand (no sample shows them):
  // æ "ae", þ "th", œ "oe", ĳ "ij" take two positions, ŋ (one element of two
  // bytes) and a single letter take one.
  EXPECT_EQ(first_note_position(key(u"a-", TextOrder::GeneralLegacy)), 1u);
  for (const char16_t* two : {u"\u00E6-", u"\u00C6-", u"\u00FE-", u"\u0153-", u"\u0133-", u"\u00DF-"}) {
    EXPECT_EQ(first_note_position(key(two, TextOrder::GeneralLegacy)), 2u) << static_cast<int>(two[0]);
  }
  EXPECT_EQ(first_note_position(key(u"\u014B-", TextOrder::GeneralLegacy)), 1u);
  // Two-byte signs (a script byte and a weight) are one element each.
  EXPECT_EQ(first_note_position(key(u"\u00A3\t-", TextOrder::GeneralLegacy)), 2u);
  // The Access 2010 order spends two bytes on every element.
  EXPECT_EQ(first_note_position(key(u"\u00DF-", TextOrder::General2010)), 2u);
}

TEST(TextKeyRules, OlderJet4KeysCountAnExpansionOnce) {
  // Some files (one of the sample set) count "ß", "æ", "þ" once; the keys
  // differ from the usual ones only in the positions after the text.
  const Bytes older = key(u"Nu\u00DF-", TextOrder::GeneralLegacy, ExpansionCount::kPerCharacter);
  const Bytes usual = key(u"Nu\u00DF-", TextOrder::GeneralLegacy);
  EXPECT_EQ(first_note_position(older), 3u);
  EXPECT_EQ(first_note_position(usual), 4u);
  EXPECT_EQ(Bytes(older.begin(), older.begin() + 6), Bytes(usual.begin(), usual.begin() + 6));
  // Without an expansion both ways agree.
  EXPECT_EQ(key(u"Caf\u00E9-Bar", TextOrder::GeneralLegacy, ExpansionCount::kPerCharacter),
            key(u"Caf\u00E9-Bar", TextOrder::GeneralLegacy));
}

TEST(TextKeyRules, BothExpansionCountsAreAccessOwnKeys) {
  TableDef t;
  Column name;
  name.name = "Name";
  name.type = ColumnType::Text;
  t.columns = {name};
  IndexData idx;
  idx.columns = {IndexColumn{0, true}};
  const IndexKeyEncoder enc(t, idx, Format::Jet4);
  Value v;
  v.type = ColumnType::Text;
  v.is_null = false;
  v.text = u"Nu\u00DF-Nougat";
  const Row row{v};
  EXPECT_TRUE(enc.is_own_key(row, key(v.text, TextOrder::GeneralLegacy)));
  EXPECT_TRUE(enc.is_own_key(row, key(v.text, TextOrder::GeneralLegacy, ExpansionCount::kPerCharacter)));
  // "ss" keys as "ß" does (it is plain "ss"); "s" does not.
  EXPECT_TRUE(enc.is_own_key(row, key(u"Nuss-Nougat", TextOrder::GeneralLegacy)));
  EXPECT_FALSE(enc.is_own_key(row, key(u"Nus-Nougat", TextOrder::GeneralLegacy, ExpansionCount::kPerCharacter)));
  EXPECT_FALSE(enc.is_own_key(row, key(u"Nu\u00DF-Nougats", TextOrder::GeneralLegacy)));
}

TEST(TextKeyRules, Access97MarksOnlyLettersThatHaveAccentedForms) {
  // Access 97 Northwind files: between accented letters the nibble string has
  // a 2 for each a, c, e, i, n, o, s, u, y only (the letters Windows-1252 has
  // accented forms of); other letters, digits and signs leave no trace.
  EXPECT_EQ(key(u"Gustaf's Kn\u00E4ckebr\u00F6d", TextOrder::General97),
            hex("7f6878767760671876116c7060626c6661757264022222622600"));
  EXPECT_EQ(key(u"M\u00E9xico D.F.", TextOrder::General97), hex("7f6f667c6a627211641f671f0400"));
  EXPECT_EQ(key(u"PB Kn\u00E4ckebr\u00F6d AB", TextOrder::General97),
            hex("7f7361116c7060626c666175726411606102622600"));
  // "ß" keys as "ss" and counts as two such letters.
  EXPECT_EQ(key(u"Plutzer Lebensmittelgro\u00DFm\u00E4rkte AG", TextOrder::General97),
            hex("7f736d78777e6675116d66616670766f6a7777666d68757276766f60756c776611606802222222222260"));
  // Unaccented text ends in a single 00, whatever letters it holds.
  EXPECT_EQ(key(u"ab", TextOrder::General97), hex("7f606100"));
}

TEST(TextKeyRules, Access97KeysANulLikeOtherControlCharacters) {
  // MSysModules2 of Access 97 files holds the name "Lock" with a NUL after it.
  EXPECT_EQ(key(std::u16string(u"Lock\0", 5), TextOrder::General97), hex("7f6d72626c1000"));
  EXPECT_EQ(key(std::u16string(u"Lock\0", 5), TextOrder::General97), key(u"Lock\u0001", TextOrder::General97));
  // Descending inverts all of it.
  Bytes desc{0x80};
  append_text_key(std::u16string(u"Lock\0", 5), TextOrder::General97, false, desc);
  EXPECT_EQ(desc, hex("80928d9d93efff"));
}

TEST(TextKeyRules, CombiningMarksAddTheirAccentToTheLetterBefore) {
  // A letter followed by a combining mark keys exactly like the precomposed
  // letter: the mark adds its weight to the letter's accent byte.
  const std::pair<const char16_t*, const char16_t*> same[] = {
      {u"a\u0300", u"\u00E0"}, {u"e\u0301", u"\u00E9"}, {u"o\u0308", u"\u00F6"}, {u"a\u030A", u"\u00E5"},
      {u"n\u0303", u"\u00F1"}, {u"c\u030C", u"\u010D"}, {u"o\u030B", u"\u0151"}, {u"a\u0304", u"\u0101"},
  };
  for (const auto& [decomposed, precomposed] : same) {
    EXPECT_EQ(key(decomposed, TextOrder::GeneralLegacy), key(precomposed, TextOrder::GeneralLegacy))
        << static_cast<int>(precomposed[0]);
  }
}

TEST(TextKeyRules, ExtendedLatinCyrillicArabicAndIndicLettersAreKeyed) {
  // Vietnamese horn letters and the Ukrainian ghe with upturn sort with
  // their base letters; characters Access's table leaves out are ignored.
  const Bytes o = key(u"o", TextOrder::GeneralLegacy), horn = key(u"\u01A1", TextOrder::GeneralLegacy);
  EXPECT_EQ(Bytes(horn.begin(), horn.begin() + 3), Bytes(o.begin(), o.begin() + 3));
  EXPECT_NE(horn, o);
  EXPECT_EQ(key(u"\u01A0", TextOrder::GeneralLegacy), horn);
  const Bytes ghe = key(u"\u0433", TextOrder::GeneralLegacy), upturn = key(u"\u0491", TextOrder::GeneralLegacy);
  EXPECT_EQ(Bytes(upturn.begin(), upturn.begin() + 3), Bytes(ghe.begin(), ghe.begin() + 3));
  EXPECT_LT(ghe, upturn);
  EXPECT_LT(upturn, key(u"\u0434", TextOrder::GeneralLegacy));
  EXPECT_EQ(key(u"\u0490", TextOrder::GeneralLegacy), upturn);
  EXPECT_EQ(key(u"a\u0219b", TextOrder::GeneralLegacy), key(u"ab", TextOrder::GeneralLegacy));
  // Devanagari letters keep their alphabet's order.
  EXPECT_LT(key(u"\u0915", TextOrder::GeneralLegacy), key(u"\u0916", TextOrder::GeneralLegacy));
  EXPECT_LT(key(u"\u0905", TextOrder::GeneralLegacy), key(u"\u0915", TextOrder::GeneralLegacy));
}

TEST(TextKeyRules, Jet4KeysJapaneseTextAsAccessDid) {
  // testUnicodeCompV2003.mdb: ideographs take two-byte codes, the kana じ
  // and り two-byte codes with a width/case flag each (both the default 3, so
  // no flag byte is left, only the fixed trailer), じ its voicing as an
  // accent byte after five placeholders.
  EXPECT_EQ(key(u"\u6F22\u5B57\u4EEE\u540D\u4EA4\u3058\u308A\u6587", TextOrder::GeneralLegacy),
            hex("7fc0b6acaca00da5479fbe7f137f43b6f6010202020202030101ff0280ff8000"));
}

TEST(TextKeyRules, CodesAboveLatin1FollowThePublishedList) {
  const auto k = [](const std::u16string& s) { return key(s, TextOrder::GeneralLegacy); };
  // Hangul syllables count up from 81 03, stepping over the low bytes 00
  // and 01: U+ACFC is 81 FF, the next one 82 02.
  EXPECT_EQ(k(u"\uAC00"), hex("7f8103" "0100"));
  EXPECT_EQ(k(u"\uACFC"), hex("7f81ff" "0100"));
  EXPECT_EQ(k(u"\uACFD"), hex("7f8202" "0100"));
  EXPECT_EQ(k(u"\uD7A3"), hex("7fadc0" "0100"));
  // Ideographs count up from 9F 02; the codes after 一 belong to its kanbun,
  // parenthesized and circled forms, so 丁 is 9F 06. The compatibility
  // ideographs follow the last unified one.
  EXPECT_EQ(k(u"\u4E00"), hex("7f9f02" "0100"));
  EXPECT_EQ(k(u"\u4E01"), hex("7f9f06" "0100"));
  EXPECT_EQ(k(u"\u3280"), hex("7f9f04" "0100"));
  EXPECT_EQ(k(u"\u9FA5"), hex("7ff1b4" "0100"));
  EXPECT_EQ(k(u"\uF900"), hex("7ff1b5" "0100"));
  // Kana: hiragana, katakana and halfwidth katakana key alike; small kana
  // carry flag 2; a combining voiced mark keys like the voiced kana.
  EXPECT_EQ(k(u"\u3042"), hex("7f7f02" "0101" "01ff0280ff80" "00"));
  EXPECT_EQ(k(u"\u30A2"), k(u"\u3042"));
  EXPECT_EQ(k(u"\uFF76"), k(u"\u304B"));
  EXPECT_EQ(k(u"\u3041"), hex("7f7f02" "01" "0101" "a0" "ff0280ff80" "00"));
  EXPECT_EQ(k(u"\u304C"), hex("7f7f0a" "01" "03" "0101" "ff0280ff80" "00"));
  EXPECT_EQ(k(u"\u304B\u3099"), k(u"\u304C"));
  // Thai letters carry an accent byte; fullwidth Latin letters key as ASCII;
  // Syriac leaves no trace; the private use area counts up from E6 02.
  EXPECT_EQ(k(u"\u0E01"), hex("7f7c98" "0103" "00"));
  EXPECT_EQ(k(u"\uFF21\uFF42"), k(u"Ab"));
  EXPECT_EQ(k(u"a\u0710b"), k(u"ab"));
  EXPECT_EQ(k(u"\uE000"), hex("7fe602" "0100"));
}

TEST(TextKeyRules, EveryCharacterOfTheBasicPlaneHasACodeButSurrogates) {
  for (char32_t c = 0x100; c <= 0xFFFF; ++c) {
    const std::u16string s(1, static_cast<char16_t>(c));
    if (c >= 0xD800 && c <= 0xDFFF) {
      EXPECT_THROW(key(s, TextOrder::GeneralLegacy), Error) << static_cast<unsigned>(c);
    } else {
      EXPECT_NO_THROW(key(s, TextOrder::GeneralLegacy)) << static_cast<unsigned>(c);
    }
  }
}

}  // namespace
}  // namespace jet::index
