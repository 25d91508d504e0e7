// Local integral thresholding against full-size integral tables, the worked
// values and the settled cases of the window side; the vector row decisions
// against the plain one.
#include <cmath>

#include "kxtest.hpp"
#include "ref_local.hpp"
#include "threshold/threshold_detail.hpp"

using namespace kxtest;

namespace {

TEST(Threshold, LocalIntegralMatchesIntegralTables)
{
    const struct {
        int window;
        uint8_t range;
        float k;
    } params[] = {{1, 128, 0.5f}, {3, 128, 0.2f}, {4, 128, 0.5f}, {5, 64, -0.3f},   {9, 255, 1.5f},
                  {15, 1, 0.5f},  {31, 128, 0.34f}, {2, 0, 0.5f}, {7, 0, 0.0f},     {6, 0, -1.0f},
                  {0, 128, 0.5f}, {-6, 128, 0.5f}, {101, 128, 0.25f}, {3, 200, 0.0f}};
    std::mt19937 rng(31);
    int trial = 0;
    for (const auto &p : params)
        for (int shape = 0; shape < 4; ++shape, ++trial) {
            SCOPED_TRACE(testing::Message() << "window " << p.window << " range " << int(p.range) << " k " << p.k
                                            << " shape " << shape);
            // Random, low deviation, uniform, a sparse bright pattern.
            const int w = 1 + int(rng() % 33), h = 1 + int(rng() % 21);
            std::vector<uint8_t> in = shape == 0   ? randomBytes(size_t(w) * h, trial)
                                      : shape == 1 ? randomBytes(size_t(w) * h, trial, 190, 210)
                                                   : std::vector<uint8_t>(size_t(w) * h, uint8_t(rng() % 256));
            for (int i = 0; shape == 3 && i < w * h; ++i) in[size_t(i)] = (i / 3 + i % w) % 5 == 0 ? 255 : 17;
            PaddedImage im(KIT_GRAY, w, h, in);
            EXPECT_EQ(kxbLocalIntegral(im.get(), p.window, p.range, p.k), im.get());
            EXPECT_EQ(pixels(im.get()), ref::localIntegral(makeImage(KIT_GRAY, w, h, in).get(), p.window, p.range, p.k));
            EXPECT_EQ(im.get()->imageType, KIT_BIN);
            EXPECT_TRUE(im.paddingIntact());
        }
}

TEST(Threshold, LocalIntegralWorkedValues)
{
    std::vector<uint8_t> dot(25, 0), dotOut(25, 0), flatOut(25, 0);
    dot[12] = 255;
    dotOut[12] = 1;
    for (int i : {6, 7, 8, 11, 12, 13, 16, 17, 18}) flatOut[size_t(i)] = 1;
    const struct {
        const char *name;
        int side;
        std::vector<uint8_t> in;
        int window, range;
        float k;
        std::vector<uint8_t> out;
    } cases[] = {
        // Inside T = 100; at a corner M = 72, s = 96 and T = 63: all brighter.
        {"Uniform200", 6, std::vector<uint8_t>(36, 200), 5, 128, 0.5f, std::vector<uint8_t>(36, 1)},
        // k = 0: T is the zero-padded window mean.  The lone bright pixel
        // beats its mean; its neighbours (mean 255/9) and the far pixels
        // (mean 0) do not.
        {"LoneDot", 5, dot, 3, 128, 0.0f, dotOut},
        // Range 0: on the uniform interior s = 0 and s / 0 is undefined: 1;
        // near the border s > 0 and T = +inf for k > 0: 0.
        {"RangeZero", 5, std::vector<uint8_t>(25, 90), 3, 0, 0.5f, flatOut},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ImagePtr im = makeImage(KIT_GRAY, c.side, c.side, c.in);
        kxbLocalIntegral(im.get(), c.window, uint8_t(c.range), c.k);
        EXPECT_EQ(pixels(im.get()), c.out);
    }
}

TEST(Threshold, LocalIntegralWindowSides)
{
    const auto in = randomBytes(13 * 7, 4);
    auto run = [&](int window) {
        ImagePtr im = makeImage(KIT_GRAY, 13, 7, in);
        kxbLocalIntegral(im.get(), window, 128, 0.3f);
        return pixels(im.get());
    };
    EXPECT_EQ(run(4), run(5));   // an even side acts as the next odd one
    EXPECT_EQ(run(0), run(1));   // 0 is even: 1
    EXPECT_EQ(run(-8), run(1));  // negative sides count as 1
    EXPECT_EQ(run(INT32_MIN), run(1));
    // Windows far larger than the image: the whole image in every window,
    // divided by a huge area: the mean is ~0 and every non-zero pixel is 1.
    const auto huge = run(INT32_MAX);
    for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(huge[i], in[i] > 0 ? 1 : 0) << i;
    EXPECT_EQ(run(INT32_MAX - 1), huge);
}

TEST(Threshold, LocalVectorDecisionMatchesThePlainLoop)
{
    // Window sums of every kind (uniform windows, zero windows, consistent
    // random ones, sums whose rounded variance goes negative, any sums in
    // range) under ranges that are and are not powers of two and weights of
    // every size; the vector kernels, the plain loop on 32-bit sums and on
    // 64-bit sums must give the same bytes.
    using kx::thr::LocalKernel;
    std::mt19937_64 rng(77);
    const int windows[] = {1, 3, 5, 31, 33, 101, 181};
    const double ranges[] = {0, 1, 2, 3, 7, 100, 128, 200, 255};
    const float ks[] = {0.0f, 0.34f, -0.3f, 1.5f, 1e-30f, -7.0f, 1e30f, -3.4e38f};
    const size_t n = 613;  // not a multiple of eight
    // Running sums with span 1: the window sum of x is run[x + 1] - run[x].
    std::vector<uint32_t> sum(n + 1), sq(n + 1);
    std::vector<int64_t> sum64(n + 1), sq64(n + 1);
    std::vector<uint8_t> src(n), fast(n), plain(n), wide(n);
    for (int w : windows) {
        const int64_t area = int64_t(w) * w;
        for (double range : ranges)
            for (float k : ks) {
                for (size_t x = 0; x < n; ++x) {
                    const int v = int(rng() % 256);
                    int64_t s, q;
                    switch (x % 5) {
                    case 0: s = v * area, q = int64_t(v) * v * area; break;  // uniform window
                    case 1: s = q = 0; break;
                    case 2: {  // a window of values v and v + d
                        const int64_t d = int64_t(rng() % 4), m = int64_t(rng() % uint64_t(area + 1));
                        const int64_t hi = std::min<int64_t>(v + d, 255);
                        s = v * (area - m) + hi * m, q = int64_t(v) * v * (area - m) + hi * hi * m;
                        break;
                    }
                    case 3: {  // a clipped window: fewer pixels than the area
                        const int64_t m = int64_t(rng() % uint64_t(area + 1));
                        s = v * m, q = int64_t(v) * v * m;
                        break;
                    }
                    default:
                        s = int64_t(rng() % uint64_t(255 * area + 1));
                        q = int64_t(rng() % uint64_t(65025 * area + 1));
                    }
                    sum[x + 1] = sum[x] + uint32_t(s), sq[x + 1] = sq[x] + uint32_t(q);
                    sum64[x + 1] = sum64[x] + s, sq64[x + 1] = sq64[x] + q;
                    // Mostly values next to the window mean, where the level lies.
                    const int64_t nearMean = s / area + int64_t(rng() % 3) - 1;
                    src[x] = uint8_t(x % 7 == 0 ? int64_t(rng() % 256) : std::clamp<int64_t>(nearMean, 0, 255));
                }
                const kx::thr::LocalParams p{double(area), range, double(k)};
                kx::thr::decideLocalRow({src.data(), sum.data(), sq.data(), 1, plain.data(), n, p}, LocalKernel::Plain);
                kx::thr::decideLocalRow({src.data(), sum64.data(), sq64.data(), 1, wide.data(), n, p});
                ASSERT_EQ(plain, wide) << "window " << w << " range " << range << " k " << k;
                for (LocalKernel kernel : {LocalKernel::Avx2, LocalKernel::Avx512}) {
                    if (!kx::thr::localKernelRuns(kernel)) continue;
                    kx::thr::decideLocalRow({src.data(), sum.data(), sq.data(), 1, fast.data(), n, p}, kernel);
                    ASSERT_EQ(fast, plain) << "kernel " << int(kernel) << " window " << w << " range " << range
                                           << " k " << k;
                }
            }
    }
}

TEST(Threshold, LocalMeanOfSquaresByMultiplicationRoundsLikeTheDivision)
{
    // The vector kernel rounds Q * (1 / area) to float where the plain loop
    // rounds Q / area: the same for every odd area it takes (no float
    // rounding boundary comes near Q / area).  Every Q for small windows,
    // samples and the neighbourhood of multiples of the area for larger ones.
    std::mt19937_64 rng(5);
    for (int w : {1, 3, 5, 7, 9, 31, 101, 181}) {
        const int64_t area = int64_t(w) * w, top = 65025 * area;
        const double inv = 1.0 / double(area);
        auto same = [&](int64_t q) { return float(double(q) * inv) == float(double(q) / double(area)); };
        if (w <= 9) {
            for (int64_t q = 0; q <= top; ++q) ASSERT_TRUE(same(q)) << "window " << w << " Q " << q;
            continue;
        }
        for (int i = 0; i < 2000000; ++i) {
            const int64_t q = int64_t(rng() % uint64_t(top + 1));
            const int64_t m = q / area * area + int64_t(rng() % 5) - 2;
            ASSERT_TRUE(same(q)) << "window " << w << " Q " << q;
            if (m >= 0 && m <= top) {
                ASSERT_TRUE(same(m)) << "window " << w << " Q " << m;
            }
        }
    }
}

TEST(Threshold, LocalVectorDecisionWhereTheQuotientByRangeRoundsOff)
{
    // Mean 1, deviation c = v * range and k = 1 put the plain level exactly
    // on v; for some ranges (49, 103, 197, ...) c * (1 / range) is not c /
    // range, so a vector kernel that multiplies without checking decides
    // the pixel of value v the other way.
    using kx::thr::LocalKernel;
    std::vector<uint32_t> sum, sq;  // running sums, span 1
    std::vector<uint8_t> src;
    for (int range = 1; range < 256; ++range) {
        sum.assign(1, 0), sq.assign(1, 0), src.clear();
        for (int v = 0; v * range <= 255; ++v)
            for (int d = -1; d <= 1; ++d) {
                const uint32_t c = uint32_t(v * range);
                sum.push_back(sum.back() + 1), sq.push_back(sq.back() + 1 + c * c);
                src.push_back(uint8_t(std::max(v + d, 0)));
            }
        while (src.size() % 16 != 0) sum.push_back(sum.back()), sq.push_back(sq.back()), src.push_back(0);
        std::vector<uint8_t> fast(src.size()), plain(src.size());
        const kx::thr::LocalParams p{1, double(range), 1.0};
        kx::thr::decideLocalRow({src.data(), sum.data(), sq.data(), 1, plain.data(), src.size(), p}, LocalKernel::Plain);
        for (LocalKernel kernel : {LocalKernel::Avx2, LocalKernel::Avx512}) {
            if (!kx::thr::localKernelRuns(kernel)) continue;
            kx::thr::decideLocalRow({src.data(), sum.data(), sq.data(), 1, fast.data(), src.size(), p}, kernel);
            ASSERT_EQ(fast, plain) << "kernel " << int(kernel) << " range " << range;
        }
    }
}

TEST(Threshold, LocalIntegralMatchesTablesOnWiderPaddedImages)
{
    // Rows long enough for the vector paths, windows on both sides of the
    // largest 32-bit window (181), weights that defeat the vector kernel.
    const struct {
        int window;
        uint8_t range;
        float k;
    } params[] = {{31, 128, 0.34f}, {31, 100, 0.34f}, {15, 3, -0.2f}, {181, 128, 0.5f}, {183, 77, 0.5f},
                  {7, 0, 0.5f},      {5, 128, INFINITY}, {9, 10, NAN}};
    int trial = 0;
    for (const auto &p : params)
        for (auto [w, h] : {std::pair{67, 23}, {200, 9}, {9, 40}}) {
            SCOPED_TRACE(testing::Message() << "window " << p.window << " range " << int(p.range) << " k " << p.k
                                            << " " << w << "x" << h);
            std::vector<uint8_t> in = randomBytes(size_t(w) * h, uint32_t(900 + trial++));
            for (size_t i = 0; i < in.size(); i += 3) in[i] = uint8_t(in[i] / 16 + 100);  // flatter parts
            PaddedImage im(KIT_GRAY, w, h, in);
            kxbLocalIntegral(im.get(), p.window, p.range, p.k);
            EXPECT_EQ(pixels(im.get()), ref::localIntegral(makeImage(KIT_GRAY, w, h, in).get(), p.window, p.range, p.k));
            EXPECT_TRUE(im.paddingIntact());
        }
}

}  // namespace
