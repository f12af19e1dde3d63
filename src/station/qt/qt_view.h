// The Qt 6 Widgets view of the station: message boxes, and a window thread that shows the
// station window over the window model, takes the workers' synchronous sends as queued calls,
// ticks the one-second timer, and returns once the operator has confirmed quitting (closing
// the window and answering Yes, or SIGINT / SIGTERM).
#pragma once

#include <QApplication>
#include <memory>

#include "station_view.h"
#include "station_window_widget.h"
#include "window_dispatch.h"

class qt_view : public station_view, public window_view {
 public:
  // Creates the application object unless one exists; `argc` must outlive the view. The About
  // box shows `about_description` and `about_md5_notice` (the start-up's kAboutDescription and
  // kAboutMd5Notice).
  qt_view(int &argc, char **argv, const char *about_description, const char *about_md5_notice);
  ~qt_view() override;

  // Caption, text, error or warning icon and an OK button; modal.
  void message_box(const char *caption, const char *text, bool warning) override;
  int run(HWND wnd, const std::function<void()> &init_dialog, const std::function<void()> &on_quit) override;

  void row_inserted(int index) override;
  void cell_changed(int index, int column) override;
  void info_changed() override;
  void row_completed(int index) override;

  // Whether a platform to show the window on is set (a display, or QT_QPA_PLATFORM): without
  // one the application object cannot be created, and the station should use the headless view.
  static bool display_available();

  // The window while run() runs (window thread only), else null.
  station_window_widget *window() const { return window_; }

 private:
  std::unique_ptr<QApplication> app_;
  const char *about_description_;
  const char *about_md5_notice_;
  std::unique_ptr<qt_window_dispatcher> dispatcher_;
  station_window_widget *window_ = nullptr;
};
