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
#include "kxvision.h"

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
 * x, whatever the mask's type; a Mask of the mask library (kxmask.h) may be
 * passed too (cast to Image *), its anchor is not looked at.  Only
 * min(width) x min(height) is filled, where the mask byte is non-zero
 * (invertMask 0) or zero (invertMask != 0).  A mask record without data or
 * with pitch < width does nothing.
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
/* Binarizes at a fixed level: pixel >= t becomes 1, others 0 (invert != 0:
 * pixel < t becomes 1, others 0).
 *   image:  KIT_GRAY, changed in place; becomes KIT_BIN (bytes 0/1).
 *   t:      level 0..255 (0 makes every pixel 1, or 0 when inverted).
 *   invert: 0 or non-zero.
 * Returns image; null for null; any other type comes back unchanged.
 * See also kxbLight, kxThreshold. */
KX_API Image *kxbSimple(Image *image, uint8_t t, int invert);

/* Selects dark pixels, pixel < t.
 *   image:    KIT_GRAY, changed in place.
 *   t:        level 0..255.
 *   v:        grey value given to the selected pixels when binarize is 0.
 *   binarize: 0: selected pixels become v, the others keep their value and
 *             the image stays KIT_GRAY; non-zero: selected pixels become 1,
 *             the others 0, v is ignored and the image becomes KIT_BIN.
 * Returns image; null for null; any other type comes back unchanged. */
KX_API Image *kxbDark(Image *image, uint8_t t, uint8_t v, int binarize);

/* Selects light pixels, pixel >= t; arguments and result as kxbDark. */
KX_API Image *kxbLight(Image *image, uint8_t t, uint8_t v, int binarize);

/* Selects pixels inside the half-open interval lo <= pixel < hi; arguments
 * and result as kxbDark.
 * Note: lo >= hi selects nothing (binarize != 0 gives an all-0 image). */
KX_API Image *kxbInner(Image *image, uint8_t lo, uint8_t hi, uint8_t v, int binarize);

/* Selects pixels outside the half-open interval: pixel < lo or pixel >= hi;
 * arguments and result as kxbDark.
 * Note: lo >= hi selects every pixel. */
KX_API Image *kxbOuter(Image *image, uint8_t lo, uint8_t hi, uint8_t v, int binarize);

/* Binarizes at the Otsu level of the histogram (largest between-class
 * variance, single-precision arithmetic, lowest level on ties).
 *   image: KIT_GRAY, changed in place; becomes KIT_BIN.
 *   mask:  may be null (all pixels); otherwise only pixels whose mask byte
 *          (one byte per pixel at the mask's own pitch, any imageType) is
 *          non-zero are counted.
 * Pixels >= max(level, 1) become 1, others 0: the level belongs to the
 * lower class but pixels equal to it become foreground.
 * Returns image; null for null; any other type comes back unchanged.
 * Notes:
 *  1. A uniform image has no defined between-class variance: the level is 0,
 *     raised to 1, so every pixel but 0 becomes 1.
 *  2. A mask smaller than the image selects only within the rectangle the
 *     two share; pixels outside it are not counted.  A mask selecting
 *     nothing gives level 0 (binarized at 1).
 *  3. A mask record without pixels (null data, a side below 1, pitch below
 *     its width) leaves the image unchanged. */
KX_API Image *kxbOtsu(Image *image, const Image *mask);

/* Binarizes at the isodata level: starting from T = 128, T becomes the
 * rounded (half up) average of the mean grey level below T and the mean
 * from T up, until it stops moving or maxIterations + 1 updates are made.
 * Pixels > T (strictly) become 1, others 0.
 *   image:         KIT_GRAY, changed in place; becomes KIT_BIN.
 *   maxIterations: a negative value keeps T = 128.
 *   window:        the histogram is first smoothed by a centred moving sum
 *                  of `window` bins divided by `window` (an even window
 *                  sums window + 1 bins); bins whose window does not fit
 *                  keep their count.
 * Returns image; null for null; any other type comes back unchanged.
 * Notes:
 *  1. window <= 0 counts as 1: no smoothing.
 *  2. When one side of T holds no pixel (every pixel below 128, or all from
 *     128 up), that side takes the other side's mean, so T moves to the mean
 *     of all pixels and the next step splits there.  A uniform image thus
 *     ends with T at its value and becomes all 0. */
KX_API Image *kxbIsoData(Image *image, int maxIterations, int window);

/* Binarizes at the maximum-entropy level (kxbGetOptima method 2): pixels
 * >= max(level, 1) become 1, others 0.
 *   image: KIT_GRAY, changed in place; becomes KIT_BIN.
 * Returns image; null for null; any other type comes back unchanged. */
KX_API Image *kxbMaxEntropy(Image *image);

/* Binarizes at the minimum-error level: pixels >= max(level, 1) become 1,
 * others 0.
 *   image:     KIT_GRAY, changed in place; becomes KIT_BIN.
 *   criterion: 0 Gaussian (kxbGetOptima method 0), other values Poisson
 *              (method 1).
 * Returns image; null for null; any other type comes back unchanged. */
KX_API Image *kxbMinError(Image *image, int criterion);

/* kxbMinError counting only pixels whose mask byte is non-zero, within the
 * rectangle common to image and mask.
 *   mask:      may be null (then exactly kxbMinError).
 *   criterion: 0 Gaussian, other values Poisson.
 * Returns image; null for null; any other type, or a mask record without
 * pixels, comes back unchanged.
 * Note: a mask selecting nothing gives level 255: only pixels of 255 become
 * 1. */
KX_API Image *kxbMinErrorE1(Image *image, const Image *mask, int criterion);

/* The level a histogram selector picks for the image (image unchanged).
 *   image:  KIT_GRAY; may be null.
 *   method: 0 minimum error, Gaussian criterion; 1 minimum error, Poisson
 *           criterion; 2 maximum entropy; 3 most frequent grey level.
 * Every selector places its level in the lower class and keeps the lowest
 * level on ties.  Returns 0 for a null image, 255 for another method or
 * another image type.
 * Notes:
 *  1. Minimum error and maximum entropy give 255 for an empty histogram and
 *     when no level improves on the starting value (maximum entropy: level 0
 *     only sets the value to beat and is never returned).
 *  2. Method 3 gives 0 for an empty histogram. */
KX_API uint8_t kxbGetOptima(const Image *image, int method);

/* kxbGetOptima counting only pixels whose mask byte is non-zero, within the
 * rectangle common to image and mask.
 *   mask: may be null (then exactly kxbGetOptima).
 * Returns 0 for a null image with a mask; 255 for another method, another
 * image type or a mask record without pixels. */
KX_API uint8_t kxbGetOptimaE1(const Image *image, const Image *mask, int method);

/* Posterizes into `levels` classes whose thresholds b[0] < ... < b[K-1]
 * (K = levels - 1) maximize the sum over the classes of class weight times
 * squared class mean (the multi-class Otsu criterion; single-precision class
 * statistics), the lowest thresholds on ties.
 *   image:  KIT_GRAY, changed in place; stays KIT_GRAY.
 *   levels: number of classes, 2..256.
 * Pixel p becomes 0 for p <= b[0], b[i-1] for b[i-1] < p <= b[i], and 255
 * for p > b[K-1].
 * Returns image; null for null; any other type comes back unchanged.
 * Notes:
 *  1. levels outside 2..256 leaves the image unchanged.
 *  2. The search gives the tuple of the full search over every layout but
 *     skips what cannot win: it took under 40 ms for any levels in our
 *     measurements, on top of one counting and one mapping pass. */
KX_API Image *kxbMultiLevel(Image *image, int levels);

