// Integer forms of the two-pass scaler's terms, and the row pass as byte
// shuffles and 16-bit multiplies.
//
// A term is trunc(float(b) * w) for a source byte b and a float weight w.
// For a given w it is a function of the byte alone, so wherever
// ((b * mul) >> 16) >> shift gives the same value for all 256 bytes - which
// is checked byte by byte when the form is chosen - the term may be taken
// that way: sixteen terms per AVX2 multiply, no conversions.  A weight with
// no such form keeps the float route.
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "geometry/two_pass_scale.hpp"

namespace kx::geo {

namespace {

// Whether ((b * mul) >> 16) >> s equals g[b] for every byte b (SSE2, all
// 256 bytes, no early exit).
inline bool formFits(const uint16_t *g, uint32_t mul, int s)
{
    const __m128i m = _mm_set1_epi16(short(mul)), sh = _mm_cvtsi32_si128(s), eight = _mm_set1_epi16(8);
    __m128i b = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), diff = _mm_setzero_si128();
    for (int i = 0; i < 256; i += 8, b = _mm_add_epi16(b, eight)) {
        const __m128i t = _mm_srl_epi16(_mm_mulhi_epu16(b, m), sh);
        diff = _mm_or_si128(diff, _mm_xor_si128(t, _mm_loadu_si128(reinterpret_cast<const __m128i *>(g + i))));
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(diff, _mm_setzero_si128())) == 0xFFFF;
}

}  // namespace

bool termCode(float w, int maxShift, TermCode &code) noexcept
{
    // The 256 terms, in SSE2 as the scalar conversions give them; any
    // product outside (-1, 256) (negative, NaN or beyond a byte) has no form.
    alignas(16) uint16_t g16[256];
    bool zero, copy;
    {
        const __m128 wv = _mm_set1_ps(w), lo = _mm_set1_ps(-1.0f), hi = _mm_set1_ps(256.0f);
        __m128i b = _mm_setr_epi32(0, 1, 2, 3), b16 = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
        __m128i any = _mm_setzero_si128(), notCopy = _mm_setzero_si128();
        __m128 inside = _mm_castsi128_ps(_mm_set1_epi32(-1));
        for (int i = 0; i < 256; i += 8) {
            const __m128 p0 = _mm_mul_ps(_mm_cvtepi32_ps(b), wv);
            b = _mm_add_epi32(b, _mm_set1_epi32(4));
            const __m128 p1 = _mm_mul_ps(_mm_cvtepi32_ps(b), wv);
            b = _mm_add_epi32(b, _mm_set1_epi32(4));
            inside = _mm_and_ps(inside, _mm_and_ps(_mm_cmpgt_ps(p0, lo), _mm_cmplt_ps(p0, hi)));
            inside = _mm_and_ps(inside, _mm_and_ps(_mm_cmpgt_ps(p1, lo), _mm_cmplt_ps(p1, hi)));
            const __m128i t = _mm_packs_epi32(_mm_cvttps_epi32(p0), _mm_cvttps_epi32(p1));
            _mm_store_si128(reinterpret_cast<__m128i *>(g16 + i), t);
            any = _mm_or_si128(any, t);
            notCopy = _mm_or_si128(notCopy, _mm_xor_si128(t, b16));
            b16 = _mm_add_epi16(b16, _mm_set1_epi16(8));
        }
        if (_mm_movemask_ps(inside) != 0xF) return false;
        zero = _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
        copy = _mm_movemask_epi8(_mm_cmpeq_epi8(notCopy, _mm_setzero_si128())) == 0xFFFF;
    }
    if (g16[0] != 0) return false;
    if (zero) {
        code = {0, 0, TermCode::kZero};
        return true;
    }
    if (copy) {
        code = {32768, 0, TermCode::kCopy};
        return true;
    }
    // First the multipliers next to w itself: floor(w 2^(16+s)) and the one
    // above, at shift 0 and at the largest shift whose multiplier fits 16
    // bits.  When w lies in [L, U) below (no product rounded up to the next
    // integer), one of the two is usable at a shift wherever any is.
    const double wd = double(w);
    int top = 0;
    while (top < maxShift && wd * double(int64_t(1) << (17 + top)) < 65535.0) ++top;
    for (int s : {0, top}) {
        const double base = std::floor(wd * double(int64_t(1) << (16 + s)));
        for (double m = base; m <= base + 1; ++m)
            if (m >= 1 && m <= 65535 && formFits(g16, uint32_t(m), s)) {
                code = {uint16_t(m), uint8_t(s), TermCode::kMul};
                return true;
            }
        if (top == 0) break;
    }
    int32_t g[256];
    for (int b = 0; b < 256; ++b) g[b] = g16[b];
    // mul / 2^S must lie in [L, U): L = max g(b) / b, U = min (g(b) + 1) / b
    // over b = 1..255.  The bounds are taken in double (a candidate is then
    // checked exactly); the smallest usable mul is the first above L 2^S.
    double L = 0, U = 1e300;
    for (int b = 1; b < 256; ++b) {
        L = std::max(L, double(g[b]) / b);
        U = std::min(U, double(g[b] + 1) / b);
    }
    if (!(L < U)) return false;
    for (int s = 0; s <= maxShift; ++s) {
        const double scale = double(int64_t(1) << (16 + s));
        const double first = std::ceil(L * scale * (1 - 1e-12));
        for (double m = first; m <= first + 1 && m <= 65535 && m < U * scale * (1 + 1e-12); ++m) {
            const uint32_t mul = uint32_t(m);
            bool same = true;
            for (int b = 1; b < 256 && same; ++b) same = int32_t(((uint32_t(b) * mul) >> 16) >> s) == g[b];
            if (same) {
                code = {uint16_t(mul), uint8_t(s), TermCode::kMul};
                return true;
            }
        }
    }
    return false;
}

