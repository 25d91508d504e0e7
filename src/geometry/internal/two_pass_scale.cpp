// The two-pass resampler: the line kernel, the contribution tables and the
// C2PassScale bodies, built once for each of the five filters (the header
// declares them).
#include <emmintrin.h>
#include <xmmintrin.h>

#include "geometry/two_pass_scale.hpp"

using namespace kx::geo;

namespace {

// The kernel of both passes, compiled per level (isa::Clones); the loops
// vectorise as they stand, and since every term is
// converted exactly as written both versions give the same bytes.
[[gnu::always_inline]] inline void resampleBody(const uint8_t *in, size_t inStride, int base, uint8_t *out,
                                                size_t outStride, size_t n, const ContributionTable *table, int u0,
                                                int u1, int32_t *acc) noexcept
{
    constexpr size_t kBlock = 32;  // bytes summed in registers over all taps
    const size_t whole = n / kBlock * kBlock;
    for (int u = u0; u < u1; ++u) {
        const ContributionEntry &e = table->entries[u];
        uint8_t *d = out + size_t(u) * outStride;
        // Zero weights at either end add nothing (each term truncates to 0).
        int lo = e.first, hi = e.last;
        while (lo <= hi && e.weights[lo - e.first] == 0.0f) ++lo;
        while (hi >= lo && e.weights[hi - e.first] == 0.0f) --hi;
        if (lo > hi) {
            std::memset(d, 0, n);
            continue;
        }
        if (lo == hi && e.weights[lo - e.first] == 1.0f) {
            std::memcpy(d, in + size_t(lo - base) * inStride, n);  // byte * 1.0 is the byte
            continue;
        }
        const float *wt = e.weights + (lo - e.first);
        for (size_t j0 = 0; j0 < whole; j0 += kBlock) {
            int32_t a[kBlock] = {};
            for (int i = lo; i <= hi; ++i) {
                const float w = wt[i - lo];
                const uint8_t *s = in + size_t(i - base) * inStride + j0;
                for (size_t j = 0; j < kBlock; ++j) a[j] += int32_t(float(s[j]) * w);
            }
            for (size_t j = 0; j < kBlock; ++j) d[j0 + j] = uint8_t(a[j]);
        }
        if (whole == n) continue;
        std::memset(acc, 0, (n - whole) * sizeof(int32_t));
        for (int i = lo; i <= hi; ++i) {
            const float w = wt[i - lo];
            const uint8_t *s = in + size_t(i - base) * inStride;
            for (size_t j = whole; j < n; ++j) acc[j - whole] += int32_t(float(s[j]) * w);
        }
        for (size_t j = whole; j < n; ++j) d[j] = uint8_t(acc[j - whole]);
    }
}

}  // namespace

namespace kx::geo {

// Each line whose every weight has an integer form (termCode) is summed in
// 16-bit integers; the others take the float kernel.
void resampleLines(const uint8_t *in, size_t inStride, int base, uint8_t *out, size_t outStride, size_t n,
                   const ContributionTable *table, int u0, int u1, int32_t *acc, TermCodeCache *shared) noexcept
{
    const bool avx2 = isa::active() >= isa::Level::Avx2;
    const auto resample = isa::Clones<resampleBody>::table.pick();
    TermCodeCache local;
    TermCodeCache &cache = shared ? *shared : local;
    constexpr int kMaxTaps = 64;
    const uint8_t *lines[kMaxTaps];
    TermCode codes[kMaxTaps];
    for (int u = u0; u < u1; ++u) {
        const ContributionEntry &e = table->entries[u];
        int taps = 0;
        bool ints = e.last - e.first < kMaxTaps;
        for (int i = e.first; ints && i <= e.last; ++i) {
            TermCode c;
            ints = cache.find(e.weights[i - e.first], 15, c);
            if (ints && c.kind != TermCode::kZero) {
                lines[taps] = in + size_t(i - base) * inStride;
                codes[taps++] = c;
            }
        }
        if (ints) {
            integerLine(lines, codes, taps, out + size_t(u) * outStride, n, avx2);
            continue;
        }
        resample(in, inStride, base, out, outStride, n, table, u, u + 1, acc);
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
        if (total > 0.0f)
            for (int i = first; i <= last; ++i) e.weights[i - first] /= total;
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

template class C2PassScale<CBilinearFilter>;
template class C2PassScale<CBoxFilter>;
template class C2PassScale<CGaussianFilter>;
template class C2PassScale<CHammingFilter>;
template class C2PassScale<CBlackmanFilter>;

}  // namespace kx::geo
