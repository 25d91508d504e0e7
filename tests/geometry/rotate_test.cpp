// The rotation engine (kxRotateEx, kxRotateE2): bounding box, centres and
// the scalar sampler by hand; the vector positions and samplers against
// the exact route over many random inputs; whole turned images against
// the direct per-pixel loop.
#include <climits>
#include <cstdio>
#include <limits>
#include <random>

#include "reference.hpp"

using namespace kxtest;

namespace {

constexpr double kPi = 3.141592653589793;
#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 8;  // the sanitized build checks a sample of the cases
#else
constexpr int kScale = 1;
#endif

TEST(RotatedSize, WorkedSizesAndRefusals)
{
    const struct { int w, h; double angle; int wantW, wantH; } cases[] = {  // wantW 0: refused
        {100, 50, 0.0, 101, 51}, {100, 50, kPi / 2, 51, 101}, {100, 50, kPi, 101, 51}, {1, 1, 0.0, 2, 2},
        {10, 10, kPi / 4, 15, 15}, {100, 50, std::nan(""), 0, 0}, {INT_MAX, INT_MAX, 0.0, 0, 0}};
    for (const auto &c : cases) {
        int w = c.w, h = c.h;
        EXPECT_EQ(kx::geo::rotatedSize(w, h, c.angle), c.wantW != 0) << c.w << "x" << c.h << " " << c.angle;
        EXPECT_EQ(std::pair(w, h), c.wantW ? std::pair(c.wantW, c.wantH) : std::pair(c.w, c.h)) << c.angle;
    }
}

TEST(RotateEx, HandWorkedCentres)
{
    // Kept size, quarter turn of 100 x 50: offX = (51 - 100) / 2 = -24,
    // offY = (101 - 50) / 2 = 25; box columns 0..50 land on 24..74, and box
    // column 0 maps one row above the source, so the content covers 25..74.
    auto kept = makeImage(KIT_GRAY, 100, 50, std::vector<uint8_t>(5000, 9));
    kxRotateE2(kept.get(), 90.0, 200, 1, 1);
    ref::Pic want = ref::filled(100, 50, {200});
    for (int y = 0; y < 50; ++y) std::fill_n(want.at(25, y), 50, 9);
    EXPECT_EQ(pixels(kept.get()), want.px);

    // Angle 0: destination offsets start at -w/2 while the source centre is
    // (w-1)/2, so an even side moves the content by one; keepSize 0 adds a
    // background column and row.
    const struct { int w, h, keep; std::vector<uint8_t> want; } cases[] = {
        {4, 3, 1, {0, 1, 2, 3, 0, 5, 6, 7, 0, 9, 10, 11}}, {3, 3, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9}}, {1, 2, 1, {0, 1}},
        {3, 3, 0, {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 0}}};
    for (const auto &c : cases) {
        std::vector<uint8_t> src(size_t(c.w) * c.h);
        for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i + 1);
        auto im = makeImage(KIT_GRAY, c.w, c.h, src);
        kxRotateEx(im.get(), 0.0, 1, c.keep);
        EXPECT_EQ(pixels(im.get()), c.want) << c.w << "x" << c.h << " keep " << c.keep;
    }
}

// The scalar sampler: each byte alone, neighbours past the edge count as 0
// whatever the background, rounded by (int)(v + 0.5).
TEST(RotateEx, ScalarBilinearSampleByHand)
{
    const struct { int w, h, bpp; uint8_t px[4]; float sx, sy; uint8_t want[4]; } cases[] = {
        {2, 1, 1, {100, 100}, -0.5f, 0.0f, {50}}, {2, 2, 1, {0, 100, 200, 50}, 0.5f, 0.5f, {88}},  // 87.5
        {2, 2, 1, {0, 100, 200, 50}, 0.25f, 0.0f, {25}},
        {1, 1, 3, {10, 20, 30}, -0.5f, -0.5f, {3, 5, 8}},  // a quarter of each byte
        {1, 1, 4, {40, 80, 120, 160}, 0.0f, -0.5f, {20, 40, 60, 80}}};
    for (const auto &c : cases) {
        uint8_t got[4] = {};
        ref::sample({c.w, c.h, c.bpp, std::vector<uint8_t>(c.px, c.px + c.w * c.h * c.bpp)}, c.sx, c.sy, got);
        EXPECT_EQ(std::vector<uint8_t>(got, got + 4), std::vector<uint8_t>(c.want, c.want + 4)) << c.sx << "," << c.sy;
    }
}

void exactPosition(int x, int y, double angle, int cx, int cy, float &sx, float &sy)
{
    const float r = (float)std::sqrt(double(int64_t(x) * x + int64_t(y) * y)), th = (float)std::atan2(y, x);
    sx = (float)(std::cos(th + angle) * r + cx);
    sy = (float)(std::sin(th + angle) * r + cy);
}

