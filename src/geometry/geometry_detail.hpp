// Private helpers of the geometry family: whole-pixel moves and the
// bytes-per-pixel dispatch used by the pixel-permuting operations.
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/frame.hpp"

namespace kx::geo {

template <int B>
inline void copyPixel(uint8_t *d, const uint8_t *s)
{
    std::memcpy(d, s, B);
}

template <int B>
inline void swapPixels(uint8_t *a, uint8_t *b)
{
    uint8_t t[B];
    std::memcpy(t, a, B);
    std::memcpy(a, b, B);
    std::memcpy(b, t, B);
}

// Calls f with std::integral_constant<int, bpp> for bpp 1, 3 or 4.
template <class F>
inline void withBpp(int bpp, F &&f)
{
    switch (bpp) {
    case 3: f(std::integral_constant<int, 3>{}); break;
    case 4: f(std::integral_constant<int, 4>{}); break;
    default: f(std::integral_constant<int, 1>{}); break;
    }
}

}  // namespace kx::geo
