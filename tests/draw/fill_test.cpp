// Filled rectangles, ellipses, polygons, channel fills and seed fills:
// worked examples, colour rules and equality with the whole-image versions.
#include <climits>
#include <cmath>
#include <limits>
#include <random>

#include "kxtest.hpp"
#include "ref_draw.hpp"

using namespace kxtest;

namespace {

int countNonZero(const Image *im)
{
    int n = 0;
    for (uint8_t b : pixels(im)) n += b != 0;
    return n;
}

uint8_t at(const Image *im, int x, int y) { return im->data[size_t(y) * im->pitch + x]; }

// Fast and straightforward version on two zeroed images of one size: same bytes.
template <class Fast, class Slow>
void expectSame(int type, int w, int h, Fast fast, Slow slow, const char *what, int i)
{
    auto a = makeImage(type, w, h), b = makeImage(type, w, h);
    fast(a.get());
    slow(b.get());
    ASSERT_EQ(pixels(a.get()), pixels(b.get())) << what << " " << i;
}

TEST(FillRect, ClipsAndColours)
{
    struct Case {
        bool e1;  // kxFillRectE1: corners clamped into the image
        int type, x0, y0, x1, y1;
        uint32_t colour;
        int px0, py0, px1, py1;  // the painted rectangle, inclusive
        uint8_t byte;
    } cases[] = {
        {false, KIT_GRAY, 3, -4, 9, 2, 0x1FF, 3, 0, 5, 2, 0xFF},  // the low byte
        {false, KIT_GRAY, 3, -4, 9, 2, 0x100, 3, 0, 5, 2, 0},
        {false, KIT_BIN, 3, -4, 9, 2, 0x100, 3, 0, 5, 2, 1},
        {false, KIT_GRAY, 4, 0, 3, 4, 9, 0, 0, -1, -1, 0},
        {false, KIT_GRAY, 0, 4, 5, 3, 9, 0, 0, -1, -1, 0},
        {false, KIT_GRAY, INT_MIN, INT_MIN, -1, INT_MAX, 9, 0, 0, -1, -1, 0},
        {false, KIT_GRAY, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 9, 0, 0, 5, 4, 9},
        {true, KIT_BIN, -5, -5, -1, -2, 7, 0, 0, 0, 0, 7},  // not reduced to 0/1
        {true, KIT_GRAY, 10, 10, 20, 20, 7, 5, 4, 5, 4, 7},
        {true, KIT_BIN, -3, 2, 100, 2, 7, 0, 2, 5, 2, 7},
        {true, KIT_BIN, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 7, 0, 0, 5, 4, 7},
        {true, KIT_BIN, 4, 0, 2, 4, 7, 0, 0, -1, -1, 0},
        {true, KIT_BIN, 1, 1, 2, 3, 7, 1, 1, 2, 3, 7},
    };
    for (const Case &c : cases) {
        auto im = makeImage(c.type, 6, 5, std::vector<uint8_t>(30, 2));
        c.e1 ? kxFillRectE1(im.get(), c.x0, c.y0, c.x1, c.y1, c.colour)
             : kxFillRect(im.get(), c.x0, c.y0, c.x1, c.y1, c.colour);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool in = x >= c.px0 && x <= c.px1 && y >= c.py0 && y <= c.py1;
                ASSERT_EQ(at(im.get(), x, y), in ? c.byte : 2) << c.e1 << " " << c.x0 << "," << c.y0 << " at " << x << "," << y;
            }
    }
    auto all = makeImage(KIT_RGBA, 6, 5);
    kxFillRect(all.get(), INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0x01020304);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(all->data[4 * i + 3], 1);
    auto rgb = makeImage(KIT_RGB, 6, 5);  // kxFillRectE1 takes one-byte pixels only
    kxFillRectE1(rgb.get(), 0, 0, 5, 4, 9);
    EXPECT_EQ(countNonZero(rgb.get()), 0);
    PaddedImage p(KIT_RGB, 4, 3);
    kxFillRect(p.get(), -1, -1, 10, 10, 0xFFFFFF);
    EXPECT_TRUE(p.paddingIntact());
    kxFillRectE1(nullptr, 0, 0, 5, 4, 9);
    EXPECT_KX_ASSERT(kxFillRect(nullptr, 0, 0, 1, 1, 1), "image");
}

