// The Progress column: a bar as wide as the leading "NN%" of the cell's text, drawn behind the
// text over the cell's own background.
#pragma once

#include <QColor>
#include <QStyledItemDelegate>
#include <string>

// The percentage a Progress text starts with ("40% (2/5)" gives 40), clamped to 0..100; -1 when
// the text does not start with digits and a '%' (no bar, e.g. for an empty cell).
int progress_percent(const std::string &text);

constexpr QRgb kProgressBarColour = 0xFF78B4F0;  // a light blue that no row colour uses

class progress_delegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
