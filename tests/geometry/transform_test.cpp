// Quarter turns, flips, canvas resize and the grey sub-pixel shift.
#include <climits>
#include <functional>
#include <tuple>
#include <limits>

#include "ref_transform.hpp"

using namespace kxtest;

namespace {

const int kTypes[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};

TEST(Rotate, QuarterTurnOfThreeByTwo)
{
    // 0 1 2
    // 3 4 5   -> a quarter turn counter-clockwise puts the old top-right first.
    auto im = makeImage(KIT_GRAY, 3, 2, {0, 1, 2, 3, 4, 5});
    ASSERT_EQ(kxRotate(im.get(), 1), im.get());
    EXPECT_EQ(std::pair(im->width, im->height), std::pair(2, 3));
    EXPECT_EQ(pixels(im.get()), (std::vector<uint8_t>{2, 5, 1, 4, 0, 3}));
    kxRotate(im.get(), -1);
    EXPECT_EQ(pixels(im.get()), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5}));
}

TEST(RotateAndFlip, MatchPlainLoops)
{
    const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {4, 5}, {5, 3}, {33, 70}, {65, 31}};
    uint32_t seed = 1;
    for (int t : kTypes)
        for (auto &s : sizes) {
            SCOPED_TRACE(testing::Message() << "type " << t << " " << s[0] << "x" << s[1]);
            for (int n : {0, 1, 2, 3, 4, 5, -1, -2, -3, -4, 7, INT_MAX, INT_MIN}) {
                auto im = randomImage(t, s[0], s[1], seed++);
                const ref::Pic want = ref::rotate(ref::picOf(im.get()), n);
                kxRotate(im.get(), n);
                ASSERT_EQ(std::pair(im->width, im->height), std::pair(want.w, want.h)) << "turns " << n;
                ASSERT_EQ(pixels(im.get()), want.px) << "turns " << n;
                EXPECT_EQ(im->pitch, im->width * bpp(t));
            }
            for (int mode : {0, 1, 2, 3, -1}) {
                auto im = randomImage(t, s[0], s[1], seed++);
                const ref::Pic want = ref::flip(ref::picOf(im.get()), mode);
                EXPECT_EQ(kxFlip(im.get(), mode), im.get());
                ASSERT_EQ(pixels(im.get()), want.px) << "flip " << mode;
            }
        }
}

TEST(RotateAndFlip, WrappedImages)
{
    // Square: turned in place through the caller's pitch, padding untouched.
    const auto src = randomBytes(4 * 4 * 3, 5);
    PaddedImage sq(KIT_RGB, 4, 4, src);
    kxRotate(sq.get(), 3);
    EXPECT_EQ(pixels(sq.get()), ref::rotate({4, 4, 3, src}, 3).px);
    EXPECT_TRUE(sq.paddingIntact());
    // Not square: a half turn can run (an odd count is refused below).
    const auto src2 = randomBytes(5 * 3, 6);
    PaddedImage wide(KIT_GRAY, 5, 3, src2);
    kxRotate(wide.get(), 2);
    EXPECT_EQ(pixels(wide.get()), ref::halfTurn({5, 3, 1, src2}).px);
    EXPECT_TRUE(wide.paddingIntact());
    // Every flip through the caller's pitch.
    const auto src3 = randomBytes(36, 8);
    PaddedImage flipped(KIT_RGBA, 3, 3, src3, 7);
    for (int mode : {2, 1, 0}) kxFlip(flipped.get(), mode);
    EXPECT_EQ(pixels(flipped.get()), ref::flip(ref::flip(ref::flip({3, 3, 4, src3}, 2), 1), 0).px);
    EXPECT_TRUE(flipped.paddingIntact());
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
        SCOPED_TRACE(testing::Message() << c.type << " " << c.nw << "x" << c.nh);
        const int b = bpp(c.type);
        auto im = randomImage(c.type, c.w, c.h, 3);
        const auto before = pixels(im.get());
        kxResize(im.get(), c.nw, c.nh, c.colour);
        ASSERT_EQ(std::pair(im->width, im->height), std::pair(c.wantW, c.wantH));
        for (int y = 0; y < im->height; ++y)
            for (int x = 0; x < im->width; ++x)
                for (int k = 0; k < b; ++k)
                    ASSERT_EQ(im->data[size_t(y) * im->pitch + size_t(x) * b + k],
                              x < c.w && y < c.h ? before[(size_t(y) * c.w + x) * b + k] : c.fill[k])
                        << x << "," << y;
    }
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
                ASSERT_EQ(got[size_t(y) * w + x], in ? plainSample(src, w, h, sx, sy) : 255)
                    << d << " at " << x << "," << y;
            }
        EXPECT_TRUE(im.paddingIntact());
    }
    // Half a pixel past the right edge: the last column blends with 0.
    auto im = makeImage(KIT_GRAY, 2, 1, {200, 100});
    kxTranslate(im.get(), 0.5f, 0.0f, 0);
    EXPECT_EQ(pixels(im.get()), (std::vector<uint8_t>{150, 50}));
}

