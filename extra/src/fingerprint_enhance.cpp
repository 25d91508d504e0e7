// Oriented Gabor enhancement of a fingerprint: a bank of kernels indexed by
// quantised orientation and half-pixel period, built for the pairs the
// print's blocks use, each block filtered with its own kernel.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "fingerprint_detail.hpp"

using namespace kx;
using kxx::reflect;
using namespace kxx::print;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxRadius = 48;

// acc[x] = sum over taps (row-major) of k * pad: vectorised across x, each
// pixel's taps in the same order at every level.
[[gnu::always_inline]] inline void gaborRow(const float *__restrict pad, ptrdiff_t stride, const float *__restrict k,
                                            int side, int n, float *__restrict acc)
{
    for (int x = 0; x < n; ++x) acc[x] = 0.0f;
    for (int i = 0; i < side; ++i) {
        const float *p = pad + i * stride;
        const float *kr = k + ptrdiff_t(i) * side;
        for (int j = 0; j < side; ++j) {
            const float c = kr[j];
            const float *q = p + j;
            for (int x = 0; x < n; ++x) acc[x] += c * q[x];
        }
    }
}

struct Key {
    int q, halfPeriods;  // orientation index, 2 * P
};

Key keyOf(float t, float f, const KxxPrintParams &p)
{
    const double fmin = 1.0 / p.maxPeriod, fmax = 1.0 / p.minPeriod;
    const double fc = std::clamp(double(f), fmin, fmax);
    const double T = 1.0 / fc;
    int q = int(std::floor(double(t) / kPi * p.angles + 0.5)) % p.angles;
    if (q < 0) q += p.angles;
    return {q, int(std::floor(2 * T + 0.5))};
}

int radiusOf(int halfPeriods, const KxxPrintParams &p)
{
    const double sigma = p.sigma * (halfPeriods / 2.0);
    return std::min(kMaxRadius, int(std::ceil(2 * sigma)));
}

// The kernel of (q, P) into k ((2R + 1)^2 floats).
void buildKernel(const Key &key, const KxxPrintParams &p, int R, float *k, double *work)
{
    const double a = key.q * kPi / p.angles, P = key.halfPeriods / 2.0;
    const double sigma = p.sigma * P, sigmaB = p.sigmaAlong * P;
    const double ca = std::cos(a), sa = std::sin(a);
    const int side = 2 * R + 1;
    double *cx = work, *sx = cx + side, *cy = sx + side, *sy = cy + side, *g = sy + side;
    for (int d = -R; d <= R; ++d) {
        cx[d + R] = std::cos(2 * kPi * d * -std::sin(a) / P);
        sx[d + R] = std::sin(2 * kPi * d * -std::sin(a) / P);
        cy[d + R] = std::cos(2 * kPi * d * std::cos(a) / P);
        sy[d + R] = std::sin(2 * kPi * d * std::cos(a) / P);
    }
    double sum = 0;
    for (int dy = -R; dy <= R; ++dy)
        for (int dx = -R; dx <= R; ++dx) {
            const double u = dx * -sa + dy * ca, along = dx * ca + dy * sa;
            const double e = std::exp(-(u * u / (2 * sigma * sigma) + along * along / (2 * sigmaB * sigmaB)));
            const double v = e * (cx[dx + R] * cy[dy + R] - sx[dx + R] * sy[dy + R]);
            g[(dy + R) * side + dx + R] = v;
            sum += v;
        }
    const double mean = sum / double(side * side);
    double gain = 0;
    for (int dy = -R; dy <= R; ++dy)
        for (int dx = -R; dx <= R; ++dx) {
            double &v = g[(dy + R) * side + dx + R];
            v -= mean;
            gain += v * (cx[dx + R] * cy[dy + R] - sx[dx + R] * sy[dy + R]);
        }
    for (int i = 0; i < side * side; ++i) k[i] = float(gain > 0 ? g[i] / gain : 0.0);
}

}  // namespace

namespace kxx::print {

GaborRowFn gaborRowKernel(isa::Level level) noexcept { return isa::Clones<gaborRow>::table.pick(level); }

}  // namespace kxx::print

