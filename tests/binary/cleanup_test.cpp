// Border removal, hole filling, edge retrieval and margin cut: drawn cases,
// and the exports (stack route) against the sweeps route.
#include "binary/binary_detail.hpp"
#include "binary_util.hpp"

using namespace bintest;

namespace {

enum Op { kRemove, kRemoveEx, kFill, kFillEx };

// The export on a padded copy against the sweeps the library falls back on
// without a stack (127 left becomes 0); for the fills the background (1 -
// byte; Ex: byte == 0 or outside the mask) loses its border regions and what
// stays inside the mask becomes 1.  Returns the export's pixels.
Bytes runBoth(Op op, const Grid &in, const Bytes *mask, int maskType = KIT_BIN)
{
    PaddedImage im(KIT_BIN, in.w, in.h, in.px);
    const PaddedImage m(maskType, in.w, in.h, mask ? *mask : Bytes(), 3);
    const Image *mi = mask ? m.get() : nullptr;
    op == kRemove     ? kxRemoveBorder(im.get())
    : op == kRemoveEx ? kxRemoveBorderEx(im.get(), mi)
    : op == kFill     ? kxFillHole(im.get())
                      : kxFillHoleEx(im.get(), mi);
    Grid s = in, expect = in;
    for (size_t i = 0; op >= kFill && i < s.px.size(); ++i)
        s.px[i] = op == kFill ? uint8_t(1 - s.px[i]) : (mask && !(*mask)[i]) || !s.px[i];
    const kx::binary::Plane p{s.px.data(), s.w, s.h, s.w};
    const kx::binary::MaskPlane mp{mask ? mask->data() : nullptr, s.w};
    kx::binary::seedBorder(p, mp);
    if (s.w >= 3 && s.h >= 3) kx::binary::spreadBySweeps(p, mp);
    std::replace(s.px.begin(), s.px.end(), uint8_t(127), uint8_t(0));
    for (size_t i = 0; i < s.px.size(); ++i)
        if (op < kFill || (s.px[i] && (!mask || (*mask)[i]))) expect.px[i] = op < kFill ? s.px[i] : 1;
    EXPECT_EQ(grid(im.get()).px, expect.px);
    EXPECT_TRUE(im.paddingIntact());
    return grid(im.get()).px;
}

TEST(BorderRegions, DrawnCases)
{
    // Rows separated by spaces; mask "": none.
    const struct { const char *in, *mask, *out; Op op; } cases[] = {
        // An interior 127 spreads like a border pixel; every 127 becomes 0.
        {"..... .M##. ...#. #.... .....", "", "..... ..... ..... ..... .....", kRemove},
        // A hole reached through a diagonal gap only is still a hole.
        {"...... ..##.. .#.#.. .###.. ......", "", "...... ..##.. .###.. .###.. ......", kFill},
        // Mask on the left half: holes there are filled, the right half keeps its values.
        {".......... .###.####. .#.#.#..#. .###.####. ..........",
         "#####..... #####..... #####..... #####..... #####.....",
         ".......... .###.####. .###.#..#. .###.####. ..........", kFillEx},
        // Regions touching the mask's edge from inside go, and so does all outside the mask.
        {".......... .##....##. .......##. ..#....... ..........",
         ".......... .#######.. .#######.. .#######.. ..........",
         ".......... .......... .......... .......... ..........", kRemoveEx},
    };
    for (const auto &c : cases) {
        const Bytes mask = *c.mask ? draw(c.mask).px : Bytes();
        EXPECT_EQ(runBoth(c.op, draw(c.in), *c.mask ? &mask : nullptr, KIT_GRAY), draw(c.out).px) << c.in;
    }
}

// Images on which the sweeps need many rounds: noise near the percolation
// density, corridors from the border or an interior 127, their inverses,
// other bytes; masks all inside, left half, noise, a corridor.
Grid testImage(int kind, int w, int h, uint32_t seed)
{
    std::mt19937 rng(seed);
    Grid g = noise(w, h, kind == 0 ? 590 : kind == 1 ? 420 : 0, seed);
    if (kind >= 2) serpentine(g, kind > 2, kind > 2, w - 1 - (kind > 2), h - 1 - (kind > 2));
    if (kind >= 3 && w > 2 && h > 2) g.at(1, 1) = 127;
    for (auto &b : g.px)
        b = kind == 4 ? uint8_t(b ? 0 : 1) : kind == 5 && rng() % 8 == 0 ? "\x7f\xff\x82\x02"[rng() % 4] : b;
    return g;
}

Bytes testMask(int kind, int w, int h, uint32_t seed)
{
    Grid m = noise(w, h, kind == 0 ? 1000 : kind == 2 ? 800 : 0, seed + 99);
    for (int y = 0; y < h && kind == 1; ++y) std::fill_n(m.px.begin() + y * w, w / 2, 1);
    if (kind == 3) serpentine(m, 0, 0, w - 1, h - 1);
    return m.px;
}

TEST(BorderRegions, StackRouteEqualsSweepsRoute)
{
    const int sizes[][2] = {{1, 1}, {1, 7}, {6, 1}, {3, 3}, {13, 5}, {33, 24}, {97, 120}, {203, 41}};
    uint32_t seed = 1;
    for (auto [w, h] : sizes)
        for (int kind = 0; kind < 6; ++kind, ++seed) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " kind " << kind << " seed " << seed);
            const Grid in = testImage(kind, w, h, seed);
            for (Op op : {kRemove, kFill, kFillEx}) runBoth(op, in, nullptr);
            for (int mk = 0; mk < 4; ++mk) {
                const Bytes mask = testMask(mk, w, h, seed);
                for (Op op : {kRemoveEx, kFillEx}) runBoth(op, in, &mask);
            }
        }
}

