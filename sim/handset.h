// One simulated handset on the virtual bus: it starts in its boot ROM (either boot ROM
// identity) on its port; after the ROM's disconnect with an accepted agent image it leaves the
// bus and, after reenumerate_delay_ms, comes back on the same port as the agent
// (VID 0x1286, PID 0x8111). A reset brings it back as a boot ROM.
//
// What answers as the agent is pluggable: an agent_factory makes a fresh device model each time
// the handset comes back as the agent. The model talks to the host through the attachment it
// gets in on_attach (usb_inproc.h) and may call handset::reset() (software or hardware reset:
// back to the boot ROM) or unplug itself. Without a factory the agent is a stub that takes
// every packet and answers nothing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bootrom_model.h"
#include "faults.h"
#include "usb/usb_inproc.h"

namespace sim {

constexpr uint16_t agent_vid = 0x1286;
constexpr uint16_t agent_pid = 0x8111;

struct handset_config {
  std::string port;          // the port name: the device's interface name on the bus
  int bus_number = 1;        // in captures
  bootrom_settings rom;      // identity, grant size, version data
  int reenumerate_delay_ms = 0;  // from disconnect (or reset) until the device is back
  usb_inproc::timing timing;     // of its bus transfers
  fault_set faults;
};

class handset;

// What the agent model of a handset is made from: the images the boot ROM received.
struct agent_boot {
  handset &device;
  const std::vector<uint8_t> &tim;
  const std::vector<uint8_t> &dkb;
  // With realistic timing: where the agent's NAND adds its modelled periods (null otherwise).
  std::shared_ptr<util::busy_timeline> timeline;
};
using agent_factory = std::function<std::shared_ptr<usb_inproc::device_model>(const agent_boot &)>;

class handset : public std::enable_shared_from_this<handset> {
 public:
  enum class role { unplugged, bootrom, leaving, agent };

  // Events (one line of text each) go to `events`, from any thread.
  static std::shared_ptr<handset> create(handset_config cfg, agent_factory agent = nullptr,
                                         std::function<void(const std::string &)> events = nullptr);
  ~handset();  // leaves the bus
  handset(const handset &) = delete;
  handset &operator=(const handset &) = delete;

  const handset_config &config() const { return cfg_; }
  void plug();    // onto the bus as a boot ROM (power on); nothing if already there
  void unplug();  // off the bus, whatever it runs (cable pulled)
  void reset();   // leaves the bus and comes back as a boot ROM after the delay
  void set_faults(const fault_set &f);  // for the boot ROM stays from now on

  role current_role() const;
  std::string status_json() const;
  // Modelled time of this handset so far: the bus time of every transfer plus the agent's
  // NAND operations (a lower bound of what a real handset takes). With realistic timing the
  // union of their modelled periods, as bus transfers and NAND work may overlap; else the sum.
  uint64_t modelled_ns() const;
  // The images of the last accepted download (empty before).
  std::vector<uint8_t> received_tim() const;
  std::vector<uint8_t> received_dkb() const;

 private:
  handset(handset_config cfg, agent_factory agent, std::function<void(const std::string &)> ev);
  void event(const std::string &text) const;
  void booted(const std::vector<uint8_t> &tim, const std::vector<uint8_t> &dkb);
  void leave_and_return(const std::shared_ptr<usb_inproc::attachment> &a, role next);
  void schedule(role next, int delay_ms);
  void timer_loop();
  void plug_as(role r);
  void end_stay_locked(const std::shared_ptr<usb_inproc::attachment> &a);
  uint64_t modelled_locked() const;

  const handset_config cfg_;
  const agent_factory agent_;
  const std::function<void(const std::string &)> events_;
  const std::shared_ptr<util::busy_timeline> timeline_;  // with realistic timing

  mutable std::mutex m_;
  std::condition_variable cv_;
  role role_ = role::unplugged;
  fault_set faults_;
  std::shared_ptr<bootrom_model> rom_;
  std::shared_ptr<usb_inproc::attachment> attachment_;
  std::shared_ptr<usb_inproc::device_model> stay_model_;  // what answers on attachment_
  std::vector<uint8_t> tim_, dkb_;
  int plugs_ = 0;
  uint64_t modelled_done_ns_ = 0;  // of the stays that ended
  bool pending_ = false;  // a re-plug is scheduled
  role pending_role_ = role::unplugged;
  std::chrono::steady_clock::time_point pending_at_;
  bool stop_ = false;
  std::thread timer_;
};

}  // namespace sim
