// Any text given as a device path: the parsers never read outside it, never write more than
// 260 bytes of name, and whatever usb_open's parser accepts round-trips.
#include <cstdint>
#include <cstring>
#include <string>

#include "device_path.h"
#include "usb/usb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  text = text.c_str();  // up to the first NUL, as a C string
  int vid = 0, pid = 0;
  GetVIDPIDFromDevicePath(text.data(), &vid, &pid);
  char name[USB_PATH_SIZE];
  if (ExtractInterfaceName(text.c_str(), name) == 0 && std::strlen(name) >= USB_PATH_SIZE)
    __builtin_trap();
  if (auto p = usb_core::parse_device_path(text.c_str())) {
    std::string again = usb_core::make_device_path(p->vid, p->pid, p->name);
    auto q = usb_core::parse_device_path(again.c_str());
    if (!q || q->vid != p->vid || q->pid != p->pid || q->name != p->name) __builtin_trap();
  }
  return 0;
}
