#include "usb_descriptors.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

std::vector<uint8_t> usb_descriptors(uint16_t vid, uint16_t pid) {
  auto lo = [](uint16_t v) { return static_cast<uint8_t>(v & 0xFF); };
  auto hi = [](uint16_t v) { return static_cast<uint8_t>(v >> 8); };
  return {
      // device: USB 2.0, class per interface, EP0 of 64 bytes, release 1.00, one configuration
      18, 1, 0x00, 0x02, 0, 0, 0, 64, lo(vid), hi(vid), lo(pid), hi(pid), 0x00, 0x01, 0, 0, 0, 1,
      // configuration 1: 32 bytes in all, one interface, bus powered, 100 mA
      9, 2, 32, 0, 1, 1, 0, 0x80, 50,
      // interface 0: two endpoints, vendor specific
      9, 4, 0, 0, 2, 0xFF, 0, 0, 0,
      // bulk IN 0x81 and bulk OUT 0x02, 512 bytes
      7, 5, 0x81, 2, 0x00, 0x02, 0,
      7, 5, 0x02, 2, 0x00, 0x02, 0,
  };
}

std::string sysfs_path(const std::string &port) {
  std::string bus = port.substr(0, port.find('-'));
  return "/sys/devices/pci0000:00/0000:00:14.0/usb" + bus + "/" + port;
}

std::string umockdev_description(const std::string &port, uint16_t vid, uint16_t pid, int devnum) {
  int bus = std::atoi(port.substr(0, port.find('-')).c_str());
  char node[32], ids[64];
  std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", bus, devnum);
  std::snprintf(ids, sizeof ids, "%x/%x/100", vid, pid);
  std::string hex;
  for (uint8_t b : usb_descriptors(vid, pid)) {
    char h[3];
    std::snprintf(h, sizeof h, "%02X", b);
    hex += h;
  }
  char vp[64];
  std::snprintf(vp, sizeof vp, "A: idProduct=%04x\nA: idVendor=%04x\n", pid, vid);
  std::string devpath = port.substr(port.find('-') + 1);
  std::string d = "P: " + sysfs_path(port).substr(4) + "\n";
  d += std::string("N: ") + node + "\n";
  d += std::string("E: DEVNAME=/dev/") + node + "\n";
  d += "E: DEVTYPE=usb_device\nE: DRIVER=usb\n";
  d += std::string("E: PRODUCT=") + ids + "\n";
  d += "E: TYPE=0/0/0\n";
  char nums[96];
  std::snprintf(nums, sizeof nums, "E: BUSNUM=%03d\nE: DEVNUM=%03d\nE: MAJOR=189\nE: MINOR=%d\n",
                bus, devnum, (bus - 1) * 128 + devnum - 1);
  d += nums;
  d += "E: SUBSYSTEM=usb\n";
  d += "A: authorized=1\nA: bConfigurationValue=1\nA: bDeviceClass=00\nA: bDeviceProtocol=00\n"
       "A: bDeviceSubClass=00\nA: bMaxPacketSize0=64\nA: bNumConfigurations=1\n"
       "A: bNumInterfaces= 1\nA: bcdDevice=0100\n";
  d += "A: busnum=" + std::to_string(bus) + "\n";
  d += "H: descriptors=" + hex + "\n";
  d += "A: devnum=" + std::to_string(devnum) + "\n";
  d += "A: devpath=" + devpath + "\n";
  d += vp;
  d += "A: maxchild=0\nA: speed=480\nA: version= 2.00\n";
  return d;
}

}  // namespace sim
