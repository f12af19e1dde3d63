// The agent commands of norvane_cli: a service bench repairs or inspects one handset with them.
// Each opens the agent on interface NAME, runs one libdkb operation, prints its result and exits
// non-zero on failure.
#include "agent_commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "agent/agent_image.h"
#include "libdkb/libdkb.h"
#include "libromcode/libromcode.h"
#include "usb/usb.h"

namespace cli {

const char agent_usage[] =
    "       norvane_cli ack|init-nand|nand-info|bbm-validate|bbm-writeback|rtc-get NAME\n"
    "       norvane_cli bbm-reloc NAME START END\n"
    "       norvane_cli bbm-init NAME used|nake\n"
    "       norvane_cli erase NAME START END [--no-bbm]\n"
    "       norvane_cli write NAME FILE START END [--oob] [--no-crc] [--offset N] [--length N]\n"
    "       norvane_cli read NAME START END FILE [--oob]\n"
    "       norvane_cli gpio NAME N VALUE\n"
    "       norvane_cli rtc-set NAME now|\"YYYY-MM-DD hh:mm:ss\"   (UTC)\n"
    "       norvane_cli pmic-read NAME ADDR | pmic-write NAME ADDR VALUE\n"
    "       norvane_cli reset NAME soft|hard\n";

namespace {

struct found {
  std::string name;
  std::string path;
  bool agent = false;
};

// The device on interface `name`, if it is the agent.
usb_dev_handle *open_agent(const char *name) {
  found f;
  f.name = name;
  usb_enumerate(
      [](const char *path, void *ctx) {
        auto *f = static_cast<found *>(ctx);
        char iface[USB_PATH_SIZE];
        std::vector<char> p(path, path + std::strlen(path) + 1);
        int vid = 0, pid = 0;
        if (ExtractInterfaceName(path, iface) != 0 || f->name != iface) return USB_ENUM_NEXT;
        f->path = path;
        f->agent = GetVIDPIDFromDevicePath(p.data(), &vid, &pid) == 0 && vid == USB_VID_AGENT && pid == USB_PID_AGENT;
        return 1;
      },
      &f);
  if (f.path.empty()) {
    std::fprintf(stderr, "norvane_cli: no device on interface %s (see: norvane_cli list)\n", name);
    return nullptr;
  }
  if (!f.agent) {
    std::fprintf(stderr, "norvane_cli: the device on %s is not the agent (download it first)\n", name);
    return nullptr;
  }
  usb_dev_handle *h = usb_open(f.path.c_str());
  if (!h) std::fprintf(stderr, "norvane_cli: cannot open the agent on %s: busy or no permission\n", name);
  return h;
}

bool number(const char *s, long long min, long long max, long long &out) {
  if (!s || !*s) return false;
  char *end = nullptr;
  out = std::strtoll(s, &end, 0);
  return *end == '\0' && out >= min && out <= max;
}

void progress(void *, const char *text, int current, int total) {
  int pct = total > 0 ? int(100LL * current / total) : 100;
  std::fprintf(stderr, "\r%s %3d%%", text, pct);
  if (current >= total) std::fputc('\n', stderr);
  std::fflush(stderr);
}

int result(const char *what, int r, int device_code = 0) {
  if (r == 0) return 0;
  if (r == DKB_ERR_DEVICE && device_code)
    std::fprintf(stderr, "norvane_cli: %s failed: %d (agent error %d)\n", what, r, device_code);
  else
    std::fprintf(stderr, "norvane_cli: %s failed: %d\n", what, r);
  return 1;
}

bool geometry(usb_dev_handle *h, comm_protocol_flash_info_resp &info) {
  if (dkb_get_nand_info(h, &info) != 0 || info.page_size == 0 || info.block_size == 0) {
    std::fprintf(stderr, "norvane_cli: the agent reports no NAND geometry (run init-nand first)\n");
    return false;
  }
  return true;
}

bool parse_time(const char *s, struct tm &t) {
  if (std::strcmp(s, "now") == 0) {
    time_t now = time(nullptr);
    return gmtime_r(&now, &t) != nullptr;
  }
  t = {};
  const char *end = strptime(s, "%Y-%m-%d %H:%M:%S", &t);
  if (!end || *end) return false;
  time_t utc = timegm(&t);  // fills in the weekday
  return utc != time_t(-1) && gmtime_r(&utc, &t) != nullptr;
}

int run(const std::string &cmd, usb_dev_handle *h, int argc, char **argv) {
  long long a = 0, b = 0;
  if (cmd == "ack" && argc == 3) {
    int r = dkb_ack(h);
    if (!r) std::printf("Agent answered\n");
    return result("ack", r);
  }
  if (cmd == "init-nand" && argc == 3) {
    int found = 0;
    int r = dkb_init_nand(h, &found);
    if (!r) std::printf("\nNAND initialised; BBM %s\n", found ? "found" : "not found");
    return result("init-nand", r);
  }
  if (cmd == "nand-info" && argc == 3) {
    comm_protocol_flash_info_resp i{};
    int r = dkb_get_nand_info(h, &i);
    if (!r)
      std::printf("manufacturer 0x%02X device 0x%02X blocks %u page %u block %u spare %u bus %u\n", i.manu_id,
                  i.device_id, i.no_of_blocks, i.page_size, i.block_size, i.oob_size, i.bus_width);
    return result("nand-info", r);
  }
  if (cmd == "bbm-reloc" && argc == 5 && number(argv[3], 0, 0xFFFFFFFF, a) && number(argv[4], 0, 0xFFFFFFFF, b))
    return result("bbm-reloc", dkb_set_nand_bbm_reloc_area(h, int(a), int(b)));
  if (cmd == "bbm-validate" && argc == 3) {
    int r = dkb_validate_bbm(h);
    if (!r) std::printf("\nBBM valid\n");
    return result("bbm-validate", r);
  }
  if (cmd == "bbm-init" && argc == 4 && (!std::strcmp(argv[3], "used") || !std::strcmp(argv[3], "nake"))) {
    int r = !std::strcmp(argv[3], "used") ? dkb_init_bbm_used_flash(h, progress, nullptr)
                                          : dkb_init_bbm_nake_flash(h, progress, nullptr);
    if (!r) std::printf("\nBBM built\n");
    return result("bbm-init", r);
  }
  if (cmd == "bbm-writeback" && argc == 3) return result("bbm-writeback", dkb_finialize_nand(h));
  if (cmd == "erase" && (argc == 5 || (argc == 6 && !std::strcmp(argv[5], "--no-bbm"))) &&
      number(argv[3], 0, 0xFFFFFFFF, a) && number(argv[4], a, 0xFFFFFFFF, b))
    return result("erase", dkb_flash_erase(h, int(a), int(b - a), argc == 6));
  if (cmd == "write" && argc >= 6 && number(argv[4], 0, 0xFFFFFFFF, a) && number(argv[5], a, 0xFFFFFFFF, b)) {
    bool oob = false, crc = true;
    long long offset = 0, length = 0;
    for (int i = 6; i < argc; ++i) {
      std::string o = argv[i];
      if (o == "--oob") oob = true;
      else if (o == "--no-crc") crc = false;
      else if (o == "--offset" && i + 1 < argc && number(argv[i + 1], 0, 0x7FFFFFFF, offset)) ++i;
      else if (o == "--length" && i + 1 < argc && number(argv[i + 1], 0, 0x7FFFFFFF, length)) ++i;
      else return 2;
    }
    comm_protocol_flash_info_resp g{};
    if (!geometry(h, g)) return 1;
    int r = dkb_flash_write_from_file(h, argv[3], int(offset), int(length), int(a), int(b), 1, int(g.page_size),
                                      int(g.block_size), oob ? int(g.oob_size) : 0, crc, 0, progress, nullptr);
    if (!r) std::printf("Wrote %s to 0x%08llX-0x%08llX\n", argv[3], a, b);
    return result("write", r);
  }
  if (cmd == "read" && (argc == 6 || (argc == 7 && !std::strcmp(argv[6], "--oob"))) &&
      number(argv[3], 0, 0xFFFFFFFF, a) && number(argv[4], a, 0xFFFFFFFF, b)) {
    comm_protocol_flash_info_resp g{};
    if (!geometry(h, g)) return 1;
    return result("read", dkb_flash_read_to_file(h, argv[5], int(a), int(b), 1, int(g.page_size), int(g.block_size),
                                                 argc == 7 ? int(g.oob_size) : 0, 1, 0, progress, nullptr));
  }
  if (cmd == "gpio" && argc == 5 && number(argv[3], 0, 0x7FFFFFFF, a) && number(argv[4], 0, 1, b))
    return result("gpio", dkb_set_gpio(h, int(a), int(b)));
  if (cmd == "rtc-set" && argc == 4) {
    struct tm t {};
    if (!parse_time(argv[3], t)) return 2;
    int r = dkb_write_rtc(h, &t);
    if (!r) std::printf("Clock set to %04d-%02d-%02d %02d:%02d:%02d UTC\n", t.tm_year + 1900, t.tm_mon + 1,
                        t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return result("rtc-set", r);
  }
  if (cmd == "rtc-get" && argc == 3) {
    struct tm t {};
    int r = dkb_read_rtc(h, &t);
    if (!r) std::printf("%04d-%02d-%02d %02d:%02d:%02d UTC (weekday %d)\n", t.tm_year + 1900, t.tm_mon + 1,
                        t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday);
    return result("rtc-get", r);
  }
  if (cmd == "pmic-read" && argc == 4 && number(argv[3], 0, 255, a)) {
    unsigned char v = 0;
    int r = dkb_read_micco_data(h, (unsigned char)a, &v);
    if (!r) std::printf("0x%02llX = 0x%02X\n", a, v);
    return result("pmic-read", r);
  }
  if (cmd == "pmic-write" && argc == 5 && number(argv[3], 0, 255, a) && number(argv[4], 0, 255, b))
    return result("pmic-write", dkb_write_micco_data(h, (unsigned char)a, (unsigned char)b));
  if (cmd == "reset" && argc == 4 && (!std::strcmp(argv[3], "soft") || !std::strcmp(argv[3], "hard"))) {
    int r = !std::strcmp(argv[3], "soft") ? dkb_software_reset_device(h) : dkb_hardware_reset_device(h);
    if (!r) std::printf("Reset sent\n");
    return result("reset", r);
  }
  return 2;
}

}  // namespace

int agent_command(int argc, char **argv) {
  static const char *const commands[] = {"ack",   "init-nand", "nand-info", "bbm-reloc", "bbm-validate", "bbm-init",
                                         "erase", "write",     "read",      "bbm-writeback", "gpio", "rtc-set",
                                         "rtc-get", "pmic-read", "pmic-write", "reset"};
  std::string cmd = argc > 1 ? argv[1] : "";
  bool known = false;
  for (const char *c : commands) known |= cmd == c;
  if (!known) return -1;
  if (argc < 3) return 2;
  usb_dev_handle *h = open_agent(argv[2]);
  if (!h) return 1;
  int r = run(cmd, h, argc, argv);
  usb_close(h);
  if (r == 2) std::fprintf(stderr, "usage:\n%s", agent_usage);
  return r;
}

}  // namespace cli