// ---- the row pass ----------------------------------------------------------

// One tap of one group of destination bytes: the source bytes of the tap,
// as two 16-byte windows (one per half of eight lanes, of which the first
// `half` are used) and a shuffle
// that puts byte idx - window start into the low half of each 16-bit lane;
// then lane * pre (1, or 2 for a weight of one) and the high half of the
// product with mul.
struct RowTap {
    int32_t at[2];
    bool scaled;  // some lane has pre 2
    uint8_t shuffle[32];  // (the block is not 32-byte aligned: unaligned loads)
    uint16_t pre[16];
    uint16_t mul[16];
};

// The float form of a tap (AVX-512): sixteen destination bytes, each taking
// source byte at + shuffle[l] (none for 0x80) times w[l] as the float route
// does, truncated and added in int32 lanes.
struct FloatTap {
    int32_t at;
    uint8_t shuffle[16];
    float w[16];
};

struct RowProgram {
    int groups;  // of 2 * half destination bytes (floats: of `step`)
    int half;  // lanes used in each half: 8, or 6 (two three-byte pixels)
    int outBytes;  // destination bytes of a row
    int *taps;  // per group: number of taps
    RowTap **code;  // per group: its taps
    RowTap *block;
    // The float program (AVX-512) instead: groups of `step` destination
    // bytes (16, or 12 for three-byte pixels).
    int step = 0;
    FloatTap **fcode = nullptr;
    FloatTap *fblock = nullptr;
};

void releaseRowProgram(RowProgram *p) noexcept
{
    if (!p) return;
    kxFree(p->block);
    kxFree(p->code);
    kxFree(p->taps);
    kxFree(p->fcode);
    kxFree(p->fblock);
    kxFree(p);
}

bool rowProgramInts(const RowProgram *p) noexcept { return p && !p->fcode; }

