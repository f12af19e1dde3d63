#include "pixel_format.h"

#include <cstring>

namespace {

pixel_channel channel_of(const fb_bitfield& field) { return {field.offset, field.length}; }

bool fits(const pixel_channel& c, uint32_t bits)
{
    return c.length >= 1 && c.length <= 16 && c.offset < 32 && c.offset + c.length <= bits;
}

uint32_t scale(uint8_t value, const pixel_channel& c)
{
    uint32_t v = c.length >= 8 ? static_cast<uint32_t>(value) << (c.length - 8)
                               : static_cast<uint32_t>(value) >> (8 - c.length);
    return v << c.offset;
}

}  // namespace

bool pixel_format_of(const fb_var_screeninfo& vi, pixel_format* f)
{
    uint32_t bits = vi.bits_per_pixel;
    if (bits != 16 && bits != 24 && bits != 32) return false;
    if (vi.grayscale != 0) return false;
    f->bytes = bits / 8;
    f->red = channel_of(vi.red);
    f->green = channel_of(vi.green);
    f->blue = channel_of(vi.blue);
    if (f->red.length == 0 && f->green.length == 0 && f->blue.length == 0) {
        if (bits == 16) {
            f->red = {11, 5}, f->green = {5, 6}, f->blue = {0, 5};
        } else {
            f->red = {16, 8}, f->green = {8, 8}, f->blue = {0, 8};
        }
    }
    return fits(f->red, bits) && fits(f->green, bits) && fits(f->blue, bits);
}

uint32_t pack_pixel(const pixel_format& f, uint8_t red, uint8_t green, uint8_t blue)
{
    return scale(red, f.red) | scale(green, f.green) | scale(blue, f.blue);
}

void store_pixel(const pixel_format& f, uint8_t* to, uint32_t value)
{
    if (f.bytes == 2) {
        uint16_t v = static_cast<uint16_t>(value);
        std::memcpy(to, &v, 2);
    } else if (f.bytes == 4) {
        std::memcpy(to, &value, 4);
    } else {
        // Packed 24-bit: the low three bytes of the word in memory order.
        uint8_t word[4];
        std::memcpy(word, &value, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        std::memcpy(to, word + 1, 3);
#else
        std::memcpy(to, word, 3);
#endif
    }
}
