// The in-process virtual bus (usb_inproc.h) and the `inproc` backend over it.
#include <algorithm>
#include <atomic>
#include <thread>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "usb/usb_inproc.h"
#include "usb_backend.h"
#include "util/pacer.h"

namespace usb_inproc {
namespace {

using clock = std::chrono::steady_clock;

class attachment_impl;

struct bus_state {
  std::mutex m;
  std::map<std::string, std::shared_ptr<attachment_impl>> ports;
  std::map<int, int> last_devnum;  // per bus number
};

bus_state &the_bus() {
  static bus_state *b = new bus_state;  // never destroyed: models may unplug during exit
  return *b;
}

class attachment_impl final : public attachment,
                              public std::enable_shared_from_this<attachment_impl> {
 public:
  attachment_impl(std::string name, uint16_t vid, uint16_t pid, int bus, int devnum,
                  std::shared_ptr<device_model> model, timing t)
      : name_(std::move(name)), vid_(vid), pid_(pid), bus_(bus), devnum_(devnum), timing_(t),
        model_(std::move(model)) {}

  const std::string &port_name() const override { return name_; }
  uint16_t vid() const override { return vid_; }
  uint16_t pid() const override { return pid_; }
  int bus_number() const override { return bus_; }
  int device_number() const override { return devnum_; }
  bool present() const override {
    std::lock_guard<std::mutex> lock(m_);
    return !gone_;
  }
  uint64_t modelled_ns() const override { return modelled_ns_.load(); }
  // Hosts see the device only once its model has been told it is attached.
  bool ready() const { return ready_.load(); }
  void set_ready() { ready_ = true; }
  // Time the host lost on its way to us, outside any request: owed back by the next ones.
  void wire_delay(std::chrono::nanoseconds d) {
    if (timing_.realistic) pacer_.owe(d);
  }

  void send_in(std::span<const uint8_t> data) override {
    std::lock_guard<std::mutex> lock(m_);
    if (gone_) return;
    size_t pos = 0;
    auto now = clock::now();
    do {
      size_t n = std::min(max_packet, data.size() - pos);
      in_.push_back({now, std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(pos),
                                               data.begin() + static_cast<std::ptrdiff_t>(pos + n))});
      queued(in_.back().bytes.size(), +1);
      pos += n;
    } while (pos < data.size());
    // A reader is woken only once what it waits for is there: one wake-up per request, not
    // one per packet (a device's firmware queues its packets one at a time).
    if (read_can_end()) cv_.notify_all();
  }

  void wake_out() override {
    std::lock_guard<std::mutex> lock(m_);
    ++wake_seq_;
    cv_.notify_all();
  }

  void unplug() override {
    auto self = shared_from_this();  // the bus's reference may be the last one
    {
      std::lock_guard<std::mutex> lock(the_bus().m);
      auto it = the_bus().ports.find(name_);
      if (it != the_bus().ports.end() && it->second.get() == this) the_bus().ports.erase(it);
    }
    std::shared_ptr<device_model> model;
    {
      std::lock_guard<std::mutex> lock(m_);
      if (gone_) return;
      gone_ = true;
      in_.clear();
      in_bytes_ = 0;
      in_short_ = 0;
      model = std::move(model_);
      cv_.notify_all();
    }
    if (model) model->on_detach(*this);
  }

  // Host side.
  bool try_open() {
    std::shared_ptr<device_model> model;
    {
      std::lock_guard<std::mutex> lock(m_);
      if (gone_ || open_) return false;
      open_ = true;
      model = model_;
    }
    if (model) {
      std::lock_guard<std::mutex> cb(callback_m_);
      model->on_open(*this);
    }
    return true;
  }

  void close() {
    std::shared_ptr<device_model> model;
    {
      std::lock_guard<std::mutex> lock(m_);
      open_ = false;
      model = model_;
    }
    if (model) {
      std::lock_guard<std::mutex> cb(callback_m_);
      model->on_close(*this);
    }
  }

  bool is_open() const {
    std::lock_guard<std::mutex> lock(m_);
    return open_;
  }

  int write(const uint8_t *data, int len, int timeout_ms, int *actual, clock::time_point issued = {}) {
    auto start = request_start(issued);
    int st = write_packets(data, len, timeout_ms, actual);
    if (st == usb_core::xfer_ok) bus_time(start, *actual);
    return st;
  }

  // A read's bus time starts when the device has data: waiting for the device to produce it
  // is the device's time (the NAND's, say), not the bus's.
  int read(uint8_t *data, int len, int timeout_ms, int *actual, clock::time_point issued = {}) {
    clock::time_point data_at = request_start(issued);
    int st = read_packets(data, len, timeout_ms, actual, data_at);
    if (st == usb_core::xfer_ok) bus_time(data_at, *actual);
    return st;
  }

