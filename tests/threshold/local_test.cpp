// Local integral thresholding: running column sums against directly summed
// windows (every window side's settled case included), range 0 worked out,
// and the vector row decisions against the plain one.
#include <cmath>

#include "kxtest.hpp"
#include "threshold/threshold_detail.hpp"

using namespace kxtest;
using kx::thr::LocalKernel;

namespace {

// Every window summed directly (zero outside, divisor w * w); the library
// keeps running column sums instead.  The 0/1 bytes of a packed grey image.
std::vector<uint8_t> localDirect(const std::vector<uint8_t> &in, int W, int H, int window, uint8_t range, float k)
{
    const int64_t w = window < 1 ? 1 : window % 2 == 0 ? int64_t(window) + 1 : window, half = w / 2;
    const double area = double(w * w);
    std::vector<uint8_t> out(in.size());
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            int64_t s = 0, q = 0;
            for (int64_t j = std::max<int64_t>(0, y - half); j <= std::min<int64_t>(H - 1, y + half); ++j)
                for (int64_t i = std::max<int64_t>(0, x - half); i <= std::min<int64_t>(W - 1, x + half); ++i) {
                    const int v = in[size_t(j * W + i)];
                    s += v, q += v * v;
                }
            const float m = float(double(s) / area), sd = float(std::sqrt(double(float(double(q) / area) - m * m)));
            const double T = double(m) * (1.0 + double(k) * (double(sd) / range - 1.0));
            out[size_t(y) * W + x] = !(in[size_t(y) * W + x] <= T);
        }
    return out;
}

TEST(Threshold, LocalIntegralMatchesDirectWindows)
{
    // Windows on both sides of the largest 32-bit one (181) and up to
    // INT32_MAX (whose area needs 64 bits), ranges 0, 1 and
    // not powers of two, weights tiny, huge and those that defeat the vector
    // kernel; random, flat (rounded variances below 0), uniform and sparse
    // images, narrow to wide, padded rows.
    const struct { int window; uint8_t range; float k; } params[] = {
        {1, 128, 0.5f}, {3, 128, 0.2f}, {4, 128, 0.5f}, {5, 64, -0.3f}, {9, 255, 1.5f}, {15, 1, 0.5f}, {31, 100, 0.34f},
        {2, 0, 0.5f}, {7, 0, 0.0f}, {-6, 128, 0.5f}, {181, 128, 0.5f}, {183, 77, 0.5f}, {5, 128, INFINITY}, {9, 10, NAN},
        {33, 3, 1e30f}, {101, 7, -3.4e38f}, {3, 2, 1e-30f}, {11, 200, -7.0f}, {0, 128, 0.3f}, {INT32_MIN, 128, 0.3f},
        {INT32_MAX - 1, 128, 0.3f}, {INT32_MAX, 128, 0.3f}};
    std::mt19937 rng(31);
    uint32_t seed = 0;
    for (const auto &p : params)
        for (int shape = 0; shape < 5; ++shape) {
            const int w = shape == 4 ? 200 : 1 + int(rng() % 70), h = shape == 4 ? 9 : 1 + int(rng() % 30);
            std::vector<uint8_t> in = shape == 1   ? randomBytes(size_t(w) * h, ++seed, 190, 210)
                                      : shape == 2 ? std::vector<uint8_t>(size_t(w) * h, uint8_t(rng() % 256))
                                                   : randomBytes(size_t(w) * h, ++seed);
            for (size_t i = 0; shape == 3 && i < in.size(); ++i) in[i] = (i / 3 + i % size_t(w)) % 5 == 0 ? 255 : 17;
            PaddedImage im(KIT_GRAY, w, h, in);
            EXPECT_EQ(kxbLocalIntegral(im.get(), p.window, p.range, p.k), im.get());
            EXPECT_EQ(pixels(im.get()), localDirect(in, w, h, p.window, p.range, p.k))
                << "window " << p.window << " range " << int(p.range) << " k " << p.k << " " << w << "x" << h;
            EXPECT_EQ(im.get()->imageType, KIT_BIN);
            EXPECT_TRUE(im.paddingIntact());
        }
}

TEST(Threshold, LocalIntegralRangeZero)
{
    // On the uniform interior s = 0 and s / 0 is undefined: 1; near the
    // border s > 0 and T = +inf for k > 0: 0.
    ImagePtr im = makeImage(KIT_GRAY, 5, 5, std::vector<uint8_t>(25, 90));
    std::vector<uint8_t> want(25, 0);
    for (int i : {6, 7, 8, 11, 12, 13, 16, 17, 18}) want[size_t(i)] = 1;
    EXPECT_EQ(pixels(kxbLocalIntegral(im.get(), 3, 0, 0.5f)), want);
}

