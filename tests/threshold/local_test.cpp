// Local integral thresholding against full-size integral tables, the worked
// values and the settled cases of the window side.
#include <cmath>

#include "kxtest.hpp"
#include "ref_local.hpp"

using namespace kxtest;

namespace {

TEST(Threshold, LocalIntegralMatchesIntegralTables)
{
    const struct {
        int window;
        uint8_t range;
        float k;
    } params[] = {{1, 128, 0.5f}, {3, 128, 0.2f}, {4, 128, 0.5f}, {5, 64, -0.3f},   {9, 255, 1.5f},
                  {15, 1, 0.5f},  {31, 128, 0.34f}, {2, 0, 0.5f}, {7, 0, 0.0f},     {6, 0, -1.0f},
                  {0, 128, 0.5f}, {-6, 128, 0.5f}, {101, 128, 0.25f}, {3, 200, 0.0f}};
    std::mt19937 rng(31);
    int trial = 0;
    for (const auto &p : params)
        for (int shape = 0; shape < 4; ++shape, ++trial) {
            SCOPED_TRACE(testing::Message() << "window " << p.window << " range " << int(p.range) << " k " << p.k
                                            << " shape " << shape);
            // Random, low deviation, uniform, a sparse bright pattern.
            const int w = 1 + int(rng() % 33), h = 1 + int(rng() % 21);
            std::vector<uint8_t> in = shape == 0   ? randomBytes(size_t(w) * h, trial)
                                      : shape == 1 ? randomBytes(size_t(w) * h, trial, 190, 210)
                                                   : std::vector<uint8_t>(size_t(w) * h, uint8_t(rng() % 256));
            for (int i = 0; shape == 3 && i < w * h; ++i) in[size_t(i)] = (i / 3 + i % w) % 5 == 0 ? 255 : 17;
            PaddedImage im(KIT_GRAY, w, h, in);
            EXPECT_EQ(kxbLocalIntegral(im.get(), p.window, p.range, p.k), im.get());
            EXPECT_EQ(pixels(im.get()), ref::localIntegral(makeImage(KIT_GRAY, w, h, in).get(), p.window, p.range, p.k));
            EXPECT_EQ(im.get()->imageType, KIT_BIN);
            EXPECT_TRUE(im.paddingIntact());
        }
}

TEST(Threshold, LocalIntegralWorkedValues)
{
    std::vector<uint8_t> dot(25, 0), dotOut(25, 0), flatOut(25, 0);
    dot[12] = 255;
    dotOut[12] = 1;
    for (int i : {6, 7, 8, 11, 12, 13, 16, 17, 18}) flatOut[size_t(i)] = 1;
    const struct {
        const char *name;
        int side;
        std::vector<uint8_t> in;
        int window, range;
        float k;
        std::vector<uint8_t> out;
    } cases[] = {
        // Inside T = 100; at a corner M = 72, s = 96 and T = 63: all brighter.
        {"Uniform200", 6, std::vector<uint8_t>(36, 200), 5, 128, 0.5f, std::vector<uint8_t>(36, 1)},
        // k = 0: T is the zero-padded window mean.  The lone bright pixel
        // beats its mean; its neighbours (mean 255/9) and the far pixels
        // (mean 0) do not.
        {"LoneDot", 5, dot, 3, 128, 0.0f, dotOut},
        // Range 0: on the uniform interior s = 0 and s / 0 is undefined: 1;
        // near the border s > 0 and T = +inf for k > 0: 0.
        {"RangeZero", 5, std::vector<uint8_t>(25, 90), 3, 0, 0.5f, flatOut},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ImagePtr im = makeImage(KIT_GRAY, c.side, c.side, c.in);
        kxbLocalIntegral(im.get(), c.window, uint8_t(c.range), c.k);
        EXPECT_EQ(pixels(im.get()), c.out);
    }
}

TEST(Threshold, LocalIntegralWindowSides)
{
    const auto in = randomBytes(13 * 7, 4);
    auto run = [&](int window) {
        ImagePtr im = makeImage(KIT_GRAY, 13, 7, in);
        kxbLocalIntegral(im.get(), window, 128, 0.3f);
        return pixels(im.get());
    };
    EXPECT_EQ(run(4), run(5));   // an even side acts as the next odd one
    EXPECT_EQ(run(0), run(1));   // 0 is even: 1
    EXPECT_EQ(run(-8), run(1));  // negative sides count as 1
    EXPECT_EQ(run(INT32_MIN), run(1));
    // Windows far larger than the image: the whole image in every window,
    // divided by a huge area: the mean is ~0 and every non-zero pixel is 1.
    const auto huge = run(INT32_MAX);
    for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(huge[i], in[i] > 0 ? 1 : 0) << i;
    EXPECT_EQ(run(INT32_MAX - 1), huge);
}

}  // namespace