 private:
  static clock::time_point request_start(clock::time_point issued) {
    auto now = clock::now();
    return issued <= now && now - issued < std::chrono::seconds(1) ? issued : now;
  }

  // Adds the request's modelled time; with realistic timing the request lasts at least as long.
  void bus_time(clock::time_point start, int bytes) {
    uint64_t ns = uint64_t{timing_.per_request_us} * 1000 + uint64_t{timing_.ns_per_byte} * static_cast<uint64_t>(bytes);
    modelled_ns_ += ns;
    if (!timing_.realistic) return;
    pacer_.finish(start, std::chrono::nanoseconds(ns), timing_.timeline.get());
  }

  int write_packets(const uint8_t *data, int len, int timeout_ms, int *actual) {
    auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock<std::mutex> cb(callback_m_);
    int pos = 0;
    *actual = 0;
    while (pos < len) {
      int n = std::min<int>(max_packet, len - pos);
      std::shared_ptr<device_model> model;
      uint64_t seq;
      {
        std::lock_guard<std::mutex> lock(m_);
        if (gone_) return usb_core::xfer_no_device;
        model = model_;
        seq = wake_seq_;
      }
      if (!model) return usb_core::xfer_no_device;
      if (model->on_out_packet(*this, std::span<const uint8_t>(data + pos, static_cast<size_t>(n)))) {
        pos += n;
        *actual = pos;
        continue;
      }
      std::unique_lock<std::mutex> lock(m_);
      bool woken = cv_.wait_until(lock, deadline, [&] { return gone_ || wake_seq_ != seq; });
      if (gone_) return usb_core::xfer_no_device;
      if (!woken) return usb_core::xfer_timeout;
    }
    return usb_core::xfer_ok;
  }

  // `data_at` becomes the moment the device queued the first packet, if that was later (the
  // host's own wake-up is then inside the request's modelled time).
  int read_packets(uint8_t *data, int len, int timeout_ms, int *actual, clock::time_point &data_at) {
    auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock<std::mutex> lock(m_);
    int got = 0;
    *actual = 0;
    bool timed_out = false;
    for (;;) {
      if (gone_) return usb_core::xfer_no_device;
      if (!in_.empty()) {
        if (got == 0) data_at = std::max(data_at, in_.front().queued_at);
        std::vector<uint8_t> packet = std::move(in_.front().bytes);
        in_.pop_front();
        queued(packet.size(), -1);
        int n = static_cast<int>(packet.size());
        if (n > len - got) {
          std::memcpy(data + got, packet.data(), static_cast<size_t>(len - got));
          *actual = len;
          return usb_core::xfer_overflow;
        }
        std::memcpy(data + got, packet.data(), static_cast<size_t>(n));
        got += n;
        *actual = got;
        if (got == len || n < static_cast<int>(max_packet)) return usb_core::xfer_ok;
        continue;
      }
      if (timed_out) return usb_core::xfer_timeout;
      want_ = size_t(len - got);
      // At the time-out the packets that came meanwhile still go into this request.
      timed_out = !cv_.wait_until(lock, deadline, [&] { return gone_ || read_can_end(); });
      want_ = 0;
    }
  }

  const std::string name_;
  const uint16_t vid_, pid_;
  const int bus_, devnum_;
  const timing timing_;
  std::atomic<uint64_t> modelled_ns_{0};
  util::pacer pacer_;  // the device's requests follow one another on the bus
  std::atomic<bool> ready_{false};
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::mutex callback_m_;  // one OUT callback at a time
  std::shared_ptr<device_model> model_;
  // Called with m_ held: the queued IN bytes and short packets.
  void queued(size_t bytes, int sign) {
    in_bytes_ += sign * int64_t(bytes);
    if (bytes < max_packet) in_short_ += sign;
  }
  // Called with m_ held: whether the waiting reader's request can end with what is queued.
  bool read_can_end() const { return in_short_ > 0 || (in_bytes_ > 0 && uint64_t(in_bytes_) >= want_); }

  struct in_packet {
    clock::time_point queued_at;
    std::vector<uint8_t> bytes;
  };
  std::deque<in_packet> in_;
  int64_t in_bytes_ = 0;  // in in_
  int in_short_ = 0;      // packets shorter than max_packet in in_
  size_t want_ = 0;       // bytes the waiting reader still needs
  uint64_t wake_seq_ = 0;
  bool gone_ = false;
  bool open_ = false;
};

class host_handle_impl final : public host_handle {
 public:
  explicit host_handle_impl(std::shared_ptr<attachment_impl> a) : a_(std::move(a)) {}
  ~host_handle_impl() override { a_->close(); }
  int bulk_write(const uint8_t *data, int len, int timeout_ms, int *actual, clock_point issued) override {
    return a_->write(data, len, timeout_ms, actual, issued);
  }
  int bulk_read(uint8_t *data, int len, int timeout_ms, int *actual, clock_point issued) override {
    return a_->read(data, len, timeout_ms, actual, issued);
  }
  void wire_delay(std::chrono::nanoseconds d) override { a_->wire_delay(d); }
  int bus_number() const override { return a_->bus_number(); }
  int device_number() const override { return a_->device_number(); }

