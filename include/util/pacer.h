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
#include <cstdint>
#include <mutex>
#include <thread>

namespace util {

// The modelled busy time of one device made of several parts working at once (its bus, its
// NAND): the union of the periods [start, start + modelled duration] of all its operations, so
// that a transfer the protocol lets run while the NAND works is counted once, not twice.
// Operations are added as they start, from any thread.
class busy_timeline {
 public:
  using clock = std::chrono::steady_clock;

  void add(clock::time_point start, std::chrono::nanoseconds d) {
    std::lock_guard<std::mutex> lock(m_);
    auto end = start + d, from = std::max(start, covered_);
    if (end <= from) return;
    total_ += end - from;
    covered_ = end;
  }
  uint64_t total_ns() const {
    std::lock_guard<std::mutex> lock(m_);
    return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(total_).count());
  }

 private:
  mutable std::mutex m_;
  clock::time_point covered_{};
  clock::duration total_{};
};

class pacer {
 public:
  using clock = std::chrono::steady_clock;

  // Ends (sleeps until) the operation that began at `start` and is modelled to last `d`; its
  // period as scheduled goes to `timeline` when given.
  void finish(clock::time_point start, std::chrono::nanoseconds d, busy_timeline *timeline = nullptr) {
    clock::time_point due;
    {
      std::lock_guard<std::mutex> lock(m_);
      due_ = std::max(due_, start - owed_) + d;
      due = due_;
    }
    if (timeline) timeline->add(due - d, d);
    auto now = clock::now();
    if (now < due) {
      std::this_thread::sleep_until(due);
      now = clock::now();
    }
    // Behind the schedule by a late wake-up, or by work inside the operation that took longer
    // than modelled: the next operations make up for it.
    auto behind = std::clamp<clock::duration>(now - due, clock::duration::zero(), max_owed);
    std::lock_guard<std::mutex> lock(m_);
    owed_ = behind;
  }

 private:
  // Wake-ups later than this are a stalled machine, not clock latency: not owed back.
  static constexpr clock::duration max_owed = std::chrono::milliseconds(2);
  std::mutex m_;
  clock::time_point due_{};
  clock::duration owed_{};
};

}  // namespace util
