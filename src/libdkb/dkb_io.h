// Inside libdkb: the command words in wire order, the two complete-transfer primitives and the
// source-location diagnostics every operation prints.
#pragma once

#include <cstdint>
#include <cstdio>

#include "libdkb/libdkb.h"

namespace dkb {

using word_bytes = unsigned char[4];

inline constexpr unsigned char get_crc_command[4] = {0x08, 0xFF, 0x55, 0xAA};
inline constexpr unsigned char ack_command[4] = {0x80, 0x55, 0x55, 0xFF};
inline constexpr unsigned char set_addr_command[4] = {0x08, 0xFF, 0xAA, 0x55};
inline constexpr unsigned char set_len_command[4] = {0x02, 0x55, 0xFF, 0xAA};
inline constexpr unsigned char send_data_command[4] = {0x01, 0x55, 0xAA, 0xFF};
inline constexpr unsigned char get_data_command[4] = {0x04, 0xFF, 0x55, 0xAA};
inline constexpr unsigned char reset_command[4] = {0x40, 0xAA, 0xAA, 0xFF};
inline constexpr unsigned char hard_reset_command[4] = {0x80, 0xAA, 0xAA, 0xFF};
inline constexpr unsigned char set_gpio_command[4] = {0x80, 0x88, 0x88, 0xFF};
inline constexpr unsigned char write_micco_data_command[4] = {0x80, 0x88, 0x77, 0xFF};
inline constexpr unsigned char read_micco_data_command[4] = {0x80, 0x88, 0x66, 0xFF};
inline constexpr unsigned char write_rtc_command[4] = {0x80, 0x88, 0x55, 0xFF};
inline constexpr unsigned char read_rtc_command[4] = {0x80, 0x88, 0x44, 0xFF};
inline constexpr unsigned char init_nand_flash_command[4] = {0x01, 0x00, 0xAA, 0xAA};
inline constexpr unsigned char init_mvl_bbm_nake_flash_command[4] = {0x02, 0x00, 0xAA, 0xAA};
inline constexpr unsigned char init_mvl_bbm_used_flash_command[4] = {0x03, 0x00, 0xAA, 0xAA};
inline constexpr unsigned char write_flash_command[4] = {0x04, 0x00, 0xAA, 0xAA};
inline constexpr unsigned char read_flash_command[4] = {0x05, 0x00, 0xAA, 0xAA};
inline constexpr unsigned char erase_flash_command[4] = {0x06, 0x00, 0xAA, 0xAA};
inline constexpr unsigned char write_mvl_bbm_command[4] = {0x07, 0x00, 0xAA, 0xAA};
inline constexpr unsigned char get_nand_flash_info_command[4] = {0x08, 0x00, 0xAA, 0xAA};
inline constexpr unsigned char nand_flash_bbm_reloc_area_command[4] = {0x09, 0x00, 0xAA, 0xAA};
inline constexpr unsigned char nand_flash_para_command[4] = {0x0A, 0x00, 0xAA, 0xAA};
inline constexpr unsigned char validate_nand_bbm_command[4] = {0x0B, 0x00, 0xAA, 0xAA};

// Message words, little-endian values.
enum : uint32_t {
  flash_msg_progress = 0xAABB0001,
  flash_msg_total = 0xAABB0002,
  flash_msg_text = 0xAABB0003,
  flash_msg_text_length = 0xAABB0004,
  flash_msg_error = 0xAABB0005,
  flash_msg_done = 0xAABB0006,
};

constexpr int ep_out = 0x02;
constexpr int ep_in = 0x81;

// Calls the transport until all `size` bytes have moved; the first negative result is returned.
int _usb_bulk_write(usb_dev_handle *dev, int ep, const void *bytes, int size, int timeout);
int _usb_bulk_read(usb_dev_handle *dev, int ep, void *bytes, int size, int timeout);

// A complete write of a command word or of one 32-bit little-endian value.
int send_bytes(usb_dev_handle *dev, const void *bytes, int size, int timeout);
int send_word(usb_dev_handle *dev, uint32_t value, int timeout);
void put_le32(unsigned char *p, uint32_t v);
uint32_t le32(const unsigned char *p);

// The source file's name without its directories, for the diagnostics.
const char *source_name(const char *path);

}  // namespace dkb

#define DKB_DIAG(fmt, ...) std::printf("%s %d" fmt, dkb::source_name(__FILE__), __LINE__ __VA_OPT__(, ) __VA_ARGS__)
