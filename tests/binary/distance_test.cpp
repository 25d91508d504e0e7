// kxDistTrans and kxErodeE1: the size query, the worked distances and the
// two-pass reference on noise.
#include "binary_util.hpp"

using namespace bintest;
using kxtest::PaddedImage;

namespace {

TEST(DistTrans, SizeQueryAndCapacity)
{
    auto im = image(noise(10, 8, 500, 1));
    EXPECT_EQ(kxDistTrans(im.get(), nullptr, 0), 80);
    std::vector<int32_t> d(80, -7);
    EXPECT_EQ(kxDistTrans(im.get(), d.data(), 79), 0);
    EXPECT_EQ(d, std::vector<int32_t>(80, -7));
    EXPECT_EQ(kxDistTrans(im.get(), d.data(), 80), 80);
    EXPECT_EQ(kxDistTrans(im.get(), d.data(), UINT32_MAX), 80);
    auto gray = image(noise(4, 4, 500, 1), KIT_GRAY);
    EXPECT_EQ(kxDistTrans(gray.get(), nullptr, 0), 0);
    EXPECT_EQ(kxDistTrans(nullptr, d.data(), 80), 0);
}

TEST(DistTrans, WorkedDistances)
{
    // One unset interior pixel at (1, 1): a side or corner step gives 1,
    // two side steps give 2, a side step plus a diagonal gives 2 (24).
    ref::Grid g{7, 6, ref::Bytes(42, 1)};
    g.at(1, 1) = 0;
    auto im = image(g);
    std::vector<int32_t> d(42);
    ASSERT_EQ(kxDistTrans(im.get(), d.data(), 42), 42);
    auto at = [&](int x, int y) { return d[size_t(y) * 7 + x]; };
    EXPECT_EQ(at(1, 1), 0);
    EXPECT_EQ(at(2, 1), 1);
    EXPECT_EQ(at(2, 2), 1);
    EXPECT_EQ(at(3, 1), 2);
    EXPECT_EQ(at(3, 2), 2);
    EXPECT_EQ(at(3, 3), 2);  // 28
    EXPECT_EQ(at(0, 0), 0);  // the frame
    EXPECT_EQ(at(6, 5), 0);
}

TEST(DistTrans, MatchesReferenceOnNoise)
{
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        const int w = 1 + int(seed * 7 % 37), h = 1 + int(seed * 3 % 29);
        const ref::Grid g = noise(w, h, seed % 2 ? 900 : 600, seed);
        PaddedImage im(KIT_BIN, w, h, g.px);
        std::vector<int32_t> d(size_t(w) * h + 1, -1);
        ASSERT_EQ(kxDistTrans(im.get(), d.data(), uint32_t(d.size())), w * h);
        EXPECT_EQ(d.back(), -1);  // nothing past width * height entries
        d.pop_back();
        ASSERT_EQ(d, ref::distances(g)) << "seed " << seed;
    }
}

TEST(ErodeE1, ClearsByDistance)
{
    // Every pixel set: all distances are 0, so radius 1 clears everything.
    auto full = image(ref::Grid{6, 5, ref::Bytes(30, 1)});
    EXPECT_EQ(kxErodeE1(full.get(), 1), full.get());
    EXPECT_EQ(grid(full.get()).px, ref::Bytes(30, 0));

    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const int radius = int(seed % 5) - 1;
        const ref::Grid g = noise(20, 15, 850, seed);
        PaddedImage im(KIT_BIN, 20, 15, g.px);
        kxErodeE1(im.get(), radius);
        const auto d = ref::distances(g);
        ref::Grid expect = g;
        for (size_t i = 0; i < expect.px.size(); ++i)
            if (expect.px[i] && d[i] < radius) expect.px[i] = 0;
        ASSERT_EQ(grid(im.get()).px, expect.px) << "radius " << radius;
        EXPECT_TRUE(im.paddingIntact());
    }
    EXPECT_EQ(kxErodeE1(nullptr, 1), nullptr);
    const ref::Grid g = noise(5, 5, 500, 2);
    auto gray = image(g, KIT_GRAY);
    EXPECT_EQ(kxErodeE1(gray.get(), 3), gray.get());
    EXPECT_EQ(grid(gray.get()).px, g.px);
}

}  // namespace

namespace {

TEST(Eclose, CubesTheUnsmoothedValuesAtRadiusOne)
{
    // Radius 1 (also 0 and -3) smooths nothing, so the weights are the
    // cube rule applied to the bytes themselves.
    const ref::Bytes in = {128, 200, 254, 1, 255, 0, 64, 2};
    const ref::Bytes out = {32, 123, 252, 0, 255, 0, 4, 0};
    for (int radius : {1, 0, -3}) {
        PaddedImage m(KIT_GRAY, 4, 2, in);
        kxEclose(m.get(), radius);
        EXPECT_EQ(grid(m.get()).px, out) << radius;
        EXPECT_TRUE(m.paddingIntact());
    }
}

TEST(Eclose, BinaryMaskFallsOffTowardItsEdge)
{
    ref::Grid g{12, 9, ref::Bytes(108)};
    for (int y = 1; y < 8; ++y)
        for (int x = 2; x < 11; ++x) g.at(x, y) = 1;
    PaddedImage m(KIT_BIN, g.w, g.h, g.px);
    auto packed = image(g);
    kxEclose(m.get(), 3);
    kxEclose(packed.get(), 3);
    EXPECT_EQ(m.get()->imageType, KIT_BIN);
    EXPECT_TRUE(m.paddingIntact());
    const ref::Grid w = grid(m.get());
    EXPECT_EQ(w.px, grid(packed.get()).px);
    EXPECT_EQ(w.at(6, 4), 255);  // deep inside
    // On the edge [1 2 1] / 4 across gives about 191, which cubes to 107.
    EXPECT_GT(w.at(2, 4), 100);
    EXPECT_LT(w.at(2, 4), 110);
    EXPECT_EQ(w.at(1, 4), 0);  // outside stays 0
}

TEST(Eclose, RefusalsLeaveTheMask)
{
    const ref::Grid g = noise(6, 5, 500, 8);
    PaddedImage m(KIT_GRAY, 6, 5, g.px);
    kxEclose(m.get(), KXV_MAX_WINDOW + 1);
    EXPECT_EQ(grid(m.get()).px, g.px);
    auto rgb = kxtest::randomImage(KIT_RGB, 4, 4, 3);
    const auto before = kxtest::pixels(rgb.get());
    kxEclose(rgb.get(), 2);
    EXPECT_EQ(kxtest::pixels(rgb.get()), before);
    EXPECT_KX_ASSERT(kxEclose(nullptr, 2), "imMask");
}

}  // namespace
