// The transport: path parsing, enumeration and transfers on the in-process bus.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <pcap/pcap.h>
#include <unistd.h>

#include "usb/usb.h"
#include "usb/usb_inproc.h"

namespace {

// Every transfer of this test program is captured; the capture is read back below.
const std::string kCapture = ::testing::TempDir() + "usb_test_" + std::to_string(::getpid()) + ".pcap";
const int kCaptureOn = ::setenv("NORVANE_USB_CAPTURE", kCapture.c_str(), 1);

struct usbmon_record {
  char type;
  uint8_t ep, devnum;
  int32_t status;
  uint32_t length, len_cap;
  std::vector<uint8_t> data;
};

// The records of device `devnum` from record number `from` on (device numbers come back
// after 127 plugs, so a test reads only its own part of the capture).
std::vector<usbmon_record> read_capture(int devnum, size_t from = 0, size_t *total = nullptr) {
  std::vector<usbmon_record> out;
  size_t index = 0;
  char err[PCAP_ERRBUF_SIZE];
  pcap_t *p = pcap_open_offline(kCapture.c_str(), err);
  if (!p) return out;
  EXPECT_EQ(pcap_datalink(p), 220);
  pcap_pkthdr *h;
  const u_char *d;
  while (pcap_next_ex(p, &h, &d) == 1) {
    if (h->caplen < 64) continue;
    usbmon_record r;
    r.type = static_cast<char>(d[8]);
    r.ep = d[10];
    r.devnum = d[11];
    std::memcpy(&r.status, d + 28, 4);
    std::memcpy(&r.length, d + 32, 4);
    std::memcpy(&r.len_cap, d + 36, 4);
    EXPECT_EQ(h->caplen, 64 + r.len_cap);  // one record never holds another's bytes
    r.data.assign(d + 64, d + h->caplen);
    if (r.devnum == devnum && index >= from) out.push_back(r);
    ++index;
  }
  if (total) *total = index;
  pcap_close(p);
  return out;
}

const std::string kGuid = USB_GUID_TEXT;

std::string path_of(const char *idpart, const std::string &name) {
  return std::string("\\\\?\\usb#") + idpart + "#" + name + "#" + kGuid;
}

struct vidpid_case {
  std::string path;
  int result, vid, pid;
};

TEST(DevicePath, VidPid) {
  const vidpid_case cases[] = {
      {path_of("vid_1286&pid_8104", "1-4.2"), 0, 0x1286, 0x8104},
      {path_of("vid_8086&pid_d001", "p"), 0, 0x8086, 0xD001},
      {path_of("vid_8086&pid_D001", "p"), 0, 0x8086, 0xD001},
      {"\\\\?\\usb#vid_1286&pid_8111", 0, 0x1286, 0x8111},
      {path_of("VID_1286&pid_8104", "p"), -1, 0, 0},
      {path_of("vid_1286&PID_8104", "p"), -1, 0, 0},
      {"\\\\?\\USB#vid_1286&pid_8104#p#" + kGuid, -1, 0, 0},
      {path_of("vid_&pid_8104", "p"), -1, 0, 0},
      {path_of("vid_1286", "p"), -1, 0, 0},
      {"", -1, 0, 0},
  };
  for (const auto &c : cases) {
    int vid = 0, pid = 0;
    std::vector<char> buf(c.path.begin(), c.path.end());
    buf.push_back('\0');
    EXPECT_EQ(GetVIDPIDFromDevicePath(buf.data(), &vid, &pid), c.result) << c.path;
    if (c.result == 0) {
      EXPECT_EQ(vid, c.vid) << c.path;
      EXPECT_EQ(pid, c.pid) << c.path;
    }
  }
}

TEST(DevicePath, InterfaceName) {
  const struct {
    std::string path;
    int result;
    std::string name;
  } cases[] = {
      {path_of("vid_1286&pid_8104", "1-4.2"), 0, "1-4.2"},
      {path_of("vid_1286&pid_8104", ""), 0, ""},
      {"a#b#c", -1, ""},
      {"a#b#c#", 0, "c"},
      {"no hashes", -1, ""},
      {"a#b#" + std::string(259, 'n') + "#", 0, std::string(259, 'n')},
      {"a#b#" + std::string(260, 'n') + "#", -1, ""},
  };
  for (const auto &c : cases) {
    char name[USB_PATH_SIZE] = "untouched";
    EXPECT_EQ(ExtractInterfaceName(c.path.c_str(), name), c.result) << c.path;
    if (c.result == 0) {
      EXPECT_EQ(name, c.name);
    }
  }
}

// A device that records what arrives and answers from a script of IN transfers.
class recorder : public usb_inproc::device_model {
 public:
  bool on_out_packet(usb_inproc::attachment &, std::span<const uint8_t> p) override {
    std::lock_guard<std::mutex> lock(m);
    packets.push_back(p.size());
    bytes.insert(bytes.end(), p.begin(), p.end());
    return true;
  }
  void on_attach(const std::shared_ptr<usb_inproc::attachment> &a) override { at = a; }
  void on_detach(usb_inproc::attachment &) override { ++detached; }
  std::mutex m;
  std::vector<size_t> packets;
  std::vector<uint8_t> bytes;
  std::shared_ptr<usb_inproc::attachment> at;
  std::atomic<int> detached{0};
};

class InprocTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(usb_use_backend("inproc"), 0); }
  void TearDown() override { usb_inproc::unplug_all(); }

  std::shared_ptr<recorder> plug(const std::string &port, uint16_t vid = 0x1286,
                                 uint16_t pid = 0x8104) {
    auto r = std::make_shared<recorder>();
    EXPECT_NE(usb_inproc::plug(port, vid, pid, r), nullptr);
    return r;
  }
  static std::string path(const std::string &port, const char *id = "vid_1286&pid_8104") {
    return path_of(id, port);
  }
};

