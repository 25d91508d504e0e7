// Turns, flips, shifts by hand and invariants; rotation and scaling against direct versions.
#include <array>
#include <climits>
#include <functional>
#include <limits>
#include <numeric>

#include "geometry/rotate_engine.hpp"
#include "geometry/two_pass_scale.hpp"
#include "kxtest.hpp"
#include "levels.hpp"

using namespace kxtest;
using namespace kx::geo;
using kx::isa::Level;

namespace ref {

// Direct versions on the library's box size, filters and tables (pinned by hand below).
struct Pic {
    int w = 0, h = 0, bpp = 1;
    std::vector<uint8_t> px;
    uint8_t *at(int x, int y) const { return const_cast<uint8_t *>(px.data()) + (size_t(y) * w + x) * bpp; }
};

Pic picOf(const Image *im) { return {im->width, im->height, bpp(im->imageType), pixels(im)}; }

Pic filled(int w, int h, const std::vector<uint8_t> &bg)
{
    Pic p{w, h, int(bg.size()), {}};
    for (int i = 0; i < w * h; ++i) p.px.insert(p.px.end(), bg.begin(), bg.end());
    return p;
}

// The bytes kxSetPixelEx stores.
std::vector<uint8_t> colourBytes(int type, uint32_t colour)
{
    ImagePtr one = makeImage(type, 1, 1);
    kxSetPixelEx(one.get(), colour, nullptr, 0);
    return pixels(one.get());
}

// One pixel as the row samplers write it: nearest takes the rounded position's pixel when inside; bilinear takes
// positions from -1 up to the size, neighbours outside counting as 0; elsewhere `d` is left alone.
void sample(const Pic &s, float sx, float sy, bool bilinear, uint8_t *d)
{
    const double px = std::floor(sx + 0.5), py = std::floor(sy + 0.5);
    if (!bilinear && px >= 0 && px < s.w && py >= 0 && py < s.h) std::copy_n(s.at(int(px), int(py)), s.bpp, d);
    if (!bilinear || !(sy >= -1.0f && sy < s.h && sx >= -1.0f && sx < s.w)) return;
    int x0 = (int)sx, y0 = (int)sy, x1 = x0 + 1, y1 = y0 + 1;
    float dx = sx - x0, dy = sy - y0;
    if (sx < 0.0) x0 = -1, x1 = 0, dx = sx + 1.0;
    if (sy < 0.0) y0 = -1, y1 = 0, dy = sy + 1.0;
    auto p = [&](int x, int y, int c) { return x >= 0 && y >= 0 && x < s.w && y < s.h ? float(s.at(x, y)[c]) : 0.0f; };
    for (int c = 0; c < s.bpp; ++c) {
        const float top = (p(x1, y0, c) - p(x0, y0, c)) * dx + p(x0, y0, c);
        const float bottom = (p(x1, y1, c) - p(x0, y1, c)) * dx + p(x0, y1, c);
        d[c] = (uint8_t)(int)((bottom - top) * dy + top + 0.5);
    }
}

std::pair<float, float> position(int x, int y, double angle, int cx, int cy)
{
    const float r = (float)std::sqrt(double(int64_t(x) * x + int64_t(y) * y)), th = (float)std::atan2(y, x);
    return {(float)(std::cos(th + angle) * r + cx), (float)(std::sin(th + angle) * r + cy)};
}

// kxRotateEx/E2: the turned box has (newW - 1) / 2 columns either side of its centre column (an even side
// leaves its last column as background); a kept size is the box's middle, cut at offsets rounded towards 0.
Pic rotateEngine(const Pic &s, double angle, bool bilinear, bool keepSize, const std::vector<uint8_t> &bg)
{
    int newW = s.w, newH = s.h;
    rotatedSize(newW, newH, angle);
    const int halfW = (newW - 1) / 2, halfH = (newH - 1) / 2;
    const int offX = keepSize ? (newW - s.w) / 2 : 0, offY = keepSize ? (newH - s.h) / 2 : 0;
    Pic out = filled(keepSize ? s.w : newW, keepSize ? s.h : newH, bg);
    for (int x = std::max(0, -offX); x < out.w && x + offX <= 2 * halfW; ++x)
        for (int y = std::max(0, -offY); y < out.h && y + offY <= 2 * halfH; ++y) {
            const auto [sx, sy] = position(x + offX - halfW, y + offY - halfH, angle, (s.w - 1) / 2, (s.h - 1) / 2);
            sample(s, sx, sy, bilinear, out.at(x, y));
        }
    return out;
}

// One pass along rows (alongX) or columns, terms summed in an 8-bit byte.
template <class Filter>
Pic pass(const Pic &src, int dstW, int dstH, bool alongX)
{
    const int n = alongX ? dstW : dstH, srcN = alongX ? src.w : src.h;
    if (n == srcN) return src;
    ContributionTable *t = computeContributions<Filter>(n, srcN, axisScale(n, srcN));
    Pic d{dstW, dstH, src.bpp, std::vector<uint8_t>(size_t(dstW) * dstH * src.bpp)};
    for (int y = 0; y < dstH; ++y)
        for (int x = 0; x < dstW; ++x)
            for (int c = 0; c < src.bpp; ++c) {
                const ContributionEntry &e = t->entries[alongX ? x : y];
                uint8_t acc = 0;
                for (int i = e.first; i <= e.last; ++i)
                    acc += (int)((alongX ? src.at(i, y) : src.at(x, i))[c] * e.weights[i - e.first]);
                d.at(x, y)[c] = acc;
            }
    releaseContributions(t);
    return d;
}

// kxScaleEx's filter codes 2..6: rows to the new width, then columns.
Pic scaleFiltered(int filter, const Pic &src, int w, int h)
{
    auto both = [&](auto f) { return pass<decltype(f)>(pass<decltype(f)>(src, w, src.h, true), w, h, false); };
    return filter == 2 ? both(CBilinearFilter{}) : filter == 3 ? both(CBoxFilter{})
         : filter == 4 ? both(CGaussianFilter{}) : filter == 5 ? both(CHammingFilter{}) : both(CBlackmanFilter{});
}

}  // namespace ref

