// MD5 message digest (RFC 1321): the checksum of one-file images.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MD5_CTX {
  uint32_t state[4];       // A, B, C, D
  uint64_t length;         // bytes fed so far
  unsigned char block[64]; // partial block awaiting compression
  unsigned char digest[16];// the result, after MD5Final
} MD5_CTX;

void MD5Init(MD5_CTX *ctx);
void MD5Update(MD5_CTX *ctx, const unsigned char *bytes, unsigned long length);
void MD5Final(MD5_CTX *ctx);

#ifdef __cplusplus
}
#endif
