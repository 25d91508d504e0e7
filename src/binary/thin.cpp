// Thinning of binary images.
//
//   kxThinning   KIT_BIN; other types unchanged
//   kxSkeleton   KIT_BIN (method 0 level maxima, 1 template thinning);
//                other types and methods unchanged
#include <algorithm>
#include <array>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "frame/frame.hpp"

using namespace kx;

namespace {

// The eight neighbours of a pixel as one byte, a bit set for a non-zero
// neighbour byte: NW, N, NE, W, E, SW, S, SE from bit 0 up.
enum : unsigned { kNW = 1, kN = 2, kNE = 4, kW = 8, kE = 16, kSW = 32, kS = 64, kSE = 128 };

// The eight templates in the order they are tried: a pixel goes when all
// neighbours of `clear` are unset and all of `set` are set; neighbours not
// named are ignored.  (Which one matches first does not matter: the pixel
// goes on the first match and later ones see it gone.)
struct Template {
    unsigned clear, set;
};
constexpr Template kTemplates[] = {
    {kNW | kN | kNE, kSW | kS | kSE},  // top edge
    {kSW | kS | kSE, kNW | kN | kNE},  // bottom edge
    {kNW | kW | kSW, kNE | kE | kSE},  // left edge
    {kNE | kE | kSE, kNW | kW | kSW},  // right edge
    {kN | kNE | kE, kW | kS},          // top-right corner
    {kNW | kN | kW, kE | kS},          // top-left corner
    {kSW | kW | kS, kE | kN},          // bottom-left corner
    {kSE | kE | kS, kW | kN},          // bottom-right corner
};

// Whether a template deletes a pixel with these neighbours.
constexpr bool deletes(unsigned code)
{
    for (const Template &t : kTemplates)
        if (!(code & t.clear) && (code & t.set) == t.set) return true;
    return false;
}

constexpr std::array<bool, 256> kDeletes = [] {
    std::array<bool, 256> t{};
    for (unsigned c = 0; c < 256; ++c) t[c] = deletes(c);
    return t;
}();

// The neighbourhood byte of the pixel at c in rows `s` bytes apart.
inline unsigned neighbours(const uint8_t *c, ptrdiff_t s)
{
    return unsigned(c[-s - 1] != 0) | unsigned(c[-s] != 0) << 1 | unsigned(c[-s + 1] != 0) << 2 |
           unsigned(c[-1] != 0) << 3 | unsigned(c[1] != 0) << 4 | unsigned(c[s - 1] != 0) << 5 |
           unsigned(c[s] != 0) << 6 | unsigned(c[s + 1] != 0) << 7;
}

// Whether the pixel at c goes: its byte is 1 and a template matches.
inline bool goes(const uint8_t *c, ptrdiff_t s) { return *c == 1 && kDeletes[neighbours(c, s)]; }

// Deletes the pixel at c when it goes.
inline bool tryDelete(uint8_t *c, ptrdiff_t s)
{
    if (!goes(c, s)) return false;
    *c = 0;
    return true;
}

// One raster pass of template thinning over the interior.  Deletions are
// written at once, so later pixels of the same pass see them; this order is
// what decides the shape of the result.  True when a pixel was deleted.
bool thinningPass(Image *im) noexcept
{
    const ptrdiff_t s = im->pitch;
    bool deleted = false;
    for (int y = 1; y < im->height - 1; ++y) {
        uint8_t *p = row(im, y);
        for (int x = 1; x < im->width - 1; ++x) deleted |= tryDelete(p + x, s);
    }
    return deleted;
}

// ---- thinning on bit planes -----------------------------------------------
//
// The image as two bit planes, 64 pixels a word: `set` has a bit for every
// non-zero byte, `one` for every interior byte equal to 1 (the only pixels
// that can go).  A pass walks the rows in order and each row's words from
// the left, updating both planes as it deletes, so every test sees what
// the byte-wise raster pass sees: this pass's values above and to the
// left, the last pass's to the right and below.  Within a word all tests
// are made at once from the neighbour planes, once for W unset and once
// for W set; where the two agree the answer stands, and only the pixels
// where W decides are settled one by one from the left, W being the
// pixel before after its own fate.  Words without a 1 are skipped.

struct Planes {
    Scratch<uint64_t> set, one;
    size_t words;  // per row
    Planes(int w, int h)
        : set(size_t(h) * ((size_t(w) + 63) / 64)), one(size_t(h) * ((size_t(w) + 63) / 64)),
          words((size_t(w) + 63) / 64)
    {
    }
    explicit operator bool() const { return set && one; }
    uint64_t *setRow(int y) const { return set.get() + size_t(y) * words; }
    uint64_t *oneRow(int y) const { return one.get() + size_t(y) * words; }
};

// Bits of the bytes of p[0 .. n) (n <= 64) that are non-zero and that equal 1.
inline void packBits(const uint8_t *p, int n, uint64_t &nonZero, uint64_t &isOne)
{
    uint64_t z = 0, o = 0;
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi8(1);
    for (; x + 16 <= n; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + x));
        z |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)))) << x;
        o |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, one)))) << x;
    }
