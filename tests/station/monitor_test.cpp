// The monitor against the in-process bus: one job per boot ROM interface while it lives,
// agents and closing windows never start one.
#include "monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "usb/usb_inproc.h"
#include "window_thread.h"

namespace {

struct silent_device : usb_inproc::device_model {
  bool on_out_packet(usb_inproc::attachment &, std::span<const uint8_t>) override { return true; }
};

// What the fake jobs saw; a job runs until the test lets it end.
struct job_log {
  std::mutex lock;
  std::condition_variable changed;
  std::multiset<std::string> started;
  std::set<std::string> release;
  int running = 0;
} jobs;

unsigned long fake_job(void *param) {
  auto *item = static_cast<tag_list_item *>(param);
  std::string name = item->interface_1_name;
  usb_close(item->udev);
  std::unique_lock<std::mutex> hold(jobs.lock);
  jobs.started.insert(name);
  ++jobs.running;
  jobs.changed.notify_all();
  jobs.changed.wait(hold, [&] { return jobs.release.count(name) > 0; });
  jobs.release.erase(name);
  --jobs.running;
  jobs.changed.notify_all();
  hold.unlock();
  SendMessage(hDlgWnd, WM_DEVICE_DISCONNECTED, WPARAM(item), 0);
  return 0;
}

template <class Pred>
bool wait_for(Pred pred) {  // generous: the machine may be loaded
  std::unique_lock<std::mutex> hold(jobs.lock);
  return jobs.changed.wait_for(hold, std::chrono::seconds(30), pred);
}

class Monitor : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(usb_use_backend("inproc"), 0);
    wnd_.closing = start_closed_;
    hDlgWnd = &wnd_;
    g_window_dispatcher = &loop_;
    do_exit = 0;
    window_ = std::thread([this] { loop_.run(nullptr); });
    monitor_ = std::thread([] { run_monitor(fake_job); });
  }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> hold(jobs.lock);
      for (const std::string &n : jobs.started) jobs.release.insert(n);
      jobs.changed.notify_all();
    }
    wait_for([] { return jobs.running == 0; });
    stop_monitor();
    loop_.stop();
    window_.join();
    usb_inproc::unplug_all();
    g_window_dispatcher = nullptr;
    jobs.started.clear();
    jobs.release.clear();
  }
  void stop_monitor() {
    do_exit = 1;
    if (monitor_.joinable()) monitor_.join();
  }
  static void plug(const std::string &port, uint16_t vid, uint16_t pid) {
    ASSERT_TRUE(usb_inproc::plug(port, vid, pid, std::make_shared<silent_device>()));
  }
  bool start_closed_ = false;
  station_window wnd_;
  window_loop loop_{&wnd_};
  std::thread window_, monitor_;
};

TEST_F(Monitor, OneJobPerBootRomWhileItLives) {
  plug("p1", 0x8086, 0xD001);
  plug("p2", 0x1286, 0x8104);
  plug("p3", 0x1286, 0x8111);  // a running agent: never a job
  ASSERT_TRUE(wait_for([] { return jobs.started.size() == 2; }));
  // An absence: several passes later, still one job each while the jobs are alive.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  {
    std::lock_guard<std::mutex> hold(jobs.lock);
    EXPECT_EQ(jobs.started.count("p1"), 1u);
    EXPECT_EQ(jobs.started.count("p2"), 1u);
    EXPECT_EQ(jobs.started.count("p3"), 0u);
    jobs.release.insert("p1");  // the job ends: the next pass may start another for p1
    jobs.changed.notify_all();
  }
  ASSERT_TRUE(wait_for([] { return jobs.started.count("p1") == 2; }));
}

class ClosingMonitor : public Monitor {
 protected:
  ClosingMonitor() { start_closed_ = true; }
};

TEST_F(ClosingMonitor, NoRecordNoJob) {
  plug("p9", 0x8086, 0xD001);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // an absence: several passes' worth
  // A pass may hold the handle at any moment; once the monitor has ended, none may be left open.
  stop_monitor();
  std::lock_guard<std::mutex> hold(jobs.lock);
  EXPECT_TRUE(jobs.started.empty());
  for (const auto &p : usb_inproc::list()) EXPECT_FALSE(p.open) << p.port;  // handle closed again
}

}  // namespace
