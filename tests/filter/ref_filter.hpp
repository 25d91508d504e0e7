// Out-of-place versions of the filters the library runs in place, in row
// bands, on rolling rows, running column sums, sorting networks or column
// histograms: each output from its window of the untouched input.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace ref {

using Bytes = std::vector<uint8_t>;

// out = f(at, x, y) per pixel and channel of a packed w x h x c image;
// at(i, j) reads the input, -1 outside.
template <class F>
Bytes each(const Bytes &in, int w, int h, int c, F f)
{
    Bytes out(in.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int ch = 0; ch < c; ++ch) {
                auto at = [&](int64_t i, int64_t j) {
                    return i < 0 || j < 0 || i >= w || j >= h ? -1 : int(in[size_t((j * w + i) * c + ch)]);
                };
                out[(size_t(y) * w + x) * c + ch] = uint8_t(f(at, x, y));
            }
    return out;
}

// 3x3 correlation, zero outside: mode 1 kernel a, mode 2 kernel b (none:
// 0), other modes both; a response outside 0..255 stores 0.
inline Bytes convolve(const Bytes &in, int w, int h, int mode, const int *a, const int *b)
{
    return each(in, w, h, 1, [&](auto at, int x, int y) {
        auto response = [&](const int *k) {
            int r = 0;
            for (int j = 0; k && j < 9; ++j) r += std::max(at(x + j % 3 - 1, y + j / 3 - 1), 0) * k[j];
            return r;
        };
        const int r = mode == 1 ? response(a) : mode == 2 ? response(b) : response(a) + response(b);
        return r >= 0 && r <= 255 ? r : 0;
    });
}

// kxRoberts (op 0), kxDiffFirst (op 1) and kxGradient (op 2).
inline Bytes difference(const Bytes &in, int w, int h, int op, int mode, int gap = 1)
{
    return each(in, w, h, 1, [&](auto at, int x, int y) {
        const int p = at(x, y), r = at(int64_t(x) + gap, y), d = at(x, int64_t(y) + gap);
        const int corner = at(x + 1, y + 1);
        if (op == 0) return x < 1 || y < 1 || corner < 0 ? 0 : std::min(std::abs(corner - p) + std::abs(d - r), 255);
        if (op == 1 && (x < 1 || y < 1)) return 0;
        const int dx = op == 1 ? std::abs(at(x - 1, y) - p) : r < 0 ? 0 : std::abs(r - p);
        const int dy = op == 1 ? std::abs(at(x, y - 1) - p) : d < 0 ? 0 : std::abs(d - p);
        if (mode == 1 || mode == 2) return mode == 1 ? dx : dy;
        if (op == 1) return mode == 0 ? std::min(dx + dy, 255) : 0;
        return r < 0 || d < 0 ? 0 : std::min(dx + dy, 255);
    });
}

// The n x n window (n: the side capped at 9, made odd) clipped to the
// image: its sum over n * n as a float, truncated, or its value of rank
// count / 2.
inline Bytes smooth(const Bytes &in, int w, int h, int c, int side, bool median)
{
    const int n = std::min(side, 9) | 1;
    return each(in, w, h, c, [&](auto at, int x, int y) {
        std::vector<int> v;
        for (int j = -n / 2; j <= n / 2; ++j)
            for (int i = -n / 2; i <= n / 2; ++i)
                if (at(x + i, y + j) >= 0) v.push_back(at(x + i, y + j));
        std::sort(v.begin(), v.end());
        int sum = 0;
        for (int p : v) sum += p;
        return median ? v[v.size() / 2] : int(sum / float(n * n));
    });
}

}  // namespace ref
