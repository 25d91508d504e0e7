// Local integral thresholding: kxbLocalIntegral compares every pixel of a
// KIT_GRAY image with a level made from the mean and standard deviation of
// the w x w window centred on it (zero outside the image, divisor always
// w * w) and turns the image into KIT_BIN.  Other types come back unchanged.
//
// Window sums of values and of squared values are whole numbers below 2^53,
// so any exact way of adding them gives the same doubles as summed-area
// tables.  This file keeps running column sums instead of full-size tables:
// a few rows of scratch (the running sums and the original pixels of the
// rows that still leave the window, since the image is rewritten in place)
// and no per-pixel work that grows with the window.  The arithmetic after
// the sums is fixed (local_rows.cpp): mean and mean of squares divided in
// double and stored as float, their float difference, its root taken in
// double and stored as float, and the level in double.
#include <algorithm>
#include <cstring>

#include "frame/frame.hpp"
#include "threshold_detail.hpp"

#if KX_ISA_X86
#include <immintrin.h>
#endif

using namespace kx;

namespace {

// Moves the column sums of values and of squares one row down: adds the
// entering row, subtracts the leaving one (either may be null).  Sums are
// 32-bit and wrap when every window sum of squares is below 2^31 (window
// differences modulo 2^32 are then the true sums), 64-bit otherwise.
template <class Acc>
[[gnu::always_inline]] inline void slide(const uint8_t *enter, const uint8_t *leave, Acc *sum, Acc *sq, size_t n) noexcept
{
    auto square = [](uint8_t v) { return Acc(uint32_t(v) * v); };
    if (enter && leave)
        for (size_t x = 0; x < n; ++x) {
            sum[x] += Acc(enter[x]) - Acc(leave[x]);
            sq[x] += square(enter[x]) - square(leave[x]);
        }
    else if (enter)
        for (size_t x = 0; x < n; ++x) {
            sum[x] += enter[x];
            sq[x] += square(enter[x]);
        }
    else if (leave)
        for (size_t x = 0; x < n; ++x) {
            sum[x] -= leave[x];
            sq[x] -= square(leave[x]);
        }
}

#if KX_ISA_X86
// Running sums of both column arrays, eight columns at a time: an
// in-register prefix sum (within each half, then the low half's total into
// the high half) plus the total so far.  Whole-number sums modulo 2^32, the
// same as the plain loop.  Returns how many columns it summed.
KX_TARGET(KX_ISA_AVX2) size_t prefixAvx2(const uint32_t *colSum, const uint32_t *colSq, uint32_t *preSum,
                                         uint32_t *preSq, size_t n, uint32_t &runSum, uint32_t &runSq)
{
    __m256i carrySum = _mm256_set1_epi32(int(runSum)), carrySq = _mm256_set1_epi32(int(runSq));
    const __m256i last = _mm256_set1_epi32(7);
    size_t x = 0;
    for (; x + 8 <= n; x += 8) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(colSum + x));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(colSq + x));
        a = _mm256_add_epi32(a, _mm256_slli_si256(a, 4));
        b = _mm256_add_epi32(b, _mm256_slli_si256(b, 4));
        a = _mm256_add_epi32(a, _mm256_slli_si256(a, 8));
        b = _mm256_add_epi32(b, _mm256_slli_si256(b, 8));
        a = _mm256_add_epi32(a, _mm256_shuffle_epi32(_mm256_permute2x128_si256(a, a, 0x08), 0xFF));
        b = _mm256_add_epi32(b, _mm256_shuffle_epi32(_mm256_permute2x128_si256(b, b, 0x08), 0xFF));
        a = _mm256_add_epi32(a, carrySum);
        b = _mm256_add_epi32(b, carrySq);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(preSum + x), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(preSq + x), b);
        carrySum = _mm256_permutevar8x32_epi32(a, last);
        carrySq = _mm256_permutevar8x32_epi32(b, last);
    }
    runSum = uint32_t(_mm256_cvtsi256_si32(carrySum));
    runSq = uint32_t(_mm256_cvtsi256_si32(carrySq));
    return x;
}
#endif

