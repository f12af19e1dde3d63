// Boot ROM protocol and agent download, against scripted peers (byte-exact exchanges) and
// against the bench's boot ROM model (the whole download and its failures).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent_images.h"
#include "handset.h"
#include "libromcode/libromcode.h"
#include "usb/usb_inproc.h"

namespace {

using bytes = std::vector<uint8_t>;

uint32_t le32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
bytes le32b(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// A peer that splits the OUT stream into preambles and commands, logs them and answers with
// what `answer` returns (nothing: no answer).
struct command_peer : usb_inproc::device_model {
  struct command {
    uint8_t cmd, seq;
    bytes raw;  // header and payload as sent
  };
  std::function<std::optional<bytes>(const command &)> answer;
  std::mutex m;
  std::vector<command> log;
  bytes pending;

  bool on_out_packet(usb_inproc::attachment &a, std::span<const uint8_t> p) override {
    pending.insert(pending.end(), p.begin(), p.end());
    for (;;) {
      size_t need = !pending.empty() && pending[0] == 0 ? 4
                    : pending.size() >= 8               ? 8 + le32(&pending[4])
                                                        : 8;
      if (pending.size() < need) return true;
      command c{pending[0], need > 4 ? pending[1] : uint8_t(0), bytes(pending.begin(), pending.begin() + need)};
      pending.erase(pending.begin(), pending.begin() + need);
      {
        std::lock_guard<std::mutex> lock(m);
        log.push_back(c);
      }
      if (auto r = answer(c)) a.send_in(*r);
    }
  }
};

bytes ok_response(uint8_t cmd, bytes data = {}) {
  bytes r = {cmd, 0x55, 0x66, 0, 0x77, static_cast<uint8_t>(data.size())};
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

class RomcodeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(usb_use_backend("inproc"), 0); }
  void TearDown() override {
    if (dev) usb_close(dev);
    handsets.clear();
    usb_inproc::unplug_all();
  }

  usb_dev_handle *open_port(const std::string &port, const char *id = "vid_8086&pid_d001") {
    std::string path = std::string("\\\\?\\usb#") + id + "#" + port + "#" USB_GUID_TEXT;
    dev = usb_open(path.c_str());
    return dev;
  }

  std::shared_ptr<command_peer> peer(std::function<std::optional<bytes>(const command_peer::command &)> f) {
    auto p = std::make_shared<command_peer>();
    p->answer = std::move(f);
    EXPECT_NE(usb_inproc::plug("scripted", 0x8086, 0xD001, p), nullptr);
    EXPECT_NE(open_port("scripted"), nullptr);
    return p;
  }

  // A grant policy: at most `grant` per chunk.
  static std::function<std::optional<bytes>(const command_peer::command &)> granting(uint32_t grant) {
    return [grant](const command_peer::command &c) -> std::optional<bytes> {
      if (c.cmd == 0x2A) return ok_response(0x2A, le32b(std::min(grant, le32(&c.raw[8]))));
      return ok_response(c.cmd);
    };
  }

  std::shared_ptr<sim::handset> bench_handset(const std::string &faults = "",
                                              uint32_t grant = 4096) {
    sim::handset_config cfg;
    cfg.port = "bench";
    cfg.rom.grant_size = grant;
    std::string err;
    EXPECT_TRUE(sim::parse_faults(faults, cfg.faults, err)) << err;
    auto h = sim::handset::create(cfg);
    h->plug();
    handsets.push_back(h);
    EXPECT_NE(open_port("bench"), nullptr);
    return h;
  }

  usb_dev_handle *dev = nullptr;
  std::vector<std::shared_ptr<sim::handset>> handsets;
};

TEST(Tim, DefaultTimForTheStationsAgent) {
  uint32_t size = 0;
  uint8_t *tim = generate_default_tim_for_dkb(nullptr, 50920, 1, &size);
  ASSERT_NE(tim, nullptr);
  ASSERT_EQ(size, 176u);
  const std::pair<int, uint32_t> fields[] = {
      {0, 0x00030102}, {4, 0x54494D48}, {12, 0x02212007}, {16, 0xEEEEEEEE}, {20, 0xFFFFFFFF},
      {24, 0xFFFFFFFF}, {28, 0xFFFFFFFF}, {32, 0xFFFFFFFF}, {36, 0xFFFFFFFF}, {40, 0x4E414E04},
      {44, 2},          {56, 0x54494D48}, {60, 0x444B4249}, {64, 0},          {68, 0x5C008000},
      {72, 176},        {116, 0x444B4249}, {120, 0xFFFFFFFF}, {124, 0x80000000},
      {128, 0x5C013000}, {132, 50920},
  };
  std::vector<bool> named(176, false);
  for (auto &[off, v] : fields) {
    EXPECT_EQ(le32(tim + off), v) << off;
    for (int i = 0; i < 4; ++i) named[off + i] = true;
  }
  for (int i = 0; i < 176; ++i)
    if (!named[i]) {
      EXPECT_EQ(tim[i], 0) << i;
    }
  mvl_tim t;
  mvl_tim_image im[2];
  ASSERT_EQ(mvl_tim_parse(tim, size, &t, im), 0);
  EXPECT_EQ(t.no_of_images, 2u);
  EXPECT_EQ(im[1].image_size, 50920u);
  std::free(tim);
}

TEST(ErrorCodes, TableIsAscendingWithItsNames) {
  EXPECT_EQ(MVL_ERROR_CODES[0].code, 0x00);
  EXPECT_STREQ(MVL_ERROR_CODES[0].description, "NoError");
  EXPECT_EQ(MVL_ERROR_CODES[52].code, 0xB4);
  EXPECT_STREQ(MVL_ERROR_CODES[52].description, "JtagReEnableOEMKeyLengthError");
  for (int i = 1; i < MVL_ERROR_CODES_COUNT; ++i) EXPECT_LT(MVL_ERROR_CODES[i - 1].code, MVL_ERROR_CODES[i].code);
  EXPECT_STREQ(mvl_error_description(0x6D), "TIMNotFound");
  EXPECT_STREQ(mvl_error_description(0x9B), "UnknownProtocolCmd");
  EXPECT_EQ(mvl_error_description(0x06), nullptr);
}

TEST_F(RomcodeTest, ThreeHundredBytesInOneChunkByteByByte) {
  auto p = peer([](const command_peer::command &c) -> std::optional<bytes> {
    if (c.cmd == 0x26) return ok_response(0x26, le32b(0x54494D48));
    if (c.cmd == 0x2A) return ok_response(0x2A, le32b(300));
    return ok_response(c.cmd);
  });
  bytes image(300);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(download_image(dev, image.data(), 300, 0x54494D48), 0);
  bytes data_cmd = {0x22, 0x02, 0, 0, 0x2C, 0x01, 0, 0};
  data_cmd.insert(data_cmd.end(), image.begin(), image.end());
  const bytes expect[] = {
      {0x26, 0, 0, 0, 0, 0, 0, 0},
      {0x27, 0, 0, 0, 1, 0, 0, 0, 0},
      {0x2A, 1, 0, 0, 4, 0, 0, 0, 0x2C, 1, 0, 0},
      data_cmd,
      {0x30, 0, 0, 0, 0, 0, 0, 0},
  };
  ASSERT_EQ(p->log.size(), std::size(expect));
  for (size_t i = 0; i < p->log.size(); ++i) EXPECT_EQ(p->log[i].raw, expect[i]) << i;
}

TEST_F(RomcodeTest, GrantedChunksAndSequenceNumbers) {
  struct chunk_case {
    uint32_t size, grant;
    std::vector<uint32_t> announced, chunks;
  };
  const chunk_case cases[] = {
      {10000, 4096, {10000, 5904, 1808}, {4096, 4096, 1808}},
      {100, 4096, {100}, {100}},
      {8192, 4096, {8192, 4096}, {4096, 4096}},
  };
  for (const auto &c : cases) {
    auto p = peer(granting(c.grant));
    bytes image(c.size, 0xA5);
    EXPECT_EQ(mvl_romcode_send_image(dev, image.data(), c.size), 0);
    ASSERT_EQ(p->log.size(), 2 * c.announced.size() + 1);
    for (size_t i = 0; i < c.announced.size(); ++i) {
      auto &h = p->log[2 * i], &d = p->log[2 * i + 1];
      EXPECT_EQ(h.cmd, 0x2A);
      EXPECT_EQ(h.seq, 2 * i + 1);
      EXPECT_EQ(le32(&h.raw[8]), c.announced[i]);
      EXPECT_EQ(d.cmd, 0x22);
      EXPECT_EQ(d.seq, 2 * i + 2);
      EXPECT_EQ(d.raw.size(), 8 + c.chunks[i]);
    }
    EXPECT_EQ(p->log.back().raw, (bytes{0x30, 0, 0, 0, 0, 0, 0, 0}));
    usb_close(dev);
    dev = nullptr;
    usb_inproc::unplug_all();
  }
}

TEST_F(RomcodeTest, SequenceNumbersWrapAfter127Chunks) {
  auto p = peer(granting(1));
  bytes image(130, 1);
  EXPECT_EQ(mvl_romcode_send_image(dev, image.data(), 130), 0);
  EXPECT_EQ(p->log[2 * 127].cmd, 0x2A);
  EXPECT_EQ(p->log[2 * 127].seq, 255);  // the 128th header
  EXPECT_EQ(p->log[2 * 127 + 1].seq, 0);
  EXPECT_EQ(p->log[2 * 128].seq, 1);
}

TEST_F(RomcodeTest, BadGrantsFailBeforeAnyData) {
  for (uint32_t grant : {0u, 101u}) {
    auto p = peer([grant](const command_peer::command &c) -> std::optional<bytes> {
      return ok_response(c.cmd, c.cmd == 0x2A ? le32b(grant) : bytes{});
    });
    bytes image(100);
    EXPECT_EQ(mvl_romcode_send_image(dev, image.data(), 100), -6) << grant;
    ASSERT_EQ(p->log.size(), 1u);
    usb_close(dev);
    dev = nullptr;
    usb_inproc::unplug_all();
  }
}

TEST_F(RomcodeTest, ResponseChecks) {
  struct response_case {
    const char *what;
    bytes response;
    int result;
  };
  const response_case cases[] = {
      {"other opcode", ok_response(0x27, le32b(1)), -6},
      {"status", {0x26, 0, 0, 0x6D, 0, 4, 1, 2, 3, 4}, -7},
      {"len byte", {0x26, 0, 0, 0, 0, 3, 1, 2, 3, 4}, -6},
      {"good", ok_response(0x26, le32b(0x444B4249)), 0},
  };
  for (const auto &c : cases) {
    peer([&](const command_peer::command &) { return std::optional<bytes>(c.response); });
    uint32_t id = 7;
    EXPECT_EQ(mvl_romcode_select_image(dev, &id), c.result) << c.what;
    EXPECT_EQ(id, c.result == 0 ? 0x444B4249u : 7u) << c.what;
    usb_close(dev);
    dev = nullptr;
    usb_inproc::unplug_all();
  }
}

TEST_F(RomcodeTest, MessageChecks) {
  bytes full = ok_response(0x2B, bytes(255, 'm'));
  bytes bad_status = full, bad_len = full, other = full;
  bad_status[3] = 0x99;
  bad_len[5] = 254;
  other[0] = 0x2A;
  const struct {
    const char *what;
    std::optional<bytes> answer;
    int result;
  } cases[] = {
      {"good", full, 0}, {"status", bad_status, -7}, {"len", bad_len, -6},
      {"other opcode", other, -6}, {"no answer", std::nullopt, -3},
  };
  for (const auto &c : cases) {
    peer([&](const command_peer::command &) { return c.answer; });
    mvl_bootrom_response r;
    EXPECT_EQ(mvl_romcode_get_message(dev, &r), c.result) << c.what;
    usb_close(dev);
    dev = nullptr;
    usb_inproc::unplug_all();
  }
}

TEST_F(RomcodeTest, VersionAndMessage) {
  peer([](const command_peer::command &c) -> std::optional<bytes> {
    if (c.cmd == 0x20) return ok_response(0x20, {'1', '0', '.', '3', 0x21, 0x12, 0x07, 0x20, 0xB0, 'V', 'A', 'T'});
    if (c.cmd == 0x2B) return ok_response(0x2B, bytes(255, 'm'));
    return std::nullopt;
  });
  mvl_bootrom_version v{};
  ASSERT_EQ(mvl_romcode_get_version(dev, &v), 0);
  EXPECT_EQ(std::string(v.version, 4), "3.01");
  EXPECT_EQ(static_cast<uint32_t>(v.date), 0x20071221u);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(v.processor), 3), "TAV");
  EXPECT_EQ(v.processor[3], 0xB0);
  mvl_bootrom_response r;
  EXPECT_EQ(mvl_romcode_get_message(dev, &r), 0);
  EXPECT_EQ(r.data[254], 'm');
  EXPECT_EQ(read_message(dev), 0);
  EXPECT_EQ(mvl_romcode_disconnect(dev), 0);  // nobody answers it
}