namespace {

// The row pass as byte shuffles and float lanes, for AVX-512 processors and
// tables whose taps for `step` neighbouring destination bytes lie within
// 16 source bytes (enlargements and slight reductions): no transposes.
RowProgram *buildFloatRowProgram(const LinePlan *plan, int srcW, int ch) noexcept
{
    const ContributionTable *t = plan->table;
    const int64_t rowBytes = int64_t(srcW) * ch, outBytes = int64_t(t->count) * ch;
    if (rowBytes < 16 || outBytes > (int64_t(1) << 28)) return nullptr;
    const int step = ch == 3 ? 12 : 16;
    const int groups = int((outBytes + step - 1) / step);
    auto *p = static_cast<RowProgram *>(kxAlloc(sizeof(RowProgram)));
    if (!p) return nullptr;
    *p = {groups, 0, int(outBytes), static_cast<int *>(kxAlloc(sizeof(int) * size_t(groups))), nullptr, nullptr};
    p->step = step;
    p->fcode = static_cast<FloatTap **>(kxAlloc(sizeof(FloatTap *) * size_t(groups)));
    if (!p->taps || !p->fcode) {
        releaseRowProgram(p);
        return nullptr;
    }
    int64_t totalTaps = 0;
    for (int g = 0; g < groups; ++g) {
        int taps = 0;
        for (int l = 0; l < step; ++l) {
            const int64_t j = int64_t(g) * step + l;
            if (j >= outBytes) break;
            const int u = int(j / ch);
            taps = std::max(taps, plan->hi[u] - plan->lo[u] + 1);
        }
        p->taps[g] = taps;
        totalTaps += taps;
        if (totalTaps > (int64_t(1) << 24)) {  // (a reduction: the window test below would fail anyway)
            releaseRowProgram(p);
            return nullptr;
        }
    }
    p->fblock = static_cast<FloatTap *>(kxAlloc(sizeof(FloatTap) * size_t(std::max<int64_t>(totalTaps, 1))));
    if (!p->fblock) {
        releaseRowProgram(p);
        return nullptr;
    }
    FloatTap *next = p->fblock;
    for (int g = 0; g < groups; ++g) {
        p->fcode[g] = next;
        for (int k = 0; k < p->taps[g]; ++k, ++next) {
            int64_t idx[16], lowest = INT64_MAX, highest = -1;
            float w[16];
            for (int l = 0; l < 16; ++l) {
                const int64_t j = int64_t(g) * step + l;
                idx[l] = -1;
                w[l] = 0.0f;
                if (l >= step || j >= outBytes) continue;
                const int u = int(j / ch), c = int(j % ch);
                const int lo = plan->lo[u], hi = plan->hi[u];
                if (lo + k > hi) continue;
                const ContributionEntry &e = t->entries[u];
                w[l] = e.weights[lo + k - e.first];
                if (w[l] == 0.0f) continue;  // adds 0 (as 0 * weight does)
                idx[l] = int64_t(lo + k) * ch + c;
                lowest = std::min(lowest, idx[l]);
                highest = std::max(highest, idx[l]);
            }
            const int64_t start = highest < 0 ? 0 : std::min(lowest, rowBytes - 16);
            if (highest >= 0 && highest - start >= 16) {
                releaseRowProgram(p);
                return nullptr;
            }
            next->at = int32_t(start);
            for (int l = 0; l < 16; ++l) {
                next->shuffle[l] = idx[l] < 0 ? 0x80 : uint8_t(idx[l] - start);
                next->w[l] = idx[l] < 0 ? 0.0f : w[l];
            }
        }
    }
    return p;
}

}  // namespace

static RowProgram *buildIntRowProgram(const LinePlan *plan, int srcW, int ch) noexcept;

RowProgram *buildRowProgram(const LinePlan *plan, int srcW, int ch, isa::Level level) noexcept
{
    if (level < isa::Level::Avx2 || isa::active() < isa::Level::Avx2) return nullptr;
    const bool floats = level >= isa::Level::Avx512 && isa::active() >= isa::Level::Avx512;
    if (!plan->ints) return floats ? buildFloatRowProgram(plan, srcW, ch) : nullptr;
    RowProgram *ints = buildIntRowProgram(plan, srcW, ch);
    return ints || !floats ? ints : buildFloatRowProgram(plan, srcW, ch);
}

