// Arbitrary host traffic into the agent core on the bench's board. Input: packets, each a
// two-byte little-endian length (taken modulo 513) followed by that many bytes. The agent may
// stop for good; the host process must never crash or hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent.h"
#include "nand_chip.h"
#include "sim_board.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::nand_config config;
  config.id[1] = 0xE6;  // a small chip keeps whole-flash commands quick
  config.factory_bad_blocks = {3, 200};
  std::string error;
  auto nand = sim::nand_chip::open(config, &error);
  if (!nand) __builtin_trap();
  agent::sim_board board(nand.get());
  board.set_queue_limit(SIZE_MAX);
  size_t sent = 0;
  board.set_sender([&sent](const uint8_t *, uint32_t n) {
    sent += n;
    return sent < (1u << 20);  // a host that stops listening after a MiB
  });
  for (size_t at = 0; at + 2 <= size;) {
    size_t n = (size_t(data[at]) | size_t(data[at + 1]) << 8) % 513;
    at += 2;
    if (n > size - at) n = size - at;
    if (n) board.host_out(data + at, uint32_t(n));
    at += n;
  }
  board.close_link();
  agent::agent_core core;
  core.begin(&board);
  core.run();
  return 0;
}
