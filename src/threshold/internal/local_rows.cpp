// The per-pixel decision of the local integral threshold (local.cpp): from
// the window sums of values and of squares to the 0/1 byte, one row at a
// time.  The plain loop is the arithmetic as fixed.  The AVX2 and AVX-512
// kernels give the same bytes eight or sixteen pixels at a time:
//
// - mean and mean of squares: for a window sum X (of values or of squares,
//   a whole number below 2^41) the plain loop stores float(double(X) /
//   area), the correctly rounded float of v = X / area (a double quotient
//   rounded again to float is the correctly rounded float quotient, as
//   53 >= 2 * 24 + 2).  The kernels take q = X * (1 / area) in double,
//   within 2^-51.9 v of v, and round q to float.  That is the same float
//   for an odd area up to 2^25, as no float rounding boundary (a midpoint
//   between neighbouring floats) lies between v and q: with v in
//   [2^e, 2^(e+1)), e < 16, a boundary near v is M * 2^t with M odd and
//   e - 25 <= t <= -9, and v - M * 2^t = (X * 2^-t - M * area) * 2^t /
//   area has an odd integer factor, so it is at least 2^t / area >=
//   2^(e-25) / area > v 2^-26 / area >= v 2^-51.
// - deviation: float(sqrt(double(v))) is the correctly rounded float root
//   (as above): one single-precision root.
// - level: the quotient sd / range is taken as sd * (1 / range), exact for
//   range 0 and the powers of two (and irrelevant for k = 0).  For other
//   ranges the level can differ from the plain one by a few units in its
//   last place; a pixel whose value lies within a far larger bound of it is
//   decided the plain way (a zero mean or deviation and a NaN level need no
//   check: both ways give the same level there).
// - level in single precision (AVX-512, ranges 1..255, 0 < |k| <= 2^40):
//   t = sd * float(1 / range), then mean * (1 + k (t - 1)), every step in
//   float.  Each of the six roundings is within 2^-24 of its operands'
//   scale, so the float level lies within mean (1 + |k| (t + 1)) 6.2 2^-24
//   of the exact one, the double level far closer still; nothing overflows
//   (t <= 255, |k| <= 2^40).  A pixel whose value lies more than 2^-19 of
//   that scale from the float level is on the same side of the double one;
//   a zero mean (both levels 0) and a NaN deviation (both levels NaN) need
//   no check.
// A group of eight pixels with any pixel in doubt goes through the plain
// loop.  Windows up to kLocalVectorArea keep wrapping 32-bit running sums,
// larger ones both sums packed in one 64-bit word up to kLocalPackedArea,
// 64-bit sums beyond.
#include <cmath>

#include "threshold/threshold_detail.hpp"

#if KX_ISA_X86
#include <immintrin.h>
#endif

