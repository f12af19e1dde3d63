#include "quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

int g_write_end = -1;

void on_quit_signal(int) {
  int saved = errno;
  char byte = 1;
  if (g_write_end >= 0) (void)!write(g_write_end, &byte, 1);
  errno = saved;
}

}  // namespace

quit_signals::quit_signals(std::function<void()> on_signal) : on_signal_(std::move(on_signal)) {
  if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipe_[0] = pipe_[1] = -1;
    return;  // no signal handling; closing the window still works
  }
  g_write_end = pipe_[1];
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
    char buf[64];
    while (read(pipe_[0], buf, sizeof buf) > 0) {
    }
    if (on_signal_) on_signal_();
  });

  struct sigaction sa {};
  sa.sa_handler = on_quit_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, &old_int_);
  sigaction(SIGTERM, &sa, &old_term_);
  // A thread that blocked them (as the headless view does) would never see them.
  sigset_t quit_set;
  sigemptyset(&quit_set);
  sigaddset(&quit_set, SIGINT);
  sigaddset(&quit_set, SIGTERM);
  pthread_sigmask(SIG_UNBLOCK, &quit_set, nullptr);
}

quit_signals::~quit_signals() {
  if (pipe_[1] < 0) return;
  sigaction(SIGINT, &old_int_, nullptr);
  sigaction(SIGTERM, &old_term_, nullptr);
  g_write_end = -1;
  notifier_.reset();
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}
