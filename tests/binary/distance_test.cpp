// kxDistTrans, kxErodeE1 and kxEclose: the size query, the two passes against brute force, and the mask weights.
#include "binary_util.hpp"

using namespace bintest;

namespace {

TEST(DistTrans, SizeQueryCapacityAndAllSet)
{
    auto im = image(noise(10, 8, 500, 1)), gray = image(noise(4, 4, 500, 1), KIT_GRAY);
    std::vector<int32_t> d(80, -7);
    EXPECT_EQ(kxDistTrans(im.get(), nullptr, 0), 80);
    EXPECT_EQ(kxDistTrans(im.get(), d.data(), 79), 0);  // too small: untouched
    EXPECT_EQ(d, std::vector<int32_t>(80, -7));
    EXPECT_EQ(kxDistTrans(im.get(), d.data(), UINT32_MAX), 80);
    EXPECT_EQ(kxDistTrans(gray.get(), nullptr, 0) + kxDistTrans(nullptr, d.data(), 80), 0);
    // Every pixel set: all distances are 0, so kxErodeE1 of radius 1 clears everything.
    auto full = image(Grid{6, 5, Bytes(30, 1)});
    kxErodeE1(full.get(), 1);
    EXPECT_EQ(grid(full.get()).px, Bytes(30, 0));
}

// The passes run eight entries at a time where the processor allows: widths
// around the block length, sparse unset pixels (runs carried across blocks)
// and dense ones.  kxErodeE1 clears the set pixels nearer than the radius.
TEST(DistTrans, TwoPassesEqualBruteForce)
{
    std::mt19937 rng(5);
    const int perMille[] = {1000, 999, 990, 900, 500, 100};
    for (int iter = 0; iter < 300; ++iter) {
        SCOPED_TRACE(iter);
        const int w = iter < 100 ? 1 + iter % 50 : 1 + int(rng() % (iter % 5 ? 200 : 40)), h = 1 + int(rng() % (iter % 5 ? 12 : 60));
        Grid g = noise(w, h, perMille[iter % 6], uint32_t(iter) + 1000);
        if (iter % 6 == 0) g.at(int(rng() % unsigned(w)), int(rng() % unsigned(h))) = 0;  // one unset pixel
        const auto expected = distances(g);
        PaddedImage im(KIT_BIN, w, h, g.px, int(iter % 3) * 4);
        std::vector<int32_t> d(size_t(w) * h + 1, -1);
        ASSERT_EQ(kxDistTrans(im.get(), d.data(), uint32_t(d.size())), w * h);
        EXPECT_EQ(d.back(), -1);  // nothing past width * height entries
        d.pop_back();
        ASSERT_EQ(d, expected) << w << "x" << h;
        const int radius = iter % 5 - 1;
        EXPECT_EQ(kxErodeE1(im.get(), radius), im.get());
        for (size_t i = 0; i < g.px.size(); ++i)
            if (g.px[i] && expected[i] < radius) g.px[i] = 0;
        ASSERT_EQ(grid(im.get()).px, g.px) << "radius " << radius;
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(Eclose, WeightsTheMaskByTheCubeOfItsSmoothedValue)
{
    // Radius 1 (also 0) smooths nothing: the cube rule on the bytes
    // themselves.  Regression: a window the smoothing refuses (5000) used to
    // leave the mask unchanged; the unsmoothed copy is weighted instead.
    for (int radius : {1, 0, 5000}) {
        PaddedImage m(KIT_GRAY, 4, 2, {128, 200, 254, 1, 255, 0, 64, 2});
        kxEclose(m.get(), radius);
        EXPECT_EQ(grid(m.get()).px, (Bytes{32, 123, 252, 0, 255, 0, 4, 0})) << radius;
        EXPECT_TRUE(m.paddingIntact());
    }
    // A binary mask stays KIT_BIN with weights 0..255: full deep inside, 0
    // outside, on the edge [1 2 1] / 4 across gives about 191, which cubes to 107.
    Grid g = draw("............ ..#########. ..#########. ..#########. ..#########. ..#########. ..#########. ..#########. ............");
    PaddedImage m(KIT_BIN, g.w, g.h, g.px), one(KIT_BIN, 3, 1, {1, 0, 1});
    kxEclose(m.get(), 3), kxEclose(one.get(), 5000);
    const Grid w = grid(m.get());
    EXPECT_TRUE(m.get()->imageType == KIT_BIN && m.paddingIntact());
    EXPECT_TRUE(w.at(6, 4) == 255 && w.at(1, 4) == 0 && w.at(2, 4) > 100 && w.at(2, 4) < 110) << int(w.at(2, 4));
    EXPECT_EQ(grid(one.get()).px, (Bytes{255, 0, 255}));
}

}  // namespace
