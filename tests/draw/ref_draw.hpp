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

inline Colour outlineColour(int type, uint32_t c)
{
    Colour k;
    k.bpp = kxiBytesPerPixel(type);
    const uint8_t grey = c >= 255 ? 255 : uint8_t(c);
    if (type == KIT_BIN) k.b[0] = grey != 0;
    if (type == KIT_GRAY) k.b[0] = grey;
    if (type == KIT_RGB || type == KIT_RGBA) k.b[0] = uint8_t(c), k.b[1] = uint8_t(c >> 8), k.b[2] = uint8_t(c >> 16), k.b[3] = uint8_t(c >> 24);
    return k;
}

inline Colour areaColour(int type, uint32_t c)
{
    Colour k = outlineColour(type, c);
    if (type == KIT_BIN) k.b[0] = c != 0;
    if (type == KIT_GRAY) k.b[0] = uint8_t(c);
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
    const Colour k = outlineColour(im->imageType, colour);
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
    const Colour k = outlineColour(im->imageType, colour);
    for (size_t i = 0; i < p.size(); i += 2) plot(im, p[i], p[i + 1], k);
}

}  // namespace ref
