// Kernel operators and difference operators: hand-worked cases, agreement
// with the straightforward versions on random images (padded rows), and
// the type and argument rules.
#include <climits>
#include <functional>

#include "kxtest.hpp"
#include "ref_filter.hpp"

using kxtest::ImagePtr;
using kxtest::PaddedImage;
using Bytes = std::vector<uint8_t>;

namespace {

const int kSobelA[9] = {1, 0, -1, 2, 0, -2, 1, 0, -1}, kSobelB[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
const int kPrewittA[9] = {1, 0, -1, 1, 0, -1, 1, 0, -1}, kPrewittB[9] = {1, 1, 1, 0, 0, 0, -1, -1, -1};
const int kKirschA[9] = {5, 5, 5, -3, -3, -3, -3, -3, -3}, kKirschB[9] = {5, 5, -3, 5, -3, -3, -3, -3, -3};
const int kDiff2A[9] = {0, 0, 0, 1, -2, 1, 0, 0, 0}, kDiff2B[9] = {0, 1, 0, 0, -2, 0, 0, 1, 0};
const int kLap[9] = {0, 1, 0, 1, -4, 1, 0, 1, 0}, kSharp[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};

struct KernelOp {
    const char *name;
    std::function<Image *(Image *, int)> run;
    const int *a, *b;
    bool hasMode;
};

const KernelOp kKernelOps[] = {
    {"Sobel", kxSobel, kSobelA, kSobelB, true},
    {"Prewitt", kxPrewitt, kPrewittA, kPrewittB, true},
    {"Kirsch", kxKirsch, kKirschA, kKirschB, true},
    {"DiffSecond", kxDiffSecond, kDiff2A, kDiff2B, true},
    {"LaPlacian", [](Image *im, int) { return kxLaPlacian(im); }, kLap, nullptr, false},
    {"Sharp1541", [](Image *im, int) { return kxSharp1541(im); }, kSharp, nullptr, false},
};

const std::pair<int, int> kSizes[] = {{1, 1}, {1, 6}, {6, 1}, {2, 2}, {3, 3}, {4, 7}, {17, 5}, {33, 12}};

// Runs op on a padded copy of `in` and returns its pixels; checks that the
// result is the same image and the row padding is intact.
Bytes runPadded(int type, int w, int h, const Bytes &in, const std::function<Image *(Image *)> &op)
{
    PaddedImage im(type, w, h, in);
    EXPECT_EQ(op(im.get()), im.get());
    EXPECT_TRUE(im.paddingIntact());
    return kxtest::pixels(im.get());
}

TEST(KernelOperators, MatchDirectCorrelationOnRandomImages)
{
    uint32_t seed = 1;
    for (const auto &op : kKernelOps)
        for (int mode : {0, 1, 2, 3, -7}) {
            if (!op.hasMode && mode != 1) continue;
            for (auto [w, h] : kSizes)
                for (int type : {KIT_GRAY, KIT_BIN}) {
                    const int hi = type == KIT_BIN ? 1 : 255;
                    // Low values too, so that many responses land inside 0..255.
                    for (int top : {hi, std::min(hi, 40)}) {
                        const Bytes in = kxtest::randomBytes(size_t(w) * h, seed++, 0, top);
                        const Bytes got = runPadded(type, w, h, in, [&](Image *im) { return op.run(im, mode); });
                        EXPECT_EQ(got, ref::convolve(in, w, h, op.hasMode ? mode : 1, op.a, op.b, type == KIT_BIN))
                            << op.name << " mode " << mode << " " << w << "x" << h << " type " << type;
                    }
                }
        }
}

struct HandCase {
    const char *name;
    std::function<Image *(Image *)> op;
    int w, h;
    Bytes in, out;
};

const HandCase kHandCases[] = {
    // Uniform 10: corners -20, edges -10, interior 0 -> all 0.
    {"LaplacianUniform", kxLaPlacian, 3, 3, Bytes(9, 10), Bytes(9, 0)},
    // Uniform 100: interior 100, edges 200, corners 300 -> 0.
    {"SharpUniform", kxSharp1541, 4, 3, Bytes(12, 100), {0, 200, 200, 0, 200, 100, 100, 200, 0, 200, 200, 0}},
    // A single 50 at the centre: the pixel right of it sees it with weight
    // 2 (+100), the one left of it with -2 (-100 -> 0).
    {"SobelAOnePoint", [](Image *im) { return kxSobel(im, 1); }, 3, 3, {0, 0, 0, 0, 50, 0, 0, 0, 0},
     {0, 0, 50, 0, 0, 100, 0, 0, 50}},
    {"SobelBOnePoint", [](Image *im) { return kxSobel(im, 2); }, 3, 3, {0, 0, 0, 0, 50, 0, 0, 0, 0},
     {0, 0, 0, 0, 0, 0, 50, 100, 50}},
    // Mode 0 adds signed responses: top right 50 - 50 = 0, bottom right
    // 50 + 50, top left -50 - 50 -> 0.
    {"SobelSumOnePoint", [](Image *im) { return kxSobel(im, 0); }, 3, 3, {0, 0, 0, 0, 50, 0, 0, 0, 0},
     {0, 0, 0, 0, 0, 100, 0, 100, 100}},
    // Left column 255: the centre's A response is 4 * 255 = 1020 -> 0, not 255.
    {"SobelAboveRangeIsZero", [](Image *im) { return kxSobel(im, 1); }, 3, 3, {255, 0, 0, 255, 0, 0, 255, 0, 0},
     {0, 0, 0, 0, 0, 0, 0, 0, 0}},
    // Kirsch A on a uniform 10: the centre gives 150 - 180 -> 0; on the
    // bottom row the row below is missing: 150 - 90 = 60, corners 100 - 60.
    {"KirschBottomEdge", [](Image *im) { return kxKirsch(im, 1); }, 3, 3, Bytes(9, 10), {0, 0, 0, 0, 0, 0, 40, 60, 40}},
    // (1,1): |250-10| + |0-200| -> 255; (1,2): 0 + |0-250|; frame 0.
    {"RobertsCross", kxRoberts, 4, 4, {0, 0, 0, 0, 0, 10, 200, 0, 0, 0, 250, 0, 0, 0, 0, 0},
     {0, 0, 0, 0, 0, 255, 255, 0, 0, 250, 250, 0, 0, 0, 0, 0}},
    {"RobertsTiny", kxRoberts, 2, 2, {9, 9, 9, 9}, {0, 0, 0, 0}},
    {"DiffFirstH", [](Image *im) { return kxDiffFirst(im, 1); }, 3, 2, {5, 9, 2, 7, 1, 8},
     {0, 0, 0, 0, 6, 7}},
    {"DiffFirstV", [](Image *im) { return kxDiffFirst(im, 2); }, 3, 2, {5, 9, 2, 7, 1, 8},
     {0, 0, 0, 0, 8, 6}},
    {"DiffFirstSumSaturates", [](Image *im) { return kxDiffFirst(im, 0); }, 2, 2, {255, 0, 0, 255},
     {0, 0, 0, 255}},
    {"DiffFirstOtherModeZeroes", [](Image *im) { return kxDiffFirst(im, 3); }, 2, 2, {1, 2, 3, 4}, {0, 0, 0, 0}},
    {"GradientHorizontal", [](Image *im) { return kxGradient(im, 1, 1); }, 3, 1, {10, 30, 5}, {20, 25, 0}},
    {"GradientVerticalGap2", [](Image *im) { return kxGradient(im, 2, 2); }, 1, 3, {10, 30, 5}, {5, 0, 0}},
    {"GradientBothSaturates", [](Image *im) { return kxGradient(im, 0, 1); }, 2, 2, {0, 200, 100, 7},
     {255, 0, 0, 0}},
    {"GradientHugeGap", [](Image *im) { return kxGradient(im, 0, INT_MAX); }, 2, 2, {1, 2, 3, 4}, {0, 0, 0, 0}},
};

class HandWorked : public testing::TestWithParam<HandCase> {};

TEST_P(HandWorked, GivesTheWorkedValues)
{
    const HandCase &c = GetParam();
    EXPECT_EQ(runPadded(KIT_GRAY, c.w, c.h, c.in, c.op), c.out);
}

INSTANTIATE_TEST_SUITE_P(Filter, HandWorked, testing::ValuesIn(kHandCases),
                         [](const testing::TestParamInfo<HandCase> &i) { return std::string(i.param.name); });

TEST(DifferenceOperators, MatchDirectVersionsOnRandomImages)
{
    uint32_t seed = 100;
    for (auto [w, h] : kSizes) {
        const Bytes in = kxtest::randomBytes(size_t(w) * h, seed++);
        EXPECT_EQ(runPadded(KIT_GRAY, w, h, in, kxRoberts), ref::roberts(in, w, h)) << w << "x" << h;
        for (int mode : {0, 1, 2, 5})
            EXPECT_EQ(runPadded(KIT_GRAY, w, h, in, [&](Image *im) { return kxDiffFirst(im, mode); }),
                      ref::diffFirst(in, w, h, mode))
                << "DiffFirst " << mode << " " << w << "x" << h;
        for (int mode : {0, 1, 2, 9})
            for (int gap : {1, 2, 5, 40})
                EXPECT_EQ(runPadded(KIT_GRAY, w, h, in, [&](Image *im) { return kxGradient(im, mode, gap); }),
                          ref::gradient(in, w, h, mode, gap))
                    << "Gradient " << mode << " gap " << gap << " " << w << "x" << h;
    }
}

TEST(KernelOperators, BinaryImagesStayBinary)
{
    // A lone set pixel: the sharpening response at it is 5, stored as 1.
    ImagePtr im = kxtest::makeImage(KIT_BIN, 3, 3, {0, 0, 0, 0, 1, 0, 0, 0, 0});
    kxSharp1541(im.get());
    EXPECT_EQ(im->imageType, KIT_BIN);
    EXPECT_EQ(kxtest::pixels(im.get()), Bytes({0, 0, 0, 0, 1, 0, 0, 0, 0}));
}

TEST(FilterFamily, UnsupportedTypesAndNullAreLeftAlone)
{
    const std::function<Image *(Image *)> ops[] = {
        [](Image *im) { return kxSobel(im, 0); },      [](Image *im) { return kxPrewitt(im, 1); },
        [](Image *im) { return kxKirsch(im, 2); },     [](Image *im) { return kxDiffSecond(im, 0); },
        kxLaPlacian, kxSharp1541, kxRoberts,           [](Image *im) { return kxDiffFirst(im, 0); },
        [](Image *im) { return kxFilter(im, nullptr); },
    };
    for (const auto &op : ops) {
        EXPECT_EQ(op(nullptr), nullptr);
        for (int type : {KIT_RGB, KIT_RGBA}) {
            ImagePtr im = kxtest::randomImage(type, 4, 3, 7);
            const Bytes before = kxtest::pixels(im.get());
            EXPECT_EQ(op(im.get()), im.get());
            EXPECT_EQ(kxtest::pixels(im.get()), before);
        }
    }
    // The difference operators take KIT_GRAY only.
    ImagePtr bin = kxtest::randomImage(KIT_BIN, 4, 3, 8);
    const Bytes before = kxtest::pixels(bin.get());
    kxRoberts(bin.get());
    kxDiffFirst(bin.get(), 0);
    kxGradient(bin.get(), 0, 1);
    EXPECT_EQ(kxtest::pixels(bin.get()), before);
    // kxFilter ignores its argument and touches nothing.
    ImagePtr grey = kxtest::randomImage(KIT_GRAY, 4, 3, 9);
    const Bytes g = kxtest::pixels(grey.get());
    int dummy = 0;
    EXPECT_EQ(kxFilter(grey.get(), &dummy), grey.get());
    EXPECT_EQ(kxtest::pixels(grey.get()), g);
}

TEST(GradientAssertions, NullImageAndNonPositiveGap)
{
    EXPECT_KX_ASSERT(kxGradient(nullptr, 1, 1), "image");
    ImagePtr im = kxtest::randomImage(KIT_GRAY, 5, 4, 3);
    const Bytes before = kxtest::pixels(im.get());
    EXPECT_KX_ASSERT(kxGradient(im.get(), 1, 0), "gap>0");
    EXPECT_KX_ASSERT(kxGradient(im.get(), 0, INT_MIN), "gap>0");
    EXPECT_EQ(kxtest::pixels(im.get()), before);  // nothing written before the check
}

}  // namespace
