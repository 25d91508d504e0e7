// Selector levels: each level against what the kxpre binarizer it names does
// with the same image, on histograms of many shapes.
#include <algorithm>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;
using kxtest::PaddedImage;

namespace {

// Grey images whose histograms are uniform, bimodal, narrow, uniform in
// value, two-valued, and with empty ranges.
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

ImagePtr copyOf(const Image *im) { return ImagePtr(kxiClone(im, nullptr)); }

// kxpre's binarizer run on a copy agrees with pixels >= max(level, 1).
void expectBinarizedAt(const Image *src, const std::function<void(Image *)> &binarizer, int level, bool strictlyAbove)
{
    auto copy = copyOf(src);
    binarizer(copy.get());
    ASSERT_EQ(copy->imageType, KIT_BIN);
    const int t = std::max(level, 1);
    for (int i = 0; i < src->width * src->height; ++i) {
        const int p = src->data[i];
        ASSERT_EQ(copy->data[i], strictlyAbove ? p > level : p >= t) << "pixel " << p << " level " << level;
    }
}

std::vector<int32_t> histogramOf(const Image *im)
{
    std::vector<int32_t> h(256, 0);
    for (int i = 0; i < im->width * im->height; ++i) ++h[im->data[i]];
    return h;
}

}  // namespace

TEST(ExtraLevels, EachSelectorIsTheLevelItsBinarizerUses)
{
    const auto images = greyImages();
    for (size_t k = 0; k < images.size(); ++k) {
        SCOPED_TRACE(k);
        const Image *im = images[k].get();
        const auto hist = histogramOf(im);
        for (int s = KXX_OTSU; s <= KXX_MODE; ++s) EXPECT_EQ(kxxLevel(im, nullptr, s), kxxHistogramLevel(hist.data(), s));

        expectBinarizedAt(im, [](Image *c) { kxbOtsu(c, nullptr); }, kxxLevel(im, nullptr, KXX_OTSU), false);
        expectBinarizedAt(im, [](Image *c) { kxbMinError(c, 0); }, kxxLevel(im, nullptr, KXX_MIN_ERROR), false);
        expectBinarizedAt(im, [](Image *c) { kxbMinError(c, 1); }, kxxLevel(im, nullptr, KXX_MIN_ERROR_POISSON),
                          false);
        expectBinarizedAt(im, [](Image *c) { kxbMaxEntropy(c); }, kxxLevel(im, nullptr, KXX_MAX_ENTROPY), false);
        EXPECT_EQ(kxxLevel(im, nullptr, KXX_MODE), kxbGetOptima(im, 3));
        EXPECT_EQ(kxxLevel(im, nullptr, KXX_MIN_ERROR), kxbGetOptima(im, 0));
        EXPECT_EQ(kxxLevel(im, nullptr, KXX_MAX_ENTROPY), kxbGetOptima(im, 2));
        for (int it : {-1, 0, 3, 100})
            for (int window : {0, 1, 4, 9}) {
                SCOPED_TRACE(testing::Message() << "isodata " << it << " " << window);
                expectBinarizedAt(im, [&](Image *c) { kxbIsoData(c, it, window); }, kxxIsoDataLevel(im, it, window),
                                  true);
            }
    }
}

TEST(ExtraLevels, OtsuLevelSitsWhereTheBinarizedOutputChanges)
{
    // A level strictly inside the occupied range must split the pixels
    // (independent of kxbOtsu's raise of 0 to 1).
    std::mt19937 rng(3);
    std::normal_distribution<double> a(70, 10), b(170, 10);
    ImagePtr im(kxCreateImage(KIT_GRAY, 100, 100));
    for (int i = 0; i < 10000; ++i) im->data[i] = uint8_t(std::clamp(int(i % 2 ? a(rng) : b(rng)), 0, 255));
    const int t = kxxLevel(im.get(), nullptr, KXX_OTSU);
    EXPECT_GT(t, 95);
    EXPECT_LT(t, 145);
}

