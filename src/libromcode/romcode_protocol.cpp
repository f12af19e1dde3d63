// The boot ROM's command/response exchange over the transport.
#include "libromcode/romcode_protocol.h"

#include <cstring>
#include <vector>

namespace {

constexpr int kEpOut = 0x02;
constexpr int kEpIn = 0x81;
constexpr int kPreambleTimeoutMs = 2000;
constexpr int kCommandWriteTimeoutMs = 10000;
constexpr int kResponseTimeoutMs = 5000;
constexpr int kMessageWriteTimeoutMs = 1000;
constexpr int kMessageReadTimeoutMs = 2000;

// The transport moves everything or fails, so one call each; the loop only guards the contract.
int _usb_bulk_write(usb_dev_handle *udev, const uint8_t *data, int size, int timeout) {
  int done = 0;
  while (done < size) {
    int r = usb_bulk_write(udev, kEpOut, reinterpret_cast<const char *>(data) + done, size - done,
                           timeout);
    if (r < 0) return r;
    if (r == 0) return done;
    done += r;
  }
  return size;
}

int _usb_bulk_read(usb_dev_handle *udev, uint8_t *data, int size, int timeout) {
  int done = 0;
  while (done < size) {
    int r = usb_bulk_read(udev, kEpIn, reinterpret_cast<char *>(data) + done, size - done, timeout);
    if (r < 0) return r;
    if (r == 0) return done;
    done += r;
  }
  return size;
}

uint32_t le32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void put_le32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

extern "C" {

const uint8_t mvl_boot_rom_preamble[4] = {0x00, 0xD3, 0x02, 0x2B};

int mvl_romcode_send_premble(usb_dev_handle *udev) {
  if (_usb_bulk_write(udev, mvl_boot_rom_preamble, 4, kPreambleTimeoutMs) != 4)
    return MVL_ROMCODE_WRITE_FAILED;
  uint8_t echo[4];
  if (_usb_bulk_read(udev, echo, 4, kPreambleTimeoutMs) != 4) return MVL_ROMCODE_NO_RESPONSE;
  return std::memcmp(echo, mvl_boot_rom_preamble, 4) == 0 ? MVL_ROMCODE_OK
                                                          : MVL_ROMCODE_BAD_PREAMBLE;
}

int mvl_romcode_issue_command(usb_dev_handle *udev, uint8_t cmd_id, uint8_t seq,
                              const uint8_t *cmd_buf, uint32_t cmd_size,
                              mvl_bootrom_response *resp, uint32_t resp_len) {
  if (cmd_size > 0x7FFFFFFFu - MVL_COMMAND_HEADER_SIZE || (cmd_size && !cmd_buf) ||
      resp_len > MVL_RESPONSE_MAX_DATA)
    return MVL_ROMCODE_WRITE_FAILED;
  std::vector<uint8_t> buf;
  try {
    buf.assign(MVL_COMMAND_HEADER_SIZE + cmd_size, 0);
  } catch (...) {
    return MVL_ROMCODE_WRITE_FAILED;
  }
  buf[0] = cmd_id;
  buf[1] = seq;
  put_le32(&buf[4], cmd_size);
  if (cmd_size) std::memcpy(&buf[MVL_COMMAND_HEADER_SIZE], cmd_buf, cmd_size);
  int total = static_cast<int>(buf.size());
  if (_usb_bulk_write(udev, buf.data(), total, kCommandWriteTimeoutMs) != total)
    return MVL_ROMCODE_WRITE_FAILED;
  if (cmd_id == MVL_CMD_DISCONNECT) return MVL_ROMCODE_OK;
  if (!resp) return MVL_ROMCODE_NO_RESPONSE;
  int want = static_cast<int>(resp_len) + MVL_RESPONSE_HEADER_SIZE;
  if (_usb_bulk_read(udev, reinterpret_cast<uint8_t *>(resp), want, kResponseTimeoutMs) != want)
    return MVL_ROMCODE_NO_RESPONSE;
  if (resp->cmd != cmd_id) return MVL_ROMCODE_BAD_RESPONSE;
  if (resp->status != 0) return MVL_ROMCODE_STATUS;
  if (resp->len != resp_len) return MVL_ROMCODE_BAD_RESPONSE;
  return MVL_ROMCODE_OK;
}

int mvl_romcode_get_version(usb_dev_handle *udev, mvl_bootrom_version *ver) {
  mvl_bootrom_response resp;
  int r = mvl_romcode_issue_command(udev, MVL_CMD_GET_VERSION, 0, nullptr, 0, &resp, 12);
  if (r != 0) return r;
  if (ver) {
    for (int i = 0; i < 4; ++i) {
      ver->version[i] = static_cast<char>(resp.data[3 - i]);
      ver->processor[i] = resp.data[11 - i];
    }
    ver->date = static_cast<int>(le32(&resp.data[4]));
  }
  return 0;
}

int mvl_romcode_select_image(usb_dev_handle *udev, uint32_t *image_id) {
  mvl_bootrom_response resp;
  int r = mvl_romcode_issue_command(udev, MVL_CMD_SELECT_IMAGE, 0, nullptr, 0, &resp, 4);
  if (r == 0 && image_id) *image_id = le32(resp.data);
  return r;
}

int mvl_romcode_verify_image(usb_dev_handle *udev) {
  const uint8_t zero = 0;
  mvl_bootrom_response resp;
  return mvl_romcode_issue_command(udev, MVL_CMD_VERIFY_IMAGE, 0, &zero, 1, &resp, 0);
}

int mvl_romcode_send_image(usb_dev_handle *udev, const uint8_t *buf, uint32_t size) {
  uint8_t seq = 1;
  uint32_t remaining = size;
  const uint8_t *p = buf;
  for (;;) {
    uint8_t count[4];
    put_le32(count, remaining);
    mvl_bootrom_response resp;
    int r = mvl_romcode_issue_command(udev, MVL_CMD_DATA_HEADER, seq, count, 4, &resp, 4);
    if (r != 0) return r;
    uint32_t grant = le32(resp.data);
    // A grant of 0 would repeat header and empty data for ever.
    if (remaining < grant || grant == 0) return MVL_ROMCODE_BAD_RESPONSE;
    r = mvl_romcode_issue_command(udev, MVL_CMD_DATA, static_cast<uint8_t>(seq + 1), p, grant,
                                  &resp, 0);
    if (r != 0) return r;
    remaining -= grant;
    p += grant;
    if (remaining == 0)
      return mvl_romcode_issue_command(udev, MVL_CMD_DONE, 0, nullptr, 0, &resp, 0);
    seq = static_cast<uint8_t>(seq + 2);
  }
}

int mvl_romcode_disconnect(usb_dev_handle *udev) {
  return mvl_romcode_issue_command(udev, MVL_CMD_DISCONNECT, 0, nullptr, 0, nullptr, 0);
}

int mvl_romcode_get_message(usb_dev_handle *udev, mvl_bootrom_response *resp) {
  uint8_t cmd[MVL_COMMAND_HEADER_SIZE] = {MVL_CMD_GET_MESSAGE};
  if (_usb_bulk_write(udev, cmd, sizeof cmd, kMessageWriteTimeoutMs) != MVL_COMMAND_HEADER_SIZE)
    return MVL_ROMCODE_WRITE_FAILED;
  mvl_bootrom_response in;
  int n = _usb_bulk_read(udev, reinterpret_cast<uint8_t *>(&in), sizeof in, kMessageReadTimeoutMs);
  if (n <= MVL_RESPONSE_HEADER_SIZE) return MVL_ROMCODE_NO_RESPONSE;
  if (resp) *resp = in;
  if (in.cmd != MVL_CMD_GET_MESSAGE) return MVL_ROMCODE_BAD_RESPONSE;
  if (in.status != 0) return MVL_ROMCODE_STATUS;
  if (in.len != n - MVL_RESPONSE_HEADER_SIZE) return MVL_ROMCODE_BAD_RESPONSE;
  return MVL_ROMCODE_OK;
}

int read_message(usb_dev_handle *) { return 0; }

}  // extern "C"