TEST_F(RomcodeTest, FaultsOfTheBootRom) {
  struct fault_case {
    const char *faults;
    std::function<int(usb_dev_handle *)> op;
    int result;
  };
  auto preamble = [](usb_dev_handle *d) { return mvl_romcode_send_premble(d); };
  auto version = [](usb_dev_handle *d) {
    mvl_bootrom_version v{};
    std::memcpy(v.version, "keep", 4);
    int r = mvl_romcode_send_premble(d);
    if (r == 0) r = mvl_romcode_get_version(d, &v);
    if (r != 0 && std::memcmp(v.version, "keep", 4) != 0) return 99;  // must stay unchanged
    return r;
  };
  const fault_case cases[] = {
      {"", preamble, 0},
      {"wrong-echo", preamble, -2},
      {"no-answer=preamble", preamble, -3},
      {"status=version:0x6D", version, -7},
      {"wrong-len=version", version, -6},
      {"short-answer=version", version, -3},
      {"unplug-at=version", version, -3},
      {"unplug-after-bytes=2", preamble, -4},
      {"late-answer=version:50", version, 0},
      {"late-answer=preamble:2500", preamble, -3},  // after the 2 s the echo may take
  };
  for (const auto &c : cases) {
    bench_handset(c.faults);
    EXPECT_EQ(c.op(dev), c.result) << c.faults;
    usb_close(dev);
    dev = nullptr;
    handsets.clear();
  }
}

