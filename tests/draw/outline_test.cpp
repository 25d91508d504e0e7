// Lines, polylines and ellipse outlines: worked examples, colour rules,
// clipping far outside the image, and equality with the direct walk.
#include <climits>
#include <random>
#include <set>
#include <utility>

#include "kxtest.hpp"
#include "ref_draw.hpp"

using namespace kxtest;

namespace {

using Points = std::set<std::pair<int, int>>;

Points setPixels(const Image *im)
{
    Points s;
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x)
            if (im->data[size_t(y) * im->pitch + x]) s.insert({x, y});
    return s;
}

Points run(int x0, int y0, int n, int dx, int dy)  // n points from (x0, y0) in steps (dx, dy)
{
    Points s;
    for (int k = 0; k < n; ++k) s.insert({x0 + k * dx, y0 + k * dy});
    return s;
}

TEST(SetLine, WorkedExamples)
{
    struct Case {
        int w, h, x0, y0, x1, y1;
        Points want;
    } cases[] = {
        {6, 3, 0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}}},  // the direction decides the tie
        {6, 3, 4, 1, 0, 0, {{4, 1}, {3, 1}, {2, 0}, {1, 0}, {0, 0}}},
        {8, 8, 3, 4, 3, 4, {{3, 4}}},
        {8, 8, -5, -1, 20, -3, {}},
        {8, 8, 8, 0, 8, 7, {}},
        {8, 8, -5, 2, 20, 2, run(0, 2, 8, 1, 0)},
        {16, 16, INT_MIN, INT_MIN, INT_MAX, INT_MAX, run(0, 0, 16, 1, 1)},  // clipped before walking
        {16, 4, INT_MIN, 0, INT_MAX, 1, run(0, 1, 16, 1, 0)},                // the step falls at x = 0
        {16, 16, INT_MIN, INT_MAX, INT_MAX, INT_MAX, {}},
        {16, 16, INT_MAX, INT_MIN, INT_MAX, INT_MAX, {}},
    };
    for (const Case &c : cases) {
        auto im = makeImage(KIT_GRAY, c.w, c.h);
        kxSetLine(im.get(), c.x0, c.y0, c.x1, c.y1, 9);
        EXPECT_EQ(setPixels(im.get()), c.want) << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
    }
    PaddedImage p(KIT_RGB, 9, 7);
    kxSetLine(p.get(), -3, -2, 30, 20, 0xFFFFFF);
    kxSetLine(p.get(), 8, 0, 8, 6, 0xFFFFFF);
    EXPECT_TRUE(p.paddingIntact());
    EXPECT_KX_ASSERT(kxSetLine(nullptr, 0, 0, 1, 1, 1), "image");
}

TEST(SetLine, ColourRules)
{
    struct Case {
        int type;
        uint32_t colour;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {KIT_GRAY, 254, {254}},    {KIT_GRAY, 255, {255}},      {KIT_GRAY, 0x100, {255}},
        {KIT_GRAY, 0xFF000000u, {255}}, {KIT_BIN, 7, {1}},      {KIT_BIN, 0x1000000, {1}}, {KIT_BIN, 0, {0}},
        {KIT_RGB, 0x112233, {0x33, 0x22, 0x11}}, {KIT_RGBA, 0x44112233, {0x33, 0x22, 0x11, 0x44}},
    };
    for (const Case &c : cases) {
        const int b = bpp(c.type);
        auto im = makeImage(c.type, 3, 1, std::vector<uint8_t>(size_t(3 * b), c.type == KIT_BIN ? 1 : 7));
        kxSetLine(im.get(), 1, 0, 1, 0, c.colour);
        const auto px = pixels(im.get());
        EXPECT_EQ(std::vector<uint8_t>(px.begin() + b, px.begin() + 2 * b), c.bytes) << c.type << " " << c.colour;
    }
}

TEST(SetLine, MatchesDirectWalk)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> coord(-40, 70);
    const int types[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};
    for (int i = 0; i < 1200; ++i) {
        const int w = 1 + int(rng() % 37), h = 1 + int(rng() % 29);
        auto fast = randomImage(types[i % 4], w, h, uint32_t(i)), slow = randomImage(types[i % 4], w, h, uint32_t(i));
        const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
        const uint32_t colour = rng();
        kxSetLine(fast.get(), x0, y0, x1, y1, colour);
        ref::line(slow.get(), x0, y0, x1, y1, colour);
        ASSERT_EQ(pixels(fast.get()), pixels(slow.get())) << x0 << "," << y0 << " -> " << x1 << "," << y1;
    }
    // Lines a few hundred thousand positions long whose visible part is short.
    const int longLines[][4] = {{-300000, -7, 300000, 40}, {300000, 40, -300000, -7}, {-1000, -200000, 50, 200000},
                                {20, 500000, 3, -499999},  {-250000, -250000, 250000, 250001}, {-123457, 30, 99999, 2}};
    for (const auto &c : longLines) {
        auto fast = makeImage(KIT_GRAY, 64, 48), slow = makeImage(KIT_GRAY, 64, 48);
        kxSetLine(fast.get(), c[0], c[1], c[2], c[3], 200);
        ref::line(slow.get(), c[0], c[1], c[2], c[3], 200);
        EXPECT_EQ(pixels(fast.get()), pixels(slow.get())) << c[0] << "," << c[1];
    }
}

