// Global thresholds: the fixed binarizers, the histogram selectors (against
// plain loops on random histograms and images, with masks) and the
// selector-based binarizers.
#include <functional>

#include "kxtest.hpp"
#include "ref_selectors.hpp"
#include "threshold/threshold_detail.hpp"

using namespace kxtest;

namespace {

const std::vector<uint8_t> kRamp = {0, 9, 10, 11, 100, 254, 255};

struct FixedCase {
    const char *name;
    std::function<Image *(Image *)> op;
    std::vector<uint8_t> out;
    int imageType;
};

class Fixed : public testing::TestWithParam<FixedCase> {};

TEST_P(Fixed, RewritesPixelBytesOnly)
{
    const FixedCase &c = GetParam();
    PaddedImage im(KIT_GRAY, 7, 1, kRamp);
    EXPECT_EQ(c.op(im.get()), im.get());
    EXPECT_EQ(pixels(im.get()), c.out);
    EXPECT_EQ(im.get()->imageType, c.imageType);
    EXPECT_TRUE(im.paddingIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Threshold, Fixed,
    testing::Values(
        FixedCase{"Simple", [](Image *i) { return kxbSimple(i, 10, 0); }, {0, 0, 1, 1, 1, 1, 1}, KIT_BIN},
        FixedCase{"SimpleInverted", [](Image *i) { return kxbSimple(i, 10, 5); }, {1, 1, 0, 0, 0, 0, 0}, KIT_BIN},
        FixedCase{"SimpleZero", [](Image *i) { return kxbSimple(i, 0, 0); }, {1, 1, 1, 1, 1, 1, 1}, KIT_BIN},
        FixedCase{"SimpleZeroInverted", [](Image *i) { return kxbSimple(i, 0, 1); }, {0, 0, 0, 0, 0, 0, 0}, KIT_BIN},
        FixedCase{"Simple255", [](Image *i) { return kxbSimple(i, 255, 0); }, {0, 0, 0, 0, 0, 0, 1}, KIT_BIN},
        FixedCase{"DarkFill", [](Image *i) { return kxbDark(i, 10, 77, 0); }, {77, 77, 10, 11, 100, 254, 255}, KIT_GRAY},
        FixedCase{"DarkBinary", [](Image *i) { return kxbDark(i, 10, 77, 2); }, {1, 1, 0, 0, 0, 0, 0}, KIT_BIN},
        FixedCase{"LightFill", [](Image *i) { return kxbLight(i, 11, 77, 0); }, {0, 9, 10, 77, 77, 77, 77}, KIT_GRAY},
        FixedCase{"LightBinary", [](Image *i) { return kxbLight(i, 11, 77, 1); }, {0, 0, 0, 1, 1, 1, 1}, KIT_BIN},
        FixedCase{"InnerFill", [](Image *i) { return kxbInner(i, 10, 100, 5, 0); }, {0, 9, 5, 5, 100, 254, 255}, KIT_GRAY},
        FixedCase{"InnerBinary", [](Image *i) { return kxbInner(i, 10, 100, 5, 1); }, {0, 0, 1, 1, 0, 0, 0}, KIT_BIN},
        FixedCase{"InnerEmpty", [](Image *i) { return kxbInner(i, 10, 10, 5, 1); }, {0, 0, 0, 0, 0, 0, 0}, KIT_BIN},
        FixedCase{"InnerReversed", [](Image *i) { return kxbInner(i, 100, 10, 5, 0); }, kRamp, KIT_GRAY},
        FixedCase{"OuterFill", [](Image *i) { return kxbOuter(i, 10, 100, 5, 0); }, {5, 5, 10, 11, 5, 5, 5}, KIT_GRAY},
        FixedCase{"OuterBinary", [](Image *i) { return kxbOuter(i, 10, 100, 5, 1); }, {1, 1, 0, 0, 1, 1, 1}, KIT_BIN},
        FixedCase{"OuterEmptyInterval", [](Image *i) { return kxbOuter(i, 10, 10, 5, 1); }, {1, 1, 1, 1, 1, 1, 1}, KIT_BIN}),
    [](const testing::TestParamInfo<FixedCase> &i) { return std::string(i.param.name); });

// Every binarizer and selector of the family, for the type and null checks.
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
        ImagePtr im = randomImage(KIT_GRAY, 5, 3, 7);
        const auto before = pixels(im.get());
        im->imageType = 12;
        EXPECT_EQ(op(im.get()), im.get());
        im->imageType = KIT_GRAY;
        EXPECT_EQ(pixels(im.get()), before);
        uint8_t *data = im->data;
        im->data = nullptr;
        EXPECT_EQ(op(im.get()), im.get());
        im->data = data;
        EXPECT_EQ(im->imageType, KIT_GRAY);
    }
}

