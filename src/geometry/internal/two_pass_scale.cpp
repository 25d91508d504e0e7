// The two-pass resampler: the line kernel, the contribution tables and the
// C2PassScale bodies, built once for each of the five filters (the header
// declares them).
#include <emmintrin.h>
#include <xmmintrin.h>

#include "geometry/two_pass_scale.hpp"

using namespace kx::geo;

namespace kx::geo {

namespace {

// Finding an integer form takes a few hundred nanoseconds; an integer term
// saves a fraction of a float term's time (less with AVX-512 floats).  A
// table's weights get their forms when there are few enough different ones
// for the bytes they are used on: one form per 32 KiB of terms (measured on
// the sweep of bench/sweep_scale.py; below that the two routes are even).
constexpr double kBytesPerCode = 32768.0;
// Entries with more non-zero taps than this keep the float route.
constexpr int kMaxIntTaps = 64;

template <class T>
T *allocArray(uint64_t n)
{
    return n <= UINT64_MAX / sizeof(T) ? static_cast<T *>(kxAlloc(n * sizeof(T))) : nullptr;
}

// Distinct weight bits, counted up to a limit, each with its integer form.
class WeightSet {
public:
    explicit WeightSet(size_t limit) : limit_(limit)
    {
        size_t cap = 16;
        while (cap < 2 * limit) cap *= 2;
        mask_ = cap - 1;
        keys_ = allocArray<uint32_t>(cap);
        used_ = allocArray<uint8_t>(cap);
        codes_ = allocArray<TermCode>(cap);
        ok_ = allocArray<uint8_t>(cap);
        if (used_) std::memset(used_, 0, cap);
    }
    ~WeightSet()
    {
        kxFree(keys_);
        kxFree(used_);
        kxFree(codes_);
        kxFree(ok_);
    }
    WeightSet(const WeightSet &) = delete;
    WeightSet &operator=(const WeightSet &) = delete;
    explicit operator bool() const { return keys_ && used_ && codes_ && ok_; }

