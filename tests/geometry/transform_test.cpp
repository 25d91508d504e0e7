// Quarter turns, flips, canvas resize, the grey sub-pixel shift and the
// moves through the warp.
#include <climits>
#include <functional>
#include <limits>
#include <tuple>

#include "reference.hpp"

using namespace kxtest;

namespace {

struct Shot { int w, h; std::vector<uint8_t> px; bool operator==(const Shot &) const = default; };

// A copy of `im` after quarter turns ('r', n) and flips ('f', mode).
Shot after(const Image *im, std::initializer_list<std::pair<char, int>> ops)
{
    ImagePtr c(kxiClone(im, nullptr));
    for (auto [op, n] : ops) op == 'r' ? kxRotate(c.get(), n) : kxFlip(c.get(), n);
    EXPECT_EQ(c->pitch, c->width * bpp(c->imageType));
    return {c->width, c->height, pixels(c.get())};
}

TEST(RotateAndFlip, SmallPicturesByHand)
{
    const std::vector<uint8_t> grey = {0, 1, 2, 3, 4, 5}, two = {1, 2, 3, 4, 5, 6, 7, 8};
    const struct { int type, w, h; char op; int n, wantW; std::vector<uint8_t> want; } cases[] = {
        {KIT_GRAY, 3, 2, 'r', 1, 2, {2, 5, 1, 4, 0, 3}},  // counter-clockwise: old top-right first
        {KIT_GRAY, 3, 2, 'r', -1, 2, {3, 0, 4, 1, 5, 2}},
        {KIT_GRAY, 3, 2, 'r', 2, 3, {5, 4, 3, 2, 1, 0}},
        {KIT_GRAY, 3, 2, 'f', 0, 3, {5, 4, 3, 2, 1, 0}},
        {KIT_GRAY, 3, 2, 'f', 1, 3, {2, 1, 0, 5, 4, 3}},
        {KIT_GRAY, 3, 2, 'f', 2, 3, {3, 4, 5, 0, 1, 2}},
        {KIT_GRAY, 3, 2, 'f', 3, 3, grey},
        {KIT_RGB, 2, 1, 'f', 1, 2, {4, 5, 6, 1, 2, 3}},
        {KIT_RGB, 2, 1, 'r', 1, 1, {4, 5, 6, 1, 2, 3}},
        {KIT_RGBA, 2, 1, 'r', 1, 1, {5, 6, 7, 8, 1, 2, 3, 4}},
    };
    for (const auto &c : cases) {
        auto im = makeImage(c.type, c.w, c.h, c.type == KIT_GRAY ? grey : two);
        const Shot got = after(im.get(), {{c.op, c.n}});
        EXPECT_EQ(got, (Shot{c.wantW, c.w * c.h / c.wantW, c.want})) << c.type << " " << c.op << c.n;
    }
}

// Turns and flips agree with each other over every layout and sizes that
// cross the 32-pixel tiles: the half turn (its own code) is two quarter
// turns and both flips; counts are taken modulo 4.
TEST(RotateAndFlip, Invariants)
{
    const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {4, 5}, {33, 70}, {65, 31}};
    uint32_t seed = 1;
    for (int t : {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA})
        for (auto &s : sizes) {
            SCOPED_TRACE(testing::Message() << "type " << t << " " << s[0] << "x" << s[1]);
            auto a = randomImage(t, s[0], s[1], seed++);
            const Shot orig = after(a.get(), {}), half = after(a.get(), {{'r', 2}});
            const Shot cw = after(a.get(), {{'r', -1}}), ccw = after(a.get(), {{'r', 1}});
            EXPECT_EQ(std::pair(ccw.w, ccw.h), std::pair(s[1], s[0]));
            EXPECT_EQ(after(a.get(), {{'r', 1}, {'r', 1}}), half);
            EXPECT_EQ(after(a.get(), {{'r', 1}, {'r', 1}, {'r', 1}}), cw);
            EXPECT_EQ(after(a.get(), {{'r', 1}, {'r', 1}, {'r', 1}, {'r', 1}}), orig);
            EXPECT_EQ(after(a.get(), {{'r', 1}, {'r', -1}}), orig);
            EXPECT_EQ(after(a.get(), {{'f', 0}}), half);
            EXPECT_EQ(after(a.get(), {{'f', 1}, {'f', 2}}), half);
            EXPECT_EQ(after(a.get(), {{'f', 1}, {'f', 1}}), orig);
            EXPECT_EQ(after(a.get(), {{'f', 2}, {'f', 2}}), orig);
            for (int n : {0, 4, -4, INT_MIN}) EXPECT_EQ(after(a.get(), {{'r', n}}), orig) << n;
            for (int n : {5, -3}) EXPECT_EQ(after(a.get(), {{'r', n}}), ccw) << n;
            for (int n : {3, 7, -5, INT_MAX}) EXPECT_EQ(after(a.get(), {{'r', n}}), cw) << n;
            EXPECT_EQ(after(a.get(), {{'r', -2}}), half);
        }
}

TEST(RotateAndFlip, WrappedImagesTurnInPlaceThroughTheirPitch)
{
    const auto sq = randomBytes(4 * 4 * 3, 5), wide = randomBytes(5 * 3, 6), four = randomBytes(36, 8);
    PaddedImage square(KIT_RGB, 4, 4, sq), wideGrey(KIT_GRAY, 5, 3, wide), flipped(KIT_RGBA, 3, 3, four, 7);
    kxRotate(square.get(), 3);
    kxRotate(wideGrey.get(), 2);  // not square: a half turn runs (an odd count is refused below)
    for (int mode : {2, 0}) kxFlip(flipped.get(), mode);
    EXPECT_EQ(pixels(square.get()), after(makeImage(KIT_RGB, 4, 4, sq).get(), {{'r', 3}}).px);
    EXPECT_EQ(pixels(wideGrey.get()), after(makeImage(KIT_GRAY, 5, 3, wide).get(), {{'r', 2}}).px);
    EXPECT_EQ(pixels(flipped.get()), after(makeImage(KIT_RGBA, 3, 3, four).get(), {{'f', 1}}).px);
    EXPECT_TRUE(square.paddingIntact() && wideGrey.paddingIntact() && flipped.paddingIntact());
}

