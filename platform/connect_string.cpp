#include "platform/connect_string.h"

#include "platform/failure.h"
#include "platform/text.h"

namespace quillmar::platform {
namespace {

inline constexpr char16_t kEngineSource[] = u"DAO.DBEngine";

std::uint16_t ParseLanguage(std::u16string_view value) {
  unsigned base = 10;
  if (value.size() > 2 && value[0] == u'0' && (value[1] == u'x' || value[1] == u'X')) {
    base = 16;
    value.remove_prefix(2);
  }
  if (value.empty() || value.size() > 6) {
    throw Failure(failure_number::kInvalidArgument, u"Invalid argument.", kEngineSource);
  }
  std::uint32_t number = 0;
  for (char16_t c : value) {
    unsigned digit = 16;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    else if (c >= u'a' && c <= u'f') digit = c - u'a' + 10u;
    else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10u;
    if (digit >= base) {
      throw Failure(failure_number::kInvalidArgument, u"Invalid argument.", kEngineSource);
    }
    number = number * base + digit;
  }
  if (number > 0xFFFF) {
    throw Failure(failure_number::kInvalidArgument, u"Invalid argument.", kEngineSource);
  }
  return static_cast<std::uint16_t>(number);
}

}  // namespace

void ParseConnectString(std::u16string_view text, ConnectSettings& settings) {
  while (!text.empty()) {
    const auto end = text.find(u';');
    const std::u16string_view pair = text.substr(0, end);
    text = end == std::u16string_view::npos ? std::u16string_view{} : text.substr(end + 1);
    const auto equals = pair.find(u'=');
    if (equals == std::u16string_view::npos) continue;
    const auto key = pair.substr(0, equals);
    const auto value = pair.substr(equals + 1);
    if (EqualsIgnoringCase(key, u"LANGID")) {
      settings.language = ParseLanguage(value);
    } else if (EqualsIgnoringCase(key, u"PWD")) {
      // A password runs to the end of its pair; it may hold "=".
      settings.password = std::u16string(value);
    }
  }
}

}  // namespace quillmar::platform