extern "C" {

int kxxPrintGabor(const Image *print, int block, const float *orientation, const float *frequency,
                  const uint8_t *mask, const KxxPrintParams *params, Image *enhanced, Image *ridges)
{
    if (!(print && orientation && frequency && params))
        return kx::failed("print && orientation && frequency && params", 0);
    if (!typeOk(print) || print->imageType != KIT_GRAY || !blockOk(block) || !paramsOk(*params)) return 0;
    const int w = print->width, h = print->height;
    auto sameSize = [&](const Image *im) { return im->width == w && im->height == h; };
    if (enhanced && (!typeOk(enhanced) || enhanced->imageType != KIT_GRAY || !sameSize(enhanced))) return 0;
    if (ridges && (!typeOk(ridges) || (ridges->imageType != KIT_GRAY && ridges->imageType != KIT_BIN) ||
                   !sameSize(ridges)))
        return 0;
    const Grid g = grid(print, block);
    const size_t n = size_t(g.cols) * g.rows;
    const KxxPrintParams &p = *params;

    // The bank: one slot per (q, 2P); 2P <= 2 * 100 + 1.
    const int periods = 202;
    const size_t slots = size_t(p.angles) * periods;
    Scratch<int64_t> offset(slots);
    Scratch<double> sd(n);
    if (!offset || !sd || !blockStats(print, block, sd.get(), nullptr)) return kx::failed("padded", 0);
    std::fill(offset.get(), offset.get() + slots, int64_t(-1));
    size_t total = 0;
    int maxR = 0;
    for (size_t b = 0; b < n; ++b) {
        if (mask && !mask[b]) continue;
        const Key key = keyOf(orientation[b], frequency[b], p);
        int64_t &o = offset[size_t(key.q) * periods + size_t(key.halfPeriods)];
        if (o >= 0) continue;
        const int R = radiusOf(key.halfPeriods, p);
        o = int64_t(total);
        total += size_t(2 * R + 1) * size_t(2 * R + 1);
        maxR = std::max(maxR, R);
    }
    const int side0 = 2 * kMaxRadius + 1;
    Scratch<float> kernels(std::max<size_t>(total, 1));
    Scratch<double> work(size_t(side0) * side0 + 4 * size_t(side0));
    const int B = maxR;
    const ptrdiff_t stride = ptrdiff_t(w) + 2 * B;
    Scratch<float> padded(size_t(stride) * size_t(h + 2 * B));
    Scratch<float> acc{size_t(block)};
    if (!kernels || !work || !padded || !acc) return kx::failed("padded", 0);
    for (int q = 0; q < p.angles; ++q)
        for (int hp = 0; hp < periods; ++hp) {
            const int64_t o = offset[size_t(q) * periods + size_t(hp)];
            if (o >= 0) buildKernel({q, hp}, p, radiusOf(hp, p), kernels.get() + o, work.get());
        }
    for (int y = -B; y < h + B; ++y) {
        const uint8_t *src = row(print, int(reflect(y, h)));
        float *dst = padded.get() + ptrdiff_t(y + B) * stride;
        for (int x = -B; x < w + B; ++x) dst[x + B] = float(src[reflect(x, w)]);
    }
    const GaborRowFn rowFn = gaborRowKernel(isa::active());
    for (int j = 0; j < g.rows; ++j)
        for (int i = 0; i < g.cols; ++i) {
            const size_t b = size_t(j) * g.cols + i;
            const int x0 = i * block, y0 = j * block;
            const int bw = std::min(block, w - x0), bh = std::min(block, h - y0);
            const bool fg = !mask || mask[b];
            if (!fg) {
                for (int y = y0; y < y0 + bh; ++y) {
                    if (enhanced) std::memset(row(enhanced, y) + x0, 255, size_t(bw));
                    if (ridges) std::memset(row(ridges, y) + x0, 0, size_t(bw));
                }
                continue;
            }
            const Key key = keyOf(orientation[b], frequency[b], p);
            const int R = radiusOf(key.halfPeriods, p), side = 2 * R + 1;
            const float *k = kernels.get() + offset[size_t(key.q) * periods + size_t(key.halfPeriods)];
            const double s = sd[b] < 1 ? 1.0 : sd[b];
            for (int y = y0; y < y0 + bh; ++y) {
                rowFn(padded.get() + ptrdiff_t(y + B - R) * stride + (x0 + B - R), stride, k, side, bw, acc.get());
                for (int x = 0; x < bw; ++x) {
                    const float r = acc[size_t(x)];
                    if (enhanced) {
                        const double v = std::floor(128 + 64 * double(r) / s + 0.5);
                        row(enhanced, y)[x0 + x] = uint8_t(std::clamp(v, 0.0, 255.0));
                    }
                    if (ridges) row(ridges, y)[x0 + x] = uint8_t(r < 0);
                }
            }
        }
    if (ridges) ridges->imageType = KIT_BIN;
    return 1;
}

}  // extern "C"
