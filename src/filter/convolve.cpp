// 3x3 kernel operators and difference operators on 8-bit images.
//
//   kxFilter      any image: does nothing
//   kxSobel       KIT_BIN, KIT_GRAY   (others unchanged; null -> null)
//   kxPrewitt     KIT_BIN, KIT_GRAY
//   kxKirsch      KIT_BIN, KIT_GRAY
//   kxDiffSecond  KIT_BIN, KIT_GRAY
//   kxLaPlacian   KIT_BIN, KIT_GRAY
//   kxSharp1541   KIT_BIN, KIT_GRAY
//   kxRoberts     KIT_GRAY            (others unchanged; null -> null)
//   kxDiffFirst   KIT_GRAY            (others unchanged; null -> null)
//   kxGradient    KIT_GRAY            (others unchanged; asserts "image")
//
// The kernel operators share one correlation core over a zero-padded
// rolling buffer of three source rows; the difference operators run in
// place in an order that never reads a pixel already rewritten.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "filter_detail.hpp"
#include "kxthreads_bands.hpp"

using namespace kx;
using namespace kx::filter;

namespace {

// A 3x3 kernel, row above first, left neighbour first within a row.
using Kernel3 = int[9];

constexpr Kernel3 kSobelA = {1, 0, -1, 2, 0, -2, 1, 0, -1};
constexpr Kernel3 kSobelB = {1, 2, 1, 0, 0, 0, -1, -2, -1};
constexpr Kernel3 kPrewittA = {1, 0, -1, 1, 0, -1, 1, 0, -1};
constexpr Kernel3 kPrewittB = {1, 1, 1, 0, 0, 0, -1, -1, -1};
constexpr Kernel3 kKirschA = {5, 5, 5, -3, -3, -3, -3, -3, -3};
constexpr Kernel3 kKirschB = {5, 5, -3, 5, -3, -3, -3, -3, -3};
constexpr Kernel3 kDiffSecondA = {0, 0, 0, 1, -2, 1, 0, 0, 0};
constexpr Kernel3 kDiffSecondB = {0, 1, 0, 0, -2, 0, 0, 1, 0};
constexpr Kernel3 kLaplacian = {0, 1, 0, 1, -4, 1, 0, 1, 0};
constexpr Kernel3 kSharpen = {0, -1, 0, -1, 5, -1, 0, -1, 0};

// One output row from the zero-padded rows above (a), at (c) and below (b)
// the pixel, each starting one byte left of column 0.
[[gnu::always_inline]] inline void correlateRow(const uint8_t *__restrict a, const uint8_t *__restrict c,
                                                const uint8_t *__restrict b, uint8_t *__restrict out, int w,
                                                const int *k) noexcept
{
    const int k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3], k4 = k[4], k5 = k[5], k6 = k[6], k7 = k[7], k8 = k[8];
    for (int x = 0; x < w; ++x) {
        const int r = k0 * a[x] + k1 * a[x + 1] + k2 * a[x + 2] + k3 * c[x] + k4 * c[x + 1] + k5 * c[x + 2] +
                      k6 * b[x] + k7 * b[x + 1] + k8 * b[x + 2];
        out[x] = unsigned(r) <= 255u ? uint8_t(r) : 0;
    }
}

// Correlates the image with k (zero padding outside the image).  A response
// in 0..255 is stored; anything else stores 0.  A KIT_BIN image is read as
// bytes 0/1 and keeps its type, so it may hold magnitudes up to 255 after.
// Rows are read from a rolling copy, so no result feeds a later one.  With threads on, row bands run at once: each band
// gets copies of the source rows just outside it, taken before any band
// writes.  Returns false when the row buffers cannot be had.
bool correlateBands(Image *im, const int k[9], const threads::Bands &bands) noexcept
{
    const int w = im->width, h = im->height;
    const size_t stride = size_t(w) + 2;
    // Per band: three rolling rows, a zero row, and the rows above and below
    // the band as they were.
    constexpr size_t kRowsPerBand = 6;
    Scratch<uint8_t> buf(stride * kRowsPerBand * size_t(bands.count));
    if (!buf) return false;
    std::memset(buf.get(), 0, buf.size());
    auto bandBuffer = [&](int band) { return buf.get() + size_t(band) * kRowsPerBand * stride; };
    for (int i = 0; i < bands.count; ++i) {
        uint8_t *edge = bandBuffer(i) + 4 * stride;
        if (i > 0) std::memcpy(edge + 1, row(im, bands.begin(i) - 1), size_t(w));
        if (i + 1 < bands.count) std::memcpy(edge + stride + 1, row(im, bands.end(i)), size_t(w));
    }

    const auto correlate = isa::Clones<correlateRow>::table.pick();
    threads::forEach(bands, [&](int band, int y0, int y1) {
        uint8_t *base = bandBuffer(band);
        uint8_t *ring[3] = {base, base + stride, base + 2 * stride};
        const uint8_t *zero = base + 3 * stride;
        const uint8_t *above = y0 > 0 ? base + 4 * stride : zero;
        const uint8_t *below = y1 < h ? base + 5 * stride : zero;
        auto load = [&](int y) { std::memcpy(ring[y % 3] + 1, row(im, y), size_t(w)); };
        load(y0);
        for (int y = y0; y < y1; ++y) {
            if (y + 1 < y1) load(y + 1);
            const uint8_t *a = y > y0 ? ring[(y - 1) % 3] : above;
            const uint8_t *c = ring[y % 3];
            const uint8_t *b = y + 1 < y1 ? ring[(y + 1) % 3] : below;
            correlate(a, c, b, row(im, y), w, k);
        }
    });
    return true;
}

