// Shared frame helpers: assertion reporting, record checks and colour rules.
#include "frame.hpp"

#include <cstdio>
#include <cstdlib>

namespace kx {

void reportFailure(const char *text, const SourceLocation &where) noexcept
{
    std::fprintf(stderr, "kxpre: assertion \"%s\" failed at %s:%u\n", text, where.file_name(), unsigned(where.line()));
#ifndef NDEBUG
    std::abort();
#endif
}

PixelValue pixelValue(int imageType, uint32_t colour, GreyRule rule) noexcept
{
    PixelValue v;
    v.bpp = kxiBytesPerPixel(imageType);
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
