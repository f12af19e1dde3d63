#include "pack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "util/md5.h"

namespace {

class fd_guard {
 public:
  explicit fd_guard(int fd = -1) : fd_(fd) {}
  ~fd_guard() { reset(); }
  fd_guard(const fd_guard &) = delete;
  fd_guard &operator=(const fd_guard &) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The temporary output: removed unless committed.
class temp_output {
 public:
  explicit temp_output(const std::string &final_path) : final_(final_path) {
    auto slash = final_path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
    path_ = dir + "." + base + ".tmpXXXXXX";
    fd_.reset(mkstemp(path_.data()));
    if (fd_.get() < 0) path_.clear();
    else fchmod(fd_.get(), 0644);
  }
  ~temp_output() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  int fd() const { return fd_.get(); }
  bool commit(std::string &error) {
    if (fsync(fd_.get()) != 0 || ::close(fd_.release()) != 0) return fail(error, "cannot write");
    if (rename(path_.c_str(), final_.c_str()) != 0) return fail(error, "cannot rename into place");
    path_.clear();
    return true;
  }

 private:
  bool fail(std::string &error, const char *what) {
    error = std::string(what) + " " + final_ + ": " + std::strerror(errno);
    return false;
  }
  std::string final_, path_;
  fd_guard fd_;
};

bool write_all(int fd, const void *data, std::size_t size) {
  const char *p = static_cast<const char *>(data);
  while (size) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= std::size_t(n);
  }
  return true;
}

// Writes bytes to the package and feeds those the checksum covers to MD5.
struct package_writer {
  int fd;
  MD5_CTX md5;
  uint64_t written = 0;
  bool put(const void *data, std::size_t size) {
    if (!write_all(fd, data, size)) return false;
    const auto *bytes = static_cast<const unsigned char *>(data);
    std::size_t skip = written < ONEFI_CHECKED_FROM ? std::min<uint64_t>(ONEFI_CHECKED_FROM - written, size) : 0;
    MD5Update(&md5, bytes + skip, size - skip);
    written += size;
    return true;
  }
};

template <std::size_t N>
void put_text(char (&field)[N], const std::string &s) {
  std::memset(field, 0, N);
  std::memcpy(field, s.data(), std::min(s.size(), N));
}

onefi_header make_header(const manifest &m, uint32_t sections) {
  onefi_header h;
  std::memset(&h, 0, sizeof h);
  std::memcpy(h.magic, magic_1fi_header, sizeof h.magic);
  h.no_of_sections = sections;
  std::memcpy(h.creationtime, m.creationtime.data(), sizeof h.creationtime);
  h.enable_crc_download = m.crc;
  h.init_nand_flash_bbm_method = m.init_nand_flash_bbm;
  h.bbm_reloc_addr = m.bbm_reloc;
  h.bbm_reloc_end_addr = m.bbm_reloc_end;
  h.num_of_chip_select = m.num_of_chip_select;
  put_text(h.description, m.description);
  return h;
}

// Section records in package order: images, erase areas, GPIOs before, GPIOs after.
bool make_sections(const manifest &m, std::vector<onefi_section> &out, std::string &error) {
  uint64_t offset = ONEFI_HEADER_SIZE +
                    uint64_t(m.images.size() + m.erases.size() + m.gpio_bd.size() + m.gpio_ad.size()) *
                        ONEFI_SECTION_SIZE;
  auto blank = [] {
    onefi_section s;
    std::memset(&s, 0, sizeof s);
    return s;
  };
  for (const manifest_image &img : m.images) {
    if (offset + img.size > UINT32_MAX) {
      error = "the package would pass 4 GiB at " + img.name + "; a one-file image cannot hold that";
      return false;
    }
    // The station keeps an image's offset and size as signed 32-bit numbers and cannot flash
    // an image that starts at 2 GiB or is 2 GiB long: such a package would fail every handset.
    if (offset > INT32_MAX || img.size > INT32_MAX) {
      error = "image " + img.name + " would " +
              (offset > INT32_MAX ? "start at byte " + std::to_string(offset)
                                  : "take " + std::to_string(img.size) + " bytes") +
              " of the package; the station flashes only images that start below 2 GiB and are "
              "shorter than 2 GiB";
      return false;
    }
    onefi_section s = blank();
    s.type = ONEFI_IMAGE;
    put_text(s.body.image.original_filename, img.name);
    put_text(s.body.image.description, img.description);
    s.body.image.offset = uint32_t(offset);
    s.body.image.size = uint32_t(img.size);
    s.body.image.nand_offset = img.nand_loc;
    s.body.image.nand_offset_end = img.nand_loc_end;
    s.body.image.image_with_oob = img.with_oob;
    out.push_back(s);
    offset += img.size;
  }
  for (const manifest_erase &e : m.erases) {
    onefi_section s = blank();
    s.type = ONEFI_ERASE;
    put_text(s.body.erase.description, e.description);
    s.body.erase.nand_offset = e.nand_loc;
    s.body.erase.nand_offset_end = e.nand_loc_end;
    out.push_back(s);
  }
  for (auto [list, type] : {std::pair{&m.gpio_bd, ONEFI_GPIO_BD}, std::pair{&m.gpio_ad, ONEFI_GPIO_AD}})
    for (const manifest_gpio &g : *list) {
      onefi_section s = blank();
      s.type = type;
      s.body.gpio.gpio_no = g.gpio;
      s.body.gpio.value = g.value;
      out.push_back(s);
    }
  return true;
}

// Streams one image into the package; its size must still be what the manifest saw.
bool copy_image(package_writer &w, const manifest_image &img, std::vector<unsigned char> &buf,
                std::string &error) {
  fd_guard in(open(img.path.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) {
    error = "cannot open image " + img.path + ": " + std::strerror(errno);
    return false;
  }
  uint64_t copied = 0;
  for (;;) {
    ssize_t n = ::read(in.get(), buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read image " + img.path + ": " + std::strerror(errno);
      return false;
    }
    if (n == 0) break;
    if (copied + uint64_t(n) > img.size) break;
    if (!w.put(buf.data(), std::size_t(n))) {
      error = "cannot write the package: " + std::string(std::strerror(errno));
      return false;
    }
    copied += uint64_t(n);
  }
  if (copied != img.size) {
    error = "image " + img.path + " changed size while it was packed";
    return false;
  }
  return true;
}

}  // namespace

bool pack_onefi(const manifest &m, const std::string &out_path, std::string &error) {
  std::vector<onefi_section> sections;
  if (!make_sections(m, sections, error)) return false;
  temp_output tmp(out_path);
  if (tmp.fd() < 0) {
    error = "cannot create a temporary file beside " + out_path + ": " + std::strerror(errno);
    return false;
  }
  package_writer w{tmp.fd(), {}};
  MD5Init(&w.md5);
  onefi_header header = make_header(m, uint32_t(sections.size()));
  bool ok = w.put(&header, sizeof header);
  for (const onefi_section &s : sections) ok = ok && w.put(&s, sizeof s);
  if (!ok) {
    error = "cannot write " + out_path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<unsigned char> buf(ONEFI_READ_CHUNK);
  for (const manifest_image &img : m.images)
    if (!copy_image(w, img, buf, error)) return false;
  MD5Final(&w.md5);
  if (pwrite(tmp.fd(), w.md5.digest, 16, ONEFI_CHECKSUM_OFFSET) != 16) {
    error = "cannot write the checksum of " + out_path;
    return false;
  }
  return tmp.commit(error);
}
