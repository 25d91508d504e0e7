// Multi-level thresholding: the pruned search against the exhaustive walk,
// and the posterizing export on worked images.
#include <numeric>

#include "kxtest.hpp"
#include "ref_multilevel.hpp"
#include "threshold/threshold_detail.hpp"

using namespace kxtest;

namespace {

TEST(Threshold, MultiLevelSearchMatchesExhaustiveWalk)
{
    // levels, histograms: the same tuple as the walk, ties and all.  More
    // classes than the walk could visit: strictly increasing thresholds.
    for (auto [levels, histograms] : {std::pair{2, 24}, {3, 6}, {254, 3}, {255, 6}, {256, 6}, {5, 6}, {40, 6}, {128, 6}}) {
        std::mt19937 rng(uint32_t(levels) * 7919u);
        for (int trial = 0; trial < histograms; ++trial) {
            SCOPED_TRACE(testing::Message() << levels << " levels, trial " << trial);
            const auto h = ref::randomHistogram(rng, trial);
            const int64_t n = std::accumulate(h.begin(), h.end(), int64_t(0));
            std::vector<int> got(size_t(levels - 1), -1);
            ASSERT_TRUE(kx::thr::multiLevelThresholds(h.data(), n, levels, got.data()));
            if (levels <= 3 || levels >= 254) {
                EXPECT_EQ(got, ref::multiLevel(h.data(), n, levels));
            }
            for (size_t i = 1; i < got.size(); ++i) EXPECT_LT(got[i - 1], got[i]);
            EXPECT_LE(got.back(), 254);
        }
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
        {"TwoClasses", 2, {10, 10, 200, 210}, {0, 0, 255, 255}},
        {"AllZero", 4, {0, 0, 0}, {0, 0, 0}},  // every score is 0
        // 256 classes: one per grey level, each pixel drops by one.
        {"EveryLevel", 256, {0, 1, 7, 254, 255}, {0, 0, 6, 253, 255}},
        // Class counts outside 2..256 leave the image.
        {"LevelsOne", 1, {9, 200}, {9, 200}},
        {"Levels257", 257, {9, 200}, {9, 200}},
        {"LevelsMax", INT32_MAX, {9, 200}, {9, 200}},
        {"LevelsMin", INT32_MIN, {9, 200}, {9, 200}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PaddedImage im(KIT_GRAY, int(c.in.size()), 1, c.in);
        EXPECT_EQ(kxbMultiLevel(im.get(), c.levels), im.get());
        EXPECT_EQ(pixels(im.get()), c.out);
        EXPECT_EQ(im.get()->imageType, KIT_GRAY);
        EXPECT_TRUE(im.paddingIntact());
    }
}

}  // namespace