TEST(FillEllipse, WorkedExamplesAndWholeImageScan)
{
    auto im = makeImage(KIT_GRAY, 6, 4);
    kxFillEllipse(im.get(), 0, 0, 4, 2, 0x1FF);
    EXPECT_EQ(at(im.get(), 0, 1), 0xFF);  // v = 1.0 exactly: inside
    EXPECT_EQ(at(im.get(), 2, 0), 0xFF);
    EXPECT_EQ(at(im.get(), 0, 0), 0);
    EXPECT_EQ(at(im.get(), 5, 1), 0);
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> c(-30, 80);
    for (int i = 0; i < 1500; ++i) {
        const int w = 1 + int(rng() % 50), h = 1 + int(rng() % 50);
        int l = c(rng), t = c(rng), r = c(rng), b = c(rng);
        if (i % 2 && l > r) std::swap(l, r);  // half of the boxes reversed or empty
        if (i % 2 && t > b) std::swap(t, b);
        expectSame(i % 3 == 0 ? KIT_RGB : KIT_GRAY, w, h, [&](Image *a) { kxFillEllipse(a, l, t, r, b, 0x123456); },
                   [&](Image *a) { ref::fillEllipse(a, l, t, r, b, 0x123456); }, "box", i);
    }
    const int extreme[][4] = {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {-1000000, 5, 1000000, 9},
                              {-2000000000, -2000000000, 2000000000, 10}, {3, INT_MIN, 20, INT_MAX},
                              {INT_MAX - 1, 0, INT_MAX, 5}, {2, 0, 2, 3}, {4, 3, 0, 0}};
    for (const auto &e : extreme)
        expectSame(KIT_GRAY, 40, 30, [&](Image *a) { kxFillEllipse(a, e[0], e[1], e[2], e[3], 1); },
                   [&](Image *a) { ref::fillEllipse(a, e[0], e[1], e[2], e[3], 1); }, "extreme", e[0]);
    PaddedImage p(KIT_GRAY, 7, 5);
    kxFillEllipse(p.get(), -3, -3, 12, 12, 200);
    EXPECT_TRUE(p.paddingIntact());
}

TEST(FillEllipseE1, MatchesMaskVersion)
{
    auto grey = makeImage(KIT_GRAY, 9, 9);  // grey takes the luminance
    kxFillEllipseE1(grey.get(), EllipseBox{4, 4, 4, 4, 0}, 0x00FF0000);
    EXPECT_EQ(at(grey.get(), 4, 4), uint8_t(255 * 0.299));
    EXPECT_EQ(at(grey.get(), 0, 0), 0);
    kxFillEllipseE1(nullptr, EllipseBox{4, 4, 4, 4, 0}, 1);
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> pos(-20, 70), size(-5, 60), turn(-400, 400);
    for (int i = 0; i < 300; ++i) {
        const int w = 1 + int(rng() % 45), h = 1 + int(rng() % 45);
        const EllipseBox box{pos(rng), pos(rng), size(rng), size(rng), i % 5 == 0 ? 0.0 : turn(rng)};
        expectSame(i % 4 == 0 ? KIT_RGBA : KIT_GRAY, w, h, [&](Image *a) { kxFillEllipseE1(a, box, 0x00C08040); },
                   [&](Image *a) { ref::fillEllipseE1(a, box, 0x00C08040); }, "box", i);
    }
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const EllipseBox odd[] = {{10, 10, 0, 8, 0},   {10, 10, inf, 6, 30}, {nan, 10, 5, 5, 0},
                              {10, 10, 8, nan, 0}, {10, 10, 8, 8, nan},  {1e12, -1e12, 1e13, 1e13, 45}};
    for (const EllipseBox &box : odd)
        expectSame(KIT_GRAY, 24, 20, [&](Image *a) { kxFillEllipseE1(a, box, 9); },
                   [&](Image *a) { ref::fillEllipseE1(a, box, 9); }, "odd", int(box.width));
    // An infinite width makes its term 0: the strip |dy| <= 2 of the turned
    // frame, 27 of the 35 pixels.
    auto strip = makeImage(KIT_GRAY, 7, 5);
    kxFillEllipseE1(strip.get(), EllipseBox{3.5, 2.5, inf, 4, 20}, 1);
    const auto painted = pixels(strip.get());
    EXPECT_EQ(std::count(painted.begin(), painted.end(), 1), 27);
}

std::vector<int> randomPolygon(std::mt19937 &rng, int n, int lo, int hi)
{
    std::uniform_int_distribution<int> c(lo, hi);
    std::vector<int> v(size_t(2 * n));
    for (int &k : v) k = c(rng);
    return v;
}

