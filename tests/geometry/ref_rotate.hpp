// The rotation engine as the direct per-pixel loop: sqrt, atan2, cos and
// sin for every destination pixel, the whole bounding box rendered into a
// temporary, then copied back.  The library's engine must give the same
// bytes.
#pragma once

#include "ref_transform.hpp"

namespace ref {

inline void rotatedSize(int &width, int &height, double angle)
{
    const double cx = width / 2.0, cy = height / 2.0, R = std::sqrt(cx * cx + cy * cy);
    const double px[4] = {0, 0, double(width), double(width)}, py[4] = {0, double(height), 0, double(height)};
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (int i = 0; i < 4; ++i) {
        const double th = std::atan2(py[i] - cy, px[i] - cx);
        const double X = std::cos(th + angle) * R + cx, Y = std::sin(th + angle) * R + cy;
        minX = i ? std::min(minX, X) : X, maxX = i ? std::max(maxX, X) : X;
        minY = i ? std::min(minY, Y) : Y, maxY = i ? std::max(maxY, Y) : Y;
    }
    width = (int)(maxX - minX + 1.0 + 0.5);
    height = (int)(maxY - minY + 1.0 + 0.5);
}

// One byte of the float bilinear sampler.
inline uint8_t sampleByte(const Pic &s, float sx, float sy, int c)
{
    int x0 = (int)sx, y0 = (int)sy, x1 = x0 + 1, y1 = y0 + 1;
    float dx = sx - x0, dy = sy - y0;
    if (sx < 0.0) x0 = -1, x1 = 0, dx = sx + 1.0;
    if (sy < 0.0) y0 = -1, y1 = 0, dy = sy + 1.0;
    auto p = [&](int x, int y) { return x >= 0 && y >= 0 && x < s.w && y < s.h ? float(s.at(x, y)[c]) : 0.0f; };
    const float top = (p(x1, y0) - p(x0, y0)) * dx + p(x0, y0);
    const float bottom = (p(x1, y1) - p(x0, y1)) * dx + p(x0, y1);
    return (uint8_t)(int)((bottom - top) * dy + top + 0.5);
}

inline Pic rotateEngine(const Pic &s, double angle, int mode, int keepSize, const std::vector<uint8_t> &bg)
{
    int newW = s.w, newH = s.h;
    rotatedSize(newW, newH, angle);
    Pic tmp = filled(newW, newH, bg);
    const int halfW = (newW - 1) / 2, halfH = (newH - 1) / 2, cx = (s.w - 1) / 2, cy = (s.h - 1) / 2;
    for (int x = -halfW; x <= halfW; ++x)
        for (int y = -halfH; y <= halfH; ++y) {
            const float r = (float)std::sqrt(x * x + y * y), th = (float)std::atan2(y, x);
            const float sx = (float)(std::cos(th + angle) * r + cx), sy = (float)(std::sin(th + angle) * r + cy);
            uint8_t *d = tmp.at(x + halfW, y + halfH);
            const int ix = (int)std::floor(sx + 0.5), iy = (int)std::floor(sy + 0.5);
            if (mode == 0 && iy >= 0 && iy < s.h && ix >= 0 && ix < s.w)
                for (int c = 0; c < s.bpp; ++c) d[c] = s.at(ix, iy)[c];
            if (mode != 0 && sy >= -1.0 && sy < s.h && sx >= -1.0 && sx < s.w)
                for (int c = 0; c < s.bpp; ++c) d[c] = sampleByte(s, sx, sy, c);
        }
    if (!keepSize) return tmp;
    Pic out = filled(s.w, s.h, bg);
    const int offX = (newW - s.w) / 2, offY = (newH - s.h) / 2;
    for (int x = 0; x < s.w; ++x)
        for (int y = 0; y < s.h; ++y)
            if (x + offX >= 0 && x + offX < newW && y + offY >= 0 && y + offY < newH)
                for (int c = 0; c < s.bpp; ++c) out.at(x, y)[c] = tmp.at(x + offX, y + offY)[c];
    return out;
}

}  // namespace ref
