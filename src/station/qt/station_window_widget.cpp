#include "station_window_widget.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QTableWidget>
#include <QTextCursor>
#include <QTextEdit>

#include "about_box.h"
#include "colours.h"
#include "handset_picture.h"
#include "progress_delegate.h"

const char kQuitQuestion[] = "Are you sure you want to quit?";

namespace {

// The dialog's 495 x 277 dialog units and its controls, at 1.5 x 1.625 pixels per unit.
constexpr int kWindowWidth = 742;
constexpr int kWindowHeight = 450;
constexpr int kInfoHeight = 65;

QTableWidgetItem *new_cell(const std::string &text) {
  auto *item = new QTableWidgetItem(QString::fromStdString(text));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

}  // namespace

station_window_widget::station_window_widget(HWND wnd, const char *about_description, const char *about_md5_notice)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      wnd_(wnd),
      about_description_(about_description),
      about_md5_notice_(about_md5_notice) {
  setWindowTitle(QString::fromUtf8(kStationCaption));  // until the initialisation sets the title
  setWindowIcon(QIcon(handset_picture()));

  info_ = new QTextEdit(this);
  info_->setReadOnly(true);
  info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  info_->setFocusPolicy(Qt::NoFocus);
  info_->setLineWrapMode(QTextEdit::NoWrap);
  info_->setContextMenuPolicy(Qt::NoContextMenu);
  info_->setFixedHeight(kInfoHeight);

  table_ = new QTableWidget(0, COL_COUNT, this);
  QStringList headers;
  for (const list_column_def &c : kListColumns) headers << QString::fromUtf8(c.header);
  table_->setHorizontalHeaderLabels(headers);
  table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int c = 0; c < COL_COUNT; ++c) table_->setColumnWidth(c, kListColumns[c].width);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setShowGrid(false);
  table_->setWordWrap(false);
  table_->setContextMenuPolicy(Qt::NoContextMenu);
  table_->setItemDelegateForColumn(COL_PROGRESS, new progress_delegate(table_));

  picture_ = new QLabel(this);
  picture_->setPixmap(handset_picture());
  picture_->setFixedSize(kPictureWidth, kPictureHeight);

  auto *layout = new QGridLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->addWidget(info_, 0, 0);
  layout->addWidget(table_, 1, 0);
  layout->addWidget(picture_, 0, 1, 2, 1, Qt::AlignTop | Qt::AlignHCenter);
  layout->setColumnStretch(0, 1);
  layout->setRowStretch(1, 1);
  resize(kWindowWidth, kWindowHeight);

  // The window has no menu: About sits on its context menu and on F1.
  auto *about = new QAction(QStringLiteral("About"), this);
  about->setShortcut(QKeySequence(Qt::Key_F1));
  about->setShortcutContext(Qt::WindowShortcut);
  connect(about, &QAction::triggered, this, [this] { show_about(); });
  addAction(about);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  resync();
}

void station_window_widget::fill_row(int index) {
  const list_row &row = wnd_->rows[std::size_t(index)];
  for (int c = 0; c < COL_COUNT; ++c) {
    QTableWidgetItem *item = table_->item(index, c);
    if (!item) table_->setItem(index, c, item = new_cell(row.cells[std::size_t(c)]));
    else item->setText(QString::fromStdString(row.cells[std::size_t(c)]));
  }
  refresh_backgrounds(index);
}

void station_window_widget::refresh_backgrounds(int index) {
  for (int c = 0; c < COL_COUNT; ++c)
    if (QTableWidgetItem *item = table_->item(index, c)) item->setBackground(background_brush(cell_background(wnd_, index, c)));
}

void station_window_widget::resync() {
  table_->setRowCount(int(wnd_->rows.size()));
  for (int i = 0; i < table_->rowCount(); ++i) fill_row(i);
}

void station_window_widget::row_inserted(int index) {
  if (table_->rowCount() + 1 != int(wnd_->rows.size()) || index < 0 || index > table_->rowCount()) return resync();
  table_->insertRow(index);
  fill_row(index);
  // The rows below changed parity, and so their grey.
  for (int i = index + 1; i < table_->rowCount(); ++i) refresh_backgrounds(i);
}

void station_window_widget::cell_changed(int index, int column) {
  if (table_->rowCount() != int(wnd_->rows.size()) || index < 0 || index >= table_->rowCount()) return resync();
  QTableWidgetItem *item = table_->item(index, column);
  if (!item) return fill_row(index);
  item->setText(QString::fromStdString(wnd_->rows[std::size_t(index)].cells[std::size_t(column)]));
  // A cleared or re-bound row loses its result colour.
  refresh_backgrounds(index);
}

void station_window_widget::row_completed(int index) {
  if (table_->rowCount() != int(wnd_->rows.size()) || index < 0 || index >= table_->rowCount()) return resync();
  refresh_backgrounds(index);
}

void station_window_widget::info_changed() {
  info_->clear();
  QTextCursor cursor(info_->document());
  const QColor text_colour = info_->palette().color(QPalette::Text);
  for (const text_run &run : wnd_->info) {
    QTextCharFormat format;
    format.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
    QColor colour = qcolor_of(run.colour);
    format.setForeground(colour.isValid() ? colour : text_colour);
    cursor.insertText(QString::fromUtf8(run.text), format);
  }
}

void station_window_widget::refresh_title() { setWindowTitle(QString::fromStdString(wnd_->title)); }

void station_window_widget::show_about() {
  about_box box(about_description_, about_md5_notice_, this);
  box.exec();
}

void station_window_widget::confirm_quit() {
  quit_confirmed_ = true;
  // Modal boxes first; an open quit question then finishes the closing itself.
  for (QWidget *w : QApplication::topLevelWidgets())
    if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible()) dialog->reject();
  if (!question_) close();
}

void station_window_widget::closeEvent(QCloseEvent *event) {
  if (question_) {  // already asking
    event->ignore();
    return;
  }
  if (!quit_confirmed_) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quit"), QString::fromUtf8(kQuitQuestion),
                    QMessageBox::Yes | QMessageBox::No, this);
    question_ = &box;
    int answer = box.exec();  // worker messages keep arriving through its nested loop
    question_ = nullptr;
    if (answer == QMessageBox::Yes) quit_confirmed_ = true;
    if (!quit_confirmed_) {
      event->ignore();
      return;
    }
  }
  event->accept();
  if (on_quit_confirmed) on_quit_confirmed();
}
