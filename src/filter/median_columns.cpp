// The two steps of the 3 x 3 median (smooth.cpp) on rows of bytes: sorting
// column triples and merging three neighbouring sorted columns into
// medians.  A plain loop and AVX2 and AVX-512BW kernels of byte minima and
// maxima (left to itself the compiler turns the medians into
// compare-and-blend sequences, twice the work); the kernels' tails take the
// plain loops.
#include <algorithm>

#include "filter_detail.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace kx::filter {

namespace {

// Sorts each column triple (a[i], b[i], c[i]) into lo[i] <= md[i] <= hi[i].
void sortColumns(const uint8_t *__restrict a, const uint8_t *__restrict b, const uint8_t *__restrict c,
                 uint8_t *__restrict lo, uint8_t *__restrict md, uint8_t *__restrict hi, size_t n) noexcept
{
    for (size_t i = 0; i < n; ++i) {
        const uint8_t p = a[i], q = b[i], r = c[i];
        const uint8_t l1 = std::min(p, q), h1 = std::max(p, q);
        const uint8_t m1 = std::min(h1, r);
        hi[i] = std::max(h1, r);
        lo[i] = std::min(l1, m1);
        md[i] = std::max(l1, m1);
    }
}

inline uint8_t med3(uint8_t a, uint8_t b, uint8_t c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// n medians from sorted column triples: out[i] from the columns at i,
// i + C and i + 2C (C is the distance between horizontal neighbours in
// bytes, so lo points one pixel left of out).
void mergeColumns(const uint8_t *__restrict lo, const uint8_t *__restrict md, const uint8_t *__restrict hi,
                  uint8_t *__restrict out, size_t n, size_t C) noexcept
{
    for (size_t i = 0; i < n; ++i) {
        const uint8_t mx = std::max(std::max(lo[i], lo[i + C]), lo[i + 2 * C]);
        const uint8_t mn = std::min(std::min(hi[i], hi[i + C]), hi[i + 2 * C]);
        out[i] = med3(mx, med3(md[i], md[i + C], md[i + 2 * C]), mn);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)

// The same two steps 32 bytes at a time.
__attribute__((target("avx2"))) void sortColumnsAvx2(const uint8_t *a, const uint8_t *b, const uint8_t *c,
                                                     uint8_t *lo, uint8_t *md, uint8_t *hi, size_t n) noexcept
{
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + i));
        const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + i));
        const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(c + i));
        const __m256i l1 = _mm256_min_epu8(p, q), h1 = _mm256_max_epu8(p, q);
        const __m256i m1 = _mm256_min_epu8(h1, r);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(hi + i), _mm256_max_epu8(h1, r));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(lo + i), _mm256_min_epu8(l1, m1));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(md + i), _mm256_max_epu8(l1, m1));
    }
    sortColumns(a + i, b + i, c + i, lo + i, md + i, hi + i, n - i);
}

__attribute__((target("avx2"))) inline __m256i at(const uint8_t *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

__attribute__((target("avx2"))) inline __m256i med3Avx2(__m256i a, __m256i b, __m256i c)
{
    return _mm256_max_epu8(_mm256_min_epu8(a, b), _mm256_min_epu8(_mm256_max_epu8(a, b), c));
}

__attribute__((target("avx2"))) void mergeColumnsAvx2(const uint8_t *lo, const uint8_t *md, const uint8_t *hi,
                                                      uint8_t *out, size_t n, size_t C) noexcept
{
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i mx = _mm256_max_epu8(_mm256_max_epu8(at(lo + i), at(lo + i + C)), at(lo + i + 2 * C));
        const __m256i mn = _mm256_min_epu8(_mm256_min_epu8(at(hi + i), at(hi + i + C)), at(hi + i + 2 * C));
        const __m256i mm = med3Avx2(at(md + i), at(md + i + C), at(md + i + 2 * C));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), med3Avx2(mx, mm, mn));
    }
    mergeColumns(lo + i, md + i, hi + i, out + i, n - i, C);
}

// And 64 bytes at a time where the processor has AVX-512BW.
__attribute__((target("avx512f,avx512bw"))) void sortColumns512(const uint8_t *a, const uint8_t *b,
                                                                 const uint8_t *c, uint8_t *lo, uint8_t *md,
                                                                 uint8_t *hi, size_t n) noexcept
{
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i p = _mm512_loadu_si512(a + i), q = _mm512_loadu_si512(b + i), r = _mm512_loadu_si512(c + i);
        const __m512i l1 = _mm512_min_epu8(p, q), h1 = _mm512_max_epu8(p, q);
        const __m512i m1 = _mm512_min_epu8(h1, r);
        _mm512_storeu_si512(hi + i, _mm512_max_epu8(h1, r));
        _mm512_storeu_si512(lo + i, _mm512_min_epu8(l1, m1));
        _mm512_storeu_si512(md + i, _mm512_max_epu8(l1, m1));
    }
    sortColumns(a + i, b + i, c + i, lo + i, md + i, hi + i, n - i);
}

__attribute__((target("avx512f,avx512bw"))) inline __m512i med3_512(__m512i a, __m512i b, __m512i c)
{
    return _mm512_max_epu8(_mm512_min_epu8(a, b), _mm512_min_epu8(_mm512_max_epu8(a, b), c));
}

__attribute__((target("avx512f,avx512bw"))) void mergeColumns512(const uint8_t *lo, const uint8_t *md,
                                                                  const uint8_t *hi, uint8_t *out, size_t n,
                                                                  size_t C) noexcept
{
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i mx = _mm512_max_epu8(_mm512_max_epu8(_mm512_loadu_si512(lo + i), _mm512_loadu_si512(lo + i + C)),
                                           _mm512_loadu_si512(lo + i + 2 * C));
        const __m512i mn = _mm512_min_epu8(_mm512_min_epu8(_mm512_loadu_si512(hi + i), _mm512_loadu_si512(hi + i + C)),
                                           _mm512_loadu_si512(hi + i + 2 * C));
        const __m512i mm =
            med3_512(_mm512_loadu_si512(md + i), _mm512_loadu_si512(md + i + C), _mm512_loadu_si512(md + i + 2 * C));
        _mm512_storeu_si512(out + i, med3_512(mx, mm, mn));
    }
    mergeColumns(lo + i, md + i, hi + i, out + i, n - i, C);
}

#endif

}  // namespace

bool columnKernelRuns(ColumnKernel k) noexcept
{
    switch (k) {
    case ColumnKernel::Plain: return true;
#if defined(__x86_64__) && defined(__GNUC__)
    case ColumnKernel::Avx2: return __builtin_cpu_supports("avx2");
    case ColumnKernel::Avx512: return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#endif
    default: return false;
    }
}

ColumnKernel bestColumnKernel() noexcept
{
    if (columnKernelRuns(ColumnKernel::Avx512)) return ColumnKernel::Avx512;
    if (columnKernelRuns(ColumnKernel::Avx2)) return ColumnKernel::Avx2;
    return ColumnKernel::Plain;
}

ColumnSteps columnSteps(ColumnKernel k) noexcept
{
    switch (k) {
#if defined(__x86_64__) && defined(__GNUC__)
    case ColumnKernel::Avx2: return {sortColumnsAvx2, mergeColumnsAvx2};
    case ColumnKernel::Avx512: return {sortColumns512, mergeColumns512};
#endif
    default: return {sortColumns, mergeColumns};
    }
}


}  // namespace kx::filter
