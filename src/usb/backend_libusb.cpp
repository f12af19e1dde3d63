// The `libusb` backend: real handsets through libusb-1.0. The interface name of a device is
// its bus number and port chain as sysfs writes it ("1-4.2"), so a fixture position keeps its
// name whichever device number the kernel hands out.
#include <libusb-1.0/libusb.h>

#include <cstdio>
#include <mutex>

#include "usb_backend.h"

namespace usb_core {
namespace {

constexpr int kInterface = 0;
constexpr int kConfiguration = 1;
constexpr unsigned char kEpIn = 0x81;
constexpr unsigned char kEpOut = 0x02;

std::string port_chain_name(libusb_device *d) {
  uint8_t ports[16];
  int n = libusb_get_port_numbers(d, ports, sizeof ports);
  if (n <= 0) return {};  // a root hub: no handset sits there
  std::string name = std::to_string(libusb_get_bus_number(d)) + "-" + std::to_string(ports[0]);
  for (int i = 1; i < n; ++i) name += "." + std::to_string(ports[i]);
  return name;
}

class libusb_list {
 public:
  explicit libusb_list(libusb_context *ctx) { n_ = ctx ? libusb_get_device_list(ctx, &devs_) : -1; }
  ~libusb_list() {
    if (n_ >= 0) libusb_free_device_list(devs_, 1);
  }
  libusb_list(const libusb_list &) = delete;
  libusb_list &operator=(const libusb_list &) = delete;
  bool ok() const { return n_ >= 0; }
  ssize_t size() const { return n_; }
  libusb_device *operator[](ssize_t i) const { return devs_[i]; }

 private:
  libusb_device **devs_ = nullptr;
  ssize_t n_ = -1;
};

class libusb_open_device final : public open_device {
 public:
  libusb_open_device(libusb_context *ctx, libusb_device_handle *h, int bus, int devnum,
                     std::string name)
      : ctx_(ctx), h_(h), bus_(bus), devnum_(devnum), name_(std::move(name)) {}
  ~libusb_open_device() override {
    libusb_release_interface(h_, kInterface);
    libusb_close(h_);
  }

  xfer_status bulk_write(const uint8_t *data, int len, int timeout_ms, int *actual) override {
    int r = libusb_bulk_transfer(h_, kEpOut, const_cast<uint8_t *>(data), len, actual,
                                 static_cast<unsigned>(timeout_ms));
    return status(r);
  }
  xfer_status bulk_read(uint8_t *data, int len, int timeout_ms, int *actual) override {
    int r = libusb_bulk_transfer(h_, kEpIn, data, len, actual, static_cast<unsigned>(timeout_ms));
    return status(r);
  }
  int bus() const override { return bus_; }
  int devnum() const override { return devnum_; }

 private:
  // An I/O error on a device that has just been pulled is reported as gone, not as a failure.
  xfer_status status(int r) const {
    switch (r) {
      case 0: return xfer_ok;
      case LIBUSB_ERROR_TIMEOUT: return xfer_timeout;
      case LIBUSB_ERROR_NO_DEVICE: return xfer_no_device;
      case LIBUSB_ERROR_OVERFLOW: return xfer_overflow;
      default: return still_present() ? xfer_error : xfer_no_device;
    }
  }
  bool still_present() const {
    libusb_list l(ctx_);
    if (!l.ok()) return true;
    for (ssize_t i = 0; i < l.size(); ++i)
      if (libusb_get_bus_number(l[i]) == bus_ && libusb_get_device_address(l[i]) == devnum_ &&
          port_chain_name(l[i]) == name_)
        return true;
    return false;
  }

  libusb_context *ctx_;
  libusb_device_handle *h_;
  int bus_, devnum_;
  std::string name_;
};

class libusb_backend final : public backend {
 public:
  ~libusb_backend() override {
    if (ctx_) libusb_exit(ctx_);
  }

  bool list(std::vector<device_entry> &out) override {
    libusb_list l(context());
    if (!l.ok()) return false;
    for (ssize_t i = 0; i < l.size(); ++i) {
      libusb_device_descriptor dd;
      std::string name = port_chain_name(l[i]);
      if (name.empty() || libusb_get_device_descriptor(l[i], &dd) != 0) continue;
      out.push_back({dd.idVendor, dd.idProduct, name, libusb_get_bus_number(l[i]),
                     libusb_get_device_address(l[i])});
    }
    return true;
  }

  std::unique_ptr<open_device> open(const std::string &name, uint16_t vid,
                                    uint16_t pid) override {
    libusb_list l(context());
    if (!l.ok()) return nullptr;
    for (ssize_t i = 0; i < l.size(); ++i) {
      libusb_device_descriptor dd;
      if (port_chain_name(l[i]) != name || libusb_get_device_descriptor(l[i], &dd) != 0 ||
          dd.idVendor != vid || dd.idProduct != pid)
        continue;
      return open_one(l[i], name);
    }
    return nullptr;
  }

 private:
  libusb_context *context() {
    std::lock_guard<std::mutex> lock(m_);
    if (!ctx_ && !init_failed_) init_failed_ = libusb_init(&ctx_) != 0;
    return ctx_;
  }

  // Configuration 1, no kernel driver, interface 0 claimed; on any failure nothing stays open.
  std::unique_ptr<open_device> open_one(libusb_device *d, const std::string &name) {
    libusb_device_handle *h = nullptr;
    if (libusb_open(d, &h) != 0) return nullptr;
    int config = 0;
    bool ok = libusb_get_configuration(h, &config) == 0;
    if (ok && config != kConfiguration) ok = libusb_set_configuration(h, kConfiguration) == 0;
    if (ok && libusb_kernel_driver_active(h, kInterface) == 1)
      ok = libusb_detach_kernel_driver(h, kInterface) == 0;
    if (ok) ok = libusb_claim_interface(h, kInterface) == 0;
    if (!ok) {
      libusb_close(h);
      return nullptr;
    }
    return std::make_unique<libusb_open_device>(ctx_, h, libusb_get_bus_number(d),
                                                libusb_get_device_address(d), name);
  }

  std::mutex m_;
  libusb_context *ctx_ = nullptr;
  bool init_failed_ = false;
};

}  // namespace

std::unique_ptr<backend> make_libusb_backend() { return std::make_unique<libusb_backend>(); }

}  // namespace usb_core
