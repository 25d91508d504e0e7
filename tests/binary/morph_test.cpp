// Erosion, dilation, thinning, skeletons, distances, kxErodeE1 and
// kxEclose: every route against the plain version, drawn cases, the size
// query of kxDistTrans, the mask weights; the family's refusals.
#include <utility>

#include "binary_util.hpp"

using namespace bintest;

namespace {

struct MaskDeleter { void operator()(Mask *m) const { kxDestroyMask(m); } };
using MaskPtr = std::unique_ptr<Mask, MaskDeleter>;

// A library mask with these bytes and anchor.
MaskPtr makeMask(int w, int h, int ax, int ay, const Bytes &on)
{
    MaskPtr m(kxCreateMask(KXM_RECT, w, h));
    for (int j = 0; j < h; ++j) std::copy_n(&on[size_t(j) * w], w, m->data + j * m->pitch);
    m->anchorX = ax;
    m->anchorY = ay;
    return m;
}

// The routes: the default element (null: the centred full 3 x 3, row by
// row on saved rows), a caller's centred 3 x 3, full rectangles (two
// steps), other elements (a row loop per set position), an element with no
// set position; widths around the vector lengths, padded rows, both types.
TEST(Morphology, EveryRouteMatchesThePixelByPixelVersion)
{
    std::mt19937 rng(42);
    for (int iter = 0; iter < 600; ++iter) {
        SCOPED_TRACE(iter);
        const int type = iter % 3 ? KIT_BIN : KIT_GRAY, route = iter % 5, erode = iter % 2;
        const int w = iter < 200 ? 1 + iter % 100 : 1 + int(rng() % 300), h = 1 + int(rng() % (iter % 7 ? 11 : 70));
        const bool any = route >= 2;  // an element of any size and anchor
        const int ew = any ? 1 + int(rng() % 5) : 3, eh = any ? 1 + int(rng() % 4) : 3;
        const int ax = any ? int(rng() % unsigned(ew)) : 1, ay = any ? int(rng() % unsigned(eh)) : 1;
        Bytes on(size_t(ew) * eh, 1);
        for (auto &b : on) b = route < 3 || (route == 4 && iter % 25 == 4) ? route < 3 : rng() % 3 != 0;
        Grid g = noise(w, h, int(rng() % 1001), uint32_t(iter));
        for (auto &b : g.px) b = type == KIT_GRAY ? uint8_t(b ? 128 + rng() % 128 : rng() % 128) : b;
        MaskPtr m = makeMask(ew, eh, ax, ay, on);
        PaddedImage im(type, w, h, g.px, int(iter % 4) * 3);
        EXPECT_EQ(erode ? kxErode(im.get(), route ? m.get() : nullptr) : kxDilate(im.get(), route ? m.get() : nullptr),
                  im.get());
        morph(g, ew, eh, ax, ay, on, erode);
        ASSERT_EQ(grid(im.get()).px, g.px) << w << "x" << h << (erode ? " erode" : " dilate");
        EXPECT_TRUE(im.paddingIntact() && m->anchorX == ax);  // the caller's element is intact
    }
}

// Full rectangles go across each row and then down the columns, small ones
// by shifted reads over a ring of rows, larger ones in blocks of the
// element's height: sides from 1 to past the image (cut to what can reach
// it), every anchor, images one block high to many blocks with a short
// last one, widths around the vector lengths, padded rows.
TEST(Morphology, FullRectanglesMatchThePixelByPixelVersion)
{
    std::mt19937 rng(7);
    const int widths[] = {1, 2, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 190};
    for (int iter = 0; iter < 240; ++iter) {
        SCOPED_TRACE(iter);
        const int w = widths[iter % 15], h = 1 + int(rng() % (iter % 4 ? 30 : 90)), erode = iter % 2;
        const int ew = 1 + int(rng() % (iter % 6 ? 24 : 2 * w + 3)), eh = 1 + int(rng() % (iter % 5 ? 12 : 2 * h + 3));
        const int ax = int(rng() % unsigned(ew)), ay = iter % 7 ? int(rng() % unsigned(eh)) : eh - 1;
        const Bytes on(size_t(ew) * eh, 1);
        Grid g{w, h, kxtest::randomBytes(size_t(w) * h, uint32_t(iter) + 300, 0, 255)};
        MaskPtr m = makeMask(ew, eh, ax, ay, on);
        PaddedImage im(KIT_GRAY, w, h, g.px, int(iter % 3) * 5);
        EXPECT_EQ(erode ? kxErode(im.get(), m.get()) : kxDilate(im.get(), m.get()), im.get());
        morph(g, ew, eh, ax, ay, on, erode);
        ASSERT_EQ(grid(im.get()).px, g.px) << w << "x" << h << " by " << ew << "x" << eh << " at " << ax << "," << ay
                                           << (erode ? " erode" : " dilate");
        EXPECT_TRUE(im.paddingIntact());
    }
}

// Other elements with long runs along their rows go by windows of powers
// of two over a ring of rows: the library's ellipses and crosses, rows of
// random runs (several a row, rows left empty), elements wider and taller
// than the image, every anchor.
TEST(Morphology, ElementsOfLongRunsMatchThePixelByPixelVersion)
{
    std::mt19937 rng(11);
    const int widths[] = {1, 3, 16, 31, 33, 64, 65, 129, 150};
    for (int iter = 0; iter < 180; ++iter) {
        SCOPED_TRACE(iter);
        const int w = widths[iter % 9], h = 1 + int(rng() % (iter % 4 ? 25 : 70)), erode = iter % 2, kind = iter % 3;
        const int ew = 1 + int(rng() % (iter % 5 ? 21 : 2 * w + 3)), eh = 1 + int(rng() % (iter % 7 ? 12 : 2 * h + 3));
        MaskPtr m(kxCreateMask(kind == 0 ? KXM_ELLIPSE : KXM_CROSS, ew, eh));
        if (kind == 2)  // runs of 3 to 9 set positions with gaps of 1 to 3
            for (int j = 0; j < eh; ++j) {
                uint8_t *r = m->data + j * m->pitch;
                std::fill_n(r, ew, 0);
                for (int i = int(rng() % 3); j % 5 != 4 && i < ew; i += 1 + int(rng() % 3))
                    for (int n = 3 + int(rng() % 7); n > 0 && i < ew; --n) r[i++] = 1;
            }
        m->anchorX = int(rng() % unsigned(ew));
        m->anchorY = int(rng() % unsigned(eh));
        Bytes on(size_t(ew) * eh);
        for (int j = 0; j < eh; ++j) std::copy_n(m->data + j * m->pitch, ew, &on[size_t(j) * ew]);
        Grid g{w, h, kxtest::randomBytes(size_t(w) * h, uint32_t(iter) + 700, 0, 255)};
        PaddedImage im(KIT_GRAY, w, h, g.px, int(iter % 3) * 5);
        EXPECT_EQ(erode ? kxErode(im.get(), m.get()) : kxDilate(im.get(), m.get()), im.get());
        morph(g, ew, eh, m->anchorX, m->anchorY, on, erode);
        ASSERT_EQ(grid(im.get()).px, g.px) << w << "x" << h << " by " << ew << "x" << eh << " kind " << kind;
        EXPECT_TRUE(im.paddingIntact());
    }
}

// kxDilateE1 stamps the disc from outline pixels only; on 0/1 images that is
// the dilation by the same disc (kxCreateMask's ellipse) from every pixel.
TEST(DilateE1, EqualsDilationByTheDisc)
{
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        const int w = 1 + int(seed * 7 % 19), h = 1 + int(seed * 5 % 15), radius = 1 + int(seed % 4);
        const Grid g = noise(w, h, seed % 3 == 0 ? 50 : 400, seed);
        PaddedImage im(KIT_BIN, w, h, g.px);
        EXPECT_EQ(kxDilateE1(im.get(), radius), im.get());
        auto expected = image(g);
        kxDilate(expected.get(), MaskPtr(kxCreateMask(KXM_ELLIPSE, 2 * radius + 1, 2 * radius + 1)).get());
        ASSERT_EQ(grid(im.get()).px, grid(expected.get()).px) << "seed " << seed;
    }
    // The disc of radius 2; radii below 1 change nothing; huge radii cover
    // the image; a byte other than 1 neither stamps nor counts as set.
    const char *rect = "...... ...... ..##.. ..##.. ...... ......";
    for (auto [in, radius, out] : {std::tuple{"....... ....... ....... ...#... ....... ....... .......", 2,
                                              "....... ..###.. .#####. .#####. .#####. ..###.. ......."},
                                   {rect, -2, rect}, {rect, INT32_MAX, "###### ###### ###### ###### ###### ######"},
                                   {"..... ..... ..F.. ..... .....", 1, "..... ..... ..F.. ..... ....."}}) {
        auto im = image(draw(in));
        EXPECT_EQ(kxDilateE1(im.get(), radius), im.get());
        EXPECT_EQ(grid(im.get()).px, draw(out).px) << radius;
    }
}

