// The seed fill, in place:
//   kxFill  4-connected fill from a seed   KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
// Other image types are returned untouched.
//
// The region is every pixel 4-connected to the seed through pixels equal to
// the seed pixel (grey and binary: the byte; colour: bytes B, G, R, alpha
// ignored).  Painting never produces the target value (an equal fill value
// returns at once), so the painted set does not depend on the visiting
// order; the fill walks it as horizontal runs kept on one growable stack:
// each run is painted whole, then the rows above and below it are scanned
// for further runs.
#include "draw/draw_detail.hpp"

using namespace kx;
using namespace kx::draw;

namespace {

struct Run {
    int32_t y, left, right, dir;  // painted run on row y; scan row y + dir
};

// B: bytes compared and written per pixel (1 grey/binary, 3 colour), S the
// pixel stride.
template <int B, int S>
Image *seedFill(Image *image, int x, int y, const uint8_t *fill)
{
    const int w = kxiGetWidth(image), h = kxiGetHeight(image);
    auto *data = static_cast<uint8_t *>(kxiGetData(image));
    const int pitch = image->pitch;
    if (x < 0 || y < 0 || x >= w || y >= h) return image;
    uint8_t target[B];
    std::memcpy(target, data + ptrdiff_t(y) * pitch + ptrdiff_t(x) * S, B);
    if (std::memcmp(target, fill, B) == 0) return image;  // nothing could tell painted from unpainted

    auto px = [&](int r, int c) { return data + ptrdiff_t(r) * pitch + ptrdiff_t(c) * S; };
    auto match = [&](const uint8_t *p) {
        if constexpr (B == 1) return p[0] == target[0];
        else return p[0] == target[0] && p[1] == target[1] && p[2] == target[2];
    };
    auto paint = [&](int r, int l, int rt) {
        uint8_t *p = px(r, l);
        if constexpr (B == 1) std::memset(p, fill[0], size_t(rt - l + 1));
        else for (int c = l; c <= rt; ++c, p += S) std::memcpy(p, fill, B);
    };
    // The run through (c, r), which matches: extended both ways and painted.
    auto grow = [&](int r, int c, int &l, int &rt) {
        const uint8_t *base = px(r, 0);
        l = c, rt = c;
        while (l > 0 && match(base + ptrdiff_t(l - 1) * S)) --l;
        while (rt + 1 < w && match(base + ptrdiff_t(rt + 1) * S)) ++rt;
        paint(r, l, rt);
    };

    Growable<Run> stack;
    int l, r;
    grow(y, x, l, r);
    if (!(stack.push({y, l, r, 1}) && stack.push({y, l, r, -1}))) return kx::failed("pHead", image);
    while (!stack.empty()) {
        const Run s = stack.pop();
        const int ny = s.y + s.dir;
        if (ny < 0 || ny >= h) continue;
        const uint8_t *base = px(ny, 0);
        for (int c = s.left; c <= s.right; ++c) {
            if (!match(base + ptrdiff_t(c) * S)) continue;
            grow(ny, c, l, r);
            bool ok = stack.push({ny, l, r, s.dir});
            // Parts of the run reaching past its parent also border the
            // parent's row there.
            if (l < s.left) ok = ok && stack.push({ny, l, s.left - 1, -s.dir});
            if (r > s.right) ok = ok && stack.push({ny, s.right + 1, r, -s.dir});
            if (!ok) return kx::failed("node", image);
            c = r + 1;
        }
    }
    return image;
}

Image *seedFillGray(Image *image, int x, int y, uint32_t colour)
{
    const uint8_t fill = uint8_t(std::min<uint32_t>(colour, image->imageType == KIT_BIN ? 1 : 255));
    return seedFill<1, 1>(image, x, y, &fill);
}

Image *seedFillRgb(Image *image, int x, int y, uint32_t colour)
{
    const int type = image->imageType;
    const uint8_t fill[3] = {blueOf(colour), greenOf(colour), redOf(colour)};
    return type == KIT_RGB ? seedFill<3, 3>(image, x, y, fill) : seedFill<3, 4>(image, x, y, fill);
}

}  // namespace

extern "C" {

Image *kxFill(Image *image, int x, int y, uint32_t colour)
{
    if (!image || !typeOk(image)) return image;
    switch (kxiGetType(image)) {
    case KIT_BIN:
    case KIT_GRAY: return seedFillGray(image, x, y, colour);
    case KIT_RGB:
    case KIT_RGBA: return seedFillRgb(image, x, y, colour);
    default: return image;
    }
}

}  // extern "C"
