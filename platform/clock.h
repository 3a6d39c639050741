#pragma once
// The local date and time, and its formatting by pattern.
#include <string>
#include <string_view>

namespace quillmar::platform {

struct LocalDateTime {
  int year = 0;
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;
  int second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime Now() const = 0;
};

class SystemClock : public Clock {
 public:
  LocalDateTime Now() const override;
};

// Pattern letters: "dd" day, "mm" month, "yyyy" year, "hh" hour (00-23),
// "nn" minutes, "ss" seconds, all with leading zeros. An "mm" right after an
// hour or right before seconds (literals in between allowed) means minutes,
// as in "hh-mm-ss". Any other character stands for itself.
std::u16string FormatDateTime(const LocalDateTime& when, std::u16string_view pattern);

}  // namespace quillmar::platform
