// Fingerprints.  Sinusoidal ridge patterns of known angle and period give
// that angle and period, and turning the pattern turns the field; the Gabor
// filtering equals its documented arithmetic computed pixel by pixel (the
// library's kernel is vectorised; CTest reruns this at every level);
// constructed ridge maps give their ending and bifurcation with direction,
// and lose spurs shorter than the limit; the Gabor-family placeholders of
// kxpre stay placeholders; refusals and wrapped images.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Dark ridges along `degrees` with the given period.
ImagePtr sinusoid(int w, int h, double degrees, double period, double phase = 0)
{
    ImagePtr im(kxCreateImage(KIT_GRAY, w, h));
    const double a = degrees * kPi / 180;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double across = -x * std::sin(a) + y * std::cos(a);
            im->data[size_t(y) * im->pitch + x] = uint8_t(128 + 90 * std::cos(2 * kPi * across / period + phase));
        }
    return im;
}

KxxPrintParams defaults()
{
    KxxPrintParams p;
    EXPECT_EQ(kxxPrintDefaults(&p, 500), 1);
    return p;
}

// Smallest difference of two line angles, degrees.
double lineDiff(double a, double b)
{
    double d = std::fmod(std::fabs(a - b), kPi);
    return std::min(d, kPi - d) * 180 / kPi;
}

TEST(Fingerprint, SinusoidGivesItsAngleAndPeriod)
{
    const KxxPrintParams p = defaults();
    struct Case {
        double degrees, period;
    } cases[] = {{0, 9}, {30, 9}, {45, 7}, {100, 11}, {135, 8}, {170, 12.5}, {90, 5}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.degrees << " degrees, period " << c.period);
        ImagePtr im = sinusoid(256, 224, c.degrees, c.period);
        const int cols = 16, rows = 14;
        std::vector<float> o(cols * rows), coh(cols * rows), f(cols * rows);
        std::vector<uint8_t> mask(cols * rows), measured(cols * rows);
        ASSERT_EQ(kxxPrintOrientation(im.get(), 16, 2, o.data(), coh.data()), 1);
        EXPECT_EQ(kxxPrintMask(im.get(), 16, coh.data(), &p, mask.data()), cols * rows);
        // Blocks whose window leaves the image are filled in, not measured.
        EXPECT_GE(kxxPrintFrequency(im.get(), 16, o.data(), mask.data(), &p, f.data(), measured.data()),
                  (cols - 2) * (rows - 2));
        for (int j = 1; j < rows - 1; ++j)
            for (int i = 1; i < cols - 1; ++i) {
                const size_t at = size_t(j) * cols + i;
                // The derivative's small anisotropy.
                EXPECT_LE(lineDiff(o[at], c.degrees * kPi / 180), 0.5) << i << "," << j;
                EXPECT_GE(o[at], 0.0f);
                EXPECT_LT(o[at], float(kPi));
                EXPECT_GT(coh[at], 0.9f);
                EXPECT_NEAR(1 / f[at], c.period, 0.02 * c.period) << i << "," << j;
            }
    }
}

TEST(Fingerprint, TurningThePatternTurnsTheField)
{
    for (double base : {10.0, 60.0, 125.0}) {
        std::vector<float> o1(16 * 16), o2(16 * 16);
        ImagePtr a = sinusoid(256, 256, base, 9), b = sinusoid(256, 256, base + 40, 9);
        ASSERT_EQ(kxxPrintOrientation(a.get(), 16, 1, o1.data(), nullptr), 1);
        ASSERT_EQ(kxxPrintOrientation(b.get(), 16, 1, o2.data(), nullptr), 1);
        for (int j = 2; j < 14; ++j)
            for (int i = 2; i < 14; ++i) EXPECT_LE(lineDiff(o2[j * 16 + i] - 40 * kPi / 180, o1[j * 16 + i]), 1.0);
    }
    // A quarter turn of the image itself (x, y) -> (h - 1 - y, x): exactly a
    // quarter turn of every interior field value (the derivative is symmetric).
    ImagePtr a = sinusoid(128, 128, 20, 8), t(kxCreateImage(KIT_GRAY, 128, 128));
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) t->data[size_t(x) * t->pitch + (127 - y)] = a->data[size_t(y) * a->pitch + x];
    std::vector<float> o1(64), o2(64);
    ASSERT_EQ(kxxPrintOrientation(a.get(), 16, 0, o1.data(), nullptr), 1);
    ASSERT_EQ(kxxPrintOrientation(t.get(), 16, 0, o2.data(), nullptr), 1);
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i)
            EXPECT_LE(lineDiff(o2[size_t(i) * 8 + (7 - j)], o1[size_t(j) * 8 + i] + kPi / 2), 1e-4);
}

