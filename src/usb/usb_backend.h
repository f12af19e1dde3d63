// The operations every transport backend provides. The core (usb.cpp) builds device paths,
// splits transfers into requests, maps statuses to the API's results and writes the capture;
// a backend only lists devices, opens one by its interface name and moves one request.
// Backends: libusb (real handsets), sim (a handset bench over a Unix socket), inproc (device
// models in this process).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace usb_core {

// Largest request handed to a backend; longer transfers are split by the core.
constexpr int max_request = 65536;

// Status of one request, as the backends report it.
enum xfer_status : int {
  xfer_ok = 0,
  xfer_timeout = -1,    // the request's time-out ran out; it has been cancelled
  xfer_no_device = -2,  // the device has left the bus (or the link to it is gone)
  xfer_overflow = -3,   // the device sent a packet larger than the space left in the request
  xfer_error = -4,      // any other failure
};

// One present device. `bus` and `devnum` are the numbers a usbmon capture names it by.
struct device_entry {
  uint16_t vid = 0;
  uint16_t pid = 0;
  std::string name;  // interface name: identifies the physical connection
  int bus = 0;
  int devnum = 0;
};

// An open device: both pipes, IN 0x81 and OUT 0x02.
class open_device {
 public:
  virtual ~open_device() = default;  // closes it; nothing stays open afterwards

  // One bulk OUT request of 1..max_request bytes on 0x02, bounded by timeout_ms (> 0). Sets
  // *actual to the bytes the device took (all of them on xfer_ok). No zero-length packet
  // follows a request that is a multiple of the packet size.
  virtual xfer_status bulk_write(const uint8_t *data, int len, int timeout_ms, int *actual) = 0;

  // One bulk IN request of 1..max_request bytes on 0x81, bounded by timeout_ms (> 0). It ends
  // when len bytes have arrived or the device sent a short packet; *actual is the count
  // received, also on failure.
  virtual xfer_status bulk_read(uint8_t *data, int len, int timeout_ms, int *actual) = 0;

  // Capture numbers of the open device.
  virtual int bus() const = 0;
  virtual int devnum() const = 0;
};

class backend {
 public:
  virtual ~backend() = default;

  // Appends the present devices to `out`. false when the listing itself failed. Called from
  // any thread, also while devices are open.
  virtual bool list(std::vector<device_entry> &out) = 0;

  // Opens the device on connection `name` if it has the identity vid/pid. null on any failure
  // (absent, other identity, already open, not permitted), leaving nothing open.
  virtual std::unique_ptr<open_device> open(const std::string &name, uint16_t vid,
                                            uint16_t pid) = 0;
};

// Made on first use from NORVANE_USB (or usb_use_backend); null for an unknown name.
std::unique_ptr<backend> make_libusb_backend();
std::unique_ptr<backend> make_sim_backend(const std::string &socket_path);
std::unique_ptr<backend> make_inproc_backend();

}  // namespace usb_core
