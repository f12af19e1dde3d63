// The NAND failures the bench can inject, all in one place. A failed erase or program wears the
// block out for good (every later erase or program of it fails too), as on a real chip; a failed
// read fails once.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

enum class nand_op { erase, program, read };

struct nand_fault {
  nand_op op = nand_op::program;
  // Blocks (numbered over both chip selects) on which every such operation fails.
  std::vector<uint32_t> blocks;
  // When non-zero: the operation of this kind after this many succeeded ones fails, once.
  uint64_t after_ops = 0;
  // Chance in a million of each such operation failing, drawn from a generator seeded with `seed`.
  uint32_t per_million = 0;
  uint32_t seed = 1;
};

}  // namespace sim