#if KX_ISA_X86
// Running sums within eight lanes.
KX_TARGET(KX_ISA_AVX2) inline __m256i scan(__m256i a)
{
    a = _mm256_add_epi32(a, _mm256_slli_si256(a, 4));
    a = _mm256_add_epi32(a, _mm256_slli_si256(a, 8));
    return _mm256_add_epi32(a, _mm256_shuffle_epi32(_mm256_permute2x128_si256(a, a, 0x08), 0xFF));
}

// One step down for both column arrays and their running sums at once,
// eight columns at a time: enter^2 - leave^2 as one multiply-add of the
// pairs (enter, leave) and (enter, -leave).  The same sums modulo 2^32 as
// slide and runningSums.  Returns how many columns it did.
KX_TARGET(KX_ISA_AVX2) size_t slidePrefixAvx2(const uint8_t *enter, const uint8_t *leave, uint32_t *colSum,
                                              uint32_t *colSq, uint32_t *preSum, uint32_t *preSq, size_t n,
                                              uint32_t &runSum, uint32_t &runSq)
{
    __m256i carrySum = _mm256_set1_epi32(int(runSum)), carrySq = _mm256_set1_epi32(int(runSq));
    const __m256i last = _mm256_set1_epi32(7);
    size_t x = 0;
    for (; x + 8 <= n; x += 8) {
        const __m128i e = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(enter + x)));
        const __m128i l = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(leave + x)));
        const __m128i minusL = _mm_sub_epi16(_mm_setzero_si128(), l);
        const __m256i dSum = _mm256_cvtepi16_epi32(_mm_sub_epi16(e, l));
        const __m256i dSq = _mm256_setr_m128i(_mm_madd_epi16(_mm_unpacklo_epi16(e, l), _mm_unpacklo_epi16(e, minusL)),
                                              _mm_madd_epi16(_mm_unpackhi_epi16(e, l), _mm_unpackhi_epi16(e, minusL)));
        const __m256i a = _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(colSum + x)), dSum);
        const __m256i b = _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(colSq + x)), dSq);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(colSum + x), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(colSq + x), b);
        const __m256i pa = _mm256_add_epi32(scan(a), carrySum), pb = _mm256_add_epi32(scan(b), carrySq);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(preSum + x), pa);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(preSq + x), pb);
        carrySum = _mm256_permutevar8x32_epi32(pa, last);
        carrySq = _mm256_permutevar8x32_epi32(pb, last);
    }
    runSum = uint32_t(_mm256_cvtsi256_si32(carrySum));
    runSq = uint32_t(_mm256_cvtsi256_si32(carrySq));
    return x;
}

// Running sums within four 64-bit lanes.
KX_TARGET(KX_ISA_AVX2) inline __m256i scan4(__m256i a)
{
    a = _mm256_add_epi64(a, _mm256_slli_si256(a, 8));
    return _mm256_add_epi64(a, _mm256_shuffle_epi32(_mm256_permute2x128_si256(a, a, 0x08), 0xEE));
}

