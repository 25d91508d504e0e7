// Pixel-permuting and canvas operations:
//   kxRotate    quarter turns          KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxFlip      mirror                 KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxResize    canvas change          KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxTranslate sub-pixel shift        KIT_GRAY
//   kxRotateE3  turn about a point     KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA (becomes KIT_RGB)
//   kxTranslateE1 shift by a warp      KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA (becomes KIT_RGB)
// Whole pixels (1, 3 or 4 bytes) move without arithmetic; kxTranslate
// interpolates itself; kxRotateE3 and kxTranslateE1 map the image's corner
// quadrilateral through the perspective warp kxWarp.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "geometry/geometry_detail.hpp"

using namespace kx;
using namespace kx::geo;

namespace {

// Row a pixel x := row b pixel w-1-x and back, for two distinct rows; the
// reversal of one row in place when a == b.
template <int B>
void swapReversed(uint8_t *a, uint8_t *b, int w)
{
    if (a == b) {
        for (int x = 0, z = w - 1; x < z; ++x, --z) swapPixels<B>(a + size_t(x) * B, a + size_t(z) * B);
        return;
    }
    for (int x = 0; x < w; ++x) swapPixels<B>(a + size_t(x) * B, b + size_t(w - 1 - x) * B);
}

// Half turn in place: pixel (x, y) trades places with (w-1-x, h-1-y).
void halfTurn(Image *im)
{
    withBpp(kxiBytesPerPixel(im->imageType), [&](auto b) {
        constexpr int B = decltype(b)::value;
        for (int y = 0, z = im->height - 1; y <= z; ++y, --z) swapReversed<B>(row(im, y), row(im, z), im->width);
    });
}

// Quarter turn of a packed w x h source into the h x w image dst.
// Counter-clockwise (seen with rows running down): new (column c, row r) is
// old (w-1-r, c).  Clockwise: new (c, r) is old (r, h-1-c).  Walks square
// tiles so that both the rows read and the rows written stay in cache.
template <int B>
void quarterTurn(const uint8_t *src, int w, int h, Image *dst, bool counterClockwise)
{
    constexpr int kTile = 32;
    const size_t srcPitch = size_t(w) * B;
    for (int r0 = 0; r0 < w; r0 += kTile) {
        const int r1 = std::min(r0 + kTile, w);
        for (int c0 = 0; c0 < h; c0 += kTile) {
            const int c1 = std::min(c0 + kTile, h);
            // Three-byte pixels move as four bytes (the source copy has one
            // spare byte at its end); the fourth byte lands on the next
            // pixel of the row, written afterwards.  The row's last pixel
            // moves as three so nothing is written past the row.
            constexpr int M = B == 3 ? 4 : B;
            const int cw = B == 3 && c1 == h ? c1 - 1 : c1;
            for (int r = r0; r < r1; ++r) {
                uint8_t *d = row(dst, r) + size_t(c0) * B;
                const ptrdiff_t step = counterClockwise ? ptrdiff_t(srcPitch) : -ptrdiff_t(srcPitch);
                const uint8_t *s = counterClockwise ? src + size_t(c0) * srcPitch + size_t(w - 1 - r) * B
                                                    : src + size_t(h - 1 - c0) * srcPitch + size_t(r) * B;
                int c = c0;
                for (; c < cw; ++c, d += B, s += step) copyPixel<M>(d, s);
                for (; c < c1; ++c, d += B, s += step) copyPixel<B>(d, s);
            }
        }
    }
}

// The one-byte bilinear sample of kxTranslate, in double precision.  Takes
// positions with -1 <= sx < width and -1 <= sy < height; neighbours outside
// the image count as 0.
uint8_t translateSample(const uint8_t *data, int width, int height, int pitch, float sx, float sy)
{
    int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
    int x1 = x0 + 1, y1 = y0 + 1;
    double dx = sx - float(x0), dy = sy - float(y0);
    if (sx < 0.0) x0 = -1, x1 = 0, dx = sx + 1.0;
    if (sy < 0.0) y0 = -1, y1 = 0, dy = sy + 1.0;
    auto at = [&](int x, int y) { return double(data[ptrdiff_t(y) * pitch + x]); };
    const double p00 = x0 >= 0 && y0 >= 0 ? at(x0, y0) : 0.0;
    const double p01 = x1 < width && y0 >= 0 ? at(x1, y0) : 0.0;
    const double p10 = x0 >= 0 && y1 < height ? at(x0, y1) : 0.0;
    const double p11 = x1 < width && y1 < height ? at(x1, y1) : 0.0;
    const double top = (p01 - p00) * dx + p00;
    const double bottom = (p11 - p10) * dx + p10;
    const double v = (bottom - top) * dy + top;
    return uint8_t(int(v + 0.5));
}

// Maps the image's corners (0,0), (w,0), (w,h), (0,h) onto `moved` (the
// same corners after `move`) with kxWarp, on a background of `colour`.
// KIT_RGBA is turned into KIT_RGB first, as the warp draws three bytes.
template <class Move>
Image *warpCorners(Image *image, uint32_t colour, Move move)
{
    if (!image) return nullptr;
    if (!typeOk(image)) return image;
    int t = kxiGetImageType(image);
    if (t > KIT_RGB) {
        if (!kxiCast(image, KIT_RGB)) return image;  // a wrapped image cannot drop its alpha
        t = KIT_RGB;
    }
    const float nw = float(kxiGetWidth(image)), nh = float(kxiGetHeight(image));
    if (!(nw > 0 && nh > 0)) return kx::failed("nw > 0 && nh >0", image);
    TempImage imNew(t, int(nw), int(nh));
    if (!imNew) return kx::failed("imNew", image);
    kxSetPixelEx(imNew.get(), colour, nullptr, 0);
    const float sourceQuad[8] = {0, 0, nw, 0, nw, nh, 0, nh};
    float destinationQuad[8] = {0, 0, nw, 0, nw, nh, 0, nh};
    move(destinationQuad);
    // A refused warp (non-finite corners, or corners collapsed by a huge
    // shift) draws nothing: the picture has left the frame and the result
    // is the background colour everywhere.
    kxWarp(image, sourceQuad, destinationQuad, imNew.get());
    kxiClone(imNew.get(), image);
    return image;
}

}  // namespace

