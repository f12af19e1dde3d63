// The agent as a device on the in-process bus: the agent core runs on its own thread over a
// sim_board whose USB side is the bus attachment. OUT packets the agent has not taken yet are
// held (up to the board's queue limit, then refused until it catches up). The NAND chip is
// shared and outlives the device, so the next stay of the handset finds the flash as it was left.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "agent.h"
#include "sim_board.h"
#include "usb/usb_inproc.h"

namespace agent {

class agent_device final : public usb_inproc::device_model {
 public:
  // `on_reset` is called from the agent's thread when the agent resets the handset. With
  // `realistic_timing` the NAND operations take their modelled time (sim_board) and their
  // periods go to `timeline`, the handset's, which its bus requests share.
  agent_device(std::shared_ptr<sim::nand_chip> nand, std::function<void(reset_kind)> on_reset,
               bool realistic_timing = false, std::shared_ptr<util::busy_timeline> timeline = nullptr);
  ~agent_device() override;

  void on_attach(const std::shared_ptr<usb_inproc::attachment> &a) override;
  bool on_out_packet(usb_inproc::attachment &a, std::span<const uint8_t> packet) override;
  void on_detach(usb_inproc::attachment &a) override;
  // The NAND operations' modelled time on this stay.
  uint64_t modelled_work_ns() const override { return state_->board.modelled_nand_ns(); }

  // For status reports and read-back from other threads: `f(core, board)` runs while the agent
  // waits for the host, so it sees a whole command's effect or none of it.
  template <class F>
  auto inspect(F &&f) const {
    std::lock_guard<std::mutex> hold(state_->board.core_mutex());
    return f(static_cast<const agent_core &>(state_->core), static_cast<const sim_board &>(state_->board));
  }
  bool running() const;

 private:
  struct state {
    explicit state(sim::nand_chip *nand) : board(nand) {}
    sim_board board;
    agent_core core{};
  };
  std::shared_ptr<sim::nand_chip> nand_;
  std::shared_ptr<state> state_;
  std::thread thread_;
};

}  // namespace agent
