// Straightforward out-of-place versions of the filters that the library
// computes in place, in row bands, with rolling rows, running column sums,
// sorting networks or column histograms: every output pixel from its
// window of the untouched input.  Images are packed: w * h * c bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace ref {

using Bytes = std::vector<uint8_t>;

// out = f(at, x, y) per pixel and channel; at(i, j) reads the input, -1
// outside the image.
template <class F>
Bytes each(const Bytes &in, int w, int h, int c, F f)
{
    Bytes out(in.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int ch = 0; ch < c; ++ch) {
                auto at = [&](int64_t i, int64_t j) { return i < 0 || j < 0 || i >= w || j >= h ? -1 : int(in[size_t((j * w + i) * c + ch)]); };
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

inline Bytes roberts(const Bytes &in, int w, int h)
{
    return each(in, w, h, 1, [](auto at, int x, int y) {
        if (x < 1 || y < 1 || at(x + 1, y + 1) < 0) return 0;
        return std::min(std::abs(at(x + 1, y + 1) - at(x, y)) + std::abs(at(x, y + 1) - at(x + 1, y)), 255);
    });
}

inline Bytes diffFirst(const Bytes &in, int w, int h, int mode)
{
    return each(in, w, h, 1, [&](auto at, int x, int y) {
        if (x < 1 || y < 1) return 0;
        const int dx = std::abs(at(x - 1, y) - at(x, y)), dy = std::abs(at(x, y - 1) - at(x, y));
        return mode == 1 ? dx : mode == 2 ? dy : mode == 0 ? std::min(dx + dy, 255) : 0;
    });
}

inline Bytes gradient(const Bytes &in, int w, int h, int mode, int gap)
{
    return each(in, w, h, 1, [&](auto at, int x, int y) {
        const int r = at(int64_t(x) + gap, y), d = at(x, int64_t(y) + gap), p = at(x, y);
        const int dx = r < 0 ? 0 : std::abs(r - p), dy = d < 0 ? 0 : std::abs(d - p);
        return mode == 1 ? dx : mode == 2 ? dy : r < 0 || d < 0 ? 0 : std::min(dx + dy, 255);
    });
}

// The in-image values of the n x n window (n: the side capped at 9, even
// sides raised to odd) of each pixel: their mean over n * n as a float,
// truncated, or the value of rank count / 2 after sorting.
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
