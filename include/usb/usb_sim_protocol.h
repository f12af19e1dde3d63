// The wire between the `sim:PATH` backend and handset_bench, over a Unix stream socket.
// One connection per opened device; a connection that opens nothing may list devices or send
// control commands. All numbers are little-endian.
//   request:  u32 op, u32 len, u32 timeout_ms, then the payload (WRITE, OPEN, CTL: len bytes)
//   response: i32 status, u32 len, then len bytes of payload
// op LIST:  payload of the response: one line per device, "VID PID BUS DEVNUM PORT\n" (hex
//           VID/PID, decimal numbers). status 0.
// op OPEN:  payload "VID PID PORT" (hex, hex, text). status 0 and payload "BUS DEVNUM", or -1
//           (absent, other identity, already open). The connection then belongs to the device
//           until it closes; closing it closes the device.
// op WRITE: one OUT request of len bytes (1..65536). status: a request status (0 ok, -1 time-out,
//           -2 gone, -3 overflow, -4 error); response len = bytes the device took, no payload.
// op READ:  one IN request of up to len bytes. status as WRITE; payload = the bytes received.
// op CTL:   payload: a control command line ("list", "plug PORT", ...); status 0 or -1, payload
//           its text answer.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace usb_sim {

enum op : uint32_t { op_list = 1, op_open = 2, op_write = 3, op_read = 4, op_ctl = 5 };

constexpr uint32_t max_payload = 65536;  // also the bound on a CTL command or answer

struct request_header {
  uint32_t op;
  uint32_t len;
  uint32_t timeout_ms;
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

// Sends one control command to the bench on socket_path; `answer` gets its text. The bench's
// status (0 or -1), or -2 when no bench answers there.
int control(const char *socket_path, const char *command, std::string &answer);

}  // namespace usb_sim
