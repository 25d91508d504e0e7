// The scaler: filters and contribution tables by hand, the integer forms
// of the weights and the row programme against the float terms, kxScaleEx
// against the direct loops, and the scaling exports' sizes.
#include <array>
#include <climits>
#include <limits>
#include <numeric>

#include "reference.hpp"

using namespace kxtest;
using namespace kx::geo;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 4;  // the sanitized build checks a sample of the cases
#else
constexpr int kScale = 1;
#endif

TEST(Filters, WeightsAndWidthsAgainstHandComputedValues)
{
    const CBilinearFilter bil;
    const CBoxFilter box;
    const CGaussianFilter gau;
    const CHammingFilter ham;
    const CBlackmanFilter bla;
    const struct { const CGenericFilter *f; float width, x[4], want[4]; } cases[] = {
        {&bil, 1.0f, {0.0f, 0.25f, -0.5f, 1.0f}, {1.0f, 0.75f, 0.5f, 0.0f}},
        {&box, 0.5f, {0.5f, -0.5f, 0.50001f, 0.0f}, {1.0f, 1.0f, 0.0f, 1.0f}},
        {&gau, 3.0f, {0.0f, 1.0f, -2.0f, 3.0001f}, {0.3989423f, 0.2419707f, 0.0539910f, 0.0f}},
        {&ham, 0.5f, {0.0f, 0.25f, 0.5f, 0.51f}, {1.0f, 0.4861708f, 0.0509296f, 0.0f}},
        {&bla, 0.5f, {0.0f, 0.25f, -0.5f, 0.6f}, {1.0f, 0.34f, 0.0f, 0.0f}}};
    for (const auto &c : cases) {
        EXPECT_EQ(c.f->getWidth(), c.width);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(c.f->weightAt(c.x[i]), c.want[i], 2e-7) << c.width << ", " << c.x[i];
    }
}

TEST(Contributions, HandWorkedEntriesAndInvariants)
{
    struct Want { int entry, first, last; std::vector<float> weights; };
    const struct { ContributionTable *t; int window; std::vector<Want> entries; } cases[] = {
        // Box 4 -> 8: half positions hit both neighbours; the last entry is cut at the last sample.
        {computeContributions<CBoxFilter>(8, 4, 2.0f), 3,
         {{1, 0, 1, {0.5f, 0.5f}}, {2, 0, 2, {0.0f, 1.0f, 0.0f}}, {7, 3, 3, {1.0f}}}},
        // Bilinear 8 -> 4: the filter widens to 2, its weights halve.
        {computeContributions<CBilinearFilter>(4, 8, 0.5f), 5, {{1, 0, 4, {0.0f, 0.25f, 0.5f, 0.25f, 0.0f}}}},
        // Gaussian 100 -> 25: w = 3 / 0.25 = 12; entry 10 is centred on 40, symmetric.
        {computeContributions<CGaussianFilter>(25, 100, 0.25f), 25, {{10, 28, 52, {}}}}};
    for (const auto &c : cases) {
        ASSERT_NE(c.t, nullptr);
        EXPECT_EQ(c.t->windowSize, c.window);
        for (const Want &w : c.entries) {
            const ContributionEntry &e = c.t->entries[w.entry];
            EXPECT_EQ(std::pair(e.first, e.last), std::pair(w.first, w.last)) << w.entry;
            EXPECT_EQ(std::vector<float>(e.weights, e.weights + w.weights.size()), w.weights);
            EXPECT_EQ(e.weights[0], e.weights[e.last - e.first]);
        }
        releaseContributions(c.t);
    }
    // Every table: windows inside the source and the window size, weights
    // summing to 1 (or 0 where no sample is in reach).
    for (auto [count, source] : {std::pair(8, 4), {3, 17}, {1, 9}, {9, 1}, {40, 23}, {23, 40}}) {
        auto check = [&, count = count, source = source](auto filter) {
            ContributionTable *t = computeContributions<decltype(filter)>(count, source, axisScale(count, source));
            ASSERT_NE(t, nullptr);
            for (int u = 0; u < count; ++u) {
                const ContributionEntry &e = t->entries[u];
                ASSERT_TRUE(0 <= e.first && e.first <= e.last && e.last < source && e.last - e.first < t->windowSize);
                const double sum = std::accumulate(e.weights, e.weights + e.last - e.first + 1, 0.0);
                EXPECT_TRUE(std::fabs(sum - 1.0) < 1e-6 || sum == 0.0) << count << " of " << source << ": " << sum;
            }
            releaseContributions(t);
        };
        check(CBilinearFilter{}), check(CBoxFilter{}), check(CGaussianFilter{}), check(CHammingFilter{}),
            check(CBlackmanFilter{});
    }
}

