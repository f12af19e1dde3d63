// Target agent download through the boot ROM: handshake, TIM, handshake, agent image,
// disconnect. Progress lines go to standard output, failures to standard error.
#pragma once

#include <stdint.h>

#include "libromcode/mvl_error_codes.h"
#include "libromcode/romcode_protocol.h"
#include "libromcode/romcode_tim.h"
#include "usb/usb.h"

#ifdef __cplusplus
extern "C" {
#endif

// With pbuf_tim null or tim_size 0 the default TIM is built (and freed). 0, -1 (handshake,
// select, identifier or verify failure), or a protocol code.
int download_dkb(usb_dev_handle *udev, const uint8_t *pbuf_tim, uint32_t tim_size,
                 const uint8_t *pbuf_dkb, uint32_t dkb_size);
// Maps the files read-only for the call; tim_file may be null.
int download_dkb_file(usb_dev_handle *udev, const char *tim_file, const char *image_file);
// Select (the ROM must ask for expected_image_id), verify, send. 0, -1, or a protocol code.
int download_image(usb_dev_handle *udev, const uint8_t *pbuf, uint32_t size,
                   uint32_t expected_image_id);
// Preamble and version, printed. 0 or -1.
int init_ack(usb_dev_handle *udev);

// A read-only shared view of the whole file; 0 or -1 (cannot open, empty, cannot map).
// Release it with memory_unmap_file_helper.
int memory_map_file_helper(const char *image_file_name, const uint8_t **ret_buf,
                           uint32_t *ret_size);
void memory_unmap_file_helper(const uint8_t *buf, uint32_t size);

// Not offered by this station: each writes a notice naming itself and returns -1.
int otp_view(usb_dev_handle *udev);
int debug_boot(usb_dev_handle *udev);
int enable_jtag(usb_dev_handle *udev, const char *jtag_key_file);

#ifdef __cplusplus
}
#endif
