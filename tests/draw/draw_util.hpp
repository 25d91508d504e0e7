// Helpers of the drawing tests: images as small pictures, crops and mirrors.
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

// A w x h picture whose pixel (x, y) is pixel from(x, y) of picture `p` of
// width `pw`: crops, mirrors, transposes.
template <class From>
std::string remap(const std::string &p, int pw, int w, int h, From from)
{
    std::string s;
    for (int y = 0; y < h; ++y) {
        if (y) s += ' ';
        for (int x = 0; x < w; ++x) s += p[size_t(from(x, y).second) * (pw + 1) + from(x, y).first];
    }
    return s;
}

}  // namespace drawtest
