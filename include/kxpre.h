/*
 * kxpre.h - the image preprocessing library.
 *
 * Flat C functions that threshold, filter, map, thin, clean, transform and
 * draw into images of the image library (kximage.h).  Every operation works
 * in place on the Image it is given and returns that same pointer unless its
 * comment says otherwise; when a result needs another size or type the
 * caller's record is re-shaped, so the caller's pointer stays valid.
 *
 * Conventions shared by every function:
 *  - Image types: KIT_BIN 1 (bytes 0/1), KIT_GRAY 8, KIT_RGB 24 (B,G,R),
 *    KIT_RGBA 32 (B,G,R,A).  Pixel (x, y) starts at data + y*pitch + x*bpp.
 *  - Colours are unsigned 32-bit 0xAARRGGBB values, blue in the low byte.
 *  - Point lists are arrays of (x, y) pairs of int, x first.
 *  - An image whose imageType is outside 1..32, or whose record is not a
 *    consistent layout (null data, a side below 1, pitch < width * bpp,
 *    `type` disagreeing with imageType), makes an operation return at once
 *    with its do-nothing result.  Unsupported types inside 1..32 and
 *    mismatched sizes do nothing likewise, as each comment states.
 *  - A broken precondition (a required null pointer, a failed allocation)
 *    reports the asserted expression with file and line on stderr.  Debug
 *    builds then abort; release builds return the do-nothing result.
 *  - Only pixel bytes are touched: the bytes between width * bpp and pitch
 *    of a wrapped image's rows belong to the caller and are never read as
 *    pixels or written.
 *  - Nothing is kept between calls; calls on different images may run on
 *    different threads at once.
 */
#ifndef KXPRE_H
#define KXPRE_H

#include <stdint.h>

#include "kxgeom.h"
#include "kximage.h"
#include "kxmask.h"
#include "kxmatrix.h"

#if defined(__GNUC__)
#define KX_API __attribute__((visibility("default")))
#else
#define KX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================
 * Pixel access
 * ====================================================================== */

/* Colour value of pixel (x, y).
 * KIT_BIN/KIT_GRAY: the byte; KIT_RGB: 0xFF000000 | R<<16 | G<<8 | B;
 * KIT_RGBA: A<<24 | R<<16 | G<<8 | B.
 * Returns 0 outside the image, for other types and for an unusable record.
 * Asserts "image". */
KX_API uint32_t kxGetPixel(const Image *image, int x, int y);

/* Mean colour of the (2|radius|+1)^2 square around (x, y), clipped to the
 * image: each channel's integer sum divided by the visited count, truncated.
 * KIT_BIN: 1 when at least half of the visited pixels are set
 * (2 * sum >= count, so a tie gives 1), else 0.
 * Assembled as kxGetPixel does; KIT_RGB with no visited pixel gives
 * 0xFF000000, the other types 0.  Asserts "image".
 * Note: the half-rule compares 2 * sum with the count, so radius 0 returns
 * the pixel itself and an odd window needs a true majority. */
KX_API uint32_t kxGetPixelE1(const Image *image, int x, int y, int radius);

/* Stores a colour at (x, y); nothing outside the image.
 * KIT_BIN 1 for colour > 0; KIT_GRAY colour, 255 above 255; KIT_RGB B,G,R;
 * KIT_RGBA B,G,R,A.  Asserts "image". */
KX_API void kxSetPixel(Image *image, int x, int y, uint32_t colour);

/* Stores a colour, as kxSetPixel does, at each of `count` points of the
 * list shifted by (dx, dy); points outside are skipped.  Nothing for a null
 * list or count <= 0.  Asserts "image". */
KX_API void kxSetPixelE1(Image *image, const int *points, int count, int dx, int dy, uint32_t colour);

/* Fills the image with one colour, optionally under a mask.
 * mask (may be null): byte x of each mask row (its own pitch) governs pixel
 * x, whatever the mask's type; only min(width) x min(height) is filled,
 * where the mask byte is non-zero (invertMask 0) or zero (invertMask != 0).
 * An unusable mask record does nothing.
 * KIT_BIN 1 for colour != 0; KIT_GRAY the colour when <= 255, else its
 * luminance R*0.299 + G*0.587 + B*0.114 (double, truncated); KIT_RGB B,G,R;
 * KIT_RGBA B,G,R,A.  Asserts "image". */
KX_API void kxSetPixelEx(Image *image, uint32_t colour, const Image *mask, int invertMask);

/* ======================================================================
 * Pixel-wise combination and channels
 * ====================================================================== */

