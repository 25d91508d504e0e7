// Filters, contribution tables, the two scalers and the scaling exports.
#include <climits>
#include <cmath>
#include <limits>

#include "kxtest.hpp"
#include "ref_scale.hpp"

using namespace kxtest;
using namespace kx::geo;

namespace {

ref::Pic picOf(const Image *im) { return {im->width, im->height, bpp(im->imageType), pixels(im)}; }

TEST(Filters, WeightsAgainstHandComputedValues)
{
    struct Case {
        const CGenericFilter *f;
        float x, want;
    };
    const CBilinearFilter bil;
    const CBoxFilter box;
    const CGaussianFilter gau;
    const CHammingFilter ham;
    const CBlackmanFilter bla;
    const Case cases[] = {
        {&bil, 0.0f, 1.0f},         {&bil, 0.25f, 0.75f},       {&bil, -0.5f, 0.5f},       {&bil, 1.0f, 0.0f},
        {&box, 0.5f, 1.0f},         {&box, -0.5f, 1.0f},        {&box, 0.50001f, 0.0f},    {&box, 0.0f, 1.0f},
        {&gau, 0.0f, 0.3989423f},   {&gau, 1.0f, 0.2419707f},   {&gau, -2.0f, 0.0539910f}, {&gau, 3.0001f, 0.0f},
        {&ham, 0.0f, 1.0f},         {&ham, 0.25f, 0.4861708f},  {&ham, 0.5f, 0.0509296f},  {&ham, 0.51f, 0.0f},
        {&bla, 0.0f, 1.0f},         {&bla, 0.25f, 0.34f},       {&bla, -0.5f, 0.0f},       {&bla, 0.6f, 0.0f},
    };
    for (const Case &c : cases) EXPECT_NEAR(c.f->weightAt(c.x), c.want, 2e-7) << c.x;
    EXPECT_EQ(bil.getWidth(), 1.0f);
    EXPECT_EQ(box.getWidth(), 0.5f);
    EXPECT_EQ(gau.getWidth(), 3.0f);
    EXPECT_EQ(ham.getWidth(), 0.5f);
    EXPECT_EQ(bla.getWidth(), 0.5f);
}

TEST(Contributions, BoxEnlargementHitsBothNeighboursAtHalfPositions)
{
    ContributionTable *t = computeContributions<CBoxFilter>(8, 4, 2.0f);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->windowSize, 3);
    EXPECT_EQ(t->count, 8);
    const ContributionEntry &half = t->entries[1];  // centre 0.5
    EXPECT_EQ(half.first, 0);
    EXPECT_EQ(half.last, 1);
    EXPECT_EQ(half.weights[0], 0.5f);
    EXPECT_EQ(half.weights[1], 0.5f);
    const ContributionEntry &whole = t->entries[2];  // centre 1
    EXPECT_EQ(whole.first, 0);
    EXPECT_EQ(whole.last, 2);
    EXPECT_EQ(whole.weights[0], 0.0f);
    EXPECT_EQ(whole.weights[1], 1.0f);
    EXPECT_EQ(whole.weights[2], 0.0f);
    const ContributionEntry &end = t->entries[7];  // centre 3.5: cut at the last sample
    EXPECT_EQ(end.first, 3);
    EXPECT_EQ(end.last, 3);
    EXPECT_EQ(end.weights[0], 1.0f);
    releaseContributions(t);
}

