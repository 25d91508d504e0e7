// Single-pixel access: reads, neighbourhood means, the three colour rules of
// the setters, masks and bad input.
#include "kxtest.hpp"

using namespace kxtest;
using Bytes = std::vector<uint8_t>;

TEST(GetPixel, AssemblesColourValuesUnusableRecordsReadZero)
{
    const struct {
        int type;
        Bytes px;  // one pixel
        uint32_t want;
    } cases[] = {{KIT_BIN, {1}, 1}, {KIT_GRAY, {200}, 200}, {KIT_RGB, {0x11, 0x22, 0x33}, 0xFF332211u},  // opaque
                 {KIT_RGBA, {0x11, 0x22, 0x33, 0x44}, 0x44332211u}};
    for (const auto &c : cases) {
        ImagePtr im = makeImage(c.type, 1, 1, c.px);
        EXPECT_EQ(kxGetPixel(im.get(), 0, 0), c.want) << c.type;
        EXPECT_EQ(kxGetPixel(im.get(), 1, 0), 0u) << c.type;
        EXPECT_EQ(kxGetPixel(im.get(), 0, -1), 0u) << c.type;
    }
    ImagePtr im = makeImage(KIT_GRAY, 2, 2, {9, 9, 9, 9});
    // Outside the types, inside 1..32 but not a type, disagreeing with the one-channel `type`.
    for (int bad : {40, 16, KIT_RGB}) EXPECT_EQ((im->imageType = bad, kxGetPixel(im.get(), 0, 0)), 0u) << bad;
    EXPECT_KX_ASSERT(kxGetPixel(nullptr, 0, 0), "image");
}

TEST(GetPixelE1, AveragesTheClippedWindow)
{
    const struct { const char *name; int type, w, h; Bytes px; int x, y, radius; uint32_t want; } cases[] = {
        {"radius 0 on an unset pixel", KIT_BIN, 1, 1, {0}, 0, 0, 0, 0},
        {"radius 0 on a set pixel", KIT_BIN, 1, 1, {1}, 0, 0, 0, 1},
        {"2 of 4 at a corner ties to 1", KIT_BIN, 2, 2, {1, 0, 0, 1}, 0, 0, 1, 1},
        {"4 of 9 is not half", KIT_BIN, 3, 3, {1, 1, 1, 1, 0, 0, 0, 0, 0}, 1, 1, 1, 0},
        {"5 of 9 is", KIT_BIN, 3, 3, {1, 1, 1, 1, 1, 0, 0, 0, 0}, 1, 1, 1, 1},
        {"grey corner counts only inside pixels", KIT_GRAY, 2, 2, {10, 20, 30, 41}, 0, 0, 5, 25},
        {"negative radius is its magnitude", KIT_GRAY, 3, 1, {0, 3, 7}, 1, 0, -1, 3},
        {"rgb per channel", KIT_RGB, 2, 1, {10, 20, 30, 11, 21, 32}, 0, 0, 1, 0xFF1F140Au},
        {"rgba averages alpha", KIT_RGBA, 2, 1, {0, 0, 0, 100, 0, 0, 0, 201}, 1, 0, 1, 0x96000000u},
        {"no pixel visited, rgb", KIT_RGB, 1, 1, {5, 5, 5}, 50, 50, 1, 0xFF000000u},
        {"no pixel visited, gray", KIT_GRAY, 1, 1, {5}, -9, 0, 2, 0},
        {"huge radius does not overflow", KIT_GRAY, 2, 1, {4, 8}, 0, 0, INT32_MIN, 6},
    };
    for (const auto &c : cases) {
        ImagePtr im = makeImage(c.type, c.w, c.h, c.px);
        EXPECT_EQ(kxGetPixelE1(im.get(), c.x, c.y, c.radius), c.want) << c.name;
    }
}

