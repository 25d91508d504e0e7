// The image side of the threshold family, shared by its exports and by
// libkxextra's selector levels: the grey-image check, histogram counting
// (with and without a mask) and binarizing through a 0/1 table.
#include <algorithm>

#include "frame/frame.hpp"
#include "threshold/threshold_detail.hpp"

using namespace kx;

namespace kx::thr {

bool isGrey(const Image *image) noexcept { return typeOk(image) && image->imageType == KIT_GRAY; }

int64_t countGrey(const Image *image, const Image *mask, int32_t hist[256]) noexcept
{
    std::fill(hist, hist + 256, 0);
    if (!mask) {
        // Four interleaved partial histograms keep repeated grey levels from
        // stalling on one counter.
        uint32_t part[4][256] = {};
        const int w = image->width;
        for (int y = 0; y < image->height; ++y) {
            const uint8_t *p = row(image, y);
            int x = 0;
            for (; x + 4 <= w; x += 4) {
                ++part[0][p[x]];
                ++part[1][p[x + 1]];
                ++part[2][p[x + 2]];
                ++part[3][p[x + 3]];
            }
            for (; x < w; ++x) ++part[0][p[x]];
        }
        for (int i = 0; i < 256; ++i) hist[i] = int32_t(part[0][i] + part[1][i] + part[2][i] + part[3][i]);
        return pixelCount(image);
    }
    const int w = std::min(image->width, mask->width), h = std::min(image->height, mask->height);
    int64_t n = 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t *p = row(image, y), *m = mask->data + ptrdiff_t(y) * mask->pitch;
        for (int x = 0; x < w; ++x)
            if (m[x]) {
                ++hist[p[x]];
                ++n;
            }
    }
    return n;
}

namespace {

// Rewrites every row as (p >= t) or, with `below`, as (p < t).  A compare
// the compiler turns into vector code: several times faster than a table
// lookup per byte, and the same bytes.
void binarizeStep(Image *image, int t, bool below) noexcept
{
    const uint8_t level = uint8_t(t);
    const size_t n = size_t(image->width);
    for (int y = 0; y < image->height; ++y) {
        uint8_t *p = row(image, y);
        if (below)
            for (size_t i = 0; i < n; ++i) p[i] = p[i] < level;
        else
            for (size_t i = 0; i < n; ++i) p[i] = p[i] >= level;
    }
}

}  // namespace

void binarize(Image *image, const uint8_t table[256]) noexcept
{
    // Most binarizing tables are one step (0...0 1...1 or 1...1 0...0);
    // those take the compare path, any other table the lookup.
    int t = 1;
    while (t < 256 && table[t] == table[0]) ++t;
    bool step = t < 256 && table[0] <= 1 && table[t] == 1 - table[0];
    for (int i = t; step && i < 256; ++i) step = table[i] == table[t];
    if (step)
        binarizeStep(image, t, table[0] == 1);
    else
        applyLut(image, table, 1);
    image->imageType = KIT_BIN;
}

}  // namespace kx::thr
