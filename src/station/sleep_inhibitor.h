// While the station runs it refuses suspend where the system offers an inhibitor: logind's
// "sleep" block lock, held as a file descriptor for the station's lifetime. Without logind
// (no system bus, a container) there is nothing to hold, and nothing is said.
#pragma once

class sleep_inhibitor {
 public:
  sleep_inhibitor();
  ~sleep_inhibitor();
  sleep_inhibitor(const sleep_inhibitor &) = delete;
  sleep_inhibitor &operator=(const sleep_inhibitor &) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};