// The vector kernels, the plain loop on 32-bit running sums and the one on
// 64-bit sums must give the same bytes for one row.
void expectKernelsAgree(const std::vector<uint8_t> &src, const std::vector<int64_t> &sum64,
                        const std::vector<int64_t> &sq64, const kx::thr::LocalParams &p, const std::string &what)
{
    const size_t n = src.size();
    std::vector<uint32_t> sum(sum64.begin(), sum64.end()), sq(sq64.begin(), sq64.end());  // wrapping
    std::vector<uint8_t> plain(n), other(n);
    kx::thr::decideLocalRow({src.data(), sum.data(), sq.data(), 1, plain.data(), n, p}, LocalKernel::Plain);
    kx::thr::decideLocalRow({src.data(), sum64.data(), sq64.data(), 1, other.data(), n, p});
    ASSERT_EQ(other, plain) << "64-bit sums, " << what;
    for (LocalKernel kernel : {LocalKernel::Avx2, LocalKernel::Avx512}) {
        if (!kx::thr::localKernelRuns(kernel)) continue;
        kx::thr::decideLocalRow({src.data(), sum.data(), sq.data(), 1, other.data(), n, p}, kernel);
        ASSERT_EQ(other, plain) << "kernel " << int(kernel) << ", " << what;
    }
}

TEST(Threshold, LocalVectorDecisionMatchesThePlainLoop)
{
    // Window sums of uniform windows, of values v and v + d, of clipped
    // windows (fewer pixels than the area) and any in range (rounded
    // variances below 0), with pixels mostly next to the window mean.
    std::mt19937_64 rng(77);
    const size_t n = 613;  // not a multiple of eight
    for (int w : {1, 3, 5, 31, 33, 101, 181})
        for (double range : {0, 1, 2, 3, 7, 100, 128, 200, 255})
            for (float k : {0.0f, 0.34f, -0.3f, 1.5f, 1e-30f, -7.0f, 1e30f, -3.4e38f}) {
                const int64_t area = int64_t(w) * w;
                std::vector<int64_t> sum(n + 1), sq(n + 1);  // window of x: run[x + 1] - run[x]
                std::vector<uint8_t> src(n);
                for (size_t x = 0; x < n; ++x) {
                    const int64_t v = int64_t(rng() % 256), hi = std::min<int64_t>(v + int64_t(rng() % 4), 255);
                    const int64_t m = int64_t(rng() % uint64_t(area + 1)), kind = int64_t(x % 4);
                    const int64_t a = kind == 0 ? area : kind == 1 ? area - m : m, b = kind == 1 ? m : 0;
                    int64_t s = v * a + hi * b, q = v * v * a + hi * hi * b;
                    if (kind == 3) s = int64_t(rng() % uint64_t(255 * area + 1)), q = int64_t(rng() % uint64_t(65025 * area + 1));
                    sum[x + 1] = sum[x] + s, sq[x + 1] = sq[x] + q;
                    const int64_t nearMean = std::clamp<int64_t>(s / area + int64_t(rng() % 3) - 1, 0, 255);
                    src[x] = uint8_t(x % 7 == 0 ? int64_t(rng() % 256) : nearMean);
                }
                expectKernelsAgree(src, sum, sq, {double(area), range, double(k)},
                                   "window " + std::to_string(w) + " range " + std::to_string(range) + " k " + std::to_string(k));
            }
}

TEST(Threshold, LocalVectorDecisionWhereTheQuotientByRangeRoundsOff)
{
    // Mean 1, deviation c = v * range and k = 1 put the plain level exactly
    // on v; for some ranges (49, 103, 197, ...) c * (1 / range) is not c /
    // range, so a vector kernel that multiplies without checking decides
    // the pixel of value v the other way.
    for (int range = 1; range < 256; ++range) {
        std::vector<int64_t> sum(1, 0), sq(1, 0);
        std::vector<uint8_t> src;
        for (int v = 0; v * range <= 255; ++v)
            for (int d = -1; d <= 1; ++d) {
                const int64_t c = int64_t(v) * range;
                sum.push_back(sum.back() + 1), sq.push_back(sq.back() + 1 + c * c);
                src.push_back(uint8_t(std::max(v + d, 0)));
            }
        while (src.size() % 16 != 0) sum.push_back(sum.back()), sq.push_back(sq.back()), src.push_back(0);
        expectKernelsAgree(src, sum, sq, {1, double(range), 1.0}, "range " + std::to_string(range));
    }
}

}  // namespace