namespace kx::thr {

namespace {

// The window sums of x, of values and of squares, as doubles (exact: below
// 2^47).
inline void windowSums(const LocalRows<uint32_t> &r, size_t x, double &s, double &q)
{
    s = int32_t(r.sum[x + r.span] - r.sum[x]);
    q = int32_t(r.sq[x + r.span] - r.sq[x]);
}
inline void windowSums(const LocalRows<int64_t> &r, size_t x, double &s, double &q)
{
    s = double(r.sum[x + r.span] - r.sum[x]);
    q = double(r.sq[x + r.span] - r.sq[x]);
}
inline void windowSums(const LocalRows<uint64_t> &r, size_t x, double &s, double &q)
{
    const uint64_t d = r.sum[x + r.span] - r.sum[x];
    s = double(d & ((uint64_t(1) << kLocalPackedShift) - 1));
    q = double(d >> kLocalPackedShift);
}

template <class T>
void decidePlain(const LocalRows<T> &r, size_t from, size_t to) noexcept
{
    for (size_t x = from; x < to; ++x) {
        double s, q;
        windowSums(r, x, s, q);
        const float mean = float(s / r.p.area);
        const float meanSq = float(q / r.p.area);
        const float variance = meanSq - mean * mean;
        const float sd = float(std::sqrt(double(variance)));
        const double level = double(mean) * (1.0 + r.p.k * (double(sd) / r.p.range - 1.0));
        // A NaN level (negative rounded variance, 0/0 with range 0) fails
        // every comparison: such pixels are foreground.
        r.dst[x] = !(double(r.src[x]) <= level);
    }
}

#if KX_ISA_X86

// Eight 0/1 bytes from eight bits, bit i to byte i.
constexpr uint64_t spreadBits(unsigned bits)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t(bits >> i & 1) << (8 * i);
    return v;
}

struct SpreadTable {
    uint64_t bytes[256];
    constexpr SpreadTable() : bytes()
    {
        for (unsigned b = 0; b < 256; ++b) bytes[b] = spreadBits(b);
    }
};
constexpr SpreadTable kSpread;

// Eight window sums from running sums (modulo 2^32, then signed).
KX_TARGET(KX_ISA_AVX2) inline __m256i windowSums8(const uint32_t *run, size_t span)
{
    return _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(run + span)),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(run)));
}

// Mean and mean of squares of eight windows from 32-bit running sums.
KX_TARGET(KX_ISA_AVX2) inline void means8(const LocalRows<uint32_t> &r, size_t x, __m256d invArea,
                                          __m256 &mean, __m256 &meanSq)
{
    const __m256i s = windowSums8(r.sum + x, r.span), q = windowSums8(r.sq + x, r.span);
    const __m256d sLo = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(s)), invArea);
    const __m256d sHi = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(s, 1)), invArea);
    mean = _mm256_set_m128(_mm256_cvtpd_ps(sHi), _mm256_cvtpd_ps(sLo));
    const __m256d qLo = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(q)), invArea);
    const __m256d qHi = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(q, 1)), invArea);
    meanSq = _mm256_set_m128(_mm256_cvtpd_ps(qHi), _mm256_cvtpd_ps(qLo));
}

// Four window sums from 64-bit running sums, as doubles: whole numbers in
// 0 .. 2^52, whose bits below an exponent of 52 spell them.
KX_TARGET(KX_ISA_AVX2) inline __m256d windowSums4(const int64_t *run, size_t span)
{
    const __m256i d = _mm256_sub_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(run + span)),
                                       _mm256_loadu_si256(reinterpret_cast<const __m256i *>(run)));
    const __m256d two52 = _mm256_set1_pd(0x1p52);
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(d, _mm256_castpd_si256(two52))), two52);
}

// The same from 64-bit running sums, both quotients taken as X * (1 / area)
// (the file's opening comment).
KX_TARGET(KX_ISA_AVX2) inline __m128 quotients4(const int64_t *run, size_t span, __m256d invArea)
{
    return _mm256_cvtpd_ps(_mm256_mul_pd(windowSums4(run, span), invArea));
}

KX_TARGET(KX_ISA_AVX2) inline void means8(const LocalRows<int64_t> &r, size_t x, __m256d invArea,
                                          __m256 &mean, __m256 &meanSq)
{
    mean = _mm256_set_m128(quotients4(r.sum + x + 4, r.span, invArea), quotients4(r.sum + x, r.span, invArea));
    meanSq = _mm256_set_m128(quotients4(r.sq + x + 4, r.span, invArea), quotients4(r.sq + x, r.span, invArea));
}

