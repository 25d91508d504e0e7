// kxErode, kxDilate and kxDilateE1: the row-step paths against the pixel by
// pixel version, worked cases and invariants.
#include "binary_util.hpp"

using namespace bintest;
using kxtest::PaddedImage;

namespace {

struct MaskDeleter {
    void operator()(Mask *m) const { kxDestroyMask(m); }
};
using MaskPtr = std::unique_ptr<Mask, MaskDeleter>;

// A library mask with these bytes and anchor.
MaskPtr makeMask(int w, int h, int ax, int ay, const Bytes &on)
{
    MaskPtr m(kxCreateMask(KXM_RECT, w, h));
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) m->data[j * m->pitch + i] = on[size_t(j) * w + i];
    m->anchorX = ax, m->anchorY = ay;
    return m;
}

// Every route: the default element (null: the centred full 3 x 3, row by
// row on saved rows), a caller's centred 3 x 3, full rectangles (two steps),
// any other element (one row loop per set position) and an element with no
// set position; widths around the vector lengths, padded rows, both types.
TEST(Morphology, EveryRouteMatchesThePixelByPixelVersion)
{
    std::mt19937 rng(42);
    for (int iter = 0; iter < 600; ++iter) {
        SCOPED_TRACE(iter);
        const int type = iter % 3 ? KIT_BIN : KIT_GRAY, route = iter % 5;
        const int w = iter < 200 ? 1 + iter % 100 : 1 + int(rng() % 300), h = 1 + int(rng() % (iter % 7 ? 11 : 70));
        int ew = 3, eh = 3, ax = 1, ay = 1;
        if (route >= 2) ew = 1 + int(rng() % 5), eh = 1 + int(rng() % 4), ax = int(rng() % unsigned(ew)), ay = int(rng() % unsigned(eh));
        Bytes on(size_t(ew) * eh, 1);
        if (route >= 3)
            for (auto &b : on) b = rng() % 3 != 0;
        if (route == 4 && iter % 25 == 4) std::fill(on.begin(), on.end(), 0);
        Grid g = noise(w, h, int(rng() % 1001), uint32_t(iter));
        if (type == KIT_GRAY)
            for (auto &b : g.px) b = uint8_t(b ? 128 + rng() % 128 : rng() % 128);
        MaskPtr m = makeMask(ew, eh, ax, ay, on);
        PaddedImage im(type, w, h, g.px, int(iter % 4) * 3);
        const bool erode = iter % 2;
        EXPECT_EQ(erode ? kxErode(im.get(), route ? m.get() : nullptr) : kxDilate(im.get(), route ? m.get() : nullptr), im.get());
        morph(g, ew, eh, ax, ay, on, erode);
        ASSERT_EQ(grid(im.get()).px, g.px) << w << "x" << h << (erode ? " erode" : " dilate");
        EXPECT_TRUE(im.paddingIntact());
        EXPECT_EQ(m->anchorX, ax);  // the caller's element is intact
    }
}

TEST(Morphology, WorkedCasesAndBadElements)
{
    const Bytes full(9, 1);
    // Eroding a solid rectangle by the 3 x 3 and dilating it back gives it
    // again; a pixel dilates into a 3 x 3 block; outside reads 255 when eroding.
    const Grid rect = draw("....... .#####. .#####. .#####. .#####. .......");
    auto im = image(rect);
    kxErode(im.get(), nullptr);
    EXPECT_EQ(grid(im.get()).px, draw("....... ....... ..###.. ..###.. ....... .......").px);
    kxDilate(im.get(), makeMask(3, 3, 1, 1, full).get());
    EXPECT_EQ(grid(im.get()).px, rect.px);
    auto all = image(Grid{6, 5, Bytes(30, 1)});
    kxErode(all.get(), nullptr);
    EXPECT_EQ(grid(all.get()).px, Bytes(30, 1));
    // An element with no position: erosion gives 255 everywhere, also in a binary image.
    auto bin = image(noise(4, 3, 500, 2));
    kxErode(bin.get(), makeMask(2, 2, 0, 0, Bytes(4, 0)).get());
    EXPECT_EQ(grid(bin.get()).px, Bytes(12, 255));
    // An anchor outside its element, or an element without data: the image stays.
    const Grid in = noise(6, 5, 500, 4);
    MaskPtr m = makeMask(3, 3, 1, 1, full);
    for (auto [ax, ay, noData] : {std::tuple{3, 1, false}, {1, -1, false}, {-1, 0, false}, {1, 1, true}}) {
        m->anchorX = ax, m->anchorY = ay;
        uint8_t *data = m->data;
        if (noData) m->data = nullptr;
        auto im2 = image(in);
        EXPECT_EQ(kxErode(im2.get(), m.get()), im2.get());
        kxDilate(im2.get(), m.get());
        EXPECT_EQ(grid(im2.get()).px, in.px);
        m->data = data;
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
        MaskPtr disc(kxCreateMask(KXM_ELLIPSE, 2 * radius + 1, 2 * radius + 1));
        kxDilate(expected.get(), disc.get());
        ASSERT_EQ(grid(im.get()).px, grid(expected.get()).px) << "seed " << seed;
        EXPECT_TRUE(im.paddingIntact());
    }
    // The disc of radius 2; radius 1 is the full 3 x 3; radii below 1 change
    // nothing; huge radii cover the image; a byte other than 1 neither
    // stamps nor counts as set.
    const Grid dot = draw("......... ......... ......... ......... ....#.... ......... ......... ......... .........");
    const Grid rect = draw("........ ........ ...##... ...##... ...##... ........ ........");
    const struct {
        const Grid &in;
        int radius;
        Bytes out;
    } cases[] = {
        {dot, 2, draw("......... ......... ...###... ..#####.. ..#####.. ..#####.. ...###... ......... .........").px},
        {rect, 1, draw("........ ..####.. ..####.. ..####.. ..####.. ..####.. ........").px},
        {rect, 0, rect.px},
        {rect, -2, rect.px},
        {rect, 40, Bytes(56, 1)},
        {rect, INT32_MAX, Bytes(56, 1)},
        {draw("..... ..... ..F.. ..... ....."), 1, draw("..... ..... ..F.. ..... .....").px},
    };
    for (const auto &c : cases) {
        auto im = image(c.in);
        EXPECT_EQ(kxDilateE1(im.get(), c.radius), im.get());
        EXPECT_EQ(grid(im.get()).px, c.out) << c.radius;
    }
}

}  // namespace
