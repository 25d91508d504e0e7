// Two-pass filtered scaling: every row is resampled to the new width, then
// every column of that intermediate to the new height.  A filter class
// gives the weight of a source sample at a (scaled) distance; the resampler
// C2PassScale is a template over the filter.
//
// Exactness: weights are single-precision floats, built once per pass into
// a ContributionTable (one entry per destination sample).  A destination
// byte is the sum of trunc(source byte * weight) over its window, kept
// modulo 256 - each term truncated on its own, so a flat picture may come
// out a level or two darker.  Since every term is rounded on its own and
// integer addition is associative, the passes are free to visit terms in
// any order: the work runs along whole lines (rows for the vertical pass,
// transposed strips of rows for the horizontal one) so it vectorises.
//
// Routes (a LinePlan per pass, settled before any byte is written): a term
// is taken either as written (the byte converted to float, multiplied,
// truncated: the vector instructions do exactly the scalar steps, up to
// AVX-512), or through an integer form of its weight checked on all 256
// bytes (termCode), which pays only where few different weights serve many
// bytes - halving, doubling and other ratios of small numbers.  Every route
// gives the bytes of the plain loop; the tests compare them per level.

#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <climits>
#include <utility>

#include "frame/isa.hpp"
#include "kxpre.h"

namespace kx::geo {

// ---- filters ---------------------------------------------------------------

// Single-precision values of pi, 2 pi and 4 pi, used as doubles.
constexpr double kPiF = 3.1415927410125732;
constexpr double k2PiF = 6.2831854820251465;
constexpr double k4PiF = 12.566370964050293;

class CGenericFilter {
public:
    explicit CGenericFilter(float width) : width(width) {}
    virtual ~CGenericFilter() = default;
    virtual float weightAt(float x) const = 0;
    float getWidth() const { return width; }

protected:
    float width;  // half-width of the support; the weight is 0 beyond it
};

class CBilinearFilter : public CGenericFilter {
public:
    static constexpr float kWidth = 1.0f;
    explicit CBilinearFilter(float w = kWidth) : CGenericFilter(w) {}
    float weightAt(float x) const override
    {
        const float a = std::fabs(x);
        return a < width ? width - a : 0.0f;
    }
};

class CBoxFilter : public CGenericFilter {
public:
    static constexpr float kWidth = 0.5f;
    explicit CBoxFilter(float w = kWidth) : CGenericFilter(w) {}
    float weightAt(float x) const override { return std::fabs(x) <= width ? 1.0f : 0.0f; }
};

class CGaussianFilter : public CGenericFilter {
public:
    static constexpr float kWidth = 3.0f;
    explicit CGaussianFilter(float w = kWidth) : CGenericFilter(w) {}
    float weightAt(float x) const override
    {
        if (std::fabs(x) > width) return 0.0f;
        const float e = float(std::exp(double(float(-x * x / 2.0))));
        return e / float(std::sqrt(k2PiF));
    }
};

class CHammingFilter : public CGenericFilter {
public:
    static constexpr float kWidth = 0.5f;
    explicit CHammingFilter(float w = kWidth) : CGenericFilter(w) {}
    float weightAt(float x) const override
    {
        if (std::fabs(x) > width) return 0.0f;
        const float window = float(double(float(std::cos(double(float(x * k2PiF))))) * 0.46 + 0.54);
        float s = 1.0f;
        if (x != 0.0f) s = float(double(float(std::sin(double(float(x * kPiF))))) / (x * kPiF));
        return window * s;
    }
};

class CBlackmanFilter : public CGenericFilter {
public:
    static constexpr float kWidth = 0.5f;
    explicit CBlackmanFilter(float w = kWidth) : CGenericFilter(w) {}
    float weightAt(float x) const override
    {
        if (std::fabs(x) > width) return 0.0f;
        const float n = float(2.0 * width + 1.0);
        return float(std::cos(x * k2PiF / (n - 1.0)) * 0.5 + 0.42 + std::cos(x * k4PiF / (n - 1.0)) * 0.08);
    }
};

// ---- contribution tables -------------------------------------------------

struct ContributionEntry {
    float *weights;  // windowSize floats; weight k belongs to source sample first + k
    int first, last;  // inclusive range of contributing source samples
};

struct ContributionTable {
    ContributionEntry *entries;
    int windowSize;
    int count;
    float *weightBlock;  // the weights of every entry, in one block
};

inline void releaseContributions(ContributionTable *table)
{
    if (!table) return;
    kxFree(table->weightBlock);
    kxFree(table->entries);
    kxFree(table);
}

// A table of `count` entries with room for windowSize weights each (zero),
// or null when memory runs out.
inline ContributionTable *allocateContributions(int count, int windowSize)
{
    auto *t = static_cast<ContributionTable *>(kxAlloc(sizeof(ContributionTable)));
    if (!t) return nullptr;
    t->count = count;
    t->windowSize = windowSize;
    t->entries = static_cast<ContributionEntry *>(kxAlloc(uint64_t(count) * sizeof(ContributionEntry)));
    const uint64_t floats = uint64_t(count) * uint64_t(windowSize);
    t->weightBlock = floats <= UINT64_MAX / sizeof(float) ? static_cast<float *>(kxAlloc(floats * sizeof(float))) : nullptr;
    if (!t->entries || !t->weightBlock) {
        releaseContributions(t);
        return nullptr;
    }
    std::memset(t->weightBlock, 0, floats * sizeof(float));
    for (int u = 0; u < count; ++u) t->entries[u] = {t->weightBlock + uint64_t(u) * windowSize, 0, -1};
    return t;
}

// Weights of every destination sample u = 0..count-1 of one axis, for a
// source of sourceSize samples and scale = destination / source.  All in
// single precision: a reduction stretches the filter to width / scale and
// scales its weights by `scale`; destination sample u sits at source
// coordinate u / scale (no half-pixel offset); the weights of an entry are
// divided by their sum when that sum is positive.  Null when memory runs out
// or the window cannot be held.
template <class Filter>
ContributionTable *computeContributions(int count, int sourceSize, float scale);

// ---- the resampler ---------------------------------------------------------

// trunc(float(b) * w) for every byte b taken in integers (scale_fast.cpp):
// kZero gives 0, kCopy gives b, kMul gives ((b * mul) >> 16) >> shift.
struct TermCode {
    enum Kind : uint8_t { kZero, kCopy, kMul };
    uint16_t mul;
    uint8_t shift;
    Kind kind;
};

// The integer form of weight w with shift <= maxShift, checked on all 256
// bytes; false when there is none (the term then stays in floats).
bool termCode(float w, int maxShift, TermCode &code) noexcept;

// How one table's lines are made, settled once per pass (before any byte is
// written): each entry's window trimmed of the zero weights at either end
// (they add nothing: each term truncates to 0), and its route.  The integer
// forms cost a fraction of a microsecond a weight, so they are found only
// when the table's weights repeat enough for the integer lines to repay
// them (halving, doubling and other ratios of small numbers); otherwise
// every term is taken in floats exactly as written.
struct LinePlan {
    enum Route : uint8_t { kEmpty, kCopy, kInts, kFloats };
    int count = 0, windowSize = 0;
    bool ints = false;  // codes were sought (some entries may still be kFloats)
    int32_t *lo = nullptr, *hi = nullptr;  // the trimmed window of each entry
    Route *route = nullptr;
    TermCode *codes = nullptr;  // windowSize per entry (when ints), code k for source sample first + k
    const ContributionTable *table = nullptr;
};

// The plan of `table` for lines of `lineBytes` bytes (a row pass: the
// rows times the bytes of a pixel, every weight being used on each of
// them), or null when memory runs out.
LinePlan *planLines(const ContributionTable *table, double lineBytes) noexcept;
void releaseLinePlan(LinePlan *plan) noexcept;

// Out line u (n bytes, at out + u * outStride) = sum over the entry's
// window of trunc(in line i [j] * weight), modulo 256, for u = u0..u1-1;
// in line i is at in + (i - base) * inStride.  Kernels of `level`.
void resampleLines(const uint8_t *in, size_t inStride, int base, uint8_t *out, size_t outStride, size_t n,
                   const LinePlan *plan, int u0, int u1, isa::Level level) noexcept;

// Out (n bytes) = the sum modulo 256 of trunc(float(line k [j]) * w[k]) over
// k < taps, line k at first + k * stride: the float route of one entry.
// Out must not overlap the lines (a last partial block is made as a whole
// block ending at n, over bytes already made); so for integerLine.
using FloatLineFn = void (*)(const uint8_t *first, size_t stride, const float *w, int taps, uint8_t *out, size_t n);
FloatLineFn floatLineKernel(isa::Level level) noexcept;

// The row pass of one table without transposes: as shuffles and 16-bit
// multiplies, for AVX2 processors and plans whose every weight has an
// integer form with shift 0 and whose taps for eight neighbouring
// destination bytes lie within 16 source bytes; else, at the AVX-512 level,
// as shuffles and float lanes (the float route's very terms) where the taps
// of 16 (three-byte pixels: 12) neighbouring destination bytes lie within
// 16 source bytes - enlargements and slight reductions.  Null otherwise (or
// out of memory), and the row pass takes the strips.
struct RowProgram;
RowProgram *buildRowProgram(const LinePlan *plan, int srcW, int ch, isa::Level level) noexcept;
void releaseRowProgram(RowProgram *program) noexcept;
bool rowProgramInts(const RowProgram *program) noexcept;  // an integer program
// `rows` rows: src (srcW * ch bytes each) to dst (count * ch bytes each).
void runRowProgram(const RowProgram *program, const uint8_t *src, size_t srcPitch, uint8_t *dst, size_t dstPitch,
                   int rows) noexcept;

// Out (n bytes) = the sum modulo 256 of the terms of `taps` lines, byte j
// of line k taken with codes[k] (kZero codes left out by the caller);
// AVX2 or SSE2 instructions as `avx2` says.
void integerLine(const uint8_t *const *lines, const TermCode *codes, int taps, uint8_t *out, size_t n,
                 bool avx2) noexcept;

template <class Filter>
class C2PassScale {
public:
    // Progress callback: a percentage 0..99; returning 0 aborts the scale.
    using ProgressFn = int (*)(int);

