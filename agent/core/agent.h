// The target agent: one command dispatcher over a board. Freestanding: no heap, no exceptions,
// no hosted library. A board owns exactly one agent_core (the real handset keeps it in SRAM).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "board.h"
#include "bbm.h"

namespace agent {

// What the agent knows about its NAND between two init_nand_flash_commands.
struct nand_record {
  uint32_t manu_id;
  uint32_t device_id;
  uint32_t no_of_blocks;  // per chip select
  uint32_t page_size;     // data bytes
  uint32_t block_size;    // data bytes
  uint32_t oob_size;      // spare bytes per page
  uint32_t bus_width;     // 8 or 16
  uint32_t chip_selects;
  uint32_t reloc_first;   // relocation area, first and last block; both 0 until set
  uint32_t reloc_last;
  uint32_t bbm_state;     // bbm_state_* below
  uint32_t bbm_page;      // page of block 0 with the newest table; pages_per_block when none
  bbm_table *table;
};

enum : uint32_t { bbm_state_none = 0, bbm_state_clean = 1, bbm_state_dirty = 2 };

constexpr uint32_t max_page_size = 8192;
constexpr uint32_t max_spare_size = 64;

class agent_core {
 public:
  // Sets every variable to its start value; called once before run().
  void begin(board *b);
  // The main routine after start-up: trace, I2C, the PMIC watchdog off, USB, then run().
  void main_routine(uint32_t boot_flags);
  // Serves commands one after the other until the agent stops for good or (bench only) the
  // board reports that the link is gone.
  void run();
  // One command: false once the agent has stopped or the link is gone.
  bool serve_one();

  bool stopped() const { return stopped_; }
  bool halted() const { return halted_; }
  const nand_record &nand() const { return nand_; }
  const bbm_table &table() const { return table_; }
  uint32_t current_address() const { return address_; }
  uint32_t current_length() const { return length_; }
  // Logical-to-physical block as the agent maps it now (for the bench's read-back).
  uint32_t map_block(uint32_t block) const;

 private:
  // usb_io.cpp: items of exact size, messages of a stream
  bool receive(void *to, uint32_t count);
  bool receive_word(uint32_t *value);
  bool receive_to_memory(uint32_t address, uint32_t count);
  bool send(const void *from, uint32_t count);
  bool send_word(uint32_t value);
  void msg(uint32_t word);
  void msg(uint32_t word, uint32_t value);
  void msg_text(const char *text);
  void msg_hex(uint32_t value);
  void fail(const char *why, uint32_t expected, uint32_t got);
  void stop_for_good();

  // dispatcher.cpp
  void dispatch(uint32_t command);

  // device.cpp: RAM transfers, GPIO, PMIC, RTC, resets
  void on_send_data();
  void on_get_data();
  void on_get_crc();
  void on_set_gpio();
  void on_write_micco();
  void on_read_micco();
  void on_write_rtc();
  void on_read_rtc();
  void on_hard_reset();
  void on_soft_reset();
  static constexpr uint8_t micco_watchdog_register = 0x0B;
  uint8_t pmic_read(uint8_t reg);
  void pmic_write(uint8_t reg, uint8_t value);

  // nand.cpp: initialisation, geometry, pages and blocks over the chip selects
  void on_init_nand();
  void on_flash_info();
  void on_nand_para();
  void on_reloc_area();
  bool detect_nand();
  uint32_t pages_per_block() const { return nand_.page_size ? nand_.block_size / nand_.page_size : 0; }
  uint32_t total_blocks() const { return nand_.no_of_blocks * nand_.chip_selects; }
  uint32_t spare_kept() const { return nand_.page_size <= 512 ? 8 : 40; }
  uint32_t set_aside_pages() const { return nand_.page_size <= 512 ? 8 : 40; }
  int erase_physical(uint32_t block);
  int program_physical(uint32_t block, uint32_t page, const uint8_t *data, const uint8_t *spare,
                       uint32_t spare_length);
  int read_physical(uint32_t block, uint32_t page, uint8_t *data, uint8_t *spare, bool ecc);

  // bbm.cpp: the table, its mapping, relocation, loading and storing it in block 0
  void new_table();
  bool table_valid() const;
  bool relocate(uint32_t physical);
  bool load_table();
  int store_table(uint32_t page);
  bool page_has_header(uint32_t page);
  void on_validate();
  void on_write_back();
  bool rotate_block0();

  // bbm_build.cpp: new tables for a used and for a blank flash
  void on_build_used();
  void on_build_blank();
  bool block_reads_erased(uint32_t block);
  bool block_has_factory_mark(uint32_t block);
  void mark_bad(uint32_t block);

  // flash.cpp: erase, write and read through the BBM
  void on_erase();
  void on_write();
  void on_read();
  bool erase_range(uint32_t first, uint32_t end);
  bool erase_mapped(uint32_t block);
  bool program_block(uint32_t block, uint32_t first_page, uint32_t pages, const uint8_t *src,
                     bool with_oob, uint32_t bytes);

  board *b_;
  bool stopped_;
  bool halted_;
  uint32_t address_;
  uint32_t length_;
  nand_record nand_;
  bbm_table table_;
  uint8_t packet_[512];
  uint8_t page_[max_page_size];
  uint8_t spare_[max_spare_size];
};

}  // namespace agent