TEST(Contributions, GaussianQuarterReductionAndTheDirectBuild)
{
    ContributionTable *t = computeContributions<CGaussianFilter>(25, 100, 0.25f);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->windowSize, 25);  // w = 3 / 0.25 = 12
    const ContributionEntry &e = t->entries[10];  // centre 40
    EXPECT_EQ(e.first, 28);
    EXPECT_EQ(e.last, 52);
    double sum = 0;
    for (int k = 0; k < 25; ++k) sum += e.weights[k];
    EXPECT_NEAR(sum, 1.0, 1e-6);
    EXPECT_EQ(e.weights[0], e.weights[24]);
    releaseContributions(t);

    // Every table equals the one built by the direct loop.
    struct Sz {
        int count, source;
    };
    for (Sz s : {Sz{8, 4}, Sz{3, 17}, Sz{1, 9}, Sz{9, 1}, Sz{40, 23}, Sz{23, 40}}) {
        const float scale = axisScale(s.count, s.source);
        auto check = [&](auto filter) {
            using F = decltype(filter);
            int window = 0;
            const auto want = ref::contributions<F>(s.count, s.source, scale, &window);
            ContributionTable *got = computeContributions<F>(s.count, s.source, scale);
            ASSERT_NE(got, nullptr);
            ASSERT_EQ(got->windowSize, window);
            for (int u = 0; u < s.count; ++u) {
                ASSERT_EQ(got->entries[u].first, want[u].first);
                ASSERT_EQ(got->entries[u].last, want[u].last);
                for (int k = 0; k <= want[u].last - want[u].first; ++k)
                    ASSERT_EQ(got->entries[u].weights[k], want[u].weights[k]);
            }
            releaseContributions(got);
        };
        check(CBilinearFilter{});
        check(CBoxFilter{});
        check(CGaussianFilter{});
        check(CHammingFilter{});
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
                ref::Pic want;
                switch (filter) {
                case 2: want = ref::scale2pass<CBilinearFilter>(picOf(src.get()), dw, dh); break;
                case 3: want = ref::scale2pass<CBoxFilter>(picOf(src.get()), dw, dh); break;
                case 4: want = ref::scale2pass<CGaussianFilter>(picOf(src.get()), dw, dh); break;
                case 5: want = ref::scale2pass<CHammingFilter>(picOf(src.get()), dw, dh); break;
                default: want = ref::scale2pass<CBlackmanFilter>(picOf(src.get()), dw, dh); break;
                }
                ASSERT_EQ(pixels(dst.get()), want.px)
                    << sw << "x" << sh << " -> " << dw << "x" << dh << " type " << type << " filter " << filter;
            }
    }
}

TEST(ScaleEx, MatchesDirectLoopsAcrossSeveralRowStrips)
{
    // Tall pictures: the intermediate rows are made in several bands, which
    // overlap where the column windows are wide (Gaussian reduction).
    const int sizes[][4] = {{150, 70, 301, 33}, {97, 140, 40, 200}, {67, 129, 67, 64}, {20, 300, 15, 37}};
    uint32_t seed = 700;
    for (auto &z : sizes)
        for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA}) {
            auto src = randomImage(type, z[0], z[1], seed++);
            auto dst = makeImage(type, z[2], z[3]);
            ASSERT_EQ(kxScaleEx(src.get(), dst.get(), 2), 1);
            ASSERT_EQ(pixels(dst.get()), ref::scale2pass<CBilinearFilter>(picOf(src.get()), z[2], z[3]).px)
                << z[0] << "x" << z[1] << " type " << type;
            ASSERT_EQ(kxScaleEx(src.get(), dst.get(), 4), 1);
            ASSERT_EQ(pixels(dst.get()), ref::scale2pass<CGaussianFilter>(picOf(src.get()), z[2], z[3]).px)
                << z[0] << "x" << z[1] << " type " << type << " Gaussian";
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
                ref::Pic want = picOf(dst.get());
                ref::scaleNearest(picOf(src.get()), want);
                ASSERT_EQ(kxScaleEx(src.get(), dst.get(), filter), 1);
                ASSERT_EQ(pixels(dst.get()), want.px) << type << " filter " << filter;
            }
    // Doubling a 10-pixel row: column 19 maps to trunc(19 / 2 + 0.5) = 10,
    // past the source, and keeps what it held.
    auto row = makeImage(KIT_GRAY, 10, 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    auto wide = makeImage(KIT_GRAY, 20, 1, std::vector<uint8_t>(20, 77));
    kxScaleEx(row.get(), wide.get(), 0);
    EXPECT_EQ(pixels(wide.get()),
              (std::vector<uint8_t>{0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 77}));
}