TEST(FillPolygon, WorkedExamplesAndDegenerateArguments)
{
    const int sq[] = {0, 0, 4, 0, 4, 4, 0, 4}, flat[] = {0, 2, 5, 2, 3, 2};
    auto im = makeImage(KIT_GRAY, 6, 6);
    kxFillPolygon(im.get(), sq, 4, 0x100);  // low byte 0: nothing visible
    kxFillPolygon(im.get(), nullptr, 2, 1);
    kxFillPolygon(im.get(), flat, 3, 1);
    kxFillPolygonE1(im.get(), nullptr, 0, nullptr, 0, 1);
    kxFillPolygonE1(im.get(), sq, 4, sq, 4, 1);  // the hole covers it all
    EXPECT_EQ(countNonZero(im.get()), 0);
    kxFillPolygon(im.get(), sq, 4, 0x1FF);  // leaves the right column and bottom row
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(at(im.get(), x, y), x < 4 && y < 4 ? 0xFF : 0) << x << "," << y;
    auto noHole = makeImage(KIT_GRAY, 6, 6);
    kxFillPolygonE1(noHole.get(), sq, 4, nullptr, 4, 1);
    kxFillPolygonE1(noHole.get(), sq, 4, sq, 2, 1);
    EXPECT_EQ(countNonZero(noHole.get()), 16);
    EXPECT_KX_ASSERT(kxFillPolygon(im.get(), nullptr, 3, 1), "pVertexArray");
    EXPECT_KX_ASSERT(kxFillPolygon(nullptr, flat, 3, 1), "image");
}

TEST(FillPolygon, MatchesPerPixelTest)
{
    std::mt19937 rng(21);
    for (int i = 0; i < 1000; ++i) {
        const int type = i % 5 == 0 ? KIT_RGBA : i % 5 == 1 ? KIT_BIN : i % 5 == 2 ? KIT_RGB : KIT_GRAY;
        const int w = 1 + int(rng() % 45), h = 1 + int(rng() % 40);
        const auto a = randomPolygon(rng, 3 + int(rng() % 10), -20, 60);
        auto b = randomPolygon(rng, 3 + int(rng() % 8), -10, 50);
        if (i % 3) b.clear();  // a third with a hole: kxFillPolygonE1
        const int na = int(a.size() / 2), nb = int(b.size() / 2);
        expectSame(type, w, h, [&](Image *im) {
            nb ? kxFillPolygonE1(im, a.data(), na, b.data(), nb, 0xFF102030) : kxFillPolygon(im, a.data(), na, 0xFF102030);
        }, [&](Image *im) { ref::fillPolygon(im, a.data(), na, b.data(), nb, 0xFF102030); }, "polygon", i);
    }
    const int big[] = {INT_MIN, INT_MIN, INT_MAX, INT_MIN + 7, 3, INT_MAX, INT_MIN, 12, -5, -5};
    const int thin[] = {INT_MAX, 3, INT_MIN, 4, INT_MAX, 20, -1000000000, 11};
    std::vector<int> star;  // 3000 vertices
    for (int k = 0; k < 3000; ++k) {
        const double a = k * 2 * M_PI / 3000, r = k % 2 ? 30 : 12;
        star.push_back(int(32 + r * std::cos(a))), star.push_back(int(32 + r * std::sin(a)));
    }
    for (auto [v, n] : {std::pair{big, 5}, std::pair{thin, 4}, std::pair{(const int *)star.data(), 3000}})
        expectSame(KIT_GRAY, 64, 48, [&](Image *im) { kxFillPolygon(im, v, n, 1); },
                   [&](Image *im) { ref::fillPolygon(im, v, n, nullptr, 0, 1); }, "extreme", n);
}