// The documented arithmetic of kxxPrintGabor, pixel by pixel.
void referenceGabor(const Image *im, int block, const std::vector<float> &o, const std::vector<float> &f,
                    const std::vector<uint8_t> &mask, const KxxPrintParams &p, std::vector<uint8_t> &enhanced,
                    std::vector<uint8_t> &ridges)
{
    const int w = im->width, h = im->height, cols = (w + block - 1) / block;
    auto px = [&](int x, int y) {
        auto refl = [](int i, int n) {
            const int per = 2 * (n - 1);
            i %= per;
            if (i < 0) i += per;
            return i < n ? i : per - i;
        };
        return float(im->data[size_t(refl(y, h)) * im->pitch + refl(x, w)]);
    };
    enhanced.assign(size_t(w) * h, 255);
    ridges.assign(size_t(w) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t b = size_t(y / block) * cols + x / block;
            if (!mask[b]) continue;
            const double fc = std::clamp(double(f[b]), 1 / p.maxPeriod, 1 / p.minPeriod);
            int q = int(std::floor(double(o[b]) / kPi * p.angles + 0.5)) % p.angles;
            const int hp = int(std::floor(2 / fc + 0.5));
            const double a = q * kPi / p.angles, P = hp / 2.0, sigma = p.sigma * P, sigmaB = p.sigmaAlong * P;
            const int R = std::min(48, int(std::ceil(2 * sigma))), side = 2 * R + 1;
            std::vector<double> g(size_t(side) * side), cs(g.size());
            double sum = 0, gain = 0;
            for (int dy = -R; dy <= R; ++dy)
                for (int dx = -R; dx <= R; ++dx) {
                    const double cx = std::cos(2 * kPi * dx * -std::sin(a) / P), sx = std::sin(2 * kPi * dx * -std::sin(a) / P);
                    const double cy = std::cos(2 * kPi * dy * std::cos(a) / P), sy = std::sin(2 * kPi * dy * std::cos(a) / P);
                    const size_t k = size_t(dy + R) * side + (dx + R);
                    cs[k] = cx * cy - sx * sy;
                    const double u = dx * -std::sin(a) + dy * std::cos(a), v = dx * std::cos(a) + dy * std::sin(a);
                    g[k] = std::exp(-(u * u / (2 * sigma * sigma) + v * v / (2 * sigmaB * sigmaB))) * cs[k];
                    sum += g[k];
                }
            const double mean = sum / double(side * side);
            for (size_t k = 0; k < g.size(); ++k) gain += (g[k] -= mean) * cs[k];
            float r = 0;
            for (int dy = -R; dy <= R; ++dy)
                for (int dx = -R; dx <= R; ++dx) r += float(g[size_t(dy + R) * side + dx + R] / gain) * px(x + dx, y + dy);
            // The block's standard deviation.
            int64_t s = 0, s2 = 0, n = 0;
            const int x0 = (x / block) * block, y0 = (y / block) * block;
            for (int yy = y0; yy < std::min(y0 + block, h); ++yy)
                for (int xx = x0; xx < std::min(x0 + block, w); ++xx, ++n) {
                    const int v = im->data[size_t(yy) * im->pitch + xx];
                    s += v, s2 += v * v;
                }
            const double m = double(s) / double(n);
            double sd = std::sqrt(std::max(double(s2) / double(n) - m * m, 0.0));
            if (sd < 1) sd = 1;
            enhanced[size_t(y) * w + x] = uint8_t(std::clamp(std::floor(128 + 64 * double(r) / sd + 0.5), 0.0, 255.0));
            ridges[size_t(y) * w + x] = r < 0;
        }
}

