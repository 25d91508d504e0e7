// Local integral thresholding against full-size integral tables, and the
// settled cases of the window side.
#include <cmath>

#include "kxtest.hpp"
#include "ref_local.hpp"

using namespace kxtest;

namespace {

struct Params {
    int window;
    uint8_t range;
    float k;
};

TEST(Threshold, LocalIntegralMatchesIntegralTables)
{
    const Params params[] = {{1, 128, 0.5f},   {3, 128, 0.2f},  {4, 128, 0.5f},    {5, 64, -0.3f}, {9, 255, 1.5f},
                             {15, 1, 0.5f},    {31, 128, 0.34f}, {2, 0, 0.5f},      {7, 0, 0.0f},   {6, 0, -1.0f},
                             {0, 128, 0.5f},   {-6, 128, 0.5f}, {101, 128, 0.25f}, {3, 200, 0.0f}};
    std::mt19937 rng(31);
    int trial = 0;
    for (const Params &p : params)
        for (int shape = 0; shape < 4; ++shape, ++trial) {
            SCOPED_TRACE(testing::Message() << "window " << p.window << " range " << int(p.range) << " k " << p.k
                                            << " shape " << shape);
            const int w = 1 + int(rng() % 33), h = 1 + int(rng() % 21);
            std::vector<uint8_t> in;
            if (shape == 0) in = randomBytes(size_t(w) * h, trial);
            if (shape == 1) in = randomBytes(size_t(w) * h, trial, 190, 210);  // low deviation
            if (shape == 2) in.assign(size_t(w) * h, uint8_t(rng() % 256));    // uniform
            if (shape == 3) {
                for (int i = 0; i < w * h; ++i) in.push_back((i / 3 + i % w) % 5 == 0 ? 255 : 17);
            }
            ImagePtr packed = makeImage(KIT_GRAY, w, h, in);
            const auto expected = ref::localIntegral(packed.get(), p.window, p.range, p.k);
            PaddedImage im(KIT_GRAY, w, h, in);
            EXPECT_EQ(kxbLocalIntegral(im.get(), p.window, p.range, p.k), im.get());
            EXPECT_EQ(pixels(im.get()), expected);
            EXPECT_EQ(im.get()->imageType, KIT_BIN);
            EXPECT_TRUE(im.paddingIntact());
        }
}

TEST(Threshold, LocalIntegralWorkedValues)
{
    // Uniform 200, window 5, range 128, k 0.5: inside, T = 100; at a corner
    // M = 72, s = 96 and T = 63.  Every pixel is brighter: all 1.
    ImagePtr im = makeImage(KIT_GRAY, 6, 6, std::vector<uint8_t>(36, 200));
    kxbLocalIntegral(im.get(), 5, 128, 0.5f);
    EXPECT_EQ(pixels(im.get()), std::vector<uint8_t>(36, 1));

    // k = 0: T is the zero-padded window mean.  A lone bright pixel in 3x3
    // windows: the pixel itself beats its mean; its neighbours (mean 255/9)
    // are 0 and below it; the far pixels have mean 0 and are 0 too.
    std::vector<uint8_t> in(25, 0);
    in[12] = 255;
    ImagePtr dot = makeImage(KIT_GRAY, 5, 5, in);
    kxbLocalIntegral(dot.get(), 3, 128, 0.0f);
    std::vector<uint8_t> out(25, 0);
    out[12] = 1;
    EXPECT_EQ(pixels(dot.get()), out);

    // Range 0: on a uniform interior s = 0, s / 0 is undefined and the pixel
    // becomes 1; where s > 0 (near the border) T = +inf for k > 0: 0.
    ImagePtr flat = makeImage(KIT_GRAY, 5, 5, std::vector<uint8_t>(25, 90));
    kxbLocalIntegral(flat.get(), 3, 0, 0.5f);
    const auto r = pixels(flat.get());
    EXPECT_EQ(r[12], 1);
    EXPECT_EQ(r[0], 0);
}

TEST(Threshold, LocalIntegralWindowSides)
{
    const auto in = randomBytes(13 * 7, 4);
    auto run = [&](int window) {
        ImagePtr im = makeImage(KIT_GRAY, 13, 7, in);
        kxbLocalIntegral(im.get(), window, 128, 0.3f);
        return pixels(im.get());
    };
    EXPECT_EQ(run(4), run(5));       // an even side acts as the next odd one
    EXPECT_EQ(run(0), run(1));       // 0 is even: 1
    EXPECT_EQ(run(-8), run(1));      // negative sides count as 1
    EXPECT_EQ(run(INT32_MIN), run(1));
    // Windows far larger than the image: the whole image in every window,
    // divided by a huge area: the mean is ~0 and every non-zero pixel is 1.
    const auto huge = run(INT32_MAX);
    for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(huge[i], in[i] > 0 ? 1 : 0) << i;
    EXPECT_EQ(run(INT32_MAX - 1), huge);
}

TEST(Threshold, LocalIntegralLeavesOtherInputsAlone)
{
    EXPECT_EQ(kxbLocalIntegral(nullptr, 5, 128, 0.5f), nullptr);
    for (int type : {KIT_BIN, KIT_RGB, KIT_RGBA}) {
        ImagePtr im = randomImage(type, 4, 3, 9);
        const auto before = pixels(im.get());
        EXPECT_EQ(kxbLocalIntegral(im.get(), 5, 128, 0.5f), im.get());
        EXPECT_EQ(pixels(im.get()), before);
        EXPECT_EQ(im->imageType, type);
    }
}

}  // namespace
