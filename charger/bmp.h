// The BMP pictures as the charger reads them, apart from any file or screen.
//
// Layout (little-endian), the first 54 bytes read as one header:
//   0  2  signature 0x4D42 ("BM")          18  4  width in pixels (unsigned)
//   2  8  file size, reserved (ignored)    22  4  height in rows: positive = bottom-up rows,
//  10  4  offset of the pixel rows                negative = top-down
//  14  4  header size (ignored)            26  2  planes, must be 1
//  34 20  sizes, resolutions, colours      28  2  bits per pixel, 24 or 32
//         (ignored)                        30  4  compression, must be 0
// A 24-bit row holds blue, green, red per pixel, padded to a multiple of 4 bytes; a 32-bit
// row holds blue, green, red, alpha.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t bmp_header_size = 54;

struct bmp_header {
    uint16_t signature;
    uint32_t pixel_offset;
    uint32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bits_per_pixel;
    uint32_t compression;
};

// Results of reading a picture, as draw_bmp gives them.
enum bmp_result {
    bmp_drawn = 0,
    bmp_cannot_open = -1,
    bmp_short_header = -2,
    bmp_bad_signature = -3,
    bmp_bad_planes = -4,
    bmp_bad_depth = -5,
    bmp_compressed = -6,
    bmp_no_buffer = -7,
    bmp_short_row = -8,       // a 24-bit row
    bmp_short_row_32 = -9,    // a 32-bit row
};

bmp_header parse_bmp_header(const uint8_t (&bytes)[bmp_header_size]);

// 0 when the header passes the checks, else the first failing check's result (-3 to -6).
int check_bmp_header(const bmp_header& header);

// The rows of a checked header as they are stored and drawn.
struct bmp_geometry {
    uint32_t width;
    uint32_t rows;
    bool top_down;
    uint32_t bytes_per_pixel;  // 3 or 4
    uint64_t row_length;       // bytes of one row in the file
};

// False when the picture's buffer (width x rows x 4 + 32 bytes) would not fit in 32 bits,
// the handset's address space: such a picture is refused, never wrapped around.
bool bmp_geometry_of(const bmp_header& header, bmp_geometry* geometry);