/* Binarizes against a local level from the mean M and standard deviation s
 * of the window x window square centred on each pixel:
 * T = M * (1 + k * (s / range - 1)); pixels > T become 1, others 0.
 *   image:  KIT_GRAY, changed in place; becomes KIT_BIN.
 *   window: side in pixels; an even side acts as the next odd one.
 *   range:  dynamic range of the standard deviation (128 is usual).
 *   k:      weight of the deviation term.
 * Pixels outside the image count as 0 and the divisor is always
 * window * window, so the mean falls towards the border.  M and the mean of
 * squares are divided in double and stored as float, s is the root of their
 * float difference, and T is evaluated in double.
 * Returns image; null for null; any other type comes back unchanged.
 * Notes:
 *  1. window <= 0 counts as 1: each pixel is its own window.
 *  2. An undefined T (rounding makes the variance negative; range 0 with
 *     s = 0) makes the pixel 1; range 0 with s > 0, M > 0 and k > 0 gives
 *     T = +inf, so the pixel becomes 0.
 *  3. Scratch memory: one byte per pixel plus a few rows.  When it is not
 *     available, "imgI && imgM && imgV && imgGxG" is reported and the image
 *     comes back unchanged. */
KX_API Image *kxbLocalIntegral(Image *image, int window, uint8_t range, float k);

/* Runs one binarization of this family chosen by a method code.
 *   image:  KIT_GRAY; any other type comes back unchanged for every method.
 *   method, and the call made (t1 = p1 & 255, t2 = p2 & 255):
 *     0 kxbSimple(image, t1, 0)           1 kxbDark(image, t1, 1, 1)
 *     2 kxbLight(image, t1, 1, 1)         3 kxbInner(image, t1, t2, 1, 1)
 *     4 kxbOuter(image, t1, t2, 1, 1)
 *     16 kxbLocalIntegral(image, p1, t2, (float)param)
 *     17 kxbMultiLevel(image, p1)         18 kxbMaxEntropy(image)
 *     19 kxbIsoData(image, p1, p2)        20 kxbMinError(image, p1)
 *     21 kxbOtsu(image, null)             other codes: nothing.
 * Returns what the called operation returns, else image; null for null.
 * Note: thresholds keep their low eight bits (300 acts as 44). */
KX_API Image *kxThreshold(Image *image, int method, int p1, int p2, double param);
/* @@end threshold */

/* ======================================================================
 * Filtering and intensity
 * ====================================================================== */
/* @@section filter */

/* ---- convolution and edge operators ---------------------------------- */

/* Does nothing.
 *   image: any image (may be null).
 *   arg:   reserved, ignored (may be null).
 * Returns image untouched. */
KX_API Image *kxFilter(Image *image, void *arg);

/* Sobel operator: correlates the image with two 3x3 kernels (not flipped),
 * row above first:  A = 1 0 -1; 2 0 -2; 1 0 -1   B = 1 2 1; 0 0 0; -1 -2 -1.
 *   image: KIT_BIN or KIT_GRAY, in place; other types are returned
 *          unchanged, null returns null.
 *   mode:  1 response to A, 2 response to B, any other value the signed sum
 *          of both (no absolute value).
 * Neighbours outside the image count as 0; no normalisation or offset.
 * A response in 0..255 is stored; a response below 0 or above 255 stores 0
 * (0, not 255).  Every response is computed from the input as it was.
 * Returns image.
 * Notes:
 *  1. A KIT_BIN image stays KIT_BIN and is read as bytes 0/1; the response
 *     is stored as for KIT_GRAY, so the KIT_BIN image then holds magnitudes
 *     0..255 (rows [1 1] and [1 0] under mode 3 give 2 at (1, 0)).  Callers
 *     read these magnitudes; threshold or cast to get 0/1 again.
 *  2. If the three-row buffer cannot be allocated the image is unchanged.
 *  3. Asserts "im->size>0".
 * See also kxPrewitt, kxKirsch, kxDiffSecond, kxLaPlacian, kxSharp1541. */
KX_API Image *kxSobel(Image *image, int mode);

/* Prewitt operator; as kxSobel with the kernels
 * A = 1 0 -1; 1 0 -1; 1 0 -1   B = 1 1 1; 0 0 0; -1 -1 -1. */
KX_API Image *kxPrewitt(Image *image, int mode);

/* Kirsch operator; as kxSobel with the kernels (note -3 at the centre)
 * A = 5 5 5; -3 -3 -3; -3 -3 -3   B = 5 5 -3; 5 -3 -3; -3 -3 -3. */
KX_API Image *kxKirsch(Image *image, int mode);

/* Second differences; as kxSobel with the kernels
 * A = 0 0 0; 1 -2 1; 0 0 0 (horizontal)   B = 0 1 0; 0 -2 0; 0 1 0
 * (vertical). */
KX_API Image *kxDiffSecond(Image *image, int mode);

/* Laplacian; as kxSobel in mode 1 with the kernel 0 1 0; 1 -4 1; 0 1 0.
 * A uniform image becomes 0 (border pixels have missing neighbours and a
 * negative response). */
KX_API Image *kxLaPlacian(Image *image);

/* Sharpening; as kxSobel in mode 1 with the kernel 0 -1 0; -1 5 -1; 0 -1 0.
 * On a uniform image of 100 the interior stays 100, an edge pixel becomes
 * 200 and a corner 0 (300 is above 255). */
KX_API Image *kxSharp1541(Image *image);

/* Roberts cross: |p(x+1,y+1) - p(x,y)| + |p(x,y+1) - p(x+1,y)|, saturated
 * to 255, for 1 <= x <= width-2 and 1 <= y <= height-2.
 *   image: KIT_GRAY, in place; other types are returned unchanged, null
 *          returns null.
 * The one-pixel frame on every side becomes 0 (an image narrower or lower
 * than 3 pixels becomes all 0).  Returns image. */
KX_API Image *kxRoberts(Image *image);

/* First differences with the left and upper neighbour.
 *   image: KIT_GRAY, in place; other types are returned unchanged, null
 *          returns null.
 *   mode:  1 |p(x-1,y) - p(x,y)|; 2 |p(x,y-1) - p(x,y)|; 0 the sum of both,
 *          saturated to 255.
 * Row 0 and column 0 become 0.  Returns image.
 * Notes:
 *  1. Any other mode turns the whole image to 0.
 *  2. If the one-row buffer cannot be allocated the image is unchanged. */
KX_API Image *kxDiffFirst(Image *image, int mode);

/* Differences with the pixel `gap` to the right and/or below.
 *   image: KIT_GRAY, in place; other types are returned unchanged.
 *   mode:  1 |p(x+gap,y) - p(x,y)|; 2 |p(x,y+gap) - p(x,y)|; any other
 *          value the sum of both, saturated to 255.
 *   gap:   distance in pixels, >= 1.
 * Pixels without a partner inside the image (the last `gap` columns and/or
 * rows) become 0.  Returns image.
 * Notes:
 *  1. Asserts "image" and "gap>0"; a refused gap leaves the image
 *     unchanged.
 *  2. A gap at least the width (mode 1) or height (mode 2) zeroes the
 *     image. */
KX_API Image *kxGradient(Image *image, int mode, int gap);

/* Gradient edge detector: thresholded, thinned gradient magnitude.
 *   image:     KIT_GRAY, in place; becomes KIT_BIN with 1 on edge pixels.
 *              Other types are returned unchanged; null returns null.
 *   method:    0 runs the detector; any other value returns the image
 *              unchanged (and still of its type).
 *   direction: 1 horizontal gradient only, 2 vertical only, other values
 *              both.
 *   threshold: magnitude threshold; <= 0 chooses 4 x the mean squared
 *              magnitude of the pixels taking part.
 *   mask:      KIT_BIN or KIT_GRAY image of the same width and height
 *              (own pitch), or null; only pixels whose mask byte is
 *              non-zero take part.
 * Gradients use the kernels 0.125 0 -0.125; 0.25 0 -0.25; 0.125 0 -0.125
 * and 0.125 0.25 0.125; 0 0 0; -0.125 -0.25 -0.125 on interior pixels, in
 * single precision.  A pixel is set where its squared magnitude exceeds the
 * cutoff and is a local maximum along its dominant gradient direction; the
 * frame copies its interior neighbour.  Returns image.
 * Notes:
 *  1. A mask of another size or an unusable mask record leaves the image
 *     unchanged, as does a failed allocation of the three float planes.
 *  2. An image narrower or lower than 3 pixels becomes an all-0 KIT_BIN
 *     image, as does a uniform image with threshold <= 0. */
KX_API Image *kxDetectEdge(Image *image, int method, int direction, float threshold, const Image *mask);

/* ---- smoothing and median --------------------------------------------- */

