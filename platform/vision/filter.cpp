// Filters of the vision-filter library, all in place.
//
//   ikxPyramid      all four types
//   ikxCanny        KIT_GRAY, KIT_BIN
//   ikxScharr       KIT_GRAY, KIT_RGB, KIT_RGBA
//   ikxSmooth       all four types
//   ikxErode        all four types
//   ikxDilate       all four types
//   ikxMorphology   all four types
//   ikxAdaptive     KIT_GRAY
#include <opencv2/imgproc.hpp>

#include <algorithm>
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

// A repeat count for the 3x3 minimum and maximum: beyond max(width,
// height) rounds every pixel already holds the image's extreme, so larger
// counts are cut there (OpenCV turns n rounds into one (2n+1)-wide window).
int rounds(const Image *im, int iterations) { return std::min(iterations, std::max(im->width, im->height)); }

bool thresholdOk(double t) { return std::isfinite(t) && t >= 0; }

}  // namespace

extern "C" Image *ikxPyramid(const Image *image, int direction, Image *dest)
{
    return kxv::guarded<Image *>(nullptr, [&]() -> Image * {
        if (!kxiIsWellFormed(image) || (dest && !kxiIsWellFormed(dest))) return nullptr;
        if (direction != KXV_PYR_DOWN && direction != KXV_PYR_UP) return nullptr;
        const int64_t w = direction == KXV_PYR_UP ? int64_t(image->width) * 2 : (int64_t(image->width) + 1) / 2;
        const int64_t h = direction == KXV_PYR_UP ? int64_t(image->height) * 2 : (int64_t(image->height) + 1) / 2;
        if (w * kxiBytesPerPixel(image->imageType) * h > INT32_MAX) return nullptr;

        cv::Mat result;
        if (direction == KXV_PYR_UP)
            cv::pyrUp(kxv::wrap(image), result, cv::Size(int(w), int(h)), cv::BORDER_REFLECT_101);
        else
            cv::pyrDown(kxv::wrap(image), result, cv::Size(int(w), int(h)), cv::BORDER_REFLECT_101);
        kxv::Owned made(kxv::imageFrom(result, image->imageType));
        if (!made.get()) return nullptr;
        if (!dest) return made.release();
        return kxiClone(made.get(), dest);
    });
}

extern "C" Image *ikxCanny(Image *image, double threshold1, double threshold2, int aperture)
{
    return kxv::guarded<Image *>(nullptr, [&]() -> Image * {
        if (!kxiIsWellFormed(image) || kxiBytesPerPixel(image->imageType) != 1) return nullptr;
        if (!thresholdOk(threshold1) || !thresholdOk(threshold2)) return nullptr;
        const bool l2 = (aperture & KXV_CANNY_L2) != 0;
        int size = aperture & ~KXV_CANNY_L2;
        if (size == 0) size = 3;
        if (size != 3 && size != 5 && size != 7) return nullptr;
        cv::Mat edges;
        cv::Canny(kxv::wrap(image), edges, threshold1, threshold2, size, l2);
        kxv::store(edges, image);
        return image;
    });
}

extern "C" Image *ikxScharr(Image *image, int direction)
{
    return kxv::guarded<Image *>(nullptr, [&]() -> Image * {
        if (!kxiIsWellFormed(image) || image->imageType == KIT_BIN) return nullptr;
        if (direction < KXV_SCHARR_X || direction > KXV_SCHARR_XY) return nullptr;
        cv::Mat m = kxv::wrap(image);
        cv::Mat dx, dy, ax, ay;
        if (direction != KXV_SCHARR_Y) {
            cv::Scharr(m, dx, CV_16S, 1, 0, 1, 0, cv::BORDER_REFLECT_101);
            cv::convertScaleAbs(dx, ax);
        }
        if (direction != KXV_SCHARR_X) {
            cv::Scharr(m, dy, CV_16S, 0, 1, 1, 0, cv::BORDER_REFLECT_101);
            cv::convertScaleAbs(dy, ay);
        }
        if (direction == KXV_SCHARR_XY) cv::add(ax, ay, ax);
        kxv::store(direction == KXV_SCHARR_Y ? ay : ax, image);
        return image;
    });
}

// Erosion or dilation by the 3 x 3 square, `iterations` times, in place.
template <class Op>
Image *morphBySquare(Image *image, int iterations, Op op)
{
    return kxv::guarded<Image *>(nullptr, [&]() -> Image * {
        if (!kxiIsWellFormed(image)) return nullptr;
        if (iterations <= 0) return image;
        cv::Mat m = kxv::wrap(image);
        op(m, m, cv::Mat(), cv::Point(-1, -1), rounds(image, iterations));
        return image;
    });
}

extern "C" Image *ikxErode(Image *image, int iterations)
{
    return morphBySquare(image, iterations, [](auto &&...a) { cv::erode(a...); });
}

extern "C" Image *ikxDilate(Image *image, int iterations)
{
    return morphBySquare(image, iterations, [](auto &&...a) { cv::dilate(a...); });
}

extern "C" Image *ikxMorphology(Image *image, int operation, int iterations)
{
    return kxv::guarded<Image *>(nullptr, [&]() -> Image * {
        if (!kxiIsWellFormed(image) || operation < KXV_MORPH_ERODE || operation > KXV_MORPH_BLACKHAT) return nullptr;
        if (iterations <= 0) return image;
        cv::Mat m = kxv::wrap(image);
        cv::morphologyEx(m, m, operation, cv::Mat(), cv::Point(-1, -1), rounds(image, iterations));
        return image;
    });
}

extern "C" Image *ikxAdaptive(Image *image, int mode, int blockSize, double offset)
{
    return kxv::guarded<Image *>(nullptr, [&]() -> Image * {
        if (!kxiIsWellFormed(image) || image->imageType != KIT_GRAY || !std::isfinite(offset)) return nullptr;
        if (blockSize < 3 || blockSize > KXV_MAX_WINDOW) return nullptr;
        const int method = mode == KXV_ADAPTIVE_GAUSSIAN ? cv::ADAPTIVE_THRESH_GAUSSIAN_C : cv::ADAPTIVE_THRESH_MEAN_C;
        cv::Mat m = kxv::wrap(image);
        cv::adaptiveThreshold(m, m, 255, method, cv::THRESH_BINARY, oddSide(blockSize), offset);
        return image;
    });
}

extern "C" Image *ikxSmooth(Image *image, int method, int width, int height, double sigmaX, double sigmaY)
{
    return kxv::guarded<Image *>(nullptr, [&]() -> Image * {
        if (!kxiIsWellFormed(image)) return nullptr;
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
