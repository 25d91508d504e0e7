// Multi-level thresholding: the pruned search against the plain exhaustive
// one on random histograms, and the posterizing export.
#include <numeric>

#include "hist_util.hpp"
#include "kxtest.hpp"
#include "ref_multilevel.hpp"
#include "threshold/threshold_detail.hpp"

using namespace kxtest;

namespace {

int64_t total(const std::vector<int32_t> &h) { return std::accumulate(h.begin(), h.end(), int64_t(0)); }

std::vector<int> search(const std::vector<int32_t> &h, int levels)
{
    std::vector<int> out(size_t(levels - 1), -1);
    EXPECT_TRUE(kx::thr::multiLevelThresholds(h.data(), total(h), levels, out.data()));
    return out;
}

// The same tuple as the exhaustive walk, ties and all.
TEST(Threshold, MultiLevelSearchMatchesExhaustiveWalk)
{
    const std::pair<int, int> cases[] = {{2, 40}, {3, 6}, {254, 3}, {255, 10}, {256, 5}};  // levels, histograms
    for (auto [levels, histograms] : cases) {
        std::mt19937 rng(uint32_t(levels) * 7919u);
        for (int trial = 0; trial < histograms; ++trial) {
            SCOPED_TRACE(testing::Message() << levels << " levels, trial " << trial);
            const auto h = ref::randomHistogram(rng, trial);
            EXPECT_EQ(search(h, levels), ref::multiLevel(h.data(), total(h), levels));
        }
    }
}

// More classes than the exhaustive walk could visit: the thresholds still
// come out strictly increasing and the search ends quickly.
TEST(Threshold, MultiLevelManyClasses)
{
    std::mt19937 rng(11);
    for (int levels : {4, 6, 12, 40, 128})
        for (int shape = 0; shape < 7; ++shape) {
            const auto b = search(ref::randomHistogram(rng, shape), levels);
            for (size_t i = 1; i < b.size(); ++i) EXPECT_LT(b[i - 1], b[i]) << levels << " " << shape;
            EXPECT_LE(b.back(), 254);
        }
}

TEST(Threshold, MultiLevelPosterizesRandomImages)
{
    std::mt19937 rng(5);
    for (int trial = 0; trial < 6; ++trial) {
        SCOPED_TRACE(trial);
        const int w = 1 + int(rng() % 40), h = 1 + int(rng() % 9), levels = trial < 2 ? 3 : 2;
        const auto in = randomBytes(size_t(w) * h, trial, int(rng() % 100), 100 + int(rng() % 156));
        std::vector<int32_t> hist(256);
        for (uint8_t p : in) ++hist[p];
        // Up to the first threshold 0, above the last 255, else the lower threshold.
        const auto b = ref::multiLevel(hist.data(), total(hist), levels);
        std::vector<uint8_t> out;
        for (uint8_t p : in) {
            const size_t i = size_t(std::lower_bound(b.begin(), b.end(), int(p)) - b.begin());
            out.push_back(i == 0 ? 0 : i == b.size() ? 255 : uint8_t(b[i - 1]));
        }
        PaddedImage im(KIT_GRAY, w, h, in);
        EXPECT_EQ(kxbMultiLevel(im.get(), levels), im.get());
        EXPECT_EQ(pixels(im.get()), out);
        EXPECT_EQ(im.get()->imageType, KIT_GRAY);
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(Threshold, MultiLevelWorkedExamples)
{
    const struct {
        const char *name;
        int levels;
        std::vector<uint8_t> in, out;
    } cases[] = {
        // Three clusters: thresholds 20 and 120 (lowest of the ties); the
        // middle class takes its lower threshold.
        {"ThreeClusters", 3, {20, 120, 220, 220, 120, 20}, {0, 20, 255, 255, 20, 0}},
        // Two classes: the lower class becomes 0, the upper 255.
        {"TwoClasses", 2, {10, 10, 200, 210}, {0, 0, 255, 255}},
        // Every score is 0 when all pixels are 0.
        {"AllZero", 4, {0, 0, 0}, {0, 0, 0}},
        // 256 classes: one per grey level, each pixel drops by one.
        {"EveryLevel", 256, {0, 1, 7, 254, 255}, {0, 0, 6, 253, 255}},
        // Class counts outside 2..256 leave the image.
        {"LevelsNegative", -5, {9, 200}, {9, 200}},
        {"LevelsZero", 0, {9, 200}, {9, 200}},
        {"LevelsOne", 1, {9, 200}, {9, 200}},
        {"Levels257", 257, {9, 200}, {9, 200}},
        {"LevelsMax", INT32_MAX, {9, 200}, {9, 200}},
        {"LevelsMin", INT32_MIN, {9, 200}, {9, 200}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ImagePtr im = makeImage(KIT_GRAY, int(c.in.size()), 1, c.in);
        EXPECT_EQ(kxbMultiLevel(im.get(), c.levels), im.get());
        EXPECT_EQ(pixels(im.get()), c.out);
        EXPECT_EQ(im->imageType, KIT_GRAY);
    }
}

}  // namespace
