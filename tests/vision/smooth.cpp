// ikxSmooth against direct OpenCV calls: every method, type and window
// shape on random images, the Gaussian's sigmas, and its small kernels.
#include "cv_support.hpp"

using namespace kxvt;

namespace {

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

TEST(Vision, SmoothMatchesOpenCvForEveryMethodTypeAndSize)
{
    // Gaussian and median: even sides grow to the next odd one; the median
    // ignores the height.
    const std::pair<int, int> images[] = {{1, 1}, {2, 5}, {13, 11}, {32, 9}};
    const std::pair<int, int> windows[] = {{1, 1}, {3, 3}, {2, 4}, {5, 1}, {1, 7}, {9, 7}, {41, 3}, {4, 4}};
    for (int type : kTypes)
        for (auto [w, h] : images) {
            auto src = randomImage(type, w, h, uint32_t(w * 7 + h + type));
            const cv::Mat m = toMat(src.get());
            for (auto [kw, kh] : windows) {
                SCOPED_TRACE(testing::Message() << type << " " << w << "x" << h << " window " << kw << "x" << kh);
                PaddedImage box(type, w, h, pixels(src.get()));
                ASSERT_EQ(ikxSmooth(box.get(), KXV_SMOOTH_BOX, kw, kh, 0, 0), box.get());
                EXPECT_TRUE(sameAs(box.get(), reference(m, KXV_SMOOTH_BOX, kw, kh)));
                EXPECT_TRUE(box.paddingIntact());
                auto g = copyOf(src.get()), md = copyOf(src.get());
                ikxSmooth(g.get(), KXV_SMOOTH_GAUSSIAN, kw, kh, 0, 0);
                ikxSmooth(md.get(), KXV_SMOOTH_MEDIAN, kw, 99, 0, 0);
                EXPECT_TRUE(sameAs(g.get(), reference(m, KXV_SMOOTH_GAUSSIAN, kw | 1, kh | 1)));
                EXPECT_TRUE(sameAs(md.get(), reference(m, KXV_SMOOTH_MEDIAN, kw | 1, kw | 1)));
            }
        }
    // Sigmas: sides derived from sigma, sigmaY taken from sigmaX.
    auto src = randomImage(KIT_RGB, 20, 17, 10);
    for (auto [w, h, sx, sy] : {std::tuple{0, 0, 1.5, 0.0}, {5, 0, 2.0, 0.7}, {7, 3, 3.0, 0.0}}) {
        auto g = copyOf(src.get());
        ASSERT_EQ(ikxSmooth(g.get(), KXV_SMOOTH_GAUSSIAN, w, h, sx, sy), g.get());
        EXPECT_TRUE(sameAs(g.get(), reference(toMat(src.get()), KXV_SMOOTH_GAUSSIAN, w, h, sx, sy))) << w;
    }
}

TEST(Vision, SmallGaussianKernelsAreTheBinomialOnes)
{
    // An impulse of 64 spreads as 64 * [1 2 1]/4 and 64 * [1 4 6 4 1]/16.
    for (auto [side, want] : {std::pair{3, std::vector<uint8_t>{0, 0, 16, 32, 16, 0, 0}},
                              {5, std::vector<uint8_t>{0, 4, 16, 24, 16, 4, 0}}}) {
        auto im = makeImage(KIT_GRAY, 7, 1, {0, 0, 0, 64, 0, 0, 0});
        ikxSmooth(im.get(), KXV_SMOOTH_GAUSSIAN, side, 1, 0, 0);
        EXPECT_EQ(pixels(im.get()), want) << side;
    }
}
