// Inputs and alarm: the input readers, the battery's sysfs texts and the alarm driver's
// requests, each against the fake handset outside a run (sleeps just move its clock).
#include "alarm.h"
#include "battery.h"
#include "fake_platform.h"
#include "input.h"

#include <gtest/gtest.h>

namespace {

TEST(ReadSysfsText, CutsAndDropsTrailingNewlines)
{
    const struct { std::string text; int count; std::string kept; } cases[] = {
        {"57\n", 2, "57"},
        {"Charging\n\n\n", 8, "Charging"},
        {"\n\n", 0, ""},
        {"", 0, ""},
        {std::string(127, 'x'), 127, std::string(127, 'x')},
        {std::string(128, 'y'), 127, std::string(127, 'y')},
        {std::string(300, 'z') + "\n", 127, std::string(127, 'z')},
        {std::string(126, 'a') + "\n\n", 126, std::string(126, 'a')},
    };
    for (const auto& c : cases) {
        fake_platform os;
        os.set_file("/sys/x", c.text);
        char buffer[128];
        EXPECT_EQ(read_sysfs_text(os, "/sys/x", buffer, sizeof buffer), c.count) << c.text;
        EXPECT_EQ(std::string(buffer), c.kept);
        EXPECT_EQ(os.standard_output(), "");
    }
}

TEST(ReadSysfsText, MissingFileIsLoggedWithoutNewline)
{
    fake_platform os;
    char buffer[16];
    EXPECT_EQ(read_sysfs_text(os, "/sys/none", buffer, sizeof buffer), -1);
    EXPECT_EQ(os.standard_output(), "Could not open '/sys/none'");
}

TEST(BatteryCapacity, ReadsLikeAtoiAndClamps)
{
    const struct { const char* text; int capacity; } cases[] = {
        {"57\n", 57}, {"150", 100}, {"-3", 0}, {"", 0}, {"\n\n", 0}, {"  42%", 42},
        {"+7", 7}, {"abc", 0}, {"100", 100}, {"99999999999999999999", 100},
        {"-99999999999999999999", 0}, {"0", 0},
    };
    for (const auto& c : cases) {
        fake_platform os;
        os.set_file(battery_capacity_path, c.text);
        EXPECT_EQ(get_battery_capacity(os), c.capacity) << c.text;
        EXPECT_EQ(os.standard_output(), "") << c.text;
    }
    fake_platform missing;
    EXPECT_EQ(get_battery_capacity(missing), 0);
    EXPECT_EQ(missing.standard_output(),
              "Could not open '/sys/class/power_supply/battery/capacity'");
}

TEST(BatteryStatus, ClassifiesTheFirstCharacter)
{
    const struct { const char* text; int status; const char* logged; } cases[] = {
        {"Charging\n", STATUS_CHARGING, ""},
        {"Discharging\n", STATUS_DISCHARGING, ""},
        {"Not charging\n", STATUS_NOT_CHARGING, ""},
        {"Full\n", STATUS_FULL, ""},
        {"Unknown\n", STATUS_INVALID, ""},
        {"charging\n", STATUS_INVALID, "Unknown battery status 'charging'"},
        {"", STATUS_INVALID, "Unknown battery status !"},
        {"\n", STATUS_INVALID, "Unknown battery status !"},
    };
    for (const auto& c : cases) {
        fake_platform os;
        os.set_file(battery_status_path, c.text);
        EXPECT_EQ(get_battery_status(os), c.status) << c.text;
        EXPECT_EQ(os.standard_output(), c.logged) << c.text;
    }
    fake_platform missing;
    EXPECT_EQ(get_battery_status(missing), STATUS_INVALID);
    EXPECT_EQ(missing.standard_output(),
              "Could not open '/sys/class/power_supply/battery/status'Unknown battery status !");
}

TEST(InputDevice, OpensReadsAndLogsEachEvent)
{
    const struct {
        const char* path;
        int (*open)(platform&, input_dev*);
        int (*read)(platform&, input_dev*);
        const char* count_text;
        const char* event_text;
    } devices[] = {
        {key_device_path, open_key_dev, read_key_event, "Read hard key return : ",
         "\nEvent key: time "},
        {touch_device_path, open_touch_dev, read_touch_event, "Read touch return : ",
         "\nEvent touch: time "},
    };
    for (const auto& d : devices) {
        fake_platform os;
        os.add_input_device(d.path);
        os.send_event(d.path, 1500, EV_KEY, KEY_POWER, 2);
        input_dev dev;
        ASSERT_EQ(d.open(os, &dev), 0);
        EXPECT_GT(dev.fd, 0);

        // Nothing yet: waits 500 us, returns 0 and keeps the (empty) event.
        EXPECT_EQ(d.read(os, &dev), 0);
        EXPECT_EQ(os.virtual_now_us(), 500);
        EXPECT_EQ(dev.event.type, 0);
        EXPECT_EQ(d.read(os, &dev), 0);
        EXPECT_EQ(d.read(os, &dev), KEY_POWER);
        EXPECT_EQ(os.virtual_now_us(), 1500);
        std::string expected = std::string(d.count_text) + std::to_string(sizeof(input_event)) +
                               "\n" + d.event_text + std::to_string(fake_platform::epoch) +
                               ".001500, type 1, code 116, value 2\n";
        EXPECT_EQ(os.standard_output(), expected);

        // Timed out again: the earlier event stays for the caller to look at.
        EXPECT_EQ(d.read(os, &dev), 0);
        EXPECT_EQ(dev.event.code, KEY_POWER);
        close_input_dev(os, &dev);
        EXPECT_EQ(dev.fd, 0);
        EXPECT_TRUE(os.has("close " + std::string(d.path)));
    }
}

TEST(InputDevice, MissingDeviceIsLoggedAndNeverDelivers)
{
    fake_platform os;
    input_dev dev;
    EXPECT_EQ(open_touch_dev(os, &dev), -1);
    EXPECT_EQ(os.standard_output(), " cannot find  device /dev/input/event0 \n");
    EXPECT_EQ(read_touch_event(os, &dev), 0);
    EXPECT_EQ(os.virtual_now_us(), 500) << "the reader still waits out its time";
    close_input_dev(os, &dev);
    EXPECT_EQ(dev.fd, 0);
}

TEST(Alarm, RequestsAreBuiltAsTheDriverNumbersThem)
{
    EXPECT_EQ(alarm_get_poweroff_request, 0x40086109ul);
    fake_platform os;
    int fd = open_alarm_dev(os);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(os.has("open /dev/alarm 0x2"));
    os.alarm.pending_seconds = 1234;
    int seconds = -1;
    EXPECT_EQ(get_poweroff_alarm(os, fd, &seconds), 0);
    EXPECT_EQ(seconds, 1234);
    set_alarm(os, fd, ANDROID_ALARM_RTC_WAKEUP, 1234);
    set_alarm(os, fd, 3, 99);
    EXPECT_TRUE(os.has("ioctl /dev/alarm 0x40086109 {0,0}"));
    EXPECT_TRUE(os.has("ioctl /dev/alarm 0x40086102 {1234,0}"));
    EXPECT_TRUE(os.has("ioctl /dev/alarm 0x40086132 {99,0}"));
    os.alarm.fire_at_us = 7000;
    EXPECT_EQ(wait_alarm(os, fd), 1);
    EXPECT_TRUE(os.has("ioctl /dev/alarm 0x6101"));
    EXPECT_EQ(os.virtual_now_us(), 7000);
    EXPECT_EQ(os.standard_output(), " get poweroff alarm : 1234\n");
    close_alarm_dev(os, fd);
    EXPECT_TRUE(os.has("close /dev/alarm"));
}

TEST(Alarm, FailuresAreLoggedAndReported)
{
    fake_platform os;
    int fd = open_alarm_dev(os);
    os.alarm.query_result = -EINVAL;
    os.alarm.pending_seconds = 55;
    int seconds = -1;
    EXPECT_EQ(get_poweroff_alarm(os, fd, &seconds), -EINVAL);
    EXPECT_EQ(seconds, 0);
    os.alarm.interruptions = 3;
    os.alarm.fail_errno = ENODEV;
    os.alarm.fire_at_us = 10;
    EXPECT_EQ(wait_alarm(os, fd), -ENODEV);
    EXPECT_EQ(os.with_prefix("ioctl /dev/alarm 0x6101").size(), 4u) << "EINTR is retried";
    EXPECT_EQ(os.standard_output(),
              "Unable to get poweroff alarm \nUnable to wait on alarm: No such device\n");

    fake_platform closed;
    set_alarm(closed, 99, ANDROID_ALARM_RTC_WAKEUP, 5000000000ll);
    EXPECT_EQ(closed.standard_output(), "Unable to set alarm to 5000000000: Bad file descriptor\n");
    closed.alarm.present = false;
    EXPECT_LT(open_alarm_dev(closed), 0);
}

}  // namespace
