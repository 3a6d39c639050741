#pragma once
// Values that pass through late binding: arguments and results of Invoke.
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace quillmar::platform {

class Dispatch;

struct Empty {
  bool operator==(const Empty&) const = default;
};
// Stands for an optional parameter the caller leaves out.
struct Missing {
  bool operator==(const Missing&) const = default;
};

using Variant = std::variant<Empty, Missing, bool, std::int32_t, std::u16string, std::shared_ptr<Dispatch>>;

// Conversions a component applies to its arguments; a value of another kind
// raises "Type mismatch" (13).
std::u16string AsText(const Variant& value);
std::int32_t AsInteger(const Variant& value);
bool AsBoolean(const Variant& value);

}  // namespace quillmar::platform