/* Combination codes of kxPixelMerge. */
#define KX_MERGE_ADD 1204
#define KX_MERGE_SUBTRACT 1205
#define KX_MERGE_XOR 1206
#define KX_MERGE_AND 1207
#define KX_MERGE_OR 1208
#define KX_MERGE_SMALL 1209
#define KX_MERGE_LARGE 1210
#define KX_MERGE_COPY 1211
#define KX_MERGE_DIFF 1212

/* Combines image0 into image1 byte by byte (alpha included) over the common
 * top-left min(width) x min(height) area; returns image1.  Both images must
 * have the same imageType (else image1 is returned untouched).
 * a = image0 byte, b = image1 byte:
 *   1204 min(a+b,255)  1205 max(a-b,0)  1206 a^b  1207 a&b  1208 a|b
 *   1209 min(a,b)      1210 max(a,b)    1211 a    1212 |a-b|
 * KIT_BIN stores 1 for a result > 0, else 0.  Another code does nothing.
 * Asserts "image0 && image1". */
KX_API Image *kxPixelMerge(const Image *image0, Image *image1, int code);
/* kxPixelMerge with the codes 1204, 1205, 1210, 1209, 1207, 1208, 1206,
 * 1211 and 1212. */
KX_API Image *kxPixelAdd(const Image *image0, Image *image1);
KX_API Image *kxPixelSubtract(const Image *image0, Image *image1);
KX_API Image *kxPixelLarge(const Image *image0, Image *image1);
KX_API Image *kxPixelSmall(const Image *image0, Image *image1);
KX_API Image *kxPixelAnd(const Image *image0, Image *image1);
KX_API Image *kxPixelOr(const Image *image0, Image *image1);
KX_API Image *kxPixelXor(const Image *image0, Image *image1);
KX_API Image *kxPixelCopy(const Image *image0, Image *image1);
KX_API Image *kxPixelDiff(const Image *image0, Image *image1);

/* Scaled merge of image1 (p) into image0 (q) over the common area; returns
 * image0.  In double precision, truncated toward zero, then clamped 0..255:
 *   0 (p+q)*scale+offset   1 (p-q)*scale+offset   2 |p-q|*scale+offset
 *   3 p*q*scale+offset     4 p == 0 ? 0 : (q/p)*scale+offset
 *   5 p&q  6 p|q  7 p^q    8 max(p,q)  9 min(p,q)
 * KIT_BIN stores 1 for a value > 0.  Types must match; another code does
 * nothing.  Asserts "image0 && image1". */
KX_API Image *kxPixelMergeE1(Image *image0, const Image *image1, int code, float scale, float offset);

/* Inverts pixels in place: KIT_BIN 1 - byte; KIT_GRAY and KIT_RGB
 * 255 - byte; KIT_RGBA B, G, R inverted and alpha kept.  Returns the image
 * (null for null). */
KX_API Image *kxInvert(Image *image);

/* Copies a sw x sh rectangle at (sx, sy) of source to (dx, dy) of
 * destination.  A size below 1 means the whole image; a negative start
 * shortens its own extent by that much and becomes 0 (the other image's
 * start stays).  min(sw, dw) x min(sh, dh) pixels are copied, stopping at
 * either image's edge.  Nothing unless both types are equal and both starts
 * lie inside their images.  Asserts "source && destination". */
KX_API void kxCopyPixels(const Image *source, int sx, int sy, int sw, int sh, Image *destination, int dx, int dy,
                         int dw, int dh);

/* Pastes the whole source at (dx, dy) of destination, skipping pixels whose
 * mask byte is 0 (mask may be null; it must have the source's size).  A
 * negative dx or dy becomes 0 without shifting the source.  Nothing for a
 * null image, different types or a mask of another size. */
KX_API void kxCopyPixelsE2(const Image *source, Image *destination, int dx, int dy, const Image *mask);

/* Writes channels of a KIT_RGB or KIT_RGBA image from a channel image of
 * the same size.  selection: bit 0 blue, 1 green, 2 red, 3 alpha.
 * KIT_BIN channel image: 255 where set, else 0, into every selected
 * channel; KIT_GRAY: the byte; KIT_RGB: the selected ones of B, G, R
 * (alpha bit ignored).  Another channel type, size or image type: nothing.
 * Returns the image.  Asserts "image && channel" (image non-null and
 * selection non-zero) and a non-null channel image. */
KX_API Image *kxReplaceChannel(Image *image, const Image *channel, int selection);

