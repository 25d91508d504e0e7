// Block fields of a fingerprint: orientation and coherence from the
// structure tensor of Scharr derivatives (smoothed in the doubled-angle
// domain), the foreground mask, and the ridge frequency from the spectrum
// of each block's x-signature.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "fingerprint_detail.hpp"

using namespace kx;
using kxx::reflect;

namespace {

constexpr double kPi = 3.14159265358979323846;

int64_t binomial(int n, int k)
{
    int64_t r = 1;
    for (int i = 1; i <= k; ++i) r = r * (n - k + i) / i;
    return r;
}

// Block grid morphology: 3 x 3 erosion or dilation over the neighbours
// within the grid.
void morph3(const uint8_t *in, uint8_t *out, int cols, int rows, bool erode)
{
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i) {
            bool any = false, all = true;
            for (int dj = -1; dj <= 1; ++dj)
                for (int di = -1; di <= 1; ++di) {
                    const int a = i + di, b = j + dj;
                    if (a < 0 || b < 0 || a >= cols || b >= rows) continue;
                    const bool v = in[size_t(b) * cols + a];
                    any |= v;
                    all &= v;
                }
            out[size_t(j) * cols + i] = uint8_t(erode ? all : any);
        }
}

// Flood fill of `value` regions from a seed; labels into `mark` (0 unset).
// Returns the area.  Stack of block indices in `stack` (cols * rows).
int flood(const uint8_t *grid, int cols, int rows, int seed, uint8_t value, bool eight, int32_t *mark, int32_t label,
          int32_t *stack)
{
    int top = 0, area = 0;
    stack[top++] = seed;
    mark[seed] = label;
    while (top) {
        const int at = stack[--top];
        ++area;
        const int i = at % cols, j = at / cols;
        for (int dj = -1; dj <= 1; ++dj)
            for (int di = -1; di <= 1; ++di) {
                if ((!di && !dj) || (!eight && di && dj)) continue;
                const int a = i + di, b = j + dj;
                if (a < 0 || b < 0 || a >= cols || b >= rows) continue;
                const int n = b * cols + a;
                if (mark[n] || grid[n] != value) continue;
                mark[n] = label;
                stack[top++] = n;
            }
    }
    return area;
}

}  // namespace

namespace kxx::print {

bool paramsOk(const KxxPrintParams &p) noexcept
{
    auto finite = [](double v) { return std::isfinite(v); };
    return blockOk(p.block) && p.smooth >= 0 && p.smooth <= 4 && finite(p.minStd) && finite(p.minCoherence) &&
           finite(p.maxMean) && finite(p.minPeriod) && finite(p.maxPeriod) && p.minPeriod >= 2 &&
           p.maxPeriod > p.minPeriod && p.maxPeriod <= 100 && finite(p.minPeak) && p.angles >= 2 && p.angles <= 64 &&
           p.minArea >= 0 && finite(p.sigma) && p.sigma >= 0.1 && p.sigma <= 2 &&
           finite(p.sigmaAlong) && p.sigmaAlong >= 0.1 && p.sigmaAlong <= 4 && finite(p.border) &&
           p.border >= 0 && p.border <= 1000 && finite(p.minRidge) && p.minRidge >= 0 && p.minRidge <= 1000 &&
           finite(p.bridge) && p.bridge >= 0 && p.bridge <= 1000 && finite(p.gap) && p.gap >= 0 && p.gap <= 1000 &&
           finite(p.gapAngle) && p.trace >= 2 && p.trace <= 64;
}

bool blockStats(const Image *print, int block, double *sd, double *mean) noexcept
{
    const Grid g = grid(print, block);
    Scratch<int64_t> sums(2 * size_t(g.cols));
    if (!sums) return false;
    for (int j = 0; j < g.rows; ++j) {
        std::memset(sums.get(), 0, 2 * size_t(g.cols) * sizeof(int64_t));
        const int y0 = j * block, y1 = std::min(y0 + block, print->height);
        for (int y = y0; y < y1; ++y) {
            const uint8_t *p = row(print, y);
            for (int x = 0; x < print->width; ++x) {
                const int i = x / block;
                sums[2 * size_t(i)] += p[x];
                sums[2 * size_t(i) + 1] += int64_t(p[x]) * p[x];
            }
        }
        for (int i = 0; i < g.cols; ++i) {
            const int x0 = i * block, x1 = std::min(x0 + block, print->width);
            const double n = double((x1 - x0) * (y1 - y0));
            const double m = double(sums[2 * size_t(i)]) / n;
            const double v = double(sums[2 * size_t(i) + 1]) / n - m * m;
            sd[size_t(j) * g.cols + i] = std::sqrt(std::max(v, 0.0));
            if (mean) mean[size_t(j) * g.cols + i] = m;
        }
    }
    return true;
}

int cleanMask(const uint8_t *raw, int cols, int rows, uint8_t *mask) noexcept
{
    const size_t n = size_t(cols) * rows;
    Scratch<uint8_t> work(2 * n);
    Scratch<int32_t> marks(2 * n);
    if (!work || !marks) return kx::failed("grid", -1);
    uint8_t *a = work.get(), *b = work.get() + n;
    std::memcpy(a, raw, n);
    struct { int cols, rows; } g{cols, rows};
    morph3(a, b, g.cols, g.rows, true);  // opening
    morph3(b, a, g.cols, g.rows, false);
    morph3(a, b, g.cols, g.rows, false);  // closing
    morph3(b, a, g.cols, g.rows, true);
    // Holes: background not reached from the edge.
    int32_t *mark = marks.get(), *stack = marks.get() + n;
    std::memset(mark, 0, n * sizeof(int32_t));
    for (int j = 0; j < g.rows; ++j)
        for (int i = 0; i < g.cols; ++i) {
            const int at = j * g.cols + i;
            const bool edge = i == 0 || j == 0 || i == g.cols - 1 || j == g.rows - 1;
            if (edge && !a[at] && !mark[at]) flood(a, g.cols, g.rows, at, 0, false, mark, 1, stack);
        }
    for (size_t k = 0; k < n; ++k)
        if (!a[k] && !mark[k]) a[k] = 1;
    // The largest foreground region.
    std::memset(mark, 0, n * sizeof(int32_t));
    int best = 0, bestLabel = 0, label = 0;
    for (size_t k = 0; k < n; ++k)
        if (a[k] && !mark[k]) {
            const int area = flood(a, g.cols, g.rows, int(k), 1, true, mark, ++label, stack);
            if (area > best) best = area, bestLabel = label;
        }
    for (size_t k = 0; k < n; ++k) mask[k] = uint8_t(bestLabel && mark[k] == bestLabel);
    return best;
}

}  // namespace kxx::print

