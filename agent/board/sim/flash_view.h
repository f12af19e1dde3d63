// What the bench shows of a handset's agent and flash: its state as JSON, and its flash read
// through the BBM mapping (data bytes only), so that tests can compare what was written with
// what was meant. Reads the live agent's record without stopping it: a snapshot, not a lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent.h"
#include "nand_chip.h"
#include "sim_board.h"

namespace agent {

// The agent's state: NAND record, BBM table and state, the register file, the trace lines.
std::string agent_status_json(const agent_core &core, const sim_board &board);

// The state of a fresh agent that has loaded the newest table stored in block 0.
std::string stored_status_json(sim::nand_chip &nand);

// [start, end) in flash data bytes, mapped through `core`'s table; with a null `core` through
// the newest table stored in block 0 (as a fresh agent would load it). False with `error` set.
bool read_through_bbm(sim::nand_chip &nand, const agent_core *core, uint32_t start, uint32_t end,
                      std::vector<uint8_t> &out, std::string &error);

}  // namespace agent
