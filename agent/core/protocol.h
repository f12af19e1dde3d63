// The agent's side of the command protocol: command words as little-endian values, message
// words, error codes and the fixed addresses the station relies on.
#pragma once

#include <stdint.h>

namespace agent {

// Command words (the wire bytes read as a little-endian word).
enum : uint32_t {
  get_crc_command = 0xAA55FF08,
  ack_command = 0xFF555580,
  set_addr_command = 0x55AAFF08,
  set_len_command = 0xAAFF5502,
  send_data_command = 0xFFAA5501,
  get_data_command = 0xAA55FF04,
  reset_command = 0xFFAAAA40,
  hard_reset_command = 0xFFAAAA80,
  set_gpio_command = 0xFF888880,
  write_micco_data_command = 0xFF778880,
  read_micco_data_command = 0xFF668880,
  write_rtc_command = 0xFF558880,
  read_rtc_command = 0xFF448880,
  init_nand_flash_command = 0xAAAA0001,
  init_mvl_bbm_nake_flash_command = 0xAAAA0002,
  init_mvl_bbm_used_flash_command = 0xAAAA0003,
  write_flash_command = 0xAAAA0004,
  read_flash_command = 0xAAAA0005,
  erase_flash_command = 0xAAAA0006,
  write_mvl_bbm_command = 0xAAAA0007,
  get_nand_flash_info_command = 0xAAAA0008,
  nand_flash_bbm_reloc_area_command = 0xAAAA0009,
  nand_flash_para_command = 0xAAAA000A,
  validate_nand_bbm_command = 0xAAAA000B,
};

// Message words of a stream.
enum : uint32_t {
  flash_msg_progress = 0xAABB0001,
  flash_msg_total = 0xAABB0002,
  flash_msg_text = 0xAABB0003,
  flash_msg_text_length = 0xAABB0004,
  flash_msg_error = 0xAABB0005,
  flash_msg_done = 0xAABB0006,
};

// Error codes sent with flash_msg_error.
enum : uint32_t {
  err_nand_init = 0,
  err_no_blocks = 1,
  err_no_bbm = 2,
  err_write = 4,         // write_flash, write_mvl_bbm, the blank-flash builder
  err_erase = 5,         // erase_flash, the used-flash builder
  err_read = 6,
  err_bbm_mapping = 7,
};

// Records (sizes on the wire).
constexpr uint32_t set_gpio_record = 8;
constexpr uint32_t micco_record = 4;
constexpr uint32_t rtc_record = 28;
constexpr uint32_t flash_info_record = 28;
constexpr uint32_t bbm_para_record = 8;
constexpr uint32_t nand_para_record = 4;
constexpr uint32_t write_flash_record = 32;
constexpr uint32_t read_flash_record = 28;
constexpr uint32_t erase_flash_record = 12;

constexpr uint32_t usb_packet_size = 512;
constexpr uint32_t initial_ram_address = 0x80100000;

}  // namespace agent
