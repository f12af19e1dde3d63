// The two modes of handset_bench.
#pragma once

#include <string>

namespace sim {

// Serves the handsets of `config` on `socket_path`, files in `dir`, until SIGINT or SIGTERM.
// Exit status: 0, or 1 with a message on standard error.
int run_bench(const std::string &socket_path, const std::string &dir, const std::string &config);

// Sends one control command to a running bench and prints its answer. 0, 1 refused, 2 no bench.
int run_ctl(const std::string &socket_path, const std::string &command);

}  // namespace sim