// The same from packed sums: both parts below 2^52, spelled by the bits
// under an exponent of 52.
KX_TARGET(KX_ISA_AVX2) inline void quotientsPacked4(const uint64_t *run, size_t span, __m256d invArea, __m128 &s,
                                                    __m128 &q)
{
    const __m256i d = _mm256_sub_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(run + span)),
                                       _mm256_loadu_si256(reinterpret_cast<const __m256i *>(run)));
    const __m256d two52 = _mm256_set1_pd(0x1p52);
    const __m256i bits = _mm256_castpd_si256(two52);
    const __m256i low = _mm256_and_si256(d, _mm256_set1_epi64x((int64_t(1) << kLocalPackedShift) - 1));
    const __m256i high = _mm256_srli_epi64(d, kLocalPackedShift);
    const __m256d sd = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(low, bits)), two52);
    const __m256d qd = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(high, bits)), two52);
    s = _mm256_cvtpd_ps(_mm256_mul_pd(sd, invArea));
    q = _mm256_cvtpd_ps(_mm256_mul_pd(qd, invArea));
}

KX_TARGET(KX_ISA_AVX2) inline void means8(const LocalRows<uint64_t> &r, size_t x, __m256d invArea, __m256 &mean,
                                          __m256 &meanSq)
{
    __m128 s0, q0, s1, q1;
    quotientsPacked4(r.sum + x, r.span, invArea, s0, q0);
    quotientsPacked4(r.sum + x + 4, r.span, invArea, s1, q1);
    mean = _mm256_set_m128(s1, s0);
    meanSq = _mm256_set_m128(q1, q0);
}

// Eight pixels per step; returns how many pixels it decided.
template <class T>
KX_TARGET(KX_ISA_AVX2) size_t decideAvx2(const LocalRows<T> &r) noexcept
{
    const double range = r.p.range, k = r.p.k;
    const __m256d invArea = _mm256_set1_pd(1.0 / r.p.area), invRange = _mm256_set1_pd(1.0 / range);
    const __m256d kd = _mm256_set1_pd(k), absK = _mm256_set1_pd(std::fabs(k)), one = _mm256_set1_pd(1.0);
    const __m256d signBit = _mm256_set1_pd(-0.0), bound = _mm256_set1_pd(0x1p-40);
    // sd * (1 / range) is sd / range exactly for range 0 and powers of two;
    // with k = 0 the level is the mean whatever the quotient.
    const unsigned ri = unsigned(range);
    const bool levelExact = k == 0.0 || ri == 0 || (ri & (ri - 1)) == 0;

    size_t x = 0;
    for (; x + 8 <= r.n; x += 8) {
        __m256 mean, meanSq;
        means8(r, x, invArea, mean, meanSq);
        const __m256 sd = _mm256_sqrt_ps(_mm256_sub_ps(meanSq, _mm256_mul_ps(mean, mean)));
        int64_t eight;
        __builtin_memcpy(&eight, r.src + x, 8);
        const __m256i values = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(eight));
        unsigned bits = 0;
        bool sure = true;
        for (int h = 0; h < 2; ++h) {
            const __m256d sdH = _mm256_cvtps_pd(h ? _mm256_extractf128_ps(sd, 1) : _mm256_castps256_ps128(sd));
            const __m256d meanH = _mm256_cvtps_pd(h ? _mm256_extractf128_ps(mean, 1) : _mm256_castps256_ps128(mean));
            const __m256d value =
                _mm256_cvtepi32_pd(h ? _mm256_extracti128_si256(values, 1) : _mm256_castsi256_si128(values));
            const __m256d t = _mm256_mul_pd(sdH, invRange);
            const __m256d level =
                _mm256_mul_pd(meanH, _mm256_add_pd(one, _mm256_mul_pd(kd, _mm256_sub_pd(t, one))));
            bits |= unsigned(_mm256_movemask_pd(_mm256_cmp_pd(value, level, _CMP_NLE_UQ))) << (4 * h);
            if (!levelExact) {
                // Five roundings apart: |level' - level| < |mean| (1 + |k|
                // (t + 1)) 2^-48.  A value farther than 2^-40 of that from
                // the level is on the same side of both.
                const __m256d zero = _mm256_setzero_pd();
                const __m256d scale = _mm256_mul_pd(
                    _mm256_andnot_pd(signBit, meanH),
                    _mm256_add_pd(one, _mm256_mul_pd(absK, _mm256_add_pd(t, one))));
                const __m256d gap = _mm256_andnot_pd(signBit, _mm256_sub_pd(value, level));
                const __m256d same = _mm256_or_pd(
                    _mm256_or_pd(_mm256_cmp_pd(sdH, zero, _CMP_EQ_OQ), _mm256_cmp_pd(meanH, zero, _CMP_EQ_OQ)),
                    _mm256_cmp_pd(level, level, _CMP_UNORD_Q));
                const __m256d ok =
                    _mm256_or_pd(_mm256_cmp_pd(gap, _mm256_mul_pd(scale, bound), _CMP_GT_OQ), same);
                sure = sure && _mm256_movemask_pd(ok) == 0xF;
            }
        }
        if (!sure) {
            decidePlain(r, x, x + 8);
            continue;
        }
        __builtin_memcpy(r.dst + x, &kSpread.bytes[bits], 8);
    }
    return x;
}

