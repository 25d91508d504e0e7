// The gradient edge detector: a worked step edge, the mask, agreement with
// the direct version on random images, and the do-nothing cases.
#include "kxtest.hpp"
#include "ref_filter.hpp"

using kxtest::ImagePtr;
using kxtest::PaddedImage;
using Bytes = std::vector<uint8_t>;

namespace {

// 6 x 5, columns 0..2 black, 3..5 at 200.
Bytes stepImage()
{
    Bytes b(30);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) b[size_t(y) * 6 + x] = x >= 3 ? 200 : 0;
    return b;
}

Bytes column(int w, int h, int col)
{
    Bytes b(size_t(w) * h, 0);
    for (int y = 0; y < h; ++y) b[size_t(y) * w + col] = 1;
    return b;
}

TEST(DetectEdge, StepEdgeMarksTheColumnPastTheStep)
{
    // Columns 2 and 3 have |gx| = 100, M = 10000; the automatic cutoff is
    // 4 * 60000 / 30 = 8000.  Column 2 has an equal right neighbour, column
    // 3 a smaller one, so column 3 is the edge; the frame extends it.
    PaddedImage im(KIT_GRAY, 6, 5, stepImage());
    EXPECT_EQ(kxDetectEdge(im.get(), 0, 0, 0.0f, nullptr), im.get());
    EXPECT_EQ(im.get()->imageType, KIT_BIN);
    EXPECT_EQ(kxtest::pixels(im.get()), column(6, 5, 3));
    EXPECT_TRUE(im.paddingIntact());
}

TEST(DetectEdge, MaskWithItsOwnPitchExcludesPixels)
{
    // Without column 3 taking part, column 2 becomes the maximum.
    Bytes maskBytes(30, 1);
    for (int y = 0; y < 5; ++y) maskBytes[size_t(y) * 6 + 3] = 0;
    PaddedImage mask(KIT_BIN, 6, 5, maskBytes, 3);
    PaddedImage im(KIT_GRAY, 6, 5, stepImage(), 9);
    kxDetectEdge(im.get(), 0, 0, 0.0f, mask.get());
    EXPECT_EQ(kxtest::pixels(im.get()), column(6, 5, 2));
}

TEST(DetectEdge, ThresholdAndDirection)
{
    // |gx| = 100: a threshold of 100 needs M > 10000, so nothing is set;
    // the vertical direction alone sees no gradient at all.
    for (auto [dir, thr] : {std::pair{0, 100.0f}, {2, 1.0f}}) {
        ImagePtr im = kxtest::makeImage(KIT_GRAY, 6, 5, stepImage());
        kxDetectEdge(im.get(), 0, dir, thr, nullptr);
        EXPECT_EQ(kxtest::pixels(im.get()), Bytes(30, 0)) << dir;
    }
    // Horizontal only (ky = 0): column 3 as before; in column 2 the
    // vertical test degenerates to 0 >= -eps and its lowest interior pixel
    // (above a frame M of 0) passes, extended into the bottom row.
    ImagePtr im = kxtest::makeImage(KIT_GRAY, 6, 5, stepImage());
    kxDetectEdge(im.get(), 0, 1, 99.9f, nullptr);
    Bytes want = column(6, 5, 3);
    want[3 * 6 + 2] = want[4 * 6 + 2] = 1;
    EXPECT_EQ(kxtest::pixels(im.get()), want);
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
                    PaddedImage mask(KIT_GRAY, w, h, maskBytes.empty() ? Bytes(size_t(w) * h, 1) : maskBytes, 2);
                    PaddedImage im(KIT_GRAY, w, h, in);
                    kxDetectEdge(im.get(), 0, dir, thr, useMask ? mask.get() : nullptr);
                    EXPECT_EQ(kxtest::pixels(im.get()), ref::detectEdge(in, w, h, dir, thr, maskBytes))
                        << w << "x" << h << " dir " << dir << " thr " << thr << " mask " << useMask;
                    EXPECT_EQ(im.get()->imageType, KIT_BIN);
                    EXPECT_TRUE(im.paddingIntact());
                }
}

TEST(DetectEdge, UniformImageGivesEmptyBinaryImage)
{
    ImagePtr im = kxtest::makeImage(KIT_GRAY, 5, 4, Bytes(20, 77));
    kxDetectEdge(im.get(), 0, 0, 0.0f, nullptr);
    EXPECT_EQ(im->imageType, KIT_BIN);
    EXPECT_EQ(kxtest::pixels(im.get()), Bytes(20, 0));
}

TEST(DetectEdge, DoNothingCases)
{
    EXPECT_EQ(kxDetectEdge(nullptr, 0, 0, 0, nullptr), nullptr);
    EXPECT_EQ(kxDetectEdge(nullptr, 1, 0, 0, nullptr), nullptr);
    ImagePtr im = kxtest::makeImage(KIT_GRAY, 6, 5, stepImage());
    ImagePtr small = kxtest::makeImage(KIT_BIN, 6, 4, Bytes(24, 1));
    ImagePtr colourMask = kxtest::makeImage(KIT_RGB, 6, 5);
    EXPECT_EQ(kxDetectEdge(im.get(), 1, 0, 0, nullptr), im.get());     // another method
    EXPECT_EQ(kxDetectEdge(im.get(), 0, 0, 0, small.get()), im.get());  // mask of another size
    kxDetectEdge(im.get(), 0, 0, 0, colourMask.get());                 // mask of three bytes a pixel
    EXPECT_EQ(im->imageType, KIT_GRAY);
    EXPECT_EQ(kxtest::pixels(im.get()), stepImage());
    for (int type : {KIT_BIN, KIT_RGB, KIT_RGBA}) {
        ImagePtr other = kxtest::randomImage(type, 4, 4, 5);
        const Bytes before = kxtest::pixels(other.get());
        kxDetectEdge(other.get(), 0, 0, 0, nullptr);
        EXPECT_EQ(other->imageType, type);
        EXPECT_EQ(kxtest::pixels(other.get()), before);
    }
}

}  // namespace
