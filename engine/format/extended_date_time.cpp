#include "engine/format/extended_date_time.h"

namespace jet {
namespace {

constexpr std::size_t kDigits = 19;

std::optional<std::int64_t> digits_at(std::span<const std::uint8_t> s, std::size_t from, std::size_t count) {
  std::int64_t value = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    // 19 digits can exceed int64; no real date comes near (9999-12-31 is day 3,652,058).
    if (value > (INT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + (s[i] - '0');
  }
  return value;
}

}  // namespace

std::optional<ExtendedDateTime> parse_extended_date_time(std::span<const std::uint8_t> s) {
  if (s.size() != kExtendedDateTimeSize || s[kDigits] != ':' || s[2 * kDigits + 1] != ':' || s[41] != 0) {
    return std::nullopt;
  }
  const auto days = digits_at(s, 0, kDigits);
  const auto ticks = digits_at(s, kDigits + 1, kDigits);
  const auto precision = digits_at(s, 2 * kDigits + 2, 1);
  if (!days || !ticks || !precision || *ticks >= kTicksPerDay) return std::nullopt;
  return ExtendedDateTime{*days, *ticks, static_cast<int>(*precision)};
}

}  // namespace jet
