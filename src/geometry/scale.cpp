// Filtered and nearest-neighbour scaling, square-pixel correction:
//   kxScaleEx          into a caller-sized image   KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxScale            in place by a factor        KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxScaleE1          kxScale, or a reduction centred on a colour at the old size
//                                                  KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxMakeSquarePixel  stretch one side by a pixel aspect ratio
//                                                  KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
// Filter codes: 2 bilinear, 3 box, 4 Gaussian, 5 Hamming, 6 Blackman (the
// two-pass resampler of two_pass_scale.cpp); any other code, and every
// KIT_BIN image, scales by nearest neighbour.
#include <algorithm>

#include "geometry/geometry_detail.hpp"
#include "geometry/two_pass_scale.hpp"

using namespace kx;
using namespace kx::geo;

namespace {

// Nearest neighbour: destination (x, y) takes source
// (trunc(x / rx + 0.5), trunc(y / ry + 0.5)), rx = float(dstW * 1.0 / srcW);
// a destination column or row whose source index falls past the source
// keeps what it held.  False when the column table cannot be allocated.
bool scaleNearest(const uint8_t *src, int ch, int srcW, int srcH, int srcPitch, uint8_t *dst, int dstW, int dstH,
                  int dstPitch)
{
    if (srcW == 0 || srcH == 0 || dstW == 0 || dstH == 0) return true;
    if (!dst) return kx::failed("pDestImage && pDestImage", false);
    const float rx = float(dstW * 1.0 / srcW), ry = float(dstH * 1.0 / srcH);
    Scratch<int> cols{size_t(dstW)};
    if (!cols) return false;
    int usable = dstW;  // ix never decreases with x: columns from here on are skipped
    for (int x = 0; x < dstW; ++x) {
        cols[x] = int(float(x) / rx + 0.5);
        if (cols[x] >= srcW) {
            usable = x;
            break;
        }
    }
    withBpp(ch, [&](auto b) {
        constexpr int B = decltype(b)::value;
        for (int y = 0; y < dstH; ++y) {
            const int iy = int(float(y) / ry + 0.5);
            if (iy >= srcH) continue;
            const uint8_t *s = src + size_t(iy) * srcPitch;
            uint8_t *d = dst + size_t(y) * dstPitch;
            if (s == d) continue;  // the same row of the same image at the same size
            for (int x = 0; x < usable; ++x) copyPixel<B>(d + size_t(x) * B, s + size_t(cols[x]) * B);
        }
    });
    return true;
}

template <class Filter>
bool runScaler(const Image *s, Image *d, int ch)
{
    C2PassScale<Filter> scaleEngine(ch, nullptr);
    return scaleEngine.scale(s->data, s->width, s->height, s->pitch, d->data, d->width, d->height, d->pitch) != nullptr;
}

// A side scaled by factor, (int)(side * factor + 0.5) in extended precision,
// as a long double so that huge factors can be clamped before converting.
long double scaledSide(int side, float factor) { return (long double)side * factor + 0.5L; }

// Scales into a new image of nw x nh and hands it to the caller's record.
int rescaleTo(Image *image, int nw, int nh, int filter)
{
    kx::TempImage tmp(image->imageType, nw, nh);
    if (!tmp) return kx::failed("im", 0);
    // A scale that could not run (memory) leaves the image as it was.
    if (!kxScaleEx(image, tmp.get(), filter)) return 0;
    return kxiClone(tmp.get(), image) ? 1 : 0;
}

}  // namespace

