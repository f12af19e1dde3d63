// handset_bench's socket: serves the bench's bus to the sim:PATH backend, one connection per
// opened device (usb_sim_protocol.h). Opens are exclusive, each request's time-out is
// enforced by the bus, and a device that leaves fails the requests of its connection.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "bench.h"

namespace sim {

class bench_server {
 public:
  bench_server(bench &b, std::string socket_path, std::function<void(const std::string &)> print);
  ~bench_server();  // stop()

  // Binds the socket (replacing a stale one) and starts serving. false with `error` set.
  bool start(std::string &error);
  // Stops accepting, ends every connection, waits for their threads, removes the socket.
  void stop();

 private:
  struct connection {
    int fd;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void accept_loop();
  void serve(connection &c);
  void reap(bool all);

  bench &bench_;
  const std::string path_;
  const std::function<void(const std::string &)> print_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::thread acceptor_;
  std::mutex m_;
  std::list<std::unique_ptr<connection>> connections_;
  bool stopping_ = false;
};

}  // namespace sim