/* Box mean over an n x n window.
 *   image:      KIT_GRAY or KIT_RGB, in place (channels separately); other
 *               types are returned unchanged.
 *   windowSize: n; values above 9 act as 9, an even value is raised by 1;
 *               <= 1 returns the image unchanged.
 * Each output is the window sum divided by n*n and truncated; neighbours
 * outside the image count as 0 while the divisor stays n*n, so borders come
 * out darker.  Every output is computed from the input as it was.
 * Returns image.
 * Notes:
 *  1. Asserts "image"; a failed scratch allocation asserts "pDest" and
 *     leaves the image unchanged. */
KX_API Image *kxSmoothAvg(Image *image, int windowSize);

/* Median over an n x n window clipped to the image.
 *   image:      KIT_GRAY or KIT_RGB, in place (channels separately); other
 *               types are returned unchanged.
 *   windowSize: as kxSmoothAvg.
 * The output is the value of rank floor(k/2) (counting from 0, ascending)
 * among the k window pixels inside the image: the median for odd k, the
 * upper of the two middle values for even k (border windows).
 * Returns image.
 * Notes:
 *  1. Asserts "image"; a failed scratch allocation asserts "pDest" and
 *     leaves the image unchanged. */
KX_API Image *kxMedian(Image *image, int windowSize);

/* ---- intensity mapping ------------------------------------------------- */

/* Sets the image's mean and variance.
 *   image:    KIT_GRAY, in place; other types are returned unchanged, null
 *             returns null.
 *   mean:     target mean.
 *   variance: target variance (>= 0).
 * With m and sd the mean and sample deviation of the width x height pixels
 * (double) and s = sd truncated: p -> (p - m) / s * (sqrtf(variance) + 0.5)
 * + mean + 0.5, truncated toward zero and saturated to 0..255.
 * Returns image.
 * Notes:
 *  1. s = 0 (deviation below 1, a uniform or a one-pixel image) leaves the
 *     image unchanged.
 *  2. Results outside 0..255 saturate (they are not wrapped to their low
 *     byte).
 *  3. A negative, infinite or NaN variance, or a NaN mean, leaves the image
 *     unchanged. */
KX_API Image *kxNormalize(Image *image, float mean, float variance);

/* Histogram equalisation.
 *   image: KIT_GRAY, in place; other types are returned unchanged, null
 *          returns null.
 * Every pixel adds 1 / (width x height) to the bin of its level (double);
 * c(p) is the running sum of bins 0..p and p -> trunc(c(p) * 255 + 0.5),
 * at most 255.  The brightest level present maps to 255 (up to rounding
 * of the sums); row padding of a wrapped image is not counted.
 * Returns image. */
KX_API Image *kxEqualize(Image *image);

/* Contrast stretch between two fractions of full scale.
 *   image: KIT_GRAY, in place; other types are returned unchanged, null
 *          returns null.
 *   low, high: fractions; lo = trunc(low * 255) and hi = trunc(high * 255),
 *          each kept to its low eight bits.
 * p <= lo -> 0; p >= hi -> 255; otherwise trunc((p - lo) / (hi - lo) * 255
 * + 0.5) in double.  Returns image.
 * Notes:
 *  1. hi <= lo (after the low-byte step) leaves the image unchanged, as do
 *     a NaN or infinite fraction. */
KX_API Image *kxContrast(Image *image, float low, float high);

/* Stretches the occupied range to 0..255.
 *   image: KIT_GRAY, in place; other types are returned unchanged, null
 *          returns null.
 * p -> trunc((p - min) / r * 255.0) with r = max - min as a float; the
 * darkest pixel becomes 0, the brightest 255.  Returns image.
 * Notes:
 *  1. An image of a single grey level is unchanged. */
KX_API Image *kxExpand(Image *image);

/* Gain and offset on every byte of every pixel (alpha included).
 *   image:  any of the four types, in place; null returns null, other
 *           types are returned unchanged.
 *   gain, offset: v = b * gain + offset in single precision.
 * v > 255 -> 255, v >= 0 -> trunc(v), below 0 (or NaN) -> 0.
 * A KIT_BIN image becomes KIT_GRAY (its 0/1 bytes are mapped as grey
 * values).  Returns image.
 * See also kxLinearEx. */
KX_API Image *kxLinear(Image *image, float gain, float offset);

/* kxLinear on chosen channels.
 *   image:    KIT_RGB or KIT_RGBA, in place; null returns null, other
 *             types are returned unchanged.
 *   channels: bit 0 blue, bit 1 green, bit 2 red, bit 3 alpha (KIT_RGBA
 *             only); bytes of other channels stay.
 *   gain, offset: as kxLinear.
 * Returns image. */
KX_API Image *kxLinearEx(Image *image, int channels, float gain, float offset);

/* Logarithmic luminance compression of a colour image.
 *   image: KIT_RGB, in place; other types are returned unchanged, null
 *          returns null.
 * With L = R*0.299f + G*0.587f + B*0.114f (a float), Lw the log-average
 * luminance exp(mean(ln(L + 0.001))) and Lmax the largest L, each channel
 * of a pixel with L > 0 becomes trunc(channel * r / L * 255.0), where
 * r = ln(L/Lw + 1) / ln(Lmax/Lw + 1), all in single precision; results
 * above 255 saturate.  Pixels with L = 0 (black) stay.  Returns image.
 * Notes:
 *  1. A grey pixel maps to about 255 * r: the brightest grey becomes 255.
 *  2. Channels brighter than the luminance saturate at 255 (they are not
 *     wrapped to their low byte).
 *  3. Asserts "pLumMtx" when the luminance plane cannot be allocated; the
 *     image is then unchanged. */
KX_API Image *kxIncreaseLum(Image *image);

/* @@end filter */

/* ======================================================================
 * Binary image analysis and morphology
 * ====================================================================== */
/* @@section binary */

/* Thins the set regions of a binary image to lines, in place.
 * image: KIT_BIN; other types are left unchanged.
 * Raster passes over the interior (rows 1..h-2, columns 1..w-2) delete a
 * pixel whose byte is exactly 1 when its 3x3 neighbourhood matches one of
 * eight edge and corner templates; deletions are written at once, so later
 * pixels of the same pass see them.  Passes repeat until one deletes
 * nothing.  Asserts "image".
 * Notes:
 *  1. Template tests count any non-zero byte as set; a byte other than 1
 *     (e.g. 255) is never deleted but counts as a set neighbour.
 *  2. The first and last row and column never change; an image narrower or
 *     lower than 3 pixels is left unchanged.
 *  3. The raster order decides the shape: a 3x3 block keeps its right
 *     column's top two pixels and its bottom row's left two pixels.
 * See also kxSkeleton. */
KX_API void kxThinning(Image *image);

/* Reduces the set regions of a binary image to a skeleton, in place.
 * image: KIT_BIN; other types are returned unchanged.
 * method: 0 = local maxima of a level map, 1 = kxThinning; any other value
 *         returns the image unchanged.
 * Method 0 builds an int32 level map from the bytes, raises a pixel to
 * k + 2 in pass k = 0, 1, ... when its four side neighbours all exceed k
 * (updated in place, in raster order, its own value untested), stops after
 * a pass that raises nothing, then writes 1 where no side neighbour's level
 * exceeds the pixel's own and 0 elsewhere; the frame becomes 0.  The result
 * holds only 0 and 1.  Returns the image.  Asserts "image".
 * Notes:
 *  1. Method 0 also marks unset pixels that are local maxima: an image with
 *     no set pixel becomes 1 everywhere inside the frame.
 *  2. Method 0 on an image narrower or lower than 3 pixels clears it.
 *  3. When the level map cannot be allocated, method 0 leaves the image
 *     unchanged. */
KX_API Image *kxSkeleton(Image *image, int method);

/* Clears the set regions that touch the image border, in place.
 * image: KIT_BIN; other types are left unchanged.
 * Every non-zero pixel of the first and last row and column is cleared,
 * and so is every pixel of value 1 connected to one of them through side
 * neighbours of value 1.  Asserts "image".
 * Notes:
 *  1. A region touching a border pixel only at a corner survives.
 *  2. The regions are followed with a stack of one int per pixel; when it
 *     cannot be allocated, repeated raster sweeps give the same result.
 *  3. The byte 127 serves as the mark of reached pixels: an interior 127
 *     spreads like a border pixel, and every 127 becomes 0.
 * See also kxRemoveBorderEx, kxFillHole. */
