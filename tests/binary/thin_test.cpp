// kxThinning and kxSkeleton: drawn shapes, invariants, and the bit-plane
// thinning against byte-by-byte raster passes.
#include "binary_util.hpp"

using namespace bintest;

namespace {

// The result of kxSkeleton with `method` (1 thins) on a padded copy of `in`.
Grid after(const Grid &in, int method)
{
    PaddedImage im(KIT_BIN, in.w, in.h, in.px);
    EXPECT_EQ(kxSkeleton(im.get(), method), im.get());
    EXPECT_TRUE(im.paddingIntact());
    return grid(im.get());
}

// Method 0 marks the local maxima of the level map (levels 1, 2, 3 from a
// block's edge inward: maxima on the diagonals and at the four corners just
// outside the block); methods other than 0 and 1 leave the image.
TEST(Skeleton, LevelMaximaAndOtherMethods)
{
    for (auto [method, in, out] :
         {std::tuple{0, "......... ......... ..#####.. ..#####.. ..#####.. ..#####.. ..#####.. ......... .........",
                     "......... .#.....#. ..#...#.. ...#.#... ....#.... ...#.#... ..#...#.. .#.....#. ........."},
          {0, "..... ..... ..... .....", "..... .###. .###. ....."}, {0, "#### ####", ".... ...."}, {0, "# # #", ". . ."},
          {2, "#.#. .##. ###.", "#.#. .##. ###."}})
        EXPECT_EQ(after(draw(in), method).px, draw(out).px) << in;
}

// The library thins 64 pixels at a time on bit planes; the raster passes
// must give the same bytes on padded images of every size, with rows
// shorter than a word and rows just past word boundaries.  The result is a
// fixed point: thinning it again changes nothing.
TEST(Skeleton, ThinningMatchesRasterPassesAndIsIdempotent)
{
    const int widths[] = {1, 2, 3, 5, 8, 17, 31, 62, 63, 64, 65, 66, 100, 127, 128, 129, 130, 191, 192, 193};
    const int density[] = {30, 300, 550, 800, 970, 990};
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        const bool big = seed % 40 == 0;
        const int w = big ? 257 : seed % 2 ? widths[seed / 2 % 20] : 1 + int(seed * 7 % 150);
        const int h = big ? 131 : 1 + int(seed * 13 % 43);
        Grid in = noise(w, h, density[seed % 6], seed);  // dense noise is thick: many passes
        for (size_t k = seed % 4 ? in.px.size() : 0; k < in.px.size(); k += 7) in.px[k] = uint8_t(k % 2 ? 255 : 2 + k % 9);
        Grid expected = in;
        thin(expected);
        PaddedImage padded(KIT_BIN, w, h, in.px, int(seed % 9));
        kxThinning(padded.get());
        ASSERT_EQ(grid(padded.get()).px, expected.px);
        EXPECT_TRUE(padded.paddingIntact());
        if (seed % 10 == 0) {
            EXPECT_EQ(after(expected, 1).px, expected.px);
        }
    }
}

}  // namespace
