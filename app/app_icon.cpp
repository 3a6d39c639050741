#include "app/app_icon.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace quillmar::app {

QIcon AppIcon() {
  QImage image(64, 64, QImage::Format_RGB888);
  image.fill(QColor(0xF0, 0xF0, 0xF0));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  // Drum of a database: body, then the top ellipse.
  painter.setPen(QPen(QColor(0x20, 0x3A, 0x60), 2));
  painter.setBrush(QColor(0x3B, 0x6E, 0xB4));
  painter.drawRect(QRectF(10, 14, 36, 36));
  painter.drawEllipse(QRectF(10, 42, 36, 14));
  painter.setPen(Qt::NoPen);
  painter.drawRect(QRectF(11, 14, 34, 36));
  painter.setPen(QPen(QColor(0x20, 0x3A, 0x60), 2));
  painter.setBrush(QColor(0x7F, 0xA8, 0xE0));
  painter.drawEllipse(QRectF(10, 7, 36, 14));
  // Wrench across the lower right.
  painter.setPen(QPen(QColor(0x50, 0x50, 0x50), 6, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(34, 56), QPointF(54, 36));
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x50, 0x50, 0x50));
  painter.drawEllipse(QPointF(55, 35), 7, 7);
  painter.setBrush(QColor(0xF0, 0xF0, 0xF0));
  painter.drawRect(QRectF(54, 28, 4, 7));
  painter.end();
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(image));
  return icon;
}

}  // namespace quillmar::app