TEST(Threshold, GetOptimaResultsForDegenerateArguments)
{
    ImagePtr im = makeImage(KIT_GRAY, 4, 1, {10, 20, 20, 30});
    ImagePtr rgb = randomImage(KIT_RGB, 4, 1, 3);
    EXPECT_EQ(kxbGetOptima(nullptr, 0), 0);
    EXPECT_EQ(kxbGetOptima(im.get(), 7), 255);
    EXPECT_EQ(kxbGetOptima(im.get(), -1), 255);
    EXPECT_EQ(kxbGetOptima(rgb.get(), 3), 255);
    EXPECT_EQ(kxbGetOptima(im.get(), 3), 20);
    EXPECT_EQ(kxbGetOptimaE1(nullptr, im.get(), 0), 0);
    EXPECT_EQ(kxbGetOptimaE1(nullptr, nullptr, 0), 0);
    EXPECT_EQ(kxbGetOptimaE1(im.get(), nullptr, 3), 20);
    EXPECT_EQ(kxbGetOptimaE1(im.get(), im.get(), 9), 255);
    EXPECT_EQ(kxbGetOptimaE1(rgb.get(), im.get(), 3), 255);
    // A mask record without pixels selects nothing usable.
    ImagePtr mask = makeImage(KIT_GRAY, 4, 1, {1, 1, 1, 1});
    mask->pitch = 2;
    EXPECT_EQ(kxbGetOptimaE1(im.get(), mask.get(), 3), 255);
    const auto before = pixels(im.get());
    EXPECT_EQ(kxbOtsu(im.get(), mask.get()), im.get());
    EXPECT_EQ(kxbMinErrorE1(im.get(), mask.get(), 0), im.get());
    EXPECT_EQ(pixels(im.get()), before);
    EXPECT_EQ(im->imageType, KIT_GRAY);
}

TEST(Threshold, ModeKeepsTheLowestOfEqualCounts)
{
    ImagePtr im = makeImage(KIT_GRAY, 6, 1, {20, 10, 20, 10, 5, 200});
    EXPECT_EQ(kxbGetOptima(im.get(), 3), 10);
    // Empty selection: no bin beats 0.
    ImagePtr none = makeImage(KIT_GRAY, 6, 1);
    EXPECT_EQ(kxbGetOptimaE1(im.get(), none.get(), 3), 0);
    EXPECT_EQ(kxbGetOptimaE1(im.get(), none.get(), 0), 255);
    EXPECT_EQ(kxbGetOptimaE1(im.get(), none.get(), 1), 255);
    EXPECT_EQ(kxbGetOptimaE1(im.get(), none.get(), 2), 255);
}

