// Chamfer distance transform and what is built on it.
//
//   kxDistTrans  KIT_BIN into a caller's int32 array; other types return 0
//   kxErodeE1    KIT_BIN; other types unchanged
//   kxEclose     KIT_BIN, KIT_GRAY masks; other types unchanged
#include <algorithm>

#include "frame/frame.hpp"
#include "frame/isa.hpp"

#if KX_ISA_X86
#include <immintrin.h>
#endif

using namespace kx;

namespace {

// Distances in tenths of a step: 10 to a side neighbour, 14 diagonally.
// kFar + 14 still fits an int32.
constexpr int32_t kFar = 0x1FFFFFFF;
constexpr int32_t kSide = 10, kDiag = 14;

// The row steps, each a loop over a whole row that the compiler turns into
// wide instructions (compiled per level: isa::Clones).

// An interior row before the passes: unset pixels 0, set pixels and the
// two frame columns far.
[[gnu::always_inline]] inline void seedRow(const uint8_t *__restrict p, int32_t *__restrict r, int w) noexcept
{
    r[0] = r[w - 1] = kFar;
    for (int x = 1; x < w - 1; ++x) r[x] = p[x] ? kFar : 0;
}

// Folds in the neighbour row n (above in the forward pass, below in the
// backward one; already final for that pass): its three entries around x,
// the middle one a side step away, the others diagonal.
[[gnu::always_inline]] inline void foldRow(int32_t *__restrict r, const int32_t *__restrict n, int w) noexcept
{
    for (int x = 1; x < w - 1; ++x)
        r[x] = std::min(std::min(r[x], n[x - 1] + kDiag), std::min(n[x] + kSide, n[x + 1] + kDiag));
}

// Whole units, truncated; what no unset pixel reached becomes 0.
[[gnu::always_inline]] inline void unitsRow(int32_t *r, int w) noexcept
{
    for (int x = 0; x < w; ++x) r[x] = r[x] == kFar ? 0 : r[x] / 10;
}

// The in-row step of each pass: d(x) = min(d(x), d(x -/+ 1) + 10) along the
// pass's direction over the interior.  Unrolled, d(x) is the least of
// d0(k) + 10 |x - k| over the k from the row's start up to x, a prefix
// minimum: with AVX2, eight entries at a time take it in three steps of
// shifted lanes (1, 2, 4 apart) and then the entry carried in from the
// block before.  Integer min and add, no overflow below kFar + 80: the
// same numbers as the chain.
void chainRightBase(int32_t *r, int w) noexcept
{
    for (int x = 1; x < w - 1; ++x) r[x] = std::min(r[x], r[x - 1] + kSide);
}

void chainLeftBase(int32_t *r, int w) noexcept
{
    for (int x = w - 2; x >= 1; --x) r[x] = std::min(r[x], r[x + 1] + kSide);
}

#if KX_ISA_X86
// Lanes moved k places up (Right) or down, the vacated ones far.
template <int K, bool Right>
KX_TARGET(KX_ISA_AVX2) inline __m256i shifted(__m256i v)
{
    const __m256i far = _mm256_set1_epi32(kFar);
    if constexpr (Right) {
        const __m256i idx = _mm256_setr_epi32(0, 1 - K < 0 ? 0 : 1 - K, 2 - K < 0 ? 0 : 2 - K, 3 - K < 0 ? 0 : 3 - K,
                                              4 - K < 0 ? 0 : 4 - K, 5 - K, 6 - K, 7 - K);
        return _mm256_blend_epi32(_mm256_permutevar8x32_epi32(v, idx), far, (1 << K) - 1);
    } else {
        const __m256i idx = _mm256_setr_epi32(K, 1 + K, 2 + K, 3 + K, 4 + K > 7 ? 7 : 4 + K, 5 + K > 7 ? 7 : 5 + K,
                                              6 + K > 7 ? 7 : 6 + K, 7);
        return _mm256_blend_epi32(_mm256_permutevar8x32_epi32(v, idx), far, (0xFF << (8 - K)) & 0xFF);
    }
}

// The eight entries' own prefix minimum in the pass's direction.
template <bool Right>
KX_TARGET(KX_ISA_AVX2) inline __m256i blockChain(__m256i v)
{
    v = _mm256_min_epi32(v, _mm256_add_epi32(shifted<1, Right>(v), _mm256_set1_epi32(kSide)));
    v = _mm256_min_epi32(v, _mm256_add_epi32(shifted<2, Right>(v), _mm256_set1_epi32(2 * kSide)));
    return _mm256_min_epi32(v, _mm256_add_epi32(shifted<4, Right>(v), _mm256_set1_epi32(4 * kSide)));
}

KX_TARGET(KX_ISA_AVX2) void chainRightAvx2(int32_t *r, int w) noexcept
{
    const __m256i steps = _mm256_setr_epi32(10, 20, 30, 40, 50, 60, 70, 80), last = _mm256_set1_epi32(7);
    __m256i carry = _mm256_set1_epi32(r[0]);
    int x = 1;
    for (; x + 8 <= w - 1; x += 8) {
        __m256i v = blockChain<true>(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(r + x)));
        v = _mm256_min_epi32(v, _mm256_add_epi32(carry, steps));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(r + x), v);
        carry = _mm256_permutevar8x32_epi32(v, last);
    }
    for (; x < w - 1; ++x) r[x] = std::min(r[x], r[x - 1] + kSide);
}

