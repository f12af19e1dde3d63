#include "progress_delegate.h"

#include <QApplication>
#include <QPainter>

int progress_percent(const std::string &text) {
  std::size_t i = 0;
  long value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (value <= 100) value = value * 10 + (text[i] - '0');  // stop growing: it is clamped anyway
    ++i;
  }
  if (i == 0 || i >= text.size() || text[i] != '%') return -1;
  return value > 100 ? 100 : int(value);
}

void progress_delegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QWidget *widget = opt.widget;
  QStyle *style = widget ? widget->style() : QApplication::style();

  // The cell's background (row colour or selection) first, then the bar, then the text alone.
  const QString text = opt.text;
  // The same inset the style gives the text of the other columns.
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
  const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(margin, 0, -margin, 0);
  opt.text.clear();
  style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

  int percent = progress_percent(text.toStdString());
  if (percent > 0) {
    QRect bar = opt.rect.adjusted(1, 1, -1, -1);
    bar.setWidth(bar.width() * percent / 100);
    painter->fillRect(bar, QColor::fromRgba(kProgressBarColour));
  }
  if (!text.isEmpty()) {
    painter->save();
    painter->setPen(opt.palette.color(opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(textRect, int(opt.displayAlignment), opt.fontMetrics.elidedText(text, opt.textElideMode, textRect.width()));
    painter->restore();
  }
}
