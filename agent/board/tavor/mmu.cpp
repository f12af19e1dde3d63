// The translation table, built from the region list before the MMU is on. Compiled
// position-independent and calling nothing, so it runs at the image's load address.
#include <stdint.h>

namespace {

struct region {
  uint32_t virt, phys, sections, pages;  // 1 MiB sections, 64 KiB pages
  bool cacheable;
};

constexpr uint32_t table_base = 0x80040000;  // 16 KiB first-level table, coarse tables after it
constexpr uint32_t coarse_base = table_base + 0x4000;

// What the agent uses: its DDR copy at virtual 0, SRAM, the table area, the rest of DDR, the
// peripherals, and two more windows.
constexpr region regions[] = {
    {0x00000000, 0x80000000, 0, 4, true},     {0x5C000000, 0x5C000000, 1, 0, true},
    {0x80040000, 0x80040000, 0, 12, true},    {0x80100000, 0x80100000, 1023, 0, true},
    {0x40000000, 0x40000000, 448, 0, false},  {0x10000000, 0x10000000, 256, 0, false},
    {0x20000000, 0x00000000, 256, 0, false},
};

constexpr uint32_t ap_read_write = 3;

}  // namespace

extern "C" uint32_t tavor_build_translation_table() {
  volatile uint32_t *l1 = reinterpret_cast<volatile uint32_t *>(table_base);
  for (uint32_t i = 0; i < 4096; ++i) l1[i] = 0;
  uint32_t next_coarse = coarse_base;
  for (const region &r : regions) {
    uint32_t cb = r.cacheable ? 0xC : 0;
    for (uint32_t s = 0; s < r.sections; ++s)
      l1[(r.virt >> 20) + s] = ((r.phys >> 20) + s) << 20 | ap_read_write << 10 | 0x10 | cb | 2;
    for (uint32_t p = 0; p < r.pages; ++p) {
      uint32_t va = r.virt + p * 0x10000, pa = r.phys + p * 0x10000;
      uint32_t &entry = const_cast<uint32_t &>(l1[va >> 20]);
      if ((entry & 3) != 1) {  // this MiB gets a coarse table of its own
        volatile uint32_t *fresh = reinterpret_cast<volatile uint32_t *>(next_coarse);
        for (uint32_t i = 0; i < 256; ++i) fresh[i] = 0;
        entry = next_coarse | 0x10 | 1;
        next_coarse += 0x400;
      }
      volatile uint32_t *l2 = reinterpret_cast<volatile uint32_t *>(entry & ~0x3FFu);
      uint32_t large = (pa & 0xFFFF0000) | 0xFF0 | cb | 1;  // AP read-write in all four quarters
      for (uint32_t i = 0; i < 16; ++i) l2[((va >> 12) & 0xF0) + i] = large;
    }
  }
  return table_base;
}
