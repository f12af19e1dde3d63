// Marvell bad block management: the table, its mapping, relocation and its copies in block 0.
//
// Layout (little-endian), one table of 2048 bytes in RAM:
//   uint16 header   0x524E marks a valid table
//   uint16 count    entries in use
//   count x { uint16 bad block, uint16 replacement }   0xFFFF as replacement: a former
//                   replacement block that went bad itself
//   the rest 0xFF; at most 511 entries fit
//
// On the flash the table lives in block 0. Each write-back stores it in the next lower page of
// block 0, starting from the block's last page, so the newest copy is the lowest page of the run
// that carries the header. The top 40 pages of block 0 (8 on a flash with 512-byte pages) are
// set aside for these copies; the pages below belong to whatever else block 0 carries (the boot
// loader). When the set-aside pages are used up, the pages below them are kept in RAM, block 0
// is erased, they are programmed back unchanged and the run starts again at the last page.
//
// A page holds at most page_size bytes of the table: on 512-byte pages that is 127 entries.
#include "agent.h"
#include "bytes.h"
#include "protocol.h"
#include "registers.h"

namespace agent {

static uint32_t capacity(uint32_t page_size) {
  uint32_t fit = page_size >= bbm_table_size ? bbm_max_entries : (page_size - 4) / 4;
  return fit;
}

void agent_core::new_table() {
  fill_bytes(&table_, 0xFF, sizeof table_);
  table_.header = bbm_header;
  table_.count = 0;
}

bool agent_core::table_valid() const {
  return table_.header == bbm_header && table_.count <= capacity(nand_.page_size ? nand_.page_size : 2048);
}

// Follows chains of replacements; a table read from the flash may hold a loop, so the walk
// stops after as many steps as there are entries.
uint32_t agent_core::map_block(uint32_t block) const {
  if (!table_valid()) return block;
  for (uint32_t step = 0; step <= table_.count; ++step) {
    bool moved = false;
    for (uint32_t i = 0; i < table_.count; ++i) {
      const bbm_entry &e = table_.entry[i];
      if (e.bad == block && e.replacement != bbm_no_replacement) {
        block = e.replacement;
        moved = true;
        break;
      }
    }
    if (!moved) break;
  }
  return block;
}

static bool listed_as_bad(const bbm_table &t, uint32_t block) {
  for (uint32_t i = 0; i < t.count; ++i)
    if (t.entry[i].bad == block) return true;
  return false;
}

// The new replacement is the block below the lowest one in use (the area's last block for the
// first entry), skipping blocks already listed as bad.
bool agent_core::relocate(uint32_t physical) {
  if (!table_valid() || physical == 0 || physical > 0xFFFE) return false;
  if (table_.count >= capacity(nand_.page_size)) return false;
  if (nand_.reloc_last == 0 || nand_.reloc_last < nand_.reloc_first) return false;
  uint32_t lowest = 0x10000;
  int pointing = -1;
  for (uint32_t i = 0; i < table_.count; ++i) {
    uint16_t r = table_.entry[i].replacement;
    if (r == bbm_no_replacement) continue;
    if (r < lowest) lowest = r;
    if (r == physical) pointing = int(i);
  }
  uint32_t candidate = lowest == 0x10000 ? nand_.reloc_last : lowest - 1;
  while (candidate >= nand_.reloc_first && candidate > 0 &&
         (listed_as_bad(table_, candidate) || candidate == physical))
    --candidate;
  if (candidate < nand_.reloc_first || candidate == 0 || candidate >= total_blocks()) return false;

  bbm_entry &added = table_.entry[table_.count++];
  added.bad = uint16_t(physical);
  if (pointing >= 0) {
    table_.entry[pointing].replacement = uint16_t(candidate);
    added.replacement = bbm_no_replacement;
  } else {
    added.replacement = uint16_t(candidate);
  }
  nand_.bbm_state = bbm_state_dirty;
  return true;
}

// A read that fails is tried again: taking one transient failure for "no table here" would
// steer the search to an older copy (losing the relocations made since) or miss the table
// altogether, and a station would then rebuild the BBM over the whole flash.
bool agent_core::page_has_header(uint32_t page) {
  constexpr int attempts = 3;
  int r = -1;
  for (int n = 0; n < attempts && r != 0; ++n) r = read_physical(0, page, page_, spare_, true);
  if (r != 0) return false;
  return (uint32_t(page_[0]) | uint32_t(page_[1]) << 8) == bbm_header;
}

// The copies sit in a run at the top of block 0; the lowest page of the run is the newest.
// The search stays within the set-aside pages, so that data below them is never taken for a table.
bool agent_core::load_table() {
  uint32_t last = pages_per_block() - 1;
  if (!page_has_header(last)) return false;
  uint32_t lo = pages_per_block() > set_aside_pages() ? pages_per_block() - set_aside_pages() : 0;
  uint32_t hi = last;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (page_has_header(mid)) hi = mid;
    else lo = mid + 1;
  }
  if (!page_has_header(lo)) return false;
  uint32_t n = nand_.page_size < bbm_table_size ? nand_.page_size : bbm_table_size;
  fill_bytes(&table_, 0xFF, sizeof table_);
  copy_bytes(&table_, page_, n);
  if (!table_valid()) {
    fill_bytes(&table_, 0xFF, sizeof table_);
    table_.header = 0;
    table_.count = 0;
    return false;
  }
  nand_.bbm_page = lo;
  return true;
}

