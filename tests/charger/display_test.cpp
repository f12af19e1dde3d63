// The display: console and framebuffer set-up with its failure paths, clearing, and the
// screen power writes.
#include "display.h"
#include "fake_platform.h"

#include <gtest/gtest.h>
#include <linux/kd.h>
#include <linux/vt.h>

namespace {

using strings = std::vector<std::string>;

strings requests_and_logs(fake_platform& os)
{
    strings seen;
    for (const trace_entry& e : os.trace())
        if (e.what.rfind("write ", 0) != 0) seen.push_back(e.what);
    return seen;
}

TEST(InitDisplay, SwitchesTheFreeConsoleToGraphicsAndMapsTheScreen)
{
    fake_platform os;
    os.console.free_console = 4;
    os.set_framebuffer(320, 240, 16, 640, 640 * 480);
    display d(os);
    ASSERT_EQ(init_display(d), 0);
    const strings expected{
        "err line 216 : vtname is:/dev/tty1\n",
        "open /dev/tty1 0x1",
        "ioctl /dev/tty1 0x5600",
        "close /dev/tty1",
        "err line 229 : vtname is:/dev/tty4\n",
        "open /dev/tty4 0x802",
        "ioctl /dev/tty4 0x5603",
        "ioctl /dev/tty4 0x5606 4",
        "ioctl /dev/tty4 0x5607 4",
        "ioctl /dev/tty4 0x4b3a 1",
        "open /dev/graphics/fb0 0x2",
        "ioctl /dev/graphics/fb0 0x4602",
        "ioctl /dev/graphics/fb0 0x4600",
        "err vi.xres = 320\n",
        "err vi.yres = 240\n",
        "err vi.xresv = 320\n",
        "err vi.yresv = 240\n",
        "err vi.xoff = 0\n",
        "err vi.yoff = 0\n",
        "err vi.bits_per_pixel = 16\n",
        "err fi.line_length = 640\n",
        "map 307200",
        "ioctl /dev/graphics/fb0 0x4601 yres_virtual=480 yoffset=0",
    };
    EXPECT_EQ(requests_and_logs(os), expected);
    EXPECT_EQ(screen_width(d), 320u);
    EXPECT_EQ(screen_height(d), 240u);
    EXPECT_EQ(d.surface.pixels, os.fb.memory.data());
}

TEST(InitDisplay, EachFailureLeavesNoScreen)
{
    const struct {
        const char* what;
        bool console, framebuffer;
        unsigned long console_fails, fb_fails;
        bool map_fails;
        strings tail;  // the last requests, in order
    } cases[] = {
        {"no console", false, true, 0, 0, false, {"open /dev/tty1 0x1"}},
        {"VT_OPENQRY", true, true, VT_OPENQRY, 0, false,
         {"ioctl /dev/tty1 0x5600", "close /dev/tty1"}},
        {"VT_ACTIVATE", true, true, VT_ACTIVATE, 0, false,
         {"ioctl /dev/tty7 0x5606 7", "close /dev/tty7"}},
        {"VT_WAITACTIVE", true, true, VT_WAITACTIVE, 0, false,
         {"ioctl /dev/tty7 0x5607 7", "close /dev/tty7"}},
        {"KDSETMODE", true, true, KDSETMODE, 0, false,
         {"ioctl /dev/tty7 0x4b3a 1", "close /dev/tty7"}},
        {"no framebuffer", true, false, 0, 0, false,
         {"open /dev/graphics/fb0 0x2", "ioctl /dev/tty7 0x4b3a 0", "close /dev/tty7"}},
        {"FBIOGET_FSCREENINFO", true, true, 0, FBIOGET_FSCREENINFO, false,
         {"close /dev/graphics/fb0", "ioctl /dev/tty7 0x4b3a 0", "close /dev/tty7"}},
        {"FBIOGET_VSCREENINFO", true, true, 0, FBIOGET_VSCREENINFO, false,
         {"close /dev/graphics/fb0", "ioctl /dev/tty7 0x4b3a 0", "close /dev/tty7"}},
        {"mmap", true, true, 0, 0, true,
         {"close /dev/graphics/fb0", "ioctl /dev/tty7 0x4b3a 0", "close /dev/tty7"}},
    };
    for (const auto& c : cases) {
        fake_platform os;
        os.console.present = c.console;
        os.fb.present = c.framebuffer;
        if (c.console_fails) os.console.fail[c.console_fails] = EINVAL;
        if (c.fb_fails) os.fb.fail[c.fb_fails] = EINVAL;
        os.fb.map_fails = c.map_fails;
        display d(os);
        EXPECT_EQ(init_display(d), -1) << c.what;
        strings seen = requests_and_logs(os);
        ASSERT_GE(seen.size(), c.tail.size()) << c.what;
        EXPECT_EQ(strings(seen.end() - static_cast<long>(c.tail.size()), seen.end()), c.tail)
            << c.what;
        EXPECT_EQ(d.surface.pixels, nullptr) << c.what;
        // Clearing and drawing on no screen touch nothing.
        std::vector<uint8_t> before = os.fb.memory;
        clear_screen(d, 480, 800);
        EXPECT_EQ(os.fb.memory, before) << c.what;
    }
}

TEST(InitDisplay, WithoutVtStateTheConsoleIsNotSwitched)
{
    fake_platform os;
    os.console.fail[VT_GETSTATE] = EINVAL;
    display d(os);
    EXPECT_EQ(init_display(d), 0);
    EXPECT_FALSE(os.has("ioctl /dev/tty7 0x5606 7"));
    EXPECT_TRUE(os.has("ioctl /dev/tty7 0x5607 7"));
}

TEST(ClearScreen, BlacksOutTheVisibleRowsOnly)
{
    const struct {
        unsigned bits, line_length;
        int width, height;
    } cases[] = {
        {16, 24, 10, 4},   // rows padded beyond the visible width
        {32, 48, 10, 4},
        {16, 20, 10, 4},
        {32, 40, 500, 900},  // asked for more than there is
        {24, 32, 10, 4},
    };
    for (const auto& c : cases) {
        fake_platform os;
        os.set_framebuffer(10, 4, c.bits, c.line_length, c.line_length * 8);
        display d(os);
        ASSERT_EQ(init_display(d), 0);
        clear_screen(d, c.width, c.height);
        unsigned bytes = c.bits / 8;
        for (unsigned y = 0; y < 8; ++y)
            for (unsigned x = 0; x < c.line_length; ++x) {
                bool visible = y < 4 && x < 10 * bytes;
                EXPECT_EQ(os.fb.memory[y * c.line_length + x], visible ? 0 : 0xA5)
                    << c.bits << " bpp, row " << y << " byte " << x;
            }
    }
}

TEST(ScreenPower, WritesInOrderAndLogsTheFirstOpenFailureOnly)
{
    fake_platform os;
    display d(os);
    EXPECT_EQ(lcd_power_off(d), 0);
    EXPECT_EQ(lcd_power_on(d), 0);
    EXPECT_EQ(os.with_prefix("write "),
              (strings{"write /sys/class/backlight/micco-bl/brightness 10\n",
                       "write /sys/class/graphics/fb0/blank 1\n",
                       "write /sys/class/graphics/fb0/blank 0\n",
                       "write /sys/class/backlight/micco-bl/brightness 100\n"}));
    EXPECT_EQ(os.standard_output(), "");

    os.remove_file("/sys/class/backlight/micco-bl/brightness");
    EXPECT_EQ(lcd_power_on(d), -ENOENT);
    os.remove_file("/sys/class/graphics/fb0/blank");
    EXPECT_EQ(lcd_power_off(d), -ENOENT);
    EXPECT_EQ(write_int(d, "/sys/other", 3), -ENOENT);
    EXPECT_EQ(os.standard_output(),
              "write_int failed to open /sys/class/backlight/micco-bl/brightness\n");
}

}  // namespace
