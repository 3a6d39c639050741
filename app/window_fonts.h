#pragma once
// Fonts of the window. The "..." button asks for "MS Serif"; Linux has no such
// font, so the family is mapped to one that Debian ships.
#include <QFont>

namespace quillmar::app {

// Maps "MS Serif" and "MS Sans Serif" to DejaVu/Liberation families. Call once
// after the application object exists and before the window is built.
void InstallFontSubstitutions();

// "MS Serif", 13.5 point, bold.
QFont BrowseButtonFont();

// The window's own font (label and "Compact and Repair"): small enough that
// every caption fits its control at the fixed sizes.
QFont WindowFont();

}  // namespace quillmar::app
