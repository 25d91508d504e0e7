// Local integral thresholding as plain full-size tables: integral images of
// the values and of the squares in double, the local means in float, loops
// column by column.  Returns the 0/1 bytes (packed rows).
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "kxpre.h"

namespace ref {

inline std::vector<uint8_t> localIntegral(const Image *im, int window, uint8_t range, float k)
{
    const int W = im->width, H = im->height;
    auto p = [&](int x, int y) { return im->data[size_t(y) * im->pitch + x]; };
    std::vector<double> I(size_t(W) * H), G(size_t(W) * H);
    std::vector<float> M(size_t(W) * H), V(size_t(W) * H);
    auto at = [&](std::vector<double> &a, int x, int y) { return x < 0 || y < 0 ? 0.0 : a[size_t(y) * W + x]; };

    long long w = window;
    if (w < 1) w = 1;  // the library's reading of a side below 1
    if (w % 2 == 0) w = w + 1;
    const long long h = w / 2;
    const long long area = w * w;

    auto integrate = [&](auto value) {
        for (int x = 0; x < W; ++x)
            for (int y = 0; y < H; ++y)
                I[size_t(y) * W + x] = value(x, y) + at(I, x - 1, y) + at(I, x, y - 1) - at(I, x - 1, y - 1);
    };
    auto windowSum = [&](int x, int y) {
        const long long x0 = std::max<long long>(0, x - h), x1 = std::min<long long>(W - 1, x + h);
        const long long y0 = std::max<long long>(0, y - h), y1 = std::min<long long>(H - 1, y + h);
        return at(I, int(x1), int(y1)) - at(I, int(x0) - 1, int(y1)) - at(I, int(x1), int(y0) - 1) +
               at(I, int(x0) - 1, int(y0) - 1);
    };

    integrate([&](int x, int y) { return double(p(x, y)); });
    for (int x = 0; x < W; ++x)
        for (int y = 0; y < H; ++y) M[size_t(y) * W + x] = float(windowSum(x, y) / double(area));
    for (int x = 0; x < W; ++x)
        for (int y = 0; y < H; ++y) G[size_t(y) * W + x] = double(p(x, y)) * p(x, y);
    integrate([&](int x, int y) { return G[size_t(y) * W + x]; });
    for (int x = 0; x < W; ++x)
        for (int y = 0; y < H; ++y) V[size_t(y) * W + x] = float(windowSum(x, y) / double(area));
    for (int x = 0; x < W; ++x)
        for (int y = 0; y < H; ++y) {
            float &v = V[size_t(y) * W + x];
            const float m = M[size_t(y) * W + x];
            const float d = v - m * m;
            v = float(std::sqrt(double(d)));
        }
    std::vector<uint8_t> out(size_t(W) * H);
    const int R = range;
    for (int x = 0; x < W; ++x)
        for (int y = 0; y < H; ++y) {
            const size_t i = size_t(y) * W + x;
            const double T = double(M[i]) * (1.0 + double(k) * (double(V[i]) / R - 1.0));
            out[i] = std::isnan(T) ? 1 : (p(x, y) > T ? 1 : 0);
        }
    return out;
}

}  // namespace ref
