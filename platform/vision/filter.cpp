// Filters of the vision-filter library, all in place.
//
//   ikxSmooth       all four types
#include <opencv2/imgproc.hpp>

#include <cmath>

#include "vision_detail.hpp"

namespace {

// An even window side grows to the next odd size.
int oddSide(int side) { return side % 2 == 0 ? side + 1 : side; }

bool sideOk(int side) { return side >= 1 && side <= KXV_MAX_WINDOW; }

// The Gaussian side derived from a sigma (as OpenCV derives it for 8-bit
// images); 0 when it would exceed the window limit.
int sideFromSigma(double sigma)
{
    const double side = std::round(sigma * 6 + 1);
    if (!(side <= KXV_MAX_WINDOW)) return 0;
    return int(side) | 1;
}

}  // namespace

extern "C" Image *ikxSmooth(Image *image, int method, int width, int height, double sigmaX, double sigmaY)
{
    return kxv::guarded<Image *>(nullptr, [&]() -> Image * {
        if (!kxv::usable(image)) return nullptr;
        cv::Mat m = kxv::wrap(image);
        switch (method) {
        case KXV_SMOOTH_BOX:
            if (!sideOk(width) || !sideOk(height)) return nullptr;
            cv::blur(m, m, cv::Size(width, height), cv::Point(-1, -1), cv::BORDER_REFLECT_101);
            return image;
        case KXV_SMOOTH_GAUSSIAN: {
            if (!std::isfinite(sigmaX) || !std::isfinite(sigmaY)) return nullptr;
            if (sigmaY <= 0) sigmaY = sigmaX;
            if (width <= 0 && sigmaX > 0) width = sideFromSigma(sigmaX);
            if (height <= 0 && sigmaY > 0) height = sideFromSigma(sigmaY);
            if (!sideOk(width) || !sideOk(height)) return nullptr;
            width = oddSide(width);
            height = oddSide(height);
            if (width > KXV_MAX_WINDOW || height > KXV_MAX_WINDOW) return nullptr;
            cv::GaussianBlur(m, m, cv::Size(width, height), std::max(sigmaX, 0.0), std::max(sigmaY, 0.0),
                             cv::BORDER_REFLECT_101);
            return image;
        }
        case KXV_SMOOTH_MEDIAN:
            if (!sideOk(width)) return nullptr;
            width = oddSide(width);
            if (width > KXV_MAX_WINDOW) return nullptr;
            cv::medianBlur(m, m, width);
            return image;
        default: return nullptr;
        }
    });
}