int agent_core::store_table(uint32_t page) {
  uint32_t n = nand_.page_size < bbm_table_size ? nand_.page_size : bbm_table_size;
  fill_bytes(page_, 0xFF, nand_.page_size);
  copy_bytes(page_, &table_, n);
  int r = program_physical(0, page, page_, nullptr, 0);
  if (r == 0) nand_.bbm_page = page;
  return r;
}

void agent_core::on_validate() {
  for (uint32_t i = 0; table_valid() && i < table_.count; ++i) {
    uint16_t r = table_.entry[i].replacement;
    if (r != bbm_no_replacement && (r < nand_.reloc_first || r > nand_.reloc_last)) {
      msg_text("Invalid mapping of blocks in BBM");
      msg(flash_msg_error, err_bbm_mapping);
      return;
    }
  }
  msg(flash_msg_progress, 1);
  msg(flash_msg_done);
}

// Keeps the pages below the set-aside ones, erases block 0, programs them back and stores the
// table in the last page.
bool agent_core::rotate_block0() {
  uint32_t keep = pages_per_block() - set_aside_pages();
  uint32_t record = nand_.page_size + spare_kept();
  uint8_t *saved = b_->memory(reg::block0_keep_buffer, keep * record);
  if (!saved) return false;
  for (uint32_t p = 0; p < keep; ++p) {
    if (read_physical(0, p, page_, spare_, true) != 0) return false;
    copy_bytes(saved + p * record, page_, nand_.page_size);
    copy_bytes(saved + p * record + nand_.page_size, spare_, spare_kept());
  }
  if (erase_physical(0) != 0) return false;
  for (uint32_t p = 0; p < keep; ++p) {
    const uint8_t *page = saved + p * record;
    bool blank = true;
    for (uint32_t i = 0; i < record && blank; ++i) blank = page[i] == 0xFF;
    if (!blank && program_physical(0, p, page, page + nand_.page_size, spare_kept()) != 0) return false;
  }
  return store_table(pages_per_block() - 1) == 0;
}

void agent_core::on_write_back() {
  msg(flash_msg_total, 1);
  bool ok = true;
  if (nand_.bbm_state >= bbm_state_dirty && table_valid()) {
    uint32_t used = pages_per_block() - nand_.bbm_page;
    if (used < set_aside_pages()) ok = store_table(nand_.bbm_page - 1) == 0;
    else ok = rotate_block0();
  }
  if (!ok) {
    msg(flash_msg_error, err_write);
    return;
  }
  if (nand_.bbm_state >= bbm_state_dirty) nand_.bbm_state = bbm_state_clean;
  msg(flash_msg_progress, 1);
  msg(flash_msg_done);
}

}  // namespace agent