KX_TARGET(KX_ISA_AVX2) void chainLeftAvx2(int32_t *r, int w) noexcept
{
    const __m256i steps = _mm256_setr_epi32(80, 70, 60, 50, 40, 30, 20, 10), first = _mm256_setzero_si256();
    __m256i carry = _mm256_set1_epi32(r[w - 1]);
    int x = w - 2;
    for (; x - 8 >= 0; x -= 8) {
        int32_t *b = r + x - 7;
        __m256i v = blockChain<false>(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(b)));
        v = _mm256_min_epi32(v, _mm256_add_epi32(carry, steps));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(b), v);
        carry = _mm256_permutevar8x32_epi32(v, first);
    }
    for (; x >= 1; --x) r[x] = std::min(r[x], r[x + 1] + kSide);
}

#endif

using ChainFn = decltype(&chainRightBase);
constexpr isa::Table<ChainFn> kChainRight{{chainRightBase, KX_ISA_ON_X86(chainRightAvx2)}};
constexpr isa::Table<ChainFn> kChainLeft{{chainLeftBase, KX_ISA_ON_X86(chainLeftAvx2)}};

// Two raster passes over the interior; the frame stays far throughout.
// Each row is seeded as the forward pass reaches it, and becomes whole
// units once the backward pass has used it for the row above.  An image
// without interior has every entry far, so all 0.
void chamfer(const Image *im, int32_t *d) noexcept
{
    const int w = im->width, h = im->height;
    if (w < 3 || h < 3) {
        std::fill(d, d + size_t(w) * size_t(h), 0);
        return;
    }
    auto at = [d, w](int y) { return d + size_t(y) * size_t(w); };
    const auto seedRows = isa::Clones<seedRow>::table.pick();
    const auto foldRows = isa::Clones<foldRow>::table.pick();
    const auto unitsRows = isa::Clones<unitsRow>::table.pick();
    const ChainFn chainRight = kChainRight.pick(), chainLeft = kChainLeft.pick();
    std::fill(at(0), at(1), kFar);
    for (int y = 1; y < h - 1; ++y) {
        int32_t *r = at(y);
        seedRows(row(im, y), r, w);
        foldRows(r, r - w, w);
        chainRight(r, w);
    }
    std::fill(at(h - 1), at(h), kFar);
    for (int y = h - 2; y >= 1; --y) {
        int32_t *r = at(y);
        foldRows(r, r + w, w);
        chainLeft(r, w);
        unitsRows(r + w, w);
    }
    unitsRows(at(1), w);
    unitsRows(at(0), w);
}

}  // namespace

extern "C" {

int kxDistTrans(const Image *image, int32_t *distances, uint32_t capacity)
{
    if (!image || !typeOk(image) || image->imageType != KIT_BIN) return 0;
    const int64_t n = pixelCount(image);  // below 2^31 for a well-formed record
    if (!distances) return int(n);
    if (uint64_t(n) > capacity) return 0;
    chamfer(image, distances);
    return int(n);
}

Image *kxErodeE1(Image *image, int radius)
{
    if (!image || !typeOk(image) || image->imageType != KIT_BIN) return image;
    const int w = image->width, h = image->height;
    Scratch<int32_t> d(size_t(w) * size_t(h));
    if (!d) return image;
    chamfer(image, d.get());
    for (int y = 0; y < h; ++y) {
        uint8_t *p = row(image, y);
        const int32_t *r = d.get() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x)
            if (p[x] && r[x] < radius) p[x] = 0;
    }
    return image;
}

void kxEclose(Image *imMask, int radius)
{
    if (!imMask) return kx::failed("imMask");
    if (!maskOk(imMask)) return;
    const int r = radius >= 1 ? radius : 1;
    TempImage copy(kxiClone(imMask, nullptr));
    const Image *imEc = copy.get();
    if (!imEc) return kx::failed("imEc");
    // A binary mask becomes 0/255 so that its inside can reach full weight.
    // A window the smoothing refuses leaves the copy unsmoothed, and the
    // unsmoothed copy is weighted.
    if (!kxiCast(copy.get(), KIT_GRAY)) return;
    kxSmoothGaussian(copy.get(), r, r);
    const float k = 1.0f / 255.0f;
    for (int y = 0; y < imMask->height; ++y) {
        uint8_t *m = row(imMask, y);
        const uint8_t *g = row(imEc, y);  // the copy is walked by its own pitch
        for (int x = 0; x < imMask->width; ++x) {
            if (!m[x]) continue;
            if (g[x] == 255) {
                m[x] = 255;
                continue;
            }
            const float v = float(g[x]) * k;
            const float cube = v * v * v;
            m[x] = uint8_t(double(cube) * 255.0);
        }
    }
}

}  // extern "C"
