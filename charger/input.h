// The two input devices: the hard keys (the power key among them) and the touch screen.
// Each reader waits at most 500 microseconds, so its thread polls and never blocks.
#pragma once

#include "platform.h"

#include <linux/input.h>

inline constexpr const char* key_device_path = "/dev/input/event2";
inline constexpr const char* touch_device_path = "/dev/input/event0";

// One device and the last event read from it.
struct input_dev {
    int fd = 0;           // 0: no device; a failed open leaves what the open returned
    input_event event{};  // the last event read; all zero until one arrives
};

// 0, or -1 (logged " cannot find  device %s \n") when the device cannot be opened.
int open_key_dev(platform& os, input_dev* dev);
int open_touch_dev(platform& os, input_dev* dev);

// Waits at most 500 us for one event and reads it into dev->event; the event's code, or 0
// when none was read (dev->event then still holds the earlier one).
int read_key_event(platform& os, input_dev* dev);
int read_touch_event(platform& os, input_dev* dev);

// Closes the device if there is one; afterwards fd is 0.
void close_input_dev(platform& os, input_dev* dev);
