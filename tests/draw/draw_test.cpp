// Lines, outlines, filled shapes and rectangles as small pictures checked by
// hand; invariants on random shapes (clipping crops, mirrors mirror);
// arguments far outside the image.  Polygons, channel and seed fills: even-odd
// sums of fan triangles, kxFillPolygonE2's seed, the seed fill against a
// breadth-first search.  Text blocks.
#include <dlfcn.h>

#include <climits>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <utility>

#include "kxtest.hpp"
#include "kxtext.h"

using namespace kxtest;

// The inside tests the library asks of the geometry library, counted: this
// program's definition comes first in the dynamic symbol lookup (link.cmake)
// and calls through to the library's.
namespace {
long gInsideTests = 0;
}  // namespace

extern "C" __attribute__((visibility("default"))) int kxIsPointInPolygon(int x, int y, const int *vertices, int n)
{
    using Inside = int (*)(int, int, const int *, int);
    static const auto next = reinterpret_cast<Inside>(dlsym(RTLD_NEXT, "kxIsPointInPolygon"));
    ++gInsideTests;
    return next(x, y, vertices, n);
}

namespace {

// The first byte of every pixel as a picture: '.' for 0, '#' for `ink`, '?'
// for any other byte; rows separated by spaces.
inline std::string picture(const Image *im, uint8_t ink = 1)
{
    std::string s;
    const auto px = pixels(im);
    for (size_t i = 0, b = size_t(bpp(im->imageType)); i < px.size(); i += b) {
        if (i && i / b % size_t(im->width) == 0) s += ' ';
        s += px[i] == 0 ? '.' : px[i] == ink ? '#' : '?';
    }
    return s;
}

// A w x h image (grey unless `type` says otherwise) after `draw`.
template <class Draw>
std::string drawn(int w, int h, Draw draw, uint8_t ink = 1, int type = KIT_GRAY)
{
    auto im = makeImage(type, w, h);
    draw(im.get());
    return picture(im.get(), ink);
}

// A w x h picture whose pixel (x, y) is pixel from(x, y) of picture `p` of
// width `pw`: crops, mirrors, transposes.
template <class From>
std::string remap(const std::string &p, int pw, int w, int h, From from)
{
    std::string s;
    for (int y = 0; y < h; ++y) {
        if (y) s += ' ';
        for (int x = 0; x < w; ++x) s += p[size_t(from(x, y).second) * (pw + 1) + from(x, y).first];
    }
    return s;
}

using Draw = std::function<void(Image *)>;
constexpr int kTypes[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};

const double kInf = INFINITY, kNan = NAN;
const int kSquare[] = {0, 0, 4, 0, 4, 4, 0, 4}, kTriangle[] = {1, 0, 7, 3, 0, 5},
          kHuge[] = {INT_MIN, INT_MIN, INT_MAX, INT_MIN + 7, 3, INT_MAX, INT_MIN, 12, -5, -5},
          kThin[] = {INT_MAX, 3, INT_MIN, 4, INT_MAX, 20, -1000000000, 11}, kOpen[] = {1, 1, 6, 1, 6, 5},
          kFlat[] = {0, 1, 5, 1, 3, 1};

Draw line(int x0, int y0, int x1, int y1) { return [=](Image *im) { kxSetLine(im, x0, y0, x1, y1, 1); }; }
Draw outline(int cx, int cy, int rx, int ry, float angle = 0)
{
    return [=](Image *im) { kxSetEllipse(im, cx, cy, rx, ry, angle, 1); };
}
Draw box(int l, int t, int r, int b) { return [=](Image *im) { kxFillEllipse(im, l, t, r, b, 0x101); }; }
Draw turned(EllipseBox e) { return [=](Image *im) { kxFillEllipseE1(im, e, 1); }; }
Draw polygon(const int *v, int n) { return [=](Image *im) { kxFillPolygon(im, v, n, 0x101); }; }

TEST(Shapes, Pictures)
{
    const struct { int w, h; Draw draw; const char *want; uint8_t ink = 1; int type = KIT_GRAY; } cases[] = {
        // The direction decides the tie.
        {6, 3, line(0, 0, 4, 1), "##.... ..###. ......"}, {6, 3, line(4, 1, 0, 0), "###... ...##. ......"},
        {5, 3, line(2, 1, 2, 1), "..... ..#.. ....."},
        {6, 6, line(1, 0, 3, 5), ".#.... .#.... ..#... ..#... ...#.. ...#.."},
        {5, 5, line(INT_MIN, INT_MIN, INT_MAX, INT_MAX), "#.... .#... ..#.. ...#. ....#"},  // clipped before walking
        {5, 3, line(INT_MIN, 0, INT_MAX, 1), "..... ##### ....."},                          // the step falls at x = 0
        // Lines a few hundred thousand positions long whose visible part is short.
        {8, 8, line(-300000, -20, 300000, 30),
         "........ ........ ........ ........ ........ ######## ........ ........"},
        {8, 6, line(-250000, -250000, 250000, 250001), "#....... #....... .#...... ..#..... ...#.... ....#..."},
        {8, 7, [](Image *im) { kxSetPolyline(im, kOpen, 3, 1); },
         "........ .######. ......#. ......#. ......#. ......#. ........"},  // not closed
        // Radii 1: 8 points are too few to draw.
        {5, 5, outline(2, 2, 1, 1), "..... ..... ..... ..... ....."},
        {5, 5, outline(2, 2, 0, 5), "..... ..... ..#.. ..... ....."},
        {7, 3, outline(3, 1, 2, 0), "....... .#####. ......."},
        {15, 9, outline(7, 4, 6, 3),
         "............... ....#######.... ..##.......##.. .#...........#. .#...........#. .#...........#. "
         "..##.......##.. ....#######.... ..............."},
        {15, 11, outline(7, 5, 6, 3, 30),
         "............... .......####.#.. ......#.....#.. ....##.......#. ...#........#.. ...#.......#... "
         "..#........#... .#.......##.... ..#.....##..... ..#.####....... ..............."},
        // Ellipses far larger than the image, through it; the flat one's
        // walk never takes its second step in y, so it tops out at ry - 1.
        {9, 7, outline(4, 3, 2, 70001), "..#...#.. ..#...#.. ..#...#.. ..#...#.. ..#...#.. ..#...#.. ..#...#.."},
        {9, 7, outline(4, 3, 70001, 2), "......... ......... ######### ......... ######### ......... ........."},
        {9, 7, outline(4, 3 - 60000, 60000, 60000),
         "......... ......... ......... ######### ......... ......... ........."},
        // Filled boxes: (0, 1) lies on the ellipse exactly, inside; reversed, no width.
        {6, 4, box(0, 0, 4, 2), "..#... #####. ..#... ......"},
        {6, 4, box(4, 3, 0, 0), "...... ...... ...... ......"}, {6, 4, box(2, 0, 2, 3), "...... ...... ...... ......"},
        // Single-precision terms: v rounds to 1 on the row past the edge too.
        {8, 5, box(-2000000000, -2000000000, 2000000000, 3), "######## ######## ######## ######## ########"},
        {8, 5, box(3, INT_MIN, 5, INT_MAX), "...###.. ...###.. ...###.. ...###.. ...###.."},
        {9, 9, turned({4, 4, 8, 8, 0}),
         "....#.... ..#####.. .#######. .#######. ######### .#######. .#######. ..#####.. ....#...."},
        // Grey images take the colour's luminance.
        {9, 9, [](Image *im) { kxFillEllipseE1(im, {4, 4, 8, 8, 0}, 0x00FF0000); },
         "....#.... ..#####.. .#######. .#######. ######### .#######. .#######. ..#####.. ....#....", 76},
        {9, 7, turned({4, 3, 8, 4, 30}), "......... ....####. ..######. .#######. .######.. .####.... ........."},
        // An infinite width: the strip |dy| <= 2, 27 pixels.
        {7, 5, turned({3.5, 2.5, kInf, 4, 20}), ".....## ..##### ####### ####### ######."},
        {7, 2, turned({3, 1, 0, 8, 0}), "....... ......."}, {7, 2, turned({3, 1, 5, kNan, 0}), "....... ......."},
        {7, 2, turned({1e12, -1e12, 1e13, 1e13, 45}), "####### #######"},
        // Polygons: the right column and bottom row of the square stay out
        // (concave shapes and the even-odd rule: the fan triangles test).
        {9, 5, polygon(kSquare, 4), "####..... ####..... ####..... ####..... ........."},
        {9, 6, polygon(kTriangle, 3), "......... .##...... .####.... .######.. .###..... ........."},
        {9, 2, polygon(kHuge, 5), "######### #########"},
        {9, 6, polygon(kThin, 4), "......... ......... ......... ......... ######### #########"},
        {9, 2, polygon(kSquare, 2), "......... ........."}, {9, 2, polygon(kFlat, 3), "......... ........."},
        {9, 2, [](Image *im) { kxFillPolygonE1(im, kSquare, 4, nullptr, 4, 1); }, "####..... ####....."},
        {9, 2, [](Image *im) { kxFillPolygonE2(im, kSquare, 2, 1, 1); }, "......... ........."},
        // Rectangles: kxFillRect paints the low byte (KIT_BIN: 1) into the clipped rectangle; kxFillRectE1
        // clamps its corners into the image and writes its byte as it is.
        {6, 5, [](Image *i) { kxFillRect(i, 3, -4, 9, 2, 0x1FF); }, "...### ...### ...### ...... ......", 0xFF},
        {6, 5, [](Image *i) { kxFillRect(i, 3, -4, 9, 2, 0x100); }, "...### ...### ...### ...... ......", 1, KIT_BIN},
        {6, 5, [](Image *i) { kxFillRect(i, 4, 0, 3, 4, 9); }, "...... ...... ...... ...... ......"},
        {6, 5, [](Image *i) { kxFillRect(i, INT_MIN, INT_MIN, -1, INT_MAX, 9); }, "...... ...... ...... ...... ......"},
        {6, 5, [](Image *i) { kxFillRectE1(i, 1, 1, 2, 3, 7); }, "...... .##... .##... .##... ......", 7, KIT_BIN},
        {6, 5, [](Image *i) { kxFillRectE1(i, -5, -5, -1, -2, 7); }, "#..... ...... ...... ...... ......", 7, KIT_BIN},
        {6, 5, [](Image *i) { kxFillRectE1(i, 4, 0, 2, 4, 7); }, "...... ...... ...... ...... ......", 7, KIT_BIN},
        {6, 5, [](Image *i) { kxFillRectE1(i, 10, 10, 20, 20, 7); }, "...... ...... ...... ...... .....#", 7},
        {3, 2, [](Image *i) { kxFillRect(i, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0x01020304); }, "### ###", 4, KIT_RGBA},
        {3, 2, [](Image *i) { kxFillRectE1(i, 0, 0, 5, 4, 9); }, "... ...", 9, KIT_RGB},  // one-byte pixels only
    };
    for (const auto &c : cases) EXPECT_EQ(drawn(c.w, c.h, c.draw, c.ink, c.type), c.want) << c.want;
}

std::vector<int> randomPolygon(std::mt19937 &rng, int n, int lo, int hi)
{
    std::uniform_int_distribution<int> c(lo, hi);
    std::vector<int> v(size_t(2 * n));
    for (int &k : v) k = c(rng);
    return v;
}

// Random shapes: on a small image, the crop of the same shape moved onto a
// canvas that holds it whole; lines mirrored or transposed and boxes
// mirrored give the mirrored or transposed picture (a mirror in x and the
// transpose imply the mirror in y; outlines are drawn by quadrant reflection).
TEST(Shapes, ClippingCropsAndMirrorsMirror)
{
    std::mt19937 rng(11);
    auto c = [&](int lo, int hi) { return lo + int(rng() % unsigned(hi - lo + 1)); };
    for (int i = 0; i < 1000; ++i) {
        const int w = c(1, 37), h = c(1, 29), kind = i % 5, x0 = c(-40, 70), y0 = c(-40, 70), x1 = c(-40, 70),
                  y1 = c(-40, 70);
        const int l = std::min(x0, x1), t = std::min(y0, y1), r = std::max(x0, x1), b = std::max(y0, y1);
        const float angle = i % 3 ? float(c(-3600, 3600)) / 10.0f : 0.0f;
        const EllipseBox e{x0 / 4.0, y0 / 4.0, double(c(0, 40)), double(c(0, 40)), double(angle)};
        const std::vector<int> v = randomPolygon(rng, c(3, 12), -20, 60);
        const std::function<Draw(int)> shape[] = {
            [&](int d) { return line(x0 + d, y0 + d, x1 + d, y1 + d); },
            [&](int d) { return outline(x0 / 2 + d, y0 / 2 + d, x1 / 2 + 20, y1 / 2 + 20, angle); },
            [&](int d) { return box(l + d, t + d, r + d, b + d); },
            [&](int d) { return turned({e.centerX + d, e.centerY + d, e.width, e.height, e.angle}); },
            [&](int d) {
                std::vector<int> u = v;
                for (int &k : u) k += d;
                return Draw([u](Image *im) { kxFillPolygon(im, u.data(), int(u.size() / 2), 1); });
            },
        };
        SCOPED_TRACE(testing::Message() << "case " << i << ", kind " << kind);
        const std::string small = drawn(w, h, shape[kind](0));
        const auto moved = [](int x, int y) { return std::pair{x + 60, y + 60}; };
        ASSERT_EQ(small, remap(drawn(160, 160, shape[kind](60)), 160, w, h, moved));
        const auto flipX = [&](int x, int y) { return std::pair{w - 1 - x, y}; };
        const auto flipXY = [&](int x, int y) { return std::pair{w - 1 - x, h - 1 - y}; };
        const auto transpose = [](int x, int y) { return std::pair{y, x}; };
        if (kind == 0) {
            ASSERT_EQ(remap(small, w, w, h, flipX), drawn(w, h, line(w - 1 - x0, y0, w - 1 - x1, y1)));
            ASSERT_EQ(remap(small, w, h, w, transpose), drawn(h, w, line(y0, x0, y1, x1)));
        }
        if (kind == 2) {
            ASSERT_EQ(remap(small, w, w, h, flipXY), drawn(w, h, box(w - 1 - r, h - 1 - b, w - 1 - l, h - 1 - t)));
        }
    }
}

// Centres and radii far outside the 32-bit range of the image draw nothing
// and do not wrap into it; null vertices and a null image assert.
TEST(Shapes, FarArgumentsColourAndNullVertices)
{
    auto im = makeImage(KIT_GRAY, 32, 32);
    // The fourth: beyond the point limit.
    for (auto [cx, cy, rx, ry, angle] : {std::tuple{INT_MAX - 3, INT_MIN + 3, 40, 40, 0.0f},
                                         {INT_MAX, INT_MAX, 300, 7, 33.0f}, {INT_MIN, 16, 60000, 60000, 0.0f},
                                         {16, 16, 2097152, 5, 0.0f},
                                         {16, 16, INT_MAX, INT_MAX, 0.0f}, {16, 16, INT_MIN, INT_MAX, 10.0f}})
        kxSetEllipse(im.get(), cx, cy, rx, ry, angle, 1);
    for (int n : {1, 0, -4}) kxSetPolyline(im.get(), nullptr, n, 1);
    EXPECT_EQ(pixels(im.get()), std::vector<uint8_t>(32 * 32, 0));
    // Outlines clamp a grey colour above 255 (the other colour rules are the
    // pixel setters', pinned in tests/pixel).
    kxSetLine(im.get(), 0, 0, 0, 0, 0x100);
    EXPECT_EQ(im->data[0], 255);
    EXPECT_KX_ASSERT(kxFillPolygon(im.get(), nullptr, 3, 1), "pVertexArray");
    EXPECT_KX_ASSERT(kxFillRect(nullptr, 0, 0, 1, 1, 1), "image");
}

// The even-odd rule makes a polygon the exclusive or of its fan triangles
// (every inner edge is crossed twice) and a hole takes away its own fill.
// Small coordinates keep every crossing exact enough.
TEST(FillPolygon, SumOfFanTrianglesAndHoles)
{
    std::mt19937 rng(21);
    for (int i = 0; i < 400; ++i) {
        const int w = 1 + int(rng() % 40), h = 1 + int(rng() % 40);
        const auto a = randomPolygon(rng, 3 + int(rng() % 10), -20, 60);
        const auto b = randomPolygon(rng, 3 + int(rng() % 6), -10, 50);
        const int n = int(a.size() / 2), nb = int(b.size() / 2);
        auto fan = makeImage(KIT_GRAY, w, h);
        for (int k = 1; k + 1 < n; ++k) {
            const int tri[] = {a[0], a[1], a[2 * k], a[2 * k + 1], a[2 * k + 2], a[2 * k + 3]};
            auto t = makeImage(KIT_GRAY, w, h);
            kxFillPolygon(t.get(), tri, 3, 1);
            for (size_t p = 0; p < size_t(w) * h; ++p) fan->data[p] ^= t->data[p];
        }
        const std::string whole = drawn(w, h, [&](Image *im) { kxFillPolygon(im, a.data(), n, 1); });
        ASSERT_EQ(whole, picture(fan.get())) << i;
        std::string expected = whole;
        const std::string hole = drawn(w, h, [&](Image *im) { kxFillPolygon(im, b.data(), nb, 1); });
        for (size_t p = 0; p < hole.size(); ++p) expected[p] = hole[p] == '#' ? '.' : expected[p];
        ASSERT_EQ(drawn(w, h, [&](Image *im) { kxFillPolygonE1(im, a.data(), n, b.data(), nb, 1); }), expected) << i;
    }
}

// kxFillPolygonE2 asks the inside test once per distinct pixel; its seed must
// be the plain search's: after the outline, the first vertex whose right
// neighbour is in the image, not yet in the fill colour and inside.  Few
// distinct points, images often already in the fill colour; without the
// fill flag only the closed outline.
TEST(FillPolygonE2, SeedSearchMatchesThePlainSearch)
{
    std::mt19937 rng(33);
    for (int i = 0; i < 400; ++i) {
        const int type = kTypes[i % 4], b = bpp(type);
        const int w = 2 + int(rng() % 40), h = 2 + int(rng() % 30);
        const auto pool = randomPolygon(rng, 2 + int(rng() % 6), -3, 42);
        std::vector<int> v;
        for (int k = 3 + int(rng() % 40); k-- > 0;) {
            const size_t p = rng() % (pool.size() / 2);
            v.insert(v.end(), {pool[2 * p], pool[2 * p + 1]});
        }
        const int n = int(v.size() / 2);
        uint32_t colour = i % 3 ? 0xFF00FF00u : 1;
        const auto bytes = randomBytes(size_t(w) * h * size_t(b), uint32_t(i), 0, i % 2);
        auto fast = makeImage(type, w, h, bytes), slow = makeImage(type, w, h, bytes);
        const bool fillFlag = i % 5 != 0;
        kxFillPolygonE2(fast.get(), v.data(), n, colour, fillFlag);
        for (int k = 0; k < n; ++k)
            kxSetLine(slow.get(), v[2 * k], v[2 * k + 1], v[(2 * k + 2) % (2 * n)], v[(2 * k + 3) % (2 * n)], colour);
        colour = type == KIT_BIN ? colour != 0 : type == KIT_GRAY ? std::min<uint32_t>(colour, 255) : colour;
        const uint8_t fill[4] = {uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour >> 16), uint8_t(colour >> 24)};
        for (int k = 0; fillFlag && k < n; ++k) {
            const int x = v[2 * k] + 1, y = v[2 * k + 1];
            const bool free = x >= 0 && y >= 0 && x < w && y < h &&
                              std::memcmp(slow->data + y * slow->pitch + x * b, fill, size_t(b));
            if (free && kxIsPointInPolygon(x, y, v.data(), n)) {
                kxFill(slow.get(), x, y, colour);
                break;
            }
        }
        ASSERT_EQ(pixels(fast.get()), pixels(slow.get())) << i;
    }
}

