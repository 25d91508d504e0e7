// Stroke points of a skeleton by crossing number.  The eight neighbours of
// a pixel form a byte, bit i for ring position i (E, NE, N, NW, W, SW, S,
// SE); the crossing number of every byte is a compile-time table, so each
// pixel costs one byte assembly and one lookup.
#include <array>

#include "extra_detail.hpp"

using namespace kx;

namespace {

// Number of 0 -> 1 steps walking once around the ring.
constexpr std::array<uint8_t, 256> crossingTable()
{
    std::array<uint8_t, 256> t{};
    for (int code = 0; code < 256; ++code) {
        int n = 0;
        for (int i = 0; i < 8; ++i) n += !((code >> i) & 1) && ((code >> ((i + 1) & 7)) & 1);
        t[size_t(code)] = uint8_t(n);
    }
    return t;
}
constexpr std::array<uint8_t, 256> kCrossing = crossingTable();

// The ring byte of x from three rows padded with a clear pixel at each end
// (index x + 1 is column x).
inline int ringCode(const uint8_t *above, const uint8_t *mid, const uint8_t *below, int x)
{
    const int c = x + 1;
    return (mid[c + 1] != 0) | (above[c + 1] != 0) << 1 | (above[c] != 0) << 2 | (above[c - 1] != 0) << 3 |
           (mid[c - 1] != 0) << 4 | (below[c - 1] != 0) << 5 | (below[c] != 0) << 6 | (below[c + 1] != 0) << 7;
}

constexpr uint8_t kMarkOf[5] = {KXX_MARK_DOT, KXX_MARK_END, KXX_MARK_LINE, KXX_MARK_BRANCH, KXX_MARK_BRANCH};
constexpr int kKindOf[5] = {KXX_STROKE_DOT, KXX_STROKE_END, 0, KXX_STROKE_BRANCH, KXX_STROKE_BRANCH};

// Visits the set pixels in raster order with their crossing numbers, from
// a rolling copy of three rows (w + 2 bytes each, clear at both ends and
// clear above the first and below the last row), so that the visitor may
// rewrite the image's rows.  Returns false when the rows are not available.
template <class Visit>
bool forEachSetPixel(const Image *image, Visit visit)
{
    const int w = image->width, h = image->height;
    const size_t stride = size_t(w) + 2;
    Scratch<uint8_t> rows(3 * stride);
    if (!rows) return kx::failed("rows", false);
    std::memset(rows.get(), 0, 3 * stride);
    uint8_t *ring[3] = {rows.get(), rows.get() + stride, rows.get() + 2 * stride};
    std::memcpy(ring[1] + 1, row(image, 0), size_t(w));
    for (int y = 0; y < h; ++y) {
        if (y + 1 < h)
            std::memcpy(ring[2] + 1, row(image, y + 1), size_t(w));
        else
            std::memset(ring[2], 0, stride);
        const uint8_t *mid = ring[1];
        for (int x = 0; x < w; ++x)
            if (mid[x + 1]) visit(x, y, int(kCrossing[size_t(ringCode(ring[0], mid, ring[2], x))]));
        uint8_t *oldest = ring[0];
        ring[0] = ring[1];
        ring[1] = ring[2];
        ring[2] = oldest;
    }
    return true;
}

}  // namespace

extern "C" {

int kxxStrokePoints(const Image *skeleton, int kinds, int *points, int capacity)
{
    if (!skeleton) return kx::failed("skeleton", -1);
    if (!(points || capacity <= 0)) return kx::failed("points || capacity <= 0", -1);
    if (!typeOk(skeleton) || skeleton->imageType != KIT_BIN) return -1;
    int64_t found = 0;
    const bool ok = forEachSetPixel(skeleton, [&](int x, int y, int cn) {
        if (!(kKindOf[cn] & kinds)) return;
        if (found < capacity) {
            points[2 * found] = x;
            points[2 * found + 1] = y;
        }
        ++found;
    });
    // At most one point a pixel: below 2^31.
    return ok ? int(found) : -1;
}

Image *kxxMarkStrokePoints(Image *image)
{
    if (!image) return nullptr;
    if (!typeOk(image) || image->imageType != KIT_BIN) return image;
    // Clear pixels are already KXX_MARK_NONE (0); the rolling copy keeps the
    // crossing numbers on the input while set pixels are rewritten.
    if (!forEachSetPixel(image, [&](int x, int y, int cn) { row(image, y)[x] = kMarkOf[cn]; })) return image;
    image->imageType = KIT_GRAY;
    return image;
}

}  // extern "C"
