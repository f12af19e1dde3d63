// The Android alarm driver: the pending power-off alarm, arming it, and waiting for it.
#pragma once

#include "platform.h"

#include <cstdint>

inline constexpr const char* alarm_device_path = "/dev/alarm";

// The driver's time record: two signed 32-bit words.
struct alarm_time {
    int32_t seconds;
    int32_t nanoseconds;
};

// Requests as the driver numbers them: _IOW('a', 9, 8), _IOW('a', 2, 8) | type << 4, _IO('a', 1).
inline constexpr unsigned long alarm_get_poweroff_request = 0x40086109;
inline constexpr unsigned long alarm_set_request = 0x40086102;
inline constexpr unsigned long alarm_wait_request = 0x6101;
inline constexpr int ANDROID_ALARM_RTC_WAKEUP = 0;

// "/dev/alarm" opened read-write: the descriptor, negative on failure.
int open_alarm_dev(platform& os);
void close_alarm_dev(platform& os, int fd);

// Queries the pending power-off alarm; the request's result. *seconds is 0 unless it succeeds.
int get_poweroff_alarm(platform& os, int fd, int* seconds);

// Arms alarm `type` at `seconds` (0 nanoseconds); a failure is only logged.
void set_alarm(platform& os, int fd, int type, long long seconds);

// Blocks until an alarm goes off, retrying interrupted waits silently. The driver's result
// (>= 0, the set of alarms that went off), or the negated error number when the wait failed
// (logged "Unable to wait on alarm: %s\n"): a failed wait is never taken for an alarm.
int wait_alarm(platform& os, int fd);
