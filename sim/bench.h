// The bench: the configured handsets on the in-process bus, their event lines, their files in
// the bench's directory, and the control commands
//   list | plug PORT | unplug PORT | reset PORT | status PORT | fault PORT SPEC
//   read PORT START END FILE       the flash through the agent's BBM mapping, data bytes only
//   nand-fault PORT SPEC           NAND failures from now on (bench_agent.h)
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench_agent.h"
#include "bench_config.h"
#include "handset.h"

namespace sim {

class bench {
 public:
  // `print` gets one line per event (no newline), from any thread.
  bench(const bench_config &cfg, std::string dir, std::function<void(const std::string &)> print);
  ~bench();  // every handset leaves the bus

  // false with `error` set when a handset's NAND file cannot be opened.
  bool ready(std::string &error) const {
    error = error_;
    return error_.empty();
  }
  void start();     // plugs the handsets configured as plugged
  void shutdown();  // every handset leaves the bus: waiting requests end at once
  // One control command; its answer text (no trailing newline). 0, or -1 for a bad command.
  int control(const std::string &command, std::string &answer);

 private:
  std::shared_ptr<handset> find(const std::string &port) const;

  std::string dir_;
  std::string error_;
  std::function<void(const std::string &)> print_;
  std::unique_ptr<bench_agents> agents_;
  std::vector<std::shared_ptr<handset>> handsets_;
  std::vector<bool> plugged_at_start_;
};

}  // namespace sim
