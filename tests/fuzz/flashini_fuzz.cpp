// Arbitrary text as flasher.ini. Any parse must end in a record or null, never a crash or leak.
#include <cstdint>

#include "fuzz_file.h"
#include "libdkb/flashini_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string ini = fuzz_scratch(".ini");
  fuzz_write(ini, data, size);
  flashini_destroy(flashini_parse_file(ini.c_str()));
  return 0;
}
