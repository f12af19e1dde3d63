// The battery as the power-supply class shows it in sysfs: capacity and status.
#pragma once

#include "platform.h"

inline constexpr const char* battery_capacity_path = "/sys/class/power_supply/battery/capacity";
inline constexpr const char* battery_status_path = "/sys/class/power_supply/battery/status";

enum battery_status {
    STATUS_INVALID = -1,
    STATUS_CHARGING = 0,
    STATUS_DISCHARGING = 1,
    STATUS_NOT_CHARGING = 2,
    STATUS_FULL = 3,
};

// Reads `path` once into `buffer` (at most size - 1 characters, terminated) and drops
// trailing newlines; the characters left, or -1 (logged "Could not open '%s'") when the file
// cannot be opened. A failing read counts as reading nothing.
int read_sysfs_text(platform& os, const char* path, char* buffer, int size);

// The capacity in percent, 0 to 100; 0 when it cannot be read or holds no number.
int get_battery_capacity(platform& os);

// The status by the first character of its text; STATUS_INVALID when unreadable or unknown.
int get_battery_status(platform& os);
