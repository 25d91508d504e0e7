// Global thresholds: binarization at a given level or at a level selected
// from the grey-level histogram.  All of them process KIT_GRAY only; any
// other type (or an unusable record) comes back unchanged.
//
//   kxbSimple, kxbDark, kxbLight, kxbInner, kxbOuter   fixed levels     KIT_GRAY
//   kxbOtsu, kxbMinError, kxbMinErrorE1, kxbMaxEntropy  selected level   KIT_GRAY
//   kxbIsoData                                          iterated level   KIT_GRAY
//   kxbGetOptima, kxbGetOptimaE1                        level only       KIT_GRAY (255 otherwise)
//
// The binarizers rewrite pixels through a 256-entry table and turn the image
// into KIT_BIN (same layout, bytes 0/1).  A selected level belongs to the
// lower class, but the binarizers (isodata excepted) put pixels equal to
// the level into the foreground; a selected level of 0 or 1 is raised to 1.
#include <algorithm>

#include "frame/frame.hpp"
#include "threshold_detail.hpp"

using namespace kx;

using namespace kx::thr;

namespace {

// Binarizes at t (pixels >= t become 1) after raising a selected level of
// 0 or 1 to 1.
Image *binarizeAtLevel(Image *image, int t) { return kxbSimple(image, uint8_t(std::max(t, 1)), 0); }

// The Otsu level over (image, mask); -1 when the histogram buffer could not
// be had.  The histogram is single precision, as the level depends on it.
int otsuSelect(const Image *image, const Image *mask)
{
    Scratch<float> histogram(256);
    if (!histogram) return kx::failed("histogram", -1);
    int32_t counts[256];
    const int64_t n = countGrey(image, mask, counts);
    if (n == 0) return 0;
    for (int i = 0; i < 256; ++i) histogram[i] = floatCount(uint64_t(counts[i]));
    return otsuLevel(histogram.get(), n);
}

// Methods 0..3 of kxbGetOptima on a non-null image; 255 for another method,
// a non-grey image or an unusable mask.
uint8_t selectLevel(const Image *image, const Image *mask, int method)
{
    if (method < 0 || method > 3 || !isGrey(image) || (mask && !kxiIsByteRecord(mask))) return 255;
    int32_t hist[256];
    countGrey(image, mask, hist);
    switch (method) {
    case 0: return uint8_t(minErrorLevel(hist, false));
    case 1: return uint8_t(minErrorLevel(hist, true));
    case 2: return uint8_t(maxEntropyLevel(hist));
    default: return uint8_t(modeLevel(hist));
    }
}

// The grey-level fills: pixels for which `selected` holds become v (image
// stays KIT_GRAY) or, with `binarizeFlag`, 1 and all others 0 (KIT_BIN).
template <class Selected>
Image *fillSelected(Image *image, uint8_t v, int binarizeFlag, Selected selected)
{
    if (!image) return nullptr;
    if (!isGrey(image)) return image;
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = binarizeFlag ? uint8_t(selected(i)) : selected(i) ? v : uint8_t(i);
    if (binarizeFlag)
        binarize(image, table);
    else
        applyLut(image, table, 1);
    return image;
}

}  // namespace

extern "C" {

Image *kxbSimple(Image *image, uint8_t t, int invert)
{
    if (!image) return nullptr;
    if (!isGrey(image)) return image;
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = (i >= t) != (invert != 0);
    binarize(image, table);
    return image;
}

Image *kxbDark(Image *image, uint8_t t, uint8_t v, int binarize)
{
    return fillSelected(image, v, binarize, [&](int p) { return p < t; });
}

Image *kxbLight(Image *image, uint8_t t, uint8_t v, int binarize)
{
    return fillSelected(image, v, binarize, [&](int p) { return p >= t; });
}

Image *kxbInner(Image *image, uint8_t lo, uint8_t hi, uint8_t v, int binarize)
{
    return fillSelected(image, v, binarize, [&](int p) { return lo <= p && p < hi; });
}

Image *kxbOuter(Image *image, uint8_t lo, uint8_t hi, uint8_t v, int binarize)
{
    return fillSelected(image, v, binarize, [&](int p) { return p < lo || p >= hi; });
}

Image *kxbOtsu(Image *image, const Image *mask)
{
    if (!image) return nullptr;
    if (!isGrey(image) || (mask && !kxiIsByteRecord(mask))) return image;
    const int t = otsuSelect(image, mask);
    if (t < 0) return image;
    return binarizeAtLevel(image, t);
}

Image *kxbMinError(Image *image, int criterion)
{
    if (!image) return nullptr;
    if (!isGrey(image)) return image;
    return binarizeAtLevel(image, kxbGetOptima(image, criterion != 0 ? 1 : 0));
}

Image *kxbMinErrorE1(Image *image, const Image *mask, int criterion)
{
    if (!image) return nullptr;
    if (!mask) return kxbMinError(image, criterion);
    if (!isGrey(image) || !kxiIsByteRecord(mask)) return image;
    return binarizeAtLevel(image, kxbGetOptimaE1(image, mask, criterion != 0 ? 1 : 0));
}

Image *kxbMaxEntropy(Image *image)
{
    if (!image) return nullptr;
    if (!isGrey(image)) return image;
    return binarizeAtLevel(image, kxbGetOptima(image, 2));
}

Image *kxbIsoData(Image *image, int maxIterations, int window)
{
    if (!image) return nullptr;
    if (!isGrey(image)) return image;
    int32_t hist[256];
    countGrey(image, nullptr, hist);
    const int t = isodataLevel(hist, maxIterations, window);
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = i > t;
    binarize(image, table);
    return image;
}

uint8_t kxbGetOptima(const Image *image, int method)
{
    if (!image) return 0;
    return selectLevel(image, nullptr, method);
}

uint8_t kxbGetOptimaE1(const Image *image, const Image *mask, int method)
{
    if (!mask) return kxbGetOptima(image, method);
    if (!image) return 0;
    return selectLevel(image, mask, method);
}

}  // extern "C"