// The same with 64-bit sums, four columns at a time.
KX_TARGET(KX_ISA_AVX2) size_t slidePrefix64Avx2(const uint8_t *enter, const uint8_t *leave, int64_t *colSum,
                                                int64_t *colSq, int64_t *preSum, int64_t *preSq, size_t n,
                                                int64_t &runSum, int64_t &runSq)
{
    __m256i carrySum = _mm256_set1_epi64x(runSum), carrySq = _mm256_set1_epi64x(runSq);
    size_t x = 0;
    for (; x + 4 <= n; x += 4) {
        int32_t e4, l4;
        std::memcpy(&e4, enter + x, 4);
        std::memcpy(&l4, leave + x, 4);
        const __m256i e = _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(e4)), l = _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(l4));
        const __m256i dSq = _mm256_sub_epi64(_mm256_mul_epu32(e, e), _mm256_mul_epu32(l, l));
        const __m256i a = _mm256_add_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(colSum + x)),
                                           _mm256_sub_epi64(e, l));
        const __m256i b = _mm256_add_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(colSq + x)), dSq);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(colSum + x), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(colSq + x), b);
        const __m256i pa = _mm256_add_epi64(scan4(a), carrySum), pb = _mm256_add_epi64(scan4(b), carrySq);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(preSum + x), pa);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(preSq + x), pb);
        carrySum = _mm256_permute4x64_epi64(pa, 0xFF);
        carrySq = _mm256_permute4x64_epi64(pb, 0xFF);
    }
    runSum = _mm256_extract_epi64(carrySum, 0);
    runSq = _mm256_extract_epi64(carrySq, 0);
    return x;
}

// The two fused steps again with AVX-512: sixteen 32-bit or eight 64-bit
// columns at a time, lanes shifted up by valign for the running sums.
// g++ 12 warns about the deliberately undefined source operand inside its
// own AVX-512 conversion intrinsics (GCC bug 105593); nothing of ours.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
KX_TARGET(KX_ISA_AVX512) size_t slidePrefix512(const uint8_t *enter, const uint8_t *leave, uint32_t *colSum,
                                               uint32_t *colSq, uint32_t *preSum, uint32_t *preSq, size_t n,
                                               uint32_t &runSum, uint32_t &runSq)
{
    __m512i carrySum = _mm512_set1_epi32(int(runSum)), carrySq = _mm512_set1_epi32(int(runSq));
    const __m512i zero = _mm512_setzero_si512(), last = _mm512_set1_epi32(15);
    size_t x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m256i e = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(enter + x)));
        const __m256i l = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(leave + x)));
        const __m512i e32 = _mm512_cvtepu16_epi32(e), l32 = _mm512_cvtepu16_epi32(l);
        // e^2 - l^2 from the pairs (e, l) and (e, -l) in 32-bit lanes.
        const __m512i pairs = _mm512_or_si512(e32, _mm512_slli_epi32(l32, 16));
        const __m512i signs = _mm512_or_si512(e32, _mm512_slli_epi32(_mm512_sub_epi32(zero, l32), 16));
        __m512i a = _mm512_add_epi32(_mm512_loadu_si512(colSum + x), _mm512_sub_epi32(e32, l32));
        __m512i b = _mm512_add_epi32(_mm512_loadu_si512(colSq + x), _mm512_madd_epi16(pairs, signs));
        _mm512_storeu_si512(colSum + x, a);
        _mm512_storeu_si512(colSq + x, b);
        a = _mm512_add_epi32(a, _mm512_alignr_epi32(a, zero, 15));
        b = _mm512_add_epi32(b, _mm512_alignr_epi32(b, zero, 15));
        a = _mm512_add_epi32(a, _mm512_alignr_epi32(a, zero, 14));
        b = _mm512_add_epi32(b, _mm512_alignr_epi32(b, zero, 14));
        a = _mm512_add_epi32(a, _mm512_alignr_epi32(a, zero, 12));
        b = _mm512_add_epi32(b, _mm512_alignr_epi32(b, zero, 12));
        a = _mm512_add_epi32(a, _mm512_alignr_epi32(a, zero, 8));
        b = _mm512_add_epi32(b, _mm512_alignr_epi32(b, zero, 8));
        a = _mm512_add_epi32(a, carrySum);
        b = _mm512_add_epi32(b, carrySq);
        _mm512_storeu_si512(preSum + x, a);
        _mm512_storeu_si512(preSq + x, b);
        carrySum = _mm512_permutexvar_epi32(last, a);
        carrySq = _mm512_permutexvar_epi32(last, b);
    }
    runSum = uint32_t(_mm_cvtsi128_si32(_mm512_castsi512_si128(carrySum)));
    runSq = uint32_t(_mm_cvtsi128_si32(_mm512_castsi512_si128(carrySq)));
    return x;
}

