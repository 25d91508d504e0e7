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

ref::Element randomElement(std::mt19937 &rng)
{
    ref::Element e{1 + int(rng() % 5), 1 + int(rng() % 4), 0, 0, {}};
    e.ax = int(rng() % unsigned(e.w));
    e.ay = int(rng() % unsigned(e.h));
    e.on.resize(size_t(e.w) * e.h);
    for (auto &b : e.on) b = rng() % 3 != 0;
    return e;
}

TEST(Morphology, MatchesReferenceOnRandomImagesAndElements)
{
    std::mt19937 rng(42);
    for (int iter = 0; iter < 240; ++iter) {
        const int type = iter % 2 ? KIT_GRAY : KIT_BIN;
        const int w = 1 + int(rng() % 13), h = 1 + int(rng() % 11);
        const bool erode = iter % 4 < 2;
        ref::Element e = randomElement(rng);
        if (iter % 25 == 0) std::fill(e.on.begin(), e.on.end(), 0);  // element with no position
        if (iter % 3 == 0) std::fill(e.on.begin(), e.on.end(), 1);   // full rectangle: two-step path
        ref::Grid g{w, h, kxtest::randomBytes(size_t(w) * h, rng(), 0, type == KIT_BIN ? 1 : 255)};
        MaskPtr m = makeMask(e);
        PaddedImage im(type, w, h, g.px);
        Image *r = erode ? kxErode(im.get(), m.get()) : kxDilate(im.get(), m.get());
        EXPECT_EQ(r, im.get());
        ref::morph(g, e, erode);
        ASSERT_EQ(grid(im.get()).px, g.px) << "iteration " << iter;
        EXPECT_TRUE(im.paddingIntact());
        // The caller's element is intact and still usable.
        EXPECT_EQ(m->anchorX, e.ax);
        EXPECT_EQ(m->data[0], e.on[0]);
    }
}

TEST(Morphology, DefaultElementIsTheFull3x3)
{
    const ref::Grid in = noise(17, 12, 600, 5);
    for (bool erode : {true, false}) {
        auto im = image(in, KIT_GRAY);
        erode ? kxErode(im.get(), nullptr) : kxDilate(im.get(), nullptr);
        ref::Grid expect = in;
        ref::morph(expect, ref::Element{3, 3, 1, 1, ref::Bytes(9, 1)}, erode);
        EXPECT_EQ(grid(im.get()).px, expect.px);
    }
}

TEST(Morphology, WorkedCases)
{
    // A 1x1 element anchored on itself changes nothing.
    const ref::Grid grey{5, 4, kxtest::randomBytes(20, 9)};
    auto im = image(grey, KIT_GRAY);
    kxErode(im.get(), makeMask(ref::Element{1, 1, 0, 0, {1}}).get());
    EXPECT_EQ(grid(im.get()).px, grey.px);

    // The default erosion of an all-set image keeps the frame: outside
    // reads 255.
    auto full = image(ref::Grid{6, 5, ref::Bytes(30, 1)});
    kxErode(full.get(), nullptr);
    EXPECT_EQ(grid(full.get()).px, ref::Bytes(30, 1));

    // A single pixel dilated by a full 3x3 element becomes a 3x3 block.
    auto dot = image(draw({".....", ".....", "..#..", ".....", "....."}));
    kxDilate(dot.get(), makeMask(ref::Element{3, 3, 1, 1, ref::Bytes(9, 1)}).get());
    EXPECT_EQ(grid(dot.get()).px, draw({".....", ".###.", ".###.", ".###.", "....."}).px);

    // An element with no position: erosion gives 255 everywhere, also in a
    // binary image.
    auto bin = image(noise(4, 3, 500, 2));
    kxErode(bin.get(), makeMask(ref::Element{2, 2, 0, 0, ref::Bytes(4, 0)}).get());
    EXPECT_EQ(grid(bin.get()).px, ref::Bytes(12, 255));
}

TEST(Morphology, RefusedInputsLeaveTheImage)
{
    EXPECT_EQ(kxErode(nullptr, nullptr), nullptr);
    EXPECT_EQ(kxDilate(nullptr, nullptr), nullptr);
    const ref::Grid in = noise(6, 5, 500, 4);
    auto rgb = kxtest::makeImage(KIT_RGB, 6, 5, std::vector<uint8_t>(90, 77));
    const auto rgbBefore = kxtest::pixels(rgb.get());
    EXPECT_EQ(kxDilate(rgb.get(), nullptr), rgb.get());
    EXPECT_EQ(kxtest::pixels(rgb.get()), rgbBefore);
    // An anchor outside its element, or an element without data.
    MaskPtr m = makeMask(ref::Element{3, 3, 1, 1, ref::Bytes(9, 1)});
    for (auto bad : {std::pair{3, 1}, std::pair{1, -1}, std::pair{-1, 0}}) {
        m->anchorX = bad.first;
        m->anchorY = bad.second;
        auto im = image(in);
        EXPECT_EQ(kxErode(im.get(), m.get()), im.get());
        EXPECT_EQ(grid(im.get()).px, in.px);
    }
    m->anchorX = m->anchorY = 1;
    uint8_t *data = m->data;
    m->data = nullptr;
    auto im = image(in);
    kxDilate(im.get(), m.get());
    EXPECT_EQ(grid(im.get()).px, in.px);
    m->data = data;
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

TEST(DilateE1, HugeRadiusCoversTheImage)
{
    ref::Grid g = draw({"......", "......", "...#..", "......", "......"});
    ref::Grid expect = g;
    ref::dilateE1(expect, 40);
    EXPECT_EQ(expect.px, ref::Bytes(30, 1));
    for (int radius : {40, 1000, INT32_MAX}) {
        auto im = image(g);
        kxDilateE1(im.get(), radius);
        EXPECT_EQ(grid(im.get()).px, expect.px) << radius;
    }
}

TEST(DilateE1, OutlineOnlyAndRefusals)
{
    // A filled rectangle grows by the (full 3x3) disc of radius 1.
    ref::Grid rect = draw({"........", "........", "...##...", "...##...", "...##...", "........", "........"});
    auto im = image(rect);
    kxDilateE1(im.get(), 1);
    EXPECT_EQ(grid(im.get()).px,
              draw({"........", "..####..", "..####..", "..####..", "..####..", "..####..", "........"}).px);
    EXPECT_EQ(kxDilateE1(nullptr, 3), nullptr);
    for (int radius : {0, -2}) {
        auto same = image(rect);
        EXPECT_EQ(kxDilateE1(same.get(), radius), same.get());
        EXPECT_EQ(grid(same.get()).px, rect.px);
    }
    auto gray = image(rect, KIT_GRAY);
    kxDilateE1(gray.get(), 2);
    EXPECT_EQ(grid(gray.get()).px, rect.px);
}

}  // namespace
