// Helpers of the vision tests: Image <-> cv::Mat and small comparisons.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "kxtest.hpp"

namespace kxvt {

using kxtest::ImagePtr;

inline int channels(int imageType) { return kxiBytesPerPixel(imageType); }

// A deep copy of the image's pixels as a cv::Mat.
inline cv::Mat toMat(const Image *im)
{
    return cv::Mat(im->height, im->width, CV_8UC(channels(im->imageType)), im->data, size_t(im->pitch)).clone();
}

// The image's pixels, packed, compared with a Mat of the same layout.
inline bool sameAs(const Image *im, const cv::Mat &m)
{
    if (im->height != m.rows || im->width != m.cols || channels(im->imageType) != m.channels()) return false;
    const cv::Mat view(im->height, im->width, m.type(), im->data, size_t(im->pitch));
    return cv::norm(view, m, cv::NORM_INF) == 0;
}

inline ImagePtr copyOf(const Image *im) { return ImagePtr(kxiClone(im, nullptr)); }

constexpr int kTypes[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};

}  // namespace kxvt
