// Intensity maps: worked values and the equalizing table against a per-pixel
// accumulation, all on padded rows (padding counted as pixels would move
// every statistic).  (The table kernels are checked in tests/pixel.)
#include <cmath>
#include <functional>

#include "kxtest.hpp"

using kxtest::PaddedImage;
using Bytes = std::vector<uint8_t>;
using Op = std::function<Image *(Image *)>;

namespace {

const struct {
    const char *name;
    Op op;
    int type, w, h;
    Bytes in, out;
    int outType = 0;  // 0: unchanged
} kCases[] = {
    {"ExpandTwoLevels", kxExpand, KIT_GRAY, 3, 1, {50, 100, 75}, {0, 255, 127}},
    {"ExpandOneLevelUnchanged", kxExpand, KIT_GRAY, 2, 1, {9, 9}, {9, 9}},
    // lo 51, hi 204: 127 -> trunc(76/153*255 + 0.5) = 127.
    {"ContrastMiddle", [](Image *im) { return kxContrast(im, 0.2f, 0.8f); }, KIT_GRAY, 5, 1, {0, 51, 127, 204, 255}, {0, 0, 127, 255, 255}},
    {"ContrastEmptyRange", [](Image *im) { return kxContrast(im, 0.5f, 0.5f); }, KIT_GRAY, 2, 1, {3, 200}, {3, 200}},
    // 1.2 * 255 = 306, whose low byte 50 is above hi = 0.1 * 255 = 25.
    {"ContrastLowByteLevels", [](Image *im) { return kxContrast(im, 1.2f, 0.1f); }, KIT_GRAY, 2, 1, {3, 200}, {3, 200}},
    {"ContrastNaN", [](Image *im) { return kxContrast(im, NAN, 0.5f); }, KIT_GRAY, 2, 1, {3, 200}, {3, 200}},
    {"LinearGainOffset", [](Image *im) { return kxLinear(im, 2, 10); }, KIT_GRAY, 3, 1, {100, 200, 0}, {210, 255, 10}},
    {"LinearNaNIsZero", [](Image *im) { return kxLinear(im, NAN, 0); }, KIT_GRAY, 2, 1, {10, 30}, {0, 0}},
    // Edges of the float range: 0 * 1e30 = 0, 0 * inf = NaN -> 0, -inf -> 0.
    {"LinearHugeGain", [](Image *im) { return kxLinear(im, 1e30f, 0); }, KIT_GRAY, 3, 1, {0, 1, 255}, {0, 255, 255}},
    {"LinearInfiniteGain", [](Image *im) { return kxLinear(im, INFINITY, -1); }, KIT_GRAY, 2, 1, {0, 1}, {0, 255}},
    {"LinearMinusInfinity", [](Image *im) { return kxLinear(im, 3, -INFINITY); }, KIT_GRAY, 2, 1, {0, 255}, {0, 0}},
    {"LinearReverses", [](Image *im) { return kxLinear(im, -1, 255); }, KIT_RGB, 1, 1, {0, 100, 255}, {255, 155, 0}},
    // Single precision: 0.5 + (0.5 - 2^-25) rounds to 1 (in double it would
    // truncate to 0), 1.5 + (0.5 - 2^-25) to 2.
    {"LinearInSinglePrecision", [](Image *im) { return kxLinear(im, 0.5f, 0.49999997f); }, KIT_GRAY, 3, 1, {0, 1, 3}, {0, 1, 2}},
    {"LinearBinBecomesGrey", [](Image *im) { return kxLinear(im, 255, 0); }, KIT_BIN, 3, 1, {0, 1, 1}, {0, 255, 255}, KIT_GRAY},
    {"LinearRgbaAlphaToo", [](Image *im) { return kxLinear(im, 0.5f, 0); }, KIT_RGBA, 1, 1, {10, 20, 30, 41}, {5, 10, 15, 20}},
    {"LinearExRedOnly", [](Image *im) { return kxLinearEx(im, 4, 0, 0); }, KIT_RGB, 2, 1, {1, 2, 3, 4, 5, 6}, {1, 2, 0, 4, 5, 0}},
    {"LinearExAlphaBitIgnoredOnRgb", [](Image *im) { return kxLinearEx(im, 8, 0, 0); }, KIT_RGB, 1, 1, {1, 2, 3}, {1, 2, 3}},
    {"LinearExAlphaOnRgba", [](Image *im) { return kxLinearEx(im, 9, 1, 100); }, KIT_RGBA, 1, 1, {1, 2, 3, 200}, {101, 2, 3, 255}},
    // Counting the padding as pixels would leave the brightest level below
    // 255.  (Five sixths summed in steps of 1/6 lands just below 5/6:
    // 212.4999... + 0.5 -> 212.)
    {"EqualizeReachesTop", kxEqualize, KIT_GRAY, 3, 2, {10, 20, 30, 40, 50, 60}, {43, 85, 128, 170, 212, 255}},
    {"NormalizeUniformUnchanged", [](Image *im) { return kxNormalize(im, 100, 400); }, KIT_GRAY, 3, 1, {7, 7, 7}, {7, 7, 7}},
    {"NormalizeOnePixelUnchanged", [](Image *im) { return kxNormalize(im, 100, 400); }, KIT_GRAY, 1, 1, {7}, {7}},
    {"NormalizeNegativeVarianceUnchanged", [](Image *im) { return kxNormalize(im, 100, -4); }, KIT_GRAY, 2, 1, {0, 200}, {0, 200}},
    // m = 100, sd = 141.4 -> 141; target 20.5: 0 -> -100/141*20.5 + 240.5 =
    // 225.96 -> 225, 200 -> 255.04 -> 255 (saturated, not 255 by accident:
    // see the next case).
    {"NormalizeWorked", [](Image *im) { return kxNormalize(im, 240, 400); }, KIT_GRAY, 2, 1, {0, 200}, {225, 255}},
    // 200 -> 300.04 would wrap to 44; it saturates instead, and 0 -> 270.96.
    {"NormalizeSaturates", [](Image *im) { return kxNormalize(im, 285, 400); }, KIT_GRAY, 2, 1, {0, 200}, {255, 255}},
    {"NormalizeNegativeSaturates", [](Image *im) { return kxNormalize(im, -50, 400); }, KIT_GRAY, 2, 1, {0, 200}, {0, 0}},
    {"IncreaseLumBlackStays", kxIncreaseLum, KIT_RGB, 2, 1, {0, 0, 0, 90, 90, 90}, {0, 0, 0, 255, 255, 255}},
    // Pure red: L = 76.2; red * r / L * 255 is far above 255 and saturates
    // (a wrapped byte would be arbitrary).
    {"IncreaseLumSaturates", kxIncreaseLum, KIT_RGB, 2, 1, {0, 0, 255, 0, 0, 0}, {0, 0, 255, 0, 0, 0}},
    // L = 100, 24.84 and 0.114 (the darkest pixel moves the log mean), worked out aside.
    {"IncreaseLumWorked", kxIncreaseLum, KIT_RGB, 3, 1, {100, 100, 100, 10, 20, 40, 1, 0, 0}, {255, 255, 255, 57, 115, 230, 13, 0, 0}},
};

TEST(IntensityMaps, GiveTheWorkedValues)
{
    for (const auto &c : kCases) {
        PaddedImage im(c.type, c.w, c.h, c.in);
        EXPECT_EQ(c.op(im.get()), im.get());
        EXPECT_EQ(kxtest::pixels(im.get()), c.out) << c.name;
        EXPECT_EQ(im.get()->imageType, c.outType ? c.outType : c.type) << c.name;
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(IntensityMaps, EqualizeSumsLikeAPerPixelAccumulation)
{
    // The table adds 1/n once per pixel of a level (eight levels at a time);
    // level counts that make repeated addition of 1/n differ from k/n.
    for (auto [w, h] : {std::pair{3, 1}, {7, 3}, {10, 10}, {101, 3}, {300, 200}, {64, 40}})
        for (int top : {5, 255}) {
            const Bytes in = kxtest::randomBytes(size_t(w) * h, uint32_t(w * h + top), 0, top);
            double hist[256] = {}, c = 0;
            for (uint8_t p : in) hist[p] += 1.0 / double(in.size());
            uint8_t lut[256];
            for (int i = 0; i < 256; ++i) lut[i] = uint8_t(std::min((c += hist[i]) * 255.0 + 0.5, 255.0));
            Bytes want(in);
            for (auto &p : want) p = lut[p];
            PaddedImage im(KIT_GRAY, w, h, in, 7);
            kxEqualize(im.get());
            EXPECT_EQ(kxtest::pixels(im.get()), want) << w << "x" << h;
            EXPECT_TRUE(im.paddingIntact());
        }
}

}  // namespace