// The same sixteen pixels at a time (AVX-512: twice the lanes per step).
// g++ 12 warns about the deliberately undefined source operand inside its
// own AVX-512 conversion intrinsics (GCC bug 105593); nothing of ours.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
KX_TARGET(KX_ISA_AVX512) inline void means16(const LocalRows<uint32_t> &r, size_t x, __m512d invArea,
                                            __m512 &mean, __m512 &meanSq)
{
    const __m512i s = _mm512_sub_epi32(_mm512_loadu_si512(r.sum + x + r.span), _mm512_loadu_si512(r.sum + x));
    const __m512i q = _mm512_sub_epi32(_mm512_loadu_si512(r.sq + x + r.span), _mm512_loadu_si512(r.sq + x));
    const __m512d sLo = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(s)), invArea);
    const __m512d sHi = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(s, 1)), invArea);
    mean = _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(sLo)), _mm512_cvtpd_ps(sHi), 1);
    const __m512d qLo = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(q)), invArea);
    const __m512d qHi = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(q, 1)), invArea);
    meanSq = _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(qLo)), _mm512_cvtpd_ps(qHi), 1);
}

// From 64-bit running sums (window sums below 2^52, exact in double).
KX_TARGET(KX_ISA_AVX512) inline __m256 quotients8(const int64_t *run, size_t span, __m512d invArea)
{
    const __m512i d = _mm512_sub_epi64(_mm512_loadu_si512(run + span), _mm512_loadu_si512(run));
    return _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_cvtepi64_pd(d), invArea));
}

KX_TARGET(KX_ISA_AVX512) inline void means16(const LocalRows<int64_t> &r, size_t x, __m512d invArea,
                                            __m512 &mean, __m512 &meanSq)
{
    mean = _mm512_insertf32x8(_mm512_castps256_ps512(quotients8(r.sum + x, r.span, invArea)),
                              quotients8(r.sum + x + 8, r.span, invArea), 1);
    meanSq = _mm512_insertf32x8(_mm512_castps256_ps512(quotients8(r.sq + x, r.span, invArea)),
                                quotients8(r.sq + x + 8, r.span, invArea), 1);
}

KX_TARGET(KX_ISA_AVX512) inline void quotientsPacked8(const uint64_t *run, size_t span, __m512d invArea, __m256 &s,
                                                      __m256 &q)
{
    const __m512i d = _mm512_sub_epi64(_mm512_loadu_si512(run + span), _mm512_loadu_si512(run));
    const __m512i low = _mm512_and_si512(d, _mm512_set1_epi64((int64_t(1) << kLocalPackedShift) - 1));
    s = _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_cvtepi64_pd(low), invArea));
    q = _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_cvtepi64_pd(_mm512_srli_epi64(d, kLocalPackedShift)), invArea));
}

