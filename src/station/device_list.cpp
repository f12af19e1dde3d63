#include "device_list.h"

#include "monitor.h"
#include "usb/usb.h"

namespace {

const char *role_of(int vid, int pid) {
  if (is_bootrom_identity(vid, pid)) return "boot-rom";
  if (vid == USB_VID_AGENT && pid == USB_PID_AGENT) return "agent";
  return "other";
}

int print_one(const char *path, void *ctx) {
  char copy[USB_PATH_SIZE] = {};
  for (int i = 0; i < USB_PATH_SIZE - 1 && path[i]; ++i) copy[i] = path[i];
  int vid = 0, pid = 0;
  char name[USB_PATH_SIZE] = "";
  if (GetVIDPIDFromDevicePath(copy, &vid, &pid) != 0) return USB_ENUM_NEXT;
  ExtractInterfaceName(copy, name);
  std::fprintf(static_cast<std::FILE *>(ctx), "%-9s %04x %04x %-20s %s\n", role_of(vid, pid), vid, pid, name, copy);
  return USB_ENUM_NEXT;
}

}  // namespace

int print_device_list(std::FILE *out) {
  std::fprintf(out, "%-9s %-4s %-4s %-20s %s\n", "ROLE", "VID", "PID", "INTERFACE", "PATH");
  usb_enumerate(print_one, out);
  return 0;
}
