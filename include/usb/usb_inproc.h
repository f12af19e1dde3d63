// The in-process virtual USB bus behind the `inproc` backend (NORVANE_USB=inproc), and the
// handset bench's bus. Device models plug into named ports; the transport API (usb.h) lists
// them as \\?\usb#vid_XXXX&pid_XXXX#PORT#{...} and opens them by that path.
//
// What a model sees, as a high-speed device's firmware would:
// - Each bulk OUT request of the host (at most 65,536 bytes) arrives as packets of at most 512
//   bytes, in order, on the host's writing thread: full packets and a short last one; no
//   zero-length packet, so a request of a multiple of 512 bytes ends with a full packet.
// - IN data is what the model queues with attachment::send_in: one call is one device-side
//   transfer, split into packets of 512 bytes and a short last one (no zero-length packet).
//   A host read request ends when it is full or at a short packet; a packet larger than the
//   space left in the request is an overflow (the host read fails with -5), as on real USB.
// - Per-request time-outs are the host's: a read waits for IN packets at most its time-out, a
//   write whose packet the model refuses (NAK) waits at most its time-out for wake_out().
// - A port is opened exclusively: a second usb_open of an open device fails.
// - Unplugging (by the model, the bus or a test) is immediate and exact: open handles fail from
//   then on, reads with -116 and writes with -1, also requests already waiting; queued IN data
//   is dropped. The port name is free at once, so the handset can come back on the same port
//   under another identity (plug again with a new model). A handle of the old stay never
//   reaches the new one.
//
// Threads: every function is thread-safe. The bus never holds a lock while it calls a model,
// so a model may call send_in, unplug and plug from inside its callbacks.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "util/pacer.h"

namespace usb_inproc {

constexpr size_t max_packet = 512;

// Bus time of one request: per_request_us + bytes * ns_per_byte (defaults: a microframe and
// about 40 MB/s, USB 2.0 high-speed bulk). Every attachment adds up this modelled time, a lower
// bound of what the transfers take on a real bus; with `realistic` each request also lasts at
// least that long, otherwise the bus runs as fast as it can.
// With `realistic`, each request's modelled period is also added to `timeline` when given: the
// device's other parts (its NAND) add theirs there too, for the device's modelled lower bound.
struct timing {
  bool realistic = false;
  uint32_t per_request_us = 125;
  uint32_t ns_per_byte = 25;
  std::shared_ptr<util::busy_timeline> timeline;
};

class attachment;

// A device's firmware side. Callbacks of one attachment never run concurrently with each other
// (except on_detach, which may come from any thread, e.g. a test unplugging during a write).
class device_model {
 public:
  virtual ~device_model() = default;

  // The device is on the bus; `a` is how it answers until it leaves. Hosts see the device only
  // after this returns. The model may keep `a`;
  // the bus drops its own reference to the model when the device leaves, which breaks the cycle.
  virtual void on_attach(const std::shared_ptr<attachment> &a) { (void)a; }

  // One OUT packet of 1..512 bytes on endpoint 0x02. true: taken. false: NAK, the bus offers the
  // same packet again after wake_out() or fails the host's request at its time-out.
  virtual bool on_out_packet(attachment &a, std::span<const uint8_t> packet) = 0;

  // The host opened / closed a handle on the device.
  virtual void on_open(attachment &a) { (void)a; }
  virtual void on_close(attachment &a) { (void)a; }

  // The device has left the bus (whoever unplugged it). Called once.
  virtual void on_detach(attachment &a) { (void)a; }

  // Modelled time of the device's own work so far (NAND operations, say), beyond the bus time
  // the attachment counts: together they are the lower bound a real device would take.
  virtual uint64_t modelled_work_ns() const { return 0; }
};

// One stay of a device on the bus, from plug to unplug.
class attachment {
 public:
  virtual ~attachment() = default;
  virtual const std::string &port_name() const = 0;
  virtual uint16_t vid() const = 0;
  virtual uint16_t pid() const = 0;
  virtual int bus_number() const = 0;
  virtual int device_number() const = 0;
  virtual bool present() const = 0;
  // Modelled bus time of the requests of this stay so far (see timing).
  virtual uint64_t modelled_ns() const = 0;

  // Queues one IN transfer for endpoint 0x81 (see above). Dropped once the device has left.
  virtual void send_in(std::span<const uint8_t> data) = 0;
  // Offers a refused OUT packet again.
  virtual void wake_out() = 0;
  // Leaves the bus now.
  virtual void unplug() = 0;
};

// Plugs `model` into `port` (1..200 characters, no '#'). The port's bus and device numbers
// name it in captures; device numbers count up per plug, as the kernel's do. Returns the
// attachment, or null when the port is in use or the name is unusable.
std::shared_ptr<attachment> plug(const std::string &port, uint16_t vid, uint16_t pid,
                                 std::shared_ptr<device_model> model, int bus_number = 1,
                                 timing t = {});

// Unplugs whatever is on `port`: 0, or -1 when nothing is.
int unplug(const std::string &port);

// Unplugs everything (tests, bench shutdown).
void unplug_all();

// The present devices.
struct port_info {
  std::string port;
  uint16_t vid;
  uint16_t pid;
  int bus_number;
  int device_number;
  bool open;
};
std::vector<port_info> list();

// Host side of the bus without the transport API: what the bench's socket server forwards.
// Statuses are those of one request: 0 ok, -1 time-out, -2 device gone, -3 overflow, -4 error.
using clock_point = std::chrono::steady_clock::time_point;

class host_handle {
 public:
  virtual ~host_handle() = default;  // closes the device
  // `issued`: when the host issued the request, if earlier than its arrival here (a host
  // across a socket); the timing model counts the request's bus time from there. Ignored when
  // later than now or more than a second ago.
  virtual int bulk_write(const uint8_t *data, int len, int timeout_ms, int *actual,
                         clock_point issued = {}) = 0;
  virtual int bulk_read(uint8_t *data, int len, int timeout_ms, int *actual, clock_point issued = {}) = 0;
  // The last answer took `d` to reach the host across its socket: with realistic timing the
  // next requests make up for it, as for a late wake-up (util::pacer).
  virtual void wire_delay(std::chrono::nanoseconds d) = 0;
  virtual int bus_number() const = 0;
  virtual int device_number() const = 0;
};

// Opens the device on `port` if present with identity vid/pid and not open; else null.
std::unique_ptr<host_handle> host_open(const std::string &port, uint16_t vid, uint16_t pid);

}  // namespace usb_inproc
