#include "platform/clock.h"

#include <ctime>
#include <vector>

namespace quillmar::platform {
namespace {

enum class Field { kLiteral, kDay, kMonth, kYear, kHour, kMinute, kSecond };

struct Token {
  Field field;
  char16_t literal;
};

bool StartsWith(std::u16string_view text, std::size_t at, std::u16string_view prefix) {
  return text.substr(at, prefix.size()) == prefix;
}

std::vector<Token> Tokenize(std::u16string_view pattern) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < pattern.size()) {
    if (StartsWith(pattern, i, u"yyyy")) {
      tokens.push_back({Field::kYear, 0}), i += 4;
    } else if (StartsWith(pattern, i, u"dd")) {
      tokens.push_back({Field::kDay, 0}), i += 2;
    } else if (StartsWith(pattern, i, u"mm")) {
      tokens.push_back({Field::kMonth, 0}), i += 2;
    } else if (StartsWith(pattern, i, u"hh")) {
      tokens.push_back({Field::kHour, 0}), i += 2;
    } else if (StartsWith(pattern, i, u"nn")) {
      tokens.push_back({Field::kMinute, 0}), i += 2;
    } else if (StartsWith(pattern, i, u"ss")) {
      tokens.push_back({Field::kSecond, 0}), i += 2;
    } else {
      tokens.push_back({Field::kLiteral, pattern[i]}), ++i;
    }
  }
  // "mm" next to an hour or seconds field is minutes.
  for (std::size_t t = 0; t < tokens.size(); ++t) {
    if (tokens[t].field != Field::kMonth) continue;
    Field before = Field::kLiteral;
    for (std::size_t b = t; b-- > 0;) {
      if (tokens[b].field != Field::kLiteral) { before = tokens[b].field; break; }
    }
    Field after = Field::kLiteral;
    for (std::size_t a = t + 1; a < tokens.size(); ++a) {
      if (tokens[a].field != Field::kLiteral) { after = tokens[a].field; break; }
    }
    if (before == Field::kHour || after == Field::kSecond) tokens[t].field = Field::kMinute;
  }
  return tokens;
}

void AppendPadded(std::u16string& out, int value, std::size_t width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (value < 0) out.push_back(u'-');
  for (std::size_t i = digits.size(); i < width; ++i) out.push_back(u'0');
  for (char c : digits) out.push_back(static_cast<char16_t>(c));
}

}  // namespace

LocalDateTime SystemClock::Now() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour, local.tm_min, local.tm_sec};
}

std::u16string FormatDateTime(const LocalDateTime& when, std::u16string_view pattern) {
  std::u16string out;
  for (const Token& token : Tokenize(pattern)) {
    switch (token.field) {
      case Field::kLiteral: out.push_back(token.literal); break;
      case Field::kDay: AppendPadded(out, when.day, 2); break;
      case Field::kMonth: AppendPadded(out, when.month, 2); break;
      case Field::kYear: AppendPadded(out, when.year, 4); break;
      case Field::kHour: AppendPadded(out, when.hour, 2); break;
      case Field::kMinute: AppendPadded(out, when.minute, 2); break;
      case Field::kSecond: AppendPadded(out, when.second, 2); break;
    }
  }
  return out;
}

}  // namespace quillmar::platform
