// The rotation engine: turns an image by any angle (radians) about its
// centre by inverse mapping.  For every destination pixel at offset (x, y)
// from the destination centre the source position is
//
//   r  = (float) sqrt(x*x + y*y)            t = (float) atan2(y, x)
//   sx = (float)(cos(t + angle) * r + cx)   sy = (float)(sin(t + angle) * r + cy)
//
// with t + angle in double and cx = (width-1)/2, cy = (height-1)/2.  Those
// float roundings decide which bytes come out, so the engine reproduces that
// arithmetic exactly.  What it saves is work that cannot change a byte:
//  - the positions of a row are computed eight at a time without libm
//    (rotate_fast.cpp): the polar angle by a short series, cos and sin of
//    t + angle by the angle-sum identity around it, each float accepted
//    only when the proven error band around it rounds to that one float;
//    the rest (about one pixel in 10^5) take RotationMap::position, which
//    is the exact route;
//  - the samplers run across pixels in vector lanes, each pixel with the
//    scalar sampler's operations in the same order;
//  - nearest-neighbour rows take the source pixel from the affine position
//    wherever the proven distance between it and the exact float position
//    cannot change the rounded pixel (all but about one group of eight in
//    forty); only the others compute the exact positions;
//  - rows are walked only over the x range whose approximate source position
//    lies within two pixels of the source; the rest keeps the background;
//  - a result that keeps the image's size renders only the part it keeps.
// The frame (renderRotation) is in internal/rotate_engine.cpp, the kernels
// in internal/rotate_fast.cpp, both in the internal library the tests link; the
// entry points kxRotateEx and kxRotateE2 are in rotate.cpp.
#pragma once

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "frame/isa.hpp"
#include "geometry/geometry_detail.hpp"

namespace kx::geo {

// Bounding box of a width x height rectangle turned by angle radians about
// its centre, in double: the four corners turned about (width/2, height/2),
// size = (int)(max - min + 1.0 + 0.5).  An angle of 0 gives width+1 by
// height+1.  False when the box does not fit an int (or angle is not finite).
inline bool rotatedSize(int &width, int &height, double angle)
{
    const double cx = width / 2.0, cy = height / 2.0;
    const double radius = std::sqrt(cx * cx + cy * cy);
    const double corners[4][2] = {{0, 0}, {0, double(height)}, {double(width), 0}, {double(width), double(height)}};
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (int i = 0; i < 4; ++i) {
        const double theta = std::atan2(corners[i][1] - cy, corners[i][0] - cx);
        const double X = std::cos(theta + angle) * radius + cx;
        const double Y = std::sin(theta + angle) * radius + cy;
        if (i == 0) {
            minX = maxX = X;
            minY = maxY = Y;
            continue;
        }
        if (X < minX) minX = X;
        if (X > maxX) maxX = X;
        if (Y < minY) minY = Y;
        if (Y > maxY) maxY = Y;
    }
    const double w = maxX - minX + 1.0 + 0.5, h = maxY - minY + 1.0 + 0.5;
    if (!(w >= 1.0 && w < double(INT_MAX) && h >= 1.0 && h < double(INT_MAX))) return false;
    width = int(w);
    height = int(h);
    return true;
}

// Bilinear sample of B-byte pixels at (sx, sy), -1 <= sx < width and
// -1 <= sy < height, in single precision; each byte is interpolated alone
// with the same weights.  Neighbours outside the image count as 0, so the
// picture's edge blends towards 0 whatever the background.
template <int B>
inline void bilinearSample(const uint8_t *data, int width, int height, int pitch, float sx, float sy, uint8_t *out)
{
    int x0 = int(sx), y0 = int(sy);
    int x1 = x0 + 1, y1 = y0 + 1;
    float dx = sx - float(x0), dy = sy - float(y0);
    if (sx < 0.0) x0 = -1, x1 = 0, dx = float(sx + 1.0);
    if (sy < 0.0) y0 = -1, y1 = 0, dy = float(sy + 1.0);
    const uint8_t *row0 = y0 >= 0 ? data + ptrdiff_t(y0) * pitch : nullptr;
    const uint8_t *row1 = y1 < height ? data + ptrdiff_t(y1) * pitch : nullptr;
    const bool left = x0 >= 0, right = x1 < width;
    for (int c = 0; c < B; ++c) {
        const float p00 = row0 && left ? float(row0[x0 * B + c]) : 0.0f;
        const float p01 = row0 && right ? float(row0[x1 * B + c]) : 0.0f;
        const float p10 = row1 && left ? float(row1[x0 * B + c]) : 0.0f;
        const float p11 = row1 && right ? float(row1[x1 * B + c]) : 0.0f;
        const float top = (p01 - p00) * dx + p00;
        const float bottom = (p11 - p10) * dx + p10;
        const float v = (bottom - top) * dy + top;
        out[c] = uint8_t(int(v + 0.5));
    }
}

// The three widths by name: one byte (KIT_BIN, KIT_GRAY), B,G,R and B,G,R,A.
inline void bilinearSampleGray(const uint8_t *d, int w, int h, int p, float sx, float sy, uint8_t *o)
{
    bilinearSample<1>(d, w, h, p, sx, sy, o);
}
inline void bilinearSampleRgb(const uint8_t *d, int w, int h, int p, float sx, float sy, uint8_t *o)
{
    bilinearSample<3>(d, w, h, p, sx, sy, o);
}
inline void bilinearSampleRgba(const uint8_t *d, int w, int h, int p, float sx, float sy, uint8_t *o)
{
    bilinearSample<4>(d, w, h, p, sx, sy, o);
}

// Source positions of destination offsets for one angle.
class RotationMap {
public:
    // Constants of the vector route (rotate_fast.cpp).
    struct Fast {
        double angle, ca, sa, cx, cy, acx, acy;  // acx = |cx| + 1
        double pi, halfPi;
        double tanEdge[4];  // tan(j pi/16), j = 1..3: the eighths of pi/4
        double tanMid[4], atanMid[4];  // T = tan((2j+1) pi/32) and atan(T)
    };

