// The BBM table as it sits in RAM and in block 0 (layout at the top of bbm.cpp).
#pragma once

#include <stdint.h>

namespace agent {

constexpr uint16_t bbm_header = 0x524E;
constexpr uint16_t bbm_no_replacement = 0xFFFF;  // a former replacement that went bad itself
constexpr uint32_t bbm_max_entries = 511;
constexpr uint32_t bbm_table_size = 2048;

struct bbm_entry {
  uint16_t bad;
  uint16_t replacement;
};

struct bbm_table {
  uint16_t header;
  uint16_t count;
  bbm_entry entry[bbm_max_entries];
};
static_assert(sizeof(bbm_table) == bbm_table_size, "the table fills one 2048-byte block of RAM");

}  // namespace agent
