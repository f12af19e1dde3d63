// A scripted host for the agent core on the bench's board: queue the host's transfers, let the
// agent serve them on the test's thread, then read back what it sent and decode its streams.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent.h"
#include "nand_chip.h"
#include "protocol.h"
#include "sim_board.h"

namespace agent_test {

struct rig {
  explicit rig(sim::nand_config config = {}) {
    std::string error;
    nand = sim::nand_chip::open(config, &error);
    if (!nand) throw std::runtime_error(error);
    board = std::make_unique<agent::sim_board>(nand.get());
    board->set_queue_limit(SIZE_MAX);
    core = std::make_unique<agent::agent_core>();
    core->begin(board.get());
  }

  // One host transfer, split into packets of at most 512 bytes as the bus does.
  void out(const void *bytes, size_t n) {
    auto *p = static_cast<const uint8_t *>(bytes);
    while (n) {
      size_t k = n < 512 ? n : 512;
      board->host_out(p, uint32_t(k));
      p += k;
      n -= k;
    }
  }
  void word(uint32_t w) { out(&w, 4); }
  void words(std::initializer_list<uint32_t> ws) {
    std::vector<uint32_t> v(ws);
    out(v.data(), v.size() * 4);
  }
  // Serves everything queued; returns what the agent sent meanwhile.
  std::vector<uint8_t> serve() {
    while (board->pending() && core->serve_one()) {
    }
    return board->take_in_bytes();
  }
  std::vector<uint8_t> command(uint32_t w) {
    word(w);
    return serve();
  }
  std::vector<uint8_t> command(uint32_t w, std::initializer_list<uint32_t> record) {
    word(w);
    words(record);
    return serve();
  }

  std::unique_ptr<sim::nand_chip> nand;
  std::unique_ptr<agent::sim_board> board;
  std::unique_ptr<agent::agent_core> core;
};

inline uint32_t le32(const std::vector<uint8_t> &v, size_t at) {
  uint32_t w = 0;
  std::memcpy(&w, v.data() + at, 4);
  return w;
}

// A stream as text: "T1" total, "P5" progress, 'text' (consecutive texts joined), "E4" error,
// "D" done, "?" anything out of the table; items separated by spaces.
inline std::string stream(const std::vector<uint8_t> &v) {
  std::string s, text;
  uint32_t length = 0;
  auto flush = [&] {
    if (!text.empty()) s += (s.empty() ? "'" : " '") + text + "'";
    text.clear();
  };
  auto item = [&](const std::string &t) {
    flush();
    s += (s.empty() ? "" : " ") + t;
  };
  for (size_t at = 0; at + 4 <= v.size();) {
    uint32_t w = le32(v, at);
    at += 4;
    auto param = [&] {
      uint32_t p = at + 4 <= v.size() ? le32(v, at) : 0;
      at += 4;
      return p;
    };
    switch (w) {
      case agent::flash_msg_total: item("T" + std::to_string(param())); break;
      case agent::flash_msg_progress: item("P" + std::to_string(param())); break;
      case agent::flash_msg_error: item("E" + std::to_string(param())); break;
      case agent::flash_msg_done: item("D"); break;
      case agent::flash_msg_text_length: length = param(); break;
      case agent::flash_msg_text:
        text.append(reinterpret_cast<const char *>(v.data() + at), std::min<size_t>(length, v.size() - at));
        at += length;
        break;
      default: item("?"); break;
    }
  }
  flush();
  return s;
}

}  // namespace agent_test