/* Replaces every pixel equal to oldColour by newColour (under the optional
 * one-byte mask: only where its byte is non-zero, over the common area).
 * KIT_BIN/KIT_GRAY compare the byte with oldColour as an integer (an old
 * colour above 255 never matches) and store newColour (KIT_BIN 1 for
 * non-zero, KIT_GRAY 255 above 255); KIT_RGB matches and writes B, G, R;
 * KIT_RGBA all four bytes.  Asserts "image". */
KX_API void kxReplacePixels(Image *image, uint32_t oldColour, uint32_t newColour, const Image *mask);

/* Crops in place to the inclusive rectangle (left, top)-(right, bottom);
 * the image becomes (right-left+1) x (bottom-top+1).  A negative left or top
 * shortens the copied part, which still lands at the top-left; pixels that
 * receive nothing are 0.  Unchanged for a null image, an empty rectangle or
 * a virtual image (which cannot change size).  Returns the image. */
KX_API Image *kxClip(Image *image, int left, int top, int right, int bottom);

/* ======================================================================
 * Thresholding
 * ====================================================================== */
/* @@section threshold */
/* @@end threshold */

/* ======================================================================
 * Filtering and intensity
 * ====================================================================== */
/* @@section filter */
/* @@end filter */

/* ======================================================================
 * Binary image analysis and morphology
 * ====================================================================== */
/* @@section binary */
/* @@end binary */

/* ======================================================================
 * Geometry
 * ====================================================================== */
/* @@section geometry */
/* Turns the image by n quarter turns (exact pixel permutation).
 *   n: any integer; n mod 4 counts counter-clockwise quarter turns as seen
 *      with rows running down (1: the old top-right pixel becomes the new
 *      top-left; -1 and 3: clockwise; 2 and -2: half turn).
 * Accepts KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA; other types unchanged.
 * An odd count swaps width and height (the record is re-shaped, rows packed).
 * Returns the image; null for a null image.
 * Notes:
 *  1. n = 0, 4, -4, ... leave the image untouched.
 *  2. A wrapped (virtual) image that is not square cannot take the turned
 *     size: an odd count leaves it unchanged.  A half turn works in place on
 *     any image.
 *  3. When the pixel copy cannot be allocated, "buf" is reported and the
 *     image is left unchanged. */
KX_API Image *kxRotate(Image *image, int n);

/* Mirrors the image in place.
 *   mode: 0 both axes (equals a half turn), 1 left-right, 2 upside down;
 *         any other value does nothing.
 * Accepts KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA (whole pixels move); other
 * types unchanged.  Returns the image.  Asserts "image".
 * Notes:
 *  1. An odd height keeps its middle row, an odd width its middle column.
 *  2. Works without scratch memory, so it cannot fail for lack of it. */
KX_API Image *kxFlip(Image *image, int mode);

/* Changes the canvas size without resampling: the old pixels stay at the
 * top-left (cut at the new right and bottom edges), new area is `colour`.
 *   newWidth, newHeight: pixels, clamped to at most 16384.
 *   colour: 0xAARRGGBB, stored as kxSetPixelEx stores it (KIT_BIN 1 for
 *           non-zero, KIT_GRAY its luminance above 255).
 * Accepts KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA.  Returns the image, re-shaped
 * with packed rows.  Asserts "image".
 * Notes:
 *  1. Unchanged for other types, a virtual image, newWidth < 1 or
 *     newHeight < 1, or when memory for the new canvas runs out. */
KX_API Image *kxResize(Image *image, int newWidth, int newHeight, uint32_t colour);

/* Shifts a grey image by a sub-pixel amount: output pixel (x, y) shows the
 * input at (x + dx, y + dy), so a positive dx moves the picture LEFT (the
 * opposite sense to kxTranslateE1).
 *   dx, dy: pixels, single precision; positions are float(x) + dx.
 *   nearest: non-zero takes the pixel at floor(s + 0.5); zero interpolates
 *            bilinearly in double precision, neighbours outside the image
 *            counting as 0, rounded by (int)(v + 0.5).
 * Accepts KIT_GRAY only; other types are returned unchanged.  Pixels that
 * receive no source value become 255.  Returns the image (null for null).
 * Notes:
 *  1. Bilinear sampling covers positions -1 <= s < size, so the picture's
 *     edge blends towards black over the last pixel, not towards 255.
 *  2. Unchanged when memory for the temporary image runs out. */
KX_API Image *kxTranslate(Image *image, float dx, float dy, int nearest);
/* @@end geometry */

/* ======================================================================
 * Drawing
 * ====================================================================== */
/* @@section draw */
/* @@end draw */

/* ======================================================================
 * Vision filters
 * ====================================================================== */
/* @@section vision */
/* @@end vision */

#ifdef __cplusplus
}
#endif

#endif /* KXPRE_H */
