// The bench's configuration file (INI). Every section other than [bench] is one handset:
//   [bench]
//   timing = none                  ; only "none" so far: as fast as possible
//   [handset1]
//   port = 1-1                     ; port name = the device's interface name (required)
//   identity = 8086:d001           ; boot ROM identity: 8086:d001 or 1286:8104
//   bus = 1                        ; bus number in captures
//   grant = 4096                   ; largest chunk the boot ROM grants
//   version = 3.01                 ; 4 characters
//   date = 0x20071221
//   processor = TAV                ; 3 characters
//   processor_rev = 0xB0
//   reenumerate_delay_ms = 100     ; from disconnect or reset until back on the bus
//   plugged = true                 ; on the bus from the start
//   faults = zero-grant            ; faults.h
#pragma once

#include <string>
#include <vector>

#include "handset.h"

namespace sim {

struct bench_handset_config {
  handset_config handset;
  bool plugged = true;
};

struct bench_config {
  std::vector<bench_handset_config> handsets;
};

// false with `error` set for a file that cannot be read or holds a bad value.
bool load_bench_config(const std::string &path, bench_config &out, std::string &error);

}  // namespace sim