KX_TARGET(KX_ISA_AVX512) size_t slidePrefix64x512(const uint8_t *enter, const uint8_t *leave, int64_t *colSum,
                                                  int64_t *colSq, int64_t *preSum, int64_t *preSq, size_t n,
                                                  int64_t &runSum, int64_t &runSq)
{
    __m512i carrySum = _mm512_set1_epi64(runSum), carrySq = _mm512_set1_epi64(runSq);
    const __m512i zero = _mm512_setzero_si512(), last = _mm512_set1_epi64(7);
    size_t x = 0;
    for (; x + 8 <= n; x += 8) {
        const __m512i e = _mm512_cvtepu8_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(enter + x)));
        const __m512i l = _mm512_cvtepu8_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(leave + x)));
        __m512i a = _mm512_add_epi64(_mm512_loadu_si512(colSum + x), _mm512_sub_epi64(e, l));
        __m512i b = _mm512_add_epi64(_mm512_loadu_si512(colSq + x),
                                     _mm512_sub_epi64(_mm512_mul_epu32(e, e), _mm512_mul_epu32(l, l)));
        _mm512_storeu_si512(colSum + x, a);
        _mm512_storeu_si512(colSq + x, b);
        a = _mm512_add_epi64(a, _mm512_alignr_epi64(a, zero, 7));
        b = _mm512_add_epi64(b, _mm512_alignr_epi64(b, zero, 7));
        a = _mm512_add_epi64(a, _mm512_alignr_epi64(a, zero, 6));
        b = _mm512_add_epi64(b, _mm512_alignr_epi64(b, zero, 6));
        a = _mm512_add_epi64(a, _mm512_alignr_epi64(a, zero, 4));
        b = _mm512_add_epi64(b, _mm512_alignr_epi64(b, zero, 4));
        a = _mm512_add_epi64(a, carrySum);
        b = _mm512_add_epi64(b, carrySq);
        _mm512_storeu_si512(preSum + x, a);
        _mm512_storeu_si512(preSq + x, b);
        carrySum = _mm512_permutexvar_epi64(last, a);
        carrySq = _mm512_permutexvar_epi64(last, b);
    }
    runSum = _mm_cvtsi128_si64(_mm512_castsi512_si128(carrySum));
    runSq = _mm_cvtsi128_si64(_mm512_castsi512_si128(carrySq));
    return x;
}

// One step down and the running sums for packed words (Q * 2^26 + S), four
// or eight columns at a time, all modulo 2^64.
KX_TARGET(KX_ISA_AVX2) size_t slidePackedAvx2(const uint8_t *enter, const uint8_t *leave, uint64_t *col,
                                              uint64_t *pre, size_t n, uint64_t &run)
{
    __m256i carry = _mm256_set1_epi64x(int64_t(run));
    size_t x = 0;
    for (; x + 4 <= n; x += 4) {
        int32_t e4, l4;
        std::memcpy(&e4, enter + x, 4);
        std::memcpy(&l4, leave + x, 4);
        const __m256i e = _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(e4)), l = _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(l4));
        const __m256i squares = _mm256_sub_epi64(_mm256_mul_epu32(e, e), _mm256_mul_epu32(l, l));
        const __m256i delta = _mm256_add_epi64(_mm256_slli_epi64(squares, thr::kLocalPackedShift), _mm256_sub_epi64(e, l));
        const __m256i a = _mm256_add_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(col + x)), delta);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(col + x), a);
        const __m256i p = _mm256_add_epi64(scan4(a), carry);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(pre + x), p);
        carry = _mm256_permute4x64_epi64(p, 0xFF);
    }
    run = uint64_t(_mm256_extract_epi64(carry, 0));
    return x;
}