namespace {

constexpr double kPi = 3.141592653589793;
#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 8;  // the sanitized build checks a sample of the cases
#else
constexpr int kScale = 1;
#endif

struct Shot { int w, h; std::vector<uint8_t> px; bool operator==(const Shot &) const = default; };

// A copy of `im` after kxRotate(n) and steps: 'r', 'c', 'h' kxRotate 1, -1, 2; digits kxFlip.
Shot after(const Image *im, const std::string &steps, int n = 0)
{
    ImagePtr c(kxiClone(im, nullptr));
    kxRotate(c.get(), n);
    for (char s : steps) isdigit(s) ? kxFlip(c.get(), s - '0') : kxRotate(c.get(), s == 'r' ? 1 : s == 'c' ? -1 : 2);
    EXPECT_EQ(c->pitch, c->width * bpp(c->imageType));
    return {c->width, c->height, pixels(c.get())};
}

// A quarter turn ('r', counter-clockwise) puts the old top-right pixel first.
TEST(RotateAndFlip, SmallPicturesByHand)
{
    const std::vector<uint8_t> grey = {0, 1, 2, 3, 4, 5}, two = {1, 2, 3, 4, 5, 6, 7, 8};
    const struct { int type, w, h; const char *step; int wantW; std::vector<uint8_t> want; } cases[] = {
        {KIT_GRAY, 3, 2, "r", 2, {2, 5, 1, 4, 0, 3}}, {KIT_GRAY, 3, 2, "c", 2, {3, 0, 4, 1, 5, 2}},
        {KIT_GRAY, 3, 2, "1", 3, {2, 1, 0, 5, 4, 3}}, {KIT_GRAY, 3, 2, "2", 3, {3, 4, 5, 0, 1, 2}},
        {KIT_GRAY, 3, 2, "3", 3, grey}, {KIT_RGBA, 2, 1, "r", 1, {5, 6, 7, 8, 1, 2, 3, 4}}};  // invariants: the rest
    for (const auto &c : cases) {
        auto im = makeImage(c.type, c.w, c.h, c.type == KIT_GRAY ? grey : two);
        EXPECT_EQ(after(im.get(), c.step), (Shot{c.wantW, c.w * c.h / c.wantW, c.want})) << c.type << c.step;
    }
}

// Every layout, sizes across 32-pixel tiles: the half turn (own code) is two quarter turns and both flips.
// A wrapped copy turns in place through its pitch (a half turn unless square: an odd count needs a new size).
TEST(RotateAndFlip, Invariants)
{
    const std::pair<const char *, const char *> same[] = {{"rr", "h"}, {"rrr", "c"}, {"rrrr", ""}, {"rc", ""},
        {"0", "h"}, {"12", "h"}, {"11", ""}, {"22", ""}};
    const std::pair<int, const char *> counts[] = {{0, ""}, {4, ""}, {-4, ""}, {INT_MIN, ""}, {5, "r"}, {-3, "r"},
        {3, "c"}, {7, "c"}, {-5, "c"}, {INT_MAX, "c"}, {-2, "h"}};
    uint32_t seed = 1;
    for (int t : {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA})
        for (auto [w, h] : {std::pair(1, 1), {1, 7}, {7, 1}, {4, 5}, {6, 6}, {33, 70}, {65, 31}}) {
            auto a = randomImage(t, w, h, seed++);
            PaddedImage wrapped(t, w, h, pixels(a.get()));
            kxRotate(wrapped.get(), w == h ? 3 : 2);
            kxFlip(wrapped.get(), 1);
            EXPECT_TRUE(pixels(wrapped.get()) == after(a.get(), w == h ? "c1" : "h1").px && wrapped.paddingIntact());
            for (auto [x, y] : same) EXPECT_EQ(after(a.get(), x), after(a.get(), y)) << x << " " << t << " " << w;
            for (auto [n, y] : counts) EXPECT_EQ(after(a.get(), "", n), after(a.get(), y)) << n << " " << t << " " << w;
        }
}

// The colour's bytes per type are kxSetPixelEx's (tests/pixel).
TEST(Resize, CanvasChanges)
{
    const struct { int type, w, h, nw, nh; uint32_t colour; int wantW, wantH; uint8_t fill[4]; } cases[] = {
        {KIT_GRAY, 3, 2, 5, 1, 77, 5, 1, {77}}, {KIT_GRAY, 3, 2, INT_MAX, 2, 5, 16384, 2, {5}},  // wider, lower
        {KIT_RGBA, 2, 2, 3, 2, 0x11223344, 3, 2, {0x44, 0x33, 0x22, 0x11}}, {KIT_GRAY, 3, 2, 0, 5, 5, 3, 2, {0}}};
    for (const auto &c : cases) {
        auto im = randomImage(c.type, c.w, c.h, 3);
        const ref::Pic before = ref::picOf(im.get());
        ref::Pic want = ref::filled(c.wantW, c.wantH, std::vector<uint8_t>(c.fill, c.fill + before.bpp));
        for (int y = 0; y < std::min(c.h, c.wantH); ++y)
            std::copy_n(before.at(0, y), std::min(c.w, c.wantW) * before.bpp, want.at(0, y));
        kxResize(im.get(), c.nw, c.nh, c.colour);
        EXPECT_TRUE(pixels(im.get()) == want.px && im->width == c.wantW && im->height == c.wantH) << c.nw;
    }
}

// Output (x, y) is input (x + dx, y + dy); outside neighbours count as 0, unreached pixels are 255.
TEST(Translate, WorkedShifts)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::vector<uint8_t> eight = {1, 2, 3, 4, 5, 6, 7, 8}, blank(8, 255);
    const struct { int w, h; std::vector<uint8_t> in; float dx, dy; int near; std::vector<uint8_t> want; } cases[] = {
        {4, 2, eight, 1.0f, 0.0f, 1, {2, 3, 4, 255, 6, 7, 8, 255}},
        {4, 2, eight, -0.4f, -1.0f, 1, {255, 255, 255, 255, 1, 2, 3, 4}},  // floor(x - 0.4 + 0.5) = x
        {2, 1, {201, 100}, 0.5f, 0.0f, 0, {151, 50}},  // 150.5 rounds up; the last column blends with 0
        {2, 1, {200, 100}, -1.5f, 0.0f, 0, {255, 100}}, {2, 2, {100, 200, 0, 40}, 0.5f, 0.5f, 0, {85, 60, 10, 10}},
        {4, 2, eight, nan, 0, 0, blank}, {4, 2, eight, 0, inf, 1, blank}};  // far positions: the same comparisons
    for (const auto &c : cases) {
        PaddedImage im(KIT_GRAY, c.w, c.h, c.in);
        EXPECT_EQ(kxTranslate(im.get(), c.dx, c.dy, c.near), im.get());
        EXPECT_TRUE(pixels(im.get()) == c.want && im.paddingIntact()) << c.dx << "," << c.dy << " nearest " << c.near;
    }
}

