// The packing manifest of `onefi pack`: an INI file in flasher.ini's vocabulary that names
// the package's description, settings, images, erase areas and GPIOs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "onefi/onefi.h"

struct manifest_image {
  std::string path;           // resolved against the manifest's directory
  std::string name;           // as the manifest writes it; stored as original_filename
  std::string description;
  uint32_t nand_loc = 0;
  uint32_t nand_loc_end = 0;
  uint32_t with_oob = 0;
  uint64_t size = 0;          // taken when the manifest is read
};

struct manifest_erase {
  std::string description;
  uint32_t nand_loc = 0;
  uint32_t nand_loc_end = 0;
};

struct manifest_gpio {
  uint32_t gpio = 0;
  uint32_t value = 0;
};

struct manifest {
  std::string description;
  std::string creationtime;   // 12 digits, UTC
  uint32_t crc = 1;
  uint32_t init_nand_flash_bbm = 3;
  uint32_t bbm_reloc = 0;
  uint32_t bbm_reloc_end = 0;
  uint32_t num_of_chip_select = 0xFFFFFFFF;
  std::vector<manifest_image> images;
  std::vector<manifest_erase> erases;
  std::vector<manifest_gpio> gpio_bd;
  std::vector<manifest_gpio> gpio_ad;
};

// Reads and checks a manifest. On failure returns false with a one-line reason in `error`.
bool read_manifest(const std::string &path, manifest &out, std::string &error);

// Current UTC time as YYYYMMDDhhmm.
std::string creationtime_now();