    // The slot of w, new or old; -1 when a new one would pass the limit.
    long slot(float w)
    {
        uint32_t bits;
        std::memcpy(&bits, &w, 4);
        size_t i = (bits * 0x9E3779B1u) >> 7 & mask_;
        for (; used_[i]; i = (i + 1) & mask_)
            if (keys_[i] == bits) return long(i);
        if (size_ == limit_) return -1;
        ++size_;
        used_[i] = 1;
        keys_[i] = bits;
        ok_[i] = termCode(w, 15, codes_[i]);
        return long(i);
    }
    bool ok(long i) const { return ok_[i]; }
    const TermCode &code(long i) const { return codes_[i]; }

private:
    size_t limit_, mask_ = 0, size_ = 0;
    uint32_t *keys_ = nullptr;
    uint8_t *used_ = nullptr;
    TermCode *codes_ = nullptr;
    uint8_t *ok_ = nullptr;
};

}  // namespace

void releaseLinePlan(LinePlan *p) noexcept
{
    if (!p) return;
    kxFree(p->lo);
    kxFree(p->hi);
    kxFree(p->route);
    kxFree(p->codes);
    kxFree(p);
}

LinePlan *planLines(const ContributionTable *t, double lineBytes) noexcept
{
    auto *p = static_cast<LinePlan *>(kxAlloc(sizeof(LinePlan)));
    if (!p) return nullptr;
    *p = LinePlan{};
    p->table = t;
    p->count = t->count;
    p->windowSize = t->windowSize;
    p->lo = allocArray<int32_t>(uint64_t(t->count));
    p->hi = allocArray<int32_t>(uint64_t(t->count));
    p->route = allocArray<LinePlan::Route>(uint64_t(t->count));
    if (!p->lo || !p->hi || !p->route) {
        releaseLinePlan(p);
        return nullptr;
    }
    double taps = 0;  // of the float entries
    for (int u = 0; u < t->count; ++u) {
        const ContributionEntry &e = t->entries[u];
        int lo = e.first, hi = e.last;
        while (lo <= hi && e.weights[lo - e.first] == 0.0f) ++lo;
        while (hi >= lo && e.weights[hi - e.first] == 0.0f) --hi;
        p->lo[u] = lo;
        p->hi[u] = hi;
        if (lo > hi)
            p->route[u] = LinePlan::kEmpty;
        else if (lo == hi && e.weights[lo - e.first] == 1.0f)
            p->route[u] = LinePlan::kCopy;  // byte * 1.0 is the byte
        else {
            p->route[u] = LinePlan::kFloats;
            taps += hi - lo + 1;
        }
    }
    // The integer forms, when few enough different weights are used on
    // enough bytes.  Counted first (cheaply), then sought.
    const double limit = std::min(taps * lineBytes / kBytesPerCode, 65536.0);
    if (limit < 1.0) return p;
    {
        size_t cap = 16;
        while (double(cap) < 2 * limit) cap *= 2;
        uint32_t *keys = allocArray<uint32_t>(cap);
        uint8_t *used = allocArray<uint8_t>(cap);
        bool few = keys && used;
        if (few) std::memset(used, 0, cap);
        size_t distinct = 0;
        for (int u = 0; few && u < t->count; ++u) {
            if (p->route[u] != LinePlan::kFloats) continue;
            const ContributionEntry &e = t->entries[u];
            if (p->hi[u] - p->lo[u] >= kMaxIntTaps) continue;
            for (int i = p->lo[u]; few && i <= p->hi[u]; ++i) {
                uint32_t bits;
                std::memcpy(&bits, &e.weights[i - e.first], 4);
                size_t k = (bits * 0x9E3779B1u) >> 7 & (cap - 1);
                while (used[k] && keys[k] != bits) k = (k + 1) & (cap - 1);
                if (used[k]) continue;
                if (double(++distinct) > limit) few = false;
                used[k] = 1;
                keys[k] = bits;
            }
        }
        kxFree(keys);
        kxFree(used);
        if (!few) return p;
    }
    WeightSet set(size_t(limit) + 1);
    p->codes = allocArray<TermCode>(uint64_t(t->count) * uint64_t(t->windowSize));
    if (!set || !p->codes) {  // no memory for the forms: the floats give the same bytes
        kxFree(p->codes);
        p->codes = nullptr;
        return p;
    }
    p->ints = true;
    for (int u = 0; u < t->count; ++u) {
        const ContributionEntry &e = t->entries[u];
        TermCode *codes = p->codes + uint64_t(u) * t->windowSize;
        if (p->route[u] == LinePlan::kCopy) codes[p->lo[u] - e.first] = {32768, 0, TermCode::kCopy};
        if (p->route[u] != LinePlan::kFloats || p->hi[u] - p->lo[u] >= kMaxIntTaps) continue;
        bool all = true;
        for (int i = p->lo[u]; all && i <= p->hi[u]; ++i) {
            const long k = set.slot(e.weights[i - e.first]);
            all = k >= 0 && set.ok(k);
            if (all) codes[i - e.first] = set.code(k);
        }
        if (all) p->route[u] = LinePlan::kInts;
    }
    return p;
}

void resampleLines(const uint8_t *in, size_t inStride, int base, uint8_t *out, size_t outStride, size_t n,
                   const LinePlan *plan, int u0, int u1, isa::Level level) noexcept
{
    const FloatLineFn floats = floatLineKernel(level);
    const bool avx2 = level >= isa::Level::Avx2 && isa::active() >= isa::Level::Avx2;
    const ContributionTable *t = plan->table;
    const uint8_t *lines[kMaxIntTaps];
    TermCode codes[kMaxIntTaps];
    for (int u = u0; u < u1; ++u) {
        const ContributionEntry &e = t->entries[u];
        uint8_t *d = out + size_t(u) * outStride;
        const int lo = plan->lo[u], hi = plan->hi[u];
        const uint8_t *first = in + ptrdiff_t(lo - base) * ptrdiff_t(inStride);
        switch (plan->route[u]) {
        case LinePlan::kEmpty: std::memset(d, 0, n); break;
        case LinePlan::kCopy: std::memcpy(d, first, n); break;
        case LinePlan::kInts: {
            const TermCode *c = plan->codes + uint64_t(u) * t->windowSize + (lo - e.first);
            int taps = 0;
            for (int k = 0; k <= hi - lo; ++k)
                if (c[k].kind != TermCode::kZero) {
                    lines[taps] = first + size_t(k) * inStride;
                    codes[taps++] = c[k];
                }
            integerLine(lines, codes, taps, d, n, avx2);
            break;
        }
        default: floats(first, inStride, e.weights + (lo - e.first), hi - lo + 1, d, n); break;
        }
    }
}

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
        if (total > 0.0f) {
            for (int i = first; i <= last; ++i) e.weights[i - first] /= total;
        } else if (total == 0.0f) {
            // No source sample has any weight: past ratio 2 the narrow
            // filters' last sample lies more than their half-width beyond
            // the source, and the sum would make a black edge.  Such a
            // sample takes the nearest source sample whole.
            const double nearest = std::floor(double(centre) + 0.5);
            e.first = e.last = nearest < 0 ? 0 : nearest > double(sourceSize - 1) ? sourceSize - 1 : int(nearest);
            e.weights[0] = 1.0f;
        }
    }
    return t;
}