extern "C" {

int kxScaleEx(const Image *source, Image *destination, int filter)
{
    if (!source) return kx::failed("imgOri", 0);
    if (!destination) return kx::failed("imgNew", 0);
    if (destination->isVirtual) return 0;
    if (!typeOk(source)) return 0;
    if (destination->imageType != source->imageType) {
        // The destination takes the source's type; a failed re-allocation
        // restores its own so the record keeps describing its pixels.
        const int own = destination->imageType;
        destination->imageType = source->imageType;
        if (!kxiResize(destination, destination->width, destination->height)) {
            destination->imageType = own;
            return 0;
        }
    }
    if (!typeOk(destination)) return 0;
    const int ch = kxiBytesPerPixel(source->imageType);
    if (source->imageType == KIT_BIN) filter = 0;
    bool ok = false;
    switch (filter) {
    case 2: ok = runScaler<CBilinearFilter>(source, destination, ch); break;
    case 3: ok = runScaler<CBoxFilter>(source, destination, ch); break;
    case 4: ok = runScaler<CGaussianFilter>(source, destination, ch); break;
    case 5: ok = runScaler<CHammingFilter>(source, destination, ch); break;
    case 6: ok = runScaler<CBlackmanFilter>(source, destination, ch); break;
    default:
        ok = scaleNearest(source->data, ch, source->width, source->height, source->pitch, destination->data,
                          destination->width, destination->height, destination->pitch);
        break;
    }
    return ok ? 1 : 0;
}

int kxScale(Image *image, float factor, int filter)
{
    if (!image || image->isVirtual || !typeOk(image)) return 0;
    if (!(factor > 0)) return 0;
    auto side = [&](int s) {
        const long double v = scaledSide(s, factor);
        if (v >= 16384) return 16384;
        const int n = int(v);
        return n < 2 ? 2 : n;
    };
    Image *dst = kxCreateImageEx(image->imageType, side(image->width), side(image->height), 0, nullptr, 0);
    if (!dst) return kx::failed("0", 0);
    int r = kxScaleEx(image, dst, filter);
    if (r && !kxiClone(dst, image)) r = 0;
    kxDestroyImage(dst);
    return r;
}

Image *kxScaleE1(Image *image, float factor, uint32_t colour, int filter, int keepSize)
{
    if (!image) return nullptr;
    if (image->isVirtual || !typeOk(image) || !(factor > 0)) return image;
    if (keepSize == 0 || factor >= 1.0f) {
        kxScale(image, factor, filter);
        return image;
    }
    const int nw = int(scaledSide(image->width, factor)), nh = int(scaledSide(image->height, factor));
    if (nw < 1 || nh < 1) {
        kxSetPixelEx(image, colour, nullptr, 0);
        return image;
    }
    kx::TempImage tmp(image->imageType, nw, nh);
    if (!tmp) return kx::failed("imTmp", image);
    if (!kxScaleEx(image, tmp.get(), filter)) return image;  // out of memory: nothing lost
    const int offX = (image->width - nw) / 2, offY = (image->height - nh) / 2;
    kxSetPixelEx(image, colour, nullptr, 0);
    kxCopyPixels(tmp.get(), 0, 0, -1, -1, image, offX, offY, -1, -1);
    return image;
}

int kxMakeSquarePixel(Image *image, int pixelSizeX, int pixelSizeY, int filter, int shrink)
{
    if (!image) return kx::failed("image", 0);
    if (!(pixelSizeX > 0 && pixelSizeY > 0)) return kx::failed("pixelSizeX > 0 && pixelSizeY > 0", 0);
    if (!typeOk(image) || pixelSizeX == pixelSizeY) return 0;
    const double X = pixelSizeX, Y = pixelSizeY;
    const int w = image->width, h = image->height;
    // Sides are compared in double before they become ints.
    if (!shrink) {
        if (X > Y) {
            const double nh = X / Y * h + 0.5;
            if (!(nh < 16385.0)) return kx::failed("new_h <= (8192 << 1)", 0);
            if (int(nh) == h || image->isVirtual) return 0;
            return rescaleTo(image, w, int(nh), filter);
        }
        const double nw = Y / X * w + 0.5;
        if (!(nw < 16385.0)) return kx::failed("new_w <= (8192 << 1)", 0);
        if (int(nw) == w || image->isVirtual) return 0;
        return rescaleTo(image, int(nw), h, filter);
    }
    if (X > Y) {
        const int nw = int(Y / X * w + 0.5);
        if (!(nw > 0)) return kx::failed("new_w >0", 0);
        if (nw == w || image->isVirtual) return 0;
        return rescaleTo(image, nw, h, filter);
    }
    const int nh = int(X / Y * h + 0.5);
    if (!(nh > 0)) return kx::failed("new_h >0", 0);
    if (nh == h || image->isVirtual) return 0;
    return rescaleTo(image, w, nh, filter);
}

}  // extern "C"
