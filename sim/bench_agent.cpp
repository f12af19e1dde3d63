// What answers when a bench handset runs its agent image. The received images are kept in the
// bench's directory as PORT.tim and PORT.dkb; the agent itself is the silent stub for now.
#include <fstream>

#include "bench.h"

namespace sim {

namespace {

std::string file_name(const std::string &port) {
  std::string s;
  for (char c : port) s += (c == '/' || c == '\\' || c == '\0') ? '_' : c;
  return s;
}

void keep(const std::string &path, const std::vector<uint8_t> &data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

}  // namespace

agent_factory bench_agent_factory(const std::string &dir) {
  return [dir](const agent_boot &boot) -> std::shared_ptr<usb_inproc::device_model> {
    if (!dir.empty()) {
      std::string base = dir + "/" + file_name(boot.device.config().port);
      keep(base + ".tim", boot.tim);
      keep(base + ".dkb", boot.dkb);
    }
    return nullptr;  // the silent stub
  };
}

}  // namespace sim
