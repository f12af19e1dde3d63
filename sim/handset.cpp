#include "handset.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace sim {
namespace {

// The agent until a real one is plugged in: takes everything, answers nothing.
class silent_agent final : public usb_inproc::device_model {
 public:
  bool on_out_packet(usb_inproc::attachment &, std::span<const uint8_t>) override { return true; }
};

// Forwards to the model that answers and tells the handset when that stay ends.
class tracked_model final : public usb_inproc::device_model {
 public:
  tracked_model(std::shared_ptr<usb_inproc::device_model> inner,
                std::function<void(const std::shared_ptr<usb_inproc::attachment> &)> came,
                std::function<void()> left)
      : inner_(std::move(inner)), came_(std::move(came)), left_(std::move(left)) {}
  // The handset's state changes before any host can see the device.
  void on_attach(const std::shared_ptr<usb_inproc::attachment> &a) override {
    came_(a);
    inner_->on_attach(a);
  }
  // The agent's faults on the wire, whatever the agent is: its cable pulled, its silence, a
  // corrupted data block.
  void set_faults(const fault_set &f) {
    unplug_after_ = f.agent_unplug_after_bytes;
    silent_after_ = f.agent_silent_after_bytes;
    corrupt_data_ = f.agent_corrupt_data;
  }
  bool on_out_packet(usb_inproc::attachment &a, std::span<const uint8_t> p) override {
    if (unplug_after_ && bytes_ + p.size() > *unplug_after_) {
      a.unplug();
      return false;
    }
    if (silent_after_ && bytes_ + p.size() > *silent_after_) {
      bytes_ += p.size();
      return true;  // taken, never looked at
    }
    std::vector<uint8_t> corrupted;
    if (corrupt_data_) {
      static constexpr uint8_t send_data[4] = {0x01, 0x55, 0xAA, 0xFF};
      if (corrupt_next_) {
        corrupt_next_ = false;
        corrupted.assign(p.begin(), p.end());
        corrupted[0] = static_cast<uint8_t>(~corrupted[0]);
        p = corrupted;
      } else if (p.size() == 4 && std::equal(p.begin(), p.end(), send_data) && ++send_data_seen_ == *corrupt_data_) {
        corrupt_next_ = true;
      }
    }
    if (!inner_->on_out_packet(a, p)) return false;
    bytes_ += p.size();
    return true;
  }
  void on_open(usb_inproc::attachment &a) override { inner_->on_open(a); }
  void on_close(usb_inproc::attachment &a) override { inner_->on_close(a); }
  void on_detach(usb_inproc::attachment &a) override {
    inner_->on_detach(a);
    left_();
  }
  uint64_t modelled_work_ns() const override { return inner_->modelled_work_ns(); }

 private:
  std::shared_ptr<usb_inproc::device_model> inner_;
  std::function<void(const std::shared_ptr<usb_inproc::attachment> &)> came_;
  std::function<void()> left_;
  std::optional<uint64_t> unplug_after_, silent_after_, corrupt_data_;
  uint64_t bytes_ = 0;  // taken on this stay
  uint64_t send_data_seen_ = 0;
  bool corrupt_next_ = false;
};

std::string json_string(const std::string &s) {
  std::string r = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      r += '\\';
      r += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r + "\"";
}

const char *role_name(handset::role r) {
  switch (r) {
    case handset::role::bootrom: return "bootrom";
    case handset::role::leaving: return "leaving";
    case handset::role::agent: return "agent";
    default: return "unplugged";
  }
}

}  // namespace

std::shared_ptr<handset> handset::create(handset_config cfg, agent_factory agent,
                                         std::function<void(const std::string &)> events) {
  std::shared_ptr<handset> h(new handset(std::move(cfg), std::move(agent), std::move(events)));
  h->timer_ = std::thread([p = h.get()] { p->timer_loop(); });
  return h;
}

handset::handset(handset_config cfg, agent_factory agent,
                 std::function<void(const std::string &)> ev)
    : cfg_(std::move(cfg)), agent_(std::move(agent)), events_(std::move(ev)),
      timeline_(cfg_.timing.realistic ? std::make_shared<util::busy_timeline>() : nullptr),
      faults_(cfg_.faults) {}

handset::~handset() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
    cv_.notify_all();
  }
  if (timer_.joinable()) timer_.join();
  std::shared_ptr<usb_inproc::attachment> a;
  {
    std::lock_guard<std::mutex> lock(m_);
    a = std::move(attachment_);
  }
  if (a) a->unplug();
}

