// Private helpers of the filtering and intensity family: saturating byte
// conversions and the column steps of the 3 x 3 and 5 x 5 medians.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/frame.hpp"
#include "frame/isa.hpp"

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

// ---- 3 x 3 and 5 x 5 median steps (median_columns.cpp) --------------------

struct ColumnSteps {
    // Sorts each column triple (a[i], b[i], c[i]) into lo[i] <= md[i] <= hi[i].
    void (*sort)(const uint8_t *a, const uint8_t *b, const uint8_t *c, uint8_t *lo, uint8_t *md, uint8_t *hi,
                 size_t n) noexcept;
    // n medians from sorted column triples: out[i] from the columns at i,
    // i + C and i + 2C (C the distance of horizontal neighbours in bytes).
    void (*merge)(const uint8_t *lo, const uint8_t *md, const uint8_t *hi, uint8_t *out, size_t n,
                  size_t C) noexcept;
    // Sorts each column of five: s[0][i] <= .. <= s[4][i] are in[0..4][i].
    void (*sort5)(const uint8_t *const *in, uint8_t *const *s, size_t n) noexcept;
    // n medians from sorted columns of five: out[i] is the 13th smallest of
    // s[r][i + k C], r and k 0..4.
    void (*merge5)(const uint8_t *const *s, uint8_t *out, size_t n, size_t C) noexcept;
};

// The steps of `level` (at most isa::active()); all give the same bytes.
ColumnSteps columnSteps(isa::Level level = isa::active()) noexcept;

}  // namespace kx::filter
