#include "manifest.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <memory>

extern "C" {
#include <iniparser.h>
}

namespace {

struct dict_deleter {
  void operator()(dictionary *d) const { iniparser_freedict(d); }
};
using dict_ptr = std::unique_ptr<dictionary, dict_deleter>;

class manifest_reader {
 public:
  manifest_reader(dictionary *d, std::string dir) : d_(d), dir_(std::move(dir)) {}
  bool read(manifest &m);
  std::string error;

 private:
  const char *get(const std::string &key) const { return iniparser_getstring(d_, key.c_str(), nullptr); }
  bool fail(const std::string &why) {
    if (error.empty()) error = why;
    return false;
  }
  bool number(const std::string &key, long long lo, long long hi, bool required, uint32_t &out);
  bool text(const std::string &key, std::size_t max, bool required, std::string &out);
  bool count(const std::string &list, std::size_t &out);
  bool read_package(manifest &m);
  bool read_settings(manifest &m);
  bool read_images(manifest &m);
  bool read_erases(manifest &m);
  bool read_gpios(const std::string &list, std::vector<manifest_gpio> &out);

  dictionary *d_;
  std::string dir_;
};

// Decimal, 0x hexadecimal or 0-prefixed octal, as flasher.ini takes them; the whole value must
// be a number within [lo, hi]. Negative values are stored as their 32-bit pattern.
bool manifest_reader::number(const std::string &key, long long lo, long long hi, bool required,
                             uint32_t &out) {
  const char *v = get(key);
  if (!v) return required ? fail("[" + key.substr(0, key.find(':')) + "] has no " + key.substr(key.find(':') + 1)) : true;
  errno = 0;
  char *end = nullptr;
  long long n = std::strtoll(v, &end, 0);
  if (*v == '\0' || *end != '\0' || errno == ERANGE || n < lo || n > hi)
    return fail(key + " = \"" + v + "\" is not a number from " + std::to_string(lo) + " to " +
                std::to_string(hi));
  out = uint32_t(n);
  return true;
}

bool manifest_reader::text(const std::string &key, std::size_t max, bool required, std::string &out) {
  const char *v = get(key);
  if (!v || !*v) return required ? fail(key + " is missing") : true;
  std::string s = v;
  if (s.size() > max)
    return fail(key + " has " + std::to_string(s.size()) + " characters; at most " +
                std::to_string(max) + " fit");
  out = s;
  return true;
}

bool manifest_reader::count(const std::string &list, std::size_t &out) {
  uint32_t n = 0;
  if (!number(list + ":total", 0, 100000, false, n)) return false;
  out = n;
  return true;
}

bool manifest_reader::read_package(manifest &m) {
  if (!text("package:description", ONEFI_DESCRIPTION_SIZE, true, m.description)) return false;
  std::string t;
  if (!text("package:creationtime", 12, false, t)) return false;
  if (t.empty()) t = creationtime_now();
  if (t.size() != 12 || t.find_first_not_of("0123456789") != std::string::npos)
    return fail("package:creationtime = \"" + t + "\" is not 12 digits YYYYMMDDhhmm");
  m.creationtime = t;
  return true;
}

bool manifest_reader::read_settings(manifest &m) {
  if (const char *crc = get("misc:crc")) {
    int b = iniparser_getboolean(d_, "misc:crc", -1);
    if (b < 0) return fail(std::string("misc:crc = \"") + crc + "\" is not a yes/no value");
    m.crc = uint32_t(b);
  }
  return number("misc:init_nand_flash_bbm", 0, 3, false, m.init_nand_flash_bbm) &&
         number("misc:bbm_reloc", 0, UINT32_MAX, false, m.bbm_reloc) &&
         number("misc:bbm_reloc_end", 0, UINT32_MAX, false, m.bbm_reloc_end) &&
         number("misc:num_of_chip_select", -1, 16, false, m.num_of_chip_select);
}

bool manifest_reader::read_images(manifest &m) {
  std::size_t total = 0;
  if (!count("map", total)) return false;
  for (std::size_t n = 1; n <= total; ++n) {
    std::string s = "map" + std::to_string(n) + ":";
    manifest_image img;
    if (!text(s + "filename", 4095, true, img.name) || !text(s + "desc", 255, true, img.description) ||
        !number(s + "nand_loc", 0, UINT32_MAX, true, img.nand_loc) ||
        !number(s + "nand_loc_end", 0, UINT32_MAX, true, img.nand_loc_end) ||
        !number(s + "with_oob", 0, 1, false, img.with_oob))
      return false;
    img.path = img.name.front() == '/' ? img.name : dir_ + "/" + img.name;
    struct stat st;
    if (stat(img.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      return fail(s + "filename: cannot read image file " + img.path);
    img.size = uint64_t(st.st_size);
    m.images.push_back(std::move(img));
  }
  return true;
}

bool manifest_reader::read_erases(manifest &m) {
  std::size_t total = 0;
  if (!count("erase", total)) return false;
  for (std::size_t n = 1; n <= total; ++n) {
    std::string s = "erase" + std::to_string(n) + ":";
    manifest_erase e;
    if (!text(s + "desc", 255, false, e.description) ||
        !number(s + "nand_loc", 0, UINT32_MAX, true, e.nand_loc) ||
        !number(s + "nand_loc_end", 0, UINT32_MAX, true, e.nand_loc_end))
      return false;
    m.erases.push_back(e);
  }
  return true;
}

bool manifest_reader::read_gpios(const std::string &list, std::vector<manifest_gpio> &out) {
  std::size_t total = 0;
  if (!count(list, total)) return false;
  for (std::size_t n = 1; n <= total; ++n) {
    std::string s = list + std::to_string(n) + ":";
    manifest_gpio g;
    if (!number(s + "gpio", 0, INT_MAX, true, g.gpio) || !number(s + "value", 0, INT_MAX, true, g.value))
      return false;
    out.push_back(g);
  }
  return true;
}

bool manifest_reader::read(manifest &m) {
  return read_package(m) && read_settings(m) && read_images(m) && read_erases(m) &&
         read_gpios("gpio_bd", m.gpio_bd) && read_gpios("gpio_ad", m.gpio_ad);
}

std::string directory_of(const std::string &path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string creationtime_now() {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y%m%d%H%M", &utc);
  return buf;
}

bool read_manifest(const std::string &path, manifest &out, std::string &error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "cannot read manifest " + path;
    return false;
  }
  dict_ptr d(iniparser_load(path.c_str()));
  if (!d) {
    error = "cannot parse manifest " + path;
    return false;
  }
  manifest_reader reader(d.get(), directory_of(path));
  if (!reader.read(out)) {
    error = path + ": " + reader.error;
    return false;
  }
  return true;
}
