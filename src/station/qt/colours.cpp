#include "colours.h"

QColor qcolor_of(COLORREF c) {
  if (c == CLR_DEFAULT) return QColor();
  return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

QBrush background_brush(COLORREF c) {
  QColor colour = qcolor_of(c);
  return colour.isValid() ? QBrush(colour) : QBrush();
}