// The whole download against the boot ROM model, and where it fails.
std::string temp_file(const std::string &tag, const bytes &content) {
  std::string path = ::testing::TempDir() + "romcode_" + tag + "_" + std::to_string(::getpid());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(content.data()),
                                              static_cast<std::streamsize>(content.size()));
  return path;
}

bytes agent_image(size_t n) { return well_formed_agent_image(n); }

// Bytes the host writes before the agent image's first data header: two handshakes, the TIM.
constexpr uint64_t kBytesBeforeSecondPreamble = 12 + 8 + 9 + 12 + 8 + 176 + 8;

TEST_F(RomcodeTest, DownloadThroughTheBootRomAndBackAsAgent) {
  auto h = bench_handset("", 4096);
  bytes image = agent_image(10000);
  std::string file = temp_file("ok", image);
  testing::internal::CaptureStdout();
  EXPECT_EQ(download_dkb_file(dev, nullptr, file.c_str()), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("file size of dkb:10000, file size of tim:176\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Get CPU response\nVersion: 3.01\nDate: 20071221\nProcessor: TAV B0\n\n"),
            std::string::npos) << out;
  EXPECT_EQ(h->received_dkb(), image);
  usb_close(dev);
  dev = nullptr;
  // Back on the same port as the agent.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (h->current_role() != sim::handset::role::agent && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(h->current_role(), sim::handset::role::agent);
  EXPECT_NE(open_port("bench", "vid_1286&pid_8111"), nullptr);
  std::remove(file.c_str());
}

