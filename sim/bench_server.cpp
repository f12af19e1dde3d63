#include "bench_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <cstdio>
#include <cstring>
#include <vector>

#include "usb/usb_inproc.h"
#include "usb/usb_sim_protocol.h"

namespace sim {
namespace {

constexpr uint32_t kMaxOpenPayload = 1024;
constexpr uint32_t kMaxTimeoutMs = 3600 * 1000;

bool read_full(int fd, void *buf, size_t n) { return usb_sim::read_all(fd, buf, n, -1); }
bool write_full(int fd, const void *buf, size_t n) { return usb_sim::write_all(fd, buf, n, -1); }

bool respond(int fd, int32_t status, const void *payload, uint32_t len) {
  // One send for header and payload: the host wakes once per answer, not twice.
  std::vector<uint8_t> m(8 + size_t{len});
  usb_sim::put32(m.data(), static_cast<uint32_t>(status));
  usb_sim::put32(m.data() + 4, len);
  if (len) std::memcpy(m.data() + 8, payload, len);
  return write_full(fd, m.data(), m.size());
}

bool respond_text(int fd, int32_t status, const std::string &text) {
  return respond(fd, status, text.data(), static_cast<uint32_t>(std::min<size_t>(text.size(), usb_sim::max_payload)));
}

// Whether something accepts connections on the socket at `addr`.
bool socket_in_use(const sockaddr_un &addr) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool live = ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
  ::close(fd);
  return live;
}

}  // namespace

bench_server::bench_server(bench &b, std::string socket_path,
                           std::function<void(const std::string &)> print)
    : bench_(b), path_(std::move(socket_path)), print_(std::move(print)) {}

bench_server::~bench_server() { stop(); }

bool bench_server::start(std::string &error) {
  sockaddr_un addr{};
  if (path_.empty() || path_.size() >= sizeof addr.sun_path) {
    error = "socket path too long: " + path_;
    return false;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      error = path_ + " exists and is not a socket";
      return false;
    }
    // Only a socket nobody listens on is an earlier bench's leftover; taking over a live one
    // would cut its hosts off from their handsets.
    if (socket_in_use(addr)) {
      error = "another bench serves " + path_;
      return false;
    }
    ::unlink(path_.c_str());
  }
  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 64) != 0 || ::pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    error = "cannot listen on " + path_ + ": " + std::strerror(errno);
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
    return false;
  }
  acceptor_ = std::thread([this] { accept_loop(); });
  return true;
}

void bench_server::stop() {
  if (listen_fd_ < 0) return;
  {
    std::lock_guard<std::mutex> lock(m_);
    stopping_ = true;
    for (auto &c : connections_) ::shutdown(c->fd, SHUT_RDWR);
  }
  char x = 0;
  if (::write(stop_pipe_[1], &x, 1) < 0) { /* the acceptor also stops on its own poll */ }
  if (acceptor_.joinable()) acceptor_.join();
  reap(true);
  ::close(listen_fd_);
  ::close(stop_pipe_[0]);
  ::close(stop_pipe_[1]);
  listen_fd_ = -1;
  ::unlink(path_.c_str());
}

