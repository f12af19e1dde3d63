// The station's agent protocol against the real agent core on the bench's board, reached
// through the transport's in-process bus; and against a scripted agent for the stream's edges.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "agent_device.h"
#include "libdkb/libdkb.h"
#include "nand_chip.h"
#include "usb/usb.h"
#include "usb/usb_inproc.h"
#include "util/crc16.h"

namespace {

const int kBackend = usb_use_backend("inproc");

std::string unique_port() {
  static std::atomic<int> n{0};
  return "dkb" + std::to_string(getpid()) + "-" + std::to_string(n++);
}

std::string path_of(const std::string &port) {
  return "\\\\?\\usb#vid_1286&pid_8111#" + port + "#" USB_GUID_TEXT;
}

// OUT traffic as transfers: packets joined up to the first short one.
struct out_log {
  std::mutex m;
  std::vector<std::vector<uint8_t>> transfers;
  bool open = false;
  void packet(std::span<const uint8_t> p) {
    std::lock_guard<std::mutex> l(m);
    if (!open) transfers.emplace_back();
    transfers.back().insert(transfers.back().end(), p.begin(), p.end());
    open = p.size() == 512;
  }
  std::vector<std::vector<uint8_t>> take() {
    std::lock_guard<std::mutex> l(m);
    open = false;
    return std::move(transfers);
  }
};

// The real agent behind a recorder that can also spoil one data packet on its way.
class recorded_agent : public usb_inproc::device_model {
 public:
  explicit recorded_agent(std::shared_ptr<sim::nand_chip> nand)
      : inner_(std::make_shared<agent::agent_device>(std::move(nand), nullptr)) {}
  void on_attach(const std::shared_ptr<usb_inproc::attachment> &a) override { inner_->on_attach(a); }
  void on_detach(usb_inproc::attachment &a) override { inner_->on_detach(a); }
  bool on_out_packet(usb_inproc::attachment &a, std::span<const uint8_t> p) override {
    std::vector<uint8_t> copy(p.begin(), p.end());
    if (p.size() == 512 && corrupt_full_packet.exchange(false)) copy[100] ^= 0x01;
    if (!inner_->on_out_packet(a, copy)) return false;
    log.packet(p);
    return true;
  }
  out_log log;
  std::atomic<bool> corrupt_full_packet{false};
  std::shared_ptr<agent::agent_device> inner_;
};

struct station : ::testing::Test {
  void plug(sim::nand_config config = {}) {
    std::string error;
    nand = sim::nand_chip::open(config, &error);
    ASSERT_TRUE(nand) << error;
    port = unique_port();
    model = std::make_shared<recorded_agent>(nand);
    ASSERT_TRUE(usb_inproc::plug(port, 0x1286, 0x8111, model));
    dev = usb_open(path_of(port).c_str());
    ASSERT_NE(dev, nullptr);
  }
  void TearDown() override {
    if (dev) usb_close(dev);
    if (!port.empty()) usb_inproc::unplug(port);
  }
  // NAND initialised with a relocation area of the top 24 blocks and a used-flash BBM.
  comm_protocol_flash_info_resp prepare() {
    int found = -1;
    EXPECT_EQ(dkb_init_nand(dev, &found), 0);
    EXPECT_EQ(dkb_set_nand_bbm_reloc_area(dev, 1000 * 131072, 1024 * 131072), 0);
    EXPECT_EQ(dkb_init_bbm_used_flash(dev, nullptr, nullptr), 0);
    comm_protocol_flash_info_resp info{};
    EXPECT_EQ(dkb_get_nand_info(dev, &info), 0);
    model->log.take();
    return info;
  }
  std::shared_ptr<sim::nand_chip> nand;
  std::shared_ptr<recorded_agent> model;
  std::string port;
  usb_dev_handle *dev = nullptr;
};

std::vector<uint8_t> w(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
std::vector<uint8_t> b(std::initializer_list<uint8_t> l) { return l; }
std::vector<uint8_t> words(std::initializer_list<uint32_t> l) {
  std::vector<uint8_t> v;
  for (uint32_t x : l) {
    auto y = w(x);
    v.insert(v.end(), y.begin(), y.end());
  }
  return v;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 13 + seed + (i >> 11));
  return v;
}

struct progress_log {
  std::vector<std::string> calls;
  static void cb(void *self, const char *text, int current, int total) {
    static_cast<progress_log *>(self)->calls.push_back(std::string(text) + " " + std::to_string(current) + "/" +
                                                       std::to_string(total));
  }
};

std::string temp_file(const std::string &name) { return ::testing::TempDir() + name + std::to_string(getpid()); }

void write_file(const std::string &path, const std::vector<uint8_t> &data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
}

std::vector<uint8_t> read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

TEST_F(station, ControlCommands) {
  ASSERT_EQ(kBackend, 0);
  plug();
  EXPECT_EQ(dkb_ack(dev), 0);
  EXPECT_EQ(dkb_set_gpio(dev, 191, 1), 0);
  EXPECT_EQ(dkb_write_micco_data(dev, 0x30, 0x5A), 0);
  unsigned char v = 0;
  EXPECT_EQ(dkb_read_micco_data(dev, 0x30, &v), 0);
  EXPECT_EQ(v, 0x5A);

  // 1 March 2024, 13:05:09 UTC, a Friday.
  struct tm t {};
  t.tm_year = 124, t.tm_mon = 2, t.tm_mday = 1, t.tm_wday = 5, t.tm_hour = 13, t.tm_min = 5, t.tm_sec = 9;
  model->log.take();
  EXPECT_EQ(dkb_write_rtc(dev, &t), 0);
  auto out = model->log.take();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], b({0x80, 0x88, 0x55, 0xFF}));
  EXPECT_EQ(out[1], words({124, 2, 1, 5, 13, 5, 9}));
  struct tm back {};
  back.tm_yday = 77, back.tm_isdst = 1;
  EXPECT_EQ(dkb_read_rtc(dev, &back), 0);
  EXPECT_EQ(back.tm_year, 124);
  EXPECT_EQ(back.tm_mon, 2);
  EXPECT_EQ(back.tm_mday, 1);
  EXPECT_EQ(back.tm_wday, 5);
  EXPECT_EQ(back.tm_hour * 10000 + back.tm_min * 100 + back.tm_sec, 130509);
  EXPECT_EQ(back.tm_yday, 77);
  EXPECT_EQ(back.tm_isdst, 1);
}

