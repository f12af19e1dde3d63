// How worker threads reach the window thread: a synchronous send that returns when the
// window's handler has run, with the handler's result. Each view supplies one (the headless
// loop below; the Qt view a blocking queued call).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "window_model.h"

class window_dispatcher {
 public:
  virtual ~window_dispatcher() = default;
  // Runs MainProc(msg, wParam, lParam) on the window thread; blocks the caller until it has.
  virtual LRESULT send(unsigned msg, WPARAM wParam, LPARAM lParam) = 0;
};

// The station's window, set once at start-up before any worker exists.
extern HWND hDlgWnd;
extern window_dispatcher *g_window_dispatcher;

// The workers' send. From any thread but the window thread.
LRESULT SendMessage(HWND wnd, unsigned msg, WPARAM wParam, LPARAM lParam);

// A window thread without a toolkit: handles sent messages in order and calls a tick function
// once a second, until stopped.
class window_loop : public window_dispatcher {
 public:
  explicit window_loop(HWND wnd) : wnd_(wnd) {}
  LRESULT send(unsigned msg, WPARAM wParam, LPARAM lParam) override;
  // Runs on the calling thread (which becomes the window thread) until stop().
  void run(const std::function<void()> &every_second);
  void stop();  // from any thread, also from a signal-handling thread

 private:
  struct request {
    unsigned msg;
    WPARAM w;
    LPARAM l;
    LRESULT result = 0;
    bool done = false;
  };
  HWND wnd_;
  std::mutex lock_;
  std::condition_variable wake_;       // the window thread: a request or stop
  std::condition_variable answered_;   // the senders: a request was handled
  std::deque<request *> queue_;
  bool stopping_ = false;
};
