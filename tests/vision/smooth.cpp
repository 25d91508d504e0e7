// ikxSmooth against direct OpenCV calls, and the smoothing wrappers.
#include <cmath>
#include <limits>

#include "cv_support.hpp"

using namespace kxvt;
using kxtest::makeImage;
using kxtest::PaddedImage;
using kxtest::randomImage;

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
    const Size2 odd[] = {{1, 1}, {3, 3}, {5, 1}, {1, 7}, {9, 5}, {41, 41}};
    for (int type : kTypes)
        for (Size2 s : images) {
            auto src = randomImage(type, s.w, s.h, uint32_t(s.w * 7 + s.h + type));
            const cv::Mat m = toMat(src.get());
            for (Size2 k : boxes) {
                PaddedImage im(type, s.w, s.h, kxtest::pixels(src.get()));
                ASSERT_EQ(ikxSmooth(im.get(), KXV_SMOOTH_BOX, k.w, k.h, 0, 0), im.get());
                EXPECT_TRUE(sameAs(im.get(), reference(m, KXV_SMOOTH_BOX, k.w, k.h))) << type << " box " << k.w;
                EXPECT_TRUE(im.paddingIntact());
            }
            for (Size2 k : odd) {
                auto g = copyOf(src.get());
                ikxSmooth(g.get(), KXV_SMOOTH_GAUSSIAN, k.w, k.h, 0, 0);
                EXPECT_TRUE(sameAs(g.get(), reference(m, KXV_SMOOTH_GAUSSIAN, k.w, k.h))) << type << " " << k.w;
                auto md = copyOf(src.get());
                ikxSmooth(md.get(), KXV_SMOOTH_MEDIAN, k.w, 99, 0, 0);
                EXPECT_TRUE(sameAs(md.get(), reference(m, KXV_SMOOTH_MEDIAN, k.w, k.w))) << type << " " << k.w;
            }
        }
}

TEST(IkxSmooth, EvenGaussianAndMedianSidesGrowToTheNextOdd)
{
    auto src = randomImage(KIT_GRAY, 15, 12, 9);
    const cv::Mat m = toMat(src.get());
    auto g = copyOf(src.get());
    ikxSmooth(g.get(), KXV_SMOOTH_GAUSSIAN, 2, 4, 0, 0);
    EXPECT_TRUE(sameAs(g.get(), reference(m, KXV_SMOOTH_GAUSSIAN, 3, 5)));
    auto md = copyOf(src.get());
    ikxSmooth(md.get(), KXV_SMOOTH_MEDIAN, 4, 4, 0, 0);
    EXPECT_TRUE(sameAs(md.get(), reference(m, KXV_SMOOTH_MEDIAN, 5, 5)));
}

TEST(IkxSmooth, GaussianSigmasAndDerivedSides)
{
    auto src = randomImage(KIT_RGB, 20, 17, 10);
    const cv::Mat m = toMat(src.get());
    struct Case {
        int w, h;
        double sx, sy;
        cv::Size cvSize;
    } cases[] = {
        {0, 0, 1.5, 0, cv::Size(0, 0)},  // sides from sigma, sigmaY from sigmaX
        {5, 0, 2.0, 0.7, cv::Size(5, 0)},
        {7, 3, 3.0, 0, cv::Size(7, 3)},
    };
    for (const Case &c : cases) {
        auto g = copyOf(src.get());
        ASSERT_EQ(ikxSmooth(g.get(), KXV_SMOOTH_GAUSSIAN, c.w, c.h, c.sx, c.sy), g.get());
        cv::Mat want;
        cv::GaussianBlur(m, want, c.cvSize, c.sx, c.sy, cv::BORDER_REFLECT_101);
        EXPECT_TRUE(sameAs(g.get(), want)) << c.w << "x" << c.h;
    }
}

TEST(IkxSmooth, SmallGaussianKernelsAreTheBinomialOnes)
{
    // An impulse of 64 spreads as 64 * [1 2 1]/4 = [16 32 16] horizontally.
    std::vector<uint8_t> px(7, 0);
    px[3] = 64;
    auto im = makeImage(KIT_GRAY, 7, 1, px);
    ikxSmooth(im.get(), KXV_SMOOTH_GAUSSIAN, 3, 1, 0, 0);
    EXPECT_EQ(kxtest::pixels(im.get()), (std::vector<uint8_t>{0, 0, 16, 32, 16, 0, 0}));
    auto im5 = makeImage(KIT_GRAY, 7, 1, px);
    ikxSmooth(im5.get(), KXV_SMOOTH_GAUSSIAN, 5, 1, 0, 0);
    EXPECT_EQ(kxtest::pixels(im5.get()), (std::vector<uint8_t>{0, 4, 16, 24, 16, 4, 0}));
}

