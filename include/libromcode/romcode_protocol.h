// Boot ROM download protocol: the host sends a preamble, asks for the ROM's version and for the
// image it wants, announces and sends that image in chunks the ROM grants, then disconnects.
// Commands are an 8-byte header (cmd, seq, cid 0, flags 0, u32 len) and a payload; responses a
// 6-byte header (cmd, seq, cid, status, flags, len) and len data bytes. Little-endian.
// Every operation returns 0 or one of the codes below and writes nothing to any stream.
#pragma once

#include <stdint.h>

#include "usb/usb.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MVL_ROMCODE_OK 0
#define MVL_ROMCODE_BAD_PREAMBLE (-2)   // the preamble echo differs
#define MVL_ROMCODE_NO_RESPONSE (-3)    // a response (or the echo) did not arrive in full
#define MVL_ROMCODE_WRITE_FAILED (-4)   // a command (or the preamble) was not written in full
#define MVL_ROMCODE_BAD_RESPONSE (-6)   // other opcode or data length answered; grant too large or 0
#define MVL_ROMCODE_STATUS (-7)         // the response's status is nonzero

// Opcodes.
#define MVL_CMD_GET_VERSION 0x20
#define MVL_CMD_DATA 0x22
#define MVL_CMD_SELECT_IMAGE 0x26
#define MVL_CMD_VERIFY_IMAGE 0x27
#define MVL_CMD_DATA_HEADER 0x2A
#define MVL_CMD_GET_MESSAGE 0x2B
#define MVL_CMD_DONE 0x30
#define MVL_CMD_DISCONNECT 0x31

#define MVL_COMMAND_HEADER_SIZE 8
#define MVL_RESPONSE_HEADER_SIZE 6
#define MVL_RESPONSE_MAX_DATA 255

extern const uint8_t mvl_boot_rom_preamble[4];  // 00 D3 02 2B

typedef struct mvl_bootrom_response {
  uint8_t cmd;
  uint8_t seq;
  uint8_t cid;
  uint8_t status;
  uint8_t flags;
  uint8_t len;
  uint8_t data[MVL_RESPONSE_MAX_DATA];
} mvl_bootrom_response;  // 261 bytes

typedef struct mvl_bootrom_version {
  char version[4];       // most significant byte first
  int date;
  uint8_t processor[4];  // most significant byte first
} mvl_bootrom_version;

int mvl_romcode_send_premble(usb_dev_handle *udev);
// On success fills *ver; on failure leaves it unchanged.
int mvl_romcode_get_version(usb_dev_handle *udev, mvl_bootrom_version *ver);
// On success stores the identifier of the image the ROM wants next.
int mvl_romcode_select_image(usb_dev_handle *udev, uint32_t *image_id);
int mvl_romcode_verify_image(usb_dev_handle *udev);
// Data header / data pairs with seq 1,2 then 3,4 ... (8-bit, wrapping), then done with seq 0.
// A grant larger than what remains, or of 0 bytes (which would never end), gives -6.
int mvl_romcode_send_image(usb_dev_handle *udev, const uint8_t *buf, uint32_t size);
// Only the write is checked (-4); no answer is awaited.
int mvl_romcode_disconnect(usb_dev_handle *udev);
// Fills *resp with a full 261-byte answer of get message.
int mvl_romcode_get_message(usb_dev_handle *udev, mvl_bootrom_response *resp);
// The station's message reader: does nothing.
int read_message(usb_dev_handle *udev);

// Frames one command (payload cmd_size bytes), writes it and checks its answer of resp_len data
// bytes (resp: at least resp_len + 6 bytes). Disconnect reads no answer.
int mvl_romcode_issue_command(usb_dev_handle *udev, uint8_t cmd_id, uint8_t seq,
                              const uint8_t *cmd_buf, uint32_t cmd_size,
                              mvl_bootrom_response *resp, uint32_t resp_len);

#ifdef __cplusplus
}
#endif