KX_TARGET(KX_ISA_AVX512) inline void means16(const LocalRows<uint64_t> &r, size_t x, __m512d invArea, __m512 &mean,
                                            __m512 &meanSq)
{
    __m256 s0, q0, s1, q1;
    quotientsPacked8(r.sum + x, r.span, invArea, s0, q0);
    quotientsPacked8(r.sum + x + 8, r.span, invArea, s1, q1);
    mean = _mm512_insertf32x8(_mm512_castps256_ps512(s0), s1, 1);
    meanSq = _mm512_insertf32x8(_mm512_castps256_ps512(q0), q1, 1);
}

template <class T>
KX_TARGET(KX_ISA_AVX512) size_t decide512(const LocalRows<T> &r) noexcept
{
    const double range = r.p.range, k = r.p.k;
    const __m512d invArea = _mm512_set1_pd(1.0 / r.p.area), invRange = _mm512_set1_pd(1.0 / range);
    const __m512d kd = _mm512_set1_pd(k), absK = _mm512_set1_pd(std::fabs(k)), one = _mm512_set1_pd(1.0);
    const __m512d zero = _mm512_setzero_pd(), bound = _mm512_set1_pd(0x1p-40);
    const unsigned ri = unsigned(range);
    const bool levelExact = k == 0.0 || ri == 0 || (ri & (ri - 1)) == 0;
    // The level in single precision (the file's opening comment) for
    // ranges 1..255 and weights 0 < |k| <= 2^40.
    const bool single = ri >= 1 && k != 0.0 && std::fabs(k) <= 0x1p40;
    const __m512 invRangeF = _mm512_set1_ps(float(1.0 / range)), kf = _mm512_set1_ps(float(k));
    const __m512 absKf = _mm512_set1_ps(float(std::fabs(k))), oneF = _mm512_set1_ps(1.0f);
    const __m512 boundF = _mm512_set1_ps(0x1p-19f), zeroF = _mm512_setzero_ps();

    size_t x = 0;
    for (; x + 16 <= r.n; x += 16) {
        __m512 mean, meanSq;
        means16(r, x, invArea, mean, meanSq);
        const __m512 sd = _mm512_sqrt_ps(_mm512_sub_ps(meanSq, _mm512_mul_ps(mean, mean)));
        const __m512i values = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(r.src + x)));
        if (single) {
            const __m512 value = _mm512_cvtepi32_ps(values);
            const __m512 t = _mm512_mul_ps(sd, invRangeF);
            const __m512 level = _mm512_mul_ps(mean, _mm512_add_ps(oneF, _mm512_mul_ps(kf, _mm512_sub_ps(t, oneF))));
            const __m512 scale = _mm512_mul_ps(mean, _mm512_add_ps(oneF, _mm512_mul_ps(absKf, _mm512_add_ps(t, oneF))));
            const __m512 gap = _mm512_abs_ps(_mm512_sub_ps(value, level));
            const __mmask16 ok = _mm512_cmp_ps_mask(gap, _mm512_mul_ps(scale, boundF), _CMP_GT_OQ) |
                                 _mm512_cmp_ps_mask(mean, zeroF, _CMP_EQ_OQ) | _mm512_cmp_ps_mask(sd, sd, _CMP_UNORD_Q);
            if (ok != 0xFFFF) {
                decidePlain(r, x, x + 16);
                continue;
            }
            const __mmask16 bits = _mm512_cmp_ps_mask(value, level, _CMP_NLE_UQ);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(r.dst + x), _mm_maskz_mov_epi8(bits, _mm_set1_epi8(1)));
            continue;
        }
        unsigned bits = 0;
        bool sure = true;
        for (int h = 0; h < 2; ++h) {
            const __m512d sdH = _mm512_cvtps_pd(h ? _mm512_extractf32x8_ps(sd, 1) : _mm512_castps512_ps256(sd));
            const __m512d meanH = _mm512_cvtps_pd(h ? _mm512_extractf32x8_ps(mean, 1) : _mm512_castps512_ps256(mean));
            const __m512d value =
                _mm512_cvtepi32_pd(h ? _mm512_extracti64x4_epi64(values, 1) : _mm512_castsi512_si256(values));
            const __m512d t = _mm512_mul_pd(sdH, invRange);
            const __m512d level =
                _mm512_mul_pd(meanH, _mm512_add_pd(one, _mm512_mul_pd(kd, _mm512_sub_pd(t, one))));
            bits |= unsigned(_mm512_cmp_pd_mask(value, level, _CMP_NLE_UQ)) << (8 * h);
            if (!levelExact) {
                // As in decideAvx2.
                const __m512d scale = _mm512_mul_pd(_mm512_abs_pd(meanH),
                                                    _mm512_add_pd(one, _mm512_mul_pd(absK, _mm512_add_pd(t, one))));
                const __m512d gap = _mm512_abs_pd(_mm512_sub_pd(value, level));
                const __mmask8 ok = _mm512_cmp_pd_mask(gap, _mm512_mul_pd(scale, bound), _CMP_GT_OQ) |
                                    _mm512_cmp_pd_mask(sdH, zero, _CMP_EQ_OQ) |
                                    _mm512_cmp_pd_mask(meanH, zero, _CMP_EQ_OQ) |
                                    _mm512_cmp_pd_mask(level, level, _CMP_UNORD_Q);
                sure = sure && ok == 0xFF;
            }
        }
        if (!sure) {
            decidePlain(r, x, x + 16);
            continue;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(r.dst + x), _mm_maskz_mov_epi8(__mmask16(bits), _mm_set1_epi8(1)));
    }
    return x;
}
#pragma GCC diagnostic pop

