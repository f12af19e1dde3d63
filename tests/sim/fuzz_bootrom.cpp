// Any byte stream sent to the boot ROM model, split into packets as the input says: it never
// crashes, hangs or grows without bound, whatever it answers.
#include <cstdint>
#include <memory>

#include "bootrom_model.h"
#include "usb/usb_inproc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::bootrom_settings s;
  s.grant_size = 64;
  auto rom = std::make_shared<sim::bootrom_model>(s, sim::fault_set{}, sim::bootrom_callbacks{});
  if (!usb_inproc::plug("fuzz", s.vid, s.pid, rom)) return 0;
  auto h = usb_inproc::host_open("fuzz", s.vid, s.pid);
  size_t pos = 0;
  uint8_t in[512];
  while (h && pos < size) {
    size_t n = 1 + data[pos] % 64;  // the first byte of each piece chooses its length
    ++pos;
    if (n > size - pos) n = size - pos;
    int actual = 0;
    if (n && h->bulk_write(data + pos, static_cast<int>(n), 100, &actual) != 0) break;
    pos += n;
    while (h->bulk_read(in, sizeof in, 1, &actual) == 0) {
    }
  }
  h.reset();
  usb_inproc::unplug_all();
  return 0;
}
