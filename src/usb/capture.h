// The capture of NORVANE_USB_CAPTURE=FILE: every bulk request of every open device, its
// submission and its completion, as the kernel's usbmon would record them.
#pragma once

#include <cstdint>

#include "usb_backend.h"

namespace usb_core {

// Direction of a bulk request.
enum class pipe_dir { out, in };

// A request's identity in the capture (the usbmon "URB id"); 0 when no capture is written.
uint64_t capture_submit(int bus, int devnum, pipe_dir dir, const uint8_t *data, int len);
void capture_complete(uint64_t id, int bus, int devnum, pipe_dir dir, xfer_status st,
                      const uint8_t *data, int len, int actual);

}  // namespace usb_core
