#include "display.h"

#include "log.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/kd.h>
#include <linux/vt.h>

namespace {

constexpr const char* console_prefix = "/dev/tty";
constexpr int console_open_flags = 0x802;  // O_RDWR | O_NONBLOCK

uintptr_t pointer_argument(void* p) { return reinterpret_cast<uintptr_t>(p); }

void log_geometry(display& d)
{
    platform& os = d.os;
    const fb_var_screeninfo& vi = d.vi;
    log_format(os, log_stderr, "vi.xres = %d\n", vi.xres);
    log_format(os, log_stderr, "vi.yres = %d\n", vi.yres);
    log_format(os, log_stderr, "vi.xresv = %d\n", vi.xres_virtual);
    log_format(os, log_stderr, "vi.yresv = %d\n", vi.yres_virtual);
    log_format(os, log_stderr, "vi.xoff = %d\n", vi.xoffset);
    log_format(os, log_stderr, "vi.yoff = %d\n", vi.yoffset);
    log_format(os, log_stderr, "vi.bits_per_pixel = %d\n", vi.bits_per_pixel);
    log_format(os, log_stderr, "fi.line_length = %d\n", d.fi.line_length);
}

// The drawable area: the visible screen cut to what the mapping holds, in a pixel layout
// the program can write; nothing at all when the layout is unknown.
void bound_screen(display& d, uint8_t* pixels)
{
    d.surface = {d.vi.xres, d.vi.yres, pixels};
    d.columns = d.rows = 0;
    if (!pixel_format_of(d.vi, &d.format) || d.fi.line_length == 0) return;
    uint32_t columns_in_line = d.fi.line_length / d.format.bytes;
    uint32_t lines_in_map = d.fi.smem_len / d.fi.line_length;
    d.columns = d.vi.xres < columns_in_line ? d.vi.xres : columns_in_line;
    d.rows = d.vi.yres < lines_in_map ? d.vi.yres : lines_in_map;
}

// Opens and maps the framebuffer: its descriptor, or -1.
int setup_framebuffer(display& d)
{
    platform& os = d.os;
    int fd = os.open(framebuffer_path, O_RDWR);
    if (fd < 0) return -1;
    if (os.ioctl(fd, FBIOGET_FSCREENINFO, pointer_argument(&d.fi)) < 0 ||
        os.ioctl(fd, FBIOGET_VSCREENINFO, pointer_argument(&d.vi)) < 0) {
        os.close(fd);
        return -1;
    }
    log_geometry(d);
    void* map = d.fi.smem_len > 0 ? os.map_shared(fd, d.fi.smem_len) : nullptr;
    if (map == nullptr) {
        os.close(fd);
        return -1;
    }
    bound_screen(d, static_cast<uint8_t*>(map));
    return fd;
}

// Asks the first console for the number of the first free one; false when it cannot.
bool free_console(platform& os, char* vtname, size_t size, int* n)
{
    std::snprintf(vtname, size, "%s%d", console_prefix, 1);
    log_format(os, log_stderr, "line %d : vtname is:%s\n", 216, vtname);
    int fd = os.open(vtname, O_WRONLY);
    if (fd < 0) return false;
    int r = os.ioctl(fd, VT_OPENQRY, pointer_argument(n));
    os.close(fd);
    return r >= 0;
}

int fail_console(display& d, int fd)
{
    d.os.close(fd);
    return -1;
}

}  // namespace

int init_display(display& d)
{
    platform& os = d.os;
    char vtname[64];
    int n = 0;
    if (!free_console(os, vtname, sizeof vtname, &n)) return -1;

    std::snprintf(vtname, sizeof vtname, "%s%d", console_prefix, n);
    log_format(os, log_stderr, "line %d : vtname is:%s\n", 229, vtname);
    int fd = os.open(vtname, console_open_flags);
    if (fd < 0) return -1;

    vt_stat state{};
    if (os.ioctl(fd, VT_GETSTATE, pointer_argument(&state)) == 0 &&
        os.ioctl(fd, VT_ACTIVATE, static_cast<uintptr_t>(n)) < 0)
        return fail_console(d, fd);
    if (os.ioctl(fd, VT_WAITACTIVE, static_cast<uintptr_t>(n)) < 0) return fail_console(d, fd);
    if (os.ioctl(fd, KDSETMODE, KD_GRAPHICS) < 0) return fail_console(d, fd);

    int fb = setup_framebuffer(d);
    if (fb < 0) {
        os.ioctl(fd, KDSETMODE, KD_TEXT);
        return fail_console(d, fd);
    }
    d.console_fd = fd;
    d.fb_fd = fb;

    // Room for a second page below the first; the pan offset stays 0 for good.
    fb_var_screeninfo vi = d.vi;
    vi.yres_virtual = 2 * vi.yres;
    vi.yoffset = 0;
    os.ioctl(fb, FBIOPUT_VSCREENINFO, pointer_argument(&vi));
    d.vi.yres_virtual = vi.yres_virtual;
    d.vi.yoffset = 0;
    return 0;
}

unsigned screen_width(const display& d) { return d.surface.width; }

unsigned screen_height(const display& d) { return d.surface.height; }

void clear_screen(display& d, int width, int height)
{
    if (d.surface.pixels == nullptr || width <= 0 || height <= 0) return;
    uint32_t columns = static_cast<uint32_t>(width) < d.columns ? width : d.columns;
    uint32_t rows = static_cast<uint32_t>(height) < d.rows ? height : d.rows;
    for (uint32_t y = 0; y < rows; ++y)
        std::memset(d.surface.pixels + static_cast<size_t>(y) * d.fi.line_length, 0,
                    static_cast<size_t>(columns) * d.format.bytes);
}

int write_int(display& d, const char* path, int value)
{
    platform& os = d.os;
    int fd = os.open(path, O_RDWR);
    if (fd < 0) {
        if (d.warned_once.exchange(1) == 0)
            log_format(os, log_stdout, "write_int failed to open %s\n", path);
        return fd;
    }
    char text[16];
    int length = std::snprintf(text, sizeof text, "%d\n", value);
    ssize_t n = os.write(fd, text, static_cast<size_t>(length));
    os.close(fd);
    return n < 0 ? static_cast<int>(n) : 0;
}

int lcd_power_on(display& d)
{
    write_int(d, fb_blank_path, 0);
    return write_int(d, backlight_path, 100);
}

int lcd_power_off(display& d)
{
    write_int(d, backlight_path, 10);
    return write_int(d, fb_blank_path, 1);
}
