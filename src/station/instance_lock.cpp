#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

const char kStationMutexName[] = "norvane for Marvell Platform";

instance_lock::instance_lock(const char *name) {
  const char *dir = std::getenv("XDG_RUNTIME_DIR");
  std::string path = std::string(dir && *dir ? dir : "/tmp") + "/" + name + ".lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return;
  }
  fd_ = fd;
}

instance_lock::~instance_lock() {
  if (fd_ >= 0) close(fd_);
}