int termOf(const TermCode &c, int b)
{
    return c.kind == TermCode::kZero ? 0 : c.kind == TermCode::kCopy ? b : int(((uint32_t(b) * c.mul) >> 16) >> c.shift);
}

// The integer form of a weight gives trunc(byte * weight) for every byte;
// halving and doubling (bilinear, box) have forms, negative or large
// weights none.  The integer lines (SSE2 and AVX2) sum such terms.
TEST(TermCodes, FormsAndIntegerLinesGiveTheFloatTerms)
{
    std::vector<float> weights = {0.0f, 1.0f, 0.5f, 0.25f, 0.125f, 0.75f, 1.0f / 3, 2.0f / 3, 0.2f, 0.1f, 1e-6f,
                                  0.00390625f, 0.0039062f, 0.99999994f, -1e-9f};
    for (float w : {1.0f / 3, 0.2f, 0.1f, 0.6f}) weights.insert(weights.end(), {std::nextafter(w, 0.0f), std::nextafter(w, 1.0f)});
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> d(0.0f, 1.0f);
    for (int i = 0; i < 4000 / kScale; ++i) weights.push_back(d(rng));
    TermCode c{};
    for (float w : weights)
        for (int maxShift : {0, 15}) {
            if (!termCode(w, maxShift, c)) continue;
            ASSERT_LE(int(c.shift), maxShift) << w;
            for (int b = 0; b < 256; ++b) ASSERT_EQ(termOf(c, b), int(float(b) * w)) << "weight " << w << " byte " << b;
        }
    for (float w : {0.0f, 1.0f, 0.5f, 0.25f}) EXPECT_TRUE(termCode(w, 0, c)) << w;
    for (float w : {-0.5f, 1.5f, 300.0f}) EXPECT_FALSE(termCode(w, 15, c)) << w;

    for (int round = 0; round < 300 / kScale; ++round) {
        const int taps = 1 + round % 7;
        const size_t n = size_t(1 + rng() % 200);
        std::vector<std::vector<uint8_t>> data;
        std::vector<const uint8_t *> lines;
        std::vector<TermCode> codes;
        while (int(codes.size()) < taps)
            if (termCode(round % 5 == 0 ? 1.0f : d(rng) * 0.6f, 15, c) && c.kind != TermCode::kZero)
                codes.push_back(c), data.push_back(randomBytes(n, rng()));
        for (auto &v : data) lines.push_back(v.data());
        std::vector<uint8_t> want(n);
        for (size_t j = 0; j < n; ++j)
            for (int k = 0; k < taps; ++k) want[j] = uint8_t(want[j] + termOf(codes[size_t(k)], lines[size_t(k)][j]));
        for (bool avx2 : {false, true}) {
            if (avx2 && !__builtin_cpu_supports("avx2")) continue;
            std::vector<uint8_t> got(n, 1);
            integerLine(lines.data(), codes.data(), taps, got.data(), n, avx2);
            ASSERT_EQ(got, want) << "taps " << taps << " bytes " << n << " avx2 " << avx2;
        }
    }
}

// The row programme takes bilinear halving and doubling in every layout (so
// the whole scales below run it), and refuses windows spread past 16 bytes.
TEST(RowProgram, TakesHalvingAndDoubling)
{
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "the row programme needs AVX2";
    const int cases[][4] = {{32, 64, 1, 1}, {32, 64, 3, 1}, {32, 64, 4, 1}, {128, 64, 1, 1}, {128, 64, 3, 1}, {16, 64, 1, 0}};
    for (auto [count, source, ch, built] : cases) {
        ContributionTable *t = computeContributions<CBilinearFilter>(count, source, axisScale(count, source));
        RowProgram *p = buildRowProgram(t, source, ch);
        EXPECT_EQ(p != nullptr, bool(built)) << source << " -> " << count << " ch " << ch;
        releaseRowProgram(p);
        releaseContributions(t);
    }
}