KX_API void kxRemoveBorder(Image *image);

/* kxRemoveBorder inside a region of interest, in place.
 * image: KIT_BIN; other types are left unchanged.
 * mask (may be null): a one-byte image (KIT_BIN or KIT_GRAY) of the
 *         image's width and height, addressed with its own pitch; non-zero
 *         means inside.  Null does what kxRemoveBorder does.
 * With a mask: pixels outside the mask become 0; interior pixels inside the
 * mask with a side neighbour outside it are cleared whatever their value,
 * and set regions (pixels of value 1, side-connected) reaching them, or a
 * non-zero border pixel, are cleared too.  Asserts "image" and
 * "(pI)->width == (pMask)->width && (pI)->height == (pMask)->height".
 * Notes:
 *  1. A mask record that is not a one-byte image leaves the image
 *     unchanged. */
KX_API void kxRemoveBorderEx(Image *image, const Image *mask);

/* Fills the holes of the set regions, in place.
 * image (a null image does nothing): KIT_BIN; other types are left
 *         unchanged.
 * The unset regions that do not reach the border through side-connected
 * unset pixels become 1.  Works on an inverted copy (1 - byte, wrapping)
 * cleared as by kxRemoveBorder: every pixel whose copy stays non-zero
 * becomes 1.
 * Notes:
 *  1. Bytes other than 0 and 1 invert to non-zero values that do not
 *     spread, so such interior pixels become 1 (except 130, whose inverse
 *     is the mark 127).
 *  2. When the copy cannot be allocated the image is left unchanged.
 * See also kxFillHoleEx. */
KX_API void kxFillHole(Image *image);

/* Fills the holes of the set regions inside a region of interest, in place.
 * image: KIT_BIN; other types are left unchanged.
 * mask (may be null): a one-byte image of the image's width and height,
 *         addressed with its own pitch; non-zero means inside.
 * Unset pixels inside the mask that are not side-connected, through unset
 * pixels inside the mask, to the image border or to an interior pixel on
 * the mask's edge become 1.  Pixels outside the mask keep their values.
 * Asserts "image" and
 * "(pI)->width == (pM)->width && (pI)->height == (pM)->height".
 * Notes:
 *  1. A mask record that is not a one-byte image, or a working copy that
 *     cannot be allocated, leaves the image unchanged. */
KX_API void kxFillHoleEx(Image *image, const Image *mask);

/* Keeps the boundaries of the set regions, in place.
 * image (a null image does nothing): KIT_BIN; other types are left
 *         unchanged.
 * mode: 0 = inner boundary: a pixel of value 1 with a side neighbour of
 *         value 0 becomes 1; otherwise the outer boundary: a pixel of value
 *         0 with a side neighbour of value 1 becomes 1.  Every other pixel,
 *         the frame included, becomes 0.
 * value: returned unchanged.
 * Returns value on every path.
 * Notes:
 *  1. When the scratch buffer cannot be allocated the image is left
 *     unchanged.
 * See also kxRetrieveEdgeE1. */
KX_API int kxRetrieveEdge(Image *image, int mode, int value);

/* Clears the inside of the set regions, into a destination or in place.
 * image (a null image returns destination): KIT_BIN; for other types
 *         destination is returned and nothing changes.
 * mode: 0 clears a non-zero pixel whose four side neighbours are non-zero;
 *         other values one whose eight neighbours are non-zero.  Only
 *         interior pixels are tested; reads come from the image.
 * destination (may be null): made a copy of the image (kxiClone) that
 *         receives the result; the image stays unchanged.  Null: the image
 *         receives the result.
 * Returns destination when one is given, else the image.
 * Asserts "pRowDest && pRowSrc" when the copy cannot be made (e.g. a
 * virtual destination of another size); then nothing changes.
 * Notes:
 *  1. destination == image works as a null destination (the result is
 *     computed from the unchanged input). */
KX_API Image *kxRetrieveEdgeE1(Image *image, int mode, Image *destination);

/* Blanks a frame around the image, in place.
 * image: KIT_BIN, KIT_GRAY (bytes 0), KIT_RGB, KIT_RGBA (B, G, R 0, alpha
 *         kept); other types are left unchanged.
 * margin: frame width in pixels; values below 2 mean 1.
 * Nothing happens when the width or the height is not above the margin.
 * Asserts "image". */
KX_API void kxCutMargin(Image *image, int margin);

/* Grey or binary erosion by a structuring element, in place.
 * image (a null image returns null): KIT_BIN, KIT_GRAY; other types are
 *         returned unchanged.
 * mask (may be null): the element; non-zero bytes are its positions, the
 *         anchor lies on the pixel computed.  Null: a 3x3 rectangle
 *         (kxCreateMask(KXM_RECT, 3, 3)), destroyed before return.
 * Each pixel becomes the minimum of the pixels under the element's
 * positions, read from an unmodified copy; positions outside the image read
 * 255, and the start value is 255.  Returns the image.
 * Asserts "pM" when the default element cannot be created.
 * Notes:
 *  1. Positions outside the image never lower a pixel; a pixel whose
 *     positions all fall outside (or an element without positions) becomes
 *     255, also in a KIT_BIN image.
 *  2. An element whose record is unusable (no data, a side below 1, pitch
 *     below width, anchor outside the element) leaves the image unchanged,
 *     as does a copy that cannot be allocated.  The caller's element is
 *     never modified or destroyed.
 * See also kxDilate, kxErodeE1. */
KX_API Image *kxErode(Image *image, const Mask *mask);

/* Grey or binary dilation by a structuring element, in place.
 * As kxErode with the maximum: positions outside the image read 0 and the
 * start value is 0.  Returns the image (null for a null image). */
KX_API Image *kxDilate(Image *image, const Mask *mask);

/* Binary dilation by a disc, in place.
 * image (a null image returns null): KIT_BIN; other types are returned
 *         unchanged.
 * radius: disc radius in pixels; below 1 returns the image unchanged.
 * Every pixel of value 1 in the input that is not interior (some
 * 8-neighbour, outside the image reading 0, differs from 1) stamps the
 * element kxCreateMask(KXM_ELLIPSE, 2r+1, 2r+1) centred on itself: the
 * covered pixels become 1.  Returns the image.
 * Asserts "pM" when the element cannot be created.
 * Notes:
 *  1. A radius above width + height is treated as width + height: either
 *     disc covers the whole image from any pixel.
 *  2. When the copy cannot be allocated the image is left unchanged.
 * See also kxDilate. */
KX_API Image *kxDilateE1(Image *image, int radius);

/* Chamfer distance of each set pixel to the nearest unset one.
 * image: KIT_BIN; a null image or other types return 0.
 * distances (may be null): width * height int32 entries, row-major with
 *         rows of width entries; entry y * width + x is pixel (x, y).
 * capacity: entries available in distances.
 * Returns width * height when distances is null (size query) and after
 * writing; 0, nothing written, when width * height exceeds capacity.
 * Steps cost 10 to a side neighbour and 14 diagonally; two raster passes
 * (forward, then backward) over the interior; the result is divided by 10,
 * truncated.  Unset interior pixels and the first and last row and column
 * hold 0.
 * Notes:
 *  1. Only unset interior pixels are sources; when the interior holds none,
 *     every entry is 0.
 * See also kxErodeE1. */
KX_API int kxDistTrans(const Image *image, int32_t *distances, uint32_t capacity);

/* Erosion by distance, in place.
 * image (a null image returns null): KIT_BIN; other types are returned
 *         unchanged.
 * radius: non-zero pixels whose kxDistTrans entry is below radius become 0.
 * Returns the image.
 * Notes:
 *  1. Radius 1 clears the frame's set pixels, and every set pixel when the
 *     interior holds no unset pixel; radius 0 or less changes nothing.
 *  2. When the distance array cannot be allocated the image is left
 *     unchanged. */
KX_API Image *kxErodeE1(Image *image, int radius);

