// The rotation engine: bounding box, centre shifts, samplers and byte
// equality with the direct per-pixel loop.
#include <climits>
#include <limits>

#include "geometry/rotate_engine.hpp"
#include "ref_rotate.hpp"

using namespace kxtest;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The bytes kxSetPixelEx stores for a colour in an image of this type.
std::vector<uint8_t> background(int type, uint32_t colour)
{
    auto one = makeImage(type, 1, 1);
    kxSetPixelEx(one.get(), colour, nullptr, 0);
    return pixels(one.get());
}

TEST(RotatedSize, WorkedSizesAndRefusals)
{
    struct Case {
        int w, h;
        double angle;
        int wantW, wantH;  // 0: refused
    };
    const Case cases[] = {
        {100, 50, 0.0, 101, 51}, {100, 50, kPi / 2, 51, 101}, {100, 50, kPi, 101, 51}, {1, 1, 0.0, 2, 2},
        {10, 10, kPi / 4, 15, 15}, {100, 50, kNaN, 0, 0},     {INT_MAX, INT_MAX, 0.0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.angle);
        int w = c.w, h = c.h;
        ASSERT_EQ(kx::geo::rotatedSize(w, h, c.angle), c.wantW != 0);
        if (c.wantW) {
            EXPECT_EQ(std::pair(w, h), std::pair(c.wantW, c.wantH));
        }
    }
}

