// Point operations that remap pixel values.
//
//   kxNormalize    KIT_GRAY                        (others unchanged; null -> null)
//   kxEqualize     KIT_GRAY
//   kxContrast     KIT_GRAY
//   kxExpand       KIT_GRAY
//   kxLinear       KIT_BIN (becomes KIT_GRAY), KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxLinearEx     KIT_RGB, KIT_RGBA
//   kxIncreaseLum  KIT_RGB
//
// The 8-bit maps build a 256-entry table from the image's statistics and
// apply it to the pixel bytes; statistics count width x height pixels and
// never the row padding of a wrapped image.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "filter_detail.hpp"

using namespace kx;
using namespace kx::filter;

namespace {

inline bool isGray(const Image *im) { return im->imageType == KIT_GRAY && typeOk(im); }

// Counts of each grey level over the pixels (four interleaved tables so
// that runs of one value do not stall on a single counter).
void greyHistogram(const Image *im, uint32_t hist[256]) noexcept
{
    uint32_t h[4][256] = {};
    for (int y = 0; y < im->height; ++y) {
        const uint8_t *p = row(im, y);
        int x = 0;
        for (; x + 4 <= im->width; x += 4) {
            ++h[0][p[x]];
            ++h[1][p[x + 1]];
            ++h[2][p[x + 2]];
            ++h[3][p[x + 3]];
        }
        for (; x < im->width; ++x) ++h[0][p[x]];
    }
    for (int v = 0; v < 256; ++v) hist[v] = h[0][v] + h[1][v] + h[2][v] + h[3][v];
}

// bins[v] = d added hist[v] times to 0.0, one addition per pixel, exactly
// as a per-pixel accumulation leaves it (repeated addition is not the
// product).  Bins run as eight independent chains at a time, grouped by
// count; a lane whose count is reached adds 0.0, which leaves it as is.
void repeatedSums(const uint32_t hist[256], double d, double bins[256]) noexcept
{
    int order[256];
    for (int v = 0; v < 256; ++v) order[v] = v;
    std::sort(order, order + 256, [&](int a, int b) { return hist[a] < hist[b]; });
    for (int g = 0; g < 256; g += 8) {
        double acc[8] = {};
        uint32_t done = 0;
        for (int stage = 0; stage < 8; ++stage) {
            const uint32_t until = hist[order[g + stage]];
            double step[8];
            for (int l = 0; l < 8; ++l) step[l] = l >= stage ? d : 0.0;
            for (; done < until; ++done)
                for (int l = 0; l < 8; ++l) acc[l] += step[l];
        }
        for (int l = 0; l < 8; ++l) bins[order[g + l]] = acc[l];
    }
}

// The kxLinear rule for one byte: v = b * gain + offset in single
// precision; above 255 -> 255, from 0 up truncated, below 0 or NaN -> 0.
void linearTable(float gain, float offset, uint8_t lut[256])
{
    for (int b = 0; b < 256; ++b) {
        const float prod = float(b) * gain;
        const float v = prod + offset;
        lut[b] = v > 255.0f ? 255 : v >= 0.0f ? uint8_t(v) : 0;
    }
}

// trunc(f * 255.0) kept to its low eight bits; false for a value whose
// truncation does not fit 64 bits (NaN, infinities, huge fractions).
bool fractionLevel(float f, int &level)
{
    const double v = double(f) * 255.0;
    if (!(std::fabs(v) < 9.2e18)) return false;
    level = int(uint64_t(int64_t(v)) & 0xFFu);
    return true;
}

}  // namespace