TEST_F(station, Gpio192StopsTheAgent) {
  plug();
  EXPECT_EQ(dkb_set_gpio(dev, 192, 1), 0);  // the station cannot tell
  EXPECT_EQ(dkb_ack(dev), -12);
}

TEST_F(station, NandInitBbmAndGeometry) {
  plug();
  int found = -1;
  EXPECT_EQ(dkb_init_nand(dev, &found), 0);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(dkb_set_nand_bbm_reloc_area(dev, 1000 * 131072, 1024 * 131072), 0);
  EXPECT_EQ(dkb_validate_bbm(dev), 0);
  progress_log p;
  EXPECT_EQ(dkb_init_bbm_used_flash(dev, progress_log::cb, &p), 0);
  ASSERT_FALSE(p.calls.empty());
  EXPECT_EQ(p.calls.front(), "Flash 15/1024");
  EXPECT_EQ(p.calls.back(), "Flash 1007/1024");
  EXPECT_EQ(dkb_init_nand(dev, &found), 0);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(dkb_set_nand_flash_para(dev, 1), 0);
  comm_protocol_flash_info_resp info{};
  EXPECT_EQ(dkb_get_nand_info(dev, &info), 0);
  EXPECT_EQ(info.page_size, 2048u);
  EXPECT_EQ(info.block_size, 131072u);
  EXPECT_EQ(info.oob_size, 64u);
  EXPECT_EQ(info.no_of_blocks, 1024u);
  EXPECT_EQ(dkb_finialize_nand(dev), 0);
}

TEST_F(station, BlankFlashBuilderAnswers) {
  sim::nand_config c;
  c.factory_bad_blocks = {17};
  plug(c);
  int found = -1;
  EXPECT_EQ(dkb_init_nand(dev, &found), 0);
  EXPECT_EQ(dkb_set_nand_bbm_reloc_area(dev, 1000 * 131072, 1024 * 131072), 0);
  progress_log p;
  EXPECT_EQ(dkb_init_bbm_nake_flash(dev, progress_log::cb, &p), 0);
  EXPECT_EQ(p.calls.back(), "Flash 1007/1024");
  EXPECT_EQ(dkb_validate_bbm(dev), 0);
}

