// Private helpers of the filtering and intensity family: saturating byte
// conversions.
#pragma once

#include <cstdint>

#include "frame/frame.hpp"

namespace kx::filter {

// An integer saturated to 0..255.
inline uint8_t saturate(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// A value truncated toward zero and saturated to 0..255; NaN gives 0.
inline uint8_t truncSaturate(double v)
{
    if (!(v > 0.0)) return 0;  // negatives, zero, NaN: truncation gives 0 or less
    if (v >= 255.0) return 255;
    return uint8_t(v);
}

}  // namespace kx::filter
