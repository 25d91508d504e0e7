// Straightforward versions of the binary-image operations, written the
// slow and obvious way on packed byte grids.  The library's faster code
// must give the same bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace ref {

using Bytes = std::vector<uint8_t>;

struct Grid {
    int w, h;
    Bytes px;  // row-major, w bytes per row
    uint8_t &at(int x, int y) { return px[size_t(y) * w + x]; }
    uint8_t at(int x, int y) const { return px[size_t(y) * w + x]; }
};

// Border removal by sweeps: seeds on the border (and, with a mask, on the
// mask's inner boundary), then column-major sweeps until nothing changes.
inline void removeBorder(Grid &g, const Bytes *mask = nullptr)
{
    const int w = g.w, h = g.h;
    auto in = [&](int x, int y) { return !mask || (*mask)[size_t(y) * w + x] != 0; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            if (!in(x, y))
                g.at(x, y) = 0;
            else if (edge ? g.at(x, y) != 0 : !in(x - 1, y) || !in(x + 1, y) || !in(x, y - 1) || !in(x, y + 1))
                g.at(x, y) = 127;
        }
    for (bool changed = true; changed;) {
        changed = false;
        for (int x = 1; x < w - 1; ++x)
            for (int y = 1; y < h - 1; ++y) {
                if (!in(x, y) || g.at(x, y) != 1) continue;
                if (g.at(x - 1, y) == 127 || g.at(x + 1, y) == 127 || g.at(x, y - 1) == 127 ||
                    g.at(x, y + 1) == 127) {
                    g.at(x, y) = 127;
                    changed = true;
                }
            }
    }
    for (auto &b : g.px)
        if (b == 127) b = 0;
}

// Hole filling through an inverted copy (1 - byte).
inline void fillHole(Grid &g)
{
    Grid s = g;
    for (auto &b : s.px) b = uint8_t(1 - b);
    removeBorder(s);
    for (size_t i = 0; i < g.px.size(); ++i)
        if (s.px[i]) g.px[i] = 1;
}

// Hole filling inside a mask: rewrite, remove border regions, copy the
// survivors into a copy of the input.
inline void fillHoleEx(Grid &g, const Bytes *mask)
{
    Grid keep = g;
    for (size_t i = 0; i < g.px.size(); ++i) {
        if (mask && !(*mask)[i])
            g.px[i] = 1;
        else
            g.px[i] = g.px[i] == 0 ? 1 : 0;
    }
    removeBorder(g, mask);
    for (size_t i = 0; i < g.px.size(); ++i)
        if ((!mask || (*mask)[i]) && g.px[i]) keep.px[i] = 1;
    g = keep;
}

// An element: w x h bytes and its anchor.
struct Element {
    int w, h, ax, ay;
    Bytes on;
};

// Erosion/dilation: x outer, y inner, reads from the input with the fill
// value outside.
inline void morph(Grid &g, const Element &e, bool erode)
{
    const Grid src = g;
    const int fill = erode ? 255 : 0;
    for (int x = 0; x < g.w; ++x)
        for (int y = 0; y < g.h; ++y) {
            int m = fill;
            for (int j = 0; j < e.h; ++j)
                for (int i = 0; i < e.w; ++i) {
                    if (!e.on[size_t(j) * e.w + i]) continue;
                    const int sx = x + i - e.ax, sy = y + j - e.ay;
                    const int v = sx >= 0 && sy >= 0 && sx < g.w && sy < g.h ? src.at(sx, sy) : fill;
                    m = erode ? std::min(m, v) : std::max(m, v);
                }
            g.at(x, y) = uint8_t(m);
        }
}

// Disc of radius r + 1/2 on a (2r+1) square, anchor at the centre.
inline Element disc(int r)
{
    const int n = 2 * r + 1;
    Element e{n, n, r, r, Bytes(size_t(n) * n)};
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) e.on[size_t(j) * n + i] = (i - r) * (i - r) + (j - r) * (j - r) <= r * r + r;
    return e;
}

// Dilation by stamping the disc from every non-interior pixel of value 1.
inline void dilateE1(Grid &g, int radius)
{
    const Grid src = g;
    const Element e = disc(radius);
    auto get = [&](int x, int y) { return x >= 0 && y >= 0 && x < g.w && y < g.h ? src.at(x, y) : 0; };
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            if (get(x, y) != 1) continue;
            bool interior = true;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if ((dx || dy) && get(x + dx, y + dy) != 1) interior = false;
            if (interior) continue;
            for (int j = 0; j < e.h; ++j)
                for (int i = 0; i < e.w; ++i) {
                    const int tx = x - e.ax + i, ty = y - e.ay + j;
                    if (e.on[size_t(j) * e.w + i] && tx >= 0 && ty >= 0 && tx < g.w && ty < g.h) g.at(tx, ty) = 1;
                }
        }
}

// Chamfer 10/14 distances, two passes, frame far, truncated to units.
inline std::vector<int32_t> distances(const Grid &g)
{
    const int w = g.w, h = g.h;
    const int32_t far = 0x1FFFFFFF;
    std::vector<int32_t> d(size_t(w) * h, far);
    auto D = [&](int x, int y) -> int32_t & { return d[size_t(y) * w + x]; };
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x)
            if (!g.at(x, y)) D(x, y) = 0;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x)
            D(x, y) = std::min({D(x, y), D(x - 1, y) + 10, D(x - 1, y - 1) + 14, D(x, y - 1) + 10,
                                D(x + 1, y - 1) + 14});
    for (int y = h - 2; y >= 1; --y)
        for (int x = w - 2; x >= 1; --x)
            D(x, y) = std::min({D(x, y), D(x + 1, y) + 10, D(x + 1, y + 1) + 14, D(x, y + 1) + 10,
                                D(x - 1, y + 1) + 14});
    for (auto &v : d) v = v == far ? 0 : v / 10;
    return d;
}

// Template thinning: raster passes over the interior, deletions written at
// once, until a pass deletes nothing.  Only bytes equal to 1 are tested;
// any non-zero neighbour counts as set.
inline void thin(Grid &g)
{
    for (bool deleted = true; deleted;) {
        deleted = false;
        for (int y = 1; y < g.h - 1; ++y)
            for (int x = 1; x < g.w - 1; ++x) {
                if (g.at(x, y) != 1) continue;
                const bool nw = g.at(x - 1, y - 1), n = g.at(x, y - 1), ne = g.at(x + 1, y - 1);
                const bool w = g.at(x - 1, y), e = g.at(x + 1, y);
                const bool sw = g.at(x - 1, y + 1), s = g.at(x, y + 1), se = g.at(x + 1, y + 1);
                const bool templates[8] = {
                    !nw && !n && !ne && sw && s && se, !sw && !s && !se && nw && n && ne,
                    !nw && !w && !sw && ne && e && se, !ne && !e && !se && nw && w && sw,
                    !n && !ne && !e && w && s,         !nw && !n && !w && e && s,
                    !sw && !w && !s && e && n,         !se && !e && !s && w && n,
                };
                for (bool t : templates)
                    if (t) {
                        g.at(x, y) = 0;
                        deleted = true;
                    }
            }
    }
}

}  // namespace ref