// 100,000 copies of one vertex took one inside test per copy, each over
// all copies (about 10^10 steps); now one test.
TEST(FillPolygonE2, RepeatedVerticesAskedOnce)
{
    const std::vector<int> same(2000, 7);
    const std::string lone = drawn(16, 16, [](Image *im) { kxSetPixel(im, 7, 7, 200); }, 200);
    gInsideTests = 0;
    EXPECT_EQ(drawn(16, 16, [&](Image *im) { kxFillPolygonE2(im, same.data(), 1000, 200, 1); }, 200), lone);
    EXPECT_EQ(gInsideTests, 1);
}

TEST(Fill, ColourRules)
{
    // {type, start, colour, painted}: clearing a binary region; the fill colour equal to the target (the other
    // colour rules and the kept alpha: the breadth-first test).
    for (auto [type, start, colour, painted] : {std::tuple{KIT_BIN, 1, 0u, 0}, {KIT_GRAY, 255, 1000u, 255}}) {
        auto im = makeImage(type, 5, 4, std::vector<uint8_t>(20, uint8_t(start)));
        EXPECT_EQ(kxFill(im.get(), 2, 2, colour), im.get());
        EXPECT_EQ(pixels(im.get()), std::vector<uint8_t>(20, uint8_t(painted)));
    }
    auto outside = randomImage(KIT_GRAY, 5, 4, 1);
    const auto before = pixels(outside.get());
    for (auto [x, y] : {std::pair{5, 0}, {INT_MIN, INT_MAX}}) EXPECT_EQ(kxFill(outside.get(), x, y, 9), outside.get());
    EXPECT_EQ(pixels(outside.get()), before);
    EXPECT_EQ(kxFill(nullptr, 0, 0, 1), nullptr);
}