    RotationMap(double angle, int cx, int cy)
        : angle_(angle), ca_(std::cos(angle)), sa_(std::sin(angle)), cx_(cx), cy_(cy),
          fast_(std::fabs(angle) <= 1e6)
    {
        const double pi = 3.141592653589793;
        f_ = {angle, ca_, sa_, double(cx), double(cy), std::fabs(double(cx)) + 1, std::fabs(double(cy)) + 1,
              pi, pi / 2, {}, {}, {}};
        for (int j = 0; j < 4; ++j) {
            f_.tanEdge[j] = std::tan(j * pi / 16);
            f_.tanMid[j] = std::tan((2 * j + 1) * pi / 32);
            f_.atanMid[j] = std::atan(f_.tanMid[j]);
        }
    }

    // Whether the vector route applies: |angle| <= 10^6 keeps the rounding
    // of t + angle below 2^-33.
    bool vectorisable() const { return fast_; }
    const Fast &fast() const { return f_; }

    // Whether the approximate position (x ca - y sa + cx, x sa + y ca + cy)
    // may be used to skip pixels: it lies within 0.3 pixel of the exact one
    // for radii below 10^6 (the float angle is off by at most 2^-23 rad).
    bool approximable() const { return fast_; }
    double cosA() const { return ca_; }
    double sinA() const { return sa_; }

    void position(int x, int y, float &sx, float &sy) const
    {
        const int64_t r2 = int64_t(x) * x + int64_t(y) * y;
        const double R = std::sqrt(double(r2));
        const float r = float(R);
        const double td = std::atan2(double(y), double(x));
        const float t = float(td);
        const double phi = double(t) + angle_;
        if (!fast_ || r2 == 0) {
            sx = float(std::cos(phi) * r + cx_);
            sy = float(std::sin(phi) * r + cy_);
            return;
        }
        // t + angle = phi + err exactly (two-sum), so phi is the true polar
        // angle of (x, y) plus angle plus delta, delta = (t - td) - err with
        // td standing in for the true atan2 (within an ulp).  |delta| is
        // below 2^-22, so cos(delta) = 1 - delta^2/2 and sin(delta) = delta
        // to far below a double ulp.
        const double bb = phi - double(t);
        const double err = (double(t) - (phi - bb)) + (angle_ - bb);
        const double delta = (double(t) - td) - err;
        const double invR = 1.0 / R;
        const double C = (x * ca_ - y * sa_) * invR, S = (y * ca_ + x * sa_) * invR;
        const double k = 1.0 - 0.5 * delta * delta;
        const double c = C * k - S * delta, s = S * k + C * delta;
        sx = settle(c * r + cx_, double(r) + std::fabs(double(cx_)), [&] { return std::cos(phi) * r + cx_; });
        sy = settle(s * r + cy_, double(r) + std::fabs(double(cy_)), [&] { return std::sin(phi) * r + cy_; });
    }

private:
    // v is within scale * 2e-15 of the exact double; when every value in a
    // band ten times that wide rounds to the same float, that float is the
    // answer, else the exact expression is evaluated.
    template <class Exact>
    static float settle(double v, double scale, Exact exact)
    {
        const double band = (scale + 1.0) * 2e-14;
        const float lo = float(v - band), hi = float(v + band);
        return lo == hi ? lo : float(exact());
    }

    double angle_, ca_, sa_;
    int cx_, cy_;
    bool fast_;
    Fast f_;
};

// The row kernels of one instruction level (rotate_fast.cpp).
struct RotationKernels {
    // Source positions of destination offsets (x0 + i, y), i = 0..n-1, equal
    // to the exact route's; returns how many took the exact route.
    int64_t (*positions)(const RotationMap &map, int y, int x0, int n, float *sx, float *sy);
    // Bilinear samples of `src` (B bytes per pixel) at (sx[i], sy[i]) into
    // out + i * B; positions outside [-1, width) x [-1, height) leave their
    // pixel alone.
    void (*bilinear)(const Image *src, int B, const float *sx, const float *sy, int n, uint8_t *out);
    // Nearest-neighbour samples: source pixel (floor(sx[i] + 0.5),
    // floor(sy[i] + 0.5)) into out + i * B where it exists.
    void (*nearest)(const Image *src, int B, const float *sx, const float *sy, int n, uint8_t *out);
    // positions then nearest for destination offsets (x0 + i, y), i < n,
    // into out + i * B, most pixels without their exact positions.
    void (*nearestDirect)(const RotationMap &map, const Image *src, int B, int y, int x0, int n, uint8_t *out);
};

// The kernels of `level` (at most isa::active()); all give the same bits.
const RotationKernels &rotationKernels(isa::Level level = isa::active()) noexcept;

// Renders the turned picture into `out` (already filled with the
// background), B bytes per pixel.  Output pixel (X, Y) shows destination
// offset (X + offX - halfW, Y + offY - halfH); offsets beyond +-half (the
// last column or row of an even box, and whatever lies outside the box)
// keep the background.
void renderRotation(const Image *src, Image *out, int B, int newW, int newH, int offX, int offY, double angle,
                    bool nearest) noexcept;

}  // namespace kx::geo