TEST_F(station, ByteExactFlashWrite) {
  plug();
  prepare();
  auto image = pattern(131072, 1);
  progress_log p;
  testing::internal::CaptureStdout();
  int r = dkb_flash_write(dev, reinterpret_cast<char *>(image.data()), 131072, 0x00100000, 0x00140000, 1, 2048,
                          131072, 0, 1, 0, progress_log::cb, &p);
  std::string printed = testing::internal::GetCapturedStdout();
  ASSERT_EQ(r, 0);
  auto out = model->log.take();
  std::vector<std::vector<uint8_t>> expected = {
      b({0x02, 0x55, 0xFF, 0xAA}), b({0x01, 0x00, 0x01, 0x00}),
      b({0x08, 0xFF, 0xAA, 0x55}), b({0x00, 0x00, 0x01, 0x5C}), b({0x80, 0x55, 0x55, 0xFF}),
      b({0x01, 0x55, 0xAA, 0xFF}), std::vector<uint8_t>(image.begin(), image.begin() + 65537),
      b({0x08, 0xFF, 0x55, 0xAA}),
      b({0x02, 0x55, 0xFF, 0xAA}), b({0xFF, 0xFF, 0x00, 0x00}),
      b({0x08, 0xFF, 0xAA, 0x55}), b({0x01, 0x00, 0x02, 0x5C}), b({0x80, 0x55, 0x55, 0xFF}),
      b({0x01, 0x55, 0xAA, 0xFF}), std::vector<uint8_t>(image.begin() + 65537, image.end()),
      b({0x08, 0xFF, 0x55, 0xAA}),
      b({0x04, 0x00, 0xAA, 0xAA}),
      words({0x5C010000, 0x00100000, 0x00120000, 0x00020000, 1, 0, 1, 0}),
      b({0x80, 0x55, 0x55, 0xFF}),
      b({0x06, 0x00, 0xAA, 0xAA}), words({0x00120000, 0x00140000, 1}),
  };
  ASSERT_EQ(out.size(), expected.size());
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], expected[i]) << "transfer " << i;
  EXPECT_EQ(p.calls, (std::vector<std::string>{"Write to flash 131072/262144", "Write to flash 262144/262144"}));
  EXPECT_NE(printed.find("erase extra data\nErase NAND flash: 0x00120000-0x00140000 use bbm:1.\n"),
            std::string::npos);
  EXPECT_NE(printed.find("Erase NAND flash success.\n"), std::string::npos);

  std::vector<char> back(262144);
  ASSERT_EQ(dkb_flash_read(dev, back.data(), 0x00100000, 0x00140000, 1, 2048, 131072, 0, 1, 0, nullptr, nullptr), 0);
  EXPECT_EQ(std::memcmp(back.data(), image.data(), 131072), 0);
  EXPECT_EQ(std::vector<char>(back.begin() + 131072, back.end()), std::vector<char>(131072, char(0xFF)));
}

TEST_F(station, RamChunks) {
  plug();
  struct {
    int size;
    std::vector<int> chunks;
    int lengths_sent;  // set_len_command transfers, the first 65,537 included
  } cases[] = {
      {1024, {1023, 1}, 3}, {65536, {65535, 1}, 3}, {65537, {65537}, 1}, {131073, {65537, 65535, 1}, 3},
  };
  for (auto &c : cases) {
    auto data = pattern(size_t(c.size), 7);
    model->log.take();
    ASSERT_EQ(dkb_write_mem(dev, 0x5C010000, reinterpret_cast<char *>(data.data()), c.size, 1, nullptr, nullptr), 0);
    auto out = model->log.take();
    std::vector<int> chunks;
    int lengths = 0;
    for (size_t i = 0; i < out.size(); ++i) {
      if (out[i] == b({0x02, 0x55, 0xFF, 0xAA})) ++lengths;
      if (out[i] == b({0x01, 0x55, 0xAA, 0xFF})) chunks.push_back(int(out[i + 1].size()));
    }
    EXPECT_EQ(chunks, c.chunks) << c.size;
    EXPECT_EQ(lengths, c.lengths_sent) << c.size;
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(dkb_read_mem(dev, 0x5C010000, reinterpret_cast<char *>(back.data()), c.size, 1, nullptr, nullptr), 0);
    EXPECT_EQ(back, data) << c.size;
  }
  model->log.take();
  EXPECT_EQ(dkb_write_mem(dev, 0x5C010000, nullptr, 0, 1, nullptr, nullptr), 0);
  EXPECT_EQ(model->log.take(), (std::vector<std::vector<uint8_t>>{b({0x02, 0x55, 0xFF, 0xAA}), w(65537)}));
}