void bench_server::reap(bool all) {
  std::list<std::unique_ptr<connection>> finished;
  {
    std::lock_guard<std::mutex> lock(m_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->done) {
        if (all) ::shutdown((*it)->fd, SHUT_RDWR);
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto &c : finished) {
    c->thread.join();
    ::close(c->fd);
  }
}

void bench_server::accept_loop() {
  for (;;) {
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    int r = ::poll(p, 2, 1000);
    if (r < 0 && errno != EINTR) return;
    if (p[1].revents) return;
    reap(false);
    if (r <= 0 || !(p[0].revents & POLLIN)) continue;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    auto c = std::make_unique<connection>();
    c->fd = fd;
    connection *raw = c.get();
    std::lock_guard<std::mutex> lock(m_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    c->thread = std::thread([this, raw] {
      serve(*raw);
      raw->done = true;
    });
    connections_.push_back(std::move(c));
  }
}

void bench_server::serve(connection &c) {
  std::unique_ptr<usb_inproc::host_handle> dev;
  std::string port;
  std::vector<uint8_t> buf(usb_sim::max_payload);
  usb_inproc::clock_point answer_sent{};  // of the last WRITE or READ
  for (;;) {
    uint8_t h[usb_sim::request_header_size];
    if (!read_full(c.fd, h, sizeof h)) break;
    // steady_clock is CLOCK_MONOTONIC, the host's clock too.
    auto issued = usb_inproc::clock_point(std::chrono::nanoseconds(usb_sim::get64(h + 12)));
    auto answered = usb_inproc::clock_point(std::chrono::nanoseconds(usb_sim::get64(h + 20)));
    // How long our last answer took to reach the host: the bus model makes up for it.
    if (dev && answered > answer_sent && answer_sent.time_since_epoch().count())
      dev->wire_delay(std::chrono::duration_cast<std::chrono::nanoseconds>(answered - answer_sent));
    uint32_t op = usb_sim::get32(h), len = usb_sim::get32(h + 4);
    int timeout = static_cast<int>(std::clamp<uint32_t>(usb_sim::get32(h + 8), 1, kMaxTimeoutMs));
    bool has_payload = op == usb_sim::op_write || op == usb_sim::op_open || op == usb_sim::op_ctl;
    if (len > usb_sim::max_payload || (op == usb_sim::op_open && len > kMaxOpenPayload)) break;
    if (has_payload && len && !read_full(c.fd, buf.data(), len)) break;
    bool ok = true;
    switch (op) {
      case usb_sim::op_list: {
        std::string text;
        for (auto &d : usb_inproc::list()) {
          char line[64];
          std::snprintf(line, sizeof line, "%04x %04x %d %d ", d.vid, d.pid, d.bus_number, d.device_number);
          text += line + d.port + "\n";
        }
        ok = respond_text(c.fd, 0, text);
        break;
      }
      case usb_sim::op_open: {
        std::string text(reinterpret_cast<char *>(buf.data()), len);
        unsigned vid = 0, pid = 0;
        int used = 0;
        if (!dev && std::sscanf(text.c_str(), "%x %x %n", &vid, &pid, &used) >= 2 && used > 0) {
          port = text.substr(static_cast<size_t>(used));
          dev = usb_inproc::host_open(port, static_cast<uint16_t>(vid), static_cast<uint16_t>(pid));
        }
        if (!dev) {
          ok = respond_text(c.fd, -1, "");
          break;
        }
        print_(port + ": opened");
        ok = respond_text(c.fd, 0, std::to_string(dev->bus_number()) + " " + std::to_string(dev->device_number()));
        break;
      }
      case usb_sim::op_write:
      case usb_sim::op_read: {
        int actual = 0, st = -4;
        if (dev && len > 0) {
          st = op == usb_sim::op_write
                   ? dev->bulk_write(buf.data(), static_cast<int>(len), timeout, &actual, issued)
                   : dev->bulk_read(buf.data(), static_cast<int>(len), timeout, &actual, issued);
        }
        if (op == usb_sim::op_write) {
          uint8_t r[8];
          usb_sim::put32(r, static_cast<uint32_t>(st));
          usb_sim::put32(r + 4, static_cast<uint32_t>(actual));
          ok = write_full(c.fd, r, sizeof r);
        } else {
          ok = respond(c.fd, st, buf.data(), static_cast<uint32_t>(actual));
        }
        answer_sent = std::chrono::steady_clock::now();
        break;
      }
      case usb_sim::op_close:
        if (dev) {
          dev.reset();
          print_(port + ": closed");
        }
        ok = respond(c.fd, 0, nullptr, 0);
        break;
      case usb_sim::op_ctl: {
        std::string answer;
        int st = bench_.control(std::string(reinterpret_cast<char *>(buf.data()), len), answer);
        ok = respond_text(c.fd, st, answer);
        break;
      }
      default:
        ok = false;
    }
    if (!ok) break;
  }
  if (dev) {
    dev.reset();
    print_(port + ": closed");
  }
}

}  // namespace sim
