// Processor registers the agent drives itself; everything else sits behind the board.
#pragma once

#include <stdint.h>

namespace agent::reg {

// GPIO: six banks of 32 pins; per bank a level, direction, set and clear register.
constexpr uint32_t gpio_bank[6] = {0x40E00000, 0x40E00004, 0x40E00008,
                                   0x40E00100, 0x40E00104, 0x40E00108};
constexpr uint32_t gpio_direction = 0x0C;  // offsets from the bank's register
constexpr uint32_t gpio_set = 0x18;
constexpr uint32_t gpio_clear = 0x24;
constexpr uint32_t gpio_count = 192;

// Real-time clock: the date in RYCR, the time of day and weekday in RDCR.
constexpr uint32_t rtc_rdcr = 0x40900010;
constexpr uint32_t rtc_rycr = 0x40900014;

// OS timer: match register 3, the free-running count, and the watchdog enable.
constexpr uint32_t ost_osmr3 = 0x40A0000C;
constexpr uint32_t ost_oscr0 = 0x40A00010;
constexpr uint32_t ost_ower = 0x40A00018;
constexpr uint32_t ost_ower_wme = 1;
constexpr uint32_t soft_reset_ticks = 0x5A000;

// The Micco PMIC on I2C: 0x68 to write, 0x69 to read.
constexpr uint8_t micco_write_address = 0x68;
constexpr uint8_t micco_read_address = 0x69;

// The station's staging buffer and where block 0 is kept while it is rewritten.
constexpr uint32_t staging_buffer = 0x5C010000;
constexpr uint32_t block0_keep_buffer = 0x80200000;

}  // namespace agent::reg