TEST(BorderRegions, MaskOfAnotherSizeOrType)
{
    const Grid in = noise(8, 6, 500, 3);
    // A mask of another size asserts; a colour image is no mask.
    auto im = image(in), small = image(noise(7, 6, 500, 1)), rgb = kxtest::randomImage(KIT_RGB, 8, 6, 2);
    EXPECT_KX_ASSERT(kxRemoveBorderEx(im.get(), small.get()), "pMask");
    EXPECT_KX_ASSERT(kxFillHoleEx(im.get(), small.get()), "->width == ");
    kxRemoveBorderEx(im.get(), rgb.get());
    kxFillHoleEx(im.get(), rgb.get());
    EXPECT_EQ(grid(im.get()).px, in.px);
}

// kxRetrieveEdge mode 0 keeps set pixels with an unset side neighbour, mode
// 1 marks unset pixels next to a set one; kxRetrieveEdgeE1 clears set pixels
// whose side (0) or all eight (1) neighbours are set, into a destination of
// any size and type or in place.  The frame is always cleared.
TEST(RetrieveEdge, DrawnOutlines)
{
    const char *sq = "........ ........ ..####.. ..####.. ..####.. ..####.. ........ ........";
    const char *notch = "...... .###.. .####. .####. ......";  // (3, 2) has an unset diagonal neighbour
    for (auto [in, mode, e1, out] :
         {std::tuple{sq, 0, false, "........ ........ ..####.. ..#..#.. ..#..#.. ..####.. ........ ........"},
          {sq, 1, false, "........ ..####.. .#....#. .#....#. .#....#. .#....#. ..####.. ........"},
          {"##### ##### ##### #####", 0, false, "..... ..... ..... ....."},
          {notch, 0, true, "...... .###.. .#..#. .####. ......"},
          {notch, 1, true, "...... .###.. .#.##. .####. ......"}}) {
        const Grid g = draw(in), want = draw(out);
        PaddedImage im(KIT_BIN, g.w, g.h, g.px);
        const int r =
            e1 ? kxRetrieveEdgeE1(im.get(), mode, im.get()) == im.get() : kxRetrieveEdge(im.get(), mode, 7 - mode * 10);
        EXPECT_TRUE(r == (e1 ? 1 : 7 - mode * 10) && grid(im.get()).px == want.px && im.paddingIntact()) << out;
        if (!e1) continue;
        auto src = image(g), dest = kxtest::makeImage(KIT_GRAY, 2, 2);
        EXPECT_EQ(kxRetrieveEdgeE1(src.get(), mode, dest.get()), dest.get());
        EXPECT_TRUE(dest->imageType == KIT_BIN && grid(dest.get()).px == want.px && grid(src.get()).px == g.px) << out;
        EXPECT_EQ(kxRetrieveEdgeE1(src.get(), mode, nullptr), src.get());
        EXPECT_EQ(grid(src.get()).px, want.px) << out;
    }
    // A virtual destination of another size cannot take the copy.
    auto im = image(draw(sq));
    PaddedImage wrapped(KIT_BIN, 2, 2);
    EXPECT_KX_ASSERT(kxRetrieveEdgeE1(im.get(), 0, wrapped.get()), "pRowDest && pRowSrc");
}

// Frame pixels lose their colour (an alpha byte stays), the others keep it.
TEST(CutMargin, FramesByMargin)
{
    for (int type : {KIT_BIN, KIT_RGB, KIT_RGBA})
        for (auto [margin, frame] : {std::pair{-5, 1}, {2, 2}, {4, 4}, {9, 0}}) {  // the frame each margin cuts
            const int bpp = kxiBytesPerPixel(type);
            auto im = kxtest::makeImage(type, 6, 7, Bytes(42 * bpp, type == KIT_BIN ? 1 : 200));
            kxCutMargin(im.get(), margin);
            const auto px = kxtest::pixels(im.get());
            for (int i = 0; i < 42 * bpp; ++i) {
                const int x = i / bpp % 6, y = i / bpp / 6;
                const bool cut = (x < frame || y < frame || x >= 6 - frame || y >= 7 - frame) && i % bpp < 3;
                ASSERT_EQ(px[i], cut ? 0 : type == KIT_BIN ? 1 : 200) << type << " " << margin << " " << i;
            }
        }
}

}  // namespace
