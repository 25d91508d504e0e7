// ikxSmooth against direct OpenCV calls, and the smoothing wrappers.
#include <limits>

#include "cv_support.hpp"

using namespace kxvt;

namespace {

struct Size2 {
    int w, h;
};

// The OpenCV call each method stands for, out of place.
cv::Mat reference(const cv::Mat &src, int method, int w, int h, double sx = 0, double sy = 0)
{
    cv::Mat out;
    switch (method) {
    case KXV_SMOOTH_BOX: cv::blur(src, out, cv::Size(w, h), cv::Point(-1, -1), cv::BORDER_REFLECT_101); break;
    case KXV_SMOOTH_GAUSSIAN: cv::GaussianBlur(src, out, cv::Size(w, h), sx, sy, cv::BORDER_REFLECT_101); break;
    default: cv::medianBlur(src, out, w); break;
    }
    return out;
}

}  // namespace

TEST(IkxSmooth, MatchesOpenCvForEveryMethodTypeAndSize)
{
    const Size2 images[] = {{1, 1}, {2, 5}, {7, 3}, {13, 11}, {32, 9}};
    const Size2 boxes[] = {{1, 1}, {3, 3}, {2, 4}, {5, 1}, {9, 7}, {41, 3}};
    // Gaussian and median: even sides grow to the next odd one.
    const Size2 kernels[] = {{1, 1}, {3, 3}, {5, 1}, {1, 7}, {9, 5}, {41, 41}, {2, 4}, {4, 4}};
    for (int type : kTypes)
        for (Size2 s : images) {
            auto src = randomImage(type, s.w, s.h, uint32_t(s.w * 7 + s.h + type));
            const cv::Mat m = toMat(src.get());
            for (Size2 k : boxes) {
                PaddedImage im(type, s.w, s.h, pixels(src.get()));
                ASSERT_EQ(ikxSmooth(im.get(), KXV_SMOOTH_BOX, k.w, k.h, 0, 0), im.get());
                EXPECT_TRUE(sameAs(im.get(), reference(m, KXV_SMOOTH_BOX, k.w, k.h))) << type << " box " << k.w;
                EXPECT_TRUE(im.paddingIntact());
            }
            for (Size2 k : kernels) {
                auto g = copyOf(src.get()), md = copyOf(src.get());
                ikxSmooth(g.get(), KXV_SMOOTH_GAUSSIAN, k.w, k.h, 0, 0);
                ikxSmooth(md.get(), KXV_SMOOTH_MEDIAN, k.w, 99, 0, 0);
                EXPECT_TRUE(sameAs(g.get(), reference(m, KXV_SMOOTH_GAUSSIAN, k.w | 1, k.h | 1))) << type << " " << k.w;
                EXPECT_TRUE(sameAs(md.get(), reference(m, KXV_SMOOTH_MEDIAN, k.w | 1, k.w | 1))) << type << " " << k.w;
            }
        }
}

TEST(IkxSmooth, GaussianSigmasAndDerivedSides)
{
    auto src = randomImage(KIT_RGB, 20, 17, 10);
    struct Case {
        int w, h;
        double sx, sy;
    } cases[] = {
        {0, 0, 1.5, 0},  // sides from sigma, sigmaY from sigmaX
        {5, 0, 2.0, 0.7},
        {7, 3, 3.0, 0},
    };
    for (const Case &c : cases) {
        auto g = copyOf(src.get());
        ASSERT_EQ(ikxSmooth(g.get(), KXV_SMOOTH_GAUSSIAN, c.w, c.h, c.sx, c.sy), g.get());
        EXPECT_TRUE(sameAs(g.get(), reference(toMat(src.get()), KXV_SMOOTH_GAUSSIAN, c.w, c.h, c.sx, c.sy))) << c.w;
    }
}

