// Shared by the vision-filter library's sources: record checks, cv::Mat
// headers over Image pixels, and the boundary that keeps exceptions inside.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <exception>
#include <functional>

#include "kxthreads.h"
#include "kxvision.h"

namespace kxv {

// A cv::Mat header over the image's pixels (no copy): rows `pitch` bytes
// apart, width * bpp bytes of each row.  The image must be well formed (kxiIsWellFormed).
cv::Mat wrap(const Image *im);

// A new packed image holding the Mat's pixels (8-bit, 1, 3 or 4 channels);
// null when it cannot be created.
Image *imageFrom(const cv::Mat &m, int imageType) noexcept;

// Copies a Mat of the image's size and channel count into its rows.
void store(const cv::Mat &m, Image *im);

// Runs f on the calling thread only: inside a one-item parallel region, in
// which OpenCV does not split its work over threads of its own.
void onCallerThread(const std::function<void()> &f);

// Runs body(); an exception thrown inside becomes `failed`.  Every exported
// function of the library goes through here so that nothing crosses the C
// interface.  OpenCV may use its threads only when the caller turned the
// project's threads on (kxtSetThreads, KXPRE_THREADS); otherwise the call
// starts none.
template <class R, class F>
R guarded(R failed, F &&body) noexcept
{
    try {
        if (kxtGetThreads() > 1) return body();
        R result = failed;
        onCallerThread([&] { result = body(); });
        return result;
    } catch (...) {
        return failed;
    }
}

// Images created by a call, destroyed unless handed to the caller.
class Owned {
public:
    explicit Owned(Image *im = nullptr) : im_(im) {}
    ~Owned() { kxDestroyImage(im_); }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    Image *get() const { return im_; }
    Image *release()
    {
        Image *im = im_;
        im_ = nullptr;
        return im;
    }

private:
    Image *im_;
};

}  // namespace kxv
