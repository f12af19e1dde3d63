// The boot ROM of a simulated handset: the download protocol's peer, as the handset's
// processor would answer it. It echoes the preamble, reports its version, asks for the TIM
// (0x54494D48) and then the agent image (0x444B4249), grants chunks of at most grant_size
// bytes (less when less remains), checks the TIM against the default TIM the station builds
// (every field; the agent's image_size against the bytes then sent) and refuses a wrong one
// with status 0x6A (a wrong agent length with 0x91; so are data headers and data out of
// sequence, and data of another size than granted), refuses an agent image that is not well
// formed (agent_image_well_formed: vectors first, its stored length) with 0x92 (after a
// refused agent image it asks for the TIM again), and on disconnect hands what it received
// to the handset. Faults: faults.h.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "faults.h"
#include "usb/usb_inproc.h"

namespace sim {

struct bootrom_settings {
  uint16_t vid = 0x8086;
  uint16_t pid = 0xD001;
  uint32_t grant_size = 4096;
  char version[4] = {'3', '.', '0', '1'};
  uint32_t date = 0x20071221;
  uint8_t processor[4] = {'T', 'A', 'V', 0xB0};
};

// What the boot ROM tells its handset; called on the host's writing thread.
struct bootrom_callbacks {
  std::function<void(const std::string &)> event;
  // Disconnect after both images were accepted: the handset now runs the agent image.
  std::function<void(const std::vector<uint8_t> &tim, const std::vector<uint8_t> &dkb)> boot;
};

class bootrom_model final : public usb_inproc::device_model {
 public:
  bootrom_model(bootrom_settings s, fault_set faults, bootrom_callbacks cb);

  void set_faults(const fault_set &f);
  fault_set faults() const;

  // For status reports.
  struct progress {
    uint64_t bytes_received = 0;
    bool tim_accepted = false;
    uint32_t dkb_bytes = 0;
    bool dkb_accepted = false;
  };
  progress state() const;

  void on_attach(const std::shared_ptr<usb_inproc::attachment> &a) override;
  bool on_out_packet(usb_inproc::attachment &a, std::span<const uint8_t> packet) override;

 private:
  void consume(usb_inproc::attachment &a);
  void command(usb_inproc::attachment &a, uint8_t cmd, uint8_t seq, const uint8_t *payload,
               uint32_t len);
  void respond(usb_inproc::attachment &a, int step, uint8_t seq, uint8_t status,
               std::vector<uint8_t> data);
  void send(usb_inproc::attachment &a, int step, std::vector<uint8_t> bytes);
  void finish_image(usb_inproc::attachment &a, uint8_t seq);
  void restart_download();
  bool tim_is_default(const std::vector<uint8_t> &tim, uint32_t *dkb_size) const;
  bool fault_unplug(usb_inproc::attachment &a, int step);

  const bootrom_settings s_;
  const bootrom_callbacks cb_;
  mutable std::mutex m_;  // faults and progress, read by status reports from other threads
  fault_set faults_;
  progress progress_;

  std::vector<uint8_t> pending_;  // bytes of a command not complete yet
  bool preamble_seen_ = false;
  int wanted_ = 0;                // 0: the TIM, 1: the agent image, 2: both received
  uint32_t chunk_ = 0;            // the last grant, until its data arrives
  uint8_t next_seq_ = 1;          // of the next data header; its data carries one more
  uint32_t dkb_size_ = 0;         // from the accepted TIM
  std::vector<uint8_t> image_;    // the image being received
  std::vector<uint8_t> tim_;
  bool gone_ = false;
  std::weak_ptr<usb_inproc::attachment> attachment_;  // for answers sent late
};

}  // namespace sim
