// The bench's configuration file (INI). Every section other than [bench] is one handset:
//   [bench]
//   timing = none                  ; none: as fast as possible; realistic: USB 2.0 high-speed
//                                  ; bus time per request (usb_inproc::timing) and the NAND's
//                                  ; operation times (nand_config), for every handset
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
//   nand_id = ec:f1:00:95:40       ; the NAND's ID bytes (geometry follows them)
//   chip_selects = 1               ; 1 or 2
//   bad_blocks = 5,9               ; factory bad blocks (marked on a new NAND file)
//   nand_faults = program:blocks=10;erase:after=100;read:random=1000@7   ; bench_agent.h
#pragma once

#include <string>
#include <vector>

#include "handset.h"
#include "nand_chip.h"

namespace sim {

struct bench_handset_config {
  handset_config handset;
  bool plugged = true;
  nand_config nand;
  std::vector<nand_fault> nand_faults;
};

struct bench_config {
  std::vector<bench_handset_config> handsets;
};

// false with `error` set for a file that cannot be read or holds a bad value.
bool load_bench_config(const std::string &path, bench_config &out, std::string &error);

}  // namespace sim
