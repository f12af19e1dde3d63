#include "alarm.h"

#include "log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

int open_alarm_dev(platform& os) { return os.open(alarm_device_path, O_RDWR); }

void close_alarm_dev(platform& os, int fd) { os.close(fd); }

int get_poweroff_alarm(platform& os, int fd, int* seconds)
{
    *seconds = 0;
    alarm_time time{0, 0};
    int r = os.ioctl(fd, alarm_get_poweroff_request, reinterpret_cast<uintptr_t>(&time));
    if (r < 0) {
        log_line(os, "Unable to get poweroff alarm ");
        return r;
    }
    *seconds = time.seconds;
    log_format(os, log_stdout, " get poweroff alarm : %d\n", *seconds);
    return r;
}

void set_alarm(platform& os, int fd, int type, long long seconds)
{
    alarm_time time{static_cast<int32_t>(seconds), 0};
    unsigned long request = alarm_set_request | (static_cast<unsigned long>(type) << 4);
    int r = os.ioctl(fd, request, reinterpret_cast<uintptr_t>(&time));
    if (r < 0) {
        log_format(os, log_stdout, "Unable to set alarm to %lld: %s\n", seconds,
                   std::strerror(-r));
    }
}

int wait_alarm(platform& os, int fd)
{
    int r;
    do {
        r = os.ioctl(fd, alarm_wait_request, 0);
    } while (r == -EINTR);
    if (r < 0) log_format(os, log_stdout, "Unable to wait on alarm: %s\n", std::strerror(-r));
    return r;
}
