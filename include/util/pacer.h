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

  // Time lost outside the operations that the next ones make up for, as for a late wake-up.
  void owe(clock::duration d) {
    std::lock_guard<std::mutex> lock(m_);
    owed_ = std::clamp<clock::duration>(owed_ + d, clock::duration::zero(), max_owed);
  }

  // Ends (sleeps until) the operation that began at `start` and is modelled to last `d`; its
  // period as scheduled goes to `timeline` when given.
  void finish(clock::time_point start, std::chrono::nanoseconds d, busy_timeline *timeline = nullptr) {
    run(start, d, timeline, clock::duration::zero());
  }

  // The same for a chain that nobody outside sees until settle(): it sleeps only once it is
  // more than `batch` ahead of the clock, saving a wake-up per operation. The chain's owner
  // must settle() before anything it does can be seen (a NAND's results, before the agent
  // answers the host).
  void add(clock::time_point start, std::chrono::nanoseconds d, busy_timeline *timeline = nullptr,
           clock::duration batch = std::chrono::milliseconds(1)) {
    run(start, d, timeline, batch);
  }

  // Sleeps until the operations so far are due.
  void settle() {
    clock::time_point due;
    {
      std::lock_guard<std::mutex> lock(m_);
      due = due_;
    }
    wait_until(due);
  }

 private:
  void run(clock::time_point start, std::chrono::nanoseconds d, busy_timeline *timeline, clock::duration batch) {
    clock::time_point due;
    {
      std::lock_guard<std::mutex> lock(m_);
      due_ = std::max(due_, start - owed_) + d;
      owed_ = {};
      due = due_;
    }
    if (timeline) timeline->add(due - d, d);
    auto now = clock::now();
    if (due - now > batch) return wait_until(due);
    // Work inside the operation that took longer than modelled: the next ones make up for it.
    if (now > due) owe(now - due);
  }

  // A wake-up that comes late is made up for by the next operations.
  void wait_until(clock::time_point due) {
    if (clock::now() >= due) return;
    std::this_thread::sleep_until(due);
    owe(clock::now() - due);
  }

  // Wake-ups later than this are a stalled machine, not clock latency: not owed back.
  static constexpr clock::duration max_owed = std::chrono::milliseconds(2);
  std::mutex m_;
  clock::time_point due_{};
  clock::duration owed_{};
};

}  // namespace util