template ContributionTable *computeContributions<CBilinearFilter>(int, int, float);
template ContributionTable *computeContributions<CBoxFilter>(int, int, float);
template ContributionTable *computeContributions<CGaussianFilter>(int, int, float);
template ContributionTable *computeContributions<CHammingFilter>(int, int, float);
template ContributionTable *computeContributions<CBlackmanFilter>(int, int, float);

namespace {

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

// Three-byte pixels and four-byte slots, transposed: pixel (i, r) of a
// rows x cols block of three-byte pixels (rows srcStride apart) goes to
// slot (r, i) of dst, the fourth byte of a slot being whatever followed the
// pixel in its row (the next pixel's first byte, or 0 at the row's end)...
inline void transposeIntoSlots(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride, int rows,
                               int cols)
{
    // Four pixels from 16 bytes (the row must hold them): bytes 3k..3k+3.
    auto four = [](const uint8_t *s) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
        const __m128i lo = _mm_unpacklo_epi32(v, _mm_srli_si128(v, 3));
        const __m128i hi = _mm_unpacklo_epi32(_mm_srli_si128(v, 6), _mm_srli_si128(v, 9));
        return _mm_castsi128_ps(_mm_unpacklo_epi64(lo, hi));
    };
    auto one = [&](int r, int i) {
        const uint8_t *s = src + size_t(r) * srcStride + size_t(i) * 3;
        uint8_t *d = dst + size_t(i) * dstStride + size_t(r) * 4;
        std::memcpy(d, s, 3);
        d[3] = i + 1 < cols ? s[3] : 0;
    };
    const int wide = cols >= 6 ? cols - 5 : 0;  // blocks starting below this read within the row
    int r = 0;
    for (; r + 4 <= rows; r += 4) {
        int i = 0;
        for (; i < wide; i += 4) {
            const uint8_t *s = src + size_t(r) * srcStride + size_t(i) * 3;
            __m128 x0 = four(s), x1 = four(s + srcStride), x2 = four(s + 2 * srcStride), x3 = four(s + 3 * srcStride);
            _MM_TRANSPOSE4_PS(x0, x1, x2, x3);
            uint8_t *d = dst + size_t(i) * dstStride + size_t(r) * 4;
            _mm_storeu_ps(reinterpret_cast<float *>(d), x0);
            _mm_storeu_ps(reinterpret_cast<float *>(d + dstStride), x1);
            _mm_storeu_ps(reinterpret_cast<float *>(d + 2 * dstStride), x2);
            _mm_storeu_ps(reinterpret_cast<float *>(d + 3 * dstStride), x3);
        }
        for (; i < cols; ++i)
            for (int k = 0; k < 4; ++k) one(r + k, i);
    }
    for (; r < rows; ++r)
        for (int i = 0; i < cols; ++i) one(r, i);
}

