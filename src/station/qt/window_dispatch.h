// The workers' synchronous send into the Qt window thread: the message is queued to an object
// living on that thread, and the sender waits until MainProc has run there and handed back its
// result. Queued calls are also delivered by the nested event loops of modal boxes, so a worker
// never waits for the operator.
//
// Rather than Qt::BlockingQueuedConnection the sender waits on a request of its own: closing the
// window then answers every waiting sender (with 0) instead of leaving it blocked on an event
// nobody will deliver, and a queued call that arrives late finds nothing to handle.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "window_thread.h"

class qt_window_dispatcher : public window_dispatcher {
 public:
  ~qt_window_dispatcher() override { close(); }

  // On the window thread: messages for `wnd` are taken from now on and handled on `receiver`'s
  // thread (the calling one).
  void open(QObject *receiver, HWND wnd);
  // On the window thread: no more messages; every sender still waiting gets 0.
  void close();

  // From a worker: blocks until the window thread has handled the message; 0 once closed.
  // Sent from the window thread itself, the message is handled at once.
  LRESULT send(unsigned msg, WPARAM wParam, LPARAM lParam) override;

 private:
  struct request {
    unsigned msg;
    WPARAM w;
    LPARAM l;
    LRESULT result = 0;
    bool done = false;
  };
  void drain();  // on the window thread: handles the queued requests in order

  HWND wnd_ = nullptr;
  std::mutex lock_;
  std::condition_variable answered_;
  std::deque<request *> pending_;
  QObject *receiver_ = nullptr;  // null while closed
  std::thread::id window_thread_;
};
