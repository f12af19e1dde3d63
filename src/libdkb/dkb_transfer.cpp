// RAM transfers in CRC-checked chunks and the NAND operations on them: a block at a time is
// staged in the agent's RAM at 0x5C010000. Writes move the RAM first, reads the flash first.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "dkb_io.h"
#include "util/crc16.h"

using namespace dkb;

namespace {

constexpr int full_chunk = 65537;  // never a multiple of 512, so no transfer ends on a full packet

// The length of the next chunk, and whether it has to be sent (full chunks reuse 65,537).
int chunk_of(int remaining, bool *send_length) {
  if (remaining > 65536) {
    *send_length = false;
    return full_chunk;
  }
  *send_length = true;
  return remaining % 512 == 0 ? remaining - 1 : remaining;
}

bool send_command_and_word(usb_dev_handle *udev, const unsigned char *word, uint32_t value,
                           int word_timeout, int value_timeout) {
  int r = send_bytes(udev, word, 4, word_timeout);
  if (r != 4) {
    DKB_DIAG(" err:%d\n", r);
    return false;
  }
  r = send_word(udev, value, value_timeout);
  if (r != 4) {
    DKB_DIAG(", err:%d\n", r);
    return false;
  }
  return true;
}

// The agent's CRC of the chunk just moved, against ours.
int check_crc(usb_dev_handle *udev, const char *chunk, int length, int command_timeout, int read_timeout) {
  unsigned int ours = crc16(reinterpret_cast<const unsigned char *>(chunk), (unsigned long)length);
  if (send_bytes(udev, get_crc_command, 4, command_timeout) != 4) return -3;
  unsigned char w[4];
  if (_usb_bulk_read(udev, ep_in, w, 4, read_timeout) != 4) return -2;
  unsigned int theirs = le32(w);
  if (ours != theirs) {
    std::printf(" CRC error: expected:%d, got:%d\n", int(ours), int(theirs));
    return -15;
  }
  return 0;
}

uint32_t round_up(uint32_t v, uint32_t unit) { return v % unit ? v + (unit - v % unit) : v; }

// Data bytes that `size` staged bytes program: whole page records when spare bytes come along.
int64_t data_bytes_of(int size, int page_size, int oob_size) {
  if (!oob_size) return size;
  int64_t record = int64_t(page_size) + oob_size;
  return (size / record) * page_size + (size % record ? page_size : 0);
}

}  // namespace

