// Shared frame helpers: assertion reporting, record checks and colour rules.
#include "frame.hpp"

#include <cstdio>
#include <cstdlib>

namespace kx {

void assertFailed(const char *text, const char *file, int line) noexcept
{
    std::fprintf(stderr, "kxpre: assertion \"%s\" failed at %s:%d\n", text, file, line);
#ifndef NDEBUG
    std::abort();
#endif
}

bool wellFormed(const Image *im) noexcept
{
    const int bpp = bytesPerPixel(im->imageType);
    if (bpp == 0 || !im->data || im->width < 1 || im->height < 1) return false;
    if (int64_t(im->pitch) < int64_t(im->width) * bpp) return false;
    if (int64_t(im->pitch) * im->height > INT32_MAX) return false;
    return ((im->type & 0x1F8) >> 3) + 1 == bpp;
}

bool byteMaskOk(const Image *m) noexcept
{
    if (!m || !m->data || m->width < 1 || m->height < 1 || m->pitch < m->width) return false;
    return int64_t(m->pitch) * m->height <= INT32_MAX;
}

PixelValue pixelValue(int imageType, uint32_t colour, GreyRule rule) noexcept
{
    PixelValue v;
    v.bpp = bytesPerPixel(imageType);
    switch (imageType) {
    case KIT_BIN: v.bytes[0] = colour != 0; break;
    case KIT_GRAY:
        if (colour <= 255 || rule == GreyRule::LowByte)
            v.bytes[0] = uint8_t(colour);
        else if (rule == GreyRule::Clamp)
            v.bytes[0] = 255;
        else
            v.bytes[0] = luminance(blueOf(colour), greenOf(colour), redOf(colour));
        break;
    case KIT_RGB:
    case KIT_RGBA:
        v.bytes[0] = blueOf(colour);
        v.bytes[1] = greenOf(colour);
        v.bytes[2] = redOf(colour);
        v.bytes[3] = alphaOf(colour);
        break;
    default: break;
    }
    return v;
}

uint32_t colourAt(int imageType, const uint8_t *p) noexcept
{
    switch (imageType) {
    case KIT_BIN:
    case KIT_GRAY: return p[0];
    case KIT_RGB: return 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    case KIT_RGBA: return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    default: return 0;
    }
}

}  // namespace kx
