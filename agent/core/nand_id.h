// Geometry from a NAND device's ID bytes, as the agent reports it. Shared with the bench's chip
// model, so that a simulated chip has exactly the shape the agent will see.
#pragma once

#include <stdint.h>

namespace agent {

struct nand_shape {
  uint32_t page_size;    // data bytes
  uint32_t block_size;   // data bytes
  uint32_t oob_size;     // spare bytes per page
  uint32_t bus_width;    // 8 or 16
  uint32_t no_of_blocks;
};

// Large page devices give their page size in the two low bits of the fourth ID byte, with 64
// pages a block and 64 spare bytes a page; small page devices have 512-byte pages, 32 a block,
// 16 spare bytes each. False for a device ID the agent does not know (it then has no blocks).
bool shape_from_id(const uint8_t id[4], nand_shape *shape);

}  // namespace agent
