// Box mean and median: running column sums, the 3 x 3 sorting network and
// the column histograms against the direct windows on random images of
// every window size (borders, block edges and padded rows included), the
// network's vector column steps against the plain ones, worked values.
#include <climits>
#include <tuple>

#include "filter/filter_detail.hpp"
#include "kxtest.hpp"
#include "ref_filter.hpp"

using kxtest::PaddedImage;
using Bytes = std::vector<uint8_t>;

namespace {

TEST(Smooth, MeanAndMedianMatchTheDirectWindows)
{
    // Every window side on small shapes; then the 3 x 3 network, which runs
    // 32 bytes at a time in blocks of 1024, on rows of 31 to 2050 bytes
    // (rows of several blocks must join seamlessly), and the sliding column
    // totals over many steps.
    const std::vector<int> all = {INT_MIN, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 81, INT_MAX}, odd = {3, 5, 7, 9}, three = {3};
    uint32_t seed = 77;
    for (int c : {1, 3}) {
        std::vector<std::tuple<int, int, const std::vector<int> *>> shapes = {{90, 41, &odd}};
        for (auto [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}, {2, 3}, {3, 2}, {3, 3}, {5, 5}, {10, 7}, {4, 12}, {15, 11}})
            shapes.push_back({w, h, &all});
        for (int bytes : {31, 32, 33, 63, 64, 65, 1023, 1024, 1025, 1029, 2050}) shapes.push_back({(bytes + c - 1) / c, 3 + bytes % 4, &three});
        for (const auto &[w, h, windows] : shapes)
            for (int side : *windows)
                for (int top : {255, 2})  // full range, and few levels so that ranks tie
                    for (bool median : {false, true}) {
                        const Bytes in = kxtest::randomBytes(size_t(w) * h * c, seed++, 0, top);
                        PaddedImage im(c == 3 ? KIT_RGB : KIT_GRAY, w, h, in);
                        EXPECT_EQ((median ? kxMedian : kxSmoothAvg)(im.get(), side), im.get());
                        EXPECT_EQ(kxtest::pixels(im.get()), side <= 1 ? in : ref::smooth(in, w, h, c, side, median))
                            << (median ? "median " : "mean ") << w << "x" << h << " c" << c << " n" << side;
                        EXPECT_TRUE(im.paddingIntact());
                    }
    }
}

TEST(Smooth, MedianColumnKernelsMatchThePlainSteps)
{
    // Every kernel this processor runs sorts and merges exactly like the
    // plain loops, for run lengths around the vector widths and both pixel
    // strides, with ties (few levels) and the full range.
    using namespace kx::filter;
    const ColumnSteps plain = columnSteps(ColumnKernel::Plain);
    uint32_t seed = 9000;
    for (ColumnKernel k : {ColumnKernel::Avx2, ColumnKernel::Avx512}) {
        if (!columnKernelRuns(k)) continue;
        const ColumnSteps steps = columnSteps(k);
        for (size_t C : {1, 3})
            for (size_t n : {0, 1, 31, 32, 33, 63, 64, 65, 127, 200, 1030})
                for (int top : {255, 2}) {
                    const size_t len = n + 2 * C;
                    Bytes in[3], sorted[2][3], out[2] = {Bytes(n), Bytes(n)};
                    for (auto &b : in) b = kxtest::randomBytes(len, seed++, 0, top);
                    for (auto &set : sorted)
                        for (auto &b : set) b.resize(len);
                    for (int i = 0; i < 2; ++i) {
                        const ColumnSteps &s = i ? plain : steps;
                        s.sort(in[0].data(), in[1].data(), in[2].data(), sorted[i][0].data(), sorted[i][1].data(),
                               sorted[i][2].data(), len);
                        // Both merge the kernel's sorted columns, so a merge fault shows on its own.
                        s.merge(sorted[0][0].data(), sorted[0][1].data(), sorted[0][2].data(), out[i].data(), n, C);
                    }
                    for (int j = 0; j < 3; ++j) ASSERT_EQ(sorted[0][j], sorted[1][j]) << int(k) << " n " << n;
                    ASSERT_EQ(out[0], out[1]) << int(k) << " n " << n << " C " << C;
                }
    }
    EXPECT_TRUE(columnKernelRuns(bestColumnKernel()));
}

TEST(Smooth, GiveTheWorkedValues)
{
    // A corner window holds 4 values; the output is rank 2 (the upper
    // middle): {1, 5, 7, 9} -> 7.  Types other than KIT_GRAY and KIT_RGB
    // stay as they are.
    const struct { Image *(*op)(Image *, int); int type, w, h; Bytes in, out; } cases[] = {
        {kxMedian, KIT_GRAY, 2, 2, {1, 5, 7, 9}, {7, 7, 7, 7}},
        {kxSmoothAvg, KIT_BIN, 3, 1, {1, 0, 1}, {1, 0, 1}},
    };
    for (const auto &c : cases) {
        PaddedImage im(c.type, c.w, c.h, c.in);
        EXPECT_EQ(c.op(im.get(), 3), im.get());
        EXPECT_EQ(kxtest::pixels(im.get()), c.out) << c.type;
        EXPECT_TRUE(im.paddingIntact());
    }
}

}  // namespace
