// Builds one-file images in memory for the tests: header, sections, data, checksum.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "onefi/onefi.h"
#include "util/md5.h"

struct onefi_builder {
  onefi_header header{};
  std::vector<onefi_section> sections;
  std::vector<unsigned char> data;  // placed right after the section table

  onefi_builder() {
    std::memcpy(header.magic, magic_1fi_header, sizeof header.magic);
    std::memcpy(header.creationtime, "201003040506", 12);
    header.enable_crc_download = 1;
    header.init_nand_flash_bbm_method = 2;
    header.bbm_reloc_addr = 0x100000;
    header.bbm_reloc_end_addr = 0x200000;
    header.num_of_chip_select = 0xFFFFFFFF;
    std::memcpy(header.description, "2.1", 3);
  }

  static onefi_section blank(uint32_t type) {
    onefi_section s;
    std::memset(&s, 0, sizeof s);
    s.type = type;
    return s;
  }

  // Adds an image whose data follows the table; offsets are fixed up in bytes().
  onefi_builder &image(const std::string &name, const std::string &desc, const std::string &payload,
                       uint32_t nand, uint32_t nand_end, uint32_t oob = 0) {
    onefi_section s = blank(ONEFI_IMAGE);
    std::memcpy(s.body.image.original_filename, name.data(), std::min<size_t>(name.size(), 4096));
    std::memcpy(s.body.image.description, desc.data(), std::min<size_t>(desc.size(), 256));
    s.body.image.offset = uint32_t(data.size());  // relative until bytes()
    s.body.image.size = uint32_t(payload.size());
    s.body.image.nand_offset = nand;
    s.body.image.nand_offset_end = nand_end;
    s.body.image.image_with_oob = oob;
    sections.push_back(s);
    data.insert(data.end(), payload.begin(), payload.end());
    return *this;
  }
  onefi_builder &erase(uint32_t start, uint32_t end) {
    onefi_section s = blank(ONEFI_ERASE);
    s.body.erase.nand_offset = start;
    s.body.erase.nand_offset_end = end;
    sections.push_back(s);
    return *this;
  }
  onefi_builder &gpio(uint32_t type, uint32_t no, uint32_t value) {
    onefi_section s = blank(type);
    s.body.gpio.gpio_no = no;
    s.body.gpio.value = value;
    sections.push_back(s);
    return *this;
  }

  // The file's bytes; the section count is the number of sections unless `count` says otherwise.
  std::vector<unsigned char> bytes(long long count = -1) const {
    onefi_header h = header;
    h.no_of_sections = count < 0 ? uint32_t(sections.size()) : uint32_t(count);
    std::vector<unsigned char> out(sizeof h);
    std::memcpy(out.data(), &h, sizeof h);
    const uint32_t data_start = uint32_t(ONEFI_HEADER_SIZE + sections.size() * ONEFI_SECTION_SIZE);
    for (onefi_section s : sections) {
      if (s.type == ONEFI_IMAGE) s.body.image.offset += data_start;
      const auto *p = reinterpret_cast<const unsigned char *>(&s);
      out.insert(out.end(), p, p + sizeof s);
    }
    out.insert(out.end(), data.begin(), data.end());
    seal(out);
    return out;
  }

  // Recomputes the checksum over bytes 56 to the end.
  static void seal(std::vector<unsigned char> &file) {
    if (file.size() < ONEFI_CHECKED_FROM) return;
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, file.data() + ONEFI_CHECKED_FROM, file.size() - ONEFI_CHECKED_FROM);
    MD5Final(&ctx);
    std::memcpy(file.data() + ONEFI_CHECKSUM_OFFSET, ctx.digest, 16);
  }
};
