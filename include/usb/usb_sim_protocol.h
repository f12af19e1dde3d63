// The wire between the `sim:PATH` backend and handset_bench, over a Unix stream socket.
// One connection per opened device; a connection that opens nothing may list devices or send
// control commands. All numbers are little-endian.
//   request:  u32 op, u32 len, u32 timeout_ms, u64 issued, u64 answered, then the payload
//             (WRITE, OPEN, CTL: len bytes). `issued`: when the host issued this request;
//             `answered`: when the host had the answer to its previous one; both in nanoseconds
//             of CLOCK_MONOTONIC, 0 when not known. The bench's timing model counts the socket's
//             delay both ways as part of the modelled bus time, not on top of it.
//   response: i32 status, u32 len, then len bytes of payload
// op LIST:  payload of the response: one line per device, "VID PID BUS DEVNUM PORT\n" (hex
//           VID/PID, decimal numbers). status 0.
// op OPEN:  payload "VID PID PORT" (hex, hex, text). status 0 and payload "BUS DEVNUM", or -1
//           (absent, other identity, already open). The connection then belongs to the device
//           until it closes; closing it closes the device.
// op WRITE: one OUT request of len bytes (1..65536). status: a request status (0 ok, -1 time-out,
//           -2 gone, -3 overflow, -4 error); response len = bytes the device took, no payload.
// op READ:  one IN request of up to len bytes. status as WRITE; payload = the bytes received.
// op CLOSE: closes the device now (so that it can be opened again at once); status 0.
// op CTL:   payload: a control command line ("list", "plug PORT", ...); status 0 or -1, payload
//           its text answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace usb_sim {

enum op : uint32_t { op_list = 1, op_open = 2, op_write = 3, op_read = 4, op_ctl = 5, op_close = 6 };

constexpr uint32_t max_payload = 65536;  // also the bound on a CTL command or answer

constexpr size_t request_header_size = 28;

struct request_header {
  uint32_t op;
  uint32_t len;
  uint32_t timeout_ms;
  uint64_t issued;
  uint64_t answered;
};

struct response_header {
  int32_t status;
  uint32_t len;
};

inline void put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t get32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void put64(uint8_t *p, uint64_t v) {
  put32(p, static_cast<uint32_t>(v));
  put32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline uint64_t get64(const uint8_t *p) { return get32(p) | (static_cast<uint64_t>(get32(p + 4)) << 32); }

// Whole-buffer socket I/O for both ends of the wire: true when all n bytes moved before
// timeout_ms (< 0: no bound) and the peer did not close.
bool write_all(int fd, const void *data, size_t n, int timeout_ms);
bool read_all(int fd, void *data, size_t n, int timeout_ms);

// Sends one control command to the bench on socket_path; `answer` gets its text. The bench's
// status (0 or -1), or -2 when no bench answers there.
int control(const char *socket_path, const char *command, std::string &answer);

}  // namespace usb_sim
