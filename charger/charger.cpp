#include "charger.h"

#include "alarm.h"
#include "battery.h"
#include "log.h"

#include <cstdio>

namespace {

constexpr unsigned long frame_sleep_us = 800000;
constexpr long screen_timeout_s = 13;  // dark once t2 - t1 > 13, i.e. after 14 s
constexpr int frame_dy = -88;
constexpr int level_dy = 108;
constexpr int full_frame = 6;
constexpr unsigned short key_power = 116;

constexpr const char* marker_echo = "/system/bin/echo 1 >  /data/.poweroff-charge-alarm";
constexpr const char* marker_chmod = "/system/bin/chmod 777    /data/.poweroff-charge-alarm";

enum class charger_exit { none, alarm_boot, key_boot, power_off };

bool keeps_charging(int status) { return status == STATUS_CHARGING || status == STATUS_FULL; }

// Lights the screen if it is dark and restarts the time-out.
void wake_screen(charger& c)
{
    c.state.t1 = c.os.now();
    if (c.state.lcd_on == 0) {
        lcd_power_on(c.screen);
        c.state.lcd_on = 1;
        c.state.t1 = c.os.now();
    }
}

void draw_named(charger& c, const char* format, int number, int dy)
{
    char name[50];
    std::snprintf(name, sizeof name - 1, format, number);
    draw_bmp(c.screen, name, dy);
}

// The check point after each drawn picture: a fired alarm wins over a boot request.
charger_exit check_point(charger& c)
{
    if (c.state.alarm_fired) return charger_exit::alarm_boot;
    if (c.state.boot_request) return charger_exit::key_boot;
    return charger_exit::none;
}

void timeout_check(charger& c)
{
    long now = c.os.now();
    c.state.t2 = now;
    long t1 = c.state.t1;
    log_format(c.os, log_stdout, "t2= %d  t1= %d \n", static_cast<int>(now),
               static_cast<int>(t1));
    if (now - t1 > screen_timeout_s) {
        c.state.lcd_on = 0;
        lcd_power_off(c.screen);
    }
}

charger_exit animation_cycle(charger& c)
{
    for (int frame = 1; frame <= full_frame; ++frame) {
        draw_named(c, "power_off_charging_%d", frame, frame_dy);
        draw_named(c, "%d", battery_level_step(get_battery_capacity(c.os)), level_dy);
        c.os.sleep_us(frame_sleep_us);
        if (charger_exit e = check_point(c); e != charger_exit::none) return e;
        if (!keeps_charging(get_battery_status(c.os))) return charger_exit::power_off;
    }
    timeout_check(c);
    return charger_exit::none;
}

charger_exit full_battery_pass(charger& c)
{
    draw_named(c, "power_off_charging_%d", full_frame, frame_dy);
    draw_named(c, "%d", 100, level_dy);
    c.os.sleep_us(frame_sleep_us);
    if (charger_exit e = check_point(c); e != charger_exit::none) return e;
    timeout_check(c);
    return charger_exit::none;
}

void dark_pass(charger& c)
{
    log_line(c.os, "lcd thread");
    if (!keeps_charging(get_battery_status(c.os))) {
        lcd_power_on(c.screen);
        c.state.lcd_on = 1;
        c.state.t1 = c.os.now();
    }
    c.os.sleep_us(frame_sleep_us);
}

charger_exit lit_pass(charger& c)
{
    int status = get_battery_status(c.os);
    if (status == STATUS_CHARGING) return animation_cycle(c);
    if (status == STATUS_FULL) return full_battery_pass(c);
    return c.state.alarm_fired ? charger_exit::alarm_boot : charger_exit::power_off;
}

int take_exit(charger& c, charger_exit e)
{
    if (e == charger_exit::power_off) log_line(c.os, "poweroff ");
    c.state.lcd_on = 0;
    lcd_power_off(c.screen);
    switch (e) {
    case charger_exit::alarm_boot:
        c.os.run_shell(marker_echo);
        c.os.run_shell(marker_chmod);
        c.os.run_shell("/system/bin/sync");
        c.os.run_shell("/system/bin/reboot");
        break;
    case charger_exit::key_boot:
        // Charging or full alike: the absolute path, whatever the working directory is.
        c.os.run_shell("/system/bin/reboot");
        break;
    case charger_exit::power_off:
        c.os.run_shell("/system/bin/reboot -p ");
        break;
    case charger_exit::none:
        break;
    }
    return 0;
}

void key_thread_entry(void* c) { key_thread(*static_cast<charger*>(c)); }
void touch_thread_entry(void* c) { touch_thread(*static_cast<charger*>(c)); }
void alarm_thread_entry(void* c) { alarm_thread(*static_cast<charger*>(c)); }

void release_input(charger& c, std::unique_ptr<input_dev>& dev)
{
    close_input_dev(c.os, dev.get());
    dev.reset();
}

// Start-up steps 1 and 2: the alarm device, and the alarm thread when an alarm is pending.
bool start_alarm(charger& c)
{
    c.state.alarm_fd = open_alarm_dev(c.os);
    if (c.state.alarm_fd < 0) {
        log_line(c.os, "cannot open alarm device...quit program...");
        return false;
    }
    int seconds = 0;
    if (get_poweroff_alarm(c.os, c.state.alarm_fd, &seconds) != 0 || seconds < 1) return true;
    set_alarm(c.os, c.state.alarm_fd, ANDROID_ALARM_RTC_WAKEUP, seconds);
    if (c.os.start_thread(alarm_thread_entry, &c) != 0) {
        log_line(c.os, "cannotcreate alarm pthread...quit program...");
        close_alarm_dev(c.os, c.state.alarm_fd);
        return false;
    }
    return true;
}

// Start-up steps 3 to 6: both input devices and their threads.
bool start_inputs(charger& c)
{
    c.key = std::make_unique<input_dev>();
    c.touch = std::make_unique<input_dev>();
    if (open_key_dev(c.os, c.key.get()) != 0) {
        log_line(c.os, "cannot setup hardkey...quit program...");
        release_input(c, c.key);
        return false;
    }
    open_touch_dev(c.os, c.touch.get());  // a missing touch screen is only logged
    if (c.os.start_thread(key_thread_entry, &c) != 0) {
        log_line(c.os, "cannotcreate key  pthread...quit program...");
        release_input(c, c.key);
        return false;
    }
    if (c.os.start_thread(touch_thread_entry, &c) != 0) {
        log_line(c.os, "cannotcreate touch  pthread...quit program...");
        // The key record stays with the key thread, which is already running on it until
        // the process ends; freeing it here would pull it from under that thread.
        release_input(c, c.touch);
        return false;
    }
    return true;
}

}  // namespace