TEST(ExtraLevels, MaskedLevelsFollowTheMaskRule)
{
    const auto images = greyImages();
    const Image *im = images[1].get();  // 80 x 60, bimodal
    // A smaller mask: only the common rectangle counts, where non-zero.
    auto mask = kxtest::randomImage(KIT_GRAY, 50, 70, 9);
    for (int i = 0; i < 50 * 70; ++i) mask->data[i] = mask->data[i] > 100 ? 1 : 0;
    for (int s : {KXX_MIN_ERROR, KXX_MIN_ERROR_POISSON, KXX_MAX_ENTROPY, KXX_MODE})
        EXPECT_EQ(kxxLevel(im, mask.get(), s), kxbGetOptimaE1(im, mask.get(), s - 1));
    expectBinarizedAt(im, [&](Image *c) { kxbOtsu(c, mask.get()); }, kxxLevel(im, mask.get(), KXX_OTSU), false);

    // The same counts through a histogram.
    std::vector<int32_t> hist(256, 0);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 50; ++x)
            if (mask->data[y * 50 + x]) ++hist[im->data[y * 80 + x]];
    for (int s = KXX_OTSU; s <= KXX_MODE; ++s) EXPECT_EQ(kxxLevel(im, mask.get(), s), kxxHistogramLevel(hist.data(), s));

    // A mask selecting nothing: the empty-histogram levels.
    auto none = kxtest::makeImage(KIT_BIN, 80, 60);
    const int empty[] = {0, 255, 255, 255, 0};
    for (int s = KXX_OTSU; s <= KXX_MODE; ++s) EXPECT_EQ(kxxLevel(im, none.get(), s), empty[s]) << s;

    // A wrapped image and mask give the same levels.
    PaddedImage wrapped(KIT_GRAY, 80, 60, kxtest::pixels(im), 3);
    PaddedImage wrappedMask(KIT_GRAY, 50, 70, kxtest::pixels(mask.get()), 6);
    for (int s = KXX_OTSU; s <= KXX_MODE; ++s)
        EXPECT_EQ(kxxLevel(wrapped.get(), wrappedMask.get(), s), kxxLevel(im, mask.get(), s));
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
            auto copy = copyOf(im);
            kxbMultiLevel(copy.get(), levels);
            for (int i = 0; i < im->width * im->height; ++i) {
                const int p = im->data[i];
                const auto c = std::lower_bound(b.begin(), b.end(), p) - b.begin();  // first b >= p
                const int want = c == 0 ? 0 : c == levels - 1 ? 255 : b[size_t(c - 1)];
                ASSERT_EQ(copy->data[i], want) << "pixel " << p;
            }
        }
}

TEST(ExtraLevels, RefusedInputs)
{
    auto bin = kxtest::randomImage(KIT_BIN, 8, 8, 1);
    auto grey = kxtest::randomImage(KIT_GRAY, 8, 8, 1);
    Image noData = *grey;
    noData.data = nullptr;
    int b[3] = {-9, -9, -9};
    EXPECT_EQ(kxxLevel(bin.get(), nullptr, KXX_OTSU), -1);
    EXPECT_EQ(kxxLevel(grey.get(), nullptr, 5), -1);
    EXPECT_EQ(kxxLevel(grey.get(), nullptr, -1), -1);
    EXPECT_EQ(kxxLevel(grey.get(), &noData, KXX_OTSU), -1);
    EXPECT_EQ(kxxLevel(&noData, nullptr, KXX_OTSU), -1);
    EXPECT_EQ(kxxIsoDataLevel(bin.get(), 10, 1), -1);
    EXPECT_EQ(kxxMultiLevels(grey.get(), 1, b), -1);
    EXPECT_EQ(kxxMultiLevels(grey.get(), 257, b), -1);
    EXPECT_EQ(kxxMultiLevels(bin.get(), 3, b), -1);
    EXPECT_EQ(b[0], -9);
    std::vector<int32_t> hist(256, 1);
    hist[17] = -1;
    EXPECT_EQ(kxxHistogramLevel(hist.data(), KXX_OTSU), -1);
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxLevel(nullptr, nullptr, 0), -1), "image");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxMultiLevels(grey.get(), 3, nullptr), -1), "image && thresholds");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxHistogramLevel(nullptr, 0), -1), "histogram");
}
