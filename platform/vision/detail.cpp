// Record checks and Mat headers of the vision-filter library.
#include "vision_detail.hpp"

#include <cstring>

namespace kxv {

namespace {

struct Once : cv::ParallelLoopBody {
    const std::function<void()> &f;
    explicit Once(const std::function<void()> &fn) : f(fn) {}
    void operator()(const cv::Range &) const override { f(); }
};

}  // namespace

// A parallel_for_ over one item runs its body directly on this thread, and
// OpenCV runs every parallel loop nested in it serially.  (While it runs,
// other OpenCV loops of the process run serially too; their results do not
// change.)
void onCallerThread(const std::function<void()> &f) { cv::parallel_for_(cv::Range(0, 1), Once(f)); }

cv::Mat wrap(const Image *im)
{
    return cv::Mat(im->height, im->width, CV_8UC(kxiBytesPerPixel(im->imageType)), im->data, size_t(im->pitch));
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
    const size_t n = size_t(im->width) * size_t(kxiBytesPerPixel(im->imageType));
    CV_Assert(m.rows == im->height && m.cols == im->width && m.elemSize() * size_t(m.cols) == n);
    for (int y = 0; y < im->height; ++y) std::memcpy(im->data + size_t(y) * im->pitch, m.ptr(y), n);
}

}  // namespace kxv
