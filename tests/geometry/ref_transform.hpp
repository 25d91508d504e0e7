// Straightforward versions of the pixel-permuting operations, written as
// the plain loops they describe; the library's tiled and in-place versions
// must give the same bytes.  Images are packed byte vectors here.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <utility>
#include <vector>

#include "kxtest.hpp"

namespace ref {

struct Pic {
    int w = 0, h = 0, bpp = 1;
    std::vector<uint8_t> px;
    uint8_t *at(int x, int y) { return px.data() + (size_t(y) * w + x) * bpp; }
    const uint8_t *at(int x, int y) const { return px.data() + (size_t(y) * w + x) * bpp; }
};

inline Pic picOf(const Image *im) { return {im->width, im->height, kxtest::bpp(im->imageType), kxtest::pixels(im)}; }

// A w x h picture of background pixels `bg`.
inline Pic filled(int w, int h, const std::vector<uint8_t> &bg)
{
    Pic p{w, h, int(bg.size()), {}};
    for (int i = 0; i < w * h; ++i) p.px.insert(p.px.end(), bg.begin(), bg.end());
    return p;
}

// Pixel (x, y) of `s` goes to `to(x, y)` in a w x h picture.
template <class To>
Pic permute(const Pic &s, int w, int h, To to)
{
    Pic d{w, h, s.bpp, s.px};
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
            const auto [nx, ny] = to(x, y);
            for (int c = 0; c < s.bpp; ++c) d.at(nx, ny)[c] = s.at(x, y)[c];
        }
    return d;
}

inline Pic halfTurn(const Pic &s)
{
    return permute(s, s.w, s.h, [&](int x, int y) { return std::pair{s.w - 1 - x, s.h - 1 - y}; });
}

// Counter-clockwise quarter turn: old (x, y) becomes column y of row w-1-x.
inline Pic quarterTurn(const Pic &s)
{
    return permute(s, s.h, s.w, [&](int x, int y) { return std::pair{y, s.w - 1 - x}; });
}

// kxRotate's turn count and its three cases (three quarters = half turn,
// then a quarter turn).
inline Pic rotate(const Pic &s, int n)
{
    int64_t k = std::llabs(int64_t(n)) % 4;
    if (n < 0) k = (4 - k) % 4;
    return k == 0 ? s : k == 1 ? quarterTurn(s) : k == 2 ? halfTurn(s) : quarterTurn(halfTurn(s));
}

// kxFlip: modes 0 and 2 swap the rows, modes 0 and 1 the pixels of a row.
inline Pic flip(const Pic &s, int mode)
{
    const bool rows = mode == 0 || mode == 2, cols = mode == 0 || mode == 1;
    return permute(s, s.w, s.h,
                   [&](int x, int y) { return std::pair{cols ? s.w - 1 - x : x, rows ? s.h - 1 - y : y}; });
}

}  // namespace ref
