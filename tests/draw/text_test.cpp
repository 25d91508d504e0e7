// Text blocks: size from the measured extents, line splitting, clipping,
// the transparency rule and the conversion to KIT_RGB.  Glyph shapes belong
// to the font renderer and are not checked pixel by pixel.
#include <climits>
#include <string>

#include "kxtest.hpp"
#include "kxtext.h"

using namespace kxtest;

// fontconfig loads its configuration once per process on first use and keeps
// it until exit; the leak checker must not count that as ours.
extern "C" __attribute__((visibility("default"), used)) const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so";
}

namespace {

constexpr uint32_t kGround = 0x00404040;  // the image's colour before drawing
constexpr uint32_t kBack = 0x000000FF;    // block background (red)

ImagePtr rgbImage(int w, int h, uint32_t colour = kGround)
{
    ImagePtr im(kxCreateImage(KIT_RGB, w, h));
    kxSetPixelEx(im.get(), colour, nullptr, 0);
    return im;
}

struct Box {
    int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;  // inclusive
    bool operator==(const Box &) const = default;
};

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
std::pair<int, int> extent(const std::string &line, int height, const char *face = "Arial")
{
    KxtFont *f = kxtCreateFont(face, height, 15, 0);
    int w = 0, h = 0;
    EXPECT_TRUE(f && kxtTextExtent(f, line.data(), int(line.size()), &w, &h));
    kxtDestroyFont(f);
    return {w, h};
}

TEST(FillText, BlockSizeFromMeasuredExtent)
{
    const auto [w, h] = extent("Hello, world", 20);
    ASSERT_GT(w, 40);
    ASSERT_GE(h, 20);
    auto im = rgbImage(300, 80);
    kxFillTextEx(im.get(), "Hello, world", 7, 5, "Arial", 20, 0x00FFFFFF, kBack, 0);
    EXPECT_EQ(changed(im.get(), kGround), (Box{7, 5, 7 + w - 1, 5 + h - 1}));
    EXPECT_EQ(kxGetPixel(im.get(), 7, 5) & 0xFFFFFF, kBack);  // the block's corner is background
}

TEST(FillText, LinesSplitAtLineFeeds)
{
    const auto [w1, h1] = extent("Two", 16);
    const auto [w2, h2] = extent("lines", 16);
    auto im = rgbImage(200, 100);
    kxFillTextEx(im.get(), "Two\n\nlines\n", 0, 0, nullptr, 16, 0, kBack, 0);  // null face: Arial
    EXPECT_EQ(changed(im.get(), kGround), (Box{0, 0, std::max(w1, w2) - 1, 2 * std::max(h1, h2) - 1}));
    // A carriage return is an ordinary character: one line.
    auto cr = rgbImage(200, 100);
    kxFillTextEx(cr.get(), "Two\rlines", 0, 0, "Arial", 16, 0, kBack, 0);
    EXPECT_EQ(changed(cr.get(), kGround).y1, h1 - 1);
    // Only line feeds: no line, nothing drawn.
    auto none = rgbImage(50, 40);
    kxFillTextEx(none.get(), "\n\n\n", 0, 0, "Arial", 16, 0, kBack, 0);
    EXPECT_EQ(changed(none.get(), kGround), Box{});
}

TEST(FillText, ClippedAtRightAndBottomEdges)
{
    const char *text = "Clipped text\nsecond";
    auto big = rgbImage(400, 120), small = rgbImage(60, 25);
    kxFillTextEx(big.get(), text, 10, 8, "Arial", 18, 0x00FFFF00, kBack, 0x2 | 0x8);
    kxFillTextEx(small.get(), text, 10, 8, "Arial", 18, 0x00FFFF00, kBack, 0x2 | 0x8);
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 60; ++x) ASSERT_EQ(kxGetPixel(small.get(), x, y), kxGetPixel(big.get(), x, y)) << x << "," << y;
    EXPECT_EQ(changed(small.get(), kGround), (Box{10, 8, 59, 24}));  // last column and row written
}

TEST(FillText, NegativeStartMovesTheBlock)
{
    auto a = rgbImage(200, 50), b = rgbImage(200, 50);
    kxFillTextEx(a.get(), "Moved", -5, -9, "Arial", 20, 0, kBack, 0);
    kxFillTextEx(b.get(), "Moved", 0, 0, "Arial", 20, 0, kBack, 0);
    EXPECT_EQ(pixels(a.get()), pixels(b.get()));
    EXPECT_EQ(changed(a.get(), kGround).x0, 0);
}

TEST(FillText, TransparentBackgroundIsNotCopied)
{
    // kxFillText: white block background, transparent.  No pixel becomes
    // white and the text changes some pixels.
    auto im = rgbImage(200, 50);
    kxFillText(im.get(), "Transparent", 3, 3, 24, 0x00102030);
    int white = 0, text = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 200; ++x) {
            const uint32_t c = kxGetPixel(im.get(), x, y) & 0xFFFFFF;
            white += c == 0xFFFFFF;
            text += c == 0x102030;
        }
    EXPECT_EQ(white, 0);
    EXPECT_GT(text, 20);
    // With the background equal to the image colour the flag changes nothing.
    auto opaque = rgbImage(200, 50), clear = rgbImage(200, 50);
    kxFillTextEx(opaque.get(), "Same", 3, 3, "Arial", 24, 0x00FFFFFF, kGround, 0);
    kxFillTextEx(clear.get(), "Same", 3, 3, "Arial", 24, 0x00FFFFFF, kGround, 0x10);
    EXPECT_EQ(pixels(opaque.get()), pixels(clear.get()));
}

