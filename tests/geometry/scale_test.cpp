// Filters, contribution tables, the two scalers and the scaling exports.
#include <climits>
#include <limits>

#include "ref_scale.hpp"

using namespace kxtest;
using namespace kx::geo;

namespace {

TEST(Filters, WeightsAndWidthsAgainstHandComputedValues)
{
    const CBilinearFilter bil;
    const CBoxFilter box;
    const CGaussianFilter gau;
    const CHammingFilter ham;
    const CBlackmanFilter bla;
    struct Case {
        const CGenericFilter *f;
        float width, x[4], want[4];
    };
    const Case cases[] = {
        {&bil, 1.0f, {0.0f, 0.25f, -0.5f, 1.0f}, {1.0f, 0.75f, 0.5f, 0.0f}},
        {&box, 0.5f, {0.5f, -0.5f, 0.50001f, 0.0f}, {1.0f, 1.0f, 0.0f, 1.0f}},
        {&gau, 3.0f, {0.0f, 1.0f, -2.0f, 3.0001f}, {0.3989423f, 0.2419707f, 0.0539910f, 0.0f}},
        {&ham, 0.5f, {0.0f, 0.25f, 0.5f, 0.51f}, {1.0f, 0.4861708f, 0.0509296f, 0.0f}},
        {&bla, 0.5f, {0.0f, 0.25f, -0.5f, 0.6f}, {1.0f, 0.34f, 0.0f, 0.0f}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.f->getWidth(), c.width);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(c.f->weightAt(c.x[i]), c.want[i], 2e-7) << c.width << ", " << c.x[i];
    }
}

TEST(Contributions, HandWorkedEntriesAndTheDirectBuild)
{
    // Box enlargement 4 -> 8: half positions hit both neighbours, the last
    // entry is cut at the last sample.
    ContributionTable *t = computeContributions<CBoxFilter>(8, 4, 2.0f);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(std::pair(t->windowSize, t->count), std::pair(3, 8));
    struct Want {
        int entry, first, last;
        std::vector<float> weights;
    };
    for (const Want &w : {Want{1, 0, 1, {0.5f, 0.5f}}, Want{2, 0, 2, {0.0f, 1.0f, 0.0f}}, Want{7, 3, 3, {1.0f}}}) {
        const ContributionEntry &e = t->entries[w.entry];
        EXPECT_EQ(std::pair(e.first, e.last), std::pair(w.first, w.last)) << w.entry;
        EXPECT_EQ(std::vector<float>(e.weights, e.weights + w.weights.size()), w.weights) << w.entry;
    }
    releaseContributions(t);
    // Gaussian quarter reduction: w = 3 / 0.25 = 12; entry 10 is centred
    // on 40, symmetric and normalised.
    t = computeContributions<CGaussianFilter>(25, 100, 0.25f);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->windowSize, 25);
    const ContributionEntry &e = t->entries[10];
    EXPECT_EQ(std::pair(e.first, e.last), std::pair(28, 52));
    EXPECT_NEAR(std::accumulate(e.weights, e.weights + 25, 0.0), 1.0, 1e-6);
    EXPECT_EQ(e.weights[0], e.weights[24]);
    releaseContributions(t);

    // Every table equals the one built by the direct loop.
    for (auto [count, source] : {std::pair(8, 4), {3, 17}, {1, 9}, {9, 1}, {40, 23}, {23, 40}}) {
        const float scale = axisScale(count, source);
        auto check = [&](auto filter) {
            using F = decltype(filter);
            int window = 0;
            const auto want = ref::contributions<F>(count, source, scale, &window);
            ContributionTable *got = computeContributions<F>(count, source, scale);
            ASSERT_NE(got, nullptr);
            ASSERT_EQ(got->windowSize, window);
            for (int u = 0; u < count; ++u) {
                const ContributionEntry &g = got->entries[u];
                ASSERT_EQ(std::pair(g.first, g.last), std::pair(want[u].first, want[u].last));
                const auto &w = want[u].weights;
                ASSERT_EQ(std::vector<float>(g.weights, g.weights + (g.last - g.first + 1)),
                          std::vector<float>(w.begin(), w.begin() + (g.last - g.first + 1)));
            }
            releaseContributions(got);
        };
        check(CBilinearFilter{}), check(CBoxFilter{}), check(CGaussianFilter{}), check(CHammingFilter{}),
            check(CBlackmanFilter{});
    }
}

