// The NAND chip model. Contents are one array of pages, each its data bytes followed by its
// spare bytes, chip select 0 first; in a file they are mapped shared, so every change is on disk.
#include "nand_chip.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "nand_id.h"

namespace sim {

bool geometry_from_id(const uint8_t id[5], nand_geometry *g) {
  agent::nand_shape shape;
  if (!agent::shape_from_id(id, &shape)) return false;
  g->page_size = shape.page_size;
  g->spare_size = shape.oob_size;
  g->pages_per_block = shape.block_size / shape.page_size;
  g->blocks = shape.no_of_blocks;
  g->bus_width = shape.bus_width;
  return true;
}

namespace {

// A fresh chip: erased, with the makers' mark (zeroed spare bytes in the first two pages) on
// its factory bad blocks.
void format_fresh(uint8_t *bytes, size_t size, const nand_geometry &g, uint32_t total_blocks,
                  const std::vector<uint32_t> &bad) {
  std::memset(bytes, 0xFF, size);
  size_t record = g.page_size + g.spare_size;
  for (uint32_t b : bad) {
    if (b >= total_blocks) continue;
    for (uint32_t p = 0; p < 2; ++p)
      std::memset(bytes + (uint64_t(b) * g.pages_per_block + p) * record + g.page_size, 0, g.spare_size);
  }
}

}  // namespace

std::unique_ptr<nand_chip> nand_chip::open(const nand_config &config, std::string *error) {
  std::unique_ptr<nand_chip> chip(new nand_chip());
  chip->config_ = config;
  if (!geometry_from_id(config.id, &chip->geo_)) {
    *error = "unknown NAND device ID";
    return nullptr;
  }
  if (config.chip_selects < 1 || config.chip_selects > 2) {
    *error = "a NAND has 1 or 2 chip selects";
    return nullptr;
  }
  chip->cs_count_ = config.chip_selects;
  const nand_geometry &g = chip->geo_;
  uint32_t total = chip->total_blocks();
  chip->size_ = size_t(total) * g.pages_per_block * (g.page_size + g.spare_size);
  chip->worn_.assign(total, 0);
  for (uint32_t b : config.factory_bad_blocks)
    if (b < total) chip->worn_[b] = 1;

  if (config.file.empty()) {
    void *m = mmap(nullptr, chip->size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) {
      *error = "cannot allocate the NAND contents";
      return nullptr;
    }
    chip->bytes_ = static_cast<uint8_t *>(m);
    chip->blank_.assign(total, 1);
    for (uint32_t b : config.factory_bad_blocks) chip->materialize(b);
    for (uint32_t b : config.factory_bad_blocks)
      for (uint32_t p = 0; b < total && p < 2; ++p)
        std::memset(chip->page_at(uint64_t(b) * g.pages_per_block + p) + g.page_size, 0, g.spare_size);
    return chip;
  }

  int fd = ::open(config.file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot open " + config.file + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  bool fresh = fstat(fd, &st) == 0 && st.st_size == 0;
  if (!fresh && size_t(st.st_size) != chip->size_) {
    ::close(fd);
    *error = config.file + " does not hold a NAND of this geometry";
    return nullptr;
  }
  if (fresh && ftruncate(fd, off_t(chip->size_)) != 0) {
    ::close(fd);
    *error = "cannot size " + config.file;
    return nullptr;
  }
  void *m = mmap(nullptr, chip->size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (m == MAP_FAILED) {
    *error = "cannot map " + config.file;
    return nullptr;
  }
  chip->bytes_ = static_cast<uint8_t *>(m);
  chip->mapped_file_ = true;
  if (fresh) format_fresh(chip->bytes_, chip->size_, g, total, config.factory_bad_blocks);
  return chip;
}

nand_chip::~nand_chip() {
  if (bytes_) {
    if (mapped_file_) msync(bytes_, size_, MS_SYNC);
    munmap(bytes_, size_);
  }
}

void nand_chip::materialize(uint32_t global_block) {
  if (global_block >= blank_.size() || !blank_[global_block]) return;
  size_t record = geo_.page_size + geo_.spare_size;
  std::memset(page_at(uint64_t(global_block) * geo_.pages_per_block), 0xFF, record * geo_.pages_per_block);
  blank_[global_block] = 0;
}

uint8_t *nand_chip::page_at(uint64_t global_page) const {
  return bytes_ + global_page * (geo_.page_size + geo_.spare_size);
}

int nand_chip::read_id(uint32_t cs, uint8_t id[5]) const {
  if (cs >= cs_count_) return -1;
  std::memcpy(id, config_.id, 5);
  return 0;
}

void nand_chip::inject(const nand_fault &fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_fault a{fault, 0, false, std::mt19937(fault.seed)};
  faults_.push_back(std::move(a));
}

void nand_chip::clear_faults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
}

void nand_chip::heal() {
  std::lock_guard<std::mutex> lock(mutex_);
  worn_.assign(worn_.size(), 0);
  for (uint32_t b : config_.factory_bad_blocks)
    if (b < worn_.size()) worn_[b] = 1;
}

// Called with the lock held.
bool nand_chip::fails(nand_op op, uint32_t global_block) {
  bool fail = op != nand_op::read && worn_[global_block];
  for (armed_fault &a : faults_) {
    if (a.fault.op != op) continue;
    if (std::find(a.fault.blocks.begin(), a.fault.blocks.end(), global_block) != a.fault.blocks.end())
      fail = true;
    if (a.fault.after_ops && !a.fired && a.seen++ == a.fault.after_ops) {
      a.fired = true;
      fail = true;
    }
    if (a.fault.per_million && a.random() % 1000000 < a.fault.per_million) fail = true;
  }
  if (fail) {
    ++stats_.failures;
    if (op != nand_op::read) worn_[global_block] = 1;
  }
  return fail;
}

int nand_chip::erase(uint32_t cs, uint32_t block) {
  if (cs >= cs_count_ || block >= geo_.blocks) return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t global = cs * geo_.blocks + block;
  ++stats_.erases;
  stats_.busy_ns += config_.erase_ns;
  if (fails(nand_op::erase, global)) return -2;
  if (!blank_.empty()) {
    blank_[global] = 1;
    return 0;
  }
  size_t record = geo_.page_size + geo_.spare_size;
  std::memset(page_at(uint64_t(global) * geo_.pages_per_block), 0xFF, record * geo_.pages_per_block);
  return 0;
}

int nand_chip::program(uint32_t cs, uint32_t page, const uint8_t *data, uint32_t data_length,
                       const uint8_t *spare, uint32_t spare_length) {
  uint32_t pages = geo_.blocks * geo_.pages_per_block;
  if (cs >= cs_count_ || page >= pages || data_length != geo_.page_size || spare_length > geo_.spare_size)
    return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t global = uint64_t(cs) * pages + page;
  ++stats_.programs;
  stats_.busy_ns += config_.program_ns + uint64_t(config_.byte_ns) * (data_length + spare_length);
  if (fails(nand_op::program, uint32_t(global / geo_.pages_per_block))) return -2;
  materialize(uint32_t(global / geo_.pages_per_block));
  uint8_t *to = page_at(global);
  for (uint32_t i = 0; i < data_length; ++i) to[i] &= data[i];
  for (uint32_t i = 0; spare && i < spare_length; ++i) to[geo_.page_size + i] &= spare[i];
  return 0;
}

int nand_chip::read(uint32_t cs, uint32_t page, uint8_t *data, uint32_t data_length, uint8_t *spare,
                    uint32_t spare_length) {
  uint32_t pages = geo_.blocks * geo_.pages_per_block;
  if (cs >= cs_count_ || page >= pages || data_length > geo_.page_size || spare_length > geo_.spare_size)
    return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t global = uint64_t(cs) * pages + page;
  ++stats_.reads;
  stats_.busy_ns += config_.read_ns + uint64_t(config_.byte_ns) * (data_length + spare_length);
  if (fails(nand_op::read, uint32_t(global / geo_.pages_per_block))) return -2;
  if (!blank_.empty() && blank_[global / geo_.pages_per_block]) {
    if (data) std::memset(data, 0xFF, data_length);
    if (spare) std::memset(spare, 0xFF, spare_length);
    return 0;
  }
  const uint8_t *from = page_at(global);
  if (data) std::memcpy(data, from, data_length);
  if (spare) std::memcpy(spare, from + geo_.page_size, spare_length);
  return 0;
}

bool nand_chip::peek(uint64_t global_page, uint8_t *data, uint8_t *spare) const {
  if (global_page >= uint64_t(total_blocks()) * geo_.pages_per_block) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!blank_.empty() && blank_[global_page / geo_.pages_per_block]) {
    if (data) std::memset(data, 0xFF, geo_.page_size);
    if (spare) std::memset(spare, 0xFF, geo_.spare_size);
    return true;
  }
  const uint8_t *from = page_at(global_page);
  if (data) std::memcpy(data, from, geo_.page_size);
  if (spare) std::memcpy(spare, from + geo_.page_size, geo_.spare_size);
  return true;
}

nand_chip::counters nand_chip::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

}  // namespace sim
