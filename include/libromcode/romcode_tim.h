// The TIM the station builds for the agent image: one mvl_tim (56 bytes) and two mvl_tim_image
// records (60 bytes each), 176 bytes, all fields u32 little-endian. Image 1 is the TIM itself
// (TIMH, loaded at 0x5C008000), image 2 the agent (DKBI, at 0x5C013000, entry 0x80000000).
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MVL_TIM_VERSION 0x00030102u
#define MVL_TIMH_ID 0x54494D48u     // "TIMH"
#define MVL_DKBI_ID 0x444B4249u     // "DKBI"
#define MVL_NO_IMAGE_ID 0xFFFFFFFFu
#define MVL_TIM_ISSUEDATE 0x02212007u
#define MVL_TIM_OEM_UNIQUE_ID 0xEEEEEEEEu
#define MVL_TIM_BOOT_FLASH_SIGN 0x4E414E04u
#define MVL_TIM_LOAD_ADDR 0x5C008000u
#define MVL_DKB_LOAD_ADDR 0x5C013000u
#define MVL_DKB_FLASH_ENTRY_ADDR 0x80000000u
#define MVL_DEFAULT_TIM_SIZE 176

typedef struct mvl_tim {
  uint32_t version;
  uint32_t identifier;
  uint32_t trusted;
  uint32_t issuedate;
  uint32_t oem_unique_id;
  uint32_t wtm_flash_sign;
  uint32_t wtm_entry_addr;
  uint32_t wtm_entry_addr_back;
  uint32_t wtm_patch_sign;
  uint32_t wtm_patch_addr;
  uint32_t boot_flash_sign;
  uint32_t no_of_images;
  uint32_t no_of_keys;
  uint32_t size_of_reserved;
} mvl_tim;

typedef struct mvl_tim_image {
  uint32_t image_id;
  uint32_t next_image_id;
  uint32_t flash_entry_addr;
  uint32_t load_addr;
  uint32_t image_size;
  uint32_t image_size_to_hash;
  uint32_t hash_algorithm_id;
  uint32_t hash[8];
} mvl_tim_image;

// A new 176-byte default TIM (free() it) for an agent image of `size` bytes; *ret_size = 176.
// `img` and `crc_enable` do not change it. null when out of memory.
uint8_t *generate_default_tim_for_dkb(const uint8_t *img, uint32_t size, int crc_enable,
                                      uint32_t *ret_size);

// Reads the three records of a TIM buffer (little-endian); 0, or -1 when it is shorter than 176.
int mvl_tim_parse(const uint8_t *buf, uint32_t size, mvl_tim *tim, mvl_tim_image images[2]);

#ifdef __cplusplus
}
#endif