static RowProgram *buildIntRowProgram(const LinePlan *plan, int srcW, int ch) noexcept
{
    const ContributionTable *t = plan->table;
    const int64_t rowBytes = int64_t(srcW) * ch, outBytes = int64_t(t->count) * ch;
    if (rowBytes < 16 || outBytes > (int64_t(1) << 28)) return nullptr;
    for (int u = 0; u < t->count; ++u)
        if (plan->route[u] == LinePlan::kFloats) return nullptr;
    // Eight neighbouring bytes of three-byte pixels may reach into four
    // pixels, and their taps past 16 source bytes: such pictures use six.
    const int half = ch == 3 ? 6 : 8, step = 2 * half;
    const int groups = int((outBytes + step - 1) / step);
    // Trimmed windows: zero weights at either end add nothing.
    int64_t totalTaps = 0;
    auto trimmed = [&](int u, int &lo, int &hi) {
        lo = plan->lo[u];
        hi = plan->hi[u];
    };
    auto *p = static_cast<RowProgram *>(kxAlloc(sizeof(RowProgram)));
    if (!p) return nullptr;
    *p = {groups, half, int(outBytes), static_cast<int *>(kxAlloc(sizeof(int) * size_t(groups))),
          static_cast<RowTap **>(kxAlloc(sizeof(RowTap *) * size_t(groups))), nullptr};
    if (!p->taps || !p->code) {
        releaseRowProgram(p);
        return nullptr;
    }
    for (int g = 0; g < groups; ++g) {
        int taps = 0;
        for (int l = 0; l < step; ++l) {
            const int64_t j = int64_t(g) * step + l;
            if (j >= outBytes) break;
            int lo, hi;
            trimmed(int(j / ch), lo, hi);
            taps = std::max(taps, hi - lo + 1);
        }
        p->taps[g] = taps;
        totalTaps += taps;
    }
    p->block = static_cast<RowTap *>(kxAlloc(sizeof(RowTap) * size_t(std::max<int64_t>(totalTaps, 1))));
    if (!p->block) {
        releaseRowProgram(p);
        return nullptr;
    }
    RowTap *next = p->block;
    for (int g = 0; g < groups; ++g) {
        p->code[g] = next;
        for (int k = 0; k < p->taps[g]; ++k, ++next) {
            RowTap &tap = *next;
            tap.scaled = false;
            int64_t idx[16];
            TermCode codes[16];
            int64_t lowest[2] = {INT64_MAX, INT64_MAX}, highest[2] = {-1, -1};
            for (int l = 0; l < 16; ++l) {
                // Lane m of half h is byte h * half + m of the group.
                const int h = l / 8, m = l % 8;
                const int64_t j = int64_t(g) * step + h * half + m;
                idx[l] = -1;
                codes[l] = {0, 0, TermCode::kZero};
                if (m >= half || j >= outBytes) continue;
                const int u = int(j / ch), c = int(j % ch);
                int lo, hi;
                trimmed(u, lo, hi);
                if (lo + k > hi) continue;
                codes[l] = plan->codes[int64_t(u) * t->windowSize + (lo + k - t->entries[u].first)];
                if (codes[l].kind == TermCode::kMul && codes[l].shift != 0) {
                    releaseRowProgram(p);
                    return nullptr;
                }
                if (codes[l].kind == TermCode::kZero) continue;
                idx[l] = int64_t(lo + k) * ch + c;
                lowest[l / 8] = std::min(lowest[l / 8], idx[l]);
                highest[l / 8] = std::max(highest[l / 8], idx[l]);
            }
            for (int h = 0; h < 2; ++h) {
                // The window starts at the lowest byte it needs but never
                // runs past the row.
                const int64_t start = highest[h] < 0 ? 0 : std::min(lowest[h], rowBytes - 16);
                if (highest[h] >= 0 && highest[h] - start >= 16) {
                    releaseRowProgram(p);
                    return nullptr;
                }
                tap.at[h] = int32_t(start);
                for (int l = h * 8; l < h * 8 + 8; ++l) {
                    const int m = l - h * 8;
                    tap.shuffle[h * 16 + 2 * m] = idx[l] < 0 ? 0x80 : uint8_t(idx[l] - start);
                    tap.shuffle[h * 16 + 2 * m + 1] = 0x80;
                    tap.pre[l] = codes[l].kind == TermCode::kCopy ? 2 : 1;
                    tap.scaled |= tap.pre[l] != 1;
                    tap.mul[l] = idx[l] < 0 ? 0 : codes[l].mul;
                }
            }
        }
    }
    return p;
}

