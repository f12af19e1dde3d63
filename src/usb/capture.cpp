// NORVANE_USB_CAPTURE=FILE: every bulk request as the kernel's usbmon records it in its binary
// (mmapped) form, written by libpcap with link type 220 (LINKTYPE_USB_LINUX_MMAPPED), so that
// tshark and Wireshark show it as a USB capture and umockdev can replay it.
//
// Record: a 64-byte usbmon header, then the data.
//   0 u64 URB id    8 type 'S'/'C'   9 transfer type (3 bulk)   10 endpoint (0x80 = IN)
//  11 device       12 u16 bus       14 flag_setup '-'          15 flag_data (0: data follows)
//  16 s64 seconds  24 s32 microseconds  28 s32 status  32 u32 URB length  36 u32 captured length
//  40 setup/iso (0)  48 interval  52 start frame  56 transfer flags  60 ISO descriptors
// As usbmon writes them: an OUT submission carries the data (status -EINPROGRESS), its
// completion none (flag '>', length = bytes moved); an IN submission carries none (flag '<',
// length = bytes asked), its completion the bytes received.
#include "capture.h"

#include <pcap/pcap.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace usb_core {
namespace {

constexpr int kHeaderSize = 64;
constexpr int kLinktypeUsbLinuxMmapped = 220;
constexpr uint8_t kBulk = 3;
constexpr uint32_t kUrbDirIn = 0x0200;

class capture_file {
 public:
  capture_file() {
    const char *path = std::getenv("NORVANE_USB_CAPTURE");
    if (!path || !*path) return;
    pcap_ = pcap_open_dead(kLinktypeUsbLinuxMmapped, kHeaderSize + max_request);
    if (pcap_) dumper_ = pcap_dump_open(pcap_, path);
    if (!dumper_) std::fprintf(stderr, "usb: cannot write capture file %s\n", path);
  }
  ~capture_file() {
    if (dumper_) pcap_dump_close(dumper_);
    if (pcap_) pcap_close(pcap_);
  }
  capture_file(const capture_file &) = delete;
  capture_file &operator=(const capture_file &) = delete;

  bool active() const { return dumper_ != nullptr; }

  // One whole record under the lock, so that threads never interleave inside it.
  void write(const uint8_t *header, const uint8_t *data, uint32_t len_cap) {
    timeval tv;
    gettimeofday(&tv, nullptr);
    std::vector<uint8_t> rec(header, header + kHeaderSize);
    std::memcpy(&rec[16], &tv.tv_sec, 8);
    int32_t usec = static_cast<int32_t>(tv.tv_usec);
    std::memcpy(&rec[24], &usec, 4);
    if (len_cap) rec.insert(rec.end(), data, data + len_cap);
    pcap_pkthdr h{};
    h.ts = tv;
    h.caplen = h.len = static_cast<bpf_u_int32>(rec.size());
    std::lock_guard<std::mutex> lock(m_);
    pcap_dump(reinterpret_cast<u_char *>(dumper_), &h, rec.data());
    pcap_dump_flush(dumper_);
  }

 private:
  pcap_t *pcap_ = nullptr;
  pcap_dumper_t *dumper_ = nullptr;
  std::mutex m_;
};

capture_file &the_capture() {
  static capture_file f;
  return f;
}

// The status a usbmon completion shows for each outcome: libusb cancels a timed-out URB
// (-ENOENT); a vanished device's URBs end with -ESHUTDOWN.
int32_t usbmon_status(xfer_status st) {
  switch (st) {
    case xfer_ok: return 0;
    case xfer_timeout: return -ENOENT;
    case xfer_no_device: return -ESHUTDOWN;
    case xfer_overflow: return -EOVERFLOW;
    default: return -EPROTO;
  }
}

void fill(uint8_t *h, uint64_t id, char type, pipe_dir dir, int bus, int devnum, int32_t status,
          uint32_t urb_len, uint32_t len_cap, uint8_t flag_data) {
  std::memset(h, 0, kHeaderSize);
  std::memcpy(h, &id, 8);
  h[8] = static_cast<uint8_t>(type);
  h[9] = kBulk;
  h[10] = dir == pipe_dir::in ? 0x81 : 0x02;
  h[11] = static_cast<uint8_t>(devnum);
  uint16_t b = static_cast<uint16_t>(bus);
  std::memcpy(h + 12, &b, 2);
  h[14] = '-';
  h[15] = flag_data;
  std::memcpy(h + 28, &status, 4);
  std::memcpy(h + 32, &urb_len, 4);
  std::memcpy(h + 36, &len_cap, 4);
  uint32_t flags = dir == pipe_dir::in ? kUrbDirIn : 0;
  std::memcpy(h + 56, &flags, 4);
}

}  // namespace

uint64_t capture_submit(int bus, int devnum, pipe_dir dir, const uint8_t *data, int len) {
  capture_file &f = the_capture();
  if (!f.active()) return 0;
  // URB ids look like the kernel's addresses; they only need to pair submission and completion.
  static std::atomic<uint64_t> next{0};
  uint64_t id = 0xffff888000000000ull + (++next) * 0x100;
  uint8_t h[kHeaderSize];
  uint32_t n = static_cast<uint32_t>(len);
  if (dir == pipe_dir::out) {
    fill(h, id, 'S', dir, bus, devnum, -EINPROGRESS, n, n, 0);
    f.write(h, data, n);
  } else {
    fill(h, id, 'S', dir, bus, devnum, -EINPROGRESS, n, 0, '<');
    f.write(h, nullptr, 0);
  }
  return id;
}

void capture_complete(uint64_t id, int bus, int devnum, pipe_dir dir, xfer_status st,
                      const uint8_t *data, int, int actual) {
  capture_file &f = the_capture();
  if (!f.active()) return;
  uint8_t h[kHeaderSize];
  uint32_t n = static_cast<uint32_t>(actual);
  if (dir == pipe_dir::out) {
    fill(h, id, 'C', dir, bus, devnum, usbmon_status(st), n, 0, '>');
    f.write(h, nullptr, 0);
  } else {
    fill(h, id, 'C', dir, bus, devnum, usbmon_status(st), n, n, 0);
    f.write(h, data, n);
  }
}

}  // namespace usb_core
