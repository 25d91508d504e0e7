// Page skew: generated pages of text turned by known angles, with noise.
#include <cmath>
#include <string>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;

namespace {

// A white page of random words drawn by the library in `height`-pixel
// lines, some short, turned clockwise by `angle` degrees (a skew of
// +angle), binarized with dark ink set, `noise` per mille of pixels flipped.
ImagePtr skewedPage(int w, int h, int height, double angle, int noise, uint32_t seed)
{
    static const char *const words[] = {"the", "image", "library", "page", "skew", "angle", "of", "lines",
                                        "projection", "profile", "text", "document", "Quality", "a", "with"};
    std::mt19937 rng(seed);
    std::string text;
    for (int l = 0; l < h * 8 / 10 / (height * 3 / 2); ++l) {
        std::string line;
        while (line.size() < size_t(w * 8 / 10 / (height / 2 + 1))) line += std::string(words[rng() % 15]) + " ";
        text += line.substr(0, rng() % 7 ? line.size() : line.size() / 2) + "\n";
    }
    ImagePtr page(kxCreateImage(KIT_RGB, w, h));
    kxiFlood(page.get(), 255);
    kxFillText(page.get(), text.c_str(), w / 10, h / 10, height, 0xFF000000u);
    kxRotateE2(kxiCast(page.get(), KIT_GRAY), -angle, 0xFFFFFFFFu, 0, 1);
    kxbSimple(page.get(), 128, 1);
    for (size_t i = 0, n = size_t(w) * h; i < n * size_t(noise) / 1000; ++i) page->data[rng() % n] ^= 1;
    return page;
}

}  // namespace

TEST(ExtraSkew, GeneratedPagesWithinFiveHundredthsOfADegreeAndDeskewLevelsThem)
{
    const std::pair<double, int> cases[] = {{0.0, 0}, {0.3, 10}, {-0.7, 0}, {1.234, 10}, {-6.66, 10}, {9.1, 0}, {-12.0, 10}, {14.5, 0}};
    uint32_t seed = 10;
    for (const auto &[angle, noise] : cases) {
        SCOPED_TRACE(testing::Message() << "angle " << angle << " noise " << noise << " per mille");
        auto page = skewedPage(1240, 1754, 22, angle, noise, seed++);
        double found = 99, confidence = -1, turned = 99;
        ASSERT_EQ(kxxFindSkew(page.get(), &found, &confidence), 1);
        EXPECT_NEAR(found, angle, 0.05);
        EXPECT_GT(confidence, 0.7);
        EXPECT_EQ(kxxDeskew(page.get(), 0.3, 1, &turned), page.get());  // turned by the angle found: level
        EXPECT_EQ(turned, found);
        EXPECT_EQ(std::tuple(kxxFindSkew(page.get(), &found, &confidence), page->imageType, page->width, page->height),
                  std::tuple(1, KIT_BIN, 1240, 1754));
        EXPECT_NEAR(found, 0.0, 0.05);
    }
}

TEST(ExtraSkew, BlankAndNoisePagesGiveNoConfidenceAndTinyPagesAnAnswer)
{
    double a = 99, c = 99;
    ASSERT_EQ(kxxFindSkew(kxtest::makeImage(KIT_BIN, 50, 40).get(), &a, &c), 1);
    EXPECT_EQ(std::pair(a, c), std::pair(0.0, 0.0));
    auto noise = kxtest::randomImage(KIT_BIN, 400, 300, 4);
    ASSERT_EQ(kxxFindSkew(noise.get(), &a, &c), 1);
    EXPECT_LT(c, 0.5);  // the best of 121 noisy scores stands out a little
    EXPECT_LE(std::abs(a), 15.0);
    for (const auto &[w, h] : {std::pair{1, 1}, std::pair{1, 50}, std::pair{50, 1}})
        EXPECT_EQ(kxxFindSkew(kxtest::randomImage(KIT_BIN, w, h, 5).get(), &a, &c), 1);
}