// ... and back: slot (i, r) of a rows x cols block of slots (rows srcStride
// apart) goes to pixel (r, i) of dst as three bytes.
inline void transposeFromSlots(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride, int rows,
                               int cols)
{
    const __m128i low3 = _mm_set1_epi32(0x00FFFFFF);
    const __m128i odd = _mm_set_epi32(-1, 0, -1, 0), loQ = _mm_set_epi32(0, 0, -1, -1);
    // Four slots to twelve bytes in the low part of a register.
    auto narrow = [&](__m128 x) {
        const __m128i m = _mm_and_si128(_mm_castps_si128(x), low3);
        const __m128i u = _mm_or_si128(_mm_andnot_si128(odd, m), _mm_srli_epi64(_mm_and_si128(m, odd), 8));
        return _mm_or_si128(_mm_and_si128(u, loQ), _mm_srli_si128(_mm_andnot_si128(loQ, u), 2));
    };
    auto one = [&](int r, int i) {
        std::memcpy(dst + size_t(r) * dstStride + size_t(i) * 3, src + size_t(i) * srcStride + size_t(r) * 4, 3);
    };
    // The sixteen-byte stores spill four bytes into the next block's pixels
    // (written after them) and must stay within the row.
    const int wide = rows >= 6 ? rows - 5 : 0;
    int c = 0;
    for (; c + 4 <= cols; c += 4) {
        int i = 0;
        for (; i < wide; i += 4) {
            const uint8_t *s = src + size_t(i) * srcStride + size_t(c) * 4;
            __m128 x0 = _mm_loadu_ps(reinterpret_cast<const float *>(s));
            __m128 x1 = _mm_loadu_ps(reinterpret_cast<const float *>(s + srcStride));
            __m128 x2 = _mm_loadu_ps(reinterpret_cast<const float *>(s + 2 * srcStride));
            __m128 x3 = _mm_loadu_ps(reinterpret_cast<const float *>(s + 3 * srcStride));
            _MM_TRANSPOSE4_PS(x0, x1, x2, x3);
            uint8_t *d = dst + size_t(c) * dstStride + size_t(i) * 3;
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d), narrow(x0));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + dstStride), narrow(x1));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 2 * dstStride), narrow(x2));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 3 * dstStride), narrow(x3));
        }
        for (; i < rows; ++i)
            for (int k = 0; k < 4; ++k) one(c + k, i);
    }
    for (; c < cols; ++c)
        for (int i = 0; i < rows; ++i) one(c, i);
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

}  // namespace

template <class Filter>
uint8_t *C2PassScale<Filter>::scaleAt(isa::Level level, const uint8_t *src, int srcW, int srcH, int srcPitch,
                                      uint8_t *dst, int dstW, int dstH, int dstPitch)
{
    aborted_ = 0;
    if (!progress_) return scaleStreamed(src, srcW, srcH, srcPitch, dst, dstW, dstH, dstPitch, level);
    auto *buffer = static_cast<uint8_t *>(kxAlloc(uint64_t(dstPitch) * uint64_t(srcH)));
    if (!buffer) return nullptr;
    bool ok = scaleHorizontally(src, srcW, srcH, srcPitch, buffer, dstW, dstPitch, level);
    if (ok && !aborted_) ok = scaleVertically(buffer, dstW, srcH, dstPitch, dst, dstH, dstPitch, level);
    kxFree(buffer);
    return ok && !aborted_ ? dst : nullptr;
}

