// Straightforward versions of the filtering operations, written to follow
// each operation's documented arithmetic step by step (direct window sums, partial selection, per-pixel
// accumulation in pixel order).  The library's faster code must give the
// same bytes.  Images here are packed: w * h * c bytes, row-major.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace ref {

using Bytes = std::vector<uint8_t>;

// The 3x3 correlation core: mode 1 kernel a, mode 2 kernel b, other modes
// the sum of both responses; outside 0..255 stores 0 (binary images too).
inline Bytes convolve(const Bytes &in, int w, int h, int mode, const int *a, const int *b)
{
    Bytes out(in.size());
    auto response = [&](const int *k, int x, int y) {
        int sum = 0;
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy) {
                if (x + dx < 0 || x + dx >= w || y + dy < 0 || y + dy >= h) continue;
                sum += in[size_t(y + dy) * w + (x + dx)] * k[(dy + 1) * 3 + (dx + 1)];
            }
        return sum;
    };
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            int r;
            if (mode == 1)
                r = response(a, x, y);
            else if (mode == 2)
                r = b ? response(b, x, y) : 0;
            else
                r = response(a, x, y) + (b ? response(b, x, y) : 0);
            out[size_t(y) * w + x] = r >= 0 && r <= 255 ? uint8_t(r) : 0;
        }
    return out;
}

inline Bytes roberts(const Bytes &in, int w, int h)
{
    Bytes out(in.size(), 0);
    auto p = [&](int x, int y) { return int(in[size_t(y) * w + x]); };
    for (int x = 1; x <= w - 2; ++x)
        for (int y = 1; y <= h - 2; ++y)
            out[size_t(y) * w + x] = uint8_t(std::min(std::abs(p(x + 1, y + 1) - p(x, y)) + std::abs(p(x, y + 1) - p(x + 1, y)), 255));
    return out;
}

inline Bytes diffFirst(const Bytes &in, int w, int h, int mode)
{
    Bytes out(in.size(), 0);
    auto p = [&](int x, int y) { return int(in[size_t(y) * w + x]); };
    for (int x = 1; x < w; ++x)
        for (int y = 1; y < h; ++y) {
            const int dx = std::abs(p(x - 1, y) - p(x, y)), dy = std::abs(p(x, y - 1) - p(x, y));
            out[size_t(y) * w + x] = uint8_t(mode == 1 ? dx : mode == 2 ? dy : mode == 0 ? std::min(dx + dy, 255) : 0);
        }
    return out;
}

inline Bytes gradient(const Bytes &in, int w, int h, int mode, int gap)
{
    Bytes out(in.size(), 0);
    auto c = [&](int64_t x, int64_t y) { return int(in[size_t(y) * w + size_t(x)]); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool right = int64_t(x) + gap < w, down = int64_t(y) + gap < h;
            const int dx = right ? std::abs(c(x + gap, y) - c(x, y)) : 0, dy = down ? std::abs(c(x, y + gap) - c(x, y)) : 0;
            uint8_t &o = out[size_t(y) * w + x];
            if (mode == 1) o = uint8_t(dx);
            if (mode == 2) o = uint8_t(dy);
            if (mode != 1 && mode != 2 && right && down) o = uint8_t(std::min(dx + dy, 255));
        }
    return out;
}

