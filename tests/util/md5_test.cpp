#include "util/md5.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string hex(const unsigned char d[16]) {
  char out[33];
  for (int i = 0; i < 16; ++i) std::snprintf(out + 2 * i, 3, "%02x", d[i]);
  return out;
}

std::string md5_of(const std::string &s) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, reinterpret_cast<const unsigned char *>(s.data()), s.size());
  MD5Final(&ctx);
  return hex(ctx.digest);
}

// The test suite of RFC 1321, appendix A.5.
TEST(Md5, RfcTestSuite) {
  const struct {
    const char *input, *digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto &c : cases) EXPECT_EQ(md5_of(c.input), c.digest) << '"' << c.input << '"';
}

// Padding boundaries: lengths around one block, where the length field spills into a second.
TEST(Md5, BlockBoundaries) {
  EXPECT_EQ(md5_of(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(md5_of(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(md5_of(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(Md5, UnevenPiecesEqualOnePiece) {
  std::vector<unsigned char> data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 131 + (i >> 7));
  MD5_CTX whole;
  MD5Init(&whole);
  MD5Update(&whole, data.data(), data.size());
  MD5Final(&whole);

  const size_t pieces[] = {0, 1, 63, 64, 65, 7, 127, 128, 1000, 3, 4096};
  MD5_CTX split;
  MD5Init(&split);
  size_t at = 0;
  for (size_t k = 0; at < data.size(); ++k) {
    size_t n = std::min(pieces[k % std::size(pieces)], data.size() - at);
    MD5Update(&split, data.data() + at, n);
    at += n;
  }
  MD5Final(&split);
  EXPECT_EQ(hex(split.digest), hex(whole.digest));
}

}  // namespace