int collect(const char *path, void *ctx) {
  static_cast<std::vector<std::string> *>(ctx)->push_back(path);
  return USB_ENUM_NEXT;
}

TEST_F(InprocTest, EnumerationListsPresentDevicesSorted) {
  plug("port-b");
  plug("port-a", 0x8086, 0xD001);
  std::vector<std::string> seen;
  EXPECT_EQ(usb_enumerate(collect, &seen), USB_ENUM_NEXT);
  ASSERT_EQ(seen, (std::vector<std::string>{path("port-a", "vid_8086&pid_d001"), path("port-b")}));
  for (auto &p : seen) {
    char name[USB_PATH_SIZE];
    int vid, pid;
    EXPECT_EQ(GetVIDPIDFromDevicePath(p.data(), &vid, &pid), 0);
    EXPECT_EQ(ExtractInterfaceName(p.c_str(), name), 0);
  }
  // A test that takes a device ends the pass with its result.
  auto take_first = [](const char *, void *) { return 1; };
  EXPECT_EQ(usb_enumerate(take_first, nullptr), 1);
}

TEST_F(InprocTest, UnusablePortNamesAreRefused) {
  auto r = std::make_shared<recorder>();
  EXPECT_EQ(usb_inproc::plug("", 1, 2, r), nullptr);
  EXPECT_EQ(usb_inproc::plug("a#b", 1, 2, r), nullptr);
  EXPECT_EQ(usb_inproc::plug(std::string(201, 'x'), 1, 2, r), nullptr);
  plug("dup");
  EXPECT_EQ(usb_inproc::plug("dup", 1, 2, r), nullptr);
}