TEST(IkxSmooth, SmallGaussianKernelsAreTheBinomialOnes)
{
    // An impulse of 64 spreads as 64 * [1 2 1]/4 and 64 * [1 4 6 4 1]/16.
    const std::vector<uint8_t> impulse = {0, 0, 0, 64, 0, 0, 0};
    for (auto [side, want] : {std::pair{3, std::vector<uint8_t>{0, 0, 16, 32, 16, 0, 0}},
                              {5, std::vector<uint8_t>{0, 4, 16, 24, 16, 4, 0}}}) {
        auto im = makeImage(KIT_GRAY, 7, 1, impulse);
        ikxSmooth(im.get(), KXV_SMOOTH_GAUSSIAN, side, 1, 0, 0);
        EXPECT_EQ(pixels(im.get()), want) << side;
    }
}

TEST(IkxSmooth, RefusesBadArgumentsWithoutTouchingTheImage)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *name;
        int method, w, h;
        double sx;
    } cases[] = {
        {"method 0", 0, 3, 3, 0},
        {"method 4", 4, 3, 3, 0},
        {"box width 0", KXV_SMOOTH_BOX, 0, 3, 0},
        {"box height -1", KXV_SMOOTH_BOX, 3, -1, 0},
        {"box too wide", KXV_SMOOTH_BOX, KXV_MAX_WINDOW + 1, 3, 0},
        {"gaussian 0 without sigma", KXV_SMOOTH_GAUSSIAN, 0, 3, 0},
        {"gaussian INT_MIN", KXV_SMOOTH_GAUSSIAN, INT32_MIN, INT32_MIN, 0},
        {"gaussian INT_MAX", KXV_SMOOTH_GAUSSIAN, INT32_MAX, 3, 0},
        {"gaussian NaN sigma", KXV_SMOOTH_GAUSSIAN, 3, 3, nan},
        {"gaussian huge sigma", KXV_SMOOTH_GAUSSIAN, 0, 0, 1e300},
        {"median 0", KXV_SMOOTH_MEDIAN, 0, 0, 0},
        {"median INT_MAX", KXV_SMOOTH_MEDIAN, INT32_MAX, INT32_MAX, 0},
    };
    auto im = randomImage(KIT_GRAY, 9, 9, 11);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectUntouched(im.get(), [&](Image *i) { return ikxSmooth(i, c.method, c.w, c.h, c.sx, 0); }, nullptr);
    }
    EXPECT_EQ(ikxSmooth(nullptr, KXV_SMOOTH_BOX, 3, 3, 0, 0), nullptr);
    Image bad = *im;
    bad.pitch = 2;
    EXPECT_EQ(ikxSmooth(&bad, KXV_SMOOTH_BOX, 3, 3, 0, 0), nullptr);
}

TEST(SmoothWrappers, PassTheMethodAndSidesOnForGreyAndRgbOnly)
{
    struct Case {
        Op wrapper, library;
    } cases[] = {
        {[](Image *i) { return kxBlur(i, 4, 3); }, [](Image *i) { return ikxSmooth(i, KXV_SMOOTH_BOX, 4, 3, 0, 0); }},
        {[](Image *i) { return kxSmoothGaussian(i, 5, 3); },
         [](Image *i) { return ikxSmooth(i, KXV_SMOOTH_GAUSSIAN, 5, 3, 0, 0); }},
        {[](Image *i) { return kxSmoothMedian(i, 5); },
         [](Image *i) { return ikxSmooth(i, KXV_SMOOTH_MEDIAN, 5, 5, 0, 0); }},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.wrapper(nullptr), nullptr);
        for (int type : {KIT_GRAY, KIT_RGB}) {
            auto src = randomImage(type, 14, 10, uint32_t(type));
            expectSameCall(src.get(), c.wrapper, c.library);
        }
        for (int type : {KIT_BIN, KIT_RGBA}) {
            auto im = randomImage(type, 8, 8, 2);
            expectUntouched(im.get(), c.wrapper, im.get());
        }
    }
    // Refused windows come back as null with the image untouched.
    auto im = randomImage(KIT_GRAY, 8, 8, 3);
    expectUntouched(im.get(), [](Image *i) { return kxSmoothGaussian(i, 0, 3); }, nullptr);
    expectUntouched(im.get(), [](Image *i) { return kxBlur(i, -5, 3); }, nullptr);
    expectUntouched(im.get(), [](Image *i) { return kxSmoothMedian(i, INT32_MIN); }, nullptr);
}
