// Global thresholds: the fixed binarizers, the histogram selectors (against
// plain loops on random histograms and images, with masks) and the
// selector-based binarizers.
#include <functional>

#include "hist_util.hpp"
#include "kxtest.hpp"
#include "ref_selectors.hpp"
#include "threshold/threshold_detail.hpp"

using namespace kxtest;

namespace {

const std::vector<uint8_t> kRamp = {0, 9, 10, 11, 100, 254, 255};

TEST(Threshold, FixedLevelsRewritePixelBytesOnly)
{
    const struct {
        const char *name;
        std::function<Image *(Image *)> op;
        std::vector<uint8_t> out;
        int imageType;
    } cases[] = {
        {"Simple", [](Image *i) { return kxbSimple(i, 10, 0); }, {0, 0, 1, 1, 1, 1, 1}, KIT_BIN},
        {"SimpleInverted", [](Image *i) { return kxbSimple(i, 10, 5); }, {1, 1, 0, 0, 0, 0, 0}, KIT_BIN},
        {"SimpleZero", [](Image *i) { return kxbSimple(i, 0, 0); }, {1, 1, 1, 1, 1, 1, 1}, KIT_BIN},
        {"SimpleZeroInverted", [](Image *i) { return kxbSimple(i, 0, 1); }, {0, 0, 0, 0, 0, 0, 0}, KIT_BIN},
        {"Simple255", [](Image *i) { return kxbSimple(i, 255, 0); }, {0, 0, 0, 0, 0, 0, 1}, KIT_BIN},
        {"DarkFill", [](Image *i) { return kxbDark(i, 10, 77, 0); }, {77, 77, 10, 11, 100, 254, 255}, KIT_GRAY},
        {"DarkBinary", [](Image *i) { return kxbDark(i, 10, 77, 2); }, {1, 1, 0, 0, 0, 0, 0}, KIT_BIN},
        {"LightFill", [](Image *i) { return kxbLight(i, 11, 77, 0); }, {0, 9, 10, 77, 77, 77, 77}, KIT_GRAY},
        {"LightBinary", [](Image *i) { return kxbLight(i, 11, 77, 1); }, {0, 0, 0, 1, 1, 1, 1}, KIT_BIN},
        {"InnerFill", [](Image *i) { return kxbInner(i, 10, 100, 5, 0); }, {0, 9, 5, 5, 100, 254, 255}, KIT_GRAY},
        {"InnerBinary", [](Image *i) { return kxbInner(i, 10, 100, 5, 1); }, {0, 0, 1, 1, 0, 0, 0}, KIT_BIN},
        {"InnerEmpty", [](Image *i) { return kxbInner(i, 10, 10, 5, 1); }, {0, 0, 0, 0, 0, 0, 0}, KIT_BIN},
        {"InnerReversed", [](Image *i) { return kxbInner(i, 100, 10, 5, 0); }, kRamp, KIT_GRAY},
        {"OuterFill", [](Image *i) { return kxbOuter(i, 10, 100, 5, 0); }, {5, 5, 10, 11, 5, 5, 5}, KIT_GRAY},
        {"OuterBinary", [](Image *i) { return kxbOuter(i, 10, 100, 5, 1); }, {1, 1, 0, 0, 1, 1, 1}, KIT_BIN},
        {"OuterEmptyInterval", [](Image *i) { return kxbOuter(i, 10, 10, 5, 1); }, {1, 1, 1, 1, 1, 1, 1}, KIT_BIN},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PaddedImage im(KIT_GRAY, 7, 1, kRamp);
        EXPECT_EQ(c.op(im.get()), im.get());
        EXPECT_EQ(pixels(im.get()), c.out);
        EXPECT_EQ(im.get()->imageType, c.imageType);
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(Threshold, FixedLevelsOnWideImagesAtEveryLevel)
{
    // The step tables take a compare path, the others the table kernels:
    // every level, odd widths and rows around the vector widths, padded.
    uint32_t seed = 31;
    for (int w : {1, 13, 32, 33, 64, 65, 131})
        for (int t = 0; t < 256; t += w % 2 ? 5 : 3) {
            const int h = 2, t2 = (t * 7 + 40) % 256;
            const std::vector<uint8_t> in = randomBytes(size_t(w) * h, seed++);
            const struct {
                const char *name;
                std::function<Image *(Image *)> op;
                std::function<int(int)> rule;
            } cases[] = {
                {"Simple", [&](Image *i) { return kxbSimple(i, uint8_t(t), 0); }, [&](int p) { return p >= t; }},
                {"SimpleInverted", [&](Image *i) { return kxbSimple(i, uint8_t(t), 1); }, [&](int p) { return p < t; }},
                {"DarkFill", [&](Image *i) { return kxbDark(i, uint8_t(t), 9, 0); }, [&](int p) { return p < t ? 9 : p; }},
                {"LightBinary", [&](Image *i) { return kxbLight(i, uint8_t(t), 9, 1); }, [&](int p) { return p >= t; }},
                {"InnerFill", [&](Image *i) { return kxbInner(i, uint8_t(t), uint8_t(t2), 200, 0); },
                 [&](int p) { return t <= p && p < t2 ? 200 : p; }},
                {"OuterBinary", [&](Image *i) { return kxbOuter(i, uint8_t(t), uint8_t(t2), 200, 1); },
                 [&](int p) { return p < t || p >= t2; }},
            };
            for (const auto &c : cases) {
                PaddedImage im(KIT_GRAY, w, h, in);
                c.op(im.get());
                std::vector<uint8_t> want(in.size());
                for (size_t i = 0; i < in.size(); ++i) want[i] = uint8_t(c.rule(in[i]));
                ASSERT_EQ(pixels(im.get()), want) << c.name << " t " << t << " width " << w;
                ASSERT_TRUE(im.paddingIntact());
            }
        }
}

// Every export of the family that takes an image (the dispatcher with each
// method), for the type and null checks.
const std::vector<std::pair<const char *, std::function<Image *(Image *)>>> kAllOps = {
    {"Simple", [](Image *i) { return kxbSimple(i, 10, 0); }},
    {"Dark", [](Image *i) { return kxbDark(i, 10, 1, 1); }},
    {"Light", [](Image *i) { return kxbLight(i, 10, 1, 0); }},
    {"Inner", [](Image *i) { return kxbInner(i, 10, 20, 1, 1); }},
    {"Outer", [](Image *i) { return kxbOuter(i, 10, 20, 1, 0); }},
    {"Otsu", [](Image *i) { return kxbOtsu(i, nullptr); }},
    {"IsoData", [](Image *i) { return kxbIsoData(i, 10, 3); }},
    {"MaxEntropy", [](Image *i) { return kxbMaxEntropy(i); }},
    {"MinError", [](Image *i) { return kxbMinError(i, 0); }},
    {"MinErrorE1", [](Image *i) { return kxbMinErrorE1(i, i, 1); }},
    {"LocalIntegral", [](Image *i) { return kxbLocalIntegral(i, 5, 128, 0.5f); }},
    {"MultiLevel", [](Image *i) { return kxbMultiLevel(i, 3); }},
    {"Dispatch", [](Image *i) {
         for (int method : {0, 1, 2, 3, 4, 16, 17, 18, 19, 20, 21})
             if (kxThreshold(i, method, 3, 200, 0.5) != i) return (Image *)nullptr;
         return i;
     }},
};

TEST(Threshold, OtherTypesAndNullComeBackUnchanged)
{
    for (const auto &[name, op] : kAllOps) {
        SCOPED_TRACE(name);
        EXPECT_EQ(op(nullptr), nullptr);
        for (int type : {KIT_BIN, KIT_RGB, KIT_RGBA}) {
            ImagePtr im = randomImage(type, 5, 3, 7);
            const auto before = pixels(im.get());
            EXPECT_EQ(op(im.get()), im.get());
            EXPECT_EQ(pixels(im.get()), before);
            EXPECT_EQ(im->imageType, type);
        }
        // A record whose imageType is outside the four types, or without data.
        ImagePtr im = randomImage(KIT_GRAY, 5, 3, 7), bare = randomImage(KIT_GRAY, 5, 3, 7);
        const auto before = pixels(im.get());
        im->imageType = 12;
        EXPECT_EQ(op(im.get()), im.get());
        EXPECT_EQ(im->imageType, 12);
        EXPECT_EQ((im->imageType = KIT_GRAY, pixels(im.get())), before);
        uint8_t *data = std::exchange(bare->data, nullptr);
        EXPECT_EQ(op(bare.get()), bare.get());
        EXPECT_EQ(bare->imageType, KIT_GRAY);
        bare->data = data;
    }
}

TEST(Threshold, GetOptimaSettledCases)
{
    enum { kNone, kEmpty, kBroken };  // masks: none, selecting nothing, a record without pixels
    const struct {
        const char *name;
        int type;  // 0: a null image
        std::vector<uint8_t> in;
        int mask, method, level;
    } cases[] = {
        {"NullImage", 0, {}, kNone, 0, 0},
        {"NullImageWithMask", 0, {}, kEmpty, 0, 0},
        {"MethodAbove", KIT_GRAY, {10, 20, 20, 30}, kNone, 7, 255},
        {"MethodNegative", KIT_GRAY, {10, 20, 20, 30}, kNone, -1, 255},
        {"Colour", KIT_RGB, {1, 2, 3, 4, 5, 6}, kNone, 3, 255},
        {"Mode", KIT_GRAY, {10, 20, 20, 30}, kNone, 3, 20},
        // Equal counts: the lowest level.
        {"ModeTie", KIT_GRAY, {20, 10, 20, 10, 5, 200}, kNone, 3, 10},
        // Empty selection: no bin beats 0; the other selectors give 255.
        {"EmptyMode", KIT_GRAY, {20, 10, 20, 10, 5, 200}, kEmpty, 3, 0},
        {"EmptyGaussian", KIT_GRAY, {20, 10, 20, 10, 5, 200}, kEmpty, 0, 255},
        {"EmptyPoisson", KIT_GRAY, {20, 10, 20, 10, 5, 200}, kEmpty, 1, 255},
        {"EmptyEntropy", KIT_GRAY, {20, 10, 20, 10, 5, 200}, kEmpty, 2, 255},
        {"BrokenMask", KIT_GRAY, {10, 20, 20, 30}, kBroken, 3, 255},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const int w = c.type ? int(c.in.size()) / (c.type == KIT_RGB ? 3 : 1) : 4;
        ImagePtr im = c.type ? makeImage(c.type, w, 1, c.in) : nullptr;
        ImagePtr mask = makeImage(KIT_GRAY, w, 1, std::vector<uint8_t>(size_t(w), c.mask == kBroken));
        if (c.mask == kBroken) mask->pitch = 2;
        const Image *m = c.mask == kNone ? nullptr : mask.get();
        EXPECT_EQ(kxbGetOptimaE1(im.get(), m, c.method), c.level);
        if (!m) {
            EXPECT_EQ(kxbGetOptima(im.get(), c.method), c.level);
        }
        if (c.mask == kBroken) {  // the binarizers refuse the mask
            EXPECT_EQ(kxbOtsu(im.get(), m), im.get());
            EXPECT_EQ(kxbMinErrorE1(im.get(), m, 0), im.get());
            EXPECT_EQ(pixels(im.get()), c.in);
            EXPECT_EQ(im->imageType, KIT_GRAY);
        }
    }
}

TEST(Threshold, OtsuWorkedExamples)
{
    const struct {
        const char *name;
        int w;
        std::vector<uint8_t> in, mask, out;  // mask: none when empty; its width is w or 2
    } cases[] = {
        // Every quotient 0/0: level 0, raised to 1.
        {"Uniform200", 4, {200, 200, 200, 200}, {}, {1, 1, 1, 1}},
        {"Uniform0", 4, {0, 0, 0, 0}, {}, {0, 0, 0, 0}},
        // The between-class value is equal for 50..199: the lowest, 50, wins
        // and pixels equal to it are foreground.
        {"TwoValued", 6, {50, 200, 200, 50, 50, 200}, {}, {1, 1, 1, 1, 1, 1}},
        // The level 11 closes the lower class {10, 11}, yet the 11 becomes 1.
        {"LevelInLowerClass", 6, {10, 10, 10, 11, 250, 250}, {}, {0, 0, 0, 1, 1, 1}},
        {"ZeroAndOne", 4, {0, 1, 0, 1}, {}, {0, 1, 0, 1}},
        // The mask hides the 10s, leaving 100 and 200: the level becomes 100.
        {"MaskHidesTens", 3, {10, 100, 200, 10, 100, 200}, {0, 1, 1, 0, 1, 1}, {0, 1, 1, 0, 1, 1}},
        // A mask selecting nothing gives level 0, binarized at 1.
        {"EmptyMask", 3, {0, 1, 9}, {0, 0, 0}, {0, 1, 1}},
        // A smaller mask counts only the common rectangle: 100 and 200
        // (level 100), so the 0 and the 50s outside stay 0.
        {"SmallerMask", 3, {100, 200, 0, 50, 50, 50}, {1, 1}, {1, 1, 0, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PaddedImage im(KIT_GRAY, c.w, int(c.in.size()) / c.w, c.in);
        const int mw = c.mask.size() == 2 ? 2 : c.w;
        ImagePtr mask = c.mask.empty() ? nullptr : makeImage(KIT_BIN, mw, int(c.mask.size()) / mw, c.mask);
        EXPECT_EQ(kxbOtsu(im.get(), mask.get()), im.get());
        EXPECT_EQ(pixels(im.get()), c.out);
        EXPECT_EQ(im.get()->imageType, KIT_BIN);
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(Threshold, FloatCountStopsAt2To24)
{
    for (uint64_t c : {0ull, 1ull, 255ull, (1ull << 24) - 1}) EXPECT_EQ(kx::thr::floatCount(c), float(c));
    float f = float((1 << 24) - 3);
    for (uint64_t c = (1 << 24) - 3; c < (1 << 24) + 9; ++c, f += 1.0f) EXPECT_EQ(kx::thr::floatCount(c), f) << c;
    EXPECT_EQ(kx::thr::floatCount(uint64_t(1) << 31), 16777216.0f);
}

TEST(Threshold, SelectorsMatchPlainLoopsOnRandomHistograms)
{
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 120; ++trial) {
        SCOPED_TRACE(trial);
        const auto h = ref::randomHistogram(rng, trial);
        int64_t n = 0;
        float fh[256];
        for (int i = 0; i < 256; ++i) n += h[i], fh[i] = float(h[i]);
        EXPECT_TRUE(n == 0 || kx::thr::otsuLevel(fh, n) == ref::otsu(fh, n));
        EXPECT_EQ(kx::thr::minErrorLevel(h.data(), false), ref::minError(h.data(), 0));
        EXPECT_EQ(kx::thr::minErrorLevel(h.data(), true), ref::minError(h.data(), 1));
        EXPECT_EQ(kx::thr::maxEntropyLevel(h.data()), ref::maxEntropy(h.data()));
        EXPECT_EQ(kx::thr::modeLevel(h.data()), ref::mode(h.data()));
        const int iterations = int(rng() % 40) - 2, window = int(rng() % 12) - 2;
        EXPECT_EQ(kx::thr::isodataLevel(h.data(), iterations, window), ref::isodata(h.data(), iterations, window));
    }
    const std::vector<int32_t> empty(256, 0);
    EXPECT_EQ(kx::thr::minErrorLevel(empty.data(), false), 255);
    EXPECT_EQ(kx::thr::maxEntropyLevel(empty.data()), 255);
    EXPECT_EQ(kx::thr::modeLevel(empty.data()), 0);
}

// Selectors and binarizers on grey images of a few value clusters, with
// masks: none, random, empty, smaller, larger, KIT_RGB bytes (padded rows).
TEST(Threshold, ExportsMatchPlainLoopsOnRandomImagesAndMasks)
{
    const struct {
        int type, dw, dh, maxByte;
    } masks[] = {{0, 0, 0, 0}, {KIT_BIN, 0, 0, 1}, {KIT_GRAY, 0, 0, 0}, {KIT_BIN, -3, -2, 1}, {KIT_GRAY, 4, 1, 255},
                 {KIT_RGB, 0, 0, 255}};
    std::mt19937 rng(77);
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE(trial);
        const int w = 1 + int(rng() % 23), h = 1 + int(rng() % 17);
        std::vector<uint8_t> in(size_t(w) * h);
        const int centres[3] = {int(rng() % 256), int(rng() % 256), int(rng() % 256)}, spread = int(rng() % 30);
        for (auto &b : in) b = uint8_t(std::clamp(centres[rng() % 3] + int(rng() % (2 * spread + 1)) - spread, 0, 255));
        ImagePtr im = makeImage(KIT_GRAY, w, h, in);
        const auto &mk = masks[trial % 6];
        const int mw = std::max(1, w + mk.dw), mh = std::max(1, h + mk.dh);
        std::unique_ptr<PaddedImage> mask;
        if (mk.type)
            mask = std::make_unique<PaddedImage>(mk.type, mw, mh,
                                                 randomBytes(size_t(mw) * mh * bpp(mk.type), trial, 0, mk.maxByte));
        const Image *m = mask ? mask->get() : nullptr;
        const ref::Counted sel = ref::count(im.get(), m), all = ref::count(im.get(), nullptr);
        for (int method = 0; method < 4; ++method)
            EXPECT_EQ(kxbGetOptimaE1(im.get(), m, method), method < 2    ? ref::minError(sel.hist, method)
                                                           : method == 2 ? ref::maxEntropy(sel.hist)
                                                                         : ref::mode(sel.hist))
                << method;
        auto binarizedAt = [&](int t, bool strictly) {
            std::vector<uint8_t> out = in;
            for (auto &b : out) b = strictly ? b > t : b >= std::max(t, 1);
            return out;
        };
        const int iterations = int(rng() % 10), window = int(rng() % 8);
        const struct {
            const char *name;
            std::function<Image *(Image *)> op;
            std::vector<uint8_t> expected;
        } runs[] = {
            {"Otsu", [&](Image *i) { return kxbOtsu(i, m); }, binarizedAt(sel.n ? ref::otsu(sel.fhist, sel.n) : 0, false)},
            {"MinErrorE1", [&](Image *i) { return kxbMinErrorE1(i, m, trial & 8); },
             binarizedAt(ref::minError(sel.hist, trial & 8), false)},
            {"MinError", [&](Image *i) { return kxbMinError(i, trial & 1); }, binarizedAt(ref::minError(all.hist, trial & 1), false)},
            {"MaxEntropy", [&](Image *i) { return kxbMaxEntropy(i); }, binarizedAt(ref::maxEntropy(all.hist), false)},
            {"IsoData", [&](Image *i) { return kxbIsoData(i, iterations, window); },
             binarizedAt(ref::isodata(all.hist, iterations, window), true)},
        };
        for (const auto &r : runs) {
            SCOPED_TRACE(r.name);
            PaddedImage copy(KIT_GRAY, w, h, in);
            EXPECT_EQ(r.op(copy.get()), copy.get());
            EXPECT_EQ(pixels(copy.get()), r.expected);
            EXPECT_EQ(copy.get()->imageType, KIT_BIN);
            EXPECT_TRUE(copy.paddingIntact());
        }
        EXPECT_TRUE(!mask || mask->paddingIntact());
    }
}

TEST(Threshold, IsoDataSettledCases)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> in;
        int iterations, window;
        std::vector<uint8_t> out;
    };
    const Case cases[] = {
        // Both clusters below 128: the empty upper side takes the lower
        // mean (35), then the split settles between 10 and 60.
        {"DarkClusters", {10, 60, 10, 60}, 10, 1, {0, 1, 0, 1}},
        {"BrightClusters", {130, 250, 130, 250}, 10, 1, {0, 1, 0, 1}},
        // A uniform image ends with T at its value: nothing is above it.
        {"Uniform", {200, 200, 200}, 10, 1, {0, 0, 0}},
        // A negative iteration count keeps T = 128.
        {"NoIteration", {10, 60, 128, 129}, -1, 1, {0, 0, 0, 1}},
        // One update only: T = round((10 + 60) / 2) = 35.
        {"OneUpdate", {10, 60, 10, 60}, 0, 1, {0, 1, 0, 1}},
        // Window 0 and negative windows act as 1.
        {"WindowZero", {10, 60, 10, 60}, 10, 0, {0, 1, 0, 1}},
        {"WindowNegative", {10, 60, 10, 60}, 10, -7, {0, 1, 0, 1}},
        // Strictly greater: pixels equal to T stay background.
        {"EqualToLevel", {0, 100, 200}, 10, 1, {0, 0, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ImagePtr im = makeImage(KIT_GRAY, int(c.in.size()), 1, c.in);
        kxbIsoData(im.get(), c.iterations, c.window);
        EXPECT_EQ(pixels(im.get()), c.out);
        EXPECT_EQ(im->imageType, KIT_BIN);
    }
    // The even window divides 2 * half + 1 bins by the window itself.
    int32_t h[256] = {};
    h[100] = 4;
    h[101] = 4;
    h[200] = 2;
    EXPECT_EQ(kx::thr::isodataLevel(h, 20, 2), ref::isodata(h, 20, 2));
}

}  // namespace
