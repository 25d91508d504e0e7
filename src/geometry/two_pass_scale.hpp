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
#pragma once

#include <emmintrin.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <climits>
#include <utility>

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
ContributionTable *computeContributions(int count, int sourceSize, float scale)
{
    const Filter CurFilter;
    float w = CurFilter.getWidth(), fs = 1.0f;
    if (scale < 1.0f) {
        w = w / scale;
        fs = scale;
    }
    const double span = 2.0 * std::trunc(std::ceil(double(w))) + 1.0;
    if (!(span <= double(INT32_MAX))) return nullptr;
    const int windowSize = int(span);
    ContributionTable *t = allocateContributions(count, windowSize);
    if (!t) return nullptr;
    for (int u = 0; u < count; ++u) {
        ContributionEntry &e = t->entries[u];
        const float centre = float(u) / scale;
        const double lo = std::floor(centre - w), hi = std::ceil(centre + w);
        int first = lo < 0 ? 0 : lo > INT32_MAX ? INT32_MAX : int(lo);
        int last = hi >= double(sourceSize - 1) ? sourceSize - 1 : hi < INT32_MIN ? INT32_MIN : int(hi);
        if (int64_t(last) - first + 1 > windowSize) {
            if (first < sourceSize)
                ++first;
            else
                --last;
        }
        // Float rounding of centre +- w far from the origin could still
        // leave one sample too many: the window never overruns its array.
        if (int64_t(last) - first + 1 > windowSize) last = first + windowSize - 1;
        e.first = first;
        e.last = last;
        float total = 0.0f;
        for (int i = first; i <= last; ++i) {
            const float weight = fs * CurFilter.weightAt(fs * (centre - float(i)));
            e.weights[i - first] = weight;
            total += weight;
        }
        if (total > 0.0f)
            for (int i = first; i <= last; ++i) e.weights[i - first] /= total;
    }
    return t;
}

// ---- the resampler ---------------------------------------------------------

// Out line u (n bytes, at out + u * outStride) = sum over the entry's
// window of trunc(in line i [j] * weight), modulo 256, for u = u0..u1-1;
// in line i is at in + (i - base) * inStride.  acc holds n ints.
// `cache` keeps the weights' integer forms from one call to the next (the
// calls of one pass share it), or is null.
void resampleLines(const uint8_t *in, size_t inStride, int base, uint8_t *out, size_t outStride, size_t n,
                   const ContributionTable *table, int u0, int u1, int32_t *acc,
                   class TermCodeCache *cache = nullptr) noexcept;

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

// termCode remembered for the last weights seen (one pass's weights repeat).
class TermCodeCache {
public:
    bool find(float w, int maxShift, TermCode &code) noexcept;

private:
    static constexpr int kSlots = 64;
    struct Slot {
        bool used = false, ok = false;
        uint32_t bits = 0;
        TermCode code{};
    };
    Slot slots_[kSlots];
};

// The row pass of one table as shuffles and 16-bit multiplies, for AVX2
// processors and tables whose every weight has an integer form with shift 0
// and whose taps for eight neighbouring destination bytes lie within 16
// source bytes; null otherwise (or out of memory), and the row pass takes
// the float route.
struct RowProgram;
RowProgram *buildRowProgram(const ContributionTable *table, int srcW, int ch) noexcept;
void releaseRowProgram(RowProgram *program) noexcept;
// `rows` rows: src (srcW * ch bytes each) to dst (count * ch bytes each).
void runRowProgram(const RowProgram *program, const uint8_t *src, size_t srcPitch, uint8_t *dst, size_t dstPitch,
                   int rows) noexcept;

// Out (n bytes) = the sum modulo 256 of the terms of `taps` lines, byte j
// of line k taken with codes[k] (kZero codes left out by the caller);
// AVX2 or SSE2 instructions as `avx2` says.
void integerLine(const uint8_t *const *lines, const TermCode *codes, int taps, uint8_t *out, size_t n,
                 bool avx2) noexcept;

// Copies `count` pixels of ch bytes, from src every srcStep bytes to dst
// every dstStep bytes (rows to columns of a strip and back).
template <int CH>
inline void movePixelsOf(const uint8_t *src, size_t srcStep, uint8_t *dst, size_t dstStep, int count)
{
    for (int i = 0; i < count; ++i, src += srcStep, dst += dstStep) std::memcpy(dst, src, CH);
}

inline void movePixels(const uint8_t *src, size_t srcStep, uint8_t *dst, size_t dstStep, int count, int ch)
{
    switch (ch) {
    case 3: movePixelsOf<3>(src, srcStep, dst, dstStep, count); break;
    case 4: movePixelsOf<4>(src, srcStep, dst, dstStep, count); break;
    default: movePixelsOf<1>(src, srcStep, dst, dstStep, count); break;
    }
}

