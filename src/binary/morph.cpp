// Morphology with structuring elements of the mask library.
//
//   kxErode     KIT_BIN, KIT_GRAY; other types unchanged
//   kxDilate    KIT_BIN, KIT_GRAY; other types unchanged
//   kxDilateE1  KIT_BIN; other types unchanged
//
// Every operation reads from a padded copy of the input (for erosion and
// dilation a rolling one, as many rows as the element is high; for the
// centred 3 x 3 rectangle two saved rows) and writes into the image, so
// results never feed later pixels.
#include <algorithm>
#include <memory>

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

// Min (erosion) or max (dilation) over the element's set positions, with
// positions outside the image reading 255 (erosion) or 0 (dilation) and the
// same value as start.  Every loop runs along a whole row, which the
// compiler turns into wide min/max instructions.  A full rectangle is
// taken in two steps, along each row and then across rows; min and max
// are order-free, so the bytes are the same.
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
    constexpr uint8_t fill = Erode ? 255 : 0;
    RowRing ring(image, mask, fill);
    if (!ring) return image;
    const int h = image->height, mw = mask->width, mh = mask->height;
    const size_t w = size_t(image->width);
    const bool rect = isFullRectangle(mask);
    // Rectangle: each slot holds its row already reduced along the row.
    Scratch<uint8_t> temp(rect ? ring.stride() : 0);
    if (rect && !temp) return image;
    auto load = [&](int64_t y, int j) {
        uint8_t *__restrict d = ring.slot(y, j);
        if (!rect) return ring.copyRow(d, y, j);
        ring.copyRow(temp.get(), y, j);
        std::memcpy(d, temp.get(), w);
        for (int i = 1; i < mw; ++i) {
            const uint8_t *__restrict in = temp.get() + i;
            for (size_t x = 0; x < w; ++x) d[x] = pick<Erode>(d[x], in[x]);
        }
    };
    for (int j = 0; j < mh - 1; ++j) load(0, j);
    for (int y = 0; y < h; ++y) {
        load(y, mh - 1);
        uint8_t *__restrict out = row(image, y);
        if (rect) {
            std::memcpy(out, ring.slot(y, 0), w);
            for (int j = 1; j < mh; ++j) {
                const uint8_t *__restrict in = ring.slot(y, j);
                for (size_t x = 0; x < w; ++x) out[x] = pick<Erode>(out[x], in[x]);
            }
            continue;
        }
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

// A horizontal run [i0, i1) of set positions in element row j.
struct Run {
    int j, i0, i1;
};

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
