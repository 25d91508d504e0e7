// Perspective warps of the vision-filter library.
//
//   ikxWarp   all four types
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>

#include "vision_detail.hpp"

namespace {

// The inverse transform: maps a destination pixel (x, y, 1) to the
// homogeneous source position (X, Y, W).  Scaled so that W > 0 at the first
// destination point; positions with W <= 0 lie beyond the horizon.
bool inverseTransform(const float *srcPoints, const float *dstPoints, cv::Matx33d &inv)
{
    cv::Point2f s[4], d[4];
    for (int i = 0; i < 4; ++i) {
        s[i] = {srcPoints[2 * i], srcPoints[2 * i + 1]};
        d[i] = {dstPoints[2 * i], dstPoints[2 * i + 1]};
        if (!std::isfinite(s[i].x) || !std::isfinite(s[i].y) || !std::isfinite(d[i].x) || !std::isfinite(d[i].y))
            return false;
    }
    const cv::Matx33d forward = cv::getPerspectiveTransform(s, d);
    for (double v : forward.val)
        if (!std::isfinite(v)) return false;
    if (cv::invert(forward, inv, cv::DECOMP_LU) == 0) return false;
    for (double v : inv.val)
        if (!std::isfinite(v)) return false;
    const double w0 = inv(2, 0) * d[0].x + inv(2, 1) * d[0].y + inv(2, 2);
    if (!(w0 != 0)) return false;
    if (w0 < 0) inv = -inv;
    return true;
}

}  // namespace

extern "C" Image *ikxWarp(const Image *image, const float *srcPoints, const float *dstPoints, Image *dest)
{
    return kxv::guarded<Image *>(nullptr, [&]() -> Image * {
        if (!kxv::usable(image) || !srcPoints || !dstPoints) return nullptr;
        if (dest && !kxv::usable(dest)) return nullptr;
        cv::Matx33d inv;
        if (!inverseTransform(srcPoints, dstPoints, inv)) return nullptr;

        // Render into a separate buffer first: dest may be the source.
        const int outW = dest ? dest->width : image->width;
        const int outH = dest ? dest->height : image->height;
        cv::Mat rendered;
        cv::warpPerspective(kxv::wrap(image), rendered, cv::Mat(inv), cv::Size(outW, outH),
                            cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);

        kxv::Owned created(dest ? nullptr : kxCreateImage(image->imageType, image->width, image->height));
        if (!dest) {
            if (!created.get()) return nullptr;
            dest = created.get();
        } else if (dest->imageType != image->imageType && !kxiCast(dest, image->imageType)) {
            return nullptr;
        }

        // Copy the pixels whose source position, rounded to the nearest
        // pixel, lies on the source image; the rest keep dest's bytes.
        const int bpp = kxv::bytesPerPixel(image->imageType);
        const double lo = -0.5, hiX = image->width - 0.5, hiY = image->height - 0.5;
        for (int y = 0; y < outH; ++y) {
            const uint8_t *from = rendered.ptr(y);
            uint8_t *to = dest->data + ptrdiff_t(y) * dest->pitch;
            for (int x = 0; x < outW; ++x) {
                const double w = inv(2, 0) * x + inv(2, 1) * y + inv(2, 2);
                if (!(w > 0)) continue;
                const double sx = inv(0, 0) * x + inv(0, 1) * y + inv(0, 2);
                const double sy = inv(1, 0) * x + inv(1, 1) * y + inv(1, 2);
                if (sx >= lo * w && sx < hiX * w && sy >= lo * w && sy < hiY * w)
                    std::memcpy(to + size_t(x) * bpp, from + size_t(x) * bpp, size_t(bpp));
            }
        }
        return created.get() ? created.release() : dest;
    });
}