// The span fill repaints exactly the 4-connected region of the seed's
// colour, found here by a plain breadth-first search.
TEST(Fill, RepaintsTheSeedsRegion)
{
    std::mt19937 rng(17);
    for (int i = 0; i < 400; ++i) {
        const int type = kTypes[i % 4], b = bpp(type), w = 1 + int(rng() % 50), h = 1 + int(rng() % 40);
        // Two or three values make large, winding regions.
        auto bytes = randomBytes(size_t(w) * h * b, uint32_t(i), 0, type == KIT_BIN ? 1 : 2);
        for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = b > 1 ? bytes[k - k % b] % 2 : bytes[k];
        auto im = makeImage(type, w, h, bytes);
        const int x = int(rng() % uint32_t(w)), y = int(rng() % uint32_t(h)), n = b == 1 ? 1 : 3;
        kxFill(im.get(), x, y, 0x00050505);
        auto same = [&](int p, int q) { return !std::memcmp(&bytes[size_t(p) * b], &bytes[size_t(q) * b], size_t(n)); };
        std::vector<char> region(size_t(w) * h, 0);
        std::vector<int> queue{y * w + x};
        region[size_t(y * w + x)] = 1;
        for (size_t head = 0; head < queue.size(); ++head) {
            const int p = queue[head], px = p % w, py = p / w;
            for (auto [qx, qy] : {std::pair{px + 1, py}, {px - 1, py}, {px, py + 1}, {px, py - 1}}) {
                const int q = qy * w + qx;
                if (qx >= 0 && qy >= 0 && qx < w && qy < h && same(q, p) && !std::exchange(region[size_t(q)], 1))
                    queue.push_back(q);
            }
        }
        for (size_t p = 0; p < region.size(); ++p)
            if (region[p]) std::fill_n(&bytes[p * b], n, uint8_t(type == KIT_BIN ? 1 : type == KIT_GRAY ? 255 : 5));
        ASSERT_EQ(pixels(im.get()), bytes) << i;
    }
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
    const std::tuple<int, uint32_t, uint8_t, std::vector<uint8_t>> cases[] = {
        // type, bits, value, pixel from {1, 2, 3, 4}
        {KIT_RGB, 0x5, 9, {9, 2, 9}},     {KIT_RGB, 0x8, 9, {1, 2, 3}},     {KIT_RGB, 0xFF, 9, {9, 9, 9}},
        {KIT_RGBA, 0x8, 9, {1, 2, 3, 9}}, {KIT_RGBA, 0xA, 0, {1, 0, 3, 0}}, {KIT_GRAY, 0x1, 200, {200}},
        {KIT_GRAY, 0x6, 200, {1}},        {KIT_BIN, 0x1, 7, {1}},           {KIT_BIN, 0x1, 0, {0}},
    };
    for (const auto &[type, bits, value, pixel] : cases) {
        const uint8_t start[] = {1, 2, 3, 4};
        std::vector<uint8_t> px, want;
        for (int i = 0; i < 6; ++i) {
            px.insert(px.end(), start, start + bpp(type));
            want.insert(want.end(), pixel.begin(), pixel.end());
        }
        PaddedImage im(type, 3, 2, px);
        kxFillEx(im.get(), bits, value);
        EXPECT_EQ(pixels(im.get()), want) << type << " " << bits;
    }
}

