// Test images for the binary family: pictures drawn as text, spirals and
// seeded noise, and conversions between images and reference grids.
#pragma once

#include <random>
#include <string>

#include "kxtest.hpp"
#include "ref_binary.hpp"

namespace bintest {

using kxtest::ImagePtr;

// Rows separated by spaces; '#' is 1, '.' is 0, digits are themselves,
// 'M' is 127, 'F' is 255.
inline ref::Grid draw(const std::string &rows)
{
    ref::Grid g{int(rows.find(' ') == std::string::npos ? rows.size() : rows.find(' ')), 0, {}};
    for (char c : rows)
        if (c != ' ')
            g.px.push_back(c == '#' ? 1 : c == '.' ? 0 : c == 'M' ? 127 : c == 'F' ? 255 : uint8_t(c - '0'));
    g.h = int(g.px.size()) / g.w;
    return g;
}

inline ImagePtr image(const ref::Grid &g, int type = KIT_BIN) { return kxtest::makeImage(type, g.w, g.h, g.px); }

inline ref::Grid grid(const Image *im) { return ref::Grid{im->width, im->height, kxtest::pixels(im)}; }

// Noise: each pixel 1 with probability p (per mille).
inline ref::Grid noise(int w, int h, int perMille, uint32_t seed)
{
    std::mt19937 rng(seed);
    ref::Grid g{w, h, ref::Bytes(size_t(w) * h)};
    for (auto &b : g.px) b = int(rng() % 1000) < perMille;
    return g;
}

// A square spiral of 1s with 1-pixel gaps inside the box [x0, x1] x [y0, y1];
// returns the index of its innermost pixel.
inline size_t spiral(ref::Grid &g, int x0, int y0, int x1, int y1)
{
    int l = x0, t = y0, r = x1, b = y1, x = x0, y = y0;
    g.at(x, y) = 1;
    auto walk = [&](int dx, int dy, int steps) {
        for (int i = 0; i < steps; ++i) g.at(x += dx, y += dy) = 1;
    };
    while (l <= r && t <= b) {
        walk(1, 0, r - x);
        t += 2;
        if (t > b) break;
        walk(0, 1, b - y);
        r -= 2;
        if (l > r) break;
        walk(-1, 0, x - l);
        b -= 2;
        if (t > b) break;
        walk(0, -1, y - t);
        l += 2;
    }
    return size_t(y) * g.w + x;
}

// The asserted text as a regular expression that matches it literally.
inline std::string literal(const std::string &text)
{
    std::string out;
    for (char c : text) out += std::string(std::string("()[]{}.*+?^$|\\").find(c) == std::string::npos ? "" : "\\") + c;
    return out;
}

}  // namespace bintest

// EXPECT_KX_ASSERT for texts holding regular-expression characters.
#ifdef NDEBUG
#define EXPECT_KX_ASSERT_TEXT(statement, text) EXPECT_KX_ASSERT(statement, text)
#else
#define EXPECT_KX_ASSERT_TEXT(statement, text) EXPECT_DEATH(statement, bintest::literal(text))
#endif