#endif

// The plain level: no vector prefix, the plain loop decides the row.
template <class T>
size_t decideNone(const LocalRows<T> &) noexcept
{
    return 0;
}

constexpr isa::Table<LocalKernel> kKernels{
    {decideNone<uint32_t>, KX_ISA_ON_X86(decideAvx2<uint32_t>), KX_ISA_ON_X86(decide512<uint32_t>)}};
constexpr isa::Table<LocalKernel64> kKernels64{
    {decideNone<int64_t>, KX_ISA_ON_X86(decideAvx2<int64_t>), KX_ISA_ON_X86(decide512<int64_t>)}};
constexpr isa::Table<LocalKernelPacked> kKernelsPacked{
    {decideNone<uint64_t>, KX_ISA_ON_X86(decideAvx2<uint64_t>), KX_ISA_ON_X86(decide512<uint64_t>)}};

// An odd area and a finite weight: the vector kernels' proofs hold.
bool vectorCall(const LocalParams &p) { return std::fmod(p.area, 2.0) == 1.0 && std::isfinite(p.k); }

}  // namespace

LocalKernel localKernelFor(const LocalParams &p, isa::Level level) noexcept
{
    if (!(p.area <= kLocalVectorArea && vectorCall(p))) return decideNone<uint32_t>;
    return kKernels.pick(level);
}

LocalKernel64 localKernel64For(const LocalParams &p, isa::Level level) noexcept
{
    if (!(p.area <= kLocalVectorArea64 && vectorCall(p))) return decideNone<int64_t>;
    return kKernels64.pick(level);
}

LocalKernelPacked localKernelPackedFor(const LocalParams &p, isa::Level level) noexcept
{
    if (!(p.area <= kLocalPackedArea && vectorCall(p))) return decideNone<uint64_t>;
    return kKernelsPacked.pick(level);
}

void decideLocalRow(const LocalRows<int64_t> &r, LocalKernel64 k) noexcept { decidePlain(r, k(r), r.n); }

void decideLocalRow(const LocalRows<uint64_t> &r, LocalKernelPacked k) noexcept { decidePlain(r, k(r), r.n); }

void decideLocalRow(const LocalRows<uint32_t> &r, LocalKernel k) noexcept { decidePlain(r, k(r), r.n); }

}  // namespace kx::thr
