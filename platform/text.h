#pragma once
// Text helpers. Our strings are UTF-16 like the window system's; the file
// system and the engine take UTF-8.
#include <filesystem>
#include <string>
#include <string_view>

namespace quillmar::platform {

std::string ToUtf8(std::u16string_view text);     // lone surrogates become U+FFFD
std::u16string FromUtf8(std::string_view text);   // bad sequences become U+FFFD

// For ASCII literals and numbers: u"" literals do not concatenate with std::string.
std::u16string Ascii(std::string_view ascii);

// Names of methods, properties and components are matched without regard to case.
bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

std::filesystem::path PathOf(std::u16string_view text);

}  // namespace quillmar::platform
