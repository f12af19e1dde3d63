// The power-off charging program: start-up, the state its threads share, the key, touch
// and alarm threads, and the main loop that draws, darkens, boots or powers off.
//
// The shared state is single words, each read and written atomically; no lock is taken
// anywhere. Flags are only ever set (boot_request, alarm_fired) or flipped whole (lcd_on).
#pragma once

#include "display.h"
#include "input.h"
#include "platform.h"

#include <atomic>
#include <memory>

struct charger_state {
    std::atomic<int> lcd_on{1};
    std::atomic<long> t1{0};  // last wake: start-up, key, touch, alarm, or lit by the loop
    std::atomic<long> t2{0};  // the time at the last time-out check
    std::atomic<long> t3{0};  // second of the last power-key press
    std::atomic<long> t4{0};  // second of the key thread's last hold check
    std::atomic<int> alarm_fired{0};
    std::atomic<int> boot_request{0};
    int alarm_fd = -1;
};

// Everything the program owns; lives for the whole process.
struct charger {
    explicit charger(platform& system) : os(system), screen(system) {}

    platform& os;
    display screen;
    charger_state state;
    std::unique_ptr<input_dev> key;    // "/dev/input/event2", owned by key_thread
    std::unique_ptr<input_dev> touch;  // "/dev/input/event0", owned by touch_thread
};

// The number of the level picture for a capacity already clamped to 0..100.
int battery_level_step(int capacity);

// Runs the program to its end: 0 after an exit's commands, 1 when start-up fails.
// The threads it starts are never joined; they end with the process.
int charger_main(charger& c);

void key_thread(charger& c);
void touch_thread(charger& c);
void alarm_thread(charger& c);