// kxScaleEx against the direct row/column loops for many sizes, every
// filter and every colour layout.
TEST(ScaleEx, MatchesDirectLoops)
{
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> side(1, 40);
    uint32_t seed = 300;
    for (int round = 0; round < 60; ++round) {
        const int sw = side(rng), sh = side(rng);
        const int dw = round % 5 == 0 ? sw : side(rng) + round % 3 * 10, dh = round % 7 == 0 ? sh : side(rng);
        for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA})
            for (int filter = 2; filter <= 6; ++filter) {
                auto src = randomImage(type, sw, sh, seed++);
                auto dst = makeImage(type, dw, dh);
                ASSERT_EQ(kxScaleEx(src.get(), dst.get(), filter), 1);
                ASSERT_EQ(pixels(dst.get()), ref::scaleFiltered(filter, ref::picOf(src.get()), dw, dh).px)
                    << sw << "x" << sh << " -> " << dw << "x" << dh << " type " << type << " filter " << filter;
            }
    }
    // Tall pictures: the intermediate rows are made in several bands, which
    // overlap where the column windows are wide (Gaussian reduction).
    const int tall[][4] = {{150, 70, 301, 33}, {97, 140, 40, 200}, {67, 129, 67, 64}, {20, 300, 15, 37}};
    for (auto &z : tall)
        for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA})
            for (int filter : {2, 4}) {
                auto src = randomImage(type, z[0], z[1], seed++);
                auto dst = makeImage(type, z[2], z[3]);
                ASSERT_EQ(kxScaleEx(src.get(), dst.get(), filter), 1);
                ASSERT_EQ(pixels(dst.get()), ref::scaleFiltered(filter, ref::picOf(src.get()), z[2], z[3]).px)
                    << z[0] << "x" << z[1] << " type " << type << " filter " << filter;
            }
}

TEST(ScaleEx, NearestForBinaryAndOtherCodes)
{
    uint32_t seed = 900;
    const int sizes[][4] = {{10, 1, 20, 1}, {7, 5, 3, 2}, {5, 6, 13, 17}, {1, 1, 4, 3}, {16, 9, 16, 9}};
    for (auto &s : sizes)
        for (int type : {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA})
            for (int filter : {0, 1, -1, 7, 6}) {
                if (filter == 6 && type != KIT_BIN) continue;  // BIN ignores the filter
                auto src = randomImage(type, s[0], s[1], seed++);
                auto dst = randomImage(type, s[2], s[3], seed++);
                ref::Pic want = ref::picOf(dst.get());
                ref::scaleNearest(ref::picOf(src.get()), want);
                ASSERT_EQ(kxScaleEx(src.get(), dst.get(), filter), 1);
                ASSERT_EQ(pixels(dst.get()), want.px) << type << " filter " << filter;
            }
    // Doubling a 10-pixel row: column 19 maps to trunc(19 / 2 + 0.5) = 10,
    // past the source, and keeps what it held.
    auto row = makeImage(KIT_GRAY, 10, 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    auto wide = makeImage(KIT_GRAY, 20, 1, std::vector<uint8_t>(20, 77));
    kxScaleEx(row.get(), wide.get(), 0);
    EXPECT_EQ(pixels(wide.get()), (std::vector<uint8_t>{0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 77}));
}

TEST(ScaleEx, TypesWrappedImagesAndAsserts)
{
    // The destination takes the source's type.
    auto rgb = randomImage(KIT_RGB, 6, 4, 1);
    auto grey = makeImage(KIT_GRAY, 3, 2);
    ASSERT_EQ(kxScaleEx(rgb.get(), grey.get(), 2), 1);
    EXPECT_EQ(std::pair(grey->imageType, grey->pitch), std::pair(int(KIT_RGB), 9));
    EXPECT_EQ(pixels(grey.get()), ref::scaleFiltered(2, ref::picOf(rgb.get()), 3, 2).px);

    // A wrapped destination is refused; a wrapped source is read through
    // its pitch.
    PaddedImage wrappedDst(KIT_GRAY, 3, 2);
    EXPECT_EQ(kxScaleEx(rgb.get(), wrappedDst.get(), 2), 0);
    EXPECT_EQ(wrappedDst.get()->imageType, KIT_GRAY);
    const auto bytes = randomBytes(7 * 5, 3);
    PaddedImage wrappedSrc(KIT_GRAY, 7, 5, bytes);
    auto out = makeImage(KIT_GRAY, 4, 9);
    ASSERT_EQ(kxScaleEx(wrappedSrc.get(), out.get(), 4), 1);
    EXPECT_EQ(pixels(out.get()), ref::scaleFiltered(4, {7, 5, 1, bytes}, 4, 9).px);

    // An unusable source changes nothing, not even the destination's type.
    auto bad = makeImage(KIT_GRAY, 3, 3);
    bad->imageType = 16;
    auto keep = makeImage(KIT_RGB, 2, 2);
    EXPECT_EQ(kxScaleEx(bad.get(), keep.get(), 2), 0);
    EXPECT_EQ(keep->imageType, KIT_RGB);
    EXPECT_KX_ASSERT(kxScaleEx(nullptr, keep.get(), 2), "imgOri");
    EXPECT_KX_ASSERT(kxScaleEx(keep.get(), nullptr, 2), "imgNew");
}

TEST(Scale, SizesAndClamping)
{
    struct Case {
        int w, h;
        float factor;
        int wantW, wantH, ret;
    };
    const Case cases[] = {
        {10, 6, 1.0f, 10, 6, 1},        {10, 6, 0.5f, 5, 3, 1},   {10, 6, 0.01f, 2, 2, 1},
        {2000, 1, 10.0f, 16384, 10, 1}, {10, 6, 0.0f, 10, 6, 0},  {10, 6, -2.0f, 10, 6, 0},
        {10, 6, std::numeric_limits<float>::quiet_NaN(), 10, 6, 0}, {3, 1, 1.5f, 5, 2, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.factor);
        auto im = randomImage(KIT_GRAY, c.w, c.h, 8);
        const auto before = pixels(im.get());
        EXPECT_EQ(kxScale(im.get(), c.factor, 2), c.ret);
        EXPECT_EQ(std::pair(im->width, im->height), std::pair(c.wantW, c.wantH));
        if (c.factor == 1.0f) {
            EXPECT_EQ(pixels(im.get()), before);
        }
    }
}

TEST(ScaleE1, ReductionKeepingTheSize)
{
    // 101 x 50 at 0.5: (int)(50.5 + 0.5) x (int)(25 + 0.5) = 51 x 25 placed
    // at offX 25, offY 12 on the colour.
    auto im = randomImage(KIT_RGB, 101, 50, 4);
    ref::Pic want = ref::filled(101, 50, {0x30, 0x20, 0x10});
    const ref::Pic small = ref::scaleFiltered(3, ref::picOf(im.get()), 51, 25);
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 51; ++x) std::copy_n(small.at(x, y), 3, want.at(x + 25, y + 12));
    ASSERT_EQ(kxScaleE1(im.get(), 0.5f, 0x00102030, 3, 1), im.get());
    ASSERT_EQ(std::pair(im->width, im->height), std::pair(101, 50));
    EXPECT_EQ(pixels(im.get()), want.px);
    // A side reduced to 0: the whole image takes the colour.
    auto tiny = randomImage(KIT_GRAY, 100, 100, 5);
    kxScaleE1(tiny.get(), 0.001f, 42, 2, 1);
    EXPECT_EQ(pixels(tiny.get()), std::vector<uint8_t>(10000, 42));
    // No keepSize, or an enlargement: kxScale.
    auto grow = randomImage(KIT_GRAY, 10, 10, 6);
    kxScaleE1(grow.get(), 0.5f, 0, 2, 0);
    EXPECT_EQ(grow->width, 5);
    kxScaleE1(grow.get(), 3.0f, 0, 2, 1);
    EXPECT_EQ(grow->width, 15);
}

