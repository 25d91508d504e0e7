// Helpers of the vision tests: Image <-> cv::Mat and small comparisons.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <functional>

#include "kxtest.hpp"

namespace kxvt {

using namespace kxtest;
using Op = std::function<Image *(Image *)>;

// A deep copy of the image's pixels as a cv::Mat.
inline cv::Mat toMat(const Image *im)
{
    return cv::Mat(im->height, im->width, CV_8UC(bpp(im->imageType)), im->data, size_t(im->pitch)).clone();
}

// The image's pixels equal those of a Mat of the same layout.
inline bool sameAs(const Image *im, const cv::Mat &m)
{
    return im->height == m.rows && im->width == m.cols && bpp(im->imageType) == m.channels() &&
           cv::norm(cv::Mat(im->height, im->width, m.type(), im->data, size_t(im->pitch)), m, cv::NORM_INF) == 0;
}

inline ImagePtr copyOf(const Image *im) { return ImagePtr(kxiClone(im, nullptr)); }

// `op` returns `result` and leaves the image's type and pixels alone.
inline void expectUntouched(Image *im, const Op &op, const Image *result)
{
    const int type = im->imageType;
    const auto before = pixels(im);
    EXPECT_EQ(op(im), result);
    EXPECT_EQ(im->imageType, type);
    EXPECT_EQ(pixels(im), before);
}

// Noisy blocks, so that fills have flat regions to follow and filters edges
// to find (binary images stay random).
inline ImagePtr regions(int type, int w, int h, uint32_t seed)
{
    auto im = randomImage(type, w, h, seed);
    for (int y = 0; y < h && type != KIT_BIN; ++y)
        for (int x = 0; x < w * bpp(type); ++x) {
            uint8_t &b = im->data[y * im->pitch + x];
            b = uint8_t((x / bpp(type) / 4 + y / 3) % 3 * 60 + b % 6);
        }
    return im;
}

constexpr int kTypes[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};

}  // namespace kxvt
