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

// ---- rectangles ------------------------------------------------------------

TEST(FillRect, ClipsAndKeepsTheLowByte)
{
    struct Case {
        int type;
        uint32_t colour;
        uint8_t byte;
    } cases[] = {{KIT_GRAY, 0x1FF, 0xFF}, {KIT_GRAY, 0x100, 0}, {KIT_GRAY, 0x80, 0x80}, {KIT_BIN, 0x100, 1},
                 {KIT_BIN, 0, 0}};
    for (const Case &c : cases) {
        auto im = makeImage(c.type, 6, 5, std::vector<uint8_t>(30, 1));
        kxFillRect(im.get(), 3, -4, 9, 2, c.colour);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) EXPECT_EQ(at(im.get(), x, y), x >= 3 && y <= 2 ? c.byte : 1) << x << "," << y;
    }
    auto none = makeImage(KIT_GRAY, 6, 5);
    kxFillRect(none.get(), 4, 0, 3, 4, 9);
    kxFillRect(none.get(), 0, 4, 5, 3, 9);
    kxFillRect(none.get(), INT_MIN, INT_MIN, -1, INT_MAX, 9);
    EXPECT_EQ(countNonZero(none.get()), 0);
    auto all = makeImage(KIT_RGBA, 6, 5);
    kxFillRect(all.get(), INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0x01020304);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(all->data[4 * i + 3], 1);
    PaddedImage p(KIT_RGB, 4, 3);
    kxFillRect(p.get(), -1, -1, 10, 10, 0xFFFFFF);
    EXPECT_TRUE(p.paddingIntact());
    EXPECT_KX_ASSERT(kxFillRect(nullptr, 0, 0, 1, 1, 1), "image");
}

TEST(FillRectE1, ClampsCornersIntoTheImage)
{
    struct Case {
        int x0, y0, x1, y1;
        int painted;  // pixel count; -1: only (0, 0)
    } cases[] = {{-5, -5, -1, -2, -1},         {10, 10, 20, 20, 1},   {-3, 2, 100, 2, 6},
                 {INT_MIN, INT_MIN, INT_MAX, INT_MAX, 30}, {4, 0, 2, 4, 0}, {1, 1, 2, 3, 6}};
    for (const Case &c : cases) {
        auto im = makeImage(KIT_BIN, 6, 5);
        kxFillRectE1(im.get(), c.x0, c.y0, c.x1, c.y1, 7);
        if (c.painted < 0) {
            EXPECT_EQ(countNonZero(im.get()), 1);
            EXPECT_EQ(at(im.get(), 0, 0), 7);  // the byte is not reduced to 0/1
        } else {
            EXPECT_EQ(countNonZero(im.get()), c.painted) << c.x0 << "," << c.y0;
        }
    }
    auto far = makeImage(KIT_GRAY, 6, 5);
    kxFillRectE1(far.get(), 10, 10, 20, 20, 9);
    EXPECT_EQ(at(far.get(), 5, 4), 9);
    auto rgb = makeImage(KIT_RGB, 6, 5);
    kxFillRectE1(rgb.get(), 0, 0, 5, 4, 9);
    EXPECT_EQ(countNonZero(rgb.get()), 0);
    kxFillRectE1(nullptr, 0, 0, 5, 4, 9);
}

// ---- ellipses --------------------------------------------------------------

TEST(FillEllipse, WorkedExamples)
{
    auto im = makeImage(KIT_GRAY, 6, 4);
    kxFillEllipse(im.get(), 0, 0, 4, 2, 0x1FF);
    EXPECT_EQ(at(im.get(), 0, 1), 0xFF);  // v = 1.0 exactly: inside
    EXPECT_EQ(at(im.get(), 2, 0), 0xFF);
    EXPECT_EQ(at(im.get(), 0, 0), 0);
    EXPECT_EQ(at(im.get(), 5, 1), 0);
    auto none = makeImage(KIT_GRAY, 6, 4);
    kxFillEllipse(none.get(), 2, 0, 2, 3, 1);  // right = left
    kxFillEllipse(none.get(), 0, 2, 4, 2, 1);
    kxFillEllipse(none.get(), 4, 3, 0, 0, 1);  // reversed box
    EXPECT_EQ(countNonZero(none.get()), 0);
}

