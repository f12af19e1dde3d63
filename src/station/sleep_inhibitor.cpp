#include "sleep_inhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

sleep_inhibitor::sleep_inhibitor() {
  sd_bus *bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message *reply = nullptr;
  int r = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                             "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss", "sleep",
                             "norvane_pc", "Handsets are being flashed", "block");
  int fd = -1;
  if (r >= 0 && sd_bus_message_read(reply, "h", &fd) >= 0 && fd >= 0)
    fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);  // the reply owns its descriptor
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  sd_bus_unref(bus);
}

sleep_inhibitor::~sleep_inhibitor() {
  if (fd_ >= 0) close(fd_);
}
