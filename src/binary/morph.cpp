// Morphology with structuring elements of the mask library.
//
//   kxErode     KIT_BIN, KIT_GRAY; other types unchanged
//   kxDilate    KIT_BIN, KIT_GRAY; other types unchanged
//   kxDilateE1  KIT_BIN; other types unchanged
//
// Every operation reads from a padded copy of the input (for erosion and
// dilation a rolling one, as many rows as the element is high; for the
// centred 3 x 3 rectangle two saved rows; for other full rectangles rows
// already reduced across, in a ring when the rectangle is small and in two
// blocks of its height otherwise; for elements of long runs along their
// rows a ring of rows with their windows of 2, 4, 8, ...) and writes into
// the image, so results never feed later pixels.
#include <algorithm>
#include <bit>
#include <memory>
#include <utility>

#include "frame/frame.hpp"
#include "frame/isa.hpp"

using namespace kx;

namespace {

struct MaskDeleter {
    void operator()(Mask *m) const { kxDestroyMask(m); }
};
using OwnedMask = std::unique_ptr<Mask, MaskDeleter>;

// The element describes addressable bytes and its anchor lies on it.
bool elementOk(const Mask *m)
{
    return m->data && m->width >= 1 && m->height >= 1 && m->pitch >= m->width &&
           int64_t(m->pitch) * m->height <= INT32_MAX && m->anchorX >= 0 && m->anchorX < m->width &&
           m->anchorY >= 0 && m->anchorY < m->height;
}

// A byte copy of the image with `left`/`top` bytes of `fill` before each
// row and column and `right`/`bottom` after them.
class PaddedCopy {
public:
    PaddedCopy(const Image *im, int64_t left, int64_t top, int64_t right, int64_t bottom, uint8_t fill)
        : stride_(im->width + left + right), rows_(im->height + top + bottom),
          buf_(size_t(stride_) * size_t(rows_))
    {
        if (!buf_) return;
        std::memset(buf_.get(), fill, buf_.size());
        for (int y = 0; y < im->height; ++y)
            std::memcpy(at(left, y + top), row(im, y), size_t(im->width));
    }
    explicit operator bool() const { return bool(buf_); }
    uint8_t *at(int64_t x, int64_t y) const { return buf_.get() + y * stride_ + x; }
    int64_t stride() const { return stride_; }

private:
    int64_t stride_, rows_;
    Scratch<uint8_t> buf_;
};

template <bool Erode>
inline uint8_t pick(uint8_t a, uint8_t b)
{
    if constexpr (Erode)
        return a < b ? a : b;
    else
        return a > b ? a : b;
}

// The image rows an element reaches from one output row, each padded with
// the fill value: `anchorX` bytes before the pixels and the rest of the
// element's width after them; rows above or below the image are all fill.
// Rows are copied before the output overwrites them, so every read sees
// the input (a padded copy kept only as far as the element reaches).
class RowRing {
public:
    RowRing(const Image *im, const Mask *e, uint8_t fill)
        : im_(im), fill_(fill), left_(e->anchorX), right_(e->width - e->anchorX), top_(e->anchorY),
          rows_(e->height), stride_(size_t(im->width) + size_t(e->width)), buf_(stride_ * size_t(rows_))
    {
    }
    explicit operator bool() const { return bool(buf_); }
    size_t stride() const { return stride_; }
    // Writes into d (stride() bytes) the padded row that the element's row
    // j reads for output row y.
    void copyRow(uint8_t *d, int64_t y, int j) const
    {
        const int64_t r = y + j - top_;
        if (r < 0 || r >= im_->height) {
            std::memset(d, fill_, stride_);
            return;
        }
        std::memset(d, fill_, size_t(left_));
        std::memcpy(d + left_, row(im_, int(r)), size_t(im_->width));
        std::memset(d + left_ + im_->width, fill_, size_t(right_));
    }
    // The slot of that row: (y + j) mod the element's height.
    uint8_t *slot(int64_t y, int j) const { return buf_.get() + size_t((y + j) % rows_) * stride_; }

private:
    const Image *im_;
    uint8_t fill_;
    int64_t left_, right_, top_;
    int rows_;
    size_t stride_;
    Scratch<uint8_t> buf_;
};

bool isFullRectangle(const Mask *e)
{
    for (int j = 0; j < e->height; ++j) {
        const uint8_t *r = e->data + ptrdiff_t(j) * e->pitch;
        for (int i = 0; i < e->width; ++i)
            if (!r[i]) return false;
    }
    return true;
}

// ---- the full 3 x 3 element with its anchor in the middle --------------

// One output row of the 3 x 3 rectangle: v = the column min/max of the
// rows above (`up`, saved), at (`mid`, the image row itself) and below
// (`dn`), with v[-1] and v[w] holding the fill; then the row's pixels
// become the min/max of v at x - 1, x, x + 1.  `mid` is saved into
// `keep` before it is overwritten: it is the next row's `up`.
template <bool Erode>
[[gnu::always_inline]] inline void rect3Row(const uint8_t *__restrict up, uint8_t *mid, const uint8_t *__restrict dn,
                                            uint8_t *__restrict keep, uint8_t *__restrict v, size_t w) noexcept
{
    {
        const uint8_t *__restrict m = mid;
        for (size_t x = 0; x < w; ++x) {
            const uint8_t b = m[x];
            keep[x] = b;
            v[x] = pick<Erode>(pick<Erode>(up[x], b), dn[x]);
        }
    }
    uint8_t *__restrict out = mid;
    const uint8_t *left = v - 1;  // v[-1] holds the fill; indexing from it keeps every offset unsigned and small
    for (size_t x = 0; x < w; ++x) out[x] = pick<Erode>(pick<Erode>(left[x], left[x + 1]), left[x + 2]);
}

bool isCentredRect3(const Mask *e) { return e->width == 3 && e->height == 3 && e->anchorX == 1 && e->anchorY == 1 && isFullRectangle(e); }

// The 3 x 3 rectangle row by row in place: two saved input rows, a row of
// the fill for outside the image, and the column results with a fill byte
// at each end.  False when the rows cannot be had.
template <bool Erode>
bool morphRect3(Image *im) noexcept
{
    constexpr uint8_t fill = Erode ? 255 : 0;
    const size_t w = size_t(im->width);
    const int h = im->height;
    Scratch<uint8_t> buf(4 * w + 2);
    if (!buf) return false;
    uint8_t *saved[2] = {buf.get(), buf.get() + w};
    uint8_t *const outside = buf.get() + 2 * w, *const v = buf.get() + 3 * w + 1;
    std::memset(outside, fill, w);
    v[-1] = v[w] = fill;
    const uint8_t *up = outside;
    const auto rect3 = isa::Clones<rect3Row<Erode>>::table.pick();
    for (int y = 0; y < h; ++y) {
        uint8_t *keep = saved[y & 1];
        const uint8_t *dn = y + 1 < h ? row(im, y + 1) : outside;
        rect3(up, row(im, y), dn, keep, v, w);
        up = keep;
    }
    return true;
}

// ---- full rectangles: running min/max across each row, then down -------

// A full rectangle of set positions, cut to the rows and columns that can
// ever reach the image: a position that reads only outside the image gives
// the start value, which changes no min or max.
struct Rect {
    int kw, kh, ax, ay;
};

Rect clippedRect(const Mask *e, int w, int h)
{
    auto cut = [](int n, int anchor, int side, int &na) {
        const int lo = std::max(0, anchor - (side - 1)), hi = std::min(n - 1, anchor + (side - 1));
        na = anchor - lo;
        return hi - lo + 1;
    };
    Rect r{};
    r.kw = cut(e->width, e->anchorX, w, r.ax);
    r.kh = cut(e->height, e->anchorY, h, r.ay);
    return r;
}

template <bool Erode>
[[gnu::always_inline]] inline void pickRows(uint8_t *__restrict d, const uint8_t *__restrict a,
                                            const uint8_t *__restrict b, size_t n) noexcept
{
    for (size_t x = 0; x < n; ++x) d[x] = pick<Erode>(a[x], b[x]);
}

template <bool Erode>
[[gnu::always_inline]] inline void pickInto(uint8_t *__restrict d, const uint8_t *__restrict b, size_t n) noexcept
{
    for (size_t x = 0; x < n; ++x) d[x] = pick<Erode>(d[x], b[x]);
}

template <bool Erode>
[[gnu::always_inline]] inline void pickSpan(uint8_t *__restrict d, const uint8_t *__restrict a,
                                            const uint8_t *__restrict b, size_t n) noexcept
{
    for (size_t x = 0; x < n; ++x) d[x] = pick<Erode>(d[x], pick<Erode>(a[x], b[x]));
}

// Loops over scratch rows run to a multiple of this many bytes, so none
// ends in a byte-by-byte tail; the bytes they compute past the pixels are
// never read into a result.
constexpr size_t kChunk = 64;
constexpr size_t roundUp(size_t n) { return (n + kChunk - 1) / kChunk * kChunk; }

// A length of n or more that puts rows half a page apart: a load stalls
// behind an earlier store to an address equal to it in the low twelve bits,
// so the rows one loop reads and writes are kept far apart in them.
constexpr size_t halfPageApart(size_t n) { return (n + 4095) / 4096 * 4096 + 2048; }

// One image row reduced across: out[x] = min/max of the padded row over
// [x, x + kw), from `pad`, the row's windows of q bytes (q = 1: `ax` fill
// bytes, the pixels and the fill after them).  Windows of 2q, 4q, ... are
// built by doubling in t1/t2 over `len` bytes (len >= w + kw, the rows at
// least len + kw long and filled past the pixels), and the last two
// windows that cover kw bytes are joined (they overlap, which min and max
// allow) over `n` >= w bytes.
template <bool Erode>
[[gnu::always_inline]] inline void acrossRow(const uint8_t *pad, size_t q, uint8_t *t1, uint8_t *t2,
                                             uint8_t *__restrict out, size_t n, size_t kw, size_t len) noexcept
{
    const uint8_t *cur = pad;
    uint8_t *next = t1, *spare = t2;
    for (; 2 * q <= kw; q *= 2) {
        pickRows<Erode>(next, cur, cur + q, len);
        cur = next;
        std::swap(next, spare);
    }
    pickRows<Erode>(out, cur, cur + (kw - q), n);
}

// Small rectangles directly: each row reduced across by K shifted reads,
// then K rows down, one pass each.
constexpr size_t kSmall = 8;

template <bool Erode, size_t K>
[[gnu::always_inline]] inline void slideAcross(const uint8_t *__restrict pad, uint8_t *__restrict out, size_t n) noexcept
{
    for (size_t x = 0; x < n; ++x) {
        uint8_t v = pad[x];
        for (size_t k = 1; k < K; ++k) v = pick<Erode>(v, pad[x + k]);
        out[x] = v;
    }
}

template <bool Erode, size_t K>
[[gnu::always_inline]] inline void slideDown(uint8_t *const *ring, size_t first, uint8_t *__restrict out,
                                             size_t n) noexcept
{
    const uint8_t *r[K];
    for (size_t k = 0; k < K; ++k) r[k] = ring[(first + k) % K];
    for (size_t x = 0; x < n; ++x) {
        uint8_t v = r[0][x];
        for (size_t k = 1; k < K; ++k) v = pick<Erode>(v, r[k][x]);
        out[x] = v;
    }
}

template <bool Erode, size_t... K>
[[gnu::always_inline]] inline void slideAcrossBy(size_t k, const uint8_t *pad, uint8_t *out, size_t n,
                                                 std::index_sequence<K...>) noexcept
{
    ((k == K + 1 ? slideAcross<Erode, K + 1>(pad, out, n) : void()), ...);
}

template <bool Erode, size_t... K>
[[gnu::always_inline]] inline void slideDownBy(size_t k, uint8_t *const *ring, size_t first, uint8_t *out, size_t n,
                                               std::index_sequence<K...>) noexcept
{
    ((k == K + 1 ? slideDown<Erode, K + 1>(ring, first, out, n) : void()), ...);
}

// Both sides at most kSmall: a ring of kh across-reduced rows; output row
// y reads rows y - ay .. y - ay + kh - 1, the last of which is read just
// before row y is written and lies at or below it.
template <bool Erode>
[[gnu::always_inline]] inline bool smallRectBody(Image *im, Rect r) noexcept
{
    constexpr uint8_t fill = Erode ? 255 : 0;
    const size_t w = size_t(im->width), kw = size_t(r.kw), kh = size_t(r.kh);
    const size_t span = roundUp(w) | kChunk, padLen = roundUp(span + kw) | kChunk;
    const int64_t h = im->height;
    Scratch<uint8_t> buf(kh * span + padLen);
    if (!buf) return false;
    std::memset(buf.get(), fill, buf.size());
    uint8_t *ring[kSmall];
    for (size_t k = 0; k < kh; ++k) ring[k] = buf.get() + k * span;
    uint8_t *const pad = buf.get() + kh * span;
    auto load = [&](int64_t y) {  // input row y into its slot
        uint8_t *d = ring[size_t(y + r.ay) % kh];
        if (y < 0 || y >= h) return void(std::memset(d, fill, span));
        std::memcpy(pad + r.ax, row(im, int(y)), w);
        slideAcrossBy<Erode>(kw, pad, d, span, std::make_index_sequence<kSmall>());
    };
    for (size_t j = 0; j + 1 < kh; ++j) load(int64_t(j) - r.ay);
    for (int64_t y = 0; y < h; ++y) {
        load(y + int64_t(kh) - 1 - r.ay);
        slideDownBy<Erode>(kh, ring, size_t(y) % kh, row(im, int(y)), w, std::make_index_sequence<kSmall>());
    }
    return true;
}

// Erosion or dilation by a full rectangle in place, in blocks of kh rows
// (a van Herk / Gil-Werman pass down the columns): the window of output
// row y0 + i covers the across-reduced rows y0 + i - ay .. + kh - 1, which
// are the tail of block n (S, the min/max from row i to the block's end)
// and the head of block n + 1 (P, the running min/max of its first i
// rows).  Each output row is one step of each.  Block n + 1 is read while
// block n is written: its rows lie at least one row below the output row,
// so every read sees the input.  False when the rows cannot be had.
template <bool Erode>
[[gnu::always_inline]] inline bool rectBody(Image *im, Rect r) noexcept
{
    if (size_t(r.kw) <= kSmall && size_t(r.kh) <= kSmall) return smallRectBody<Erode>(im, r);
    constexpr uint8_t fill = Erode ? 255 : 0;
    const size_t w = size_t(im->width), kw = size_t(r.kw), kh = size_t(r.kh);
    // Scratch rows an odd number of chunks apart: rows a power of two apart
    // share cache sets.
    const size_t span = roundUp(w) | kChunk, len = roundUp(w + kw), padLen = halfPageApart(len + kw + span);
    const int h = im->height;
    Scratch<uint8_t> buf(2 * kh * span + 3 * padLen + span);
    if (!buf) return false;
    std::memset(buf.get(), fill, buf.size());
    uint8_t *blockA = buf.get(), *blockB = blockA + kh * span;
    uint8_t *const pad = blockB + kh * span, *const t1 = pad + padLen, *const t2 = t1 + padLen, *const run = t2 + padLen;
    // The across-reduced input row `y` into d, span bytes (all fill outside
    // the image).
    auto across = [&](uint8_t *d, int64_t y) {
        if (y < 0 || y >= h) return void(std::memset(d, fill, span));
        const uint8_t *src = row(im, int(y));
        if (kw == 1) {
            std::memcpy(pad + r.ax, src, w);
            return acrossRow<Erode>(pad, 1, t1, t2, d, span, kw, len);
        }
        // Windows of 2 straight from the row; outside [ax - 1, ax + w) the
        // pad keeps the fill.
        uint8_t *p = pad + r.ax;
        if (r.ax) p[-1] = src[0];
        pickRows<Erode>(p, src, src + 1, w - 1);
        p[w - 1] = src[w - 1];
        acrossRow<Erode>(pad, 2, t1, t2, d, span, kw, len);
    };
    // The block, each row turned into the min/max from it to the block's
    // end.
    auto suffixes = [&](uint8_t *block) {
        for (size_t i = kh - 1; i-- > 0;) pickInto<Erode>(block + i * span, block + (i + 1) * span, span);
    };
    for (size_t i = 0; i < kh; ++i) across(blockA + i * span, int64_t(i) - r.ay);
    suffixes(blockA);
    for (int64_t y0 = 0; y0 < h; y0 += int64_t(kh)) {
        const int64_t top = y0 + int64_t(kh) - r.ay;  // the next block's first input row
        std::memcpy(row(im, int(y0)), blockA, w);
        for (size_t i = 1; i < kh && y0 + int64_t(i) < h; ++i) {
            uint8_t *b = blockB + (i - 1) * span;
            across(b, top + int64_t(i) - 1);
            if (i == 1)
                std::memcpy(run, b, span);
            else
                pickInto<Erode>(run, b, span);
            pickRows<Erode>(row(im, int(y0 + int64_t(i))), blockA + i * span, run, w);
        }
        if (y0 + int64_t(kh) >= h) break;
        across(blockB + (kh - 1) * span, top + int64_t(kh) - 1);
        suffixes(blockB);
        std::swap(blockA, blockB);
    }
    return true;
}


// A horizontal run [i0, i1) of set positions in element row j.
struct Run {
    int j, i0, i1;
};

// ---- other elements: runs along the element's rows ----------------------

// An element taken as runs of set positions along its rows: each run
// [i0, i1) of row j reads input row y - ay + j over padded positions x + i0
// .. x + i1 - 1, which is pick(T[x + i0], T[x + i1 - p]) for the windows T
// of the largest power of two p not above the run's length.
struct RunPlan {
    const Run *runs;
    size_t count, maxLen;
    int mw, mh, ax, ay;
};

// A ring of mh input rows, each padded (ax fill bytes, the pixels, fill to
// the end) and doubled into windows of 2, 4, ... up to the longest run;
// output row y reads rows y - ay .. y - ay + mh - 1, the last of which is
// loaded just before row y is written and lies at or below it.
template <bool Erode>
[[gnu::always_inline]] inline bool runsBody(Image *im, RunPlan e) noexcept
{
    constexpr uint8_t fill = Erode ? 255 : 0;
    const size_t w = size_t(im->width), mw = size_t(e.mw), mh = size_t(e.mh);
    const size_t levels = size_t(std::bit_width(e.maxLen));  // windows of 1, 2, ... up to the longest run
    const size_t len = roundUp(w + mw), rowLen = halfPageApart(len + mw), slotLen = levels * rowLen;
    const int64_t h = im->height;
    if (mh > SIZE_MAX / slotLen) return false;
    Scratch<uint8_t> buf(mh * slotLen);
    if (!buf) return false;
    std::memset(buf.get(), fill, buf.size());
    // Input row y into its slot: windows of 1 (the padded row), 2, 4, ...
    auto load = [&](int64_t y) {
        uint8_t *d = buf.get() + size_t(y + e.ay) % mh * slotLen;
        if (y < 0 || y >= h) return void(std::memset(d, fill, slotLen));
        std::memcpy(d + e.ax, row(im, int(y)), w);
        for (size_t k = 1; k < levels; ++k)
            pickRows<Erode>(d + k * rowLen, d + (k - 1) * rowLen, d + (k - 1) * rowLen + (size_t(1) << (k - 1)), len);
    };
    for (size_t j = 0; j + 1 < mh; ++j) load(int64_t(j) - e.ay);
    for (int64_t y = 0; y < h; ++y) {
        load(y + int64_t(mh) - 1 - e.ay);
        uint8_t *out = row(im, int(y));
        for (size_t k = 0; k < e.count; ++k) {
            const Run r = e.runs[k];
            const size_t n = size_t(r.i1 - r.i0);
            const size_t level = size_t(std::bit_width(n)) - 1, p = size_t(1) << level;
            const uint8_t *t = buf.get() + size_t(y + r.j) % mh * slotLen + level * rowLen;
            if (k == 0)
                pickRows<Erode>(out, t + r.i0, t + (size_t(r.i1) - p), w);
            else
                pickSpan<Erode>(out, t + r.i0, t + (size_t(r.i1) - p), w);
        }
    }
    return true;
}


// The element's runs when they are long enough on average (three set
// positions or more) for the windows to pay; false otherwise, when the
// runs or their rows cannot be had, or when the rows would take more than
// kRunsMemory bytes.  Rows and columns that never reach the image are left
// out (they read only the start value); when nothing is left every pixel
// gets the start value.
constexpr size_t kRunsMemory = size_t(1) << 28;

template <bool Erode>
bool morphByRuns(Image *image, const Mask *mask)
{
    const int w = image->width, h = image->height;
    const int j0 = std::max(0, mask->anchorY - (h - 1)), j1 = std::min(mask->height - 1, mask->anchorY + (h - 1));
    const int i0 = std::max(0, mask->anchorX - (w - 1)), i1 = std::min(mask->width - 1, mask->anchorX + (w - 1));
    auto at = [&](int i, int j) { return mask->data[ptrdiff_t(j) * mask->pitch + i] != 0; };
    size_t count = 0, set = 0, maxLen = 0;
    for (int j = j0; j <= j1; ++j)
        for (int i = i0; i <= i1; ++i) {
            set += at(i, j);
            count += at(i, j) && (i == i0 || !at(i - 1, j));
        }
    if (count == 0) {
        for (int y = 0; y < h; ++y) std::memset(row(image, y), Erode ? 255 : 0, size_t(w));
        return true;
    }
    const int mw = i1 - i0 + 1, mh = j1 - j0 + 1;
    if (set < 3 * count) return false;
    Scratch<Run> runs(count);
    if (!runs) return false;
    size_t k = 0;
    for (int j = j0; j <= j1; ++j)
        for (int i = i0; i <= i1;) {
            if (!at(i, j)) {
                ++i;
                continue;
            }
            const int start = i;
            while (i <= i1 && at(i, j)) ++i;
            runs[k++] = Run{j - j0, start - i0, i - i0};
            maxLen = std::max(maxLen, size_t(i - start));
        }
    const size_t levels = size_t(std::bit_width(maxLen));
    const size_t slotLen = levels * halfPageApart(roundUp(size_t(w) + size_t(mw)) + size_t(mw));
    if (size_t(mh) > kRunsMemory / slotLen) return false;
    const RunPlan plan{runs.get(), count, maxLen, mw, mh, mask->anchorX - i0, mask->anchorY - j0};
    return isa::WideClones<runsBody<Erode>>::table.pick()(image, plan);
}

// Min (erosion) or max (dilation) over the element's set positions, with
// positions outside the image reading 255 (erosion) or 0 (dilation) and the
// same value as start.  Every loop runs along a whole row, which the
// compiler turns into wide min/max instructions.  A full rectangle is
// taken across each row and then down the columns, a few steps a pixel
// whatever its size; min and max are order-free, so the bytes are the
// same.
template <bool Erode>
Image *morph(Image *image, const Mask *mask)
{
    if (!image) return nullptr;
    if (!typeOk(image) || (image->imageType != KIT_BIN && image->imageType != KIT_GRAY)) return image;
    OwnedMask own;
    if (!mask) {
        own.reset(kxCreateMask(KXM_RECT, 3, 3));
        const Mask *pM = own.get();
        if (!pM) return kx::failed("pM", image);
        mask = pM;
    }
    if (!elementOk(mask)) return image;
    if (isCentredRect3(mask) && morphRect3<Erode>(image)) return image;
    if (image->width >= 1 && image->height >= 1 && isFullRectangle(mask) &&
        isa::WideClones<rectBody<Erode>>::table.pick()(image, clippedRect(mask, image->width, image->height)))
        return image;
    if (image->width >= 1 && image->height >= 1 && morphByRuns<Erode>(image, mask)) return image;
    constexpr uint8_t fill = Erode ? 255 : 0;
    RowRing ring(image, mask, fill);
    if (!ring) return image;
    const int h = image->height, mw = mask->width, mh = mask->height;
    const size_t w = size_t(image->width);
    for (int j = 0; j < mh - 1; ++j) ring.copyRow(ring.slot(0, j), 0, j);
    for (int y = 0; y < h; ++y) {
        ring.copyRow(ring.slot(y, mh - 1), y, mh - 1);
        uint8_t *__restrict out = row(image, y);
        std::memset(out, fill, w);
        for (int j = 0; j < mh; ++j) {
            const uint8_t *e = mask->data + ptrdiff_t(j) * mask->pitch;
            const uint8_t *src = ring.slot(y, j);
            for (int i = 0; i < mw; ++i) {
                if (!e[i]) continue;
                const uint8_t *__restrict in = src + i;
                for (size_t x = 0; x < w; ++x) out[x] = pick<Erode>(out[x], in[x]);
            }
        }
    }
    return image;
}

Image *dilateByDisc(Image *image, int radius)
{
    const int w = image->width, h = image->height;
    // Any disc of radius w + h covers the whole image from any pixel, so a
    // larger radius gives the same result with a bigger element.
    const int64_t r = std::min<int64_t>({int64_t(radius), int64_t(w) + h, (INT32_MAX - 1) / 2});
    const int n = int(2 * r + 1);
    OwnedMask element(kxCreateMask(KXM_ELLIPSE, n, n));
    const Mask *pM = element.get();
    if (!pM) return kx::failed("pM", image);
    if (!elementOk(pM)) return image;

    size_t runCount = 0;
    for (int j = 0; j < pM->height; ++j) {
        const uint8_t *e = pM->data + ptrdiff_t(j) * pM->pitch;
        for (int i = 0; i < pM->width; ++i) runCount += e[i] && (i == 0 || !e[i - 1]);
    }
    Scratch<Run> runs(runCount);
    // The copy only needs the 8-neighbours of each pixel, all reading 0
    // outside the image.
    const PaddedCopy copy(image, 1, 1, 1, 1, 0);
    if (!runs || !copy) return image;
    size_t k = 0;
    for (int j = 0; j < pM->height; ++j) {
        const uint8_t *e = pM->data + ptrdiff_t(j) * pM->pitch;
        for (int i = 0; i < pM->width;) {
            if (!e[i]) {
                ++i;
                continue;
            }
            const int i0 = i;
            while (i < pM->width && e[i]) ++i;
            runs[k++] = Run{j, i0, i};
        }
    }

    const int64_t s = copy.stride();
    for (int y = 0; y < h; ++y) {
        const uint8_t *c = copy.at(1, y + 1);
        for (int x = 0; x < w; ++x) {
            const uint8_t *b = c + x;
            if (*b != 1) continue;
            if (b[-s - 1] == 1 && b[-s] == 1 && b[-s + 1] == 1 && b[-1] == 1 && b[1] == 1 && b[s - 1] == 1 &&
                b[s] == 1 && b[s + 1] == 1)
                continue;  // interior pixel: only outline pixels stamp
            for (size_t q = 0; q < runCount; ++q) {
                const int64_t ty = int64_t(y) - pM->anchorY + runs[q].j;
                if (ty < 0 || ty >= h) continue;
                const int64_t tx0 = std::max<int64_t>(int64_t(x) - pM->anchorX + runs[q].i0, 0);
                const int64_t tx1 = std::min<int64_t>(int64_t(x) - pM->anchorX + runs[q].i1, w);
                if (tx0 < tx1) std::memset(row(image, int(ty)) + tx0, 1, size_t(tx1 - tx0));
            }
        }
    }
    return image;
}

}  // namespace

extern "C" {

Image *kxErode(Image *image, const Mask *mask) { return morph<true>(image, mask); }

Image *kxDilate(Image *image, const Mask *mask) { return morph<false>(image, mask); }

Image *kxDilateE1(Image *image, int radius)
{
    if (!image) return nullptr;
    if (radius < 1 || !typeOk(image) || image->imageType != KIT_BIN) return image;
    return dilateByDisc(image, radius);
}

}  // extern "C"
