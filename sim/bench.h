// The bench: the configured handsets on the in-process bus, their event lines, their files in
// the bench's directory, and the control commands
//   list | plug PORT | unplug PORT | reset PORT | status PORT | fault PORT SPEC
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench_config.h"
#include "handset.h"

namespace sim {

// The agent that answers on a handset that booted its agent image. The bench's default is
// the silent stub of handset.h; bench_agent.cpp is where the agent on the sim board plugs in.
agent_factory bench_agent_factory(const std::string &dir);

class bench {
 public:
  // `print` gets one line per event (no newline), from any thread.
  bench(const bench_config &cfg, std::string dir, std::function<void(const std::string &)> print);
  ~bench();  // every handset leaves the bus

  void start();  // plugs the handsets configured as plugged
  // One control command; its answer text (no trailing newline). 0, or -1 for a bad command.
  int control(const std::string &command, std::string &answer);

 private:
  std::shared_ptr<handset> find(const std::string &port) const;

  std::string dir_;
  std::function<void(const std::string &)> print_;
  std::vector<std::shared_ptr<handset>> handsets_;
  std::vector<bool> plugged_at_start_;
};

}  // namespace sim
