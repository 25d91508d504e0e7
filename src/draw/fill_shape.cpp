// Filled rectangles and ellipses and whole-image channel fills, in place:
//   kxFillRect       inclusive rectangle, clipped      KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxFillRectE1     rectangle clamped into the image  KIT_BIN, KIT_GRAY
//   kxFillEllipse    axis-aligned ellipse in a box     KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxFillEllipseE1  rotated ellipse                   KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxFillEx         selected channels of every pixel  KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
// Other image types are left as they are.  The ellipses test only the rows
// and columns their shape can reach: the per-pixel tests are the same, so
// the painted pixels are those of a whole-image scan.
#include <cmath>

#include "draw/draw_detail.hpp"

using namespace kx;
using namespace kx::draw;

namespace {

// The inside of a row is one run of columns around the column nearest the
// centre (the tests below grow with the distance from the centre).  Given
// the run's column xc clipped into 0..w-1 (known inside) and guesses of its
// ends, finds the ends inside 0..w-1 by galloping from the guesses and
// bisecting; only a few tests per row.
template <class In>
int64_t runEnd(const In &in, int64_t xc, int64_t guess, int64_t limit, int dir)
{
    // Largest (dir > 0) or smallest (dir < 0) x between xc and limit with in(x).
    auto beyond = [dir](int64_t a, int64_t b) { return dir > 0 ? a > b : a < b; };
    int64_t good = xc, bad;
    int64_t g = guess;
    if (beyond(xc, g)) g = xc;
    if (beyond(g, limit)) g = limit;
    if (in(g)) {
        good = g;
        int64_t step = 1;
        for (;;) {
            if (good == limit) return good;
            int64_t next = good + dir * step;
            if (beyond(next, limit)) next = limit;
            if (!in(next)) {
                bad = next;
                break;
            }
            good = next;
            step *= 2;
        }
    } else {
        bad = g;
    }
    while (std::llabs(bad - good) > 1) {
        const int64_t mid = good + (bad - good) / 2;
        (in(mid) ? good : bad) = mid;
    }
    return good;
}

int64_t clampTo(double v, int64_t lo, int64_t hi)
{
    if (!(v >= double(lo))) return lo;  // also NaN
    if (v >= double(hi)) return hi;
    return int64_t(v);
}

// The box ellipse: a = (right-left)/2 etc. in single precision, v summed in
// double and rounded to single precision once.
struct BoxEllipse {
    float a, b, cx, cy, A2, B2;
    BoxEllipse(int left, int top, int right, int bottom)
    {
        a = float(double(int64_t(right) - left) / 2.0);
        b = float(double(int64_t(bottom) - top) / 2.0);
        cx = float(double(int64_t(right) + left) / 2.0);
        cy = float(double(int64_t(bottom) + top) / 2.0);
        A2 = a * a;
        B2 = b * b;
    }
    double rowTerm(int64_t y) const
    {
        const double d = double(y) - cy;
        return d * d / B2;
    }
    bool inside(int64_t x, double rowTerm) const
    {
        const double d = double(x) - cx;
        return float(d * d / A2 + rowTerm) <= 1.0f;
    }
};

void fillBoxEllipse(Image *im, const BoxEllipse &e, const PixelValue &v)
{
    const int64_t w = im->width, h = im->height;
    const double reachY = double(e.b) * (1 + 1e-6) + 2;
    const int64_t y0 = clampTo(std::floor(e.cy - reachY), 0, h - 1);
    const int64_t y1 = clampTo(std::ceil(e.cy + reachY), 0, h - 1);
    const int64_t xc = clampTo(std::floor(double(e.cx) + 0.5), 0, w - 1);
    for (int64_t y = y0; y <= y1; ++y) {
        const double t = e.rowTerm(y);
        auto in = [&](int64_t x) { return e.inside(x, t); };
        if (!in(xc)) continue;
        const double half = double(e.a) * std::sqrt(std::max(0.0, 1.0 - t));
        const int64_t gl = clampTo(std::ceil(e.cx - half), -1, w), gr = clampTo(std::floor(e.cx + half), -1, w);
        const int64_t l = runEnd(in, xc, gl, 0, -1), r = runEnd(in, xc, gr, w - 1, +1);
        paintSpan(im, int(y), int(l), int(r), v);
    }
}

// The rotated ellipse: the offset from the centre in single precision,
// rotated by -angle through the geometry library (one call per row), each
// term rounded to single precision, the sum compared with 1.
struct RotatedEllipse {
    float cx, cy, turn;
    double a, b;
    bool inside(float dx, float dy) const
    {
        const float tx = float(double(dx) * dx / (a * a)), ty = float(double(dy) * dy / (b * b));
        return double(tx) + double(ty) <= 1.0;
    }
};

void fillRotatedEllipse(Image *im, const EllipseBox &box, const PixelValue &v)
{
    const RotatedEllipse e{float(box.centerX), float(box.centerY), -float(box.angle), box.width / 2, box.height / 2};
    const int64_t w = im->width, h = im->height;
    // No pixel farther than the larger semi-axis (plus rounding slack) from
    // the centre can be inside; a non-finite axis reaches everywhere.
    const double r = std::max(std::fabs(e.a), std::fabs(e.b));
    int64_t x0 = 0, x1 = w - 1, y0 = 0, y1 = h - 1;
    if (std::isfinite(r)) {
        const double reach = r * (1 + 1e-5) + 2;
        if (!(e.cx + reach >= 0 && e.cx - reach <= double(w) && e.cy + reach >= 0 && e.cy - reach <= double(h)))
            return;  // wholly outside, or a NaN centre
        x0 = clampTo(std::floor(e.cx - reach), 0, w - 1), x1 = clampTo(std::ceil(e.cx + reach), 0, w - 1);
        y0 = clampTo(std::floor(e.cy - reach), 0, h - 1), y1 = clampTo(std::ceil(e.cy + reach), 0, h - 1);
    }
    if (std::isnan(e.cx) || std::isnan(e.cy) || std::isnan(r)) return;
    const int64_t n = x1 - x0 + 1;
    Scratch<float> pts(size_t(2 * n));
    if (!pts) return kx::failed("im");
    for (int64_t y = y0; y <= y1; ++y) {
        const float dy = float(double(y) - e.cy);
        for (int64_t i = 0; i < n; ++i) pts[size_t(2 * i)] = float(double(x0 + i) - e.cx), pts[size_t(2 * i + 1)] = dy;
        kxRotateVertexE1(pts.get(), int(n), 0.0f, 0.0f, e.turn);
        uint8_t *p = row(im, int(y)) + size_t(x0) * size_t(v.bpp);
        for (int64_t i = 0; i < n; ++i, p += v.bpp)
            if (e.inside(pts[size_t(2 * i)], pts[size_t(2 * i + 1)])) v.store(p);
    }
}

}  // namespace

