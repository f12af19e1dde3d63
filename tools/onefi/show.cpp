// `onefi info`: the header and every section in readable form.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pack.h"

namespace {

template <std::size_t N>
std::string padded(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

void print_header(std::FILE *out, const std::string &path, long long size, const onefi_header &h) {
  bool magic_ok = std::memcmp(h.magic, magic_1fi_header, ONEFI_MAGIC_SIZE) == 0;
  std::fprintf(out, "File:              %s (%lld bytes)\n", path.c_str(), size);
  std::fprintf(out, "Magic:             %s\n", magic_ok ? "1FI FORMAT" : "not a one-file image");
  std::fprintf(out, "Checksum:          ");
  for (unsigned char b : h.checksum) std::fprintf(out, "%02X", b);
  std::string t = padded(h.creationtime);
  std::fprintf(out, "\nCreation time:     ");
  if (t.size() == 12)
    std::fprintf(out, "%.4s-%.2s-%.2s %.2s:%.2s (UTC)\n", t.c_str(), t.c_str() + 4, t.c_str() + 6,
                 t.c_str() + 8, t.c_str() + 10);
  else
    std::fprintf(out, "\"%s\" (not 12 digits)\n", t.c_str());
  std::fprintf(out, "Description:       %s\n", padded(h.description).c_str());
  std::fprintf(out, "CRC download:      %u\n", h.enable_crc_download);
  std::fprintf(out, "BBM method:        %u\n", h.init_nand_flash_bbm_method);
  std::fprintf(out, "BBM reloc area:    0x%08X - 0x%08X\n", h.bbm_reloc_addr, h.bbm_reloc_end_addr);
  if (h.num_of_chip_select == 0xFFFFFFFF)
    std::fprintf(out, "Chip selects:      left alone\n");
  else
    std::fprintf(out, "Chip selects:      %u\n", h.num_of_chip_select);
  std::fprintf(out, "Sections:          %u\n", h.no_of_sections);
}

void print_section(std::FILE *out, uint32_t n, const onefi_section &s, long long file_size) {
  std::fprintf(out, "Section %u: ", n);
  switch (s.type) {
    case ONEFI_IMAGE: {
      const onefi_image_section &i = s.body.image;
      bool inside = (long long)i.offset + i.size <= file_size;
      std::fprintf(out, "image \"%s\"\n  desc \"%s\"\n  data at 0x%08X, %u bytes%s\n"
                        "  flash 0x%08X - 0x%08X, with OOB %u\n",
                   padded(i.original_filename).c_str(), padded(i.description).c_str(), i.offset,
                   i.size, inside ? "" : " (past the end of the file)", i.nand_offset,
                   i.nand_offset_end, i.image_with_oob);
      break;
    }
    case ONEFI_ERASE:
      std::fprintf(out, "erase 0x%08X - 0x%08X \"%s\"\n", s.body.erase.nand_offset,
                   s.body.erase.nand_offset_end, padded(s.body.erase.description).c_str());
      break;
    case ONEFI_GPIO_BD:
    case ONEFI_GPIO_AD:
      std::fprintf(out, "gpio %s: gpio %u value %u\n", s.type == ONEFI_GPIO_BD ? "before" : "after",
                   s.body.gpio.gpio_no, s.body.gpio.value);
      break;
    default:
      std::fprintf(out, "type %u (ignored by the station)\n", s.type);
  }
}

}  // namespace

bool show_onefi(const std::string &path, std::FILE *out, std::string &error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st;
  onefi_header h;
  bool ok = fstat(fd, &st) == 0 && pread(fd, &h, sizeof h, 0) == (ssize_t)sizeof h;
  if (!ok) {
    close(fd);
    error = path + " is shorter than a one-file image header";
    return false;
  }
  print_header(out, path, st.st_size, h);
  for (uint32_t n = 0; n < h.no_of_sections; ++n) {
    onefi_section s;
    off_t at = ONEFI_HEADER_SIZE + off_t(n) * ONEFI_SECTION_SIZE;
    if (pread(fd, &s, sizeof s, at) != (ssize_t)sizeof s) {
      std::fprintf(out, "Section %u and later: beyond the end of the file\n", n + 1);
      break;
    }
    print_section(out, n + 1, s, st.st_size);
  }
  close(fd);
  return true;
}