TEST(WarpedMoves, WholePixelShiftsAndTurns)
{
    auto im = randomImage(KIT_GRAY, 8, 6, 31);
    const ref::Pic src = ref::picOf(im.get());
    ref::Pic want = ref::filled(8, 6, {250});
    for (int y = 1; y < 6; ++y) std::copy_n(src.at(0, y - 1), 6, want.at(2, y));
    kxTranslateE1(im.get(), 2.0, 1.0, 250);
    EXPECT_EQ(pixels(im.get()), want.px);
    // Point coordinates at pixel centres: 180 degrees about the centre is the half turn.
    for (int t : {KIT_BIN, KIT_GRAY, KIT_RGB}) {
        auto a = randomImage(t, 9, 7, 12);
        const Shot half = after(a.get(), "h");
        EXPECT_TRUE(kxRotateE3(a.get(), 4.0, 3.0, 180.0, 0) == a.get() && pixels(a.get()) == half.px) << t;
    }
}

// Wrapped images that would change size or type, unusable types, NaN: the image is left as it was.  (Null
// arguments and unusable records are the fuzz harness's, the Release report of the image guard tests/release's.
// Exports that hand their result over by kxiClone need no row: a wrapped image refuses another size or type
// there, see tests/frame.)
TEST(Refusals, LeaveTheImageAsItWas)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto rgb = randomImage(KIT_RGB, 6, 4, 1), bad = makeImage(KIT_GRAY, 3, 3);
    bad->imageType = 16;
    const struct { int type; bool wrapped; std::function<bool(Image *)> refused; } cases[] = {
        {KIT_GRAY, true, [](Image *im) { return kxRotate(im, 1) == im; }},  // an odd count, not square
        {KIT_GRAY, false, [&](Image *im) { return kxRotateEx(im, nan, 0, 0) == im; }},  // infinity: the same guard
        {KIT_RGB, false, [](Image *im) { return kxTranslate(im, 1, 1, 1) == im; }},
        {KIT_RGBA, true, [](Image *im) { return kxRotateE3(im, 1, 1, 30, 0) == im; }},  // cannot drop its alpha
        {KIT_GRAY, true, [](Image *im) { return kxScaleE1(im, 0.5f, 9, 2, 1) == im; }},  // would paste in place
        {KIT_RGB, false, [&](Image *im) { return !kxScaleEx(bad.get(), im, 2); }}};  // the destination keeps its type
    for (const auto &c : cases) {
        const auto src = randomBytes(size_t(5 * 3 * bpp(c.type)), 7);
        PaddedImage wrapped(c.type, 5, 3, src);
        auto owned = makeImage(c.type, 5, 3, src);
        Image *im = c.wrapped ? wrapped.get() : owned.get();
        EXPECT_TRUE(c.refused(im)) << &c - cases;
        EXPECT_TRUE(std::tuple(im->imageType, im->width, im->height, pixels(im)) == std::tuple(c.type, 5, 3, src) &&
                    wrapped.paddingIntact()) << &c - cases;
    }
    EXPECT_KX_ASSERT(kxScaleEx(nullptr, rgb.get(), 2), "imgOri");
    EXPECT_KX_ASSERT(kxScaleEx(rgb.get(), nullptr, 2), "imgNew");
    auto line = makeImage(KIT_GRAY, 200000, 1);  // at 45 degrees a box beyond 2^31 bytes; a kept size needs none
    EXPECT_KX_ASSERT(kxRotateEx(line.get(), 45, 1, 0), "tmp_im");
    EXPECT_TRUE(line->width == 200000 && kxRotateEx(line.get(), 45, 1, 1) && line->width == 200000);
}

// Regression: a warp drawing nothing left the picture in place; only the colour must remain.
TEST(WarpThatDrawsNothing, LeavesOnlyTheFillColour)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const uint32_t colour = 0xFF102030;
    const std::function<void(Image *)> calls[] = {  // non-finite corners (either export), a frame collapsed by a shift
        [&](Image *im) { kxRotateE3(im, 2, 2, nan, colour); }, [&](Image *im) { kxTranslateE1(im, 0, -inf, colour); },
        [&](Image *im) { kxTranslateE1(im, 1e9, 0, colour); }};
    for (size_t i = 0; i < std::size(calls); ++i)
        for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA}) {
            auto im = randomImage(type, 5, 4, 11);
            calls[i](im.get());
            const int t = type == KIT_RGBA ? KIT_RGB : type;
            EXPECT_TRUE(im->imageType == t && pixels(im.get()) == ref::filled(5, 4, ref::colourBytes(t, colour)).px)
                << i << " type " << type;
        }
}