// Text blocks: size from the measured extents, line splitting, clipping,
// the transparency rule and the conversion to KIT_RGB.  Glyph shapes belong
// to the font renderer and are not checked pixel by pixel.
constexpr uint32_t kGround = 0x00404040, kBack = 0x000000FF;  // the image before drawing, the block background

ImagePtr rgbImage(int w, int h) { return makeImage(KIT_RGB, w, h, std::vector<uint8_t>(size_t(w) * h * 3, 0x40)); }

struct Box {
    int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;
    bool operator==(const Box &) const = default;
};  // inclusive

// The bounding box of the pixels that differ from `colour`.
Box changed(const Image *im, uint32_t colour)
{
    Box b;
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x)
            if ((kxGetPixel(im, x, y) & 0xFFFFFF) != colour)
                b = Box{std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
    return b;
}

// The extent of one line as kxFillTextEx measures it with no style flags.
std::pair<int, int> extent(const std::string &line, int height)
{
    KxtFont *f = kxtCreateFont("Arial", height, 15, 0);
    int w = 0, h = 0;
    EXPECT_TRUE(f && kxtTextExtent(f, line.data(), int(line.size()), &w, &h));
    kxtDestroyFont(f);
    return {w, h};
}

// The renderer takes a positive height as the em, which a cell exceeds, and
// a negative one as the cell height.
TEST(FillText, BlockSizeLinesClippingAndCellHeight)
{
    const auto em = extent("Wide", 40), cell = extent("Wide", -40);
    EXPECT_TRUE(em.second > 40 && cell.first < em.first);
    EXPECT_NEAR(cell.second, 40, 2);
    const auto [w, h] = extent("Hello, world", 20);
    const auto [w1, h1] = extent("Two", 16);
    const auto [w2, h2] = extent("lines", 16);
    ASSERT_TRUE(w > 40 && h >= 20) << w << "x" << h;
    const struct { const char *text; int x, y; const char *face; int height; Box want; } cases[] = {
        // face null: Arial
        {"Hello, world", 7, 5, "Arial", 20, {7, 5, 7 + w - 1, 5 + h - 1}},
        {"Hello, world", -5, -9, "Arial", 20, {0, 0, w - 1, h - 1}},  // moved, not cut
        {"Two\n\nlines\n", 0, 0, nullptr, 16, {0, 0, std::max(w1, w2) - 1, 2 * std::max(h1, h2) - 1}},
        {"Two\rlines", 0, 0, "Arial", 16, {0, 0, extent("Two\rlines", 16).first - 1, h1 - 1}},  // one line
        // Nothing to draw.
        {"", 0, 0, "Arial", 12, {}}, {"x", INT_MAX, 0, "Arial", 12, {}}, {"x", 0, 80, "Arial", 12, {}},
    };
    for (const auto &c : cases) {
        auto im = rgbImage(300, 80);
        kxFillTextEx(im.get(), c.text, c.x, c.y, c.face, c.height, 0x00FFFFFF, kBack, 0);
        EXPECT_EQ(changed(im.get(), kGround), c.want) << c.text;
    }
    // Clipped at the right and bottom edges, the last column and row written.
    const char *text = "Clipped text\nsecond";
    auto big = rgbImage(400, 120), small = rgbImage(60, 25);
    for (Image *im : {big.get(), small.get()}) kxFillTextEx(im, text, 10, 8, "Arial", 18, 0x00FFFF00, kBack, 0x2 | 0x8);
    for (int i = 0; i < 60 * 25; ++i)
        ASSERT_EQ(kxGetPixel(small.get(), i % 60, i / 60), kxGetPixel(big.get(), i % 60, i / 60)) << i;
    EXPECT_EQ(changed(small.get(), kGround), (Box{10, 8, 59, 24}));
}

