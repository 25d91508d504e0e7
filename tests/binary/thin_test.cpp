// kxThinning and kxSkeleton: worked shapes, degenerate sizes and types.
#include "binary_util.hpp"

using namespace bintest;
using kxtest::PaddedImage;

namespace {

ref::Grid after(const ref::Grid &in, void (*op)(Image *))
{
    auto im = image(in);
    op(im.get());
    return grid(im.get());
}

void thinning(Image *im) { kxThinning(im); }
void skeletonLevels(Image *im) { EXPECT_EQ(kxSkeleton(im, 0), im); }

struct Case {
    const char *name;
    void (*op)(Image *);
    std::vector<std::string> in, out;
};

const Case kCases[] = {
    // The raster order of deletions decides the shape of a 3x3 block.
    {"Block3x3", thinning,
     {".......", ".......", "..###..", "..###..", "..###..", ".......", "......."},
     {".......", ".......", "....#..", "....#..", "..##...", ".......", "......."}},
    {"HorizontalLine", thinning, {".....", ".###.", "....."}, {".....", ".###.", "....."}},
    // 255 is never deleted but is a set neighbour of the pixels around it.
    {"Byte255Kept", thinning,
     {".......", ".......", "..###..", "..#F#..", "..###..", ".......", "......."},
     {".......", ".......", "....#..", "...F...", "..#....", ".......", "......."}},
    {"Thin1x1", thinning, {"#"}, {"#"}},
    {"ThinTwoRows", thinning, {"#####", "#####"}, {"#####", "#####"}},
    {"ThinTwoColumns", thinning, {"##", "##", "##"}, {"##", "##", "##"}},
    // Levels 1, 2, 3 from the block's edge inward: maxima on the diagonals
    // and at the four corners just outside the block.
    {"Levels9x9", skeletonLevels,
     {".........", ".........", "..#####..", "..#####..", "..#####..", "..#####..", "..#####..", ".........",
      "........."},
     {".........", ".#.....#.", "..#...#..", "...#.#...", "....#....", "...#.#...", "..#...#..", ".#.....#.",
      "........."}},
    {"LevelsEmpty", skeletonLevels, {".....", ".....", ".....", "....."}, {".....", ".###.", ".###.", "....."}},
    {"LevelsNarrowCleared", skeletonLevels, {"####", "####"}, {"....", "...."}},
    {"LevelsSingleColumn", skeletonLevels, {"#", "#", "#"}, {".", ".", "."}},
};

class Shapes : public testing::TestWithParam<Case> {};

TEST_P(Shapes, GiveTheDrawnResult)
{
    const Case &c = GetParam();
    EXPECT_EQ(after(draw(c.in), c.op).px, draw(c.out).px);
}

INSTANTIATE_TEST_SUITE_P(Thin, Shapes, testing::ValuesIn(kCases), [](const auto &i) { return i.param.name; });

// Only pixels of value 1 that match a template go, so the result is a
// fixed point: no pixel of value 1 matches any template any more.
TEST(Thinning, ResultIsAFixedPointOnNoise)
{
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const ref::Grid once = after(noise(23 + int(seed), 17, 700, seed), thinning);
        EXPECT_EQ(after(once, thinning).px, once.px) << seed;
    }
}

TEST(Thinning, SecondPassOnBlockDeletesNothing)
{
    const ref::Grid once = after(draw(kCases[0].in), thinning);
    EXPECT_EQ(after(once, thinning).px, once.px);
}

TEST(Skeleton, MethodOneIsThinning)
{
    const ref::Grid in = noise(31, 29, 650, 7);
    auto im = image(in);
    EXPECT_EQ(kxSkeleton(im.get(), 1), im.get());
    EXPECT_EQ(grid(im.get()).px, after(in, thinning).px);
}

TEST(Skeleton, OtherMethodsAndTypesLeaveTheImage)
{
    const ref::Grid in = noise(9, 8, 500, 3);
    for (int method : {2, -1, 100}) {
        auto im = image(in);
        EXPECT_EQ(kxSkeleton(im.get(), method), im.get());
        EXPECT_EQ(grid(im.get()).px, in.px) << method;
    }
    for (int method : {0, 1}) {
        auto gray = image(in, KIT_GRAY);
        EXPECT_EQ(kxSkeleton(gray.get(), method), gray.get());
        EXPECT_EQ(grid(gray.get()).px, in.px);
    }
    auto gray = image(in, KIT_GRAY);
    kxThinning(gray.get());
    EXPECT_EQ(grid(gray.get()).px, in.px);
}

TEST(Skeleton, WrappedRowsKeepTheirPadding)
{
    const ref::Grid in = noise(19, 13, 600, 11);
    for (int method : {0, 1}) {
        PaddedImage padded(KIT_BIN, in.w, in.h, in.px);
        auto packed = image(in);
        kxSkeleton(padded.get(), method);
        kxSkeleton(packed.get(), method);
        EXPECT_TRUE(padded.paddingIntact());
        EXPECT_EQ(grid(padded.get()).px, grid(packed.get()).px) << method;
    }
}

TEST(Skeleton, NullImageAsserts)
{
    EXPECT_KX_ASSERT(kxThinning(nullptr), "image");
    EXPECT_KX_ASSERT(kxSkeleton(nullptr, 0), "image");
}

}  // namespace