// Transposes an 8 x 8 block of bytes: dst row k, byte r = src row r, byte k.
inline void transpose8x8(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride)
{
    __m128i a[8];
    for (int r = 0; r < 8; ++r) a[r] = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(src + r * srcStride));
    const __m128i t0 = _mm_unpacklo_epi8(a[0], a[1]), t1 = _mm_unpacklo_epi8(a[2], a[3]);
    const __m128i t2 = _mm_unpacklo_epi8(a[4], a[5]), t3 = _mm_unpacklo_epi8(a[6], a[7]);
    const __m128i u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);
    const __m128i u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);
    const __m128i v[4] = {_mm_unpacklo_epi32(u0, u2), _mm_unpackhi_epi32(u0, u2), _mm_unpacklo_epi32(u1, u3),
                          _mm_unpackhi_epi32(u1, u3)};
    for (int k = 0; k < 4; ++k) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + (2 * k) * dstStride), v[k]);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + (2 * k + 1) * dstStride), _mm_srli_si128(v[k], 8));
    }
}

// Transposes a 4 x 4 block of 4-byte pixels.
inline void transpose4x4(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride)
{
    __m128 r[4];
    for (int k = 0; k < 4; ++k) r[k] = _mm_loadu_ps(reinterpret_cast<const float *>(src + k * srcStride));
    _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]);
    for (int k = 0; k < 4; ++k) _mm_storeu_ps(reinterpret_cast<float *>(dst + k * dstStride), r[k]);
}

// Pixel (i, r) of an rows x cols block of ch-byte pixels (rows srcStride
// apart) goes to pixel (r, i) of dst (rows dstStride apart).  Whole bytes
// are moved, so the block transposes give what the plain copy gives.
inline void transposePixels(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride, int rows,
                            int cols, int ch)
{
    if (ch == 3) {
        // Three-byte pixels move as four bytes where the fourth byte is
        // read from the next pixel of the source line and lands on a pixel
        // of the destination line written afterwards (row r + 1); the last
        // row and the last column move exactly three.
        // Columns in groups of 16 keep the destination lines in cache.
        for (int i0 = 0; i0 < cols; i0 += 16) {
            const int i1 = cols - i0 < 16 ? cols : i0 + 16;
            for (int r = 0; r < rows; ++r) {
                const uint8_t *s = src + size_t(r) * srcStride;
                uint8_t *d = dst + size_t(r) * 3;
                int i = i0;
                if (r + 1 < rows)
                    for (; i < i1 && i + 1 < cols; ++i) std::memcpy(d + size_t(i) * dstStride, s + size_t(i) * 3, 4);
                for (; i < i1; ++i) std::memcpy(d + size_t(i) * dstStride, s + size_t(i) * 3, 3);
            }
        }
        return;
    }
    const int blk = ch == 1 ? 8 : ch == 4 ? 4 : 0;
    int r = 0;
    if (blk)
        for (; r + blk <= rows; r += blk) {
            int i = 0;
            for (; i + blk <= cols; i += blk) {
                const uint8_t *s = src + size_t(r) * srcStride + size_t(i) * ch;
                uint8_t *d = dst + size_t(i) * dstStride + size_t(r) * ch;
                if (ch == 1)
                    transpose8x8(s, srcStride, d, dstStride);
                else
                    transpose4x4(s, srcStride, d, dstStride);
            }
            for (int k = 0; k < blk; ++k)
                movePixels(src + size_t(r + k) * srcStride + size_t(i) * ch, size_t(ch),
                           dst + size_t(i) * dstStride + size_t(r + k) * ch, dstStride, cols - i, ch);
        }
    for (; r < rows; ++r)
        movePixels(src + size_t(r) * srcStride, size_t(ch), dst + size_t(r) * ch, dstStride, cols, ch);
}

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
                   int dstPitch);

