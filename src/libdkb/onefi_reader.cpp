// Reader of one-file images (layout in include/onefi/onefi.h): checks the magic and the MD5
// checksum, then turns the header into settings and each section into a list entry. The image
// data stay in the file; partition entries point into it by offset and size.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "flashini_lists.h"
#include "onefi/onefi.h"
#include "util/md5.h"

extern "C" const char magic_1fi_header[ONEFI_MAGIC_SIZE] = "1FI FORMAT";

namespace {

class file_descriptor {
 public:
  explicit file_descriptor(int fd) : fd_(fd) {}
  ~file_descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  file_descriptor(const file_descriptor &) = delete;
  file_descriptor &operator=(const file_descriptor &) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class read_buffer {
 public:
  read_buffer() : bytes_(static_cast<unsigned char *>(flashini_calloc(1, ONEFI_READ_CHUNK))) {}
  ~read_buffer() { flashini_free(bytes_); }
  read_buffer(const read_buffer &) = delete;
  read_buffer &operator=(const read_buffer &) = delete;
  unsigned char *get() const { return bytes_; }

 private:
  unsigned char *bytes_;
};

// Reads up to `size` bytes at `offset`, retrying interruptions and short reads. Returns the
// count read, or -1.
long long read_at(int fd, void *buf, std::size_t size, long long offset) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, static_cast<char *>(buf) + done, size - done, offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += std::size_t(n);
  }
  return (long long)done;
}

void print_digest(const unsigned char d[16]) {
  for (int i = 0; i < 16; ++i) std::fprintf(stderr, "%02X", d[i]);
}

// MD5 of everything from the checksum's end to the end of the file, in 1 MiB reads.
bool checksum_matches(int fd, const onefi_header &header, unsigned char *buffer) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  if (lseek(fd, ONEFI_CHECKED_FROM, SEEK_SET) < 0) return false;
  for (;;) {
    ssize_t n = read(fd, buffer, ONEFI_READ_CHUNK);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    MD5Update(&ctx, buffer, (unsigned long)n);
  }
  MD5Final(&ctx);
  if (std::memcmp(ctx.digest, header.checksum, 16) == 0) return true;
  std::fputs("One file image checksum error: ", stderr);
  print_digest(header.checksum);
  std::fputs(" expected: ", stderr);
  print_digest(ctx.digest);
  std::fputs("\n", stderr);
  return false;
}

// Calls fn(index, section) for every section record, reading them in batches through the one
// buffer. False when a read comes up short.
template <class Fn>
bool for_each_section(int fd, uint32_t count, unsigned char *buffer, Fn fn) {
  constexpr uint32_t per_batch = ONEFI_READ_CHUNK / ONEFI_SECTION_SIZE;
  for (uint32_t first = 0; first < count; first += per_batch) {
    uint32_t n = count - first < per_batch ? count - first : per_batch;
    std::size_t bytes = std::size_t(n) * ONEFI_SECTION_SIZE;
    long long at = ONEFI_HEADER_SIZE + (long long)first * ONEFI_SECTION_SIZE;
    if (read_at(fd, buffer, bytes, at) != (long long)bytes) return false;
    for (uint32_t i = 0; i < n; ++i) {
      onefi_section section;
      std::memcpy(&section, buffer + std::size_t(i) * ONEFI_SECTION_SIZE, sizeof section);
      if (!fn(first + i, section)) return false;
    }
  }
  return true;
}

struct section_counts {
  int image = 0, erase = 0, gpio_bd = 0, gpio_ad = 0;
};

struct built_lists {
  flashini_erase_info_list *erase = nullptr;
  flashini_partition_info_list *partition = nullptr;
  flashini_gpio_info_list *gpio_bd = nullptr;
  flashini_gpio_info_list *gpio_ad = nullptr;
  ~built_lists() {
    flashini_free(erase);
    flashini_free(partition);
    flashini_free(gpio_bd);
    flashini_free(gpio_ad);
  }
  bool make(const section_counts &c) {
    erase = list_make<flashini_erase_info_list>(c.erase);
    partition = list_make<flashini_partition_info_list>(c.image);
    gpio_bd = list_make<flashini_gpio_info_list>(c.gpio_bd);
    gpio_ad = list_make<flashini_gpio_info_list>(c.gpio_ad);
    return erase && partition && gpio_bd && gpio_ad;
  }
};

// Copies a zero-padded field that may lack a terminator.
template <std::size_t N, std::size_t M>
void copy_padded(char (&field)[N], const char (&source)[M]) {
  std::size_t n = strnlen(source, M);
  if (n > N - 1) n = N - 1;
  std::memcpy(field, source, n);
  field[n] = '\0';
}

bool image_within_file(uint32_t index, uint32_t count, const onefi_image_section &image,
                       long long file_size) {
  if ((long long)image.offset + image.size <= file_size) return true;
  std::fprintf(stderr,
               "One file image section %u of %u (%.*s): image data at offset %u, %u bytes, "
               "runs past the end of the file (%lld bytes)\n",
               index + 1, count, (int)strnlen(image.original_filename, 4096),
               image.original_filename, image.offset, image.size, file_size);
  return false;
}

struct list_cursor {
  int image = 0, erase = 0, gpio_bd = 0, gpio_ad = 0;
};

