// The libusb backend for real, without hardware: a download recorded on the bench (sim:
// backend, capture on) is replayed by umockdev against norvane_cli on the libusb backend, with
// a device description written from the simulated device. This proves enumeration, interface
// names, open, claim and every transfer of the libusb path; one byte off fails it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent_images.h"
#include "usb/usb_sim_protocol.h"
#include "usb_descriptors.h"

extern char **environ;

namespace {

void write_file(const std::string &path, const std::string &content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

pid_t spawn(const std::vector<std::string> &args, const std::vector<std::string> &env_add,
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
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

int wait_exit(pid_t pid) {
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LibusbBackend, ReplaysABenchDownloadUnderUmockdev) {
  std::string dir = ::testing::TempDir() + "umockdev_" + std::to_string(::getpid());
  ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
  const std::string port = "3-2";
  write_file(dir + "/bench.ini", "[h]\nport = " + port + "\nbus = 3\nidentity = 1286:8104\ngrant = 4096\n");
  std::vector<uint8_t> bytes = well_formed_agent_image(20000, 3);
  std::string image(bytes.begin(), bytes.end());
  write_file(dir + "/agent.bin", image);
  std::string socket = dir + "/bench.sock";
  pid_t bench = spawn({HANDSET_BENCH, "--socket", socket, "--dir", dir + "/files", dir + "/bench.ini"},
                      {}, dir + "/bench.log");
  ASSERT_GT(bench, 0);
  std::string status;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (usb_sim::control(socket.c_str(), ("status " + port).c_str(), status) != 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  size_t at = status.find("\"device\":");
  ASSERT_NE(at, std::string::npos) << status;
  int devnum = std::atoi(status.c_str() + at + 9);

  // Record the download on the bench.
  std::string capture = dir + "/download.pcap";
  int recorded = wait_exit(spawn({NORVANE_CLI, "download", port, "--dkb", dir + "/agent.bin"},
                                 {"NORVANE_USB=sim:" + socket, "NORVANE_USB_CAPTURE=" + capture},
                                 dir + "/record.log"));
  ::kill(bench, SIGTERM);
  EXPECT_EQ(wait_exit(bench), 0);
  ASSERT_EQ(recorded, 0) << read_file(dir + "/record.log");

  // Replay it against the libusb backend: the same image passes, one changed byte does not.
  write_file(dir + "/device.umockdev", sim::umockdev_description(port, 0x1286, 0x8104, devnum));
  std::string changed = image;
  changed[15000] = static_cast<char>(changed[15000] ^ 1);
  write_file(dir + "/changed.bin", changed);
  const struct {
    std::string file;
    int status;
  } cases[] = {{dir + "/agent.bin", 0}, {dir + "/changed.bin", 1}};
  for (const auto &c : cases) {
    std::string log = dir + "/replay.log";
    int r = wait_exit(spawn({"umockdev-run", "-d", dir + "/device.umockdev", "-p",
                             sim::sysfs_path(port) + "=" + capture, "--", NORVANE_CLI, "download",
                             port, "--dkb", c.file},
                            {"NORVANE_USB=libusb"}, log));
    EXPECT_EQ(r, c.status) << c.file << "\n" << read_file(log);
    if (c.status == 0) {
      EXPECT_NE(read_file(log).find("Download complete"), std::string::npos) << read_file(log);
    }
  }
  if (!HasFailure()) {
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
  }
}

}  // namespace