/* Turns a mask into weights that fall off toward its edge, in place.
 * imMask: KIT_BIN or KIT_GRAY; other types are left unchanged.
 * radius: window side of the Gaussian smoothing (kxSmoothGaussian(copy,
 *         r, r)); values below 1 mean 1, which smooths nothing.
 * A copy of the mask is cast to KIT_GRAY (a binary mask's set pixels
 * become 255) and smoothed.  Each non-zero mask byte then becomes 255 where
 * the smoothed value g is 255, else trunc(c * 255.0) with v = g * (1/255)
 * and c = v * v * v in single precision (g = 128 gives 32, 200 gives 123,
 * 254 gives 252, 1 gives 0).  Zero bytes stay 0.  A KIT_BIN mask keeps its
 * imageType but holds values up to 255 afterwards.
 * Asserts "imMask", and "imEc" when the copy cannot be made.
 * Notes:
 *  1. A radius the smoothing refuses (above KXV_MAX_WINDOW) leaves the copy
 *     unsmoothed, and the weights are those of radius 1 (a KIT_BIN mask's
 *     set pixels become 255, a KIT_GRAY 200 becomes 123).
 *  2. The copy is read by its own rows, so a wrapped mask with padded rows
 *     gives the same weights as a packed one. */
KX_API void kxEclose(Image *imMask, int radius);

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
 *  2. Cannot fail for lack of memory: pixels are swapped in place (a
 *     three-byte left-right flip uses a copy of the row when one can be
 *     had). */
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
/* Turns the image by any angle about its centre (background 0).
 *   angle: degrees; positive turns the picture counter-clockwise as seen
 *          with rows running down.  Converted as angle * pi / 180.
 *   nearest: non-zero takes the nearest source pixel (floor(s + 0.5));
 *            zero interpolates bilinearly in single precision, each byte
 *            alone, rounded by (int)(v + 0.5).
 *   keepSize: zero gives the image the size of the turned bounding box,
 *             (int)(extent + 1.5) per side (so angle 0 adds one column and
 *             one row); non-zero keeps the size and cuts the centre out of
 *             the box, offset (boxW - width) / 2, (boxH - height) / 2
 *             truncated toward zero.
 * Accepts KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA (KIT_BIN stays 0/1); other
 * types and a null image are returned unchanged, without a report.
 * Returns the image.
 * Notes:
 *  1. Destination pixels are taken at integer offsets -half..+half from the
 *     box centre ((size-1)/2) and mapped to the source centre
 *     ((width-1)/2, (height-1)/2): an even box side leaves its last column or
 *     row at the background, and an even image side moves the content by one
 *     pixel even at angle 0.
 *  2. Bilinear samples reaching past the source edge mix in 0 (a dark seam
 *     on a light background), not the background.
 *  3. An angle that is not finite or lies beyond +-1e15 degrees (where
 *     doubles lie an eighth of a degree apart or more) leaves the image
 *     unchanged.  A wrapped (virtual) image cannot change size: with
 *     keepSize 0 it is left unchanged.
 *  4. When the box does not fit in memory "tmp_im" is reported and the image
 *     is left unchanged. */
KX_API Image *kxRotateEx(Image *image, double angle, int nearest, int keepSize);

/* kxRotateEx with a background colour (0xAARRGGBB, stored as kxSetPixelEx
 * stores it) for everything the turned picture does not cover.  Returns the
 * image; asserts "image" (null returned for null). */
KX_API Image *kxRotateE2(Image *image, double angle, uint32_t colour, int nearest, int keepSize);
/* Scales source into destination, whose size the caller has chosen.
 *   filter: 2 bilinear, 3 box, 4 Gaussian, 5 Hamming, 6 Blackman (two
 *           passes: rows to the new width, then columns to the new height);
 *           any other code scales by nearest neighbour.  KIT_BIN always
 *           scales by nearest neighbour.
 * Accepts KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA sources.  The destination
 * takes the source's type (re-allocated, pixels zero, when it differs).
 * Returns 1 when the pixels were scaled, 0 when nothing was done.
 * Asserts "imgOri" (source) and "imgNew" (destination).
 * Notes:
 *  1. Filtered weights are single-precision; each term byte * weight is
 *     truncated before it is added (modulo 256), so a flat picture may come
 *     out a level or two darker.  Destination sample u sits at source
 *     coordinate u * source / destination (no half-pixel offset); a
 *     reduction widens the filter by the inverse scale.  A destination
 *     sample no source sample weighs (enlarging past ratio 2 with the box,
 *     Hamming or Blackman filter puts the last column or row more than
 *     half a pixel beyond the source) takes the nearest source sample
 *     whole, instead of coming out 0.
 *  2. Nearest neighbour takes source index trunc(u / r + 0.5) with
 *     r = float(destination / source); destination columns and rows whose
 *     index falls past the source keep what they held (so an enlargement
 *     can leave the last column or row untouched).
 *  3. 0, destination unchanged: a virtual destination, an unusable source,
 *     a destination whose type cannot be changed, or memory running out. */
KX_API int kxScaleEx(const Image *source, Image *destination, int filter);

/* Scales the image in place by a factor.
 *   factor: > 0; new side = (int)(side * factor + 0.5) in extended
 *           precision, then at least 2 and at most 16384.
 *   filter: as kxScaleEx.
 * Accepts KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA.  Returns 1 when the image
 * was re-shaped to the scaled size (packed rows), else 0 with the image
 * unchanged: null, virtual, other types, factor <= 0 or NaN, memory running
 * out (then "0" is reported when the new image cannot be created).
 * Notes:
 *  1. factor 1.0 rebuilds the image with unchanged pixels. */
KX_API int kxScale(Image *image, float factor, int filter);

/* kxScale, or a reduction that keeps the image's size.
 *   keepSize: 0, or factor >= 1: exactly kxScale.  Otherwise the picture is
 *             reduced to (int)(side * factor + 0.5) per side (no clamping)
 *             and pasted with its top-left at ((width - newW) / 2,
 *             (height - newH) / 2) on a background of `colour` (stored as
 *             kxSetPixelEx stores it); a side reduced to 0 fills the whole
 *             image with `colour`.
 * Returns the image (null for null); unchanged for a virtual image, other
 * types, factor <= 0 or NaN.  Reports "imTmp" when the reduced picture
 * cannot be created, and leaves the image unchanged. */
KX_API Image *kxScaleE1(Image *image, float factor, uint32_t colour, int filter, int keepSize);

/* Rescales one side so that pixels pixelSizeX wide and pixelSizeY high
 * become square (ratios in double, new side = (int)(ratio * side + 0.5)).
 *   shrink 0: X > Y: height * X / Y;  X < Y: width * Y / X  (one side grows).
 *   shrink != 0: X > Y: width * Y / X;  X < Y: height * X / Y (one shrinks).
 *   filter: as kxScaleEx.
 * Accepts KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA.  Returns 1 when the image
 * was rescaled (re-shaped, packed rows), else 0.
 * Asserts "image", "pixelSizeX > 0 && pixelSizeY > 0", "new_h <= (8192 << 1)"
 * / "new_w <= (8192 << 1)" (a grown side above 16384) and "new_w >0" /
 * "new_h >0" (a shrunk side of 0); each returns 0 with the image unchanged.
 * Notes:
 *  1. Equal sizes, a new side equal to the old one, other types and virtual
 *     images (which cannot change size) return 0 and change nothing.
 *  2. Example: 3 x 2 on 100 x 100 gives 100 x 150, or 67 x 100 with shrink. */
