// The pruned multi-level search against the exhaustive walk (the export's
// worked images are in global_test.cpp).
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

}  // namespace
