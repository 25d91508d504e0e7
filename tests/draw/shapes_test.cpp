// Lines, outlines and filled shapes as small pictures, checked by hand
// against the rule each one shows; invariants on random shapes (clipping
// is a crop of the unclipped drawing, mirrored or transposed arguments give
// mirrored or transposed pictures); outline colour rules and arguments far
// outside the image.
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "draw_util.hpp"

using namespace drawtest;

namespace {

using Draw = std::function<void(Image *)>;

const double kInf = std::numeric_limits<double>::infinity(), kNan = std::nan("");
const int kSquare[] = {0, 0, 4, 0, 4, 4, 0, 4}, kTriangle[] = {1, 0, 7, 3, 0, 5}, kStar[] = {4, 0, 6, 6, 0, 2, 8, 2, 2, 6},
          kHook[] = {0, 0, 7, 0, 7, 5, 2, 5, 2, 3, 5, 3, 5, 2, 0, 2},
          kHuge[] = {INT_MIN, INT_MIN, INT_MAX, INT_MIN + 7, 3, INT_MAX, INT_MIN, 12, -5, -5},
          kThin[] = {INT_MAX, 3, INT_MIN, 4, INT_MAX, 20, -1000000000, 11}, kOpen[] = {1, 1, 6, 1, 6, 5},
          kFlat[] = {0, 1, 5, 1, 3, 1};

Draw line(int x0, int y0, int x1, int y1) { return [=](Image *im) { kxSetLine(im, x0, y0, x1, y1, 1); }; }
Draw outline(int cx, int cy, int rx, int ry, float angle = 0) { return [=](Image *im) { kxSetEllipse(im, cx, cy, rx, ry, angle, 1); }; }
Draw box(int l, int t, int r, int b) { return [=](Image *im) { kxFillEllipse(im, l, t, r, b, 0x101); }; }
Draw turned(EllipseBox e) { return [=](Image *im) { kxFillEllipseE1(im, e, 1); }; }
Draw polygon(const int *v, int n) { return [=](Image *im) { kxFillPolygon(im, v, n, 0x101); }; }

TEST(Shapes, Pictures)
{
    const struct { int w, h; Draw draw; const char *want; } cases[] = {
        {6, 3, line(0, 0, 4, 1), "##.... ..###. ......"},  // the direction decides the tie
        {6, 3, line(4, 1, 0, 0), "###... ...##. ......"}, {5, 3, line(2, 1, 2, 1), "..... ..#.. ....."},
        {6, 6, line(1, 0, 3, 5), ".#.... .#.... ..#... ..#... ...#.. ...#.."},
        {5, 5, line(INT_MIN, INT_MIN, INT_MAX, INT_MAX), "#.... .#... ..#.. ...#. ....#"},  // clipped before walking
        {5, 3, line(INT_MIN, 0, INT_MAX, 1), "..... ##### ....."},                        // the step falls at x = 0
        {5, 3, line(INT_MIN, INT_MAX, INT_MAX, INT_MAX), "..... ..... ....."},
        // Lines a few hundred thousand positions long whose visible part is short.
        {8, 8, line(-300000, -20, 300000, 30), "........ ........ ........ ........ ........ ######## ........ ........"},
        {8, 6, line(10, 500000, -3, -499999), "...#.... ....#... ....#... ....#... ....#... ....#..."},
        {8, 6, line(-250000, -250000, 250000, 250001), "#....... #....... .#...... ..#..... ...#.... ....#..."},
        {8, 7, [](Image *im) { kxSetPolyline(im, kOpen, 3, 1); }, "........ .######. ......#. ......#. ......#. ......#. ........"},
        {8, 3, [](Image *im) { kxSetPolyline(im, kOpen, 2, 1); }, "........ .######. ........"},  // not closed
        {5, 5, outline(2, 2, 1, 1), "..... ..... ..... ..... ....."},  // 8 points are too few to draw
        {5, 5, outline(2, 2, 0, 5), "..... ..... ..#.. ..... ....."}, {7, 3, outline(3, 1, 2, 0), "....... .#####. ......."},
        {5, 5, outline(2, 2, -5, 8), "..... ..... ..... ..... ....."},
        {15, 9, outline(7, 4, 6, 3),
         "............... ....#######.... ..##.......##.. .#...........#. .#...........#. .#...........#. "
         "..##.......##.. ....#######.... ..............."},
        {15, 11, outline(7, 5, 6, 3, 30),
         "............... .......####.#.. ......#.....#.. ....##.......#. ...#........#.. ...#.......#... "
         "..#........#... .#.......##.... ..#.....##..... ..#.####....... ..............."},
        {10, 8, outline(1, 2, 6, 4), "......#... .......#.. .......#.. .......#.. ......#... ....##.... ####...... .........."},
        // Ellipses far larger than the image, through it; the flat one's
        // walk never takes its second step in y, so it tops out at ry - 1.
        {9, 7, outline(4, 3, 2, 70001), "..#...#.. ..#...#.. ..#...#.. ..#...#.. ..#...#.. ..#...#.. ..#...#.."},
        {9, 7, outline(4, 3, 70001, 2), "......... ......... ######### ......... ######### ......... ........."},
        {9, 7, outline(4, 3 - 60000, 60000, 60000), "......... ......... ......... ######### ......... ......... ........."},
        // Filled boxes: (0, 1) lies on the ellipse exactly, inside.
        {6, 4, box(0, 0, 4, 2), "..#... #####. ..#... ......"},
        {6, 4, box(4, 3, 0, 0), "...... ...... ...... ......"}, {6, 4, box(2, 0, 2, 3), "...... ...... ...... ......"},  // reversed, no width
        {6, 4, box(INT_MIN, INT_MIN, INT_MAX, INT_MAX), "###### ###### ###### ######"},
        // Single-precision terms: v rounds to 1 on the row past the edge too.
        {8, 5, box(-2000000000, -2000000000, 2000000000, 3), "######## ######## ######## ######## ########"},
        {8, 5, box(3, INT_MIN, 5, INT_MAX), "...###.. ...###.. ...###.. ...###.. ...###.."},
        {9, 9, turned({4, 4, 8, 8, 0}), "....#.... ..#####.. .#######. .#######. ######### .#######. .#######. ..#####.. ....#...."},
        {9, 7, turned({4, 3, 8, 4, 30}), "......... ....####. ..######. .#######. .######.. .####.... ........."},
        {7, 5, turned({3.5, 2.5, kInf, 4, 20}), ".....## ..##### ####### ####### ######."},  // the strip |dy| <= 2: 27 pixels
        {7, 2, turned({3, 1, 0, 8, 0}), "....... ......."}, {7, 2, turned({3, 1, 5, kNan, 0}), "....... ......."},
        {7, 2, turned({1e12, -1e12, 1e13, 1e13, 45}), "####### #######"},
        // Polygons: the right column and bottom row of the square stay out;
        // the even-odd rule leaves the star's centre out.
        {9, 5, polygon(kSquare, 4), "####..... ####..... ####..... ####..... ........."},
        {9, 6, polygon(kTriangle, 3), "......... .##...... .####.... .######.. .###..... ........."},
        {9, 6, polygon(kHook, 8), "#######.. #######.. .....##.. ..#####.. ..#####.. ........."},
        {9, 7, polygon(kStar, 5), "......... ....#.... ####.###. ..#..##.. .....#... ...#.#... ........."},
        {9, 2, polygon(kHuge, 5), "######### #########"}, {9, 6, polygon(kThin, 4), "......... ......... ......... ......... ######### #########"},
        {9, 2, polygon(kSquare, 2), "......... ........."}, {9, 2, polygon(kFlat, 3), "......... ........."},
        {9, 2, [](Image *im) { kxFillPolygonE1(im, kSquare, 4, kSquare, 4, 1); }, "......... ........."},  // all hole
        {9, 2, [](Image *im) { kxFillPolygonE1(im, kSquare, 4, nullptr, 4, 1); }, "####..... ####....."},
    };
    for (size_t k = 0; k < std::size(cases); ++k) EXPECT_EQ(drawn(cases[k].w, cases[k].h, cases[k].draw), cases[k].want) << k;
}

// Random shapes: on a small image, the crop of the same shape moved onto a
// canvas that holds it whole; lines mirrored or transposed, boxes and
// unturned outlines mirrored, give the mirrored or transposed picture.
TEST(Shapes, ClippingCropsAndMirrorsMirror)
{
    std::mt19937 rng(11);
    auto c = [&](int lo, int hi) { return lo + int(rng() % unsigned(hi - lo + 1)); };
    for (int i = 0; i < 1000; ++i) {
        const int w = c(1, 37), h = c(1, 29), kind = i % 5, x0 = c(-40, 70), y0 = c(-40, 70), x1 = c(-40, 70), y1 = c(-40, 70);
        const float angle = i % 3 ? float(c(-3600, 3600)) / 10.0f : 0.0f;
        const EllipseBox e{x0 / 4.0, y0 / 4.0, double(c(0, 40)), double(c(0, 40)), double(angle)};
        std::vector<int> v(size_t(2 * c(3, 12)));
        for (int &k : v) k = c(-20, 60);
        const std::function<Draw(int)> shape[] = {
            [&](int d) { return line(x0 + d, y0 + d, x1 + d, y1 + d); },
            [&](int d) { return outline(x0 / 2 + d, y0 / 2 + d, x1 / 2 + 20, y1 / 2 + 20, angle); },
            [&](int d) { return box(std::min(x0, x1) + d, std::min(y0, y1) + d, std::max(x0, x1) + d, std::max(y0, y1) + d); },
            [&](int d) { return turned({e.centerX + d, e.centerY + d, e.width, e.height, e.angle}); },
            [&](int d) { std::vector<int> u = v; for (int &k : u) k += d; return Draw([u](Image *im) { kxFillPolygon(im, u.data(), int(u.size() / 2), 1); }); },
        };
        SCOPED_TRACE(testing::Message() << "kind " << kind << ": " << x0 << "," << y0 << " " << x1 << "," << y1 << " on " << w << "x" << h);
        const std::string small = drawn(w, h, shape[kind](0));
        ASSERT_EQ(small, remap(drawn(160, 160, shape[kind](60)), 160, w, h, [](int x, int y) { return std::pair{x + 60, y + 60}; }));
        if (kind == 0) {
            ASSERT_EQ(remap(small, w, w, h, [&](int x, int y) { return std::pair{w - 1 - x, y}; }), drawn(w, h, line(w - 1 - x0, y0, w - 1 - x1, y1)));
            ASSERT_EQ(remap(small, w, w, h, [&](int x, int y) { return std::pair{x, h - 1 - y}; }), drawn(w, h, line(x0, h - 1 - y0, x1, h - 1 - y1)));
            ASSERT_EQ(remap(small, w, h, w, [](int x, int y) { return std::pair{y, x}; }), drawn(h, w, line(y0, x0, y1, x1)));
        }
        const int l = std::min(x0, x1), t = std::min(y0, y1), r = std::max(x0, x1), b = std::max(y0, y1);
        if (kind == 2 || (kind == 1 && angle == 0.0f)) {
            ASSERT_EQ(remap(small, w, w, h, [&](int x, int y) { return std::pair{w - 1 - x, h - 1 - y}; }),
                      drawn(w, h, kind == 2 ? box(w - 1 - r, h - 1 - b, w - 1 - l, h - 1 - t) : outline(w - 1 - x0 / 2, h - 1 - y0 / 2, x1 / 2 + 20, y1 / 2 + 20)));
        }
    }
}

TEST(Shapes, OutlineColourRules)
{
    const std::tuple<int, uint32_t, std::vector<uint8_t>> cases[] = {
        {KIT_GRAY, 254, {254}}, {KIT_GRAY, 0xFF000000u, {255}}, {KIT_BIN, 0x1000000, {1}}, {KIT_BIN, 0, {0}},
        {KIT_RGB, 0x112233, {0x33, 0x22, 0x11}}, {KIT_RGBA, 0x44112233, {0x33, 0x22, 0x11, 0x44}},
    };
    for (const auto &[type, colour, bytes] : cases) {
        const int b = bpp(type);
        auto im = makeImage(type, 3, 1, std::vector<uint8_t>(size_t(3 * b), type == KIT_BIN ? 1 : 7));
        kxSetLine(im.get(), 1, 0, 1, 0, colour);
        const auto px = pixels(im.get());
        EXPECT_EQ(std::vector<uint8_t>(px.begin() + b, px.begin() + 2 * b), bytes) << type << " " << colour;
    }
}

// Centres and radii far outside the 32-bit range of the image draw nothing
// and do not wrap into it; padding stays; null vertices assert.
TEST(Shapes, FarArgumentsAndPadding)
{
    auto im = makeImage(KIT_GRAY, 32, 32);
    for (auto [cx, cy, rx, ry, angle] : {std::tuple{INT_MAX - 3, INT_MIN + 3, 40, 40, 0.0f}, {INT_MAX, INT_MAX, 300, 7, 33.0f},
                                         {INT_MIN, 16, 60000, 60000, 0.0f}, {16, 16, 2097152, 5, 0.0f},  // the last: beyond the point limit
                                         {16, 16, INT_MAX, INT_MAX, 0.0f}, {16, 16, INT_MIN, INT_MAX, 10.0f}})
        kxSetEllipse(im.get(), cx, cy, rx, ry, angle, 1);
    for (int n : {1, 0, -4}) kxSetPolyline(im.get(), nullptr, n, 1);
    EXPECT_EQ(pixels(im.get()), std::vector<uint8_t>(32 * 32, 0));
    PaddedImage p(KIT_RGB, 9, 7);
    kxSetLine(p.get(), -3, -2, 30, 20, 0xFFFFFF), kxSetLine(p.get(), 8, 0, 8, 6, 0xFFFFFF), kxSetEllipse(p.get(), 4, 3, 12, 6, 20.0f, 255);
    kxFillEllipse(p.get(), -3, -3, 12, 12, 0x123456);
    EXPECT_TRUE(kxGetPixel(p.get(), 3, 2) == 0xFF123456u && p.paddingIntact());
    EXPECT_KX_ASSERT(kxFillPolygon(im.get(), nullptr, 3, 1), "pVertexArray");
}

}  // namespace