TEST(RotatedSize, WorkedSizesAndRefusals)
{
    const struct { int w, h; double angle; int wantW, wantH; } cases[] = {  // wantW 0: refused
        {100, 50, 0.0, 101, 51}, {100, 50, kPi / 2, 51, 101}, {100, 50, kPi, 101, 51}, {1, 1, 0.0, 2, 2},
        {10, 10, kPi / 4, 15, 15}, {100, 50, std::nan(""), 0, 0}, {INT_MAX, INT_MAX, 0.0, 0, 0}};
    for (const auto &c : cases) {
        int w = c.w, h = c.h;
        EXPECT_TRUE(rotatedSize(w, h, c.angle) == (c.wantW != 0) &&
                    std::pair(w, h) == (c.wantW ? std::pair(c.wantW, c.wantH) : std::pair(c.w, c.h))) << c.angle;
    }
}

// Positions at every level and RotationMap::position equal the exact formula bit for bit.
TEST(RotationPositions, VectorAndScalarRoutesEqualTheExactRoute)
{
    // Round, tiny, quarter turns, neighbours of the series' pi/4 edges, large, random.
    std::vector<double> angles = {0.0, 1e-9, -1e-9, kPi / 6, kPi / 2, kPi, -kPi / 2, 2 * kPi, 0.1, -0.7, kPi / 4,
                                  kPi / 16, 3.0, -3.14, 10.0, -123.456, 1e3, 5e4, 999999.75, 1e6 + 3, -2e7, 0.5236};
    for (int k = 1; k < 8; ++k) angles.push_back(std::nextafter(k * kPi / 4, 10.0));
    for (int k = 1; k < 19; ++k) angles.push_back(k * 0.7317 - 7.0);  // across the turn, off the round values
    const int centres[][2] = {{0, 0}, {1023, 1023}, {311, 7}, {4999, 20}, {2, 3000}};
    const struct { int ox, oy, rx, ry, n; } windows[] = {
        {0, 0, 120 / kScale, 80 / kScale, 256}, {700, -1500, 120 / kScale, 40 / kScale, 37},
        {-30000, 20000, 64 / kScale, 16 / kScale, 256}, {3, 0, 12, 400 / kScale, 13}};
    int64_t total = 0, exactRoute = 0;
    atEveryLevel([&](Level level) {  // every angle at the widest level, every fourth below
        const auto positions = rotationKernels(level).positions;
        for (size_t ai = 0; ai < angles.size(); ai += level == kx::isa::active() ? 1 : 4)
            for (auto &c : centres) {
                const RotationMap map(angles[ai], c[0], c[1]);
                for (const auto &w : windows) {
                    std::vector<float> sx(size_t(w.n)), sy(size_t(w.n));
                    for (int y = w.oy - w.ry; y <= w.oy + w.ry; ++y)
                        for (int x0 = w.ox - w.rx; x0 <= w.ox + w.rx; x0 += w.n) {
                            const int n = std::min(w.n, w.ox + w.rx - x0 + 1);
                            const int64_t e = positions(map, y, x0, n, sx.data(), sy.data());
                            if (map.vectorisable()) total += n - n % 8, exactRoute += e - n % 8;
                            for (int i = 0, x = x0; i < n; ++i, ++x) {
                                const auto [ex, ey] = ref::position(x, y, angles[ai], c[0], c[1]);
                                float px = sx[i], py = sy[i];
                                if (level == Level::Plain) map.position(x, y, px, py);
                                ASSERT_TRUE(!memcmp(&ex, &sx[i], 4) && !memcmp(&ey, &sy[i], 4) &&  // NaN fails too
                                            !memcmp(&ex, &px, 4) && !memcmp(&ey, &py, 4))
                                    << "angle " << angles[ai] << " centre " << c[0] << "," << c[1] << " at " << x
                                    << "," << y;
                            }
                        }
                }
            }
    });
    EXPECT_LT(exactRoute, total / (kScale > 1 ? 50 : 200)) << "of " << total;  // 0.3% (sanitized sample 1.1%)
}

// The nearest-neighbour rows without exact positions give the pixels of the exact positions at every level:
// whole images turned by awkward angles (the certified pixels and the groups sent to the exact route), rows
// reaching past the source, every pixel width.
TEST(RotationPositions, NearestRowsEqualTheExactRoute)
{
    const double angles[] = {0.0, 1e-7, 0.0052, 0.0698, 0.5236, kPi / 4, 1.5621, -2.5, 3.0, 123.456, 999999.75, -2e7};
    const struct { int w, h, x0, n; } rows[] = {{1201, 37, -700, 1400}, {40, 900, -500, 1000}, {3, 3, -9, 20}};
    uint32_t seed = 70;
    for (const auto &r : rows) {
        std::vector<ImagePtr> images;
        for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA}) images.push_back(randomImage(type, r.w, r.h, seed++));
        const int cx = (r.w - 1) / 2, cy = (r.h - 1) / 2;
        for (double a : angles) {
            const RotationMap map(a, cx, cy);
            for (int y = -r.h; y <= r.h; y += std::max(1, r.h / 40) * kScale) {
                std::vector<std::pair<float, float>> at;
                for (int i = 0; i < r.n; ++i) at.push_back(ref::position(r.x0 + i, y, a, cx, cy));
                for (const ImagePtr &im : images) {
                    const int B = bpp(im->imageType);
                    const ref::Pic pic = ref::picOf(im.get());
                    std::vector<uint8_t> want(size_t(r.n) * B, 7);
                    for (int i = 0; i < r.n; ++i) ref::sample(pic, at[size_t(i)].first, at[size_t(i)].second, false, &want[size_t(i) * B]);
                    atEveryLevel([&](Level level) {
                        std::vector<uint8_t> got(size_t(r.n) * B, 7);
                        rotationKernels(level).nearestDirect(map, im.get(), B, y, r.x0, r.n, got.data());
                        ASSERT_EQ(got, want) << "angle " << a << " row " << y << " " << r.w << "x" << r.h << " B " << B;
                    });
                }
            }
        }
    }
}

