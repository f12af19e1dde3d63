#include "handset_picture.h"

#include <QPainter>
#include <QPainterPath>

QPixmap handset_picture() {
  QPixmap picture(kPictureWidth, kPictureHeight);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);

  // Body with a USB cable leaving the bottom.
  p.setPen(QPen(QColor(0x30, 0x30, 0x30), 2));
  p.setBrush(QColor(0xC8, 0xCC, 0xD2));
  p.drawRoundedRect(QRectF(8, 2, 52, 108), 9, 9);
  p.setPen(QPen(QColor(0x30, 0x30, 0x30), 3));
  p.drawLine(QPointF(34, 110), QPointF(34, 121));

  // Earpiece, screen, navigation key and a 4 x 3 keypad.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x30, 0x30, 0x30));
  p.drawRoundedRect(QRectF(26, 7, 16, 3), 1.5, 1.5);
  p.setBrush(QColor(0x2E, 0x6F, 0xB8));
  p.drawRect(QRectF(14, 14, 40, 34));
  p.setBrush(QColor(0x70, 0x74, 0x7A));
  p.drawEllipse(QPointF(34, 57), 6, 5);
  p.setBrush(QColor(0xF4, 0xF4, 0xF4));
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col < 3; ++col) p.drawRoundedRect(QRectF(15 + col * 14, 67 + row * 10, 10, 7), 2, 2);
  return picture;
}