 private:
  std::shared_ptr<attachment_impl> a_;
};

bool usable_port_name(const std::string &s) {
  return !s.empty() && s.size() <= 200 && s.find('#') == std::string::npos &&
         s.find('\0') == std::string::npos;
}

// Next free device number on a bus, counting up and wrapping like the kernel's (1 is the hub).
int next_devnum(bus_state &b, int bus) {
  int &last = b.last_devnum[bus];
  for (int i = 0; i < 126; ++i) {
    last = last >= 127 || last < 2 ? 2 : last + 1;
    bool used = false;
    for (auto &[n, a] : b.ports)
      if (a->bus_number() == bus && a->device_number() == last) used = true;
    if (!used) return last;
  }
  return -1;
}

}  // namespace

std::shared_ptr<attachment> plug(const std::string &port, uint16_t vid, uint16_t pid,
                                 std::shared_ptr<device_model> model, int bus_number, timing t) {
  if (!usable_port_name(port) || !model || bus_number < 1 || bus_number > 255) return nullptr;
  std::shared_ptr<attachment_impl> a;
  {
    auto &b = the_bus();
    std::lock_guard<std::mutex> lock(b.m);
    if (b.ports.count(port)) return nullptr;
    int devnum = next_devnum(b, bus_number);
    if (devnum < 0) return nullptr;
    a = std::make_shared<attachment_impl>(port, vid, pid, bus_number, devnum, model, t);
    b.ports[port] = a;
  }
  model->on_attach(a);
  a->set_ready();
  return a;
}

int unplug(const std::string &port) {
  std::shared_ptr<attachment_impl> a;
  {
    std::lock_guard<std::mutex> lock(the_bus().m);
    auto it = the_bus().ports.find(port);
    if (it == the_bus().ports.end()) return -1;
    a = it->second;
  }
  a->unplug();
  return 0;
}

void unplug_all() {
  std::vector<std::shared_ptr<attachment_impl>> all;
  {
    std::lock_guard<std::mutex> lock(the_bus().m);
    for (auto &[n, a] : the_bus().ports) all.push_back(a);
  }
  for (auto &a : all) a->unplug();
}

std::vector<port_info> list() {
  std::vector<port_info> out;
  std::lock_guard<std::mutex> lock(the_bus().m);
  for (auto &[n, a] : the_bus().ports)
    if (a->ready())
      out.push_back({n, a->vid(), a->pid(), a->bus_number(), a->device_number(), a->is_open()});
  return out;
}

std::unique_ptr<host_handle> host_open(const std::string &port, uint16_t vid, uint16_t pid) {
  std::shared_ptr<attachment_impl> a;
  {
    std::lock_guard<std::mutex> lock(the_bus().m);
    auto it = the_bus().ports.find(port);
    if (it == the_bus().ports.end()) return nullptr;
    a = it->second;
  }
  if (!a->ready() || a->vid() != vid || a->pid() != pid || !a->try_open()) return nullptr;
  return std::make_unique<host_handle_impl>(std::move(a));
}

}  // namespace usb_inproc

namespace usb_core {
namespace {

class inproc_device final : public open_device {
 public:
  explicit inproc_device(std::unique_ptr<usb_inproc::host_handle> h) : h_(std::move(h)) {}
  xfer_status bulk_write(const uint8_t *data, int len, int timeout_ms, int *actual) override {
    return static_cast<xfer_status>(h_->bulk_write(data, len, timeout_ms, actual));
  }
  xfer_status bulk_read(uint8_t *data, int len, int timeout_ms, int *actual) override {
    return static_cast<xfer_status>(h_->bulk_read(data, len, timeout_ms, actual));
  }
  int bus() const override { return h_->bus_number(); }
  int devnum() const override { return h_->device_number(); }

 private:
  std::unique_ptr<usb_inproc::host_handle> h_;
};

class inproc_backend final : public backend {
 public:
  bool list(std::vector<device_entry> &out) override {
    for (auto &p : usb_inproc::list())
      out.push_back({p.vid, p.pid, p.port, p.bus_number, p.device_number});
    return true;
  }
  std::unique_ptr<open_device> open(const std::string &name, uint16_t vid,
                                    uint16_t pid) override {
    auto h = usb_inproc::host_open(name, vid, pid);
    if (!h) return nullptr;
    return std::make_unique<inproc_device>(std::move(h));
  }
};

}  // namespace

std::unique_ptr<backend> make_inproc_backend() { return std::make_unique<inproc_backend>(); }

}  // namespace usb_core
