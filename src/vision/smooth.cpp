// Smoothing handed to the vision-filter library.
//
//   kxBlur            KIT_GRAY, KIT_RGB (KIT_BIN, KIT_RGBA: untouched)
//   kxSmoothGaussian  KIT_GRAY, KIT_RGB
//   kxSmoothMedian    KIT_GRAY, KIT_RGB
#include "vision/vision_detail.hpp"

namespace {

// The smoothing wrappers call the library for imageType 8..24.
bool smoothable(const Image *image) { return image->imageType >= 8 && image->imageType <= 24; }

}  // namespace

extern "C" {

Image *kxBlur(Image *image, int width, int height)
{
    if (!image) return nullptr;
    if (!smoothable(image)) return image;
    return ikxSmooth(image, KXV_SMOOTH_BOX, width, height, 0.0, 0.0);
}

Image *kxSmoothGaussian(Image *image, int width, int height)
{
    if (!image) return nullptr;
    if (!smoothable(image)) return image;
    return ikxSmooth(image, KXV_SMOOTH_GAUSSIAN, width, height, 0.0, 0.0);
}

Image *kxSmoothMedian(Image *image, int size)
{
    if (!image) return nullptr;
    if (!smoothable(image)) return image;
    return ikxSmooth(image, KXV_SMOOTH_MEDIAN, size, size, 0.0, 0.0);
}

}  // extern "C"
