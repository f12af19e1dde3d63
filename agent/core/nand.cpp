// NAND initialisation, geometry from the ID bytes, and page and block access over one or two
// chip selects. Block numbers above the first chip's count address the second chip.
#include "agent.h"
#include "nand_id.h"
#include "bytes.h"
#include "protocol.h"

namespace agent {

namespace {

struct nand_device {
  uint8_t id;
  uint8_t large_page;  // page size follows the fourth ID byte
  uint8_t bus_width;
  uint16_t size_mib;
};

// Device ID bytes and their capacity, after the makers' common numbering.
constexpr nand_device devices[] = {
    {0xE6, 0, 8, 8},     {0x33, 0, 8, 16},    {0x73, 0, 8, 16},    {0x43, 0, 16, 16},
    {0x53, 0, 16, 16},   {0x35, 0, 8, 32},    {0x75, 0, 8, 32},    {0x45, 0, 16, 32},
    {0x55, 0, 16, 32},   {0x36, 0, 8, 64},    {0x76, 0, 8, 64},    {0x46, 0, 16, 64},
    {0x56, 0, 16, 64},   {0x78, 0, 8, 128},   {0x79, 0, 8, 128},   {0x72, 0, 16, 128},
    {0x74, 0, 16, 128},  {0xA1, 1, 8, 128},   {0xF1, 1, 8, 128},   {0xB1, 1, 16, 128},
    {0xC1, 1, 16, 128},  {0xAA, 1, 8, 256},   {0xDA, 1, 8, 256},   {0xBA, 1, 16, 256},
    {0xCA, 1, 16, 256},  {0xAC, 1, 8, 512},   {0xDC, 1, 8, 512},   {0xBC, 1, 16, 512},
    {0xCC, 1, 16, 512},  {0xA3, 1, 8, 1024},  {0xD3, 1, 8, 1024},  {0xB3, 1, 16, 1024},
    {0xC3, 1, 16, 1024}, {0xA5, 1, 8, 2048},  {0xD5, 1, 8, 2048},  {0xB5, 1, 16, 2048},
    {0xC5, 1, 16, 2048},
};

const nand_device *find_device(uint8_t id) {
  for (const auto &d : devices)
    if (d.id == id) return &d;
  return nullptr;
}

}  // namespace

bool shape_from_id(const uint8_t id[4], nand_shape *shape) {
  const nand_device *dev = find_device(id[1]);
  if (!dev) return false;
  if (dev->large_page) {
    shape->page_size = 1024u << (id[3] & 3);
    shape->block_size = shape->page_size * 64;
    shape->oob_size = 64;
  } else {
    shape->page_size = 512;
    shape->block_size = 16384;
    shape->oob_size = 16;
  }
  shape->bus_width = dev->bus_width;
  shape->no_of_blocks = uint32_t(uint64_t(dev->size_mib) * 1024 * 1024 / shape->block_size);
  return true;
}

// The chip-select count is 2 when the second chip select answers with the first one's IDs.
bool agent_core::detect_nand() {
  nand_id first{}, second{};
  if (b_->nand_read_id(0, &first) != 0) return false;
  nand_.manu_id = first.byte[0];
  nand_.device_id = first.byte[1];
  nand_shape shape;
  if (!shape_from_id(first.byte, &shape)) return true;  // unknown device: no blocks
  nand_.page_size = shape.page_size;
  nand_.block_size = shape.block_size;
  nand_.oob_size = shape.oob_size;
  nand_.bus_width = shape.bus_width;
  nand_.no_of_blocks = shape.no_of_blocks;
  nand_.chip_selects = 1;
  if (b_->nand_read_id(1, &second) == 0 && second.byte[0] == first.byte[0] &&
      second.byte[1] == first.byte[1] && second.byte[2] == first.byte[2] &&
      second.byte[3] == first.byte[3])
    nand_.chip_selects = 2;
  return true;
}

void agent_core::on_init_nand() {
  fill_bytes(&nand_, 0, sizeof nand_);
  nand_.table = &table_;
  fill_bytes(&table_, 0xFF, sizeof table_);
  table_.header = 0;
  table_.count = 0;
  msg(flash_msg_total, 1);
  if (!detect_nand()) {
    fill_bytes(&nand_, 0, sizeof nand_);
    nand_.table = &table_;
    msg(flash_msg_error, err_nand_init);
    return;
  }
  if (nand_.no_of_blocks == 0) {
    msg(flash_msg_error, err_no_blocks);
    return;
  }
  nand_.bbm_state = bbm_state_clean;
  nand_.bbm_page = pages_per_block();
  if (!load_table()) {
    msg_text("Cannot find Marvel bad block management table in block 0\n");
    msg(flash_msg_error, err_no_bbm);
    return;
  }
  msg_text("Number of bad blocks in BBM: 0x");
  msg_hex(table_.count);
  msg_text("\r\n");
  msg(flash_msg_progress, 1);
  msg(flash_msg_done);
}

void agent_core::on_flash_info() {
  uint32_t field[7] = {nand_.manu_id,    nand_.device_id, nand_.no_of_blocks, nand_.page_size,
                       nand_.block_size, nand_.oob_size,  nand_.bus_width};
  uint8_t r[flash_info_record];
  for (int i = 0; i < 7; ++i) put_le32(r + 4 * i, field[i]);
  send(r, sizeof r);
}

void agent_core::on_nand_para() {
  uint32_t count;
  if (receive_word(&count)) nand_.chip_selects = count;
}

// Areas of 512 blocks or more are ignored without notice, as the station has always seen it.
void agent_core::on_reloc_area() {
  uint8_t r[bbm_para_record];
  if (!receive(r, sizeof r) || nand_.block_size == 0) return;
  uint32_t first = le32(r) / nand_.block_size, end = le32(r + 4) / nand_.block_size;
  if (end >= first && end - first < 512 && end > first) {
    nand_.reloc_first = first;
    nand_.reloc_last = end - 1;
  }
}

static bool split(const nand_record &n, uint32_t block, uint32_t *cs, uint32_t *in_chip) {
  if (n.no_of_blocks == 0 || n.chip_selects == 0 || n.chip_selects > 2) return false;
  if (block >= n.no_of_blocks * n.chip_selects) return false;
  *cs = block / n.no_of_blocks;
  *in_chip = block % n.no_of_blocks;
  return true;
}

int agent_core::erase_physical(uint32_t block) {
  uint32_t cs, in_chip;
  if (!split(nand_, block, &cs, &in_chip)) return -1;
  return b_->nand_erase_block(cs, in_chip);
}

int agent_core::program_physical(uint32_t block, uint32_t page, const uint8_t *data,
                                 const uint8_t *spare, uint32_t spare_length) {
  uint32_t cs, in_chip;
  if (!split(nand_, block, &cs, &in_chip) || page >= pages_per_block()) return -1;
  return b_->nand_program_page(cs, in_chip * pages_per_block() + page, data, nand_.page_size,
                               spare, spare_length);
}

int agent_core::read_physical(uint32_t block, uint32_t page, uint8_t *data, uint8_t *spare, bool ecc) {
  uint32_t cs, in_chip;
  if (!split(nand_, block, &cs, &in_chip) || page >= pages_per_block()) return -1;
  return b_->nand_read_page(cs, in_chip * pages_per_block() + page, data, nand_.page_size, spare,
                            nand_.oob_size, ecc);
}

}  // namespace agent
