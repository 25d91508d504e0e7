// Contrast-limited adaptive histogram equalization.  The image, extended to
// a whole number of tiles by mirroring, is cut into tilesX x tilesY tiles;
// each tile's histogram is clipped, its excess spread over the bins, and
// its cumulative sum turned into a table; every pixel then blends the tables
// of the four tiles whose centres surround it.
#include <algorithm>
#include <cmath>

#include "extra_detail.hpp"

using namespace kx;
using kxx::reflect;

namespace {

constexpr int kMaxTiles = 256;


// Clips a tile histogram of `area` pixels and makes its table.
void tileTable(uint32_t hist[256], int64_t area, double clipLimit, uint8_t lut[256])
{
    if (clipLimit > 0.0) {
        // Above `area` no bin can clip (and an infinite limit stays finite).
        const double relative = std::min(clipLimit * double(area) / 256.0, double(area));
        const int64_t limit = std::max<int64_t>(1, int64_t(relative));
        int64_t clipped = 0;
        for (int i = 0; i < 256; ++i)
            if (hist[i] > limit) {
                clipped += hist[i] - limit;
                hist[i] = uint32_t(limit);
            }
        const int64_t batch = clipped / 256;
        int64_t residual = clipped - batch * 256;
        for (int i = 0; i < 256; ++i) hist[i] += uint32_t(batch);
        if (residual > 0) {
            const int64_t step = std::max<int64_t>(1, 256 / residual);
            for (int64_t i = 0; i < 256 && residual > 0; i += step, --residual) ++hist[i];
        }
    }
    const float scale = 255.0f / float(area);
    int64_t sum = 0;
    for (int i = 0; i < 256; ++i) {
        sum += hist[i];
        lut[i] = uint8_t(std::min(255, int(float(sum) * scale + 0.5f)));
    }
}

// Where a coordinate falls between tile centres: the two tiles (clamped to
// the grid) and the weight of the second.
struct Blend {
    int first, second;
    float weight;
};

Blend blendOf(int coordinate, float invTile, int tiles)
{
    const float f = float(coordinate) * invTile - 0.5f;
    const int lo = int(std::floor(f));
    return {std::max(lo, 0), std::min(lo + 1, tiles - 1), f - float(lo)};
}


// out[x] = min(255, (int)(((a*u1 + b*u) * v1 + (c*u1 + d*u) * v) + 0.5f)),
// float, as written.
[[gnu::always_inline]] inline void blendRow(const float *a, const float *b, const float *c, const float *d,
                                            const float *u, const float *u1, float v, float v1, int w, uint8_t *out)
{
    for (int x = 0; x < w; ++x) {
        const float result = (a[x] * u1[x] + b[x] * u[x]) * v1 + (c[x] * u1[x] + d[x] * u[x]) * v;
        out[x] = uint8_t(std::min(255, int(result + 0.5f)));
    }
}

}  // namespace

extern "C" {

Image *kxxClahe(Image *image, int tilesX, int tilesY, double clipLimit)
{
    if (!image) return nullptr;
    if (!typeOk(image) || image->imageType != KIT_GRAY || tilesX < 1 || tilesY < 1 || tilesX > kMaxTiles ||
        tilesY > kMaxTiles || std::isnan(clipLimit))
        return image;
    const int w = image->width, h = image->height;
    // Tiles as OpenCV sizes them: when both sides divide evenly, width /
    // tilesX by height / tilesY; otherwise both sides are extended, by
    // tiles - (side % tiles) pixels each (a whole tile's worth for a side
    // that divides), so that tw = width / tilesX + 1, th = height / tilesY + 1.
    const bool even = w % tilesX == 0 && h % tilesY == 0;
    const int tw = w / tilesX + (even ? 0 : 1), th = h / tilesY + (even ? 0 : 1);
    const int64_t area = int64_t(tw) * th;
    const size_t tiles = size_t(tilesX) * size_t(tilesY);

    Scratch<uint32_t> hist(tiles * 256);
    Scratch<uint8_t> luts(tiles * 256);
    Scratch<int32_t> columnOf(size_t(tw) * size_t(tilesX));
    if (!(hist && luts && columnOf)) return kx::failed("hist && luts", image);
    std::fill(hist.get(), hist.get() + tiles * 256, 0u);

    // Histograms over the mirrored extension tw * tilesX by th * tilesY.
    const int paddedW = tw * tilesX;
    for (int x = 0; x < paddedW; ++x) columnOf[size_t(x)] = int(reflect(x, w));
    for (int64_t yy = 0; yy < int64_t(th) * tilesY; ++yy) {
        const uint8_t *src = row(image, int(reflect(yy, h)));
        uint32_t *rowHist = hist.get() + size_t(yy / th) * size_t(tilesX) * 256;
        for (int t = 0; t < tilesX; ++t) {
            uint32_t *hh = rowHist + size_t(t) * 256;
            const int x0 = t * tw, x1 = x0 + tw;
            if (x1 <= w)
                for (int x = x0; x < x1; ++x) ++hh[src[x]];
            else
                for (int x = x0; x < x1; ++x) ++hh[src[columnOf[size_t(x)]]];
        }
    }
    for (size_t t = 0; t < tiles; ++t) tileTable(hist.get() + t * 256, area, clipLimit, luts.get() + t * 256);

    // The blend, in float: ((a * (1 - u) + b * u) * (1 - v) + (c * (1 - u) +
    // d * u) * v), rounded half up.  Per row the four table bytes of every
    // pixel are gathered first; the arithmetic then runs over whole rows
    // (blendRow), each lane in the scalar order.
    const float invW = 1.0f / float(tw), invH = 1.0f / float(th);
    Scratch<int32_t> offsets(2 * size_t(w));
    Scratch<float> weights(2 * size_t(w)), gathered(4 * size_t(w));
    if (!offsets || !weights || !gathered) return kx::failed("hist && luts", image);
    int32_t *firstAt = offsets.get(), *secondAt = firstAt + w;
    float *u = weights.get(), *u1 = u + w;
    float *a = gathered.get(), *b = a + w, *c = b + w, *d = c + w;
    for (int x = 0; x < w; ++x) {
        const Blend bx = blendOf(x, invW, tilesX);
        firstAt[x] = bx.first * 256;
        secondAt[x] = bx.second * 256;
        u[x] = bx.weight;
        u1[x] = 1.0f - bx.weight;
    }
    const auto blend = isa::Clones<blendRow>::table.pick();
    for (int y = 0; y < h; ++y) {
        const Blend by = blendOf(y, invH, tilesY);
        const uint8_t *top = luts.get() + size_t(by.first) * size_t(tilesX) * 256;
        const uint8_t *bottom = luts.get() + size_t(by.second) * size_t(tilesX) * 256;
        uint8_t *p = row(image, y);
        for (int x = 0; x < w; ++x) {
            const int value = p[x];
            a[x] = float(top[firstAt[x] + value]);
            b[x] = float(top[secondAt[x] + value]);
            c[x] = float(bottom[firstAt[x] + value]);
            d[x] = float(bottom[secondAt[x] + value]);
        }
        blend(a, b, c, d, u, u1, by.weight, 1.0f - by.weight, w, p);
    }
    return image;
}

}  // extern "C"