// Angles in radians: round, tiny, exact quarter turns, neighbours of
// multiples of pi/4 (the series' segment edges), large and random ones.
std::vector<double> testAngles()
{
    std::vector<double> a = {0.0, 1e-9, -1e-9, kPi / 6, kPi / 2, kPi, -kPi / 2, 2 * kPi, 0.1, -0.7, kPi / 4,
                             kPi / 16, 3.0, -3.14, 10.0, -123.456, 1e3, 5e4, 999999.75, 1e6 + 3, -2e7, 0.5236};
    for (int k = 1; k < 8; ++k) a.push_back(std::nextafter(k * kPi / 4, 10.0));
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> d(-7.0, 7.0);
    for (int i = 0; i < 18; ++i) a.push_back(d(rng));
    return a;
}

// Source positions of every instruction set (AVX-512, AVX2, base; the
// narrower ones on a quarter of the angles) and of the scalar
// RotationMap::position equal the exact formula bit for bit, over windows
// near and far from the centre, rows handed over in runs of n pixels.  The
// vector route carries nearly all of them: the exact route is a fallback.
TEST(RotationPositions, VectorAndScalarRoutesEqualTheExactRoute)
{
    const int centres[][2] = {{0, 0}, {1023, 1023}, {311, 7}, {4999, 20}, {2, 3000}};
    const struct { int ox, oy, rx, ry, n; } windows[] = {
        {0, 0, 120 / kScale, 80 / kScale, 256}, {700, -1500, 120 / kScale, 40 / kScale, 37},
        {-30000, 20000, 64 / kScale, 16 / kScale, 256}, {3, 0, 12, 400 / kScale, 13}};
    const std::vector<double> angles = testAngles();
    int64_t total = 0, exactRoute = 0;
    for (int level = 2; level >= 0; --level)
        for (size_t ai = 0; ai < angles.size(); ai += level == 2 ? 1 : 4)
            for (auto &c : centres) {
                const double angle = angles[ai];
                const kx::geo::RotationMap map(angle, c[0], c[1]);
                for (const auto &w : windows) {
                    std::vector<float> sx(size_t(w.n)), sy(size_t(w.n));
                    for (int y = w.oy - w.ry; y <= w.oy + w.ry; ++y)
                        for (int x0 = w.ox - w.rx; x0 <= w.ox + w.rx; x0 += w.n) {
                            const int n = std::min(w.n, w.ox + w.rx - x0 + 1);
                            const int64_t e = kx::geo::rotatedPositionsOn(level, map, y, x0, n, sx.data(), sy.data());
                            if (map.vectorisable()) total += n - n % 8, exactRoute += e - n % 8;
                            for (int i = 0; i < n; ++i) {
                                float ex, ey, px = sx[i], py = sy[i];
                                exactPosition(x0 + i, y, angle, c[0], c[1], ex, ey);
                                if (level == 0) map.position(x0 + i, y, px, py);
                                // Bit equality (a NaN would fail too).
                                ASSERT_TRUE(!std::memcmp(&ex, &sx[i], 4) && !std::memcmp(&ey, &sy[i], 4) &&
                                            !std::memcmp(&ex, &px, 4) && !std::memcmp(&ey, &py, 4))
                                    << "level " << level << " angle " << angle << " centre " << c[0] << "," << c[1]
                                    << " at " << x0 + i << "," << y << ": " << sx[i] << "," << sy[i] << " / " << px
                                    << "," << py << " want " << ex << "," << ey;
                            }
                        }
                }
            }
    std::printf("positions by the exact route: %lld of %lld\n", (long long)exactRoute, (long long)total);
    EXPECT_LT(exactRoute, total / 100);  // about 0.3% over these awkward windows
}

// Positions near and past every edge, on and off the pixel grid.
void samplePositions(int W, int H, int count, uint32_t seed, std::vector<float> &sx, std::vector<float> &sy)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> fx(-2.0f, float(W) + 1.0f), fy(-2.0f, float(H) + 1.0f);
    std::uniform_int_distribution<int> ix(-2, W + 1), iy(-2, H + 1), kind(0, 3);
    for (int i = 0; i < count; ++i) {
        float x = fx(rng), y = fy(rng);
        switch (kind(rng)) {
        case 0: x = float(ix(rng)); break;  // whole columns
        case 1: y = float(iy(rng)) - 0.5f; break;  // half rows
        case 2: x = std::nextafter(float(ix(rng)), -10.0f), y = std::nextafter(float(iy(rng)), 1e9f); break;
        default: break;
        }
        sx.push_back(x), sy.push_back(y);
    }
    sx.insert(sx.end(), {-0.5f, std::nextafter(-0.5f, -1.0f), 3e9f, 0.0f, float(W) - 0.5f});
    sy.insert(sy.end(), {-0.5f, 0.0f, 0.0f, -3e9f, 0.0f});
}

