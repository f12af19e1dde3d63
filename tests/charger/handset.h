// A charging handset on the fake platform, ready to run the program: both input devices,
// a charging battery at 57 %, the alarm device with no alarm pending, a console and an
// RGB 565 framebuffer. Tests change what they need before run().
#pragma once

#include "battery.h"
#include "charger.h"
#include "fake_platform.h"

#include <string>
#include <vector>

struct handset {
    fake_platform os;
    charger program{os};

    handset()
    {
        os.add_input_device(key_device_path);
        os.add_input_device(touch_device_path);
        os.set_file(battery_status_path, "Charging\n");
        os.set_file(battery_capacity_path, "57\n");
    }

    run_result run(double limit_seconds)
    {
        return os.run([this] { return charger_main(program); }, seconds_us(limit_seconds));
    }

    void status_at(double seconds, const char* text)
    {
        os.set_file(battery_status_path, text, seconds_us(seconds));
    }

    // An evdev report: the event followed by its EV_SYN, as the kernel sends them.
    void report(const char* device, double seconds, uint16_t type, uint16_t code, int32_t value)
    {
        os.send_event(device, seconds_us(seconds), type, code, value);
        os.send_event(device, seconds_us(seconds), EV_SYN, SYN_REPORT, 0);
    }
    void key(double seconds, uint16_t code, int32_t value)
    {
        report(key_device_path, seconds, EV_KEY, code, value);
    }

    // The pictures draw_bmp went for, in order, by name.
    std::vector<std::string> pictures()
    {
        std::vector<std::string> names;
        for (const std::string& e : os.with_prefix("open /chargeimage/")) {
            std::string name = e.substr(std::string("open /chargeimage/").size());
            names.push_back(name.substr(0, name.find(".bmp")));
        }
        return names;
    }

    std::vector<std::string> commands() { return os.with_prefix("shell "); }

    // The virtual time (in seconds) of the first trace entry `what`, or -1.
    double time_of(const std::string& what)
    {
        auto e = os.first(what);
        return e ? static_cast<double>(e->at_us) / 1e6 : -1;
    }

    // The times of every trace entry `what`, in seconds.
    std::vector<double> times_of(const std::string& what)
    {
        std::vector<double> times;
        for (const trace_entry& e : os.trace())
            if (e.what == what) times.push_back(static_cast<double>(e.at_us) / 1e6);
        return times;
    }

    // "t2= %d  t1= %d \n" with seconds counted from the start.
    static std::string timeout_line(long t2, long t1)
    {
        return "out t2= " + std::to_string(fake_platform::epoch + t2) +
               "  t1= " + std::to_string(fake_platform::epoch + t1) + " \n";
    }
};

inline const std::string blank_on = "write /sys/class/graphics/fb0/blank 0\n";
inline const std::string blank_off = "write /sys/class/graphics/fb0/blank 1\n";
inline const std::string bright_on = "write /sys/class/backlight/micco-bl/brightness 100\n";
inline const std::string bright_off = "write /sys/class/backlight/micco-bl/brightness 10\n";
