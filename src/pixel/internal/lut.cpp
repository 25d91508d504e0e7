// The byte-table mapper (lut.hpp) and the image-level appliers of the call
// frame, applyLut and applyLutChannels, which every table-driven point
// operation goes through.
#include "pixel/lut.hpp"

#include "frame/frame.hpp"
#include "kxthreads_bands.hpp"

#if KX_ISA_X86
#include <immintrin.h>
#endif

namespace kx::lut {

namespace {

inline bool selected(unsigned channelBits, int bpp, size_t pos) { return channelBits >> (pos % size_t(bpp)) & 1u; }

void mapPlain(uint8_t *p, size_t n, const uint8_t lut[256], int bpp, unsigned channelBits) noexcept
{
    if (channelBits == (1u << bpp) - 1) {
        for (size_t i = 0; i < n; ++i) p[i] = lut[p[i]];
        return;
    }
    for (size_t i = 0; i < n; i += size_t(bpp))
        for (int c = 0; c < bpp; ++c)
            if (channelBits >> c & 1u) p[i + c] = lut[p[i + c]];
}

#if KX_ISA_X86

#define KX_LUT_VBMI_MAP(v)                                                                                        \
    _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), _mm512_permutex2var_epi8(t0, v, t1),                          \
                           _mm512_permutex2var_epi8(t2, v, t3))

// Sixteen 16-entry shuffles: the low half of the table (bytes 0..127) as a
// chain over the index minus 16, 32, ... (a shuffle gives 0 where the index
// has turned negative, and each step adds the difference between
// consecutive table rows), the high half the same way on the index with its
// top bit flipped.  Saturating subtraction keeps indices of the other half
// negative throughout, so exactly one half contributes to each byte.
KX_TARGET(KX_ISA_AVX2) void mapAvx2(uint8_t *p, size_t n, const uint8_t lut[256], int bpp, unsigned channelBits) noexcept
{
    __m256i lowRows[8], highRows[8];
    for (int half = 0; half < 2; ++half) {
        __m256i *rows = half ? highRows : lowRows;
        __m256i previous = _mm256_setzero_si256();
        for (int k = 0; k < 8; ++k) {
            const uint8_t *entries = lut + half * 128 + 16 * k;
            const __m256i r = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(entries)));
            rows[k] = _mm256_xor_si256(r, previous);
            previous = r;
        }
    }
    const bool all = channelBits == (1u << bpp) - 1;
    // Byte selection of three consecutive vectors (the pattern of a 3-byte
    // pixel repeats every 96 bytes; those of 1 and 4 bytes every 32).
    __m256i keep[3];
    for (int k = 0; k < 3; ++k) {
        alignas(32) uint8_t m[32];
        for (int i = 0; i < 32; ++i) m[i] = selected(channelBits, bpp, size_t(32 * k + i)) ? 0xFF : 0;
        keep[k] = _mm256_load_si256(reinterpret_cast<const __m256i *>(m));
    }
    const __m256i step = _mm256_set1_epi8(16), flip = _mm256_set1_epi8(char(0x80));
    size_t i = 0;
    int phase = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i));
        __m256i lo = v, hi = _mm256_xor_si256(v, flip);
        __m256i r = _mm256_xor_si256(_mm256_shuffle_epi8(lowRows[0], lo), _mm256_shuffle_epi8(highRows[0], hi));
        for (int k = 1; k < 8; ++k) {
            lo = _mm256_subs_epi8(lo, step);
            hi = _mm256_subs_epi8(hi, step);
            r = _mm256_xor_si256(r, _mm256_shuffle_epi8(lowRows[k], lo));
            r = _mm256_xor_si256(r, _mm256_shuffle_epi8(highRows[k], hi));
        }
        if (!all) r = _mm256_blendv_epi8(v, r, keep[phase]);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p + i), r);
        if (++phase == 3) phase = 0;
    }
    // The selection follows the position in the run, which starts on a
    // pixel boundary.
    for (; i < n; ++i)
        if (selected(channelBits, bpp, i)) p[i] = lut[p[i]];
}

// Two 128-entry permutes (the low and the high half of the table), picked
// by the top bit of each byte; the tail and the channel selection are store
// masks, so no byte outside them is written.
KX_TARGET(KX_ISA_VBMI) void mapVbmi(uint8_t *p, size_t n, const uint8_t lut[256], int bpp, unsigned channelBits) noexcept
{
    const __m512i t0 = _mm512_loadu_si512(lut), t1 = _mm512_loadu_si512(lut + 64);
    const __m512i t2 = _mm512_loadu_si512(lut + 128), t3 = _mm512_loadu_si512(lut + 192);
    __mmask64 keep[3];
    for (int k = 0; k < 3; ++k) {
        uint64_t m = 0;
        for (int i = 0; i < 64; ++i)
            if (selected(channelBits, bpp, size_t(64 * k + i))) m |= uint64_t(1) << i;
        keep[k] = m;
    }
    size_t i = 0;
    int phase = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i v = _mm512_loadu_si512(p + i);
        _mm512_mask_storeu_epi8(p + i, keep[phase], KX_LUT_VBMI_MAP(v));
        if (++phase == 3) phase = 0;
    }
    if (i < n) {
        const __mmask64 tail = (uint64_t(1) << (n - i)) - 1;
        const __m512i v = _mm512_maskz_loadu_epi8(tail, p + i);
        _mm512_mask_storeu_epi8(p + i, tail & keep[phase], KX_LUT_VBMI_MAP(v));
    }
}

#endif

constexpr isa::Table<Kernel> kKernels{
    {mapPlain, KX_ISA_ON_X86(mapAvx2), nullptr, KX_ISA_ON_X86(mapVbmi)}};

}  // namespace

Kernel kernel(isa::Level level) noexcept { return kKernels.pick(level); }

void mapRun(Kernel k, uint8_t *p, size_t n, const uint8_t lut[256], int bpp, unsigned channelBits) noexcept
{
    channelBits &= (1u << bpp) - 1;
    if (channelBits == 0 || n == 0) return;
    k(p, n, lut, bpp, channelBits);
}

}  // namespace kx::lut

namespace kx {

void applyLutChannels(Image *im, const uint8_t lut[256], unsigned channelBits) noexcept
{
    const int bpp = kxiBytesPerPixel(im->imageType);
    channelBits &= (1u << bpp) - 1;
    if (channelBits == 0) return;
    bool identity = true;
    for (int v = 0; v < 256 && identity; ++v) identity = lut[v] == v;
    if (identity) return;
    const lut::Kernel k = lut::kernel();
    const size_t n = rowBytes(im);
    // Every byte maps on its own, so row bands (threads on) give the same bytes.
    threads::forBands(im->height, threads::minRows(im->width), [&](int y0, int y1) {
        if (size_t(im->pitch) == n) {
            // Rows without padding: one run over the band.
            lut::mapRun(k, row(im, y0), n * size_t(y1 - y0), lut, bpp, channelBits);
            return;
        }
        for (int y = y0; y < y1; ++y) lut::mapRun(k, row(im, y), n, lut, bpp, channelBits);
    });
}

void applyLut(Image *im, const uint8_t lut[256], int channels) noexcept
{
    const int bpp = kxiBytesPerPixel(im->imageType);
    if (channels > bpp) channels = bpp;
    if (channels <= 0) return;
    applyLutChannels(im, lut, (1u << channels) - 1);
}

}  // namespace kx