namespace {

// Rows r = 0..R-1 of one group (`at` is its first destination byte).
template <int R>
__attribute__((target("avx2"))) inline void runGroup(const RowProgram *p, int g, const uint8_t *src,
                                                     size_t srcPitch, uint8_t *dst, size_t dstPitch)
{
    const __m256i low = _mm256_set1_epi16(0xFF);
    // Six bytes of each half side by side.
    const __m128i squeeze = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
    __m256i acc[R];
    for (int r = 0; r < R; ++r) acc[r] = _mm256_setzero_si256();
    const RowTap *tap = p->code[g];
    for (int k = 0; k < p->taps[g]; ++k, ++tap) {
        const __m256i shuffle = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(tap->shuffle));
        const __m256i pre = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(tap->pre));
        const __m256i mul = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(tap->mul));
        for (int r = 0; r < R; ++r) {
            const uint8_t *s = src + r * srcPitch;
            const __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i *>(s + tap->at[1]),
                                                  reinterpret_cast<const __m128i *>(s + tap->at[0]));
            __m256i b = _mm256_shuffle_epi8(v, shuffle);
            if (tap->scaled) b = _mm256_mullo_epi16(b, pre);
            acc[r] = _mm256_add_epi16(acc[r], _mm256_mulhi_epu16(b, mul));
        }
    }
    const int step = 2 * p->half, at = g * step, left = p->outBytes - at;
    for (int r = 0; r < R; ++r) {
        // The sum modulo 256, as the 8-bit accumulator keeps it.
        const __m256i a = _mm256_and_si256(acc[r], low);
        __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
        if (p->half == 6) bytes = _mm_shuffle_epi8(bytes, squeeze);
        uint8_t *d = dst + r * dstPitch + at;
        if (left >= 16)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d), bytes);  // the last 16 - step bytes are rewritten next
        else {
            alignas(16) uint8_t tmp[16];
            _mm_store_si128(reinterpret_cast<__m128i *>(tmp), bytes);
            std::memcpy(d, tmp, size_t(std::min(left, step)));
        }
    }
}

}  // namespace

// The float program's rows (with the float route, below).
void runFloatRowProgram(const RowProgram *p, const uint8_t *src, size_t srcPitch, uint8_t *dst, size_t dstPitch,
                        int rows) noexcept;

__attribute__((target("avx2"))) void runRowProgram(const RowProgram *p, const uint8_t *src, size_t srcPitch,
                                                   uint8_t *dst, size_t dstPitch, int rows) noexcept
{
    if (p->fcode) {
        runFloatRowProgram(p, src, srcPitch, dst, dstPitch, rows);
        return;
    }
    // Four rows share each tap's constants.
    int y = 0;
    for (; y + 4 <= rows; y += 4)
        for (int g = 0; g < p->groups; ++g)
            runGroup<4>(p, g, src + y * srcPitch, srcPitch, dst + y * dstPitch, dstPitch);
    for (; y < rows; ++y)
        for (int g = 0; g < p->groups; ++g) runGroup<1>(p, g, src + y * srcPitch, srcPitch, dst + y * dstPitch, dstPitch);
}

}  // namespace kx::geo

// ---- the column pass in integers ---------------------------------------------