KX_TARGET(KX_ISA_AVX512) size_t slidePacked512(const uint8_t *enter, const uint8_t *leave, uint64_t *col,
                                               uint64_t *pre, size_t n, uint64_t &run)
{
    __m512i carry = _mm512_set1_epi64(int64_t(run));
    const __m512i zero = _mm512_setzero_si512(), last = _mm512_set1_epi64(7);
    size_t x = 0;
    for (; x + 8 <= n; x += 8) {
        const __m512i e = _mm512_cvtepu8_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(enter + x)));
        const __m512i l = _mm512_cvtepu8_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(leave + x)));
        const __m512i squares = _mm512_sub_epi64(_mm512_mul_epu32(e, e), _mm512_mul_epu32(l, l));
        const __m512i delta = _mm512_add_epi64(_mm512_slli_epi64(squares, thr::kLocalPackedShift), _mm512_sub_epi64(e, l));
        __m512i a = _mm512_add_epi64(_mm512_loadu_si512(col + x), delta);
        _mm512_storeu_si512(col + x, a);
        a = _mm512_add_epi64(a, _mm512_alignr_epi64(a, zero, 7));
        a = _mm512_add_epi64(a, _mm512_alignr_epi64(a, zero, 6));
        a = _mm512_add_epi64(a, _mm512_alignr_epi64(a, zero, 4));
        a = _mm512_add_epi64(a, carry);
        _mm512_storeu_si512(pre + x, a);
        carry = _mm512_permutexvar_epi64(last, a);
    }
    run = uint64_t(_mm_cvtsi128_si64(_mm512_castsi512_si128(carry)));
    return x;
}
#pragma GCC diagnostic pop
#endif

// The plain level: the loops of runningSums and slide do it all.
size_t prefixNone(const uint32_t *, const uint32_t *, uint32_t *, uint32_t *, size_t, uint32_t &, uint32_t &)
{
    return 0;
}
template <class Acc>
size_t slidePrefixNone(const uint8_t *, const uint8_t *, Acc *, Acc *, Acc *, Acc *, size_t, Acc &, Acc &)
{
    return 0;
}

using PrefixFn = decltype(&prefixNone);
constexpr isa::Table<PrefixFn> kPrefix{{prefixNone, KX_ISA_ON_X86(prefixAvx2)}};
template <class Acc>
using SlidePrefixFn = decltype(&slidePrefixNone<Acc>);
template <class Acc>
constexpr isa::Table<SlidePrefixFn<Acc>> kSlidePrefix{};
template <>
constexpr isa::Table<SlidePrefixFn<uint32_t>> kSlidePrefix<uint32_t>{
    {slidePrefixNone<uint32_t>, KX_ISA_ON_X86(slidePrefixAvx2), KX_ISA_ON_X86(slidePrefix512)}};
template <>
constexpr isa::Table<SlidePrefixFn<int64_t>> kSlidePrefix<int64_t>{
    {slidePrefixNone<int64_t>, KX_ISA_ON_X86(slidePrefix64Avx2), KX_ISA_ON_X86(slidePrefix64x512)}};

// Running sums of one row's column sums (values and squares side by side):
// pre[i] holds the sum over the columns below i - reach, so that the window
// of x (columns x - reach .. x + reach clipped to the row) is
// pre[x + 2 reach + 1] - pre[x].
template <class Acc>
void runningSums(const Acc *colSum, const Acc *colSq, Acc *preSum, Acc *preSq, size_t n, size_t reach, PrefixFn prefix)
{
    const size_t padded = n + 2 * reach + 1;
    Acc runSum = 0, runSq = 0;
    for (size_t i = 0; i <= reach; ++i) preSum[i] = preSq[i] = 0;
    size_t x = 0;
    if constexpr (sizeof(Acc) == 4) x = prefix(colSum, colSq, preSum + reach + 1, preSq + reach + 1, n, runSum, runSq);
    for (; x < n; ++x) {
        preSum[reach + 1 + x] = runSum += colSum[x];
        preSq[reach + 1 + x] = runSq += colSq[x];
    }
    for (size_t i = reach + 1 + n; i < padded; ++i) preSum[i] = runSum, preSq[i] = runSq;
}