    C2PassScale(int channels, ProgressFn progress) : progress_(progress), aborted_(0), channels_(channels) {}
    virtual ~C2PassScale() = default;

    // Scales the srcW x srcH picture into the dstW x dstH one (rows `pitch`
    // bytes apart, channels_ bytes per pixel).  Returns dst, or null when
    // out of memory (dst untouched: all scratch is taken before it is
    // written) or aborted by the callback (an abort during the column pass
    // leaves the columns done so far).
    uint8_t *scale(const uint8_t *src, int srcW, int srcH, int srcPitch, uint8_t *dst, int dstW, int dstH,
                   int dstPitch)
    {
        return scaleAt(isa::active(), src, srcW, srcH, srcPitch, dst, dstW, dstH, dstPitch);
    }
    // The same with the kernels of `level` (at most isa::active(); every
    // level gives the same bytes, which the tests check).
    uint8_t *scaleAt(isa::Level level, const uint8_t *src, int srcW, int srcH, int srcPitch, uint8_t *dst, int dstW,
                     int dstH, int dstPitch);

private:
    // Scratch of the row pass: transposed strips of `strip` rows, each
    // pixel in a slot of `slot` bytes.  Three-byte pixels travel in
    // four-byte slots, so that they transpose as four-byte pixels do; the
    // fourth byte of a slot is resampled too and dropped.
    struct Strips {
        int strip = 0, slot = 0;
        bool wide = false;  // three-byte pixels
        size_t line = 0;
        uint8_t *inT = nullptr, *outT = nullptr;
        Strips(int ch, int rows, int srcW, int dstW)
            : strip(std::max(1, std::min(ch == 1 ? 64 : 16, rows))), slot(ch == 3 ? 4 : ch), wide(ch == 3),
              line(size_t(strip) * slot), inT(static_cast<uint8_t *>(kxAlloc(uint64_t(srcW) * line))),
              outT(static_cast<uint8_t *>(kxAlloc(uint64_t(dstW) * line)))
        {
        }
        ~Strips()
        {
            kxFree(inT);
            kxFree(outT);
        }
        Strips(const Strips &) = delete;
        Strips &operator=(const Strips &) = delete;
        explicit operator bool() const { return inT && outT; }
    };

