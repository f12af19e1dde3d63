// One-file image (1FI): every image, erase area, GPIO and NAND setting of a production
// recipe in one file under an MD5 checksum.
//
// Layout (all numbers unsigned 32-bit little-endian, texts zero-padded, a text that fills its
// field has no terminator):
//   offset 0     onefi_header, 492 bytes; `checksum` is the MD5 of every byte from 56 to EOF
//   offset 492   no_of_sections x onefi_section, 4776 bytes each
//   after them   image data, located by the image sections' absolute offsets
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#include <type_traits>
extern "C" {
#endif

#include "libdkb/flashini_parser.h"

#define ONEFI_MAGIC_SIZE 40
#define ONEFI_CHECKSUM_OFFSET 40
#define ONEFI_CHECKED_FROM 56          // first byte covered by the checksum
#define ONEFI_HEADER_SIZE 492
#define ONEFI_SECTION_SIZE 4776
#define ONEFI_DESCRIPTION_SIZE 60
#define ONEFI_READ_CHUNK (1024 * 1024)  // checksum reads go through one buffer of this size

extern const char magic_1fi_header[ONEFI_MAGIC_SIZE];  // "1FI FORMAT" and 30 zero bytes

typedef struct onefi_header {
  char magic[40];
  unsigned char checksum[16];
  uint32_t no_of_sections;
  char creationtime[12];              // YYYYMMDDhhmm, UTC
  uint32_t enable_crc_download;
  uint32_t init_nand_flash_bbm_method;
  uint32_t bbm_reloc_addr;
  uint32_t bbm_reloc_end_addr;
  uint32_t num_of_chip_select;        // 0xFFFFFFFF leaves the agent's NAND parameters alone
  char description[60];
  unsigned char reserved[340];
} onefi_header;

typedef enum onefi_section_type {
  ONEFI_IMAGE = 0,
  ONEFI_ERASE = 1,
  ONEFI_GPIO_BD = 2,
  ONEFI_GPIO_AD = 3,
} onefi_section_type;

typedef struct onefi_image_section {
  char original_filename[4096];
  char description[256];
  uint32_t offset;                    // absolute offset of the data in the 1FI
  uint32_t size;
  uint32_t nand_offset;
  uint32_t nand_offset_end;
  uint32_t image_with_oob;
  unsigned char reserved[400];
} onefi_image_section;

typedef struct onefi_erase_section {
  char description[256];
  uint32_t nand_offset;
  uint32_t nand_offset_end;           // exclusive
  unsigned char reserved[400];
} onefi_erase_section;

typedef struct onefi_gpio_section {
  uint32_t gpio_no;
  uint32_t value;
  unsigned char reserved[400];
} onefi_gpio_section;

typedef struct onefi_section {
  uint32_t type;
  union {
    onefi_image_section image;
    onefi_erase_section erase;
    onefi_gpio_section gpio;
    unsigned char raw[ONEFI_SECTION_SIZE - 4];
  } body;
} onefi_section;

// Reads the 1FI named by "map:1fi_file" into the zero-filled record under construction:
// header settings, creation time, description, path and all four lists. 0 on success;
// non-zero on failure, with a message on standard error and nothing left allocated.
int parse_one_1fi(flashini_content *ini_content, const char *one_file_image);

#ifdef __cplusplus
}  // extern "C"
static_assert(sizeof(onefi_header) == ONEFI_HEADER_SIZE);
static_assert(sizeof(onefi_section) == ONEFI_SECTION_SIZE);
static_assert(offsetof(onefi_header, description) == 92);
static_assert(offsetof(onefi_section, body.image.offset) == 4356);
static_assert(offsetof(onefi_section, body.image.reserved) == 4376);
static_assert(offsetof(onefi_section, body.erase.nand_offset) == 260);
static_assert(offsetof(onefi_section, body.gpio.value) == 8);
static_assert(std::is_trivially_copyable_v<onefi_section>);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records are read in place");
#endif
