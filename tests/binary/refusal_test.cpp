// Every export of the family on an image type it does not take: the image
// comes back with its type and pixels.  A null image asserts or gives null.
#include "binary_util.hpp"

namespace {

TEST(Binary, OtherTypesAndNullComeBackUnchanged)
{
    const std::pair<int, Image *(*)(Image *)> cases[] = {
        {KIT_GRAY, [](Image *i) { return kxRemoveBorder(i), i; }}, {KIT_RGB, [](Image *i) { return kxRemoveBorderEx(i, nullptr), i; }},
        {KIT_GRAY, [](Image *i) { return kxFillHole(i), i; }}, {KIT_RGB, [](Image *i) { return kxFillHoleEx(i, nullptr), i; }},
        {KIT_GRAY, [](Image *i) { return kxRetrieveEdge(i, 0, 5) == 5 ? i : nullptr; }},
        {KIT_RGB, [](Image *i) { return kxRetrieveEdgeE1(i, 0, i); }}, {KIT_RGB, [](Image *i) { return kxErode(i, nullptr); }},
        {KIT_RGBA, [](Image *i) { return kxDilate(i, nullptr); }}, {KIT_GRAY, [](Image *i) { return kxDilateE1(i, 2); }},
        {KIT_RGB, [](Image *i) { return kxErodeE1(i, 3); }}, {KIT_GRAY, [](Image *i) { return kxThinning(i), i; }},
        {KIT_RGB, [](Image *i) { return kxSkeleton(i, 0); }}, {KIT_RGBA, [](Image *i) { return kxEclose(i, 2), i; }},
    };
    for (const auto &[type, op] : cases) {
        kxtest::ImagePtr im = kxtest::randomImage(type, 8, 6, 7);
        const auto before = kxtest::pixels(im.get());
        EXPECT_EQ(op(im.get()), im.get());
        EXPECT_EQ(kxtest::pixels(im.get()), before);
        EXPECT_EQ(im->imageType, type);
    }
    EXPECT_KX_ASSERT(kxRemoveBorder(nullptr), "image");
    EXPECT_KX_ASSERT(kxEclose(nullptr, 2), "imMask");
    EXPECT_EQ(kxErode(nullptr, nullptr), nullptr);
}

}  // namespace