TEST(Fingerprint, GaborEqualsItsArithmeticPixelByPixel)
{
    std::mt19937 rng(5);
    KxxPrintParams p = defaults();
    p.angles = 12;
    for (int trial = 0; trial < 3; ++trial) {
        const int w = 70 + 9 * trial, h = 45 + 5 * trial, block = 12 + 2 * trial;
        const int cols = (w + block - 1) / block, rows = (h + block - 1) / block;
        ImagePtr im = kxtest::randomImage(KIT_GRAY, w, h, 40 + trial);
        std::vector<float> o(size_t(cols) * rows), f(o.size());
        std::vector<uint8_t> mask(o.size());
        for (size_t k = 0; k < o.size(); ++k) {
            o[k] = float(std::uniform_real_distribution<double>(0, kPi)(rng));
            f[k] = float(std::uniform_real_distribution<double>(1 / 11.0, 1 / 3.0)(rng));
            mask[k] = rng() % 5 != 0;
        }
        ImagePtr enhanced(kxCreateImage(KIT_GRAY, w, h)), ridges(kxCreateImage(KIT_BIN, w, h));
        ASSERT_EQ(kxxPrintGabor(im.get(), block, o.data(), f.data(), mask.data(), &p, enhanced.get(), ridges.get()), 1);
        std::vector<uint8_t> e, r;
        referenceGabor(im.get(), block, o, f, mask, p, e, r);
        EXPECT_EQ(kxtest::pixels(enhanced.get()), e);
        EXPECT_EQ(kxtest::pixels(ridges.get()), r);
        EXPECT_EQ(ridges->imageType, KIT_BIN);
    }
}

// A binary ridge map drawn with thick lines, thinned by the library.
ImagePtr lines(int w, int h, const std::vector<std::array<int, 4>> &segments)
{
    ImagePtr im(kxCreateImage(KIT_BIN, w, h));
    for (const auto &s : segments) {
        for (int d = -1; d <= 1; ++d) {
            kxSetLine(im.get(), s[0], s[1] + d, s[2], s[3] + d, 1);
        }
    }
    return im;
}

std::vector<KxxMinutia> minutiaeOf(const Image *ridges, const KxxPrintParams &p)
{
    const int n = kxxPrintMinutiae(ridges, p.block, nullptr, nullptr, nullptr, &p, nullptr, 0, nullptr);
    EXPECT_GE(n, 0);
    std::vector<KxxMinutia> m(size_t(std::max(n, 0)));
    if (n > 0) {
        EXPECT_EQ(kxxPrintMinutiae(ridges, p.block, nullptr, nullptr, nullptr, &p, m.data(), n, nullptr), n);
    }
    return m;
}

double dirDiff(double a, double b)
{
    double d = std::fmod(std::fabs(a - b), 2 * kPi);
    return std::min(d, 2 * kPi - d) * 180 / kPi;
}

TEST(Fingerprint, EndingAndBifurcationWithTheirDirections)
{
    const KxxPrintParams p = defaults();
    struct Case {
        std::vector<std::array<int, 4>> segments;
        int kind, x, y;
        double degrees;
    } cases[] = {
        // A ridge from the left edge ending at x = 70: points +x.
        {{{0, 60, 70, 60}}, KXX_MINUTIA_ENDING, 70, 60, 0},
        // From the bottom edge up, ending at y = 50: points up (-y).
        {{{60, 119, 60, 50}}, KXX_MINUTIA_ENDING, 60, 50, 270},
        // A slanted ridge from the top-right edge down-left to (40, 80).
        {{{119, 1, 40, 80}}, KXX_MINUTIA_ENDING, 40, 80, 135},
        // A stem from the left splitting at x = 55 into two arms to the
        // right: points +x, along the arms.
        {{{0, 60, 55, 60}, {55, 60, 119, 35}, {55, 60, 119, 85}}, KXX_MINUTIA_BIFURCATION, 55, 60, 0},
        // A stem from the bottom splitting upwards.
        {{{60, 119, 60, 65}, {60, 65, 30, 0}, {60, 65, 90, 0}}, KXX_MINUTIA_BIFURCATION, 60, 65, 270},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " at " << c.x << "," << c.y);
        ImagePtr im = lines(120, 120, c.segments);
        const std::vector<KxxMinutia> m = minutiaeOf(im.get(), p);
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].kind, c.kind);
        EXPECT_LE(std::abs(m[0].x - c.x), 3);  // thinning moves forks and ends a little
        EXPECT_LE(std::abs(m[0].y - c.y), 3);
        EXPECT_LE(dirDiff(m[0].direction, c.degrees * kPi / 180), 12.0) << m[0].direction * 180 / kPi;
        EXPECT_EQ(m[0].quality, 1.0f);
    }
}

