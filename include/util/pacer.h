// Holds a thread to the modelled duration of each operation it runs, for the bench's timing
// model: an operation that starts at `start` and is modelled to last `d` does not end before
// start + d. Sleeping per operation would add the clock's wake-up latency (tens of
// microseconds, more on a loaded machine) to every 125 us bus request or 250 us page program;
// so how late each wake-up came is owed back by the next operations instead. Idle time between
// operations is never owed back: what the caller does in between still shows in its times.
// One pacer per serial chain of operations (a device's bus requests, a NAND chip's operations).
#pragma once

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace util {

class pacer {
 public:
  using clock = std::chrono::steady_clock;

  // Ends (sleeps until) the operation that began at `start` and is modelled to last `d`.
  void finish(clock::time_point start, std::chrono::nanoseconds d) {
    clock::time_point due;
    {
      std::lock_guard<std::mutex> lock(m_);
      due_ = std::max(due_, start - owed_) + d;
      owed_ = {};
      due = due_;
    }
    if (clock::now() >= due) return;
    std::this_thread::sleep_until(due);
    auto late = std::min<clock::duration>(clock::now() - due, max_owed);
    std::lock_guard<std::mutex> lock(m_);
    owed_ = late;
  }

 private:
  // Wake-ups later than this are a stalled machine, not clock latency: not owed back.
  static constexpr clock::duration max_owed = std::chrono::milliseconds(2);
  std::mutex m_;
  clock::time_point due_{};
  clock::duration owed_{};
};

}  // namespace util
