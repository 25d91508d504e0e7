// The rotation engine's vector route against the exact route: source
// positions over many angles, centres and offsets, the samplers over random
// positions, and whole turned images over sizes, types and both samplers.
#include <cstdio>
#include <random>

#include "geometry/rotate_engine.hpp"
#include "ref_rotate.hpp"

using namespace kxtest;

namespace {

constexpr double kPi = 3.141592653589793;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 8;  // the sanitized build checks a sample of the cases
#else
constexpr int kScale = 1;
#endif

// The exact route, written out: sqrt, atan2, cos and sin per offset.
void exactPosition(int x, int y, double angle, int cx, int cy, float &sx, float &sy)
{
    const float r = (float)std::sqrt(double(int64_t(x) * x + int64_t(y) * y)), th = (float)std::atan2(y, x);
    sx = (float)(std::cos(th + angle) * r + cx);
    sy = (float)(std::sin(th + angle) * r + cy);
}


// Angles in radians: round and awkward ones, tiny ones, exact quarter
// turns, neighbours of multiples of pi/4 and pi/32 (the series' segment
// edges), large ones, and random ones.
std::vector<double> testAngles()
{
    std::vector<double> a = {0.0,  1e-9,  -1e-9,       kPi / 6,  kPi / 2, kPi,   -kPi / 2, 2 * kPi,
                             0.1,  -0.7,  kPi / 4,     kPi / 16, 3.0,     -3.14, 10.0,     -123.456,
                             1e3,  5e4,   999999.75,   1e6 + 3, -2e7,    0.5236};
    for (int k = 1; k < 8; ++k) a.push_back(std::nextafter(k * kPi / 4, 10.0));
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> d(-7.0, 7.0);
    for (int i = 0; i < 18; ++i) a.push_back(d(rng));
    return a;
}

// Every offset of a (2 rx + 1) x (2 ry + 1) window centred on (ox, oy),
// rows handed over in runs of n pixels.
struct Window {
    int ox, oy, rx, ry, n;
};

TEST(RotationPositions, VectorRouteEqualsTheExactRoute)
{
    const int centres[][2] = {{0, 0}, {1023, 1023}, {311, 7}, {4999, 20}, {2, 3000}};
    const Window windows[] = {{0, 0, 120 / kScale, 80 / kScale, 256},
                              {700, -1500, 120 / kScale, 40 / kScale, 37},
                              {-30000, 20000, 64 / kScale, 16 / kScale, 256},
                              {3, 0, 12, 400 / kScale, 13}};
    int64_t total = 0, exactRoute = 0;
    const std::vector<double> angles = testAngles();
    // Every instruction set the processor has (AVX-512, AVX2, base) runs
    // the same source: the narrower ones check a quarter of the angles.
    for (int level = 2; level >= 0; --level)
        for (size_t ai = 0; ai < angles.size(); ai += level == 2 ? 1 : 4)
            for (auto &c : centres) {
                const double angle = angles[ai];
                const kx::geo::RotationMap map(angle, c[0], c[1]);
                for (const Window &w : windows) {
                    std::vector<float> sx(size_t(w.n)), sy(size_t(w.n));
                    for (int y = w.oy - w.ry; y <= w.oy + w.ry; ++y)
                        for (int x0 = w.ox - w.rx; x0 <= w.ox + w.rx; x0 += w.n) {
                            const int n = std::min(w.n, w.ox + w.rx - x0 + 1);
                            const int64_t e = kx::geo::rotatedPositionsOn(level, map, y, x0, n, sx.data(), sy.data());
                            if (map.vectorisable()) {
                                // Lanes past the last whole eight take the exact route by design.
                                total += n - n % 8;
                                exactRoute += e - n % 8;
                            }
                            for (int i = 0; i < n; ++i) {
                                float ex, ey;
                                exactPosition(x0 + i, y, angle, c[0], c[1], ex, ey);
                                // Bit equality (a NaN would fail too).
                                ASSERT_TRUE(std::memcmp(&ex, &sx[i], 4) == 0 && std::memcmp(&ey, &sy[i], 4) == 0)
                                    << "level " << level << " angle " << angle << " centre " << c[0] << "," << c[1] << " at " << x0 + i
                                    << "," << y << ": " << sx[i] << "," << sy[i] << " want " << ex << "," << ey;
                            }
                        }
                }
            }
    std::printf("vector-route positions compared: %lld, fell back to the exact route: %lld (%.2g)\n",
                (long long)total, (long long)exactRoute, double(exactRoute) / double(total));
}

// How many pixels of a 2048 x 2048 image's turned box fall back (a count,
// not a check: the test above proves the values).
TEST(RotationPositions, FallbackFractionOfALargeTurn)
{
    for (double deg : {30.0, 1.0, 45.0, 200.0}) {
        int W = 2048 / kScale, H = 2048 / kScale;
        const int cx = (W - 1) / 2, cy = (H - 1) / 2;
        kx::geo::rotatedSize(W, H, deg * kPi / 180.0);
        const int halfW = (W - 1) / 2, halfH = (H - 1) / 2;
        const kx::geo::RotationMap map(deg * kPi / 180.0, cx, cy);
        std::vector<float> sx(256), sy(256);
        int64_t total = 0, exactRoute = 0;
        for (int y = -halfH; y <= halfH; ++y)
            for (int x0 = -halfW; x0 <= halfW; x0 += 256) {
                const int n = std::min(256, halfW - x0 + 1);
                exactRoute += kx::geo::rotatedPositions(map, y, x0, n, sx.data(), sy.data()) - n % 8;
                total += n - n % 8;
            }
        std::printf("%g degrees: %lld of %lld positions by the exact route (%.2g)\n", deg, (long long)exactRoute,
                    (long long)total, double(exactRoute) / double(total));
        // Small coordinates have fine floats: the sampled (smaller) image
        // of the sanitized build falls back more often.
        EXPECT_LT(exactRoute, total / (kScale > 1 ? 100 : 1000));
    }
}

// Positions near and past every edge, on and off the pixel grid.
std::vector<std::pair<float, float>> samplePositions(int W, int H, int count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> fx(-2.0f, float(W) + 1.0f), fy(-2.0f, float(H) + 1.0f);
    std::uniform_int_distribution<int> ix(-2, W + 1), iy(-2, H + 1), kind(0, 3);
    std::vector<std::pair<float, float>> p;
    for (int i = 0; i < count; ++i) {
        float x = fx(rng), y = fy(rng);
        switch (kind(rng)) {
        case 0: x = float(ix(rng)); break;  // whole columns
        case 1: y = float(iy(rng)) - 0.5f; break;  // half rows
        case 2: x = std::nextafter(float(ix(rng)), -10.0f), y = std::nextafter(float(iy(rng)), 1e9f); break;
        default: break;
        }
        p.push_back({x, y});
    }
    return p;
}

TEST(RotationSamplers, VectorSamplersEqualTheScalarSampler)
{
    using Fn = void (*)(const Image *, int, const float *, const float *, int, uint8_t *) noexcept;
    const Fn fns[] = {kx::geo::bilinearRow, kx::geo::bilinearRowBase};
    const int sizes[][2] = {{1, 1}, {2, 2}, {3, 1}, {1, 5}, {17, 9}, {64, 64}, {255, 3}};
    uint32_t seed = 40;
    for (Fn fn : fns)
        for (auto &s : sizes)
            for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA}) {
                const int B = bpp(type);
                auto im = randomImage(type, s[0], s[1], seed++);
                const auto pos = samplePositions(s[0], s[1], 40000 / kScale + 7, seed++);
                std::vector<float> sx, sy;
                for (auto &p : pos) sx.push_back(p.first), sy.push_back(p.second);
                const int n = int(pos.size());
                std::vector<uint8_t> got(size_t(n) * B, 7), want(size_t(n) * B, 7);
                fn(im.get(), B, sx.data(), sy.data(), n, got.data());
                const ref::Pic pic = ref::picOf(im.get());
                for (int i = 0; i < n; ++i)
                    if (sy[i] >= -1.0f && sy[i] < s[1] && sx[i] >= -1.0f && sx[i] < s[0])
                        for (int c = 0; c < B; ++c)
                            want[size_t(i) * B + c] = ref::sampleByte(pic, sx[i], sy[i], c);
                ASSERT_EQ(got, want) << s[0] << "x" << s[1] << " type " << type;
            }
}