KX_API int kxMakeSquarePixel(Image *image, int pixelSizeX, int pixelSizeY, int filter, int shrink);
/* Turns the picture about (cx, cy) inside an image of the same size, by
 * mapping the image's corners (0,0), (w,0), (w,h), (0,h), turned with
 * kxRotateVertexE1, through the perspective warp kxWarp (bilinear).
 *   cx, cy: centre in pixels (used as floats); angle: degrees, used as a
 *           float, counter-clockwise as seen with rows running down (the
 *           sense of kxRotateEx).
 *   colour: 0xAARRGGBB for everything the turned picture does not cover.
 * Accepts KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA; a KIT_RGBA image becomes
 * KIT_RGB for good (its alpha is dropped).  Returns the image (null for
 * null).
 * Notes:
 *  1. The warp reads point coordinates at pixel centres: a half turn about
 *     ((w-1)/2, (h-1)/2) equals kxRotate(image, 2); about (w/2, h/2) it
 *     lands one pixel further right and down.
 *  2. When the warp draws nothing (a non-finite angle or centre, or for
 *     kxTranslateE1 a non-finite shift or one so large that the
 *     single-precision corners collapse, e.g. dx = 1e9) the picture has left
 *     the frame: every pixel becomes `colour` (after the KIT_RGBA cast).
 *  3. Unchanged for a wrapped KIT_RGBA image (it cannot drop its alpha) and
 *     for other types.  Reports "imNew" when the result image cannot be
 *     created. */
KX_API Image *kxRotateE3(Image *image, double cx, double cy, double angle, uint32_t colour);

/* Shifts the picture by (+dx, +dy) pixels through kxWarp, the corners moved
 * by (float(dx), float(dy)); uncovered pixels take `colour`.  Note the
 * sense: opposite to kxTranslate.  Types, results and notes as kxRotateE3. */
KX_API Image *kxTranslateE1(Image *image, double dx, double dy, uint32_t colour);
/* @@end geometry */

/* ======================================================================
 * Drawing
 * ====================================================================== */
/* @@section draw */

/* Outline colours (kxSetLine, kxSetPolyline, kxSetEllipse, the outline of
 * kxFillPolygonE2): KIT_BIN 1 for any non-zero colour; KIT_GRAY the colour
 * when it is below 255, else 255 (so any opaque colour draws 255); KIT_RGB
 * B,G,R; KIT_RGBA B,G,R,A.
 * Area colours (kxFillRect, kxFillEllipse, kxFillPolygon, kxFillPolygonE1):
 * as above except that KIT_GRAY stores the colour's low byte (0x1FF writes
 * 0xFF, 0x100 writes 0).
 * Drawing works in place; pixels outside the image are skipped, never an
 * error.  Other image types draw nothing. */

/* Draws the line from (x0, y0) to (x1, y1), both ends included.
 *   image   the target; asserted non-null
 *   x0..y1  end points, any int values (the line may run outside the image)
 *   colour  0xAARRGGBB, outline colour rule
 * Notes:
 *   1. The pixels are those of an integer error walk starting at (x0, y0):
 *      the minor coordinate steps once twice the accumulated error reaches
 *      the major length (ties step; equal lengths walk along y).  So the
 *      direction matters: (0,0)->(4,1) draws (0,0) (1,0) (2,1) (3,1) (4,1),
 *      (4,1)->(0,0) draws (4,1) (3,1) (2,0) (1,0) (0,0).
 *   2. A zero-length line draws one pixel.
 *   3. The part inside the image is found before walking, so a line running
 *      far outside costs only its visible pixels. */
KX_API void kxSetLine(Image *image, int x0, int y0, int x1, int y1, uint32_t colour);

/* Draws the open chain of lines vertex 0 -> 1 -> ... -> count-1, each as
 * kxSetLine draws it (the last vertex is not joined to the first).
 *   pVertexArray  count (x, y) pairs; asserted non-null when count >= 2
 *   count         number of vertices; below 2 draws nothing and does not
 *                 read the array
 * Asserts "image". */
KX_API void kxSetPolyline(Image *image, const int *pVertexArray, int count, uint32_t colour);

/* Draws an ellipse outline centred at (cx, cy), optionally rotated.
 *   rx, ry  semi-axes along x and y, pixels
 *   angle   degrees, counter-clockwise on the y-down image, about the centre;
 *           the outline points are rotated and rounded to whole pixels
 *   colour  outline colour rule
 * Notes:
 *   1. Points come from the midpoint method with single-precision decision
 *      variables, first quadrant mirrored into the other three.
 *   2. Nothing is drawn unless 2 <= max(rx, ry) <= 2097151.
 *   3. rx = 0 (ry > 1) draws only the centre pixel; ry = 0 draws the row
 *      segment cx-rx..cx+rx; a negative rx draws nothing; a negative ry acts
 *      as |ry|.
 *   4. An angle of exactly 0 (or -0) skips the rotation.
 * Asserts "image". */
KX_API void kxSetEllipse(Image *image, int cx, int cy, int rx, int ry, float angle, uint32_t colour);

/* A rotated ellipse: centre, full width along its own x axis, full height,
 * rotation in degrees (counter-clockwise on the y-down image). */
typedef struct EllipseBox {
    double centerX;
    double centerY;
    double width;
    double height;
    double angle;
} EllipseBox;

/* Fills the inclusive rectangle (x0, y0)-(x1, y1), clipped to the image.
 *   colour  area colour rule
 * x0 > x1 or y0 > y1 fills nothing.  Asserts "image". */
KX_API void kxFillRect(Image *image, int x0, int y0, int x1, int y1, uint32_t colour);

/* Sets the bytes of the rectangle (x0, y0)-(x1, y1) of a KIT_GRAY or KIT_BIN
 * image to `value` as given (a KIT_BIN image gets the byte unreduced).
 * Each coordinate is first clamped into the image, so a rectangle wholly
 * outside still fills the nearest border row, column or corner (all four
 * negative: pixel (0, 0)).  After clamping x0 > x1 or y0 > y1 fills nothing.
 * A null image or another type does nothing (no assertion). */
KX_API void kxFillRectE1(Image *image, int x0, int y0, int x1, int y1, uint8_t value);

/* Fills the axis-aligned ellipse inscribed in the box (left, top)-(right,
 * bottom): pixel (x, y) is painted when
 *   (x - cx)^2 / a^2 + (y - cy)^2 / b^2 <= 1,
 * a = (right-left)/2, b = (bottom-top)/2, cx = (right+left)/2,
 * cy = (bottom+top)/2, each held in single precision, the sum evaluated in
 * double and rounded to single precision (boundary pixels with exactly 1
 * are inside).
 *   colour  area colour rule
 * Notes:
 *   1. Nothing is drawn unless right > left and bottom > top.
 *   2. Box (0,0)-(4,2): centre (2, 1), a = 2, b = 1; pixel (0, 1) is inside.
 * Asserts "image". */
KX_API void kxFillEllipse(Image *image, int left, int top, int right, int bottom, uint32_t colour);

/* Fills a rotated ellipse: pixel (x, y) is painted when its offset from the
 * centre (single precision), rotated by -angle, satisfies
 *   dx^2 / (w/2)^2 + dy^2 / (h/2)^2 <= 1
 * (each term rounded to single precision).
 *   box     centre, full width and height, angle in degrees
 *   colour  kxSetPixelEx's colour rule: KIT_GRAY stores a colour above 255
 *           as its luminance
 * Notes:
 *   1. A zero or NaN width or height, or a NaN centre, fills nothing.  An
 *      infinite width (or height) makes its term 0, so the ellipse becomes
 *      the strip |dy| <= h/2 of the turned frame: a 7 x 5 image with box
 *      {3.5, 2.5, inf, 4, 20} gets 27 of its 35 pixels.
 * A null image does nothing. */
KX_API void kxFillEllipseE1(Image *image, EllipseBox box, uint32_t colour);

/* Fills the inside of a polygon by the even-odd rule.  Pixel (x, y) is
 * inside when an odd number of edges (horizontal edges skipped) have
 * min(y1,y2) <= y < max(y1,y2) and cross the row strictly right of x, the
 * crossing (y-y1)(x2-x1)/(y2-y1) + x1 rounded to single precision.
 *   pVertexArray  count (x, y) pairs, closed implicitly; asserted non-null
 *   count         3 or more, else nothing is drawn (array not read)
 *   colour        area colour rule
 * Notes:
 *   1. The square (0,0) (4,0) (4,4) (0,4) fills columns 0..3 of rows 0..3:
 *      the right column and the bottom row are left to the neighbour.
 * Asserts "image". */
KX_API void kxFillPolygon(Image *image, const int *pVertexArray, int count, uint32_t colour);

