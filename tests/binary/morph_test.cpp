// kxErode, kxDilate and kxDilateE1 against the straightforward versions,
// plus the worked cases.
#include "binary_util.hpp"

using namespace bintest;
using kxtest::PaddedImage;

namespace {

struct MaskDeleter {
    void operator()(Mask *m) const { kxDestroyMask(m); }
};
using MaskPtr = std::unique_ptr<Mask, MaskDeleter>;

// A library mask with the element's bytes and anchor.
MaskPtr makeMask(const ref::Element &e)
{
    MaskPtr m(kxCreateMask(KXM_RECT, e.w, e.h));
    for (int j = 0; j < e.h; ++j)
        for (int i = 0; i < e.w; ++i) m->data[j * m->pitch + i] = e.on[size_t(j) * e.w + i];
    m->anchorX = e.ax;
    m->anchorY = e.ay;
    return m;
}

const ref::Element kFull3x3{3, 3, 1, 1, ref::Bytes(9, 1)};

TEST(Morphology, MatchesReferenceOnRandomImagesAndElements)
{
    std::mt19937 rng(42);
    for (int iter = 0; iter < 240; ++iter) {
        SCOPED_TRACE(iter);
        const int type = iter % 2 ? KIT_GRAY : KIT_BIN;
        const int w = 1 + int(rng() % 13), h = 1 + int(rng() % 11);
        const bool erode = iter % 4 < 2;
        ref::Element e{1 + int(rng() % 5), 1 + int(rng() % 4), 0, 0, {}};
        e.ax = int(rng() % unsigned(e.w));
        e.ay = int(rng() % unsigned(e.h));
        e.on.resize(size_t(e.w) * e.h);
        for (auto &b : e.on) b = rng() % 3 != 0;
        if (iter % 25 == 0) std::fill(e.on.begin(), e.on.end(), 0);  // element with no position
        if (iter % 3 == 0) std::fill(e.on.begin(), e.on.end(), 1);   // full rectangle: two-step path
        const bool byDefault = iter % 10 == 7;                        // null: the full 3x3
        if (byDefault) e = kFull3x3;
        ref::Grid g{w, h, kxtest::randomBytes(size_t(w) * h, rng(), 0, type == KIT_BIN ? 1 : 255)};
        MaskPtr m = makeMask(e);
        const Mask *mp = byDefault ? nullptr : m.get();
        PaddedImage im(type, w, h, g.px);
        EXPECT_EQ(erode ? kxErode(im.get(), mp) : kxDilate(im.get(), mp), im.get());
        ref::morph(g, e, erode);
        ASSERT_EQ(grid(im.get()).px, g.px);
        EXPECT_TRUE(im.paddingIntact());
        // The caller's element is intact and still usable.
        EXPECT_EQ(m->anchorX, e.ax);
        EXPECT_EQ(m->data[0], e.on[0]);
    }
}

// The centred full 3 x 3 element (the default, or a caller's) runs row by
// row on saved rows: every width around the vector lengths, single rows
// and columns, padded rows, both image types.
TEST(Morphology, Centred3x3MatchesReferenceAtEverySize)
{
    const ref::Element offCentre{3, 3, 0, 2, ref::Bytes(9, 1)};
    MaskPtr caller = makeMask(kFull3x3), shifted = makeMask(offCentre);
    std::mt19937 rng(7);
    for (int iter = 0; iter < 600; ++iter) {
        SCOPED_TRACE(iter);
        const int type = iter % 3 ? KIT_BIN : KIT_GRAY;
        const int w = iter < 300 ? 1 + iter % 100 : 1 + int(rng() % 300), h = 1 + int(rng() % (iter % 7 ? 9 : 70));
        const bool erode = iter % 2;
        const int perMille = int(rng() % 1001);
        ref::Grid g = noise(w, h, perMille, uint32_t(iter));
        if (type == KIT_GRAY)
            for (auto &b : g.px) b = uint8_t(b ? 128 + rng() % 128 : rng() % 128);
        const int which = iter % 5;  // 0..2 default, 3 caller's centred, 4 off centre (general path)
        const Mask *mp = which < 3 ? nullptr : which == 3 ? caller.get() : shifted.get();
        PaddedImage im(type, w, h, g.px, int(iter % 4) * 3);
        EXPECT_EQ(erode ? kxErode(im.get(), mp) : kxDilate(im.get(), mp), im.get());
        ref::morph(g, which == 4 ? offCentre : kFull3x3, erode);
        ASSERT_EQ(grid(im.get()).px, g.px) << w << "x" << h << (erode ? " erode" : " dilate");
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(Morphology, WorkedCases)
{
    // The default erosion of an all-set image keeps the frame: outside reads 255.
    auto full = image(ref::Grid{6, 5, ref::Bytes(30, 1)});
    kxErode(full.get(), nullptr);
    EXPECT_EQ(grid(full.get()).px, ref::Bytes(30, 1));
    // A single pixel dilated by a full 3x3 element becomes a 3x3 block.
    auto dot = image(draw("..... ..... ..#.. ..... ....."));
    kxDilate(dot.get(), makeMask(kFull3x3).get());
    EXPECT_EQ(grid(dot.get()).px, draw("..... .###. .###. .###. .....").px);
    // An element with no position: erosion gives 255 everywhere, also in a binary image.
    auto bin = image(noise(4, 3, 500, 2));
    kxErode(bin.get(), makeMask(ref::Element{2, 2, 0, 0, ref::Bytes(4, 0)}).get());
    EXPECT_EQ(grid(bin.get()).px, ref::Bytes(12, 255));
}

TEST(Morphology, BadElementsLeaveTheImage)
{
    // An anchor outside its element, or an element without data.
    const ref::Grid in = noise(6, 5, 500, 4);
    MaskPtr m = makeMask(kFull3x3);
    for (auto [ax, ay, noData] : {std::tuple{3, 1, false}, {1, -1, false}, {-1, 0, false}, {1, 1, true}}) {
        m->anchorX = ax;
        m->anchorY = ay;
        uint8_t *data = m->data;
        if (noData) m->data = nullptr;
        auto im = image(in);
        EXPECT_EQ(kxErode(im.get(), m.get()), im.get());
        kxDilate(im.get(), m.get());
        EXPECT_EQ(grid(im.get()).px, in.px);
        m->data = data;
    }
}

TEST(DilateE1, MatchesReferenceOnRandomImages)
{
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        const int w = 1 + int(seed * 7 % 19), h = 1 + int(seed * 5 % 15), radius = 1 + int(seed % 4);
        ref::Grid g = noise(w, h, seed % 3 == 0 ? 50 : 400, seed);
        if (seed % 5 == 0) g.px[g.px.size() / 2] = 255;  // bytes other than 1 neither stamp nor count
        PaddedImage im(KIT_BIN, w, h, g.px);
        EXPECT_EQ(kxDilateE1(im.get(), radius), im.get());
        ref::dilateE1(g, radius);
        ASSERT_EQ(grid(im.get()).px, g.px) << "seed " << seed;
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(DilateE1, WorkedRadii)
{
    // A filled rectangle grows by the (full 3x3) disc of radius 1; radii
    // below 1 change nothing; a huge radius covers the image.
    const ref::Grid rect = draw("........ ........ ...##... ...##... ...##... ........ ........");
    const ref::Bytes grown =
        draw("........ ..####.. ..####.. ..####.. ..####.. ..####.. ........").px;
    const std::pair<int, ref::Bytes> cases[] = {{1, grown}, {0, rect.px}, {-2, rect.px}, {40, ref::Bytes(56, 1)},
                                                {1000, ref::Bytes(56, 1)}, {INT32_MAX, ref::Bytes(56, 1)}};
    for (const auto &[radius, out] : cases) {
        auto im = image(rect);
        EXPECT_EQ(kxDilateE1(im.get(), radius), im.get());
        EXPECT_EQ(grid(im.get()).px, out) << radius;
    }
}

}  // namespace
