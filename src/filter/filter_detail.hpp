// Private helpers of the filtering and intensity family: saturating byte
// conversions and the per-channel table mapper.
#pragma once

#include <cstdint>

#include "frame/frame.hpp"

// The hot byte loops are also compiled for AVX2 and picked when the
// library is loaded, where the processor has it (same arithmetic, wider
// vectors).  The pick is made by resolvers that run while the library is
// relocated, before a sanitizer's runtime is set up, so sanitizer builds
// (and clang builds) keep the plain loops.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
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

// Applies a 256-entry table to the bytes of every pixel whose channel bit
// (bit c for byte c) is set in `channelBits`; other bytes stay.
void applyLutChannels(Image *im, const uint8_t lut[256], unsigned channelBits) noexcept;

}  // namespace kx::filter