void handset::event(const std::string &text) const {
  if (events_) events_(cfg_.port + ": " + text);
}

void handset::plug() {
  {
    std::lock_guard<std::mutex> lock(m_);
    if (role_ != role::unplugged) return;
    pending_ = false;
  }
  plug_as(role::bootrom);
}

void handset::unplug() {
  std::shared_ptr<usb_inproc::attachment> a;
  {
    std::lock_guard<std::mutex> lock(m_);
    pending_ = false;
    role_ = role::unplugged;
    a = std::move(attachment_);
    end_stay_locked(a);
  }
  if (a) a->unplug();
}

void handset::reset() {
  std::shared_ptr<usb_inproc::attachment> a;
  {
    std::lock_guard<std::mutex> lock(m_);
    if (faults_.off_after_reset) {
      pending_ = false;
      role_ = role::unplugged;
      a = std::move(attachment_);
      if (a) modelled_done_ns_ += a->modelled_ns();
    }
  }
  if (a) {
    event("reset: off until plugged");
    a->unplug();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(m_);
    a = std::move(attachment_);
    end_stay_locked(a);
    role_ = role::leaving;
  }
  event("reset");
  leave_and_return(a, role::bootrom);
}

// The port is free once the old stay has left; only then may the next one be scheduled.
// An unplug in between (role no longer leaving) cancels the return.
void handset::leave_and_return(const std::shared_ptr<usb_inproc::attachment> &a, role next) {
  if (a) a->unplug();
  std::lock_guard<std::mutex> lock(m_);
  if (role_ != role::leaving) return;
  int delay = cfg_.reenumerate_delay_ms;
  if (next == role::agent && faults_.return_delay_ms) delay = static_cast<int>(*faults_.return_delay_ms);
  schedule(next, delay);
}

void handset::set_faults(const fault_set &f) {
  std::shared_ptr<bootrom_model> rom;
  {
    std::lock_guard<std::mutex> lock(m_);
    faults_ = f;
    rom = rom_;
  }
  if (rom) rom->set_faults(f);
}

void handset::booted(const std::vector<uint8_t> &tim, const std::vector<uint8_t> &dkb) {
  std::shared_ptr<usb_inproc::attachment> a;
  bool no_agent = false;
  {
    std::lock_guard<std::mutex> lock(m_);
    tim_ = tim;
    dkb_ = dkb;
    a = std::move(attachment_);
    end_stay_locked(a);
    // An agent that never starts: the handset is gone until it is plugged in again.
    no_agent = faults_.no_agent;
    role_ = no_agent ? role::unplugged : role::leaving;
  }
  if (no_agent) event("the agent never comes up");
  leave_and_return(a, role::agent);
}

// Called with m_ held.
void handset::schedule(role next, int delay_ms) {
  pending_ = true;
  pending_role_ = next;
  pending_at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay_ms);
  cv_.notify_all();
}

void handset::timer_loop() {
  std::unique_lock<std::mutex> lock(m_);
  while (!stop_) {
    if (!pending_) {
      cv_.wait(lock);
      continue;
    }
    if (cv_.wait_until(lock, pending_at_, [&] { return stop_ || !pending_; })) continue;
    pending_ = false;
    role next = pending_role_;
    lock.unlock();
    plug_as(next);
    lock.lock();
  }
}