extern "C" {

int dkb_write_mem(usb_dev_handle *udev, unsigned int ramloc, char *pbuf, int size, int enable_crc,
                  dkb_progress_callback callback, void *callback_data) {
  if (!send_command_and_word(udev, set_len_command, full_chunk, 3000, 3000)) return -13;
  if (size <= 0) return 0;
  int remaining = size;
  while (remaining > 0) {
    bool send_length;
    int chunk = chunk_of(remaining, &send_length);
    if (send_length && !send_command_and_word(udev, set_len_command, uint32_t(chunk), 3000, 3000)) return -3;
    if (!send_command_and_word(udev, set_addr_command, ramloc, 3000, 5000)) return -13;
    if (dkb_ack(udev) != 0) return -12;
    int r = send_bytes(udev, send_data_command, 4, 3000);
    if (r != 4) {
      DKB_DIAG(" error:%d\n", r);
      return -13;
    }
    r = send_bytes(udev, pbuf, chunk, 5000);
    if (r != chunk) {
      DKB_DIAG(" error:%d write_size:%d\n", r, chunk);
      return -13;
    }
    if (enable_crc) {
      int c = check_crc(udev, pbuf, chunk, 5000, 5000);
      if (c) return c;
    }
    std::fputc('.', stdout);
    remaining -= chunk;
    if (callback) callback(callback_data, "Write to ram", size - remaining, size);
    std::fflush(stdout);
    pbuf += chunk;
    ramloc += unsigned(chunk);
  }
  return 0;
}

int dkb_read_mem(usb_dev_handle *udev, unsigned int ramloc, char *pbuf, int size, int enable_crc,
                 dkb_progress_callback callback, void *callback_data) {
  if (!send_command_and_word(udev, set_len_command, full_chunk, 1000, 1000)) return -13;
  if (size <= 0) return 0;
  int remaining = size;
  while (remaining > 0) {
    bool send_length;
    int chunk = chunk_of(remaining, &send_length);
    if (send_length && !send_command_and_word(udev, set_len_command, uint32_t(chunk), 1000, 1000)) return -3;
    if (!send_command_and_word(udev, set_addr_command, ramloc, 1000, 1000)) return -13;
    if (dkb_ack(udev) != 0) return -12;
    if (send_bytes(udev, get_data_command, 4, 1000) != 4) return -13;
    if (_usb_bulk_read(udev, ep_in, pbuf, chunk, 1000) != chunk) return -13;
    if (enable_crc) {
      int c = check_crc(udev, pbuf, chunk, 1000, 3000);
      if (c) return c;
    }
    remaining -= chunk;
    if (callback) callback(callback_data, "Read from ram", size - remaining, size);
    pbuf += chunk;
    ramloc += unsigned(chunk);
  }
  return 0;
}

int dkb_flash_erase(usb_dev_handle *udev, int flashloc, int size, int ignore_bbm) {
  int r = send_bytes(udev, erase_flash_command, 4, 1000);
  if (r != 4) {
    DKB_DIAG(" error:%d\n", r);
    return -13;
  }
  int use_bbm = ignore_bbm == 0 ? 1 : 0;
  std::printf("Erase NAND flash: 0x%08X-0x%08X use bbm:%d.\n", unsigned(flashloc), unsigned(flashloc + size),
              use_bbm);
  unsigned char rec[12];
  put_le32(rec, uint32_t(flashloc));
  put_le32(rec + 4, uint32_t(flashloc) + uint32_t(size));
  put_le32(rec + 8, uint32_t(use_bbm));
  r = send_bytes(udev, rec, 12, 1000);
  if (r != 12) {
    DKB_DIAG(" error:%d\n", r);
    return -13;
  }
  int code = 0;
  r = handle_flash_msg(udev, &code, nullptr, nullptr);
  if (r < 0) {
    std::printf("Erase NAND flash failed\n");
    return r;
  }
  std::printf("Erase NAND flash success.\n");
  return 0;
}

int dkb_flash_write(usb_dev_handle *udev, char *pbuf, int size, int flash_loc, int flash_loc_end,
                    int enable_hw_ecc, int page_size, int block_size, int oob_size, int enable_crc,
                    int otp, dkb_progress_callback callback, void *callback_data) {
  const int start = flash_loc;
  const int range = flash_loc_end - flash_loc;
  if (page_size <= 0 || block_size <= 0 || oob_size < 0) return -23;
  // Data past the end of the range would be written into the next partition.
  if (size > 0 && data_bytes_of(size, page_size, oob_size) > int64_t(range)) {
    std::fprintf(stderr, "Image of %d bytes does not fit flash range 0x%08X-0x%08X\n", size,
                 unsigned(flash_loc), unsigned(flash_loc_end));
    return DKB_ERR_DATA_TOO_LONG;
  }
  const int block_chunk = oob_size ? block_size + oob_size * (block_size / page_size) : block_size;
  const int record = page_size + oob_size;
  while (size > 0) {
    int send_size = size < block_chunk ? size : block_chunk;
    int data_size = send_size;
    if (oob_size) {
      if (send_size % record) return -23;
      data_size = page_size * (send_size / record);
    }
    int r = dkb_write_mem(udev, DKB_STAGING_ADDRESS, pbuf, send_size, enable_crc, nullptr, nullptr);
    if (r) return r;
    r = send_bytes(udev, write_flash_command, 4, 2000);
    if (r != 4) {
      DKB_DIAG(" ret:%d\n", r);
      return -12;
    }
    unsigned char rec[32];
    uint32_t end = round_up(uint32_t(flash_loc) + uint32_t(data_size), uint32_t(block_size));
    uint32_t fields[8] = {DKB_STAGING_ADDRESS, uint32_t(flash_loc), end, uint32_t(data_size),
                          uint32_t(enable_hw_ecc), oob_size ? 1u : 0u, 1u, uint32_t(otp)};
    for (int i = 0; i < 8; ++i) put_le32(rec + 4 * i, fields[i]);
    r = send_bytes(udev, rec, 32, 2000);
    if (r != 32) {
      DKB_DIAG(" ret:%d\n", r);
      return -12;
    }
    int code = 0;
    r = handle_flash_msg(udev, &code, nullptr, nullptr);
    if (r < 0) {
      std::fprintf(stderr, "Write NAND flash failed %d\n", r);
      return r;
    }
    r = dkb_ack(udev);
    if (r) {
      DKB_DIAG(" ret:%d\n", r);
      return r;
    }
    flash_loc += data_size;
    size -= send_size;
    if (callback) callback(callback_data, "Write to flash", flash_loc - start, range);
    pbuf += send_size;
  }
  uint32_t next = round_up(uint32_t(flash_loc), uint32_t(block_size));
  if (int64_t(next) < int64_t(flash_loc_end)) {
    std::printf("erase extra data\n");
    int r = dkb_flash_erase(udev, int(next), flash_loc_end - int(next), 0);
    if (r) {
      DKB_DIAG(" ret:%d\n", r);
      return r;
    }
  }
  if (callback) callback(callback_data, "Write to flash", range, range);
  return 0;
}

int dkb_flash_write_from_file(usb_dev_handle *udev, const char *image_file_name, int image_file_offset,
                              int image_file_length, int flash_loc, int flash_loc_end, int enable_hw_ecc,
                              int page_size, int block_size, int oob_size, int enable_crc, int otp,
                              dkb_progress_callback callback, void *callback_data) {
  int fd = open(image_file_name, O_RDONLY | O_CLOEXEC);
  // Readers share the file; a writer holding it exclusively keeps us out.
  if (fd < 0 || flock(fd, LOCK_SH | LOCK_NB) != 0) {
    if (fd >= 0) close(fd);
    std::printf("  Cannot open %s file\n", image_file_name);
    return -16;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    std::printf("  Cannot open %s file\n", image_file_name);
    return -16;
  }
  int64_t file_size = st.st_size;
  int64_t length = image_file_length > 0 ? image_file_length : file_size - image_file_offset;
  // Nothing after the offset, an offset past the end, or a length running past it.
  if (image_file_offset < 0 || length <= 0 || int64_t(image_file_offset) + length > file_size ||
      length > 0x7FFFFFFF) {
    int e = errno;
    close(fd);
    std::fprintf(stderr, "%s file size invalid: %d.\n", image_file_name, e);
    return -22;
  }
  void *view = mmap(nullptr, size_t(file_size), PROT_READ, MAP_SHARED, fd, 0);
  int map_error = errno;
  if (view == MAP_FAILED) {
    close(fd);
    if (map_error == ENODEV || map_error == EACCES) {
      std::fprintf(stderr, " Create file mapping failed.\n");
      return -20;
    }
    std::fprintf(stderr, " Cannot map memory: %d.\n", map_error);
    return -21;
  }
  int r = dkb_flash_write(udev, static_cast<char *>(view) + image_file_offset, int(length), flash_loc,
                          flash_loc_end, enable_hw_ecc, page_size, block_size, oob_size, enable_crc, otp,
                          callback, callback_data);
  munmap(view, size_t(file_size));
  close(fd);  // drops the shared lock
  return r;
}

int dkb_flash_read(usb_dev_handle *udev, char *pbuf, int flash_loc, int flash_loc_end, int enable_hw_ecc,
                   int page_size, int block_size, int oob_size, int enable_crc, int otp,
                   dkb_progress_callback callback, void *callback_data) {
  const int start = flash_loc;
  const int range = flash_loc_end - flash_loc;
  if (page_size <= 0 || block_size <= 0 || oob_size < 0) return -23;
  int64_t raw = range;
  if (oob_size) raw = int64_t(range) + int64_t(oob_size) * (range / page_size);
  if (raw <= 0) {
    if (callback) callback(callback_data, "Read from flash", range, range);
    return 0;
  }
  const int block_chunk = oob_size ? block_size + oob_size * (block_size / page_size) : block_size;
  const int record = page_size + oob_size;
  while (raw > 0) {
    int read_size = raw < block_chunk ? int(raw) : block_chunk;
    int data_size = read_size;
    if (oob_size) {
      if (read_size % record) {
        std::fprintf(stderr, "Read NAND flash with oob size misaligned \n");
        return -23;
      }
      data_size = page_size * (read_size / record);
    }
    if (send_bytes(udev, read_flash_command, 4, 2000) != 4) return -12;
    unsigned char rec[28];
    uint32_t fields[7] = {DKB_STAGING_ADDRESS, uint32_t(flash_loc), uint32_t(data_size), uint32_t(enable_hw_ecc),
                          oob_size ? 1u : 0u, 1u, uint32_t(otp)};
    for (int i = 0; i < 7; ++i) put_le32(rec + 4 * i, fields[i]);
    if (send_bytes(udev, rec, 28, 2000) != 28) return -12;
    int code = 0;
    int r = handle_flash_msg(udev, &code, nullptr, nullptr);
    if (r < 0) {
      std::fprintf(stderr, "Read NAND flash failed %d @ 0x%08X size: %d\n", r, unsigned(flash_loc), data_size);
      return r;
    }
    r = dkb_read_mem(udev, DKB_STAGING_ADDRESS, pbuf, read_size, enable_crc, nullptr, nullptr);
    if (r) return r;
    r = dkb_ack(udev);
    if (r) return r;
    raw -= read_size;
    flash_loc += data_size;
    if (callback) callback(callback_data, "Read from flash", flash_loc - start, range);
    pbuf += read_size;
  }
  if (callback) callback(callback_data, "Read from flash", range, range);
  return 0;
}

int dkb_flash_read_to_file(usb_dev_handle *udev, const char *image_file_name, int flash_loc,
                           int flash_loc_end, int enable_hw_ecc, int page_size, int block_size,
                           int oob_size, int enable_crc, int otp, dkb_progress_callback callback,
                           void *callback_data) {
  int fd = open(image_file_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::printf("  Cannot open %s file\n", image_file_name);
    return -16;
  }
  int64_t size = int64_t(flash_loc_end) - flash_loc;
  if (oob_size && page_size > 0) size += int64_t(oob_size) * (size / page_size);
  int result = 0;
  char *buffer = nullptr;
  if (size <= 0) {
    std::fprintf(stderr, "read size <= 0\n");
    result = -26;
  } else if (size > 0x7FFFFFFF || !(buffer = static_cast<char *>(std::malloc(size_t(size))))) {
    std::printf("  Cannot alloc %d bytes\n", int(size));
    result = -17;
  } else {
    result = dkb_flash_read(udev, buffer, flash_loc, flash_loc_end, enable_hw_ecc, page_size, block_size,
                            oob_size, enable_crc, otp, callback, callback_data);
    if (result) {
      std::printf("  Read from flash failed\n");
    } else {
      const char *p = buffer;
      int64_t left = size;
      while (left > 0) {
        ssize_t n = write(fd, p, size_t(left));
        if (n <= 0) break;
        p += n;
        left -= n;
      }
      if (left) {
        std::printf("  Write to file %s failed\n", image_file_name);
        result = -18;
      } else {
        std::printf("Read Flash at 0x%08X to 0x%08X saved to %s\n", unsigned(flash_loc), unsigned(flash_loc_end),
                    image_file_name);
      }
    }
  }
  std::free(buffer);
  close(fd);
  return result;
}

}  // extern "C"
