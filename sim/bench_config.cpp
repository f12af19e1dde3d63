#include "bench_config.h"

#include <sstream>

#include "bench_agent.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

extern "C" {
#include <iniparser.h>
}

namespace sim {
namespace {

class ini_file {
 public:
  explicit ini_file(const std::string &path) : d_(iniparser_load(path.c_str())) {}
  ~ini_file() {
    if (d_) iniparser_freedict(d_);
  }
  ini_file(const ini_file &) = delete;
  ini_file &operator=(const ini_file &) = delete;
  dictionary *get() const { return d_; }

 private:
  dictionary *d_;
};

const char *value(dictionary *d, const std::string &sec, const char *key) {
  std::string k = sec + ":" + key;
  return iniparser_getstring(d, k.c_str(), nullptr);
}

bool number(const char *s, unsigned long long max, unsigned long long &out) {
  if (!s || !*s || *s == '-') return false;
  char *end = nullptr;
  errno = 0;
  out = std::strtoull(s, &end, 0);
  return errno == 0 && *end == '\0' && out <= max;
}

bool handset_section(dictionary *d, const std::string &sec, bench_handset_config &h,
                     std::string &error) {
  auto bad = [&](const char *key) {
    error = "[" + sec + "] bad or missing " + key;
    return false;
  };
  const char *port = value(d, sec, "port");
  if (!port || !*port || std::strlen(port) > 200 || std::strchr(port, '#')) return bad("port");
  h.handset.port = port;
  unsigned long long n = 0;
  if (const char *id = value(d, sec, "identity")) {
    if (std::strcmp(id, "8086:d001") == 0) {
      h.handset.rom.vid = 0x8086, h.handset.rom.pid = 0xD001;
    } else if (std::strcmp(id, "1286:8104") == 0) {
      h.handset.rom.vid = 0x1286, h.handset.rom.pid = 0x8104;
    } else {
      return bad("identity");
    }
  }
  struct num_key {
    const char *key;
    unsigned long long max;
    std::function<void(unsigned long long)> set;
  };
  const num_key keys[] = {
      {"bus", 255, [&](auto v) { h.handset.bus_number = static_cast<int>(v); }},
      {"grant", 0xFFFFFFFF, [&](auto v) { h.handset.rom.grant_size = static_cast<uint32_t>(v); }},
      {"date", 0xFFFFFFFF, [&](auto v) { h.handset.rom.date = static_cast<uint32_t>(v); }},
      {"processor_rev", 0xFF, [&](auto v) { h.handset.rom.processor[3] = static_cast<uint8_t>(v); }},
      {"reenumerate_delay_ms", 600000, [&](auto v) { h.handset.reenumerate_delay_ms = static_cast<int>(v); }},
  };
  for (const auto &k : keys) {
    const char *v = value(d, sec, k.key);
    if (!v) continue;
    if (!number(v, k.max, n) || (std::strcmp(k.key, "bus") == 0 && n == 0)) return bad(k.key);
    k.set(n);
  }
  if (const char *v = value(d, sec, "version")) {
    if (std::strlen(v) != 4) return bad("version");
    std::memcpy(h.handset.rom.version, v, 4);
  }
  if (const char *v = value(d, sec, "processor")) {
    if (std::strlen(v) != 3) return bad("processor");
    std::memcpy(h.handset.rom.processor, v, 3);
  }
  if (value(d, sec, "plugged")) {
    std::string k = sec + ":plugged";
    int b = iniparser_getboolean(d, k.c_str(), -1);
    if (b < 0) return bad("plugged");
    h.plugged = b != 0;
  }
  if (const char *v = value(d, sec, "nand_id")) {
    std::stringstream in(v);
    std::string byte;
    int i = 0;
    while (std::getline(in, byte, ':') && i < 5) {
      if (!number(("0x" + byte).c_str(), 0xFF, n) || byte.size() > 2) return bad("nand_id");
      h.nand.id[i++] = static_cast<uint8_t>(n);
    }
    nand_geometry g;
    if (i < 4 || !geometry_from_id(h.nand.id, &g)) return bad("nand_id");
  }
  if (const char *v = value(d, sec, "chip_selects")) {
    if (!number(v, 2, n) || n < 1) return bad("chip_selects");
    h.nand.chip_selects = static_cast<uint32_t>(n);
  }
  if (const char *v = value(d, sec, "bad_blocks")) {
    std::stringstream in(v);
    std::string b;
    while (std::getline(in, b, ',')) {
      while (!b.empty() && b.front() == ' ') b.erase(b.begin());
      if (!number(b.c_str(), 0xFFFF, n)) return bad("bad_blocks");
      h.nand.factory_bad_blocks.push_back(static_cast<uint32_t>(n));
    }
  }
  if (const char *v = value(d, sec, "nand_faults")) {
    std::string why;
    if (!parse_nand_faults(v, h.nand_faults, why)) {
      error = "[" + sec + "] " + why;
      return false;
    }
  }
  if (const char *v = value(d, sec, "faults")) {
    std::string why;
    if (!parse_faults(v, h.handset.faults, why)) {
      error = "[" + sec + "] " + why;
      return false;
    }
  }
  return true;
}

}  // namespace

bool load_bench_config(const std::string &path, bench_config &out, std::string &error) {
  ini_file ini(path);
  if (!ini.get()) {
    error = "cannot read " + path;
    return false;
  }
  dictionary *d = ini.get();
  std::set<std::string> ports;
  bool realistic = false;
  for (int i = 0; i < iniparser_getnsec(d); ++i) {
    std::string sec = iniparser_getsecname(d, i);
    if (sec == "bench") {
      const char *timing = value(d, sec, "timing");
      if (timing && std::strcmp(timing, "none") != 0 && std::strcmp(timing, "realistic") != 0) {
        error = "[bench] timing: \"none\" or \"realistic\"";
        return false;
      }
      realistic = timing && std::strcmp(timing, "realistic") == 0;
      continue;
    }
    bench_handset_config h;
    if (!handset_section(d, sec, h, error)) return false;
    if (!ports.insert(h.handset.port).second) {
      error = "[" + sec + "] port " + h.handset.port + " is used twice";
      return false;
    }
    out.handsets.push_back(std::move(h));
  }
  for (auto &h : out.handsets) h.handset.timing.realistic = realistic;
  if (out.handsets.empty()) {
    error = path + " lists no handset";
    return false;
  }
  return true;
}

}  // namespace sim