TEST(SetPixel, ColourRulesPerSetterOutsideAndBadInput)
{
    const struct { const char *name; int type; uint32_t colour; Bytes viaSetPixel, viaSetPixelEx; } cases[] = {
        {"bin any non-zero", KIT_BIN, 0xFF000000u, {1}, {1}},
        {"bin zero", KIT_BIN, 0, {0}, {0}},
        {"gray small", KIT_GRAY, 200, {200}, {200}},
        {"gray 256: clamp vs luminance", KIT_GRAY, 0x100, {255}, {0}},
        {"gray red: clamp vs 255*0.299", KIT_GRAY, 0x00FF0000u, {255}, {76}},
        {"rgb", KIT_RGB, 0xAA112233u, {0x33, 0x22, 0x11}, {0x33, 0x22, 0x11}},
        {"rgba", KIT_RGBA, 0xAA112233u, {0x33, 0x22, 0x11, 0xAA}, {0x33, 0x22, 0x11, 0xAA}},
    };
    for (const auto &c : cases) {
        ImagePtr a = makeImage(c.type, 1, 1), b = makeImage(c.type, 1, 1);
        kxSetPixel(a.get(), 0, 0, c.colour);
        kxSetPixelEx(b.get(), c.colour, nullptr, 0);
        EXPECT_EQ(pixels(a.get()), c.viaSetPixel) << c.name;
        EXPECT_EQ(pixels(b.get()), c.viaSetPixelEx) << c.name;
    }
    PaddedImage im(KIT_GRAY, 3, 2);
    kxSetPixel(im.get(), 3, 0, 9);
    kxSetPixel(im.get(), -1, 1, 9);
    kxSetPixel(im.get(), 0, INT32_MIN, 9);
    EXPECT_EQ(pixels(im.get()), Bytes(6, 0));
    EXPECT_TRUE(im.paddingIntact());
    EXPECT_KX_ASSERT(kxSetPixel(nullptr, 0, 0, 1), "image");
}

TEST(SetPixelE1, ShiftsSkipsOutsideAndIgnoresEmptyLists)
{
    PaddedImage im(KIT_GRAY, 4, 3);
    const int pts[] = {0, 0, 3, 2, 2, 1, INT32_MAX, 0, -5, -5};
    kxSetPixelE1(im.get(), pts, 0, 0, 0, 50);
    kxSetPixelE1(im.get(), nullptr, 3, 0, 0, 50);
    EXPECT_EQ(pixels(im.get()), Bytes(12, 0));
    kxSetPixelE1(im.get(), pts, 5, 1, 0, 300);  // clamps like kxSetPixel
    EXPECT_EQ(pixels(im.get()), (Bytes{0, 255, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0}));
    EXPECT_TRUE(im.paddingIntact());
}

TEST(SetPixelEx, MaskSelectsAndLimitsTheArea)
{
    // A 2 x 2 mask (its own pitch) on a 3 x 3 image: the third row and
    // column stay; inverted, the mask's zeros are set.  Then a derived Mask,
    // which keeps its anchor where an Image keeps imageType: the fill reads
    // only its bytes.
    PaddedImage mask(KIT_BIN, 2, 2, {1, 0, 0, 1}, 3);
    ImagePtr bin = makeImage(KIT_BIN, 3, 1, {0, 1, 1});
    Mask *derived = kmkDeriveMask(bin.get());
    ASSERT_NE(derived, nullptr);
    const struct { int type, w, h; const Image *mask; int invert; Bytes want; } cases[] = {
        {KIT_RGB, 3, 3, mask.get(), 0, {3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 2, 1, 0, 0, 0}},
        {KIT_GRAY, 3, 3, mask.get(), 1, {0, 9, 0, 9, 0, 0, 0, 0, 0}},
        {KIT_GRAY, 3, 1, reinterpret_cast<const Image *>(derived), 0, {0, 9, 9}},
    };
    for (const auto &c : cases) {
        PaddedImage im(c.type, c.w, c.h);
        kxSetPixelEx(im.get(), c.type == KIT_RGB ? 0x00010203u : 9, c.mask, c.invert);
        Bytes want = c.want;
        want.resize(size_t(c.w) * c.h * bpp(c.type));
        EXPECT_EQ(pixels(im.get()), want) << c.type << " " << c.invert;
        EXPECT_TRUE(im.paddingIntact());
    }
    kxDestroyMask(derived);
}
