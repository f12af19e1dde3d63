// The bench's agents. The received images are kept in the bench's directory as PORT.tim and
// PORT.dkb; the agent that answers is the agent core on the sim board over the handset's NAND.
#include "bench_agent.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "flash_view.h"

namespace sim {

namespace {

std::string file_name(const std::string &port) {
  std::string s;
  for (char c : port) s += (c == '/' || c == '\\' || c == '\0') ? '_' : c;
  return s;
}

void keep(const std::string &path, const std::vector<uint8_t> &data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool to_number(const std::string &s, unsigned long long max, unsigned long long &out) {
  if (s.empty() || s[0] == '-') return false;
  char *end = nullptr;
  out = std::strtoull(s.c_str(), &end, 0);
  return *end == '\0' && out <= max;
}

}  // namespace

bool parse_nand_faults(const std::string &text, std::vector<nand_fault> &out, std::string &error) {
  std::stringstream rules(text);
  std::string rule;
  while (std::getline(rules, rule, ';')) {
    while (!rule.empty() && rule.front() == ' ') rule.erase(rule.begin());
    while (!rule.empty() && rule.back() == ' ') rule.pop_back();
    if (rule.empty()) continue;
    auto colon = rule.find(':'), eq = rule.find('=');
    if (colon == std::string::npos || eq == std::string::npos || eq < colon) {
      error = "bad NAND fault \"" + rule + "\"";
      return false;
    }
    std::string op = rule.substr(0, colon), kind = rule.substr(colon + 1, eq - colon - 1), arg = rule.substr(eq + 1);
    nand_fault f;
    if (op == "erase") f.op = nand_op::erase;
    else if (op == "program") f.op = nand_op::program;
    else if (op == "read") f.op = nand_op::read;
    else {
      error = "bad NAND operation \"" + op + "\"";
      return false;
    }
    unsigned long long n = 0, seed = 1;
    bool ok = true;
    if (kind == "blocks") {
      std::stringstream list(arg);
      std::string b;
      while (ok && std::getline(list, b, ',')) {
        ok = to_number(b, 0xFFFFFFFF, n);
        f.blocks.push_back(uint32_t(n));
      }
      ok = ok && !f.blocks.empty();
    } else if (kind == "after") {
      ok = to_number(arg, ~0ull, n) && n > 0;
      f.after_ops = n;
    } else if (kind == "random") {
      auto at = arg.find('@');
      ok = to_number(arg.substr(0, at), 1000000, n) &&
           (at == std::string::npos || to_number(arg.substr(at + 1), 0xFFFFFFFF, seed));
      f.per_million = uint32_t(n);
      f.seed = uint32_t(seed);
    } else {
      ok = false;
    }
    if (!ok) {
      error = "bad NAND fault \"" + rule + "\"";
      return false;
    }
    out.push_back(std::move(f));
  }
  return true;
}

bool bench_agents::add(const std::string &port, const nand_config &nand, std::string &error) {
  nand_config c = nand;
  if (!dir_.empty()) c.file = dir_ + "/" + file_name(port) + ".nand";
  std::unique_ptr<nand_chip> chip = nand_chip::open(c, &error);
  if (!chip) {
    error = port + ": " + error;
    return false;
  }
  std::lock_guard<std::mutex> lock(m_);
  slots_[port].nand = std::move(chip);
  return true;
}

agent_factory bench_agents::factory(const std::string &port) {
  return [this, port](const agent_boot &boot) -> std::shared_ptr<usb_inproc::device_model> {
    if (!dir_.empty()) {
      std::string base = dir_ + "/" + file_name(port);
      keep(base + ".tim", boot.tim);
      keep(base + ".dkb", boot.dkb);
    }
    std::weak_ptr<handset> device = boot.device.weak_from_this();
    std::lock_guard<std::mutex> lock(m_);
    slot &s = slots_[port];
    if (!s.nand) return nullptr;
    // A reset brings the handset back to its boot ROM.
    auto agent = std::make_shared<agent::agent_device>(
        s.nand,
        [device](agent::reset_kind) {
          if (auto h = device.lock()) h->reset();
        },
        boot.device.config().timing.realistic, boot.timeline);
    s.last = agent;
    return agent;
  };
}

std::string bench_agents::status_json(const std::string &port) {
  std::shared_ptr<agent::agent_device> a;
  {
    std::lock_guard<std::mutex> lock(m_);
    auto it = slots_.find(port);
    if (it != slots_.end()) a = it->second.last;
  }
  return a ? a->inspect([](const agent::agent_core &core, const agent::sim_board &board) {
    return agent::agent_status_json(core, board);
  })
           : "null";
}

std::string bench_agents::stored_status_json(const std::string &port) {
  std::shared_ptr<nand_chip> nand;
  {
    std::lock_guard<std::mutex> lock(m_);
    auto it = slots_.find(port);
    if (it == slots_.end() || !it->second.nand) return "null";
    nand = it->second.nand;
  }
  return agent::stored_status_json(*nand);
}

bool bench_agents::read(const std::string &port, uint32_t start, uint32_t end, const std::string &file,
                        std::string &error, bool stored) {
  std::shared_ptr<nand_chip> nand;
  std::shared_ptr<agent::agent_device> a;
  {
    std::lock_guard<std::mutex> lock(m_);
    auto it = slots_.find(port);
    if (it == slots_.end() || !it->second.nand) {
      error = "no NAND on port " + port;
      return false;
    }
    nand = it->second.nand;
    a = it->second.last;
  }
  std::vector<uint8_t> data;
  bool ok = a && !stored ? a->inspect([&](const agent::agent_core &core, const agent::sim_board &) {
    return agent::read_through_bbm(*nand, &core, start, end, data, error);
  })
                         : agent::read_through_bbm(*nand, nullptr, start, end, data, error);
  if (!ok) return false;
  std::ofstream f(file, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
  if (!f) {
    error = "cannot write " + file;
    return false;
  }
  return true;
}

bool bench_agents::inject(const std::string &port, const nand_fault &fault) {
  std::lock_guard<std::mutex> lock(m_);
  auto it = slots_.find(port);
  if (it == slots_.end() || !it->second.nand) return false;
  it->second.nand->inject(fault);
  return true;
}

bool bench_agents::clear(const std::string &port) {
  std::lock_guard<std::mutex> lock(m_);
  auto it = slots_.find(port);
  if (it == slots_.end() || !it->second.nand) return false;
  it->second.nand->clear_faults();
  it->second.nand->heal();
  return true;
}

}  // namespace sim
