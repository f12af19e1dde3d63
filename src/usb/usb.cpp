// The transport API over the picked backend: paths in and out, requests of at most 65,536
// bytes with the time-out per request, and the API's results (-1 on writes; -5, or -116 for a
// device that left, on reads).
#include "usb/usb.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "capture.h"
#include "device_path.h"
#include "usb_backend.h"

struct usb_dev_handle {
  std::unique_ptr<usb_core::open_device> dev;
};

namespace usb_core {
namespace {

std::mutex g_backend_mutex;
std::unique_ptr<backend> g_backend;
bool g_backend_chosen = false;

std::unique_ptr<backend> make_backend(const char *name) {
  if (!name || !*name || std::strcmp(name, "libusb") == 0) return make_libusb_backend();
  if (std::strcmp(name, "inproc") == 0) return make_inproc_backend();
  if (std::strncmp(name, "sim:", 4) == 0 && name[4]) return make_sim_backend(name + 4);
  return nullptr;
}

backend *current_backend() {
  std::lock_guard<std::mutex> lock(g_backend_mutex);
  if (!g_backend_chosen) {
    const char *name = std::getenv("NORVANE_USB");
    g_backend = make_backend(name);
    g_backend_chosen = true;
    // Said once: otherwise a mistyped name only shows as handsets that never appear.
    if (!g_backend)
      std::fprintf(stderr, "usb: unknown NORVANE_USB \"%s\" (libusb, sim:PATH or inproc): no devices\n",
                   name);
  }
  return g_backend.get();
}

}  // namespace
}  // namespace usb_core

using namespace usb_core;

extern "C" int usb_use_backend(const char *name) {
  auto b = make_backend(name);
  if (!b) return -1;
  std::lock_guard<std::mutex> lock(g_backend_mutex);
  g_backend = std::move(b);
  g_backend_chosen = true;
  return 0;
}

extern "C" int usb_enumerate(usb_enum_test test, void *ctx) {
  backend *b = current_backend();
  if (!b || !test) return USB_ENUM_NEXT;
  std::vector<device_entry> devices;
  if (!b->list(devices)) return USB_ENUM_NEXT;
  // Sorted by connection name first, so that the order follows the fixture, not the identity.
  std::vector<std::pair<std::string, std::string>> paths;
  for (const auto &d : devices) {
    std::string p = make_device_path(d.vid, d.pid, d.name);
    if (!p.empty() && d.name.find('#') == std::string::npos) paths.emplace_back(d.name, std::move(p));
  }
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  char buf[USB_PATH_SIZE];
  for (const auto &[name, p] : paths) {
    std::memset(buf, 0, sizeof buf);
    std::memcpy(buf, p.data(), p.size());
    int r = test(buf, ctx);
    if (r != USB_ENUM_NEXT) return r;
  }
  return USB_ENUM_NEXT;
}

extern "C" usb_dev_handle *usb_open(const char *filename) {
  auto parsed = parse_device_path(filename);
  backend *b = current_backend();
  if (!parsed || !b) return nullptr;
  auto dev = b->open(parsed->name, parsed->vid, parsed->pid);
  if (!dev) return nullptr;
  auto *h = new (std::nothrow) usb_dev_handle;
  if (!h) return nullptr;
  h->dev = std::move(dev);
  return h;
}

extern "C" int usb_close(usb_dev_handle *dev) {
  delete dev;
  return 0;
}

namespace {

// One request through the backend, with its capture records.
xfer_status one_request(usb_dev_handle *dev, pipe_dir dir, uint8_t *data, int len, int timeout,
                        int *actual) {
  int bus = dev->dev->bus(), devnum = dev->dev->devnum();
  uint64_t id = capture_submit(bus, devnum, dir, data, len);
  int t = timeout > 0 ? timeout : 1;
  *actual = 0;
  xfer_status st = dir == pipe_dir::out ? dev->dev->bulk_write(data, len, t, actual)
                                        : dev->dev->bulk_read(data, len, t, actual);
  *actual = std::clamp(*actual, 0, len);
  if (id) capture_complete(id, bus, devnum, dir, st, data, len, *actual);
  return st;
}

}  // namespace

extern "C" int usb_bulk_write(usb_dev_handle *dev, int, const char *bytes, int size, int timeout) {
  if (size == 0) return 0;
  if (!dev || !bytes || size < 0) return -1;
  auto *p = reinterpret_cast<uint8_t *>(const_cast<char *>(bytes));
  int done = 0, request = max_request;
  while (done < size) {
    request = std::min(request, size - done);
    int actual = 0;
    xfer_status st = one_request(dev, pipe_dir::out, p + done, request, timeout, &actual);
    if (st != xfer_ok || actual == 0) return -1;
    done += actual;
  }
  return size;
}

extern "C" int usb_bulk_read(usb_dev_handle *dev, int, char *bytes, int size, int timeout) {
  if (size == 0) return 0;
  if (!dev || !bytes || size < 0) return -5;
  auto *p = reinterpret_cast<uint8_t *>(bytes);
  int done = 0, request = max_request;
  while (done < size) {
    request = std::min(request, size - done);
    int actual = 0;
    xfer_status st = one_request(dev, pipe_dir::in, p + done, request, timeout, &actual);
    if (st == xfer_no_device) return -116;
    if (st != xfer_ok) return -5;
    done += actual;
  }
  return size;
}

extern "C" int usb_set_configuration(usb_dev_handle *, int) { return 0; }
extern "C" int usb_claim_interface(usb_dev_handle *, int) { return 0; }
extern "C" int usb_release_interface(usb_dev_handle *, int) { return 0; }
extern "C" int usb_set_altinterface(usb_dev_handle *, int) { return -1; }
extern "C" int usb_resetep(usb_dev_handle *, unsigned int) { return -1; }
extern "C" int usb_clear_halt(usb_dev_handle *, unsigned int) { return -1; }
extern "C" int usb_reset(usb_dev_handle *) { return -1; }
extern "C" int usb_interrupt_write(usb_dev_handle *, int, const char *, int, int) { return -1; }
extern "C" int usb_interrupt_read(usb_dev_handle *, int, char *, int, int) { return -1; }
extern "C" int usb_control_msg(usb_dev_handle *, int, int, int, int, char *, int, int) {
  return -1;
}