// The edge detector; mask (may be empty) is w * h bytes.
inline Bytes detectEdge(const Bytes &in, int w, int h, int direction, float threshold, const Bytes &mask)
{
    const int kx = direction == 2 ? 0 : 1, ky = direction == 1 ? 0 : 1;
    const size_t n = size_t(w) * h;
    std::vector<float> bx(n, 0.f), by(n, 0.f), m(n, 0.f);
    static const float hk[9] = {0.125f, 0, -0.125f, 0.25f, 0, -0.25f, 0.125f, 0, -0.125f};
    static const float vk[9] = {0.125f, 0.25f, 0.125f, 0, 0, 0, -0.125f, -0.25f, -0.125f};
    auto part = [&](int x, int y) { return mask.empty() || mask[size_t(y) * w + x] != 0; };
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            if (!part(x, y)) continue;
            double sx = 0, sy = 0;
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i) {
                    const double p = in[size_t(y + j) * w + (x + i)];
                    sx += hk[(j + 1) * 3 + i + 1] * p;
                    sy += vk[(j + 1) * 3 + i + 1] * p;
                }
            bx[size_t(y) * w + x] = float(std::fabs(sx));
            by[size_t(y) * w + x] = float(std::fabs(sy));
        }
    long count = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!part(x, y)) continue;
            const size_t i = size_t(y) * w + x;
            m[i] = kx * bx[i] * bx[i] + ky * by[i] * by[i];
            ++count;
        }
    double cutoff = 0;
    if (threshold > 0) {
        cutoff = double(threshold) * threshold;
    } else if (count > 0) {
        double sum = 0;
        for (size_t i = 0; i < n; ++i) sum += m[i];
        cutoff = 4.0 * sum / double(count);
    }
    Bytes out(n, 0);
    const double eps = 2.220446049250313e-14;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            const size_t i = size_t(y) * w + x;
            if (!part(x, y) || !(m[i] > cutoff)) continue;
            if (bx[i] >= kx * by[i] - eps && m[i] >= m[i - 1] && m[i + 1] < m[i])
                out[i] = 1;
            else if (by[i] >= ky * bx[i] - eps && m[i] >= m[i - w] && m[i + w] < m[i])
                out[i] = 1;
        }
    if (w >= 3 && h >= 3) {
        for (int x = 0; x < w; ++x) {
            if (out[size_t(w) + x]) out[size_t(x)] = 1;
            if (out[size_t(h - 2) * w + x]) out[size_t(h - 1) * w + x] = 1;
        }
        for (int y = 0; y < h; ++y) {
            if (out[size_t(y) * w + 1]) out[size_t(y) * w] = 1;
            if (out[size_t(y) * w + w - 2]) out[size_t(y) * w + w - 1] = 1;
        }
    }
    return out;
}

// The in-image values of the n x n window (n: the window size capped at 9
// and made odd) around (x, y), channel ch.
inline std::vector<int> window(const Bytes &in, int w, int h, int c, int windowSize, int x, int y, int ch, int &n)
{
    n = std::min(windowSize, 9);
    n += n % 2 == 0;
    std::vector<int> v;
    for (int dx = -n / 2; dx <= n / 2; ++dx)
        for (int dy = -n / 2; dy <= n / 2; ++dy)
            if (x + dx >= 0 && x + dx < w && y + dy >= 0 && y + dy < h) v.push_back(in[(size_t(y + dy) * w + (x + dx)) * c + ch]);
    return v;
}

// Box mean: direct window sum, divided by n*n as a float, truncated.
inline Bytes smoothAvg(const Bytes &in, int w, int h, int c, int windowSize)
{
    Bytes out(in.size());
    for (int x = 0, n; x < w; ++x)
        for (int y = 0; y < h; ++y)
            for (int ch = 0; ch < c; ++ch) {
                int sum = 0;
                for (int v : window(in, w, h, c, windowSize, x, y, ch, n)) sum += v;
                out[(size_t(y) * w + x) * c + ch] = uint8_t(int(sum / float(n * n)));
            }
    return out;
}

// Median: in-image window values, partial selection up to rank k/2.
inline Bytes median(const Bytes &in, int w, int h, int c, int windowSize)
{
    Bytes out(in.size());
    for (int x = 0, n; x < w; ++x)
        for (int y = 0; y < h; ++y)
            for (int ch = 0; ch < c; ++ch) {
                std::vector<int> l = window(in, w, h, c, windowSize, x, y, ch, n);
                const int k = int(l.size());
                for (int i = 0; i <= k / 2; ++i)
                    for (int j = i + 1; j < k; ++j)
                        if (l[j] < l[i]) std::swap(l[i], l[j]);
                out[(size_t(y) * w + x) * c + ch] = uint8_t(l[k / 2]);
            }
    return out;
}

}  // namespace ref
