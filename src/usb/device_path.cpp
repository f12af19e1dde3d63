// Device paths and the two parsers the station's enumeration uses on them.
#include "device_path.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "usb/usb.h"

namespace usb_core {
namespace {

constexpr char kPrefix[] = "\\\\?\\usb#vid_";

// Reads a hexadecimal number as scanf's %x does: leading white space, an optional sign, an
// optional 0x. Values past 32 bits saturate instead of wrapping into a plausible identity.
bool scan_hex(const char *&p, unsigned int *out) {
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && std::isxdigit(static_cast<unsigned char>(p[2])))
    p += 2;
  if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
  unsigned long long v = 0;
  while (std::isxdigit(static_cast<unsigned char>(*p))) {
    int c = std::tolower(static_cast<unsigned char>(*p++));
    v = v * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
    if (v > 0xFFFFFFFFull) v = 0x100000000ull;
  }
  unsigned int r = v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<unsigned int>(v);
  *out = negative ? 0u - r : r;
  return true;
}

bool is_hex4(const char *p) {
  for (int i = 0; i < 4; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(p[i]))) return false;
  return true;
}

}  // namespace

std::string make_device_path(uint16_t vid, uint16_t pid, const std::string &name) {
  char head[32];
  std::snprintf(head, sizeof head, "\\\\?\\usb#vid_%04x&pid_%04x#", vid, pid);
  std::string path = head + name + "#" + USB_GUID_TEXT;
  if (path.size() >= USB_PATH_SIZE) return {};
  return path;
}

std::optional<parsed_path> parse_device_path(const char *path) {
  if (!path) return std::nullopt;
  size_t n = std::strlen(path);
  if (n >= USB_PATH_SIZE || std::strncmp(path, kPrefix, sizeof kPrefix - 1) != 0)
    return std::nullopt;
  const char *p = path + sizeof kPrefix - 1;
  if (!is_hex4(p) || std::strncmp(p + 4, "&pid_", 5) != 0 || !is_hex4(p + 9) || p[13] != '#')
    return std::nullopt;
  const char *name = p + 14;
  const char *end = std::strchr(name, '#');
  if (!end || end == name || std::strcmp(end + 1, USB_GUID_TEXT) != 0) return std::nullopt;
  parsed_path r;
  r.vid = static_cast<uint16_t>(std::strtoul(std::string(p, 4).c_str(), nullptr, 16));
  r.pid = static_cast<uint16_t>(std::strtoul(std::string(p + 9, 4).c_str(), nullptr, 16));
  r.name.assign(name, end);
  return r;
}

}  // namespace usb_core

extern "C" int GetVIDPIDFromDevicePath(char *szPath, int *ret_vid, int *ret_pid) {
  if (!szPath || !ret_vid || !ret_pid) return -1;
  static const char lit1[] = "\\\\?\\usb#vid_";
  const char *p = szPath;
  if (std::strncmp(p, lit1, sizeof lit1 - 1) != 0) return -1;
  p += sizeof lit1 - 1;
  unsigned int vid = 0, pid = 0;
  if (!usb_core::scan_hex(p, &vid)) return -1;
  if (std::strncmp(p, "&pid_", 5) != 0) return -1;
  p += 5;
  if (!usb_core::scan_hex(p, &pid)) return -1;
  *ret_vid = static_cast<int>(vid);
  *ret_pid = static_cast<int>(pid);
  return 0;
}

extern "C" int ExtractInterfaceName(const char *dev_path, char *interface_name) {
  if (!dev_path || !interface_name) return -1;
  const char *first = std::strchr(dev_path, '#');
  const char *second = first ? std::strchr(first + 1, '#') : nullptr;
  const char *third = second ? std::strchr(second + 1, '#') : nullptr;
  if (!third) return -1;
  size_t len = static_cast<size_t>(third - second - 1);
  if (len >= USB_PATH_SIZE) return -1;
  std::memcpy(interface_name, second + 1, len);
  interface_name[len] = '\0';
  return 0;
}
