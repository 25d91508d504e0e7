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

// Other types and null: see the family-wide check in global_test.cpp.
const Case kCases[] = {
    {"Simple", 0, 100, 0, 0.0, [](Image *i) { return kxbSimple(i, 100, 0); }},
    {"SimpleLowByte", 0, 300, 0, 0.0, [](Image *i) { return kxbSimple(i, 44, 0); }},
    {"Dark", 1, 80, 0, 0.0, [](Image *i) { return kxbDark(i, 80, 1, 1); }},
    {"Light", 2, 80 + 512, 0, 0.0, [](Image *i) { return kxbLight(i, 80, 1, 1); }},
    {"Inner", 3, 50, 150, 0.0, [](Image *i) { return kxbInner(i, 50, 150, 1, 1); }},
    {"Outer", 4, 50, 150 + 256, 0.0, [](Image *i) { return kxbOuter(i, 50, 150, 1, 1); }},
    {"LocalIntegral", 16, 7, 128 + 256, 0.25, [](Image *i) { return kxbLocalIntegral(i, 7, 128, 0.25f); }},
    {"MultiLevel", 17, 4, 0, 0.0, [](Image *i) { return kxbMultiLevel(i, 4); }},
    {"MaxEntropy", 18, 0, 0, 0.0, [](Image *i) { return kxbMaxEntropy(i); }},
    {"IsoData", 19, 20, 5, 0.0, [](Image *i) { return kxbIsoData(i, 20, 5); }},
    {"MinError", 20, 1, 0, 0.0, [](Image *i) { return kxbMinError(i, 1); }},
    {"Otsu", 21, 0, 0, 0.0, [](Image *i) { return kxbOtsu(i, nullptr); }},
    {"Unassigned5", 5, 10, 10, 0.0, [](Image *i) { return i; }},
    {"Unassigned15", 15, 10, 10, 0.0, [](Image *i) { return i; }},
    {"Unassigned22", 22, 10, 10, 0.0, [](Image *i) { return i; }},
    {"Negative", -1, 10, 10, 0.0, [](Image *i) { return i; }},
};

TEST(Threshold, DispatchEqualsTheDirectCall)
{
    const auto in = randomBytes(17 * 9, 12, 0, 255);
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        ImagePtr viaDispatch = makeImage(KIT_GRAY, 17, 9, in), direct = makeImage(KIT_GRAY, 17, 9, in);
        EXPECT_EQ(kxThreshold(viaDispatch.get(), c.method, c.p1, c.p2, c.param), viaDispatch.get());
        c.direct(direct.get());
        EXPECT_EQ(pixels(viaDispatch.get()), pixels(direct.get()));
        EXPECT_EQ(viaDispatch->imageType, direct->imageType);
    }
}

}  // namespace