void fill_entry(built_lists &lists, list_cursor &at, const onefi_section &s, const char *path) {
  switch (s.type) {
    case ONEFI_ERASE: {
      flashini_erase_info &e = lists.erase->info[at.erase++];
      e.nand_loc_start = s.body.erase.nand_offset;
      e.nand_loc_end = s.body.erase.nand_offset_end;
      break;
    }
    case ONEFI_IMAGE: {
      flashini_partition_info &p = lists.partition->info[at.image++];
      copy_padded(p.original_filename, s.body.image.original_filename);
      copy_text(p.filename, path);
      copy_padded(p.desc, s.body.image.description);
      p.nand_loc_start = s.body.image.nand_offset;
      p.nand_loc_end = s.body.image.nand_offset_end;
      p.image_with_oob = int(s.body.image.image_with_oob);
      p.skip_flash = 0;
      p.md5sum_res[0] = '\0';
      p.offset_in_file = int(s.body.image.offset);
      p.file_size = int(s.body.image.size);
      break;
    }
    case ONEFI_GPIO_BD:
    case ONEFI_GPIO_AD: {
      flashini_gpio_info_list *l = s.type == ONEFI_GPIO_BD ? lists.gpio_bd : lists.gpio_ad;
      flashini_gpio_info &g = l->info[s.type == ONEFI_GPIO_BD ? at.gpio_bd++ : at.gpio_ad++];
      g.gpio = int(s.body.gpio.gpio_no);
      g.value = int(s.body.gpio.value);
      break;
    }
    default:
      break;  // unknown section types are skipped
  }
}

void take_settings(flashini_content *c, const onefi_header &h, const char *path) {
  c->enable_crc = int(h.enable_crc_download);
  c->init_bbm_method = int(h.init_nand_flash_bbm_method);
  c->bbm_reloc_addr = int(h.bbm_reloc_addr);
  c->bbm_reloc_end_addr = int(h.bbm_reloc_end_addr);
  c->num_of_chip_select = int(h.num_of_chip_select);
  std::memcpy(c->creationtime, h.creationtime, sizeof c->creationtime);
  copy_padded(c->one_file_image_description, h.description);
  copy_text(c->one_file_image, path);
}

}  // namespace

extern "C" int parse_one_1fi(flashini_content *ini_content, const char *one_file_image) {
  file_descriptor fd(open(one_file_image, O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    std::fputs("Open one file image error\n", stderr);
    return 1;
  }
  posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

  onefi_header header;
  if (read_at(fd.get(), &header, sizeof header, 0) != (long long)sizeof header) {
    std::fputs("Read one file image error\n", stderr);
    return 1;
  }
  if (std::memcmp(header.magic, magic_1fi_header, ONEFI_MAGIC_SIZE) != 0) {
    std::fputs("One file image magic number not found\n", stderr);
    return 1;
  }
  read_buffer buffer;
  if (!buffer.get()) return 1;
  if (!checksum_matches(fd.get(), header, buffer.get())) return 1;

  struct stat st;
  if (fstat(fd.get(), &st) != 0) return 1;
  const long long file_size = st.st_size;
  const uint32_t count = header.no_of_sections;
  // The table must lie in the file; checked before reading, so that a forged count can neither
  // overflow the size nor make us read past the end.
  const long long table_end = ONEFI_HEADER_SIZE + (long long)count * ONEFI_SECTION_SIZE;
  if (table_end > file_size) {
    long long first_outside = (file_size - ONEFI_HEADER_SIZE) / ONEFI_SECTION_SIZE;
    std::fprintf(stderr,
                 "One file image section %lld of %u lies beyond the end of the file (%lld bytes)\n",
                 first_outside + 1, count, file_size);
    std::fputs("Read file image error\n", stderr);
    return 1;
  }

  section_counts counts;
  bool image_outside = false;
  bool read_ok = for_each_section(fd.get(), count, buffer.get(),
                                  [&](uint32_t index, const onefi_section &s) {
    switch (s.type) {
      case ONEFI_IMAGE:
        ++counts.image;
        image_outside = !image_within_file(index, count, s.body.image, file_size);
        return !image_outside;
      case ONEFI_ERASE: ++counts.erase; break;
      case ONEFI_GPIO_BD: ++counts.gpio_bd; break;
      case ONEFI_GPIO_AD: ++counts.gpio_ad; break;
      default: break;
    }
    return true;
  });
  if (!read_ok) {
    if (!image_outside) std::fputs("Read file image error\n", stderr);
    return 1;
  }

  built_lists lists;
  if (!lists.make(counts)) return 1;
  list_cursor at;
  if (!for_each_section(fd.get(), count, buffer.get(), [&](uint32_t, const onefi_section &s) {
        fill_entry(lists, at, s, one_file_image);
        return true;
      })) {
    std::fputs("Read file image error\n", stderr);
    return 1;
  }

  take_settings(ini_content, header, one_file_image);
  ini_content->erase_info_list = lists.erase;
  ini_content->partition_info_list = lists.partition;
  ini_content->gpio_bd_info_list = lists.gpio_bd;
  ini_content->gpio_ad_info_list = lists.gpio_ad;
  lists.erase = nullptr;
  lists.partition = nullptr;
  lists.gpio_bd = nullptr;
  lists.gpio_ad = nullptr;
  return 0;
}