TEST(Threshold, OtsuWorkedExamples)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> in, out;
    };
    const Case cases[] = {
        // Every quotient 0/0: level 0, raised to 1.
        {"Uniform200", {200, 200, 200, 200}, {1, 1, 1, 1}},
        {"Uniform0", {0, 0, 0, 0}, {0, 0, 0, 0}},
        // The between-class value is equal for 50..199: the lowest, 50, wins
        // and pixels equal to it are foreground.
        {"TwoValued", {50, 200, 200, 50, 50, 200}, {1, 1, 1, 1, 1, 1}},
        // The level 11 closes the lower class {10, 11}, yet the 11 becomes 1.
        {"LevelInLowerClass", {10, 10, 10, 11, 250, 250}, {0, 0, 0, 1, 1, 1}},
        {"ZeroAndOne", {0, 1, 0, 1}, {0, 1, 0, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PaddedImage im(KIT_GRAY, int(c.in.size()), 1, c.in);
        EXPECT_EQ(kxbOtsu(im.get(), nullptr), im.get());
        EXPECT_EQ(pixels(im.get()), c.out);
        EXPECT_EQ(im.get()->imageType, KIT_BIN);
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(Threshold, OtsuMaskSelectsPixels)
{
    // The mask hides the 10s, leaving 100 and 200: the level becomes 100.
    ImagePtr im = makeImage(KIT_GRAY, 3, 2, {10, 100, 200, 10, 100, 200});
    ImagePtr mask = makeImage(KIT_BIN, 3, 2, {0, 1, 1, 0, 1, 1});
    kxbOtsu(im.get(), mask.get());
    EXPECT_EQ(pixels(im.get()), (std::vector<uint8_t>{0, 1, 1, 0, 1, 1}));
    // A mask selecting nothing gives level 0, binarized at 1.
    ImagePtr im2 = makeImage(KIT_GRAY, 3, 1, {0, 1, 9});
    ImagePtr none = makeImage(KIT_GRAY, 3, 1);
    kxbOtsu(im2.get(), none.get());
    EXPECT_EQ(pixels(im2.get()), (std::vector<uint8_t>{0, 1, 1}));
    // A mask smaller than the image counts only the common rectangle: here
    // 100 and 200 (level 100), so the 0 and the 50s outside stay 0.
    ImagePtr im3 = makeImage(KIT_GRAY, 3, 2, {100, 200, 0, 50, 50, 50});
    ImagePtr small = makeImage(KIT_GRAY, 2, 1, {1, 1});
    kxbOtsu(im3.get(), small.get());
    EXPECT_EQ(pixels(im3.get()), (std::vector<uint8_t>{1, 1, 0, 0, 0, 0}));
}

TEST(Threshold, FloatCountStopsAt2To24)
{
    for (uint64_t c : {0ull, 1ull, 255ull, (1ull << 24) - 1}) EXPECT_EQ(kx::thr::floatCount(c), float(c));
    float f = float((1 << 24) - 3);
    for (uint64_t c = (1 << 24) - 3; c < (1 << 24) + 9; ++c, f += 1.0f) EXPECT_EQ(kx::thr::floatCount(c), f) << c;
    EXPECT_EQ(kx::thr::floatCount(uint64_t(1) << 31), 16777216.0f);
}

// ---- random histograms ----------------------------------------------------

// Histograms of several shapes: dense, sparse, a few heavy bins, heavy ties
// (counts from a tiny set), a single occupied bin, huge counts.
std::vector<int32_t> randomHistogram(std::mt19937 &rng, int shape)
{
    std::vector<int32_t> h(256, 0);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    switch (shape % 6) {
    case 0:
        for (auto &c : h) c = pick(0, 1000);
        break;
    case 1:
        for (int i = pick(1, 6); i > 0; --i) h[pick(0, 255)] = pick(1, 50);
        break;
    case 2:
        for (auto &c : h) c = pick(0, 3);
        break;
    case 3: h[pick(0, 255)] = pick(1, 1 << 20); break;
    case 4:
        for (auto &c : h) c = pick(0, 1) * pick(1 << 20, 1 << 24);
        break;
    default:
        for (int i = 0; i < 256; ++i) h[i] = pick(0, 4) == 0 ? 0 : (i < 128 ? i * 3 : (255 - i) * 5) + pick(0, 2);
        break;
    }
    return h;
}

TEST(Threshold, SelectorsMatchPlainLoopsOnRandomHistograms)
{
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 120; ++trial) {
        const auto h = randomHistogram(rng, trial);
        SCOPED_TRACE(trial);
        int64_t n = 0;
        float fh[256];
        for (int i = 0; i < 256; ++i) {
            n += h[i];
            fh[i] = float(h[i]);
        }
        if (n > 0) {
            EXPECT_EQ(kx::thr::otsuLevel(fh, n), ref::otsu(fh, n));
        }
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

// A random grey image whose values come from a few clusters, and a random
// mask of the given size (null for size 0).
ImagePtr clusteredImage(std::mt19937 &rng, int w, int h)
{
    std::vector<uint8_t> v(size_t(w) * h);
    const int centres[3] = {int(rng() % 256), int(rng() % 256), int(rng() % 256)};
    const int spread = int(rng() % 30);
    for (auto &b : v) b = uint8_t(std::clamp(centres[rng() % 3] + int(rng() % (2 * spread + 1)) - spread, 0, 255));
    return makeImage(KIT_GRAY, w, h, v);
}

TEST(Threshold, ExportsMatchPlainLoopsOnRandomImagesAndMasks)
{
    std::mt19937 rng(77);
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE(trial);
        const int w = 1 + int(rng() % 23), h = 1 + int(rng() % 17);
        ImagePtr im = clusteredImage(rng, w, h);
        // Masks: none, random, empty, smaller, larger, padded, KIT_RGB bytes.
        const int kind = trial % 7;
        ImagePtr mask;
        std::unique_ptr<PaddedImage> padded;
        const Image *m = nullptr;
        if (kind == 1) mask = randomImage(KIT_BIN, w, h, trial);
        if (kind == 2) mask = makeImage(KIT_GRAY, w, h);
        if (kind == 3) mask = randomImage(KIT_BIN, std::max(1, w - 3), std::max(1, h - 2), trial);
        if (kind == 4) mask = randomImage(KIT_GRAY, w + 4, h + 1, trial);
        if (kind == 5) padded = std::make_unique<PaddedImage>(KIT_BIN, w, h, randomBytes(size_t(w) * h, trial, 0, 1));
        if (kind == 6) mask = randomImage(KIT_RGB, w, h, trial);
        m = padded ? padded->get() : mask.get();

        const ref::Counted c = ref::count(im.get(), m);
        const ref::Counted all = ref::count(im.get(), nullptr);
        for (int method = 0; method < 4; ++method) {
            const int32_t *hist = (m ? c : all).hist;
            const int expected = method < 2 ? ref::minError(hist, method) : method == 2 ? ref::maxEntropy(hist) : ref::mode(hist);
            EXPECT_EQ(kxbGetOptimaE1(im.get(), m, method), expected) << method;
        }
        auto binarizedAt = [&](int t, bool strictly) {
            std::vector<uint8_t> out = pixels(im.get());
            for (auto &b : out) b = strictly ? b > t : b >= t;
            return out;
        };
        struct Run {
            const char *name;
            std::function<Image *(Image *)> op;
            std::vector<uint8_t> expected;
        };
        const int otsu = c.n == 0 ? 0 : ref::otsu(c.fhist, c.n);
        const int otsuAll = ref::otsu(all.fhist, all.n);
        const int iterations = int(rng() % 10), window = int(rng() % 8);
        const Run runs[] = {
            {"Otsu", [&](Image *i) { return kxbOtsu(i, m); }, binarizedAt(std::max(m ? otsu : otsuAll, 1), false)},
            {"MinErrorE1", [&](Image *i) { return kxbMinErrorE1(i, m, trial & 8); },
             binarizedAt(std::max(ref::minError((m ? c : all).hist, trial & 8), 1), false)},
            {"MinError", [&](Image *i) { return kxbMinError(i, trial & 1); }, binarizedAt(std::max(ref::minError(all.hist, trial & 1), 1), false)},
            {"MaxEntropy", [&](Image *i) { return kxbMaxEntropy(i); }, binarizedAt(std::max(ref::maxEntropy(all.hist), 1), false)},
            {"IsoData", [&](Image *i) { return kxbIsoData(i, iterations, window); },
             binarizedAt(ref::isodata(all.hist, iterations, window), true)},
        };
        for (const Run &r : runs) {
            SCOPED_TRACE(r.name);
            PaddedImage copy(KIT_GRAY, w, h, pixels(im.get()));
            EXPECT_EQ(r.op(copy.get()), copy.get());
            EXPECT_EQ(pixels(copy.get()), r.expected);
            EXPECT_EQ(copy.get()->imageType, KIT_BIN);
            EXPECT_TRUE(copy.paddingIntact());
        }
        if (padded) {
            EXPECT_TRUE(padded->paddingIntact());
        }
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