TEST(FillEllipse, MatchesWholeImageScan)
{
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> c(-30, 80);
    for (int i = 0; i < 1500; ++i) {
        const int type = i % 3 == 0 ? KIT_RGB : KIT_GRAY;
        const int w = 1 + int(rng() % 50), h = 1 + int(rng() % 50);
        int l = c(rng), t = c(rng), r = c(rng), b = c(rng);
        if (i % 2) std::swap(l, r), std::swap(t, b);
        if (l > r) std::swap(l, r);
        if (t > b) std::swap(t, b);
        auto fast = makeImage(type, w, h), slow = makeImage(type, w, h);
        kxFillEllipse(fast.get(), l, t, r, b, 0x123456);
        ref::fillEllipse(slow.get(), l, t, r, b, 0x123456);
        ASSERT_EQ(pixels(fast.get()), pixels(slow.get())) << l << "," << t << "," << r << "," << b;
    }
    const int extreme[][4] = {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {-1000000, 5, 1000000, 9},
                              {-2000000000, -2000000000, 2000000000, 10}, {3, INT_MIN, 20, INT_MAX},
                              {INT_MAX - 1, 0, INT_MAX, 5}};
    for (const auto &e : extreme) {
        auto fast = makeImage(KIT_GRAY, 40, 30), slow = makeImage(KIT_GRAY, 40, 30);
        kxFillEllipse(fast.get(), e[0], e[1], e[2], e[3], 1);
        ref::fillEllipse(slow.get(), e[0], e[1], e[2], e[3], 1);
        EXPECT_EQ(pixels(fast.get()), pixels(slow.get())) << e[0] << "," << e[1] << "," << e[2] << "," << e[3];
    }
    PaddedImage p(KIT_GRAY, 7, 5);
    kxFillEllipse(p.get(), -3, -3, 12, 12, 200);
    EXPECT_TRUE(p.paddingIntact());
}

TEST(FillEllipseE1, MatchesMaskVersion)
{
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> pos(-20, 70), size(-5, 60), turn(-400, 400);
    for (int i = 0; i < 300; ++i) {
        const int type = i % 4 == 0 ? KIT_RGBA : KIT_GRAY;
        const int w = 1 + int(rng() % 45), h = 1 + int(rng() % 45);
        const EllipseBox box{pos(rng), pos(rng), size(rng), size(rng), i % 5 == 0 ? 0.0 : turn(rng)};
        auto fast = makeImage(type, w, h), slow = makeImage(type, w, h);
        kxFillEllipseE1(fast.get(), box, 0x00C08040);
        ref::fillEllipseE1(slow.get(), box, 0x00C08040);
        ASSERT_EQ(pixels(fast.get()), pixels(slow.get())) << box.centerX << "," << box.centerY << " " << box.width
                                                          << "x" << box.height << " " << box.angle;
    }
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const EllipseBox odd[] = {{10, 10, 0, 8, 0},   {10, 10, inf, 6, 30}, {nan, 10, 5, 5, 0},
                              {10, 10, 8, nan, 0}, {10, 10, 8, 8, nan},  {1e12, -1e12, 1e13, 1e13, 45}};
    for (const EllipseBox &box : odd) {
        auto fast = makeImage(KIT_GRAY, 24, 20), slow = makeImage(KIT_GRAY, 24, 20);
        kxFillEllipseE1(fast.get(), box, 9);
        ref::fillEllipseE1(slow.get(), box, 9);
        EXPECT_EQ(pixels(fast.get()), pixels(slow.get())) << box.width << " " << box.height;
    }
}