namespace kx::geo {

namespace {

inline uint8_t termOf(const TermCode &c, uint8_t b)
{
    return c.kind == TermCode::kCopy ? b : uint8_t(((uint32_t(b) * c.mul) >> 16) >> c.shift);
}

// Bytes j0..n-1 one at a time.
void intLineTail(const uint8_t *const *lines, const TermCode *codes, int taps, uint8_t *out, size_t j0, size_t n)
{
    for (size_t j = j0; j < n; ++j) {
        uint8_t acc = 0;
        for (int k = 0; k < taps; ++k) acc = uint8_t(acc + termOf(codes[k], lines[k][j]));
        out[j] = acc;
    }
}

void intLineSse2(const uint8_t *const *lines, const TermCode *codes, int taps, uint8_t *out, size_t n)
{
    const __m128i low = _mm_set1_epi16(0xFF), zero = _mm_setzero_si128();
    size_t j = 0;
    for (size_t next = 0; n >= 16 && j < n; j = next) {
        if (j + 16 > n) j = n - 16;  // the last block ends at n, over bytes already made (made again alike)
        next = j + 16;
        __m128i a0 = zero, a1 = zero;
        for (int k = 0; k < taps; ++k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(lines[k] + j));
            __m128i b0 = _mm_unpacklo_epi8(v, zero), b1 = _mm_unpackhi_epi8(v, zero);
            if (codes[k].kind == TermCode::kMul) {
                const __m128i m = _mm_set1_epi16(short(codes[k].mul));
                const __m128i sh = _mm_cvtsi32_si128(codes[k].shift);
                b0 = _mm_srl_epi16(_mm_mulhi_epu16(b0, m), sh);
                b1 = _mm_srl_epi16(_mm_mulhi_epu16(b1, m), sh);
            }
            a0 = _mm_add_epi16(a0, b0);
            a1 = _mm_add_epi16(a1, b1);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j),
                         _mm_packus_epi16(_mm_and_si128(a0, low), _mm_and_si128(a1, low)));
    }
    intLineTail(lines, codes, taps, out, j, n);
}

__attribute__((target("avx2"))) void intLineAvx2(const uint8_t *const *lines, const TermCode *codes, int taps,
                                                 uint8_t *out, size_t n)
{
    const __m256i low = _mm256_set1_epi16(0xFF);
    size_t j = 0;
    for (size_t next = 0; n >= 32 && j < n; j = next) {
        if (j + 32 > n) j = n - 32;  // the last block ends at n, over bytes already made (made again alike)
        next = j + 32;
        __m256i a0 = _mm256_setzero_si256(), a1 = _mm256_setzero_si256();
        for (int k = 0; k < taps; ++k) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lines[k] + j));
            __m256i b0 = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(v));
            __m256i b1 = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1));
            if (codes[k].kind == TermCode::kMul) {
                const __m256i m = _mm256_set1_epi16(short(codes[k].mul));
                b0 = _mm256_mulhi_epu16(b0, m);
                b1 = _mm256_mulhi_epu16(b1, m);
                if (codes[k].shift) {
                    const __m128i sh = _mm_cvtsi32_si128(codes[k].shift);
                    b0 = _mm256_srl_epi16(b0, sh);
                    b1 = _mm256_srl_epi16(b1, sh);
                }
            }
            a0 = _mm256_add_epi16(a0, b0);
            a1 = _mm256_add_epi16(a1, b1);
        }
        const __m256i packed = _mm256_packus_epi16(_mm256_and_si256(a0, low), _mm256_and_si256(a1, low));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + j), _mm256_permute4x64_epi64(packed, 0xD8));
    }
    if (j < n) intLineSse2(lines, codes, taps, out, n);  // fewer than 32 bytes
}

}  // namespace

void integerLine(const uint8_t *const *lines, const TermCode *codes, int taps, uint8_t *out, size_t n,
                 bool avx2) noexcept
{
    if (avx2)
        intLineAvx2(lines, codes, taps, out, n);
    else
        intLineSse2(lines, codes, taps, out, n);
}

}  // namespace kx::geo

// ---- the float route ---------------------------------------------------------
//
// Each term is the byte converted to float, multiplied by the float weight
// and truncated towards zero: cvtdq2ps, mulps and cvttps2dq lane by lane are
// the scalar conversions and product of the Part (IEEE single precision,
// round to nearest, then truncation), so every level gives the bytes the
// plain loop gives.  The int32 sums keep their low byte (modulo 256).

