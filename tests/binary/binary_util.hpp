// Binary test images (pictures drawn as text, noise) and the plain versions
// of erosion/dilation, distances and thinning, which the library does by
// row steps, two passes and bit planes.
#pragma once

#include <algorithm>
#include <random>
#include <string>

#include "kxtest.hpp"

namespace bintest {

using kxtest::ImagePtr;
using kxtest::PaddedImage;
using Bytes = std::vector<uint8_t>;

struct Grid {
    int w, h;
    Bytes px;  // row-major, w bytes per row
    uint8_t &at(int x, int y) { return px[size_t(y) * w + x]; }
    uint8_t at(int x, int y) const { return px[size_t(y) * w + x]; }
};

// Rows separated by spaces; '#' is 1, '.' is 0, 'M' is 127, 'F' is 255.
inline Grid draw(const std::string &rows)
{
    Grid g{int(rows.find(' ') == std::string::npos ? rows.size() : rows.find(' ')), 0, {}};
    for (char c : rows)
        if (c != ' ') g.px.push_back(c == '#' ? 1 : c == 'M' ? 127 : c == 'F' ? 255 : 0);
    g.h = int(g.px.size()) / g.w;
    return g;
}

inline ImagePtr image(const Grid &g, int type = KIT_BIN) { return kxtest::makeImage(type, g.w, g.h, g.px); }
inline Grid grid(const Image *im) { return Grid{im->width, im->height, kxtest::pixels(im)}; }

// Noise: each pixel 1 with probability perMille / 1000.
inline Grid noise(int w, int h, int perMille, uint32_t seed)
{
    std::mt19937 rng(seed);
    Grid g{w, h, Bytes(size_t(w) * h)};
    for (auto &b : g.px) b = int(rng() % 1000) < perMille;
    return g;
}

// A serpentine corridor inside [x0, x1] x [y0, y1]: rows y0, y0 + 2, ...
// of 1s, joined alternately at their right and left ends.
inline void serpentine(Grid &g, int x0, int y0, int x1, int y1)
{
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if ((y - y0) % 2 == 0 || x == ((y - y0) % 4 == 1 ? x1 : x0)) g.at(x, y) = 1;
}

// Erosion/dilation: each pixel the min/max over the element's set
// positions (anchor at ax, ay), 255/0 outside the image.
inline void morph(Grid &g, int ew, int eh, int ax, int ay, const Bytes &on, bool erode)
{
    const Grid src = g;
    const int fill = erode ? 255 : 0;
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            int m = fill;
            for (int j = 0; j < eh; ++j)
                for (int i = 0; i < ew; ++i) {
                    const int sx = x + i - ax, sy = y + j - ay;
                    const int v = sx >= 0 && sy >= 0 && sx < g.w && sy < g.h ? src.at(sx, sy) : fill;
                    if (on[size_t(j) * ew + i]) m = erode ? std::min(m, v) : std::max(m, v);
                }
            g.at(x, y) = uint8_t(m);
        }
}

// Chamfer 10/14 distances by brute force: the least 10 * max + 4 * min of
// |dx|, |dy| to an unset interior pixel (the interior is convex, so paths
// of side and diagonal steps stay inside), in whole units; the frame and
// pixels no unset pixel reaches are 0.
inline std::vector<int32_t> distances(const Grid &g)
{
    std::vector<std::pair<int, int>> unset;
    for (int y = 1; y < g.h - 1; ++y)
        for (int x = 1; x < g.w - 1; ++x)
            if (!g.at(x, y)) unset.push_back({x, y});
    std::vector<int32_t> d(g.px.size(), 0);
    for (int y = 1; y < g.h - 1; ++y)
        for (int x = 1; x < g.w - 1; ++x) {
            int best = -1;
            for (auto [ux, uy] : unset) {
                const int a = std::abs(ux - x), b = std::abs(uy - y), v = 10 * std::max(a, b) + 4 * std::min(a, b);
                if (best < 0 || v < best) best = v;
            }
            d[size_t(y) * g.w + x] = best < 0 ? 0 : best / 10;
        }
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
                if ((!nw && !n && !ne && sw && s && se) || (!sw && !s && !se && nw && n && ne) ||
                    (!nw && !w && !sw && ne && e && se) || (!ne && !e && !se && nw && w && sw) ||
                    (!n && !ne && !e && w && s) || (!nw && !n && !w && e && s) || (!sw && !w && !s && e && n) ||
                    (!se && !e && !s && w && n)) {
                    g.at(x, y) = 0;
                    deleted = true;
                }
            }
    }
}

}  // namespace bintest
