// The rotation engine: bounding box, centre shifts, samplers and byte
// equality with the direct per-pixel loop.
#include <climits>
#include <cmath>
#include <limits>

#include "geometry/rotate_engine.hpp"
#include "kxtest.hpp"
#include "ref_rotate.hpp"

using namespace kxtest;

namespace {

const int kTypes[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};
constexpr double kPi = 3.141592653589793;

ref::Pic picOf(const Image *im) { return {im->width, im->height, bpp(im->imageType), pixels(im)}; }

// The bytes kxSetPixelEx stores for a colour in an image of this type.
std::vector<uint8_t> background(int type, uint32_t colour)
{
    auto one = makeImage(type, 1, 1);
    kxSetPixelEx(one.get(), colour, nullptr, 0);
    return pixels(one.get());
}

TEST(RotatedSize, WorkedSizes)
{
    struct Case {
        int w, h;
        double angle;
        int wantW, wantH;
    };
    const Case cases[] = {
        {100, 50, 0.0, 101, 51},       {100, 50, kPi / 2, 51, 101}, {100, 50, kPi, 101, 51},
        {1, 1, 0.0, 2, 2},             {10, 10, kPi / 4, 15, 15},   {100, 50, 90 * kPi / 180.0, 51, 101},
    };
    for (const Case &c : cases) {
        int w = c.w, h = c.h;
        ASSERT_TRUE(kx::geo::rotatedSize(w, h, c.angle));
        EXPECT_EQ(w, c.wantW) << c.w << "x" << c.h << " " << c.angle;
        EXPECT_EQ(h, c.wantH);
    }
    int w = 100, h = 50;
    EXPECT_FALSE(kx::geo::rotatedSize(w, h, std::numeric_limits<double>::quiet_NaN()));
    w = INT_MAX, h = INT_MAX;
    EXPECT_FALSE(kx::geo::rotatedSize(w, h, 0.0));
}

TEST(RotateEx, QuarterTurnSizesAndKeptCentre)
{
    auto im = randomImage(KIT_GRAY, 100, 50, 1);
    kxRotateEx(im.get(), 90.0, 1, 0);
    EXPECT_EQ(im->width, 51);
    EXPECT_EQ(im->height, 101);

    // Kept size: offX = (51 - 100) / 2 = -24, offY = (101 - 50) / 2 = 25;
    // box columns 0..50 land on 24..74, and box column 0 maps one row above
    // the source, so the content covers 25..74; the rest is background.
    auto kept = makeImage(KIT_GRAY, 100, 50, std::vector<uint8_t>(5000, 9));
    kxRotateE2(kept.get(), 90.0, 200, 1, 1);
    EXPECT_EQ(kept->width, 100);
    EXPECT_EQ(kept->height, 50);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(kept->data[y * 100 + x], x >= 25 && x <= 74 ? 9 : 200) << x << "," << y;
}

TEST(RotateEx, ZeroAngleShiftsEvenSidesByOne)
{
    // Even width: destination offsets start at -w/2 while the source centre
    // is (w-1)/2, so the content moves one column right.
    auto even = makeImage(KIT_GRAY, 4, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    kxRotateEx(even.get(), 0.0, 1, 1);
    EXPECT_EQ(pixels(even.get()), (std::vector<uint8_t>{0, 1, 2, 3, 0, 5, 6, 7, 0, 9, 10, 11}));
    auto odd = makeImage(KIT_GRAY, 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    kxRotateEx(odd.get(), 0.0, 1, 1);
    EXPECT_EQ(pixels(odd.get()), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // Even height: rows move down by one.
    auto tall = makeImage(KIT_GRAY, 1, 2, {7, 8});
    kxRotateEx(tall.get(), 0.0, 1, 1);
    EXPECT_EQ(pixels(tall.get()), (std::vector<uint8_t>{0, 7}));
    // keepSize 0: one column and one row more, the last ones background.
    auto grown = makeImage(KIT_GRAY, 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    kxRotateEx(grown.get(), 0.0, 1, 0);
    EXPECT_EQ(pixels(grown.get()), (std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 0}));
}

TEST(RotateEx, MatchesDirectLoopOnManyAnglesAndSizes)
{
    const int sizes[][2] = {{1, 1}, {2, 3}, {7, 5}, {16, 9}, {33, 20}, {24, 41}};
    const double angles[] = {0.0,  1e-7,   0.5,   1.0,   30.0,   45.0,   60.0,    89.99,   90.0,    123.4,
                             180.0, -30.0, 270.0, 359.5, -720.25, 1000.3, 12345.678, 1e7 + 0.1, -1e9, 7e12};
    uint32_t seed = 100;
    for (auto &s : sizes)
        for (double a : angles)
            for (int t : kTypes)
                for (int mode = 0; mode < 2; ++mode)
                    for (int keep = 0; keep < 2; ++keep) {
                        const uint32_t colour = seed % 3 ? 0 : 0x80C0E0F0u;
                        auto im = randomImage(t, s[0], s[1], seed++);
                        const ref::Pic want =
                            ref::rotateEngine(picOf(im.get()), a * kPi / 180.0, mode, keep, background(t, colour));
                        if (colour)
                            kxRotateE2(im.get(), a, colour, mode == 0, keep);
                        else
                            kxRotateEx(im.get(), a, mode == 0, keep);
                        const ref::Pic got = picOf(im.get());
                        ASSERT_EQ(got.w, want.w);
                        ASSERT_EQ(got.h, want.h);
                        ASSERT_EQ(got.px, want.px)
                            << "type " << t << " " << s[0] << "x" << s[1] << " angle " << a << " mode " << mode
                            << " keep " << keep;
                    }
}

TEST(RotateEx, MatchesDirectLoopOnLargerImages)
{
    for (double a : {17.0, 30.0, -63.3, 200.0}) {
        auto im = randomImage(KIT_GRAY, 257, 190, 7);
        const ref::Pic want = ref::rotateEngine(picOf(im.get()), a * kPi / 180.0, 1, 0, {0});
        kxRotateEx(im.get(), a, 0, 0);
        ASSERT_EQ(picOf(im.get()).px, want.px) << a;
    }
}

// The source positions themselves, over a large grid and far radii: the
// identity-based evaluation must round to the same floats as cos and sin.
TEST(RotationMap, PositionsEqualTheDirectFormula)
{
    const double angles[] = {0.0, 0.1, -0.7853981633974483, 1.5707963267948966, 2.5, 3.141592653589793, -5.0, 100.0};
    for (double angle : angles) {
        const int cx = 311, cy = -7;
        const kx::geo::RotationMap map(angle, cx, cy);
        auto check = [&](int x, int y) {
            const float r = (float)std::sqrt(double(int64_t(x) * x + int64_t(y) * y));
            const float th = (float)std::atan2(y, x);
            const float wantX = (float)(std::cos(th + angle) * r + cx), wantY = (float)(std::sin(th + angle) * r + cy);
            float sx, sy;
            map.position(x, y, sx, sy);
            ASSERT_EQ(sx, wantX) << angle << " at " << x << "," << y;
            ASSERT_EQ(sy, wantY) << angle << " at " << x << "," << y;
        };
        for (int y = -150; y <= 150; ++y)
            for (int x = -150; x <= 150; ++x) check(x, y);
        for (int i = 0; i < 20000; ++i) check(i * 7919 % 40000 - 20000, i * 104729 % 30000 - 15000);
    }
}

TEST(RotateEx, BilinearEdgeBlendsWithZeroNotTheBackground)
{
    // A flat 200 picture on a 255 background: the samples that reach past
    // the source edge mix in 0, so a darker seam runs along the border.
    auto im = makeImage(KIT_GRAY, 20, 20, std::vector<uint8_t>(400, 200));
    kxRotateE2(im.get(), 30.0, 255, 0, 0);
    int seam = 0;
    for (uint8_t v : pixels(im.get()))
        if (v < 200) ++seam;
    EXPECT_GT(seam, 0);

    // A sample half a pixel before the first column weighs it by 0.5.
    uint8_t out = 0;
    const uint8_t data[2] = {100, 100};
    kx::geo::bilinearSampleGray(data, 2, 1, 2, -0.5f, 0.0f, &out);
    EXPECT_EQ(out, 50);
    const uint8_t rgb[3] = {10, 20, 30};
    uint8_t o3[3] = {};
    kx::geo::bilinearSampleRgb(rgb, 1, 1, 3, 0.0f, 0.0f, o3);
    EXPECT_EQ(std::vector<uint8_t>(o3, o3 + 3), (std::vector<uint8_t>{10, 20, 30}));
}

TEST(RotateEx, BinaryStaysBinary)
{
    for (int nearest : {0, 1}) {
        auto im = randomImage(KIT_BIN, 23, 17, 3);
        kxRotateEx(im.get(), 33.0, nearest, 0);
        for (uint8_t v : pixels(im.get())) ASSERT_LE(v, 1);
        kxRotateE2(im.get(), 12.0, 0xFFFFFF, nearest, 1);
        for (uint8_t v : pixels(im.get())) ASSERT_LE(v, 1);
    }
}

TEST(RotateEx, NullWrappedAndAbsurdInputs)
{
    EXPECT_EQ(kxRotateEx(nullptr, 30, 0, 0), nullptr);
    EXPECT_KX_ASSERT(kxRotateE2(nullptr, 30, 0, 0, 0), "image");

    // A wrapped image keeps its size: keepSize 0 does nothing, keepSize 1
    // turns it through the caller's pitch.
    const auto src = randomBytes(9 * 6 * 4, 12);
    PaddedImage wrapped(KIT_RGBA, 9, 6, src);
    kxRotateEx(wrapped.get(), 30, 0, 0);
    EXPECT_EQ(pixels(wrapped.get()), src);
    kxRotateEx(wrapped.get(), 30, 0, 1);
    EXPECT_EQ(pixels(wrapped.get()), ref::rotateEngine({9, 6, 4, src}, 30 * kPi / 180.0, 1, 1, {0, 0, 0, 0}).px);
    EXPECT_TRUE(wrapped.paddingIntact());

    for (double a : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        auto im = randomImage(KIT_GRAY, 4, 4, 1);
        const auto before = pixels(im.get());
        EXPECT_EQ(kxRotateEx(im.get(), a, 0, 0), im.get());
        EXPECT_EQ(pixels(im.get()), before);
    }

    // A long line turned by 45 degrees needs a box far beyond 2^31 bytes.
    auto line = makeImage(KIT_GRAY, 200000, 1, std::vector<uint8_t>(200000, 1));
    EXPECT_KX_ASSERT(kxRotateEx(line.get(), 45, 1, 0), "tmp_im");
    EXPECT_EQ(line->width, 200000);
    kxRotateEx(line.get(), 45, 1, 1);  // keeping the size needs no big box
    EXPECT_EQ(line->width, 200000);
}

}  // namespace
