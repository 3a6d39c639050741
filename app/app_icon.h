#pragma once
#include <QIcon>

namespace quillmar::app {

// The window's icon: one 64 by 64 image in 24-bit colour (a database drum
// with a wrench), drawn in code so no image file has to ship.
QIcon AppIcon();

}  // namespace quillmar::app