// The row samplers at every level, at positions near and past every edge, on and off the grid.
TEST(RotationSamplers, VectorSamplersEqualTheScalarOnes)
{
    atEveryLevel([](Level level) {
        const RotationKernels &k = rotationKernels(level);
        uint32_t seed = 40;
        for (bool bilinear : {true, false})
            for (auto [W, H] : {std::pair(1, 1), {2, 3}, {3, 1}, {1, 5}, {17, 9}, {64, 64}, {255, 3}})
                for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA}) {
                    const int B = bpp(type);
                    auto im = randomImage(type, W, H, seed++);
                    std::mt19937 rng(seed++);
                    std::uniform_real_distribution<float> fx(-2.0f, float(W) + 1.0f), fy(-2.0f, float(H) + 1.0f);
                    std::uniform_int_distribution<int> ix(-2, W + 1), iy(-2, H + 1);
                    std::vector<float> sx = {-0.5f, std::nextafter(-0.5f, -1.0f), 3e9f, 0.0f, float(W) - 0.5f};
                    std::vector<float> sy = {-0.5f, 0.0f, 0.0f, -3e9f, 0.0f};
                    for (int i = 0; i < 40000 / kScale; ++i) {  // whole columns, half rows, just off the grid, anywhere
                        const int j = i % 4;
                        sx.push_back(j == 0 ? float(ix(rng)) : j == 2 ? nextafterf(float(ix(rng)), -10.0f) : fx(rng));
                        sy.push_back(j == 1 ? float(iy(rng)) - 0.5f : j == 2 ? nextafterf(float(iy(rng)), 1e9f) : fy(rng));
                    }
                    const int n = int(sx.size());
                    std::vector<uint8_t> got(size_t(n) * B, 7), want(size_t(n) * B, 7);
                    (bilinear ? k.bilinear : k.nearest)(im.get(), B, sx.data(), sy.data(), n, got.data());
                    const ref::Pic pic = ref::picOf(im.get());
                    for (int i = 0; i < n; ++i) ref::sample(pic, sx[i], sy[i], bilinear, &want[size_t(i) * B]);
                    ASSERT_EQ(got, want) << W << "x" << H << " type " << type << " bilinear " << bilinear;
                }
    });
}

// Every layout, sampler and size mode, small and tile-crossing images, awkward angles.
TEST(RotateEx, MatchesTheDirectLoop)
{
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 3}, {7, 5}, {16, 9}, {33, 20}, {24, 41}, {64, 3}, {129, 200}};
    const double angles[] = {0.0, 1e-7, 0.5, 1.0, 30.0, 45.0, 60.0, 89.99, 90.0, 123.4, 180.0, -30.0, 270.0, 359.5,
                             -720.25, 1000.3, 12345.678, 1e7 + 0.1, -1e9, 7e12, 181.0, 300.7, 44.99, -17.5, 7.0};
    uint32_t seed = 100;
    for (auto [w, h] : sizes)  // the sanitized build: every fourth angle on the large ones
        for (size_t ai = 0; ai < std::size(angles); ai += kScale > 1 && w * h > 1000 ? 4 : 1)
            for (int t : {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA})
                for (int mode = 0; mode < 4; ++mode) {
                    const double a = angles[ai];
                    const bool bilinear = mode & 1, keep = mode >> 1;
                    const uint32_t colour = seed % 3 ? 0 : 0x80C0E0F0u;
                    const auto bytes = randomBytes(size_t(w) * h * bpp(t), seed++, 0, t == KIT_BIN ? 1 : 255);
                    PaddedImage wrapped(t, w, h, bytes);  // kept sizes: every other one through its pitch
                    auto owned = makeImage(t, w, h, bytes);
                    Image *im = keep && seed % 2 ? wrapped.get() : owned.get();
                    const ref::Pic want = ref::rotateEngine({w, h, bpp(t), bytes}, a * kPi / 180.0, bilinear, keep,
                                                            ref::colourBytes(t, colour));
                    if (colour) kxRotateE2(im, a, colour, !bilinear, keep);
                    else kxRotateEx(im, a, !bilinear, keep);
                    ASSERT_TRUE(im->width == want.w && im->height == want.h && pixels(im) == want.px &&
                                wrapped.paddingIntact())
                        << "type " << t << " " << w << "x" << h << " angle " << a << " mode " << mode;
                }
}

// Regression: kxRotateEx(image, 1e20, ...) gave a 1 x 1 image (every
// corner landed on one point).  Angles beyond 1e15 degrees leave the image.
TEST(RotateEx, AnglesTooLargeToMeanAnythingLeaveTheImage)
{
    const auto bytes = randomBytes(size_t(9) * 7, 3, 0, 255);
    for (const double a : {1e20, -1e16, std::nextafter(1e15, 2e15), std::nan(""), HUGE_VAL, 1e15})
        for (const bool e2 : {false, true}) {
            auto im = makeImage(KIT_GRAY, 9, 7, bytes);
            if (e2) kxRotateE2(im.get(), a, 0xFF808080u, 1, 0);
            else kxRotateEx(im.get(), a, 1, 0);
            const bool left = im->width == 9 && im->height == 7 && pixels(im.get()) == bytes;
            EXPECT_EQ(left, !(std::fabs(a) <= 1e15)) << a << (e2 ? " E2" : "");
        }
}

