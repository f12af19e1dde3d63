// The agent command protocol: acknowledge, control commands with their records and answers,
// and the message streams the agent sends while it works on the NAND.
#include <cerrno>
#include <cstring>

#include "dkb_io.h"

namespace dkb {

const char *source_name(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

void put_le32(unsigned char *p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

uint32_t le32(const unsigned char *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int _usb_bulk_write(usb_dev_handle *dev, int ep, const void *bytes, int size, int timeout) {
  const char *p = static_cast<const char *>(bytes);
  int done = 0;
  while (done < size) {
    int r = usb_bulk_write(dev, ep, p + done, size - done, timeout);
    if (r < 0) return r;
    if (r == 0) return -1;  // the transport promises progress; never spin on none
    done += r;
  }
  return size;
}

int _usb_bulk_read(usb_dev_handle *dev, int ep, void *bytes, int size, int timeout) {
  char *p = static_cast<char *>(bytes);
  int done = 0;
  while (done < size) {
    int r = usb_bulk_read(dev, ep, p + done, size - done, timeout);
    if (r < 0) return r;
    if (r == 0) return -5;
    done += r;
  }
  return size;
}

int send_bytes(usb_dev_handle *dev, const void *bytes, int size, int timeout) {
  return _usb_bulk_write(dev, ep_out, bytes, size, timeout);
}

int send_word(usb_dev_handle *dev, uint32_t value, int timeout) {
  unsigned char w[4];
  put_le32(w, value);
  return _usb_bulk_write(dev, ep_out, w, 4, timeout);
}

namespace {

// A command word and its record, both within `timeout`; true when both went out whole.
bool command_with_record(usb_dev_handle *dev, const unsigned char *word, const void *record, int size,
                         int timeout) {
  int r = send_bytes(dev, word, 4, timeout);
  if (r != 4) {
    DKB_DIAG(" error:%d\n", r);
    return false;
  }
  if (!record) return true;
  r = send_bytes(dev, record, size, timeout);
  if (r != size) {
    DKB_DIAG(" error:%d\n", r);
    return false;
  }
  return true;
}

int read_param(usb_dev_handle *dev, uint32_t *value, int timeout) {
  unsigned char w[4];
  if (_usb_bulk_read(dev, ep_in, w, 4, timeout) != 4) return -2;
  *value = le32(w);
  return 0;
}

}  // namespace

}  // namespace dkb

using namespace dkb;

extern "C" {

int dkb_ack(usb_dev_handle *udev) {
  int r = send_bytes(udev, ack_command, 4, 1000);
  if (r != 4) {
    DKB_DIAG(" error:%d\n", r);
    return -12;
  }
  unsigned char answer[4];
  r = _usb_bulk_read(udev, ep_in, answer, 4, 1000);
  if (r != 4) {
    DKB_DIAG(" error:%d\n", r);
    return -12;
  }
  if (std::memcmp(answer, ack_command, 4) != 0) {
    DKB_DIAG("\n");
    return -12;
  }
  return 0;
}

int handle_flash_msg(usb_dev_handle *udev, int *device_err_code, dkb_progress_callback callback,
                     void *callback_data) {
  int total = 1;
  uint32_t text_length = 0;
  for (;;) {
    unsigned char w[4];
    int r = _usb_bulk_read(udev, ep_in, w, 4, 15000);
    if (r < 0) {
      std::fprintf(stderr, "usb read failed: %d, %s\n", r, std::strerror(-r));
      return -1;
    }
    if (r != 4) {
      std::fprintf(stderr, "usb read size not consistent: %d\n", r);
      return -2;
    }
    uint32_t word = le32(w), value = 0;
    switch (word) {
      case flash_msg_progress:
        if (read_param(udev, &value, 1000)) return -2;
        if (callback) callback(callback_data, "Flash", int(value), total);
        std::fputc('.', stdout);
        std::fflush(stdout);
        break;
      case flash_msg_total:
        if (read_param(udev, &value, 1000)) return -2;
        total = int(value);
        break;
      case flash_msg_text_length:
        if (read_param(udev, &value, 2000)) return -2;
        text_length = value;
        break;
      case flash_msg_text: {
        if (text_length > 255) return -4;
        char text[256];
        if (text_length && _usb_bulk_read(udev, ep_in, text, int(text_length), 2000) != int(text_length))
          return -2;
        text[text_length] = 0;
        std::printf("%s", text);
        break;
      }
      case flash_msg_error:
        if (read_param(udev, &value, 1000)) return -2;
        std::printf("Flash Fireware error occurred, error code: %d\n", int(value));
        if (device_err_code) *device_err_code = int(value);
        return -14;
      case flash_msg_done:
        return 0;
      default:
        std::printf("Unknown command received: %d\n", int(word));
        return -11;
    }
  }
}

int dkb_set_gpio(usb_dev_handle *udev, int gpio, int value) {
  unsigned char r[8];
  put_le32(r, uint32_t(gpio));
  put_le32(r + 4, uint32_t(value));
  return command_with_record(udev, set_gpio_command, r, 8, 1000) ? 0 : -13;
}

int dkb_write_micco_data(usb_dev_handle *udev, unsigned char addr, unsigned char value) {
  unsigned char r[4] = {addr, value, 0, 0};
  return command_with_record(udev, write_micco_data_command, r, 4, 1000) ? 0 : -13;
}

int dkb_read_micco_data(usb_dev_handle *udev, unsigned char addr, unsigned char *value) {
  unsigned char r[4] = {addr, 0, 0, 0};
  if (!command_with_record(udev, read_micco_data_command, r, 4, 1000)) return -13;
  unsigned char answer[4];
  int n = _usb_bulk_read(udev, ep_in, answer, 4, 2000);
  if (n != 4) {
    DKB_DIAG(" error:%d\n", n);
    return -12;
  }
  *value = answer[0];
  return 0;
}

int dkb_write_rtc(usb_dev_handle *udev, struct tm *t) {
  int field[7] = {t->tm_year, t->tm_mon, t->tm_mday, t->tm_wday, t->tm_hour, t->tm_min, t->tm_sec};
  unsigned char r[28];
  for (int i = 0; i < 7; ++i) put_le32(r + 4 * i, uint32_t(field[i]));
  return command_with_record(udev, write_rtc_command, r, 28, 1000) ? 0 : -13;
}

int dkb_read_rtc(usb_dev_handle *udev, struct tm *t) {
  if (!command_with_record(udev, read_rtc_command, nullptr, 0, 1000)) return -13;
  unsigned char r[28];
  int n = _usb_bulk_read(udev, ep_in, r, 28, 2000);
  if (n != 28) {
    DKB_DIAG(" error:%d\n", n);
    return -12;
  }
  int *field[7] = {&t->tm_year, &t->tm_mon, &t->tm_mday, &t->tm_wday, &t->tm_hour, &t->tm_min, &t->tm_sec};
  for (int i = 0; i < 7; ++i) *field[i] = int(le32(r + 4 * i));
  return 0;
}

int dkb_hardware_reset_device(usb_dev_handle *udev) {
  return command_with_record(udev, hard_reset_command, nullptr, 0, 1000) ? 0 : -13;
}

int dkb_software_reset_device(usb_dev_handle *udev) {
  return command_with_record(udev, reset_command, nullptr, 0, 1000) ? 0 : -13;
}

int dkb_get_nand_info(usb_dev_handle *udev, comm_protocol_flash_info_resp *resp) {
  if (!command_with_record(udev, get_nand_flash_info_command, nullptr, 0, 1000)) return -12;
  unsigned char r[28];
  int n = _usb_bulk_read(udev, ep_in, r, 28, 2000);
  if (n != 28) {
    DKB_DIAG(" error:%d\n", n);
    return -12;
  }
  unsigned int *field[7] = {&resp->manu_id,    &resp->device_id, &resp->no_of_blocks, &resp->page_size,
                            &resp->block_size, &resp->oob_size,  &resp->bus_width};
  for (int i = 0; i < 7; ++i) *field[i] = le32(r + 4 * i);
  return 0;
}

int dkb_set_nand_flash_para(usb_dev_handle *udev, int num_of_chip_select) {
  unsigned char r[4];
  put_le32(r, uint32_t(num_of_chip_select));
  return command_with_record(udev, nand_flash_para_command, r, 4, 1000) ? 0 : -12;
}

int dkb_set_nand_bbm_reloc_area(usb_dev_handle *udev, int flash_loc, int flash_loc_end) {
  unsigned char r[8];
  put_le32(r, uint32_t(flash_loc));
  put_le32(r + 4, uint32_t(flash_loc_end));
  return command_with_record(udev, nand_flash_bbm_reloc_area_command, r, 8, 1000) ? 0 : -12;
}

int dkb_init_nand(usb_dev_handle *udev, int *found_bbm) {
  if (!command_with_record(udev, init_nand_flash_command, nullptr, 0, 1000)) return -12;
  *found_bbm = 1;
  int code = 0;
  int r = handle_flash_msg(udev, &code, nullptr, nullptr);
  if (r == 0) return 0;
  if (r == -14 && code == DKB_DEVICE_NO_BBM) {
    *found_bbm = 0;
    return 0;
  }
  std::fprintf(stderr, "Init NAND flash failed\n");
  return r;
}

int dkb_validate_bbm(usb_dev_handle *udev) {
  if (!command_with_record(udev, validate_nand_bbm_command, nullptr, 0, 1000)) return -12;
  int code = 0;
  int r = handle_flash_msg(udev, &code, nullptr, nullptr);
  if (r == 0) return 0;
  if (r == -14 && code == DKB_DEVICE_BAD_MAPPING)
    std::fprintf(stderr, "Invalid BBM mapping, out of reserved area\n");
  else
    std::fprintf(stderr, "Unknown BBM error\n");
  return r;
}

int dkb_finialize_nand(usb_dev_handle *udev) {
  if (!command_with_record(udev, write_mvl_bbm_command, nullptr, 0, 1000)) return -12;
  int code = 0;
  int r = handle_flash_msg(udev, &code, nullptr, nullptr);
  if (r != 0) std::printf("Critical error. Write to MVL BBM failed. Please reformat whole flash\n");
  return r;
}

int dkb_init_bbm_nake_flash(usb_dev_handle *udev, dkb_progress_callback callback, void *callback_data) {
  if (!command_with_record(udev, init_mvl_bbm_nake_flash_command, nullptr, 0, 1000)) return -13;
  int code = 0;
  int r = handle_flash_msg(udev, &code, callback, callback_data);
  if (r != 0) std::printf("Init BBM for Nake NAND flash failed\n");
  return r;
}

int dkb_init_bbm_used_flash(usb_dev_handle *udev, dkb_progress_callback callback, void *callback_data) {
  if (!command_with_record(udev, init_mvl_bbm_used_flash_command, nullptr, 0, 1000)) return -13;
  int code = 0;
  int r = handle_flash_msg(udev, &code, callback, callback_data);
  if (r != 0) std::printf("Init BBM for Used NAND flash failed\n");
  return r;
}

}  // extern "C"
