// The text renderer: fontconfig finds the font file, FreeType renders the
// glyphs into B, G, R bitmaps.
#include "kxtext.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdlib>
#include <cstring>

struct KxtFont {
    FT_Library library;
    FT_Face face;
    unsigned style;
    int ascent, descent;  // pixels above and below the baseline
};

namespace {

// Code page 1252 bytes 0x80..0x9F; the five unassigned ones keep their
// C1 code points (the font shows them as its missing-glyph box).
const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t codePoint(unsigned char c) { return c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c; }

int ceil26(FT_Pos v) { return int((v + 63) >> 6); }

// The font file fontconfig picks for the request (the family, then the
// sans-serif default); false when there is none.
bool lookUp(const char *family, int weight, bool italic, double pixels, char *path, size_t pathSize, int *index,
            bool *slanted)
{
    FcPattern *pat = FcPatternCreate();
    if (!pat) return false;
    if (family && *family) FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8 *>(family));
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8 *>("sans-serif"));
    FcPatternAddInteger(pat, FC_WEIGHT, FcWeightFromOpenType(std::clamp(weight, 1, 1000)));
    FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddDouble(pat, FC_PIXEL_SIZE, pixels);
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    bool found = false;
    if (FcConfigSubstitute(nullptr, pat, FcMatchPattern)) {
        FcDefaultSubstitute(pat);
        FcResult result = FcResultNoMatch;
        FcPattern *match = FcFontMatch(nullptr, pat, &result);
        FcChar8 *file = nullptr;
        if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file &&
            std::strlen(reinterpret_cast<char *>(file)) < pathSize) {
            std::strcpy(path, reinterpret_cast<char *>(file));
            int idx = 0, slant = FC_SLANT_ROMAN;
            FcPatternGetInteger(match, FC_INDEX, 0, &idx);
            FcPatternGetInteger(match, FC_SLANT, 0, &slant);
            *index = idx;
            *slanted = slant != FC_SLANT_ROMAN;
            found = true;
        }
        if (match) FcPatternDestroy(match);
    }
    FcPatternDestroy(pat);
    return found;
}

// Loads the glyph of one byte, rendered anti-aliased; null on failure.
FT_GlyphSlot renderGlyph(KxtFont *font, unsigned char c)
{
    const FT_UInt index = FT_Get_Char_Index(font->face, codePoint(c));
    if (FT_Load_Glyph(font->face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL)) return nullptr;
    if (FT_Render_Glyph(font->face->glyph, FT_RENDER_MODE_NORMAL)) return nullptr;
    return font->face->glyph;
}

int advanceOf(KxtFont *font, unsigned char c)
{
    const FT_UInt index = FT_Get_Char_Index(font->face, codePoint(c));
    if (FT_Load_Glyph(font->face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL)) return 0;
    return int((font->face->glyph->advance.x + 32) >> 6);
}

struct Target {
    uint8_t *bgr;
    int width, height, stride;
    uint8_t text[3], back[3];

    void fillRect(long x0, long y0, long x1, long y1, const uint8_t c[3]) const  // [x0, x1) x [y0, y1)
    {
        x0 = std::max(x0, 0L), y0 = std::max(y0, 0L);
        x1 = std::min(x1, long(width)), y1 = std::min(y1, long(height));
        for (long y = y0; y < y1; ++y)
            for (long x = x0; x < x1; ++x) std::memcpy(bgr + y * stride + 3 * x, c, 3);
    }
    void blend(long x, long y, unsigned a) const
    {
        if (x < 0 || y < 0 || x >= width || y >= height || a == 0) return;
        uint8_t *p = bgr + y * stride + 3 * x;
        for (int k = 0; k < 3; ++k) p[k] = uint8_t((p[k] * (255 - a) + text[k] * a + 127) / 255);
    }
};

void splitColour(uint32_t c, uint8_t out[3])
{
    out[0] = uint8_t(c), out[1] = uint8_t(c >> 8), out[2] = uint8_t(c >> 16);
}

}  // namespace

