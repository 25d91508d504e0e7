// Lines, polylines and ellipse outlines: small pictures, colour rules,
// clipping far outside the image, and invariants (clipping is a crop of
// the unclipped drawing; mirrored and transposed lines give mirrored and
// transposed pictures).
#include <climits>
#include <random>

#include "draw_util.hpp"

using namespace drawtest;

namespace {

// A line as drawn on a w x h grey image.
std::string line(int w, int h, int x0, int y0, int x1, int y1)
{
    return drawn(w, h, [&](Image *im) { kxSetLine(im, x0, y0, x1, y1, 1); });
}

// The picture with rows and columns exchanged.
std::string transpose(const std::string &p, int w, int h)
{
    std::string s;
    for (int x = 0; x < w; ++x) {
        if (x) s += ' ';
        for (int y = 0; y < h; ++y) s += p[size_t(y) * (w + 1) + x];
    }
    return s;
}

TEST(SetLine, Pictures)
{
    const struct {
        int w, h, x0, y0, x1, y1;
        const char *want;
    } cases[] = {
        {6, 3, 0, 0, 4, 1, "##.... ..###. ......"},  // the direction decides the tie
        {6, 3, 4, 1, 0, 0, "###... ...##. ......"},
        {5, 3, 2, 1, 2, 1, "..... ..#.. ....."},
        {6, 6, 1, 0, 3, 5, ".#.... .#.... ..#... ..#... ...#.. ...#.."},
        {5, 3, -5, -1, 20, -3, "..... ..... ....."},
        {5, 3, 5, 0, 5, 2, "..... ..... ....."},
        {5, 3, -5, 2, 20, 2, "..... ..... #####"},
        {5, 5, INT_MIN, INT_MIN, INT_MAX, INT_MAX, "#.... .#... ..#.. ...#. ....#"},  // clipped before walking
        {5, 3, INT_MIN, 0, INT_MAX, 1, "..... ##### ....."},                        // the step falls at x = 0
        {5, 3, INT_MIN, INT_MAX, INT_MAX, INT_MAX, "..... ..... ....."},
        {5, 3, INT_MAX, INT_MIN, INT_MAX, INT_MAX, "..... ..... ....."},
        // Lines a few hundred thousand positions long whose visible part is short.
        {8, 8, -300000, -20, 300000, 30, "........ ........ ........ ........ ........ ######## ........ ........"},
        {8, 6, 10, 500000, -3, -499999, "...#.... ....#... ....#... ....#... ....#... ....#..."},
        {8, 6, -250000, -250000, 250000, 250001, "#....... #....... .#...... ..#..... ...#.... ....#..."},
    };
    for (const auto &c : cases)
        EXPECT_EQ(line(c.w, c.h, c.x0, c.y0, c.x1, c.y1), c.want) << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
    PaddedImage p(KIT_RGB, 9, 7);
    kxSetLine(p.get(), -3, -2, 30, 20, 0xFFFFFF);
    kxSetLine(p.get(), 8, 0, 8, 6, 0xFFFFFF);
    EXPECT_TRUE(p.paddingIntact());
    EXPECT_KX_ASSERT(kxSetLine(nullptr, 0, 0, 1, 1, 1), "image");
}

TEST(SetLine, ColourRules)
{
    const struct {
        int type;
        uint32_t colour;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {KIT_GRAY, 254, {254}},   {KIT_GRAY, 0x100, {255}}, {KIT_GRAY, 0xFF000000u, {255}},
        {KIT_BIN, 7, {1}},        {KIT_BIN, 0x1000000, {1}}, {KIT_BIN, 0, {0}},
        {KIT_RGB, 0x112233, {0x33, 0x22, 0x11}}, {KIT_RGBA, 0x44112233, {0x33, 0x22, 0x11, 0x44}},
    };
    for (const auto &c : cases) {
        const int b = bpp(c.type);
        auto im = makeImage(c.type, 3, 1, std::vector<uint8_t>(size_t(3 * b), c.type == KIT_BIN ? 1 : 7));
        kxSetLine(im.get(), 1, 0, 1, 0, c.colour);
        const auto px = pixels(im.get());
        EXPECT_EQ(std::vector<uint8_t>(px.begin() + b, px.begin() + 2 * b), c.bytes) << c.type << " " << c.colour;
    }
}

TEST(SetLine, ClipsByCroppingMirrorsAndTransposes)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> coord(-40, 70);
    for (int i = 0; i < 600; ++i) {
        const int w = 1 + int(rng() % 37), h = 1 + int(rng() % 29);
        const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
        SCOPED_TRACE(testing::Message() << x0 << "," << y0 << " -> " << x1 << "," << y1 << " on " << w << "x" << h);
        const std::string small = line(w, h, x0, y0, x1, y1);
        ASSERT_EQ(small, crop(line(200, 200, x0 + 50, y0 + 50, x1 + 50, y1 + 50), 200, 50, 50, w, h));
        ASSERT_EQ(flip(small, w, true, false), line(w, h, w - 1 - x0, y0, w - 1 - x1, y1));
        ASSERT_EQ(flip(small, w, false, true), line(w, h, x0, h - 1 - y0, x1, h - 1 - y1));
        ASSERT_EQ(transpose(small, w, h), line(h, w, y0, x0, y1, x1));
    }
}

