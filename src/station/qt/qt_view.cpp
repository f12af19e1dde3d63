#include "qt_view.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>

#include "quit_signals.h"

qt_view::qt_view(int &argc, char **argv, const char *about_description, const char *about_md5_notice)
    : about_description_(about_description), about_md5_notice_(about_md5_notice) {
  if (!QApplication::instance()) app_ = std::make_unique<QApplication>(argc, argv);
  // The window's own close decides when the loop ends, not the last window closing.
  QApplication::setQuitOnLastWindowClosed(false);
}

qt_view::~qt_view() {
  if (dispatcher_ && g_window_dispatcher == dispatcher_.get()) g_window_dispatcher = nullptr;
}

bool qt_view::display_available() {
  for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char *value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

void qt_view::message_box(const char *caption, const char *text, bool warning) {
  QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Critical, QString::fromUtf8(caption),
                  QString::fromUtf8(text), QMessageBox::Ok, window_);
  box.exec();
}

int qt_view::run(HWND wnd, const std::function<void()> &init_dialog, const std::function<void()> &on_quit) {
  station_window_widget window(wnd, about_description_, about_md5_notice_);
  window_ = &window;
  wnd->view = this;

  // A sender of an earlier run may still hold the old dispatcher's address: keep one per view.
  if (!dispatcher_) dispatcher_ = std::make_unique<qt_window_dispatcher>();
  dispatcher_->open(&window, wnd);
  hDlgWnd = wnd;
  g_window_dispatcher = dispatcher_.get();

  QEventLoop loop;
  window.on_quit_confirmed = [&loop] { loop.quit(); };
  quit_signals quit_on_signal([&window] { window.confirm_quit(); });
  QTimer timer;
  timer.setInterval(1000);
  QObject::connect(&timer, &QTimer::timeout, &window, [wnd] { OneSecondTimer(wnd); });

  init_dialog();
  window.refresh_title();
  timer.start();
  window.show();
  loop.exec();

  timer.stop();
  wnd->closing = true;
  dispatcher_->close();  // senders still waiting, and later ones, get 0
  window.hide();
  on_quit();
  window_ = nullptr;
  if (wnd->view == this) wnd->view = nullptr;
  return 0;
}

void qt_view::row_inserted(int index) {
  if (window_) window_->row_inserted(index);
}
void qt_view::cell_changed(int index, int column) {
  if (window_) window_->cell_changed(index, column);
}
void qt_view::info_changed() {
  if (window_) window_->info_changed();
}
void qt_view::row_completed(int index) {
  if (window_) window_->row_completed(index);
}
