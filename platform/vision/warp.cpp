// Perspective warps of the vision-filter library.
//
//   ikxWarp   all four types
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

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

// Which destination pixels map onto the source: (X, Y, W) = inv * (x, y, 1)
// with W > 0 and -0.5 <= X / W < hiX, -0.5 <= Y / W < hiY.  Along a row
// every condition is affine in x, so the pixels form one run.
struct OnSource {
    const cv::Matx33d &inv;
    double hiX, hiY;

    bool at(int x, int y) const
    {
        const double w = inv(2, 0) * x + inv(2, 1) * y + inv(2, 2);
        if (!(w > 0)) return false;
        const double sx = inv(0, 0) * x + inv(0, 1) * y + inv(0, 2);
        const double sy = inv(1, 0) * x + inv(1, 1) * y + inv(1, 2);
        return sx >= -0.5 * w && sx < hiX * w && sy >= -0.5 * w && sy < hiY * w;
    }

    // The run of row y inside 0..width-1 (first > last when empty): the
    // affine bounds narrow the search, the exact test fixes both ends.
    std::pair<int, int> span(int y, int width) const
    {
        double lo = -1, hi = width;
        // Each condition reads c * x + d >= 0 (or > 0).
        auto clip = [&](double c, double d) {
            if (c > 0)
                lo = std::max(lo, -d / c);
            else if (c < 0)
                hi = std::min(hi, -d / c);
            else if (d < 0)
                hi = -2;  // never true on this row
        };
        const double cw = inv(2, 0), dw = inv(2, 1) * y + inv(2, 2);
        const double cx = inv(0, 0), dx = inv(0, 1) * y + inv(0, 2);
        const double cy = inv(1, 0), dy = inv(1, 1) * y + inv(1, 2);
        clip(cw, dw);
        clip(cx + 0.5 * cw, dx + 0.5 * dw);
        clip(hiX * cw - cx, hiX * dw - dx);
        clip(cy + 0.5 * cw, dy + 0.5 * dw);
        clip(hiY * cw - cy, hiY * dw - dy);
        if (!(lo <= hi)) return {0, -1};
        int first = int(std::max(std::floor(lo) - 1, 0.0));
        int last = int(std::min(std::ceil(hi) + 1, double(width - 1)));
        while (first <= last && !at(first, y)) ++first;
        while (last >= first && !at(last, y)) --last;
        return {first, last};
    }
};

}  // namespace

extern "C" Image *ikxWarp(const Image *image, const float *srcPoints, const float *dstPoints, Image *dest)
{
    return kxv::guarded<Image *>(nullptr, [&]() -> Image * {
        if (!kxiIsWellFormed(image) || !srcPoints || !dstPoints) return nullptr;
        if (dest && !kxiIsWellFormed(dest)) return nullptr;
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
        const int bpp = kxiBytesPerPixel(image->imageType);
        const OnSource onSource{inv, image->width - 0.5, image->height - 0.5};
        for (int y = 0; y < outH; ++y) {
            const auto [first, last] = onSource.span(y, outW);
            if (first > last) continue;
            std::memcpy(dest->data + ptrdiff_t(y) * dest->pitch + size_t(first) * bpp,
                        rendered.ptr(y) + size_t(first) * bpp, size_t(last - first + 1) * bpp);
        }
        return created.get() ? created.release() : dest;
    });
}
