// Rectangle copies, channel and colour replacement, cropping:
// kxCopyPixels, kxCopyPixelsE2, kxReplaceChannel, kxReplacePixels, kxClip.
// Copies move whole pixels (1, 3 or 4 bytes) without looking at the type.
#include <algorithm>

#include "frame/frame.hpp"

using namespace kx;

extern "C" {

void kxCopyPixels(const Image *source, int sx, int sy, int sw, int sh, Image *destination, int dx, int dy, int dw,
                  int dh)
{
    if (!(source && destination)) return kx::failed("source && destination");
    if (source->imageType != destination->imageType || !typeOk(source) || !typeOk(destination)) return;
    // 64-bit from here: a start near INT_MIN must not wrap the extents.
    int64_t x0 = sx, y0 = sy, x1 = dx, y1 = dy;
    int64_t w0 = sw < 1 ? source->width : sw, h0 = sh < 1 ? source->height : sh;
    int64_t w1 = dw < 1 ? destination->width : dw, h1 = dh < 1 ? destination->height : dh;
    if (x0 < 0) w0 += x0, x0 = 0;
    if (y0 < 0) h0 += y0, y0 = 0;
    if (x1 < 0) w1 += x1, x1 = 0;
    if (y1 < 0) h1 += y1, y1 = 0;
    if (x0 >= source->width || y0 >= source->height || x1 >= destination->width || y1 >= destination->height) return;
    const int64_t cols = std::min({w0, w1, source->width - x0, destination->width - x1});
    const int64_t rows = std::min({h0, h1, source->height - y0, destination->height - y1});
    if (cols <= 0 || rows <= 0) return;
    const int bpp = kxiBytesPerPixel(source->imageType);
    for (int64_t r = 0; r < rows; ++r)
        std::memmove(row(destination, int(y1 + r)) + x1 * bpp, row(source, int(y0 + r)) + x0 * bpp,
                     size_t(cols) * bpp);
}

void kxCopyPixelsE2(const Image *source, Image *destination, int dx, int dy, const Image *mask)
{
    if (!source || !destination || source->imageType != destination->imageType) return;
    if (!typeOk(source) || !typeOk(destination)) return;
    if (mask && (!kxiIsByteRecord(mask) || !sameSize(mask, source))) return;
    int64_t x0 = dx, y0 = dy, extentW = destination->width, extentH = destination->height;
    if (x0 < 0) extentW += x0, x0 = 0;
    if (y0 < 0) extentH += y0, y0 = 0;
    if (x0 >= destination->width || y0 >= destination->height) return;
    const int64_t cols = std::min({int64_t(source->width), extentW, destination->width - x0});
    const int64_t rows = std::min({int64_t(source->height), extentH, destination->height - y0});
    if (cols <= 0 || rows <= 0) return;
    const int bpp = kxiBytesPerPixel(source->imageType);
    for (int64_t r = 0; r < rows; ++r) {
        const uint8_t *s = row(source, int(r));
        uint8_t *d = row(destination, int(y0 + r)) + x0 * bpp;
        if (!mask) {
            std::memmove(d, s, size_t(cols) * bpp);
            continue;
        }
        const uint8_t *m = row(mask, int(r));
        for (int64_t c = 0; c < cols; ++c)
            if (m[c]) std::memmove(d + c * bpp, s + c * bpp, size_t(bpp));
    }
}

Image *kxReplaceChannel(Image *image, const Image *channel, int selection)
{
    if (!image || !selection) return kx::failed("image && channel", image);
    if (!channel) return kx::failed("pChn", image);
    if (!typeOk(image) || !typeOk(channel)) return image;
    if (image->imageType != KIT_RGB && image->imageType != KIT_RGBA) return image;
    if (!sameSize(image, channel)) return image;
    const int bpp = kxiBytesPerPixel(image->imageType);
    // Selected destination channels: B, G, R, and A only in a KIT_RGBA image.
    bool sel[4] = {(selection & 1) != 0, (selection & 2) != 0, (selection & 4) != 0,
                   bpp == 4 && (selection & 8) != 0};
    if (channel->imageType == KIT_BIN || channel->imageType == KIT_GRAY) {
        const bool bin = channel->imageType == KIT_BIN;
        for (int y = 0; y < image->height; ++y) {
            uint8_t *p = row(image, y);
            const uint8_t *c = row(channel, y);
            for (int x = 0; x < image->width; ++x, p += bpp) {
                const uint8_t v = bin ? (c[x] > 0 ? 255 : 0) : c[x];
                for (int k = 0; k < bpp; ++k)
                    if (sel[k]) p[k] = v;
            }
        }
    } else if (channel->imageType == KIT_RGB) {
        if ((selection & 7) == 7) sel[0] = sel[1] = sel[2] = true;
        sel[3] = false;  // the alpha bit has no source channel here
        for (int y = 0; y < image->height; ++y) {
            uint8_t *p = row(image, y);
            const uint8_t *c = row(channel, y);
            for (int x = 0; x < image->width; ++x, p += bpp, c += 3)
                for (int k = 0; k < 3; ++k)
                    if (sel[k]) p[k] = c[k];
        }
    }
    return image;
}

void kxReplacePixels(Image *image, uint32_t oldColour, uint32_t newColour, const Image *mask)
{
    if (!image) return kx::failed("image");
    if (!typeOk(image)) return;
    if (mask && !kxiIsByteRecord(mask)) return;
    const int t = image->imageType, bpp = kxiBytesPerPixel(t);
    const int w = mask ? std::min(image->width, mask->width) : image->width;
    const int h = mask ? std::min(image->height, mask->height) : image->height;
    const PixelValue to = pixelValue(t, newColour, GreyRule::Clamp);
    PixelValue from = pixelValue(t, oldColour, GreyRule::LowByte);
    if (bpp == 1) {
        if (oldColour > 255) return;  // compared as an integer: no byte matches
        from.bytes[0] = uint8_t(oldColour);
    }
    const size_t cmp = t == KIT_RGB ? 3 : size_t(bpp);
    for (int y = 0; y < h; ++y) {
        uint8_t *p = row(image, y);
        const uint8_t *m = mask ? row(mask, y) : nullptr;
        for (int x = 0; x < w; ++x, p += bpp) {
            if (m && !m[x]) continue;
            if (std::memcmp(p, from.bytes, cmp) == 0) to.store(p);
        }
    }
}

Image *kxClip(Image *image, int left, int top, int right, int bottom)
{
    if (!image) return image;
    const int64_t w = int64_t(right) - left + 1, h = int64_t(bottom) - top + 1;
    if (w < 1 || h < 1 || !typeOk(image)) return image;
    if (w > INT32_MAX || h > INT32_MAX) return image;
    if (image->isVirtual && (w != image->width || h != image->height)) return image;  // cannot change size
    TempImage tmp(image->imageType, int(w), int(h));
    if (!tmp) return kx::failed("tmp", image);
    kxCopyPixels(image, left, top, int(w), int(h), tmp.get(), 0, 0, -1, -1);
    kxiClone(tmp.get(), image);
    return image;
}

}  // extern "C"