TEST_F(InprocTest, OpenAcceptsOnlyExactPresentPathsAndIsExclusive) {
  plug("p1");
  const std::string bad[] = {
      path("p2"),                                        // absent
      path("p1", "vid_1286&pid_8111"),                   // other identity
      "\\\\?\\usb#vid_1286&pid_8104#p1#{other}",          // other class
      "\\\\?\\usb#vid_1286&pid_8104#p1",                 // no class
      "\\\\?\\USB#vid_1286&pid_8104#p1#" + kGuid,
      "",
  };
  for (auto &b : bad) EXPECT_EQ(usb_open(b.c_str()), nullptr) << b;
  EXPECT_EQ(usb_open(nullptr), nullptr);
  usb_dev_handle *h = usb_open(path("p1").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(usb_open(path("p1").c_str()), nullptr);  // already open
  EXPECT_EQ(usb_close(h), 0);
  h = usb_open(path("P1" + std::string()).c_str());
  EXPECT_EQ(h, nullptr);  // names are case-sensitive
  h = usb_open(path("p1").c_str());
  EXPECT_NE(h, nullptr);
  usb_close(h);
}

TEST_F(InprocTest, WritesArriveInPacketsWithoutZeroLengthOnes) {
  size_t start = 0;
  read_capture(-1, 0, &start);
  auto r = plug("p");
  usb_dev_handle *h = usb_open(path("p").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(usb_bulk_write(h, 0x02, "x", 0, 1000), 0);
  EXPECT_TRUE(r->packets.empty());  // a write of 0 bytes touches nothing
  std::vector<char> data(200000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  EXPECT_EQ(usb_bulk_write(h, 0x02, data.data(), 200000, 1000), 200000);
  EXPECT_EQ(usb_bulk_write(h, 0x02, data.data(), 1024, 1000), 1024);
  // 65,536 x 3 then 3,392: full packets and one of 320; then two full ones.
  std::vector<size_t> expect(128 * 3 + 6, 512);
  expect.push_back(320);
  expect.push_back(512);
  expect.push_back(512);
  EXPECT_EQ(r->packets, expect);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), r->bytes.begin(),
                         [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
  // The requests, as the capture shows them: 65,536 x 3 + 3,392, then 1,024.
  std::vector<uint32_t> requests;
  for (auto &rec : read_capture(r->at->device_number(), start))
    if (rec.type == 'S' && rec.ep == 0x02) {
      requests.push_back(rec.length);
      EXPECT_EQ(rec.status, -115);
      EXPECT_EQ(rec.len_cap, rec.length);
    }
  EXPECT_EQ(requests, (std::vector<uint32_t>{65536, 65536, 65536, 3392, 1024}));
  usb_close(h);
}

TEST_F(InprocTest, ReadsWaitForExactlyTheSizeAcrossShortTransfers) {
  size_t start = 0;
  read_capture(-1, 0, &start);
  auto r = plug("p");
  usb_dev_handle *h = usb_open(path("p").c_str());
  ASSERT_NE(h, nullptr);
  char buf[8] = {};
  EXPECT_EQ(usb_bulk_read(h, 0x81, buf, 0, 100), 0);
  const uint8_t four[] = {1, 2, 3, 4};
  r->at->send_in(four);
  r->at->send_in(four);
  EXPECT_EQ(usb_bulk_read(h, 0x81, buf, 8, 5000), 8);
  EXPECT_EQ(std::memcmp(buf, "\1\2\3\4\1\2\3\4", 8), 0);
  r->at->send_in(four);  // 4 bytes, then nothing: the read times out
  EXPECT_EQ(usb_bulk_read(h, 0x81, buf, 8, 50), -5);
  const uint8_t six[6] = {};
  r->at->send_in(six);  // more than the request can hold
  EXPECT_EQ(usb_bulk_read(h, 0x81, buf, 4, 1000), -5);
  // The captured IN completions: the data, a time-out, an overflow.
  std::vector<std::pair<int32_t, uint32_t>> completions;
  for (auto &rec : read_capture(r->at->device_number(), start))
    if (rec.type == 'C' && rec.ep == 0x81) completions.emplace_back(rec.status, rec.len_cap);
  const std::vector<std::pair<int32_t, uint32_t>> expect = {
      {0, 4}, {0, 4}, {0, 4}, {-2, 0}, {-75, 4}};
  EXPECT_EQ(completions, expect);
  usb_close(h);
}

TEST_F(InprocTest, UnplugFailsOpenHandlesAndFreesThePortName) {
  auto r = plug("p");
  usb_dev_handle *h = usb_open(path("p").c_str());
  ASSERT_NE(h, nullptr);
  std::thread t([&] { r->at->unplug(); });
  char buf[4];
  // A read already waiting is woken by the unplug.
  EXPECT_EQ(usb_bulk_read(h, 0x81, buf, 4, 60000), -116);
  t.join();
  EXPECT_EQ(usb_bulk_write(h, 0x02, "abcd", 4, 1000), -1);
  EXPECT_EQ(r->detached.load(), 1);
  // Back under the agent's identity on the same port; the old handle stays dead.
  auto agent = plug("p", 0x1286, 0x8111);
  EXPECT_EQ(usb_bulk_read(h, 0x81, buf, 4, 10), -116);
  usb_dev_handle *h2 = usb_open(path("p", "vid_1286&pid_8111").c_str());
  ASSERT_NE(h2, nullptr);
  EXPECT_EQ(usb_bulk_write(h2, 0x02, "abcd", 4, 1000), 4);
  EXPECT_EQ(agent->bytes.size(), 4u);
  EXPECT_TRUE(r->bytes.empty());
  usb_close(h);
  usb_close(h2);
  EXPECT_EQ(usb_inproc::unplug("p"), 0);
  EXPECT_EQ(usb_inproc::unplug("p"), -1);
}

// A device that refuses OUT packets until told otherwise.
class busy_device : public usb_inproc::device_model {
 public:
  bool on_out_packet(usb_inproc::attachment &, std::span<const uint8_t>) override {
    return ready.load();
  }
  std::atomic<bool> ready{false};
};

TEST_F(InprocTest, RefusedPacketsTimeOutOrGoOnWhenWoken) {
  auto d = std::make_shared<busy_device>();
  auto a = usb_inproc::plug("p", 0x1286, 0x8104, d);
  usb_dev_handle *h = usb_open(path("p").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(usb_bulk_write(h, 0x02, "abcd", 4, 30), -1);
  std::thread t([&] {
    d->ready = true;
    a->wake_out();
  });
  EXPECT_EQ(usb_bulk_write(h, 0x02, "abcd", 4, 60000), 4);
  t.join();
  usb_close(h);
}

// Answers every OUT packet with the same bytes.
class echo_device : public usb_inproc::device_model {
 public:
  bool on_out_packet(usb_inproc::attachment &a, std::span<const uint8_t> p) override {
    a.send_in(p);
    return true;
  }
};

TEST_F(InprocTest, UnplugAtAnyMomentGivesOnlyTheDocumentedResults) {
  // A handset pulled while a station thread is in the middle of its transfers.
  for (int round = 0; round < 200; ++round) {
    ASSERT_NE(usb_inproc::plug("chaos", 0x1286, 0x8111, std::make_shared<echo_device>()), nullptr);
    usb_dev_handle *h = usb_open(path("chaos", "vid_1286&pid_8111").c_str());
    ASSERT_NE(h, nullptr);
    std::atomic<bool> gone{false};
    std::thread puller([&] {
      for (int i = 0; i < round % 17; ++i) std::this_thread::yield();
      usb_inproc::unplug("chaos");
      gone = true;
    });
    char out[1000], in[1000];
    std::memset(out, round, sizeof out);
    for (;;) {
      bool was_gone = gone.load();
      int w = usb_bulk_write(h, 0x02, out, sizeof out, 5000);
      int r = w == 1000 ? usb_bulk_read(h, 0x81, in, sizeof in, 5000) : -116;
      ASSERT_TRUE(w == 1000 || w == -1) << w;
      ASSERT_TRUE(r == 1000 || r == -116) << r;
      if (was_gone) {
        ASSERT_EQ(w, -1);  // once gone, always gone
      }
      if (w < 0 || r < 0) break;
      ASSERT_EQ(std::memcmp(in, out, sizeof in), 0);
    }
    puller.join();
    EXPECT_EQ(usb_bulk_read(h, 0x81, in, 4, 10), -116);
    usb_close(h);
  }
}

TEST_F(InprocTest, CaptureRecordsOfSeveralThreadsStayWhole) {
  size_t start = 0;
  read_capture(-1, 0, &start);
  std::vector<std::thread> threads;
  std::vector<int> devnums;
  for (int t = 0; t < 4; ++t) {
    auto a = usb_inproc::plug("cap" + std::to_string(t), 0x1286, 0x8111, std::make_shared<echo_device>());
    ASSERT_NE(a, nullptr);
    devnums.push_back(a->device_number());
  }
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      usb_dev_handle *h = usb_open(path("cap" + std::to_string(t), "vid_1286&pid_8111").c_str());
      ASSERT_NE(h, nullptr);
      std::vector<char> buf(700, static_cast<char>('a' + t));
      for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(usb_bulk_write(h, 0x02, buf.data(), 700, 5000), 700);
        EXPECT_EQ(usb_bulk_read(h, 0x81, buf.data(), 700, 5000), 700);
      }
      usb_close(h);
    });
  for (auto &t : threads) t.join();
  for (int t = 0; t < 4; ++t) {
    auto records = read_capture(devnums[t], start);
    // Each request: S then C of the same id; the data is this thread's only.
    int out_data = 0;
    for (auto &r : records) {
      for (uint8_t b : r.data) ASSERT_EQ(b, 'a' + t);
      if (r.type == 'S' && r.ep == 0x02) out_data += static_cast<int>(r.data.size());
    }
    EXPECT_EQ(out_data, 50 * 700);
  }
}

TEST(FixedResults, DoNothing) {
  EXPECT_EQ(usb_set_configuration(nullptr, 1), 0);
  EXPECT_EQ(usb_claim_interface(nullptr, 0), 0);
  EXPECT_EQ(usb_release_interface(nullptr, 0), 0);
  EXPECT_EQ(usb_set_altinterface(nullptr, 0), -1);
  EXPECT_EQ(usb_resetep(nullptr, 0x81), -1);
  EXPECT_EQ(usb_clear_halt(nullptr, 0x81), -1);
  EXPECT_EQ(usb_reset(nullptr), -1);
  EXPECT_EQ(usb_interrupt_write(nullptr, 1, "", 0, 1), -1);
  EXPECT_EQ(usb_interrupt_read(nullptr, 1, nullptr, 0, 1), -1);
  EXPECT_EQ(usb_control_msg(nullptr, 0, 0, 0, 0, nullptr, 0, 1), -1);
  EXPECT_EQ(usb_use_backend("nonsense"), -1);
}

}  // namespace
