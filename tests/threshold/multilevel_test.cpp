// The pruned multi-level search against the walk that defines it: every
// ordered tuple of class ends in lexicographic order (the last class's end
// included), scored as the left-to-right double sum of float class terms,
// the first strictly best kept.  (The export's worked images are in
// global_test.cpp.)
#include <numeric>

#include "kxtest.hpp"
#include "threshold/threshold_detail.hpp"

using namespace kxtest;

namespace {

std::vector<int> multiLevel(const int32_t h[256], int64_t n, int levels)
{
    std::vector<float> term(65536);  // start * 256 + end
    for (int s = 0; s < 256; ++s) {
        float P = 0.0f, S = 0.0f;
        for (int e = s; e < 256; ++e) {
            const float q = float(h[e] * 1.0 / double(n));
            P += q, S += float(e) * q;
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
            else if (bestScore < s)
                bestScore = s, best.assign(t.begin(), t.end() - 1);
        }
    };
    walk(walk, 0, 0, 0.0);
    return best;
}

// Histograms of several shapes: dense, a few occupied bins (many ties),
// counts from a tiny set, one bin, huge counts, two smooth modes.
std::vector<int32_t> randomHistogram(std::mt19937 &rng, int shape)
{
    std::vector<int32_t> h(256, 0);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int occupied = shape % 6 == 1 ? pick(1, 6) : shape % 6 == 3 ? 1 : 0;
    for (int i = 0; i < occupied; ++i) h[size_t(pick(0, 1) ? 0 : pick(0, 255))] = pick(1, shape % 6 == 1 ? 50 : 1 << 20);
    for (int i = 0; i < 256 && !occupied; ++i)
        h[size_t(i)] = shape % 6 == 0   ? pick(0, 5000)
                       : shape % 6 == 2 ? pick(0, 3)
                       : shape % 6 == 4 ? pick(0, 1) * pick(1 << 20, 1 << 24)
                                        : 2000 / (1 + (i - 60) * (i - 60) / 40) + 900 / (1 + (i - 190) * (i - 190) / 90);
    return h;
}

TEST(Threshold, MultiLevelSearchMatchesExhaustiveWalk)
{
    // levels, histograms: the same tuple as the walk, ties and all.  More
    // classes than the walk could visit: strictly increasing thresholds.
    for (auto [levels, histograms] : {std::pair{2, 24}, {3, 6}, {254, 3}, {255, 6}, {256, 6}, {5, 6}, {40, 6}, {128, 6}}) {
        std::mt19937 rng(uint32_t(levels) * 7919u);
        for (int trial = 0; trial < histograms; ++trial) {
            SCOPED_TRACE(testing::Message() << levels << " levels, trial " << trial);
            const auto h = randomHistogram(rng, trial);
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

}  // namespace
