// MD5 (RFC 1321), written from the RFC's description of the algorithm: 64-byte blocks,
// four rounds of sixteen steps, padding with 0x80, zeros and the bit length.
#include "util/md5.h"

#include <cstring>

namespace {

// T[i] = floor(2^32 * abs(sin(i + 1))), i = 0..63, as the RFC defines them.
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t load_le32(const unsigned char *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void store_le32(unsigned char *p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// The auxiliary functions; F in a form that needs one operation less than the RFC's (same
// truth table). G's two terms XZ and Y(not Z) share no bits, so their OR is their sum: the
// round-2 step adds them one by one, which lets the Y(not Z) term start before X is known.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

// One step: a = b + ((a + f(b,c,d) + X[k] + T[i]) <<< s).
#define MD5_STEP(f, a, b, c, d, k, i, s) \
  a = b + rotl(a + f(b, c, d) + x[k] + kSine[i], s)
#define MD5_STEP_G(a, b, c, d, k, i, s) \
  a = b + rotl(a + x[k] + kSine[i] + (~d & c) + (d & b), s)

void compress(uint32_t state[4], const unsigned char *block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = load_le32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  MD5_STEP(F, a, b, c, d, 0, 0, 7);    MD5_STEP(F, d, a, b, c, 1, 1, 12);
  MD5_STEP(F, c, d, a, b, 2, 2, 17);   MD5_STEP(F, b, c, d, a, 3, 3, 22);
  MD5_STEP(F, a, b, c, d, 4, 4, 7);    MD5_STEP(F, d, a, b, c, 5, 5, 12);
  MD5_STEP(F, c, d, a, b, 6, 6, 17);   MD5_STEP(F, b, c, d, a, 7, 7, 22);
  MD5_STEP(F, a, b, c, d, 8, 8, 7);    MD5_STEP(F, d, a, b, c, 9, 9, 12);
  MD5_STEP(F, c, d, a, b, 10, 10, 17); MD5_STEP(F, b, c, d, a, 11, 11, 22);
  MD5_STEP(F, a, b, c, d, 12, 12, 7);  MD5_STEP(F, d, a, b, c, 13, 13, 12);
  MD5_STEP(F, c, d, a, b, 14, 14, 17); MD5_STEP(F, b, c, d, a, 15, 15, 22);

  MD5_STEP_G(a, b, c, d, 1, 16, 5);   MD5_STEP_G(d, a, b, c, 6, 17, 9);
  MD5_STEP_G(c, d, a, b, 11, 18, 14); MD5_STEP_G(b, c, d, a, 0, 19, 20);
  MD5_STEP_G(a, b, c, d, 5, 20, 5);   MD5_STEP_G(d, a, b, c, 10, 21, 9);
  MD5_STEP_G(c, d, a, b, 15, 22, 14); MD5_STEP_G(b, c, d, a, 4, 23, 20);
  MD5_STEP_G(a, b, c, d, 9, 24, 5);   MD5_STEP_G(d, a, b, c, 14, 25, 9);
  MD5_STEP_G(c, d, a, b, 3, 26, 14);  MD5_STEP_G(b, c, d, a, 8, 27, 20);
  MD5_STEP_G(a, b, c, d, 13, 28, 5);  MD5_STEP_G(d, a, b, c, 2, 29, 9);
  MD5_STEP_G(c, d, a, b, 7, 30, 14);  MD5_STEP_G(b, c, d, a, 12, 31, 20);

  MD5_STEP(H, a, b, c, d, 5, 32, 4);   MD5_STEP(H, d, a, b, c, 8, 33, 11);
  MD5_STEP(H, c, d, a, b, 11, 34, 16); MD5_STEP(H, b, c, d, a, 14, 35, 23);
  MD5_STEP(H, a, b, c, d, 1, 36, 4);   MD5_STEP(H, d, a, b, c, 4, 37, 11);
  MD5_STEP(H, c, d, a, b, 7, 38, 16);  MD5_STEP(H, b, c, d, a, 10, 39, 23);
  MD5_STEP(H, a, b, c, d, 13, 40, 4);  MD5_STEP(H, d, a, b, c, 0, 41, 11);
  MD5_STEP(H, c, d, a, b, 3, 42, 16);  MD5_STEP(H, b, c, d, a, 6, 43, 23);
  MD5_STEP(H, a, b, c, d, 9, 44, 4);   MD5_STEP(H, d, a, b, c, 12, 45, 11);
  MD5_STEP(H, c, d, a, b, 15, 46, 16); MD5_STEP(H, b, c, d, a, 2, 47, 23);

  MD5_STEP(I, a, b, c, d, 0, 48, 6);   MD5_STEP(I, d, a, b, c, 7, 49, 10);
  MD5_STEP(I, c, d, a, b, 14, 50, 15); MD5_STEP(I, b, c, d, a, 5, 51, 21);
  MD5_STEP(I, a, b, c, d, 12, 52, 6);  MD5_STEP(I, d, a, b, c, 3, 53, 10);
  MD5_STEP(I, c, d, a, b, 10, 54, 15); MD5_STEP(I, b, c, d, a, 1, 55, 21);
  MD5_STEP(I, a, b, c, d, 8, 56, 6);   MD5_STEP(I, d, a, b, c, 15, 57, 10);
  MD5_STEP(I, c, d, a, b, 6, 58, 15);  MD5_STEP(I, b, c, d, a, 13, 59, 21);
  MD5_STEP(I, a, b, c, d, 4, 60, 6);   MD5_STEP(I, d, a, b, c, 11, 61, 10);
  MD5_STEP(I, c, d, a, b, 2, 62, 15);  MD5_STEP(I, b, c, d, a, 9, 63, 21);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

#undef MD5_STEP
#undef MD5_STEP_G

}  // namespace

extern "C" {

void MD5Init(MD5_CTX *ctx) {
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->length = 0;
  std::memset(ctx->block, 0, sizeof ctx->block);
  std::memset(ctx->digest, 0, sizeof ctx->digest);
}

void MD5Update(MD5_CTX *ctx, const unsigned char *bytes, unsigned long length) {
  unsigned long used = ctx->length % 64;
  ctx->length += length;
  if (used) {
    unsigned long take = 64 - used < length ? 64 - used : length;
    std::memcpy(ctx->block + used, bytes, take);
    bytes += take;
    length -= take;
    if (used + take < 64) return;
    compress(ctx->state, ctx->block);
  }
  // Whole blocks straight from the caller's buffer: no copy on the hot path.
  for (; length >= 64; bytes += 64, length -= 64) compress(ctx->state, bytes);
  if (length) std::memcpy(ctx->block, bytes, length);
}

void MD5Final(MD5_CTX *ctx) {
  const uint64_t bits = ctx->length * 8;
  unsigned char pad[72] = {0x80};
  unsigned long used = ctx->length % 64;
  unsigned long padlen = used < 56 ? 56 - used : 120 - used;
  unsigned char lenbytes[8];
  for (int i = 0; i < 8; ++i) lenbytes[i] = uint8_t(bits >> (8 * i));
  MD5Update(ctx, pad, padlen);
  MD5Update(ctx, lenbytes, 8);
  for (int i = 0; i < 4; ++i) store_le32(ctx->digest + 4 * i, ctx->state[i]);
}

}  // extern "C"
