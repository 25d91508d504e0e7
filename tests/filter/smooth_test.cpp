// Box mean and median: worked values, and the running-sum / network /
// histogram code against the direct window versions on random images for
// every window size, borders and padded rows included.
#include <climits>
#include <functional>

#include "filter/filter_detail.hpp"
#include "kxtest.hpp"
#include "ref_filter.hpp"

using kxtest::ImagePtr;
using kxtest::PaddedImage;
using Bytes = std::vector<uint8_t>;

namespace {

const int kWindows[] = {INT_MIN, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 81, INT_MAX};
const std::pair<int, int> kSizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {3, 2}, {3, 3}, {5, 5},
                                      {10, 7}, {4, 12}, {15, 11}, {11, 14}};

using Op = Image *(*)(Image *, int);
using Ref = Bytes (*)(const Bytes &, int, int, int, int);

void matchesDirect(Op op, Ref direct, const char *name)
{
    uint32_t seed = 77;
    for (int type : {KIT_GRAY, KIT_RGB}) {
        const int c = type == KIT_RGB ? 3 : 1;
        for (auto [w, h] : kSizes)
            for (int ws : kWindows)
                // Full range, and few levels so that ranks tie.
                for (int top : {255, 3}) {
                    const Bytes in = kxtest::randomBytes(size_t(w) * h * c, seed++, 0, top);
                    PaddedImage im(type, w, h, in);
                    EXPECT_EQ(op(im.get(), ws), im.get());
                    const Bytes want = ws <= 1 ? in : direct(in, w, h, c, ws);
                    EXPECT_EQ(kxtest::pixels(im.get()), want) << name << " " << w << "x" << h << " c" << c << " n" << ws;
                    EXPECT_TRUE(im.paddingIntact());
                }
    }
}

TEST(SmoothAvg, MatchesDirectWindowSums) { matchesDirect(kxSmoothAvg, ref::smoothAvg, "SmoothAvg"); }
TEST(Median, MatchesDirectPartialSelection) { matchesDirect(kxMedian, ref::median, "Median"); }

TEST(Median, WiderImages)
{
    // Wider rows exercise the sliding column totals over many steps; the
    // 3 x 3 network sorts columns a block of bytes at a time, and rows of
    // more than one block must join seamlessly.
    struct Case {
        int type, w, h, window;
    } cases[] = {{KIT_GRAY, 90, 41, 3}, {KIT_GRAY, 90, 41, 5}, {KIT_GRAY, 90, 41, 7}, {KIT_GRAY, 90, 41, 9},
                 {KIT_GRAY, 1100, 4, 3}, {KIT_RGB, 700, 4, 3}};
    for (const Case &c : cases) {
        const int ch = c.type == KIT_RGB ? 3 : 1;
        const Bytes in = kxtest::randomBytes(size_t(c.w) * c.h * ch, uint32_t(c.w + c.window), 0, 255);
        PaddedImage im(c.type, c.w, c.h, in);
        kxMedian(im.get(), c.window);
        EXPECT_EQ(kxtest::pixels(im.get()), ref::median(in, c.w, c.h, ch, c.window)) << c.w << " n" << c.window;
    }
}

TEST(Median, ThreeByThreeAcrossVectorAndBlockEdges)
{
    // The 3 x 3 network runs 32 bytes at a time in blocks of 1024: widths
    // around both (in bytes) for grey and RGB, full range and few levels.
    uint32_t seed = 4000;
    for (int type : {KIT_GRAY, KIT_RGB}) {
        const int ch = type == KIT_RGB ? 3 : 1;
        for (int bytes : {30, 31, 32, 33, 34, 63, 64, 65, 97, 1022, 1023, 1024, 1025, 1026, 1029, 2050})
            for (int top : {255, 2}) {
                const int w = (bytes + ch - 1) / ch, h = 3 + int(seed % 4);
                const Bytes in = kxtest::randomBytes(size_t(w) * h * ch, seed++, 0, top);
                PaddedImage im(type, w, h, in);
                kxMedian(im.get(), 3);
                EXPECT_EQ(kxtest::pixels(im.get()), ref::median(in, w, h, ch, 3)) << w << "x" << h << " c" << ch;
                EXPECT_TRUE(im.paddingIntact());
            }
    }
}

