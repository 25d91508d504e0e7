// The two-pass scaler and the nearest-neighbour scaler as the direct loops:
// one row (then one column) at a time, channel by channel, each destination
// byte summed in an 8-bit accumulator.  The library's line-wise version must
// give the same bytes.  The filter classes are the library's own (their
// weights are checked against hand-computed values separately).
#pragma once

#include "geometry/two_pass_scale.hpp"
#include "ref_transform.hpp"

namespace ref {

struct Entry {
    int first = 0, last = -1;
    std::vector<float> weights;
};

template <class Filter>
std::vector<Entry> contributions(int count, int sourceSize, float scale, int *windowOut = nullptr)
{
    Filter f;
    float w = f.getWidth(), fs = 1.0;
    if (scale < 1.0) w = w / scale, fs = scale;
    const int windowSize = 2 * (int)std::ceil(w) + 1;
    if (windowOut) *windowOut = windowSize;
    std::vector<Entry> t(count);
    for (int u = 0; u < count; ++u) {
        const float centre = u / scale;
        int first = std::max((int)std::floor(centre - w), 0);
        int last = std::min((int)std::ceil(centre + w), sourceSize - 1);
        if (last - first + 1 > windowSize) {
            if (first < sourceSize) first++; else last--;
        }
        t[u] = {first, last, std::vector<float>(windowSize, 0.0f)};
        float total = 0;
        for (int i = first; i <= last; ++i) total += t[u].weights[i - first] = fs * f.weightAt(fs * (centre - i));
        if (total > 0)
            for (int i = first; i <= last; ++i) t[u].weights[i - first] /= total;
    }
    return t;
}

// One pass: along the rows (alongX) or the columns, into dstW x dstH.
template <class Filter>
Pic pass(const Pic &src, int dstW, int dstH, bool alongX)
{
    const int n = alongX ? dstW : dstH, srcN = alongX ? src.w : src.h;
    if (n == srcN) return src;
    const auto t = contributions<Filter>(n, srcN, float((long double)unsigned(n) / unsigned(srcN)));
    Pic d{dstW, dstH, src.bpp, std::vector<uint8_t>(size_t(dstW) * dstH * src.bpp)};
    for (int y = 0; y < dstH; ++y)
        for (int x = 0; x < dstW; ++x)
            for (int c = 0; c < src.bpp; ++c) {
                const Entry &e = t[alongX ? x : y];
                uint8_t acc = 0;
                for (int i = e.first; i <= e.last; ++i)
                    acc += (int)((alongX ? src.at(i, y) : src.at(x, i))[c] * e.weights[i - e.first]);
                d.at(x, y)[c] = acc;
            }
    return d;
}

template <class Filter>
Pic scale2pass(const Pic &src, int dstW, int dstH)
{
    return pass<Filter>(pass<Filter>(src, dstW, src.h, true), dstW, dstH, false);
}

// kxScaleEx's filter codes 2..6.
inline Pic scaleFiltered(int filter, const Pic &src, int w, int h)
{
    using namespace kx::geo;
    switch (filter) {
    case 2: return scale2pass<CBilinearFilter>(src, w, h);
    case 3: return scale2pass<CBoxFilter>(src, w, h);
    case 4: return scale2pass<CGaussianFilter>(src, w, h);
    case 5: return scale2pass<CHammingFilter>(src, w, h);
    default: return scale2pass<CBlackmanFilter>(src, w, h);
    }
}

// Nearest neighbour into `dst`, which keeps what it held where no source
// pixel maps.
inline void scaleNearest(const Pic &src, Pic &dst)
{
    const float rx = (float)(dst.w * 1.0 / src.w), ry = (float)(dst.h * 1.0 / src.h);
    for (int x = 0; x < dst.w; ++x)
        for (int y = 0; y < dst.h; ++y) {
            const int ix = (int)(x / rx + 0.5), iy = (int)(y / ry + 0.5);
            if (ix < src.w && iy < src.h)
                for (int c = 0; c < src.bpp; ++c) dst.at(x, y)[c] = src.at(ix, iy)[c];
        }
}

}  // namespace ref
