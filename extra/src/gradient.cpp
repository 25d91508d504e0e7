// Gradients of a grey image: 3 x 3 Sobel or Scharr derivatives in exact
// integers (borders mirrored about the edge pixel, OpenCV's default), and
// from them magnitudes that never clip and directions.
#include <algorithm>
#include <cmath>

#include "extra_detail.hpp"

using namespace kx;
using kxx::reflect;

namespace {



// gx and gy of one row from three source rows widened by one mirrored
// column each side (index x + 1 is column x).  Sobel: side weight 1,
// centre 2; Scharr: 3 and 10.
[[gnu::always_inline]] inline void derivativeRow(const int16_t *up, const int16_t *mid, const int16_t *down, int width,
                                                 int16_t side, int16_t centre, int16_t *gx, int16_t *gy)
{
    for (int x = 0; x < width; ++x) {
        const int l = x, c = x + 1, r = x + 2;
        gx[x] = int16_t(side * (up[r] - up[l]) + centre * (mid[r] - mid[l]) + side * (down[r] - down[l]));
        gy[x] = int16_t(side * (down[l] - up[l]) + centre * (down[c] - up[c]) + side * (down[r] - up[r]));
    }
}

[[gnu::always_inline]] inline void magnitudeL1Row(const int16_t *gx, const int16_t *gy, int width, uint16_t *out16,
                                                  float *outF)
{
    for (int x = 0; x < width; ++x) {
        const int m = std::abs(int(gx[x])) + std::abs(int(gy[x]));
        if (out16) out16[x] = uint16_t(m);
        if (outF) outF[x] = float(m);
    }
}

// sqrt of the exact integer gx^2 + gy^2 in double: uint16 rounds it half up
// (it never lies halfway: a root of an integer is an integer or
// irrational), float is the double rounded to nearest.
[[gnu::always_inline]] inline void magnitudeL2Row(const int16_t *gx, const int16_t *gy, int width, uint16_t *out16,
                                                  float *outF)
{
    for (int x = 0; x < width; ++x) {
        const int32_t sq = int32_t(gx[x]) * gx[x] + int32_t(gy[x]) * gy[x];
        const double m = std::sqrt(double(sq));
        if (out16) out16[x] = uint16_t(int32_t(m + 0.5));
        if (outF) outF[x] = float(m);
    }
}

}  // namespace

extern "C" {

int kxxGradient(const Image *image, int op, int norm, int16_t *gx, int16_t *gy, uint16_t *magnitude,
                float *magnitudeF, float *direction)
{
    if (!image) return kx::failed("image", 0);
    if (!typeOk(image) || image->imageType != KIT_GRAY || (op != KXX_SOBEL && op != KXX_SCHARR)) return 0;
    const bool wantMagnitude = magnitude || magnitudeF;
    if (wantMagnitude && norm != KXX_L1 && norm != KXX_L2) return 0;

    const int w = image->width, h = image->height;
    const size_t stride = size_t(w) + 2;
    Scratch<int16_t> rows(3 * stride + 2 * size_t(w));
    if (!rows) return kx::failed("rows", 0);
    int16_t *ring[3] = {rows.get(), rows.get() + stride, rows.get() + 2 * stride};
    int16_t *dx = rows.get() + 3 * stride, *dy = dx + w;
    // Row y widened by its mirrored neighbours into a ring slot.
    auto load = [&](int y, int16_t *dst) {
        const uint8_t *p = row(image, int(reflect(y, h)));
        for (int x = 0; x < w; ++x) dst[x + 1] = p[x];
        dst[0] = p[reflect(-1, w)];
        dst[w + 1] = p[reflect(w, w)];
    };
    const int16_t side = op == KXX_SOBEL ? 1 : 3, centre = op == KXX_SOBEL ? 2 : 10;
    const auto derivatives = isa::Clones<derivativeRow>::table.pick();
    const auto magnitudes = (norm == KXX_L1 ? isa::Clones<magnitudeL1Row>::table : isa::Clones<magnitudeL2Row>::table).pick();
    load(-1, ring[0]);
    load(0, ring[1]);
    for (int y = 0; y < h; ++y) {
        load(y + 1, ring[2]);
        derivatives(ring[0], ring[1], ring[2], w, side, centre, dx, dy);
        const size_t at = size_t(y) * size_t(w);
        if (gx) std::copy(dx, dx + w, gx + at);
        if (gy) std::copy(dy, dy + w, gy + at);
        if (wantMagnitude)
            magnitudes(dx, dy, w, magnitude ? magnitude + at : nullptr, magnitudeF ? magnitudeF + at : nullptr);
        if (direction)
            for (int x = 0; x < w; ++x) direction[at + size_t(x)] = float(std::atan2(double(dy[x]), double(dx[x])));
        int16_t *oldest = ring[0];
        ring[0] = ring[1];
        ring[1] = ring[2];
        ring[2] = oldest;
    }
    return 1;
}

}  // extern "C"
