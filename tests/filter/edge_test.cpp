// The gradient edge detector: a worked step edge, the mask, agreement with
// the direct version on random images, and the do-nothing cases.
#include "kxtest.hpp"
#include "kxthreads.h"
#include "ref_filter.hpp"

using kxtest::ImagePtr;
using kxtest::PaddedImage;
using Bytes = std::vector<uint8_t>;

namespace {

// 6 x 5 with the given columns set to v.
Bytes columns(std::initializer_list<int> cols, uint8_t v = 1)
{
    Bytes b(30, 0);
    for (int y = 0; y < 5; ++y)
        for (int c : cols) b[size_t(y) * 6 + c] = v;
    return b;
}

TEST(DetectEdge, StepEdge)
{
    // Columns 3..5 at 200: columns 2 and 3 have |gx| = 100, M = 10000; the
    // automatic cutoff is 4 * 60000 / 30 = 8000.  Column 2 has an equal
    // right neighbour, column 3 a smaller one, so column 3 is the edge; the
    // frame extends it.
    const Bytes step = columns({3, 4, 5}, 200), col3 = columns({3});
    Bytes horizontal = col3;  // see below
    horizontal[3 * 6 + 2] = horizontal[4 * 6 + 2] = 1;
    struct Case {
        int direction;
        float threshold;
        Bytes mask, want;
    } cases[] = {
        {0, 0.0f, {}, col3},
        // Without column 3 taking part, column 2 becomes the maximum.
        {0, 0.0f, columns({0, 1, 2, 4, 5}), columns({2})},
        // A threshold of 100 needs M > 10000; the vertical direction alone
        // sees no gradient at all.
        {0, 100.0f, {}, Bytes(30, 0)},
        {2, 1.0f, {}, Bytes(30, 0)},
        // Horizontal only (ky = 0): column 3 as before; in column 2 the
        // vertical test degenerates to 0 >= -eps and its lowest interior
        // pixel (above a frame M of 0) passes, extended into the bottom row.
        {1, 99.9f, {}, horizontal},
    };
    for (const Case &c : cases) {
        PaddedImage mask(KIT_BIN, 6, 5, c.mask, 3);  // its own pitch
        PaddedImage im(KIT_GRAY, 6, 5, step, 9);
        EXPECT_EQ(kxDetectEdge(im.get(), 0, c.direction, c.threshold, c.mask.empty() ? nullptr : mask.get()), im.get());
        EXPECT_EQ(im.get()->imageType, KIT_BIN);
        EXPECT_EQ(kxtest::pixels(im.get()), c.want) << c.direction << " " << c.threshold;
        EXPECT_TRUE(im.paddingIntact());
    }
    // A uniform image gives an empty binary image.
    ImagePtr uniform = kxtest::makeImage(KIT_GRAY, 5, 4, Bytes(20, 77));
    kxDetectEdge(uniform.get(), 0, 0, 0.0f, nullptr);
    EXPECT_EQ(uniform->imageType, KIT_BIN);
    EXPECT_EQ(kxtest::pixels(uniform.get()), Bytes(20, 0));
    // A mask of another size or of three bytes a pixel: nothing done.
    ImagePtr im = kxtest::makeImage(KIT_GRAY, 6, 5, step);
    ImagePtr small = kxtest::makeImage(KIT_BIN, 6, 4, Bytes(24, 1)), colourMask = kxtest::makeImage(KIT_RGB, 6, 5);
    EXPECT_EQ(kxDetectEdge(im.get(), 0, 0, 0, small.get()), im.get());
    kxDetectEdge(im.get(), 0, 0, 0, colourMask.get());
    EXPECT_EQ(im->imageType, KIT_GRAY);
    EXPECT_EQ(kxtest::pixels(im.get()), step);
}

TEST(DetectEdge, MatchesDirectVersionOnRandomImages)
{
    uint32_t seed = 900;
    for (auto [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 3}, {9, 4}, {24, 19}})
        for (int dir : {0, 1, 2})
            for (float thr : {0.0f, -3.0f, 5.0f, 20.5f, 0.1f})
                for (bool useMask : {false, true}) {
                    // Smooth-ish content so that ties and plateaus occur.
                    const Bytes in = kxtest::randomBytes(size_t(w) * h, seed++, 0, 6);
                    const Bytes maskBytes = useMask ? kxtest::randomBytes(size_t(w) * h, seed++, 0, 1) : Bytes();
                    PaddedImage mask(KIT_GRAY, w, h, maskBytes, 2);
                    PaddedImage im(KIT_GRAY, w, h, in);
                    kxDetectEdge(im.get(), 0, dir, thr, useMask ? mask.get() : nullptr);
                    EXPECT_EQ(kxtest::pixels(im.get()), ref::detectEdge(in, w, h, dir, thr, maskBytes))
                        << w << "x" << h << " dir " << dir << " thr " << thr << " mask " << useMask;
                    EXPECT_EQ(im.get()->imageType, KIT_BIN);
                    EXPECT_TRUE(im.paddingIntact());
                }
}

TEST(DetectEdge, EveryThreadCountGivesTheStraightforwardBytes)
{
    uint32_t seed = 9000;
    // Several bands each (one row each for the wide image).
    for (auto [w, h] : {std::pair{257, 2100}, {70000, 9}})
        for (int dir : {0, 1, 2})
            for (auto [thr, useMask] : {std::pair{0.0f, false}, {0.0f, true}, {5.0f, dir == 0}}) {
                const Bytes in = kxtest::randomBytes(size_t(w) * h, seed++, 0, 6);
                const Bytes maskBytes = useMask ? kxtest::randomBytes(size_t(w) * h, seed++, 0, 1) : Bytes();
                const Bytes want = ref::detectEdge(in, w, h, dir, thr, maskBytes);
                PaddedImage mask(KIT_GRAY, w, h, maskBytes, 2);
                for (int n : {1, 2, 3, 8}) {
                    kxtSetThreads(n);
                    PaddedImage im(KIT_GRAY, w, h, in);
                    kxDetectEdge(im.get(), 0, dir, thr, useMask ? mask.get() : nullptr);
                    kxtSetThreads(-1);
                    EXPECT_EQ(kxtest::pixels(im.get()), want)
                        << w << "x" << h << " dir " << dir << " thr " << thr << " mask " << useMask << " threads " << n;
                    EXPECT_TRUE(im.paddingIntact());
                }
            }
}

}  // namespace
