#include "tools/quillmar-db/value_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>

namespace quillmar_db {
namespace {

template <typename F, typename... A>
std::string text_of(F f, A... args) {
  std::string out;
  f(out, args...);
  return out;
}

TEST(ValueText, Utf8CoversAllPlanesAndReplacesBrokenSurrogates) {
  EXPECT_EQ(text_of(append_utf8, std::u16string_view(u"abc")), "abc");
  EXPECT_EQ(text_of(append_utf8, std::u16string_view(u"\u00e9\u20ac")), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(text_of(append_utf8, std::u16string_view(u"\U0001F600")), "\xF0\x9F\x98\x80");
  const char16_t lone_high[] = {0xD83D, u'x', 0};
  EXPECT_EQ(text_of(append_utf8, std::u16string_view(lone_high)), "\xEF\xBF\xBDx");
  const char16_t lone_low[] = {0xDE00, 0};
  EXPECT_EQ(text_of(append_utf8, std::u16string_view(lone_low)), "\xEF\xBF\xBD");
  const char16_t nul_inside[] = {u'a', 0, u'b'};
  EXPECT_EQ(text_of(append_utf8, std::u16string_view(nul_inside, 3)), std::string("a\0b", 3));
}

TEST(ValueText, HexIsUpperCaseWithoutSeparators) {
  const std::uint8_t bytes[] = {0x00, 0x0A, 0xFF, 0x7B};
  EXPECT_EQ(text_of(append_hex, std::span<const std::uint8_t>(bytes)), "000AFF7B");
  EXPECT_EQ(text_of(append_hex, std::span<const std::uint8_t>()), "");
}

TEST(ValueText, DoublesReadBackExactly) {
  for (double d : {0.1, 444.555, -94.43, 1.0 / 3.0, 5e-324, 1.7976931348623157e308,
                   -8540982423.45, 123456789012345678.0}) {
    std::string s = text_of(append_double, d);
    double back = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), back);
    ASSERT_EQ(ec, std::errc{}) << s;
    EXPECT_EQ(p, s.data() + s.size()) << s;
    EXPECT_EQ(back, d) << s;
  }
  EXPECT_EQ(text_of(append_double, 0.1), "0.1");
  EXPECT_EQ(text_of(append_double, 3.0), "3");
  EXPECT_EQ(text_of(append_double, -0.0), "-0");
}

TEST(ValueText, SinglesUseTheShortestFloatForm) {
  // 804983.38 is stored as the float 804983.375; the shortest form that
  // reads back to that float is what a person typed.
  EXPECT_EQ(text_of(append_single, 804983.38f), "804983.4");
  EXPECT_EQ(text_of(append_single, 1.1f), "1.1");
  std::string s = text_of(append_single, -3.4980931e+08f);
  float back = 0;
  std::from_chars(s.data(), s.data() + s.size(), back);
  EXPECT_EQ(back, -3.4980931e+08f);
}

TEST(ValueText, CurrencyHasFourDecimalsAndHandlesExtremes) {
  EXPECT_EQ(text_of(append_currency, std::int64_t{35000}), "3.5000");
  EXPECT_EQ(text_of(append_currency, std::int64_t{0}), "0.0000");
  EXPECT_EQ(text_of(append_currency, std::int64_t{-85409824234500}), "-8540982423.4500");
  EXPECT_EQ(text_of(append_currency, std::int64_t{-1}), "-0.0001");
  EXPECT_EQ(text_of(append_currency, std::numeric_limits<std::int64_t>::min()),
            "-922337203685477.5808");
  EXPECT_EQ(text_of(append_currency, std::numeric_limits<std::int64_t>::max()),
            "922337203685477.5807");
}

jet::Decimal dec(bool negative, std::uint64_t high, std::uint64_t low, std::uint8_t scale) {
  jet::Decimal d;
  d.negative = negative;
  d.high = high;
  d.low = low;
  d.precision = 28;
  d.scale = scale;
  return d;
}

TEST(ValueText, DecimalsKeepEveryDigit) {
  EXPECT_EQ(text_of(append_decimal, dec(false, 0, 4, 0)), "4");
  EXPECT_EQ(text_of(append_decimal, dec(true, 0, 1, 0)), "-1");
  EXPECT_EQ(text_of(append_decimal, dec(false, 0, 0, 0)), "0");
  EXPECT_EQ(text_of(append_decimal, dec(true, 0, 0, 2)), "0.00");  // no "-0.00"
  EXPECT_EQ(text_of(append_decimal, dec(false, 0, 12345, 2)), "123.45");
  EXPECT_EQ(text_of(append_decimal, dec(true, 0, 5, 3)), "-0.005");
  // 2^64 needs the high word.
  EXPECT_EQ(text_of(append_decimal, dec(false, 1, 0, 0)), "18446744073709551616");
  // The largest 28-digit value Jet holds, scale 10.
  EXPECT_EQ(text_of(append_decimal, dec(false, 0x204FCE5E, 0x3E25026110000000ULL - 1, 10)),
            "999999999999999999.9999999999");
}

TEST(ValueText, DatesCountFromDecember30th1899) {
  EXPECT_EQ(text_of(append_datetime, 0.0), "1899-12-30 00:00:00");
  EXPECT_EQ(text_of(append_datetime, 27293.0), "1974-09-21 00:00:00");
  EXPECT_EQ(text_of(append_datetime, 2.0 + 0.5), "1900-01-01 12:00:00");
  EXPECT_EQ(text_of(append_datetime, 36526.0 + 0.75), "2000-01-01 18:00:00");   // leap century
  EXPECT_EQ(text_of(append_datetime, 36585.0), "2000-02-29 00:00:00");
  EXPECT_EQ(text_of(append_datetime, 2958465.0), "9999-12-31 00:00:00");
  EXPECT_EQ(text_of(append_datetime, -1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(text_of(append_datetime, -657434.0), "0100-01-01 00:00:00");
}

TEST(ValueText, DatesRoundToTheNearestSecondAcrossMidnight) {
  double one_second = 1.0 / 86400.0;
  EXPECT_EQ(text_of(append_datetime, 1.0 + 59 * one_second + 0.4 * one_second), "1899-12-31 00:00:59");
  EXPECT_EQ(text_of(append_datetime, 1.0 + 59 * one_second + 0.6 * one_second), "1899-12-31 00:01:00");
  EXPECT_EQ(text_of(append_datetime, 2.0 - 0.2 * one_second), "1900-01-01 00:00:00");
}

TEST(ValueText, DatesFarOutsideTheCalendarStayNumbers) {
  EXPECT_EQ(text_of(append_datetime, 1e300), "1e+300");
  EXPECT_EQ(text_of(append_datetime, std::numeric_limits<double>::quiet_NaN()), "nan");
}

// Date/Time Extended counts days from 0001-01-01 and keeps 100 ns ticks;
// the stored text must be exactly of its form, or it is not a date.
TEST(ValueText, ExtendedDatesSpanTheirWholeRangeExactly) {
  const auto parse = [](const std::string& stored) {
    std::vector<std::uint8_t> bytes(stored.begin(), stored.end());
    bytes.push_back(0);
    return jet::parse_extended_date_time(bytes);
  };
  const auto first = parse("0000000000000000000:0000000000000000000:7");
  ASSERT_TRUE(first);
  EXPECT_EQ(text_of(append_extended_datetime, *first), "0001-01-01 00:00:00.0000000");
  const auto last = parse("0000000000003652058:0000000863999999999:7");
  ASSERT_TRUE(last);
  EXPECT_EQ(text_of(append_extended_datetime, *last), "9999-12-31 23:59:59.9999999");
  EXPECT_FALSE(parse("0000000000003652058:0000000864000000000:7"));  // a whole day of ticks
  EXPECT_FALSE(parse("000000000000365205x:0000000000000000000:7"));
  EXPECT_FALSE(parse("0000000000003652058-0000000000000000000:7"));
  EXPECT_FALSE(jet::parse_extended_date_time(std::vector<std::uint8_t>(41, '0')));
}

TEST(ValueText, GuidsUseTheRegistryForm) {
  const std::uint8_t g[] = {0x6A, 0x27, 0x39, 0x8E, 0xA8, 0xBC, 0xC4, 0x4A,
                            0x89, 0x1E, 0x49, 0x91, 0x1D, 0x84, 0x38, 0xDD};
  EXPECT_EQ(text_of(append_guid, std::span<const std::uint8_t>(g)),
            "{8E39276A-BCA8-4AC4-891E-49911D8438DD}");
  EXPECT_EQ(text_of(append_guid, std::span<const std::uint8_t>(g, 3)), "6A2739");
}

}  // namespace
}  // namespace quillmar_db
