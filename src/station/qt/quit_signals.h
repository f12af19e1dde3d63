// SIGINT and SIGTERM as the operator's confirmed quit: the handler only writes a byte into a
// pipe, and the window thread reads it through a socket notifier. The earlier handlers are put
// back when this goes.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <signal.h>

class quit_signals {
 public:
  // `on_signal` runs on the calling (window) thread. Only one may exist at a time.
  explicit quit_signals(std::function<void()> on_signal);
  ~quit_signals();
  quit_signals(const quit_signals &) = delete;
  quit_signals &operator=(const quit_signals &) = delete;

 private:
  int pipe_[2] = {-1, -1};
  struct sigaction old_int_ {}, old_term_ {};
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void()> on_signal_;
};