TEST(FillPolygonE2, OutlineAndSeedFill)
{
    const int sq[] = {1, 1, 6, 1, 6, 5, 1, 5}, loop[] = {1, 1, 6, 1, 6, 5, 1, 5, 1, 1};
    auto outline = makeImage(KIT_GRAY, 9, 8), seeded = makeImage(KIT_GRAY, 9, 8), closed = makeImage(KIT_GRAY, 9, 8);
    kxFillPolygonE2(outline.get(), sq, 4, 300, 0);
    // Every vertex's right neighbour of this square lies on the outline or
    // outside: no seed, only the outline.
    kxFillPolygonE2(seeded.get(), sq, 4, 300, 1);
    kxSetPolyline(closed.get(), loop, 5, 255);
    EXPECT_EQ(pixels(outline.get()), pixels(closed.get()));
    EXPECT_EQ(pixels(seeded.get()), pixels(closed.get()));
    kxFillPolygonE2(closed.get(), nullptr, 4, 1, 1);
    kxFillPolygonE2(closed.get(), sq, 2, 1, 1);
    EXPECT_EQ(pixels(outline.get()), pixels(closed.get()));

    // The diamond's left vertex has an inside neighbour: filled whole.
    const int diamond[] = {1, 4, 5, 0, 9, 4, 5, 8};
    auto filled = makeImage(KIT_GRAY, 11, 9);
    kxFillPolygonE2(filled.get(), diamond, 4, 300, 1);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 11; ++x)
            EXPECT_EQ(at(filled.get(), x, y), std::abs(x - 5) + std::abs(y - 4) <= 4 ? 255 : 0) << x << "," << y;
    // A non-uniform inside is filled only where it equals the seed.
    auto part = makeImage(KIT_RGB, 11, 9);
    kxSetLine(part.get(), 5, 0, 5, 8, 0x0000FF);
    kxFillPolygonE2(part.get(), diamond, 4, 0x00FF00, 1);
    EXPECT_EQ(kxGetPixel(part.get(), 3, 4), 0xFF00FF00u);
    EXPECT_EQ(kxGetPixel(part.get(), 5, 4), 0xFF0000FFu);
    EXPECT_EQ(kxGetPixel(part.get(), 7, 4), 0xFF000000u);
}

// The seed search asks the inside test once per distinct pixel; the seed
// (and so the fill) must be the one the vertex-by-vertex search finds:
// polygons drawn from a few points, so that most vertices repeat, over
// images whose pixels often already carry the fill colour.
TEST(FillPolygonE2, SeedSearchMatchesVertexByVertex)
{
    const int types[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};
    std::mt19937 rng(33);
    for (int i = 0; i < 800; ++i) {
        const int type = types[i % 4], w = 2 + int(rng() % 40), h = 2 + int(rng() % 30);
        const auto pool = randomPolygon(rng, 2 + int(rng() % 6), -3, 42);
        std::vector<int> v;
        for (int k = 3 + int(rng() % 40); k-- > 0;) {
            const size_t p = rng() % (pool.size() / 2);
            v.push_back(pool[2 * p]), v.push_back(pool[2 * p + 1]);
        }
        const uint32_t colour = i % 3 ? 0xFF00FF00u : 1;
        const auto bytes = randomBytes(size_t(w) * h * size_t(bpp(type)), uint32_t(i), 0, i % 2 ? 1 : 0);
        auto fast = makeImage(type, w, h, bytes), slow = makeImage(type, w, h, bytes);
        kxFillPolygonE2(fast.get(), v.data(), int(v.size() / 2), colour, 1);
        ref::fillPolygonE2(slow.get(), v.data(), int(v.size() / 2), colour);
        ASSERT_EQ(pixels(fast.get()), pixels(slow.get())) << i;
    }
}

// 100,000 copies of one vertex took one inside test per copy, each over
// all copies (about 10^10 steps); now one test.
TEST(FillPolygonE2, RepeatedVerticesAskedOnce)
{
    const std::vector<int> same(200000, 7);
    auto im = makeImage(KIT_GRAY, 16, 16);
    kxFillPolygonE2(im.get(), same.data(), 100000, 200, 1);
    EXPECT_EQ(countNonZero(im.get()), 1);
    EXPECT_EQ(at(im.get(), 7, 7), 200);
}