TEST(MakeSquarePixel, OneSideFollowsTheRatio)
{
    struct Case {
        int x, y, shrink, wantW, wantH, ret;
    };
    const Case cases[] = {
        {3, 2, 0, 100, 150, 1}, {3, 2, 1, 67, 100, 1}, {2, 3, 0, 150, 100, 1},
        {2, 3, 1, 100, 67, 1},  {5, 5, 0, 100, 100, 0}, {1000, 999, 0, 100, 100, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ":" << c.y << " shrink " << c.shrink);
        auto im = randomImage(KIT_GRAY, 100, 100, 2);
        const ref::Pic want = ref::scaleFiltered(5, ref::picOf(im.get()), c.wantW, c.wantH);
        EXPECT_EQ(kxMakeSquarePixel(im.get(), c.x, c.y, 5, c.shrink), c.ret);
        EXPECT_EQ(std::pair(im->width, im->height), std::pair(c.wantW, c.wantH));
        EXPECT_EQ(pixels(im.get()), want.px);
    }
    auto im = randomImage(KIT_GRAY, 10, 100, 2);
    struct Bad {
        int x, y, shrink;
        const char *text;
    };
    const Bad bad[] = {{0, 1, 0, "pixelSizeX > 0 && pixelSizeY > 0"},
                       {1000, 1, 0, "new_h <= "},  // text: new_h <= (8192 << 1)
                       {1, INT_MAX, 0, "new_w <= "},
                       {1000, 1, 1, "new_w >0"},
                       {1, 1000, 1, "new_h >0"}};
    for (const Bad &b : bad) EXPECT_KX_ASSERT(kxMakeSquarePixel(im.get(), b.x, b.y, 2, b.shrink), b.text);
    EXPECT_EQ(im->width, 10);
}

}  // namespace
