// CRC-16/MODBUS, table-driven. Kept free of any hosted library so the agent can link it.
#include "util/crc16.h"

namespace {

struct crc_table {
  unsigned int word[256];
};

constexpr crc_table make_crc_table() {
  crc_table t{};
  for (unsigned int n = 0; n < 256; ++n) {
    unsigned int r = n;
    for (int bit = 0; bit < 8; ++bit) r = (r & 1u) ? (r >> 1) ^ 0xA001u : r >> 1;
    t.word[n] = r;
  }
  return t;
}

constexpr crc_table table = make_crc_table();
static_assert(table.word[1] == 0xC0C1 && table.word[2] == 0xC181 && table.word[3] == 0x0140);

// Eight bytes a step (slicing by eight): slice[k][n] is the CRC register after byte n followed
// by k zero bytes. A 64 KiB chunk is checked on both ends of every transfer, so the byte-wise
// loop's dependency chain showed as a few per cent of a flashing job.
struct slice_tables {
  unsigned short slice[8][256];
};

constexpr slice_tables make_slice_tables() {
  slice_tables t{};
  for (unsigned int n = 0; n < 256; ++n) t.slice[0][n] = static_cast<unsigned short>(table.word[n]);
  for (int k = 1; k < 8; ++k)
    for (unsigned int n = 0; n < 256; ++n) {
      unsigned int prev = t.slice[k - 1][n];
      t.slice[k][n] = static_cast<unsigned short>((prev >> 8) ^ table.word[prev & 0xFF]);
    }
  return t;
}

constexpr slice_tables slices = make_slice_tables();

}  // namespace

extern "C" {

const unsigned int crc_tbl[256] = {
#define R(i) table.word[i]
#define R8(i) R(i), R(i + 1), R(i + 2), R(i + 3), R(i + 4), R(i + 5), R(i + 6), R(i + 7)
#define R64(i) R8(i), R8(i + 8), R8(i + 16), R8(i + 24), R8(i + 32), R8(i + 40), R8(i + 48), R8(i + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
#undef R
};

unsigned int crc16(const unsigned char *data, unsigned long length) {
  unsigned int reg = 0xFFFF;
  unsigned long i = 0;
  for (; i + 8 <= length; i += 8) {
    const unsigned char *p = data + i;
    reg = slices.slice[7][(p[0] ^ reg) & 0xFF] ^ slices.slice[6][(p[1] ^ (reg >> 8)) & 0xFF] ^
          slices.slice[5][p[2]] ^ slices.slice[4][p[3]] ^ slices.slice[3][p[4]] ^
          slices.slice[2][p[5]] ^ slices.slice[1][p[6]] ^ slices.slice[0][p[7]];
  }
  for (; i < length; ++i) reg = (reg >> 8) ^ crc_tbl[(data[i] ^ reg) & 0xFF];
  return reg;
}

}  // extern "C"
