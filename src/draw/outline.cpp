// Outlines drawn in place with one colour, every pixel clipped to the image:
//   kxSetLine      straight line, both ends     KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxSetPolyline  open chain of lines          KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxSetEllipse   ellipse outline, rotatable   KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
// Other image types draw nothing.  Colour: KIT_BIN 1 for any non-zero
// colour, KIT_GRAY the colour clamped to 255, KIT_RGB B,G,R, KIT_RGBA B,G,R,A.
#include <cmath>

#include "draw/draw_detail.hpp"

using namespace kx;
using namespace kx::draw;

namespace {

using i128 = __int128;

i128 ceilDiv(i128 n, i128 d) { return n >= 0 ? (n + d - 1) / d : -((-n) / d); }

// The range of k with a0 + sa*k inside [0, n - 1].
void axisRange(int64_t a0, int sa, int64_t n, int64_t &lo, int64_t &hi)
{
    if (sa > 0) {
        lo = -a0;
        hi = n - 1 - a0;
    } else {
        lo = a0 - (n - 1);
        hi = a0;
    }
}

// Walks k = 0..len along the major axis of a line: the major coordinate is
// a0 + sa*k, the minor one b0 + sb*m(k) with
//   m(k) = floor((2k*dm + len) / (2*len)),   0 <= dm <= len,
// which is the closed form of the error walk (err += dm per step, the minor
// coordinate steps once 2*err reaches len, ties step).  Only the k whose two
// coordinates fall inside [0, na) x [0, nb) are visited.
template <class Plot>
void walkClipped(int64_t a0, int sa, int64_t b0, int sb, int64_t len, int64_t dm, int64_t na, int64_t nb, Plot plot)
{
    int64_t klo = 0, khi = len, lo, hi;
    axisRange(a0, sa, na, lo, hi);
    klo = std::max(klo, lo);
    khi = std::min(khi, hi);
    int64_t mlo, mhi;
    axisRange(b0, sb, nb, mlo, mhi);
    if (len == 0 || dm == 0) {
        // m(k) stays 0: the minor coordinate never moves.
        if (mlo > 0 || mhi < 0) return;
    } else {
        if (mhi < 0) return;
        if (mlo > 0) klo = int64_t(std::max<i128>(klo, ceilDiv(i128(2 * mlo - 1) * len, i128(2) * dm)));
        khi = int64_t(std::min<i128>(khi, ceilDiv(i128(2 * mhi + 1) * len, i128(2) * dm) - 1));
    }
    if (klo > khi) return;
    if (len == 0) {
        plot(a0, b0);
        return;
    }
    const i128 n0 = i128(2) * klo * dm + len;
    int64_t m = int64_t(n0 / (2 * len)), r = int64_t(n0 % (2 * len));
    for (int64_t k = klo; k <= khi; ++k) {
        plot(a0 + sa * k, b0 + sb * m);
        r += 2 * dm;
        if (r >= 2 * len) r -= 2 * len, ++m;
    }
}

// First quadrant of the ellipse by the midpoint method with single-precision
// decision variables: offsets from the centre, from (rx, 0) through growing
// y to (0, y_end), into pPointSet (count vertices).  Returns the number stored.
int64_t buildEllipseQuadrant(int64_t rx, int64_t ry, int32_t *pPointSet, int64_t count)
{
    const float A2 = float(rx * rx), B2 = float(ry * ry);
    const double T = double(-0.000001f);
    int64_t x = rx, y = 0, i = 0;
    float d1 = float((0.25 - double(rx)) * B2 + A2);
    while (double(B2) * (double(x) - 0.5) > double(A2) * double(y + 1)) {
        if (!(i < count)) return kx::failed("i < count", i);
        pPointSet[2 * i] = int32_t(x), pPointSet[2 * i + 1] = int32_t(y), ++i;
        if (d1 > T) {
            d1 = float(double(A2) * double(2 * y + 3) + double(B2) * double(2 - 2 * x) + d1);
            --x;
        } else {
            d1 = float(double(A2) * double(2 * y + 3) + d1);
        }
        ++y;
    }
    float d2 = float(double(A2) * double(y >> 2) + double(B2) * double(1 - 2 * x));
    while (x >= 0) {
        if (!(i < count)) return kx::failed("i < count", i);
        pPointSet[2 * i] = int32_t(x), pPointSet[2 * i + 1] = int32_t(y), ++i;
        if (d2 > T) {
            d2 = float(double(B2) * double(3 - 2 * x) + d2);
        } else {
            ++y;
            d2 = float(double(A2) * double(2 * y + 2) + double(B2) * double(3 - 2 * x) + d2);
        }
        --x;
    }
    return i;
}

int32_t clampInt(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The closed outline: the quadrant, mirrored about the vertical axis, then the
// half mirrored about the horizontal axis.  Built as offsets from the centre
// (a quadrant offset never exceeds the point count, so it fits 32 bits) and
// translated last in 64 bits, so a centre near the 32-bit limits cannot
// wrap; coordinates beyond the 32-bit range are clamped (they lie outside
// every image).  Writes (x, y) pairs; returns 4n.
int64_t buildEllipsePoints(int64_t rx, int64_t ry, int64_t cx, int64_t cy, int32_t *pPointSet, int64_t count)
{
    int32_t *p = pPointSet;
    const int64_t n = buildEllipseQuadrant(rx, ry, p, count);
    int64_t j = n;
    for (int64_t k = n - 1; k >= 0; --k, ++j) {
        if (!(j < count)) return kx::failed("j < count", 0);
        p[2 * j] = -p[2 * k], p[2 * j + 1] = p[2 * k + 1];
    }
    for (int64_t k = 2 * n - 1; k >= 0; --k, ++j) {
        if (!(j < count)) return kx::failed("j < count", 0);
        p[2 * j] = p[2 * k], p[2 * j + 1] = -p[2 * k + 1];
    }
    for (int64_t k = 0; k < j; ++k) {
        p[2 * k] = clampInt(cx + p[2 * k]);
        p[2 * k + 1] = clampInt(cy + p[2 * k + 1]);
    }
    return j;
}

}  // namespace

namespace kx::draw {

void drawLineClipped(Image *im, int64_t x0, int64_t y0, int64_t x1, int64_t y1, const PixelValue &v) noexcept
{
    if (!im || v.bpp == 0) return;
    const int64_t dx = x1 - x0, dy = y1 - y0;
    const int sx = dx > 0 ? 1 : -1, sy = dy > 0 ? 1 : -1;
    const int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    if (adx > ady)
        walkClipped(x0, sx, y0, sy, adx, ady, im->width, im->height,
                    [&](int64_t x, int64_t y) { plotPixel(im, x, y, v); });
    else
        walkClipped(y0, sy, x0, sx, ady, adx, im->height, im->width,
                    [&](int64_t y, int64_t x) { plotPixel(im, x, y, v); });
}

}  // namespace kx::draw

extern "C" {

void kxSetLine(Image *image, int x0, int y0, int x1, int y1, uint32_t colour)
{
    if (!image) return kx::failed("image");
    if (!typeOk(image)) return;
    drawLineClipped(image, x0, y0, x1, y1, outlineColour(image->imageType, colour));
}

void kxSetPolyline(Image *image, const int *pVertexArray, int count, uint32_t colour)
{
    if (!image) return kx::failed("image");
    if (count < 2) return;
    if (!pVertexArray) return kx::failed("pVertexArray");
    if (!typeOk(image)) return;
    const PixelValue v = outlineColour(image->imageType, colour);
    for (int i = 0; i + 1 < count; ++i) {
        const int *a = pVertexArray + 2 * size_t(i);
        drawLineClipped(image, a[0], a[1], a[2], a[3], v);
    }
}

void kxSetEllipse(Image *image, int cx, int cy, int rx, int ry, float angle, uint32_t colour)
{
    if (!image) return kx::failed("image");
    if (!typeOk(image)) return;
    const int64_t total = 8 * int64_t(std::max(rx, ry));
    if (total < 10 || total > 16777208) return;
    const PixelValue v = outlineColour(image->imageType, colour);
    Scratch<int32_t> pPt(size_t(2 * total));
    if (!pPt) return kx::failed("pPt");
    const int64_t c = buildEllipsePoints(rx, ry, cx, cy, pPt.get(), total);
    if (!(c <= total)) return kx::failed("c <= total");
    if (angle != 0.0f) kxRotateVertex(pPt.get(), int(c), cx, cy, angle);
    for (int64_t i = 0; i < c; ++i) {
        const int64_t x = pPt[size_t(2 * i)], y = pPt[size_t(2 * i + 1)];
        if (inside(image, x, y)) plotPixel(image, x, y, v);
    }
}

}  // extern "C"
