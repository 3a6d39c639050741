// Key bytes must sort exactly as Access orders values; these cases pin the
// byte forms the sample files do not exercise on their own.
#include "engine/index/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "engine/error.h"
#include "engine/index/index_entry.h"

namespace jet::index {
namespace {

Value number(ColumnType t, std::int64_t i) {
  Value v;
  v.type = t;
  v.is_null = false;
  v.integer = i;
  return v;
}

Value real(ColumnType t, double d) {
  Value v;
  v.type = t;
  v.is_null = false;
  v.real = d;
  return v;
}

Value text(const std::u16string& s) {
  Value v;
  v.type = ColumnType::Text;
  v.is_null = false;
  v.text = s;
  return v;
}

Bytes key(const Value& v, ColumnType t, bool asc = true, TextOrder order = TextOrder::GeneralLegacy) {
  Bytes out;
  append_column_key(v, KeyColumn{0, t, asc, order}, out);
  return out;
}

// Keys of values given in increasing order must increase (ascending) or
// decrease (descending) strictly.
void expect_sorted(const std::vector<Value>& increasing, ColumnType t, TextOrder order = TextOrder::GeneralLegacy) {
  // (Numeric: within one sign only; see DecimalsSortBySignThenMagnitude.)
  for (bool asc : {true, false}) {
    for (std::size_t i = 1; i < increasing.size(); ++i) {
      const Bytes a = key(increasing[i - 1], t, asc, order), b = key(increasing[i], t, asc, order);
      EXPECT_EQ(compare_keys(a, b), asc ? std::strong_ordering::less : std::strong_ordering::greater)
          << column_type_name(t) << " value #" << i << (asc ? " ascending" : " descending");
    }
  }
}

TEST(IndexKey, NumbersSortNumericallyBothWays) {
  std::vector<Value> longs;
  for (std::int64_t v : {std::int64_t{INT32_MIN}, std::int64_t{-70000}, std::int64_t{-1}, std::int64_t{0},
                         std::int64_t{1}, std::int64_t{255}, std::int64_t{256}, std::int64_t{INT32_MAX}}) {
    longs.push_back(number(ColumnType::Long, v));
  }
  expect_sorted(longs, ColumnType::Long);
  expect_sorted({number(ColumnType::Integer, -32768), number(ColumnType::Integer, -2), number(ColumnType::Integer, 7),
                 number(ColumnType::Integer, 32767)},
                ColumnType::Integer);
  expect_sorted({number(ColumnType::Currency, -50000), number(ColumnType::Currency, 0),
                 number(ColumnType::Currency, INT64_MAX)},
                ColumnType::Currency);
  expect_sorted({number(ColumnType::Byte, 0), number(ColumnType::Byte, 1), number(ColumnType::Byte, 255)},
                ColumnType::Byte);
  std::vector<Value> doubles;
  for (double d : {-std::numeric_limits<double>::infinity(), -1e300, -2.5, -1e-300, 0.0, 1e-300, 0.5, 2.0, 1e300}) {
    doubles.push_back(real(ColumnType::Double, d));
  }
  expect_sorted(doubles, ColumnType::Double);
  expect_sorted({real(ColumnType::Single, -3.5), real(ColumnType::Single, -0.25), real(ColumnType::Single, 0.25),
                 real(ColumnType::Single, 1e20)},
                ColumnType::Single);
  // Dates before 1899-12-30 are negative day counts.
  expect_sorted({real(ColumnType::DateTime, -700000.5), real(ColumnType::DateTime, 0), real(ColumnType::DateTime, 45000.75)},
                ColumnType::DateTime);
}

TEST(IndexKey, ExactBytesOfFlagsIntegersAndBooleans) {
  EXPECT_EQ(key(number(ColumnType::Long, 1), ColumnType::Long), (Bytes{0x7F, 0x80, 0x00, 0x00, 0x01}));
  EXPECT_EQ(key(number(ColumnType::Long, 1), ColumnType::Long, false), (Bytes{0x80, 0x7F, 0xFF, 0xFF, 0xFE}));
  Value null_long;
  null_long.type = ColumnType::Long;
  EXPECT_EQ(key(null_long, ColumnType::Long), (Bytes{0x00}));
  EXPECT_EQ(key(null_long, ColumnType::Long, false), (Bytes{0xFF}));
  // Yes sorts before No; a Yes/No column is never null.
  EXPECT_EQ(key(number(ColumnType::Boolean, 1), ColumnType::Boolean), (Bytes{0x7F, 0x00}));
  EXPECT_EQ(key(number(ColumnType::Boolean, 0), ColumnType::Boolean), (Bytes{0x7F, 0xFF}));
  EXPECT_EQ(key(number(ColumnType::Boolean, 0), ColumnType::Boolean, false), (Bytes{0x80, 0x00}));
}

TEST(IndexKey, BinaryAndGuidUseNineByteGroups) {
  Value bin;
  bin.type = ColumnType::Binary;
  bin.is_null = false;
  bin.bytes = {1, 2, 3};
  EXPECT_EQ(key(bin, ColumnType::Binary), (Bytes{0x7F, 1, 2, 3, 0, 0, 0, 0, 0, 3}));
  bin.bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  // Descending inverts the data and the final count, never the 9s.
  EXPECT_EQ(key(bin, ColumnType::Binary, false),
            (Bytes{0x80, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA, 0xF9, 0xF8, 0xF7, 0x09, 0xF6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                   0xFF, 0xFE}));
  Value guid;
  guid.type = ColumnType::Guid;
  guid.is_null = false;
  // {00112233-4455-6677-8899-AABBCCDDEEFF} as stored: first groups little-endian.
  guid.bytes = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(key(guid, ColumnType::Guid), (Bytes{0x7F, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x09, 0x88,
                                                0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x08}));
}

TEST(IndexKey, DecimalsSortBySignThenMagnitude) {
  auto dec = [](bool neg, std::uint64_t low) {
    Value v;
    v.type = ColumnType::Numeric;
    v.is_null = false;
    v.decimal.negative = neg;
    v.decimal.low = low;
    return v;
  };
  const std::vector<Value> negatives{dec(true, 1000000), dec(true, 5)};
  const std::vector<Value> positives{dec(false, 0), dec(false, 5), dec(false, 1ull << 40)};
  expect_sorted(negatives, ColumnType::Numeric);
  expect_sorted(positives, ColumnType::Numeric);
  const auto neg = key(dec(true, 5), ColumnType::Numeric), pos = key(dec(false, 5), ColumnType::Numeric);
  EXPECT_TRUE(compare_keys(neg, pos) < 0);
  EXPECT_EQ(neg.size(), 18u);
  // Jet 3 and Jet 4 put negatives first even in descending indexes (a known
  // Jet quirk): the sign byte is 00/FF whatever the direction. Keys must
  // copy it, or Access would find the rebuilt index out of order.
  const auto neg_desc = key(dec(true, 5), ColumnType::Numeric, false);
  const auto pos_desc = key(dec(false, 5), ColumnType::Numeric, false);
  EXPECT_TRUE(compare_keys(neg_desc, pos_desc) < 0);
  EXPECT_EQ(neg_desc[1], 0x00);
  EXPECT_EQ(pos_desc[1], 0xFF);
}

TEST(IndexKey, TextFoldsCaseOrdersAccentsAndIgnoresTrailingSpaces) {
  for (TextOrder order : {TextOrder::General97, TextOrder::GeneralLegacy, TextOrder::General2010}) {
    SCOPED_TRACE(static_cast<int>(order));
    EXPECT_EQ(key(text(u"Smith"), ColumnType::Text, true, order), key(text(u"SMITH  "), ColumnType::Text, true, order));
    expect_sorted({text(u""), text(u"a"), text(u"ab"), text(u"abc"), text(u"abd"), text(u"b"), text(u"z9"), text(u"zz")},
                  ColumnType::Text, order);
    // An accented letter sorts after its base letter and before the next one.
    expect_sorted({text(u"resume"), text(u"r\u00E9sum\u00E9"), text(u"resumf")}, ColumnType::Text, order);
    // Digits before letters.
    expect_sorted({text(u"10"), text(u"9a"), text(u"a1")}, ColumnType::Text, order);
  }
  // Only the first 255 characters count.
  const std::u16string long_a(300, u'a');
  EXPECT_EQ(key(text(long_a), ColumnType::Text), key(text(long_a.substr(0, 255) + u"zzz"), ColumnType::Text));
}

TEST(IndexKey, CentralEuropeanLettersSortWithTheirBaseLetters) {
  // Latin Extended-A comes from the extended table; its case pairs share
  // codes and sit between the base letter and the next one.
  expect_sorted({text(u"lodz"), text(u"\u0141\u00F3d\u017A"), text(u"lodzz"), text(u"m")}, ColumnType::Text);
  EXPECT_EQ(key(text(u"\u010Cesk\u00FD"), ColumnType::Text), key(text(u"\u010Desk\u00DD"), ColumnType::Text));
  // Y with diaeresis: capital from the extended table, small from Latin-1.
  EXPECT_EQ(key(text(u"\u0178"), ColumnType::Text), key(text(u"\u00FF"), ColumnType::Text));
}

TEST(IndexKey, OtherAlphabetsKeepTheirOrder) {
  // Final sigma keys as sigma; capitals as small letters.
  EXPECT_EQ(key(text(u"\u039B\u039F\u0393\u039F\u03A3"), ColumnType::Text),
            key(text(u"\u03BB\u03BF\u03B3\u03BF\u03C2"), ColumnType::Text));
  std::vector<Value> greek;
  for (char16_t c = u'\u03B1'; c <= u'\u03C9'; ++c) {
    if (c != u'\u03C2') greek.push_back(text(std::u16string(1, c)));
  }
  expect_sorted(greek, ColumnType::Text);
  std::vector<Value> cyrillic;
  for (char16_t c = u'\u0430'; c <= u'\u044F'; ++c) cyrillic.push_back(text(std::u16string(1, c)));
  expect_sorted(cyrillic, ColumnType::Text);
  EXPECT_EQ(key(text(u"\u041C\u0418\u0420"), ColumnType::Text), key(text(u"\u043C\u0438\u0440"), ColumnType::Text));
  // Hebrew final forms key as their letter; vowel points leave the letters alone.
  EXPECT_EQ(key(text(u"\u05DA"), ColumnType::Text), key(text(u"\u05DB"), ColumnType::Text));
  std::vector<Value> hebrew;
  for (char16_t c : std::u16string(u"\u05D0\u05D1\u05D2\u05D3\u05D4\u05D5\u05D6\u05D7\u05D8\u05D9\u05DB"
                                   u"\u05DC\u05DE\u05E0\u05E1\u05E2\u05E4\u05E6\u05E7\u05E8\u05E9\u05EA")) {
    hebrew.push_back(text(std::u16string(1, c)));
  }
  expect_sorted(hebrew, ColumnType::Text);
  const Bytes pointed = key(text(u"\u05D1\u05B8"), ColumnType::Text), bare = key(text(u"\u05D1"), ColumnType::Text);
  EXPECT_EQ(Bytes(pointed.begin(), pointed.begin() + 4), Bytes(bare.begin(), bare.begin() + 4));
  EXPECT_NE(pointed, bare);
  // Arabic: teh marbuta keys as teh; the tatweel stretcher is ignored.
  EXPECT_EQ(key(text(u"\u0629"), ColumnType::Text), key(text(u"\u062A"), ColumnType::Text));
  EXPECT_EQ(key(text(u"\u0628\u0640\u0628"), ColumnType::Text), key(text(u"\u0628\u0628"), ColumnType::Text));
  expect_sorted({text(u"\u0627"), text(u"\u0628"), text(u"\u062C"), text(u"\u0641"), text(u"\u064A")}, ColumnType::Text);
  // Vietnamese letters sort with their base letter.
  expect_sorted({text(u"a"), text(u"\u1EA1"), text(u"\u1EA3b"), text(u"b")}, ColumnType::Text);
  // Io sorts with Ie, before Zhe.
  expect_sorted({text(u"\u0435"), text(u"\u0451"), text(u"\u0436")}, ColumnType::Text);
}

TEST(IndexKey, WindowsPunctuationKeysInJet4) {
  // Every character Windows-1252 adds above U+00FF has a known code.
  const std::u16string extras =
      u"\u0152\u0153\u0160\u0161\u0178\u017D\u017E\u0192\u02C6\u02DC\u2013\u2014\u2018\u2019\u201A"
      u"\u201C\u201D\u201E\u2020\u2021\u2022\u2026\u2030\u2039\u203A\u20AC\u2122";
  EXPECT_NO_THROW(key(text(extras), ColumnType::Text));
  // Dashes, like the hyphen, leave the inline part alone and are only noted
  // after it: "a-b" and "a\u2013b" agree up to the end-of-text marker.
  const Bytes hyphen = key(text(u"a-b"), ColumnType::Text), dash = key(text(u"a\u2013b"), ColumnType::Text);
  EXPECT_EQ(Bytes(hyphen.begin(), hyphen.begin() + 4), (Bytes{0x7F, 0x4A, 0x4C, 0x01}));
  EXPECT_EQ(Bytes(dash.begin(), dash.begin() + 4), (Bytes{0x7F, 0x4A, 0x4C, 0x01}));
  EXPECT_NE(hyphen, dash);
  // The modifier circumflex keys as "^" with an accent, like a small letter would.
  EXPECT_EQ(key(text(u"\u02C6"), ColumnType::Text), (Bytes{0x7F, 0x2B, 0x02, 0x01, 0x03, 0x00}));
}

TEST(IndexKey, TextKeysOfTheTwoGenerationsDiffer) {
  // Access 97 ends a plain value with one 00; Access 2000 adds an end-of-text 01.
  EXPECT_EQ(key(text(u"ab"), ColumnType::Text, true, TextOrder::General97), (Bytes{0x7F, 0x60, 0x61, 0x00}));
  EXPECT_EQ(key(text(u"ab"), ColumnType::Text, true, TextOrder::GeneralLegacy), (Bytes{0x7F, 0x4A, 0x4C, 0x01, 0x00}));
  // Descending: everything after the flag inverted, then a plain 00 end.
  EXPECT_EQ(key(text(u"ab"), ColumnType::Text, false, TextOrder::GeneralLegacy),
            (Bytes{0x80, 0xB5, 0xB3, 0xFE, 0xFF, 0x00}));
}

TEST(IndexKey, UnknownCharactersAndOleColumnsAreRefused) {
  // The Access 2000 order has a code for every character of the Basic
  // Multilingual Plane but none for the halves of a surrogate pair.
  EXPECT_NO_THROW(key(text(u"\u0E01\u0E02"), ColumnType::Text));
  try {
    key(text(u"a\U0001F600"), ColumnType::Text);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3251);
    EXPECT_NE(e.description().find("U+D83D"), std::string::npos);
  }
  // The Access 2010 order is known for Latin-1 only.
  EXPECT_THROW(key(text(u"\u0E01"), ColumnType::Text, true, TextOrder::General2010), Error);
  // Access 97 keys Windows-1252 bytes: the euro sign has one, Cyrillic has not.
  EXPECT_NO_THROW(key(text(u"\u20AC"), ColumnType::Text, true, TextOrder::General97));
  EXPECT_THROW(key(text(u"\u0416"), ColumnType::Text, true, TextOrder::General97), Error);
  TableDef t;
  t.name = "T";
  Column ole;
  ole.name = "Pic";
  ole.type = ColumnType::Ole;
  t.columns = {ole};
  IndexData idx;
  idx.columns = {IndexColumn{0, true}};
  IndexKeyEncoder enc(t, idx, Format::Jet4);
  EXPECT_FALSE(enc.unsupported_reason().empty());
  EXPECT_THROW(enc.key_for(Row{Value{}}), Error);
  // Text in a sort order other than General is refused; 0 counts as General.
  Column name;
  name.name = "Name";
  name.type = ColumnType::Text;
  name.collation = 1053;  // Swedish/Finnish
  t.columns = {name};
  EXPECT_NE(IndexKeyEncoder(t, idx, Format::Jet4).unsupported_reason().find("1053"), std::string::npos);
  t.columns[0].collation = 0;
  EXPECT_TRUE(IndexKeyEncoder(t, idx, Format::Jet4).unsupported_reason().empty());
  // Compaction writes the General order whatever the source used.
  t.columns[0].collation = 1053;
  const IndexKeyEncoder general(t, idx, Format::Jet4, TextOrder::GeneralLegacy);
  EXPECT_TRUE(general.unsupported_reason().empty());
  EXPECT_EQ(general.key_for(Row{text(u"ab")}), (Bytes{0x7F, 0x4A, 0x4C, 0x01, 0x00}));
}

// Entries copied from ACE samples: MSysResources.Data of every file
// (complex id 1), bigint.accdb (42), extDateTestV2019.accdb's two indexes
// on DateExt (2020-06-17, ascending and descending).
TEST(IndexKey, AceKindsKeyAsTheSamplesStoreThem) {
  EXPECT_EQ(key(number(ColumnType::Complex, 1), ColumnType::Complex), (Bytes{0x7F, 0x80, 0x00, 0x00, 0x01}));
  EXPECT_EQ(key(number(ColumnType::BigInt, 42), ColumnType::BigInt),
            (Bytes{0x7F, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2A}));
  expect_sorted({number(ColumnType::BigInt, INT64_MIN), number(ColumnType::BigInt, -1),
                 number(ColumnType::BigInt, 0), number(ColumnType::BigInt, INT64_MAX)},
                ColumnType::BigInt);
  Value date;
  date.type = ColumnType::DateTimeExtended;
  date.is_null = false;
  const std::string stored = "0000000000000737592:0000000000000000000:7";
  date.bytes.assign(stored.begin(), stored.end());
  date.bytes.push_back(0);
  // Nine-byte groups of the 42 stored bytes, as for Binary.
  const std::string ascending =
      "7f 303030303030303009 303030303037333709 3539323a3030303009 303030303030303009 303030303030303a09 370000000000000002";
  const std::string descending =
      "80 cfcfcfcfcfcfcfcf09 cfcfcfcfcfc8ccc809 cac6cdc5cfcfcfcf09 cfcfcfcfcfcfcfcf09 cfcfcfcfcfcfcfc509 c8fffffffffffffffd";
  const auto from_hex = [](std::string hex) {
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
  };
  EXPECT_EQ(key(date, ColumnType::DateTimeExtended), from_hex(ascending));
  EXPECT_EQ(key(date, ColumnType::DateTimeExtended, false), from_hex(descending));
}

// A type byte the model does not name must not key as its flag byte alone:
// every row would then hold the same key.
TEST(IndexKey, ColumnsOfAnUnknownTypeAreRefused) {
  TableDef t;
  t.name = "T";
  Column odd;
  odd.name = "Value";
  odd.type = static_cast<ColumnType>(0x48);  // unsupportedFieldsTestV2007.accdb
  t.columns = {odd};
  IndexData idx;
  idx.columns = {IndexColumn{0, true}};
  const IndexKeyEncoder enc(t, idx, Format::Jet4);
  EXPECT_NE(enc.unsupported_reason().find("72"), std::string::npos);
  Value v;
  v.type = odd.type;
  v.is_null = false;
  v.bytes = {0xFF, 0xFE, 'b', 'a', 'z'};
  EXPECT_THROW(enc.key_for(Row{v}), Error);
  EXPECT_THROW(key(v, odd.type), Error);
}

TEST(IndexKey, EncoderSkipsAllNullRowsOnlyWhenTheIndexIgnoresNulls) {
  TableDef t;
  t.name = "T";
  Column a;
  a.name = "A";
  a.type = ColumnType::Long;
  a.number = 3;  // column numbers need not match positions
  Column b;
  b.name = "B";
  b.type = ColumnType::Long;
  b.number = 7;
  t.columns = {a, b};
  IndexData idx;
  idx.columns = {IndexColumn{7, true}, IndexColumn{3, false}};
  Value null_value;
  const Row row{null_value, null_value};
  EXPECT_EQ(IndexKeyEncoder(t, idx, Format::Jet4).key_for(row), (Bytes{0x00, 0xFF}));
  idx.flags = 0x02;
  EXPECT_EQ(IndexKeyEncoder(t, idx, Format::Jet4).key_for(row), std::nullopt);
  EXPECT_EQ(IndexKeyEncoder(t, idx, Format::Jet4).key_for(Row{number(ColumnType::Long, 1), null_value}),
            (Bytes{0x00, 0x80, 0x7F, 0xFF, 0xFF, 0xFE}));
  idx.columns = {IndexColumn{9, true}};
  EXPECT_THROW(IndexKeyEncoder(t, idx, Format::Jet4), Error);
}

}  // namespace
}  // namespace jet::index
