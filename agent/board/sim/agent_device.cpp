// The agent on the in-process bus.
#include "agent_device.h"

namespace agent {

agent_device::agent_device(std::shared_ptr<sim::nand_chip> nand, std::function<void(reset_kind)> on_reset,
                           bool realistic_timing, std::shared_ptr<util::busy_timeline> timeline)
    : nand_(std::move(nand)), state_(std::make_shared<state>(nand_.get())) {
  state_->board.set_on_reset(std::move(on_reset));
  state_->board.set_realistic_timing(realistic_timing);
  state_->board.set_timeline(std::move(timeline));
  state_->core.begin(&state_->board);
}

agent_device::~agent_device() {
  state_->board.close_link();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();  // the state lives on in the thread
    else thread_.join();
  }
}

void agent_device::on_attach(const std::shared_ptr<usb_inproc::attachment> &a) {
  std::weak_ptr<usb_inproc::attachment> weak = a;
  state_->board.set_sender([weak](const uint8_t *p, uint32_t n) {
    auto at = weak.lock();
    if (!at || !at->present()) return false;
    at->send_in(std::span<const uint8_t>(p, n));
    return true;
  });
  state_->board.set_on_room([weak] {
    if (auto at = weak.lock()) at->wake_out();
  });
  std::shared_ptr<state> s = state_;
  thread_ = std::thread([s] { s->board.run_agent([&] { s->core.main_routine(0); }); });
}

bool agent_device::on_out_packet(usb_inproc::attachment &, std::span<const uint8_t> packet) {
  return state_->board.host_out(packet.data(), uint32_t(packet.size()));
}

void agent_device::on_detach(usb_inproc::attachment &) { state_->board.close_link(); }

bool agent_device::running() const {
  return inspect([](const agent_core &core, const sim_board &) { return !core.stopped(); });
}

}  // namespace agent