TEST(SetPolyline, OpenChainOfLines)
{
    const int v[] = {1, 1, 6, 1, 6, 5};
    auto poly = makeImage(KIT_GRAY, 8, 8), lines = makeImage(KIT_GRAY, 8, 8);
    kxSetPolyline(poly.get(), v, 3, 1);
    kxSetLine(lines.get(), 1, 1, 6, 1, 1);
    kxSetLine(lines.get(), 6, 1, 6, 5, 1);
    EXPECT_EQ(pixels(poly.get()), pixels(lines.get()));  // not closed
    auto two = makeImage(KIT_GRAY, 8, 8);
    kxSetPolyline(two.get(), v, 2, 1);
    EXPECT_EQ(setPixels(two.get()).size(), 6u);
    auto none = makeImage(KIT_GRAY, 8, 8);
    for (int n : {1, 0, -4}) kxSetPolyline(none.get(), nullptr, n, 1);
    EXPECT_TRUE(setPixels(none.get()).empty());
    EXPECT_KX_ASSERT(kxSetPolyline(none.get(), nullptr, 2, 1), "pVertexArray");
}

TEST(SetEllipse, SpecialSemiAxes)
{
    struct Case {
        int rx, ry;
        Points want;
    } cases[] = {{1, 1, {}},  // 8 points are too few to draw
                 {0, 5, {{10, 10}}}, {5, 0, run(5, 10, 11, 1, 0)}, {-5, 8, {}}, {-5, -8, {}}};
    for (const Case &c : cases) {
        auto im = makeImage(KIT_GRAY, 20, 20);
        kxSetEllipse(im.get(), 10, 10, c.rx, c.ry, 0.0f, 1);
        EXPECT_EQ(setPixels(im.get()), c.want) << c.rx << "x" << c.ry;
    }
    auto circle = makeImage(KIT_GRAY, 41, 41);
    kxSetEllipse(circle.get(), 20, 20, 12, 12, 0.0f, 1);
    const Points p = setPixels(circle.get());
    EXPECT_TRUE(p.count({32, 20}) && p.count({20, 8}) && p.count({8, 20}) && p.count({20, 32}));
}

TEST(SetEllipse, MatchesDirectVersion)
{
    std::mt19937 rng(5);
    for (int i = 0; i < 400; ++i) {
        const int type = (i % 4 == 0) ? KIT_RGBA : KIT_GRAY;
        const int w = 10 + int(rng() % 60), h = 10 + int(rng() % 60);
        const int cx = int(rng() % 100) - 20, cy = int(rng() % 100) - 20;
        const int rx = int(rng() % 50) - 3, ry = int(rng() % 50) - 3;
        const float angle = (i % 3 == 0) ? 0.0f : float(int(rng() % 7200) - 3600) / 10.0f;
        auto fast = makeImage(type, w, h), slow = makeImage(type, w, h);
        kxSetEllipse(fast.get(), cx, cy, rx, ry, angle, 0x80402010u + uint32_t(i));
        ref::ellipse(slow.get(), cx, cy, rx, ry, angle, 0x80402010u + uint32_t(i));
        ASSERT_EQ(pixels(fast.get()), pixels(slow.get())) << cx << "," << cy << " " << rx << "x" << ry << " " << angle;
    }
    PaddedImage p(KIT_GRAY, 15, 9);
    kxSetEllipse(p.get(), 7, 4, 12, 6, 20.0f, 255);
    EXPECT_TRUE(p.paddingIntact());
}

TEST(SetEllipse, ExtremeArguments)
{
    // Centres at the 32-bit limits (the outline must not wrap into the
    // image), radii past the point limit and radii whose squares need 64 bits.
    auto im = makeImage(KIT_GRAY, 32, 32);
    kxSetEllipse(im.get(), INT_MAX - 3, INT_MIN + 3, 40, 40, 0.0f, 1);
    kxSetEllipse(im.get(), INT_MAX, INT_MAX, 300, 7, 33.0f, 1);
    kxSetEllipse(im.get(), INT_MIN, 16, 60000, 60000, 0.0f, 1);
    kxSetEllipse(im.get(), 16, 16, 2097152, 5, 0.0f, 1);  // beyond the point limit
    kxSetEllipse(im.get(), 16, 16, INT_MAX, INT_MAX, 0.0f, 1);
    kxSetEllipse(im.get(), 16, 16, INT_MIN, INT_MAX, 10.0f, 1);
    EXPECT_TRUE(setPixels(im.get()).empty());
    // Flat and round ellipses far larger than the image, through it.
    const int cases[][4] = {{16, 16, 2, 70001}, {16, 16, 70001, 2}, {16, 16 - 60000, 60000, 60000}};
    for (const auto &c : cases) {
        auto fast = makeImage(KIT_GRAY, 32, 32), slow = makeImage(KIT_GRAY, 32, 32);
        kxSetEllipse(fast.get(), c[0], c[1], c[2], c[3], 0.0f, 1);
        ref::ellipse(slow.get(), c[0], c[1], c[2], c[3], 0.0f, 1);
        EXPECT_FALSE(setPixels(fast.get()).empty()) << c[2] << "x" << c[3];
        EXPECT_EQ(pixels(fast.get()), pixels(slow.get())) << c[2] << "x" << c[3];
    }
    EXPECT_KX_ASSERT(kxSetEllipse(nullptr, 0, 0, 5, 5, 0.0f, 1), "image");
}

}  // namespace
