// File views for the download, and the boot ROM services this station does not offer.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "libromcode/libromcode.h"

extern "C" {

int memory_map_file_helper(const char *image_file_name, const uint8_t **ret_buf,
                           uint32_t *ret_size) {
  const char *name = image_file_name ? image_file_name : "(null)";
  int fd = image_file_name ? ::open(image_file_name, O_RDONLY | O_CLOEXEC) : -1;
  struct stat st {};
  errno = 0;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    std::fprintf(stderr, "Cannot open %s file\n", name);
    return -1;
  }
  if (st.st_size == 0) {
    int err = errno;
    ::close(fd);
    std::fprintf(stderr, "%s file size invalid: %d.\n", name, err);
    return -1;
  }
  // Sizes travel as 32-bit counts on the wire; a larger file cannot be an image of this ROM.
  if (st.st_size > 0x7FFFFFFF) {
    ::close(fd);
    std::fprintf(stderr, "%s file size invalid: %d.\n", name, EFBIG);
    return -1;
  }
  void *view = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (view == MAP_FAILED) {
    std::fprintf(stderr, "Create file mapping failed.\n");
    return -1;
  }
  if (ret_size) *ret_size = static_cast<uint32_t>(st.st_size);
  if (ret_buf) {
    *ret_buf = static_cast<const uint8_t *>(view);
  } else {
    ::munmap(view, static_cast<size_t>(st.st_size));
  }
  return 0;
}

void memory_unmap_file_helper(const uint8_t *buf, uint32_t size) {
  if (buf && size) ::munmap(const_cast<uint8_t *>(buf), size);
}

int otp_view(usb_dev_handle *) {
  std::fprintf(stderr, "otp_view: not supported\n");
  return -1;
}

int debug_boot(usb_dev_handle *) {
  std::fprintf(stderr, "debug_boot: not supported\n");
  return -1;
}

int enable_jtag(usb_dev_handle *, const char *) {
  std::fprintf(stderr, "enable_jtag: not supported\n");
  return -1;
}

}  // extern "C"
