#pragma once
// Our UTF-16 strings and QString hold the same code units.
#include <QString>
#include <string>

namespace quillmar::platform {

inline QString ToQString(const std::u16string& text) { return QString::fromStdU16String(text); }
inline std::u16string FromQString(const QString& text) { return text.toStdU16String(); }

}  // namespace quillmar::platform
