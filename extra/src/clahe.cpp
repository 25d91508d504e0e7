// Contrast-limited adaptive histogram equalization.  The image, extended to
// a whole number of tiles by mirroring, is cut into tilesX x tilesY tiles;
// each tile's histogram is clipped, its excess spread over the bins, and
// its cumulative sum turned into a table; every pixel then blends the tables
// of the four tiles whose centres surround it.
#include <algorithm>
#include <cmath>

#include "extra_detail.hpp"

using namespace kx;

namespace {

constexpr int kMaxTiles = 256;

// Index i of a line of n samples mirrored about its end samples, repeated
// as often as needed (period 2n - 2); n == 1 repeats the sample.
inline int mirror(int64_t i, int64_t n)
{
    if (n == 1) return 0;
    const int64_t period = 2 * (n - 1);
    i %= period;
    if (i < 0) i += period;
    return int(i < n ? i : period - i);
}

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
    Scratch<Blend> columns{size_t(w)};
    if (!(hist && luts && columnOf && columns)) return kx::failed("hist && luts", image);
    std::fill(hist.get(), hist.get() + tiles * 256, 0u);

    // Histograms over the mirrored extension tw * tilesX by th * tilesY.
    const int paddedW = tw * tilesX;
    for (int x = 0; x < paddedW; ++x) columnOf[size_t(x)] = mirror(x, w);
    for (int64_t yy = 0; yy < int64_t(th) * tilesY; ++yy) {
        const uint8_t *src = row(image, mirror(yy, h));
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
    // d * u) * v), rounded half up.
    const float invW = 1.0f / float(tw), invH = 1.0f / float(th);
    for (int x = 0; x < w; ++x) columns[size_t(x)] = blendOf(x, invW, tilesX);
    for (int y = 0; y < h; ++y) {
        const Blend by = blendOf(y, invH, tilesY);
        const uint8_t *top = luts.get() + size_t(by.first) * size_t(tilesX) * 256;
        const uint8_t *bottom = luts.get() + size_t(by.second) * size_t(tilesX) * 256;
        const float v = by.weight, v1 = 1.0f - v;
        uint8_t *p = row(image, y);
        for (int x = 0; x < w; ++x) {
            const Blend &bx = columns[size_t(x)];
            const int value = p[x];
            const size_t a = size_t(bx.first) * 256 + size_t(value), b = size_t(bx.second) * 256 + size_t(value);
            const float u = bx.weight, u1 = 1.0f - u;
            const float result = (float(top[a]) * u1 + float(top[b]) * u) * v1 + (float(bottom[a]) * u1 + float(bottom[b]) * u) * v;
            p[x] = uint8_t(std::min(255, int(result + 0.5f)));
        }
    }
    return image;
}

}  // extern "C"
