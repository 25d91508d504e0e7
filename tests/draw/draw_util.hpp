// Helpers of the drawing tests: images as small pictures, crops and flips.
#pragma once

#include <string>

#include "kxtest.hpp"

namespace drawtest {

using namespace kxtest;

// The first byte of every pixel as a picture: '.' for 0, '#' for `ink`, '?'
// for any other byte; rows separated by spaces.
inline std::string picture(const Image *im, uint8_t ink = 1)
{
    std::string s;
    const int b = bpp(im->imageType);
    for (int y = 0; y < im->height; ++y) {
        if (y) s += ' ';
        for (int x = 0; x < im->width; ++x) {
            const uint8_t v = im->data[size_t(y) * im->pitch + size_t(x) * b];
            s += v == 0 ? '.' : v == ink ? '#' : '?';
        }
    }
    return s;
}

// A w x h grey image after `draw`.
template <class Draw>
std::string drawn(int w, int h, Draw draw, uint8_t ink = 1)
{
    auto im = makeImage(KIT_GRAY, w, h);
    draw(im.get());
    return picture(im.get(), ink);
}

// The w x h window at (x0, y0) of a picture of width `pw`.
inline std::string crop(const std::string &p, int pw, int x0, int y0, int w, int h)
{
    std::string s;
    for (int y = 0; y < h; ++y) {
        if (y) s += ' ';
        s.append(p, size_t(y0 + y) * (pw + 1) + x0, size_t(w));
    }
    return s;
}

// The picture mirrored left to right (`flipX`) and/or top to bottom.
inline std::string flip(const std::string &p, int w, bool flipX, bool flipY)
{
    const int h = int(p.size() + 1) / (w + 1);
    std::string s = p;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) s[size_t(y) * (w + 1) + x] = p[size_t(flipY ? h - 1 - y : y) * (w + 1) + (flipX ? w - 1 - x : x)];
    return s;
}

// The picture with rows and columns exchanged.
inline std::string transpose(const std::string &p, int w, int h)
{
    std::string s;
    for (int x = 0; x < w; ++x) {
        if (x) s += ' ';
        for (int y = 0; y < h; ++y) s += p[size_t(y) * (w + 1) + x];
    }
    return s;
}

}  // namespace drawtest
