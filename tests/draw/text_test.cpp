// Text blocks: size from the measured extents, line splitting, clipping,
// the transparency rule and the conversion to KIT_RGB.  Glyph shapes belong
// to the font renderer and are not checked pixel by pixel.
#include <climits>
#include <string>

#include "draw_util.hpp"
#include "kxtext.h"

using namespace drawtest;

namespace {

constexpr uint32_t kGround = 0x00404040, kBack = 0x000000FF;  // the image before drawing, the block background

ImagePtr rgbImage(int w, int h)
{
    ImagePtr im(kxCreateImage(KIT_RGB, w, h));
    kxSetPixelEx(im.get(), kGround, nullptr, 0);
    return im;
}

struct Box { int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1; bool operator==(const Box &) const = default; };  // inclusive

// The bounding box of the pixels that differ from `colour`.
Box changed(const Image *im, uint32_t colour)
{
    Box b;
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x)
            if ((kxGetPixel(im, x, y) & 0xFFFFFF) != colour)
                b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y), b.x1 = std::max(b.x1, x), b.y1 = std::max(b.y1, y);
    return b;
}

// The extent of one line as kxFillTextEx measures it with no style flags.
std::pair<int, int> extent(const std::string &line, int height)
{
    KxtFont *f = kxtCreateFont("Arial", height, 15, 0);
    int w = 0, h = 0;
    EXPECT_TRUE(f && kxtTextExtent(f, line.data(), int(line.size()), &w, &h));
    kxtDestroyFont(f);
    return {w, h};
}

TEST(FillText, BlockSizeLinesAndClipping)
{
    const auto [w, h] = extent("Hello, world", 20);
    const auto [w1, h1] = extent("Two", 16);
    const auto [w2, h2] = extent("lines", 16);
    ASSERT_TRUE(w > 40 && h >= 20) << w << "x" << h;
    const struct { const char *text; int x, y; const char *face; int height; Box want; } cases[] = {  // face null: Arial
        {"Hello, world", 7, 5, "Arial", 20, {7, 5, 7 + w - 1, 5 + h - 1}},
        {"Hello, world", -5, -9, "Arial", 20, {0, 0, w - 1, h - 1}},  // moved, not cut
        {"Two\n\nlines\n", 0, 0, nullptr, 16, {0, 0, std::max(w1, w2) - 1, 2 * std::max(h1, h2) - 1}},
        {"Two\rlines", 0, 0, "Arial", 16, {0, 0, extent("Two\rlines", 16).first - 1, h1 - 1}},  // one line
    };
    for (const auto &c : cases) {
        auto im = rgbImage(300, 80);
        kxFillTextEx(im.get(), c.text, c.x, c.y, c.face, c.height, 0x00FFFFFF, kBack, 0);
        EXPECT_EQ(changed(im.get(), kGround), c.want) << c.text;
        if (c.height == 20) {
            EXPECT_EQ(kxGetPixel(im.get(), std::max(c.x, 0), std::max(c.y, 0)) & 0xFFFFFF, kBack);  // block corner
        }
    }
    // Clipped at the right and bottom edges, the last column and row written.
    const char *text = "Clipped text\nsecond";
    auto big = rgbImage(400, 120), small = rgbImage(60, 25);
    kxFillTextEx(big.get(), text, 10, 8, "Arial", 18, 0x00FFFF00, kBack, 0x2 | 0x8);
    kxFillTextEx(small.get(), text, 10, 8, "Arial", 18, 0x00FFFF00, kBack, 0x2 | 0x8);
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 60; ++x) ASSERT_EQ(kxGetPixel(small.get(), x, y), kxGetPixel(big.get(), x, y)) << x << "," << y;
    EXPECT_EQ(changed(small.get(), kGround), (Box{10, 8, 59, 24}));
}