// Without a callback the two passes interleave: the rows of the
// intermediate picture are made in bands, each band just before the
// destination rows that read it, so the intermediate never exists whole.
// Rows that the next band shares with the last are moved, not made again.
// All scratch is taken before the first destination byte is written.
template <class Filter>
uint8_t *C2PassScale<Filter>::scaleStreamed(const uint8_t *src, int srcW, int srcH, int srcPitch, uint8_t *dst,
                                            int dstW, int dstH, int dstPitch, isa::Level level)
{
    if (srcH == dstH)  // the column pass would copy the rows as they are
        return scaleHorizontally(src, srcW, srcH, srcPitch, dst, dstW, dstPitch, level) ? dst : nullptr;
    ContributionTable *vt = computeContributions<Filter>(dstH, srcH, axisScale(dstH, srcH));
    if (!vt) return nullptr;
    const size_t n = size_t(dstW) * channels_;
    LinePlan *vplan = planLines(vt, double(n));
    uint8_t *result = nullptr;
    if (vplan && dstW == srcW) {
        resampleLines(src, size_t(srcPitch), 0, dst, size_t(dstPitch), n, vplan, 0, dstH, level);
        result = dst;
    } else if (vplan) {
        ContributionTable *ht = computeContributions<Filter>(dstW, srcW, axisScale(dstW, srcW));
        LinePlan *hplan = ht ? planLines(ht, double(srcH) * channels_) : nullptr;
        RowProgram *program = hplan ? buildRowProgram(hplan, srcW, channels_, level) : nullptr;
        const int maxBand = std::min(srcH, std::max(64, 2 * vt->windowSize));
        const Strips scratch(channels_, maxBand, srcW, dstW);
        // Room for a strip more than a band: rows are made in whole strips.
        const int room = maxBand + scratch.strip;
        auto *band = static_cast<uint8_t *>(kxAlloc(uint64_t(dstPitch) * uint64_t(room)));
        if (hplan && band && scratch) {
            int made0 = 0, made1 = -1;  // rows of the intermediate in the band (from its first row)
            for (int u0 = 0; u0 < dstH;) {
                // Destination rows u0..u1-1 whose windows fit in one band.
                int lo = 0, hi = -1, u1 = u0;
                for (; u1 < dstH; ++u1) {
                    if (vplan->route[u1] == LinePlan::kEmpty) continue;  // an empty window reads nothing
                    const int nlo = hi < lo ? vplan->lo[u1] : std::min(lo, vplan->lo[u1]);
                    const int nhi = hi < lo ? vplan->hi[u1] : std::max(hi, vplan->hi[u1]);
                    if (nhi - nlo + 1 > maxBand) break;
                    lo = nlo;
                    hi = nhi;
                }
                if (u1 == u0) ++u1;  // cannot happen (a window fits a band); keeps the loop finite
                if (lo <= hi) {
                    int kept = 0;  // rows lo..lo+kept-1 are already made
                    if (lo >= made0 && lo <= made1) {
                        kept = made1 - lo + 1;
                        if (lo > made0)
                            std::memmove(band, band + size_t(lo - made0) * dstPitch, size_t(kept - 1) * dstPitch + n);
                    }
                    made0 = lo;
                    made1 = lo + kept - 1;
                    if (made1 < hi) {
                        // Whole strips, as far as the picture and the band allow.
                        const int from = made1 + 1, strip = scratch.strip;
                        const int to = std::min({from + (hi - from + strip) / strip * strip - 1, srcH - 1, lo + room - 1});
                        filterRows(src + size_t(from) * srcPitch, srcW, to - from + 1, srcPitch,
                                   band + size_t(from - lo) * dstPitch, dstW, dstPitch, hplan, program, scratch, level);
                        made1 = to;
                    }
                }
                resampleLines(band, size_t(dstPitch), lo, dst, size_t(dstPitch), n, vplan, u0, u1, level);
                u0 = u1;
            }
            result = dst;
        }
        kxFree(band);
        releaseRowProgram(program);
        releaseLinePlan(hplan);
        releaseContributions(ht);
    }
    releaseLinePlan(vplan);
    releaseContributions(vt);
    return result;
}

