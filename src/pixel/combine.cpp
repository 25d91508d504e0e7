// Pixel-wise combination of two images and inversion: kxPixelMerge and its
// nine shortcuts, kxPixelMergeE1, kxInvert.  All four image types; the
// images of a combination must share their imageType.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "frame/frame.hpp"
#include "frame/isa.hpp"
#include "kxthreads_bands.hpp"

using namespace kx;

namespace {

// Walks the common top-left area of two images of one type, handing each
// row pair and the row's byte count to f; two images without row padding
// go as one run (the same bytes in the same order).
// With threads on the rows go in bands, unless the two images are distinct
// but share memory: then only the plain order gives the plain result.
template <class A, class B, class F>
void forCommonRows(A *a, B *b, F &&f)
{
    const int w = std::min(a->width, b->width), h = std::min(a->height, b->height);
    const size_t n = size_t(w) * size_t(kxiBytesPerPixel(a->imageType));
    const bool packed = size_t(a->pitch) == n && size_t(b->pitch) == n;
    const auto *aEnd = row(a, h - 1) + n, *bEnd = row(b, h - 1) + n;
    const bool sameRows = a->data == b->data && a->pitch == b->pitch;
    const bool apart = aEnd <= b->data || bEnd <= a->data;
    const int minRows = sameRows || apart ? threads::minRows(w) : h;
    threads::forBands(h, minRows, [&](int y0, int y1) {
        if (packed) return f(row(a, y0), row(b, y0), n * size_t(y1 - y0));
        for (int y = y0; y < y1; ++y) f(row(a, y), row(b, y), n);
    });
}

// b[i] = op(a[i], b[i]) over a row, or its "above 0" for KIT_BIN.  The
// operations are written on bytes so that each maps to one or two vector
// instructions; their values equal the integer rules (add saturates at 255,
// subtract at 0, the difference is |a - b|).  No restrict: image0 and
// image1 may be the same image, and the compiler's overlap check keeps the
// byte order of the plain loop whenever the rows overlap.
template <class Op>
inline void combineBytes(const uint8_t *a, uint8_t *b, size_t n, bool bin, Op op)
{
    if (bin)
        for (size_t i = 0; i < n; ++i) b[i] = uint8_t(op(a[i], b[i]) != 0);
    else
        for (size_t i = 0; i < n; ++i) b[i] = op(a[i], b[i]);
}

[[gnu::always_inline]] inline void combineRow(int code, bool bin, const uint8_t *a, uint8_t *b, size_t n) noexcept
{
    switch (code) {
    case KX_MERGE_ADD:
        combineBytes(a, b, n, bin, [](uint8_t x, uint8_t y) {
            const uint8_t s = uint8_t(x + y);
            return uint8_t(s < x ? 255 : s);
        });
        break;
    case KX_MERGE_SUBTRACT:
        combineBytes(a, b, n, bin, [](uint8_t x, uint8_t y) { return uint8_t(x - std::min(x, y)); });
        break;
    case KX_MERGE_XOR: combineBytes(a, b, n, bin, [](uint8_t x, uint8_t y) { return uint8_t(x ^ y); }); break;
    case KX_MERGE_AND: combineBytes(a, b, n, bin, [](uint8_t x, uint8_t y) { return uint8_t(x & y); }); break;
    case KX_MERGE_OR: combineBytes(a, b, n, bin, [](uint8_t x, uint8_t y) { return uint8_t(x | y); }); break;
    case KX_MERGE_SMALL: combineBytes(a, b, n, bin, [](uint8_t x, uint8_t y) { return std::min(x, y); }); break;
    case KX_MERGE_LARGE: combineBytes(a, b, n, bin, [](uint8_t x, uint8_t y) { return std::max(x, y); }); break;
    case KX_MERGE_COPY: combineBytes(a, b, n, bin, [](uint8_t x, uint8_t) { return x; }); break;
    case KX_MERGE_DIFF:
        combineBytes(a, b, n, bin, [](uint8_t x, uint8_t y) { return uint8_t(std::max(x, y) - std::min(x, y)); });
        break;
    default: break;
    }
}

uint8_t clampTrunc(double v)
{
    if (!(v > 0.0)) return 0;  // negatives, zero and NaN
    if (v >= 255.0) return 255;
    return uint8_t(v);
}

}  // namespace