TEST(FiltersAndContributions, WeightsWidthsAndWindowsAgainstHandComputedValues)
{
    auto check = [](const CGenericFilter &f, float width, std::array<float, 4> x, std::array<float, 4> want) {
        EXPECT_EQ(f.getWidth(), width);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(f.weightAt(x[i]), want[i], 2e-7) << width << ", " << x[i];
    };
    check(CBoxFilter{}, 0.5f, {0.5f, -0.5f, 0.50001f, 0.0f}, {1.0f, 1.0f, 0.0f, 1.0f});  // both edges inside
    check(CGaussianFilter{}, 3.0f, {0.0f, 1.0f, -2.0f, 3.0001f}, {0.3989423f, 0.2419707f, 0.0539910f, 0.0f});
    check(CHammingFilter{}, 0.5f, {0.0f, 0.25f, 0.5f, 0.51f}, {1.0f, 0.4861708f, 0.0509296f, 0.0f});
    check(CBlackmanFilter{}, 0.5f, {0.0f, 0.25f, -0.5f, 0.6f}, {1.0f, 0.34f, 0.0f, 0.0f});
    // Contribution windows and weights (summing to 1, symmetric about a centre on a sample).
    struct Want { int entry, first, last; std::vector<float> weights; };
    const struct { ContributionTable *t; int window; std::vector<Want> entries; } cases[] = {
        {computeContributions<CBoxFilter>(8, 4, 2.0f), 3,  // half positions hit both neighbours; the last is cut
         {{1, 0, 1, {0.5f, 0.5f}}, {2, 0, 2, {0.0f, 1.0f, 0.0f}}, {7, 3, 3, {1.0f}}}},
        // Past ratio 2 the last sample has no source sample within 0.5: it takes the nearest whole.
        {computeContributions<CBoxFilter>(27, 10, 2.7f), 3, {{26, 9, 9, {1.0f}}}},
        {computeContributions<CBilinearFilter>(4, 8, 0.5f), 5, {{1, 0, 4, {0, 0.25f, 0.5f, 0.25f, 0}}}},  // width 2
        {computeContributions<CGaussianFilter>(25, 100, 0.25f), 25, {{10, 28, 52, {}}}}};  // width 12, centre 40
    for (const auto &c : cases) {
        ASSERT_TRUE(c.t && c.t->windowSize == c.window) << c.window;
        for (const Want &w : c.entries) {
            const ContributionEntry &e = c.t->entries[w.entry];
            EXPECT_EQ(std::tuple(e.first, e.last, std::vector<float>(e.weights, e.weights + w.weights.size())),
                      std::tuple(w.first, w.last, w.weights)) << w.entry;
            EXPECT_EQ(e.weights[0], e.weights[e.last - e.first]);
            EXPECT_NEAR(std::accumulate(e.weights, e.weights + e.last - e.first + 1, 0.0), 1.0, 1e-6);
        }
        releaseContributions(c.t);
    }
}

int termOf(const TermCode &c, int b)
{
    return c.kind == TermCode::kZero ? 0 : c.kind == TermCode::kCopy ? b : int((uint32_t(b) * c.mul) >> 16 >> c.shift);
}

// Integer forms give trunc(byte * weight) for every byte; the SSE2 and AVX2 lines sum them.
TEST(TermCodes, FormsAndIntegerLinesGiveTheFloatTerms)
{
    std::vector<float> weights = {0.0f, 1.0f, 0.5f, 0.25f, 0.125f, 0.75f, 1.0f / 3, 2.0f / 3, 0.2f, 0.1f, 1e-6f,
                                  0.00390625f, 0.0039062f, 0.99999994f, -1e-9f};
    for (float w : {1.0f / 3, 0.2f, 0.1f, 0.6f}) weights.insert(weights.end(), {nextafterf(w, 0), nextafterf(w, 1)});
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
        const auto block = randomBytes(n * taps, rng());
        std::vector<const uint8_t *> lines;
        std::vector<TermCode> codes;
        while (int(codes.size()) < taps)
            if (termCode(round % 5 == 0 ? 1.0f : d(rng) * 0.6f, 15, c) && c.kind != TermCode::kZero) codes.push_back(c);
        for (int k = 0; k < taps; ++k) lines.push_back(block.data() + n * size_t(k));
        std::vector<uint8_t> want(n);
        for (size_t j = 0; j < n; ++j)
            for (int k = 0; k < taps; ++k) want[j] = uint8_t(want[j] + termOf(codes[size_t(k)], lines[size_t(k)][j]));
        atEveryLevel([&](Level level) {
            std::vector<uint8_t> got(n, 1);
            integerLine(lines.data(), codes.data(), taps, got.data(), n, level >= Level::Avx2);
            ASSERT_EQ(got, want) << "taps " << taps << " bytes " << n;
        });
    }
}

// Halving, doubling, tall pictures (overlapping bands), random sizes; half the sources wrapped.
TEST(ScaleEx, FilteredMatchesTheDirectLoops)
{
    const std::array<int, 4> sizes[] = {  // then sides of 1, 7 and 33, one axis kept, odd ratios
        {64, 48, 32, 24}, {130, 40, 65, 20}, {37, 29, 74, 58}, {64, 7, 128, 14}, {96, 96, 24, 24}, {17, 200, 34, 100},
        {256, 8, 128, 16}, {150, 70, 301, 33}, {97, 140, 40, 200}, {67, 129, 67, 64}, {20, 300, 15, 37},
        {1, 1, 3, 2}, {7, 3, 1, 5}, {33, 5, 33, 17}, {5, 33, 9, 33}, {40, 2, 7, 1}, {3, 40, 40, 3}, {13, 11, 29, 23}};
    uint32_t seed = 300;
    for (size_t i = 0; i < std::size(sizes); i += kScale > 1 ? 3 : 1)
        for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA})
            for (int filter = 2; filter <= 6; ++filter) {
                const auto [sw, sh, dw, dh] = sizes[i];
                const auto bytes = randomBytes(size_t(sw) * sh * bpp(type), seed++);
                PaddedImage wrapped(type, sw, sh, bytes);
                auto owned = makeImage(type, sw, sh, bytes), dst = makeImage(KIT_GRAY, dw, dh);
                ASSERT_EQ(kxScaleEx(seed % 2 ? wrapped.get() : owned.get(), dst.get(), filter), 1);
                ASSERT_EQ(std::pair(dst->imageType, dst->pitch), std::pair(type, dw * bpp(type)));
                ASSERT_EQ(pixels(dst.get()), ref::scaleFiltered(filter, {sw, sh, bpp(type), bytes}, dw, dh).px)
                    << sw << "x" << sh << " -> " << dw << "x" << dh << " type " << type << " filter " << filter;
            }
}