// kxScaleEx against the direct loops for every filter and layout: random
// small sizes, the halving and doubling the row programme and the integer
// lines take, and tall pictures whose intermediate rows come in several
// (overlapping) bands.
TEST(ScaleEx, FilteredMatchesTheDirectLoops)
{
    std::vector<std::array<int, 4>> sizes = {
        {64, 48, 32, 24}, {130, 40, 65, 20}, {37, 29, 74, 58}, {100, 7, 200, 14}, {96, 96, 24, 24},
        {40, 30, 160, 120}, {90, 60, 60, 40}, {101, 50, 51, 25}, {17, 200, 34, 100}, {256, 8, 128, 16},
        {33, 33, 99, 11}, {150, 70, 301, 33}, {97, 140, 40, 200}, {67, 129, 67, 64}, {20, 300, 15, 37}};
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> side(1, 40);
    for (int round = 0; round < 40; ++round) {
        const int sw = side(rng), sh = side(rng);
        sizes.push_back({sw, sh, round % 5 == 0 ? sw : side(rng) + round % 3 * 10, round % 7 == 0 ? sh : side(rng)});
    }
    uint32_t seed = 300;
    for (size_t i = 0; i < sizes.size(); i += kScale > 1 ? 3 : 1)
        for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA})
            for (int filter = 2; filter <= 6; ++filter) {
                const auto [sw, sh, dw, dh] = sizes[i];
                auto src = randomImage(type, sw, sh, seed++);
                auto dst = makeImage(type, dw, dh);
                ASSERT_EQ(kxScaleEx(src.get(), dst.get(), filter), 1);
                ASSERT_EQ(pixels(dst.get()), ref::scaleFiltered(filter, ref::picOf(src.get()), dw, dh).px)
                    << sw << "x" << sh << " -> " << dw << "x" << dh << " type " << type << " filter " << filter;
            }
}

TEST(ScaleEx, NearestForBinaryAndOtherCodes)
{
    uint32_t seed = 900;
    for (auto &s : {std::array{10, 1, 20, 1}, {7, 5, 3, 2}, {5, 6, 13, 17}, {1, 1, 4, 3}, {16, 9, 16, 9}})
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
    // A wrapped destination is refused; a wrapped source is read through its pitch.
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
    const struct { int w, h; float factor; int wantW, wantH, ret; } cases[] = {
        {10, 6, 1.0f, 10, 6, 1}, {10, 6, 0.5f, 5, 3, 1}, {10, 6, 0.01f, 2, 2, 1}, {2000, 1, 10.0f, 16384, 10, 1},
        {10, 6, 0.0f, 10, 6, 0}, {10, 6, -2.0f, 10, 6, 0}, {10, 6, std::nanf(""), 10, 6, 0}, {3, 1, 1.5f, 5, 2, 1}};
    for (const auto &c : cases) {
        auto im = randomImage(KIT_GRAY, c.w, c.h, 8);
        const auto before = pixels(im.get());
        EXPECT_EQ(kxScale(im.get(), c.factor, 2), c.ret) << c.factor;
        EXPECT_EQ(std::pair(im->width, im->height), std::pair(c.wantW, c.wantH)) << c.factor;
        if (c.factor == 1.0f || !c.ret) {
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
    for (int y = 0; y < 25; ++y) std::copy_n(small.at(0, y), 51 * 3, want.at(25, y + 12));
    ASSERT_EQ(kxScaleE1(im.get(), 0.5f, 0x00102030, 3, 1), im.get());
    EXPECT_EQ(ref::picOf(im.get()).px, want.px);
    EXPECT_EQ(std::pair(im->width, im->height), std::pair(101, 50));
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
    const struct { int x, y, shrink, wantW, wantH, ret; } cases[] = {
        {3, 2, 0, 100, 150, 1}, {3, 2, 1, 67, 100, 1}, {2, 3, 0, 150, 100, 1},
        {2, 3, 1, 100, 67, 1},  {5, 5, 0, 100, 100, 0}, {1000, 999, 0, 100, 100, 0}};
    for (const auto &c : cases) {
        auto im = randomImage(KIT_GRAY, 100, 100, 2);
        const ref::Pic want = ref::scaleFiltered(5, ref::picOf(im.get()), c.wantW, c.wantH);
        EXPECT_EQ(kxMakeSquarePixel(im.get(), c.x, c.y, 5, c.shrink), c.ret) << c.x << ":" << c.y << " " << c.shrink;
        EXPECT_EQ(ref::picOf(im.get()).px, want.px) << c.x << ":" << c.y << " " << c.shrink;
        EXPECT_EQ(std::pair(im->width, im->height), std::pair(c.wantW, c.wantH));
    }
    auto im = randomImage(KIT_GRAY, 10, 100, 2);
    const struct { int x, y, shrink; const char *text; } bad[] = {
        {0, 1, 0, "pixelSizeX > 0 && pixelSizeY > 0"}, {1000, 1, 0, "new_h <= "},  // new_h <= (8192 << 1)
        {1, INT_MAX, 0, "new_w <= "}, {1000, 1, 1, "new_w >0"}, {1, 1000, 1, "new_h >0"}};
    for (const auto &b : bad) EXPECT_KX_ASSERT(kxMakeSquarePixel(im.get(), b.x, b.y, 2, b.shrink), b.text);
    EXPECT_EQ(im->width, 10);
}

}  // namespace