TEST(Fingerprint, SpursShorterThanTheLimitGo)
{
    KxxPrintParams p = defaults();
    p.minRidge = 14;
    // A ridge across the image with a spur going up from x = 60; the spur's
    // length is measured on the skeleton from the fork.
    for (int length : {4, 8, 11, 20, 30}) {
        SCOPED_TRACE(testing::Message() << "spur of " << length);
        ImagePtr im = lines(120, 120, {{0, 70, 119, 70}, {60, 70, 60, 70 - length}});
        const std::vector<KxxMinutia> m = minutiaeOf(im.get(), p);
        if (length <= 11) {
            EXPECT_TRUE(m.empty());
        } else {
            ASSERT_EQ(m.size(), 2u);  // raster order: the spur's end, then the fork
            EXPECT_EQ(m[0].kind, KXX_MINUTIA_ENDING);
            EXPECT_EQ(m[1].kind, KXX_MINUTIA_BIFURCATION);
            EXPECT_LE(dirDiff(m[0].direction, 1.5 * kPi), 12.0);
        }
    }
    // A short ridge of its own goes too; a longer one gives its two ends.
    for (int length : {10, 40}) {
        ImagePtr im = lines(120, 120, {{40, 60, 40 + length, 60}});
        EXPECT_EQ(minutiaeOf(im.get(), p).size(), length < 14 ? 0u : 2u) << length;
    }
    // Two ridge ends facing each other across a gap of 8 pixels: both go;
    // across 40 pixels they stay.
    for (int gap : {8, 40}) {
        ImagePtr im = lines(160, 120, {{0, 60, 60, 60}, {60 + gap, 60, 159, 60}});
        EXPECT_EQ(minutiaeOf(im.get(), p).size(), gap < p.gap ? 0u : 2u) << gap;
    }
}

TEST(Fingerprint, GaborPlaceholdersStayPlaceholders)
{
    for (int a : {INT32_MIN, -1, 0, 1, 7, INT32_MAX}) {
        EXPECT_EQ(kxCreateGaborBank(a, a, a, a), nullptr);
        EXPECT_EQ(kxDestroyGaborBank(a), 0);
        EXPECT_EQ(kxOrientationField(a, a), 0);
        EXPECT_EQ(kxFrequenceField(a, a, a), 0);
        kxGabor(a, a);
    }
}

