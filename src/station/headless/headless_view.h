// The console view: the window model printed to standard output, one line per row change and
// one summary line per finished handset. For machines without a display, and for tests.
// SIGINT and SIGTERM are the operator's confirmed quit.
#pragma once

#include <cstdio>
#include <set>
#include <string>

#include "station_view.h"
#include "window_thread.h"

class headless_view : public station_view, public window_view {
 public:
  explicit headless_view(std::FILE *out = stdout) : out_(out) {}
  void message_box(const char *caption, const char *text, bool warning) override;
  int run(HWND wnd, const std::function<void()> &init_dialog, const std::function<void()> &on_quit) override;

  void row_inserted(int index) override;
  void cell_changed(int index, int column) override;
  void info_changed() override;
  void row_completed(int index) override;

  // The lines this view prints, for a row as it stands.
  static std::string row_line(const list_row &row);
  static std::string summary_line(const list_row &row);

 private:
  std::FILE *out_;
  HWND wnd_ = nullptr;
  std::set<const tag_list_item *> summary_pending_;
};
