// Quarter turns, flips, canvas resize and the grey sub-pixel shift.
#include <climits>
#include <cmath>
#include <limits>

#include "kxtest.hpp"
#include "ref_transform.hpp"

using namespace kxtest;

namespace {

ref::Pic picOf(const Image *im) { return {im->width, im->height, bpp(im->imageType), pixels(im)}; }

const int kTypes[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};

TEST(Rotate, QuarterTurnOfThreeByTwo)
{
    // 0 1 2
    // 3 4 5   -> a quarter turn counter-clockwise puts the old top-right first.
    auto im = makeImage(KIT_GRAY, 3, 2, {0, 1, 2, 3, 4, 5});
    ASSERT_EQ(kxRotate(im.get(), 1), im.get());
    EXPECT_EQ(im->width, 2);
    EXPECT_EQ(im->height, 3);
    EXPECT_EQ(pixels(im.get()), (std::vector<uint8_t>{2, 5, 1, 4, 0, 3}));
    kxRotate(im.get(), -1);
    EXPECT_EQ(pixels(im.get()), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5}));
}

TEST(Rotate, MatchesPlainLoopsForEveryCountTypeAndSize)
{
    const int counts[] = {0, 1, 2, 3, 4, 5, -1, -2, -3, -4, 7, INT_MAX, INT_MIN};
    const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {5, 3}, {33, 70}, {65, 31}};
    uint32_t seed = 1;
    for (int t : kTypes)
        for (auto &s : sizes)
            for (int n : counts) {
                auto im = randomImage(t, s[0], s[1], seed++);
                const ref::Pic want = ref::rotate(picOf(im.get()), n);
                kxRotate(im.get(), n);
                const ref::Pic got = picOf(im.get());
                ASSERT_EQ(got.w, want.w);
                ASSERT_EQ(got.h, want.h);
                ASSERT_EQ(got.px, want.px) << "type " << t << " " << s[0] << "x" << s[1] << " n " << n;
                EXPECT_EQ(im->pitch, im->width * bpp(t));
            }
}

TEST(Rotate, FourQuarterTurnsAreIdentityAndHalfTurnIsFlipBoth)
{
    for (int t : kTypes) {
        auto im = randomImage(t, 13, 6, 99);
        const auto before = pixels(im.get());
        for (int i = 0; i < 4; ++i) kxRotate(im.get(), 1);
        EXPECT_EQ(pixels(im.get()), before);
        auto flipped = randomImage(t, 13, 6, 99);
        kxRotate(im.get(), 2);
        kxFlip(flipped.get(), 0);
        EXPECT_EQ(pixels(im.get()), pixels(flipped.get()));
    }
}

TEST(Rotate, WrappedImages)
{
    // Square: turned in place through the caller's pitch, padding untouched.
    auto src = randomBytes(4 * 4 * 3, 5);
    PaddedImage sq(KIT_RGB, 4, 4, src);
    const ref::Pic want = ref::rotate({4, 4, 3, src}, 3);
    kxRotate(sq.get(), 3);
    EXPECT_EQ(pixels(sq.get()), want.px);
    EXPECT_TRUE(sq.paddingIntact());
    // Not square: an odd count cannot re-shape it, a half turn can run.
    auto src2 = randomBytes(5 * 3, 6);
    PaddedImage wide(KIT_GRAY, 5, 3, src2);
    kxRotate(wide.get(), 1);
    EXPECT_EQ(wide.get()->width, 5);
    EXPECT_EQ(pixels(wide.get()), src2);
    kxRotate(wide.get(), 2);
    EXPECT_EQ(pixels(wide.get()), ref::halfTurn({5, 3, 1, src2}).px);
    EXPECT_TRUE(wide.paddingIntact());
}

TEST(Rotate, NullAndOddRecords)
{
    EXPECT_EQ(kxRotate(nullptr, 1), nullptr);
    auto im = makeImage(KIT_GRAY, 3, 2, {1, 2, 3, 4, 5, 6});
    im->imageType = 16;  // inside 1..32 but not a type: unchanged
    EXPECT_EQ(kxRotate(im.get(), 1), im.get());
    EXPECT_EQ(im->width, 3);
    im->imageType = 40;
    EXPECT_EQ(kxRotate(im.get(), 2), im.get());
    im->imageType = KIT_GRAY;
    EXPECT_EQ(pixels(im.get()), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST(Flip, MatchesPlainLoops)
{
    const int sizes[][2] = {{1, 1}, {1, 6}, {6, 1}, {4, 5}, {5, 4}, {31, 17}};
    uint32_t seed = 40;
    for (int t : kTypes)
        for (auto &s : sizes)
            for (int mode : {0, 1, 2, 3, -1}) {
                auto im = randomImage(t, s[0], s[1], seed++);
                const ref::Pic want = ref::flip(picOf(im.get()), mode);
                EXPECT_EQ(kxFlip(im.get(), mode), im.get());
                ASSERT_EQ(pixels(im.get()), want.px) << t << " " << s[0] << "x" << s[1] << " mode " << mode;
            }
}

TEST(Flip, OddHeightKeepsMiddleRowAndPaddingIsKept)
{
    PaddedImage im(KIT_RGBA, 3, 3, randomBytes(36, 8), 7);
    const auto before = pixels(im.get());
    kxFlip(im.get(), 2);
    const auto after = pixels(im.get());
    EXPECT_TRUE(std::equal(before.begin() + 12, before.begin() + 24, after.begin() + 12));
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 12, after.begin() + 24));
    kxFlip(im.get(), 1);
    kxFlip(im.get(), 0);
    EXPECT_TRUE(im.paddingIntact());
    EXPECT_KX_ASSERT(kxFlip(nullptr, 1), "image");
}

