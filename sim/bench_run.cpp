#include "bench_run.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "bench.h"
#include "bench_server.h"
#include "usb/usb_sim_protocol.h"

namespace sim {
namespace {

bool make_dirs(const std::string &dir) {
  std::string part;
  for (size_t i = 0; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '/') {
      if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    if (i < dir.size()) part += dir[i];
  }
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int run_bench(const std::string &socket_path, const std::string &dir, const std::string &config) {
  // Signals are taken by sigwait below, never by a worker thread.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  // The timing model sleeps to the microsecond; the default 50 us timer slack, inherited by
  // every thread made from here, would add to each modelled wait.
  prctl(PR_SET_TIMERSLACK, 1UL);

  bench_config cfg;
  std::string error;
  if (!load_bench_config(config, cfg, error)) {
    std::fprintf(stderr, "handset_bench: %s\n", error.c_str());
    return 1;
  }
  if (!make_dirs(dir)) {
    std::fprintf(stderr, "handset_bench: cannot use directory %s\n", dir.c_str());
    return 1;
  }
  std::mutex print_mutex;
  auto print = [&print_mutex](const std::string &line) {
    std::lock_guard<std::mutex> lock(print_mutex);
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
  };
  int status = 0;
  {
    bench b(cfg, dir, print);
    if (!b.ready(error)) {
      std::fprintf(stderr, "handset_bench: %s\n", error.c_str());
      return 1;
    }
    bench_server server(b, socket_path, print);
    if (!server.start(error)) {
      std::fprintf(stderr, "handset_bench: %s\n", error.c_str());
      return 1;
    }
    print("handset_bench: " + std::to_string(cfg.handsets.size()) + " handsets on " + socket_path);
    b.start();
    int sig = 0;
    sigwait(&stop_signals, &sig);
    print(std::string("handset_bench: stopping on ") + (sig == SIGINT ? "SIGINT" : "SIGTERM"));
    b.shutdown();
    server.stop();
  }
  print("handset_bench: stopped");
  return status;
}

int run_ctl(const std::string &socket_path, const std::string &command) {
  std::string answer;
  int st = usb_sim::control(socket_path.c_str(), command.c_str(), answer);
  if (st == -2) {
    std::fprintf(stderr, "handset_bench: no bench answers on %s\n", socket_path.c_str());
    return 2;
  }
  if (!answer.empty()) std::fprintf(st == 0 ? stdout : stderr, "%s\n", answer.c_str());
  return st == 0 ? 0 : 1;
}

}  // namespace sim
