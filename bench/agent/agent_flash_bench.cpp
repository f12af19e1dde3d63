// Writing and reading back 64 MiB through the station's libdkb and the agent core on the sim
// board, on the in-process bus. Timing off: MB/s and the station thread's CPU per MiB. Timing
// on (the bus's per-request and per-byte time and the NAND chip's operation times, as the
// bench's realistic timing): actual time over the modelled lower bound, bus and NAND together.
// Prints BENCH lines on standard output, the rest on standard error.
//   agent_flash_bench [MiB]
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent_device.h"
#include "libdkb/libdkb.h"
#include "nand_chip.h"
#include "usb/usb.h"
#include "usb/usb_inproc.h"

namespace {

double thread_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct figures {
  double write_s, read_s, write_cpu, read_cpu, modelled_write_s, modelled_read_s;
  bool same;
};

bool run(bool realistic, size_t mib, figures &f) {
  std::string error;
  sim::nand_config config;  // 128 MiB, 2 KiB pages
  std::shared_ptr<sim::nand_chip> nand = sim::nand_chip::open(config, &error);
  if (!nand) return false;
  std::string port = "agentbench" + std::to_string(getpid()) + (realistic ? "r" : "n");
  auto timeline = realistic ? std::make_shared<util::busy_timeline>() : nullptr;
  auto model = std::make_shared<agent::agent_device>(nand, nullptr, realistic, timeline);
  usb_inproc::timing timing;
  timing.realistic = realistic;
  timing.timeline = timeline;
  auto bus = usb_inproc::plug(port, 0x1286, 0x8111, model, 1, timing);
  if (!bus) return false;
  // Realistic: the union of the modelled periods (the agent's first message words of a flash
  // command travel while its NAND works); else the sum.
  auto modelled = [&] { return timeline ? timeline->total_ns() : bus->modelled_ns() + model->modelled_work_ns(); };
  std::string path = "\\\\?\\usb#vid_1286&pid_8111#" + port + "#" USB_GUID_TEXT;
  usb_dev_handle *dev = usb_open(path.c_str());
  if (!dev) return false;
  int found = 0;
  comm_protocol_flash_info_resp info{};
  if (dkb_init_nand(dev, &found) || dkb_set_nand_bbm_reloc_area(dev, 1000 * 131072, 1024 * 131072) ||
      dkb_init_bbm_used_flash(dev, nullptr, nullptr) || dkb_get_nand_info(dev, &info))
    return false;

  size_t size = mib << 20;
  std::vector<char> image(size), back(size);
  for (size_t i = 0; i < size; ++i) image[i] = char(i * 2654435761u >> 13);
  const int start = 0x00100000, end = start + int(size);

  auto busy0 = modelled();
  auto t0 = std::chrono::steady_clock::now();
  double c0 = thread_cpu_seconds();
  int r = dkb_flash_write(dev, image.data(), int(size), start, end, 1, int(info.page_size), int(info.block_size), 0, 1,
                          0, nullptr, nullptr);
  double c1 = thread_cpu_seconds();
  auto t1 = std::chrono::steady_clock::now();
  auto busy1 = modelled();
  if (r) return false;
  r = dkb_flash_read(dev, back.data(), start, end, 1, int(info.page_size), int(info.block_size), 0, 1, 0, nullptr,
                     nullptr);
  double c2 = thread_cpu_seconds();
  auto t2 = std::chrono::steady_clock::now();
  auto busy2 = modelled();
  if (r) return false;
  f.write_s = std::chrono::duration<double>(t1 - t0).count();
  f.read_s = std::chrono::duration<double>(t2 - t1).count();
  f.write_cpu = c1 - c0;
  f.read_cpu = c2 - c1;
  f.modelled_write_s = double(busy1 - busy0) / 1e9;
  f.modelled_read_s = double(busy2 - busy1) / 1e9;
  f.same = std::memcmp(image.data(), back.data(), size) == 0;
  usb_close(dev);
  usb_inproc::unplug(port);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  size_t mib = argc > 1 ? size_t(std::atoi(argv[1])) : 64;
  if (mib < 1 || mib > 100) return 2;
  usb_use_backend("inproc");
  FILE *report = fdopen(dup(1), "w");
  std::freopen("/dev/null", "w", stdout);  // libdkb's progress dots
  figures off{}, on{};
  if (!run(false, mib, off) || !run(true, mib, on)) {
    std::fprintf(stderr, "agent_flash_bench: a transfer failed\n");
    return 1;
  }
  double m = double(mib);
  std::fprintf(stderr, "timing off, %zu MiB: write %.1f MB/s (station CPU %.2f ms/MiB), read %.1f MB/s "
                       "(station CPU %.2f ms/MiB), read back %s\n",
               mib, m * 1.048576 / off.write_s, 1000 * off.write_cpu / m, m * 1.048576 / off.read_s,
               1000 * off.read_cpu / m, off.same ? "identical" : "DIFFERENT");
  std::fprintf(stderr, "timing on,  %zu MiB: write %.2f s of modelled %.2f s (ratio %.3f), read %.2f s of "
                       "modelled %.2f s (ratio %.3f), read back %s\n",
               mib, on.write_s, on.modelled_write_s, on.write_s / on.modelled_write_s, on.read_s, on.modelled_read_s,
               on.read_s / on.modelled_read_s, on.same ? "identical" : "DIFFERENT");
  std::fprintf(report, "BENCH\tagent bench, timing off: write MB/s (%zu MiB)\t-\t%.1f\n", mib,
               m * 1.048576 / off.write_s);
  std::fprintf(report, "BENCH\tagent bench, timing off: read MB/s (%zu MiB)\t-\t%.1f\n", mib,
               m * 1.048576 / off.read_s);
  std::fprintf(report, "BENCH\tagent bench write time / modelled bus+NAND time (%zu MiB)\t<= 1.02\t%.3f\n", mib,
               on.write_s / on.modelled_write_s);
  std::fprintf(report, "BENCH\tagent bench read time / modelled bus+NAND time (%zu MiB)\t<= 1.02\t%.3f\n", mib,
               on.read_s / on.modelled_read_s);
  std::fclose(report);
  return off.same && on.same ? 0 : 1;
}