int battery_level_step(int capacity)
{
    if (capacity >= 100) return 100;
    if (capacity >= 90) return 90;
    if (capacity >= 80) return 80;
    if (capacity >= 60) return 60;
    if (capacity >= 40) return 40;
    if (capacity >= 20) return 20;
    if (capacity >= 10) return 10;
    if (capacity >= 5) return 5;
    return 0;
}

int charger_main(charger& c)
{
    if (!start_alarm(c)) return 1;
    if (!start_inputs(c)) return 1;
    init_display(c.screen);  // without a screen the program goes on, drawing nothing
    clear_screen(c.screen, static_cast<int>(screen_width(c.screen)),
                 static_cast<int>(screen_height(c.screen)));
    c.state.t1 = c.os.now();
    for (;;) {
        if (c.state.lcd_on == 0) {
            dark_pass(c);
            continue;
        }
        if (charger_exit e = lit_pass(c); e != charger_exit::none) return take_exit(c, e);
    }
}

void key_thread(charger& c)
{
    input_dev* dev = c.key.get();
    charger_state& s = c.state;
    int hold_timing = 0;
    for (;;) {
        read_key_event(c.os, dev);
        const input_event& e = dev->event;
        bool check = hold_timing == 1;
        if (e.type == EV_KEY && e.code != 0 && e.value == 1) {
            wake_screen(c);
            if (e.code == key_power) {
                s.t3 = c.os.now();
                check = true;
            }
        }
        if (check) {
            s.t4 = c.os.now();
            log_format(c.os, log_stdout, "t4= %d  t3=%d  \n", static_cast<int>(s.t4.load()),
                       static_cast<int>(s.t3.load()));
            if (s.t4 - s.t3 > 0) break;
            hold_timing = 1;
        }
        if (e.type == EV_KEY && e.code == key_power && e.value == 0) {
            s.t4 = c.os.now();
            if (s.t4 - s.t3 > 0) break;
            hold_timing = 0;
        }
    }
    close_input_dev(c.os, dev);
    s.boot_request = 1;
}

void touch_thread(charger& c)
{
    input_dev* dev = c.touch.get();
    for (;;) {
        if (c.state.boot_request) {
            close_input_dev(c.os, dev);
            return;
        }
        read_touch_event(c.os, dev);
        if (dev->event.type == EV_ABS && dev->event.code == ABS_Y) wake_screen(c);
    }
}

void alarm_thread(charger& c)
{
    if (c.state.boot_request == 0) {
        log_line(c.os, "alarm thread ");
        int alarm_wait = wait_alarm(c.os, c.state.alarm_fd);
        log_format(c.os, log_stdout, "alarm_wait=%d \n", alarm_wait);
        if (alarm_wait < 0) {
            // A failed wait is no alarm: no alarm boot and no marker file.
            close_alarm_dev(c.os, c.state.alarm_fd);
            return;
        }
        wake_screen(c);
    }
    c.state.alarm_fired = 1;
    close_alarm_dev(c.os, c.state.alarm_fd);
}
