// Arbitrary bytes as a one-file image named by a recipe. The checksum is recomputed so the
// fuzzer reaches the section table and the bounds checks behind it.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_file.h"
#include "libdkb/flashini_parser.h"
#include "onefi/onefi.h"
#include "util/md5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string pkg = fuzz_scratch(".1fi");
  static const std::string ini = [] {
    std::string path = fuzz_scratch("-1fi.ini");
    std::string text = "[map]\n1fi_file = " + pkg + "\n[erase]\ntotal = 1\n[erase1]\nnand_loc = 0\nnand_loc_end = 1\n";
    fuzz_write(path, text.data(), text.size());
    return path;
  }();
  std::vector<unsigned char> bytes(data, data + size);
  if (bytes.size() >= ONEFI_MAGIC_SIZE) std::memcpy(bytes.data(), magic_1fi_header, ONEFI_MAGIC_SIZE);
  if (bytes.size() >= ONEFI_CHECKED_FROM) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, bytes.data() + ONEFI_CHECKED_FROM, bytes.size() - ONEFI_CHECKED_FROM);
    MD5Final(&ctx);
    std::memcpy(bytes.data() + ONEFI_CHECKSUM_OFFSET, ctx.digest, 16);
  }
  fuzz_write(pkg, bytes.data(), bytes.size());
  flashini_destroy(flashini_parse_file(ini.c_str()));
  return 0;
}