using namespace kxx::print;


extern "C" {

int kxxPrintDefaults(KxxPrintParams *params, int dpi)
{
    if (!params) return kx::failed("params", 0);
    if (dpi < 100 || dpi > 2000) return 0;
    const double s = dpi / 500.0;
    KxxPrintParams p{};
    p.block = std::clamp(2 * int(std::floor(8.0 * s + 0.5)), 4, 64);
    p.smooth = 2;
    p.minStd = 8;
    p.minCoherence = 0.12;
    p.maxMean = 250;
    p.minPeriod = 4 * s;
    p.maxPeriod = 18 * s;
    p.minPeak = 0.12;
    p.angles = 24;
    p.minArea = int(16 * s * s + 0.5);
    p.sigma = 0.35;
    p.sigmaAlong = 0.3;
    p.border = 8 * s;
    p.minRidge = 14 * s;
    p.bridge = 14 * s;
    p.gap = 18 * s;
    p.gapAngle = 45;
    p.trace = std::max(2, int(10 * s + 0.5));
    p.reserved = 0;
    *params = p;
    return 1;
}

int kxxPrintOrientation(const Image *print, int block, int smooth, float *orientation, float *coherence)
{
    if (!(print && orientation)) return kx::failed("print && orientation", 0);
    if (!typeOk(print) || print->imageType != KIT_GRAY || !blockOk(block) || smooth < 0 || smooth > 4) return 0;
    const Grid g = grid(print, block);
    const int w = print->width, h = print->height;
    const size_t blocks = size_t(g.cols) * g.rows;
    const size_t stride = size_t(w) + 2;
    Scratch<int64_t> sums(3 * blocks);
    Scratch<int16_t> rows(3 * stride);
    if (!sums || !rows) return kx::failed("sums", 0);
    std::memset(sums.get(), 0, 3 * blocks * sizeof(int64_t));
    int16_t *ring[3] = {rows.get(), rows.get() + stride, rows.get() + 2 * stride};
    auto load = [&](int y, int16_t *dst) {
        const uint8_t *p = row(print, int(reflect(y, h)));
        for (int x = 0; x < w; ++x) dst[x + 1] = p[x];
        dst[0] = p[reflect(-1, w)];
        dst[w + 1] = p[reflect(w, w)];
    };
    load(-1, ring[0]);
    load(0, ring[1]);
    for (int y = 0; y < h; ++y) {
        load(y + 1, ring[2]);
        const int16_t *up = ring[0], *mid = ring[1], *down = ring[2];
        int64_t *srow = sums.get() + 3 * size_t(y / block) * g.cols;
        for (int x = 0; x < w; ++x) {
            const int l = x, c = x + 1, r = x + 2;
            const int64_t gx = 3 * (up[r] - up[l]) + 10 * (mid[r] - mid[l]) + 3 * (down[r] - down[l]);
            const int64_t gy = 3 * (down[l] - up[l]) + 10 * (down[c] - up[c]) + 3 * (down[r] - up[r]);
            int64_t *s = srow + 3 * (x / block);
            s[0] += gx * gx;
            s[1] += gy * gy;
            s[2] += gx * gy;
        }
        int16_t *oldest = ring[0];
        ring[0] = ring[1];
        ring[1] = ring[2];
        ring[2] = oldest;
    }
    int64_t weight[9];
    for (int k = 0; k <= 2 * smooth; ++k) weight[k] = binomial(2 * smooth, k);
    for (int j = 0; j < g.rows; ++j)
        for (int i = 0; i < g.cols; ++i) {
            int64_t A = 0, B = 0, C = 0;
            for (int dj = -smooth; dj <= smooth; ++dj)
                for (int di = -smooth; di <= smooth; ++di) {
                    const int a = i + di, b = j + dj;
                    if (a < 0 || b < 0 || a >= g.cols || b >= g.rows) continue;
                    const int64_t *s = sums.get() + 3 * (size_t(b) * g.cols + a);
                    const int64_t wt = weight[di + smooth] * weight[dj + smooth];
                    A += wt * (s[0] - s[1]);
                    B += wt * 2 * s[2];
                    C += wt * (s[0] + s[1]);
                }
            const size_t at = size_t(j) * g.cols + i;
            double t = 0;
            if (A || B) {
                t = 0.5 * std::atan2(double(B), double(A)) + kPi / 2;
                if (t >= kPi) t -= kPi;
            }
            float tf = float(t);
            if (tf >= float(kPi)) tf = 0;  // rounding up to pi
            orientation[at] = tf;
            if (coherence) {
                const double a = double(A), b = double(B);
                coherence[at] = C ? float(std::sqrt(a * a + b * b) / double(C)) : 0.0f;
            }
        }
    return 1;
}

int kxxPrintMask(const Image *print, int block, const float *coherence, const KxxPrintParams *params, uint8_t *mask)
{
    if (!(print && params && mask)) return kx::failed("print && params && mask", -1);
    if (!typeOk(print) || print->imageType != KIT_GRAY || !blockOk(block) || !paramsOk(*params)) return -1;
    const Grid g = grid(print, block);
    const size_t n = size_t(g.cols) * g.rows;
    Scratch<double> stats(2 * n);
    Scratch<uint8_t> work(n);
    if (!stats || !work || !blockStats(print, block, stats.get(), stats.get() + n)) return kx::failed("grid", -1);
    uint8_t *a = work.get();
    for (size_t k = 0; k < n; ++k)
        a[k] = uint8_t(stats[k] >= params->minStd && stats[n + k] <= params->maxMean &&
                       (!coherence || coherence[k] >= params->minCoherence));
    return cleanMask(a, g.cols, g.rows, mask);
}

int kxxPrintFrequency(const Image *print, int block, const float *orientation, const uint8_t *mask,
                      const KxxPrintParams *params, float *frequency, uint8_t *measured)
{
    if (!(print && orientation && params && frequency))
        return kx::failed("print && orientation && params && frequency", -1);
    if (!typeOk(print) || print->imageType != KIT_GRAY || !blockOk(block) || !paramsOk(*params)) return -1;
    const Grid g = grid(print, block);
    const size_t n = size_t(g.cols) * g.rows;
    const int L = 3 * block, W = block, M = 64;
    Scratch<double> table(2 * size_t(M) * L + 2 * size_t(L) + size_t(M));
    Scratch<float> values(2 * n);
    if (!table || !values) return kx::failed("table", -1);
    const double fmin = 1.0 / params->maxPeriod, fmax = 1.0 / params->minPeriod;
    double *cs = table.get(), *wk = cs + 2 * size_t(M) * L, *sig = wk + L, *cnt = sig + L;
    double wsum = 0;
    for (int k = 0; k < L; ++k) {
        wk[k] = 0.5 - 0.5 * std::cos(2 * kPi * (k + 1) / (L + 1));
        wsum += wk[k];
    }
    for (int m = 0; m < M; ++m) {
        const double f = fmin + m * (fmax - fmin) / (M - 1);
        for (int k = 0; k < L; ++k) {
            cs[2 * (size_t(m) * L + k)] = std::cos(2 * kPi * f * k);
            cs[2 * (size_t(m) * L + k) + 1] = std::sin(2 * kPi * f * k);
        }
    }
    float *val = values.get(), *next = values.get() + n;
    Scratch<uint8_t> validity(2 * n);
    if (!validity) return kx::failed("table", -1);
    uint8_t *valid = validity.get(), *nvalid = validity.get() + n;
    int found = 0;
    const int w = print->width, h = print->height;
    for (int j = 0; j < g.rows; ++j)
        for (int i = 0; i < g.cols; ++i) {
            const size_t at = size_t(j) * g.cols + i;
            valid[at] = 0;
            val[at] = 0;
            if (mask && !mask[at]) continue;
            const int x0 = i * block, y0 = j * block;
            const int bw = std::min(block, w - x0), bh = std::min(block, h - y0);
            const double cx = x0 + (bw - 1) / 2.0, cy = y0 + (bh - 1) / 2.0;
            const double t = orientation[at];
            const double ux = std::cos(t), uy = std::sin(t), nx = -uy, ny = ux;
            bool ok = true;
            for (int k = 0; k < L && ok; ++k) {
                int64_t s = 0, c = 0;
                const double ak = k - (L - 1) / 2.0;
                for (int d = 0; d < W; ++d) {
                    const double ad = d - (W - 1) / 2.0;
                    const int px = int(std::floor(cx + ak * nx + ad * ux + 0.5));
                    const int py = int(std::floor(cy + ak * ny + ad * uy + 0.5));
                    if (px < 0 || py < 0 || px >= w || py >= h) continue;
                    s += row(print, py)[px];
                    ++c;
                }
                if (!c) ok = false;
                else sig[k] = double(s) / double(c);
            }
            if (!ok) continue;
            double mean = 0;
            for (int k = 0; k < L; ++k) mean += wk[k] * sig[k];
            mean /= wsum;
            double energy = 0;
            for (int k = 0; k < L; ++k) {
                sig[k] -= mean;
                energy += wk[k] * sig[k] * sig[k];
            }
            if (!(energy > 0)) continue;
            for (int m = 0; m < M; ++m) {
                double re = 0, im = 0;
                for (int k = 0; k < L; ++k) {
                    const double v = wk[k] * sig[k];
                    re += v * cs[2 * (size_t(m) * L + k)];
                    im += v * cs[2 * (size_t(m) * L + k) + 1];
                }
                cnt[m] = (re * re + im * im) / (energy * wsum);
            }
            int best = 0;
            for (int m = 1; m < M; ++m)
                if (cnt[m] > cnt[best]) best = m;
            double pos = best;
            if (best > 0 && best < M - 1) {
                const double a = cnt[best - 1], b = cnt[best], c = cnt[best + 1];
                const double den = a - 2 * b + c;
                if (den < 0) pos = best + 0.5 * (a - c) / den;
            }
            const double f = fmin + pos * (fmax - fmin) / (M - 1);
            if (cnt[best] >= params->minPeak && f >= fmin && f <= fmax) {
                valid[at] = 1;
                val[at] = float(f);
                ++found;
            }
        }
    if (measured) std::memcpy(measured, valid, n);
    if (!found) {
        for (size_t k = 0; k < n; ++k) frequency[k] = float(2.0 / (params->minPeriod + params->maxPeriod));
        return 0;
    }
    // Fill from valid neighbours, pass by pass.
    for (bool missing = true; missing;) {
        missing = false;
        for (int j = 0; j < g.rows; ++j)
            for (int i = 0; i < g.cols; ++i) {
                const size_t at = size_t(j) * g.cols + i;
                next[at] = val[at];
                nvalid[at] = valid[at];
                if (valid[at]) continue;
                float sum = 0;
                int c = 0;
                for (int dj = -1; dj <= 1; ++dj)
                    for (int di = -1; di <= 1; ++di) {
                        const int a = i + di, b = j + dj;
                        if ((!di && !dj) || a < 0 || b < 0 || a >= g.cols || b >= g.rows) continue;
                        const size_t nb = size_t(b) * g.cols + a;
                        if (valid[nb]) sum += val[nb], ++c;
                    }
                if (c) next[at] = sum / float(c), nvalid[at] = 1;
                else missing = true;
            }
        std::swap(val, next);
        std::swap(valid, nvalid);
    }
    for (int j = 0; j < g.rows; ++j)
        for (int i = 0; i < g.cols; ++i) {
            double sum = 0, wt = 0;
            for (int dj = -1; dj <= 1; ++dj)
                for (int di = -1; di <= 1; ++di) {
                    const int a = i + di, b = j + dj;
                    if (a < 0 || b < 0 || a >= g.cols || b >= g.rows) continue;
                    const double k = double((2 - std::abs(di)) * (2 - std::abs(dj)));
                    sum += k * val[size_t(b) * g.cols + a];
                    wt += k;
                }
            frequency[size_t(j) * g.cols + i] = float(sum / wt);
        }
    return found;
}

}  // extern "C"
