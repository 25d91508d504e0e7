/*
 * kxtext.h - the text renderer (built on FreeType and fontconfig).
 *
 * Fonts are looked up by family name through fontconfig and rendered with
 * FreeType into 24-bit B, G, R bitmaps, anti-aliased.  Text is given as
 * code page 1252 bytes.  Every object belongs to its creator; nothing is
 * cached between calls, so fonts created on different threads are
 * independent.
 */
#ifndef KXTEXT_H
#define KXTEXT_H

#include <stdint.h>

#if defined(__GNUC__)
#define KXTEXT_API __attribute__((visibility("default")))
#else
#define KXTEXT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Style bits of kxtCreateFont. */
#define KXT_UNDERLINE 0x1
#define KXT_ITALIC 0x2
#define KXT_STRIKEOUT 0x4

/* Largest em height in pixels; larger requests are reduced to it. */
#define KXT_MAX_HEIGHT 4096

typedef struct KxtFont KxtFont;

/* A font for drawing.
 *   family  family name (e.g. "Arial"); null or empty: the sans-serif
 *           default.  A family fontconfig does not know resolves to its
 *           sans-serif default as well.
 *   height  > 0: em height in pixels; < 0: cell height (ascent + descent)
 *           in pixels; 0: 12 pixels.  At most KXT_MAX_HEIGHT.
 *   weight  OpenType weight (100 thin .. 400 regular .. 900 black); the
 *           nearest the family offers is taken
 *   style   KXT_UNDERLINE, KXT_ITALIC (a slanted face, or a sheared upright
 *           one if the family has none), KXT_STRIKEOUT
 * Null when no font file can be found or opened. */
KXTEXT_API KxtFont *kxtCreateFont(const char *family, int height, int weight, unsigned style);

/* Releases a font; null is ignored. */
KXTEXT_API void kxtDestroyFont(KxtFont *font);

/* Extent of `length` bytes of text on one line: the sum of the glyph
 * advances (whole pixels) and the cell height.  Returns 1, or 0 (outputs
 * untouched) for a null font, text or output or a negative length. */
KXTEXT_API int kxtTextExtent(KxtFont *font, const char *text, int length, int *width, int *height);

/* Draws `length` bytes of text with its cell's top-left corner at (x, y) of
 * a B, G, R bitmap (`stride` bytes per row): the cell (extent) is filled with
 * backColour, the glyphs are blended from backColour to textColour by their
 * coverage, underline and strike-out bars are drawn in textColour.
 * Colours are 0x00RRGGBB.  Everything is clipped to the bitmap.  Returns 1,
 * or 0 for a null font, text or bitmap or a negative length. */
KXTEXT_API int kxtTextOut(KxtFont *font, uint8_t *bgr, int width, int height, int stride, int x, int y,
                          const char *text, int length, uint32_t textColour, uint32_t backColour);

#ifdef __cplusplus
}
#endif

#endif /* KXTEXT_H */
