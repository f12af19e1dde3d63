// The agent's entry from the start-up code: one board, one core, kept in SRAM.
#include "agent.h"
#include "tavor_board.h"

namespace {
constinit agent::tavor_board the_board;
agent::agent_core the_core;  // zero-initialised by the start-up code
}  // namespace

extern "C" [[noreturn]] void agent_main(uint32_t boot_flags) {
  the_core.begin(&the_board);
  the_core.main_routine(boot_flags);
  the_board.halt();
  for (;;) {
  }
}
