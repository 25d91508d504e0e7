// Every export of the family on a null image and on the image types it does
// not take: an assertion or the do-nothing result, pixels unchanged.
#include <functional>

#include "binary_util.hpp"

namespace {

struct Case {
    const char *name;
    std::function<Image *(Image *)> op;
    const char *nullAssert;   // null: a null image returns null
    std::vector<int> refused; // types left unchanged
};

const Case kCases[] = {
    {"RemoveBorder", [](Image *i) { return kxRemoveBorder(i), i; }, "image", {KIT_GRAY, KIT_RGB}},
    {"RemoveBorderEx", [](Image *i) { return kxRemoveBorderEx(i, nullptr), i; }, "image", {KIT_GRAY, KIT_RGB}},
    {"FillHole", [](Image *i) { return kxFillHole(i), i; }, nullptr, {KIT_GRAY, KIT_RGB}},
    {"FillHoleEx", [](Image *i) { return kxFillHoleEx(i, nullptr), i; }, "image", {KIT_GRAY, KIT_RGB}},
    {"RetrieveEdge", [](Image *i) { return kxRetrieveEdge(i, 0, 5) == 5 ? i : nullptr; }, nullptr, {KIT_GRAY}},
    {"RetrieveEdgeE1", [](Image *i) { return kxRetrieveEdgeE1(i, 0, i); }, nullptr, {KIT_GRAY, KIT_RGB}},
    {"Erode", [](Image *i) { return kxErode(i, nullptr); }, nullptr, {KIT_RGB, KIT_RGBA}},
    {"Dilate", [](Image *i) { return kxDilate(i, nullptr); }, nullptr, {KIT_RGB, KIT_RGBA}},
    {"DilateE1", [](Image *i) { return kxDilateE1(i, 2); }, nullptr, {KIT_GRAY, KIT_RGB}},
    {"ErodeE1", [](Image *i) { return kxErodeE1(i, 3); }, nullptr, {KIT_GRAY, KIT_RGB}},
    {"Thinning", [](Image *i) { return kxThinning(i), i; }, "image", {KIT_GRAY, KIT_RGB}},
    {"Skeleton0", [](Image *i) { return kxSkeleton(i, 0); }, "image", {KIT_GRAY, KIT_RGB}},
    {"Skeleton1", [](Image *i) { return kxSkeleton(i, 1); }, "image", {KIT_GRAY, KIT_RGB}},
    {"Eclose", [](Image *i) { return kxEclose(i, 2), i; }, "imMask", {KIT_RGB, KIT_RGBA}},
    {"CutMargin", [](Image *i) { return kxCutMargin(i, 1), i; }, "image", {}},
};

TEST(Binary, NullAndOtherTypesComeBackUnchanged)
{
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        if (c.nullAssert)
            EXPECT_KX_ASSERT(c.op(nullptr), c.nullAssert);
        else
            EXPECT_EQ(c.op(nullptr), nullptr);
        for (int type : c.refused) {
            kxtest::ImagePtr im = kxtest::randomImage(type, 8, 6, 7);
            const auto before = kxtest::pixels(im.get());
            EXPECT_EQ(c.op(im.get()), im.get());
            EXPECT_EQ(kxtest::pixels(im.get()), before);
            EXPECT_EQ(im->imageType, type);
        }
    }
}

}  // namespace