TEST(Resize, CanvasChanges)
{
    struct Case {
        int type, w, h, nw, nh;
        uint32_t colour;
        int wantW, wantH;
        uint8_t fill[4];
    };
    const Case cases[] = {
        {KIT_GRAY, 3, 2, 5, 4, 77, 5, 4, {77}},
        {KIT_GRAY, 3, 2, 2, 1, 77, 2, 1, {0}},
        {KIT_GRAY, 3, 2, 4, 2, 0x00FF0000, 4, 2, {76}},  // luminance of pure red
        {KIT_BIN, 3, 2, 4, 3, 9, 4, 3, {1}},
        {KIT_RGB, 2, 2, 3, 3, 0x11223344, 3, 3, {0x44, 0x33, 0x22}},
        {KIT_RGBA, 2, 2, 3, 2, 0x11223344, 3, 2, {0x44, 0x33, 0x22, 0x11}},
        {KIT_GRAY, 3, 2, 20000, 1, 5, 16384, 1, {5}},
        {KIT_GRAY, 3, 2, INT_MAX, 2, 5, 16384, 2, {5}},
        {KIT_GRAY, 3, 2, 0, 5, 5, 3, 2, {0}},
        {KIT_GRAY, 3, 2, 5, -1, 5, 3, 2, {0}},
    };
    for (const Case &c : cases) {
        const int b = bpp(c.type);
        auto im = randomImage(c.type, c.w, c.h, 3);
        const auto before = pixels(im.get());
        kxResize(im.get(), c.nw, c.nh, c.colour);
        ASSERT_EQ(im->width, c.wantW);
        ASSERT_EQ(im->height, c.wantH);
        for (int y = 0; y < im->height; ++y)
            for (int x = 0; x < im->width; ++x)
                for (int k = 0; k < b; ++k) {
                    const uint8_t got = im->data[size_t(y) * im->pitch + size_t(x) * b + k];
                    const uint8_t want = x < c.w && y < c.h ? before[(size_t(y) * c.w + x) * b + k] : c.fill[k];
                    ASSERT_EQ(got, want) << c.type << " " << c.nw << "x" << c.nh << " at " << x << "," << y;
                }
    }
}

TEST(Resize, WrappedImageIsLeftAlone)
{
    PaddedImage im(KIT_GRAY, 4, 3, randomBytes(12, 2));
    const auto before = pixels(im.get());
    EXPECT_EQ(kxResize(im.get(), 8, 8, 1), im.get());
    EXPECT_EQ(im.get()->width, 4);
    EXPECT_EQ(pixels(im.get()), before);
    EXPECT_TRUE(im.paddingIntact());
    EXPECT_KX_ASSERT(kxResize(nullptr, 4, 4, 0), "image");
}

TEST(Translate, NearestShiftsByWholePixels)
{
    auto im = makeImage(KIT_GRAY, 4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
    kxTranslate(im.get(), 1.0f, 0.0f, 1);
    EXPECT_EQ(pixels(im.get()), (std::vector<uint8_t>{2, 3, 4, 255, 6, 7, 8, 255}));
    kxTranslate(im.get(), -0.4f, -1.0f, 1);  // floor(x - 0.4 + 0.5) = x
    EXPECT_EQ(pixels(im.get()), (std::vector<uint8_t>{255, 255, 255, 255, 2, 3, 4, 255}));
}

// The bilinear shift written out in double, as the plain formula.
uint8_t plainSample(const std::vector<uint8_t> &p, int w, int h, double sx, double sy)
{
    const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
    const double fx = sx - x0, fy = sy - y0;
    auto at = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h ? double(p[size_t(y) * w + x]) : 0.0; };
    const double top = (at(x0 + 1, y0) - at(x0, y0)) * fx + at(x0, y0);
    const double bottom = (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * fx + at(x0, y0 + 1);
    return uint8_t(int((bottom - top) * fy + top + 0.5));
}

TEST(Translate, BilinearBlendsWithZeroAtTheBorder)
{
    const int w = 9, h = 7;
    const auto src = randomBytes(size_t(w) * h, 21);
    for (float d : {0.25f, -0.75f, 1.5f, -2.125f, 0.0f}) {
        PaddedImage im(KIT_GRAY, w, h, src);
        kxTranslate(im.get(), d, -d / 2, 0);
        const auto got = pixels(im.get());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float sx = float(x) + d, sy = float(y) + -d / 2;
                const bool in = sx >= -1.0f && sx < w && sy >= -1.0f && sy < h;
                const uint8_t want = in ? plainSample(src, w, h, sx, sy) : 255;
                ASSERT_EQ(got[size_t(y) * w + x], want) << d << " at " << x << "," << y;
            }
        EXPECT_TRUE(im.paddingIntact());
    }
    // Half a pixel past the right edge: the last column blends with 0.
    auto im = makeImage(KIT_GRAY, 2, 1, {200, 100});
    kxTranslate(im.get(), 0.5f, 0.0f, 0);
    EXPECT_EQ(pixels(im.get()), (std::vector<uint8_t>{150, 50}));
}