TEST(RotateEx, HandWorkedCentres)
{
    // Kept size, quarter turn of 100 x 50: offX = (51 - 100) / 2 = -24,
    // offY = (101 - 50) / 2 = 25; box columns 0..50 land on 24..74, and box
    // column 0 maps one row above the source, so the content covers 25..74.
    auto kept = makeImage(KIT_GRAY, 100, 50, std::vector<uint8_t>(5000, 9));
    kxRotateE2(kept.get(), 90.0, 200, 1, 1);
    ASSERT_EQ(std::pair(kept->width, kept->height), std::pair(100, 50));
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x) ASSERT_EQ(kept->data[y * 100 + x], x >= 25 && x <= 74 ? 9 : 200) << x << "," << y;

    // Angle 0: destination offsets start at -w/2 while the source centre is
    // (w-1)/2, so an even side moves the content by one; keepSize 0 adds a
    // background column and row.
    struct Case {
        int w, h, keep;
        std::vector<uint8_t> want;
    };
    const Case cases[] = {
        {4, 3, 1, {0, 1, 2, 3, 0, 5, 6, 7, 0, 9, 10, 11}},
        {3, 3, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {1, 2, 1, {0, 1}},
        {3, 3, 0, {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> src(size_t(c.w) * c.h);
        for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i + 1);
        auto im = makeImage(KIT_GRAY, c.w, c.h, src);
        kxRotateEx(im.get(), 0.0, 1, c.keep);
        EXPECT_EQ(pixels(im.get()), c.want) << c.w << "x" << c.h << " keep " << c.keep;
    }
}

TEST(RotateEx, MatchesDirectLoop)
{
    const int sizes[][2] = {{1, 1}, {2, 3}, {7, 5}, {16, 9}, {33, 20}, {24, 41}};
    const double angles[] = {0.0,   1e-7,  0.5,   1.0,   30.0,    45.0,   60.0,      89.99,     90.0, 123.4,
                             180.0, -30.0, 270.0, 359.5, -720.25, 1000.3, 12345.678, 1e7 + 0.1, -1e9, 7e12};
    uint32_t seed = 100;
    for (auto &s : sizes)
        for (double a : angles)
            for (int t : {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA})
                for (int mode = 0; mode < 4; ++mode) {
                    const int bilinear = mode & 1, keep = mode >> 1;
                    const uint32_t colour = seed % 3 ? 0 : 0x80C0E0F0u;
                    auto im = randomImage(t, s[0], s[1], seed++);
                    const ref::Pic want =
                        ref::rotateEngine(ref::picOf(im.get()), a * kPi / 180.0, bilinear, keep, background(t, colour));
                    if (colour)
                        kxRotateE2(im.get(), a, colour, !bilinear, keep);
                    else
                        kxRotateEx(im.get(), a, !bilinear, keep);
                    const ref::Pic got = ref::picOf(im.get());
                    ASSERT_EQ(std::pair(got.w, got.h), std::pair(want.w, want.h));
                    ASSERT_EQ(got.px, want.px) << "type " << t << " " << s[0] << "x" << s[1] << " angle " << a
                                               << " bilinear " << bilinear << " keep " << keep;
                }
    for (double a : {17.0, -63.3, 200.0}) {  // larger than a tile
        auto im = randomImage(KIT_GRAY, 257, 190, 7);
        const ref::Pic want = ref::rotateEngine(ref::picOf(im.get()), a * kPi / 180.0, 1, 0, {0});
        kxRotateEx(im.get(), a, 0, 0);
        ASSERT_EQ(pixels(im.get()), want.px) << a;
    }
}

// The source positions over a large grid and far radii: the identity-based
// evaluation must round to the same floats as cos and sin.
TEST(RotationMap, PositionsEqualTheDirectFormula)
{
    for (double angle : {0.0, 0.1, -0.7853981633974483, 1.5707963267948966, 2.5, kPi, -5.0, 100.0}) {
        const int cx = 311, cy = -7;
        const kx::geo::RotationMap map(angle, cx, cy);
        auto check = [&](int x, int y) {
            const float r = (float)std::sqrt(double(int64_t(x) * x + int64_t(y) * y)), th = (float)std::atan2(y, x);
            float sx, sy;
            map.position(x, y, sx, sy);
            ASSERT_EQ(sx, (float)(std::cos(th + angle) * r + cx)) << angle << " at " << x << "," << y;
            ASSERT_EQ(sy, (float)(std::sin(th + angle) * r + cy)) << angle << " at " << x << "," << y;
        };
        for (int y = -150; y <= 150; ++y)
            for (int x = -150; x <= 150; ++x) check(x, y);
        for (int i = 0; i < 20000; ++i) check(i * 7919 % 40000 - 20000, i * 104729 % 30000 - 15000);
    }
}

// The samplers blend with 0 past the edge, whatever the background: a
// sample half a pixel before the first column weighs it by 0.5.
TEST(RotateEx, BilinearEdgeBlendsWithZero)
{
    uint8_t out = 0;
    const uint8_t data[2] = {100, 100};
    kx::geo::bilinearSampleGray(data, 2, 1, 2, -0.5f, 0.0f, &out);
    EXPECT_EQ(out, 50);
}

TEST(RotateEx, WrappedImageAndHugeBox)
{
    // A wrapped image keeps its size: keepSize 1 turns it through the
    // caller's pitch.
    const auto src = randomBytes(9 * 6 * 4, 12);
    PaddedImage wrapped(KIT_RGBA, 9, 6, src);
    kxRotateEx(wrapped.get(), 30, 0, 1);
    EXPECT_EQ(pixels(wrapped.get()), ref::rotateEngine({9, 6, 4, src}, 30 * kPi / 180.0, 1, 1, {0, 0, 0, 0}).px);
    EXPECT_TRUE(wrapped.paddingIntact());

    // A long line turned by 45 degrees needs a box far beyond 2^31 bytes;
    // keeping the size needs no big box.
    auto line = makeImage(KIT_GRAY, 200000, 1, std::vector<uint8_t>(200000, 1));
    EXPECT_KX_ASSERT(kxRotateEx(line.get(), 45, 1, 0), "tmp_im");
    EXPECT_EQ(line->width, 200000);
    kxRotateEx(line.get(), 45, 1, 1);
    EXPECT_EQ(line->width, 200000);
}

}  // namespace