TEST(FillEllipseE1, GreyTakesTheLuminance)
{
    auto im = makeImage(KIT_GRAY, 9, 9);
    kxFillEllipseE1(im.get(), EllipseBox{4, 4, 4, 4, 0}, 0x00FF0000);
    EXPECT_EQ(at(im.get(), 4, 4), uint8_t(255 * 0.299));
    EXPECT_EQ(at(im.get(), 0, 0), 0);
    kxFillEllipseE1(nullptr, EllipseBox{4, 4, 4, 4, 0}, 1);
}

// ---- polygons --------------------------------------------------------------

TEST(FillPolygon, SquareLeavesRightColumnAndBottomRow)
{
    const int sq[] = {0, 0, 4, 0, 4, 4, 0, 4};
    auto im = makeImage(KIT_GRAY, 6, 6);
    kxFillPolygon(im.get(), sq, 4, 0x100);  // low byte 0: nothing visible
    EXPECT_EQ(countNonZero(im.get()), 0);
    kxFillPolygon(im.get(), sq, 4, 0x1FF);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(at(im.get(), x, y), x < 4 && y < 4 ? 0xFF : 0) << x << "," << y;
}

TEST(FillPolygon, DegenerateArguments)
{
    auto im = makeImage(KIT_GRAY, 6, 6);
    kxFillPolygon(im.get(), nullptr, 2, 1);
    kxFillPolygonE1(im.get(), nullptr, 0, nullptr, 0, 1);
    const int flat[] = {0, 2, 5, 2, 3, 2};
    kxFillPolygon(im.get(), flat, 3, 1);
    EXPECT_EQ(countNonZero(im.get()), 0);
    EXPECT_KX_ASSERT(kxFillPolygon(im.get(), nullptr, 3, 1), "pVertexArray");
    EXPECT_KX_ASSERT(kxFillPolygon(nullptr, flat, 3, 1), "image");
}

std::vector<int> randomPolygon(std::mt19937 &rng, int n, int lo, int hi)
{
    std::uniform_int_distribution<int> c(lo, hi);
    std::vector<int> v(size_t(2 * n));
    for (int &k : v) k = c(rng);
    return v;
}

TEST(FillPolygon, MatchesPerPixelTest)
{
    std::mt19937 rng(21);
    for (int i = 0; i < 700; ++i) {
        const int type = i % 5 == 0 ? KIT_RGBA : i % 5 == 1 ? KIT_BIN : KIT_GRAY;
        const int w = 1 + int(rng() % 45), h = 1 + int(rng() % 40);
        const auto v = randomPolygon(rng, 3 + int(rng() % 10), -20, 60);
        auto fast = makeImage(type, w, h), slow = makeImage(type, w, h);
        kxFillPolygon(fast.get(), v.data(), int(v.size() / 2), 0xFF102030);
        ref::fillPolygon(slow.get(), v.data(), int(v.size() / 2), nullptr, 0, 0xFF102030);
        ASSERT_EQ(pixels(fast.get()), pixels(slow.get())) << i;
    }
}

TEST(FillPolygon, ExtremeAndManyVertices)
{
    const int big[] = {INT_MIN, INT_MIN, INT_MAX, INT_MIN + 7, 3, INT_MAX, INT_MIN, 12, -5, -5};
    const int thin[] = {INT_MAX, 3, INT_MIN, 4, INT_MAX, 20, -1000000000, 11};
    for (auto [v, n] : {std::pair{big, 5}, std::pair{thin, 4}}) {
        auto fast = makeImage(KIT_GRAY, 40, 30), slow = makeImage(KIT_GRAY, 40, 30);
        kxFillPolygon(fast.get(), v, n, 1);
        ref::fillPolygon(slow.get(), v, n, nullptr, 0, 1);
        EXPECT_EQ(pixels(fast.get()), pixels(slow.get()));
    }
    // A star of 3000 vertices.
    std::vector<int> star;
    for (int k = 0; k < 3000; ++k) {
        const double a = k * 2 * M_PI / 3000, r = k % 2 ? 30 : 12;
        star.push_back(int(32 + r * std::cos(a))), star.push_back(int(32 + r * std::sin(a)));
    }
    auto fast = makeImage(KIT_GRAY, 64, 64), slow = makeImage(KIT_GRAY, 64, 64);
    kxFillPolygon(fast.get(), star.data(), 3000, 1);
    ref::fillPolygon(slow.get(), star.data(), 3000, nullptr, 0, 1);
    EXPECT_EQ(pixels(fast.get()), pixels(slow.get()));
}

