// The two-pass scaler and the nearest-neighbour scaler as the direct loops:
// one row (then one column) at a time, channel by channel, each destination
// byte summed in an 8-bit accumulator.  The library's line-wise version must
// give the same bytes.  The filter classes are the library's own (their
// weights are checked against hand-computed values separately).
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

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
    if (scale < 1.0) {
        w = w / scale;
        fs = scale;
    }
    const int windowSize = 2 * (int)std::ceil(w) + 1;
    if (windowOut) *windowOut = windowSize;
    std::vector<Entry> t(count);
    for (int u = 0; u < count; ++u) {
        float centre = u / scale;
        int first = (int)std::floor(centre - w);
        if (first < 0) first = 0;
        int last = (int)std::ceil(centre + w);
        if (last >= sourceSize - 1) last = sourceSize - 1;
        if (last - first + 1 > windowSize) {
            if (first < sourceSize)
                first++;
            else
                last--;
        }
        t[u].first = first;
        t[u].last = last;
        t[u].weights.assign(windowSize, 0.0f);
        float total = 0;
        for (int i = first; i <= last; ++i) {
            float weight = fs * f.weightAt(fs * (centre - i));
            t[u].weights[i - first] = weight;
            total += weight;
        }
        if (total > 0)
            for (int i = first; i <= last; ++i) t[u].weights[i - first] /= total;
    }
    return t;
}

template <class Filter>
Pic scale2pass(const Pic &src, int dstW, int dstH)
{
    const int ch = src.bpp;
    Pic mid{dstW, src.h, ch, std::vector<uint8_t>(size_t(dstW) * src.h * ch)};
    if (dstW == src.w) {
        mid.px = src.px;
    } else {
        auto t = contributions<Filter>(dstW, src.w, float((long double)unsigned(dstW) / unsigned(src.w)));
        for (int y = 0; y < src.h; ++y)  // filterRow
            for (int c = 0; c < ch; ++c)
                for (int x = 0; x < dstW; ++x) {
                    uint8_t acc = 0;
                    for (int i = t[x].first; i <= t[x].last; ++i)
                        acc += (int)(src.at(i, y)[c] * t[x].weights[i - t[x].first]);
                    mid.at(x, y)[c] = acc;
                }
    }
    Pic out{dstW, dstH, ch, std::vector<uint8_t>(size_t(dstW) * dstH * ch)};
    if (dstH == src.h) {
        out.px = mid.px;
        return out;
    }
    auto t = contributions<Filter>(dstH, src.h, float((long double)unsigned(dstH) / unsigned(src.h)));
    for (int x = 0; x < dstW; ++x)  // filterColumn
        for (int c = 0; c < ch; ++c)
            for (int y = 0; y < dstH; ++y) {
                uint8_t acc = 0;
                for (int i = t[y].first; i <= t[y].last; ++i) acc += (int)(mid.at(x, i)[c] * t[y].weights[i - t[y].first]);
                out.at(x, y)[c] = acc;
            }
    return out;
}

// Nearest neighbour into `dst`, which keeps what it held where no source
// pixel maps.
inline void scaleNearest(const Pic &src, Pic &dst)
{
    float rx = (float)(dst.w * 1.0 / src.w), ry = (float)(dst.h * 1.0 / src.h);
    for (int x = 0; x < dst.w; ++x) {
        int ix = (int)(x / rx + 0.5);
        if (ix >= src.w) continue;
        for (int y = 0; y < dst.h; ++y) {
            int iy = (int)(y / ry + 0.5);
            if (iy < src.h)
                for (int c = 0; c < src.bpp; ++c) dst.at(x, y)[c] = src.at(ix, iy)[c];
        }
    }
}

}  // namespace ref
