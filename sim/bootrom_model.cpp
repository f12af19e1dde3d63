#include "bootrom_model.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "agent/agent_image.h"

namespace sim {
namespace {

constexpr uint8_t kPreamble[4] = {0x00, 0xD3, 0x02, 0x2B};
constexpr uint32_t kTimh = 0x54494D48, kDkbi = 0x444B4249;
constexpr uint32_t kMaxCommand = 16u << 20;  // longer is line noise, not a command

// Boot ROM statuses the model answers with.
constexpr uint8_t kInvalidTim = 0x6A, kDownloadError = 0x91, kImageRefused = 0x92,
                  kPreambleError = 0x95, kUnknownCmd = 0x9B;

uint32_t le32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void put_le32(std::vector<uint8_t> &v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

}  // namespace

bootrom_model::bootrom_model(bootrom_settings s, fault_set faults, bootrom_callbacks cb)
    : s_(s), cb_(std::move(cb)), faults_(std::move(faults)) {}

void bootrom_model::set_faults(const fault_set &f) {
  std::lock_guard<std::mutex> lock(m_);
  faults_ = f;
}

fault_set bootrom_model::faults() const {
  std::lock_guard<std::mutex> lock(m_);
  return faults_;
}

bootrom_model::progress bootrom_model::state() const {
  std::lock_guard<std::mutex> lock(m_);
  return progress_;
}

void bootrom_model::on_attach(const std::shared_ptr<usb_inproc::attachment> &a) { attachment_ = a; }

// A late answer leaves from a thread of its own, so that the host's writes go on meanwhile;
// it is dropped if the device has left by then.
void bootrom_model::send(usb_inproc::attachment &a, int step, std::vector<uint8_t> bytes) {
  auto late = faults().late_answer;
  if (!late || late->first != step) return a.send_in(bytes);
  std::thread([weak = attachment_, bytes = std::move(bytes), ms = late->second] {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    if (auto at = weak.lock()) at->send_in(bytes);
  }).detach();
}

bool bootrom_model::on_out_packet(usb_inproc::attachment &a, std::span<const uint8_t> packet) {
  if (gone_) return true;
  bool leave = false;
  {
    std::lock_guard<std::mutex> lock(m_);
    leave = faults_.unplug_after_bytes &&
            progress_.bytes_received + packet.size() > *faults_.unplug_after_bytes;
    if (!leave) progress_.bytes_received += packet.size();
  }
  if (leave) {
    gone_ = true;
    if (cb_.event) cb_.event("fault: unplugged after " + std::to_string(state().bytes_received) + " bytes");
    a.unplug();
    return false;  // not taken: the host's write fails
  }
  pending_.insert(pending_.end(), packet.begin(), packet.end());
  consume(a);
  return true;
}

// Splits the received bytes into preambles (they start with 00, no opcode does) and commands.
void bootrom_model::consume(usb_inproc::attachment &a) {
  size_t pos = 0;
  while (!gone_ && pos < pending_.size()) {
    const uint8_t *p = pending_.data() + pos;
    size_t avail = pending_.size() - pos;
    if (p[0] == 0x00) {
      if (avail < 4) break;
      pos += 4;
      if (fault_unplug(a, step_preamble)) return;
      preamble_seen_ = std::memcmp(p, kPreamble, 4) == 0;
      std::vector<uint8_t> echo(p, p + 4);
      if (faults().wrong_echo) echo[3] = 0x2A;
      auto f = faults();
      if (f.no_answer == step_preamble) continue;
      if (f.short_answer == step_preamble) echo.resize(3);
      send(a, step_preamble, echo);
      continue;
    }
    if (avail < 8) break;
    uint32_t len = le32(p + 4);
    if (len > kMaxCommand) {
      pending_.clear();
      respond(a, p[0], p[1], kUnknownCmd, {});
      return;
    }
    if (avail < 8 + static_cast<size_t>(len)) break;
    pos += 8 + len;
    command(a, p[0], p[1], p + 8, len);
    if (gone_) return;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(std::min(pos, pending_.size())));
}

bool bootrom_model::fault_unplug(usb_inproc::attachment &a, int step) {
  if (faults().unplug_at != step) return false;
  gone_ = true;
  if (cb_.event) cb_.event("fault: unplugged at " + step_name(step));
  a.unplug();
  return true;
}

void bootrom_model::command(usb_inproc::attachment &a, uint8_t cmd, uint8_t seq,
                            const uint8_t *payload, uint32_t len) {
  if (fault_unplug(a, cmd)) return;
  if (!preamble_seen_ && cmd != 0x31) return respond(a, cmd, seq, kPreambleError, {});
  std::vector<uint8_t> data;
  switch (cmd) {
    case 0x20:  // get version: each 4-byte group travels as a little-endian word
      for (int i = 3; i >= 0; --i) data.push_back(static_cast<uint8_t>(s_.version[i]));
      put_le32(data, s_.date);
      for (int i = 3; i >= 0; --i) data.push_back(s_.processor[i]);
      return respond(a, cmd, seq, 0, data);
    case 0x26: {  // select image
      bool swap = faults().wrong_image_id;
      uint32_t id = (wanted_ == 0) != swap ? kTimh : kDkbi;
      put_le32(data, id);
      image_.clear();
      next_seq_ = 1;
      return respond(a, cmd, seq, 0, data);
    }
    case 0x27:  // verify image
      return respond(a, cmd, seq, 0, {});
    case 0x2A: {  // data header: grant what fits
      if (seq != next_seq_ || len != 4) return respond(a, cmd, seq, kDownloadError, {0, 0, 0, 0});
      uint32_t remaining = le32(payload);
      chunk_ = faults().zero_grant ? 0 : std::min(s_.grant_size, remaining);
      put_le32(data, chunk_);
      return respond(a, cmd, seq, 0, data);
    }
    case 0x22:  // data: the header's sequence number + 1, exactly the granted bytes
      if (len != chunk_ || seq != static_cast<uint8_t>(next_seq_ + 1))
        return respond(a, cmd, seq, kDownloadError, {});
      next_seq_ = static_cast<uint8_t>(next_seq_ + 2);
      chunk_ = 0;
      image_.insert(image_.end(), payload, payload + len);
      if (wanted_ == 1) {
        std::lock_guard<std::mutex> lock(m_);
        progress_.dkb_bytes = static_cast<uint32_t>(image_.size());
      }
      return respond(a, cmd, seq, 0, {});
    case 0x30:  // done
      if (seq != 0) return respond(a, cmd, seq, kDownloadError, {});
      return finish_image(a, seq);
    case 0x2B:  // get message: a full answer with no message in it
      data.assign(255, 0);
      return respond(a, cmd, seq, 0, data);
    case 0x31:  // disconnect: no answer
      if (wanted_ == 2) {
        gone_ = true;
        if (cb_.event) cb_.event("disconnect: running the agent image");
        if (cb_.boot) cb_.boot(tim_, image_);
      } else if (cb_.event) {
        cb_.event("disconnect without an accepted agent image: staying in the boot ROM");
        preamble_seen_ = false;
      }
      return;
    default:
      return respond(a, cmd, seq, kUnknownCmd, {});
  }
}

void bootrom_model::finish_image(usb_inproc::attachment &a, uint8_t seq) {
  if (wanted_ == 0) {
    uint32_t dkb_size = 0;
    if (!tim_is_default(image_, &dkb_size)) {
      if (cb_.event) cb_.event("TIM refused (" + std::to_string(image_.size()) + " bytes)");
      image_.clear();
      return respond(a, 0x30, seq, kInvalidTim, {});
    }
    tim_ = image_;
    dkb_size_ = dkb_size;
    wanted_ = 1;
    {
      std::lock_guard<std::mutex> lock(m_);
      progress_.tim_accepted = true;
    }
    if (cb_.event) cb_.event("TIM accepted (agent image of " + std::to_string(dkb_size) + " bytes)");
  } else if (wanted_ == 1) {
    if (image_.size() != dkb_size_) {
      if (cb_.event)
        cb_.event("agent image refused: " + std::to_string(image_.size()) + " bytes, TIM says " +
                  std::to_string(dkb_size_));
      restart_download();
      return respond(a, 0x30, seq, kDownloadError, {});
    }
    // The processor would jump into whatever it got: only an agent image is run.
    if (!agent_image_well_formed(image_.data(), image_.size())) {
      if (cb_.event) cb_.event("agent image refused: not a well-formed agent image");
      restart_download();
      return respond(a, 0x30, seq, kImageRefused, {});
    }
    wanted_ = 2;
    {
      std::lock_guard<std::mutex> lock(m_);
      progress_.dkb_accepted = true;
    }
    if (cb_.event) cb_.event("agent image accepted (" + std::to_string(image_.size()) + " bytes)");
  }
  respond(a, 0x30, seq, 0, {});
}

// A refused agent image sends the ROM back to the start: the next download begins with the TIM.
void bootrom_model::restart_download() {
  image_.clear();
  tim_.clear();
  wanted_ = 0;
  std::lock_guard<std::mutex> lock(m_);
  progress_.tim_accepted = false;
  progress_.dkb_bytes = 0;
}

bool bootrom_model::tim_is_default(const std::vector<uint8_t> &tim, uint32_t *dkb_size) const {
  if (tim.size() != 176) return false;
  static const std::pair<int, uint32_t> fields[] = {
      {0, 0x00030102}, {4, kTimh},       {8, 0},           {12, 0x02212007}, {16, 0xEEEEEEEE},
      {20, 0xFFFFFFFF}, {24, 0xFFFFFFFF}, {28, 0xFFFFFFFF}, {32, 0xFFFFFFFF}, {36, 0xFFFFFFFF},
      {40, 0x4E414E04}, {44, 2},         {48, 0},          {52, 0},
      {56, kTimh},      {60, kDkbi},     {64, 0},          {68, 0x5C008000}, {72, 176},
      {116, kDkbi},     {120, 0xFFFFFFFF}, {124, 0x80000000}, {128, 0x5C013000},
  };
  for (auto &[off, v] : fields)
    if (le32(&tim[off]) != v) return false;
  // Sizes to hash, hash algorithms and hashes of both images are 0.
  for (int off : {76, 80, 136, 140})
    if (le32(&tim[off]) != 0) return false;
  for (int off = 84; off < 116; off += 4)
    if (le32(&tim[off]) != 0 || le32(&tim[off + 60]) != 0) return false;
  *dkb_size = le32(&tim[132]);
  return *dkb_size != 0;
}

void bootrom_model::respond(usb_inproc::attachment &a, int step, uint8_t seq, uint8_t status,
                            std::vector<uint8_t> data) {
  fault_set f = faults();
  if (f.no_answer == step) return;
  auto it = f.status.find(step);
  if (it != f.status.end()) {
    status = it->second;
  }
  std::vector<uint8_t> r = {static_cast<uint8_t>(step), seq, 0, status, 0,
                            static_cast<uint8_t>(data.size())};
  if (f.wrong_len == step) r[5] = static_cast<uint8_t>(r[5] + 1);
  r.insert(r.end(), data.begin(), data.end());
  if (f.short_answer == step) r.resize(3);
  send(a, step, r);
}

}  // namespace sim
