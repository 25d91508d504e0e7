// Straightforward versions of the drawing operations, written from their
// definitions without any speed-up: the fast exports must match them byte
// for byte.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kxpre.h"

namespace ref {

// Colour bytes of one pixel; bpp 0 for other types.
struct Colour {
    uint8_t b[4] = {0, 0, 0, 0};
    int bpp = 0;
};

// Outlines clamp a grey colour to 255; areas keep its low byte.
inline Colour colourOf(int type, uint32_t c, bool area)
{
    Colour k;
    k.bpp = kxiBytesPerPixel(type);
    const uint8_t grey = area ? uint8_t(c) : c >= 255 ? 255 : uint8_t(c);
    if (type == KIT_BIN) k.b[0] = area ? c != 0 : grey != 0;
    if (type == KIT_GRAY) k.b[0] = grey;
    if (type == KIT_RGB || type == KIT_RGBA) k.b[0] = uint8_t(c), k.b[1] = uint8_t(c >> 8), k.b[2] = uint8_t(c >> 16), k.b[3] = uint8_t(c >> 24);
    return k;
}

inline void plot(Image *im, int64_t x, int64_t y, const Colour &k)
{
    if (x < 0 || y < 0 || x >= im->width || y >= im->height) return;
    std::memcpy(im->data + y * im->pitch + x * k.bpp, k.b, size_t(k.bpp));
}

// The error walk position by position, every position bounds-checked.
inline void line(Image *im, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t colour)
{
    const Colour k = colourOf(im->imageType, colour, false);
    const int64_t dx = x1 - x0, dy = y1 - y0;
    const int64_t sx = dx > 0 ? 1 : -1, sy = dy > 0 ? 1 : -1;
    const int64_t adx = std::llabs(dx), ady = std::llabs(dy);
    int64_t x = x0, y = y0, err = 0;
    if (adx > ady) {
        for (x = x0; x != x1 + sx; x += sx) {
            plot(im, x, y, k);
            err += ady;
            if (2 * err >= adx) y += sy, err -= adx;
        }
    } else {
        for (y = y0; y != y1 + sy; y += sy) {
            plot(im, x, y, k);
            err += adx;
            if (2 * err >= ady) x += sx, err -= ady;
        }
    }
    plot(im, x1, y1, k);
}

// The ellipse outline: quadrant, two mirrors, optional rotation, plot.
inline std::vector<int> ellipsePoints(int rx, int ry, int cx, int cy)
{
    std::vector<int> p;
    const float A2 = float(int64_t(rx) * rx), B2 = float(int64_t(ry) * ry);
    const double T = double(-0.000001f);
    int64_t x = rx, y = 0;
    float d1 = float((0.25 - rx) * B2 + A2);
    while (double(B2) * (x - 0.5) > double(A2) * double(y + 1)) {
        p.push_back(int(x + cx)), p.push_back(int(y + cy));
        if (d1 > T) {
            d1 = float(double(A2) * (2 * y + 3) + double(B2) * (2 - 2 * x) + d1);
            --x;
        } else {
            d1 = float(double(A2) * (2 * y + 3) + d1);
        }
        ++y;
    }
    float d2 = float(double(A2) * (y >> 2) + double(B2) * (1 - 2 * x));
    while (x >= 0) {
        p.push_back(int(x + cx)), p.push_back(int(y + cy));
        if (d2 > T) {
            d2 = float(double(B2) * (3 - 2 * x) + d2);
        } else {
            ++y;
            d2 = float(double(A2) * (2 * y + 2) + double(B2) * (3 - 2 * x) + d2);
        }
        --x;
    }
    const size_t n = p.size() / 2;
    for (size_t k = n; k-- > 0;) p.push_back(2 * cx - p[2 * k]), p.push_back(p[2 * k + 1]);
    for (size_t k = 2 * n; k-- > 0;) p.push_back(p[2 * k]), p.push_back(2 * cy - p[2 * k + 1]);
    return p;
}

inline void ellipse(Image *im, int cx, int cy, int rx, int ry, float angle, uint32_t colour)
{
    const int64_t total = 8 * int64_t(std::max(rx, ry));
    if (total < 10 || total > 16777208) return;
    std::vector<int> p = ellipsePoints(rx, ry, cx, cy);
    if (angle != 0.0f) kxRotateVertex(p.data(), int(p.size() / 2), cx, cy, angle);
    const Colour k = colourOf(im->imageType, colour, false);
    for (size_t i = 0; i < p.size(); i += 2) plot(im, p[i], p[i + 1], k);
}

// ---- filled shapes ---------------------------------------------------------

// Box ellipse, every pixel of the image tested.
inline void fillEllipse(Image *im, int left, int top, int right, int bottom, uint32_t colour)
{
    const float a = float(double(int64_t(right) - left) / 2.0), b = float(double(int64_t(bottom) - top) / 2.0);
    if (!(a > 0.1f) || !(b > 0.1f)) return;
    const float cx = float(double(int64_t(right) + left) / 2.0), cy = float(double(int64_t(bottom) + top) / 2.0);
    const float A2 = a * a, B2 = b * b;
    const Colour k = colourOf(im->imageType, colour, true);
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x) {
            const double dx = x - double(cx), dy = y - double(cy);
            const float v = float(dx * dx / A2 + dy * dy / B2);
            if (v <= 1.0f) plot(im, x, y, k);
        }
}

