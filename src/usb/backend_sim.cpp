// The `sim:PATH` backend: a handset bench reached over its Unix socket (usb_sim_protocol.h).
// The bench enforces each request's time-out; the client waits a little longer for the answer
// and treats a bench that stops answering or closes the connection as a device that left.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "usb/usb_sim_protocol.h"
#include "usb_backend.h"

namespace usb_core {
namespace {

using usb_sim::read_all;
using usb_sim::write_all;

constexpr int kGraceMs = 5000;    // beyond the request's own time-out
constexpr int kControlMs = 10000; // list, open and control answers

int connect_to(const std::string &path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class fd_guard {
 public:
  explicit fd_guard(int fd) : fd_(fd) {}
  ~fd_guard() {
    if (fd_ >= 0) ::close(fd_);
  }
  fd_guard(const fd_guard &) = delete;
  fd_guard &operator=(const fd_guard &) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

uint64_t monotonic_ns() {
  auto t = std::chrono::steady_clock::now().time_since_epoch();
  return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(t).count());
}

// `answered_ns`: when the answer to the connection's previous request arrived (0: none).
bool send_request(int fd, uint32_t op, uint32_t len, uint32_t timeout_ms, const void *payload,
                  size_t payload_len, int wait_ms, uint64_t answered_ns = 0) {
  // One send for header and payload: the bench wakes once per request, not twice.
  std::vector<uint8_t> m(usb_sim::request_header_size + payload_len);
  usb_sim::put32(m.data(), op);
  usb_sim::put32(m.data() + 4, len);
  usb_sim::put32(m.data() + 8, timeout_ms);
  usb_sim::put64(m.data() + 12, monotonic_ns());
  usb_sim::put64(m.data() + 20, answered_ns);
  if (payload_len) std::memcpy(m.data() + usb_sim::request_header_size, payload, payload_len);
  return write_all(fd, m.data(), m.size(), wait_ms);
}

// Reads a response; the payload goes to `out` (at most out_cap bytes, more is a protocol error).
bool read_response(int fd, int32_t *status, uint8_t *out, uint32_t out_cap, uint32_t *len,
                   int wait_ms) {
  uint8_t h[8];
  if (!read_all(fd, h, sizeof h, wait_ms)) return false;
  *status = static_cast<int32_t>(usb_sim::get32(h));
  *len = usb_sim::get32(h + 4);
  if (*len > out_cap) return false;
  return *len == 0 || read_all(fd, out, *len, wait_ms);
}

bool exchange_text(int fd, uint32_t op, const std::string &payload, int32_t *status,
                   std::string &answer) {
  if (!send_request(fd, op, static_cast<uint32_t>(payload.size()), 0, payload.data(),
                    payload.size(), kControlMs))
    return false;
  std::string buf(usb_sim::max_payload, '\0');
  uint32_t len = 0;
  if (!read_response(fd, status, reinterpret_cast<uint8_t *>(buf.data()), usb_sim::max_payload,
                     &len, kControlMs))
    return false;
  answer.assign(buf.data(), len);
  return true;
}

class sim_device final : public open_device {
 public:
  sim_device(int fd, int bus, int devnum) : fd_(fd), bus_(bus), devnum_(devnum) {}
  // The bench closes the device before it answers, so a new open right after this succeeds.
  ~sim_device() override {
    if (!broken_) {
      int32_t st = 0;
      uint32_t n = 0;
      if (send_request(fd_, usb_sim::op_close, 0, 0, nullptr, 0, kGraceMs))
        read_response(fd_, &st, nullptr, 0, &n, kGraceMs);
    }
    ::close(fd_);
  }

  xfer_status bulk_write(const uint8_t *data, int len, int timeout_ms, int *actual) override {
    if (broken_) return xfer_no_device;
    int wait = timeout_ms + kGraceMs;
    uint8_t r[8];  // status and the count taken; no payload
    if (!send_request(fd_, usb_sim::op_write, static_cast<uint32_t>(len),
                      static_cast<uint32_t>(timeout_ms), data, static_cast<size_t>(len), wait, answered_) ||
        !read_all(fd_, r, sizeof r, wait))
      return lost();
    answered_ = monotonic_ns();
    *actual = static_cast<int>(std::min<uint32_t>(usb_sim::get32(r + 4), static_cast<uint32_t>(len)));
    return to_status(static_cast<int32_t>(usb_sim::get32(r)));
  }

  xfer_status bulk_read(uint8_t *data, int len, int timeout_ms, int *actual) override {
    if (broken_) return xfer_no_device;
    int wait = timeout_ms + kGraceMs;
    int32_t st = 0;
    uint32_t n = 0;
    if (!send_request(fd_, usb_sim::op_read, static_cast<uint32_t>(len),
                      static_cast<uint32_t>(timeout_ms), nullptr, 0, wait, answered_) ||
        !read_response(fd_, &st, data, static_cast<uint32_t>(len), &n, wait))
      return lost();
    answered_ = monotonic_ns();
    *actual = static_cast<int>(n);
    return to_status(st);
  }

  int bus() const override { return bus_; }
  int devnum() const override { return devnum_; }

 private:
  uint64_t answered_ = 0;  // when the last answer arrived

  // After a lost answer the stream is out of step: the device counts as gone from then on.
  xfer_status lost() {
    broken_ = true;
    return xfer_no_device;
  }
  static xfer_status to_status(int32_t st) {
    return st <= 0 && st >= xfer_error ? static_cast<xfer_status>(st) : xfer_error;
  }

  int fd_;
  int bus_, devnum_;
  bool broken_ = false;
};

class sim_backend final : public backend {
 public:
  explicit sim_backend(std::string path) : path_(std::move(path)) {}

  bool list(std::vector<device_entry> &out) override {
    fd_guard fd(connect_to(path_));
    int32_t st = -1;
    std::string answer;
    if (fd.get() < 0 || !exchange_text(fd.get(), usb_sim::op_list, "", &st, answer) || st != 0)
      return false;
    std::istringstream lines(answer);
    std::string line;
    while (std::getline(lines, line)) {
      unsigned vid = 0, pid = 0;
      int bus = 0, devnum = 0, used = 0;
      if (std::sscanf(line.c_str(), "%x %x %d %d %n", &vid, &pid, &bus, &devnum, &used) < 4 ||
          used <= 0)
        continue;
      out.push_back({static_cast<uint16_t>(vid), static_cast<uint16_t>(pid), line.substr(used),
                     bus, devnum});
    }
    return true;
  }

  std::unique_ptr<open_device> open(const std::string &name, uint16_t vid,
                                    uint16_t pid) override {
    fd_guard fd(connect_to(path_));
    if (fd.get() < 0) return nullptr;
    char head[32];
    std::snprintf(head, sizeof head, "%04x %04x ", vid, pid);
    int32_t st = -1;
    std::string answer;
    if (!exchange_text(fd.get(), usb_sim::op_open, head + name, &st, answer) || st != 0)
      return nullptr;
    int bus = 0, devnum = 0;
    if (std::sscanf(answer.c_str(), "%d %d", &bus, &devnum) != 2) return nullptr;
    return std::make_unique<sim_device>(fd.release(), bus, devnum);
  }

 private:
  std::string path_;
};

}  // namespace

std::unique_ptr<backend> make_sim_backend(const std::string &socket_path) {
  return std::make_unique<sim_backend>(socket_path);
}

}  // namespace usb_core

namespace usb_sim {

int control(const char *socket_path, const char *command, std::string &answer) {
  usb_core::fd_guard fd(usb_core::connect_to(socket_path ? socket_path : ""));
  int32_t st = -1;
  if (fd.get() < 0 || !command ||
      !usb_core::exchange_text(fd.get(), op_ctl, command, &st, answer))
    return -2;
  return st;
}

}  // namespace usb_sim
