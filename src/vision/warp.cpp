// Perspective warps handed to the vision-filter library.
//
//   kxWarp          KIT_BIN, KIT_GRAY, KIT_RGB (others: dest untouched)
//   kxUnwarp        KIT_BIN, KIT_GRAY, KIT_RGB
//   kxWarpEx        KIT_BIN, KIT_GRAY, KIT_RGB
//   kxCopyPixelsE3  KIT_BIN, KIT_GRAY, KIT_RGB (others: nothing)
#include <algorithm>
#include <cmath>
#include <cstring>

#include "vision/vision_detail.hpp"

namespace kx::vision {

void binariseBytes(Image *im) noexcept
{
    if (!im || im->imageType != KIT_BIN) return;
    if (!im->data) return kx::failed("pData");
    if (!kxiIsWellFormed(im)) return;
    for (int y = 0; y < im->height; ++y) {
        uint8_t *p = row(im, y);
        for (int x = 0; x < im->width; ++x) p[x] = p[x] != 0;
    }
}

}  // namespace kx::vision

namespace {

using kx::vision::binariseBytes;

// The types the warps take: 1..24.
bool warpable(int imageType) { return imageType >= 1 && imageType <= 24; }

// dest takes the source's imageType before it is drawn into.  An unusable
// dest record is left for the warp to refuse.
void matchType(Image *dest, int imageType)
{
    if (dest && kxiIsWellFormed(dest) && kxiGetImageType(dest) != imageType) kxiCast(dest, imageType);
}

}  // namespace

extern "C" {

Image *kxWarp(const Image *image, const float *srcPoints, const float *dstPoints, Image *dest)
{
    if (!image || !warpable(image->imageType)) return dest;
    matchType(dest, image->imageType);
    dest = ikxWarp(image, srcPoints, dstPoints, dest);
    if (image->imageType == KIT_BIN) binariseBytes(dest);
    return dest;
}

Image *kxUnwarp(const Image *image, const float *srcPoints, Image *dest)
{
    if (!dest || !image || !warpable(image->imageType)) return dest;
    matchType(dest, image->imageType);
    const float right = float(kxiGetWidth(dest) - 1), bottom = float(kxiGetHeight(dest) - 1);
    const float corners[8] = {0, 0, right, 0, right, bottom, 0, bottom};
    Image *result = ikxWarp(image, srcPoints, corners, dest);
    if (image->imageType == KIT_BIN) binariseBytes(result);
    return result;
}

Image *kxWarpEx(const Image *image, const float *pSrcControls, int srcCount, const float *pDestControls,
                int dstCount, int patch, Image *dest)
{
    if (!image) return kx::failed("image", dest);
    if (!(pSrcControls && pDestControls)) return kx::failed("pSrcControls && pDestControls", dest);
    const int type = image->imageType;
    if (!warpable(type) || srcCount < 4 || dstCount < 4) return dest;

    // The full warp: always without a patch, and as the canvas of a patch
    // that has no destination yet.
    if (patch == 0 || !dest) {
        dest = ikxWarp(image, pSrcControls, pDestControls, dest);
        if (type == KIT_BIN) binariseBytes(dest);
    }
    if (!dest) return dest;

    // The patch box: the destination points rounded to nearest.
    int64_t minX = INT64_MAX, maxX = INT64_MIN, minY = INT64_MAX, maxY = INT64_MIN;
    for (int i = 0; i < 4; ++i) {
        const double x = double(pDestControls[2 * i]) + 0.5, y = double(pDestControls[2 * i + 1]) + 0.5;
        if (!(std::fabs(x) < 1e15 && std::fabs(y) < 1e15)) return dest;
        minX = std::min(minX, int64_t(x));
        maxX = std::max(maxX, int64_t(x));
        minY = std::min(minY, int64_t(y));
        maxY = std::max(maxY, int64_t(y));
    }
    if (maxX - minX + 1 < 1 || maxY - minY + 1 < 1) return dest;

    if (dest->imageType != type && kxiIsWellFormed(dest)) kxiCast(dest, type);
    if (dest->imageType != type || !kxiIsWellFormed(dest)) return dest;  // a dest that cannot take the patch

    // Only the part of the box that overlaps dest can change it: render
    // just that part, with the same quadrilateral in dest's coordinates.
    const int64_t x0 = std::max<int64_t>(minX, 0), x1 = std::min<int64_t>(maxX, dest->width - 1);
    const int64_t y0 = std::max<int64_t>(minY, 0), y1 = std::min<int64_t>(maxY, dest->height - 1);
    if (x0 > x1 || y0 > y1) return dest;

    kx::TempImage patchImage(type, int(x1 - x0 + 1), int(y1 - y0 + 1));
    if (!patchImage) return kx::failed("imTmp", dest);
    float local[8], shifted[8];
    for (int i = 0; i < 4; ++i) {
        local[2 * i] = pDestControls[2 * i] - float(minX);
        local[2 * i + 1] = pDestControls[2 * i + 1] - float(minY);
        shifted[2 * i] = pDestControls[2 * i] - float(x0);
        shifted[2 * i + 1] = pDestControls[2 * i + 1] - float(y0);
    }
    ikxWarp(image, pSrcControls, shifted, patchImage.get());
    if (type == KIT_BIN) binariseBytes(patchImage.get());

    const size_t bpp = size_t(kxiBytesPerPixel(type));
    for (int64_t ty = y0; ty <= y1; ++ty) {
        const uint8_t *from = kx::row(patchImage.get(), int(ty - y0));
        uint8_t *to = kx::row(dest, int(ty));
        for (int64_t tx = x0; tx <= x1; ++tx) {
            if (kxIsPointInPolygonE3(float(tx - minX), float(ty - minY), local, 4))
                std::memcpy(to + size_t(tx) * bpp, from + size_t(tx - x0) * bpp, bpp);
        }
    }
    return dest;
}

void kxCopyPixelsE3(const Image *source, Image *destination, const float *quad)
{
    if (!source || !destination) return;
    const int type = kxiGetImageType(source);
    if (type > 24) return;
    matchType(destination, type);
    const float nw = float(kxiGetWidth(destination)), nh = float(kxiGetHeight(destination));
    if (!(nw > 0 && nh > 0)) return kx::failed("nw > 0 && nh >0");
    const float corners[8] = {0, 0, nw, 0, nw, nh, 0, nh};
    kxWarp(source, quad, corners, destination);
}

}  // extern "C"