TEST(Translate, AbsurdShiftsLeaveOnlyBackground)
{
    for (float d : {1e30f, -1e30f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
        for (int nearest : {0, 1}) {
            auto im = randomImage(KIT_GRAY, 3, 2, 4);
            kxTranslate(im.get(), d, 0.0f, nearest);
            EXPECT_EQ(pixels(im.get()), std::vector<uint8_t>(6, 255)) << d;
        }
}

TEST(WarpedMoves, WholePixelShiftsAndTurns)
{
    const int w = 8, h = 6;
    const auto src = randomBytes(size_t(w) * h, 31);
    auto im = makeImage(KIT_GRAY, w, h, src);
    kxTranslateE1(im.get(), 2.0, 1.0, 250);
    const auto got = pixels(im.get());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(got[size_t(y) * w + x], x >= 2 && y >= 1 ? src[size_t(y - 1) * w + x - 2] : 250)
                << x << "," << y;

    // The warp takes point coordinates at pixel centres: 0 degrees changes
    // nothing, 180 degrees about ((w-1)/2, (h-1)/2) sends pixel x to w-1-x.
    for (int t : {KIT_BIN, KIT_GRAY, KIT_RGB}) {
        auto turned = randomImage(t, 9, 7, 12);
        const ref::Pic before = ref::picOf(turned.get());
        EXPECT_EQ(kxRotateE3(turned.get(), 3.0, 2.0, 0.0, 0), turned.get());
        EXPECT_EQ(pixels(turned.get()), before.px) << t;
        kxRotateE3(turned.get(), 4.0, 3.0, 180.0, 0);
        EXPECT_EQ(pixels(turned.get()), ref::halfTurn(before).px) << t;
    }
}

TEST(WarpedMoves, RgbaBecomesRgbAndWrappedGreyIsShiftedInPlace)
{
    auto rgba = makeImage(KIT_RGBA, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8});
    kxTranslateE1(rgba.get(), 0.0, 0.0, 0);
    EXPECT_EQ(rgba->imageType, KIT_RGB);
    EXPECT_EQ(pixels(rgba.get()), (std::vector<uint8_t>{1, 2, 3, 5, 6, 7}));
    PaddedImage grey(KIT_GRAY, 6, 4, randomBytes(24, 5));
    kxTranslateE1(grey.get(), 1, 0, 9);
    EXPECT_EQ(pixels(grey.get())[0], 9);
    EXPECT_TRUE(grey.paddingIntact());
}

// Calls that must leave the image exactly as it was: wrapped images that
// would have to change size or type, unusable types, non-finite arguments.
TEST(Refusals, LeaveTheImageAsItWas)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char *what;
        int type, w, h;
        bool wrapped;
        std::function<void(Image *)> call;
        int recordType = 0;  // set for the call when not 0
    };
    const Case cases[] = {
        {"kxRotate odd count, wrapped", KIT_GRAY, 5, 3, true, [](Image *im) { kxRotate(im, 1); }},
        {"kxRotate, type 16", KIT_GRAY, 3, 2, false, [](Image *im) { EXPECT_EQ(kxRotate(im, 1), im); }, 16},
        {"kxRotate, type 40", KIT_GRAY, 3, 2, false, [](Image *im) { EXPECT_EQ(kxRotate(im, 2), im); }, 40},
        {"kxRotateEx keepSize 0, wrapped", KIT_RGBA, 9, 6, true, [](Image *im) { kxRotateEx(im, 30, 0, 0); }},
        {"kxRotateEx NaN", KIT_GRAY, 4, 4, false, [&](Image *im) { EXPECT_EQ(kxRotateEx(im, nan, 0, 0), im); }},
        {"kxRotateEx infinity", KIT_GRAY, 4, 4, false, [&](Image *im) { EXPECT_EQ(kxRotateEx(im, inf, 0, 0), im); }},
        {"kxResize, wrapped", KIT_GRAY, 4, 3, true, [](Image *im) { EXPECT_EQ(kxResize(im, 8, 8, 1), im); }},
        {"kxTranslate, RGB", KIT_RGB, 3, 3, false, [](Image *im) { kxTranslate(im, 1, 1, 1); }},
        {"kxRotateE3 RGBA, wrapped", KIT_RGBA, 3, 3, true, [](Image *im) { kxRotateE3(im, 1, 1, 30, 0); }},
        {"kxScale, wrapped", KIT_GRAY, 4, 4, true, [](Image *im) { EXPECT_EQ(kxScale(im, 2.0f, 2), 0); }},
        {"kxScaleE1, wrapped", KIT_GRAY, 4, 4, true, [](Image *im) { kxScaleE1(im, 0.5f, 9, 2, 1); }},
        {"kxMakeSquarePixel, wrapped", KIT_GRAY, 4, 4, true,
         [](Image *im) { EXPECT_EQ(kxMakeSquarePixel(im, 3, 2, 2, 0), 0); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto src = randomBytes(size_t(c.w) * c.h * bpp(c.type), 7);
        PaddedImage wrapped(c.type, c.w, c.h, src);
        auto owned = makeImage(c.type, c.w, c.h, src);
        Image *im = c.wrapped ? wrapped.get() : owned.get();
        if (c.recordType) im->imageType = c.recordType;
        c.call(im);
        im->imageType = c.recordType ? c.type : im->imageType;
        EXPECT_EQ(std::tuple(im->imageType, im->width, im->height), std::tuple(c.type, c.w, c.h));
        EXPECT_EQ(pixels(im), src);
        EXPECT_TRUE(wrapped.paddingIntact());
    }
    EXPECT_EQ(kxRotate(nullptr, 1), nullptr);
    EXPECT_EQ(kxRotateEx(nullptr, 30, 0, 0), nullptr);
    EXPECT_EQ(kxTranslate(nullptr, 1, 1, 1), nullptr);
    EXPECT_EQ(kxRotateE3(nullptr, 0, 0, 10, 0), nullptr);
    EXPECT_EQ(kxTranslateE1(nullptr, 1, 1, 0), nullptr);
    EXPECT_EQ(kxScaleE1(nullptr, 0.5f, 0, 2, 1), nullptr);
    EXPECT_EQ(kxScale(nullptr, 2.0f, 2), 0);
    EXPECT_KX_ASSERT(kxRotateE2(nullptr, 30, 0, 0, 0), "image");
    EXPECT_KX_ASSERT(kxFlip(nullptr, 1), "image");
    EXPECT_KX_ASSERT(kxResize(nullptr, 4, 4, 0), "image");
    EXPECT_KX_ASSERT(kxMakeSquarePixel(nullptr, 1, 1, 2, 0), "image");
}

// Regression: a warp that draws nothing used to leave the picture in place.
// The picture has left the frame, so the whole image shows the fill colour
// (a KIT_RGBA image has become KIT_RGB first).
TEST(WarpThatDrawsNothing, LeavesOnlyTheFillColour)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        const char *what;
        std::function<void(Image *)> call;
    } cases[] = {
        {"kxRotateE3 NaN angle", [&](Image *im) { kxRotateE3(im, 2, 2, nan, 0xFF102030); }},
        {"kxRotateE3 infinite centre", [&](Image *im) { kxRotateE3(im, inf, 2, 30, 0xFF102030); }},
        {"kxTranslateE1 NaN", [&](Image *im) { kxTranslateE1(im, nan, 0, 0xFF102030); }},
        {"kxTranslateE1 infinity", [&](Image *im) { kxTranslateE1(im, 0, -inf, 0xFF102030); }},
        {"kxTranslateE1 by 1e9", [&](Image *im) { kxTranslateE1(im, 1e9, 0, 0xFF102030); }},
    };
    for (const auto &c : cases)
        for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA}) {
            SCOPED_TRACE(std::string(c.what) + " type " + std::to_string(type));
            auto im = makeImage(type, 5, 4, randomBytes(size_t(5 * 4) * bpp(type), 11));
            c.call(im.get());
            const int t = type == KIT_RGBA ? KIT_RGB : type;
            ASSERT_EQ(im->imageType, t);
            const std::vector<uint8_t> pixel = t == KIT_GRAY ? std::vector<uint8_t>{uint8_t(kxGetPixel(im.get(), 0, 0))}
                                                             : std::vector<uint8_t>{0x30, 0x20, 0x10};
            if (t == KIT_GRAY) {
                EXPECT_NE(pixel[0], 0);  // the luminance of the colour, not a cleared image
            }
            std::vector<uint8_t> expected;
            for (int i = 0; i < 5 * 4; ++i) expected.insert(expected.end(), pixel.begin(), pixel.end());
            EXPECT_EQ(pixels(im.get()), expected);
        }
}

}  // namespace