// The resampler itself at `level`, with or without a progress callback (which takes the two whole passes), on
// padded rows; the padding must come back untouched.
template <class Filter>
std::vector<uint8_t> scaleAtLevel(Level level, bool callback, const ref::Pic &src, int dw, int dh)
{
    const int B = src.bpp, sp = src.w * B + 3, dp = dw * B + 7;
    std::vector<uint8_t> in(size_t(sp) * src.h, 0xA5), out(size_t(dp) * dh, 0x5A), got;
    for (int y = 0; y < src.h; ++y) std::copy_n(src.at(0, y), src.w * B, in.data() + size_t(y) * sp);
    C2PassScale<Filter> engine(B, callback ? +[](int) { return 1; } : nullptr);
    EXPECT_EQ(engine.scaleAt(level, in.data(), src.w, src.h, sp, out.data(), dw, dh, dp), out.data());
    for (int y = 0; y < dh; ++y) {
        got.insert(got.end(), out.begin() + ptrdiff_t(y) * dp, out.begin() + ptrdiff_t(y) * dp + dw * B);
        EXPECT_TRUE(std::all_of(out.begin() + ptrdiff_t(y) * dp + dw * B, out.begin() + ptrdiff_t(y + 1) * dp,
                                [](uint8_t b) { return b == 0x5A; })) << "padding of row " << y;
    }
    return got;
}

std::vector<uint8_t> scaleAtLevel(int filter, Level level, bool callback, const ref::Pic &src, int dw, int dh)
{
    auto run = [&](auto f) { return scaleAtLevel<decltype(f)>(level, callback, src, dw, dh); };
    return filter == 2 ? run(CBilinearFilter{}) : filter == 3 ? run(CBoxFilter{})
         : filter == 4 ? run(CGaussianFilter{}) : filter == 5 ? run(CHammingFilter{}) : run(CBlackmanFilter{});
}

// The ratios users pass, each route (floats; integer forms and the row program where the weights repeat on enough
// bytes; bands sharing rows), at every level, streamed and through the callback's two whole passes.
TEST(ScaleEx, EveryRouteAtEveryLevelMatchesTheDirectLoops)
{
    const std::array<int, 4> sizes[] = {
        {200, 90, 74, 33}, {300, 40, 31, 5}, {97, 120, 71, 88}, {50, 61, 55, 67}, {40, 30, 108, 81},  // 0.37 .. 2.7
        {31, 9, 121, 35}, {30, 700, 11, 259}, {19, 333, 23, 900},  // 3.9; tall pictures: many bands
        {1024, 256, 512, 128}, {256, 128, 512, 256}, {1200, 160, 900, 120}, {320, 90, 480, 135}};  // 0.5, 2, 0.75, 1.5
    uint32_t seed = 900;
    for (size_t i = 0; i < std::size(sizes); i += kScale > 1 ? 4 : 1)
        for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA})
            for (int filter = 2; filter <= 6; ++filter) {
                const auto [sw, sh, dw, dh] = sizes[i];
                const ref::Pic src{sw, sh, bpp(type), randomBytes(size_t(sw) * sh * bpp(type), seed++)};
                const auto want = ref::scaleFiltered(filter, src, dw, dh).px;
                atEveryLevel([&](Level level) {
                    for (bool callback : {false, true})
                        ASSERT_EQ(scaleAtLevel(filter, level, callback, src, dw, dh), want)
                            << sw << "x" << sh << " -> " << dw << "x" << dh << " type " << type << " filter "
                            << filter << " callback " << callback;
                });
            }
}

// Integer forms only where few different weights serve many bytes; the integer row program only on them (AVX2 and
// up), the float one elsewhere where 16 destination bytes read within 16 source bytes (AVX-512).
TEST(ScaleEx, PlansTakeIntegerFormsWhereTheWeightsRepeat)
{
    const struct { int count, src; double lineBytes; bool ints, program; } cases[] = {
        {512, 1024, 256, true, true}, {512, 256, 128, true, true}, {128, 256, 512, true, true},
        {74, 200, 90, false, false}, {108, 40, 30, false, false}, {5530, 2048, 2048, false, false},
        {758, 2048, 2048, false, false}, {1024, 2048, 2048, true, true}};
    for (const auto &c : cases) {
        ContributionTable *t = computeContributions<CBilinearFilter>(c.count, c.src, axisScale(c.count, c.src));
        LinePlan *plan = planLines(t, c.lineBytes);
        ASSERT_TRUE(plan);
        int ints = 0;
        for (int u = 0; u < plan->count; ++u) ints += plan->route[u] == LinePlan::kInts;
        EXPECT_EQ(plan->ints, c.ints) << c.src << " -> " << c.count;
        EXPECT_EQ(ints > 0, c.ints) << c.src << " -> " << c.count;
        RowProgram *program = buildRowProgram(plan, c.src, 1, kx::isa::active());
        EXPECT_EQ(rowProgramInts(program), c.program && kx::isa::active() >= Level::Avx2) << c.src << " -> " << c.count;
        const bool floats = !c.program && c.count >= c.src;  // the enlargements here
        EXPECT_EQ(program && !rowProgramInts(program), floats && kx::isa::active() >= Level::Avx512)
            << c.src << " -> " << c.count;
        releaseRowProgram(program);
        releaseLinePlan(plan);
        releaseContributions(t);
    }
}

