// Gradients: derivatives against OpenCV's Sobel/Scharr, magnitudes and
// directions by the documented arithmetic, and no clipping.
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

#include "kxextra.h"
#include "kxtest.hpp"

namespace {

struct Outputs {
    std::vector<int16_t> gx, gy;
    std::vector<uint16_t> mag;
    std::vector<float> magF, dir;
};

Outputs run(const Image *im, int op, int norm)
{
    const size_t n = size_t(im->width) * im->height;
    Outputs o{std::vector<int16_t>(n), std::vector<int16_t>(n), std::vector<uint16_t>(n), std::vector<float>(n),
              std::vector<float>(n)};
    EXPECT_EQ(kxxGradient(im, op, norm, o.gx.data(), o.gy.data(), o.mag.data(), o.magF.data(), o.dir.data()), 1);
    return o;
}

}  // namespace

TEST(ExtraGradient, DerivativesEqualOpenCvAndMagnitudesFollowTheDocumentedArithmetic)
{
    const struct {
        int w, h;
    } sizes[] = {{1, 1}, {1, 7}, {9, 1}, {2, 2}, {3, 5}, {83, 61}};
    uint32_t seed = 1;
    for (const auto &z : sizes)
        for (int op : {KXX_SOBEL, KXX_SCHARR}) {
            SCOPED_TRACE(testing::Message() << z.w << "x" << z.h << " op " << op);
            auto im = kxtest::randomImage(KIT_GRAY, z.w, z.h, seed++);
            const auto l1 = run(im.get(), op, KXX_L1), l2 = run(im.get(), op, KXX_L2);
            const cv::Mat src(z.h, z.w, CV_8UC1, im->data, size_t(im->pitch));
            cv::Mat cx, cy;
            if (op == KXX_SOBEL) {
                cv::Sobel(src, cx, CV_16S, 1, 0, 3);
                cv::Sobel(src, cy, CV_16S, 0, 1, 3);
            } else {
                cv::Scharr(src, cx, CV_16S, 1, 0);
                cv::Scharr(src, cy, CV_16S, 0, 1);
            }
            EXPECT_EQ(l2.gx, std::vector<int16_t>(cx.begin<int16_t>(), cx.end<int16_t>()));
            EXPECT_EQ(l2.gy, std::vector<int16_t>(cy.begin<int16_t>(), cy.end<int16_t>()));
            for (size_t i = 0; i < l2.gx.size(); ++i) {
                const int gx = l2.gx[i], gy = l2.gy[i];
                ASSERT_EQ(l1.mag[i], std::abs(gx) + std::abs(gy));
                ASSERT_EQ(l1.magF[i], float(std::abs(gx) + std::abs(gy)));
                const double m = std::sqrt(double(gx * gx + gy * gy));
                ASSERT_EQ(l2.mag[i], uint16_t(int(m + 0.5)));
                ASSERT_EQ(l2.magF[i], float(m));
                ASSERT_EQ(l2.dir[i], float(std::atan2(double(gy), double(gx))));
            }
        }
}

TEST(ExtraGradient, StrongestEdgesDoNotClip)
{
    // A black/white checkerboard: Sobel derivatives reach +-1020, Scharr
    // +-4080, and magnitudes go past 255.
    std::vector<uint8_t> px(16 * 16);
    for (int i = 0; i < 256; ++i) px[size_t(i)] = (i % 16 >= 8) != (i / 16 >= 8) ? 255 : 0;
    auto im = kxtest::makeImage(KIT_GRAY, 16, 16, px);
    for (int op : {KXX_SOBEL, KXX_SCHARR}) {
        const auto o = run(im.get(), op, KXX_L1);
        const int peak = op == KXX_SOBEL ? 1020 : 4080;
        EXPECT_EQ(*std::max_element(o.gx.begin(), o.gx.end()), peak);
        EXPECT_EQ(*std::min_element(o.gx.begin(), o.gx.end()), -peak);
        EXPECT_GT(*std::max_element(o.mag.begin(), o.mag.end()), 255);
    }
    // A vertical step 0 -> 255: |gx| = 1020 along it, magnitude 1020.
    std::vector<uint8_t> step(8 * 4);
    for (int i = 0; i < 32; ++i) step[size_t(i)] = i % 8 >= 4 ? 255 : 0;
    auto s = kxtest::makeImage(KIT_GRAY, 8, 4, step);
    const auto o = run(s.get(), KXX_SOBEL, KXX_L2);
    EXPECT_EQ(o.mag[3], 1020);
    EXPECT_EQ(o.mag[4], 1020);
    EXPECT_EQ(o.dir[3], 0.0f);
}

TEST(ExtraGradient, OutputsLeftNullAreNotWrittenAndNeedNoNorm)
{
    auto im = kxtest::randomImage(KIT_GRAY, 21, 13, 3);
    const auto all = run(im.get(), KXX_SCHARR, KXX_L2);
    std::vector<uint16_t> onlyMag(21 * 13);
    EXPECT_EQ(kxxGradient(im.get(), KXX_SCHARR, KXX_L2, nullptr, nullptr, onlyMag.data(), nullptr, nullptr), 1);
    EXPECT_EQ(onlyMag, all.mag);
    std::vector<int16_t> gx(21 * 13);
    EXPECT_EQ(kxxGradient(im.get(), KXX_SCHARR, 99, gx.data(), nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(gx, all.gx);
}