TEST(SetPolyline, OpenChainOfLines)
{
    const int v[] = {1, 1, 6, 1, 6, 5};
    EXPECT_EQ(drawn(8, 7, [&](Image *im) { kxSetPolyline(im, v, 3, 1); }),
              "........ .######. ......#. ......#. ......#. ......#. ........");  // not closed
    EXPECT_EQ(drawn(8, 3, [&](Image *im) { kxSetPolyline(im, v, 2, 1); }), "........ .######. ........");
    auto none = makeImage(KIT_GRAY, 8, 8);
    for (int n : {1, 0, -4}) kxSetPolyline(none.get(), nullptr, n, 1);
    EXPECT_EQ(pixels(none.get()), std::vector<uint8_t>(64, 0));
    EXPECT_KX_ASSERT(kxSetPolyline(none.get(), nullptr, 2, 1), "pVertexArray");
}

TEST(SetEllipse, Pictures)
{
    const struct {
        int w, h, cx, cy, rx, ry;
        float angle;
        const char *want;
    } cases[] = {
        {5, 5, 2, 2, 1, 1, 0, "..... ..... ..... ..... ....."},  // 8 points are too few to draw
        {5, 5, 2, 2, 0, 5, 0, "..... ..... ..#.. ..... ....."},
        {7, 3, 3, 1, 2, 0, 0, "....... .#####. ......."},
        {5, 5, 2, 2, -5, 8, 0, "..... ..... ..... ..... ....."},
        {13, 13, 6, 6, 5, 5, 0,
         "............. ....#####.... ...#.....#... ..#.......#.. .#.........#. .#.........#. .#.........#. "
         ".#.........#. .#.........#. ..#.......#.. ...#.....#... ....#####.... ............."},
        {15, 9, 7, 4, 6, 3, 0,
         "............... ....#######.... ..##.......##.. .#...........#. .#...........#. .#...........#. "
         "..##.......##.. ....#######.... ..............."},
        {15, 11, 7, 5, 6, 3, 30,
         "............... .......####.#.. ......#.....#.. ....##.......#. ...#........#.. ...#.......#... "
         "..#........#... .#.......##.... ..#.....##..... ..#.####....... ..............."},
        {10, 8, 1, 2, 6, 4, 0, "......#... .......#.. .......#.. .......#.. ......#... ....##.... ####...... .........."},  // clipped at the left and top
    };
    for (const auto &c : cases)
        EXPECT_EQ(drawn(c.w, c.h, [&](Image *im) { kxSetEllipse(im, c.cx, c.cy, c.rx, c.ry, c.angle, 1); }), c.want)
            << c.rx << "x" << c.ry << " " << c.angle;
}

// Unturned outlines are mirror images about their centre lines, and
// clipping crops; centres and radii far outside the 32-bit range of the
// image draw nothing, and do not wrap into it.
TEST(SetEllipse, ClipsByCroppingMirrorsAndExtremes)
{
    std::mt19937 rng(5);
    for (int i = 0; i < 200; ++i) {
        const int w = 10 + int(rng() % 40), h = 10 + int(rng() % 40), rx = int(rng() % 40), ry = int(rng() % 40);
        const int cx = int(rng() % 60) - 10, cy = int(rng() % 60) - 10;
        const float angle = i % 3 == 0 ? 0.0f : float(int(rng() % 7200) - 3600) / 10.0f;
        SCOPED_TRACE(testing::Message() << cx << "," << cy << " " << rx << "x" << ry << " " << angle);
        const std::string small = drawn(w, h, [&](Image *im) { kxSetEllipse(im, cx, cy, rx, ry, angle, 1); });
        ASSERT_EQ(small, crop(drawn(180, 180, [&](Image *im) { kxSetEllipse(im, cx + 60, cy + 60, rx, ry, angle, 1); }),
                              180, 60, 60, w, h));
        if (angle == 0.0f) {
            ASSERT_EQ(flip(small, w, true, true), drawn(w, h, [&](Image *im) { kxSetEllipse(im, w - 1 - cx, h - 1 - cy, rx, ry, 0, 1); }));
        }
    }
    auto im = makeImage(KIT_GRAY, 32, 32);
    kxSetEllipse(im.get(), INT_MAX - 3, INT_MIN + 3, 40, 40, 0.0f, 1);
    kxSetEllipse(im.get(), INT_MAX, INT_MAX, 300, 7, 33.0f, 1);
    kxSetEllipse(im.get(), INT_MIN, 16, 60000, 60000, 0.0f, 1);
    kxSetEllipse(im.get(), 16, 16, 2097152, 5, 0.0f, 1);  // beyond the point limit
    kxSetEllipse(im.get(), 16, 16, INT_MAX, INT_MAX, 0.0f, 1);
    kxSetEllipse(im.get(), 16, 16, INT_MIN, INT_MAX, 10.0f, 1);
    EXPECT_EQ(pixels(im.get()), std::vector<uint8_t>(32 * 32, 0));
    // Flat and round ellipses far larger than the image, through it.
    const int through[][4] = {{4, 3, 2, 70001}, {4, 3, 70001, 2}, {4, 3 - 60000, 60000, 60000}};
    // The flat one: the single-precision walk tops out one row short of ry.
    const char *want[] = {"..#...#.. ..#...#.. ..#...#.. ..#...#.. ..#...#.. ..#...#.. ..#...#..",
                          "......... ......... ######### ......... ######### ......... .........",
                          "......... ......... ......... ######### ......... ......... ........."};
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(drawn(9, 7, [&](Image *i) { kxSetEllipse(i, through[k][0], through[k][1], through[k][2], through[k][3], 0, 1); }),
                  want[k]) << k;
    PaddedImage p(KIT_GRAY, 15, 9);
    kxSetEllipse(p.get(), 7, 4, 12, 6, 20.0f, 255);
    EXPECT_TRUE(p.paddingIntact());
    EXPECT_KX_ASSERT(kxSetEllipse(nullptr, 0, 0, 5, 5, 0.0f, 1), "image");
}

}  // namespace
