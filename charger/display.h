// The charge display: a free text console switched to graphics, the mapped framebuffer,
// and the screen's power (framebuffer blanking and the backlight's brightness).
//
// A display that cannot be set up stays without a screen: clearing and drawing then write
// nothing, so charging, booting and powering off go on without pictures.
#pragma once

#include "pixel_format.h"
#include "platform.h"

#include <atomic>
#include <cstdint>
#include <linux/fb.h>

inline constexpr const char* framebuffer_path = "/dev/graphics/fb0";
inline constexpr const char* fb_blank_path = "/sys/class/graphics/fb0/blank";
inline constexpr const char* backlight_path = "/sys/class/backlight/micco-bl/brightness";

// The visible screen as reported.
struct fb_surface {
    unsigned width = 0;   // vi.xres
    unsigned height = 0;  // vi.yres
    uint8_t* pixels = nullptr;  // start of the mapping; null while there is no screen
};

struct display {
    explicit display(platform& system) : os(system) {}

    platform& os;
    fb_var_screeninfo vi{};
    fb_fix_screeninfo fi{};
    int fb_fd = -1;
    int console_fd = -1;
    fb_surface surface;
    pixel_format format{};
    // The part of the visible screen that lies inside the mapping: drawing never leaves it.
    unsigned columns = 0;
    unsigned rows = 0;
    std::atomic<int> warned_once{0};
};

// Console into graphics mode and the framebuffer mapped: 0, else -1 (no screen).
int init_display(display& d);

unsigned screen_width(const display& d);
unsigned screen_height(const display& d);

// Fills `height` rows of `width` pixels with black from the top left, within the screen.
void clear_screen(display& d, int width, int height);

// Draws "/chargeimage/<name>.bmp" centred, moved down by `dy` rows (negative: up), clipped
// to the visible screen. 0 when drawn, else the bmp_result of the failing step.
int draw_bmp(display& d, const char* name, int dy);

// Writes "<value>\n" to a sysfs file: 0 or -errno. Only the first open failure of the
// process is logged.
int write_int(display& d, const char* path, int value);

// Blank 0 then brightness 100; the result of the second write.
int lcd_power_on(display& d);
// Brightness 10 then blank 1; the result of the second write.
int lcd_power_off(display& d);
