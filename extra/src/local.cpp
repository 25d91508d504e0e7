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
#include <cmath>

#include "extra_detail.hpp"

using namespace kx;

namespace {

constexpr int kMaxWindow = 65535;

// Index i of a line of n samples extended by reflection about its end
// samples, repeated as often as needed (period 2n - 2).
inline int64_t reflect(int64_t i, int64_t n)
{
    if (n == 1) return 0;
    const int64_t period = 2 * (n - 1);
    i %= period;
    if (i < 0) i += period;
    return i < n ? i : period - i;
}

struct Params {
    int method;
    int64_t window;  // odd, 1..kMaxWindow
    double k, r;
};

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
    KX_CHECK(columns && prefix && stats, "columns && prefix && stats", false);
    int64_t *colSum = columns.get(), *colSq = colSum + width;
    int64_t *preSum = prefix.get(), *preSq = preSum + extended + 1;
    double *m = stats.get(), *s = m + width;

    std::fill(colSum, colSum + 2 * width, 0);
    auto addRow = [&](int64_t y, int64_t sign) {
        const uint8_t *p = src + size_t(reflect(y, h)) * pitch;
        for (size_t x = 0; x < width; ++x) {
            const int64_t v = p[x];
            colSum[x] += sign * v;
            colSq[x] += sign * v * v;
        }
    };
    for (int64_t y = -half; y <= half; ++y) addRow(y, 1);

    const double n = double(window * window);
    for (int y = 0; y < h; ++y) {
        preSum[0] = preSq[0] = 0;
        for (size_t j = 0; j < extended; ++j) {
            const size_t x = size_t(reflect(int64_t(j) - half, w));
            preSum[j + 1] = preSum[j] + colSum[x];
            preSq[j + 1] = preSq[j] + colSq[x];
        }
        const size_t span = size_t(window);
        for (size_t x = 0; x < width; ++x) {
            const double mean = double(preSum[x + span] - preSum[x]) / n;
            const double meanSq = double(preSq[x + span] - preSq[x]) / n;
            const double variance = meanSq - mean * mean;
            m[x] = mean;
            s[x] = std::sqrt(variance > 0.0 ? variance : 0.0);
        }
        visit(y, src + size_t(y) * pitch, m, s);
        if (y + 1 < h) {
            addRow(y - half, -1);
            addRow(y + half + 1, 1);
        }
    }
    return true;
}

// The level of one pixel from its window's m and s.  wolfR and wolfM are
// the largest s and the smallest pixel of the image (Wolf-Jolion only).
inline double levelOf(const Params &p, double m, double s, double wolfR, double wolfM)
{
    switch (p.method) {
    case KXX_NIBLACK: return m - p.k * s;
    case KXX_SAUVOLA: return m * (1.0 + p.k * (s / p.r - 1.0));
    case KXX_WOLF: {
        const double ratio = wolfR > 0.0 ? s / wolfR : 0.0;
        return ((1.0 - p.k) * m + p.k * wolfM) + p.k * ratio * (m - wolfM);
    }
    default: return m * (1.0 - p.k);  // KXX_BRADLEY
    }
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
    KX_CHECK(levels, "levels", false);
    double *t = levels.get();
    return meanStdRows(src, w, h, pitch, p.window, [&](int y, const uint8_t *row, const double *m, const double *s) {
        for (int x = 0; x < w; ++x) t[x] = levelOf(p, m[x], s[x], wolfR, wolfM);
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
    KX_ASSERT(image && levels, 0);
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
    KX_CHECK(source, "source", image);
    for (int y = 0; y < h; ++y) std::memcpy(source.get() + size_t(y) * size_t(w), row(image, y), size_t(w));
    const bool ok = localLevels(source.get(), w, h, size_t(w), p, [&](int y, const uint8_t *src, const double *t) {
        uint8_t *dst = row(image, y);
        for (int x = 0; x < w; ++x) dst[x] = double(src[x]) > t[x];
    });
    if (ok) image->imageType = KIT_BIN;
    return image;
}

}  // extern "C"