TEST(FillText, ArgumentsThatChangeNothing)
{
    // Each pair draws the same pixels: bytes past the 4096th are ignored, a
    // face name is cut after 31 characters, and a transparent background
    // equal to the image is moot.
    const std::string is(4096, 'i'), face31 = "Liberation Serif" + std::string(15, ' ');
    const struct { std::string text, face; uint32_t back; int flags; } pairs[][2] = {
        {{is, "Arial", kBack, 0}, {is + "\nWWWW", "Arial", kBack, 0}},
        {{"Face", face31, kBack, 0}, {"Face", face31 + "Sans Mono", kBack, 0}},
        {{"Same", "Arial", kGround, 0}, {"Same", "Arial", kGround, 0x10}},
    };
    for (const auto &pair : pairs) {
        auto a = rgbImage(200, 200), b = rgbImage(200, 200);
        for (int k = 0; k < 2; ++k)
            kxFillTextEx((k ? b : a).get(), pair[k].text.c_str(), 3, 3, pair[k].face.c_str(), 20, 0x00FFFFFF, pair[k].back, pair[k].flags);
        EXPECT_EQ(pixels(a.get()), pixels(b.get())) << pair[1].face;
        EXPECT_NE(changed(a.get(), kGround), Box{});
    }
    // kxFillText: white block background, transparent.  No pixel becomes
    // white and the text changes some pixels.
    auto im = rgbImage(200, 50);
    kxFillText(im.get(), "Transparent", 3, 3, 24, 0x00102030);
    const auto px = pixels(im.get());
    int white = 0, ink = 0;
    for (size_t i = 0; i < px.size(); i += 3) white += px[i] == 255 && px[i + 1] == 255 && px[i + 2] == 255, ink += px[i] == 0x30 && px[i + 1] == 0x20 && px[i + 2] == 0x10;
    EXPECT_TRUE(white == 0 && ink > 20) << white << " white, " << ink << " ink";
}

// Other types become KIT_RGB (a virtual one cannot and is left alone);
// unknown faces, styles, odd heights and bytes still draw; nothing to draw
// changes nothing.
TEST(FillText, ConvertsToRgbAndTakesOddArguments)
{
    for (int type : {KIT_BIN, KIT_GRAY, KIT_RGBA}) {
        auto im = makeImage(type, 30, 20);
        kxFillTextEx(im.get(), "x", 100, 0, "Arial", 12, 0, kBack, 0);  // starts beyond the right edge
        EXPECT_TRUE(im->imageType == KIT_RGB && pixels(im.get()) == std::vector<uint8_t>(30 * 20 * 3, 0)) << type;
    }
    PaddedImage v(KIT_GRAY, 30, 20), vr(KIT_RGB, 40, 20);
    kxFillText(v.get(), "x", 0, 0, 12, 0), kxFillTextEx(vr.get(), "Pad", 0, 0, "Arial", 30, 0x00FFFFFF, kBack, 0);
    EXPECT_TRUE(v.get()->imageType == KIT_GRAY && pixels(v.get()) == std::vector<uint8_t>(600, 0));
    EXPECT_TRUE(vr.paddingIntact() && changed(vr.get(), 0) != Box{});
    for (int h : {0, INT_MIN, INT_MAX}) {
        auto t = rgbImage(64, 32);
        kxFillTextEx(t.get(), "\x80\x81\x9f\xff\t\r", 0, 0, "No Such Face Anywhere", h, 0, kBack, 0x2 | 0x4 | 0x8);
        EXPECT_NE(changed(t.get(), kGround), Box{}) << h;
    }
    auto e = rgbImage(20, 20);
    for (auto [t, x, y] : {std::tuple{"", 0, 0}, {"x", INT_MAX, 0}, {"x", 0, 20}}) kxFillTextEx(e.get(), t, x, y, "Arial", 12, 0, kBack, 0);
    EXPECT_EQ(changed(e.get(), kGround), Box{});
}

// The renderer takes a positive height as the em, which a cell exceeds, and
// a negative one as the cell height.
TEST(TextRenderer, CellHeight)
{
    const auto em = extent("Wide", 40), cell = extent("Wide", -40);
    EXPECT_GT(em.second, 40);
    EXPECT_NEAR(cell.second, 40, 2);
    EXPECT_LT(cell.first, em.first);
}

}  // namespace
