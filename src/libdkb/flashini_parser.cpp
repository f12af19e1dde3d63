// flasher.ini reader. The keys are read in a fixed order: run options, the 1FI (which fills
// settings and lists first), the NAND/BBM settings (overriding the 1FI's), then the GPIO,
// erase and map lists (appended behind the 1FI's entries).
#include "libdkb/flashini_parser.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

extern "C" {
#include <iniparser.h>
}

#include "flashini_lists.h"
#include "onefi/onefi.h"

namespace {

constexpr int kAbsent = -1;  // a list key stated as -1 counts as missing

// iniparser takes a directory for an empty file (its read error ends the input like the end of
// a file would), so a directory in the recipe's place would pass as a recipe with nothing in it.
bool is_directory(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

class ini_dictionary {
 public:
  explicit ini_dictionary(const char *path) : d_(is_directory(path) ? nullptr : iniparser_load(path)) {}
  ~ini_dictionary() {
    if (d_) iniparser_freedict(d_);
  }
  ini_dictionary(const ini_dictionary &) = delete;
  ini_dictionary &operator=(const ini_dictionary &) = delete;
  dictionary *get() const { return d_; }

 private:
  dictionary *d_;
};

int get_int(dictionary *d, const char *key, int def) { return iniparser_getint(d, key, def); }

int get_numbered_int(dictionary *d, const char *list, int n, const char *key, int def) {
  char name[64];
  std::snprintf(name, sizeof name, "%s%d:%s", list, n, key);
  return iniparser_getint(d, name, def);
}

const char *get_numbered_string(dictionary *d, const char *list, int n, const char *key) {
  char name[64];
  std::snprintf(name, sizeof name, "%s%d:%s", list, n, key);
  return iniparser_getstring(d, name, nullptr);
}

// A negative total adds nothing: it must never shrink a list or make its count negative.
int get_total(dictionary *d, const char *list) {
  char name[64];
  std::snprintf(name, sizeof name, "%s:total", list);
  int total = iniparser_getint(d, name, 0);
  return total < 0 ? 0 : total;
}

// Every entry needs keys of its own, so a total above the dictionary's size can only end in a
// missing key: fail before allocating a list for it.
bool total_can_be_filled(dictionary *d, int total) { return total <= d->n; }

// Makes the list (no 1FI) or enlarges the 1FI's list by `total`; returns the index of the
// first new entry, or -1 when memory ran out.
template <class List>
int open_list(dictionary *d, List **list, bool is_onefi, int total) {
  if (!total_can_be_filled(d, total)) return -1;
  if (!is_onefi) {
    *list = list_make<List>(total);
    return *list ? 0 : -1;
  }
  int first = list_count(*list);
  return list_grow(list, total) ? first : -1;
}

bool read_gpio_list(dictionary *d, const char *name, flashini_gpio_info_list **list, bool is_onefi) {
  int total = get_total(d, name);
  int first = open_list(d, list, is_onefi, total);
  if (first < 0) return false;
  for (int n = 1; n <= total; ++n) {
    flashini_gpio_info &e = (*list)->info[first + n - 1];
    e.gpio = get_numbered_int(d, name, n, "gpio", kAbsent);
    e.value = get_numbered_int(d, name, n, "value", kAbsent);
    if (e.gpio == kAbsent || e.value == kAbsent) return false;
  }
  return true;
}

bool read_erase_list(dictionary *d, flashini_erase_info_list **list, bool is_onefi) {
  int total = get_total(d, "erase");
  int first = open_list(d, list, is_onefi, total);
  if (first < 0) return false;
  for (int n = 1; n <= total; ++n) {
    int start = get_numbered_int(d, "erase", n, "nand_loc", kAbsent);
    int end = get_numbered_int(d, "erase", n, "nand_loc_end", kAbsent);
    if (start == kAbsent || end == kAbsent) return false;
    (*list)->info[first + n - 1] = {unsigned(start), unsigned(end)};
  }
  return true;
}

bool file_is_readable(const char *path) {
  std::FILE *f = std::fopen(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

bool read_partition(dictionary *d, int n, flashini_partition_info &p) {
  const char *filename = get_numbered_string(d, "map", n, "filename");
  if (!filename) return false;
  copy_text(p.filename, filename);
  copy_text(p.original_filename, filename);
  const char *desc = get_numbered_string(d, "map", n, "desc");
  if (!desc) return false;
  copy_text(p.desc, desc);
  p.image_with_oob = get_numbered_int(d, "map", n, "with_oob", 0);
  // The skip is allowed only for a file that is missing now; the test is made once, here.
  p.skip_flash = get_numbered_int(d, "map", n, "skip_flash_if_file_not_exist", 0);
  if (p.skip_flash && file_is_readable(p.filename)) p.skip_flash = 0;
  int start = get_numbered_int(d, "map", n, "nand_loc", kAbsent);
  int end = get_numbered_int(d, "map", n, "nand_loc_end", kAbsent);
  if (start == kAbsent || end == kAbsent) return false;
  p.nand_loc_start = unsigned(start);
  p.nand_loc_end = unsigned(end);
  p.offset_in_file = 0;
  p.file_size = 0;
  p.md5sum_res[0] = '\0';
  return true;
}

bool read_partition_list(dictionary *d, flashini_partition_info_list **list, bool is_onefi) {
  int total = get_total(d, "map");
  int first = open_list(d, list, is_onefi, total);
  if (first < 0) return false;
  for (int n = 1; n <= total; ++n)
    if (!read_partition(d, n, (*list)->info[first + n - 1])) return false;
  return true;
}

void set_defaults_without_onefi(flashini_content *c) {
  c->enable_crc = 1;
  c->init_bbm_method = FLASHINI_USE_EXIST_BBM_IF_NOT_FOUND_INIT_USED_BBM;
  c->bbm_reloc_addr = 0;
  c->bbm_reloc_end_addr = 0;
  c->num_of_chip_select = -1;
}

// Each key overrides the 1FI's value; an absent key keeps it.
void read_settings(dictionary *d, flashini_content *c) {
  c->enable_crc = iniparser_getboolean(d, "misc:crc", c->enable_crc);
  c->init_bbm_method = get_int(d, "misc:init_nand_flash_bbm", c->init_bbm_method);
  c->bbm_reloc_addr = get_int(d, "misc:bbm_reloc", c->bbm_reloc_addr);
  c->bbm_reloc_end_addr = get_int(d, "misc:bbm_reloc_end", c->bbm_reloc_end_addr);
  c->num_of_chip_select = get_int(d, "misc:num_of_chip_select", c->num_of_chip_select);
}

bool parse_into(dictionary *d, flashini_content *c) {
  c->loop_test = get_int(d, "misc:loop_test", 0);
  c->logging = get_int(d, "misc:logging", 0);
  c->reboot = get_int(d, "misc:reboot", 0);
  c->sync_pc_time = get_int(d, "misc:sync_pc_time", 0);

  const char *onefi = iniparser_getstring(d, "map:1fi_file", nullptr);
  const bool is_onefi = onefi != nullptr;
  if (is_onefi) {
    if (parse_one_1fi(c, onefi) != 0) return false;
  } else {
    set_defaults_without_onefi(c);
  }
  read_settings(d, c);
  return read_gpio_list(d, "gpio_bd", &c->gpio_bd_info_list, is_onefi) &&
         read_gpio_list(d, "gpio_ad", &c->gpio_ad_info_list, is_onefi) &&
         read_erase_list(d, &c->erase_info_list, is_onefi) &&
         read_partition_list(d, &c->partition_info_list, is_onefi);
}

}  // namespace

extern "C" flashini_content *flashini_parse_file(const char *ini_name) {
  ini_dictionary dict(ini_name);
  if (!dict.get()) {
    std::fprintf(stderr, "cannot parse file: %s\n", ini_name);
    return nullptr;
  }
  auto *content = static_cast<flashini_content *>(flashini_calloc(1, sizeof(flashini_content)));
  if (!content) return nullptr;
  if (!parse_into(dict.get(), content)) {
    flashini_destroy(content);
    return nullptr;
  }
  return content;
}

extern "C" void flashini_destroy(flashini_content *content) {
  if (!content) return;
  free_lists(content);
  flashini_free(content);
}
