// Straightforward histogram selectors and counting, written as plain loops
// that recompute every sum from scratch, to cross-check the library's.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

#include "kxpre.h"

namespace ref {

struct Counted {
    int32_t hist[256] = {};
    float fhist[256] = {};  // the same, added up as 1.0f per pixel
    int64_t n = 0;
};

// Counts every pixel, or with a mask the pixels of the common rectangle
// whose mask byte is non-zero.
inline Counted count(const Image *im, const Image *mask)
{
    Counted c;
    const int w = mask ? std::min(im->width, mask->width) : im->width;
    const int h = mask ? std::min(im->height, mask->height) : im->height;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (mask && mask->data[size_t(y) * mask->pitch + x] == 0) continue;
            const uint8_t v = im->data[size_t(y) * im->pitch + x];
            ++c.hist[v];
            c.fhist[v] += 1.0f;
            ++c.n;
        }
    return c;
}

inline int otsu(const float h[256], int64_t n)
{
    float p[256];
    for (int i = 0; i < 256; ++i) p[i] = float(double(h[i]) / double(n));
    float muT = 0.0f, w = 0.0f, mu = 0.0f;
    for (int i = 0; i < 256; ++i) muT = muT + float(i) * p[i];
    double best = 0.0;
    int level = 0;
    for (int t = 0; t < 256; ++t) {
        w = w + p[t];
        mu = mu + float(t) * p[t];
        const float d = muT * w - mu;
        const float sigma = (d * d) / ((1.0f - w) * w);
        if (best < sigma) {
            best = sigma;
            level = t;
        }
    }
    return level;
}

inline int minError(const int32_t h[256], int criterion)
{
    double N = 0.0;
    for (int i = 0; i < 256; ++i) N = N + h[i];
    if (N == 0.0) return 255;
    double p[256];
    for (int i = 0; i < 256; ++i) p[i] = h[i] / N;
    double best = DBL_MAX;
    int level = 255;
    for (int t = 0; t < 256; ++t) {
        double P[2], m[2], v[2];
        for (int c = 0; c < 2; ++c) {
            const int lo = c == 0 ? 0 : t + 1, hi = c == 0 ? t : 255;
            double s = DBL_MIN;
            P[c] = DBL_MIN;
            for (int i = lo; i <= hi; ++i) P[c] = P[c] + p[i], s = s + i * p[i];
            m[c] = s / P[c];
            double q = DBL_MIN;
            for (int i = lo; i <= hi; ++i) q = q + (i - m[c]) * (i - m[c]) * p[i];
            v[c] = q / P[c];
        }
        double J;
        if (criterion == 0)
            J = 1 + 2 * (P[0] * log(v[0]) + P[1] * log(v[1])) - 2 * (P[0] * log(P[0]) + P[1] * log(P[1]));
        else
            J = (P[0] * m[0] + P[1] * m[1]) - P[0] * (log(P[0]) + m[0] * log(m[0])) -
                P[1] * (log(P[1]) + m[1] * log(m[1]));
        if (J < best) {
            best = J;
            level = t;
        }
    }
    return level;
}

inline int maxEntropy(const int32_t h[256])
{
    double N = 0.0;
    for (int i = 0; i < 256; ++i) N = N + h[i];
    if (N == 0.0) return 255;
    double p[256], P[256], Hb[256], Ho[256];
    for (int i = 0; i < 256; ++i) p[i] = h[i] / N, P[i] = i ? P[i - 1] + p[i] : p[i];
    for (int t = 0; t < 256; ++t) {
        double s = 0.0;
        if (P[t] > DBL_MIN)
            for (int i = 0; i <= t; ++i)
                if (p[i] > DBL_MIN) s = s + (p[i] / P[t]) * log(p[i] / P[t]);
        Hb[t] = -s;
        const double Q = 1.0 - P[t];
        s = 0.0;
        if (Q > DBL_MIN)
            for (int i = t + 1; i < 256; ++i)
                if (p[i] > DBL_MIN) s = s + (p[i] / Q) * log(p[i] / Q);
        Ho[t] = -s;
    }
    double best = Hb[0] + Ho[0];
    int level = 255;
    for (int t = 1; t < 256; ++t)
        if (best < Hb[t] + Ho[t]) {
            best = Hb[t] + Ho[t];
            level = t;
        }
    return level;
}

inline int mode(const int32_t h[256])
{
    int level = 0;
    for (int i = 0; i < 256; ++i)
        if (h[i] > h[level]) level = i;
    return level;
}

// Isodata as the library settles its open cases: window <= 0 is 1, an
// empty side takes the other side's mean.
inline int isodata(const int32_t h[256], int maxIterations, int window)
{
    if (window <= 0) window = 1;
    const int half = window / 2;
    double s[256];
    for (int i = 0; i < 256; ++i) {
        if (i >= half && i <= 255 - half) {
            double sum = 0.0;
            for (int k = -half; k <= half; ++k) sum = sum + h[i + k];
            s[i] = sum / window;
        } else {
            s[i] = h[i];
        }
    }
    int T = 128, previous = -1, iteration = 0;
    while (iteration <= maxIterations && previous != T) {
        double a = 0, b = 0, c = 0, d = 0;
        for (int i = T; i <= 255; ++i) a = a + i * s[i], b = b + s[i];
        for (int i = 0; i <= T - 1; ++i) c = c + i * s[i], d = d + s[i];
        const double mHigh = b > 0 ? a / b : c / d, mLow = d > 0 ? c / d : mHigh;
        previous = T;
        T = int(std::floor((mHigh + mLow) / 2 + 0.5));
        iteration = iteration + 1;
    }
    return T;
}

}  // namespace ref