void handset::plug_as(role r) {
  std::weak_ptr<handset> self = weak_from_this();
  std::shared_ptr<usb_inproc::device_model> inner;
  std::shared_ptr<bootrom_model> rom;
  uint16_t vid = cfg_.rom.vid, pid = cfg_.rom.pid;
  if (r == role::bootrom) {
    bootrom_callbacks cb;
    cb.event = [self](const std::string &t) {
      if (auto h = self.lock()) h->event(t);
    };
    cb.boot = [self](const std::vector<uint8_t> &tim, const std::vector<uint8_t> &dkb) {
      if (auto h = self.lock()) h->booted(tim, dkb);
    };
    rom = std::make_shared<bootrom_model>(cfg_.rom, [&] {
      std::lock_guard<std::mutex> lock(m_);
      return faults_;
    }(), std::move(cb));
    inner = rom;
  } else {
    vid = agent_vid;
    pid = agent_pid;
    inner = agent_ ? agent_(agent_boot{*this, tim_, dkb_, timeline_}) : nullptr;
    if (!inner) inner = std::make_shared<silent_agent>();
  }
  // Runs inside the plug below, while this call keeps the handset alive; taking a reference
  // here could make the timer thread the last owner, which must never destroy the handset.
  auto came = [this, r, rom, inner](const std::shared_ptr<usb_inproc::attachment> &a) {
    std::lock_guard<std::mutex> lock(m_);
    if (rom) rom_ = rom;  // an agent's status still reports its download
    ++plugs_;
    attachment_ = a;
    stay_model_ = inner;
    role_ = r;
  };
  // A late detach of an old stay finds the new stay present and changes nothing.
  auto left = [self] {
    auto h = self.lock();
    if (!h) return;
    std::lock_guard<std::mutex> lock(h->m_);
    if (h->attachment_ && !h->attachment_->present()) {
      h->end_stay_locked(h->attachment_);
      h->attachment_.reset();
      if (h->role_ != role::leaving) h->role_ = role::unplugged;
    }
  };
  auto model = std::make_shared<tracked_model>(inner, came, left);
  if (r == role::agent) {
    std::lock_guard<std::mutex> lock(m_);
    model->set_faults(faults_);
  }
  usb_inproc::timing timing = cfg_.timing;
  timing.timeline = timeline_;
  auto a = usb_inproc::plug(cfg_.port, vid, pid, model, cfg_.bus_number, timing);
  char id[16];
  std::snprintf(id, sizeof id, "%04x:%04x", vid, pid);
  if (!a) {
    event(std::string("cannot plug as ") + id + ": port in use");
    std::lock_guard<std::mutex> lock(m_);
    if (!attachment_) role_ = role::unplugged;  // unless another plug of ours got there first
    return;
  }
  event(std::string(r == role::agent ? "on the bus as the agent " : "on the bus as a boot ROM ") + id);
}

// Called with m_ held, as the stay of `a` ends.
void handset::end_stay_locked(const std::shared_ptr<usb_inproc::attachment> &a) {
  if (!a) return;
  modelled_done_ns_ += a->modelled_ns() + (stay_model_ ? stay_model_->modelled_work_ns() : 0);
  stay_model_.reset();
}

// Called with m_ held.
uint64_t handset::modelled_locked() const {
  if (timeline_) return timeline_->total_ns();
  uint64_t now = attachment_ ? attachment_->modelled_ns() : 0;
  if (attachment_ && stay_model_) now += stay_model_->modelled_work_ns();
  return modelled_done_ns_ + now;
}

uint64_t handset::modelled_ns() const {
  std::lock_guard<std::mutex> lock(m_);
  return modelled_locked();
}

handset::role handset::current_role() const {
  std::lock_guard<std::mutex> lock(m_);
  return role_;
}

std::vector<uint8_t> handset::received_tim() const {
  std::lock_guard<std::mutex> lock(m_);
  return tim_;
}

std::vector<uint8_t> handset::received_dkb() const {
  std::lock_guard<std::mutex> lock(m_);
  return dkb_;
}

std::string handset::status_json() const {
  std::lock_guard<std::mutex> lock(m_);
  bootrom_model::progress p = rom_ ? rom_->state() : bootrom_model::progress{};
  bool agent = role_ == role::agent;
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "\"role\":\"%s\",\"vid\":\"%04x\",\"pid\":\"%04x\",\"bus\":%d,\"device\":%d,"
                "\"plugs\":%d,\"bytes_received\":%llu,\"tim_accepted\":%s,\"dkb_bytes\":%u,"
                "\"dkb_accepted\":%s,\"agent_image_bytes\":%zu,\"modelled_us\":%llu,"
                "\"faults\":",
                role_name(role_), agent ? agent_vid : cfg_.rom.vid, agent ? agent_pid : cfg_.rom.pid,
                cfg_.bus_number, attachment_ ? attachment_->device_number() : 0, plugs_,
                static_cast<unsigned long long>(p.bytes_received), p.tim_accepted ? "true" : "false",
                p.dkb_bytes, p.dkb_accepted ? "true" : "false", dkb_.size(),
                static_cast<unsigned long long>(modelled_locked() / 1000));
  return "{\"port\":" + json_string(cfg_.port) + "," + buf + json_string(faults_.describe()) + "}";
}

}  // namespace sim