private:
    // Scratch of the row pass: transposed strips of `strip` rows.
    struct Strips {
        int strip = 0;
        size_t line = 0;
        uint8_t *inT = nullptr, *outT = nullptr;
        int32_t *acc = nullptr;
        Strips(int ch, int rows, int srcW, int dstW)
            : strip(std::max(1, std::min(ch == 1 ? 64 : ch == 3 ? 32 : 16, rows))), line(size_t(strip) * ch),
              inT(static_cast<uint8_t *>(kxAlloc(uint64_t(srcW) * line))),
              outT(static_cast<uint8_t *>(kxAlloc(uint64_t(dstW) * line))),
              acc(static_cast<int32_t *>(kxAlloc(line * sizeof(int32_t))))
        {
        }
        ~Strips()
        {
            kxFree(inT);
            kxFree(outT);
            kxFree(acc);
        }
        Strips(const Strips &) = delete;
        Strips &operator=(const Strips &) = delete;
        explicit operator bool() const { return inT && outT && acc; }
    };

    uint8_t *scaleStreamed(const uint8_t *src, int srcW, int srcH, int srcPitch, uint8_t *dst, int dstW, int dstH,
                           int dstPitch);
    void filterRows(const uint8_t *src, int srcW, int rows, int srcPitch, uint8_t *dst, int dstW, int dstPitch,
                    const ContributionTable *table, const RowProgram *program, const Strips &scratch);
    bool scaleHorizontally(const uint8_t *src, int srcW, int rows, int srcPitch, uint8_t *dst, int dstW,
                           int dstPitch);
    bool scaleVertically(const uint8_t *src, int width, int srcH, int srcPitch, uint8_t *dst, int dstH,
                         int dstPitch);

    ProgressFn progress_;
    int aborted_;
    int channels_;
};

// Scale of one axis: destination / source taken as unsigned and divided in
// extended precision, then rounded to float.
inline float axisScale(int dst, int src) { return float((long double)unsigned(dst) / (long double)unsigned(src)); }

template <class Filter>
uint8_t *C2PassScale<Filter>::scale(const uint8_t *src, int srcW, int srcH, int srcPitch, uint8_t *dst, int dstW,
                                    int dstH, int dstPitch)
{
    aborted_ = 0;
    if (!progress_) return scaleStreamed(src, srcW, srcH, srcPitch, dst, dstW, dstH, dstPitch);
    auto *buffer = static_cast<uint8_t *>(kxAlloc(uint64_t(dstPitch) * uint64_t(srcH)));
    if (!buffer) return nullptr;
    bool ok = scaleHorizontally(src, srcW, srcH, srcPitch, buffer, dstW, dstPitch);
    if (ok && !aborted_) ok = scaleVertically(buffer, dstW, srcH, dstPitch, dst, dstH, dstPitch);
    kxFree(buffer);
    return ok && !aborted_ ? dst : nullptr;
}

// Without a callback the two passes interleave: the rows of the
// intermediate picture are made in bands, each band just before the
// destination rows that read it, so the intermediate never exists whole.
// Rows shared by two bands are made twice, identically.  All scratch is
// taken before the first destination byte is written.
template <class Filter>
uint8_t *C2PassScale<Filter>::scaleStreamed(const uint8_t *src, int srcW, int srcH, int srcPitch, uint8_t *dst,
                                            int dstW, int dstH, int dstPitch)
{
    if (srcH == dstH)  // the column pass would copy the rows as they are
        return scaleHorizontally(src, srcW, srcH, srcPitch, dst, dstW, dstPitch) ? dst : nullptr;
    ContributionTable *vt = computeContributions<Filter>(dstH, srcH, axisScale(dstH, srcH));
    if (!vt) return nullptr;
    const size_t n = size_t(dstW) * channels_;
    auto *acc = static_cast<int32_t *>(kxAlloc(n * sizeof(int32_t)));
    uint8_t *result = nullptr;
    if (acc && dstW == srcW) {
        resampleLines(src, size_t(srcPitch), 0, dst, size_t(dstPitch), n, vt, 0, dstH, acc);
        result = dst;
    } else if (acc) {
        ContributionTable *ht = computeContributions<Filter>(dstW, srcW, axisScale(dstW, srcW));
        RowProgram *program = ht ? buildRowProgram(ht, srcW, channels_) : nullptr;
        const int maxBand = std::min(srcH, std::max(64, 2 * vt->windowSize));
        auto *band = static_cast<uint8_t *>(kxAlloc(uint64_t(dstPitch) * uint64_t(maxBand)));
        const Strips scratch(channels_, maxBand, srcW, dstW);
        if (ht && band && scratch) {
            TermCodeCache codes;
            for (int u0 = 0; u0 < dstH;) {
                // Destination rows u0..u1-1 whose windows fit in one band.
                int lo = 0, hi = -1, u1 = u0;
                for (; u1 < dstH; ++u1) {
                    const ContributionEntry &e = vt->entries[u1];
                    if (e.first > e.last) continue;  // an empty window reads nothing
                    const int nlo = hi < lo ? e.first : std::min(lo, e.first);
                    const int nhi = hi < lo ? e.last : std::max(hi, e.last);
                    if (nhi - nlo + 1 > maxBand) break;
                    lo = nlo;
                    hi = nhi;
                }
                if (u1 == u0) ++u1;  // cannot happen (a window fits a band); keeps the loop finite
                filterRows(src + size_t(lo) * srcPitch, srcW, hi - lo + 1, srcPitch, band, dstW, dstPitch, ht,
                           program, scratch);
                resampleLines(band, size_t(dstPitch), lo, dst, size_t(dstPitch), n, vt, u0, u1, acc, &codes);
                u0 = u1;
            }
            result = dst;
        }
        kxFree(band);
        releaseRowProgram(program);
        releaseContributions(ht);
    }
    kxFree(acc);
    releaseContributions(vt);
    return result;
}