TEST(Fill, ColourRules)
{
    struct Case {
        int type;
        uint8_t start;
        uint32_t colour;
        uint8_t painted;
    } cases[] = {{KIT_BIN, 0, 7, 1},          {KIT_GRAY, 10, 300, 255}, {KIT_GRAY, 10, 0x80, 0x80},
                 {KIT_BIN, 1, 0, 0},          {KIT_GRAY, 255, 1000, 255}};  // fill equals target
    for (const Case &c : cases) {
        auto im = makeImage(c.type, 5, 4, std::vector<uint8_t>(20, c.start));
        EXPECT_EQ(kxFill(im.get(), 2, 2, c.colour), im.get());
        EXPECT_EQ(pixels(im.get()), std::vector<uint8_t>(20, c.painted));
    }
    std::vector<uint8_t> px;  // alpha is kept
    for (int i = 0; i < 12; ++i) px.insert(px.end(), {1, 2, 3, uint8_t(i)});
    auto rgba = makeImage(KIT_RGBA, 4, 3, px);
    kxFill(rgba.get(), 0, 0, 0xFF102030);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(kxGetPixel(rgba.get(), i % 4, i / 4), uint32_t(i) << 24 | 0x102030u);
    auto outside = randomImage(KIT_GRAY, 5, 4, 1);
    const auto before = pixels(outside.get());
    for (auto [x, y] : {std::pair{-1, 0}, {5, 0}, {0, 4}, {INT_MIN, INT_MAX}}) EXPECT_EQ(kxFill(outside.get(), x, y, 9), outside.get());
    EXPECT_EQ(pixels(outside.get()), before);
    EXPECT_EQ(kxFill(nullptr, 0, 0, 1), nullptr);
}

TEST(Fill, MatchesQueueFill)
{
    const int types[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};
    std::mt19937 rng(17);
    for (int i = 0; i < 800; ++i) {
        const int type = types[i % 4], b = kxiBytesPerPixel(type);
        const int w = 1 + int(rng() % 50), h = 1 + int(rng() % 40);
        // Two or three values make large, winding regions.
        auto bytes = randomBytes(size_t(w) * h * b, uint32_t(i), 0, type == KIT_BIN ? 1 : 2);
        if (b > 1)
            for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = bytes[k - k % b] % 2;
        auto fast = makeImage(type, w, h, bytes), slow = makeImage(type, w, h, bytes);
        const int x = int(rng() % uint32_t(w)), y = int(rng() % uint32_t(h));
        const uint32_t colour = rng() % 2 ? 1 : 0x00050505;
        kxFill(fast.get(), x, y, colour);
        ref::seedFill(slow.get(), x, y, colour);
        ASSERT_EQ(pixels(fast.get()), pixels(slow.get())) << i;
    }
    PaddedImage p(KIT_GRAY, 10, 6);
    kxFill(p.get(), 3, 3, 77);
    EXPECT_TRUE(p.paddingIntact());
    EXPECT_EQ(countNonZero(p.get()), 60);
    // A serpentine corridor in bounded memory: the fill must follow every turn.
    const int w = 301, h = 301;
    auto im = makeImage(KIT_GRAY, w, h);
    for (int y = 1; y < h; y += 2) {
        kxSetLine(im.get(), 0, y, w - 1, y, 1);
        kxSetPixel(im.get(), (y / 2) % 2 ? 0 : w - 1, y, 0);
    }
    kxFill(im.get(), 0, 0, 9);
    const auto all = pixels(im.get());
    EXPECT_EQ(std::count(all.begin(), all.end(), 9), w * (h + 1) / 2 + (h - 1) / 2);
}

TEST(FillEx, ChannelBits)
{
    struct Case {
        int type;
        uint32_t bits;
        uint8_t value;
        std::vector<uint8_t> pixel;  // from {1, 2, 3, 4}
    } cases[] = {
        {KIT_RGB, 0x5, 9, {9, 2, 9}},          {KIT_RGB, 0x8, 9, {1, 2, 3}},       {KIT_RGB, 0xFF, 9, {9, 9, 9}},
        {KIT_RGBA, 0x8, 9, {1, 2, 3, 9}},      {KIT_RGBA, 0xA, 0, {1, 0, 3, 0}},   {KIT_GRAY, 0x1, 200, {200}},
        {KIT_GRAY, 0x6, 200, {1}},             {KIT_BIN, 0x1, 7, {1}},             {KIT_BIN, 0x1, 0, {0}},
    };
    for (const Case &c : cases) {
        const int b = bpp(c.type);
        std::vector<uint8_t> px, want;
        for (int i = 0; i < 6; ++i) {
            px.insert(px.end(), {1, 2, 3, 4}), px.resize(size_t((i + 1) * b));
            want.insert(want.end(), c.pixel.begin(), c.pixel.end());
        }
        PaddedImage im(c.type, 3, 2, px);
        kxFillEx(im.get(), c.bits, c.value);
        EXPECT_EQ(pixels(im.get()), want) << c.type << " " << c.bits;
        EXPECT_TRUE(im.paddingIntact());
    }
    EXPECT_KX_ASSERT(kxFillEx(nullptr, 1, 1), "image");
}

}  // namespace
