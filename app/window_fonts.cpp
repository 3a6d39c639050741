#include "app/window_fonts.h"

#include <QStringList>

namespace quillmar::app {

void InstallFontSubstitutions() {
  QFont::insertSubstitutions(QStringLiteral("MS Serif"),
                             {QStringLiteral("DejaVu Serif"), QStringLiteral("Liberation Serif")});
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
}

QFont BrowseButtonFont() {
  QFont font(QStringLiteral("MS Serif"));
  font.setPointSizeF(13.5);
  font.setWeight(QFont::Bold);
  return font;
}

QFont WindowFont() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSizeF(8.25);
  return font;
}

}  // namespace quillmar::app