// The row pass over `rows` rows with a ready table: strips of rows are
// transposed so that a source column becomes a line of strip * ch bytes,
// resampled, and transposed back into the destination rows.
template <class Filter>
void C2PassScale<Filter>::filterRows(const uint8_t *src, int srcW, int rows, int srcPitch, uint8_t *dst, int dstW,
                                     int dstPitch, const ContributionTable *table, const RowProgram *program,
                                     const Strips &scratch)
{
    if (program) {
        runRowProgram(program, src, size_t(srcPitch), dst, size_t(dstPitch), rows);
        return;
    }
    const int ch = channels_;
    for (int y0 = 0; y0 < rows; y0 += scratch.strip) {
        const int n = rows - y0 < scratch.strip ? rows - y0 : scratch.strip;
        transposePixels(src + size_t(y0) * srcPitch, size_t(srcPitch), scratch.inT, scratch.line, n, srcW, ch);
        resampleLines(scratch.inT, scratch.line, 0, scratch.outT, scratch.line, size_t(n) * ch, table, 0,
                      table->count, scratch.acc);
        transposePixels(scratch.outT, scratch.line, dst + size_t(y0) * dstPitch, size_t(dstPitch), dstW, n, ch);
    }
}

template <class Filter>
bool C2PassScale<Filter>::scaleHorizontally(const uint8_t *src, int srcW, int rows, int srcPitch, uint8_t *dst,
                                            int dstW, int dstPitch)
{
    const int ch = channels_;
    const size_t rowBytes = size_t(srcW) * ch;
    if (dstW == srcW) {
        for (int y = 0; y < rows; ++y) std::memcpy(dst + size_t(y) * dstPitch, src + size_t(y) * srcPitch, rowBytes);
        return true;
    }
    // The callback sees every row before its work; an abort at row y drops
    // the whole intermediate, so the rows are asked first.
    if (progress_)
        for (int y = 0; y < rows; ++y)
            if (!progress_(int(double(y) / rows * 50))) {
                aborted_ = 1;
                return true;
            }
    ContributionTable *table = computeContributions<Filter>(dstW, srcW, axisScale(dstW, srcW));
    if (!table) return false;
    RowProgram *program = buildRowProgram(table, srcW, ch);
    const Strips scratch(ch, rows, srcW, dstW);
    const bool ok = bool(scratch);
    if (ok) filterRows(src, srcW, rows, srcPitch, dst, dstW, dstPitch, table, program, scratch);
    releaseRowProgram(program);
    releaseContributions(table);
    return ok;
}

template <class Filter>
bool C2PassScale<Filter>::scaleVertically(const uint8_t *src, int width, int srcH, int srcPitch, uint8_t *dst,
                                          int dstH, int dstPitch)
{
    const size_t rowBytes = size_t(width) * channels_;
    if (srcH == dstH) {
        for (int y = 0; y < srcH; ++y) std::memcpy(dst + size_t(y) * dstPitch, src + size_t(y) * srcPitch, rowBytes);
        return true;
    }
    ContributionTable *table = computeContributions<Filter>(dstH, srcH, axisScale(dstH, srcH));
    if (!table) return false;
    auto *acc = static_cast<int32_t *>(kxAlloc(rowBytes * sizeof(int32_t)));
    if (!acc) {
        releaseContributions(table);
        return false;
    }
    // The callback is asked before each column; the columns before an
    // abort are finished, as they would be one at a time.
    int columns = width;
    if (progress_)
        for (int x = 0; x < width; ++x)
            if (!progress_(50 + int(double(x) / width * 50))) {
                aborted_ = 1;
                columns = x;
                break;
            }
    if (columns > 0)
        resampleLines(src, size_t(srcPitch), 0, dst, size_t(dstPitch), size_t(columns) * channels_, table, 0, dstH,
                      acc);
    kxFree(acc);
    releaseContributions(table);
    return true;
}

}  // namespace kx::geo
