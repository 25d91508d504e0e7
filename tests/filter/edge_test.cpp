// The gradient edge detector: worked step edges in both directions, the
// mask, the cutoff, and the do-nothing cases.
#include "kxtest.hpp"

using kxtest::PaddedImage;
using Bytes = std::vector<uint8_t>;

namespace {

// w x h with the given columns (or rows) set to v.
Bytes lines(int w, int h, std::initializer_list<int> which, bool rows, uint8_t v = 1)
{
    Bytes b(size_t(w) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int i : which)
                if ((rows ? y : x) == i) b[size_t(y) * w + x] = v;
    return b;
}

TEST(DetectEdge, StepEdges)
{
    // Columns 3..5 at 200: columns 2 and 3 have |gx| = 100, M = 10000; the
    // automatic cutoff is 4 * 60000 / 30 = 8000.  Column 2 has an equal
    // right neighbour, column 3 a smaller one, so column 3 is the edge; the
    // frame extends it.  The same on rows for the vertical gradient.
    const Bytes step = lines(6, 5, {3, 4, 5}, false, 200), col3 = lines(6, 5, {3}, false);
    Bytes horizontal = col3;  // see below
    horizontal[3 * 6 + 2] = horizontal[4 * 6 + 2] = 1;
    const struct { int w, h; Bytes in; int direction; float threshold; Bytes mask, want; } cases[] = {
        {6, 5, step, 0, 0.0f, {}, col3},
        {5, 6, lines(5, 6, {3, 4, 5}, true, 200), 0, -3.0f, {}, lines(5, 6, {3}, true)},  // below 0: automatic
        // Without column 3 taking part, column 2 becomes the maximum.
        {6, 5, step, 0, 0.0f, lines(6, 5, {0, 1, 2, 4, 5}, false), lines(6, 5, {2}, false)},
        {6, 5, step, 0, 0.0f, Bytes(30, 1), col3},  // a mask selecting all
        // A threshold of 100 needs M > 10000; the vertical direction alone
        // sees no gradient at all.
        {6, 5, step, 0, 100.0f, {}, Bytes(30, 0)},
        {6, 5, step, 2, 1.0f, {}, Bytes(30, 0)},
        // Horizontal only (ky = 0): column 3 as before; in column 2 the
        // vertical test degenerates to 0 >= -eps and its lowest interior
        // pixel (above a frame M of 0) passes, extended into the bottom row.
        {6, 5, step, 1, 99.9f, {}, horizontal},
        {5, 4, Bytes(20, 77), 0, 0.0f, {}, Bytes(20, 0)},  // uniform: no edge
    };
    for (const auto &c : cases) {
        PaddedImage mask(KIT_BIN, c.w, c.h, c.mask, 3);  // its own pitch
        PaddedImage im(KIT_GRAY, c.w, c.h, c.in, 9);
        EXPECT_EQ(kxDetectEdge(im.get(), 0, c.direction, c.threshold, c.mask.empty() ? nullptr : mask.get()), im.get());
        EXPECT_EQ(im.get()->imageType, KIT_BIN);
        EXPECT_EQ(kxtest::pixels(im.get()), c.want) << c.w << "x" << c.h << " " << c.direction << " " << c.threshold;
        EXPECT_TRUE(im.paddingIntact());
    }
    // A mask of another size or of three bytes a pixel: nothing done.
    kxtest::ImagePtr im = kxtest::makeImage(KIT_GRAY, 6, 5, step);
    kxtest::ImagePtr small = kxtest::makeImage(KIT_BIN, 6, 4, Bytes(24, 1)), colour = kxtest::makeImage(KIT_RGB, 6, 5);
    EXPECT_EQ(kxDetectEdge(im.get(), 0, 0, 0, small.get()), im.get());
    kxDetectEdge(im.get(), 0, 0, 0, colour.get());
    EXPECT_EQ(im->imageType, KIT_GRAY);
    EXPECT_EQ(kxtest::pixels(im.get()), step);
}

}  // namespace
