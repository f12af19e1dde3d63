// What start-up needs of a view (Qt or headless): message boxes, and a window thread that
// runs the window until the operator has confirmed quitting.
#pragma once

#include <functional>

#include "window_model.h"

class station_view {
 public:
  virtual ~station_view() = default;
  // A modal message box at start-up: caption "Error" or "Warning" and the text.
  virtual void message_box(const char *caption, const char *text, bool warning) = 0;
  // Runs the window on the calling thread, which becomes the window thread: calls
  // init_dialog once the window exists (hDlgWnd set, dispatcher installed), handles the
  // workers' messages and the one-second timer, and returns once the operator has confirmed
  // quitting (on_quit has then run on the window thread).
  virtual int run(HWND wnd, const std::function<void()> &init_dialog, const std::function<void()> &on_quit) = 0;
};
