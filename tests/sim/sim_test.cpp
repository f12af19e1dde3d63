// The handset bench: its configuration and faults, and handset_bench with norvane_cli end to
// end over the sim: backend, several handsets at once.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "agent_images.h"
#include "bench_config.h"
#include "faults.h"
#include "handset.h"
#include "libromcode/libromcode.h"
#include "usb/usb_inproc.h"
#include "usb/usb.h"
#include "usb/usb_sim_protocol.h"

extern char **environ;

namespace {

std::string temp_dir(const std::string &tag) {
  std::string d = ::testing::TempDir() + "sim_" + tag + "_" + std::to_string(::getpid());
  std::string cmd = "rm -rf '" + d + "' && mkdir -p '" + d + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return d;
}

void write_file(const std::string &path, const std::string &content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TEST(Faults, Parse) {
  const struct {
    const char *faults;
    bool ok;
    const char *described;
  } cases[] = {
      {"", true, ""},
      {"zero-grant", true, "zero-grant"},
      {"status=version:0x6D, no-answer=select", true, "status=version:0x6D,no-answer=select"},
      {"unplug-after-bytes=100,unplug-at=data", true, "unplug-after-bytes=100,unplug-at=data"},
      {"short-answer=0x20,wrong-len=done,wrong-echo,wrong-image-id", true,
       "wrong-image-id,wrong-echo,short-answer=version,wrong-len=done"},
      {"late-answer=select:250", true, "late-answer=select:250"},
      {"agent-unplug-after-bytes=10", true, "agent-unplug-after-bytes=10"},
      {"no-agent, zero-grant", true, "no-agent,zero-grant"},
      {"no-agent=1", false, ""},
      {"return-delay=12000,agent-silent-after-bytes=0,agent-corrupt-data=3,off-after-reset", true,
       "return-delay=12000,agent-silent-after-bytes=0,off-after-reset,agent-corrupt-data=3"},
      {"agent-corrupt-data=0", false, ""},
      {"return-delay=-5", false, ""},
      {"late-answer=select", false, ""},
      {"status=version:0", false, ""},
      {"status=nothing:0x6D", false, ""},
      {"unplug-after-bytes=-1", false, ""},
      {"zero-grant=3", false, ""},
      {"frobnicate", false, ""},
  };
  for (const auto &c : cases) {
    sim::fault_set f;
    std::string error;
    EXPECT_EQ(sim::parse_faults(c.faults, f, error), c.ok) << c.faults;
    if (c.ok) {
      EXPECT_EQ(f.describe(), c.described) << c.faults;
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(BenchConfig, Parse) {
  std::string dir = temp_dir("config");
  const struct {
    std::string ini;
    bool ok;
  } cases[] = {
      {"[h]\nport = 1-1\n", true},
      {"[h]\nport = 1-1\nidentity = 1286:8104\ngrant = 512\nversion = 3.01\ndate = 0x1\n"
       "processor = TAV\nprocessor_rev = 0xB0\nreenumerate_delay_ms = 10\nplugged = false\n"
       "faults = zero-grant\nbus = 3\n",
       true},
      {"[bench]\ntiming = none\n", false},       // no handset
      {"[bench]\ntiming = realistic\n[h]\nport = 1-1\n", true},
      {"[bench]\ntiming = fast\n[h]\nport = 1-1\n", false},
      {"[h]\nidentity = 8086:d001\n", false},    // no port
      {"[h]\nport = " + std::string(201, 'p') + "\n", false},
      {"[h]\nport = 1-1\nidentity = 1286:8111\n", false},  // the agent's identity
      {"[h]\nport = 1-1\ngrant = lots\n", false},
      {"[h]\nport = 1-1\nversion = 3.1\n", false},
      {"[h]\nport = 1-1\nfaults = frobnicate\n", false},
      {"[a]\nport = 1-1\n[b]\nport = 1-1\n", false},
      {"[h]\nport = 1-1\nbus = 0\n", false},
  };
  for (const auto &c : cases) {
    std::string path = dir + "/bench.ini";
    write_file(path, c.ini);
    sim::bench_config cfg;
    std::string error;
    EXPECT_EQ(sim::load_bench_config(path, cfg, error), c.ok) << c.ini << error;
  }
  sim::bench_config cfg;
  std::string error;
  ASSERT_TRUE(sim::load_bench_config(NORVANE_SOURCE_DIR "/examples/bench.ini", cfg, error)) << error;
  ASSERT_EQ(cfg.handsets.size(), 2u);
  EXPECT_NE(cfg.handsets[0].handset.rom.vid, cfg.handsets[1].handset.rom.vid);
  EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

// An agent that answers "AGNT" to every packet and resets the handset on "RST!".
class test_agent : public usb_inproc::device_model {
 public:
  explicit test_agent(sim::handset &h, size_t image_size) : h_(h), image_size_(image_size) {}
  bool on_out_packet(usb_inproc::attachment &a, std::span<const uint8_t> p) override {
    if (std::string(p.begin(), p.end()) == "RST!") {
      h_.reset();
      return true;
    }
    std::string answer = "AGNT" + std::to_string(image_size_);
    a.send_in(std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(answer.data()), answer.size()));
    return true;
  }

 private:
  sim::handset &h_;
  size_t image_size_;
};

template <class F>
bool eventually(F f) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST(Handset, TheAgentFactoryAnswersAfterTheDownloadAndAResetBringsTheBootRomBack) {
  ASSERT_EQ(usb_use_backend("inproc"), 0);
  sim::handset_config cfg;
  cfg.port = "h-1";
  cfg.rom.vid = 0x1286;
  cfg.rom.pid = 0x8104;
  cfg.reenumerate_delay_ms = 5;
  std::vector<std::string> events;
  std::mutex m;
  auto h = sim::handset::create(
      cfg,
      [](const sim::agent_boot &boot) { return std::make_shared<test_agent>(boot.device, boot.dkb.size()); },
      [&](const std::string &e) {
        std::lock_guard<std::mutex> lock(m);
        events.push_back(e);
      });
  h->plug();
  const std::string rom = "\\\\?\\usb#vid_1286&pid_8104#h-1#" USB_GUID_TEXT;
  const std::string agent = "\\\\?\\usb#vid_1286&pid_8111#h-1#" USB_GUID_TEXT;
  usb_dev_handle *d = usb_open(rom.c_str());
  ASSERT_NE(d, nullptr);
  std::vector<uint8_t> image = well_formed_agent_image(777);
  testing::internal::CaptureStdout();
  EXPECT_EQ(download_dkb(d, nullptr, 0, image.data(), 777), 0);
  testing::internal::GetCapturedStdout();
  usb_close(d);
  ASSERT_TRUE(eventually([&] { return (d = usb_open(agent.c_str())) != nullptr; }));
  char buf[7];
  EXPECT_EQ(usb_bulk_write(d, 0x02, "ping", 4, 1000), 4);
  EXPECT_EQ(usb_bulk_read(d, 0x81, buf, 7, 1000), 7);
  EXPECT_EQ(std::string(buf, 7), "AGNT777");
  EXPECT_EQ(usb_bulk_write(d, 0x02, "RST!", 4, 1000), 4);
  EXPECT_EQ(usb_bulk_read(d, 0x81, buf, 1, 1000), -116);  // the agent has left
  usb_close(d);
  ASSERT_TRUE(eventually([&] { return (d = usb_open(rom.c_str())) != nullptr; }));
  EXPECT_EQ(mvl_romcode_send_premble(d), 0);  // a fresh boot ROM
  usb_close(d);
  EXPECT_EQ(h->current_role(), sim::handset::role::bootrom);
  h.reset();
  std::lock_guard<std::mutex> lock(m);
  EXPECT_NE(std::find(events.begin(), events.end(), "h-1: on the bus as the agent 1286:8111"), events.end());
}

TEST(Handset, TheAgentsCableIsPulledAfterTheConfiguredBytes) {
  ASSERT_EQ(usb_use_backend("inproc"), 0);
  sim::handset_config cfg;
  cfg.port = "h-2";
  std::string error;
  ASSERT_TRUE(sim::parse_faults("agent-unplug-after-bytes=4", cfg.faults, error));
  auto h = sim::handset::create(cfg, [](const sim::agent_boot &boot) {
    return std::make_shared<test_agent>(boot.device, boot.dkb.size());
  });
  h->plug();
  usb_dev_handle *d = usb_open("\\\\?\\usb#vid_8086&pid_d001#h-2#" USB_GUID_TEXT);
  ASSERT_NE(d, nullptr);
  std::vector<uint8_t> image = well_formed_agent_image(100);
  testing::internal::CaptureStdout();
  EXPECT_EQ(download_dkb(d, nullptr, 0, image.data(), 100), 0);  // the boot ROM is not affected
  testing::internal::GetCapturedStdout();
  usb_close(d);
  ASSERT_TRUE(eventually([&] {
    return (d = usb_open("\\\\?\\usb#vid_1286&pid_8111#h-2#" USB_GUID_TEXT)) != nullptr;
  }));
  char buf[7];
  EXPECT_EQ(usb_bulk_write(d, 0x02, "ping", 4, 1000), 4);
  EXPECT_EQ(usb_bulk_read(d, 0x81, buf, 7, 1000), 7);
  EXPECT_EQ(usb_bulk_write(d, 0x02, "ping", 4, 1000), -1);
  EXPECT_EQ(usb_bulk_read(d, 0x81, buf, 7, 1000), -116);
  usb_close(d);
  EXPECT_EQ(h->current_role(), sim::handset::role::unplugged);
}

TEST(Handset, WithNoAgentTheHandsetStaysOffTheBusAfterTheDownloadUntilPluggedAgain) {
  ASSERT_EQ(usb_use_backend("inproc"), 0);
  sim::handset_config cfg;
  cfg.port = "h-3";
  std::string error;
  ASSERT_TRUE(sim::parse_faults("no-agent", cfg.faults, error));
  std::atomic<bool> factory_called{false};
  auto h = sim::handset::create(cfg, [&](const sim::agent_boot &boot) {
    factory_called = true;
    return std::make_shared<test_agent>(boot.device, boot.dkb.size());
  });
  h->plug();
  const std::string rom = "\\\\?\\usb#vid_8086&pid_d001#h-3#" USB_GUID_TEXT;
  usb_dev_handle *d = usb_open(rom.c_str());
  ASSERT_NE(d, nullptr);
  std::vector<uint8_t> image = well_formed_agent_image(100);
  testing::internal::CaptureStdout();
  EXPECT_EQ(download_dkb(d, nullptr, 0, image.data(), 100), 0);  // the boot ROM itself is sound
  testing::internal::GetCapturedStdout();
  usb_close(d);
  // Unplugged rather than leaving: no return is scheduled, so no agent can ever come.
  ASSERT_TRUE(eventually([&] { return h->current_role() == sim::handset::role::unplugged; }));
  EXPECT_EQ(usb_open("\\\\?\\usb#vid_1286&pid_8111#h-3#" USB_GUID_TEXT), nullptr);
  EXPECT_FALSE(factory_called);
  h->plug();
  ASSERT_TRUE(eventually([&] { return (d = usb_open(rom.c_str())) != nullptr; }));
  usb_close(d);
  EXPECT_EQ(h->current_role(), sim::handset::role::bootrom);
}

TEST(Handset, TheBootRomRunsOnlyAWellFormedAgentImage) {
  ASSERT_EQ(usb_use_backend("inproc"), 0);
  std::vector<uint8_t> good = well_formed_agent_image(4100);
  std::vector<uint8_t> bad_vector = good, wrong_length = good, cut = good;
  bad_vector[4 * 5 + 3] = 0x00;          // the sixth vector is no branch
  wrong_length[AGENT_IMAGE_LENGTH_OFFSET] ^= 4;  // says 4 bytes more or less than it has
  cut.resize(30);                        // ends inside the vector table
  const struct {
    const char *what;
    const std::vector<uint8_t> &image;
    int result;
  } cases[] = {
      {"vector", bad_vector, -7},
      {"stored length", wrong_length, -7},
      {"cut short", cut, -7},
      {"well formed", good, 0},
  };
  int n = 0;
  for (const auto &c : cases) {
    sim::handset_config cfg;
    cfg.port = "h-img" + std::to_string(n++);
    bool ran = false;
    std::mutex m;
    std::vector<std::string> events;
    auto h = sim::handset::create(
        cfg,
        [&](const sim::agent_boot &boot) {
          std::lock_guard<std::mutex> lock(m);
          ran = true;
          return std::make_shared<test_agent>(boot.device, boot.dkb.size());
        },
        [&](const std::string &e) {
          std::lock_guard<std::mutex> lock(m);
          events.push_back(e);
        });
    h->plug();
    std::string rom = "\\\\?\\usb#vid_8086&pid_d001#" + cfg.port + "#" USB_GUID_TEXT;
    usb_dev_handle *d = usb_open(rom.c_str());
    ASSERT_NE(d, nullptr) << c.what;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(download_dkb(d, nullptr, 0, c.image.data(), uint32_t(c.image.size())), c.result) << c.what;
    std::string err = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    usb_close(d);
    if (c.result == 0) {
      EXPECT_TRUE(eventually([&] { return h->current_role() == sim::handset::role::agent; })) << c.what;
      continue;
    }
    EXPECT_EQ(err, "Error in download dkb -7\n") << c.what;
    // Still the boot ROM, on the bus, and a later download of a good image goes through.
    EXPECT_EQ(h->current_role(), sim::handset::role::bootrom) << c.what;
    EXPECT_TRUE(h->received_dkb().empty()) << c.what;
    {
      std::lock_guard<std::mutex> lock(m);
      EXPECT_FALSE(ran) << c.what;
      EXPECT_NE(std::find(events.begin(), events.end(),
                          cfg.port + ": agent image refused: not a well-formed agent image"),
                events.end())
          << c.what;
    }
    d = usb_open(rom.c_str());
    ASSERT_NE(d, nullptr) << c.what;
    testing::internal::CaptureStdout();
    EXPECT_EQ(download_dkb(d, nullptr, 0, good.data(), uint32_t(good.size())), 0) << c.what;
    testing::internal::GetCapturedStdout();
    usb_close(d);
    EXPECT_TRUE(eventually([&] { return h->current_role() == sim::handset::role::agent; })) << c.what;
  }
}

// Echoes every packet it takes.
class echo_agent : public usb_inproc::device_model {
 public:
  bool on_out_packet(usb_inproc::attachment &a, std::span<const uint8_t> p) override {
    a.send_in(p);
    return true;
  }
};

// The agent's wire faults: its N-th send-data block corrupted, its silence after N bytes, and
// a re-enumeration slower than the configured one.
TEST(Handset, AgentFaultsOnTheWire) {
  ASSERT_EQ(usb_use_backend("inproc"), 0);
  sim::handset_config cfg;
  cfg.port = "h-3";
  std::string error;
  ASSERT_TRUE(sim::parse_faults("agent-corrupt-data=2,agent-silent-after-bytes=16", cfg.faults, error));
  auto h = sim::handset::create(cfg, [](const sim::agent_boot &) { return std::make_shared<echo_agent>(); });
  h->plug();
  const std::string rom = "\\\\?\\usb#vid_8086&pid_d001#h-3#" USB_GUID_TEXT;
  const std::string agent = "\\\\?\\usb#vid_1286&pid_8111#h-3#" USB_GUID_TEXT;
  auto download = [&] {
    usb_dev_handle *d = usb_open(rom.c_str());
    ASSERT_NE(d, nullptr);
    std::vector<uint8_t> image = well_formed_agent_image(100);
    testing::internal::CaptureStdout();
    EXPECT_EQ(download_dkb(d, nullptr, 0, image.data(), 100), 0);
    testing::internal::GetCapturedStdout();
    usb_close(d);
  };
  download();
  usb_dev_handle *d = nullptr;
  ASSERT_TRUE(eventually([&] { return (d = usb_open(agent.c_str())) != nullptr; }));
  const char send_data[4] = {0x01, 0x55, char(0xAA), char(0xFF)};
  unsigned char in[4];
  auto exchange = [&](const char *out) {
    EXPECT_EQ(usb_bulk_write(d, 0x02, out, 4, 1000), 4);
    return usb_bulk_read(d, 0x81, reinterpret_cast<char *>(in), 4, 1000);
  };
  EXPECT_EQ(exchange(send_data), 4);
  const char data[4] = {0x10, 0x20, 0x30, 0x40};
  EXPECT_EQ(exchange(data), 4);
  EXPECT_EQ(in[0], 0x10);  // the first block passes
  EXPECT_EQ(exchange(send_data), 4);
  EXPECT_EQ(exchange(data), 4);
  EXPECT_EQ(in[0], 0xEF);  // the second one's first byte is inverted
  EXPECT_EQ(in[1], 0x20);
  EXPECT_LT(exchange(data), 0);  // past 16 bytes: taken, never answered
  EXPECT_EQ(h->current_role(), sim::handset::role::agent);
  usb_close(d);

  // A re-enumeration slower than anyone waits: the handset stays away until it is unplugged.
  h->reset();
  ASSERT_TRUE(sim::parse_faults("none,return-delay=600000", cfg.faults, error));
  h->set_faults(cfg.faults);
  ASSERT_TRUE(eventually([&] { return h->current_role() == sim::handset::role::bootrom; }));
  download();
  EXPECT_EQ(h->current_role(), sim::handset::role::leaving);
  EXPECT_EQ(usb_open(agent.c_str()), nullptr);
  h->unplug();
  EXPECT_EQ(h->current_role(), sim::handset::role::unplugged);

  // Powered off by a reset: off the bus until plugged.
  ASSERT_TRUE(sim::parse_faults("none,off-after-reset", cfg.faults, error));
  h->set_faults(cfg.faults);
  h->plug();
  download();
  ASSERT_TRUE(eventually([&] { return h->current_role() == sim::handset::role::agent; }));
  h->reset();
  EXPECT_EQ(h->current_role(), sim::handset::role::unplugged);
  h->plug();
  EXPECT_EQ(h->current_role(), sim::handset::role::bootrom);
}

// Runs a program; its exit status, or -1.
int run(const std::vector<std::string> &args, const std::vector<std::string> &env_add,
        const std::string &out_file) {
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e) env.push_back(*e);
  env.insert(env.end(), env_add.begin(), env_add.end());
  std::vector<char *> argv, envp;
  for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  for (auto &e : env) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  pid_t pid;
  int r = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (r != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class BenchProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = temp_dir("bench");
    socket = dir + "/bench.sock";
    std::string ini;
    for (int i = 1; i <= 3; ++i)
      ini += "[h" + std::to_string(i) + "]\nport = 2-" + std::to_string(i) + "\nidentity = " +
             (i % 2 ? "8086:d001" : "1286:8104") + "\ngrant = " + std::to_string(1024 * i) +
             "\nreenumerate_delay_ms = 20\n";
    write_file(dir + "/bench.ini", ini);
    std::vector<std::string> args = {HANDSET_BENCH, "--socket", socket, "--dir", dir + "/files",
                                     dir + "/bench.ini"};
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    std::string log = dir + "/bench.log";
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    ASSERT_EQ(posix_spawn(&bench_pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ASSERT_TRUE(wait_for([&] {
      std::string answer;
      return usb_sim::control(socket.c_str(), "list", answer) == 0;
    }));
  }
  void TearDown() override {
    if (bench_pid > 0) {
      ::kill(bench_pid, SIGTERM);
      int status = 0;
      waitpid(bench_pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read_file(dir + "/bench.log");
    }
    if (!HasFailure()) {
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
  }
  }
  template <class F>
  static bool wait_for(F f) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      if (f()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string status(const std::string &port) {
    std::string answer;
    usb_sim::control(socket.c_str(), ("status " + port).c_str(), answer);
    return answer;
  }

  std::string dir, socket;
  pid_t bench_pid = -1;
};

TEST_F(BenchProcess, DownloadsToSeveralHandsetsAtOnce) {
  std::vector<uint8_t> bytes = well_formed_agent_image(50920, 1);
  std::string image(bytes.begin(), bytes.end());
  write_file(dir + "/agent.bin", image);
  std::vector<std::thread> jobs;
  int results[3] = {-1, -1, -1};
  for (int i = 0; i < 3; ++i)
    jobs.emplace_back([&, i] {
      std::string port = "2-" + std::to_string(i + 1);
      results[i] = run({NORVANE_CLI, "download", port, "--dkb", dir + "/agent.bin"},
                       {"NORVANE_USB=sim:" + socket}, dir + "/cli" + std::to_string(i) + ".log");
    });
  for (auto &j : jobs) j.join();
  for (int i = 0; i < 3; ++i) {
    std::string port = "2-" + std::to_string(i + 1);
    EXPECT_EQ(results[i], 0) << read_file(dir + "/cli" + std::to_string(i) + ".log");
    EXPECT_TRUE(wait_for([&] { return status(port).find("\"role\":\"agent\"") != std::string::npos; }))
        << status(port);
    EXPECT_TRUE(read_file(dir + "/files/" + port + ".dkb") == image) << port;
  }
  std::string log = dir + "/list.log";
  EXPECT_EQ(run({NORVANE_CLI, "list"}, {"NORVANE_USB=sim:" + socket}, log), 0);
  EXPECT_NE(read_file(log).find("agent     1286 8111 2-3"), std::string::npos) << read_file(log);
}

TEST_F(BenchProcess, CaptureOfADownloadOpensInTshark) {
  std::vector<uint8_t> bytes = well_formed_agent_image(3000);
  std::string image(bytes.begin(), bytes.end());
  write_file(dir + "/agent.bin", image);
  std::string capture = dir + "/download.pcap";
  ASSERT_EQ(run({NORVANE_CLI, "download", "2-2", "--dkb", dir + "/agent.bin"},
                {"NORVANE_USB=sim:" + socket, "NORVANE_USB_CAPTURE=" + capture}, dir + "/cli.log"),
            0)
      << read_file(dir + "/cli.log");
  std::string fields = dir + "/fields.txt";
  ASSERT_EQ(run({"/usr/bin/tshark", "-r", capture, "-T", "fields", "-e", "usb.urb_type", "-e",
                 "usb.endpoint_address", "-e", "usb.bus_id", "-e", "usb.urb_status", "-e",
                 "usb.capdata"},
                {}, fields),
            0)
      << read_file(fields);
  // Preamble out and its echo, then get version (0x20) and its 12-byte answer.
  const char *expect[] = {
      "'S'\t0x02\t1\t-115\t00d3022b\n",
      "'C'\t0x02\t1\t0\t\n",
      "'S'\t0x81\t1\t-115\t\n",
      "'C'\t0x81\t1\t0\t00d3022b\n",
      "'S'\t0x02\t1\t-115\t2000000000000000\n",
      "'C'\t0x02\t1\t0\t\n",
      "'S'\t0x81\t1\t-115\t\n",
      "'C'\t0x81\t1\t0\t20000000000c31302e3321120720b0564154\n",
  };
  std::string text = read_file(fields);
  size_t pos = 0;
  for (const char *line : expect) {
    size_t at = text.find(line, pos);
    ASSERT_NE(at, std::string::npos) << line << "\n" << text.substr(0, 600);
    pos = at + std::strlen(line);
  }
}

TEST_F(BenchProcess, CliMessages) {
  write_file(dir + "/agent.bin", "x");
  const struct {
    std::vector<std::string> args;
    int status;
    const char *text;
  } cases[] = {
      {{"rom-version", "2-1"}, 0, "Version: 3.01"},
      {{"rom-version", "9-9"}, 1, "no device on interface 9-9"},
      {{"download", "2-1", "--dkb", dir + "/missing.bin"}, 1, "cannot read"},
      {{"download", "2-1"}, 0, "Download complete"},  // the agent the tools carry
      {{"bogus"}, 2, "usage"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> args = {NORVANE_CLI};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string log = dir + "/cli.log";
    EXPECT_EQ(run(args, {"NORVANE_USB=sim:" + socket}, log), c.status) << c.args[0];
    EXPECT_NE(read_file(log).find(c.text), std::string::npos) << read_file(log);
  }
  std::string log = dir + "/cli.log";
  EXPECT_EQ(run({NORVANE_CLI, "rom-version", "2-1"}, {"NORVANE_USB=simm:" + socket}, log), 1);
  EXPECT_NE(read_file(log).find("usb: unknown NORVANE_USB \"simm:" + socket + "\""), std::string::npos)
      << read_file(log);
}

TEST_F(BenchProcess, ASecondBenchLeavesTheLiveSocketAlone) {
  std::string log = dir + "/second.log";
  EXPECT_EQ(run({HANDSET_BENCH, "--socket", socket, "--dir", dir + "/files2", dir + "/bench.ini"},
                {}, log),
            1);
  EXPECT_NE(read_file(log).find("another bench serves " + socket), std::string::npos)
      << read_file(log);
  std::string answer;
  EXPECT_EQ(usb_sim::control(socket.c_str(), "status 2-1", answer), 0);  // still the first one's
}

TEST_F(BenchProcess, ExclusiveOpenAndUnplugOverTheSocket) {
  ASSERT_EQ(usb_use_backend(("sim:" + socket).c_str()), 0);
  std::string path = "\\\\?\\usb#vid_8086&pid_d001#2-1#" USB_GUID_TEXT;
  usb_dev_handle *h = usb_open(path.c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(usb_open(path.c_str()), nullptr);  // busy, as on Windows
  std::string log = dir + "/busy.log";
  EXPECT_EQ(run({NORVANE_CLI, "rom-version", "2-1"}, {"NORVANE_USB=sim:" + socket}, log), 1);
  EXPECT_NE(read_file(log).find("busy"), std::string::npos) << read_file(log);
  EXPECT_EQ(usb_bulk_write(h, 0x02, "\x00\xD3\x02\x2B", 4, 2000), 4);
  char echo[4];
  EXPECT_EQ(usb_bulk_read(h, 0x81, echo, 4, 2000), 4);
  EXPECT_EQ(usb_bulk_read(h, 0x81, echo, 4, 50), -5);  // nothing more: time-out
  for (int i = 0; i < 20; ++i) {  // closed means closed: the next open finds it free
    usb_close(h);
    h = usb_open(path.c_str());
    ASSERT_NE(h, nullptr) << i;
  }
  std::string answer;
  EXPECT_EQ(usb_sim::control(socket.c_str(), "unplug 2-1", answer), 0);
  EXPECT_EQ(usb_bulk_read(h, 0x81, echo, 4, 2000), -116);
  EXPECT_EQ(usb_bulk_write(h, 0x02, "abcd", 4, 2000), -1);
  usb_close(h);
  EXPECT_EQ(usb_open(path.c_str()), nullptr);  // gone
  EXPECT_EQ(usb_sim::control(socket.c_str(), "plug 2-1", answer), 0);
  h = usb_open(path.c_str());
  EXPECT_NE(h, nullptr);
  usb_close(h);
  EXPECT_EQ(usb_sim::control(socket.c_str(), "unplug 7-7", answer), -1);
  EXPECT_EQ(usb_sim::control(socket.c_str(), "frobnicate", answer), -1);
  EXPECT_EQ(answer, "unknown command \"frobnicate\"");
  EXPECT_EQ(usb_sim::control(socket.c_str(), "fault 2-1 frobnicate", answer), -1);
  EXPECT_EQ(usb_sim::control(socket.c_str(), "fault 2-1 zero-grant", answer), 0);
  EXPECT_NE(answer.find("\"faults\":\"zero-grant\""), std::string::npos) << answer;
}

}  // namespace
