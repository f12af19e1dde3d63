#include "window_thread.h"

#include <chrono>

HWND hDlgWnd = nullptr;
window_dispatcher *g_window_dispatcher = nullptr;

LRESULT SendMessage(HWND, unsigned msg, WPARAM wParam, LPARAM lParam) {
  return g_window_dispatcher ? g_window_dispatcher->send(msg, wParam, lParam) : 0;
}

LRESULT window_loop::send(unsigned msg, WPARAM w, LPARAM l) {
  request r{msg, w, l};
  std::unique_lock<std::mutex> hold(lock_);
  if (stopping_) return 0;  // the window has closed: nobody will answer
  queue_.push_back(&r);
  wake_.notify_one();
  answered_.wait(hold, [&] { return r.done; });
  return r.result;
}

void window_loop::run(const std::function<void()> &every_second) {
  using clock = std::chrono::steady_clock;
  auto next_tick = clock::now() + std::chrono::seconds(1);
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopping_) {
    wake_.wait_until(hold, next_tick, [&] { return stopping_ || !queue_.empty(); });
    while (!queue_.empty()) {
      request *r = queue_.front();
      queue_.pop_front();
      hold.unlock();
      LRESULT result = MainProc(wnd_, r->msg, r->w, r->l);
      hold.lock();
      r->result = result;
      r->done = true;
      answered_.notify_all();
    }
    if (clock::now() >= next_tick) {
      next_tick += std::chrono::seconds(1);
      hold.unlock();
      if (every_second) every_second();
      hold.lock();
    }
  }
  // Senders still waiting get no answer; they end with the process.
}

void window_loop::stop() {
  std::lock_guard<std::mutex> hold(lock_);
  stopping_ = true;
  wake_.notify_all();
}