namespace kx::geo {

namespace {

// Bytes j0..n-1 one at a time.
inline void floatLineTail(const uint8_t *first, size_t stride, const float *w, int taps, uint8_t *out, size_t j0,
                          size_t n)
{
    for (size_t j = j0; j < n; ++j) {
        int32_t a = 0;
        const uint8_t *s = first + j;
        for (int k = 0; k < taps; ++k, s += stride) a += int32_t(float(*s) * w[k]);
        out[j] = uint8_t(a);
    }
}

void floatLineSse2(const uint8_t *first, size_t stride, const float *w, int taps, uint8_t *out, size_t n)
{
    const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi32(0xFF);
    size_t j = 0;
    for (size_t next = 0; n >= 16 && j < n; j = next) {
        if (j + 16 > n) j = n - 16;  // the last block ends at n, over bytes already made (made again alike)
        next = j + 16;
        __m128i a0 = zero, a1 = zero, a2 = zero, a3 = zero;
        const uint8_t *s = first + j;
        for (int k = 0; k < taps; ++k, s += stride) {
            const __m128 wk = _mm_set1_ps(w[k]);
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
            const __m128i l = _mm_unpacklo_epi8(v, zero), h = _mm_unpackhi_epi8(v, zero);
            a0 = _mm_add_epi32(a0, _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(l, zero)), wk)));
            a1 = _mm_add_epi32(a1, _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(l, zero)), wk)));
            a2 = _mm_add_epi32(a2, _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(h, zero)), wk)));
            a3 = _mm_add_epi32(a3, _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(h, zero)), wk)));
        }
        const __m128i p01 = _mm_packs_epi32(_mm_and_si128(a0, low), _mm_and_si128(a1, low));
        const __m128i p23 = _mm_packs_epi32(_mm_and_si128(a2, low), _mm_and_si128(a3, low));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j), _mm_packus_epi16(p01, p23));
    }
    floatLineTail(first, stride, w, taps, out, j, n);
}

KX_TARGET(KX_ISA_AVX2) inline __m256i floatTerms8(const uint8_t *s, __m256 wk)
{
    const __m256i b = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(s)));
    return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(b), wk));
}

// g++ 12 warns about the deliberately undefined source operand inside its
// own AVX-512 conversion intrinsics (GCC bug 105593); nothing of ours.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
KX_TARGET(KX_ISA_AVX512) inline __m512i floatTerms16(__m128i v, __m512 wk)
{
    return _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(v)), wk));
}

KX_TARGET(KX_ISA_AVX2) void floatLineAvx2(const uint8_t *first, size_t stride, const float *w, int taps, uint8_t *out,
                                          size_t n)
{
    const __m256i low = _mm256_set1_epi32(0xFF);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const auto term = floatTerms8;
    size_t j = 0;
    for (size_t next = 0; n >= 32 && j < n; j = next) {
        if (j + 32 > n) j = n - 32;  // the last block ends at n, over bytes already made (made again alike)
        next = j + 32;
        __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0;
        const uint8_t *s = first + j;
        for (int k = 0; k < taps; ++k, s += stride) {
            const __m256 wk = _mm256_set1_ps(w[k]);
            a0 = _mm256_add_epi32(a0, term(s, wk));
            a1 = _mm256_add_epi32(a1, term(s + 8, wk));
            a2 = _mm256_add_epi32(a2, term(s + 16, wk));
            a3 = _mm256_add_epi32(a3, term(s + 24, wk));
        }
        const __m256i p01 = _mm256_packus_epi32(_mm256_and_si256(a0, low), _mm256_and_si256(a1, low));
        const __m256i p23 = _mm256_packus_epi32(_mm256_and_si256(a2, low), _mm256_and_si256(a3, low));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(p01, p23), order);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + j), bytes);
    }
    if (j < n) floatLineSse2(first, stride, w, taps, out, n);  // fewer than 32 bytes
}