/* As kxFillPolygon, painting only pixels inside the first polygon that are
 * not inside the second.
 *   pExcluded      the excluded polygon (may be null: excludes nothing)
 *   excludedCount  its vertex count; 2 or fewer excludes nothing
 * Asserts "image" and, for count >= 3, "pVertexArray". */
KX_API void kxFillPolygonE1(Image *image, const int *pVertexArray, int count, const int *pExcluded,
                            int excludedCount, uint32_t colour);

/* Draws the closed outline of a polygon (kxSetLine from each vertex to the
 * next and from the last back to the first) and, with fill != 0, seed-fills
 * its inside.
 *   colour  outline colour rule for the outline; for the fill it is reduced
 *           the same way (KIT_BIN 0/1, KIT_GRAY clamped to 255)
 *   fill    non-zero: fill
 * Notes:
 *   1. The seed is the first pixel one to the right of a vertex that lies in
 *      the image, does not already carry the fill colour and is inside the
 *      polygon (kxIsPointInPolygon).  From it kxFill spreads over the
 *      4-connected pixels equal to the seed's, bounded by the outline; an
 *      interior that is not uniform is only partly filled.  Without such a
 *      pixel only the outline is drawn.
 *   2. count < 3 or a null array draws nothing.
 *   3. Cost of the seed search: each distinct candidate pixel is put to the
 *      inside test once, and a test takes time proportional to count.  A
 *      polygon whose vertices repeat costs little (100,000 copies of one
 *      vertex: one test); one with many distinct vertices whose right
 *      neighbours all lie outside it costs up to count^2 steps (about 10^10
 *      for 100,000 vertices, seconds).  The result does not depend on how
 *      the search is done.
 * Asserts "image". */
KX_API void kxFillPolygonE2(Image *image, const int *pVertexArray, int count, uint32_t colour, int fill);

/* 4-connected seed fill: the pixels connected to (x, y) that equal the seed
 * pixel take the colour.  Returns the image (also for every no-op).
 *   colour  KIT_BIN 1 for non-zero; KIT_GRAY clamped to 255; KIT_RGB and
 *           KIT_RGBA write B,G,R; alpha is neither compared nor written
 * Notes:
 *   1. A seed outside the image, or a colour equal to the seed pixel's
 *      value (B,G,R for colour images), leaves the image unchanged.
 *   2. A null image returns null; other types are returned untouched. */
KX_API Image *kxFill(Image *image, int x, int y, uint32_t colour);

/* Sets selected channels of every pixel to `value`.
 *   channels  bits: 0x1 B (the only byte of KIT_BIN and KIT_GRAY), 0x2 G,
 *             0x4 R, 0x8 A (KIT_RGBA only); other bits are ignored
 *   value     the byte; KIT_BIN stores 1 for a non-zero value
 * Asserts "image". */
KX_API void kxFillEx(Image *image, uint32_t channels, uint8_t value);

/* Text style flags of kxFillTextEx. */
#define KX_TEXT_UNDERLINE 0x2
#define KX_TEXT_ITALIC 0x4
#define KX_TEXT_STRIKEOUT 0x8
#define KX_TEXT_TRANSPARENT 0x10

/* Draws text into the image, which becomes KIT_RGB.
 *   text        NUL-terminated, code page 1252 bytes; at most the first 4096
 *               are used; line feeds (0x0A) separate lines, empty lines are
 *               dropped; a carriage return is an ordinary character
 *   x, y        top-left corner of the text block; a negative value is
 *               raised to 0 (the block moves, it is not cut)
 *   face        font family, resolved through fontconfig; at most the first
 *               31 characters; null means "Arial"; an unknown family falls
 *               back to the sans-serif default
 *   height      character (em) height in pixels; 0 means 12; a negative
 *               value asks for that cell height (ascent + descent); sizes
 *               are limited to 4096 pixels
 *   textColour, backColour  0xAARRGGBB, alpha ignored
 *   flags       KX_TEXT_UNDERLINE, KX_TEXT_ITALIC, KX_TEXT_STRIKEOUT,
 *               KX_TEXT_TRANSPARENT; other bits are ignored
 * The block is as wide as the widest line and L x lines tall, L the tallest
 * line's cell height; it is filled with backColour, the lines are drawn
 * anti-aliased at (0, k*L) and the block is copied to (x, y), cut at the
 * right and bottom image edges.  With KX_TEXT_TRANSPARENT block pixels equal
 * to backColour (B, G and R) are not copied.
 * Notes:
 *   1. A KIT_BIN, KIT_GRAY or KIT_RGBA image is converted to KIT_RGB first
 *      (kxiCast) and stays so, also when nothing is drawn afterwards.  A
 *      virtual image that is not KIT_RGB is left alone.
 *   2. Nothing is drawn for a null image or text, an empty text or one of
 *      line feeds only, or x >= width or y >= height.
 *   3. A line that cannot be measured counts as 12 x 12 pixels. */
KX_API void kxFillTextEx(Image *image, const char *text, int x, int y, const char *face, int height,
                         uint32_t textColour, uint32_t backColour, uint32_t flags);

/* kxFillTextEx with face "Arial", a white background and
 * KX_TEXT_TRANSPARENT: text in the colour, image pixels under the pure
 * white parts of the block untouched. */
KX_API void kxFillText(Image *image, const char *text, int x, int y, int height, uint32_t textColour);

/* @@end draw */

/* ======================================================================
 * Vision filters
 * ====================================================================== */
/* @@section vision */
/* Warps, Canny edges, Scharr derivatives, smoothing, morphology, adaptive
 * thresholds and flood fills handed to the vision-filter library
 * (kxvision.h), whose comments give the filters' arithmetic.  Control
 * points are arrays of (x, y) float pairs, x first; the warps use the first
 * four points of each array, in the caller's order. */

/* Maps the quadrilateral srcPoints of image onto dstPoints of dest by a
 * perspective transform, bilinear (ikxWarp).
 * image: KIT_BIN, KIT_GRAY or KIT_RGB; a null image or another type
 *   returns dest untouched.
 * srcPoints, dstPoints: four (x, y) float pairs each.
 * dest (may be null): converted in place to image's imageType (kxiCast)
 *   when it differs, then drawn into; dest pixels outside the mapped area
 *   keep their bytes.  Null: a new zeroed image of image's size and type
 *   receives the warp (0 outside the mapped area).
 * Returns the warped image (dest or the new one); null when the warp is
 * refused (null or non-finite points, three points on a line, a dest that
 * cannot take the source's type, a source side of 32767 pixels or more, an
 * imageType inside 1..24 other than the three), dest then left as it was,
 * apart from the type conversion.  A KIT_BIN result holds 0/1 bytes.
 * Note: a pixel is drawn when its source position, rounded to the nearest
 * pixel, lies on the source image; edge pixels repeat for the bilinear
 * neighbours, so an identity mapping copies the image exactly. */
KX_API Image *kxWarp(const Image *image, const float *srcPoints, const float *dstPoints, Image *dest);

/* Maps the quadrilateral srcPoints of image onto the whole of dest: kxWarp
 * with dest's corners (0, 0), (width - 1, 0), (width - 1, height - 1),
 * (0, height - 1) as destination points, so the four source points land on
 * the centres of dest's corner pixels.
 * image: KIT_BIN, KIT_GRAY or KIT_RGB.  A null image, a null dest or another
 * type returns dest untouched.  Returns kxWarp's result. */
KX_API Image *kxUnwarp(const Image *image, const float *srcPoints, Image *dest);

/* kxWarp with counts and an optional patch mode.
 * srcCount, dstCount: lengths of the point arrays; below 4 returns dest
 *   untouched; only the first four points are used.
 * patch: 0 warps the whole of dest as kxWarp does (a null dest gets a new
 *   image).  With either value the quadrilateral dstPoints is then
 *   rendered separately and pasted into dest: exactly the pixels (x, y)
 *   inside it by the geometry library's even-odd rule (kxIsPointInPolygonE3)
 *   take the warped pixel, every other pixel of dest keeps its bytes.
 *   With a non-zero patch and a null dest, the pasting goes onto a new full
 *   warp.
 * image: KIT_BIN, KIT_GRAY or KIT_RGB; another type returns dest.  dest of
 * another type is converted with kxiCast first.  Returns dest (null when no
 * image could be made).
 * Asserts "image" and "pSrcControls && pDestControls".
 * Notes:
 *  1. The patch box is the destination points rounded to nearest (adding
 *     0.5, truncated); a quadrilateral whose box lies outside dest, or
 *     non-finite points, change nothing beyond the full warp.
 *  2. A dest that cannot take image's type (a virtual KIT_RGB dest for a
 *     grey image) receives no patch. */
