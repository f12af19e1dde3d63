#include "commands.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fstream>
#include <iterator>

#include "agent/agent_image.h"
#include "libromcode/libromcode.h"
#include "usb/usb.h"

namespace cli {
namespace {

struct device {
  std::string path, name;
  int vid = 0, pid = 0;
};

bool is_bootrom(int vid, int pid) {
  return (vid == USB_VID_BOOTROM_A && pid == USB_PID_BOOTROM_A) ||
         (vid == USB_VID_BOOTROM_B && pid == USB_PID_BOOTROM_B);
}

const char *role_of(int vid, int pid) {
  if (is_bootrom(vid, pid)) return "boot-rom";
  if (vid == USB_VID_AGENT && pid == USB_PID_AGENT) return "agent";
  return "other";
}

std::vector<device> present_devices() {
  std::vector<device> out;
  usb_enumerate(
      [](const char *path, void *ctx) {
        device d;
        d.path = path;
        char name[USB_PATH_SIZE];
        std::vector<char> p(d.path.begin(), d.path.end());
        p.push_back('\0');
        if (GetVIDPIDFromDevicePath(p.data(), &d.vid, &d.pid) == 0 &&
            ExtractInterfaceName(path, name) == 0) {
          d.name = name;
          static_cast<std::vector<device> *>(ctx)->push_back(d);
        }
        return USB_ENUM_NEXT;
      },
      &out);
  return out;
}

const char *romcode_text(int r) {
  switch (r) {
    case -1: return "the download stopped; see the message above";
    case -2: return "the preamble echo differs from the preamble";
    case -3: return "an answer of the boot ROM did not arrive in full";
    case -4: return "a command could not be written in full";
    case -6: return "the boot ROM answered another command, a wrong length or a bad grant";
    case -7: return "the boot ROM reported an error status";
    default: return "failure";
  }
}

// The boot ROM on interface `name`, opened as the station's monitor opens it; null after
// saying why.
usb_dev_handle *open_bootrom(const std::string &name) {
  for (const auto &d : present_devices()) {
    if (d.name != name) continue;
    if (!is_bootrom(d.vid, d.pid)) {
      std::fprintf(stderr, "norvane_cli: the device on %s is not a boot ROM (%04x:%04x, %s)\n",
                   name.c_str(), d.vid, d.pid, role_of(d.vid, d.pid));
      return nullptr;
    }
    usb_dev_handle *h = usb_open(d.path.c_str());
    if (!h) {
      std::fprintf(stderr, "norvane_cli: cannot open the boot ROM on %s: busy (open in another "
                           "program) or no permission\n", name.c_str());
      return nullptr;
    }
    if (usb_set_configuration(h, 1) != 0 || usb_claim_interface(h, 0) != 0) {
      usb_close(h);
      std::fprintf(stderr, "norvane_cli: cannot configure the boot ROM on %s\n", name.c_str());
      return nullptr;
    }
    return h;
  }
  std::fprintf(stderr, "norvane_cli: no device on interface %s (see: norvane_cli list)\n",
               name.c_str());
  return nullptr;
}

bool readable(const char *file) {
  if (::access(file, R_OK) == 0) return true;
  std::fprintf(stderr, "norvane_cli: cannot read %s: %s\n", file, std::strerror(errno));
  return false;
}

}  // namespace

int list_devices() {
  auto devices = present_devices();
  std::printf("%-9s %-4s %-4s %-20s %s\n", "ROLE", "VID", "PID", "INTERFACE", "PATH");
  for (const auto &d : devices)
    std::printf("%-9s %04x %04x %-20s %s\n", role_of(d.vid, d.pid), d.vid, d.pid, d.name.c_str(),
                d.path.c_str());
  return 0;
}

int rom_version(const std::string &name) {
  usb_dev_handle *h = open_bootrom(name);
  if (!h) return 1;
  int r = mvl_romcode_send_premble(h);
  mvl_bootrom_version v{};
  if (r == 0) {
    std::printf("Preamble: echoed\n");
    r = mvl_romcode_get_version(h, &v);
  }
  usb_close(h);
  if (r != 0) {
    std::fprintf(stderr, "norvane_cli: rom-version failed: %d (%s)\n", r, romcode_text(r));
    return 1;
  }
  std::printf("Version: %c%c%c%c\nDate: %08X\nProcessor: %c%c%c %02X\n", v.version[0],
              v.version[1], v.version[2], v.version[3], static_cast<unsigned>(v.date),
              v.processor[0], v.processor[1], v.processor[2], v.processor[3]);
  return 0;
}

int download(const std::string &name, const char *tim_file, const std::string &dkb_file) {
  if ((!dkb_file.empty() && !readable(dkb_file.c_str())) || (tim_file && !readable(tim_file))) return 1;
  usb_dev_handle *h = open_bootrom(name);
  if (!h) return 1;
  int r;
  if (!dkb_file.empty()) {
    r = download_dkb_file(h, tim_file, dkb_file.c_str());
  } else {  // the agent image this program carries
    unsigned char *image = nullptr;
    int size = 0;
    load_flasher_image(&image, &size);
    std::vector<uint8_t> tim;
    if (tim_file) {
      std::ifstream f(tim_file, std::ios::binary);
      tim.assign(std::istreambuf_iterator<char>(f), {});
    }
    r = download_dkb(h, tim.empty() ? nullptr : tim.data(), uint32_t(tim.size()), image, uint32_t(size));
  }
  usb_close(h);
  if (r != 0) {
    std::fprintf(stderr, "norvane_cli: download failed: %d (%s)\n", r, romcode_text(r));
    return 1;
  }
  std::printf("Download complete: the handset now runs the agent\n");
  return 0;
}

}  // namespace cli
