// How fast the bench's transports are, so that later benchmarks know the bench is not what
// limits them: bulk OUT throughput in requests of 65,536 bytes, and the cost of one small
// command/answer exchange (8 bytes out, 6 bytes back), on the inproc and sim backends.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "bench_server.h"
#include "usb/usb.h"
#include "usb/usb_inproc.h"

namespace {

// Takes everything; answers every 8-byte command with 6 bytes.
class echo_device : public usb_inproc::device_model {
 public:
  void on_attach(const std::shared_ptr<usb_inproc::attachment> &a) override { a_ = a; }
  bool on_out_packet(usb_inproc::attachment &a, std::span<const uint8_t> p) override {
    if (p.size() == 8) {
      static const uint8_t answer[6] = {0x20, 0, 0, 0, 0, 0};
      a.send_in(answer);
    }
    return true;
  }

 private:
  std::shared_ptr<usb_inproc::attachment> a_;
};

const std::string kPath = "\\\\?\\usb#vid_1286&pid_8111#bench-1#" USB_GUID_TEXT;

// The sim backend talks to a bench server in this process, over a real Unix socket.
struct sim_server {
  sim_server() {
    path = "/tmp/usb_bench_" + std::to_string(::getpid()) + ".sock";
    b = std::make_unique<sim::bench>(sim::bench_config{}, "", [](const std::string &) {});
    server = std::make_unique<sim::bench_server>(*b, path, [](const std::string &) {});
    std::string error;
    server->start(error);
  }
  std::string path;
  std::unique_ptr<sim::bench> b;
  std::unique_ptr<sim::bench_server> server;
};

usb_dev_handle *open_device(bool sim) {
  static sim_server *server = nullptr;
  if (sim && !server) server = new sim_server;  // lives until exit
  usb_use_backend(sim ? ("sim:" + server->path).c_str() : "inproc");
  usb_inproc::unplug_all();
  usb_inproc::plug("bench-1", 0x1286, 0x8111, std::make_shared<echo_device>());
  return usb_open(kPath.c_str());
}

void BM_BulkWrite64k(benchmark::State &state) {
  usb_dev_handle *h = open_device(state.range(0) != 0);
  if (!h) return state.SkipWithError("cannot open");
  std::vector<char> data(65536, 'x');
  for (auto _ : state)
    if (usb_bulk_write(h, 0x02, data.data(), 65536, 5000) != 65536) state.SkipWithError("write");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 65536);
  usb_close(h);
}

void BM_CommandRoundTrip(benchmark::State &state) {
  usb_dev_handle *h = open_device(state.range(0) != 0);
  if (!h) return state.SkipWithError("cannot open");
  char cmd[8] = {0x20}, answer[6];
  for (auto _ : state) {
    if (usb_bulk_write(h, 0x02, cmd, 8, 5000) != 8 || usb_bulk_read(h, 0x81, answer, 6, 5000) != 6)
      state.SkipWithError("exchange");
  }
  usb_close(h);
}

}  // namespace

BENCHMARK(BM_BulkWrite64k)->ArgName("sim")->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_CommandRoundTrip)->ArgName("sim")->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK_MAIN();
