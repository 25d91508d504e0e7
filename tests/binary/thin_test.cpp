// kxThinning and kxSkeleton: worked shapes, degenerate sizes, a fixed point
// on noise and padded rows.
#include "binary_util.hpp"

using namespace bintest;
using kxtest::PaddedImage;

namespace {

// The result of kxSkeleton with `method` (1 thins) on a copy of `in`.
ref::Grid after(const ref::Grid &in, int method)
{
    auto im = image(in);
    EXPECT_EQ(kxSkeleton(im.get(), method), im.get());
    return grid(im.get());
}

struct Case {
    const char *name;
    int method;
    const char *in, *out;  // rows separated by spaces
};

const Case kCases[] = {
    // The raster order of deletions decides the shape of a 3x3 block.
    {"Block3x3", 1, "....... ....... ..###.. ..###.. ..###.. ....... .......",
     "....... ....... ....#.. ....#.. ..##... ....... ......."},
    {"HorizontalLine", 1, "..... .###. .....", "..... .###. ....."},
    // 255 is never deleted but is a set neighbour of the pixels around it.
    {"Byte255Kept", 1, "....... ....... ..###.. ..#F#.. ..###.. ....... .......",
     "....... ....... ....#.. ...F... ..#.... ....... ......."},
    {"Thin1x1", 1, "#", "#"},
    {"ThinTwoRows", 1, "##### #####", "##### #####"},
    {"ThinTwoColumns", 1, "## ## ##", "## ## ##"},
    // Levels 1, 2, 3 from the block's edge inward: maxima on the diagonals
    // and at the four corners just outside the block.
    {"Levels9x9", 0,
     "......... ......... ..#####.. ..#####.. ..#####.. ..#####.. ..#####.. ......... .........",
     "......... .#.....#. ..#...#.. ...#.#... ....#.... ...#.#... ..#...#.. .#.....#. ........."},
    {"LevelsEmpty", 0, "..... ..... ..... .....", "..... .###. .###. ....."},
    {"LevelsNarrowCleared", 0, "#### ####", ".... ...."},
    {"LevelsSingleColumn", 0, "# # #", ". . ."},
};

TEST(Skeleton, DrawnShapes)
{
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(after(draw(c.in), c.method).px, draw(c.out).px);
        if (c.method == 1) {  // kxThinning is method 1
            auto im = image(draw(c.in));
            kxThinning(im.get());
            EXPECT_EQ(grid(im.get()).px, draw(c.out).px);
        }
    }
}

// Only pixels of value 1 that match a template go, so the result is a
// fixed point: no pixel of value 1 matches any template any more.
TEST(Skeleton, ThinningIsAFixedPointOnNoise)
{
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const ref::Grid once = after(noise(23 + int(seed), 17, 700, seed), 1);
        EXPECT_EQ(after(once, 1).px, once.px) << seed;
    }
}

TEST(Skeleton, WrappedRowsKeepTheirPadding)
{
    const ref::Grid in = noise(19, 13, 600, 11);
    for (int method : {0, 1}) {
        PaddedImage padded(KIT_BIN, in.w, in.h, in.px);
        kxSkeleton(padded.get(), method);
        EXPECT_TRUE(padded.paddingIntact());
        EXPECT_EQ(grid(padded.get()).px, after(in, method).px) << method;
    }
}

TEST(Skeleton, OtherMethodsLeaveTheImage)
{
    const ref::Grid in = noise(9, 8, 500, 3);
    for (int method : {2, -1, 100}) EXPECT_EQ(after(in, method).px, in.px) << method;
}

}  // namespace
