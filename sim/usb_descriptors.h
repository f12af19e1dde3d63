// The USB descriptors of a simulated handset (one configuration, one vendor interface with
// bulk IN 0x81 and bulk OUT 0x02 of 512 bytes, high speed), and its description in the
// umockdev-record format, so that the libusb backend can be run against a bench capture
// under umockdev without hardware.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Device descriptor followed by the configuration with its interface and endpoints, as the
// sysfs "descriptors" file holds them.
std::vector<uint8_t> usb_descriptors(uint16_t vid, uint16_t pid);

// A umockdev device description of the handset on `port` ("B-P[.P...]", the sysfs name: bus
// B, port chain P), with device number `devnum`. Its sysfs path is sysfs_path(port).
std::string umockdev_description(const std::string &port, uint16_t vid, uint16_t pid, int devnum);
std::string sysfs_path(const std::string &port);

}  // namespace sim
