// Global thresholds: the fixed binarizers, the dispatcher, the selectors on
// histograms and images whose levels are known by hand, masks, the pruned
// multi-level search against the walk that defines it.  Local thresholds:
// running column sums against directly summed windows, the vector row
// decisions against the plain one.
#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

#include "kxtest.hpp"
#include "levels.hpp"
#include "threshold/threshold_detail.hpp"

using namespace kxtest;
using Bytes = std::vector<uint8_t>;
using kxtest::Op;
using kxtest::bind;

namespace {

// op on a padded KIT_GRAY image of `in`, w wide: its bytes, after checking
// that the image comes back with type `type`.
Bytes run(const Op &op, const Bytes &in, int w, int type = KIT_BIN)
{
    PaddedImage im(KIT_GRAY, w, int(in.size()) / w, in);
    EXPECT_EQ(op(im.get()), im.get());
    EXPECT_EQ(im.get()->imageType, type);
    return pixels(im.get());
}

TEST(Threshold, FixedLevelsFollowTheirRules)
{
    // Levels and their neighbours, then random rows around the vector
    // widths: step tables take a compare path, the others the table kernels.
    const struct { Op op; std::function<int(int)> rule; int type; } cases[] = {
        {bind(kxbDark, 10, 77, 0), [](int p) { return p < 10 ? 77 : p; }, KIT_GRAY},
        {bind(kxbDark, 10, 77, 2), [](int p) { return p < 10; }, KIT_BIN},
        {bind(kxbLight, 11, 77, 1), [](int p) { return p >= 11; }, KIT_BIN},
        {bind(kxbInner, 10, 100, 5, 0), [](int p) { return p >= 10 && p < 100 ? 5 : p; }, KIT_GRAY},
        {bind(kxbInner, 10, 100, 5, 1), [](int p) { return p >= 10 && p < 100; }, KIT_BIN},
        {bind(kxbInner, 10, 10, 5, 1), [](int) { return 0; }, KIT_BIN},      // empty
        {bind(kxbInner, 100, 10, 5, 0), [](int p) { return p; }, KIT_GRAY},  // reversed
        {bind(kxbOuter, 10, 100, 5, 1), [](int p) { return p < 10 || p >= 100; }, KIT_BIN},
        {bind(kxbOuter, 10, 10, 5, 1), [](int) { return 1; }, KIT_BIN},  // empty interval
        // kxbSimple at the ends and in between, both ways (any non-zero inverts).
        {bind(kxbSimple, 0, 0), [](int) { return 1; }, KIT_BIN},
        {bind(kxbSimple, 0, 5), [](int) { return 0; }, KIT_BIN},
        {bind(kxbSimple, 100, 0), [](int p) { return p >= 100; }, KIT_BIN},
        {bind(kxbSimple, 255, -1), [](int p) { return p < 255; }, KIT_BIN},
    };
    uint32_t seed = 31;
    for (int w : {9, 1, 13, 32, 33, 64, 65, 131}) {
        const Bytes in = w == 9 ? Bytes{0, 9, 10, 11, 99, 100, 101, 254, 255} : randomBytes(size_t(w) * 2, seed++);
        for (size_t k = 0; k < std::size(cases); ++k) {
            Bytes want(in.size());
            for (size_t i = 0; i < in.size(); ++i) want[i] = uint8_t(cases[k].rule(in[i]));
            EXPECT_EQ(run(cases[k].op, in, w, cases[k].type), want) << "case " << k << " width " << w;
        }
    }
}

TEST(Threshold, GetOptimaSettledCases)
{
    enum { kNone, kEmpty, kBroken };  // masks: none, selecting nothing, a record without pixels
    const struct { const char *name; int type; Bytes in; int mask, method, level; } cases[] = {  // type 0: null
        {"NullImage", 0, {}, kNone, 0, 0},
        {"NullImageWithMask", 0, {}, kEmpty, 0, 0},
        {"MethodAbove", KIT_GRAY, {10, 20, 20, 30}, kNone, 7, 255},
        {"MethodNegative", KIT_GRAY, {10, 20, 20, 30}, kNone, -1, 255},
        {"Colour", KIT_RGB, {1, 2, 3, 4, 5, 6}, kNone, 3, 255},
        {"Mode", KIT_GRAY, {10, 20, 20, 30}, kNone, 3, 20},
        {"ModeTie", KIT_GRAY, {20, 10, 20, 10, 5, 200}, kNone, 3, 10},  // equal counts: the lowest level
        {"EntropyNoLevelBeatsZero", KIT_GRAY, {200, 200, 200}, kNone, 2, 255},
        // Every split leaves a class empty (weight DBL_MIN, mean 1): the first wins.
        {"PoissonUniform", KIT_GRAY, {200, 200, 200}, kNone, 1, 0},
        // Two levels: every split between them scores the same, and the
        // minimum-error level is the lower one.
        {"MinErrorTwoLevels", KIT_GRAY, {200, 30, 200, 30, 30}, kNone, 0, 30},
        // The Poisson criterion splits 66 | 189 (the split gains 0.8 * 66 ln 66
        // + 0.2 * 189 ln 189 - 90.6 ln 90.6 = 11.0 against an entropy of 0.50);
        // the level is the lower one.
        {"PoissonSplit", KIT_GRAY, {66, 66, 189, 66, 66}, kNone, 1, 66},
        {"BrokenMask", KIT_GRAY, {10, 20, 20, 30}, kBroken, 3, 255},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const int w = c.type ? int(c.in.size()) / (c.type == KIT_RGB ? 3 : 1) : 4;
        ImagePtr im = c.type ? makeImage(c.type, w, 1, c.in) : nullptr;
        ImagePtr mask = makeImage(KIT_GRAY, w, 1, Bytes(size_t(w), c.mask == kBroken));
        if (c.mask == kBroken) mask->pitch = 2;
        const Image *m = c.mask == kNone ? nullptr : mask.get();
        EXPECT_EQ(kxbGetOptimaE1(im.get(), m, c.method), c.level);  // without a mask: kxbGetOptima
        if (c.type != KIT_GRAY || c.mask == kBroken) {  // the binarizers (one grey-only check) refuse too
            EXPECT_EQ(kxbOtsu(im.get(), m), im.get());
            EXPECT_EQ(kxbMinErrorE1(im.get(), m, 0), im.get());
            EXPECT_TRUE(!im || (pixels(im.get()) == c.in && im->imageType == c.type));
        }
    }
}

TEST(Threshold, BinarizersOnWorkedImages)
{
    ImagePtr hideTens = makeImage(KIT_BIN, 3, 2, {0, 1, 1, 0, 1, 1}), none = makeImage(KIT_BIN, 3, 1, {0, 0, 0});
    const struct { const char *name; Op op; int w; Bytes in, out; int type = KIT_BIN; } cases[] = {
        // Otsu: every quotient 0/0 gives level 0, raised to 1.  (Pixels at
        // the level becoming 1: tests/extra/levels.cpp.)
        {"OtsuUniform200", bind(kxbOtsu, nullptr), 4, {200, 200, 200, 200}, {1, 1, 1, 1}},
        // The mask hides the 10s, leaving 100 and 200: the level becomes 100.
        {"OtsuMaskHidesTens", bind(kxbOtsu, hideTens.get()), 3, {10, 100, 200, 10, 100, 200}, {0, 1, 1, 0, 1, 1}},
        {"OtsuEmptyMask", bind(kxbOtsu, none.get()), 3, {0, 1, 9}, {0, 1, 1}},  // level 0, binarized at 1
        // Minimum error on two levels: the lower one (see the selector
        // cases), raised to 1; pixels at the level become 1.
        {"MinErrorTwoLevels", bind(kxbMinError, 0), 4, {30, 200, 30, 200}, {1, 1, 1, 1}},
        {"MinErrorLevelZero", bind(kxbMinError, 0), 4, {0, 9, 0, 9}, {0, 1, 0, 1}},
        // Isodata: both clusters below 128, the empty upper side takes the
        // lower mean (35), then the split settles between 10 and 60.
        {"IsoDarkClusters", bind(kxbIsoData, 10, 1), 4, {10, 60, 10, 60}, {0, 1, 0, 1}},
        {"IsoBrightClusters", bind(kxbIsoData, 10, 1), 4, {130, 250, 130, 250}, {0, 1, 0, 1}},
        {"IsoUniform", bind(kxbIsoData, 10, 1), 3, {200, 200, 200}, {0, 0, 0}},  // T ends at the value
        {"IsoNoIteration", bind(kxbIsoData, -1, 1), 4, {10, 60, 128, 129}, {0, 0, 0, 1}},  // T stays 128
        {"IsoOneUpdate", bind(kxbIsoData, 0, 1), 4, {10, 60, 10, 60}, {0, 1, 0, 1}},  // T = round((10 + 60) / 2)
        {"IsoWindowNegative", bind(kxbIsoData, 10, -7), 4, {10, 60, 10, 60}, {0, 1, 0, 1}},  // windows below 1 act as 1
        {"IsoAdjacentLevels", bind(kxbIsoData, 10, 1), 2, {127, 128}, {0, 0}},  // (127 + 128) / 2 rounds up to 128
        // Multi-level (the thresholds: the walk below; the classes' values:
        // tests/extra/levels.cpp): 256 classes, one per grey level, each
        // pixel drops by one.
        {"MultiEveryLevel", bind(kxbMultiLevel, 256), 5, {0, 1, 7, 254, 255}, {0, 0, 6, 253, 255}, KIT_GRAY},
    };
    for (const auto &c : cases) EXPECT_EQ(run(c.op, c.in, c.w, c.type), c.out) << c.name;
    for (int levels : {1, 257, INT32_MAX, INT32_MIN})  // class counts outside 2..256 leave the image
        EXPECT_EQ(run(bind(kxbMultiLevel, levels), {9, 200}, 2, KIT_GRAY), (Bytes{9, 200})) << levels;
}

TEST(Threshold, FloatCountStopsAt2To24)
{
    // Counts as a float incremented once per pixel: exact up to 2^24, then
    // stuck there (float(c) would go on to 2^24 + 2 and 2^31).
    for (uint64_t c : {0ull, 1ull, 255ull, (1ull << 24) - 1}) EXPECT_EQ(kx::thr::floatCount(c), float(c));
    for (uint64_t c : {(1ull << 24) + 2, 1ull << 31}) EXPECT_EQ(kx::thr::floatCount(c), 16777216.0f) << c;
}

TEST(Threshold, SelectorsOnWorkedHistograms)
{
    // 32 equal bins lo, lo + 2, ...: Otsu's between-class value (as j (32 - j))
    // and the entropy sum log j + log (32 - j) (j bins below the split) peak
    // at j = 16 alone, wherever the run starts; the empty bin after the 16th
    // ties, and the lower level wins.
    for (int lo : {0, 1, 37, 100, 193})
        for (int32_t count : {1, 3, 1000}) {
            int32_t h[256] = {};
            float fh[256] = {};
            for (int i = lo; i < lo + 64; i += 2) h[i] = count;
            std::copy(h, h + 256, fh);
            EXPECT_EQ(kx::thr::otsuLevel(fh, 32 * count), lo + 30) << lo << " " << count;
            EXPECT_EQ(kx::thr::maxEntropyLevel(h), lo + 30) << lo << " " << count;
        }
    // Isodata divides a window's sum by the window, while the edge bins keep
    // their counts: with 10 at 0, 20 and 200, window 2 gives the low mean
    // 305 / 30 and T = 105; window 3 gives 610 / 70 and T = 104.
    int32_t three[256] = {};
    three[0] = three[20] = three[200] = 10;
    EXPECT_EQ(kx::thr::isodataLevel(three, 20, 2), 105);
    EXPECT_EQ(kx::thr::isodataLevel(three, 20, 3), 104);
    // Levels worked out aside: Otsu in single precision gives 127 on
    // i * 157 mod 257 (in double it would be 128); a triangle i, 3 (255 - i)
    // gives 110 (Gaussian; 152 without the class-weight term), 113 (Poisson)
    // and 123 (entropy).
    int32_t tri[256];
    float fmod[256];
    for (int i = 0; i < 256; ++i) fmod[i] = float(i * 157 % 257);
    for (int i = 0; i < 256; ++i) tri[i] = i < 128 ? i : 3 * (255 - i);
    EXPECT_EQ(kx::thr::otsuLevel(fmod, int64_t(std::accumulate(fmod, fmod + 256, 0.0))), 127);
    EXPECT_EQ(kx::thr::minErrorLevel(tri, false), 110);
    EXPECT_EQ(kx::thr::minErrorLevel(tri, true), 113);
    EXPECT_EQ(kx::thr::maxEntropyLevel(tri), 123);
}

TEST(Threshold, MaskedSelectionEqualsTheSelectedPixelsAlone)
{
    // A KIT_RGB mask wider and taller than the image, read byte by byte in
    // the common rectangle, any non-zero byte selecting: the selectors equal
    // those over the selected pixels alone, and the binarizers cut there
    // (raised to 1).  Narrower and padded masks: tests/extra/levels.cpp,
    // through the same count.
    const Bytes in = randomBytes(12 * 5, 3), maskBytes = randomBytes(14 * 3 * 6, 4, 0, 3);
    Bytes alone;
    for (size_t i = 0; i < in.size(); ++i)
        if (maskBytes[i / 12 * 42 + i % 12]) alone.push_back(in[i]);
    PaddedImage mask(KIT_RGB, 14, 6, maskBytes);
    ImagePtr im = makeImage(KIT_GRAY, 12, 5, in), sel = makeImage(KIT_GRAY, int(alone.size()), 1, alone);
    for (int method = 0; method < 4; ++method)
        EXPECT_EQ(kxbGetOptimaE1(im.get(), mask.get(), method), kxbGetOptima(sel.get(), method)) << method;
    const auto cut = [](const Image *from, int method) {
        return bind(kxbSimple, std::max<int>(kxbGetOptima(from, method), 1), 0);
    };
    EXPECT_EQ(run([&](Image *i) { return kxbMinErrorE1(i, mask.get(), 1); }, in, 12), run(cut(sel.get(), 1), in, 12));
    EXPECT_EQ(run(kxbMaxEntropy, in, 12), run(cut(im.get(), 2), in, 12));
}

// The multi-level search by definition: every ordered tuple of class ends in
// lexicographic order (the last class's end included), scored as the
// left-to-right double sum of float class terms, the first strictly best kept.
std::vector<int> multiLevel(const int32_t h[256], int64_t n, int levels)
{
    std::vector<float> term(65536);  // start * 256 + end
    for (int s = 0; s < 256; ++s) {
        float P = 0.0f, S = 0.0f;
        for (int e = s; e < 256; ++e) {
            const float q = float(h[e] * 1.0 / double(n));
            P += q;
            S += float(e) * q;
            const float mu = P != 0.0f ? S / P : 0.0f;
            term[size_t(s) * 256 + e] = P * (mu * mu);
        }
    }
    std::vector<int> t(static_cast<size_t>(levels)), best(static_cast<size_t>(levels - 1));
    for (int i = 0; i < levels - 1; ++i) best[size_t(i)] = i;
    double bestScore = 0.0;
    auto walk = [&](auto &self, int L, int start, double score) -> void {
        for (int end = start; end <= 256 - levels + L; ++end) {
            const double s = score + term[size_t(start) * 256 + end];
            t[size_t(L)] = end;
            if (L < levels - 1)
                self(self, L + 1, end + 1, s);
            else if (bestScore < s) {
                bestScore = s;
                best.assign(t.begin(), t.end() - 1);
            }
        }
    };
    walk(walk, 0, 0, 0.0);
    return best;
}

TEST(Threshold, MultiLevelSearchMatchesExhaustiveWalk)
{
    // levels, histograms: the same tuple as the walk, ties and all.  More
    // classes than the walk could visit: strictly increasing thresholds.
    for (auto [levels, histograms] :
         {std::pair{2, 24}, {3, 6}, {254, 3}, {255, 6}, {256, 6}, {5, 6}, {40, 6}, {128, 6}}) {
        std::mt19937 rng(uint32_t(levels) * 7919u);
        for (int trial = 0; trial < histograms; ++trial) {
            SCOPED_TRACE(testing::Message() << levels << " levels, trial " << trial);
            // Histograms dense, of a few occupied bins (many ties), of counts
            // from a tiny set, of one bin, of huge counts, of two smooth modes.
            std::vector<int32_t> h(256, 0);
            auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
            const int shape = trial % 6, occupied = shape == 1 ? pick(1, 6) : shape == 3 ? 1 : 0;
            for (int i = 0; i < occupied; ++i)
                h[size_t(pick(0, 1) ? 0 : pick(0, 255))] = pick(1, shape == 1 ? 50 : 1 << 20);
            for (int i = 0; i < 256 && !occupied; ++i)
                h[size_t(i)] = shape == 0   ? pick(0, 5000)
                               : shape == 2 ? pick(0, 3)
                               : shape == 4
                                   ? pick(0, 1) * pick(1 << 20, 1 << 24)
                                   : 2000 / (1 + (i - 60) * (i - 60) / 40) + 900 / (1 + (i - 190) * (i - 190) / 90);
            const int64_t n = std::accumulate(h.begin(), h.end(), int64_t(0));
            std::vector<int> got(size_t(levels - 1), -1);
            ASSERT_TRUE(kx::thr::multiLevelThresholds(h.data(), n, levels, got.data()));
            if (levels <= 3 || levels >= 254) {
                EXPECT_EQ(got, multiLevel(h.data(), n, levels));
            }
            for (size_t i = 1; i < got.size(); ++i) EXPECT_LT(got[i - 1], got[i]);
            EXPECT_LE(got.back(), 254);
        }
    }
}

// Every window summed directly (zero outside, divisor w * w); the library
// keeps running column sums instead.  The 0/1 bytes of a packed grey image.
Bytes localDirect(const Bytes &in, int W, int H, int window, uint8_t range, float k)
{
    const int64_t w = window < 1 ? 1 : window % 2 == 0 ? int64_t(window) + 1 : window, half = w / 2;
    const double area = double(w * w);
    Bytes out(in.size());
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            int64_t s = 0, q = 0;
            for (int64_t j = std::max<int64_t>(0, y - half); j <= std::min<int64_t>(H - 1, y + half); ++j)
                for (int64_t i = std::max<int64_t>(0, x - half); i <= std::min<int64_t>(W - 1, x + half); ++i) {
                    const int v = in[size_t(j * W + i)];
                    s += v;
                    q += v * v;
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
        {1, 128, 0.5f}, {3, 128, 0.2f}, {4, 128, 0.5f}, {5, 64, -0.3f}, {9, 255, 1.5f}, {15, 1, 0.5f},
        {31, 100, 0.34f}, {2, 0, 0.5f}, {7, 0, 0.0f}, {181, 128, 0.5f}, {183, 77, 0.5f}, {5, 128, INFINITY},
        {9, 10, NAN}, {33, 3, 1e30f}, {101, 7, -3.4e38f}, {3, 2, 1e-30f}, {11, 200, -7.0f}, {0, 128, 0.3f},
        {511, 100, 0.34f}, {INT32_MIN, 128, 0.3f}, {INT32_MAX - 1, 128, 0.3f}, {INT32_MAX, 128, 0.3f}};
    std::mt19937 rng(31);
    uint32_t seed = 0;
    for (const auto &p : params)
        for (int shape = 0; shape < 5; ++shape) {
            const int w = shape == 4 ? 200 : 1 + int(rng() % 70), h = shape == 4 ? 9 : 1 + int(rng() % 30);
            Bytes in = shape == 1   ? randomBytes(size_t(w) * h, ++seed, 190, 210)
                                      : shape == 2 ? Bytes(size_t(w) * h, uint8_t(rng() % 256))
                                                   : randomBytes(size_t(w) * h, ++seed);
            for (size_t i = 0; shape == 3 && i < in.size(); ++i) in[i] = (i / 3 + i % size_t(w)) % 5 == 0 ? 255 : 17;
            EXPECT_EQ(run([&](Image *i) { return kxbLocalIntegral(i, p.window, p.range, p.k); }, in, w),
                      localDirect(in, w, h, p.window, p.range, p.k))
                << "window " << p.window << " range " << int(p.range) << " k " << p.k << " " << w << "x" << h;
        }
    // Images taller than the window: rows enter and leave it together.
    for (int window : {7, 183, 255}) {
        const int w = 45, h = 300;
        const Bytes in = randomBytes(size_t(w) * h, ++seed);
        EXPECT_EQ(run([&](Image *i) { return kxbLocalIntegral(i, window, 100, 0.3f); }, in, w),
                  localDirect(in, w, h, window, 100, 0.3f))
            << "window " << window;
    }
}

// The kernels of every level on 64-bit running sums, and on packed or
// wrapping 32-bit ones where the area allows them, must give the bytes of
// the plain loop.
void expectKernelsAgree(const Bytes &src, const std::vector<int64_t> &sum64,
                        const std::vector<int64_t> &sq64, const kx::thr::LocalParams &p, const std::string &what)
{
    const size_t n = src.size();
    std::vector<uint32_t> sum(sum64.begin(), sum64.end()), sq(sq64.begin(), sq64.end());  // wrapping
    Bytes plain(n), other(n);
    kx::thr::decideLocalRow({src.data(), sum64.data(), sq64.data(), 1, plain.data(), n, p},
                            kx::thr::localKernel64For(p, kx::isa::Level::Plain));
    atEveryLevel([&](kx::isa::Level level) {
        kx::thr::decideLocalRow({src.data(), sum64.data(), sq64.data(), 1, other.data(), n, p},
                                kx::thr::localKernel64For(p, level));
        ASSERT_EQ(other, plain) << what << " (64-bit sums)";
        if (p.area <= kx::thr::kLocalPackedArea) {
            std::vector<uint64_t> packed(n + 1);
            for (size_t i = 0; i <= n; ++i)
                packed[i] = (uint64_t(sq64[i]) << kx::thr::kLocalPackedShift) + uint64_t(sum64[i]);
            kx::thr::decideLocalRow({src.data(), packed.data(), nullptr, 1, other.data(), n, p},
                                    kx::thr::localKernelPackedFor(p, level));
            ASSERT_EQ(other, plain) << what << " (packed sums)";
        }
        if (p.area > kx::thr::kLocalVectorArea) return;
        kx::thr::decideLocalRow({src.data(), sum.data(), sq.data(), 1, other.data(), n, p},
                                kx::thr::localKernelFor(p, level));
        ASSERT_EQ(other, plain) << what;
    });
}

TEST(Threshold, LocalVectorDecisionMatchesThePlainLoop)
{
    // Window sums of uniform windows, of values v and v + d, of clipped
    // windows (fewer pixels than the area) and any in range (rounded
    // variances below 0), with pixels mostly next to the window mean; areas
    // up to the largest of each kernel and beyond.
    std::mt19937_64 rng(77);
    const size_t n = 613;  // not a multiple of eight
    for (int w : {1, 3, 5, 31, 33, 101, 181, 183, 255, 511, 513, 5791, 5793})
        for (double range : {0, 1, 2, 3, 7, 100, 128, 200, 255})
            for (float k : {0.0f, 0.34f, -0.3f, 1.5f, 1e-30f, -7.0f, 1e30f, -3.4e38f}) {
                const int64_t area = int64_t(w) * w;
                std::vector<int64_t> sum(n + 1), sq(n + 1);  // window of x: run[x + 1] - run[x]
                Bytes src(n);
                for (size_t x = 0; x < n; ++x) {
                    const int64_t v = int64_t(rng() % 256), hi = std::min<int64_t>(v + int64_t(rng() % 4), 255);
                    const int64_t m = int64_t(rng() % uint64_t(area + 1)), kind = int64_t(x % 4);
                    const int64_t a = kind == 0 ? area : kind == 1 ? area - m : m, b = kind == 1 ? m : 0;
                    // The last kind: any sums in range.
                    const int64_t s = kind == 3 ? int64_t(rng() % uint64_t(255 * area + 1)) : v * a + hi * b;
                    const int64_t q = kind == 3 ? int64_t(rng() % uint64_t(65025 * area + 1)) : v * v * a + hi * hi * b;
                    sum[x + 1] = sum[x] + s;
                    sq[x + 1] = sq[x] + q;
                    const int64_t nearMean = std::clamp<int64_t>(s / area + int64_t(rng() % 3) - 1, 0, 255);
                    src[x] = uint8_t(x % 7 == 0 ? int64_t(rng() % 256) : nearMean);
                }
                const std::string what = std::to_string(w) + " " + std::to_string(range) + " " + std::to_string(k);
                expectKernelsAgree(src, sum, sq, {double(area), range, double(k)}, "window, range, k: " + what);
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
        Bytes src;
        for (int v = 0; v * range <= 255; ++v)
            for (int d = -1; d <= 1; ++d) {
                const int64_t c = int64_t(v) * range;
                sum.push_back(sum.back() + 1);
                sq.push_back(sq.back() + 1 + c * c);
                src.push_back(uint8_t(std::max(v + d, 0)));
            }
        src.resize((src.size() + 15) / 16 * 16);  // whole vectors
        sum.resize(src.size() + 1, sum.back());
        sq.resize(src.size() + 1, sq.back());
        expectKernelsAgree(src, sum, sq, {1, double(range), 1.0}, "range " + std::to_string(range));
    }
}

TEST(Threshold, LocalVectorDecisionWhereTheSinglePrecisionLevelCrossesAValue)
{
    // Window sums whose level taken in single precision lies on the other
    // side of a pixel value than the level in double: the kernels must
    // still give the plain bytes.
    std::mt19937_64 rng(5);
    size_t found = 0;
    for (double range : {3.0, 7.0, 100.0, 200.0})
        for (float k : {0.34f, -0.3f, 1.5f}) {
            const int64_t area = 9;
            std::vector<int64_t> sum(1, 0), sq(1, 0);
            Bytes src;
            for (int tries = 0; tries < 1500000 && src.size() < 64; ++tries) {
                const int64_t S = int64_t(rng() % (255 * area + 1)), Q = S * S / area + int64_t(rng() % 4000);
                const float mean = float(double(S) / area), meanSq = float(double(Q) / area);
                const float sd = float(std::sqrt(double(meanSq - mean * mean)));
                const double plain = double(mean) * (1.0 + double(k) * (double(sd) / range - 1.0));
                const float single = mean * (1.0f + k * (sd * float(1.0 / range) - 1.0f));
                const double v = std::floor(std::max(plain, double(single)));
                // Strictly between the two levels (a level on the value is
                // in doubt either way, and would send its group to the plain loop).
                if (!(v >= 0 && v <= 255 && v != plain && v != single) || (v > plain) == (v > double(single))) continue;
                sum.push_back(sum.back() + S);
                sq.push_back(sq.back() + Q);
                src.push_back(uint8_t(v));
            }
            found += src.size();
            src.resize((src.size() + 15) / 16 * 16);  // whole vectors
            sum.resize(src.size() + 1, sum.back());
            sq.resize(src.size() + 1, sq.back());
            expectKernelsAgree(src, sum, sq, {double(area), range, double(k)}, "range " + std::to_string(range));
        }
    EXPECT_GE(found, 10u);
}

}  // namespace