KX_TARGET(KX_ISA_AVX512) void floatLineAvx512(const uint8_t *first, size_t stride, const float *w, int taps,
                                              uint8_t *out, size_t n)
{
    const auto term = floatTerms16;
    const auto at = [](const uint8_t *s) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(s)); };
    size_t j = 0;
    for (; j + 64 <= n; j += 64) {
        __m512i a0 = _mm512_setzero_si512(), a1 = a0, a2 = a0, a3 = a0;
        const uint8_t *s = first + j;
        for (int k = 0; k < taps; ++k, s += stride) {
            const __m512 wk = _mm512_set1_ps(w[k]);
            a0 = _mm512_add_epi32(a0, term(at(s), wk));
            a1 = _mm512_add_epi32(a1, term(at(s + 16), wk));
            a2 = _mm512_add_epi32(a2, term(at(s + 32), wk));
            a3 = _mm512_add_epi32(a3, term(at(s + 48), wk));
        }
        // vpmovdb keeps the low byte of each sum: modulo 256.
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j), _mm512_cvtepi32_epi8(a0));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j + 16), _mm512_cvtepi32_epi8(a1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j + 32), _mm512_cvtepi32_epi8(a2));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j + 48), _mm512_cvtepi32_epi8(a3));
    }
    for (; j < n; j += 16) {
        // The last bytes through a mask: lanes past n are neither read nor written.
        const __mmask16 m = n - j >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (n - j)) - 1);
        __m512i a = _mm512_setzero_si512();
        const uint8_t *s = first + j;
        for (int k = 0; k < taps; ++k, s += stride) a = _mm512_add_epi32(a, term(_mm_maskz_loadu_epi8(m, s), _mm512_set1_ps(w[k])));
        _mm_mask_storeu_epi8(out + j, m, _mm512_cvtepi32_epi8(a));
    }
}

// Rows r = 0..R-1 of one group of the float program.
template <int R>
KX_TARGET(KX_ISA_AVX512) inline void runFloatGroup(const RowProgram *p, int g, const uint8_t *src, size_t srcPitch,
                                                   uint8_t *dst, size_t dstPitch)
{
    __m512i acc[R];
    for (int r = 0; r < R; ++r) acc[r] = _mm512_setzero_si512();
    const FloatTap *tap = p->fcode[g];
    for (int k = 0; k < p->taps[g]; ++k, ++tap) {
        const __m128i shuffle = _mm_loadu_si128(reinterpret_cast<const __m128i *>(tap->shuffle));
        const __m512 w = _mm512_loadu_ps(tap->w);
        for (int r = 0; r < R; ++r) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + r * srcPitch + tap->at));
            acc[r] = _mm512_add_epi32(acc[r], floatTerms16(_mm_shuffle_epi8(v, shuffle), w));
        }
    }
    const int at = g * p->step, left = std::min(p->outBytes - at, p->step);
    const __mmask16 m = left >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << left) - 1);
    for (int r = 0; r < R; ++r) _mm_mask_storeu_epi8(dst + r * dstPitch + at, m, _mm512_maskz_cvtepi32_epi8(m, acc[r]));
}

}  // namespace

KX_TARGET(KX_ISA_AVX512) void runFloatRowProgram(const RowProgram *p, const uint8_t *src, size_t srcPitch,
                                                 uint8_t *dst, size_t dstPitch, int rows) noexcept
{
    int y = 0;
    for (; y + 4 <= rows; y += 4)
        for (int g = 0; g < p->groups; ++g)
            runFloatGroup<4>(p, g, src + y * srcPitch, srcPitch, dst + y * dstPitch, dstPitch);
    for (; y < rows; ++y)
        for (int g = 0; g < p->groups; ++g)
            runFloatGroup<1>(p, g, src + y * srcPitch, srcPitch, dst + y * dstPitch, dstPitch);
}

namespace {

#pragma GCC diagnostic pop

constexpr isa::Table<FloatLineFn> kFloatLines{{floatLineSse2, floatLineAvx2, floatLineAvx512}};

}  // namespace

FloatLineFn floatLineKernel(isa::Level level) noexcept { return kFloatLines.pick(level); }

}  // namespace kx::geo
