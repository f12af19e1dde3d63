// The real platform against the real kernel: results as negated error numbers, select on
// one descriptor, shared mappings, threads and the clock.
#include "platform.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fb.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(LinuxPlatform, FailuresAreNegatedErrorNumbers)
{
    platform& os = linux_platform();
    EXPECT_EQ(os.open("/nonexistent/charger/file", O_RDONLY), -ENOENT);
    EXPECT_EQ(os.close(-1), -EBADF);
    char byte;
    EXPECT_EQ(os.read(-1, &byte, 1), -EBADF);
    int fd = os.open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    fb_var_screeninfo vi{};
    EXPECT_EQ(os.ioctl(fd, FBIOGET_VSCREENINFO, reinterpret_cast<uintptr_t>(&vi)), -ENOTTY);
    EXPECT_EQ(os.map_shared(-1, 4096), nullptr);
    EXPECT_EQ(os.close(fd), 0);
}

TEST(LinuxPlatform, WaitsForOneDescriptorAtMostTheTimeGiven)
{
    platform& os = linux_platform();
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    EXPECT_EQ(os.wait_readable(pipe_fds[0], 500), 0);
    EXPECT_EQ(os.write(pipe_fds[1], "k", 1), 1);
    EXPECT_EQ(os.wait_readable(pipe_fds[0], 500), 1);
    char byte = 0;
    EXPECT_EQ(os.read(pipe_fds[0], &byte, 1), 1);
    EXPECT_EQ(byte, 'k');
    EXPECT_EQ(os.wait_readable(-1, 500), 0) << "no descriptor: only the wait";
    os.close(pipe_fds[0]);
    os.close(pipe_fds[1]);
}

TEST(LinuxPlatform, MapsAFileSharedAndSeeks)
{
    platform& os = linux_platform();
    char name[] = "/tmp/charger-map-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 4096), 0);
    auto* map = static_cast<uint8_t*>(os.map_shared(fd, 4096));
    ASSERT_NE(map, nullptr);
    map[100] = 0x5A;
    uint8_t back = 0;
    EXPECT_EQ(os.seek_set(fd, 100), 0);
    EXPECT_EQ(os.read(fd, &back, 1), 1);
    EXPECT_EQ(back, 0x5A) << "the mapping is shared with the file";
    close(fd);
    unlink(name);
}

TEST(LinuxPlatform, StartsThreadsAndTellsTheTime)
{
    platform& os = linux_platform();
    static std::atomic<int> ran{0};
    ASSERT_EQ(os.start_thread([](void* p) { static_cast<std::atomic<int>*>(p)->store(1); }, &ran), 0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ran.load() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    EXPECT_EQ(ran.load(), 1);
    long before = static_cast<long>(time(nullptr));
    long now = os.now();
    EXPECT_LE(before, now);
    EXPECT_LE(now, static_cast<long>(time(nullptr)));
}

TEST(LinuxPlatform, ShellIsTheHandsets)
{
    // On a host without /system/bin/sh the child cannot exec it and ends with 127.
    if (access("/system/bin/sh", X_OK) == 0) GTEST_SKIP() << "this machine has /system/bin/sh";
    int status = linux_platform().run_shell("exit 0");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127);
}

}  // namespace