TEST(Fingerprint, Refusals)
{
    KxxPrintParams p = defaults();
    ImagePtr grey = sinusoid(64, 64, 30, 9), bin(kxCreateImage(KIT_BIN, 64, 64)), rgb(kxCreateImage(KIT_RGB, 64, 64));
    std::vector<float> o(16, -7.0f), f(16, -7.0f);
    std::vector<uint8_t> m(16, 9);
    KxxMinutia out[4];
    EXPECT_EQ(kxxPrintDefaults(&p, 99), 0);
    EXPECT_EQ(kxxPrintDefaults(&p, 2001), 0);
    EXPECT_EQ(kxxPrintOrientation(bin.get(), 16, 2, o.data(), nullptr), 0);
    EXPECT_EQ(kxxPrintOrientation(grey.get(), 3, 2, o.data(), nullptr), 0);
    EXPECT_EQ(kxxPrintOrientation(grey.get(), 65, 2, o.data(), nullptr), 0);
    EXPECT_EQ(kxxPrintOrientation(grey.get(), 16, 5, o.data(), nullptr), 0);
    EXPECT_EQ(o, std::vector<float>(16, -7.0f));
    EXPECT_EQ(kxxPrintMask(rgb.get(), 16, nullptr, &p, m.data()), -1);
    KxxPrintParams bad = p;
    bad.sigma = std::nan("");
    EXPECT_EQ(kxxPrintMask(grey.get(), 16, nullptr, &bad, m.data()), -1);
    bad = p;
    bad.maxPeriod = bad.minPeriod;
    EXPECT_EQ(kxxPrintFrequency(grey.get(), 16, o.data(), nullptr, &bad, f.data(), nullptr), -1);
    EXPECT_EQ(m, std::vector<uint8_t>(16, 9));
    EXPECT_EQ(f, std::vector<float>(16, -7.0f));
    ImagePtr small(kxCreateImage(KIT_GRAY, 63, 64));
    std::fill(o.begin(), o.end(), 0.5f);
    std::fill(f.begin(), f.end(), 0.1f);
    EXPECT_EQ(kxxPrintGabor(grey.get(), 16, o.data(), f.data(), nullptr, &p, small.get(), nullptr), 0);
    EXPECT_EQ(kxxPrintGabor(grey.get(), 16, o.data(), f.data(), nullptr, &p, nullptr, rgb.get()), 0);
    EXPECT_EQ(kxxPrintMinutiae(grey.get(), 16, nullptr, nullptr, nullptr, &p, out, 4, nullptr), -1);
    EXPECT_EQ(kxxPrintAnalyse(bin.get(), 500, nullptr, nullptr, nullptr, nullptr, nullptr, out, 4), -1);
    EXPECT_EQ(kxxPrintAnalyse(grey.get(), 50, nullptr, nullptr, nullptr, nullptr, nullptr, out, 4), -1);
    EXPECT_EQ(kxxPrintEnhance(nullptr, 500), nullptr);
    const std::vector<uint8_t> before = kxtest::pixels(rgb.get());
    EXPECT_EQ(kxxPrintEnhance(rgb.get(), 500), rgb.get());
    EXPECT_EQ(kxtest::pixels(rgb.get()), before);
    EXPECT_EQ(kxxMarkMinutiae(nullptr, out, 1, 1), nullptr);
}

