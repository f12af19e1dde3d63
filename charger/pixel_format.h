// How a framebuffer stores a pixel, taken from its colour bitfields, and the conversion of
// 8-bit red, green and blue into it. RGB 565 is the handset's own; BGR 565 and 32-bit
// XRGB 8888 are what other drivers report, and the same rule serves them all.
#pragma once

#include <cstdint>
#include <linux/fb.h>

struct pixel_channel {
    uint32_t offset;
    uint32_t length;
};

struct pixel_format {
    uint32_t bytes;  // 2, 3 or 4
    pixel_channel red, green, blue;
};

// False for layouts that cannot be drawn (palettes, channels outside the pixel). A driver
// that leaves the bitfields empty gets RGB 565 at 16 bits and XRGB 8888 at 24 or 32.
bool pixel_format_of(const fb_var_screeninfo& vi, pixel_format* format);

// The handset's conversion: the top 5 bits of red, 6 of green and 5 of blue.
constexpr uint16_t rgb565(uint8_t red, uint8_t green, uint8_t blue)
{
    return static_cast<uint16_t>(((red << 8) & 0xF800) | ((green << 3) & 0x07E0) | (blue >> 3));
}

uint32_t pack_pixel(const pixel_format& format, uint8_t red, uint8_t green, uint8_t blue);

// Stores a packed pixel at `to` in the machine's byte order, as the framebuffer expects.
void store_pixel(const pixel_format& format, uint8_t* to, uint32_t value);
