#include "battery.h"

#include "log.h"

#include <cstdlib>
#include <fcntl.h>

namespace {
constexpr int sysfs_buffer_size = 128;
}

int read_sysfs_text(platform& os, const char* path, char* buffer, int size)
{
    int fd = os.open(path, O_RDONLY);
    if (fd < 0) {
        log_format(os, log_stdout, "Could not open '%s'", path);
        return -1;
    }
    ssize_t n = size > 0 ? os.read(fd, buffer, static_cast<size_t>(size)) : 0;
    int count = n > 0 ? static_cast<int>(n) : 0;
    if (count >= size) count = size - 1;
    while (count > 0 && buffer[count - 1] == '\n') --count;
    if (size > 0) buffer[count] = '\0';
    os.close(fd);
    return count;
}

int get_battery_capacity(platform& os)
{
    char text[sysfs_buffer_size];
    if (read_sysfs_text(os, battery_capacity_path, text, sizeof text) < 1) return 0;
    // strtol reads what atoi reads, but an out-of-range number saturates instead of
    // being undefined; the clamp below then gives 0 or 100.
    long value = std::strtol(text, nullptr, 10);
    if (value < 0) return 0;
    if (value > 100) return 100;
    return static_cast<int>(value);
}

int get_battery_status(platform& os)
{
    char text[sysfs_buffer_size];
    if (read_sysfs_text(os, battery_status_path, text, sizeof text) < 1) {
        log_format(os, log_stdout, "Unknown battery status !");
        return STATUS_INVALID;
    }
    switch (text[0]) {
    case 'C': return STATUS_CHARGING;
    case 'D': return STATUS_DISCHARGING;
    case 'N': return STATUS_NOT_CHARGING;
    case 'F': return STATUS_FULL;
    case 'U': return STATUS_INVALID;
    default:
        log_format(os, log_stdout, "Unknown battery status '%s'", text);
        return STATUS_INVALID;
    }
}