TEST(Fingerprint, AnyPrintSizeAndWrappedRows)
{
    // Tiny and odd sizes run through and give something sane.
    for (auto [w, h] : {std::pair{1, 1}, {2, 3}, {5, 40}, {17, 17}, {33, 90}}) {
        ImagePtr im = kxtest::randomImage(KIT_GRAY, w, h, uint32_t(w * 100 + h));
        KxxMinutia out[8];
        const int n = kxxPrintAnalyse(im.get(), 500, nullptr, nullptr, nullptr, nullptr, nullptr, out, 8);
        EXPECT_GE(n, 0) << w << "x" << h;
    }
    // Parameters at the ends of their ranges, on noise and on a pattern.
    KxxPrintParams edge[3];
    for (KxxPrintParams &e : edge) kxxPrintDefaults(&e, 500);
    edge[0].block = 4, edge[0].smooth = 4, edge[0].minPeriod = 2, edge[0].maxPeriod = 100, edge[0].sigma = 2;
    edge[0].sigmaAlong = 4, edge[0].angles = 64, edge[0].trace = 64, edge[0].minStd = -1, edge[0].minCoherence = -1;
    edge[1].block = 64, edge[1].smooth = 0, edge[1].angles = 2, edge[1].sigma = 0.1, edge[1].sigmaAlong = 0.1;
    edge[1].trace = 2, edge[1].minRidge = 1000, edge[1].bridge = 0, edge[1].gap = 1000, edge[1].border = 0;
    edge[2].minStd = 1e300, edge[2].minArea = 1 << 30, edge[2].minPeak = -1;
    for (const KxxPrintParams &e : edge)
        for (int k = 0; k < 2; ++k) {
            ImagePtr im = k ? sinusoid(97, 71, 40, 6) : kxtest::randomImage(KIT_GRAY, 97, 71, 3);
            ImagePtr out(kxCreateImage(KIT_GRAY, 97, 71));
            KxxMinutia found[4];
            EXPECT_GE(kxxPrintAnalyse(im.get(), 0, &e, out.get(), nullptr, nullptr, nullptr, found, 4), 0);
        }
    // A wrapped print: the row padding is never written, and the result is
    // that of the same pixels in an owned image.
    ImagePtr owned = sinusoid(150, 120, 35, 9);
    const std::vector<uint8_t> px = kxtest::pixels(owned.get());
    kxtest::PaddedImage wrapped(KIT_GRAY, 150, 120, px, 7);
    kxxPrintEnhance(owned.get(), 500);
    kxxPrintEnhance(wrapped.get(), 500);
    EXPECT_TRUE(wrapped.paddingIntact());
    EXPECT_EQ(kxtest::pixels(wrapped.get()), kxtest::pixels(owned.get()));
    kxtest::PaddedImage wrappedRidges(KIT_GRAY, 150, 120, px, 3);
    EXPECT_EQ(kxxPrintRidges(wrappedRidges.get(), 500), wrappedRidges.get());
    EXPECT_EQ(wrappedRidges.get()->imageType, KIT_BIN);
    EXPECT_TRUE(wrappedRidges.paddingIntact());
    // Marks are clipped to the image.
    KxxMinutia m[2] = {{2, 2, KXX_MINUTIA_ENDING, 3.5f, 1}, {149, 119, KXX_MINUTIA_BIFURCATION, 0.3f, 1}};
    kxtest::PaddedImage marked(KIT_GRAY, 150, 120, px, 4);
    kxxMarkMinutiae(marked.get(), m, 2, 0);
    EXPECT_TRUE(marked.paddingIntact());
    EXPECT_NE(kxtest::pixels(marked.get()), px);
}

TEST(Fingerprint, OneCallMatchesTheSteps)
{
    ImagePtr im = sinusoid(200, 180, 70, 10);
    // A stripe of paper across the pattern, so the mask is not everything.
    for (int y = 0; y < 180; ++y) std::fill(im->data + size_t(y) * im->pitch, im->data + size_t(y) * im->pitch + 40, 240);
    const KxxPrintParams p = defaults();
    const int cols = 13, rows = 12, n = cols * rows;
    std::vector<float> o(n), c(n), f(n);
    std::vector<uint8_t> mask(n);
    KxxPrintFields fields{0, 0, o.data(), c.data(), f.data(), mask.data()};
    ImagePtr enhanced(kxCreateImage(KIT_GRAY, 200, 180)), ridges(kxCreateImage(KIT_GRAY, 200, 180));
    ASSERT_GE(kxxPrintAnalyse(im.get(), 500, nullptr, enhanced.get(), ridges.get(), nullptr, &fields, nullptr, 0), 0);
    EXPECT_EQ(fields.cols, cols);
    EXPECT_EQ(fields.rows, rows);
    std::vector<float> o2(n), c2(n);
    ASSERT_EQ(kxxPrintOrientation(im.get(), 16, 2, o2.data(), c2.data()), 1);
    EXPECT_EQ(o, o2);
    EXPECT_EQ(c, c2);
    EXPECT_EQ(mask[0], 0);  // the paper
    EXPECT_EQ(mask[6 * cols + 7], 1);
    ImagePtr e2(kxCreateImage(KIT_GRAY, 200, 180));
    ASSERT_EQ(kxxPrintGabor(im.get(), 16, o.data(), f.data(), mask.data(), &p, e2.get(), nullptr), 1);
    EXPECT_EQ(kxtest::pixels(e2.get()), kxtest::pixels(enhanced.get()));
    EXPECT_EQ(ridges->imageType, KIT_BIN);
    // The in-place call gives the same enhanced print.
    kxxPrintEnhance(im.get(), 500);
    EXPECT_EQ(kxtest::pixels(im.get()), kxtest::pixels(enhanced.get()));
}

}  // namespace
