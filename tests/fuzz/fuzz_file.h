// The readers take file names: fuzz input goes through one scratch file per process.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

inline std::string fuzz_scratch(const char *suffix) {
  return "/tmp/norvane-fuzz-" + std::to_string(getpid()) + suffix;
}

inline void fuzz_write(const std::string &path, const void *data, size_t size) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
}
