// The main program's state machine on the fake handset, in virtual time.
#include "handset.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using strings = std::vector<std::string>;

constexpr double tolerance = 1e-6;

const strings alarm_boot_commands{
    "shell /system/bin/echo 1 >  /data/.poweroff-charge-alarm",
    "shell /system/bin/chmod 777    /data/.poweroff-charge-alarm",
    "shell /system/bin/sync",
    "shell /system/bin/reboot",
};

strings cycle_pictures(const std::string& level, int frames = 6)
{
    strings names;
    for (int k = 1; k <= frames; ++k) {
        names.push_back("power_off_charging_" + std::to_string(k));
        names.push_back(level);
    }
    return names;
}

size_t index_in(const std::vector<trace_entry>& trace, const std::string& what)
{
    for (size_t i = 0; i < trace.size(); ++i)
        if (trace[i].what == what) return i;
    return trace.size();
}

TEST(BatteryLevelStep, MapsCapacityToItsPicture)
{
    const struct { int capacity, step; } cases[] = {
        {100, 100}, {99, 90}, {90, 90}, {89, 80}, {80, 80}, {79, 60}, {60, 60}, {59, 40},
        {40, 40}, {39, 20}, {20, 20}, {19, 10}, {10, 10}, {9, 5}, {5, 5}, {4, 0}, {0, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(battery_level_step(c.capacity), c.step) << c.capacity;
}

TEST(Charger, StartedWhileDischargingPowersOffWithoutDrawing)
{
    handset h;
    h.status_at(0, "Discharging\n");
    run_result r = h.run(10);
    ASSERT_TRUE(r.returned) << r.stop_reason;
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(h.pictures().empty());
    EXPECT_EQ(h.commands(), strings{"shell /system/bin/reboot -p "});
    auto trace = h.os.trace();
    size_t logged = index_in(trace, "out poweroff \n");
    size_t dim = index_in(trace, bright_off);
    size_t blank = index_in(trace, blank_off);
    size_t command = index_in(trace, "shell /system/bin/reboot -p ");
    EXPECT_LT(logged, dim);
    EXPECT_LT(dim, blank);
    EXPECT_LT(blank, command);
    EXPECT_FALSE(h.os.has(blank_on)) << "start-up only clears the screen";
    const std::vector<uint8_t>& fb = h.os.fb.memory;
    EXPECT_TRUE(std::all_of(fb.begin(), fb.begin() + 960 * 800, [](uint8_t b) { return b == 0; }))
        << "the visible screen is cleared to black";
}

TEST(Charger, MissingStatusFilePowersOff)
{
    handset h;
    h.os.remove_file(battery_status_path);
    run_result r = h.run(10);
    ASSERT_TRUE(r.returned);
    EXPECT_NE(h.os.standard_output().find("Could not open '/sys/class/power_supply/battery/status'"
                                          "Unknown battery status !poweroff \n"),
              std::string::npos)
        << h.os.standard_output();
    EXPECT_EQ(h.commands(), strings{"shell /system/bin/reboot -p "});
}

TEST(Charger, EachFrameShowsTheLevelOfTheCapacity)
{
    const struct { const char* capacity; const char* level; } cases[] = {
        {"100\n", "100"}, {"99\n", "90"}, {"75\n", "60"}, {"50\n", "40"}, {"9\n", "5"},
        {"4\n", "0"}, {"", "0"},
    };
    for (const auto& c : cases) {
        handset h;
        h.os.set_file(battery_capacity_path, c.capacity);
        h.status_at(4.5, "Discharging\n");
        run_result r = h.run(20);
        ASSERT_TRUE(r.returned);
        EXPECT_EQ(h.pictures(), cycle_pictures(c.level)) << c.capacity;
        EXPECT_EQ(h.commands(), strings{"shell /system/bin/reboot -p "});
    }
}

TEST(Charger, FullBatteryShowsOnlyFrameSixAndHundred)
{
    handset h;
    h.status_at(0, "Full\n");
    h.os.set_file(battery_capacity_path, "37\n");
    h.status_at(3.0, "Discharging\n");
    run_result r = h.run(20);
    ASSERT_TRUE(r.returned);
    strings expected;
    for (int pass = 0; pass < 4; ++pass) {
        expected.push_back("power_off_charging_6");
        expected.push_back("100");
    }
    EXPECT_EQ(h.pictures(), expected);
    EXPECT_FALSE(h.os.has("open /sys/class/power_supply/battery/capacity 0x0"));
    EXPECT_EQ(h.commands(), strings{"shell /system/bin/reboot -p "});
}

TEST(Charger, ChargerRemovedMidCycleEndsAfterTheShowingFrame)
{
    handset h;
    h.status_at(2.0, "Discharging\n");
    run_result r = h.run(20);
    ASSERT_TRUE(r.returned);
    EXPECT_EQ(h.pictures(), cycle_pictures("40", 3));
    EXPECT_NEAR(h.time_of("shell /system/bin/reboot -p "), 2.4, tolerance);
}

TEST(Charger, BecomingFullMidCycleFinishesTheCycleFirst)
{
    handset h;
    h.status_at(2.0, "Full\n");
    h.status_at(6.0, "Discharging\n");
    run_result r = h.run(20);
    ASSERT_TRUE(r.returned);
    strings expected = cycle_pictures("40");
    for (int pass = 0; pass < 2; ++pass) {
        expected.push_back("power_off_charging_6");
        expected.push_back("100");
    }
    EXPECT_EQ(h.pictures(), expected);
}

TEST(Charger, ScreenGoesDarkAfterFourteenSecondsAndPollsWhileDark)
{
    handset h;
    h.status_at(17.0, "Discharging\n");
    run_result r = h.run(30);
    ASSERT_TRUE(r.returned);
    EXPECT_NEAR(h.time_of(handset::timeout_line(4, 0)), 4.8, tolerance);
    EXPECT_NEAR(h.time_of(handset::timeout_line(9, 0)), 9.6, tolerance);
    EXPECT_NEAR(h.time_of(handset::timeout_line(14, 0)), 14.4, tolerance);
    EXPECT_NEAR(h.time_of(bright_off), 14.4, tolerance);
    auto trace = h.os.trace();
    EXPECT_LT(index_in(trace, bright_off), index_in(trace, blank_off));
    const std::vector<double> dark_passes{14.4, 15.2, 16.0, 16.8, 17.6};
    std::vector<double> logged = h.times_of("out lcd thread\n");
    ASSERT_EQ(logged.size(), dark_passes.size());
    for (size_t i = 0; i < logged.size(); ++i) EXPECT_NEAR(logged[i], dark_passes[i], tolerance);
    // The dark branch lights the screen for the status change, then the lit pass powers off.
    EXPECT_NEAR(h.time_of(blank_on), 17.6, tolerance);
    EXPECT_LT(index_in(trace, blank_on), index_in(trace, bright_on));
    EXPECT_NEAR(h.time_of("shell /system/bin/reboot -p "), 18.4, tolerance);
    strings three_cycles;
    for (int cycle = 0; cycle < 3; ++cycle)
        for (const std::string& p : cycle_pictures("40")) three_cycles.push_back(p);
    EXPECT_EQ(h.pictures(), three_cycles) << "nothing is drawn while dark";
}

TEST(Charger, KeysAndTouchesThatLightADarkScreen)
{
    const struct {
        const char* what;
        const char* device;
        uint16_t type, code;
        int32_t value;
        bool lights;
    } cases[] = {
        {"key press", key_device_path, EV_KEY, KEY_VOLUMEUP, 1, true},
        {"key repeat", key_device_path, EV_KEY, KEY_VOLUMEUP, 2, false},
        {"key release", key_device_path, EV_KEY, KEY_VOLUMEUP, 0, false},
        {"key code 0", key_device_path, EV_KEY, 0, 1, false},
        {"touch ABS_Y", touch_device_path, EV_ABS, ABS_Y, 300, true},
        {"touch ABS_X", touch_device_path, EV_ABS, ABS_X, 300, false},
        {"touch key", touch_device_path, EV_KEY, BTN_TOUCH, 1, false},
    };
    for (const auto& c : cases) {
        handset h;
        h.report(c.device, 16.0, c.type, c.code, c.value);
        run_result r = h.run(17.0);
        EXPECT_FALSE(r.returned);
        EXPECT_NEAR(h.time_of(blank_off), 14.4, tolerance) << c.what;
        EXPECT_NEAR(h.time_of(blank_on), c.lights ? 16.0 : -1, tolerance) << c.what;
        EXPECT_TRUE(h.commands().empty()) << c.what;
    }
}

TEST(Charger, KeyPressRestartsTheTimeout)
{
    handset h;
    h.key(5.0, KEY_VOLUMEDOWN, 1);
    h.key(5.1, KEY_VOLUMEDOWN, 0);
    run_result r = h.run(21);
    EXPECT_FALSE(r.returned);
    EXPECT_TRUE(h.os.has(handset::timeout_line(14, 5)));
    EXPECT_NEAR(h.time_of(bright_off), 19.2, tolerance);
}

TEST(Charger, PowerKeyHoldIsTimedInWholeClockSeconds)
{
    const struct {
        double press, release;
        bool boots;
        double reboot_at;
    } cases[] = {
        {20.2, 20.9, false, -1},  // same clock second: lights only
        {20.9, 21.1, true, 22.4},  // a later second: boot at the next check point
        {10.2, 10.9, false, -1},
        {10.9, 11.1, true, 11.2},  // lit: at the check point after 11.0
    };
    for (const auto& c : cases) {
        handset h;
        h.key(c.press, KEY_POWER, 1);
        h.key(c.release, KEY_POWER, 0);
        run_result r = h.run(25);
        EXPECT_EQ(r.returned, c.boots) << c.press;
        if (c.press > 14.4) {
            EXPECT_NEAR(h.time_of(blank_on), c.press, tolerance) << c.press;
        }
        if (c.boots) {
            EXPECT_EQ(h.commands(), strings{"shell /system/bin/reboot"});
            EXPECT_NEAR(h.time_of("shell /system/bin/reboot"), c.reboot_at, tolerance);
        } else {
            EXPECT_TRUE(h.commands().empty()) << c.press;
        }
    }
}

TEST(Charger, PowerKeyHeldWhileFullRebootsByItsAbsolutePath)
{
    handset h;
    h.status_at(0, "Full\n");
    h.key(2.9, KEY_POWER, 1);
    run_result r = h.run(10);
    ASSERT_TRUE(r.returned);
    EXPECT_EQ(h.commands(), strings{"shell /system/bin/reboot"});
    EXPECT_NEAR(h.time_of("shell /system/bin/reboot"), 3.2, tolerance);
}

TEST(Charger, AlarmBootsWithMarkerFileAndWins)
{
    const struct {
        const char* what;
        double fires, discharging, power_key;
        double exit_at;
    } cases[] = {
        {"while charging", 3.0, -1, -1, 3.2},
        {"over power-off", 2.0, 2.1, -1, 2.4},
        {"over the key boot", 2.0, -1, 1.9, 2.4},
        {"on a dark screen", 16.1, -1, -1, 17.6},
    };
    for (const auto& c : cases) {
        handset h;
        h.os.alarm.pending_seconds = 30;
        h.os.alarm.fire_at_us = seconds_us(c.fires);
        if (c.discharging >= 0) h.status_at(c.discharging, "Discharging\n");
        if (c.power_key >= 0) h.key(c.power_key, KEY_POWER, 1);
        run_result r = h.run(30);
        ASSERT_TRUE(r.returned) << c.what;
        EXPECT_TRUE(h.os.has("ioctl /dev/alarm 0x40086109 {0,0}"));
        EXPECT_TRUE(h.os.has("ioctl /dev/alarm 0x40086102 {30,0}"));
        EXPECT_NE(h.os.standard_output().find(" get poweroff alarm : 30\n"), std::string::npos);
        EXPECT_NE(h.os.standard_output().find("alarm thread \n"), std::string::npos);
        EXPECT_NEAR(h.time_of("out alarm_wait=1 \n"), c.fires, tolerance);
        EXPECT_EQ(h.commands(), alarm_boot_commands) << c.what;
        EXPECT_NEAR(h.time_of(alarm_boot_commands[0]), c.exit_at, tolerance) << c.what;
        EXPECT_TRUE(h.os.has("close /dev/alarm"));
    }
}

TEST(Charger, AlarmOnADarkScreenLightsItAndDrawsOnceBeforeBooting)
{
    handset h;
    h.os.alarm.pending_seconds = 100;
    h.os.alarm.fire_at_us = seconds_us(16.1);
    run_result r = h.run(30);
    ASSERT_TRUE(r.returned);
    EXPECT_NEAR(h.time_of(blank_on), 16.1, tolerance);
    strings pictures = h.pictures();
    strings expected;
    for (int cycle = 0; cycle < 3; ++cycle)
        for (const std::string& p : cycle_pictures("40")) expected.push_back(p);
    expected.push_back("power_off_charging_1");
    expected.push_back("40");
    EXPECT_EQ(pictures, expected);
}

TEST(Charger, NoAlarmThreadWithoutAPendingAlarm)
{
    const struct {
        const char* what;
        int query_result, pending;
        const char* logged;
    } cases[] = {
        {"none pending", 0, 0, " get poweroff alarm : 0\n"},
        {"query fails", -EINVAL, 40, "Unable to get poweroff alarm \n"},
        {"in the past", 0, -5, " get poweroff alarm : -5\n"},
    };
    for (const auto& c : cases) {
        handset h;
        h.os.alarm.query_result = c.query_result;
        h.os.alarm.pending_seconds = c.pending;
        h.os.alarm.fire_at_us = seconds_us(1.0);
        h.status_at(3.0, "Discharging\n");
        run_result r = h.run(10);
        ASSERT_TRUE(r.returned);
        std::string out = h.os.standard_output();
        EXPECT_NE(out.find(c.logged), std::string::npos) << c.what;
        EXPECT_EQ(out.find("alarm thread "), std::string::npos) << c.what;
        EXPECT_TRUE(h.os.with_prefix("ioctl /dev/alarm 0x40086102").empty()) << c.what;
        EXPECT_EQ(h.commands(), strings{"shell /system/bin/reboot -p "}) << c.what;
    }
}

TEST(Charger, FailedAlarmWaitIsNoAlarm)
{
    handset h;
    h.os.alarm.pending_seconds = 30;
    h.os.alarm.fire_at_us = seconds_us(1.0);
    h.os.alarm.fail_errno = EIO;
    h.status_at(3.0, "Discharging\n");
    run_result r = h.run(10);
    ASSERT_TRUE(r.returned);
    std::string out = h.os.standard_output();
    EXPECT_NE(out.find("Unable to wait on alarm: Input/output error\nalarm_wait=-5 \n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("alarm thread "), out.rfind("alarm thread ")) << "waited only once";
    EXPECT_EQ(h.commands(), strings{"shell /system/bin/reboot -p "});
    EXPECT_FALSE(h.os.has(blank_on)) << "a failed wait lights nothing";
}

TEST(Charger, InterruptedAlarmWaitIsRetriedSilently)
{
    handset h;
    h.os.alarm.pending_seconds = 30;
    h.os.alarm.fire_at_us = seconds_us(1.0);
    h.os.alarm.interruptions = 2;
    run_result r = h.run(10);
    ASSERT_TRUE(r.returned);
    std::string out = h.os.standard_output();
    EXPECT_NEAR(h.time_of("out alarm_wait=1 \n"), 1.0, tolerance);
    EXPECT_EQ(out.find("Unable to wait"), std::string::npos);
    EXPECT_EQ(h.commands(), alarm_boot_commands);
}

TEST(Charger, StartupFailuresQuitWithStatusOne)
{
    const struct {
        const char* what;
        bool alarm_device, key_device;
        int pending, failing_thread;
        const char* logged;
    } cases[] = {
        {"no alarm device", false, true, 0, -1,
         "cannot open alarm device...quit program...\n"},
        {"alarm thread", true, true, 30, 0, "cannotcreate alarm pthread...quit program...\n"},
        {"no key device", true, false, 0, -1,
         " cannot find  device /dev/input/event2 \ncannot setup hardkey...quit program...\n"},
        {"key thread", true, true, 0, 0, "cannotcreate key  pthread...quit program...\n"},
        {"touch thread", true, true, 0, 1, "cannotcreate touch  pthread...quit program...\n"},
    };
    for (const auto& c : cases) {
        fake_platform os;
        charger program{os};
        os.alarm.present = c.alarm_device;
        if (c.key_device) os.add_input_device(key_device_path);
        os.add_input_device(touch_device_path);
        os.alarm.pending_seconds = c.pending;
        os.fail_thread_start = c.failing_thread;
        run_result r = os.run([&] { return charger_main(program); }, seconds_us(10));
        ASSERT_TRUE(r.returned) << c.what;
        EXPECT_EQ(r.status, 1) << c.what;
        std::string out = os.standard_output();
        EXPECT_NE(out.find(c.logged), std::string::npos) << c.what << ": " << out;
        EXPECT_FALSE(os.has("open /dev/tty1 0x1")) << c.what;
        EXPECT_TRUE(os.with_prefix("shell ").empty()) << c.what;
        bool key_thread_runs = std::string(c.what) == "touch thread";
        EXPECT_EQ(program.key != nullptr, key_thread_runs) << c.what;
        if (key_thread_runs) {
            EXPECT_EQ(program.touch, nullptr);
        }
    }
}

TEST(Charger, RunsOnWithoutTouchScreen)
{
    fake_platform os;
    charger program{os};
    os.add_input_device(key_device_path);
    os.set_file(battery_status_path, "Charging\n");
    os.set_file(battery_status_path, "Discharging\n", seconds_us(1.0));
    run_result r = os.run([&] { return charger_main(program); }, seconds_us(10));
    ASSERT_TRUE(r.returned);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(os.standard_output().find(" cannot find  device /dev/input/event0 \n"),
              std::string::npos);
    EXPECT_EQ(os.with_prefix("shell "), strings{"shell /system/bin/reboot -p "});
}

TEST(Charger, WithoutADisplayEverythingButDrawingGoesOn)
{
    handset h;
    h.os.console.present = false;
    h.os.fb.present = false;
    h.key(1.5, KEY_POWER, 1);
    run_result r = h.run(10);
    ASSERT_TRUE(r.returned);
    EXPECT_EQ(h.commands(), strings{"shell /system/bin/reboot"});
    EXPECT_FALSE(h.os.has("open /dev/graphics/fb0 0x2"));
    EXPECT_EQ(h.pictures(), cycle_pictures("40", 3));
    EXPECT_TRUE(h.os.has(bright_off)) << "the screen power is still switched";
}

}  // namespace
