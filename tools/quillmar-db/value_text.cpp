#include "tools/quillmar-db/value_text.h"

#include "engine/format/text_codec.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace quillmar_db {
namespace {

template <typename T>
void append_shortest(std::string& out, T value) {
  std::array<char, 64> buf{};
  auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value);
  if (ec != std::errc{}) {
    out += "nan";
    return;
  }
  out.append(buf.data(), end);
}

void append_two(std::string& out, long v) {
  out.push_back(static_cast<char>('0' + v / 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

// "YYYY-MM-DD" of a day counted from 1899-12-30 (proleptic Gregorian calendar).
void append_civil_date(std::string& out, long day) {
  // 1899-12-30 is 25569 days before 1970-01-01; 719468 shifts the count to
  // start at 0000-03-01 so leap days fall at the end of each year.
  long z = day - 25569 + 719468;
  long era = (z >= 0 ? z : z - 146096) / 146097;
  long doe = z - era * 146097;
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long year = yoe + era * 400;
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long mp = (5 * doy + 2) / 153;
  long d = doy - (153 * mp + 2) / 5 + 1;
  long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++year;

  std::array<char, 16> ybuf{};
  auto [end, ec] = std::to_chars(ybuf.data(), ybuf.data() + ybuf.size(), year);
  (void)ec;
  std::size_t width = static_cast<std::size_t>(end - ybuf.data());
  if (year >= 0 && width < 4) out.append(4 - width, '0');
  out.append(ybuf.data(), end);
  out.push_back('-');
  append_two(out, m);
  out.push_back('-');
  append_two(out, d);
}

void append_time_of_day(std::string& out, long seconds) {
  append_two(out, seconds / 3600);
  out.push_back(':');
  append_two(out, seconds / 60 % 60);
  out.push_back(':');
  append_two(out, seconds % 60);
}

}  // namespace

void append_utf8(std::string& out, std::u16string_view text) { out += jet::utf16_to_utf8(text); }

void append_hex(std::string& out, std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::size_t at = out.size();
  out.resize(at + bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out[at++] = kDigits[b >> 4];
    out[at++] = kDigits[b & 0x0F];
  }
}

void append_double(std::string& out, double value) { append_shortest(out, value); }
void append_single(std::string& out, float value) { append_shortest(out, value); }

void append_currency(std::string& out, std::int64_t scaled) {
  // Work on the magnitude as unsigned so the most negative value is fine.
  std::uint64_t magnitude = scaled < 0 ? 0 - static_cast<std::uint64_t>(scaled)
                                       : static_cast<std::uint64_t>(scaled);
  if (scaled < 0) out.push_back('-');
  out += std::to_string(magnitude / 10000);
  out.push_back('.');
  std::string frac = std::to_string(magnitude % 10000);
  out.append(4 - frac.size(), '0');
  out += frac;
}

void append_decimal(std::string& out, const jet::Decimal& value) {
  // Divide the 128-bit magnitude by 10 repeatedly, on 32-bit limbs.
  std::array<std::uint32_t, 4> limbs{
      static_cast<std::uint32_t>(value.high >> 32), static_cast<std::uint32_t>(value.high),
      static_cast<std::uint32_t>(value.low >> 32), static_cast<std::uint32_t>(value.low)};
  std::string digits;  // least significant first
  bool zero = false;
  while (!zero) {
    std::uint64_t rest = 0;
    zero = true;
    for (auto& limb : limbs) {
      std::uint64_t cur = (rest << 32) | limb;
      limb = static_cast<std::uint32_t>(cur / 10);
      rest = cur % 10;
      if (limb != 0) zero = false;
    }
    digits.push_back(static_cast<char>('0' + rest));
  }
  while (digits.size() <= value.scale) digits.push_back('0');
  bool all_zero = digits.find_first_not_of('0') == std::string::npos;
  if (value.negative && !all_zero) out.push_back('-');
  for (std::size_t i = digits.size(); i-- > 0;) {
    out.push_back(digits[i]);
    if (i == value.scale && i != 0) out.push_back('.');
  }
}

void append_datetime(std::string& out, double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3.0e6) {
    // Far outside any calendar Jet uses (years 100 to 9999); keep the number.
    append_double(out, days);
    return;
  }
  double whole = std::trunc(days);
  auto day = static_cast<long>(whole);
  auto seconds = static_cast<long>(std::llround(std::fabs(days - whole) * 86400.0));
  if (seconds >= 86400) {
    seconds -= 86400;
    day += days < 0 ? -1 : 1;
  }
  append_civil_date(out, day);
  out.push_back(' ');
  append_time_of_day(out, seconds);
}

void append_extended_datetime(std::string& out, const jet::ExtendedDateTime& value) {
  // 0001-01-01 is day 693593 before 1899-12-30.
  constexpr std::int64_t kDaysFrom0001To1899 = 693593;
  constexpr std::int64_t kTicksPerSecond = 10'000'000;
  append_civil_date(out, static_cast<long>(value.days - kDaysFrom0001To1899));
  out.push_back(' ');
  append_time_of_day(out, static_cast<long>(value.ticks / kTicksPerSecond));
  out.push_back('.');
  const std::string fraction = std::to_string(value.ticks % kTicksPerSecond);
  out.append(7 - fraction.size(), '0');
  out += fraction;
}

void append_guid(std::string& out, std::span<const std::uint8_t> b) {
  if (b.size() != 16) {
    append_hex(out, b);
    return;
  }
  const std::array<std::uint8_t, 16> order{3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  out.push_back('{');
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    append_hex(out, b.subspan(order[i], 1));
  }
  out.push_back('}');
}

}  // namespace quillmar_db