// Each pair draws the same pixels: bytes past the 4096th are ignored, a face
// name is cut after 31 characters, and a transparent background equal to the
// image is moot.  Other types become KIT_RGB (a virtual one cannot and is
// left alone); unknown faces, styles, odd heights and bytes still draw.
TEST(FillText, ArgumentsThatChangeNothingAndConversion)
{
    const std::string is(4096, 'i'), face31 = "Liberation Serif" + std::string(15, ' ');
    const struct { std::string text, face; uint32_t back; int flags; } pairs[][2] = {
        {{is, "Arial", kBack, 0}, {is + "\nWWWW", "Arial", kBack, 0}},
        {{"Face", face31, kBack, 0}, {"Face", face31 + "Sans Mono", kBack, 0}},
        {{"Same", "Arial", kGround, 0}, {"Same", "Arial", kGround, 0x10}},
    };
    for (const auto &pair : pairs) {
        auto a = rgbImage(200, 200), b = rgbImage(200, 200);
        for (int k = 0; k < 2; ++k)
            kxFillTextEx((k ? b : a).get(), pair[k].text.c_str(), 3, 3, pair[k].face.c_str(), 20, 0x00FFFFFF,
                         pair[k].back, pair[k].flags);
        EXPECT_EQ(pixels(a.get()), pixels(b.get())) << pair[1].face;
        EXPECT_NE(changed(a.get(), kGround), Box{});
    }
    // kxFillText: white block background, transparent.  No pixel becomes
    // white and the text changes some pixels.
    auto im = rgbImage(200, 50);
    kxFillText(im.get(), "Transparent", 3, 3, 24, 0x00102030);
    const auto px = pixels(im.get());
    int white = 0, ink = 0;
    for (size_t i = 0; i < px.size(); i += 3) {
        white += px[i] == 255 && px[i + 1] == 255 && px[i + 2] == 255;
        ink += px[i] == 0x30 && px[i + 1] == 0x20 && px[i + 2] == 0x10;
    }
    EXPECT_TRUE(white == 0 && ink > 20) << white << " white, " << ink << " ink";
    for (int type : {KIT_BIN, KIT_GRAY, KIT_RGBA}) {
        auto other = makeImage(type, 30, 20);
        kxFillTextEx(other.get(), "x", 100, 0, "Arial", 12, 0, kBack, 0);  // starts beyond the right edge
        EXPECT_TRUE(other->imageType == KIT_RGB && pixels(other.get()) == std::vector<uint8_t>(1800, 0)) << type;
    }
    PaddedImage v(KIT_GRAY, 30, 20);
    kxFillText(v.get(), "x", 0, 0, 12, 0);
    EXPECT_TRUE(v.get()->imageType == KIT_GRAY && pixels(v.get()) == std::vector<uint8_t>(600, 0));
    for (int h : {0, INT_MIN, INT_MAX}) {
        auto t = rgbImage(64, 32);
        kxFillTextEx(t.get(), "\x80\x81\x9f\xff\t\r", 0, 0, "No Such Face Anywhere", h, 0, kBack, 0x2 | 0x4 | 0x8);
        EXPECT_NE(changed(t.get(), kGround), Box{}) << h;
    }
}

}  // namespace
