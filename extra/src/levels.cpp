// The levels of the global selectors as numbers.  The histogram counting,
// the record and mask rules and the selectors themselves are libkxpre's
// threshold code, compiled into this library as well, so a level here is
// the level the binarizer computes by construction.
#include "extra_detail.hpp"
#include "threshold/threshold_detail.hpp"

using namespace kx;

namespace {

// The level of `selector` on a counted histogram of n pixels; -1 for an
// unknown selector or when Otsu's float histogram is not available.
int levelOf(const int32_t counts[256], int64_t n, int selector)
{
    switch (selector) {
    case KXX_OTSU: {
        // kxbOtsu's route: the counts as single-precision bins (saturating
        // at 2^24, as adding 1.0f does), level 0 for an empty selection.
        if (n == 0) return 0;
        Scratch<float> histogram(256);
        if (!histogram) return kx::failed("histogram", -1);
        for (int i = 0; i < 256; ++i) histogram[size_t(i)] = thr::floatCount(uint64_t(counts[i]));
        return thr::otsuLevel(histogram.get(), n);
    }
    case KXX_MIN_ERROR: return thr::minErrorLevel(counts, false);
    case KXX_MIN_ERROR_POISSON: return thr::minErrorLevel(counts, true);
    case KXX_MAX_ENTROPY: return thr::maxEntropyLevel(counts);
    case KXX_MODE: return thr::modeLevel(counts);
    default: return -1;
    }
}

bool selectorOk(int selector) { return selector >= KXX_OTSU && selector <= KXX_MODE; }

}  // namespace

extern "C" {

int kxxLevel(const Image *image, const Image *mask, int selector)
{
    if (!image) return kx::failed("image", -1);
    if (!selectorOk(selector) || !thr::isGrey(image) || (mask && !kxiIsByteRecord(mask))) return -1;
    int32_t counts[256];
    const int64_t n = thr::countGrey(image, mask, counts);
    return levelOf(counts, n, selector);
}

int kxxHistogramLevel(const int32_t histogram[256], int selector)
{
    if (!histogram) return kx::failed("histogram", -1);
    if (!selectorOk(selector)) return -1;
    int64_t n = 0;
    for (int i = 0; i < 256; ++i) {
        if (histogram[i] < 0) return -1;
        n += histogram[i];
    }
    return levelOf(histogram, n, selector);
}

int kxxIsoDataLevel(const Image *image, int maxIterations, int window)
{
    if (!image) return kx::failed("image", -1);
    if (!thr::isGrey(image)) return -1;
    int32_t counts[256];
    thr::countGrey(image, nullptr, counts);
    return thr::isodataLevel(counts, maxIterations, window);
}

int kxxMultiLevels(const Image *image, int levels, int *thresholds)
{
    if (!(image && thresholds)) return kx::failed("image && thresholds", -1);
    if (!thr::isGrey(image) || levels < 2 || levels > 256) return -1;
    int32_t counts[256];
    const int64_t n = thr::countGrey(image, nullptr, counts);
    int b[255];
    if (!thr::multiLevelThresholds(counts, n, levels, b)) return -1;
    for (int i = 0; i < levels - 1; ++i) thresholds[i] = b[i];
    return levels - 1;
}

}  // extern "C"