TEST_F(RomcodeTest, OneByteGrantsWrapTheSequenceThroughTheBootRom) {
  auto h = bench_handset("", 1);  // 176 and 300 chunks: both images wrap
  bytes image = agent_image(300);
  testing::internal::CaptureStdout();
  EXPECT_EQ(download_dkb(dev, nullptr, 0, image.data(), 300), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(h->received_dkb(), image);
}

TEST_F(RomcodeTest, DownloadFailures) {
  struct download_case {
    const char *what;
    std::string faults;
    bool own_tim;      // pass a TIM buffer (zeroed, or the default one for tim_says bytes) ...
    uint32_t tim_size; // ... of this size (0: the default TIM is built after all)
    int result;
    std::string message;
    uint32_t tim_says = 0;
  };
  bytes image = agent_image(5000);
  // Before the disconnect: two handshakes, the TIM, select, verify, two chunks and done.
  uint64_t before_disconnect = kBytesBeforeSecondPreamble + 12 + 8 + 9 + (12 + 8 + 4096) + (12 + 8 + 904) + 8;
  const download_case cases[] = {
      {"wrong image asked for", "wrong-image-id", false, 0, -1,
       "Unexpected identifier in select image: 444B4249 54494D48\nError in download tim -1\n"},
      {"TIM refused", "", true, 176, -7, "Error in download tim -7\n"},
      {"TIM buffer of size 0", "", true, 0, 0, ""},
      {"verify", "status=verify:0x02", false, 0, -1, "Verify image error: -7\nError in download tim -1\n"},
      {"select", "status=select:0x98", false, 0, -1, "Select image error: -7\nError in download tim -1\n"},
      {"second handshake", "unplug-after-bytes=" + std::to_string(kBytesBeforeSecondPreamble),
       false, 0, -1, "Send PREMBLE error: -4\n"},
      {"zero grant", "zero-grant", false, 0, -6, "Error in download tim -6\n"},
      {"disconnect", "unplug-after-bytes=" + std::to_string(before_disconnect), false, 0, -4,
       "Error in disconnect\n"},
      {"first handshake", "status=version:0x6D", false, 0, -1, "Get version error: -7\n"},
      {"agent image cut off", "unplug-after-bytes=" + std::to_string(kBytesBeforeSecondPreamble + 12 + 8 + 9 + 12),
       false, 0, -4, "Error in download dkb -4\n"},
      {"agent image of another size than the TIM says", "", true, 176, -7, "Error in download dkb -7\n", 4999},
  };
  for (const auto &c : cases) {
    bench_handset(c.faults, 4096);
    bytes tim(176, 0);
    if (c.tim_says) {
      uint32_t n = 0;
      uint8_t *t = generate_default_tim_for_dkb(nullptr, c.tim_says, 0, &n);
      std::memcpy(tim.data(), t, n);
      std::free(t);
    }
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int r = download_dkb(dev, c.own_tim ? tim.data() : nullptr, c.tim_size, image.data(),
                         static_cast<uint32_t>(image.size()));
    std::string err = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, c.result) << c.what;
    EXPECT_EQ(err, c.message) << c.what;
    usb_close(dev);
    dev = nullptr;
    handsets.clear();
  }
}

