// Local integral thresholding with every window summed directly (zero
// outside the image, divisor w * w): the library keeps running column sums
// instead.  Returns the 0/1 bytes of a packed grey image.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace ref {

inline std::vector<uint8_t> localDirect(const std::vector<uint8_t> &in, int W, int H, int window, uint8_t range, float k)
{
    const int64_t w = window < 1 ? 1 : window % 2 == 0 ? int64_t(window) + 1 : window, half = w / 2;
    const double area = double(w * w);
    std::vector<uint8_t> out(in.size());
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            int64_t s = 0, q = 0;
            for (int64_t j = std::max<int64_t>(0, y - half); j <= std::min<int64_t>(H - 1, y + half); ++j)
                for (int64_t i = std::max<int64_t>(0, x - half); i <= std::min<int64_t>(W - 1, x + half); ++i) {
                    const int v = in[size_t(j * W + i)];
                    s += v, q += v * v;
                }
            const float m = float(double(s) / area), sd = float(std::sqrt(double(float(double(q) / area) - m * m)));
            const double T = double(m) * (1.0 + double(k) * (double(sd) / range - 1.0));
            out[size_t(y) * W + x] = !(in[size_t(y) * W + x] <= T);
        }
    return out;
}

}  // namespace ref
