// draw_bmp over arbitrary files on small screens: whatever the file says, nothing outside
// the visible screen changes, and the result is one of draw_bmp's own.
#include "display.h"
#include "fake_platform.h"

#include <cstdlib>
#include <string>

namespace {

constexpr uint8_t fill = 0x5A;

void draw_on(unsigned bits, unsigned xres, unsigned yres, unsigned pad, int dy,
             const std::string& file)
{
    fake_platform os(false);
    unsigned bytes = bits / 8;
    unsigned line_length = (xres + pad) * bytes;
    os.set_framebuffer(xres, yres, bits, line_length, line_length * yres * 2, fill);
    display d(os);
    if (init_display(d) != 0) std::abort();
    os.set_file("/chargeimage/f.bmp", file);
    int r = draw_bmp(d, "f", dy);
    if (r > 0 || r < -9) std::abort();
    for (size_t i = 0; i < os.fb.memory.size(); ++i) {
        size_t row = i / line_length, column = i % line_length;
        bool visible = row < yres && column < xres * bytes;
        if (!visible && os.fb.memory[i] != fill) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string file(reinterpret_cast<const char*>(data), size);
    draw_on(16, 7, 5, 3, 0, file);
    draw_on(32, 6, 4, 1, -2, file);
    draw_on(24, 5, 3, 0, 2, file);
    return 0;
}
