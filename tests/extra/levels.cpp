// Selector levels: each level is the one the kxpre binarizer it names
// uses on the same image, on histograms of many shapes.
#include <algorithm>
#include <functional>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;

namespace {

// Histograms uniform, bimodal, narrow, one value, two values, with empty
// ranges; a single pixel; a coarse one-row image.
std::vector<ImagePtr> greyImages()
{
    std::vector<ImagePtr> out;
    std::mt19937 rng(11);
    auto fill = [&](int w, int h, auto value) {
        ImagePtr im(kxCreateImage(KIT_GRAY, w, h));
        for (int i = 0; i < w * h; ++i) im->data[i] = uint8_t(std::clamp(value(), 0, 255));
        out.push_back(std::move(im));
    };
    std::normal_distribution<double> dark(60, 15), light(190, 25), narrow(128, 2);
    fill(64, 48, [&] { return int(rng() % 256); });
    fill(80, 60, [&] { return int(rng() % 3 ? light(rng) : dark(rng)); });
    fill(33, 21, [&] { return int(narrow(rng)); });
    fill(10, 10, [&] { return 77; });
    fill(9, 7, [&] { return rng() % 2 ? 0 : 255; });
    fill(50, 50, [&] { return int(rng() % 40) + (rng() % 2 ? 200 : 0); });
    fill(1, 1, [&] { return 3; });
    fill(120, 1, [&] { return int(rng() % 256) / 16 * 16; });
    return out;
}

// The binarizer run on a copy sets exactly the pixels >= max(level, 1)
// (or > level).
void expectBinarizedAt(const Image *src, const std::function<void(Image *)> &binarizer, int level, bool above)
{
    ImagePtr copy(kxiClone(src, nullptr));
    binarizer(copy.get());
    ASSERT_EQ(copy->imageType, KIT_BIN);
    for (int i = 0; i < src->width * src->height; ++i) {
        const int p = src->data[i];
        ASSERT_EQ(copy->data[i], above ? p > level : p >= std::max(level, 1)) << "pixel " << p << " level " << level;
    }
}

}  // namespace

TEST(ExtraLevels, EachSelectorIsTheLevelItsBinarizerUses)
{
    const auto images = greyImages();
    for (size_t k = 0; k < images.size(); ++k) {
        SCOPED_TRACE(k);
        const Image *im = images[k].get();
        std::vector<int32_t> hist(256, 0);
        for (int i = 0; i < im->width * im->height; ++i) ++hist[im->data[i]];
        for (int s = KXX_OTSU; s <= KXX_MODE; ++s) EXPECT_EQ(kxxLevel(im, nullptr, s), kxxHistogramLevel(hist.data(), s));
        expectBinarizedAt(im, [](Image *c) { kxbOtsu(c, nullptr); }, kxxLevel(im, nullptr, KXX_OTSU), false);
        expectBinarizedAt(im, [](Image *c) { kxbMinError(c, 0); }, kxxLevel(im, nullptr, KXX_MIN_ERROR), false);
        expectBinarizedAt(im, [](Image *c) { kxbMinError(c, 1); }, kxxLevel(im, nullptr, KXX_MIN_ERROR_POISSON), false);
        expectBinarizedAt(im, [](Image *c) { kxbMaxEntropy(c); }, kxxLevel(im, nullptr, KXX_MAX_ENTROPY), false);
        EXPECT_EQ(kxxLevel(im, nullptr, KXX_MODE), kxbGetOptima(im, 3));
        for (const auto &[it, window] : {std::pair{-1, 0}, std::pair{0, 1}, std::pair{3, 4}, std::pair{100, 9}})
            expectBinarizedAt(im, [&](Image *c) { kxbIsoData(c, it, window); }, kxxIsoDataLevel(im, it, window), true);
    }
    // Two well separated classes: Otsu's level lies between them.
    std::mt19937 rng(3);
    std::normal_distribution<double> a(70, 10), b(170, 10);
    ImagePtr im(kxCreateImage(KIT_GRAY, 100, 100));
    for (int i = 0; i < 10000; ++i) im->data[i] = uint8_t(std::clamp(int(i % 2 ? a(rng) : b(rng)), 0, 255));
    const int t = kxxLevel(im.get(), nullptr, KXX_OTSU);
    EXPECT_GT(t, 95);
    EXPECT_LT(t, 145);
}

TEST(ExtraLevels, MaskedLevelsCountTheCommonRectangleWhereTheMaskIsSet)
{
    const auto images = greyImages();
    const Image *im = images[1].get();  // 80 x 60, bimodal
    auto mask = kxtest::randomImage(KIT_GRAY, 50, 70, 9);
    for (int i = 0; i < 50 * 70; ++i) mask->data[i] = mask->data[i] > 100 ? 1 : 0;
    std::vector<int32_t> hist(256, 0);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 50; ++x)
            if (mask->data[y * 50 + x]) ++hist[im->data[y * 80 + x]];
    kxtest::PaddedImage wrapped(KIT_GRAY, 80, 60, kxtest::pixels(im), 3);
    kxtest::PaddedImage wrappedMask(KIT_GRAY, 50, 70, kxtest::pixels(mask.get()), 6);
    auto none = kxtest::makeImage(KIT_BIN, 80, 60);
    const int empty[] = {0, 255, 255, 255, 0};
    for (int s = KXX_OTSU; s <= KXX_MODE; ++s) {
        SCOPED_TRACE(s);
        EXPECT_EQ(kxxLevel(im, mask.get(), s), kxxHistogramLevel(hist.data(), s));
        if (s != KXX_OTSU) {
            EXPECT_EQ(kxxLevel(im, mask.get(), s), kxbGetOptimaE1(im, mask.get(), s - 1));
        }
        EXPECT_EQ(kxxLevel(wrapped.get(), wrappedMask.get(), s), kxxLevel(im, mask.get(), s));
        EXPECT_EQ(kxxLevel(im, none.get(), s), empty[s]);  // nothing selected
    }
    expectBinarizedAt(im, [&](Image *c) { kxbOtsu(c, mask.get()); }, kxxLevel(im, mask.get(), KXX_OTSU), false);
}

TEST(ExtraLevels, MultiLevelThresholdsPosterizeAsKxbMultiLevel)
{
    const auto images = greyImages();
    for (size_t k = 0; k < images.size(); ++k)
        for (int levels : {2, 3, 4}) {
            SCOPED_TRACE(testing::Message() << k << " levels " << levels);
            const Image *im = images[k].get();
            std::vector<int> b(size_t(levels - 1), -1);
            ASSERT_EQ(kxxMultiLevels(im, levels, b.data()), levels - 1);
            EXPECT_TRUE(std::is_sorted(b.begin(), b.end()));
            ImagePtr copy(kxiClone(im, nullptr));
            kxbMultiLevel(copy.get(), levels);
            for (int i = 0; i < im->width * im->height; ++i) {
                const auto c = std::lower_bound(b.begin(), b.end(), im->data[i]) - b.begin();  // first b >= p
                ASSERT_EQ(copy->data[i], c == 0 ? 0 : c == levels - 1 ? 255 : b[size_t(c - 1)]) << int(im->data[i]);
            }
        }
}
