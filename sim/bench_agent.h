// The agents of the bench's handsets: each handset's NAND chip (kept in DIR/PORT.nand, so a
// later flash sees a used flash with its BBM), the agent core on the sim board that answers
// after the boot ROM's disconnect, and what the bench shows of them.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent_device.h"
#include "handset.h"
#include "nand_chip.h"

namespace sim {

class bench_agents {
 public:
  explicit bench_agents(std::string dir) : dir_(std::move(dir)) {}

  // Opens the handset's NAND; false with `error` set when its file does not fit.
  bool add(const std::string &port, const nand_config &nand, std::string &error);
  // The factory of one handset's agent stays.
  agent_factory factory(const std::string &port);

  // The agent's part of `status`: JSON, "null" before the handset first ran its agent.
  std::string status_json(const std::string &port);
  // status-stored PORT: the agent part as a fresh agent would find it on the flash.
  std::string stored_status_json(const std::string &port);
  // read PORT START END FILE: the flash through the agent's current mapping, into FILE. With
  // `stored`, through the table stored on the flash instead (what the next agent will load).
  bool read(const std::string &port, uint32_t start, uint32_t end, const std::string &file, std::string &error,
            bool stored = false);
  // Failures on the handset's NAND from now on.
  bool inject(const std::string &port, const nand_fault &fault);
  // nand-fault PORT none: no more injected failures, and the blocks they wore out work again.
  bool clear(const std::string &port);

 private:
  struct slot {
    std::shared_ptr<nand_chip> nand;
    std::shared_ptr<agent::agent_device> last;  // the running agent, or the one that ran last
  };
  std::string dir_;
  std::mutex m_;
  std::map<std::string, slot> slots_;
};

// "OP:blocks=N,N" | "OP:after=N" | "OP:random=PER_MILLION@SEED", rules separated by ';',
// OP one of erase, program, read. False with `error` set.
bool parse_nand_faults(const std::string &text, std::vector<nand_fault> &out, std::string &error);

}  // namespace sim