extern "C" {

void kxFillRect(Image *image, int x0, int y0, int x1, int y1, uint32_t colour)
{
    if (!image) return kx::failed("image");
    if (!typeOk(image)) return;
    const PixelValue v = areaColour(image->imageType, colour);
    const int64_t l = std::max<int64_t>(x0, 0), r = std::min<int64_t>(x1, image->width - 1);
    const int64_t t = std::max<int64_t>(y0, 0), b = std::min<int64_t>(y1, image->height - 1);
    if (l > r) return;
    for (int64_t y = t; y <= b; ++y) paintSpan(image, int(y), int(l), int(r), v);
}

void kxFillRectE1(Image *image, int x0, int y0, int x1, int y1, uint8_t value)
{
    if (!image || !typeOk(image)) return;
    if (image->imageType != KIT_GRAY && image->imageType != KIT_BIN) return;
    x0 = std::clamp(x0, 0, image->width - 1), x1 = std::clamp(x1, 0, image->width - 1);
    y0 = std::clamp(y0, 0, image->height - 1), y1 = std::clamp(y1, 0, image->height - 1);
    if (x0 > x1) return;
    for (int y = y0; y <= y1; ++y) std::memset(row(image, y) + x0, value, size_t(x1 - x0 + 1));
}

void kxFillEllipse(Image *image, int left, int top, int right, int bottom, uint32_t colour)
{
    if (!image) return kx::failed("image");
    if (!typeOk(image)) return;
    const BoxEllipse e(left, top, right, bottom);
    if (!(e.a > 0.1f) || !(e.b > 0.1f)) return;
    fillBoxEllipse(image, e, areaColour(image->imageType, colour));
}

void kxFillEllipseE1(Image *image, EllipseBox box, uint32_t colour)
{
    if (!image || !typeOk(image)) return;
    fillRotatedEllipse(image, box, pixelValue(image->imageType, colour, GreyRule::Luminance));
}

void kxFillEx(Image *image, uint32_t channels, uint8_t value)
{
    if (!image) return kx::failed("image");
    if (!typeOk(image)) return;
    const int bpp = kxiBytesPerPixel(image->imageType);
    const uint32_t all = image->imageType == KIT_RGBA ? 0xF : image->imageType == KIT_RGB ? 0x7 : 0x1;
    channels &= all;
    if (!channels) return;
    const uint8_t byte = image->imageType == KIT_BIN ? uint8_t(value != 0) : value;
    for (int y = 0; y < image->height; ++y) {
        uint8_t *p = row(image, y);
        if (channels == all) {
            std::memset(p, byte, rowBytes(image));
            continue;
        }
        for (int x = 0; x < image->width; ++x, p += bpp)
            for (int c = 0; c < bpp; ++c)
                if (channels >> c & 1) p[c] = byte;
    }
}

}  // extern "C"
