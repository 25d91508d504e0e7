// Border removal, hole filling, edge retrieval and margin cut: drawn cases
// and equality with the sweep versions on noise, spirals and masks.
#include <array>

#include "binary/binary_detail.hpp"
#include "binary_util.hpp"

using namespace bintest;
using kxtest::PaddedImage;

namespace {

// ---- drawn cases --------------------------------------------------------

struct Case {
    const char *name;
    std::vector<std::string> in, mask, out;  // mask empty: none
    int op;                                  // 0 RemoveBorderEx, 1 FillHoleEx, 2 RemoveBorder, 3 FillHole
};

const Case kCases[] = {
    {"RingTouchingColumn0", {"........", "#####...", "#...#...", "#...#.#.", "#####...", "........"}, {},
     {"........", "........", "........", "......#.", "........", "........"}, 2},
    {"DiagonalTouchSurvives", {"#.....", ".##...", ".##...", "......", "......"}, {},
     {"......", ".##...", ".##...", "......", "......"}, 2},
    {"FillsRingHole", {".......", ".###...", ".#.#...", ".###...", "......."}, {},
     {".......", ".###...", ".###...", ".###...", "......."}, 3},
    {"GapOpenToBorderStays", {".....", ".###.", ".#.#.", ".#...", "....."}, {},
     {".....", ".###.", ".#.#.", ".#...", "....."}, 3},
    // A hole reached through a diagonal gap only is still a hole.
    {"DiagonalGapIsClosed", {"......", "..##..", ".#.#..", ".###..", "......"}, {},
     {"......", "..##..", ".###..", ".###..", "......"}, 3},
    // Mask on the left half: holes there are filled, the right half keeps
    // its values.
    {"FillInsideLeftHalf",
     {"..........", ".###.####.", ".#.#.#..#.", ".###.####.", ".........."},
     {"#####.....", "#####.....", "#####.....", "#####.....", "#####....."},
     {"..........", ".###.####.", ".###.#..#.", ".###.####.", ".........."}, 1},
    {"FillHoleExNoMask", {".......", ".###...", ".#.#...", ".###...", "......."}, {},
     {".......", ".###...", ".###...", ".###...", "......."}, 1},
    // Regions touching the mask's edge from inside go, and so does all
    // outside the mask; a region clear of the edge stays.
    {"RemoveInsideMask",
     {"..........", ".##....##.", ".......##.", "..#.......", ".........."},
     {"..........", ".#######..", ".#######..", ".#######..", ".........."},
     {"..........", "..........", "..........", "..........", ".........."}, 0},
    // Interior pixels on the mask's edge are marks whatever their value: a
    // region next to them goes, one further in stays.
    {"RemoveKeepsCentreOfMask",
     {"........", "........", "........", "...#....", "........", "........", "........"},
     {"........", ".######.", ".######.", ".######.", ".######.", ".######.", "........"},
     {"........", "........", "........", "...#....", "........", "........", "........"}, 0},
    {"RemoveNextToMaskEdge",
     {"........", "........", "..#.....", "........", "........", "........", "........"},
     {"........", ".######.", ".######.", ".######.", ".######.", ".######.", "........"},
     {"........", "........", "........", "........", "........", "........", "........"}, 0},
    // An interior 127 spreads like a border pixel; every 127 becomes 0.
    {"MarkerByteSpreads", {".....", ".M##.", "...#.", "#....", "....."}, {},
     {".....", ".....", ".....", ".....", "....."}, 2},
};

class Drawn : public testing::TestWithParam<Case> {};

TEST_P(Drawn, GiveTheDrawnResult)
{
    const Case &c = GetParam();
    const ref::Grid in = draw(c.in);
    PaddedImage im(KIT_BIN, in.w, in.h, in.px);
    std::unique_ptr<PaddedImage> mask;
    if (!c.mask.empty()) mask = std::make_unique<PaddedImage>(KIT_GRAY, in.w, in.h, draw(c.mask).px, 3);
    const Image *m = mask ? mask->get() : nullptr;
    switch (c.op) {
    case 0: kxRemoveBorderEx(im.get(), m); break;
    case 1: kxFillHoleEx(im.get(), m); break;
    case 2: kxRemoveBorder(im.get()); break;
    default: kxFillHole(im.get()); break;
    }
    EXPECT_EQ(grid(im.get()).px, draw(c.out).px);
    EXPECT_TRUE(im.paddingIntact());
}

INSTANTIATE_TEST_SUITE_P(Cleanup, Drawn, testing::ValuesIn(kCases), [](const auto &i) { return i.param.name; });

// ---- fast versus sweep ------------------------------------------------

// Images on which the sweeps need many rounds: noise near the percolation
// density, spirals from the border or from an interior mark, their
// inverses, and a sprinkle of bytes other than 0 and 1.
ref::Grid testImage(int kind, int w, int h, uint32_t seed)
{
    ref::Grid g = noise(w, h, kind == 0 ? 590 : kind == 1 ? 420 : 0, seed);
    if (kind == 2) spiral(g, 0, 0, w - 1, h - 1);
    if (kind == 3 && w > 2 && h > 2) g.px[spiral(g, 1, 1, w - 2, h - 2)] = 127;
    if (kind == 4 && w > 2 && h > 2) {
        spiral(g, 1, 1, w - 2, h - 2);
        for (auto &b : g.px) b = uint8_t(1 - b);
    }
    if (kind == 5) {
        std::mt19937 rng(seed);
        for (auto &b : g.px) b = rng() % 8 ? b : uint8_t(std::array<int, 4>{127, 255, 130, 2}[rng() % 4]);
    }
    return g;
}

ref::Bytes testMask(int kind, int w, int h, uint32_t seed)
{
    ref::Bytes m(size_t(w) * h, 1);
    if (kind == 1)
        for (int y = 0; y < h; ++y)
            for (int x = w / 2; x < w; ++x) m[size_t(y) * w + x] = 0;
    if (kind == 2) m = noise(w, h, 800, seed + 99).px;
    if (kind == 3) {
        ref::Grid s{w, h, ref::Bytes(size_t(w) * h)};
        spiral(s, 0, 0, w - 1, h - 1);
        m = s.px;
    }
    return m;
}

enum Op { kRemove, kRemoveEx, kFill, kFillEx };

void runBoth(Op op, const ref::Grid &in, const ref::Bytes *mask, const std::string &what)
{
    PaddedImage im(KIT_BIN, in.w, in.h, in.px);
    std::unique_ptr<PaddedImage> m;
    if (mask) m = std::make_unique<PaddedImage>(KIT_BIN, in.w, in.h, *mask, 2);
    const Image *mi = m ? m->get() : nullptr;
    ref::Grid expect = in;
    switch (op) {
    case kRemove: kxRemoveBorder(im.get()), ref::removeBorder(expect); break;
    case kRemoveEx: kxRemoveBorderEx(im.get(), mi), ref::removeBorder(expect, mask); break;
    case kFill: kxFillHole(im.get()), ref::fillHole(expect); break;
    case kFillEx: kxFillHoleEx(im.get(), mi), ref::fillHoleEx(expect, mask); break;
    }
    ASSERT_EQ(grid(im.get()).px, expect.px) << what;
    EXPECT_TRUE(im.paddingIntact()) << what;
}

TEST(BorderRegions, StackFloodEqualsSweeps)
{
    const int sizes[][2] = {{1, 1}, {1, 7}, {6, 1}, {2, 2}, {3, 3}, {4, 9}, {13, 5}, {17, 17}, {31, 24}, {48, 33}};
    uint32_t seed = 1;
    for (auto [w, h] : sizes)
        for (int kind = 0; kind < 6; ++kind)
            for (int rep = 0; rep < 2; ++rep, ++seed) {
                const ref::Grid in = testImage(kind, w, h, seed);
                const std::string what = std::to_string(w) + "x" + std::to_string(h) + " kind " +
                                         std::to_string(kind) + " seed " + std::to_string(seed);
                runBoth(kRemove, in, nullptr, what);
                runBoth(kFill, in, nullptr, what);
                for (int mk = 0; mk < 4; ++mk) {
                    const ref::Bytes mask = testMask(mk, w, h, seed);
                    runBoth(kRemoveEx, in, &mask, what + " mask " + std::to_string(mk));
                    runBoth(kFillEx, in, &mask, what + " mask " + std::to_string(mk));
                }
                runBoth(kFillEx, in, nullptr, what + " no mask");
            }
}

TEST(BorderRegions, LongSpiralEqualsSweeps)
{
    ref::Grid in{120, 97, ref::Bytes(120 * 97)};
    in.px[spiral(in, 1, 1, 118, 95)] = 127;
    runBoth(kRemove, in, nullptr, "spiral from the centre");
    ref::Grid outer{97, 120, ref::Bytes(97 * 120)};
    spiral(outer, 0, 0, 96, 119);
    runBoth(kRemove, outer, nullptr, "spiral from the border");
    for (auto &b : outer.px) b = uint8_t(1 - b);
    runBoth(kFill, outer, nullptr, "spiral corridor");
}

// The fallback used when the stack cannot be allocated marks the same
// pixels as the stack.
TEST(BorderRegions, SweepFallbackEqualsStack)
{
    using namespace kx::binary;
    for (uint32_t seed = 1; seed <= 24; ++seed) {
        const int w = 3 + int(seed % 9) * 3, h = 3 + int(seed % 7) * 4;
        ref::Grid a = testImage(int(seed % 6), w, h, seed), b = a;
        const ref::Bytes mask = testMask(int(seed % 4), w, h, seed);
        const MaskPlane m{seed % 2 ? mask.data() : nullptr, w};
        const Plane pa{a.px.data(), w, h, w}, pb{b.px.data(), w, h, w};
        seedBorder(pa, m);
        spreadBySweeps(pa, m);
        markBorderRegions(pb, m);
        ASSERT_EQ(a.px, b.px) << seed;
    }
}

TEST(BorderRegions, RefusalsAndAssertions)
{
    const ref::Grid in = noise(8, 6, 500, 3);
    auto gray = image(in, KIT_GRAY);
    kxRemoveBorder(gray.get());
    kxRemoveBorderEx(gray.get(), nullptr);
    kxFillHole(gray.get());
    kxFillHoleEx(gray.get(), nullptr);
    EXPECT_EQ(grid(gray.get()).px, in.px);
    kxFillHole(nullptr);  // no assertion: nothing happens

    auto im = image(in);
    auto small = image(noise(7, 6, 500, 1));
    EXPECT_KX_ASSERT_TEXT(kxRemoveBorderEx(im.get(), small.get()),
                     "(pI)->width == (pMask)->width && (pI)->height == (pMask)->height");
    EXPECT_KX_ASSERT_TEXT(kxFillHoleEx(im.get(), small.get()), "(pI)->width == (pM)->width && (pI)->height == (pM)->height");
    EXPECT_KX_ASSERT(kxRemoveBorder(nullptr), "image");
    EXPECT_KX_ASSERT(kxRemoveBorderEx(nullptr, nullptr), "image");
    EXPECT_KX_ASSERT(kxFillHoleEx(nullptr, nullptr), "image");
    // A colour image is no mask.
    auto rgb = kxtest::randomImage(KIT_RGB, 8, 6, 2);
    kxRemoveBorderEx(im.get(), rgb.get());
    kxFillHoleEx(im.get(), rgb.get());
    EXPECT_EQ(grid(im.get()).px, in.px);
}

// ---- edges ----------------------------------------------------------------

TEST(RetrieveEdge, SquareOutlines)
{
    ref::Grid sq{11, 10, ref::Bytes(110)};
    for (int y = 2; y < 7; ++y)
        for (int x = 3; x < 8; ++x) sq.at(x, y) = 1;
    auto count = [](const Image *im) {
        int n = 0;
        for (uint8_t b : kxtest::pixels(im)) n += b;
        return n;
    };
    PaddedImage inner(KIT_BIN, sq.w, sq.h, sq.px);
    EXPECT_EQ(kxRetrieveEdge(inner.get(), 0, 7), 7);
    EXPECT_EQ(count(inner.get()), 16);
    EXPECT_EQ(grid(inner.get()).at(3, 2), 1);
    EXPECT_EQ(grid(inner.get()).at(5, 4), 0);
    EXPECT_TRUE(inner.paddingIntact());
    auto outer = image(sq);
    EXPECT_EQ(kxRetrieveEdge(outer.get(), 1, -3), -3);
    EXPECT_EQ(count(outer.get()), 20);
    EXPECT_EQ(grid(outer.get()).at(2, 2), 1);
    EXPECT_EQ(grid(outer.get()).at(2, 1), 0);
    EXPECT_EQ(kxRetrieveEdge(nullptr, 0, 5), 5);
}

TEST(RetrieveEdge, FrameIsCleared)
{
    auto full = image(ref::Grid{5, 4, ref::Bytes(20, 1)});
    kxRetrieveEdge(full.get(), 0, 0);
    EXPECT_EQ(grid(full.get()).px, ref::Bytes(20, 0));
}

TEST(RetrieveEdgeE1, ModesDestinationsAndAliasing)
{
    // (3, 2) has unset diagonal neighbour (4, 1): mode 1 keeps it, mode 0
    // clears it.
    const ref::Grid in = draw({"......", ".###..", ".####.", ".####.", "......"});
    const ref::Grid mode0 = draw({"......", ".###..", ".#..#.", ".####.", "......"});
    const ref::Grid mode1 = draw({"......", ".###..", ".#.##.", ".####.", "......"});
    auto a = image(in);
    EXPECT_EQ(kxRetrieveEdgeE1(a.get(), 0, nullptr), a.get());
    EXPECT_EQ(grid(a.get()).px, mode0.px);

    auto b = image(in);
    ImagePtr dest(kxCreateImage(KIT_GRAY, 2, 2));
    EXPECT_EQ(kxRetrieveEdgeE1(b.get(), 1, dest.get()), dest.get());
    EXPECT_EQ(grid(dest.get()).px, mode1.px);
    EXPECT_EQ(dest->imageType, KIT_BIN);
    EXPECT_EQ(grid(b.get()).px, in.px);

    PaddedImage c(KIT_BIN, in.w, in.h, in.px);
    EXPECT_EQ(kxRetrieveEdgeE1(c.get(), 1, c.get()), c.get());
    EXPECT_EQ(grid(c.get()).px, mode1.px);
    EXPECT_TRUE(c.paddingIntact());

    auto gray = image(in, KIT_GRAY);
    EXPECT_EQ(kxRetrieveEdgeE1(gray.get(), 0, dest.get()), dest.get());
    EXPECT_EQ(kxRetrieveEdgeE1(nullptr, 0, nullptr), nullptr);

    // A virtual destination of another size cannot take the copy.
    std::vector<uint8_t> mem(4);
    ImagePtr wrapped(kxCreateImageEx(KIT_BIN, 2, 2, 0, mem.data(), 0));
    EXPECT_KX_ASSERT(kxRetrieveEdgeE1(a.get(), 0, wrapped.get()), "pRowDest && pRowSrc");
}

// ---- margin -----------------------------------------------------------

TEST(CutMargin, FramesByMargin)
{
    struct M {
        int margin, frame;
    };
    for (M c : {M{0, 1}, M{-5, 1}, M{1, 1}, M{2, 2}, M{4, 4}, M{6, 0}, M{9, 0}}) {
        const ref::Grid in{6, 7, ref::Bytes(42, 1)};
        PaddedImage im(KIT_BIN, 6, 7, in.px);
        kxCutMargin(im.get(), c.margin);
        const ref::Grid out = grid(im.get());
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool inFrame = x < c.frame || y < c.frame || x >= 6 - c.frame || y >= 7 - c.frame;
                ASSERT_EQ(out.at(x, y), inFrame ? 0 : 1) << c.margin << " at " << x << "," << y;
            }
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(CutMargin, ColourKeepsAlpha)
{
    PaddedImage im(KIT_RGBA, 4, 3, std::vector<uint8_t>(48, 200));
    kxCutMargin(im.get(), 1);
    const auto px = kxtest::pixels(im.get());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const uint8_t *p = &px[size_t(y * 4 + x) * 4];
            const bool frame = x == 0 || y == 0 || x == 3 || y == 2;
            EXPECT_EQ(p[0] + p[1] + p[2], frame ? 0 : 600);
            EXPECT_EQ(p[3], 200);
        }
    EXPECT_TRUE(im.paddingIntact());
    auto rgb = kxtest::makeImage(KIT_RGB, 3, 3, std::vector<uint8_t>(27, 9));
    kxCutMargin(rgb.get(), 1);
    EXPECT_EQ(kxGetPixel(rgb.get(), 1, 1), 0xFF090909u);
    EXPECT_EQ(kxGetPixel(rgb.get(), 0, 1), 0xFF000000u);
    EXPECT_KX_ASSERT(kxCutMargin(nullptr, 1), "image");
}

}  // namespace
