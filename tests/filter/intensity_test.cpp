// Intensity maps: worked values, per-pixel versions of each map on random
// images, saturation where a wrapped byte would surprise, and padded rows
// that neither bias the statistics nor get written.
#include <cmath>
#include <functional>

#include "kxtest.hpp"

using kxtest::ImagePtr;
using kxtest::PaddedImage;
using Bytes = std::vector<uint8_t>;

namespace {

uint8_t sat(double v) { return v >= 255.0 ? 255 : v > 0.0 ? uint8_t(v) : 0; }

// ---- per-pixel versions of the maps (packed grey bytes) ----

Bytes refNormalize(const Bytes &in, float mean, float variance)
{
    const double n = double(in.size());
    const double target = double(std::sqrt(variance)) + 0.5;
    double sum = 0;
    for (uint8_t p : in) sum += p;
    const double m = sum / n;
    double sq = 0;
    for (uint8_t p : in) sq += (p - m) * (p - m);
    const int sdInt = int(std::sqrt(sq / (n - 1)));
    if (sdInt <= 0) return in;
    Bytes out(in.size());
    for (size_t i = 0; i < in.size(); ++i) out[i] = sat((in[i] - m) / sdInt * target + mean + 0.5);
    return out;
}

Bytes refEqualize(const Bytes &in)
{
    double hist[256] = {};
    for (uint8_t p : in) hist[p] += 1.0 / double(in.size());
    uint8_t lut[256];
    double c = 0;
    for (int i = 0; i < 256; ++i) {
        c += hist[i];
        lut[i] = uint8_t(std::min(c * 255.0 + 0.5, 255.0));
    }
    Bytes out(in);
    for (auto &p : out) p = lut[p];
    return out;
}

// The colour maps on B, G, R bytes; L = 0 pixels stay.
Bytes refIncreaseLum(const Bytes &in)
{
    const size_t n = in.size() / 3;
    std::vector<float> lum(n);
    float lmax = 0, s = 0;
    for (size_t i = 0; i < n; ++i) {
        const double r = in[3 * i + 2], g = in[3 * i + 1], b = in[3 * i];
        lum[i] = float(r * double(0.299f) + g * double(0.587f) + b * double(0.114f));
        if (lum[i] > lmax) lmax = lum[i];
        s += logf(lum[i] + 0.001f);
    }
    const float lw = expf(s / float(n));
    Bytes out(in);
    for (size_t i = 0; i < n; ++i) {
        if (lum[i] <= 0) continue;
        const float r = logf(lum[i] / lw + 1.0f) / logf(lmax / lw + 1.0f);
        const float sc = r / lum[i];
        for (int c = 0; c < 3; ++c) out[3 * i + c] = sat(double(float(in[3 * i + c] * sc)) * 255.0);
    }
    return out;
}

Bytes mapped(const Bytes &in, const std::function<uint8_t(uint8_t)> &f)
{
    Bytes out(in);
    for (auto &p : out) p = f(p);
    return out;
}

struct Case {
    const char *name;
    std::function<Image *(Image *)> op;
    int type, w, h;
    Bytes in, out;
    int outType = 0;  // 0: unchanged
};

const Case kCases[] = {
    {"ExpandTwoLevels", kxExpand, KIT_GRAY, 3, 1, {50, 100, 75}, {0, 255, 127}},
    {"ExpandOneLevelUnchanged", kxExpand, KIT_GRAY, 2, 1, {9, 9}, {9, 9}},
    // lo 51, hi 204: 127 -> trunc(76/153*255 + 0.5) = 127.
    {"ContrastMiddle", [](Image *im) { return kxContrast(im, 0.2f, 0.8f); }, KIT_GRAY, 5, 1, {0, 51, 127, 204, 255}, {0, 0, 127, 255, 255}},
    {"ContrastEmptyRange", [](Image *im) { return kxContrast(im, 0.5f, 0.5f); }, KIT_GRAY, 2, 1, {3, 200}, {3, 200}},
    // 1.2 * 255 = 306, whose low byte 50 is above hi = 0.1 * 255 = 25.
    {"ContrastLowByteLevels", [](Image *im) { return kxContrast(im, 1.2f, 0.1f); }, KIT_GRAY, 2, 1, {3, 200}, {3, 200}},
    {"ContrastNaN", [](Image *im) { return kxContrast(im, NAN, 0.5f); }, KIT_GRAY, 2, 1, {3, 200}, {3, 200}},
    {"LinearGainOffset", [](Image *im) { return kxLinear(im, 2, 10); }, KIT_GRAY, 3, 1, {100, 200, 0}, {210, 255, 10}},
    {"LinearNegativeClamps", [](Image *im) { return kxLinear(im, 1, -20); }, KIT_GRAY, 2, 1, {10, 30}, {0, 10}},
    {"LinearNaNIsZero", [](Image *im) { return kxLinear(im, NAN, 0); }, KIT_GRAY, 2, 1, {10, 30}, {0, 0}},
    {"LinearBinBecomesGrey", [](Image *im) { return kxLinear(im, 255, 0); }, KIT_BIN, 3, 1, {0, 1, 1}, {0, 255, 255}, KIT_GRAY},
    {"LinearRgbaAlphaToo", [](Image *im) { return kxLinear(im, 0.5f, 0); }, KIT_RGBA, 1, 1, {10, 20, 30, 41}, {5, 10, 15, 20}},
    {"LinearExRedOnly", [](Image *im) { return kxLinearEx(im, 4, 0, 0); }, KIT_RGB, 2, 1, {1, 2, 3, 4, 5, 6}, {1, 2, 0, 4, 5, 0}},
    {"LinearExAlphaBitIgnoredOnRgb", [](Image *im) { return kxLinearEx(im, 8, 0, 0); }, KIT_RGB, 1, 1, {1, 2, 3}, {1, 2, 3}},
    {"LinearExAlphaOnRgba", [](Image *im) { return kxLinearEx(im, 9, 1, 100); }, KIT_RGBA, 1, 1, {1, 2, 3, 200}, {101, 2, 3, 255}},
    {"EqualizeAllZero", kxEqualize, KIT_GRAY, 3, 2, Bytes(6, 0), Bytes(6, 255)},
    // Two levels, half each: 0 -> trunc(0.5 * 255 + 0.5) = 128, 9 -> 255.
    {"EqualizeHalves", kxEqualize, KIT_GRAY, 2, 1, {0, 9}, {128, 255}},
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
};

class IntensityCases : public testing::TestWithParam<Case> {};

TEST_P(IntensityCases, GiveTheWorkedValues)
{
    const Case &c = GetParam();
    PaddedImage im(c.type, c.w, c.h, c.in);
    EXPECT_EQ(c.op(im.get()), im.get());
    EXPECT_EQ(kxtest::pixels(im.get()), c.out);
    EXPECT_EQ(im.get()->imageType, c.outType ? c.outType : c.type);
    EXPECT_TRUE(im.paddingIntact());
}

INSTANTIATE_TEST_SUITE_P(Filter, IntensityCases, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

// Runs op on a padded wrapped image of `in` and returns its pixels.
Bytes onPadded(int type, int w, int h, const Bytes &in, const std::function<Image *(Image *)> &op)
{
    PaddedImage im(type, w, h, in, 7);
    op(im.get());
    EXPECT_TRUE(im.paddingIntact());
    return kxtest::pixels(im.get());
}

TEST(IntensityMaps, MatchPerPixelRulesOnPaddedRandomImages)
{
    // Padded rows (sentinel 0xA5) must not enter the statistics: the
    // results equal the per-pixel rules over width x height pixels.
    uint32_t seed = 500;
    for (auto [w, h] : {std::pair{1, 2}, {2, 1}, {7, 5}, {31, 17}, {64, 40}}) {
        for (auto [lo, hi] : {std::pair{0, 255}, {60, 90}, {100, 101}}) {
            const Bytes in = kxtest::randomBytes(size_t(w) * h, seed++, lo, hi);
            for (auto [mean, var] : {std::pair{128.f, 900.f}, {30.f, 2500.f}, {250.f, 10000.f}})
                EXPECT_EQ(onPadded(KIT_GRAY, w, h, in, [&](Image *im) { return kxNormalize(im, mean, var); }),
                          refNormalize(in, mean, var))
                    << w << "x" << h << " mean " << mean;
            EXPECT_EQ(onPadded(KIT_GRAY, w, h, in, kxEqualize), refEqualize(in)) << w << "x" << h;
            EXPECT_EQ(onPadded(KIT_GRAY, w, h, in, [](Image *im) { return kxContrast(im, 0.25f, 0.6f); }),
                      mapped(in, [](uint8_t b) -> uint8_t {
                          return b <= 63 ? 0 : b >= 153 ? 255 : uint8_t(double(b - 63) / 90 * 255.0 + 0.5);
                      }));
            const uint8_t mn = *std::min_element(in.begin(), in.end()), mx = *std::max_element(in.begin(), in.end());
            if (mn != mx) {
                EXPECT_EQ(onPadded(KIT_GRAY, w, h, in, kxExpand), mapped(in, [&](uint8_t b) {
                              return uint8_t(double(float(b - mn) / float(mx - mn)) * 255.0);
                          }));
            }
            EXPECT_EQ(onPadded(KIT_GRAY, w, h, in, [](Image *im) { return kxLinear(im, 1.37f, -12.5f); }),
                      mapped(in, [](uint8_t b) { return sat(double(float(float(b) * 1.37f) + -12.5f)); }));
            const Bytes rgb = kxtest::randomBytes(size_t(w) * h * 3, seed++, lo, hi);
            EXPECT_EQ(onPadded(KIT_RGB, w, h, rgb, kxIncreaseLum), refIncreaseLum(rgb)) << w << "x" << h;
        }
    }
}

TEST(IntensityMaps, LinearTablesOnWideImagesEveryTypeAndExtremeArguments)
{
    // The tables go through vector kernels: rows of many widths (odd, and
    // around 32 and 64 bytes), packed and padded, every type and channel
    // selection, and gains and offsets at the edges of the float range.
    const std::pair<float, float> args[] = {{1.37f, -12.5f}, {0.0f, 255.0f}, {-1.0f, 255.0f}, {1e30f, 0.0f},
                                            {-1e30f, 1.0f},  {INFINITY, -1.0f}, {NAN, 3.0f},  {1.0f, -0.0f},
                                            {0.5f, 0.49999997f}, {3.0f, -INFINITY}};
    uint32_t seed = 700;
    for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA})
        for (int w : {1, 11, 21, 22, 33, 67, 130})
            for (auto [gain, offset] : args) {
                const int c = kxtest::bpp(type), h = 3;
                const Bytes in = kxtest::randomBytes(size_t(w) * h * c, seed++);
                auto rule = [&](uint8_t b) -> uint8_t {
                    const float v = float(b) * gain + offset;
                    return v > 255.0f ? 255 : v >= 0.0f ? uint8_t(v) : 0;
                };
                EXPECT_EQ(onPadded(type, w, h, in, [&](Image *im) { return kxLinear(im, gain, offset); }),
                          mapped(in, rule))
                    << "type " << type << " width " << w << " gain " << gain << " offset " << offset;
                if (type == KIT_GRAY) continue;
                for (int channels : {1, 2, 5, 7, 8, 15}) {
                    Bytes want = in;
                    for (size_t i = 0; i < want.size(); ++i)
                        if (channels >> (i % c) & 1) want[i] = rule(want[i]);
                    EXPECT_EQ(onPadded(type, w, h, in, [&](Image *im) { return kxLinearEx(im, channels, gain, offset); }),
                              want)
                        << "type " << type << " width " << w << " channels " << channels;
                }
            }
}

TEST(IntensityMaps, EqualizeSumsLikeAPerPixelAccumulation)
{
    // Level counts that make repeated addition of 1/n differ from k/n.
    for (auto [w, h] : {std::pair{3, 1}, {7, 3}, {10, 10}, {101, 3}, {300, 200}}) {
        const Bytes in = kxtest::randomBytes(size_t(w) * h, uint32_t(w * h), 0, 5);
        EXPECT_EQ(onPadded(KIT_GRAY, w, h, in, kxEqualize), refEqualize(in)) << w << "x" << h;
    }
}

}  // namespace