TEST(IkxSmooth, RefusesBadArgumentsWithoutTouchingTheImage)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *name;
        int method, w, h;
        double sx, sy;
    } cases[] = {
        {"method 0", 0, 3, 3, 0, 0},
        {"method 4", 4, 3, 3, 0, 0},
        {"box width 0", KXV_SMOOTH_BOX, 0, 3, 0, 0},
        {"box height -1", KXV_SMOOTH_BOX, 3, -1, 0, 0},
        {"box too wide", KXV_SMOOTH_BOX, KXV_MAX_WINDOW + 1, 3, 0, 0},
        {"gaussian 0 without sigma", KXV_SMOOTH_GAUSSIAN, 0, 3, 0, 0},
        {"gaussian INT_MIN", KXV_SMOOTH_GAUSSIAN, INT32_MIN, INT32_MIN, 0, 0},
        {"gaussian INT_MAX", KXV_SMOOTH_GAUSSIAN, INT32_MAX, 3, 0, 0},
        {"gaussian NaN sigma", KXV_SMOOTH_GAUSSIAN, 3, 3, nan, 0},
        {"gaussian huge sigma", KXV_SMOOTH_GAUSSIAN, 0, 0, 1e300, 0},
        {"median 0", KXV_SMOOTH_MEDIAN, 0, 0, 0, 0},
        {"median INT_MAX", KXV_SMOOTH_MEDIAN, INT32_MAX, INT32_MAX, 0, 0},
    };
    auto im = randomImage(KIT_GRAY, 9, 9, 11);
    const auto before = kxtest::pixels(im.get());
    for (const Case &c : cases) {
        EXPECT_EQ(ikxSmooth(im.get(), c.method, c.w, c.h, c.sx, c.sy), nullptr) << c.name;
        EXPECT_EQ(kxtest::pixels(im.get()), before) << c.name;
    }
    EXPECT_EQ(ikxSmooth(nullptr, KXV_SMOOTH_BOX, 3, 3, 0, 0), nullptr);
    Image bad = *im;
    bad.pitch = 2;
    EXPECT_EQ(ikxSmooth(&bad, KXV_SMOOTH_BOX, 3, 3, 0, 0), nullptr);
}

TEST(SmoothWrappers, PassTheMethodAndSidesOn)
{
    for (int type : {KIT_GRAY, KIT_RGB}) {
        auto src = randomImage(type, 14, 10, uint32_t(type));
        auto a = copyOf(src.get()), b = copyOf(src.get());
        EXPECT_EQ(kxBlur(a.get(), 4, 3), a.get());
        ikxSmooth(b.get(), KXV_SMOOTH_BOX, 4, 3, 0.0, 0.0);
        EXPECT_EQ(kxtest::pixels(a.get()), kxtest::pixels(b.get()));

        auto c = copyOf(src.get()), d = copyOf(src.get());
        EXPECT_EQ(kxSmoothGaussian(c.get(), 5, 3), c.get());
        ikxSmooth(d.get(), KXV_SMOOTH_GAUSSIAN, 5, 3, 0.0, 0.0);
        EXPECT_EQ(kxtest::pixels(c.get()), kxtest::pixels(d.get()));

        auto e = copyOf(src.get()), f = copyOf(src.get());
        EXPECT_EQ(kxSmoothMedian(e.get(), 5), e.get());
        ikxSmooth(f.get(), KXV_SMOOTH_MEDIAN, 5, 5, 0.0, 0.0);
        EXPECT_EQ(kxtest::pixels(e.get()), kxtest::pixels(f.get()));
        EXPECT_NE(kxtest::pixels(e.get()), kxtest::pixels(src.get()));
    }
}

TEST(SmoothWrappers, TypeGate)
{
    EXPECT_EQ(kxBlur(nullptr, 3, 3), nullptr);
    EXPECT_EQ(kxSmoothGaussian(nullptr, 3, 3), nullptr);
    EXPECT_EQ(kxSmoothMedian(nullptr, 3), nullptr);
    for (int type : {KIT_BIN, KIT_RGBA}) {
        auto im = randomImage(type, 8, 8, 2);
        const auto before = kxtest::pixels(im.get());
        EXPECT_EQ(kxBlur(im.get(), 3, 3), im.get());
        EXPECT_EQ(kxSmoothGaussian(im.get(), 3, 3), im.get());
        EXPECT_EQ(kxSmoothMedian(im.get(), 3), im.get());
        EXPECT_EQ(kxtest::pixels(im.get()), before);
    }
    // Refused windows come back as null with the image untouched.
    auto im = randomImage(KIT_GRAY, 8, 8, 3);
    const auto before = kxtest::pixels(im.get());
    EXPECT_EQ(kxSmoothGaussian(im.get(), 0, 3), nullptr);
    EXPECT_EQ(kxBlur(im.get(), -5, 3), nullptr);
    EXPECT_EQ(kxSmoothMedian(im.get(), INT32_MIN), nullptr);
    EXPECT_EQ(kxtest::pixels(im.get()), before);
}