    uint8_t *scaleStreamed(const uint8_t *src, int srcW, int srcH, int srcPitch, uint8_t *dst, int dstW, int dstH,
                           int dstPitch, isa::Level level);
    void filterRows(const uint8_t *src, int srcW, int rows, int srcPitch, uint8_t *dst, int dstW, int dstPitch,
                    const LinePlan *plan, const RowProgram *program, const Strips &scratch, isa::Level level);
    bool scaleHorizontally(const uint8_t *src, int srcW, int rows, int srcPitch, uint8_t *dst, int dstW,
                           int dstPitch, isa::Level level);
    bool scaleVertically(const uint8_t *src, int width, int srcH, int srcPitch, uint8_t *dst, int dstH,
                         int dstPitch, isa::Level level);

    ProgressFn progress_;
    int aborted_;
    int channels_;
};

// Scale of one axis: destination / source taken as unsigned and divided in
// extended precision, then rounded to float.
inline float axisScale(int dst, int src) { return float((long double)unsigned(dst) / (long double)unsigned(src)); }

// The resampler and the contribution tables are built for the five filters
// in two_pass_scale.cpp.
extern template class C2PassScale<CBilinearFilter>;
extern template class C2PassScale<CBoxFilter>;
extern template class C2PassScale<CGaussianFilter>;
extern template class C2PassScale<CHammingFilter>;
extern template class C2PassScale<CBlackmanFilter>;

}  // namespace kx::geo
