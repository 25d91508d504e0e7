// Chamfer distance transform and what is built on it.
//
//   kxDistTrans  KIT_BIN into a caller's int32 array; other types return 0
//   kxErodeE1    KIT_BIN; other types unchanged
//   kxEclose     KIT_BIN, KIT_GRAY masks; other types unchanged
#include <algorithm>

#include "frame/frame.hpp"

using namespace kx;

namespace {

// Distances in tenths of a step: 10 to a side neighbour, 14 diagonally.
// kFar + 14 still fits an int32.
constexpr int32_t kFar = 0x1FFFFFFF;
constexpr int32_t kSide = 10, kDiag = 14;

// Two raster passes over the interior; the frame stays far throughout.
// Each pass first folds in the already final neighbour row (a loop the
// compiler vectorizes), then runs the in-row chain in its own direction.
void chamfer(const Image *im, int32_t *d) noexcept
{
    const int w = im->width, h = im->height;
    std::fill(d, d + size_t(w) * size_t(h), kFar);
    for (int y = 1; y < h - 1; ++y) {
        const uint8_t *p = row(im, y);
        int32_t *r = d + size_t(y) * size_t(w);
        for (int x = 1; x < w - 1; ++x)
            if (!p[x]) r[x] = 0;
    }
    for (int y = 1; y < h - 1; ++y) {
        int32_t *__restrict r = d + size_t(y) * size_t(w);
        const int32_t *__restrict u = r - w;
        for (int x = 1; x < w - 1; ++x)
            r[x] = std::min({r[x], u[x - 1] + kDiag, u[x] + kSide, u[x + 1] + kDiag});
        for (int x = 1; x < w - 1; ++x) r[x] = std::min(r[x], r[x - 1] + kSide);
    }
    for (int y = h - 2; y >= 1; --y) {
        int32_t *__restrict r = d + size_t(y) * size_t(w);
        const int32_t *__restrict b = r + w;
        for (int x = 1; x < w - 1; ++x)
            r[x] = std::min({r[x], b[x + 1] + kDiag, b[x] + kSide, b[x - 1] + kDiag});
        for (int x = w - 2; x >= 1; --x) r[x] = std::min(r[x], r[x + 1] + kSide);
    }
    // Whole units, truncated; what no unset pixel reached becomes 0.
    const size_t n = size_t(w) * size_t(h);
    for (size_t i = 0; i < n; ++i) d[i] = d[i] == kFar ? 0 : d[i] / 10;
}

}  // namespace

extern "C" {

int kxDistTrans(const Image *image, int32_t *distances, uint32_t capacity)
{
    if (!image || !typeOk(image) || image->imageType != KIT_BIN) return 0;
    const int64_t n = pixelCount(image);  // below 2^31 for a well-formed record
    if (!distances) return int(n);
    if (uint64_t(n) > capacity) return 0;
    chamfer(image, distances);
    return int(n);
}

Image *kxErodeE1(Image *image, int radius)
{
    if (!image || !typeOk(image) || image->imageType != KIT_BIN) return image;
    const int w = image->width, h = image->height;
    Scratch<int32_t> d(size_t(w) * size_t(h));
    if (!d) return image;
    chamfer(image, d.get());
    for (int y = 0; y < h; ++y) {
        uint8_t *p = row(image, y);
        const int32_t *r = d.get() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x)
            if (p[x] && r[x] < radius) p[x] = 0;
    }
    return image;
}

void kxEclose(Image *imMask, int radius)
{
    if (!imMask) return kx::failed("imMask");
    if (!maskOk(imMask)) return;
    const int r = radius >= 1 ? radius : 1;
    TempImage copy(kxiClone(imMask, nullptr));
    const Image *imEc = copy.get();
    if (!imEc) return kx::failed("imEc");
    // A binary mask becomes 0/255 so that its inside can reach full weight.
    // A window the smoothing refuses leaves the copy unsmoothed, and the
    // unsmoothed copy is weighted.
    if (!kxiCast(copy.get(), KIT_GRAY)) return;
    kxSmoothGaussian(copy.get(), r, r);
    const float k = 1.0f / 255.0f;
    for (int y = 0; y < imMask->height; ++y) {
        uint8_t *m = row(imMask, y);
        const uint8_t *g = row(imEc, y);  // the copy is walked by its own pitch
        for (int x = 0; x < imMask->width; ++x) {
            if (!m[x]) continue;
            if (g[x] == 255) {
                m[x] = 255;
                continue;
            }
            const float v = float(g[x]) * k;
            const float cube = v * v * v;
            m[x] = uint8_t(double(cube) * 255.0);
        }
    }
}

}  // extern "C"