TEST(ScaleEx, TypesWrappedImagesAndAsserts)
{
    // The destination takes the source's type.
    auto rgb = randomImage(KIT_RGB, 6, 4, 1);
    auto grey = makeImage(KIT_GRAY, 3, 2);
    ASSERT_EQ(kxScaleEx(rgb.get(), grey.get(), 2), 1);
    EXPECT_EQ(grey->imageType, KIT_RGB);
    EXPECT_EQ(grey->pitch, 9);
    EXPECT_EQ(pixels(grey.get()), ref::scale2pass<CBilinearFilter>(picOf(rgb.get()), 3, 2).px);

    // A wrapped destination is refused; a wrapped source is read through
    // its pitch.
    PaddedImage wrappedDst(KIT_GRAY, 3, 2);
    EXPECT_EQ(kxScaleEx(rgb.get(), wrappedDst.get(), 2), 0);
    EXPECT_EQ(wrappedDst.get()->imageType, KIT_GRAY);
    const auto bytes = randomBytes(7 * 5, 3);
    PaddedImage wrappedSrc(KIT_GRAY, 7, 5, bytes);
    auto out = makeImage(KIT_GRAY, 4, 9);
    ASSERT_EQ(kxScaleEx(wrappedSrc.get(), out.get(), 4), 1);
    EXPECT_EQ(pixels(out.get()), ref::scale2pass<CGaussianFilter>({7, 5, 1, bytes}, 4, 9).px);

    // An unusable source changes nothing, not even the destination's type.
    auto bad = makeImage(KIT_GRAY, 3, 3);
    bad->imageType = 16;
    auto keep = makeImage(KIT_RGB, 2, 2);
    EXPECT_EQ(kxScaleEx(bad.get(), keep.get(), 2), 0);
    EXPECT_EQ(keep->imageType, KIT_RGB);
    EXPECT_KX_ASSERT(kxScaleEx(nullptr, keep.get(), 2), "imgOri");
    EXPECT_KX_ASSERT(kxScaleEx(keep.get(), nullptr, 2), "imgNew");
}

TEST(ScaleEx, FlatPictureComesOutNoBrighter)
{
    auto flat = makeImage(KIT_GRAY, 50, 50, std::vector<uint8_t>(2500, 200));
    for (int filter = 2; filter <= 6; ++filter) {
        auto dst = makeImage(KIT_GRAY, 37, 23);
        kxScaleEx(flat.get(), dst.get(), filter);
        int darker = 0;
        for (uint8_t v : pixels(dst.get())) {
            ASSERT_LE(v, 200);
            ASSERT_GE(v, 170);
            darker += v < 200;
        }
        if (filter == 4) {
            EXPECT_GT(darker, 0);  // many truncated terms per sample
        }
    }
}

TEST(Scale, SizesAndClamping)
{
    struct Case {
        int w, h;
        float factor;
        int wantW, wantH, ret;
    };
    const Case cases[] = {
        {10, 6, 1.0f, 10, 6, 1},       {10, 6, 0.5f, 5, 3, 1},     {10, 6, 0.01f, 2, 2, 1},
        {2000, 1, 10.0f, 16384, 10, 1}, {10, 6, 0.0f, 10, 6, 0},   {10, 6, -2.0f, 10, 6, 0},
        {10, 6, std::numeric_limits<float>::quiet_NaN(), 10, 6, 0}, {3, 1, 1.5f, 5, 2, 1},
    };
    for (const Case &c : cases) {
        auto im = randomImage(KIT_GRAY, c.w, c.h, 8);
        const auto before = pixels(im.get());
        EXPECT_EQ(kxScale(im.get(), c.factor, 2), c.ret) << c.factor;
        EXPECT_EQ(im->width, c.wantW) << c.factor;
        EXPECT_EQ(im->height, c.wantH) << c.factor;
        if (c.factor == 1.0f) {
            EXPECT_EQ(pixels(im.get()), before);
        }
    }
    PaddedImage wrapped(KIT_GRAY, 4, 4);
    EXPECT_EQ(kxScale(wrapped.get(), 2.0f, 2), 0);
    EXPECT_EQ(kxScale(nullptr, 2.0f, 2), 0);
}