bool correlate3x3(Image *im, const int k[9]) noexcept
{
    const threads::Bands bands = threads::Bands::plan(im->height, threads::minRows(im->width));
    // Short of memory for every band's rows, one band may still fit.
    return correlateBands(im, k, bands) || (bands.count > 1 && correlateBands(im, k, {im->height, 1}));
}

// The kernel operators' frame: mode 1 kernel A, mode 2 kernel B, any other
// mode the sum of both responses, which equals the response to the summed
// kernel (integer arithmetic, same zero padding).
Image *kernelOperator(Image *image, int mode, const int *a, const int *b) noexcept
{
    if (!image) return nullptr;
    if ((image->imageType != KIT_BIN && image->imageType != KIT_GRAY) || !typeOk(image)) return image;
    if (!(image->size > 0)) return kx::failed("im->size>0", image);
    int k[9];
    for (int i = 0; i < 9; ++i) {
        const int ka = a[i], kb = b ? b[i] : 0;
        k[i] = mode == 1 ? ka : mode == 2 ? kb : ka + kb;
    }
    correlate3x3(image, k);
    return image;
}

inline bool isGray(const Image *im) { return im->imageType == KIT_GRAY && typeOk(im); }

inline uint8_t absDiff(int a, int b) { return uint8_t(std::abs(a - b)); }

}  // namespace