extern "C" {

KxtFont *kxtCreateFont(const char *family, int height, int weight, unsigned style)
{
    long h = height == 0 ? 12 : std::labs(long(height));
    h = std::min<long>(h, KXT_MAX_HEIGHT);
    char path[4096];
    int index = 0;
    bool slanted = false;
    if (!lookUp(family, weight, style & KXT_ITALIC, double(h), path, sizeof path, &index, &slanted)) return nullptr;
    auto *font = static_cast<KxtFont *>(std::calloc(1, sizeof(KxtFont)));
    if (!font) return nullptr;
    font->style = style;
    if (FT_Init_FreeType(&font->library)) {
        std::free(font);
        return nullptr;
    }
    if (FT_New_Face(font->library, path, index, &font->face) || !FT_IS_SCALABLE(font->face)) {
        kxtDestroyFont(font);
        return nullptr;
    }
    FT_Face face = font->face;
    long em = h;
    if (height < 0) {
        // The em size whose cell (ascender + descender) is h pixels.
        const long cell = long(face->ascender) - long(face->descender);
        if (cell > 0) em = std::max(1L, h * face->units_per_EM / cell);
    }
    if (FT_Set_Pixel_Sizes(face, 0, FT_UInt(em))) {
        kxtDestroyFont(font);
        return nullptr;
    }
    if ((style & KXT_ITALIC) && !slanted) {
        FT_Matrix shear = {0x10000, 0x0366A, 0, 0x10000};  // about 12 degrees
        FT_Set_Transform(face, &shear, nullptr);
    }
    font->ascent = ceil26(face->size->metrics.ascender);
    font->descent = ceil26(-face->size->metrics.descender);
    return font;
}

void kxtDestroyFont(KxtFont *font)
{
    if (!font) return;
    if (font->face) FT_Done_Face(font->face);
    if (font->library) FT_Done_FreeType(font->library);
    std::free(font);
}

int kxtTextExtent(KxtFont *font, const char *text, int length, int *width, int *height)
{
    if (!font || !text || !width || !height || length < 0) return 0;
    long w = 0;
    for (int i = 0; i < length; ++i) w += advanceOf(font, static_cast<unsigned char>(text[i]));
    *width = int(std::min<long>(w, INT32_MAX));
    *height = font->ascent + font->descent;
    return 1;
}

int kxtTextOut(KxtFont *font, uint8_t *bgr, int width, int height, int stride, int x, int y, const char *text,
               int length, uint32_t textColour, uint32_t backColour)
{
    if (!font || !text || !bgr || length < 0 || width < 0 || height < 0 || stride < 3 * width) return 0;
    Target t{bgr, width, height, stride, {}, {}};
    splitColour(textColour, t.text);
    splitColour(backColour, t.back);
    int extent = 0, cell = 0;
    kxtTextExtent(font, text, length, &extent, &cell);
    t.fillRect(x, y, long(x) + extent, long(y) + cell, t.back);
    const long baseline = long(y) + font->ascent;
    long pen = x;
    for (int i = 0; i < length && pen < long(width) + cell; ++i) {  // overhangs reach back at most a cell
        const unsigned char c = static_cast<unsigned char>(text[i]);
        FT_GlyphSlot g = renderGlyph(font, c);
        if (!g) continue;
        const FT_Bitmap &bm = g->bitmap;
        const long left = pen + g->bitmap_left, top = baseline - g->bitmap_top;
        for (unsigned r = 0; r < bm.rows; ++r) {
            const unsigned char *src = bm.buffer + long(r) * bm.pitch;
            for (unsigned k = 0; k < bm.width; ++k) {
                unsigned a = 0;
                if (bm.pixel_mode == FT_PIXEL_MODE_GRAY)
                    a = bm.num_grays > 1 ? src[k] * 255u / (bm.num_grays - 1) : src[k];
                else if (bm.pixel_mode == FT_PIXEL_MODE_MONO)
                    a = (src[k >> 3] >> (7 - (k & 7)) & 1) ? 255 : 0;
                t.blend(left + k, top + r, a);
            }
        }
        pen += (g->advance.x + 32) >> 6;
    }
    FT_Face face = font->face;
    const FT_Fixed ys = face->size->metrics.y_scale;
    if (font->style & KXT_UNDERLINE) {
        const long thick = std::max(1L, long((FT_MulFix(face->underline_thickness, ys) + 32) >> 6));
        const long pos = long((FT_MulFix(-face->underline_position, ys) + 32) >> 6);
        const long top = baseline + std::max(1L, pos) - thick / 2;
        t.fillRect(x, top, long(x) + extent, top + thick, t.text);
    }
    if (font->style & KXT_STRIKEOUT) {
        long pos = 0, size = 0;
        if (auto *os2 = static_cast<TT_OS2 *>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2)); os2 && os2->version != 0xFFFF) {
            pos = long((FT_MulFix(os2->yStrikeoutPosition, ys) + 32) >> 6);
            size = long((FT_MulFix(os2->yStrikeoutSize, ys) + 32) >> 6);
        }
        if (pos <= 0) pos = font->ascent * 3 / 10;
        size = std::max(1L, size);
        const long top = baseline - pos - size / 2;
        t.fillRect(x, top, long(x) + extent, top + size, t.text);
    }
    return 1;
}

}  // extern "C"
