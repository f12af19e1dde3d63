// The bench's board: everything the agent touches, modelled in memory.
#include "sim_board.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "registers.h"

namespace agent {

namespace {
constexpr uint8_t micco_watchdog = 0x0B;
constexpr uint8_t micco_watchdog_reset_bits = 0x84;  // enabled and resetting
constexpr size_t trace_limit = 1000;
}  // namespace

sim_board::sim_board(sim::nand_chip *nand) : nand_(nand), sram_(sram_size, 0), ddr_(ddr_size, 0) {
  pmic_[micco_watchdog] = 0x04;
}

// ---- host side ----

bool sim_board::host_out(const uint8_t *packet, uint32_t length) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return true;  // the agent is gone; the packet falls on the floor
    if (out_.size() >= queue_limit_) return false;
    out_.emplace_back(packet, packet + length);
  }
  cv_.notify_all();
  return true;
}

std::vector<uint8_t> sim_board::take_in_bytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint8_t> v;
  v.swap(in_);
  return v;
}

void sim_board::close_link() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  cv_.notify_all();
}

size_t sim_board::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_.size();
}

// ---- USB ----

bool sim_board::usb_start() { return true; }

int sim_board::usb_receive(uint8_t *packet) {
  std::vector<uint8_t> p;
  // The agent's state may be looked at while it waits here, and only here.
  if (core_held_) core_mutex_.unlock();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return !out_.empty() || closed_ || reset_ != reset_kind::none; });
    if (!out_.empty() && reset_ == reset_kind::none) {
      p = std::move(out_.front());
      out_.pop_front();
    }
  }
  if (core_held_) core_mutex_.lock();
  if (p.empty()) return -1;
  if (on_room_) on_room_();
  std::memcpy(packet, p.data(), p.size());
  return int(p.size());
}

bool sim_board::usb_send(const uint8_t *packet, uint32_t length) {
  if (realistic_) pacer_.settle();  // the host sees nothing before the NAND is done
  if (sender_) return sender_(packet, length);
  std::lock_guard<std::mutex> lock(mutex_);
  if (reset_ != reset_kind::none) return false;
  in_.insert(in_.end(), packet, packet + length);
  return true;
}

// ---- NAND ----

template <class Op>
int sim_board::timed(Op op) {
  auto start = util::pacer::clock::now();
  uint64_t before = nand_->stats().busy_ns;
  int r = op();
  uint64_t d = nand_->stats().busy_ns - before;
  modelled_nand_ns_ += d;
  if (!realistic_) return r;
  // The agent's answers settle the chip's time (usb_send): no wake-up per page.
  pacer_.add(start, std::chrono::nanoseconds(d), timeline_.get());
  return r;
}

int sim_board::nand_read_id(uint32_t cs, nand_id *id) { return nand_->read_id(cs, id->byte); }

int sim_board::nand_erase_block(uint32_t cs, uint32_t block) {
  return timed([&] { return nand_->erase(cs, block); });
}

int sim_board::nand_program_page(uint32_t cs, uint32_t page, const uint8_t *data, uint32_t data_length,
                                 const uint8_t *spare, uint32_t spare_length) {
  return timed([&] { return nand_->program(cs, page, data, data_length, spare, spare_length); });
}

int sim_board::nand_read_page(uint32_t cs, uint32_t page, uint8_t *data, uint32_t data_length,
                              uint8_t *spare, uint32_t spare_length, bool) {
  return timed([&] { return nand_->read(cs, page, data, data_length, spare, spare_length); });
}

// ---- memory and registers ----

uint8_t *sim_board::memory(uint32_t address, uint32_t length) {
  auto inside = [&](uint32_t base, uint32_t size) {
    return address >= base && address - base <= size && length <= size - (address - base);
  };
  if (inside(sram_base, sram_size)) return sram_.data() + (address - sram_base);
  if (inside(ddr_base, ddr_size)) return ddr_.data() + (address - ddr_base);
  return nullptr;
}

uint32_t sim_board::reg_read(uint32_t address) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (address == reg::ost_oscr0) return uint32_t(os_timer_ += 3250);  // 3.25 MHz, a millisecond a read
  auto it = regs_.find(address);
  return it == regs_.end() ? 0 : it->second;
}

void sim_board::reg_write(uint32_t address, uint32_t value) {
  bool reset = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    regs_[address] = value;
    if (address == reg::ost_ower) watchdog_armed_ = value & reg::ost_ower_wme;
    if (address == reg::ost_osmr3 && watchdog_armed_) reset = true;
  }
  if (reset) request_reset(reset_kind::soft);
}

// ---- PMIC ----

int sim_board::i2c_write(uint8_t bus_address, const uint8_t *bytes, uint32_t count) {
  bool reset = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (i2c_failures_) {
      --i2c_failures_;
      return -1;
    }
    if (bus_address != reg::micco_write_address || count < 1 || count > 2) return -1;
    pmic_pointer_ = bytes[0];
    if (count == 2) {
      pmic_[bytes[0]] = bytes[1];
      reset = bytes[0] == micco_watchdog &&
              (bytes[1] & micco_watchdog_reset_bits) == micco_watchdog_reset_bits;
    }
  }
  if (reset) request_reset(reset_kind::hard);
  return 0;
}

int sim_board::i2c_read(uint8_t bus_address, uint8_t *bytes, uint32_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (i2c_failures_) {
    --i2c_failures_;
    return -1;
  }
  if (bus_address != reg::micco_read_address || count != 1) return -1;
  bytes[0] = pmic_[pmic_pointer_];
  return 0;
}

// ---- trace, halt, resets ----

void sim_board::trace(const char *text) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const char *c = text; *c; ++c) {
    if (*c == '\n') {
      if (!trace_line_.empty() && trace_line_.back() == '\r') trace_line_.pop_back();
      if (trace_.size() < trace_limit) trace_.push_back(trace_line_);
      trace_line_.clear();
    } else {
      trace_line_ += *c;
    }
  }
}

void sim_board::halt() {
  std::lock_guard<std::mutex> lock(mutex_);
  halted_ = true;
}

void sim_board::request_reset(reset_kind kind) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reset_ != reset_kind::none) return;
    reset_ = kind;
    if (kind == reset_kind::hard) regs_.clear();  // the PMIC's watchdog takes the RTC with it
  }
  cv_.notify_all();
  if (on_reset_) on_reset_(kind);
}

sim_board::register_view sim_board::registers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {regs_, std::vector<uint8_t>(pmic_, pmic_ + 256)};
}

std::vector<std::string> sim_board::trace_lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return trace_;
}

bool sim_board::halted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return halted_;
}

reset_kind sim_board::reset_requested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reset_;
}

}  // namespace agent
