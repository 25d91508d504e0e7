// Helpers of the vision tests: Image <-> cv::Mat and small comparisons.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <functional>

#include "kxtest.hpp"

namespace kxvt {

using kxtest::ImagePtr;
using kxtest::makeImage;
using kxtest::PaddedImage;
using kxtest::pixels;
using kxtest::randomImage;
using Op = std::function<Image *(Image *)>;

// A deep copy of the image's pixels as a cv::Mat.
inline cv::Mat toMat(const Image *im)
{
    return cv::Mat(im->height, im->width, CV_8UC(kxiBytesPerPixel(im->imageType)), im->data, size_t(im->pitch))
        .clone();
}

// The image's pixels, packed, compared with a Mat of the same layout.
inline bool sameAs(const Image *im, const cv::Mat &m)
{
    if (im->height != m.rows || im->width != m.cols || kxiBytesPerPixel(im->imageType) != m.channels()) return false;
    const cv::Mat view(im->height, im->width, m.type(), im->data, size_t(im->pitch));
    return cv::norm(view, m, cv::NORM_INF) == 0;
}

inline ImagePtr copyOf(const Image *im) { return ImagePtr(kxiClone(im, nullptr)); }

// A wrapper run on one copy of `src` gives the same result, type and pixels
// as the library call it stands for run on another.
inline void expectSameCall(const Image *src, const Op &wrapper, const Op &library)
{
    auto a = copyOf(src), b = copyOf(src);
    EXPECT_EQ(wrapper(a.get()), a.get());
    library(b.get());
    EXPECT_EQ(a->imageType, b->imageType);
    EXPECT_EQ(pixels(a.get()), pixels(b.get()));
}

// `op` returns `result` and leaves the
// image's type and pixels alone.
inline void expectUntouched(Image *im, const Op &op, const Image *result)
{
    const int type = im->imageType;
    const auto before = pixels(im);
    EXPECT_EQ(op(im), result);
    EXPECT_EQ(im->imageType, type);
    EXPECT_EQ(pixels(im), before);
}

constexpr int kTypes[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};

}  // namespace kxvt