// The row pass over `rows` rows with a ready plan: strips of rows are
// transposed so that a source column becomes a line of strip * ch bytes,
// resampled, and transposed back into the destination rows.
template <class Filter>
void C2PassScale<Filter>::filterRows(const uint8_t *src, int srcW, int rows, int srcPitch, uint8_t *dst, int dstW,
                                     int dstPitch, const LinePlan *plan, const RowProgram *program,
                                     const Strips &scratch, isa::Level level)
{
    if (program) {
        runRowProgram(program, src, size_t(srcPitch), dst, size_t(dstPitch), rows);
        return;
    }
    const int slot = scratch.slot;
    for (int y0 = 0; y0 < rows; y0 += scratch.strip) {
        const int n = rows - y0 < scratch.strip ? rows - y0 : scratch.strip;
        const uint8_t *in = src + size_t(y0) * srcPitch;
        if (scratch.wide)
            transposeIntoSlots(in, size_t(srcPitch), scratch.inT, scratch.line, n, srcW);
        else
            transposePixels(in, size_t(srcPitch), scratch.inT, scratch.line, n, srcW, slot);
        resampleLines(scratch.inT, scratch.line, 0, scratch.outT, scratch.line, size_t(n) * slot, plan, 0,
                      plan->count, level);
        uint8_t *out = dst + size_t(y0) * dstPitch;
        if (scratch.wide)
            transposeFromSlots(scratch.outT, scratch.line, out, size_t(dstPitch), dstW, n);
        else
            transposePixels(scratch.outT, scratch.line, out, size_t(dstPitch), dstW, n, slot);
    }
}

template <class Filter>
bool C2PassScale<Filter>::scaleHorizontally(const uint8_t *src, int srcW, int rows, int srcPitch, uint8_t *dst,
                                            int dstW, int dstPitch, isa::Level level)
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
    LinePlan *plan = planLines(table, double(rows) * ch);
    RowProgram *program = plan ? buildRowProgram(plan, srcW, ch, level) : nullptr;
    const Strips scratch(ch, rows, srcW, dstW);
    const bool ok = plan && scratch;
    if (ok) filterRows(src, srcW, rows, srcPitch, dst, dstW, dstPitch, plan, program, scratch, level);
    releaseRowProgram(program);
    releaseLinePlan(plan);
    releaseContributions(table);
    return ok;
}

template <class Filter>
bool C2PassScale<Filter>::scaleVertically(const uint8_t *src, int width, int srcH, int srcPitch, uint8_t *dst,
                                          int dstH, int dstPitch, isa::Level level)
{
    const size_t rowBytes = size_t(width) * channels_;
    if (srcH == dstH) {
        for (int y = 0; y < srcH; ++y) std::memcpy(dst + size_t(y) * dstPitch, src + size_t(y) * srcPitch, rowBytes);
        return true;
    }
    ContributionTable *table = computeContributions<Filter>(dstH, srcH, axisScale(dstH, srcH));
    if (!table) return false;
    LinePlan *plan = planLines(table, double(rowBytes));
    if (!plan) {
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
        resampleLines(src, size_t(srcPitch), 0, dst, size_t(dstPitch), size_t(columns) * channels_, plan, 0, dstH,
                      level);
    releaseLinePlan(plan);
    releaseContributions(table);
    return true;
}

template class C2PassScale<CBilinearFilter>;
template class C2PassScale<CBoxFilter>;
template class C2PassScale<CGaussianFilter>;
template class C2PassScale<CHammingFilter>;
template class C2PassScale<CBlackmanFilter>;

}  // namespace kx::geo