KX_API Image *kxWarpEx(const Image *image, const float *pSrcControls, int srcCount, const float *pDestControls,
                       int dstCount, int patch, Image *dest);

/* Copies the quadrilateral quad of source onto the whole destination:
 * kxWarp(source, quad, corners, destination) with the corners (0, 0),
 * (w, 0), (w, h), (0, h) of the destination (w, h its width and height), so
 * quad's points land on the outer corners of the destination's corner
 * pixels (unlike kxUnwarp).  The destination is converted to source's
 * imageType first when it differs.
 * source: KIT_BIN, KIT_GRAY or KIT_RGB; nothing for a null image, KIT_RGBA
 * or a null quad.  Asserts "nw > 0 && nh >0" (destination sides). */
KX_API void kxCopyPixelsE3(const Image *source, Image *destination, const float *quad);

/* Box mean over a width x height window, in place (ikxSmooth method 1).
 * image: KIT_GRAY or KIT_RGB; null returns null, other types return the
 * image untouched.  width, height: 1..KXV_MAX_WINDOW (even sides are
 * used as they are, anchored at width / 2, height / 2).  Borders reflect
 * about the edge pixel.  Returns the image; null when the window is
 * refused (image untouched). */
KX_API Image *kxBlur(Image *image, int width, int height);

/* Gaussian smoothing over a width x height window, in place (ikxSmooth
 * method 2, sigmas derived from the sides: 0.3 * ((side - 1) / 2 - 1) +
 * 0.8; sides 3 and 5 use the kernels [1 2 1]/4 and [1 4 6 4 1]/16).
 * image: KIT_GRAY or KIT_RGB; null returns null, other types return the
 * image untouched.  width, height: 1..KXV_MAX_WINDOW; an even side grows
 * by one (2 smooths like 3), 1 leaves that direction alone.  Borders
 * reflect about the edge pixel.  Returns the image; null when a side is
 * refused (image untouched). */
KX_API Image *kxSmoothGaussian(Image *image, int width, int height);

/* Median over a size x size square, in place (ikxSmooth method 3).
 * image: KIT_GRAY or KIT_RGB; null returns null, other types return the
 * image untouched.  size: 1..KXV_MAX_WINDOW; an even size grows by one.
 * Beyond the edge the edge pixel repeats.  Returns the image; null when the
 * size is refused (image untouched). */
KX_API Image *kxSmoothMedian(Image *image, int size);

/* One pyramid step (ikxPyramid): value KXV_PYR_DOWN (0) halves the image
 * to (width + 1) / 2 x (height + 1) / 2, KXV_PYR_UP (1) doubles it, both
 * through a 5x5 Gaussian.
 * image: KIT_BIN, KIT_GRAY or KIT_RGB; a null image or KIT_RGBA returns
 *   dest untouched.
 * dest (may be null, may be image): receives the result (re-shaped to its
 *   size and image's type); null makes a new image.
 * Returns the result.  A KIT_BIN image's bytes, and the result's, are 0/1
 * afterwards.  Asserts "dest" when the library gives no result (another
 * value, a result too large, a virtual dest that cannot take it). */
KX_API Image *kxPyramid(Image *image, int value, Image *dest);

/* Canny edges in place (ikxCanny): edge pixels 255, others 0.
 * threshold1, threshold2: hysteresis thresholds (either order).
 * binarise: non-zero turns every non-zero byte into 1 and the image into
 *   KIT_BIN.
 * value: the Sobel aperture 3, 5 or 7 (0 means 3), optionally or-ed with
 *   KXV_CANNY_L2 for the L2 gradient norm.
 * image: KIT_GRAY; null returns null, other types return the image
 * untouched.  Returns the image.
 * Note: with refused thresholds or aperture the image keeps its pixels, but
 * the binarise flag still applies. */
KX_API Image *kxCanny(Image *image, double threshold1, double threshold2, int binarise, int value);

/* Absolute Scharr derivative in place (ikxScharr): value KXV_SCHARR_X (0)
 * d/dx, KXV_SCHARR_Y (1) d/dy, KXV_SCHARR_XY (2) the saturated sum of both.
 * image: KIT_GRAY or KIT_RGB; null returns null, other types return the
 * image untouched.  Returns the image; null for another value. */
KX_API Image *kxScharr(Image *image, int value);

/* Morphology with the 3x3 square, in place (kxvision.h's KXV_MORPH_ codes):
 * operation 0 erode (ikxErode) and 1 dilate (ikxDilate), repeated
 *   `iterations` times (<= 0: unchanged);
 * operation 2 open, 3 close, 4 gradient, 5 top hat, 6 black hat
 *   (ikxMorphology); an iteration count <= 0 counts as 1.
 * image: any of the four types; another operation returns the image
 * untouched; null returns null.  Returns the library's result: the image,
 * or null for an unusable image record. */
KX_API Image *kxMorphology(Image *image, int operation, int iterations);

/* kxMorphology(image, 2, 1): one opening (erosion, then dilation). */
KX_API Image *kxMorpOpen(Image *image);

/* kxMorphology(image, 3, 1): one closing (dilation, then erosion). */
KX_API Image *kxMorpClose(Image *image);

/* Adaptive threshold in place (ikxAdaptive): a pixel becomes 255 when it
 * is above its block's mean minus 5, else 0; the image stays KIT_GRAY.
 * mode: 1 Gaussian-weighted mean, any other value the plain mean.
 * value: the block side, 3..KXV_MAX_WINDOW (an even side grows by one).
 * image: KIT_GRAY; anything else (null included) is left alone, as is a
 * refused block size.  Returns the image. */
KX_API Image *kxAdaptive(Image *image, int mode, int value);

/* Flood fill around the seed (x, y) (ikxFloodFill): the connected pixels
 * within lo below and up above the colour of the neighbour they are reached
 * from (the seed's with KXV_FLOOD_FIXED_RANGE in flags) take `value`.
 * connectivity: 4 or 8 (other values mean 4).
 * image: any of the four types (KIT_RGBA keeps its alpha).  A null image,
 * a seed outside it or refused tolerances fill nothing.
 * Returns the number of repainted pixels (0 when nothing was filled). */
KX_API int kxFloodFill(Image *image, int x, int y, FloodValue value, FloodRecord lo, FloodRecord up,
                       int connectivity, int flags);

/* The region kxFloodFill would repaint, marked in a mask of image's size
 * (ikxFloodFillM, then its one-pixel frame is cut with kxClip); the image
 * is not changed.
 * mask (may be null): re-used when it is a one-byte image of
 *   (width + 2) x (height + 2) (non-zero bytes stop the fill), otherwise
 *   re-shaped and zeroed; null makes a new KIT_GRAY mask.
 * Marked pixels get the mask value in bits 8..15 of flags
 * (KXV_FLOOD_MASK_VALUE(v); 0 means 1), the rest stay as they were.
 * Returns the mask, width x height; a null image returns `mask` untouched;
 * null when the fill is refused (seed outside, bad tolerances, a virtual
 * mask of the wrong size).
 * Note: a virtual mask of the right size keeps its frame, as kxClip cannot
 * re-size it. */
KX_API Image *kxFloodMask(const Image *image, int x, int y, FloodRecord lo, FloodRecord up, int connectivity,
                          int flags, Image *mask);

/* Placeholders of the Gabor family: they ignore their arguments and do
 * nothing; the first four return 0 (kxCreateGaborBank a null pointer). */
KX_API void *kxCreateGaborBank(int a, int b, int c, int d);
KX_API int kxDestroyGaborBank(int bank);
KX_API int kxOrientationField(int a, int b);
KX_API int kxFrequenceField(int a, int b, int c);
KX_API void kxGabor(int a, int b);
/* @@end vision */

#ifdef __cplusplus
}
#endif

#endif /* KXPRE_H */
