#include "faults.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace sim {
namespace {

const std::pair<const char *, int> kSteps[] = {
    {"preamble", step_preamble}, {"version", 0x20}, {"select", 0x26}, {"verify", 0x27},
    {"header", 0x2A},            {"data", 0x22},    {"done", 0x30},   {"disconnect", 0x31},
    {"message", 0x2B},
};

std::string trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

bool parse_number(const std::string &s, uint64_t max, uint64_t &out) {
  if (s.empty()) return false;
  char *end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (errno || *end || v > max || s[0] == '-') return false;
  out = v;
  return true;
}

}  // namespace

int parse_step(const std::string &name) {
  for (auto &[n, code] : kSteps)
    if (name == n) return code;
  uint64_t v;
  if (name.rfind("0x", 0) == 0 && parse_number(name, 0xFF, v)) return static_cast<int>(v);
  return -1;
}

std::string step_name(int step) {
  for (auto &[n, code] : kSteps)
    if (code == step) return n;
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", step & 0xFF);
  return buf;
}

bool parse_faults(const std::string &text, fault_set &out, std::string &error) {
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    item = trim(item);
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string key = trim(item.substr(0, eq));
    std::string value = eq == std::string::npos ? "" : trim(item.substr(eq + 1));
    uint64_t n = 0;
    int step = value.empty() ? -1 : parse_step(value);
    bool ok = true;
    if (key == "none" && value.empty()) {
      out = fault_set{};
    } else if (key == "unplug-after-bytes" && parse_number(value, UINT64_MAX, n)) {
      out.unplug_after_bytes = n;
    } else if (key == "agent-unplug-after-bytes" && parse_number(value, UINT64_MAX, n)) {
      out.agent_unplug_after_bytes = n;
    } else if (key == "no-agent" && value.empty()) {
      out.no_agent = true;
    } else if (key == "unplug-at" && step >= 0) {
      out.unplug_at = step;
    } else if (key == "status") {
      size_t colon = value.find(':');
      int s = colon == std::string::npos ? -1 : parse_step(trim(value.substr(0, colon)));
      ok = s >= 0 && parse_number(trim(value.substr(colon + 1)), 0xFF, n) && n != 0;
      if (ok) out.status[s] = static_cast<uint8_t>(n);
    } else if (key == "wrong-image-id" && value.empty()) {
      out.wrong_image_id = true;
    } else if (key == "wrong-echo" && value.empty()) {
      out.wrong_echo = true;
    } else if (key == "short-answer" && step >= 0) {
      out.short_answer = step;
    } else if (key == "late-answer") {
      size_t colon = value.find(':');
      int s = colon == std::string::npos ? -1 : parse_step(trim(value.substr(0, colon)));
      ok = s >= 0 && parse_number(trim(value.substr(colon + 1)), 600000, n);
      if (ok) out.late_answer = std::make_pair(s, static_cast<uint32_t>(n));
    } else if (key == "no-answer" && step >= 0) {
      out.no_answer = step;
    } else if (key == "wrong-len" && step >= 0) {
      out.wrong_len = step;
    } else if (key == "zero-grant" && value.empty()) {
      out.zero_grant = true;
    } else if (key == "off-after-reset" && value.empty()) {
      out.off_after_reset = true;
    } else if (key == "return-delay" && parse_number(value, 600000, n)) {
      out.return_delay_ms = static_cast<uint32_t>(n);
    } else if (key == "agent-silent-after-bytes" && parse_number(value, UINT64_MAX, n)) {
      out.agent_silent_after_bytes = n;
    } else if (key == "agent-corrupt-data" && parse_number(value, UINT64_MAX, n) && n > 0) {
      out.agent_corrupt_data = n;
    } else {
      ok = false;
    }
    if (!ok) {
      error = "bad fault \"" + item + "\"";
      return false;
    }
  }
  return true;
}

std::string fault_set::describe() const {
  std::vector<std::string> items;
  if (unplug_after_bytes) items.push_back("unplug-after-bytes=" + std::to_string(*unplug_after_bytes));
  if (agent_unplug_after_bytes)
    items.push_back("agent-unplug-after-bytes=" + std::to_string(*agent_unplug_after_bytes));
  if (no_agent) items.push_back("no-agent");
  if (unplug_at) items.push_back("unplug-at=" + step_name(*unplug_at));
  for (auto &[s, code] : status) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", code);
    items.push_back("status=" + step_name(s) + ":" + buf);
  }
  if (wrong_image_id) items.push_back("wrong-image-id");
  if (wrong_echo) items.push_back("wrong-echo");
  if (short_answer) items.push_back("short-answer=" + step_name(*short_answer));
  if (no_answer) items.push_back("no-answer=" + step_name(*no_answer));
  if (late_answer)
    items.push_back("late-answer=" + step_name(late_answer->first) + ":" + std::to_string(late_answer->second));
  if (wrong_len) items.push_back("wrong-len=" + step_name(*wrong_len));
  if (zero_grant) items.push_back("zero-grant");
  if (return_delay_ms) items.push_back("return-delay=" + std::to_string(*return_delay_ms));
  if (agent_silent_after_bytes)
    items.push_back("agent-silent-after-bytes=" + std::to_string(*agent_silent_after_bytes));
  if (off_after_reset) items.push_back("off-after-reset");
  if (agent_corrupt_data) items.push_back("agent-corrupt-data=" + std::to_string(*agent_corrupt_data));
  std::string r;
  for (auto &i : items) r += (r.empty() ? "" : ",") + i;
  return r;
}

}  // namespace sim
