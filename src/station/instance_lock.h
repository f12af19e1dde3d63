// The single-instance rule: an exclusive flock on a lock file named after the station's mutex,
// in $XDG_RUNTIME_DIR (else /tmp). The kernel releases it if the station dies.
#pragma once

class instance_lock {
 public:
  // Takes the lock named `name`; held() tells whether this process got it.
  explicit instance_lock(const char *name);
  ~instance_lock();
  instance_lock(const instance_lock &) = delete;
  instance_lock &operator=(const instance_lock &) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

extern const char kStationMutexName[];  // "norvane for Marvell Platform"
