#pragma once
// The databases we serve all share one password. It is kept only in scrambled
// form; UnscrambleText turns it into the password just before the engine call.
namespace quillmar::maintenance {

// 20 characters, each with an ANSI code from 128 to 255.
inline constexpr char16_t kScrambledDatabasePassword[] =
    u"\u00CB\u00F6\u00B7\u00F2\u00D1\u00ED\u00B2\u00F8\u00D7\u00F0"
    u"\u00B9\u00CC\u00F4\u00DA\u00B4\u00E8\u00CE\u00E3\u00B8\u00C2";

}  // namespace quillmar::maintenance