extern "C" {

Image *kxPixelMerge(const Image *image0, Image *image1, int code)
{
    if (!(image0 && image1)) return kx::failed("image0 && image1", image1);
    if (image0->imageType != image1->imageType || !typeOk(image0) || !typeOk(image1)) return image1;
    if (code < KX_MERGE_ADD || code > KX_MERGE_DIFF) return image1;  // unknown code: image1 unchanged
    const bool bin = image1->imageType == KIT_BIN;
    const auto combine = isa::Clones<combineRow>::table.pick();
    forCommonRows(image0, image1, [&](const uint8_t *a, uint8_t *b, size_t n) { combine(code, bin, a, b, n); });
    return image1;
}

Image *kxPixelAdd(const Image *image0, Image *image1) { return kxPixelMerge(image0, image1, KX_MERGE_ADD); }
Image *kxPixelSubtract(const Image *image0, Image *image1) { return kxPixelMerge(image0, image1, KX_MERGE_SUBTRACT); }
Image *kxPixelLarge(const Image *image0, Image *image1) { return kxPixelMerge(image0, image1, KX_MERGE_LARGE); }
Image *kxPixelSmall(const Image *image0, Image *image1) { return kxPixelMerge(image0, image1, KX_MERGE_SMALL); }
Image *kxPixelAnd(const Image *image0, Image *image1) { return kxPixelMerge(image0, image1, KX_MERGE_AND); }
Image *kxPixelOr(const Image *image0, Image *image1) { return kxPixelMerge(image0, image1, KX_MERGE_OR); }
Image *kxPixelXor(const Image *image0, Image *image1) { return kxPixelMerge(image0, image1, KX_MERGE_XOR); }
Image *kxPixelCopy(const Image *image0, Image *image1) { return kxPixelMerge(image0, image1, KX_MERGE_COPY); }
Image *kxPixelDiff(const Image *image0, Image *image1) { return kxPixelMerge(image0, image1, KX_MERGE_DIFF); }

Image *kxPixelMergeE1(Image *image0, const Image *image1, int code, float scale, float offset)
{
    if (!(image0 && image1)) return kx::failed("image0 && image1", image0);
    if (image0->imageType != image1->imageType || !typeOk(image0) || !typeOk(image1)) return image0;
    if (code < 0 || code > 9) return image0;
    const double s = scale, o = offset;
    // The value table, one entry per (p, q) pair: every byte of the image
    // then costs one lookup.
    Scratch<uint8_t> table(256 * 256);
    if (!table) return image0;
    const bool bin = image0->imageType == KIT_BIN;
    for (int p = 0; p < 256; ++p) {
        for (int q = 0; q < 256; ++q) {
            uint8_t v = 0;
            switch (code) {
            case 0: v = clampTrunc(std::trunc(double(p + q) * s + o)); break;
            case 1: v = clampTrunc(std::trunc(double(p - q) * s + o)); break;
            case 2: v = clampTrunc(std::trunc(double(std::abs(p - q)) * s + o)); break;
            case 3: v = clampTrunc(std::trunc(double(p * q) * s + o)); break;
            case 4: v = p == 0 ? 0 : clampTrunc(std::trunc(double(q) / double(p) * s + o)); break;
            case 5: v = uint8_t(p & q); break;
            case 6: v = uint8_t(p | q); break;
            case 7: v = uint8_t(p ^ q); break;
            case 8: v = uint8_t(p > q ? p : q); break;
            default: v = uint8_t(p < q ? p : q); break;
            }
            table[size_t(p) << 8 | size_t(q)] = bin ? uint8_t(v > 0) : v;
        }
    }
    forCommonRows(image0, image1, [&](uint8_t *q, const uint8_t *p, size_t n) {
        for (size_t i = 0; i < n; ++i) q[i] = table[size_t(p[i]) << 8 | q[i]];
    });
    return image0;
}

Image *kxInvert(Image *image)
{
    if (!image) return nullptr;
    if (!typeOk(image)) return image;
    if (image->imageType == KIT_RGBA) {
        uint8_t lut[256];
        for (int i = 0; i < 256; ++i) lut[i] = uint8_t(255 - i);
        applyLut(image, lut, 3);
        return image;
    }
    const uint8_t top = image->imageType == KIT_BIN ? 1 : 255;
    for (int y = 0; y < image->height; ++y) {
        uint8_t *p = row(image, y);
        const size_t n = rowBytes(image);
        for (size_t i = 0; i < n; ++i) p[i] = uint8_t(top - p[i]);
    }
    return image;
}

}  // extern "C"
