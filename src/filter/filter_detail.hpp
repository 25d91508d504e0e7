// Private helpers of the filtering and intensity family: saturating byte
// conversions and the vector-clone switch.
#pragma once

#include <cstdint>

#include "frame/frame.hpp"

// The hot byte loops are also compiled for AVX2 and picked when the
// library is loaded, where the processor has it (same arithmetic, wider
// vectors).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
#define KX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KX_VECTOR_CLONES
#endif

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
