// Text drawn through the text renderer:
//   kxFillTextEx  text block in any face, colours, style   KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA -> KIT_RGB
//   kxFillText    black-on-white shortcut, transparent      as kxFillTextEx
// The image is converted to KIT_RGB first and stays so.  The block (widest
// line x tallest line x line count) is rendered only as far as it lands in
// the image: the part beyond the right and bottom edges is never copied, so
// it is never drawn either.
#include <cstring>

#include "draw/draw_detail.hpp"
#include "kxtext.h"

using namespace kx;

namespace {

constexpr int kMaxText = 4096;
constexpr int kMaxFace = 31;

struct Line {
    int start, length;
};

// Frees the font on scope exit.
struct FontHolder {
    KxtFont *font;
    ~FontHolder() { kxtDestroyFont(font); }
};

}  // namespace

extern "C" {

void kxFillTextEx(Image *image, const char *text, int x, int y, const char *face, int height, uint32_t textColour,
                  uint32_t backColour, uint32_t flags)
{
    if (!image || !text) return;
    const int n = int(strnlen(text, kMaxText));
    if (n <= 0) return;
    const int type = kxiGetImageType(image);
    if (type < 1 || type > 32) return;
    if (kxiIsVirtual(image) && type != KIT_RGB) return;
    if (type != KIT_RGB && !kxiCast(image, KIT_RGB)) return;
    if (!typeOk(image)) return;
    const int width = kxiGetWidth(image), imageHeight = kxiGetHeight(image);
    x = std::max(x, 0), y = std::max(y, 0);
    if (x >= width || y >= imageHeight) return;

    char family[kMaxFace + 1] = "Arial";
    if (face) {
        std::strncpy(family, face, kMaxFace);
        family[kMaxFace] = '\0';
    }
    unsigned style = 0;
    if (flags & 0x2) style |= KXT_UNDERLINE;
    if (flags & 0x4) style |= KXT_ITALIC;
    if (flags & 0x8) style |= KXT_STRIKEOUT;
    const FontHolder font{kxtCreateFont(family, height, flags & 0x4 ? 5 : 15, style)};

    // Lines: the non-empty pieces between line feeds, measured; a line that
    // cannot be measured counts as 12 x 12.
    Scratch<Line> lines(size_t(n / 2 + 1));
    if (!lines) return kx::failed("lines");
    size_t count = 0;
    int64_t blockW = 0, lineH = 0;
    for (int i = 0; i < n;) {
        int j = i;
        while (j < n && text[j] != '\n') ++j;
        if (j > i) {
            int w = 12, h = 12;
            if (!kxtTextExtent(font.font, text + i, j - i, &w, &h)) w = h = 12;
            blockW = std::max<int64_t>(blockW, w), lineH = std::max<int64_t>(lineH, h);
            lines[count++] = Line{i, j - i};
        }
        i = j + 1;
    }
    const int64_t blockH = lineH * int64_t(count);
    if (count == 0 || blockW <= 0 || blockH <= 0) return;  // nothing to draw

    // The part of the block inside the image, rendered as a B, G, R bitmap.
    const int ww = int(std::min<int64_t>(blockW, width - x)), hh = int(std::min<int64_t>(blockH, imageHeight - y));
    const size_t stride = (size_t(ww) * 3 + 3) & ~size_t(3);
    Scratch<uint8_t> pDibData(stride * size_t(hh));
    if (!pDibData) return kx::failed("pDibData");
    const uint8_t back[3] = {blueOf(backColour), greenOf(backColour), redOf(backColour)};
    for (int r = 0; r < hh; ++r)
        for (int c = 0; c < ww; ++c) std::memcpy(&pDibData[size_t(r) * stride + 3 * size_t(c)], back, 3);
    for (size_t k = 0; k < count && int64_t(k) * lineH < hh; ++k)
        kxtTextOut(font.font, pDibData.get(), ww, hh, int(stride), 0, int(int64_t(k) * lineH), text + lines[k].start,
                   lines[k].length, textColour & 0xFFFFFF, backColour & 0xFFFFFF);

    const bool transparent = flags & 0x10;
    for (int r = 0; r < hh; ++r) {
        const uint8_t *src = &pDibData[size_t(r) * stride];
        uint8_t *dst = row(image, y + r) + size_t(x) * 3;
        if (!transparent) {
            std::memcpy(dst, src, size_t(ww) * 3);
            continue;
        }
        for (int c = 0; c < ww; ++c, src += 3, dst += 3)
            if (std::memcmp(src, back, 3) != 0) std::memcpy(dst, src, 3);
    }
}

void kxFillText(Image *image, const char *text, int x, int y, int height, uint32_t textColour)
{
    kxFillTextEx(image, text, x, y, "Arial", height, textColour, 0xFFFFFFFF, 0x10);
}

}  // extern "C"