// The result of kxSkeleton with `method` (1 thins) on a padded copy of `in`.
Grid after(const Grid &in, int method)
{
    PaddedImage im(KIT_BIN, in.w, in.h, in.px);
    EXPECT_TRUE(kxSkeleton(im.get(), method) == im.get() && im.paddingIntact());
    return grid(im.get());
}

// Method 0 marks the local maxima of the level map (levels 1, 2, 3 from a
// block's edge inward: maxima on the diagonals and at the four corners just
// outside the block); methods other than 0 and 1 leave the image.
TEST(Skeleton, LevelMaximaAndOtherMethods)
{
    for (auto [method, in, out] :
         {std::tuple{0, "......... ......... ..#####.. ..#####.. ..#####.. ..#####.. ..#####.. ......... .........",
                     "......... .#.....#. ..#...#.. ...#.#... ....#.... ...#.#... ..#...#.. .#.....#. ........."},
          {0, "..... ..... ..... .....", "..... .###. .###. ....."},
          {0, "#### ####", ".... ...."}, {0, "# # #", ". . ."}, {2, "#.#. .##. ###.", "#.#. .##. ###."}})
        EXPECT_EQ(after(draw(in), method).px, draw(out).px) << in;
}

// The library thins 64 pixels at a time on bit planes: rows shorter than a
// word and just past word boundaries.  The result is a fixed point.
TEST(Skeleton, ThinningMatchesRasterPassesAndIsIdempotent)
{
    const int widths[] = {1, 2, 3, 5, 8, 17, 31, 62, 63, 64, 65, 66, 100, 127, 128, 129, 130, 191, 192, 193};
    const int density[] = {30, 300, 550, 800, 970, 990};
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        const bool big = seed % 40 == 0;
        const int w = big ? 257 : seed % 2 ? widths[seed / 2 % 20] : 1 + int(seed * 7 % 150);
        const int h = big ? 131 : 1 + int(seed * 13 % 43);
        Grid in = noise(w, h, density[seed % 6], seed);  // dense noise is thick: many passes
        for (size_t k = seed % 4 ? in.px.size() : 0; k < in.px.size(); k += 7)
            in.px[k] = uint8_t(k % 2 ? 255 : 2 + k % 9);
        Grid expected = in;
        thin(expected);
        PaddedImage padded(KIT_BIN, w, h, in.px, int(seed % 9));
        kxThinning(padded.get());
        ASSERT_EQ(grid(padded.get()).px, expected.px);
        EXPECT_TRUE(padded.paddingIntact());
        EXPECT_TRUE(seed % 10 || after(expected, 1).px == expected.px);
    }
}

