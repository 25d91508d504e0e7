// Direct versions of the rotation engine and the two-pass scaler: one
// pixel and byte at a time, no vectors, tiles or integer weights.  They
// build on the library's bounding box, scalar sampler, filters and
// contribution tables, which the tests pin by hand-worked cases.
#pragma once

#include <cmath>
#include <vector>

#include "geometry/rotate_engine.hpp"
#include "geometry/two_pass_scale.hpp"
#include "kxtest.hpp"

namespace ref {

struct Pic {
    int w = 0, h = 0, bpp = 1;
    std::vector<uint8_t> px;
    uint8_t *at(int x, int y) { return px.data() + (size_t(y) * w + x) * bpp; }
    const uint8_t *at(int x, int y) const { return px.data() + (size_t(y) * w + x) * bpp; }
};

inline Pic picOf(const Image *im) { return {im->width, im->height, kxtest::bpp(im->imageType), kxtest::pixels(im)}; }

inline Pic filled(int w, int h, const std::vector<uint8_t> &bg)
{
    Pic p{w, h, int(bg.size()), {}};
    for (int i = 0; i < w * h; ++i) p.px.insert(p.px.end(), bg.begin(), bg.end());
    return p;
}

// The bytes kxSetPixelEx stores for a colour in an image of this type.
inline std::vector<uint8_t> colourBytes(int type, uint32_t colour)
{
    kxtest::ImagePtr one = kxtest::makeImage(type, 1, 1);
    kxSetPixelEx(one.get(), colour, nullptr, 0);
    return kxtest::pixels(one.get());
}

// The library's scalar bilinear sample of one pixel of s at (sx, sy).
inline void sample(const Pic &s, float sx, float sy, uint8_t *out)
{
    using namespace kx::geo;
    auto fn = s.bpp == 1 ? bilinearSampleGray : s.bpp == 3 ? bilinearSampleRgb : bilinearSampleRgba;
    fn(s.px.data(), s.w, s.h, s.w * s.bpp, sx, sy, out);
}

// kxRotateEx/E2: sqrt, atan2, cos and sin per pixel of the whole box, cut
// to size afterwards.
inline Pic rotateEngine(const Pic &s, double angle, bool bilinear, bool keepSize, const std::vector<uint8_t> &bg)
{
    int newW = s.w, newH = s.h;
    kx::geo::rotatedSize(newW, newH, angle);
    Pic tmp = filled(newW, newH, bg);
    const int halfW = (newW - 1) / 2, halfH = (newH - 1) / 2, cx = (s.w - 1) / 2, cy = (s.h - 1) / 2;
    for (int x = -halfW; x <= halfW; ++x)
        for (int y = -halfH; y <= halfH; ++y) {
            const float r = (float)std::sqrt(x * x + y * y), th = (float)std::atan2(y, x);
            const float sx = (float)(std::cos(th + angle) * r + cx), sy = (float)(std::sin(th + angle) * r + cy);
            uint8_t *d = tmp.at(x + halfW, y + halfH);
            const int ix = (int)std::floor(sx + 0.5), iy = (int)std::floor(sy + 0.5);
            if (!bilinear && iy >= 0 && iy < s.h && ix >= 0 && ix < s.w) std::copy_n(s.at(ix, iy), s.bpp, d);
            if (bilinear && sy >= -1.0 && sy < s.h && sx >= -1.0 && sx < s.w) sample(s, sx, sy, d);
        }
    if (!keepSize) return tmp;
    Pic out = filled(s.w, s.h, bg);
    const int offX = (newW - s.w) / 2, offY = (newH - s.h) / 2;
    for (int x = 0; x < s.w; ++x)
        for (int y = 0; y < s.h; ++y)
            if (x + offX >= 0 && x + offX < newW && y + offY >= 0 && y + offY < newH)
                std::copy_n(tmp.at(x + offX, y + offY), s.bpp, out.at(x, y));
    return out;
}

// One pass along the rows (alongX) or columns, each byte summed term by
// term in an 8-bit accumulator.
template <class Filter>
Pic pass(const Pic &src, int dstW, int dstH, bool alongX)
{
    const int n = alongX ? dstW : dstH, srcN = alongX ? src.w : src.h;
    if (n == srcN) return src;
    kx::geo::ContributionTable *t = kx::geo::computeContributions<Filter>(n, srcN, kx::geo::axisScale(n, srcN));
    Pic d{dstW, dstH, src.bpp, std::vector<uint8_t>(size_t(dstW) * dstH * src.bpp)};
    for (int y = 0; y < dstH; ++y)
        for (int x = 0; x < dstW; ++x)
            for (int c = 0; c < src.bpp; ++c) {
                const kx::geo::ContributionEntry &e = t->entries[alongX ? x : y];
                uint8_t acc = 0;
                for (int i = e.first; i <= e.last; ++i)
                    acc += (int)((alongX ? src.at(i, y) : src.at(x, i))[c] * e.weights[i - e.first]);
                d.at(x, y)[c] = acc;
            }
    kx::geo::releaseContributions(t);
    return d;
}

// kxScaleEx's filter codes 2..6: rows to the new width, then columns.
inline Pic scaleFiltered(int filter, const Pic &src, int w, int h)
{
    using namespace kx::geo;
    auto both = [&](auto f) {
        using F = decltype(f);
        return pass<F>(pass<F>(src, w, src.h, true), w, h, false);
    };
    switch (filter) {
    case 2: return both(CBilinearFilter{});
    case 3: return both(CBoxFilter{});
    case 4: return both(CGaussianFilter{});
    case 5: return both(CHammingFilter{});
    default: return both(CBlackmanFilter{});
    }
}

// Nearest neighbour; dst keeps what it held where no source pixel maps.
inline void scaleNearest(const Pic &src, Pic &dst)
{
    const float rx = (float)(dst.w * 1.0 / src.w), ry = (float)(dst.h * 1.0 / src.h);
    for (int x = 0; x < dst.w; ++x)
        for (int y = 0; y < dst.h; ++y) {
            const int ix = (int)(x / rx + 0.5), iy = (int)(y / ry + 0.5);
            if (ix < src.w && iy < src.h) std::copy_n(src.at(ix, iy), src.bpp, dst.at(x, y));
        }
}

}  // namespace ref
