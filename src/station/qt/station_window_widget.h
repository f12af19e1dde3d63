// The station's main window: the information box over the list of fixture rows, the picture
// beside them, About on the context menu and F1, and the quit question on closing. It draws the
// window model and is told by qt_view what changed; it never changes the model itself.
#pragma once

#include <QWidget>
#include <functional>

#include "window_model.h"

class QCloseEvent;
class QLabel;
class QMessageBox;
class QTableWidget;
class QTextEdit;

extern const char kQuitQuestion[];  // "Are you sure you want to quit?"

class station_window_widget : public QWidget {
 public:
  station_window_widget(HWND wnd, const char *about_description, const char *about_md5_notice);

  QTableWidget *table() const { return table_; }
  QTextEdit *info_box() const { return info_; }
  QLabel *picture() const { return picture_; }

  // What the model reports.
  void row_inserted(int index);
  void cell_changed(int index, int column);
  void info_changed();
  void row_completed(int index);
  void refresh_title();  // from wnd->title

  // The About box, modally.
  void show_about();
  // Quits without asking (a quit signal): an open quit question or modal box is closed first.
  void confirm_quit();
  // Runs once the operator has confirmed quitting and the window has closed.
  std::function<void()> on_quit_confirmed;

 protected:
  void closeEvent(QCloseEvent *event) override;

 private:
  void fill_row(int index);          // texts and backgrounds of a row from the model
  void refresh_backgrounds(int index);
  void resync();                     // the whole table from the model

  HWND wnd_;
  const char *about_description_;
  const char *about_md5_notice_;
  QTableWidget *table_;
  QTextEdit *info_;
  QLabel *picture_;
  QMessageBox *question_ = nullptr;  // the quit question while it is open
  bool quit_confirmed_ = false;
};
