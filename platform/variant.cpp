#include "platform/variant.h"

#include "platform/failure.h"
#include "platform/text.h"

namespace quillmar::platform {

std::u16string AsText(const Variant& value) {
  if (const auto* text = std::get_if<std::u16string>(&value)) return *text;
  if (const auto* number = std::get_if<std::int32_t>(&value)) return Ascii(std::to_string(*number));
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? u"True" : u"False";
  if (std::holds_alternative<Empty>(value)) return {};
  throw RuntimeFailure(failure_number::kTypeMismatch);
}

std::int32_t AsInteger(const Variant& value) {
  if (const auto* number = std::get_if<std::int32_t>(&value)) return *number;
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? -1 : 0;
  if (std::holds_alternative<Empty>(value)) return 0;
  throw RuntimeFailure(failure_number::kTypeMismatch);
}

bool AsBoolean(const Variant& value) {
  if (const auto* flag = std::get_if<bool>(&value)) return *flag;
  if (const auto* number = std::get_if<std::int32_t>(&value)) return *number != 0;
  if (std::holds_alternative<Empty>(value)) return false;
  throw RuntimeFailure(failure_number::kTypeMismatch);
}

}  // namespace quillmar::platform
