#include "fd_io.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace usb_core {
namespace {

using clock = std::chrono::steady_clock;

// Waits for fd to be ready; false on time-out, error or hang-up without data.
bool wait_ready(int fd, short events, clock::time_point deadline, bool bounded) {
  for (;;) {
    int ms = -1;
    if (bounded) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
      if (left.count() <= 0) return false;
      ms = static_cast<int>(left.count());
    }
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, ms);
    if (r > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace

bool write_all(int fd, const void *data, size_t n, int timeout_ms) {
  auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
  auto *p = static_cast<const uint8_t *>(data);
  while (n > 0) {
    if (!wait_ready(fd, POLLOUT, deadline, timeout_ms >= 0)) return false;
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool read_all(int fd, void *data, size_t n, int timeout_ms) {
  auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
  auto *p = static_cast<uint8_t *>(data);
  while (n > 0) {
    if (!wait_ready(fd, POLLIN, deadline, timeout_ms >= 0)) return false;
    ssize_t r = ::recv(fd, p, n, 0);
    if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

}  // namespace usb_core
