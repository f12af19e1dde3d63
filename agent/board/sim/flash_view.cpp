// The bench's view of an agent and its flash.
#include "flash_view.h"

#include <cstdio>
#include <memory>

#include "protocol.h"

namespace agent {

namespace {

std::string quoted(const std::string &s) {
  std::string q = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      q += '\\';
      q += char(c);
    } else if (c < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", c);
      q += b;
    } else {
      q += char(c);
    }
  }
  return q + "\"";
}

}  // namespace

std::string agent_status_json(const agent_core &core, const sim_board &board) {
  const nand_record &n = core.nand();
  const bbm_table &t = core.table();
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "{\"running\":%s,\"halted\":%s,\"ram_address\":%u,\"ram_length\":%u,"
                "\"nand\":{\"manu_id\":%u,\"device_id\":%u,\"no_of_blocks\":%u,\"page_size\":%u,"
                "\"block_size\":%u,\"oob_size\":%u,\"bus_width\":%u,\"chip_selects\":%u,"
                "\"reloc_first\":%u,\"reloc_last\":%u},\"bbm\":{\"state\":%u,\"page\":%u,\"valid\":%s,\"entries\":[",
                core.stopped() ? "false" : "true", board.halted() ? "true" : "false", core.current_address(),
                core.current_length(), n.manu_id, n.device_id, n.no_of_blocks, n.page_size, n.block_size,
                n.oob_size, n.bus_width, n.chip_selects, n.reloc_first, n.reloc_last, n.bbm_state, n.bbm_page,
                t.header == bbm_header ? "true" : "false");
  std::string s = buf;
  uint32_t count = t.header == bbm_header && t.count <= bbm_max_entries ? t.count : 0;
  for (uint32_t i = 0; i < count; ++i) {
    std::snprintf(buf, sizeof buf, "%s[%u,%u]", i ? "," : "", t.entry[i].bad, t.entry[i].replacement);
    s += buf;
  }
  s += "]},\"registers\":{";
  auto regs = board.registers();
  bool first = true;
  for (auto &[address, value] : regs.registers) {
    std::snprintf(buf, sizeof buf, "%s\"0x%08X\":%u", first ? "" : ",", address, value);
    s += buf;
    first = false;
  }
  s += "},\"pmic\":{";
  first = true;
  for (size_t i = 0; i < regs.pmic.size(); ++i) {
    if (!regs.pmic[i]) continue;
    std::snprintf(buf, sizeof buf, "%s\"0x%02zX\":%u", first ? "" : ",", i, regs.pmic[i]);
    s += buf;
    first = false;
  }
  s += "},\"trace\":[";
  auto lines = board.trace_lines();
  for (size_t i = 0; i < lines.size(); ++i) s += (i ? "," : "") + quoted(lines[i]);
  return s + "]}";
}

namespace {

// A fresh agent that has loaded the newest table from block 0, as a station's
// init_nand_flash_command would have it do.
struct fresh_agent {
  explicit fresh_agent(sim::nand_chip &nand) : board(&nand) {
    core.begin(&board);
    uint8_t w[4] = {0x01, 0x00, 0xAA, 0xAA};
    board.host_out(w, 4);
    board.close_link();
    core.run();
  }
  sim_board board;
  agent_core core;
};

}  // namespace

std::string stored_status_json(sim::nand_chip &nand) {
  fresh_agent a(nand);
  return agent_status_json(a.core, a.board);
}

bool read_through_bbm(sim::nand_chip &nand, const agent_core *core, uint32_t start, uint32_t end,
                      std::vector<uint8_t> &out, std::string &error) {
  std::unique_ptr<fresh_agent> fresh;
  if (!core) {
    fresh = std::make_unique<fresh_agent>(nand);
    core = &fresh->core;
  }
  const sim::nand_geometry &g = nand.geometry();
  uint64_t block_size = uint64_t(g.page_size) * g.pages_per_block;
  if (end < start || uint64_t(end) > block_size * nand.total_blocks()) {
    error = "range outside the flash";
    return false;
  }
  out.clear();
  out.reserve(end - start);
  std::vector<uint8_t> page(g.page_size);
  for (uint64_t at = start; at < end;) {
    uint64_t logical = at / block_size;
    uint32_t physical = core->map_block(uint32_t(logical));
    uint64_t in_block = at % block_size;
    uint64_t global_page = uint64_t(physical) * g.pages_per_block + in_block / g.page_size;
    if (!nand.peek(global_page, page.data(), nullptr)) {
      error = "mapped block outside the flash";
      return false;
    }
    uint64_t from = in_block % g.page_size;
    uint64_t n = std::min<uint64_t>(g.page_size - from, end - at);
    out.insert(out.end(), page.begin() + long(from), page.begin() + long(from + n));
    at += n;
  }
  return true;
}

}  // namespace agent
