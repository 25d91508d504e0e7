// Flood fills of the vision-filter library.
//
//   ikxFloodFill    all four types (KIT_RGBA: alpha kept, not compared)
//   ikxFloodFillM   all four types
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

#include "vision_detail.hpp"

namespace {

// Tolerances as OpenCV takes them: each finite and >= 0, at most 255 (no
// byte difference is larger).  False for a refused record.
bool tolerance(const FloodRecord &r, cv::Scalar &out)
{
    for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(r.val[i]) || r.val[i] < 0) return false;
        out[i] = std::min(r.val[i], 255.0);
    }
    return true;
}

bool seedOk(const Image *im, int x, int y) { return x >= 0 && y >= 0 && x < im->width && y < im->height; }

int floodFlags(int connectivity, int flags)
{
    return (connectivity == 8 ? 8 : 4) | (flags & KXV_FLOOD_FIXED_RANGE) | (flags & 0xFF00);
}

// The pixels OpenCV compares: the image itself, or for KIT_RGBA a copy of
// its B, G, R bytes (OpenCV fills one- and three-channel images).
cv::Mat comparable(const Image *image)
{
    const cv::Mat m = kxv::wrap(image);
    if (image->imageType != KIT_RGBA) return m;
    cv::Mat bgr;
    cv::cvtColor(m, bgr, cv::COLOR_BGRA2BGR);
    return bgr;
}

}  // namespace

extern "C" int ikxFloodFill(Image *image, int x, int y, FloodValue value, FloodRecord lo, FloodRecord up,
                            int connectivity, int flags)
{
    return kxv::guarded<int>(0, [&]() -> int {
        cv::Scalar loDiff, upDiff;
        if (!kxiIsWellFormed(image) || !seedOk(image, x, y)) return 0;
        if (!tolerance(lo, loDiff) || !tolerance(up, upDiff)) return 0;
        const int cvFlags = floodFlags(connectivity, flags) & ~0xFF00;
        const cv::Point seed(x, y);
        switch (image->imageType) {
        case KIT_BIN: {
            cv::Mat m = kxv::wrap(image);
            return cv::floodFill(m, seed, cv::Scalar(value.b != 0), nullptr, loDiff, upDiff, cvFlags);
        }
        case KIT_GRAY: {
            cv::Mat m = kxv::wrap(image);
            return cv::floodFill(m, seed, cv::Scalar(value.b), nullptr, loDiff, upDiff, cvFlags);
        }
        case KIT_RGB: {
            cv::Mat m = kxv::wrap(image);
            return cv::floodFill(m, seed, cv::Scalar(value.b, value.g, value.r), nullptr, loDiff, upDiff, cvFlags);
        }
        default: {
            // Find the region on the colour bytes, then paint B, G, R only.
            cv::Mat bgr = comparable(image);
            cv::Mat mask = cv::Mat::zeros(image->height + 2, image->width + 2, CV_8UC1);
            const int area = cv::floodFill(bgr, mask, seed, cv::Scalar(), nullptr, loDiff, upDiff,
                                           cvFlags | cv::FLOODFILL_MASK_ONLY | (1 << 8));
            for (int row = 0; row < image->height; ++row) {
                const uint8_t *marks = mask.ptr(row + 1) + 1;
                uint8_t *p = image->data + ptrdiff_t(row) * image->pitch;
                for (int col = 0; col < image->width; ++col, p += 4)
                    if (marks[col] == 1) p[0] = value.b, p[1] = value.g, p[2] = value.r;
            }
            return area;
        }
        }
    });
}

extern "C" Image *ikxFloodFillM(const Image *image, int x, int y, FloodRecord lo, FloodRecord up, int connectivity,
                                int flags, Image *mask)
{
    return kxv::guarded<Image *>(nullptr, [&]() -> Image * {
        cv::Scalar loDiff, upDiff;
        if (!kxiIsWellFormed(image) || !seedOk(image, x, y) || mask == image) return nullptr;
        if (!tolerance(lo, loDiff) || !tolerance(up, upDiff)) return nullptr;
        const int64_t mw = int64_t(image->width) + 2, mh = int64_t(image->height) + 2;
        if (mw * mh > INT32_MAX) return nullptr;
        const cv::Mat pixels = comparable(image);

        kxv::Owned made(mask ? nullptr : kxCreateImage(KIT_GRAY, int(mw), int(mh)));
        if (!mask) {
            if (!made.get()) return nullptr;
            mask = made.get();
        } else {
            if (!kxiIsWellFormed(mask)) return nullptr;
            const bool fits = kxiBytesPerPixel(mask->imageType) == 1 && mask->width == mw && mask->height == mh;
            if (!fits) {
                // Re-shape into a zeroed grey mask; a virtual image refuses.
                if (mask->isVirtual) return nullptr;
                if (kxiBytesPerPixel(mask->imageType) != 1 && !kxiCast(mask, KIT_GRAY)) return nullptr;
                if (!kxiResize(mask, int(mw), int(mh))) return nullptr;
                kxiFlood(mask, 0);
            }
        }
        cv::Mat m = kxv::wrap(mask);
        cv::Mat img = pixels;  // a header; MASK_ONLY leaves the pixels alone
        cv::floodFill(img, m, cv::Point(x, y), cv::Scalar(), nullptr, loDiff, upDiff,
                      floodFlags(connectivity, flags) | cv::FLOODFILL_MASK_ONLY);
        return made.get() ? made.release() : mask;
    });
}
