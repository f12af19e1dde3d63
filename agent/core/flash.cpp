// Erase, program and read through the BBM. A block whose erase or program fails is relocated
// and the step is retried on its replacement.
#include "agent.h"
#include "bytes.h"
#include "protocol.h"

namespace agent {

namespace {
struct flash_range {
  uint32_t first_block;
  uint32_t end_block;  // exclusive
};
}  // namespace

static flash_range blocks_of(uint32_t from, uint32_t to, uint32_t block_size) {
  uint64_t end = (uint64_t(to) + block_size - 1) / block_size;
  return {from / block_size, uint32_t(end)};
}

bool agent_core::erase_mapped(uint32_t block) {
  if (block >= total_blocks()) return false;
  for (;;) {
    uint32_t p = map_block(block);
    if (erase_physical(p) == 0) return true;
    if (!relocate(p)) return false;
  }
}

// Erasing block 0 takes the stored table copies with it: the table must be written back, and
// the next copy goes to the last page again.
bool agent_core::erase_range(uint32_t from, uint32_t to) {
  flash_range r = blocks_of(from, to, nand_.block_size);
  if (r.end_block > total_blocks()) return false;
  for (uint32_t b = r.first_block; b < r.end_block && !stopped_; ++b) {
    if (b == 0) {
      nand_.bbm_state = bbm_state_dirty;
      nand_.bbm_page = pages_per_block();
    }
    if (!erase_mapped(b)) return false;
  }
  return true;
}

void agent_core::on_erase() {
  uint8_t r[erase_flash_record];
  if (!receive(r, sizeof r)) return;
  uint32_t from = le32(r), to = le32(r + 4), use_bbm = le32(r + 8);
  msg(flash_msg_total, 1);
  if (!use_bbm) {
    msg_text("Erase without bbm is currently not implemented\n");
    msg(flash_msg_error, err_erase);
    return;
  }
  if (nand_.bbm_state == bbm_state_none) {
    msg(flash_msg_error, err_erase);
    return;
  }
  if (!erase_range(from, to)) {
    msg_text("Erase nand flassh failed, BBM is full ?!\n");
    msg(flash_msg_error, err_erase);
    return;
  }
  msg(flash_msg_progress, 1);
  msg(flash_msg_done);
}

// Programs `pages` pages of one logical block from `first_page` on. `src` is the staged data:
// page after page, each followed by its spare bytes when `with_oob`; `bytes` the data bytes
// left, the last page is padded with 0xFF. A replacement block is erased before it is used.
bool agent_core::program_block(uint32_t block, uint32_t first_page, uint32_t pages,
                               const uint8_t *src, bool with_oob, uint32_t bytes) {
  if (block >= total_blocks()) return false;
  uint32_t record = nand_.page_size + (with_oob ? nand_.oob_size : 0);
  bool fresh = false;
  for (;;) {
    uint32_t p = map_block(block);
    if (fresh && erase_physical(p) != 0) {
      if (!table_valid() || !relocate(p)) return false;
      continue;
    }
    bool failed = false;
    uint32_t left = bytes;
    for (uint32_t k = 0; k < pages && !failed; ++k) {
      const uint8_t *page = src + k * record;
      const uint8_t *data = page;
      if (left < nand_.page_size) {
        fill_bytes(page_, 0xFF, nand_.page_size);
        copy_bytes(page_, page, left);
        data = page_;
      }
      const uint8_t *spare = with_oob ? page + nand_.page_size : nullptr;
      uint32_t spare_length = with_oob ? spare_kept() : 0;
      failed = program_physical(p, first_page + k, data, spare, spare_length) != 0;
      left -= left < nand_.page_size ? left : nand_.page_size;
    }
    if (!failed) return true;
    if (!table_valid() || !relocate(p)) return false;
    fresh = true;
  }
}

void agent_core::on_write() {
  uint8_t r[write_flash_record];
  if (!receive(r, sizeof r)) return;
  uint32_t ram = le32(r), from = le32(r + 4), to = le32(r + 8), size = le32(r + 12);
  bool with_oob = le32(r + 20) != 0;
  msg(flash_msg_total, 1);

  uint32_t ppb = pages_per_block(), pages = 0, record = 0;
  bool ok = nand_.bbm_state != bbm_state_none && ppb != 0 && from % nand_.page_size == 0;
  const uint8_t *src = nullptr;
  if (ok) {
    pages = uint32_t((uint64_t(size) + nand_.page_size - 1) / nand_.page_size);
    record = nand_.page_size + (with_oob ? nand_.oob_size : 0);
    uint64_t staged = uint64_t(pages) * record;
    src = staged <= 0xFFFFFFFFu ? b_->memory(ram, uint32_t(staged)) : nullptr;
    uint64_t last_block = (uint64_t(from) / nand_.page_size + pages + ppb - 1) / ppb;
    ok = (src || !pages) && last_block <= total_blocks();
  }
  if (ok) ok = erase_range(from, to);

  uint32_t page = ok ? from / nand_.page_size : 0, left = size;
  bool wrote_block0 = false;
  while (ok && pages && !stopped_) {
    uint32_t block = page / ppb, first = page % ppb;
    uint32_t n = ppb - first < pages ? ppb - first : pages;
    ok = program_block(block, first, n, src, with_oob, left);
    wrote_block0 |= block == 0;
    uint32_t done_bytes = n * nand_.page_size;
    left -= done_bytes < left ? done_bytes : left;
    src += n * record;
    page += n;
    pages -= n;
  }
  // Block 0 carries the table's copies in its last page; a new boot loader keeps it there.
  if (ok && wrote_block0) {
    if (table_valid()) ok = store_table(ppb - 1) == 0;
    nand_.bbm_state = bbm_state_clean;
  }
  if (!ok) {
    msg_text("Too many bad blocks, writefailed\n");
    msg(flash_msg_error, err_write);
    return;
  }
  msg(flash_msg_progress, 1);
  msg(flash_msg_done);
}

void agent_core::on_read() {
  uint8_t r[read_flash_record];
  if (!receive(r, sizeof r)) return;
  uint32_t ram = le32(r), from = le32(r + 4), size = le32(r + 8);
  bool ecc = le32(r + 12) != 0, with_oob = le32(r + 16) != 0;
  msg(flash_msg_total, 1);

  int result = -1;
  uint8_t *dest = nullptr;
  uint32_t pages = 0, record = 0, ppb = pages_per_block();
  // No geometry yet (the NAND never initialised): nothing to divide by, the read fails.
  if (nand_.bbm_state != bbm_state_none && ppb != 0 && from % nand_.page_size == 0) {
    pages = uint32_t((uint64_t(size) + nand_.page_size - 1) / nand_.page_size);
    record = with_oob ? nand_.page_size + nand_.oob_size : nand_.page_size;
    uint64_t out = with_oob ? uint64_t(pages) * record : size;
    uint64_t last_block = (uint64_t(from) / nand_.page_size + pages + ppb - 1) / ppb;
    dest = out <= 0xFFFFFFFFu ? b_->memory(ram, uint32_t(out)) : nullptr;
    if ((dest || !pages) && last_block <= total_blocks()) result = 0;
  }
  uint32_t page = result == 0 ? from / nand_.page_size : 0, left = size;
  for (uint32_t k = 0; result == 0 && k < pages && !stopped_; ++k, ++page) {
    result = read_physical(map_block(page / ppb), page % ppb, page_, spare_, ecc);
    if (result != 0) break;
    uint32_t n = left < nand_.page_size ? left : nand_.page_size;
    copy_bytes(dest, page_, n);
    if (with_oob) copy_bytes(dest + nand_.page_size, spare_, nand_.oob_size);
    dest += with_oob ? record : n;
    left -= n;
  }
  if (result != 0) {
    msg_text("Read failed");
    msg_hex(uint32_t(result));
    msg_text("\r\n");
    msg(flash_msg_error, err_read);
    return;
  }
  msg(flash_msg_progress, 1);
  msg(flash_msg_done);
}

}  // namespace agent
