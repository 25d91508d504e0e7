// The rotation engine's frame: which output pixels a turn reaches, row by
// row in column bands, with the source positions and samplers of
// rotate_fast.cpp.
#include "geometry/rotate_engine.hpp"

namespace kx::geo {

namespace {

// Narrows [a, b] to the x with lo <= p0 + k x <= hi.
void narrowTo(double &a, double &b, double p0, double k, double lo, double hi)
{
    if (std::fabs(k) < 1e-9) {
        if (p0 < lo || p0 > hi) a = 1, b = 0;
        return;
    }
    double x1 = (lo - p0) / k, x2 = (hi - p0) / k;
    if (x1 > x2) std::swap(x1, x2);
    a = std::max(a, x1);
    b = std::min(b, x2);
}

}  // namespace

void renderRotation(const Image *src, Image *out, int B, int newW, int newH, int offX, int offY, double angle,
                    bool nearest) noexcept
{
    const int W = src->width, H = src->height;
    const int cx = (W - 1) / 2, cy = (H - 1) / 2;
    const int halfW = (newW - 1) / 2, halfH = (newH - 1) / 2;
    const RotationMap map(angle, cx, cy);
    const RotationKernels &kernels = rotationKernels();
    // Source ranges that produce a pixel, and the slack of the approximation.
    const double loX = nearest ? -0.5 : -1.0, hiX = nearest ? W - 0.5 : double(W);
    const double loY = nearest ? -0.5 : -1.0, hiY = nearest ? H - 0.5 : double(H);
    const double slack = 2.0 + std::sqrt(double(halfW) * halfW + double(halfH) * halfH) * 1e-6;
    // Tiles of kBand columns and kRows rows, columns in the inner loop: the
    // source rows a tile reads stay in the nearest cache from one output
    // row to the next, and the pages of source and output it touches stay
    // few (a whole column band would walk every page of both).
    constexpr int kBand = 256, kRows = 32;
    for (int Y0 = 0; Y0 < out->height; Y0 += kRows)
    for (int X0 = 0; X0 < out->width; X0 += kBand) {
        const int X1 = std::min(out->width, X0 + kBand) - 1;
        for (int Y = Y0; Y < std::min(out->height, Y0 + kRows); ++Y) {
            const int64_t ty = int64_t(Y) + offY;
            if (ty < 0 || ty > 2 * int64_t(halfH)) continue;
            const int y = int(ty - halfH);
            // Offsets x whose output column exists in the band: X = x + halfW - offX.
            double a = std::max<double>(-halfW, double(int64_t(offX) - halfW + X0));
            double b = std::min<double>(halfW, double(int64_t(X1) + offX - halfW));
            if (map.approximable()) {
                narrowTo(a, b, cx - y * map.sinA(), map.cosA(), loX - slack, hiX + slack);
                narrowTo(a, b, cy + y * map.cosA(), map.sinA(), loY - slack, hiY + slack);
            }
            if (!(a <= b)) continue;
            const int x0 = int(std::ceil(a)), x1 = int(std::floor(b));
            float sx[kBand], sy[kBand];
            const int m = x1 - x0 + 1;
            uint8_t *d = row(out, Y) + (int64_t(x0) + halfW - offX) * B;
            if (nearest) {
                kernels.nearestDirect(map, src, B, y, x0, m, d);
                continue;
            }
            kernels.positions(map, y, x0, m, sx, sy);
            kernels.bilinear(src, B, sx, sy, m, d);
        }
    }
}

}  // namespace kx::geo
