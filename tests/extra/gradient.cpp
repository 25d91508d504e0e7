// Gradients: derivatives against OpenCV's Sobel/Scharr (16-bit, so steps
// beyond 255 are not clipped), magnitudes and directions by the documented
// arithmetic, optional outputs.
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

#include "kxextra.h"
#include "kxtest.hpp"

TEST(ExtraGradient, DerivativesEqualOpenCvAndMagnitudesFollowTheDocumentedArithmetic)
{
    uint32_t seed = 1;
    for (const auto &[w, h] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{9, 1}, std::pair{2, 2}, std::pair{83, 61}})
        for (int op : {KXX_SOBEL, KXX_SCHARR}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " op " << op);
            auto im = kxtest::randomImage(KIT_GRAY, w, h, seed++);
            const size_t n = size_t(w) * h;
            std::vector<int16_t> gx(n), gy(n), onlyGx(n);
            std::vector<uint16_t> l1(n), l2(n), onlyL2(n);
            std::vector<float> l1f(n), l2f(n), dir(n);
            ASSERT_EQ(kxxGradient(im.get(), op, KXX_L2, gx.data(), gy.data(), l2.data(), l2f.data(), dir.data()), 1);
            ASSERT_EQ(kxxGradient(im.get(), op, KXX_L1, nullptr, nullptr, l1.data(), l1f.data(), nullptr), 1);
            // Outputs left null are not written; without a magnitude the norm is not looked at.
            ASSERT_EQ(kxxGradient(im.get(), op, KXX_L2, nullptr, nullptr, onlyL2.data(), nullptr, nullptr), 1);
            ASSERT_EQ(kxxGradient(im.get(), op, 99, onlyGx.data(), nullptr, nullptr, nullptr, nullptr), 1);
            EXPECT_EQ(onlyL2, l2);
            EXPECT_EQ(onlyGx, gx);
            const cv::Mat src(h, w, CV_8UC1, im->data, size_t(im->pitch));
            cv::Mat cx, cy;
            (op == KXX_SOBEL ? cv::Sobel(src, cx, CV_16S, 1, 0, 3) : cv::Scharr(src, cx, CV_16S, 1, 0));
            (op == KXX_SOBEL ? cv::Sobel(src, cy, CV_16S, 0, 1, 3) : cv::Scharr(src, cy, CV_16S, 0, 1));
            EXPECT_EQ(gx, std::vector<int16_t>(cx.begin<int16_t>(), cx.end<int16_t>()));
            EXPECT_EQ(gy, std::vector<int16_t>(cy.begin<int16_t>(), cy.end<int16_t>()));
            for (size_t i = 0; i < n; ++i) {
                const double m = std::sqrt(double(gx[i] * gx[i] + gy[i] * gy[i]));
                ASSERT_EQ(l1[i], std::abs(gx[i]) + std::abs(gy[i]));
                ASSERT_EQ(l1f[i], float(l1[i]));
                ASSERT_EQ(l2[i], uint16_t(int(m + 0.5)));
                ASSERT_EQ(l2f[i], float(m));
                ASSERT_EQ(dir[i], float(std::atan2(double(gy[i]), double(gx[i]))));
            }
        }
}