// Rotated ellipse through a mask: a KIT_BIN image marked pixel by pixel, a
// derived Mask, painted with kxSetPixelEx through a view of the mask bytes.
inline void fillEllipseE1(Image *im, EllipseBox box, uint32_t colour)
{
    Image *bin = kxCreateImage(KIT_BIN, im->width, im->height);
    const float cx = float(box.centerX), cy = float(box.centerY);
    const double a = box.width / 2, b = box.height / 2;
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x) {
            float pt[2] = {float(x - double(cx)), float(y - double(cy))};
            kxRotateVertexE1(pt, 1, 0.0f, 0.0f, -float(box.angle));
            const float tx = float(double(pt[0]) * pt[0] / (a * a)), ty = float(double(pt[1]) * pt[1] / (b * b));
            if (double(tx) + double(ty) <= 1.0) bin->data[size_t(y) * bin->pitch + x] = 1;
        }
    Mask *m = kmkDeriveMask(bin);
    kxDestroyImage(bin);
    if (!m) return;
    Image *view = kxCreateImageEx(KIT_BIN, m->width, m->height, m->pitch, m->data, 0);
    kxSetPixelEx(im, colour, view, 0);
    kxDestroyImage(view);
    kxDestroyMask(m);
}

// The even-odd test of one pixel.
inline bool pointInPolygon(int x, int y, const int *v, int count)
{
    if (!v || count <= 2) return false;
    int crossings = 0;
    for (int i = 0; i < count; ++i) {
        const int j = (i + 1) % count;
        const int64_t x1 = v[2 * i], y1 = v[2 * i + 1], x2 = v[2 * j], y2 = v[2 * j + 1];
        if (y1 == y2) continue;
        if (!(std::min(y1, y2) <= y && y < std::max(y1, y2))) continue;
        const float xi = float(double(y - y1) * double(x2 - x1) / double(y2 - y1) + double(x1));
        if (double(xi) > double(x)) ++crossings;
    }
    return crossings & 1;
}

inline void fillPolygon(Image *im, const int *v, int count, const int *ex, int exCount, uint32_t colour)
{
    const Colour k = colourOf(im->imageType, colour, true);
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x)
            if (pointInPolygon(x, y, v, count) && !pointInPolygon(x, y, ex, exCount)) plot(im, x, y, k);
}

// The queue fill, one node per pixel, painting each pixel as it is queued.
inline void seedFill(Image *im, int x, int y, uint32_t colour)
{
    const int w = im->width, h = im->height, type = im->imageType;
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    const int bpp = kxiBytesPerPixel(type), n = bpp == 1 ? 1 : 3;
    uint8_t fill[3] = {uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour >> 16)}, target[3];
    if (bpp == 1) fill[0] = uint8_t(std::min<uint32_t>(colour, type == KIT_BIN ? 1 : 255));
    auto at = [&](int c, int r) { return im->data + size_t(r) * im->pitch + size_t(c) * bpp; };
    std::memcpy(target, at(x, y), size_t(n));
    if (std::memcmp(target, fill, size_t(n)) == 0) return;
    std::vector<std::pair<int, int>> queue{{x, y}};
    std::memcpy(at(x, y), fill, size_t(n));
    for (size_t head = 0; head < queue.size(); ++head) {
        const auto [cx, cy] = queue[head];
        const int nb[4][2] = {{cx + 1, cy}, {cx - 1, cy}, {cx, cy - 1}, {cx, cy + 1}};
        for (const auto &p : nb) {
            if (p[0] < 0 || p[1] < 0 || p[0] >= w || p[1] >= h) continue;
            if (std::memcmp(at(p[0], p[1]), target, size_t(n)) != 0) continue;
            std::memcpy(at(p[0], p[1]), fill, size_t(n));
            queue.push_back({p[0], p[1]});
        }
    }
}

// The outline, then the seed search vertex by vertex (every candidate put
// to the inside test) and the queue fill from the first one inside.
inline void fillPolygonE2(Image *im, const int *v, int count, uint32_t colour)
{
    for (int i = 0; i < count; ++i) {
        const int j = (i + 1) % count;
        line(im, v[2 * i], v[2 * i + 1], v[2 * j], v[2 * j + 1], colour);
    }
    const int type = im->imageType;
    if (type == KIT_BIN) colour = colour != 0;
    if (type == KIT_GRAY) colour = std::min<uint32_t>(colour, 255);
    const Colour k = colourOf(type, colour, true);
    for (int i = 0; i < count; ++i) {
        const int64_t x = int64_t(v[2 * i]) + 1, y = v[2 * i + 1];
        if (x < 0 || y < 0 || x >= im->width || y >= im->height) continue;
        if (std::memcmp(im->data + y * im->pitch + x * k.bpp, k.b, size_t(k.bpp)) == 0) continue;
        if (kxIsPointInPolygon(int(x), int(y), v, count)) {
            seedFill(im, int(x), int(y), colour);
            return;
        }
    }
}

}  // namespace ref