// slide, then runningSums, in one pass (as far as the level's kernel goes,
// the rest by the plain loop).
template <class Acc>
void slideThenSums(const uint8_t *enter, const uint8_t *leave, Acc *colSum, Acc *colSq, Acc *preSum, Acc *preSq,
                   size_t n, size_t reach, SlidePrefixFn<Acc> fused)
{
    Acc runSum = 0, runSq = 0;
    const size_t x = fused(enter, leave, colSum, colSq, preSum + reach + 1, preSq + reach + 1, n, runSum, runSq);
    for (size_t i = x; i < n; ++i) {
        colSum[i] += Acc(enter[i]) - Acc(leave[i]);
        colSq[i] += Acc(uint32_t(enter[i]) * enter[i]) - Acc(uint32_t(leave[i]) * leave[i]);
        preSum[reach + 1 + i] = runSum += colSum[i];
        preSq[reach + 1 + i] = runSq += colSq[i];
    }
    for (size_t i = reach + 1 + n; i < n + 2 * reach + 1; ++i) preSum[i] = runSum, preSq[i] = runSq;
}

// ---- packed sums ------------------------------------------------------------

size_t slidePackedNone(const uint8_t *, const uint8_t *, uint64_t *, uint64_t *, size_t, uint64_t &) { return 0; }

using SlidePackedFn = decltype(&slidePackedNone);
constexpr isa::Table<SlidePackedFn> kSlidePacked{
    {slidePackedNone, KX_ISA_ON_X86(slidePackedAvx2), KX_ISA_ON_X86(slidePacked512)}};

// A pixel's value and square as one packed word.
inline uint64_t packed(uint8_t v) { return (uint64_t(uint32_t(v) * v) << thr::kLocalPackedShift) + v; }

// localRows below with one array of packed column sums and one of their
// running sums.
bool localPacked(Image *image, int64_t half, const thr::LocalParams &params, thr::LocalKernelPacked kernel)
{
    const SlidePackedFn slidePacked = kSlidePacked.pick();
    const int width = image->width, height = image->height;
    const size_t n = size_t(width);
    const size_t reach = size_t(std::min<int64_t>(half, width));
    const size_t padded = n + 2 * reach + 1;
    const size_t saved = size_t(std::min<int64_t>(half + 1, height));
    Scratch<uint8_t> ring(saved * n), zeros(n);
    Scratch<uint64_t> columns(n), prefix(padded);
    if (!ring || !zeros || !columns || !prefix) return false;
    std::memset(zeros.get(), 0, n);
    auto savedRow = [&](int64_t y) { return ring.get() + size_t(y) % saved * n; };
    uint64_t *col = columns.get(), *pre = prefix.get();
    std::fill(col, col + n, uint64_t(0));
    std::fill(pre, pre + reach + 1, uint64_t(0));
    for (int64_t y = 0; y <= std::min<int64_t>(half, height - 1); ++y) {
        const uint8_t *p = row(image, int(y));
        for (size_t x = 0; x < n; ++x) col[x] += packed(p[x]);
    }
    // Moves the columns one row down (enter and leave given) and rebuilds
    // the running sums; pre[i] covers the columns below i - reach.
    auto step = [&](const uint8_t *enter, const uint8_t *leave) {
        uint64_t run = 0;
        size_t x = enter ? slidePacked(enter, leave, col, pre + reach + 1, n, run) : 0;
        for (; x < n; ++x) {
            if (enter) col[x] += packed(enter[x]) - packed(leave[x]);
            pre[reach + 1 + x] = run += col[x];
        }
        std::fill(pre + reach + 1 + n, pre + padded, run);
    };
    step(nullptr, nullptr);
    thr::LocalRows<uint64_t> rows{nullptr, pre, nullptr, 2 * reach + 1, nullptr, n, params};
    for (int y = 0; y < height; ++y) {
        std::memcpy(savedRow(y), row(image, y), n);
        rows.src = rows.dst = row(image, y);
        thr::decideLocalRow(rows, kernel);
        if (y + 1 == height) break;
        step(y + half + 1 < height ? row(image, int(y + half + 1)) : zeros.get(),
             y - half >= 0 ? savedRow(y - half) : zeros.get());
    }
    return true;
}