TEST(FillText, ConvertsToRgb)
{
    for (int type : {KIT_BIN, KIT_GRAY, KIT_RGBA}) {
        auto im = makeImage(type, 30, 20);
        kxFillTextEx(im.get(), "x", 100, 0, "Arial", 12, 0, kBack, 0);  // starts beyond the right edge
        EXPECT_EQ(im->imageType, KIT_RGB);
        EXPECT_EQ(pixels(im.get()), std::vector<uint8_t>(30 * 20 * 3, 0));
    }
    // A virtual grey image cannot change layout: left alone.
    PaddedImage v(KIT_GRAY, 30, 20);
    kxFillText(v.get(), "x", 0, 0, 12, 0);
    EXPECT_EQ(v.get()->imageType, KIT_GRAY);
    EXPECT_EQ(pixels(v.get()), std::vector<uint8_t>(600, 0));
    // A virtual RGB image is drawn into, padding kept.
    PaddedImage vr(KIT_RGB, 40, 20);
    kxFillTextEx(vr.get(), "Pad", 0, 0, "Arial", 30, 0x00FFFFFF, kBack, 0);
    EXPECT_TRUE(vr.paddingIntact());
    EXPECT_NE(changed(vr.get(), 0), Box{});
}

TEST(FillText, CapsTextAndFaceName)
{
    // Bytes past the 4096th are ignored: a second line there changes nothing.
    std::string text(4096, 'i');
    auto a = rgbImage(100, 200), b = rgbImage(100, 200);
    kxFillTextEx(a.get(), text.c_str(), 0, 0, "Arial", 10, 0, kBack, 0);
    text += "\nWWWW";
    kxFillTextEx(b.get(), text.c_str(), 0, 0, "Arial", 10, 0, kBack, 0);
    EXPECT_EQ(pixels(a.get()), pixels(b.get()));
    // A face name is cut after 31 characters.
    const std::string face31 = "Liberation Serif" + std::string(15, ' ');
    const std::string face40 = face31 + "Sans Mono";
    auto c = rgbImage(200, 40), d = rgbImage(200, 40);
    kxFillTextEx(c.get(), "Face", 0, 0, face31.c_str(), 20, 0, kBack, 0);
    kxFillTextEx(d.get(), "Face", 0, 0, face40.c_str(), 20, 0, kBack, 0);
    EXPECT_EQ(pixels(c.get()), pixels(d.get()));
}

TEST(FillText, UnknownFaceStylesAndOddArguments)
{
    auto im = rgbImage(200, 60);
    kxFillTextEx(im.get(), "Fallback", 0, 0, "No Such Face Anywhere", 20, 0, kBack, 0x2 | 0x4 | 0x8);
    EXPECT_NE(changed(im.get(), kGround), Box{});
    const int heights[] = {0, -20, 1, INT_MIN, INT_MAX};
    for (int h : heights) {
        auto t = rgbImage(64, 32);
        kxFillTextEx(t.get(), "\x80\x81\x9f\xff\t\r", 0, 0, "Arial", h, 0, kBack, 0);
        EXPECT_NE(changed(t.get(), kGround), Box{}) << h;
    }
    kxFillTextEx(nullptr, "x", 0, 0, "Arial", 12, 0, 0, 0);
    kxFillTextEx(im.get(), nullptr, 0, 0, "Arial", 12, 0, 0, 0);
    auto e = rgbImage(20, 20);
    kxFillTextEx(e.get(), "", 0, 0, "Arial", 12, 0, kBack, 0);
    kxFillTextEx(e.get(), "x", INT_MAX, 0, "Arial", 12, 0, kBack, 0);
    kxFillTextEx(e.get(), "x", 0, 20, "Arial", 12, 0, kBack, 0);
    EXPECT_EQ(changed(e.get(), kGround), Box{});
}

TEST(TextRenderer, CellHeightAndStyles)
{
    KxtFont *em = kxtCreateFont("Arial", 40, 400, 0);
    KxtFont *cell = kxtCreateFont("Arial", -40, 400, 0);
    ASSERT_TRUE(em && cell);
    int w = 0, h = 0, wc = 0, hc = 0;
    ASSERT_TRUE(kxtTextExtent(em, "Wide", 4, &w, &h));
    ASSERT_TRUE(kxtTextExtent(cell, "Wide", 4, &wc, &hc));
    EXPECT_GT(h, 40);        // a cell is taller than the em
    EXPECT_NEAR(hc, 40, 2);  // asked for the cell height
    EXPECT_LT(wc, w);
    EXPECT_EQ(kxtTextExtent(em, nullptr, 1, &w, &h), 0);
    kxtDestroyFont(em);
    kxtDestroyFont(cell);
    kxtDestroyFont(nullptr);
}

}  // namespace
