// Drawing BMP pictures that ImageMagick wrote, onto RGB 565, BGR 565 and 32-bit screens.
#include "bmp.h"
#include "display.h"
#include "fake_platform.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace {

struct rgba {
    uint8_t r, g, b, a;
};

// A picture of w x h pixels, row 0 on top.
struct picture {
    unsigned w, h;
    std::vector<rgba> pixels;
    const rgba& at(unsigned x, unsigned y) const { return pixels[y * w + x]; }
};

// Distinct colours, so a misplaced pixel shows.
picture pattern(unsigned w, unsigned h)
{
    picture p{w, h, {}};
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            p.pixels.push_back({static_cast<uint8_t>(40 * x + 8), static_cast<uint8_t>(50 * y + 4),
                                static_cast<uint8_t>(200 - 16 * x - 8 * y), 0x80});
    return p;
}

class scratch_dir {
public:
    scratch_dir()
    {
        char name[] = "/tmp/charger-bmp-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~scratch_dir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Writes `p` as a PAM file and has ImageMagick turn it into an uncompressed BMP of the given
// depth; the BMP file's bytes.
std::string imagemagick_bmp(const scratch_dir& dir, const picture& p, int bits,
                            const std::string& extra = "")
{
    static int serial = 0;
    std::string base = dir.path() + "/p" + std::to_string(serial++);
    std::ofstream pam(base + ".pam", std::ios::binary);
    pam << "P7\nWIDTH " << p.w << "\nHEIGHT " << p.h << "\nDEPTH 4\nMAXVAL 255\n"
        << "TUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (const rgba& c : p.pixels) pam << c.r << c.g << c.b << c.a;
    pam.close();
    std::string options = bits == 24 ? "-alpha off -type TrueColor"
                                     : "-alpha on -type TrueColorAlpha -define bmp3:alpha=true";
    std::string format = extra.empty() ? "BMP3:" : extra;
    std::string command = "/usr/bin/convert '" + base + ".pam' " + options + " '" + format +
                          base + ".bmp'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return read_file(base + ".bmp");
}

uint32_t field(const std::string& bmp, size_t offset, size_t size)
{
    uint32_t v = 0;
    for (size_t i = 0; i < size; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(bmp[offset + i])) << (8 * i);
    return v;
}

void patch(std::string& bmp, size_t offset, size_t size, uint32_t value)
{
    for (size_t i = 0; i < size; ++i) bmp[offset + i] = static_cast<char>(value >> (8 * i));
}

enum class screen_kind { rgb565, bgr565, xrgb8888 };

// A screen of 8 x 6 pixels with padded rows and a second page, filled with 0xA5.
struct small_screen {
    static constexpr unsigned xres = 8, yres = 6;
    fake_platform os;
    display d{os};
    unsigned bytes;
    unsigned line_length;

    explicit small_screen(screen_kind kind)
    {
        bytes = kind == screen_kind::xrgb8888 ? 4 : 2;
        line_length = (xres + 3) * bytes;
        os.set_framebuffer(xres, yres, bytes * 8, line_length, line_length * yres * 2);
        if (kind == screen_kind::bgr565) {
            os.fb.vi.red = {0, 5, 0};
            os.fb.vi.blue = {11, 5, 0};
        }
        EXPECT_EQ(init_display(d), 0);
    }

    void put(const std::string& name, const std::string& bmp)
    {
        os.set_file("/chargeimage/" + name + ".bmp", bmp);
    }

    uint32_t pixel(unsigned x, unsigned y) const
    {
        uint32_t v = 0;
        std::memcpy(&v, os.fb.memory.data() + y * line_length + x * bytes, bytes);
        return v;
    }

    uint32_t untouched() const { return bytes == 4 ? 0xA5A5A5A5u : 0xA5A5u; }

    uint32_t packed(const rgba& c) const { return pack_pixel(d.format, c.r, c.g, c.b); }

    // Every byte outside the visible screen still holds the fill.
    bool outside_untouched() const
    {
        for (size_t i = 0; i < os.fb.memory.size(); ++i) {
            size_t row = i / line_length, column = i % line_length;
            bool visible = row < yres && column < xres * bytes;
            if (!visible && os.fb.memory[i] != 0xA5) return false;
        }
        return true;
    }

    // The screen shows `p` with its top left at (x0, y0), clipped; the rest is untouched.
    void expect_shows(const picture& p, int x0, int y0, const std::string& what) const
    {
        for (unsigned y = 0; y < yres; ++y)
            for (unsigned x = 0; x < xres; ++x) {
                int px = static_cast<int>(x) - x0, py = static_cast<int>(y) - y0;
                bool inside = px >= 0 && py >= 0 && px < static_cast<int>(p.w) &&
                              py < static_cast<int>(p.h);
                uint32_t want = inside ? packed(p.at(px, py)) : untouched();
                EXPECT_EQ(pixel(x, y), want) << what << " at " << x << "," << y;
            }
        EXPECT_TRUE(outside_untouched()) << what;
    }
};

const screen_kind all_screens[] = {screen_kind::rgb565, screen_kind::bgr565,
                                   screen_kind::xrgb8888};

TEST(DrawBmp, RowsOfEveryPaddingAndBothDepths)
{
    scratch_dir dir;
    for (int bits : {24, 32})
        for (unsigned w = 1; w <= 4; ++w) {
            picture p = pattern(w, 3);
            std::string bmp = imagemagick_bmp(dir, p, bits);
            ASSERT_EQ(field(bmp, 28, 2), static_cast<uint32_t>(bits));
            ASSERT_EQ(field(bmp, 30, 4), 0u);
            if (bits == 24) {
                size_t row = w == 1 ? 4 : w == 2 ? 8 : 12;
                EXPECT_EQ(bmp.size() - field(bmp, 10, 4), row * 3) << "row length of width " << w;
            }
            for (screen_kind kind : all_screens) {
                small_screen s(kind);
                s.put("p", bmp);
                EXPECT_EQ(draw_bmp(s.d, "p", 0), 0);
                std::string what = std::to_string(bits) + " bit, width " + std::to_string(w);
                s.expect_shows(p, (8 - static_cast<int>(w)) / 2, 1, what);
            }
        }
}

TEST(DrawBmp, ColoursInTheScreensOwnFormat)
{
    scratch_dir dir;
    picture p{5, 1, {{255, 255, 255, 255}, {255, 0, 0, 255}, {0, 255, 0, 255},
                     {0, 0, 255, 255}, {8, 4, 8, 255}}};
    const struct { screen_kind kind; uint32_t values[5]; } cases[] = {
        {screen_kind::rgb565, {0xFFFF, 0xF800, 0x07E0, 0x001F, 0x0821}},
        {screen_kind::bgr565, {0xFFFF, 0x001F, 0x07E0, 0xF800, 0x0821}},
        {screen_kind::xrgb8888, {0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x080408}},
    };
    for (int bits : {24, 32}) {
        std::string bmp = imagemagick_bmp(dir, p, bits);
        for (const auto& c : cases) {
            small_screen s(c.kind);
            s.put("colours", bmp);
            ASSERT_EQ(draw_bmp(s.d, "colours", 0), 0);
            for (unsigned x = 0; x < 5; ++x)
                EXPECT_EQ(s.pixel(1 + x, 2) & (s.bytes == 4 ? 0xFFFFFF : 0xFFFF), c.values[x])
                    << bits << " bit, pixel " << x;
        }
    }
    EXPECT_EQ(rgb565(8, 4, 8), 0x0821);
}

TEST(DrawBmp, ExactSizePictureFillsTheVisibleRows)
{
    scratch_dir dir;
    picture p = pattern(8, 6);
    for (int bits : {24, 32})
        for (screen_kind kind : all_screens) {
            small_screen s(kind);
            s.put("full", imagemagick_bmp(dir, p, bits));
            ASSERT_EQ(draw_bmp(s.d, "full", 0), 0);
            s.expect_shows(p, 0, 0, "exact " + std::to_string(bits));
        }
}

TEST(DrawBmp, PicturesAreClippedToTheScreen)
{
    scratch_dir dir;
    const struct { unsigned w, h; int dy; int x0, y0; } cases[] = {
        {12, 9, 0, -2, -2},   // larger both ways: the centre shows
        {3, 2, -88, 2, -86},  // moved off the top
        {3, 2, 108, 2, 110},  // moved off the bottom
        {3, 4, -2, 2, -1},    // partly above
        {3, 4, 3, 2, 4},      // partly below, not into the second page
        {20, 1, 0, -6, 2},
    };
    for (const auto& c : cases) {
        picture p = pattern(c.w, c.h);
        std::string bmp = imagemagick_bmp(dir, p, 24);
        for (screen_kind kind : all_screens) {
            small_screen s(kind);
            s.put("big", bmp);
            EXPECT_EQ(draw_bmp(s.d, "big", c.dy), 0);
            s.expect_shows(p, c.x0, c.y0,
                           std::to_string(c.w) + "x" + std::to_string(c.h) + " dy " +
                               std::to_string(c.dy));
        }
    }
}

TEST(DrawBmp, TopDownPictureIsDrawnTheRightWayUp)
{
    scratch_dir dir;
    picture p = pattern(3, 4);
    std::string bmp = imagemagick_bmp(dir, p, 24);
    // Reverse the stored rows and negate the height: the same picture, stored top-down.
    size_t start = field(bmp, 10, 4), row = 12;
    std::string flipped = bmp.substr(0, start);
    for (int r = 3; r >= 0; --r) flipped += bmp.substr(start + r * row, row);
    patch(flipped, 22, 4, static_cast<uint32_t>(-4));
    small_screen s(screen_kind::rgb565);
    s.put("down", flipped);
    ASSERT_EQ(draw_bmp(s.d, "down", 0), 0);
    s.expect_shows(p, 2, 1, "top-down");
}

TEST(DrawBmp, BadPicturesAreRefusedBeforeDrawing)
{
    scratch_dir dir;
    std::string good = imagemagick_bmp(dir, pattern(4, 3), 24);
    std::string bitfields = imagemagick_bmp(dir, pattern(4, 3), 32, "BMP:");
    ASSERT_EQ(field(bitfields, 30, 4), 3u) << "ImageMagick writes BMP4+ with bit fields";
    auto patched = [&](size_t offset, size_t size, uint32_t value) {
        std::string b = good;
        patch(b, offset, size, value);
        return b;
    };
    std::string huge = patched(18, 4, 0x10000);
    patch(huge, 22, 4, 0x10000);
    const struct { const char* what; std::optional<std::string> file; int result; } cases[] = {
        {"missing", std::nullopt, -1},
        {"empty", std::string(), -2},
        {"short header", good.substr(0, 53), -2},
        {"signature", patched(0, 2, 0x4D43), -3},
        {"planes 2", patched(26, 2, 2), -4},
        {"16 bits", patched(28, 2, 16), -5},
        {"8 bits", patched(28, 2, 8), -5},
        {"RLE", patched(30, 4, 1), -6},
        {"bit fields", bitfields, -6},
        {"buffer beyond 32 bits", huge, -7},
        {"width beyond 32 bits", patched(18, 4, 0xFFFFFFFF), -7},
        {"height INT_MIN", patched(22, 4, 0x80000000), -7},
    };
    for (const auto& c : cases) {
        small_screen s(screen_kind::rgb565);
        if (c.file) s.put("bad", *c.file);
        std::vector<uint8_t> before = s.os.fb.memory;
        EXPECT_EQ(draw_bmp(s.d, "bad", 0), c.result) << c.what;
        EXPECT_EQ(s.os.fb.memory, before) << c.what;
        EXPECT_EQ(s.os.standard_output(), "") << c.what;
        if (c.file) {
            EXPECT_TRUE(s.os.has("close /chargeimage/bad.bmp")) << c.what;
        }
    }
}

TEST(DrawBmp, ShortRowsKeepTheRowsAlreadyDrawn)
{
    scratch_dir dir;
    picture p = pattern(4, 3);
    for (int bits : {24, 32}) {
        std::string bmp = imagemagick_bmp(dir, p, bits);
        size_t row = bits == 24 ? 12 : 16;
        // The bottom row whole, the next one cut short.
        std::string cut = bmp.substr(0, field(bmp, 10, 4) + row + row / 2);
        small_screen s(screen_kind::rgb565);
        s.put("cut", cut);
        EXPECT_EQ(draw_bmp(s.d, "cut", 0), bits == 24 ? -8 : -9);
        // Only the picture's bottom row (screen row 1 + 2) is on the screen.
        for (unsigned x = 0; x < 8; ++x)
            for (unsigned y = 0; y < 6; ++y) {
                bool drawn = y == 3 && x >= 2 && x < 6;
                EXPECT_EQ(s.pixel(x, y), drawn ? s.packed(p.at(x - 2, 2)) : s.untouched())
                    << bits << " at " << x << "," << y;
            }
    }
}

TEST(DrawBmp, NothingIsWrittenWithoutAScreen)
{
    scratch_dir dir;
    fake_platform os;
    os.console.present = false;
    display d(os);
    EXPECT_EQ(init_display(d), -1);
    os.set_file("/chargeimage/p.bmp", imagemagick_bmp(dir, pattern(8, 6), 24));
    std::vector<uint8_t> before = os.fb.memory;
    EXPECT_EQ(draw_bmp(d, "p", 0), 0);
    EXPECT_EQ(os.fb.memory, before);
}

}  // namespace
