// Record checks and Mat headers of the vision-filter library.
#include "vision_detail.hpp"

#include <cstring>

namespace kxv {

int bytesPerPixel(int imageType) noexcept
{
    switch (imageType) {
    case KIT_BIN:
    case KIT_GRAY: return 1;
    case KIT_RGB: return 3;
    case KIT_RGBA: return 4;
    default: return 0;
    }
}

bool usable(const Image *im) noexcept
{
    if (!im) return false;
    const int bpp = bytesPerPixel(im->imageType);
    if (bpp == 0 || !im->data || im->width < 1 || im->height < 1) return false;
    if (int64_t(im->pitch) < int64_t(im->width) * bpp) return false;
    if (int64_t(im->pitch) * im->height > INT32_MAX) return false;
    return ((im->type & 0x1F8) >> 3) + 1 == bpp;
}

cv::Mat wrap(const Image *im)
{
    return cv::Mat(im->height, im->width, CV_8UC(bytesPerPixel(im->imageType)), im->data, size_t(im->pitch));
}

Image *imageFrom(const cv::Mat &m, int imageType) noexcept
{
    Image *im = kxCreateImage(imageType, m.cols, m.rows);
    if (!im) return nullptr;
    const size_t n = size_t(m.cols) * m.elemSize();
    for (int y = 0; y < m.rows; ++y) std::memcpy(im->data + size_t(y) * im->pitch, m.ptr(y), n);
    return im;
}

void store(const cv::Mat &m, Image *im)
{
    const size_t n = size_t(im->width) * size_t(bytesPerPixel(im->imageType));
    CV_Assert(m.rows == im->height && m.cols == im->width && m.elemSize() * size_t(m.cols) == n);
    for (int y = 0; y < im->height; ++y) std::memcpy(im->data + size_t(y) * im->pitch, m.ptr(y), n);
}

}  // namespace kxv