extern "C" {

Image *kxFilter(Image *image, void *arg)
{
    (void)arg;  // reserved; has no meaning
    return image;
}

Image *kxSobel(Image *image, int mode) { return kernelOperator(image, mode, kSobelA, kSobelB); }
Image *kxPrewitt(Image *image, int mode) { return kernelOperator(image, mode, kPrewittA, kPrewittB); }
Image *kxKirsch(Image *image, int mode) { return kernelOperator(image, mode, kKirschA, kKirschB); }
Image *kxDiffSecond(Image *image, int mode) { return kernelOperator(image, mode, kDiffSecondA, kDiffSecondB); }
Image *kxLaPlacian(Image *image) { return kernelOperator(image, 1, kLaplacian, nullptr); }
Image *kxSharp1541(Image *image) { return kernelOperator(image, 1, kSharpen, nullptr); }

Image *kxRoberts(Image *image)
{
    if (!image) return nullptr;
    if (!isGray(image)) return image;
    const int w = image->width, h = image->height;
    // In place, top to bottom and left to right: (x, y) reads only (x, y),
    // (x+1, y) and row y+1, none of which has been rewritten yet.  Row 0 and
    // column 0 are never read; the last column and row are cleared once the
    // rows that read them are done.  Rows 1..h-2 may run in bands; a band's
    // last row reads a copy of the next band's first row.
    threads::Bands bands = threads::Bands::plan(std::max(0, h - 2), threads::minRows(w));
    Scratch<uint8_t> below{size_t(w) * size_t(bands.count - 1)};
    if (!below) bands.count = 1;
    for (int i = 0; i + 1 < bands.count; ++i)
        std::memcpy(below.get() + size_t(i) * w, row(image, 1 + bands.end(i)), size_t(w));
    std::memset(row(image, 0), 0, size_t(w));
    threads::forEach(bands, [&](int band, int y0, int y1) {
        for (int y = 1 + y0; y < 1 + y1; ++y) {
            uint8_t *p = row(image, y);
            const uint8_t *q = y + 1 == 1 + y1 && band + 1 < bands.count ? below.get() + size_t(band) * w
                                                                          : row(image, y + 1);
            for (int x = 1; x < w - 1; ++x) {
                const int a = std::abs(q[x + 1] - p[x]), b = std::abs(q[x] - p[x + 1]);
                p[x] = saturate(a + b);
            }
            p[0] = 0;
            p[w - 1] = 0;
        }
    });
    std::memset(row(image, h - 1), 0, size_t(w));
    return image;
}

Image *kxDiffFirst(Image *image, int mode)
{
    if (!image) return nullptr;
    if (!isGray(image)) return image;
    const int w = image->width, h = image->height;
    if (mode < 0 || mode > 2) {  // no rule writes anything: the whole image becomes 0
        kxiFlood(image, 0);
        return image;
    }
    // Rows 1..h-1, each band with the row above it as it was, kept up to
    // date as the band goes down.
    threads::Bands bands = threads::Bands::plan(h - 1, threads::minRows(w));
    Scratch<uint8_t> banded{size_t(w) * size_t(bands.count)};
    Scratch<uint8_t> single{banded ? 0 : size_t(w)};  // short of memory: one band
    if (!banded) bands.count = 1;
    uint8_t *aboveRows = banded ? banded.get() : single.get();
    if (!aboveRows) return image;
    for (int i = 0; i < bands.count; ++i) std::memcpy(aboveRows + size_t(i) * w, row(image, bands.begin(i)), size_t(w));
    std::memset(row(image, 0), 0, size_t(w));
    threads::forEach(bands, [&](int band, int y0, int y1) {
        uint8_t *above = aboveRows + size_t(band) * w;
        for (int y = 1 + y0; y < 1 + y1; ++y) {
            uint8_t *p = row(image, y);
            // Right to left, so p[x-1] still holds its input value.
            for (int x = w - 1; x >= 1; --x) {
                const int v = p[x];
                const int dx = std::abs(p[x - 1] - v), dy = std::abs(above[x] - v);
                above[x] = uint8_t(v);
                p[x] = mode == 1 ? uint8_t(dx) : mode == 2 ? uint8_t(dy) : saturate(dx + dy);
            }
            above[0] = p[0];
            p[0] = 0;
        }
    });
    return image;
}

Image *kxGradient(Image *image, int mode, int gap)
{
    if (!image) return kx::failed("image", nullptr);
    if (!isGray(image)) return image;
    // Checked before anything is written, so a refused gap leaves the image.
    if (!(gap > 0)) return kx::failed("gap>0", image);
    const int w = image->width, h = image->height;
    // Pixels whose partner lies `gap` further right (below) exist up to
    // these limits; the rest become 0.
    const int xEnd = int(std::max<int64_t>(0, int64_t(w) - gap));
    const int yEnd = int(std::max<int64_t>(0, int64_t(h) - gap));
    // In place, top to bottom and left to right: the partners lie right of
    // or below the pixel being written, so they still hold input values.
    // In row bands, the partner rows below a band that a later band
    // rewrites are read from copies taken before the bands start.
    threads::Bands bands = threads::Bands::plan(h, threads::minRows(w));
    // The rows [first, last) band i reads below itself (none for mode 1,
    // which stays within the row, nor for the last band).
    auto copied = [&](int i) -> std::pair<int, int> {
        if (mode == 1 || i + 1 >= bands.count) return {0, 0};
        const int64_t first = std::max<int64_t>(bands.end(i), int64_t(bands.begin(i)) + gap);
        const int64_t last = std::min<int64_t>(yEnd, bands.end(i)) + int64_t(gap);  // <= h when first < last
        return first < last ? std::pair{int(first), int(last)} : std::pair{0, 0};
    };
    auto copyOffset = [&](int i) {  // rows copied for the bands before band i
        size_t n = 0;
        for (int j = 0; j < i; ++j) n += size_t(copied(j).second - copied(j).first);
        return n;
    };
    Scratch<uint8_t> copies{copyOffset(bands.count) * size_t(w)};
    if (!copies) bands.count = 1;  // one band reads the image itself
    for (int i = 0; i + 1 < bands.count; ++i) {
        const auto [first, last] = copied(i);
        for (int y = first; y < last; ++y)
            std::memcpy(copies.get() + (copyOffset(i) + size_t(y - first)) * w, row(image, y), size_t(w));
    }
    threads::forEach(bands, [&](int band, int y0, int y1) {
        const auto span = copied(band);  // named members: clang 14 cannot capture structured bindings
        const int copiedFrom = span.first, copiedTo = span.second;
        const uint8_t *bandCopies = copiedFrom < copiedTo ? copies.get() + copyOffset(band) * w : nullptr;
        auto partner = [&](int y) -> const uint8_t * {
            const int py = y + gap;  // y < yEnd: inside the image
            return py >= copiedFrom && py < copiedTo ? bandCopies + size_t(py - copiedFrom) * w : row(image, py);
        };
        for (int y = y0; y < y1; ++y) {
            uint8_t *p = row(image, y);
            if (mode == 1) {
                for (int x = 0; x < xEnd; ++x) p[x] = absDiff(p[x + gap], p[x]);
                std::memset(p + xEnd, 0, size_t(w - xEnd));
            } else if (mode == 2) {
                if (y >= yEnd) {
                    std::memset(p, 0, size_t(w));
                    continue;
                }
                const uint8_t *q = partner(y);
                for (int x = 0; x < w; ++x) p[x] = absDiff(q[x], p[x]);
            } else {
                if (y >= yEnd) {
                    std::memset(p, 0, size_t(w));
                    continue;
                }
                const uint8_t *q = partner(y);
                for (int x = 0; x < xEnd; ++x) p[x] = saturate(std::abs(p[x + gap] - p[x]) + std::abs(q[x] - p[x]));
                std::memset(p + xEnd, 0, size_t(w - xEnd));
            }
        }
    });
    return image;
}

}  // extern "C"