#endif
    for (; x < n; ++x) {
        z |= uint64_t(p[x] == 0) << x;
        o |= uint64_t(p[x] == 1) << x;
    }
    const uint64_t inRow = n == 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
    nonZero = ~z & inRow;
    isOne = o;
}

void buildPlanes(const Image *im, const Planes &pl) noexcept
{
    const int w = im->width, h = im->height;
    for (int y = 0; y < h; ++y) {
        const uint8_t *p = row(im, y);
        uint64_t *set = pl.setRow(y), *one = pl.oneRow(y);
        for (size_t j = 0; j < pl.words; ++j) {
            const int x0 = int(j * 64);
            packBits(p + x0, std::min(64, w - x0), set[j], one[j]);
        }
        // Only interior pixels can go.
        if (y == 0 || y == h - 1) {
            std::fill(one, one + pl.words, 0);
            continue;
        }
        one[0] &= ~uint64_t(1);
        one[size_t(w - 1) / 64] &= ~(uint64_t(1) << ((w - 1) % 64));
    }
}

// The template matches for the 64 pixels of word j of a row, given the
// rows above (up), at (at) and below (dn) in the set plane: `ifClear` the
// pixels a template deletes when W is unset, `ifSet` when W is set.
inline void matchWord(const uint64_t *up, const uint64_t *at, const uint64_t *dn, size_t j, size_t words,
                      uint64_t &ifClear, uint64_t &ifSet)
{
    // Bit x of left(r) is pixel x - 1 of r, of right(r) pixel x + 1.
    auto left = [j](const uint64_t *r) { return r[j] << 1 | (j ? r[j - 1] >> 63 : 0); };
    auto right = [j, words](const uint64_t *r) { return r[j] >> 1 | (j + 1 < words ? r[j + 1] << 63 : 0); };
    // Indexed by the neighbour's bit in the code (W, bit 3, is left open).
    const uint64_t nb[8] = {left(up), up[j], right(up), 0, right(at), left(dn), dn[j], right(dn)};
    ifClear = ifSet = 0;
#pragma GCC unroll 8
    for (const Template &t : kTemplates) {
        uint64_t m = ~uint64_t(0);
#pragma GCC unroll 8
        for (unsigned k = 0; k < 8; ++k) {
            if (k == 3) continue;
            if (t.clear >> k & 1) m &= ~nb[k];
            if (t.set >> k & 1) m &= nb[k];
        }
        if (!(t.set & kW)) ifClear |= m;
        if (!(t.clear & kW)) ifSet |= m;
    }
}