TEST_F(RomcodeTest, FileHelpers) {
  std::string empty = temp_file("empty", {});
  std::string missing = ::testing::TempDir() + "romcode_missing_file";
  std::string image = temp_file("image", agent_image(100));
  struct file_case {
    std::string tim, image, message;
  };
  const file_case cases[] = {
      {"", empty, empty + " file size invalid: 0.\nError in memory map file: " + empty + "\n"},
      {"", missing, "Cannot open " + missing + " file\nError in memory map file: " + missing + "\n"},
      // The image maps, the TIM does not: the image's view is given back before the error.
      {missing, image, "Cannot open " + missing + " file\nError in memory map file: " + missing + "\n"},
      {empty, image, empty + " file size invalid: 0.\nError in memory map file: " + empty + "\n"},
  };
  for (const auto &c : cases) {
    testing::internal::CaptureStderr();
    // No handle at all: the files fail before any USB traffic.
    EXPECT_EQ(download_dkb_file(nullptr, c.tim.empty() ? nullptr : c.tim.c_str(), c.image.c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
  }
  bytes content = agent_image(333);
  std::string file = temp_file("map", content);
  const uint8_t *view = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(memory_map_file_helper(file.c_str(), &view, &size), 0);
  EXPECT_EQ(bytes(view, view + size), content);
  memory_unmap_file_helper(view, size);
  testing::internal::CaptureStderr();
  EXPECT_EQ(otp_view(nullptr), -1);
  EXPECT_EQ(debug_boot(nullptr), -1);
  EXPECT_EQ(enable_jtag(nullptr, "key"), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "otp_view: not supported\ndebug_boot: not supported\nenable_jtag: not supported\n");
  std::remove(file.c_str());
  std::remove(empty.c_str());
  std::remove(image.c_str());
}

}  // namespace
