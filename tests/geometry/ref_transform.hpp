// Straightforward versions of the pixel-permuting operations, written as
// the plain loops they describe; the library's tiled and in-place versions
// must give the same bytes.  Images are packed byte vectors here.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace ref {

struct Pic {
    int w = 0, h = 0, bpp = 1;
    std::vector<uint8_t> px;
    uint8_t *at(int x, int y) { return px.data() + (size_t(y) * w + x) * bpp; }
    const uint8_t *at(int x, int y) const { return px.data() + (size_t(y) * w + x) * bpp; }
};

inline Pic halfTurn(const Pic &s)
{
    Pic d = s;
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x)
            for (int c = 0; c < s.bpp; ++c) d.at(s.w - 1 - x, s.h - 1 - y)[c] = s.at(x, y)[c];
    return d;
}

// Counter-clockwise quarter turn: for x from w-1 down to 0 (new row
// w-1-x) and y from 0 to h-1, new (column y, row w-1-x) := old (x, y).
inline Pic quarterTurn(const Pic &s)
{
    Pic d{s.h, s.w, s.bpp, std::vector<uint8_t>(s.px.size())};
    for (int x = s.w - 1; x >= 0; --x)
        for (int y = 0; y < s.h; ++y)
            for (int c = 0; c < s.bpp; ++c) d.at(y, s.w - 1 - x)[c] = s.at(x, y)[c];
    return d;
}

// kxRotate's turn count and its three cases (three quarters = half turn,
// then a quarter turn).
inline Pic rotate(const Pic &s, int n)
{
    int64_t k = std::llabs(int64_t(n)) % 4;
    if (n < 0) k = 4 - k;
    if (k == 0 || k == 4) return s;
    if (k == 2) return halfTurn(s);
    if (k == 3) return quarterTurn(halfTurn(s));
    return quarterTurn(s);
}

// kxFlip: rows swapped (modes 0, 2), then pixels of each row (modes 0, 1).
inline Pic flip(const Pic &s, int mode)
{
    Pic d = s;
    if (mode == 0 || mode == 2)
        for (int y = 0; y < s.h / 2; ++y)
            for (int i = 0; i < s.w * s.bpp; ++i) std::swap(d.at(0, y)[i], d.at(0, s.h - 1 - y)[i]);
    if (mode == 0 || mode == 1)
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w / 2; ++x)
                for (int c = 0; c < s.bpp; ++c) std::swap(d.at(x, y)[c], d.at(s.w - 1 - x, y)[c]);
    return d;
}

}  // namespace ref
