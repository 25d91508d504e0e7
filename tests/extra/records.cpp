// Every export refuses records that do not describe addressable pixels,
// without touching memory or its outputs.
#include <climits>
#include <cmath>
#include <functional>

#include "kxextra.h"
#include "kxtest.hpp"

namespace {

struct Broken {
    const char *name;
    std::function<void(Image &)> breakIt;
};

const Broken kBroken[] = {
    {"null data", [](Image &im) { im.data = nullptr; }},
    {"width 0", [](Image &im) { im.width = 0; }},
    {"negative height", [](Image &im) { im.height = -3; }},
    {"pitch below width", [](Image &im) { im.pitch = im.width - 1; }},
    {"pitch * height of 2^31", [](Image &im) { im.pitch = INT32_MAX / 2 + 1, im.height = 2; }},
    {"type of three channels", [](Image &im) { im.type = 16; }},
    {"imageType 99", [](Image &im) { im.imageType = 99; }},
};

}  // namespace

TEST(ExtraRecords, BrokenRecordsAreRefusedByEveryExport)
{
    for (int kit : {KIT_BIN, KIT_GRAY})
        for (const auto &b : kBroken) {
            SCOPED_TRACE(testing::Message() << b.name << " on type " << kit);
            auto owner = kxtest::randomImage(kit, 6, 5, 1);
            Image im = *owner;
            b.breakIt(im);
            const auto before = kxtest::pixels(owner.get());
            std::vector<int32_t> labels(30, -9);
            std::vector<double> levels(30, -9);
            std::vector<int16_t> gx(30, -9);
            int points[8] = {-9, -9, -9, -9, -9, -9, -9, -9}, thresholds[4] = {-9, -9, -9, -9};
            double angle = -9, confidence = -9;

            EXPECT_EQ(kxxLabel(&im, 8, labels.data()), -1);
            EXPECT_EQ(kxxDespeckle(&im, 8, 3), &im);
            EXPECT_EQ(kxxKeepLargest(&im, 4, 1), &im);
            EXPECT_EQ(kxxStrokePoints(&im, 7, points, 4), -1);
            EXPECT_EQ(kxxMarkStrokePoints(&im), &im);
            EXPECT_EQ(kxxLevel(&im, nullptr, KXX_OTSU), -1);
            EXPECT_EQ(kxxIsoDataLevel(&im, 10, 1), -1);
            EXPECT_EQ(kxxMultiLevels(&im, 3, thresholds), -1);
            EXPECT_EQ(kxxLocalLevels(&im, KXX_SAUVOLA, 5, 0.3, 128, levels.data()), 0);
            EXPECT_EQ(kxxLocalThreshold(&im, KXX_NIBLACK, 5, 0.2, 0), &im);
            EXPECT_EQ(kxxFindSkew(&im, &angle, &confidence), 0);
            EXPECT_EQ(kxxDeskew(&im, 0, 1, &angle), &im);
            EXPECT_EQ(kxxGradient(&im, KXX_SOBEL, KXX_L1, gx.data(), nullptr, nullptr, nullptr, nullptr), 0);
            EXPECT_EQ(kxxClahe(&im, 2, 2, 2.0), &im);

            EXPECT_EQ(im.imageType, b.name == std::string("imageType 99") ? 99 : kit);
            EXPECT_EQ(kxtest::pixels(owner.get()), before);
            EXPECT_EQ(labels, std::vector<int32_t>(30, -9));
            EXPECT_EQ(levels, std::vector<double>(30, -9));
            EXPECT_EQ(gx, std::vector<int16_t>(30, -9));
            EXPECT_EQ(points[0], -9);
            EXPECT_EQ(thresholds[0], -9);
            EXPECT_EQ(angle, -9);
        }
}
