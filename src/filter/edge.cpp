// The gradient edge detector.
//
//   kxDetectEdge  KIT_GRAY, becomes KIT_BIN (others unchanged; null -> null)
//
// Gradients come from the 3x3 kernels 0.125 0 -0.125; 0.25 0 -0.25;
// 0.125 0 -0.125 (horizontal) and its transpose (vertical) on interior
// pixels.  A pixel is an edge where its squared magnitude is above the
// cutoff and not below its neighbours along the dominant direction; the
// one-pixel frame then copies its interior neighbour.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "filter_detail.hpp"
#include "kxthreads_bands.hpp"

using namespace kx;

namespace {

// Below any difference of two gradient values (multiples of 1/8), so the
// direction tests compare as >= would on exact values.
constexpr double kEps = 2.220446049250313e-14;

}  // namespace

extern "C" {

Image *kxDetectEdge(Image *image, int method, int direction, float threshold, const Image *mask)
{
    if (method != 0) return image;  // no other method exists
    if (!image) return nullptr;
    if (image->imageType != KIT_GRAY || !typeOk(image)) return image;
    if (mask && (!maskOk(mask) || !sameSize(mask, image))) return image;

    const int kx = direction == 2 ? 0 : 1, ky = direction == 1 ? 0 : 1;
    const int w = image->width, h = image->height;
    const size_t n = size_t(pixelCount(image));
    Scratch<float> planes(3 * n);
    if (!planes) return image;
    std::memset(planes.get(), 0, 3 * n * sizeof(float));
    float *bx = planes.get(), *by = bx + n, *m = by + n;
    auto takesPart = [&](int x, int y) { return !mask || row(mask, y)[x] != 0; };

    // Row bands (when threads are on) share nothing they write.
    const int minRows = threads::minRows(w);

    // Gradient magnitudes.  The kernel sums are multiples of 1/8 below 128,
    // exact in any precision: the integer sums scaled by 1/8 give them.
    threads::forBands(std::max(0, h - 2), minRows, [&](int b0, int b1) {
        for (int y = 1 + b0; y < 1 + b1; ++y) {
            const uint8_t *a = row(image, y - 1), *c = row(image, y), *b = row(image, y + 1);
            for (int x = 1; x < w - 1; ++x) {
                if (!takesPart(x, y)) continue;
                const int gx = (a[x - 1] + 2 * c[x - 1] + b[x - 1]) - (a[x + 1] + 2 * c[x + 1] + b[x + 1]);
                const int gy = (a[x - 1] + 2 * a[x] + a[x + 1]) - (b[x - 1] + 2 * b[x] + b[x + 1]);
                bx[size_t(y) * w + x] = float(std::abs(gx) * 0.125);
                by[size_t(y) * w + x] = float(std::abs(gy) * 0.125);
            }
        }
    });
    // Squared magnitudes (exact in single precision: multiples of 1/64
    // below 2^15) and the number of pixels taking part.  Their total is a
    // multiple of 1/64 below 2^15 * 2^31 (an image holds fewer than 2^31
    // pixels): under 2^52 sixty-fourths, exact in a double whatever the
    // order of the additions, so the bands' partial totals add up to the
    // same bits as one pass would.
    const threads::Bands bands = threads::Bands::plan(h, minRows);
    int64_t counts[KXT_MAX_THREADS] = {};
    double totals[KXT_MAX_THREADS] = {};
    threads::forEach(bands, [&](int band, int y0, int y1) {
        int64_t count = 0;
        double total = 0.0;
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < w; ++x) {
                if (!takesPart(x, y)) continue;
                const size_t i = size_t(y) * w + x;
                m[i] = kx * bx[i] * bx[i] + ky * by[i] * by[i];
                total += m[i];
                ++count;
            }
        counts[band] = count;
        totals[band] = total;
    });
    int64_t count = 0;
    double total = 0.0;
    for (int i = 0; i < bands.count; ++i) count += counts[i], total += totals[i];
    double cutoff = 0.0;
    if (threshold > 0.0f)
        cutoff = double(threshold) * double(threshold);
    else if (count > 0)
        cutoff = 4.0 * total / double(count);

    kxiFlood(image, 0);
    threads::forBands(std::max(0, h - 2), minRows, [&](int b0, int b1) {
        for (int y = 1 + b0; y < 1 + b1; ++y) {
            uint8_t *out = row(image, y);
            for (int x = 1; x < w - 1; ++x) {
                const size_t i = size_t(y) * w + x;
                if (!takesPart(x, y) || !(m[i] > cutoff)) continue;
                if (bx[i] >= kx * by[i] - kEps && m[i] >= m[i - 1] && m[i + 1] < m[i])
                    out[x] = 1;
                else if (by[i] >= ky * bx[i] - kEps && m[i] >= m[i - w] && m[i + w] < m[i])
                    out[x] = 1;
            }
        }
    });
    // The frame copies its interior neighbour: rows first, then columns, so
    // a corner follows its diagonal neighbour.
    if (w >= 3 && h >= 3) {
        uint8_t *top = row(image, 0), *bottom = row(image, h - 1);
        const uint8_t *second = row(image, 1), *penultimate = row(image, h - 2);
        for (int x = 0; x < w; ++x) {
            if (second[x]) top[x] = 1;
            if (penultimate[x]) bottom[x] = 1;
        }
        for (int y = 0; y < h; ++y) {
            uint8_t *p = row(image, y);
            if (p[1]) p[0] = 1;
            if (p[w - 2]) p[w - 1] = 1;
        }
    }
    image->imageType = KIT_BIN;
    return image;
}

}  // extern "C"