extern "C" {

Image *kxRotateE3(Image *image, double cx, double cy, double angle, uint32_t colour)
{
    return warpCorners(image, colour, [&](float *quad) {
        kxRotateVertexE1(quad, 4, float(cx), float(cy), float(angle));
    });
}

Image *kxTranslateE1(Image *image, double dx, double dy, uint32_t colour)
{
    return warpCorners(image, colour, [&](float *quad) {
        const float fx = float(dx), fy = float(dy);
        for (int i = 0; i < 4; ++i) quad[2 * i] = fx + quad[2 * i], quad[2 * i + 1] = fy + quad[2 * i + 1];
    });
}

Image *kxRotate(Image *image, int n)
{
    if (!image) return nullptr;
    int64_t k = std::llabs(int64_t(n)) % 4;
    if (n < 0) k = 4 - k;
    if (!typeOk(image) || k == 0 || k == 4) return image;
    if (k == 2) {
        halfTurn(image);  // in place: no buffer needed
        return image;
    }
    const int w = image->width, h = image->height, bpp = kxiBytesPerPixel(image->imageType);
    const size_t rb = size_t(w) * bpp;
    Scratch<uint8_t> buf(rb * size_t(h) + 1);  // one spare byte for four-byte moves
    if (!buf) return kx::failed("buf", image);
    for (int y = 0; y < h; ++y) std::memcpy(buf.get() + size_t(y) * rb, row(image, y), rb);
    // A wrapped image of another shape cannot take the turned size.
    if (!kxiSetSize(image, h, w)) return image;
    withBpp(bpp, [&](auto b) { quarterTurn<decltype(b)::value>(buf.get(), w, h, image, k == 1); });
    return image;
}

Image *kxFlip(Image *image, int mode)
{
    if (!image) return kx::failed("image", image);
    if (!typeOk(image)) return image;
    if (mode == 0) {
        halfTurn(image);  // upside down and left-right at once
        return image;
    }
    if (mode == 2) {
        const size_t rb = rowBytes(image);
        for (int y = 0, z = image->height - 1; y < z; ++y, --z) std::swap_ranges(row(image, y), row(image, y) + rb, row(image, z));
        return image;
    }
    if (mode != 1) return image;
    const int chn = ((image->type & 0x1F8) >> 3) + 1;
    if (!(chn >= 1 && chn <= 4)) return kx::failed("chn>=1 && chn <= 4", image);
    withBpp(chn, [&](auto b) {
        constexpr int B = decltype(b)::value;
        // Three-byte pixels reverse faster through a copy of the row (one
        // move per pixel instead of a three-way swap); without the copy
        // they are swapped in place.
        Scratch<uint8_t> copy{B == 3 ? rowBytes(image) : 0};
        for (int y = 0; y < image->height; ++y) {
            uint8_t *p = row(image, y);
            if (B == 3 && copy) {
                const int w = image->width;
                std::memcpy(copy.get(), p, rowBytes(image));
                for (int x = 0; x < w; ++x) copyPixel<B>(p + size_t(x) * B, copy.get() + size_t(w - 1 - x) * B);
            } else {
                swapReversed<B>(p, p, image->width);
            }
        }
    });
    return image;
}

Image *kxResize(Image *image, int newWidth, int newHeight, uint32_t colour)
{
    if (!image) return kx::failed("image", image);
    if (!typeOk(image) || image->isVirtual || newWidth < 1 || newHeight < 1) return image;
    newWidth = std::min(newWidth, 16384);
    newHeight = std::min(newHeight, 16384);
    TempImage tmp(image->imageType, newWidth, newHeight);
    if (!tmp) return image;
    kxSetPixelEx(tmp.get(), colour, nullptr, 0);
    kxCopyPixels(image, 0, 0, image->width, image->height, tmp.get(), 0, 0, -1, -1);
    kxiClone(tmp.get(), image);
    return image;
}

Image *kxTranslate(Image *image, float dx, float dy, int nearest)
{
    if (!image) return nullptr;
    if (image->imageType != KIT_GRAY || !typeOk(image)) return image;
    const int w = image->width, h = image->height;
    TempImage tmp(KIT_GRAY, w, h);
    if (!tmp) return image;
    kxiFlood(tmp.get(), 255);
    for (int y = 0; y < h; ++y) {
        uint8_t *d = row(tmp.get(), y);
        const float sy = float(y) + dy;
        for (int x = 0; x < w; ++x) {
            const float sx = float(x) + dx;
            if (nearest) {
                // Compared in double before the conversion: far or NaN
                // positions simply fall outside.
                const double fx = std::floor(sx + 0.5), fy = std::floor(sy + 0.5);
                if (fx >= 0 && fx < w && fy >= 0 && fy < h) d[x] = row(image, int(fy))[int(fx)];
            } else if (sy >= -1.0 && sy < float(h) && sx >= -1.0 && sx < float(w)) {
                d[x] = translateSample(image->data, w, h, image->pitch, sx, sy);
            }
        }
    }
    kxiClone(tmp.get(), image);
    return image;
}

}  // extern "C"