TEST(DistTrans, SizeQueryAndCapacity)
{
    auto im = image(noise(10, 8, 500, 1)), gray = image(noise(4, 4, 500, 1), KIT_GRAY);
    std::vector<int32_t> d(80, -7);
    EXPECT_TRUE(kxDistTrans(im.get(), nullptr, 0) == 80 && kxDistTrans(im.get(), d.data(), 79) == 0);  // too small
    EXPECT_EQ(d, std::vector<int32_t>(80, -7));
    EXPECT_EQ(kxDistTrans(im.get(), d.data(), UINT32_MAX), 80);
    EXPECT_EQ(kxDistTrans(gray.get(), nullptr, 0) + kxDistTrans(nullptr, d.data(), 80), 0);
}

// The passes run eight entries at a time where the processor allows: widths
// around the block length, sparse unset pixels (runs carried across blocks)
// and dense ones, every pixel set (all distances 0).  kxErodeE1 clears the
// set pixels nearer than the radius.
TEST(DistTrans, TwoPassesEqualBruteForce)
{
    std::mt19937 rng(5);
    const int perMille[] = {1000, 999, 990, 900, 500, 100};
    for (int iter = 0; iter < 300; ++iter) {
        SCOPED_TRACE(iter);
        const int w = iter < 100 ? 1 + iter % 50 : 1 + int(rng() % (iter % 5 ? 200 : 40)),
                  h = 1 + int(rng() % (iter % 5 ? 12 : 60));
        Grid g = noise(w, h, perMille[iter % 6], uint32_t(iter) + 1000);
        if (iter % 12 == 0) g.at(int(rng() % unsigned(w)), int(rng() % unsigned(h))) = 0;  // one unset pixel
        const auto expected = distances(g);
        PaddedImage im(KIT_BIN, w, h, g.px, int(iter % 3) * 4);
        std::vector<int32_t> d(size_t(w) * h + 1, -1);
        ASSERT_EQ(kxDistTrans(im.get(), d.data(), uint32_t(d.size())), w * h);
        EXPECT_EQ(d.back(), -1);  // nothing past width * height entries
        d.pop_back();
        ASSERT_EQ(d, expected) << w << "x" << h;
        const int radius = iter % 5 - 1;
        EXPECT_EQ(kxErodeE1(im.get(), radius), im.get());
        for (size_t i = 0; i < g.px.size(); ++i)
            if (g.px[i] && expected[i] < radius) g.px[i] = 0;
        ASSERT_EQ(grid(im.get()).px, g.px) << "radius " << radius;
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(Eclose, WeightsTheMaskByTheCubeOfItsSmoothedValue)
{
    // Radius 1 (also 0) smooths nothing: the cube rule on the bytes
    // themselves.  Regression: a window the smoothing refuses (5000) used to
    // leave the mask unchanged; the unsmoothed copy is weighted instead.
    for (int radius : {1, 0, 5000}) {
        PaddedImage m(KIT_GRAY, 4, 2, {128, 200, 254, 1, 255, 0, 64, 2});
        kxEclose(m.get(), radius);
        EXPECT_EQ(grid(m.get()).px, (Bytes{32, 123, 252, 0, 255, 0, 4, 0})) << radius;
    }
    // A binary mask stays KIT_BIN with weights 0..255: full deep inside, 0
    // outside, on the edge [1 2 1] / 4 across gives about 191, which cubes to 107.
    Grid g = draw("............ ..#########. ..#########. ..#########. ..#########. ..#########. ..#########. "
                  "..#########. ............");
    PaddedImage m(KIT_BIN, g.w, g.h, g.px), one(KIT_BIN, 3, 1, {1, 0, 1});
    kxEclose(m.get(), 3);
    kxEclose(one.get(), 5000);
    const Grid w = grid(m.get());
    EXPECT_TRUE(m.get()->imageType == KIT_BIN && m.paddingIntact());
    EXPECT_TRUE(w.at(6, 4) == 255 && w.at(1, 4) == 0 && w.at(2, 4) > 100 && w.at(2, 4) < 110) << int(w.at(2, 4));
    EXPECT_EQ(grid(one.get()).px, (Bytes{255, 0, 255}));
}

// kxErode, then kxDilate, with the full 3 x 3 element anchored at (ax, ay),
// without its data if `noData`; null unless both return the image.
Image *withBadElement(Image *i, int ax, int ay, bool noData)
{
    MaskPtr m = makeMask(3, 3, ax, ay, Bytes(9, 1));
    uint8_t *data = std::exchange(m->data, noData ? nullptr : m->data);
    Image *r = kxErode(i, m.get()) == i ? kxDilate(i, m.get()) : nullptr;
    m->data = data;
    return r;
}

// The element checks (an anchor off the element, no data), and the value
// kxRetrieveEdge passes back for a type it does not take: the image comes
// back as it was.  (Every export's other kinds: the manifest's claims test.)
TEST(Binary, OtherTypesBadElementsAndNullComeBackUnchanged)
{
    const std::pair<int, Image *(*)(Image *)> cases[] = {
        {KIT_GRAY, [](Image *i) { return kxRetrieveEdge(i, 0, 5) == 5 ? i : nullptr; }},
        {KIT_BIN, [](Image *i) { return withBadElement(i, 3, 1, false); }},
        {KIT_BIN, [](Image *i) { return withBadElement(i, 1, -1, false); }},
        {KIT_BIN, [](Image *i) { return withBadElement(i, -1, 0, false); }},
        {KIT_BIN, [](Image *i) { return withBadElement(i, 1, 1, true); }},
    };
    for (const auto &[type, op] : cases) {
        ImagePtr im = kxtest::randomImage(type, 8, 6, 7);
        const auto before = kxtest::pixels(im.get());
        EXPECT_EQ(op(im.get()), im.get());
        EXPECT_TRUE(kxtest::pixels(im.get()) == before && im->imageType == type) << type;
    }
    EXPECT_KX_ASSERT(kxRemoveBorder(nullptr), "image");
    EXPECT_EQ(kxErode(nullptr, nullptr), nullptr);
}

}  // namespace
