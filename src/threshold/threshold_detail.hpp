// Private code of the thresholding family: the histogram selectors and the
// multi-level search, which work on 256-bin histograms only (no image
// access), and the image-side helpers the exports share.
//
// The selectors are pure functions so that the tests can drive them with
// arbitrary histograms and compare them with straightforward loops.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/isa.hpp"
#include "kxpre.h"

namespace kx::thr {

// ---- selectors (selectors.cpp) -------------------------------------------

// The Otsu level of a histogram held in single precision over n > 0
// counted pixels.  All sums are single precision; a 0/0 between-class value
// never wins, an x/0 one beats every finite value; ties keep the lowest
// level.
int otsuLevel(const float hist[256], int64_t n) noexcept;

// The value a float bin reaches after `count` additions of 1.0f: exact up
// to 2^24, where adding 1 no longer changes it (round half to even).
constexpr float floatCount(uint64_t count) { return count < (1u << 24) ? float(count) : float(1u << 24); }

// Minimum-error level (Gaussian criterion, or Poisson when `poisson`);
// 255 for an empty histogram or when no criterion value is below DBL_MAX.
int minErrorLevel(const int32_t hist[256], bool poisson) noexcept;

// Maximum-entropy level; 255 for an empty histogram or when no level above
// 0 has a strictly larger entropy sum than level 0.
int maxEntropyLevel(const int32_t hist[256]) noexcept;

// The most frequent grey level, the lowest on ties, 0 when empty.
int modeLevel(const int32_t hist[256]) noexcept;

// The isodata level T in 0..255 (pixels > T are foreground) after at most
// maxIterations + 1 updates from 128, on the histogram smoothed over
// `window` bins.  A window <= 0 counts as 1 (no smoothing); a side of T
// without any count takes the mean of the other side.
int isodataLevel(const int32_t hist[256], int maxIterations, int window) noexcept;

// ---- multi-level search (multilevel_search.cpp) --------------------------

// The levels - 1 thresholds (written to out[0..levels-2]) that split a
// histogram of n pixels into `levels` classes with the largest between-class
// spread, the first such tuple in lexicographic order.  levels must be in
// 2..256 and n > 0.  Returns false when scratch memory is not available.
bool multiLevelThresholds(const int32_t hist[256], int64_t n, int levels, int *out) noexcept;

// ---- local integral decision (local_rows.cpp) -----------------------------

// The constants of one kxbLocalIntegral call: window area, range and weight.
struct LocalParams {
    double area, range, k;
};

// One row of the decision: the pixel values, running sums of the column
// sums of values and of squares along the row (the window of x sums to
// sum[x + span] - sum[x], a whole number at most 65025 * area; 32-bit
// running sums may wrap, their differences are read as signed 32-bit) and
// the output bytes (which may be the pixel values: each pixel is read
// before its byte is written).
template <class T>
struct LocalRows {
    const uint8_t *src;
    const T *sum, *sq;
    size_t span;
    uint8_t *dst;
    size_t n;
    LocalParams p;
};

// The largest window area of the vector kernel: its sums of squares stay
// below 2^31 and its sums of values below 2^24.
constexpr double kLocalVectorArea = 33025;

// A vector decision of a row's first pixels (as many as it returns; the
// plain loop decides the rest).
using LocalKernel = size_t (*)(const LocalRows<uint32_t> &r) noexcept;

// The kernel of `level` (at most isa::active()) for calls with these
// constants: a vector kernel where the call suits one (an odd area up to
// kLocalVectorArea, a finite weight), else one that leaves the whole row to
// the plain loop.
LocalKernel localKernelFor(const LocalParams &p, isa::Level level = isa::active()) noexcept;

// Windows above kLocalVectorArea up to kLocalPackedArea keep both sums in
// one 64-bit word, Q * 2^kLocalPackedShift + S (LocalRows<uint64_t>, sq
// unused): window differences modulo 2^64 of such words are exact, as the
// window's S stays below 2^26 and its Q below 2^38.
constexpr double kLocalPackedArea = 262144;
constexpr int kLocalPackedShift = 26;

// The largest window area of the vector kernel on 64-bit sums (2^25).
constexpr double kLocalVectorArea64 = 33554432;

// A vector decision on 64-bit running sums, as LocalKernel.
using LocalKernel64 = size_t (*)(const LocalRows<int64_t> &r) noexcept;

// The kernel on 64-bit sums of `level` for calls with these constants: a
// vector kernel for an odd area up to kLocalVectorArea64 and a finite
// weight, else one that leaves the row to the plain loop.
LocalKernel64 localKernel64For(const LocalParams &p, isa::Level level = isa::active()) noexcept;

// The same on packed sums (an odd area up to kLocalPackedArea).
using LocalKernelPacked = size_t (*)(const LocalRows<uint64_t> &r) noexcept;
LocalKernelPacked localKernelPackedFor(const LocalParams &p, isa::Level level = isa::active()) noexcept;

// dst[x] = 1 where src[x] is not at or below the level made from the window
// mean and deviation, else 0; the same bytes by every kernel.
void decideLocalRow(const LocalRows<int64_t> &r, LocalKernel64 k) noexcept;
void decideLocalRow(const LocalRows<uint64_t> &r, LocalKernelPacked k) noexcept;
void decideLocalRow(const LocalRows<uint32_t> &r, LocalKernel k) noexcept;

// ---- image side (internal/histogram.cpp) ----------------------------------

// A usable KIT_GRAY image: the only type this family processes.
bool isGrey(const Image *image) noexcept;

// Counts the grey levels of a usable KIT_GRAY image into hist (zeroed
// first); with a mask only over the rectangle common to both and only where
// the mask byte is non-zero.  Returns the number of counted pixels.
int64_t countGrey(const Image *image, const Image *mask, int32_t hist[256]) noexcept;

// Rewrites every pixel through a 0/1 table and makes the image KIT_BIN.
void binarize(Image *image, const uint8_t table[256]) noexcept;

}  // namespace kx::thr