// The row samplers (the processor's best and the base set) equal the
// scalar pick or sample for every position.
TEST(RotationSamplers, VectorSamplersEqualTheScalarOnes)
{
    using Fn = void (*)(const Image *, int, const float *, const float *, int, uint8_t *) noexcept;
    const struct { Fn fn; bool bilinear; } samplers[] = {{kx::geo::bilinearRow, true}, {kx::geo::bilinearRowBase, true},
                    {kx::geo::nearestRow, false}, {kx::geo::nearestRowBase, false}};
    const int sizes[][2] = {{1, 1}, {2, 3}, {3, 1}, {1, 5}, {17, 9}, {64, 64}, {255, 3}};
    uint32_t seed = 40;
    for (const auto &s : samplers)
        for (auto &z : sizes)
            for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA}) {
                const int B = bpp(type);
                auto im = randomImage(type, z[0], z[1], seed++);
                std::vector<float> sx, sy;
                samplePositions(z[0], z[1], 40000 / kScale + 7, seed++, sx, sy);
                const int n = int(sx.size());
                std::vector<uint8_t> got(size_t(n) * B, 7), want(size_t(n) * B, 7);
                s.fn(im.get(), B, sx.data(), sy.data(), n, got.data());
                const ref::Pic pic = ref::picOf(im.get());
                for (int i = 0; i < n; ++i) {
                    const double fx = std::floor(sx[i] + 0.5), fy = std::floor(sy[i] + 0.5);
                    if (s.bilinear && sy[i] >= -1.0f && sy[i] < z[1] && sx[i] >= -1.0f && sx[i] < z[0])
                        ref::sample(pic, sx[i], sy[i], &want[size_t(i) * B]);
                    if (!s.bilinear && fx >= 0 && fx < z[0] && fy >= 0 && fy < z[1])
                        std::copy_n(pic.at(int(fx), int(fy)), B, want.begin() + ptrdiff_t(i) * B);
                }
                ASSERT_EQ(got, want) << z[0] << "x" << z[1] << " type " << type << " bilinear " << s.bilinear;
            }
}

// Whole images through kxRotateEx and kxRotateE2: every layout, both
// samplers, both sizes, small and tile-crossing images, awkward angles.
TEST(RotateEx, MatchesTheDirectLoop)
{
    const struct { std::vector<std::pair<int, int>> sizes; std::vector<double> angles; bool sampled; } groups[] = {
        {{{1, 1}, {2, 3}, {7, 5}, {16, 9}, {33, 20}, {24, 41}},
         {0.0, 1e-7, 0.5, 1.0, 30.0, 45.0, 60.0, 89.99, 90.0, 123.4, 180.0, -30.0, 270.0, 359.5, -720.25, 1000.3,
          12345.678, 1e7 + 0.1, -1e9, 7e12}, false},
        {{{240, 160}, {64, 3}, {129, 200}}, {30.0, 181.0, 300.7, 44.99, -17.5, 90.0, 1.0e-5, 7.0}, kScale > 1}};
    uint32_t seed = 100;
    for (const auto &g : groups)
        for (size_t si = 0; si < g.sizes.size(); si += g.sampled ? 2 : 1)
            for (size_t ai = 0; ai < g.angles.size(); ai += g.sampled ? 4 : 1)
                for (int t : {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA})
                    for (int mode = 0; mode < 4; ++mode) {
                        const auto [w, h] = g.sizes[si];
                        const double a = g.angles[ai];
                        const bool bilinear = mode & 1, keep = mode >> 1;
                        const uint32_t colour = seed % 3 ? 0 : 0x80C0E0F0u;
                        auto im = randomImage(t, w, h, seed++);
                        const ref::Pic want = ref::rotateEngine(ref::picOf(im.get()), a * kPi / 180.0, bilinear,
                                                                keep, ref::colourBytes(t, colour));
                        colour ? kxRotateE2(im.get(), a, colour, !bilinear, keep) : kxRotateEx(im.get(), a, !bilinear, keep);
                        ASSERT_EQ(std::pair(im->width, im->height), std::pair(want.w, want.h));
                        ASSERT_EQ(pixels(im.get()), want.px) << "type " << t << " " << w << "x" << h << " angle "
                                                             << a << " bilinear " << bilinear << " keep " << keep;
                    }
}

TEST(RotateEx, WrappedImageAndHugeBox)
{
    // A wrapped image keeps its size: keepSize 1 turns it through its pitch.
    const auto src = randomBytes(9 * 6 * 4, 12);
    PaddedImage wrapped(KIT_RGBA, 9, 6, src);
    kxRotateEx(wrapped.get(), 30, 0, 1);
    EXPECT_EQ(pixels(wrapped.get()), ref::rotateEngine({9, 6, 4, src}, 30 * kPi / 180.0, true, true, {0, 0, 0, 0}).px);
    EXPECT_TRUE(wrapped.paddingIntact());

    // A long line turned by 45 degrees needs a box far beyond 2^31 bytes:
    // refused and reported; keeping the size needs no big box.
    auto line = makeImage(KIT_GRAY, 200000, 1, std::vector<uint8_t>(200000, 1));
    EXPECT_KX_ASSERT(kxRotateEx(line.get(), 45, 1, 0), "tmp_im");
    EXPECT_EQ(line->width, 200000);
    kxRotateEx(line.get(), 45, 1, 1);
    EXPECT_EQ(line->width, 200000);
}

}  // namespace
