// New BBM tables: for a used flash (every block erased and read back) and for a blank flash
// straight from the factory (its bad-block marks believed, every other block erased).
#include "agent.h"
#include "bytes.h"
#include "protocol.h"

namespace agent {

bool agent_core::block_reads_erased(uint32_t block) {
  for (uint32_t p = 0; p < pages_per_block(); ++p) {
    if (read_physical(block, p, page_, spare_, false) != 0) return false;
    for (uint32_t i = 0; i < nand_.page_size; ++i)
      if (page_[i] != 0xFF) return false;
    for (uint32_t i = 0; i < spare_kept() && i < nand_.oob_size; ++i)
      if (spare_[i] != 0xFF) return false;
  }
  return true;
}

// The makers' mark: a spare byte other than 0xFF in the first or second page (byte 0 on large
// pages, byte 5 on 512-byte pages).
bool agent_core::block_has_factory_mark(uint32_t block) {
  uint32_t at = nand_.page_size <= 512 ? 5 : 0;
  for (uint32_t p = 0; p < 2; ++p) {
    if (read_physical(block, p, page_, spare_, false) != 0) return true;
    if (spare_[at] != 0xFF || spare_[0] != 0xFF) return true;
  }
  return false;
}

// The first two pages programmed with zeroed spare bytes, as the makers mark a bad block.
void agent_core::mark_bad(uint32_t block) {
  uint8_t zeros[max_spare_size];
  fill_bytes(zeros, 0, sizeof zeros);
  fill_bytes(page_, 0xFF, nand_.page_size);
  for (uint32_t p = 0; p < 2; ++p) program_physical(block, p, page_, zeros, spare_kept());
}

void agent_core::on_build_used() {
  uint32_t blocks = total_blocks();
  msg(flash_msg_total, blocks);
  bool ok = nand_.bbm_state != bbm_state_none;
  if (ok) {
    new_table();
    nand_.bbm_state = bbm_state_clean;
    nand_.bbm_page = pages_per_block();
    ok = erase_physical(0) == 0;
  }
  for (uint32_t n = 1; ok && n < blocks && !stopped_; ++n) {
    if (erase_physical(n) != 0 || !block_reads_erased(n)) {
      mark_bad(n);
      ok = relocate(n);
    }
    if (ok && n % 16 == 0) msg(flash_msg_progress, n - 1);
  }
  if (ok) ok = erase_physical(0) == 0 && store_table(pages_per_block() - 1) == 0;
  if (!ok) {
    msg_text("Too many bad blocks or block 0 write failed\n");
    msg(flash_msg_error, err_erase);
    return;
  }
  nand_.bbm_state = bbm_state_clean;
  msg(flash_msg_done);
}

// The blank-flash builder answers like the used-flash one but fails with error 4.
void agent_core::on_build_blank() {
  b_->trace("protocol init nake flash\r\n");
  uint32_t blocks = total_blocks();
  msg(flash_msg_total, blocks);
  bool ok = nand_.bbm_state != bbm_state_none;
  if (ok) {
    new_table();
    nand_.bbm_state = bbm_state_clean;
    nand_.bbm_page = pages_per_block();
    ok = erase_physical(0) == 0;
  }
  for (uint32_t n = 1; ok && n < blocks && !stopped_; ++n) {
    if (block_has_factory_mark(n)) {
      ok = relocate(n);
    } else if (erase_physical(n) != 0) {
      mark_bad(n);
      ok = relocate(n);
    }
    if (ok && n % 16 == 0) msg(flash_msg_progress, n - 1);
  }
  if (ok) ok = erase_physical(0) == 0 && store_table(pages_per_block() - 1) == 0;
  if (!ok) {
    msg_text("Too many bad blocks or block 0 write failed\n");
    msg(flash_msg_error, err_write);
    return;
  }
  nand_.bbm_state = bbm_state_clean;
  msg(flash_msg_done);
}

}  // namespace agent
