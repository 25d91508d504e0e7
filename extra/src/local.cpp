// Local thresholds by name (Niblack, Sauvola, Wolf-Jolion, Bradley-Roth) on
// one core: the mean m and standard deviation s of the window x window
// square around every pixel, the image extended beyond its border by
// reflection (d c b | a b c d | c b a), as scikit-image's local thresholds
// extend it.
//
// Window sums of values and of squared values are integers below 2^53, so
// any exact way of adding them gives the same doubles as summed-area tables
// over the reflected image: this file keeps running column sums over the
// reflected rows (one subtraction and one addition of a row per output row)
// and a prefix sum along each reflected row.  After the sums the arithmetic
// is fixed, in double:
//   m = S / n,  g = Q / n,  s = sqrt(max(g - m * m, 0))     (n = window^2)
#include <algorithm>
#include <bit>
#include <cmath>

#include "extra_detail.hpp"

using namespace kx;
using kxx::reflect;

namespace {

constexpr int kMaxWindow = 65535;


struct Params {
    int method;
    int64_t window;  // odd, 1..kMaxWindow
    double k, r;
};


// double(v) for 0 <= v < 2^52, by placing v in the mantissa of 2^52 and
// subtracting 2^52: both steps exact, and unlike the int64 conversion it
// vectorises without AVX-512.  Window sums stay below 65025 * 65535^2 < 2^48.
inline double exactDouble(int64_t v)
{
    return std::bit_cast<double>(uint64_t(v) | 0x4330000000000000ull) - 4503599627370496.0;
}

// m and s of one row from the prefix sums along its reflected extension:
// pixel x's window covers prefix entries x .. x + span.  Each lane keeps the
// scalar operation order, so every level gives the same bits; sqrt of a
// non-negative double needs no errno (this file is built with
// -fno-math-errno, which changes no result).
[[gnu::always_inline]] inline void windowStats(const int64_t *preSum, const int64_t *preSq, size_t width, size_t span,
                                               double n, double *m, double *s)
{
    for (size_t x = 0; x < width; ++x) {
        const double mean = exactDouble(preSum[x + span] - preSum[x]) / n;
        const double meanSq = exactDouble(preSq[x + span] - preSq[x]) / n;
        const double variance = meanSq - mean * mean;
        m[x] = mean;
        s[x] = std::sqrt(variance > 0.0 ? variance : 0.0);
    }
}

// Calls visit(y, src row, m row, s row) for every row of the w x h bytes at
// `src` (rows `pitch` bytes apart), in order.  False when scratch memory is
// not available.
template <class Visit>
bool meanStdRows(const uint8_t *src, int w, int h, size_t pitch, int64_t window, Visit visit)
{
    const int64_t half = window / 2;
    const size_t width = size_t(w), extended = width + size_t(2 * half);
    Scratch<int64_t> columns(2 * width), prefix(2 * (extended + 1));
    Scratch<double> stats(2 * width);
    Scratch<int32_t> columnOf(extended);
    if (!(columns && prefix && stats && columnOf)) return kx::failed("columns && prefix && stats", false);
    int64_t *colSum = columns.get(), *colSq = colSum + width;
    int64_t *preSum = prefix.get(), *preSq = preSum + extended + 1;
    double *m = stats.get(), *s = m + width;
    for (size_t j = 0; j < extended; ++j) columnOf[j] = int32_t(reflect(int64_t(j) - half, w));

    std::fill(colSum, colSum + 2 * width, 0);
    auto addRow = [&](int64_t y, bool add) {
        const uint8_t *p = src + size_t(reflect(y, h)) * pitch;
        if (add)
            for (size_t x = 0; x < width; ++x) {
                const int64_t v = p[x];
                colSum[x] += v;
                colSq[x] += v * v;
            }
        else
            for (size_t x = 0; x < width; ++x) {
                const int64_t v = p[x];
                colSum[x] -= v;
                colSq[x] -= v * v;
            }
    };
    for (int64_t y = -half; y <= half; ++y) addRow(y, true);

    const double n = double(window * window);
    const int32_t *col = columnOf.get();
    const auto statsRow = isa::Clones<windowStats>::table.pick();
    for (int y = 0; y < h; ++y) {
        preSum[0] = preSq[0] = 0;
        int64_t a = 0, b = 0;
        for (size_t j = 0; j < extended; ++j) {
            a += colSum[col[j]];
            b += colSq[col[j]];
            preSum[j + 1] = a;
            preSq[j + 1] = b;
        }
        statsRow(preSum, preSq, width, size_t(window), n, m, s);
        visit(y, src + size_t(y) * pitch, m, s);
        if (y + 1 < h) {
            addRow(y - half, false);
            addRow(y + half + 1, true);
        }
    }
    return true;
}

// The levels of one row from m and s; wolfR and wolfM are the largest s and
// the smallest pixel of the image (Wolf-Jolion only).  One loop per method,
// so that each vectorises.
[[gnu::always_inline]] inline void levelsRow(int method, const double *m, const double *s, size_t width, double k,
                                             double r, double wolfR, double wolfM, double *t)
{
    switch (method) {
    case KXX_NIBLACK:
        for (size_t x = 0; x < width; ++x) t[x] = m[x] - k * s[x];
        break;
    case KXX_SAUVOLA:
        for (size_t x = 0; x < width; ++x) t[x] = m[x] * (1.0 + k * (s[x] / r - 1.0));
        break;
    case KXX_WOLF: {
        // s / R counts as 0 when R is 0 (a flat image: every s is 0).
        const double scale = wolfR > 0.0 ? wolfR : 1.0;
        for (size_t x = 0; x < width; ++x)
            t[x] = ((1.0 - k) * m[x] + k * wolfM) + k * (s[x] / scale) * (m[x] - wolfM);
        break;
    }
    default:  // KXX_BRADLEY
        for (size_t x = 0; x < width; ++x) t[x] = m[x] * (1.0 - k);
        break;
    }
}

// pixels > level -> 1, else 0.
[[gnu::always_inline]] inline void compareRow(const uint8_t *src, const double *t, size_t width, uint8_t *dst)
{
    for (size_t x = 0; x < width; ++x) dst[x] = double(src[x]) > t[x];
}

// Runs the method over the bytes at src, handing every row's levels to
// emit(y, src row, level row).
template <class Emit>
bool localLevels(const uint8_t *src, int w, int h, size_t pitch, const Params &p, Emit emit)
{
    double wolfR = 0.0, wolfM = 255.0;
    if (p.method == KXX_WOLF) {
        const bool ok = meanStdRows(src, w, h, pitch, p.window, [&](int, const uint8_t *row, const double *, const double *s) {
            for (int x = 0; x < w; ++x) {
                wolfR = std::max(wolfR, s[x]);
                wolfM = std::min(wolfM, double(row[x]));
            }
        });
        if (!ok) return false;
    }
    Scratch<double> levels{size_t(w)};
    if (!levels) return kx::failed("levels", false);
    double *t = levels.get();
    const auto levelsOf = isa::Clones<levelsRow>::table.pick();
    return meanStdRows(src, w, h, pitch, p.window, [&](int y, const uint8_t *row, const double *m, const double *s) {
        levelsOf(p.method, m, s, size_t(w), p.k, p.r, wolfR, wolfM, t);
        emit(y, row, t);
    });
}

// Checks the arguments and makes the window odd; false when refused.
bool paramsOk(int method, int window, double k, double r, Params *out)
{
    if (method < KXX_NIBLACK || method > KXX_BRADLEY || window > kMaxWindow || !std::isfinite(k)) return false;
    if (method == KXX_SAUVOLA && !(r > 0.0 && std::isfinite(r))) return false;
    int64_t w = window < 1 ? 1 : window;
    if (w % 2 == 0) ++w;
    *out = {method, w, k, r};
    return true;
}

}  // namespace