TEST(ScaleE1, ReductionKeepingTheSize)
{
    auto im = randomImage(KIT_RGB, 101, 50, 4);
    auto expect = makeImage(KIT_RGB, 51, 25);  // (int)(50.5 + 0.5) x (int)(25 + 0.5)
    kxScaleEx(im.get(), expect.get(), 3);
    const auto small = pixels(expect.get());
    ASSERT_EQ(kxScaleE1(im.get(), 0.5f, 0x00102030, 3, 1), im.get());
    ASSERT_EQ(im->width, 101);
    ASSERT_EQ(im->height, 50);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 101; ++x) {
            const uint8_t *p = im->data + y * im->pitch + x * 3;
            const bool in = x >= 25 && x < 76 && y >= 12 && y < 37;  // offX 25, offY 12
            const uint8_t *want = in ? &small[((y - 12) * 51 + (x - 25)) * 3] : nullptr;
            const uint8_t bg[3] = {0x30, 0x20, 0x10};
            ASSERT_EQ(std::vector<uint8_t>(p, p + 3), std::vector<uint8_t>(in ? want : bg, (in ? want : bg) + 3))
                << x << "," << y;
        }
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
    EXPECT_EQ(kxScaleE1(nullptr, 0.5f, 0, 2, 1), nullptr);
    PaddedImage wrapped(KIT_GRAY, 4, 4, randomBytes(16, 1));
    kxScaleE1(wrapped.get(), 0.5f, 9, 2, 1);
    EXPECT_EQ(pixels(wrapped.get()), randomBytes(16, 1));
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
        auto im = randomImage(KIT_GRAY, 100, 100, 2);
        auto want = makeImage(KIT_GRAY, c.wantW, c.wantH);
        kxScaleEx(im.get(), want.get(), 5);
        EXPECT_EQ(kxMakeSquarePixel(im.get(), c.x, c.y, 5, c.shrink), c.ret);
        EXPECT_EQ(im->width, c.wantW);
        EXPECT_EQ(im->height, c.wantH);
        if (c.ret) {
            EXPECT_EQ(pixels(im.get()), pixels(want.get()));
        }
    }
    PaddedImage wrapped(KIT_GRAY, 4, 4);
    EXPECT_EQ(kxMakeSquarePixel(wrapped.get(), 3, 2, 2, 0), 0);
    EXPECT_EQ(wrapped.get()->height, 4);
    auto im = randomImage(KIT_GRAY, 10, 100, 2);
    EXPECT_KX_ASSERT(kxMakeSquarePixel(nullptr, 1, 1, 2, 0), "image");
    EXPECT_KX_ASSERT(kxMakeSquarePixel(im.get(), 0, 1, 2, 0), "pixelSizeX > 0 && pixelSizeY > 0");
    EXPECT_KX_ASSERT(kxMakeSquarePixel(im.get(), 1000, 1, 2, 0), "new_h <= ");  // text: new_h <= (8192 << 1)
    EXPECT_KX_ASSERT(kxMakeSquarePixel(im.get(), 1, INT_MAX, 2, 0), "new_w <= ");
    EXPECT_KX_ASSERT(kxMakeSquarePixel(im.get(), 1000, 1, 2, 1), "new_w >0");
    EXPECT_KX_ASSERT(kxMakeSquarePixel(im.get(), 1, 1000, 2, 1), "new_h >0");
    EXPECT_EQ(im->width, 10);
}

}  // namespace
