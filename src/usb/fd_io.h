// Whole-buffer reads and writes on a socket, bounded by a deadline.
#pragma once

#include <cstddef>
#include <cstdint>

namespace usb_core {

// true when all n bytes moved before timeout_ms (< 0: no bound) and the peer did not close.
bool write_all(int fd, const void *data, size_t n, int timeout_ms);
bool read_all(int fd, void *data, size_t n, int timeout_ms);

}  // namespace usb_core
