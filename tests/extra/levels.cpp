// Selector levels: each level is the one the kxpre binarizer it names uses
// on the same image, on histograms of many shapes.
#include <algorithm>
#include <functional>
#include <tuple>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;

TEST(ExtraLevels, EachSelectorIsTheLevelItsBinarizerUses)
{
    // Histograms bimodal, of one value, of two values, with empty ranges; a
    // single pixel; coarse steps.
    std::mt19937 rng(11);
    std::normal_distribution<double> dark(60, 15), light(190, 25);
    const std::vector<std::tuple<int, int, std::function<int()>>> images = {
        {80, 60, [&] { return int(rng() % 3 ? light(rng) : dark(rng)); }}, {10, 10, [&] { return 77; }},
        {9, 7, [&] { return rng() % 2 ? 0 : 255; }}, {50, 50, [&] { return int(rng() % 40) + (rng() % 2 ? 200 : 0); }},
        {1, 1, [&] { return 3; }}, {120, 1, [&] { return int(rng() % 256) / 16 * 16; }},
    };
    for (const auto &[w, h, value] : images) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        ImagePtr im(kxCreateImage(KIT_GRAY, w, h));
        std::vector<int32_t> hist(256, 0);
        for (int i = 0; i < w * h; ++i) ++hist[im->data[i] = uint8_t(std::clamp(value(), 0, 255))];
        const Image *g = im.get();
        for (int s = KXX_OTSU; s <= KXX_MODE; ++s) EXPECT_EQ(kxxLevel(g, nullptr, s), kxxHistogramLevel(hist.data(), s));
        for (int s = KXX_MIN_ERROR; s <= KXX_MODE; ++s) EXPECT_EQ(kxxLevel(g, nullptr, s), kxbGetOptima(g, s - 1));
        // kxbOtsu sets the pixels >= max(level, 1), kxbIsoData those > its level.
        ImagePtr otsu(kxiClone(g, nullptr)), iso(kxiClone(g, nullptr));
        const int t = kxxLevel(g, nullptr, KXX_OTSU), u = kxxIsoDataLevel(g, 3, 4);
        kxbOtsu(otsu.get(), nullptr), kxbIsoData(iso.get(), 3, 4);
        for (int i = 0; i < w * h; ++i) ASSERT_EQ(otsu->data[i], g->data[i] >= std::max(t, 1)) << t;
        for (int i = 0; i < w * h; ++i) ASSERT_EQ(iso->data[i], g->data[i] > u) << u;
        std::vector<int> b(3, -1);  // kxbMultiLevel posterizes at the thresholds
        ASSERT_EQ(kxxMultiLevels(g, 4, b.data()), 3);
        ImagePtr multi(kxiClone(g, nullptr));
        kxbMultiLevel(multi.get(), 4);
        for (int i = 0; i < w * h; ++i) {  // c: the first threshold >= the pixel
            const auto c = std::lower_bound(b.begin(), b.end(), g->data[i]) - b.begin();
            ASSERT_EQ(multi->data[i], c == 0 ? 0 : c == 3 ? 255 : b[size_t(c - 1)]);
        }
    }
}

TEST(ExtraLevels, MasksCountTheCommonRectangleWhereSetAndTwoClassesGiveTheLowerTop)
{
    auto im = kxtest::randomImage(KIT_GRAY, 80, 60, 4);
    auto mask = kxtest::randomImage(KIT_GRAY, 50, 70, 9);  // narrower and taller, padded rows
    for (int i = 0; i < 50 * 70; ++i) mask->data[i] = mask->data[i] > 100;
    std::vector<int32_t> hist(256, 0);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 50; ++x) hist[im->data[y * 80 + x]] += mask->data[y * 50 + x];
    kxtest::PaddedImage wrappedMask(KIT_GRAY, 50, 70, kxtest::pixels(mask.get()), 6);
    auto none = kxtest::makeImage(KIT_BIN, 80, 60);
    const int empty[] = {0, 255, 255, 255, 0};
    for (int s = KXX_OTSU; s <= KXX_MODE; ++s) {
        EXPECT_EQ(kxxLevel(im.get(), wrappedMask.get(), s), kxxHistogramLevel(hist.data(), s)) << s;
        EXPECT_EQ(kxxLevel(im.get(), none.get(), s), empty[s]) << s;  // nothing selected
    }
    // Two classes, 70..90 and 152..170: the level is the lower class's top,
    // and kxbOtsu makes pixels equal to it foreground (as documented).
    for (int i = 0; i < 80 * 60; ++i) im->data[i] = uint8_t(i % 2 ? 70 + i % 21 : 170 - i % 19);
    EXPECT_EQ(kxxLevel(im.get(), nullptr, KXX_OTSU), 90);
}
