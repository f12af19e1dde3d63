#include "window_dispatch.h"

#include <QMetaObject>

void qt_window_dispatcher::open(QObject *receiver, HWND wnd) {
  std::lock_guard<std::mutex> hold(lock_);
  receiver_ = receiver;
  wnd_ = wnd;
  window_thread_ = std::this_thread::get_id();
}

void qt_window_dispatcher::close() {
  std::lock_guard<std::mutex> hold(lock_);
  receiver_ = nullptr;
  for (request *r : pending_) r->done = true;  // result stays 0
  pending_.clear();
  answered_.notify_all();
}

LRESULT qt_window_dispatcher::send(unsigned msg, WPARAM w, LPARAM l) {
  request r{msg, w, l};
  std::unique_lock<std::mutex> hold(lock_);
  if (!receiver_) return 0;
  if (std::this_thread::get_id() == window_thread_) {
    hold.unlock();
    return MainProc(wnd_, msg, w, l);
  }
  pending_.push_back(&r);
  // Posting an event is thread-safe; the receiver lives until close(), which needs this lock.
  QMetaObject::invokeMethod(receiver_, [this] { drain(); }, Qt::QueuedConnection);
  answered_.wait(hold, [&] { return r.done; });
  return r.result;
}

void qt_window_dispatcher::drain() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!pending_.empty()) {
    request *r = pending_.front();
    pending_.pop_front();
    hold.unlock();
    LRESULT result = MainProc(wnd_, r->msg, r->w, r->l);
    hold.lock();
    r->result = result;
    r->done = true;
    answered_.notify_all();
  }
}