// Index trunc(u / r + 0.5), r = float(dst / src); past the source the destination keeps its bytes.
// Regression: enlarged past ratio 2 by the box, Hamming or Blackman filter,
// a flat picture got a black last column and row (no sample had a weight).
TEST(ScaleEx, NarrowFiltersLeaveNoBlackEdge)
{
    for (int filter : {3, 5, 6})
        for (auto [w, h] : {std::pair{173, 211}, {27, 27}, {250, 201}}) {
            auto src = makeImage(KIT_GRAY, 100, 100, std::vector<uint8_t>(100 * 100, 100));
            auto dst = makeImage(KIT_GRAY, w, h);
            ASSERT_EQ(kxScaleEx(src.get(), dst.get(), filter), 1);
            const auto px = pixels(dst.get());
            // (truncated terms may darken a flat picture by a few levels, as documented)
            EXPECT_GT(*std::min_element(px.begin(), px.end()), 90) << filter << " " << w << "x" << h;
        }
}

TEST(ScaleEx, NearestNeighbourByHandAndForOtherCodes)
{
    const std::vector<uint8_t> ten = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::vector<uint8_t> doubled = {0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 77};
    const struct { int type, w, h; std::vector<uint8_t> in; int dw, dh, filter; std::vector<uint8_t> want; } cases[] = {
        {KIT_GRAY, 10, 1, ten, 20, 1, 0, doubled}, {KIT_GRAY, 10, 1, ten, 20, 1, 7, doubled},
        {KIT_GRAY, 2, 2, {1, 2, 3, 4}, 3, 3, -1, {1, 2, 2, 3, 4, 4, 3, 4, 4}},  // 1/1.5 + 0.5 and 2/1.5 + 0.5 give 1
        {KIT_BIN, 2, 2, {1, 0, 0, 1}, 3, 3, 2, {1, 0, 0, 0, 1, 1, 0, 1, 1}},  // KIT_BIN ignores the filter
        {KIT_RGB, 4, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 2, 1, 1, {1, 2, 3, 7, 8, 9}}};
    for (const auto &c : cases) {
        auto src = makeImage(c.type, c.w, c.h, c.in), dst = makeImage(c.type, c.dw, c.dh);
        kxiFlood(dst.get(), 77);
        ASSERT_EQ(kxScaleEx(src.get(), dst.get(), c.filter), 1);
        EXPECT_EQ(pixels(dst.get()), c.want) << c.w << "x" << c.h << " filter " << c.filter;
    }
}

// The in-place exports: new size and the filter's pixels (refused: unchanged).
TEST(Scale, InPlaceExportsGiveTheSizeAndTheFilteredPixels)
{
    auto scale = [](float f) { return [f](Image *im, int filter) { return kxScale(im, f, filter); }; };
    auto square = [](int x, int y, int shrink) {
        return [=](Image *im, int filter) { return kxMakeSquarePixel(im, x, y, filter, shrink); };
    };
    const struct { int w, h, filter; std::function<int(Image *, int)> call; int wantW, wantH, ret; } cases[] = {
        {10, 6, 2, scale(0.5f), 5, 3, 1}, {10, 6, 3, scale(0.01f), 2, 2, 1}, {10, 6, 2, scale(std::nanf("")), 10, 6, 0},
        {2000, 1, 2, scale(10.0f), 16384, 10, 1}, {3, 1, 4, scale(1.5f), 5, 2, 1},  // factor 1: a same-size pass
        {10, 10, 6, [](Image *im, int f) { return int(kxScaleE1(im, 1.5f, 0, f, 1) == im); }, 15, 15, 1},  // as kxScale
        {100, 100, 5, square(3, 2, 0), 100, 150, 1}, {100, 100, 5, square(3, 2, 1), 67, 100, 1},
        {100, 100, 5, square(2, 3, 0), 150, 100, 1}, {100, 100, 5, square(2, 3, 1), 100, 67, 1},
        {100, 100, 5, square(5, 5, 0), 100, 100, 0}, {100, 100, 5, square(1000, 999, 0), 100, 100, 0}};
    for (const auto &c : cases) {
        auto im = randomImage(KIT_GRAY, c.w, c.h, 2);
        const ref::Pic src = ref::picOf(im.get());
        const ref::Pic want = c.ret ? ref::scaleFiltered(c.filter, src, c.wantW, c.wantH) : src;
        EXPECT_EQ(c.call(im.get(), c.filter), c.ret) << &c - cases;
        EXPECT_TRUE(im->width == c.wantW && im->height == c.wantH && pixels(im.get()) == want.px) << &c - cases;
    }
    auto im = randomImage(KIT_GRAY, 10, 100, 2);
    const struct { int x, y, shrink; const char *text; } bad[] = {
        {0, 1, 0, "pixelSizeX > 0 && pixelSizeY > 0"}, {1000, 1, 0, "new_h <= "},  // new_h <= (8192 << 1)
        {1, INT_MAX, 0, "new_w <= "}, {1000, 1, 1, "new_w >0"}, {1, 1000, 1, "new_h >0"}};
    for (const auto &b : bad) EXPECT_KX_ASSERT(kxMakeSquarePixel(im.get(), b.x, b.y, 2, b.shrink), b.text);
    EXPECT_EQ(im->width, 10);
}

// 101 x 50 at 0.5 keeping the size: 51 x 25 at 25, 12 on the colour; a side of 0: only the colour.
TEST(ScaleE1, ReductionKeepingTheSize)
{
    auto im = randomImage(KIT_RGB, 101, 50, 4), tiny = randomImage(KIT_GRAY, 100, 100, 5);
    ref::Pic want = ref::filled(101, 50, {0x30, 0x20, 0x10});
    const ref::Pic small = ref::scaleFiltered(3, ref::picOf(im.get()), 51, 25);
    for (int y = 0; y < 25; ++y) std::copy_n(small.at(0, y), 51 * 3, want.at(25, y + 12));
    EXPECT_TRUE(kxScaleE1(im.get(), 0.5f, 0x00102030, 3, 1) == im.get() && pixels(im.get()) == want.px);
    kxScaleE1(tiny.get(), 0.001f, 42, 2, 1);
    EXPECT_EQ(pixels(tiny.get()), std::vector<uint8_t>(10000, 42));
}

}  // namespace
