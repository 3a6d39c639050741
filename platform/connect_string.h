#pragma once
// The engine's connect strings: ";KEY=value" pairs, keys without regard to case.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmar::platform {

struct ConnectSettings {
  std::optional<std::uint16_t> language;  // LANGID, "0x0409" or decimal
  std::optional<std::u16string> password; // PWD; may be empty
};

// Raises "Invalid argument." (3001) for a LANGID that is not a 16-bit number.
// CP and COUNTRY are accepted and not used: the sort order follows from LANGID.
// Other keys are ignored. Fills the caller's settings, so that a password read
// before a failure can still be wiped by the caller.
void ParseConnectString(std::u16string_view text, ConnectSettings& settings);

}  // namespace quillmar::platform