TEST(Resize, CanvasChanges)
{
    const struct { int type, w, h, nw, nh; uint32_t colour; int wantW, wantH; uint8_t fill[4]; } cases[] = {
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
    for (const auto &c : cases) {
        auto im = randomImage(c.type, c.w, c.h, 3);
        const ref::Pic before = ref::picOf(im.get());
        ref::Pic want = ref::filled(c.wantW, c.wantH, std::vector<uint8_t>(c.fill, c.fill + before.bpp));
        for (int y = 0; y < std::min(c.h, c.wantH); ++y)
            for (int x = 0; x < std::min(c.w, c.wantW); ++x) std::copy_n(before.at(x, y), before.bpp, want.at(x, y));
        kxResize(im.get(), c.nw, c.nh, c.colour);
        EXPECT_EQ(ref::picOf(im.get()).px, want.px) << c.type << " " << c.nw << "x" << c.nh;
        EXPECT_EQ(std::pair(im->width, im->height), std::pair(c.wantW, c.wantH));
    }
}

// Output (x, y) shows the input at (x + dx, y + dy); bilinear neighbours
// outside count as 0, rounding is (int)(v + 0.5), unreached pixels are 255.
TEST(Translate, WorkedShifts)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::vector<uint8_t> eight = {1, 2, 3, 4, 5, 6, 7, 8}, blank(8, 255);
    const struct { int w, h; std::vector<uint8_t> in; float dx, dy; int nearest; std::vector<uint8_t> want; } cases[] = {
        {4, 2, eight, 1.0f, 0.0f, 1, {2, 3, 4, 255, 6, 7, 8, 255}},
        {4, 2, eight, -0.4f, -1.0f, 1, {255, 255, 255, 255, 1, 2, 3, 4}},  // floor(x - 0.4 + 0.5) = x
        {2, 1, {201, 100}, 0.5f, 0.0f, 0, {151, 50}},  // 150.5 rounds up; the last column blends with 0
        {2, 1, {200, 100}, -0.25f, 0.0f, 0, {150, 125}},
        {2, 1, {200, 100}, -1.5f, 0.0f, 0, {255, 100}},
        {2, 2, {100, 200, 0, 40}, 0.5f, 0.5f, 0, {85, 60, 10, 10}},
        {4, 2, eight, 1e30f, 0.0f, 0, blank}, {4, 2, eight, -1e30f, 0.0f, 1, blank},
        {4, 2, eight, nan, 0.0f, 0, blank},   {4, 2, eight, 0.0f, inf, 1, blank},
    };
    for (const auto &c : cases) {
        PaddedImage im(KIT_GRAY, c.w, c.h, c.in);
        EXPECT_EQ(kxTranslate(im.get(), c.dx, c.dy, c.nearest), im.get());
        EXPECT_EQ(pixels(im.get()), c.want) << c.dx << "," << c.dy << " nearest " << c.nearest;
        EXPECT_TRUE(im.paddingIntact());
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
            ASSERT_EQ(got[size_t(y) * w + x], x >= 2 && y >= 1 ? src[size_t(y - 1) * w + x - 2] : 250) << x << "," << y;

    // The warp takes point coordinates at pixel centres: 0 degrees changes
    // nothing, 180 degrees about ((w-1)/2, (h-1)/2) is the pixel half turn.
    for (int t : {KIT_BIN, KIT_GRAY, KIT_RGB}) {
        auto turned = randomImage(t, 9, 7, 12);
        const Shot before = after(turned.get(), {}), half = after(turned.get(), {{'r', 2}});
        EXPECT_EQ(kxRotateE3(turned.get(), 3.0, 2.0, 0.0, 0), turned.get());
        EXPECT_EQ(pixels(turned.get()), before.px) << t;
        kxRotateE3(turned.get(), 4.0, 3.0, 180.0, 0);
        EXPECT_EQ(pixels(turned.get()), half.px) << t;
    }
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
    struct Case { const char *what; int type, w, h; bool wrapped; std::function<void(Image *)> call;
                  int recordType = 0; };  // the record type during the call, when not 0
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
    const std::function<void(Image *)> calls[] = {
        [&](Image *im) { kxRotateE3(im, 2, 2, nan, 0xFF102030); },
        [&](Image *im) { kxRotateE3(im, inf, 2, 30, 0xFF102030); },
        [&](Image *im) { kxTranslateE1(im, nan, 0, 0xFF102030); },
        [&](Image *im) { kxTranslateE1(im, 0, -inf, 0xFF102030); },
        [&](Image *im) { kxTranslateE1(im, 1e9, 0, 0xFF102030); },
    };
    for (size_t i = 0; i < std::size(calls); ++i)
        for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA}) {
            auto im = randomImage(type, 5, 4, 11);
            calls[i](im.get());
            const int t = type == KIT_RGBA ? KIT_RGB : type;
            ASSERT_EQ(im->imageType, t);
            const ref::Pic want = ref::filled(5, 4, ref::colourBytes(t, 0xFF102030));
            EXPECT_EQ(pixels(im.get()), want.px) << "call " << i << " type " << type;
        }
}

}  // namespace
