// The rotation engine as the direct per-pixel loop: sqrt, atan2, cos and
// sin for every destination pixel, the whole bounding box rendered into a
// temporary, then copied back.  The library's engine must give the same
// bytes.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "ref_transform.hpp"

namespace ref {

inline void rotatedSize(int &width, int &height, double angle)
{
    double cx = width / 2.0, cy = height / 2.0;
    double R = std::sqrt(cx * cx + cy * cy);
    double px[4] = {0, 0, double(width), double(width)}, py[4] = {0, double(height), 0, double(height)};
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (int i = 0; i < 4; ++i) {
        double th = std::atan2(py[i] - cy, px[i] - cx);
        double X = std::cos(th + angle) * R + cx, Y = std::sin(th + angle) * R + cy;
        if (i == 0) {
            minX = maxX = X, minY = maxY = Y;
        } else {
            if (X < minX) minX = X;
            if (X > maxX) maxX = X;
            if (Y < minY) minY = Y;
            if (Y > maxY) maxY = Y;
        }
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
    float p00 = 0, p01 = 0, p10 = 0, p11 = 0;
    if (x0 >= 0 && y0 >= 0) p00 = s.at(x0, y0)[c];
    if (x1 < s.w && y0 >= 0) p01 = s.at(x1, y0)[c];
    if (x0 >= 0 && y1 < s.h) p10 = s.at(x0, y1)[c];
    if (x1 < s.w && y1 < s.h) p11 = s.at(x1, y1)[c];
    float top = (p01 - p00) * dx + p00;
    float bottom = (p11 - p10) * dx + p10;
    float v = (bottom - top) * dy + top;
    return (uint8_t)(int)(v + 0.5);
}

// bg: the background bytes of one pixel.
inline Pic rotateEngine(const Pic &s, double angle, int mode, int keepSize, const std::vector<uint8_t> &bg)
{
    int newW = s.w, newH = s.h;
    rotatedSize(newW, newH, angle);
    Pic tmp{newW, newH, s.bpp, {}};
    for (int i = 0; i < newW * newH; ++i) tmp.px.insert(tmp.px.end(), bg.begin(), bg.end());
    const int halfW = (newW - 1) / 2, halfH = (newH - 1) / 2;
    const int cx = (s.w - 1) / 2, cy = (s.h - 1) / 2;
    for (int x = -halfW; x <= halfW; ++x)
        for (int y = -halfH; y <= halfH; ++y) {
            float r = (float)std::sqrt(x * x + y * y);
            float th = (float)std::atan2(y, x);
            float sx = (float)(std::cos(th + angle) * r + cx);
            float sy = (float)(std::sin(th + angle) * r + cy);
            uint8_t *d = tmp.at(x + halfW, y + halfH);
            if (mode == 0) {
                int ix = (int)std::floor(sx + 0.5), iy = (int)std::floor(sy + 0.5);
                if (iy >= 0 && iy < s.h && ix >= 0 && ix < s.w)
                    for (int c = 0; c < s.bpp; ++c) d[c] = s.at(ix, iy)[c];
            } else if (sy >= -1.0 && sy < s.h && sx >= -1.0 && sx < s.w) {
                for (int c = 0; c < s.bpp; ++c) d[c] = sampleByte(s, sx, sy, c);
            }
        }
    if (!keepSize) return tmp;
    Pic out{s.w, s.h, s.bpp, {}};
    for (int i = 0; i < s.w * s.h; ++i) out.px.insert(out.px.end(), bg.begin(), bg.end());
    const int offX = (newW - s.w) / 2, offY = (newH - s.h) / 2;
    for (int x = 0; x < s.w; ++x)
        for (int y = 0; y < s.h; ++y) {
            int tx = x + offX, ty = y + offY;
            if (tx >= 0 && tx < newW && ty >= 0 && ty < newH)
                for (int c = 0; c < s.bpp; ++c) out.at(x, y)[c] = tmp.at(tx, ty)[c];
        }
    return out;
}

}  // namespace ref
