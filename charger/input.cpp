#include "input.h"

#include "log.h"

#include <fcntl.h>

namespace {

constexpr long input_wait_us = 500;  // half a millisecond, not half a second

struct device_texts {
    const char* count_format;
    const char* event_format;
};

constexpr device_texts key_texts{
    "Read hard key return : %d\n",
    "\nEvent key: time %ld.%06ld, type %d, code %d, value %d\n"};
constexpr device_texts touch_texts{
    "Read touch return : %d\n",
    "\nEvent touch: time %ld.%06ld, type %d, code %d, value %d\n"};

int open_input_dev(platform& os, input_dev* dev, const char* path)
{
    int fd = os.open(path, O_RDONLY);
    dev->fd = fd < 0 ? -1 : fd;  // what open(2) itself returns on failure
    if (dev->fd > 0) return 0;
    log_format(os, log_stdout, " cannot find  device %s \n", path);
    return -1;
}

int read_input_event(platform& os, input_dev* dev, const device_texts& texts)
{
    // A record without a device still waits out its time, so its thread keeps its pace.
    int fd = dev->fd > 0 ? dev->fd : -1;
    if (os.wait_readable(fd, input_wait_us) <= 0) return 0;
    ssize_t n = os.read(fd, &dev->event, sizeof dev->event);
    log_format(os, log_stdout, texts.count_format, static_cast<int>(n));
    if (n <= 0) return 0;
    const input_event& e = dev->event;
    log_format(os, log_stdout, texts.event_format, static_cast<long>(e.input_event_sec),
               static_cast<long>(e.input_event_usec), e.type, e.code, e.value);
    return e.code;
}

}  // namespace

int open_key_dev(platform& os, input_dev* dev) { return open_input_dev(os, dev, key_device_path); }

int open_touch_dev(platform& os, input_dev* dev)
{
    return open_input_dev(os, dev, touch_device_path);
}

int read_key_event(platform& os, input_dev* dev) { return read_input_event(os, dev, key_texts); }

int read_touch_event(platform& os, input_dev* dev)
{
    return read_input_event(os, dev, touch_texts);
}

void close_input_dev(platform& os, input_dev* dev)
{
    if (dev->fd > 0) os.close(dev->fd);
    dev->fd = 0;
}
