// The shape every agent image has, as a boot ROM checks it before running what it received.
#include <cstdint>

#include "agent/agent_image.h"

namespace {

uint32_t word_at(const unsigned char *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// An always-executed branch, or a load of the pc relative to the pc.
bool is_vector(uint32_t w) { return (w & 0xFF000000u) == 0xEA000000u || (w & 0xFFFFF000u) == 0xE59FF000u; }

}  // namespace

extern "C" int agent_image_well_formed(const unsigned char *image, unsigned long size) {
  if (!image || size < AGENT_IMAGE_LENGTH_OFFSET + 4 || size > 0x7FFFFFFF) return 0;
  for (int i = 0; i < 8; ++i)
    if (!is_vector(word_at(image + 4 * i))) return 0;
  return word_at(image + AGENT_IMAGE_LENGTH_OFFSET) == size ? 1 : 0;
}