TEST(Median, ColumnKernelsMatchThePlainSteps)
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
                    const Bytes a = kxtest::randomBytes(len, seed++, 0, top), b = kxtest::randomBytes(len, seed++, 0, top),
                                c = kxtest::randomBytes(len, seed++, 0, top);
                    Bytes lo(len), md(len), hi(len), lo2(len), md2(len), hi2(len), out(n), out2(n);
                    steps.sort(a.data(), b.data(), c.data(), lo.data(), md.data(), hi.data(), len);
                    plain.sort(a.data(), b.data(), c.data(), lo2.data(), md2.data(), hi2.data(), len);
                    ASSERT_EQ(lo, lo2) << int(k) << " n " << n;
                    ASSERT_EQ(md, md2) << int(k) << " n " << n;
                    ASSERT_EQ(hi, hi2) << int(k) << " n " << n;
                    steps.merge(lo.data(), md.data(), hi.data(), out.data(), n, C);
                    plain.merge(lo.data(), md.data(), hi.data(), out2.data(), n, C);
                    ASSERT_EQ(out, out2) << int(k) << " n " << n << " C " << C;
                }
    }
    EXPECT_TRUE(columnKernelRuns(bestColumnKernel()));
}

struct Case {
    const char *name;
    Op op;
    int window, type, w, h;
    Bytes in, out;
};

const Case kCases[] = {
    // Interior 100; edges see 6 pixels: 600/9 -> 66; corners 4: 400/9 -> 44.
    {"AvgUniform", kxSmoothAvg, 3, KIT_GRAY, 4, 3, Bytes(12, 100), {44, 66, 66, 44, 66, 100, 100, 66, 44, 66, 66, 44}},
    // Window 2 acts as 3; one row, so 180/9 and 270/9.
    {"AvgWindowTwoIsThree", kxSmoothAvg, 2, KIT_GRAY, 3, 1, {90, 90, 90}, {20, 30, 20}},
    {"AvgWindowOneUnchanged", kxSmoothAvg, 1, KIT_GRAY, 3, 1, {90, 0, 90}, {90, 0, 90}},
    // A corner window holds 4 values; the output is rank 2 (the third
    // smallest): {1, 5, 7, 9} -> 7.
    {"MedianCornerUpperMiddle", kxMedian, 3, KIT_GRAY, 2, 2, {1, 5, 7, 9}, {7, 7, 7, 7}},
    {"MedianRemovesSpeck", kxMedian, 3, KIT_GRAY, 3, 3, {10, 10, 10, 10, 250, 10, 10, 10, 10}, Bytes(9, 10)},
    // Channels are filtered on their own: blue, green, red never mix.
    {"MedianRgbChannels", kxMedian, 3, KIT_RGB, 3, 1, {1, 50, 200, 2, 60, 100, 3, 40, 150},
     {2, 60, 200, 2, 50, 150, 3, 60, 150}},
    {"BinUnchanged", kxMedian, 3, KIT_BIN, 3, 1, {1, 0, 1}, {1, 0, 1}},
    {"RgbaUnchanged", kxSmoothAvg, 3, KIT_RGBA, 1, 1, {1, 2, 3, 4}, {1, 2, 3, 4}},
};

class SmoothCases : public testing::TestWithParam<Case> {};

TEST_P(SmoothCases, GiveTheWorkedValues)
{
    const Case &c = GetParam();
    PaddedImage im(c.type, c.w, c.h, c.in);
    EXPECT_EQ(c.op(im.get(), c.window), im.get());
    EXPECT_EQ(kxtest::pixels(im.get()), c.out);
    EXPECT_TRUE(im.paddingIntact());
}

INSTANTIATE_TEST_SUITE_P(Filter, SmoothCases, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

}  // namespace