TEST(FillPolygonE1, ExcludesTheSecondPolygon)
{
    const int sq[] = {1, 1, 9, 1, 9, 9, 1, 9};
    auto same = makeImage(KIT_GRAY, 12, 12);
    kxFillPolygonE1(same.get(), sq, 4, sq, 4, 1);
    EXPECT_EQ(countNonZero(same.get()), 0);
    auto noHole = makeImage(KIT_GRAY, 12, 12), plain = makeImage(KIT_GRAY, 12, 12);
    kxFillPolygonE1(noHole.get(), sq, 4, nullptr, 4, 1);
    kxFillPolygonE1(noHole.get(), sq, 4, sq, 2, 1);
    kxFillPolygon(plain.get(), sq, 4, 1);
    EXPECT_EQ(pixels(noHole.get()), pixels(plain.get()));
    std::mt19937 rng(4);
    for (int i = 0; i < 500; ++i) {
        const int w = 1 + int(rng() % 40), h = 1 + int(rng() % 40);
        const auto a = randomPolygon(rng, 3 + int(rng() % 8), -10, 50), b = randomPolygon(rng, 3 + int(rng() % 8), -10, 50);
        auto fast = makeImage(KIT_RGB, w, h), slow = makeImage(KIT_RGB, w, h);
        kxFillPolygonE1(fast.get(), a.data(), int(a.size() / 2), b.data(), int(b.size() / 2), 0x00ABCDEF);
        ref::fillPolygon(slow.get(), a.data(), int(a.size() / 2), b.data(), int(b.size() / 2), 0x00ABCDEF);
        ASSERT_EQ(pixels(fast.get()), pixels(slow.get())) << i;
    }
}

TEST(FillPolygonE2, OutlineAndSeedFill)
{
    const int sq[] = {1, 1, 6, 1, 6, 5, 1, 5};
    auto outline = makeImage(KIT_GRAY, 9, 8), closed = makeImage(KIT_GRAY, 9, 8);
    kxFillPolygonE2(outline.get(), sq, 4, 300, 0);
    const int loop[] = {1, 1, 6, 1, 6, 5, 1, 5, 1, 1};
    kxSetPolyline(closed.get(), loop, 5, 255);
    EXPECT_EQ(pixels(outline.get()), pixels(closed.get()));
    EXPECT_EQ(at(outline.get(), 3, 3), 0);

    // Every vertex's right neighbour of this square lies on the outline or
    // outside: no seed, only the outline.
    auto square = makeImage(KIT_GRAY, 9, 8);
    kxFillPolygonE2(square.get(), sq, 4, 300, 1);
    EXPECT_EQ(pixels(square.get()), pixels(closed.get()));

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

    auto none = makeImage(KIT_GRAY, 9, 8);
    kxFillPolygonE2(none.get(), nullptr, 4, 1, 1);
    kxFillPolygonE2(none.get(), sq, 2, 1, 1);
    EXPECT_EQ(countNonZero(none.get()), 0);
}

// ---- seed fill -------------------------------------------------------------

