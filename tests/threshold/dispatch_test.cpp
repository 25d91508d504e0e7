// The dispatcher: each method code reaches its operation with the argument
// conversions, other codes and types do nothing.
#include <functional>

#include "kxtest.hpp"

using namespace kxtest;

namespace {

struct Case {
    const char *name;
    int method, p1, p2;
    double param;
    std::function<Image *(Image *)> direct;
};

class Dispatch : public testing::TestWithParam<Case> {};

TEST_P(Dispatch, EqualsTheDirectCall)
{
    const Case &c = GetParam();
    const auto in = randomBytes(17 * 9, 12, 0, 255);
    ImagePtr viaDispatch = makeImage(KIT_GRAY, 17, 9, in), direct = makeImage(KIT_GRAY, 17, 9, in);
    EXPECT_EQ(kxThreshold(viaDispatch.get(), c.method, c.p1, c.p2, c.param), viaDispatch.get());
    c.direct(direct.get());
    EXPECT_EQ(pixels(viaDispatch.get()), pixels(direct.get()));
    EXPECT_EQ(viaDispatch->imageType, direct->imageType);
}

INSTANTIATE_TEST_SUITE_P(
    Threshold, Dispatch,
    testing::Values(
        Case{"Simple", 0, 100, 0, 0.0, [](Image *i) { return kxbSimple(i, 100, 0); }},
        Case{"SimpleLowByte", 0, 300, 0, 0.0, [](Image *i) { return kxbSimple(i, 44, 0); }},
        Case{"Dark", 1, 80, 0, 0.0, [](Image *i) { return kxbDark(i, 80, 1, 1); }},
        Case{"Light", 2, 80 + 512, 0, 0.0, [](Image *i) { return kxbLight(i, 80, 1, 1); }},
        Case{"Inner", 3, 50, 150, 0.0, [](Image *i) { return kxbInner(i, 50, 150, 1, 1); }},
        Case{"Outer", 4, 50, 150 + 256, 0.0, [](Image *i) { return kxbOuter(i, 50, 150, 1, 1); }},
        Case{"LocalIntegral", 16, 7, 128 + 256, 0.25, [](Image *i) { return kxbLocalIntegral(i, 7, 128, 0.25f); }},
        Case{"MultiLevel", 17, 4, 0, 0.0, [](Image *i) { return kxbMultiLevel(i, 4); }},
        Case{"MaxEntropy", 18, 0, 0, 0.0, [](Image *i) { return kxbMaxEntropy(i); }},
        Case{"IsoData", 19, 20, 5, 0.0, [](Image *i) { return kxbIsoData(i, 20, 5); }},
        Case{"MinError", 20, 1, 0, 0.0, [](Image *i) { return kxbMinError(i, 1); }},
        Case{"Otsu", 21, 0, 0, 0.0, [](Image *i) { return kxbOtsu(i, nullptr); }},
        Case{"Unassigned5", 5, 10, 10, 0.0, [](Image *i) { return i; }},
        Case{"Unassigned15", 15, 10, 10, 0.0, [](Image *i) { return i; }},
        Case{"Unassigned22", 22, 10, 10, 0.0, [](Image *i) { return i; }},
        Case{"Negative", -1, 10, 10, 0.0, [](Image *i) { return i; }}),
    [](const testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

TEST(Threshold, DispatchWorkedValues)
{
    // 300 & 255 = 44.
    ImagePtr im = makeImage(KIT_GRAY, 4, 1, {43, 44, 45, 255});
    kxThreshold(im.get(), 0, 300, 0, 0.0);
    EXPECT_EQ(pixels(im.get()), (std::vector<uint8_t>{0, 1, 1, 1}));
    EXPECT_EQ(im->imageType, KIT_BIN);
    // Four classes stay grey.
    ImagePtr grey = randomImage(KIT_GRAY, 9, 9, 1);
    kxThreshold(grey.get(), 17, 4, 0, 0.0);
    EXPECT_EQ(grey->imageType, KIT_GRAY);
    // Method 5 selects nothing.
    ImagePtr five = randomImage(KIT_GRAY, 9, 9, 1);
    const auto before = pixels(five.get());
    EXPECT_EQ(kxThreshold(five.get(), 5, 1, 1, 0.0), five.get());
    EXPECT_EQ(pixels(five.get()), before);
    EXPECT_EQ(five->imageType, KIT_GRAY);
}

TEST(Threshold, DispatchLeavesOtherTypesAlone)
{
    EXPECT_EQ(kxThreshold(nullptr, 0, 10, 0, 0.0), nullptr);
    for (int type : {KIT_BIN, KIT_RGB, KIT_RGBA})
        for (int method : {0, 1, 2, 3, 4, 16, 17, 18, 19, 20, 21}) {
            ImagePtr im = randomImage(type, 5, 4, 2);
            const auto before = pixels(im.get());
            EXPECT_EQ(kxThreshold(im.get(), method, 3, 200, 0.5), im.get());
            EXPECT_EQ(pixels(im.get()), before);
            EXPECT_EQ(im->imageType, type);
        }
}

}  // namespace