TEST_F(station, CorruptedChunkFailsTheCrc) {
  plug();
  auto data = pattern(131072, 3);
  model->corrupt_full_packet = true;
  testing::internal::CaptureStdout();
  int r = dkb_write_mem(dev, 0x5C010000, reinterpret_cast<char *>(data.data()), 131072, 1, nullptr, nullptr);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(r, -15);
  EXPECT_NE(printed.find(" CRC error: expected:"), std::string::npos);
}

TEST_F(station, SpareDataMustBeWholePages) {
  plug();
  auto info = prepare();
  auto data = pattern(2112 * 3 + 100, 1);
  EXPECT_EQ(dkb_flash_write(dev, reinterpret_cast<char *>(data.data()), int(data.size()), 0x100000, 0x200000, 1,
                            int(info.page_size), int(info.block_size), int(info.oob_size), 1, 0, nullptr, nullptr),
            -23);
  std::vector<char> back(2112 * 3);
  EXPECT_EQ(dkb_flash_read(dev, back.data(), 0x100000, 0x100000 + 2048 * 3, 1, 2048, 131072, 64, 1, 0, nullptr,
                           nullptr),
            0);
}

TEST_F(station, DataLongerThanItsRangeIsRefused) {
  plug();
  prepare();
  auto data = pattern(131072 + 1, 1);
  EXPECT_EQ(dkb_flash_write(dev, reinterpret_cast<char *>(data.data()), int(data.size()), 0x100000, 0x120000, 1,
                            2048, 131072, 0, 1, 0, nullptr, nullptr),
            -24);
  EXPECT_TRUE(model->log.take().empty());
}

TEST_F(station, FileRangesOutsideTheFileAreRefused) {
  plug();
  prepare();
  std::string file = temp_file("dkb_range");
  write_file(file, pattern(5000, 2));
  struct {
    int offset, length;
  } cases[] = {{5000, 0}, {6000, 0}, {0, 5001}, {4000, 2000}, {-1, 10}};
  for (auto c : cases) {
    EXPECT_EQ(dkb_flash_write_from_file(dev, file.c_str(), c.offset, c.length, 0x100000, 0x140000, 1, 2048, 131072,
                                        0, 1, 0, nullptr, nullptr),
              -22)
        << c.offset << " " << c.length;
  }
  EXPECT_TRUE(model->log.take().empty());
  EXPECT_EQ(dkb_flash_write_from_file(dev, (file + ".none").c_str(), 0, 0, 0x100000, 0x140000, 1, 2048, 131072, 0,
                                      1, 0, nullptr, nullptr),
            -16);
  unlink(file.c_str());
}

TEST_F(station, FileWriteAndReadBackWithBadBlocksAndFailures) {
  sim::nand_config c;
  c.factory_bad_blocks = {9, 12};
  plug(c);
  auto info = prepare();
  sim::nand_fault f;
  f.op = sim::nand_op::program;
  f.blocks = {10};
  f.after_ops = 100;
  nand->inject(f);
  std::string image = temp_file("dkb_image"), back = temp_file("dkb_back");
  auto data = pattern(3 * 1024 * 1024 + 4096 + 10, 4);
  write_file(image, data);
  progress_log p;
  ASSERT_EQ(dkb_flash_write_from_file(dev, image.c_str(), 10, 0, 0x100000, 0x600000, 1, int(info.page_size),
                                      int(info.block_size), 0, 1, 0, progress_log::cb, &p),
            0);
  EXPECT_EQ(p.calls.back(), "Write to flash 5242880/5242880");
  ASSERT_EQ(dkb_finialize_nand(dev), 0);
  int found = 0;
  ASSERT_EQ(dkb_init_nand(dev, &found), 0);
  ASSERT_EQ(found, 1);
  ASSERT_EQ(dkb_flash_read_to_file(dev, back.c_str(), 0x100000, 0x100000 + int(data.size()) - 10, 1,
                                   int(info.page_size), int(info.block_size), 0, 1, 0, nullptr, nullptr),
            0);
  auto read = read_file(back);
  ASSERT_EQ(read.size(), data.size() - 10);
  EXPECT_TRUE(std::equal(read.begin(), read.end(), data.begin() + 10));
  EXPECT_EQ(dkb_flash_read_to_file(dev, back.c_str(), 0x100000, 0x100000, 1, 2048, 131072, 0, 1, 0, nullptr, nullptr),
            -26);
  unlink(image.c_str());
  unlink(back.c_str());
}