TEST(Fill, ColourReductions)
{
    struct Case {
        int type;
        uint8_t start;
        uint32_t colour;
        uint8_t painted;
    } cases[] = {{KIT_BIN, 0, 7, 1}, {KIT_GRAY, 10, 300, 255}, {KIT_GRAY, 10, 0x80, 0x80}, {KIT_BIN, 1, 0, 0}};
    for (const Case &c : cases) {
        auto im = makeImage(c.type, 5, 4, std::vector<uint8_t>(20, c.start));
        EXPECT_EQ(kxFill(im.get(), 2, 2, c.colour), im.get());
        EXPECT_EQ(pixels(im.get()), std::vector<uint8_t>(20, c.painted));
    }
    auto same = makeImage(KIT_GRAY, 5, 4, std::vector<uint8_t>(20, 255));
    kxFill(same.get(), 1, 1, 1000);  // fill equals target: unchanged
    EXPECT_EQ(pixels(same.get()), std::vector<uint8_t>(20, 255));
    auto outside = randomImage(KIT_GRAY, 5, 4, 1);
    const auto before = pixels(outside.get());
    for (auto [x, y] : {std::pair{-1, 0}, {5, 0}, {0, 4}, {INT_MIN, INT_MAX}}) EXPECT_EQ(kxFill(outside.get(), x, y, 9), outside.get());
    EXPECT_EQ(pixels(outside.get()), before);
    EXPECT_EQ(kxFill(nullptr, 0, 0, 1), nullptr);
}

TEST(Fill, ColourKeepsAlpha)
{
    std::vector<uint8_t> px;
    for (int i = 0; i < 12; ++i) px.insert(px.end(), {1, 2, 3, uint8_t(i)});
    auto im = makeImage(KIT_RGBA, 4, 3, px);
    kxFill(im.get(), 0, 0, 0xFF102030);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(kxGetPixel(im.get(), i % 4, i / 4), uint32_t(i) << 24 | 0x102030u);
    }
}

TEST(Fill, MatchesQueueFill)
{
    const int types[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};
    std::mt19937 rng(17);
    for (int i = 0; i < 800; ++i) {
        const int type = types[i % 4];
        const int w = 1 + int(rng() % 50), h = 1 + int(rng() % 40);
        // Two or three values make large, winding regions.
        auto bytes = randomBytes(size_t(w) * h * kxiBytesPerPixel(type), uint32_t(i), 0, type == KIT_BIN ? 1 : 2);
        if (type == KIT_RGB || type == KIT_RGBA)
            for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = bytes[k - k % kxiBytesPerPixel(type)] % 2;
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
}

TEST(Fill, LargeRegionInBoundedMemory)
{
    // A serpentine corridor: the fill must follow every turn.
    const int w = 301, h = 301;
    auto im = makeImage(KIT_GRAY, w, h);
    for (int y = 1; y < h; y += 2) {
        kxSetLine(im.get(), 0, y, w - 1, y, 1);
        const int gap = (y / 2) % 2 ? 0 : w - 1;
        kxSetPixel(im.get(), gap, y, 0);
    }
    kxFill(im.get(), 0, 0, 9);
    int nine = 0;
    for (uint8_t b : pixels(im.get())) nine += b == 9;
    EXPECT_EQ(nine, w * (h + 1) / 2 + (h - 1) / 2);
}

// ---- channel fill ----------------------------------------------------------

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
        std::vector<uint8_t> px;
        for (int i = 0; i < 6; ++i) px.insert(px.end(), {1, 2, 3, 4}), px.resize(size_t((i + 1) * b));
        PaddedImage im(c.type, 3, 2, px);
        kxFillEx(im.get(), c.bits, c.value);
        std::vector<uint8_t> want;
        for (int i = 0; i < 6; ++i) want.insert(want.end(), c.pixel.begin(), c.pixel.end());
        EXPECT_EQ(pixels(im.get()), want) << c.type << " " << c.bits;
        EXPECT_TRUE(im.paddingIntact());
    }
    EXPECT_KX_ASSERT(kxFillEx(nullptr, 1, 1), "image");
}

}  // namespace