extern "C" {

Image *kxNormalize(Image *image, float mean, float variance)
{
    if (!image) return nullptr;
    if (!isGray(image) || image->size == 0) return image;
    if (!(variance >= 0.0f) || std::isinf(variance) || std::isnan(mean)) return image;  // no sound target
    const int64_t count = pixelCount(image);
    if (count < 2) return image;  // a sample deviation needs two pixels

    const double target = double(std::sqrt(variance)) + 0.5;
    uint32_t hist[256];
    greyHistogram(image, hist);
    int64_t sum = 0;
    for (int v = 0; v < 256; ++v) sum += int64_t(v) * hist[v];
    const double m = double(sum) / double(count);
    // Squared deviations summed pixel by pixel in row order, so the rounding
    // is that of a plain accumulation.
    double sq = 0.0;
    for (int y = 0; y < image->height; ++y) {
        const uint8_t *p = row(image, y);
        for (int x = 0; x < image->width; ++x) {
            const double e = p[x] - m;
            sq += e * e;
        }
    }
    const double sd = std::sqrt(sq / double(count - 1));
    const int sdInt = int(sd);
    if (sdInt <= 0) return image;

    uint8_t lut[256];
    for (int p = 0; p < 256; ++p) lut[p] = truncSaturate((p - m) / sdInt * target + double(mean) + 0.5);
    applyLut(image, lut, 1);
    return image;
}

Image *kxEqualize(Image *image)
{
    if (!image) return nullptr;
    if (!isGray(image) || image->size == 0) return image;
    uint32_t hist[256];
    greyHistogram(image, hist);
    double bins[256];
    repeatedSums(hist, 1.0 / double(pixelCount(image)), bins);
    uint8_t lut[256];
    double c = 0.0;
    for (int v = 0; v < 256; ++v) {
        c += bins[v];
        lut[v] = truncSaturate(c * 255.0 + 0.5);
    }
    applyLut(image, lut, 1);
    return image;
}

Image *kxContrast(Image *image, float low, float high)
{
    if (!image) return nullptr;
    if (!isGray(image) || image->size == 0) return image;
    int lo, hi;
    if (!fractionLevel(low, lo) || !fractionLevel(high, hi)) return image;
    const int d = hi - lo;
    if (d <= 0) return image;  // an empty or reversed range maps nothing
    uint8_t lut[256];
    for (int b = 0; b < 256; ++b)
        lut[b] = b <= lo ? 0 : b >= hi ? 255 : truncSaturate(double(b - lo) / d * 255.0 + 0.5);
    applyLut(image, lut, 1);
    return image;
}

Image *kxExpand(Image *image)
{
    if (!image) return nullptr;
    if (!isGray(image)) return image;
    uint32_t hist[256];
    greyHistogram(image, hist);
    int mn = 0, mx = 255;
    while (hist[mn] == 0) ++mn;
    while (hist[mx] == 0) --mx;
    if (mn == mx) return image;  // a single grey level has no range to stretch
    const float r = float(mx - mn);
    uint8_t lut[256];
    for (int p = 0; p < 256; ++p) lut[p] = truncSaturate(double(float(p - mn) / r) * 255.0);
    applyLut(image, lut, 1);
    return image;
}

Image *kxLinear(Image *image, float gain, float offset)
{
    if (!image) return nullptr;
    if (!typeOk(image)) return image;
    uint8_t lut[256];
    linearTable(gain, offset, lut);
    applyLut(image, lut, kxiBytesPerPixel(image->imageType));
    if (image->imageType == KIT_BIN) image->imageType = KIT_GRAY;  // the 0/1 bytes are grey values now
    return image;
}

Image *kxLinearEx(Image *image, int channels, float gain, float offset)
{
    if (!image) return nullptr;
    if ((image->imageType != KIT_RGB && image->imageType != KIT_RGBA) || !typeOk(image)) return image;
    uint8_t lut[256];
    linearTable(gain, offset, lut);
    applyLutChannels(image, lut, unsigned(channels));
    return image;
}

Image *kxIncreaseLum(Image *image)
{
    if (!image) return nullptr;
    if (image->imageType != KIT_RGB || !typeOk(image)) return image;
    const int w = image->width, h = image->height;
    Scratch<float> lum(size_t(pixelCount(image)));
    if (!lum) return kx::failed("pLumMtx", image);

    // The weights are the single-precision values of 0.299, 0.587, 0.114;
    // the weighted sum is formed in double and rounded once to a float.
    const double wr = 0.299f, wg = 0.587f, wb = 0.114f;
    float lmax = 0.0f, logSum = 0.0f;
    float *l = lum.get();
    for (int y = 0; y < h; ++y) {
        const uint8_t *p = row(image, y);
        for (int x = 0; x < w; ++x, p += 3) {
            const float v = float(p[2] * wr + p[1] * wg + p[0] * wb);
            if (v > lmax) lmax = v;
            logSum += std::log(v + 0.001f);
            *l++ = v;
        }
    }
    const float lw = std::exp(logSum / float(pixelCount(image)));
    const float b = std::log(lmax / lw + 1.0f);
    l = lum.get();
    for (int y = 0; y < h; ++y) {
        uint8_t *p = row(image, y);
        for (int x = 0; x < w; ++x, p += 3) {
            const float v = *l++;
            if (!(v > 0.0f)) continue;  // black stays black
            const float a = std::log(v / lw + 1.0f);
            const float r = a / b;
            const float s = r / v;
            for (int c = 0; c < 3; ++c) p[c] = truncSaturate(double(p[c] * s) * 255.0);
        }
    }
    return image;
}

}  // extern "C"
