// Multi-level thresholding: the pruned search against the plain exhaustive
// one on random histograms, and the posterizing export.
#include "kxtest.hpp"
#include "ref_multilevel.hpp"
#include "threshold/threshold_detail.hpp"

using namespace kxtest;

namespace {

std::vector<int32_t> histogramOf(std::mt19937 &rng, int shape)
{
    std::vector<int32_t> h(256, 0);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    switch (shape % 5) {
    case 0:  // dense
        for (auto &c : h) c = pick(0, 5000);
        break;
    case 1:  // a few occupied bins: many tuples tie
        for (int i = pick(1, 5); i > 0; --i) h[pick(0, 255)] = pick(1, 9);
        break;
    case 2:  // counts from a tiny set
        for (auto &c : h) c = pick(0, 2);
        break;
    case 3:  // one bin, sometimes grey level 0 only (every score 0)
        h[pick(0, 1) ? 0 : pick(0, 255)] = pick(1, 100000);
        break;
    default:  // two smooth modes
        for (int i = 0; i < 256; ++i) h[i] = 2000 / (1 + (i - 60) * (i - 60) / 40) + 900 / (1 + (i - 190) * (i - 190) / 90);
        break;
    }
    return h;
}

int64_t total(const std::vector<int32_t> &h)
{
    int64_t n = 0;
    for (int32_t c : h) n += c;
    return n;
}

std::vector<int> search(const std::vector<int32_t> &h, int levels)
{
    std::vector<int> out(size_t(levels - 1), -1);
    EXPECT_TRUE(kx::thr::multiLevelThresholds(h.data(), total(h), levels, out.data()));
    return out;
}

struct LevelsCase {
    int levels, histograms;
};

class MultiLevelSearch : public testing::TestWithParam<LevelsCase> {};

// The same tuple as the exhaustive walk, ties and all.
TEST_P(MultiLevelSearch, MatchesExhaustiveWalk)
{
    const LevelsCase c = GetParam();
    std::mt19937 rng(uint32_t(c.levels) * 7919u);
    for (int trial = 0; trial < c.histograms; ++trial) {
        SCOPED_TRACE(trial);
        const auto h = histogramOf(rng, trial);
        EXPECT_EQ(search(h, c.levels), ref::multiLevel(h.data(), total(h), c.levels));
    }
}

INSTANTIATE_TEST_SUITE_P(Threshold, MultiLevelSearch,
                         testing::Values(LevelsCase{2, 40}, LevelsCase{3, 6}, LevelsCase{254, 3},
                                         LevelsCase{255, 10}, LevelsCase{256, 5}),
                         [](const testing::TestParamInfo<LevelsCase> &i) { return std::to_string(i.param.levels); });

std::vector<uint8_t> posterized(const std::vector<uint8_t> &in, const std::vector<int> &b)
{
    std::vector<uint8_t> out;
    for (uint8_t p : in) {
        if (p <= b.front()) {
            out.push_back(0);
        } else if (p > b.back()) {
            out.push_back(255);
        } else {
            size_t i = 1;
            while (!(b[i - 1] < p && p <= b[i])) ++i;
            out.push_back(uint8_t(b[i - 1]));
        }
    }
    return out;
}

TEST(Threshold, MultiLevelPosterizesRandomImages)
{
    std::mt19937 rng(5);
    for (int trial = 0; trial < 6; ++trial) {
        SCOPED_TRACE(trial);
        const int w = 1 + int(rng() % 40), h = 1 + int(rng() % 9), levels = trial < 2 ? 3 : 2;
        const auto in = randomBytes(size_t(w) * h, trial, int(rng() % 100), 100 + int(rng() % 156));
        ImagePtr packed = makeImage(KIT_GRAY, w, h, in);
        int32_t hist[256] = {};
        for (uint8_t p : in) ++hist[p];
        const auto b = ref::multiLevel(hist, int64_t(w) * h, levels);
        PaddedImage im(KIT_GRAY, w, h, in);
        EXPECT_EQ(kxbMultiLevel(im.get(), levels), im.get());
        EXPECT_EQ(pixels(im.get()), posterized(in, b));
        EXPECT_EQ(im.get()->imageType, KIT_GRAY);
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(Threshold, MultiLevelWorkedExamples)
{
    struct Case {
        const char *name;
        int levels;
        std::vector<uint8_t> in, out;
    };
    const Case cases[] = {
        // Three clusters: thresholds 20 and 120 (lowest of the ties); the
        // middle class takes its lower threshold.
        {"ThreeClusters", 3, {20, 120, 220, 220, 120, 20}, {0, 20, 255, 255, 20, 0}},
        // Two classes: the lower class becomes 0, the upper 255.
        {"TwoClasses", 2, {10, 10, 200, 210}, {0, 0, 255, 255}},
        // Every score is 0 when all pixels are 0.
        {"AllZero", 4, {0, 0, 0}, {0, 0, 0}},
        // 256 classes: one per grey level, each pixel drops by one.
        {"EveryLevel", 256, {0, 1, 7, 254, 255}, {0, 0, 6, 253, 255}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ImagePtr im = makeImage(KIT_GRAY, int(c.in.size()), 1, c.in);
        kxbMultiLevel(im.get(), c.levels);
        EXPECT_EQ(pixels(im.get()), c.out);
        EXPECT_EQ(im->imageType, KIT_GRAY);
    }
}

TEST(Threshold, MultiLevelLeavesOtherInputsAlone)
{
    EXPECT_EQ(kxbMultiLevel(nullptr, 3), nullptr);
    const auto in = randomBytes(12, 3);
    for (int levels : {-5, 0, 1, 257, INT32_MAX, INT32_MIN}) {
        ImagePtr im = makeImage(KIT_GRAY, 4, 3, in);
        EXPECT_EQ(kxbMultiLevel(im.get(), levels), im.get());
        EXPECT_EQ(pixels(im.get()), in) << levels;
    }
    for (int type : {KIT_BIN, KIT_RGB, KIT_RGBA}) {
        ImagePtr im = randomImage(type, 4, 3, 9);
        const auto before = pixels(im.get());
        EXPECT_EQ(kxbMultiLevel(im.get(), 3), im.get());
        EXPECT_EQ(pixels(im.get()), before);
        EXPECT_EQ(im->imageType, type);
    }
}

// More classes than the exhaustive walk could visit: the thresholds still
// come out strictly increasing and the search ends quickly.
TEST(Threshold, MultiLevelManyClasses)
{
    std::mt19937 rng(11);
    for (int levels : {4, 6, 12, 40, 128}) {
        for (int shape = 0; shape < 5; ++shape) {
            const auto h = histogramOf(rng, shape);
            const auto b = search(h, levels);
            for (size_t i = 1; i < b.size(); ++i) EXPECT_LT(b[i - 1], b[i]) << levels << " " << shape;
            EXPECT_LE(b.back(), 254);
        }
    }
}

}  // namespace
