// Single-pixel access: kxGetPixel, kxGetPixelE1, kxSetPixel, kxSetPixelE1,
// kxSetPixelEx.  Accepts KIT_BIN, KIT_GRAY, KIT_RGB and KIT_RGBA; other
// types read 0 and write nothing.
#include <algorithm>
#include <cstdlib>

#include "frame/frame.hpp"

using namespace kx;

extern "C" {

uint32_t kxGetPixel(const Image *image, int x, int y)
{
    if (!image) return kx::failed("image", 0);
    if (!typeOk(image) || !inside(image, x, y)) return 0;
    return colourAt(image->imageType, row(image, y) + size_t(x) * kxiBytesPerPixel(image->imageType));
}

uint32_t kxGetPixelE1(const Image *image, int x, int y, int radius)
{
    if (!image) return kx::failed("image", 0);
    if (!typeOk(image)) return 0;
    const int64_t r = std::llabs(int64_t(radius));
    const int bpp = kxiBytesPerPixel(image->imageType);
    // The window clipped to the image: pixels outside are not visited.
    const int64_t x0 = std::max<int64_t>(int64_t(x) - r, 0), x1 = std::min<int64_t>(int64_t(x) + r, image->width - 1);
    const int64_t y0 = std::max<int64_t>(int64_t(y) - r, 0), y1 = std::min<int64_t>(int64_t(y) + r, image->height - 1);
    uint64_t sum[4] = {0, 0, 0, 0};
    int64_t n = 0;
    if (x0 <= x1 && y0 <= y1) {
        for (int64_t j = y0; j <= y1; ++j) {
            const uint8_t *p = row(image, int(j)) + x0 * bpp;
            for (int64_t i = x0; i <= x1; ++i, p += bpp)
                for (int c = 0; c < bpp; ++c) sum[c] += p[c];
        }
        n = (x1 - x0 + 1) * (y1 - y0 + 1);
    }
    uint8_t mean[4] = {0, 0, 0, 0};
    if (n > 0) {
        if (image->imageType == KIT_BIN)
            mean[0] = 2 * sum[0] >= uint64_t(n);
        else
            for (int c = 0; c < bpp; ++c) mean[c] = uint8_t(sum[c] / uint64_t(n));
    }
    return colourAt(image->imageType, mean);
}

void kxSetPixel(Image *image, int x, int y, uint32_t colour)
{
    if (!image) return kx::failed("image");
    if (!typeOk(image) || !inside(image, x, y)) return;
    pixelValue(image->imageType, colour, GreyRule::Clamp)
        .store(row(image, y) + size_t(x) * kxiBytesPerPixel(image->imageType));
}

void kxSetPixelE1(Image *image, const int *points, int count, int dx, int dy, uint32_t colour)
{
    if (!image) return kx::failed("image");
    if (!typeOk(image) || !points || count <= 0) return;
    const PixelValue v = pixelValue(image->imageType, colour, GreyRule::Clamp);
    for (int i = 0; i < count; ++i) {
        const int64_t x = int64_t(points[2 * i]) + dx, y = int64_t(points[2 * i + 1]) + dy;
        if (inside(image, x, y)) v.store(row(image, int(y)) + size_t(x) * v.bpp);
    }
}

void kxSetPixelEx(Image *image, uint32_t colour, const Image *mask, int invertMask)
{
    if (!image) return kx::failed("image");
    if (!typeOk(image)) return;
    if (mask && !kxiIsByteRecord(mask)) return;
    const PixelValue v = pixelValue(image->imageType, colour, GreyRule::Luminance);
    if (!mask) {
        for (int y = 0; y < image->height; ++y) {
            uint8_t *p = row(image, y);
            if (v.bpp == 1)
                std::memset(p, v.bytes[0], size_t(image->width));
            else
                for (int x = 0; x < image->width; ++x, p += v.bpp) v.store(p);
        }
        return;
    }
    const int w = std::min(image->width, mask->width), h = std::min(image->height, mask->height);
    const bool wantSet = invertMask == 0;
    for (int y = 0; y < h; ++y) {
        uint8_t *p = row(image, y);
        const uint8_t *m = row(mask, y);
        for (int x = 0; x < w; ++x, p += v.bpp)
            if ((m[x] != 0) == wantSet) v.store(p);
    }
}

}  // extern "C"