TEST(RotationSamplers, VectorNearestEqualsTheScalarPick)
{
    using Fn = void (*)(const Image *, int, const float *, const float *, int, uint8_t *) noexcept;
    const Fn fns[] = {kx::geo::nearestRow, kx::geo::nearestRowBase};
    const int sizes[][2] = {{1, 1}, {2, 3}, {17, 9}, {64, 64}};
    uint32_t seed = 80;
    for (Fn fn : fns)
        for (auto &s : sizes)
            for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA}) {
                const int B = bpp(type);
                auto im = randomImage(type, s[0], s[1], seed++);
                auto pos = samplePositions(s[0], s[1], 40000 / kScale + 5, seed++);
                pos.push_back({-0.5f, -0.5f}), pos.push_back({std::nextafter(-0.5f, -1.0f), 0.0f});
                pos.push_back({3e9f, 0.0f}), pos.push_back({0.0f, -3e9f}), pos.push_back({float(s[0]) - 0.5f, 0.0f});
                std::vector<float> sx, sy;
                for (auto &p : pos) sx.push_back(p.first), sy.push_back(p.second);
                const int n = int(pos.size());
                std::vector<uint8_t> got(size_t(n) * B, 7), want(size_t(n) * B, 7);
                fn(im.get(), B, sx.data(), sy.data(), n, got.data());
                const ref::Pic pic = ref::picOf(im.get());
                for (int i = 0; i < n; ++i) {
                    const double fx = std::floor(sx[i] + 0.5), fy = std::floor(sy[i] + 0.5);
                    if (fx >= 0 && fx < s[0] && fy >= 0 && fy < s[1])
                        std::copy_n(pic.at(int(fx), int(fy)), B, want.begin() + ptrdiff_t(i) * B);
                }
                ASSERT_EQ(got, want) << s[0] << "x" << s[1] << " type " << type;
            }
}

