// Drawing one BMP picture onto the screen, row by row as it is read.
//
// The rows are streamed through a small fixed buffer, so neither the picture's size nor a
// lying header decides how much memory is touched; every pixel is placed only if it falls
// on the visible screen, rows line_length bytes apart, in the framebuffer's own format.
#include "bmp.h"
#include "display.h"

#include <cstdio>
#include <fcntl.h>

namespace {

// A multiple of 3 and of 4, so a chunk never splits a pixel of either depth.
constexpr size_t chunk_size = 3 * 4 * 1024;

class picture_file {
public:
    picture_file(platform& os, const char* path) : os_(os), fd_(os.open(path, O_RDONLY)) {}
    ~picture_file()
    {
        if (fd_ >= 0) os_.close(fd_);
    }
    picture_file(const picture_file&) = delete;
    picture_file& operator=(const picture_file&) = delete;

    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Reads up to `size` bytes, going on after short reads; the count read.
    size_t read_up_to(uint8_t* to, size_t size)
    {
        size_t done = 0;
        while (done < size) {
            ssize_t n = os_.read(fd_, to + done, size - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        return done;
    }

private:
    platform& os_;
    int fd_;
};

struct placement {
    int64_t x0;   // screen column of the picture's left edge
    int64_t top;  // screen row of the picture's top row
};

void put_pixel(display& d, int64_t x, int64_t y, const uint8_t* bgr)
{
    if (x < 0 || y < 0 || x >= d.columns || y >= d.rows) return;
    uint8_t* at = d.surface.pixels + static_cast<size_t>(y) * d.fi.line_length +
                  static_cast<size_t>(x) * d.format.bytes;
    store_pixel(d.format, at, pack_pixel(d.format, bgr[2], bgr[1], bgr[0]));
}

// Reads one file row and draws its pixels on screen row `y`; false on a short row.
bool draw_row(display& d, picture_file& file, const bmp_geometry& g, int64_t x0, int64_t y)
{
    bool on_screen = d.surface.pixels != nullptr && y >= 0 && y < d.rows;
    uint64_t pixel_bytes = static_cast<uint64_t>(g.width) * g.bytes_per_pixel;
    uint8_t chunk[chunk_size];
    for (uint64_t offset = 0; offset < g.row_length;) {
        size_t want = static_cast<size_t>(
            g.row_length - offset < chunk_size ? g.row_length - offset : chunk_size);
        if (file.read_up_to(chunk, want) < want) return false;
        if (on_screen) {
            for (size_t i = 0; i + g.bytes_per_pixel <= want && offset + i < pixel_bytes;
                 i += g.bytes_per_pixel) {
                int64_t column = static_cast<int64_t>((offset + i) / g.bytes_per_pixel);
                put_pixel(d, x0 + column, y, chunk + i);
            }
        }
        offset += want;
    }
    return true;
}

}  // namespace

int draw_bmp(display& d, const char* name, int dy)
{
    char path[256];
    std::snprintf(path, sizeof path - 1, "/chargeimage/%s.bmp", name);
    picture_file file(d.os, path);
    if (!file.is_open()) return bmp_cannot_open;

    uint8_t raw[bmp_header_size];
    if (file.read_up_to(raw, sizeof raw) < sizeof raw) return bmp_short_header;
    bmp_header header = parse_bmp_header(raw);
    if (int r = check_bmp_header(header)) return r;
    bmp_geometry g;
    if (!bmp_geometry_of(header, &g)) return bmp_no_buffer;
    if (g.width == 0 || g.rows == 0) return bmp_drawn;  // nothing to read or show

    d.os.seek_set(file.fd(), header.pixel_offset);
    // Centred, and an exactly fitting picture at dy 0 covers rows 0 to yres - 1.
    placement at{(static_cast<int64_t>(d.vi.xres) - g.width) >> 1,
                 ((static_cast<int64_t>(d.vi.yres) - g.rows) >> 1) + dy};
    for (uint32_t i = 0; i < g.rows; ++i) {
        int64_t picture_row = g.top_down ? i : static_cast<int64_t>(g.rows) - 1 - i;
        if (!draw_row(d, file, g, at.x0, at.top + picture_row))
            return g.bytes_per_pixel == 3 ? bmp_short_row : bmp_short_row_32;
    }
    return bmp_drawn;
}
