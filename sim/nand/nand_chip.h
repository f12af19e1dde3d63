// A NAND chip model: one or two chip selects of the same device, data and spare area per page,
// geometry from the ID bytes, factory bad blocks, injectable failures, contents in a file.
//
// Programming can only clear bits (new = old AND data), as on a real chip, so a page written
// twice without an erase shows it. Thread-safe: the agent and the bench's status report may
// call at the same time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "nand_faults.h"

namespace sim {

struct nand_geometry {
  uint32_t page_size = 0;
  uint32_t spare_size = 0;
  uint32_t pages_per_block = 0;
  uint32_t blocks = 0;  // per chip select
  uint32_t bus_width = 8;
};

// The geometry a device with these ID bytes has (the agent's own reading); false for an
// unknown device.
bool geometry_from_id(const uint8_t id[5], nand_geometry *g);

struct nand_config {
  uint8_t id[5] = {0xEC, 0xF1, 0x00, 0x95, 0x40};  // 128 MiB, 2 KiB pages
  uint32_t chip_selects = 1;
  std::string file;                       // empty: contents in memory only
  std::vector<uint32_t> factory_bad_blocks;  // over both chip selects
  // Modelled times of one operation, for the bench's timing model.
  uint32_t read_ns = 25000, program_ns = 200000, erase_ns = 1500000;
  uint32_t byte_ns = 25;  // bus transfer time per byte
};

class nand_chip {
 public:
  // Opens or creates the contents. A new file starts erased with the factory marks of the bad
  // blocks; an existing one must have the size of the geometry. Null with `error` set on failure.
  static std::unique_ptr<nand_chip> open(const nand_config &config, std::string *error);
  ~nand_chip();
  nand_chip(const nand_chip &) = delete;
  nand_chip &operator=(const nand_chip &) = delete;

  const nand_geometry &geometry() const { return geo_; }
  uint32_t chip_selects() const { return cs_count_; }
  uint32_t total_blocks() const { return geo_.blocks * cs_count_; }

  // The chip's commands: 0 on success, negative on failure (-1 bad arguments, -2 injected or
  // worn-out failure). `page` counts within the chip select.
  int read_id(uint32_t cs, uint8_t id[5]) const;
  int erase(uint32_t cs, uint32_t block);
  int program(uint32_t cs, uint32_t page, const uint8_t *data, uint32_t data_length,
              const uint8_t *spare, uint32_t spare_length);
  int read(uint32_t cs, uint32_t page, uint8_t *data, uint32_t data_length, uint8_t *spare,
           uint32_t spare_length);

  void inject(const nand_fault &fault);
  void clear_faults();
  // Blocks that injected failures wore out work again; the factory bad blocks stay bad. A bench
  // can then reuse a handset after a fault that used up its spare blocks.
  void heal();

  // Raw access for the bench and tests: one page's data and spare bytes (`global_page` counts
  // over both chip selects). False when out of range.
  bool peek(uint64_t global_page, uint8_t *data, uint8_t *spare) const;

  struct counters {
    uint64_t erases = 0, programs = 0, reads = 0, failures = 0;
    uint64_t busy_ns = 0;  // modelled chip time of everything so far
  };
  counters stats() const;

 private:
  nand_chip() = default;
  bool fails(nand_op op, uint32_t global_block);
  uint8_t *page_at(uint64_t global_page) const;

  nand_config config_;
  nand_geometry geo_;
  uint32_t cs_count_ = 1;
  uint8_t *bytes_ = nullptr;
  size_t size_ = 0;
  bool mapped_file_ = false;
  mutable std::mutex mutex_;
  std::vector<uint8_t> worn_;   // per global block
  // In memory only: blocks erased and never programmed since, whose bytes are not kept.
  std::vector<uint8_t> blank_;
  void materialize(uint32_t global_block);
  struct armed_fault {
    nand_fault fault;
    uint64_t seen = 0;
    bool fired = false;
    std::mt19937 random;
  };
  std::vector<armed_fault> faults_;
  counters stats_;
};

}  // namespace sim