// Whole images: kxRotateEx and kxRotateE2 against the direct loop.
TEST(RotateEx, LargerImagesMatchTheDirectLoop)
{
    const int sizes[][2] = {{240, 160}, {129, 200}, {64, 3}};
    const double angles[] = {30.0, -17.5, 90.0, 181.0, 1.0e-5, 44.99, 300.7, 7.0};
    uint32_t seed = 500;
    int64_t pixels = 0;
    for (size_t si = 0; si < std::size(sizes); si += kScale > 1 ? 2 : 1)
        for (size_t ai = 0; ai < std::size(angles); ai += kScale > 1 ? 4 : 1)
            for (int type : {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA})
                for (int mode = 0; mode < 4; ++mode) {
                    const double a = angles[ai];
                    const int *s = sizes[si];
                    const int bilinear = mode & 1, keep = mode >> 1;
                    auto im = randomImage(type, s[0], s[1], seed++);
                    const std::vector<uint8_t> bg(size_t(bpp(type)), 0);
                    const ref::Pic want = ref::rotateEngine(ref::picOf(im.get()), a * kPi / 180.0, bilinear, keep, bg);
                    kxRotateEx(im.get(), a, !bilinear, keep);
                    const ref::Pic got = ref::picOf(im.get());
                    ASSERT_EQ(std::pair(got.w, got.h), std::pair(want.w, want.h));
                    ASSERT_EQ(got.px, want.px) << "type " << type << " " << s[0] << "x" << s[1] << " angle " << a
                                               << " bilinear " << bilinear << " keep " << keep;
                    pixels += int64_t(got.w) * got.h;
                }
    std::printf("turned pixels compared: %lld\n", (long long)pixels);
}

}  // namespace
