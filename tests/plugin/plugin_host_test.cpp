// The plug-in host against real shared libraries: each refusal with its code and nothing left
// loaded, the calls forwarded unchanged, and the example plug-in under concurrent calls.
#include "post_plugin_handler.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "test_files.h"

namespace {

class PluginHost : public scratch_dir_test {
 protected:
  void SetUp() override {
    scratch_dir_test::SetUp();
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);  // the host reads ./post_plugin.ini
  }
  void TearDown() override {
    ASSERT_EQ(chdir(old_cwd_), 0);
    scratch_dir_test::TearDown();
  }
  void configure(const std::string &text) { write("post_plugin.ini", text); }
  static bool is_loaded(const char *path) {
    void *h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
  }
  char old_cwd_[4096];
};

TEST_F(PluginHost, NoConfigurationMeansNoPluginAndNoError) {
  int err = -1;
  EXPECT_EQ(plugin_handler_init(&err), nullptr);
  EXPECT_EQ(err, 0);
}

TEST_F(PluginHost, RefusalsCarryTheirCodeAndLeaveNothingLoaded) {
  write("not_a_library.so", "not an ELF file\n");
  const struct {
    std::string config;
    int code;
    const char *library;
  } cases[] = {
      {"[Plugin]\nextra_read_size = 16\n", ERROR_POST_PLUGIN_NO_DLL_NAME, nullptr},
      {"[Plugin]\ndll_name =\n", ERROR_POST_PLUGIN_NO_DLL_NAME, nullptr},
      {"[Plugin]\ndll_name = " + path("missing.so") + "\n", ERROR_POST_PLUGIN_LOAD_DLL_FAILED, nullptr},
      {"[Plugin]\ndll_name = " + path("not_a_library.so") + "\n", ERROR_POST_PLUGIN_LOAD_DLL_FAILED, nullptr},
      {std::string("[Plugin]\ndll_name = ") + TEST_PLUGIN_FOUR + "\n", ERROR_POST_PLUGIN_LOAD_DLL_FUNC_FAILED,
       TEST_PLUGIN_FOUR},
      {std::string("[plugin]\nDLL_NAME = ") + TEST_PLUGIN_INIT_NULL + "\n", ERROR_POST_PLUGIN_INIT_DLL_FAILED,
       TEST_PLUGIN_INIT_NULL},
  };
  for (const auto &c : cases) {
    configure(c.config);
    int err = -1;
    EXPECT_EQ(plugin_handler_init(&err), nullptr) << c.config;
    EXPECT_EQ(err, c.code) << c.config;
    if (c.library) {
      EXPECT_FALSE(is_loaded(c.library)) << c.library;
    }
  }
}

TEST_F(PluginHost, LoadsAndForwardsCallsUnchanged) {
  configure(std::string("[Plugin]\ndll_name = ") + TEST_PLUGIN_FULL +
            "\nextra_read_addr = 0x100000\nextra_read_size = 4096\n");
  int err = -1;
  void *h = plugin_handler_init(&err);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(err, 0);  // the plug-in wrote 99; the host overwrites it
  EXPECT_STREQ(plugin_handler_get_name(h), "test plug-in");
  EXPECT_EQ(plugin_handler_get_extra_read_addr(h), 0x100000);
  EXPECT_EQ(plugin_handler_get_extra_read_size(h), 4096);
  char version[] = "2.1";
  for (char result : {0, 7, 1, -3}) {
    char buf[1] = {result};
    EXPECT_EQ(plugin_handler_download_finish_cb(h, nullptr, buf, 1, 1, version), result);
  }
  plugin_handler_finailize(h);
  EXPECT_FALSE(is_loaded(TEST_PLUGIN_FULL));
}

TEST_F(PluginHost, ExampleWritesWholeLinesFromManyThreads) {
  setenv("POST_PLUGIN_EXAMPLE_LOG", path("readback.log").c_str(), 1);
  configure(std::string("[Plugin]\ndll_name = ") + EXAMPLE_PLUGIN + "\nextra_read_size = 64\n");
  int err = -1;
  void *h = plugin_handler_init(&err);
  ASSERT_NE(h, nullptr) << err;
  constexpr int kThreads = 8, kCalls = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([h, t] {
      std::vector<char> data(64, t == 0 ? char(0xFF) : char(t));
      char version[] = "Norvane example handset 1.0";
      for (int i = 0; i < kCalls; ++i)
        EXPECT_EQ(plugin_handler_download_finish_cb(h, nullptr, data.data(), int(data.size()), 1, version), 0);
    });
  for (auto &t : threads) t.join();
  std::ifstream log(path("readback.log"));
  std::string line;
  int lines = 0, blank = 0;
  while (std::getline(log, line)) {
    ++lines;
    EXPECT_NE(line.find(" version=\"Norvane example handset 1.0\" program_okay=1 bytes=64 md5="),
              std::string::npos) << line;
    if (line.find(" blank=yes") != std::string::npos) ++blank;
  }
  EXPECT_EQ(lines, kThreads * kCalls);
  EXPECT_EQ(blank, kCalls);  // only thread 0 read back an all-0xFF area
  // The MD5 of 64 bytes of 0xFF, as the line reports it.
  std::ifstream again(path("readback.log"));
  std::stringstream all;
  all << again.rdbuf();
  EXPECT_NE(all.str().find("md5=aabd2b2a451504e119a243d8e775fdad blank=yes"), std::string::npos) << all.str().substr(0, 200);

  setenv("POST_PLUGIN_EXAMPLE_LOG", path("no/such/dir/log").c_str(), 1);
  plugin_handler_finailize(h);
  h = plugin_handler_init(&err);
  ASSERT_NE(h, nullptr);
  char data[4] = {1, 2, 3, 4}, version[] = "v";
  EXPECT_EQ(plugin_handler_download_finish_cb(h, nullptr, data, 4, 1, version), 1);
  plugin_handler_finailize(h);
  unsetenv("POST_PLUGIN_EXAMPLE_LOG");
}

}  // namespace
