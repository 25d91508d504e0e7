// Thinning of binary images.
//
//   kxThinning   KIT_BIN; other types unchanged
//   kxSkeleton   KIT_BIN (method 0 level maxima, 1 template thinning);
//                other types and methods unchanged
#include "frame/frame.hpp"

using namespace kx;

namespace {

// One raster pass of template thinning over the interior.  Deletions are
// written at once, so later pixels of the same pass see them; this order is
// what decides the shape of the result.  True when a pixel was deleted.
bool thinningPass(Image *im) noexcept
{
    const ptrdiff_t s = im->pitch;
    bool deleted = false;
    for (int y = 1; y < im->height - 1; ++y) {
        uint8_t *p = row(im, y);
        for (int x = 1; x < im->width - 1; ++x) {
            uint8_t *c = p + x;
            if (*c != 1) continue;
            // Zero tests are on the byte, set tests on any non-zero byte.
            const bool nw = c[-s - 1] != 0, n = c[-s] != 0, ne = c[-s + 1] != 0;
            const bool w = c[-1] != 0, e = c[1] != 0;
            const bool sw = c[s - 1] != 0, so = c[s] != 0, se = c[s + 1] != 0;
            const bool hit = (!nw && !n && !ne && sw && so && se)    // top edge
                             || (!sw && !so && !se && nw && n && ne) // bottom edge
                             || (!nw && !w && !sw && ne && e && se)  // left edge
                             || (!ne && !e && !se && nw && w && sw)  // right edge
                             || (!n && !ne && !e && w && so)         // top-right corner
                             || (!nw && !n && !w && e && so)         // top-left corner
                             || (!sw && !w && !so && e && n)         // bottom-left corner
                             || (!se && !e && !so && w && n);        // bottom-right corner
            if (hit) {
                *c = 0;
                deleted = true;
            }
        }
    }
    return deleted;
}

void thin(Image *im) noexcept
{
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
