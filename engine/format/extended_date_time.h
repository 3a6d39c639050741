#pragma once
// Date/Time Extended values (ACE 17, column type 0x14). The row holds 42
// bytes of ASCII: "DDDDDDDDDDDDDDDDDDD:TTTTTTTTTTTTTTTTTTT:P" and a NUL,
// the days since 0001-01-01 (proleptic Gregorian calendar), the time of day
// in 100-nanosecond units and the number of fraction digits the column
// keeps (FORMAT.md, "ACE column kinds").
#include <cstdint>
#include <optional>
#include <span>

namespace jet {

struct ExtendedDateTime {
  std::int64_t days = 0;   // since 0001-01-01
  std::int64_t ticks = 0;  // 100-nanosecond units since midnight
  int precision = 0;       // fraction-of-second digits the column keeps (0-9)
};

inline constexpr std::size_t kExtendedDateTimeSize = 42;
inline constexpr std::int64_t kTicksPerDay = 864'000'000'000;

// Nullopt for bytes that are not of that form (a damaged value).
std::optional<ExtendedDateTime> parse_extended_date_time(std::span<const std::uint8_t> stored);

}  // namespace jet
