// The flashing recipe: flasher.ini, optionally with a one-file image (1FI) whose settings it
// overrides and whose lists it extends, read once at start-up into flashini_content.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef struct flashini_erase_info {
  unsigned int nand_loc_start;  // first flash byte of the area
  unsigned int nand_loc_end;    // first byte after it
} flashini_erase_info;

typedef struct flashini_erase_info_list {
  int no_of_erase_info;
  flashini_erase_info info[];
} flashini_erase_info_list;

typedef struct flashini_gpio_info {
  int gpio;
  int value;
} flashini_gpio_info;

typedef struct flashini_gpio_info_list {
  int no_of_gpio_info;
  flashini_gpio_info info[];
} flashini_gpio_info_list;

typedef struct flashini_partition_info {
  char original_filename[4096];  // as the recipe names it; shown, never opened
  char filename[4096];           // where the data is read: the image, or the 1FI
  char desc[256];                // status text while the image is written
  unsigned int nand_loc_start;
  unsigned int nand_loc_end;     // end of the area given to the image
  int image_with_oob;            // pages carry their spare bytes behind the data
  int skip_flash;                // file missing at start-up and allowed to be skipped
  char md5sum_res[33];           // room for a digest; nothing fills it
  int offset_in_file;
  int file_size;                 // 0 or less: from offset_in_file to the end of the file
} flashini_partition_info;

typedef struct flashini_partition_info_list {
  int no_of_partition_info;
  flashini_partition_info info[];
} flashini_partition_info_list;

typedef enum FLASHINI_INITNAND_BBM {
  FLASHINI_USE_EXIST_BBM = 0,
  FLASHINI_INIT_NAKE_BBM = 1,
  FLASHINI_INIT_USED_BBM = 2,
  FLASHINI_USE_EXIST_BBM_IF_NOT_FOUND_INIT_USED_BBM = 3,
} FLASHINI_INITNAND_BBM;

typedef struct flashini_content {
  int enable_crc;
  int init_bbm_method;
  int bbm_reloc_addr;
  int bbm_reloc_end_addr;
  int num_of_chip_select;
  int loop_test;
  int logging;
  int reboot;
  int sync_pc_time;
  char creationtime[12];                 // YYYYMMDDhhmm (UTC), not terminated; zeros without a 1FI
  char one_file_image[4096];
  char one_file_image_description[61];
  flashini_erase_info_list *erase_info_list;
  flashini_partition_info_list *partition_info_list;
  flashini_gpio_info_list *gpio_bd_info_list;
  flashini_gpio_info_list *gpio_ad_info_list;
} flashini_content;

// Parses the recipe; null on any failure, with nothing left allocated. The caller owns the result.
flashini_content *flashini_parse_file(const char *ini_name);

// Frees the four lists, then the record. Null is accepted.
void flashini_destroy(flashini_content *content);

#ifdef __cplusplus
}
#endif