TEST(Translate, OtherTypesAndAbsurdShifts)
{
    EXPECT_EQ(kxTranslate(nullptr, 1, 1, 1), nullptr);
    auto rgb = randomImage(KIT_RGB, 3, 3, 4);
    const auto before = pixels(rgb.get());
    kxTranslate(rgb.get(), 1, 1, 1);
    EXPECT_EQ(pixels(rgb.get()), before);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float d : {1e30f, -1e30f, nan, std::numeric_limits<float>::infinity()})
        for (int nearest : {0, 1}) {
            auto im = randomImage(KIT_GRAY, 3, 2, 4);
            kxTranslate(im.get(), d, 0.0f, nearest);
            EXPECT_EQ(pixels(im.get()), std::vector<uint8_t>(6, 255)) << d;
        }
}

TEST(WarpedMoves, TranslateE1ShiftsByWholePixels)
{
    const int w = 8, h = 6;
    const auto src = randomBytes(size_t(w) * h, 31);
    auto im = makeImage(KIT_GRAY, w, h, src);
    kxTranslateE1(im.get(), 2.0, 1.0, 250);
    const auto got = pixels(im.get());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t want = x >= 2 && y >= 1 ? src[size_t(y - 1) * w + x - 2] : 250;
            ASSERT_EQ(got[size_t(y) * w + x], want) << x << "," << y;
        }
}

TEST(WarpedMoves, ZeroTurnIsIdentityAndHalfTurnAboutTheCentre)
{
    for (int t : {KIT_BIN, KIT_GRAY, KIT_RGB}) {
        auto im = randomImage(t, 9, 7, 12);
        const auto before = pixels(im.get());
        EXPECT_EQ(kxRotateE3(im.get(), 3.0, 2.0, 0.0, 0), im.get());
        EXPECT_EQ(pixels(im.get()), before);
        // The warp takes point coordinates at pixel centres: 180 degrees
        // about ((w-1)/2, (h-1)/2) sends pixel x to w-1-x, as kxRotate(2).
        auto turned = randomImage(t, 9, 7, 12);
        kxRotateE3(im.get(), 4.0, 3.0, 180.0, 0);
        kxRotate(turned.get(), 2);
        EXPECT_EQ(pixels(im.get()), pixels(turned.get())) << t;
    }
}

TEST(WarpedMoves, RgbaBecomesRgbAndRefusalsLeaveTheImage)
{
    auto rgba = makeImage(KIT_RGBA, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8});
    kxTranslateE1(rgba.get(), 0.0, 0.0, 0);
    EXPECT_EQ(rgba->imageType, KIT_RGB);
    EXPECT_EQ(pixels(rgba.get()), (std::vector<uint8_t>{1, 2, 3, 5, 6, 7}));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto im = randomImage(KIT_GRAY, 5, 5, 3);
    const auto before = pixels(im.get());
    kxRotateE3(im.get(), 2, 2, nan, 7);
    kxTranslateE1(im.get(), nan, 0, 7);
    EXPECT_EQ(pixels(im.get()), before);

    PaddedImage wrapped(KIT_RGBA, 3, 3, randomBytes(36, 4));
    kxRotateE3(wrapped.get(), 1, 1, 30, 0);
    EXPECT_EQ(wrapped.get()->imageType, KIT_RGBA);
    EXPECT_EQ(pixels(wrapped.get()), randomBytes(36, 4));
    PaddedImage grey(KIT_GRAY, 6, 4, randomBytes(24, 5));
    kxTranslateE1(grey.get(), 1, 0, 9);
    EXPECT_EQ(pixels(grey.get())[0], 9);
    EXPECT_TRUE(grey.paddingIntact());
    EXPECT_EQ(kxRotateE3(nullptr, 0, 0, 10, 0), nullptr);
    EXPECT_EQ(kxTranslateE1(nullptr, 1, 1, 0), nullptr);
}

}  // namespace
