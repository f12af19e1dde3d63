// Byte helpers the core uses instead of a hosted library.
#pragma once

#include <stdint.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records and the BBM table are little-endian");

namespace agent {

inline void copy_bytes(void *to, const void *from, uint32_t n) {
  auto *d = static_cast<uint8_t *>(to);
  auto *s = static_cast<const uint8_t *>(from);
  for (uint32_t i = 0; i < n; ++i) d[i] = s[i];
}

inline void fill_bytes(void *to, uint8_t value, uint32_t n) {
  auto *d = static_cast<uint8_t *>(to);
  for (uint32_t i = 0; i < n; ++i) d[i] = value;
}

inline uint32_t le32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void put_le32(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

inline uint32_t text_length(const char *t) {
  uint32_t n = 0;
  while (t[n]) ++n;
  return n;
}

// Eight upper-case hex digits, no terminator.
inline void hex8(uint32_t v, char out[8]) {
  for (int i = 7; i >= 0; --i, v >>= 4) out[i] = "0123456789ABCDEF"[v & 0xF];
}

// Decimal digits with a terminator; `out` holds at least 11 bytes.
inline void decimal(uint32_t v, char *out) {
  char tmp[10];
  int n = 0;
  do {
    tmp[n++] = char('0' + v % 10);
    v /= 10;
  } while (v);
  for (int i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
  out[n] = 0;
}

}  // namespace agent
