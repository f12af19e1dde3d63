// Agent images of any size for download tests: a boot ROM runs only a well-formed one (eight
// branch vectors, then its own length), so tests that are about the transfer send these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "agent/agent_image.h"

// `size` bytes (at least 36): the vectors, the stored length, then a pattern seeded by `seed`.
inline std::vector<uint8_t> well_formed_agent_image(size_t size, uint8_t seed = 7) {
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 31 + seed);
  for (size_t v = 0; v < AGENT_IMAGE_LENGTH_OFFSET; v += 4) {  // b . (a branch to itself)
    image[v] = 0xFE;
    image[v + 1] = 0xFF;
    image[v + 2] = 0xFF;
    image[v + 3] = 0xEA;
  }
  for (int i = 0; i < 4; ++i)
    image[AGENT_IMAGE_LENGTH_OFFSET + i] = static_cast<uint8_t>(uint32_t(size) >> (8 * i));
  return image;
}
