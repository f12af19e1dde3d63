#include "bmp.h"

namespace {

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t u32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bmp_header parse_bmp_header(const uint8_t (&b)[bmp_header_size])
{
    bmp_header h{};
    h.signature = u16(b + 0);
    h.pixel_offset = u32(b + 10);
    h.width = u32(b + 18);
    h.height = static_cast<int32_t>(u32(b + 22));
    h.planes = u16(b + 26);
    h.bits_per_pixel = u16(b + 28);
    h.compression = u32(b + 30);
    return h;
}

int check_bmp_header(const bmp_header& h)
{
    if (h.signature != 0x4D42) return bmp_bad_signature;
    if (h.planes != 1) return bmp_bad_planes;
    if (h.bits_per_pixel != 24 && h.bits_per_pixel != 32) return bmp_bad_depth;
    if (h.compression != 0) return bmp_compressed;
    return 0;
}

bool bmp_geometry_of(const bmp_header& h, bmp_geometry* g)
{
    int64_t height = h.height;
    uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
    uint64_t buffer = static_cast<uint64_t>(h.width) * rows * 4 + 32;
    if (buffer > UINT32_MAX) return false;
    g->width = h.width;
    g->rows = static_cast<uint32_t>(rows);
    g->top_down = height < 0;
    g->bytes_per_pixel = h.bits_per_pixel / 8u;
    g->row_length = h.bits_per_pixel == 24 ? (3ull * h.width + 3) & ~3ull : 4ull * h.width;
    return true;
}