template <class Acc, class Kernel>
bool localRows(Image *image, int64_t half, const thr::LocalParams &params, Kernel kernel)
{
    // The kernels of this call (the wrapping 32-bit sums or the 64-bit ones).
    const auto slideColumns = isa::Clones<slide<Acc>>::table.pick();
    const PrefixFn runningPrefix = kPrefix.pick();
    const SlidePrefixFn<Acc> slidePrefix = kSlidePrefix<Acc>.pick();
    const int width = image->width, height = image->height;
    const size_t n = size_t(width);
    // Columns more than a row away add nothing: a half side beyond the width
    // covers the same columns as the width itself.
    const size_t reach = size_t(std::min<int64_t>(half, width));
    const size_t padded = n + 2 * reach + 1;
    // The last `saved` input rows, kept before the row is overwritten: the
    // rows leaving the window lie up to half a side above the current one.
    const size_t saved = size_t(std::min<int64_t>(half + 1, height));
    Scratch<uint8_t> ring(saved * n), zeros(n);
    Scratch<Acc> columns(2 * n), prefix(2 * padded);
    if (!ring || !zeros || !columns || !prefix) return false;
    std::memset(zeros.get(), 0, n);  // the row entering or leaving beyond the image
    auto savedRow = [&](int64_t y) { return ring.get() + size_t(y) % saved * n; };
    Acc *colSum = columns.get(), *colSq = colSum + n;
    Acc *preSum = prefix.get(), *preSq = preSum + padded;
    std::fill(colSum, colSum + 2 * n, Acc(0));
    for (int64_t y = 0; y <= std::min<int64_t>(half, height - 1); ++y)
        slideColumns(row(image, int(y)), nullptr, colSum, colSq, n);

    thr::LocalRows<Acc> rows{nullptr, preSum, preSq, 2 * reach + 1, nullptr, n, params};
    runningSums(colSum, colSq, preSum, preSq, n, reach, runningPrefix);
    for (int y = 0; y < height; ++y) {
        // Each pixel is read before its byte is written (in place).
        std::memcpy(savedRow(y), row(image, y), n);
        rows.src = rows.dst = row(image, y);
        thr::decideLocalRow(rows, kernel);
        if (y + 1 == height) break;
        const uint8_t *leave = y - half >= 0 ? savedRow(y - half) : zeros.get();
        const uint8_t *enter = y + half + 1 < height ? row(image, int(y + half + 1)) : zeros.get();
        slideThenSums(enter, leave, colSum, colSq, preSum, preSq, n, reach, slidePrefix);
    }
    return true;
}

}  // namespace

extern "C" {

Image *kxbLocalIntegral(Image *image, int window, uint8_t range, float k)
{
    if (!image) return nullptr;
    if (!thr::isGrey(image)) return image;

    // An even side becomes the next odd one; a side below 1 counts as 1 (each
    // pixel its own window).  64-bit, so that w * w cannot overflow.
    int64_t w = window;
    if (w < 1)
        w = 1;
    else if (w % 2 == 0)
        ++w;
    const thr::LocalParams params{double(w * w), double(range), double(k)};

    const bool done = params.area <= thr::kLocalVectorArea
                          ? localRows<uint32_t>(image, w / 2, params, thr::localKernelFor(params))
                      : params.area <= thr::kLocalPackedArea
                          ? localPacked(image, w / 2, params, thr::localKernelPackedFor(params))
                          : localRows<int64_t>(image, w / 2, params, thr::localKernel64For(params));
    if (!done) return kx::failed("imgI && imgM && imgV && imgGxG", image);
    image->imageType = KIT_BIN;
    return image;
}

}  // extern "C"
