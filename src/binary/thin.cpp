// Thinning of binary images.
//
//   kxThinning   KIT_BIN; other types unchanged
//   kxSkeleton   KIT_BIN (method 0 level maxima, 1 template thinning);
//                other types and methods unchanged
#include <array>

#include "frame/frame.hpp"

using namespace kx;

namespace {

// The eight neighbours of a pixel as one byte, a bit set for a non-zero
// neighbour byte: NW, N, NE, W, E, SW, S, SE from bit 0 up.
enum : unsigned { kNW = 1, kN = 2, kNE = 4, kW = 8, kE = 16, kSW = 32, kS = 64, kSE = 128 };

// Whether one of the eight templates deletes a pixel with these neighbours:
// all of `clear` unset and all of `set` set, neighbours not named ignored.
constexpr bool deletes(unsigned code)
{
    struct Template {
        unsigned clear, set;
    };
    constexpr Template templates[] = {
        {kNW | kN | kNE, kSW | kS | kSE},  // top edge
        {kSW | kS | kSE, kNW | kN | kNE},  // bottom edge
        {kNW | kW | kSW, kNE | kE | kSE},  // left edge
        {kNE | kE | kSE, kNW | kW | kSW},  // right edge
        {kN | kNE | kE, kW | kS},          // top-right corner
        {kNW | kN | kW, kE | kS},          // top-left corner
        {kSW | kW | kS, kE | kN},          // bottom-left corner
        {kSE | kE | kS, kW | kN},          // bottom-right corner
    };
    for (const Template &t : templates)
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

constexpr uint64_t kBytes = 0x0101010101010101u;

// Eight bytes at p.
inline uint64_t word(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The high bit of every byte of v that is zero.
inline uint64_t zeroBytes(uint64_t v)
{
    const uint64_t low7 = 0x7F7F7F7F7F7F7F7Fu;
    return ~(((v & low7) + low7) | v | low7);
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

// Template thinning that after the first pass tests only the pixels whose
// outcome can still change.  A pixel tested without a match is tested with
// the same neighbours in the next pass, and so again fails, unless one of
// its neighbours is deleted in between: a neighbour after it in raster
// order (E, SW, S, SE) later in the same pass, or one before it (NW, N,
// NE, W) earlier in the next pass.  So each deletion marks its neighbours
// before it for the next pass and those after it for the rest of this
// one, and a pass visits its marked pixels in raster order: every test is
// made with the neighbours the full pass would show, and the passes delete
// the same pixels.  The marks are two bits per pixel, one for each of two
// consecutive passes, and a row flag of the same bits lets a pass skip
// unmarked rows.  False (image untouched) when the marks cannot be had.
bool thinByMarks(Image *im) noexcept
{
    const int w = im->width, h = im->height;
    if (w < 3 || h < 3) return true;  // no interior: nothing to delete
    const ptrdiff_t s = im->pitch;
    const ptrdiff_t mw = w;
    Scratch<uint8_t> marks(size_t(w) * size_t(h)), rows{size_t(h)};
    if (!marks || !rows) return false;
    std::memset(marks.get(), 0, marks.size());
    std::memset(rows.get(), 0, rows.size());
    uint8_t *const mk = marks.get(), *const rw = rows.get();
    // Tests the interior pixel (x, y) and, when it goes, deletes it and
    // marks its neighbours: those before it with `again` (for the next
    // pass), those below it with `later` (for this one); the caller takes
    // care of E, the next pixel it walks.  Marks on the frame are never
    // read.
    auto visit = [s, mw, mk, rw](uint8_t *c, int x, int y, uint8_t later, uint8_t again) -> bool {
        if (!goes(c, s)) return false;
        *c = 0;
        uint8_t *m = mk + ptrdiff_t(y) * mw + x;
        m[-mw - 1] |= again, m[-mw] |= again, m[-mw + 1] |= again, m[-1] |= again;
        m[mw - 1] |= later, m[mw] |= later, m[mw + 1] |= later;
        rw[y - 1] |= again, rw[y] |= again, rw[y + 1] |= later;
        return true;
    };

    // The first pass: only bytes equal to 1 can go, and deleting one
    // changes no other byte of its word, so each word's 1 bytes are found
    // once and visited in order.  It visits every pixel, so it marks only
    // for the next pass.
    bool deleted = false;
    for (int y = 1; y < h - 1; ++y) {
        uint8_t *p = row(im, y);
        int x = 1;
        for (; x + 8 <= w - 1; x += 8) {
            for (uint64_t ones = zeroBytes(word(p + x) ^ kBytes); ones; ones &= ones - 1) {
                const int i = x + (__builtin_ctzll(ones) >> 3);
                deleted |= visit(p + i, i, y, 0, 1);
            }
        }
        for (; x < w - 1; ++x) deleted |= visit(p + x, x, y, 0, 1);
    }
    for (uint8_t now = 1, next = 2; deleted; std::swap(now, next)) {
        deleted = false;
        const uint64_t mine = kBytes * now;
        for (int y = 1; y < h - 1; ++y) {
            if (!(rw[y] & now)) continue;
            rw[y] &= uint8_t(~now);
            uint8_t *p = row(im, y);
            uint8_t *m = mk + ptrdiff_t(y) * mw;
            // The row's marks are read a word at a time and cleared; a
            // deletion adds the next pixel to the word in hand, or carries
            // it into the next word (never written as a mark, so a word is
            // never read right after byte writes into it).
            bool carry = false;
            int x = 1;
            for (; x + 8 <= w - 1; x += 8) {
                uint64_t v = word(m + x) & mine;
                if (v) {
                    const uint64_t kept = word(m + x) & ~mine;
                    std::memcpy(m + x, &kept, sizeof kept);
                }
                v |= uint64_t(carry) * now;
                carry = false;
                while (v) {
                    const int i = __builtin_ctzll(v) >> 3;
                    v &= v - 1;
                    if (visit(p + x + i, x + i, y, now, next)) {
                        deleted = true;
                        if (i < 7)
                            v |= uint64_t(now) << (8 * (i + 1));
                        else
                            carry = true;
                    }
                }
            }
            for (; x < w - 1; ++x) {
                if (!carry && !(m[x] & now)) continue;
                m[x] &= uint8_t(~now);
                carry = visit(p + x, x, y, now, next);
                deleted |= carry;
            }
        }
    }
    return true;
}

void thin(Image *im) noexcept
{
    if (thinByMarks(im)) return;
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
    KX_ASSERT(image);
    if (!typeOk(image) || image->imageType != KIT_BIN) return;
    thin(image);
}

Image *kxSkeleton(Image *image, int method)
{
    KX_ASSERT(image, image);
    if (!typeOk(image) || image->imageType != KIT_BIN) return image;
    if (method == 0)
        levelSkeleton(image);
    else if (method == 1)
        thin(image);
    return image;
}

}  // extern "C"
