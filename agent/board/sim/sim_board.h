// The agent's board on the handset bench: USB packets through a queue, the NAND chip model,
// RAM, and a register file for the PMIC, GPIO, RTC and OS timer. A software or hardware reset
// (the OS-timer watchdog armed, or the PMIC watchdog enabled) ends the agent's link: the bench
// brings the handset back as a boot ROM.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board.h"
#include "nand_chip.h"
#include "util/pacer.h"

namespace agent {

enum class reset_kind { none, soft, hard };

class sim_board final : public board {
 public:
  // `nand` must outlive the board.
  explicit sim_board(sim::nand_chip *nand);
  ~sim_board() = default;

  // Runs the agent's main routine on the calling thread with the agent's state held: other
  // threads that look at the core (status reports, read-back) take `core_mutex()` and so see it
  // only while the agent waits for the host's next packet.
  template <class F>
  void run_agent(F &&f) {
    std::lock_guard<std::mutex> hold(core_mutex_);
    core_held_ = true;
    f();
    core_held_ = false;
  }
  std::mutex &core_mutex() const { return core_mutex_; }

  // ---- the host's side ----

  // One OUT packet from the host (1..512 bytes). False when the queue is full (the bus then
  // offers it again after `on_room`) or the link is closed.
  bool host_out(const uint8_t *packet, uint32_t length);
  // Called (from the agent's thread) whenever a queued OUT packet was taken.
  void set_on_room(std::function<void()> f) { on_room_ = std::move(f); }
  // Where IN packets go; without one they collect in `in_bytes()`.
  void set_sender(std::function<bool(const uint8_t *, uint32_t)> f) { sender_ = std::move(f); }
  std::vector<uint8_t> take_in_bytes();
  // From now on the agent sees the end of the link once the queued packets are used up.
  void close_link();
  // OUT packets queued and not yet taken by the agent.
  size_t pending() const;
  void set_on_reset(std::function<void(reset_kind)> f) { on_reset_ = std::move(f); }

  // ---- faults and timing ----
  // The next `count` I2C transfers fail.
  void fail_i2c(uint32_t count) { i2c_failures_ = count; }
  // With the timing model on, each NAND operation holds the agent's thread for the chip's
  // modelled time of it (nand_config: page read and program, block erase, bytes moved).
  void set_realistic_timing(bool on) { realistic_ = on; }
  // With the timing model on, each NAND operation's modelled period also goes to `t`.
  void set_timeline(std::shared_ptr<util::busy_timeline> t) { timeline_ = std::move(t); }
  // The modelled time of the NAND operations of this board so far, timing model on or off.
  uint64_t modelled_nand_ns() const { return modelled_nand_ns_.load(); }

  // ---- what the bench's status report shows ----
  struct register_view {
    std::map<uint32_t, uint32_t> registers;
    std::vector<uint8_t> pmic;
  };
  register_view registers() const;
  std::vector<std::string> trace_lines() const;
  bool halted() const;
  reset_kind reset_requested() const;

  // ---- board ----
  bool usb_start() override;
  int usb_receive(uint8_t *packet) override;
  bool usb_send(const uint8_t *packet, uint32_t length) override;
  int nand_read_id(uint32_t cs, nand_id *id) override;
  int nand_erase_block(uint32_t cs, uint32_t block) override;
  int nand_program_page(uint32_t cs, uint32_t page, const uint8_t *data, uint32_t data_length,
                        const uint8_t *spare, uint32_t spare_length) override;
  int nand_read_page(uint32_t cs, uint32_t page, uint8_t *data, uint32_t data_length,
                     uint8_t *spare, uint32_t spare_length, bool ecc) override;
  uint8_t *memory(uint32_t address, uint32_t length) override;
  uint32_t reg_read(uint32_t address) override;
  void reg_write(uint32_t address, uint32_t value) override;
  bool i2c_pin_setup() override { return true; }
  int i2c_write(uint8_t bus_address, const uint8_t *bytes, uint32_t count) override;
  int i2c_read(uint8_t bus_address, uint8_t *bytes, uint32_t count) override;
  void i2c_reset() override {}
  void trace(const char *text) override;
  void halt() override;

  static constexpr uint32_t sram_base = 0x5C000000, sram_size = 1u << 20;
  static constexpr uint32_t ddr_base = 0x80000000, ddr_size = 4u << 20;
  // OUT packets held before the bus is told to wait (a scripted host may lift the limit).
  void set_queue_limit(size_t packets) { queue_limit_ = packets; }

 private:
  void request_reset(reset_kind kind);
  // Runs one NAND operation of the chip and accounts (and, realistic, waits out) its time.
  template <class Op>
  int timed(Op op);

  sim::nand_chip *nand_;
  std::vector<uint8_t> sram_, ddr_;

  mutable std::mutex mutex_;
  mutable std::mutex core_mutex_;
  bool core_held_ = false;  // by the agent's own thread, in run_agent; touched by it alone
  std::condition_variable cv_;
  std::deque<std::vector<uint8_t>> out_;
  bool closed_ = false;
  size_t queue_limit_ = 256;
  std::vector<uint8_t> in_;
  std::function<void()> on_room_;
  std::function<bool(const uint8_t *, uint32_t)> sender_;
  std::function<void(reset_kind)> on_reset_;

  std::map<uint32_t, uint32_t> regs_;
  uint8_t pmic_[256] = {};
  uint8_t pmic_pointer_ = 0;
  uint32_t i2c_failures_ = 0;
  uint64_t os_timer_ = 0;
  bool watchdog_armed_ = false;

  std::vector<std::string> trace_;
  std::string trace_line_;
  bool halted_ = false;
  reset_kind reset_ = reset_kind::none;
  bool realistic_ = false;
  std::atomic<uint64_t> modelled_nand_ns_{0};
  util::pacer pacer_;
  std::shared_ptr<util::busy_timeline> timeline_;
};

}  // namespace agent