// ---- the message stream against a scripted agent ----

class scripted_agent : public usb_inproc::device_model {
 public:
  bool on_out_packet(usb_inproc::attachment &, std::span<const uint8_t>) override { return true; }
};

struct stream_case : ::testing::Test {
  void SetUp() override {
    port = unique_port();
    at = usb_inproc::plug(port, 0x1286, 0x8111, std::make_shared<scripted_agent>());
    ASSERT_TRUE(at);
    dev = usb_open(path_of(port).c_str());
    ASSERT_NE(dev, nullptr);
  }
  void TearDown() override {
    usb_close(dev);
    usb_inproc::unplug(port);
  }
  // Each item as a device transfer of its own, as the agent sends them.
  void agent_sends(std::initializer_list<std::vector<uint8_t>> items) {
    for (auto &i : items) at->send_in(i);
  }
  std::string port;
  std::shared_ptr<usb_inproc::attachment> at;
  usb_dev_handle *dev = nullptr;
};

std::vector<uint8_t> text(const std::string &s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST_F(stream_case, Edges) {
  const uint32_t progress = 0xAABB0001, total = 0xAABB0002, txt = 0xAABB0003, len = 0xAABB0004, err = 0xAABB0005,
                 done = 0xAABB0006;
  struct {
    std::vector<std::vector<uint8_t>> items;
    int result;
    std::string printed;
    std::vector<std::string> progress;
  } cases[] = {
      // a text before any length has length 0
      {{w(txt), w(done)}, 0, "", {}},
      // 255 is read and printed; the length stays for a second text
      {{w(len), w(3), w(txt), text("abc"), w(txt), text("def"), w(done)}, 0, "abcdef", {}},
      {{w(len), w(255), w(txt), std::vector<uint8_t>(255, 'x'), w(done)}, 0, std::string(255, 'x'), {}},
      {{w(len), w(256), w(txt)}, -4, "", {}},
      // progress before any total reports a total of 1
      {{w(progress), w(7), w(total), w(9), w(progress), w(8), w(done)}, 0, "..", {"Flash 7/1", "Flash 8/9"}},
      {{w(0xAABB0007)}, -11, "Unknown command received: -1430585337\n", {}},
      {{w(err), w(3)}, -14, "Flash Fireware error occurred, error code: 3\n", {}},
      {{w(progress)}, -2, "", {}},
  };
  for (auto &c : cases) {
    for (auto &i : c.items) at->send_in(i);
    progress_log p;
    int code = -99;
    testing::internal::CaptureStdout();
    int r = handle_flash_msg(dev, &code, progress_log::cb, &p);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(printed, c.printed);
    EXPECT_EQ(p.calls, c.progress);
    if (r == -14) EXPECT_EQ(code, 3);
    else EXPECT_EQ(code, -99);
    // Nothing may be left over for the next case (a short read leaves nothing either).
    char extra[4];
    EXPECT_LT(usb_bulk_read(dev, 0x81, extra, 4, 10), 0);
  }
}

TEST_F(stream_case, AckAnsweredWrongly) {
  agent_sends({b({0x80, 0xAA, 0xAA, 0xFF})});
  EXPECT_EQ(dkb_ack(dev), -12);
}

TEST_F(stream_case, InitWithoutBlocksAndValidationTimeout) {
  agent_sends({w(0xAABB0002), w(1), w(0xAABB0005), w(1)});
  int found = -1;
  EXPECT_EQ(dkb_init_nand(dev, &found), -14);
  EXPECT_EQ(found, 1);
  agent_sends({w(0xAABB0002), w(1), w(0xAABB0005), w(2)});
  EXPECT_EQ(dkb_init_nand(dev, &found), 0);
  EXPECT_EQ(found, 0);
}