// One pass over the planes, deleting in the image as well.  True when a
// pixel was deleted.
bool planePass(Image *im, const Planes &pl) noexcept
{
    const int h = im->height;
    const size_t words = pl.words;
    bool deleted = false;
    for (int y = 1; y < h - 1; ++y) {
        const uint64_t *up = pl.setRow(y - 1), *dn = pl.setRow(y + 1);
        uint64_t *at = pl.setRow(y), *one = pl.oneRow(y);
        uint8_t *p = row(im, y);
        for (size_t j = 0; j < words; ++j) {
            const uint64_t o = one[j];
            if (!o) continue;
            uint64_t ifClear, ifSet;
            matchWord(up, at, dn, j, words, ifClear, ifSet);
            ifClear &= o, ifSet &= o;
            const uint64_t c = at[j];
            uint64_t gone = ifClear & ifSet;
            // W of bit 0 is the last pixel of the word before, already
            // settled; of bit x > 0, pixel x - 1 of this word.
            const uint64_t carry = j ? at[j - 1] >> 63 : 0;
            for (uint64_t open = ifClear ^ ifSet; open; open &= open - 1) {
                const int x = __builtin_ctzll(open);
                const uint64_t wSet = x ? ((c & ~gone) >> (x - 1)) & 1 : carry;
                gone |= ((wSet ? ifSet : ifClear) >> x & 1) << x;
            }
            if (!gone) continue;
            at[j] = c & ~gone;
            one[j] = o & ~gone;
            deleted = true;
            for (uint64_t g = gone; g; g &= g - 1) p[j * 64 + size_t(__builtin_ctzll(g))] = 0;
        }
    }
    return deleted;
}

// False (image untouched) when the planes cannot be had.
bool thinByPlanes(Image *im) noexcept
{
    if (im->width < 3 || im->height < 3) return true;  // no interior: nothing to delete
    const Planes pl(im->width, im->height);
    if (!pl) return false;
    buildPlanes(im, pl);
    while (planePass(im, pl)) {
    }
    return true;
}

// On bit planes; byte by byte when the planes cannot be had.
void thin(Image *im) noexcept
{
    if (thinByPlanes(im)) return;
    while (thinningPass(im)) {
    }
}

// Skeleton by local maxima of a level map that grows inward one level per
// pass.  False (image untouched) when the map cannot be allocated.
bool levelSkeleton(Image *im) noexcept
{
    const int w = im->width, h = im->height;
    Scratch<int32_t> level(size_t(w) * size_t(h));
    if (!level) return false;
    for (int y = 0; y < h; ++y) {
        const uint8_t *p = row(im, y);
        int32_t *l = level.get() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) l[x] = p[x];
    }
    // A pixel whose four side neighbours all exceed k rises to k + 2, its
    // own value untested.  Updates are in place, so N and W already hold
    // this pass's values.  Stops after the first pass that sets nothing;
    // the fixed frame bounds the number of passes by the image size.
    for (int32_t k = 0, last = 1; last > k; ++k) {
        for (int y = 1; y < h - 1; ++y) {
            int32_t *l = level.get() + size_t(y) * size_t(w);
            const int32_t *up = l - w, *dn = l + w;
            for (int x = 1; x < w - 1; ++x) {
                if (up[x] > k && l[x - 1] > k && l[x + 1] > k && dn[x] > k) {
                    l[x] = k + 2;
                    last = k + 2;
                }
            }
        }
    }
    const size_t rb = size_t(w);
    std::memset(row(im, 0), 0, rb);
    std::memset(row(im, h - 1), 0, rb);
    for (int y = 1; y < h - 1; ++y) {
        uint8_t *p = row(im, y);
        p[0] = 0;
        p[w - 1] = 0;
        const int32_t *l = level.get() + size_t(y) * size_t(w);
        const int32_t *up = l - w, *dn = l + w;
        for (int x = 1; x < w - 1; ++x) {
            const int32_t v = l[x];
            p[x] = !(up[x] > v || l[x - 1] > v || l[x + 1] > v || dn[x] > v);
        }
    }
    return true;
}

}  // namespace

extern "C" {

void kxThinning(Image *image)
{
    if (!image) return kx::failed("image");
    if (!typeOk(image) || image->imageType != KIT_BIN) return;
    thin(image);
}

Image *kxSkeleton(Image *image, int method)
{
    if (!image) return kx::failed("image", image);
    if (!typeOk(image) || image->imageType != KIT_BIN) return image;
    if (method == 0)
        levelSkeleton(image);
    else if (method == 1)
        thin(image);
    return image;
}

}  // extern "C"