extern "C" {

int kxxLocalLevels(const Image *image, int method, int window, double k, double r, double *levels)
{
    if (!(image && levels)) return kx::failed("image && levels", 0);
    Params p;
    if (!typeOk(image) || image->imageType != KIT_GRAY || !paramsOk(method, window, k, r, &p)) return 0;
    const int w = image->width;
    return localLevels(image->data, w, image->height, size_t(image->pitch), p,
                       [&](int y, const uint8_t *, const double *t) {
                           std::copy(t, t + w, levels + size_t(y) * size_t(w));
                       })
               ? 1
               : 0;
}

Image *kxxLocalThreshold(Image *image, int method, int window, double k, double r)
{
    if (!image) return nullptr;
    Params p;
    if (!typeOk(image) || image->imageType != KIT_GRAY || !paramsOk(method, window, k, r, &p)) return image;
    // The windows read rows on both sides of the one being written (and,
    // reflected, rows already written), so the levels come from a copy.
    const int w = image->width, h = image->height;
    Scratch<uint8_t> source(size_t(w) * size_t(h));
    if (!source) return kx::failed("source", image);
    for (int y = 0; y < h; ++y) std::memcpy(source.get() + size_t(y) * size_t(w), row(image, y), size_t(w));
    const auto compare = isa::Clones<compareRow>::table.pick();
    const bool ok = localLevels(source.get(), w, h, size_t(w), p, [&](int y, const uint8_t *src, const double *t) {
        compare(src, t, size_t(w), row(image, y));
    });
    if (ok) image->imageType = KIT_BIN;
    return image;
}

}  // extern "C"
