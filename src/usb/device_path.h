// Device paths of the form \\?\usb#vid_XXXX&pid_XXXX#NAME#{GUID}, built for every backend's
// devices and parsed back by usb_open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace usb_core {

// The path of a device, lower-case hex; empty when it would not fit a USB_PATH_SIZE buffer.
std::string make_device_path(uint16_t vid, uint16_t pid, const std::string &name);

struct parsed_path {
  uint16_t vid;
  uint16_t pid;
  std::string name;
};

// Accepts exactly the paths make_device_path builds (hex digits of either case).
std::optional<parsed_path> parse_device_path(const char *path);

}  // namespace usb_core
