/*
 * kxextra.h - the companion library of kxpre: what a pipeline needs after
 * binarizing and thinning a page or a fingerprint.
 *
 *   Connected components   kxxLabel, kxxComponentStats, kxxDespeckle,
 *                          kxxDespeckleEx, kxxKeepLargest
 *   Stroke points          kxxStrokePoints, kxxMarkStrokePoints
 *   Selector levels        kxxLevel, kxxHistogramLevel, kxxIsoDataLevel,
 *                          kxxMultiLevels
 *   Local thresholds       kxxLocalLevels, kxxLocalThreshold
 *   Page skew              kxxFindSkew, kxxDeskew
 *   Gradients              kxxGradient
 *   Contrast               kxxClahe
 *   Documents              kxxMeasurePage, kxxEstimateStrokeWidth,
 *                          kxxEstimatePaper, kxxFlattenPaper,
 *                          kxxBinarizeDocument, kxxBinarizeDocumentEx
 *   Cleaning pages         kxxRemoveSpecks, kxxClearScanBorder,
 *                          kxxRemoveRulings
 *   Skew of any page       kxxFindPageSkew, kxxDeskewPage
 *   One call               kxxCleanPage
 *
 * The functions work on the Image records of the image library (kximage.h)
 * and follow the conventions of kxpre.h:
 *  - An operation that changes an image does so in place and returns the
 *    pointer it was given.  A query returns a count or a level (-1 when it
 *    refuses its input) or 1 for done and 0 for refused, as its comment
 *    says; a refused query writes nothing.
 *  - An image whose record is not a consistent layout (imageType outside
 *    the four KIT_ types, null data, a side below 1, pitch < width * bpp,
 *    pitch * height of 2^31 bytes or more, `type` disagreeing with
 *    imageType) is refused: nothing is written and the do-nothing result
 *    comes back.  Other image types than the one a function names are
 *    refused the same way.
 *  - A broken precondition (a required pointer that is null, scratch memory
 *    that cannot be had) reports the asserted expression with file and line
 *    on stderr; debug builds then abort, release builds return the
 *    do-nothing result.
 *  - Only pixel bytes are read or written: the bytes between width * bpp
 *    and pitch of a wrapped image's rows belong to the caller.
 *  - KIT_BIN pixels are bytes 0/1; any non-zero byte counts as set.
 *  - Nothing is kept between calls; calls on different images may run on
 *    different threads at once.
 *
 * Label arrays are int32_t, width * height entries, row-major with rows
 * `width` entries apart (no padding): label (x, y) is labels[y * width + x].
 */
#ifndef KXEXTRA_H
#define KXEXTRA_H

#include <stdint.h>

#include "kximage.h"

#if defined(__GNUC__)
#define KXX_API __attribute__((visibility("default")))
#else
#define KXX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================
 * Connected components
 * ====================================================================== */

/* Statistics of one label (kxxComponentStats).  sizeof 40 on every ABI
 * with 8-byte aligned doubles; the fields in this order, no padding. */
typedef struct KxxComponent {
    int32_t label;   /* the label these numbers describe */
    int32_t area;    /* pixels carrying the label */
    int32_t left;    /* bounding box: first column */
    int32_t top;     /*               first row */
    int32_t width;   /*               columns (right = left + width - 1) */
    int32_t height;  /*               rows */
    double cx;       /* centroid: (sum of x) / area, see kxxComponentStats */
    double cy;       /*           (sum of y) / area */
} KxxComponent;

/* Labels the connected components of the set pixels of a binary image.
 *   image:        KIT_BIN; not changed.
 *   connectivity: 4 (edge neighbours) or 8 (edge and corner neighbours).
 *   labels:       width * height int32_t (see the top of this file); every
 *                 entry is written: 0 for a clear pixel, 1..N for the
 *                 component holding a set pixel.
 * Components are numbered in the raster order (row by row, left to right)
 * of their first pixel: the component holding the first set pixel is 1,
 * the one whose first pixel comes next is 2, and so on.  That numbering
 * makes the result a function of the image alone.
 * Returns N, the number of components (0 for an image with no set pixel);
 * -1 with labels untouched for another image type, an unusable record or
 * a connectivity other than 4 and 8.
 * Asserts "image && labels".  Scratch memory: 4 bytes per two pixels at
 * most (the union-find forest); when it is not available "forest" is
 * reported and -1 returned.
 * Note: a component of a 2^31 - 1 pixel image fits an int32_t, as does the
 * number of components (at most half the pixels plus one). */
KXX_API int kxxLabel(const Image *image, int connectivity, int32_t *labels);

/* Per-label statistics of a label array.
 *   labels: width * height int32_t, as kxxLabel writes them.
 *   count:  the largest label to describe (kxxLabel's N).
 *   stats:  count + 1 records; stats[k] describes label k, stats[0] the
 *           clear pixels (label 0).
 * For each label: the number of pixels, the smallest box holding them, and
 * the centroid: the sums of x and of y over its pixels in exact 64-bit
 * integers, each divided by the area in double (one correctly rounded
 * division: the value OpenCV's connectedComponentsWithStats reports).  A
 * label no pixel carries has area, box and centroid 0.  Entries below 0 or
 * above count are not counted anywhere.
 * Returns 1; 0 (stats untouched) for width or height below 1, a
 * width * height of 2^31 or more, or count below 0.
 * Asserts "labels && stats".  Scratch memory: 40 bytes per label; when it
 * is not available "acc" is reported and 0 returned. */
KXX_API int kxxComponentStats(const int32_t *labels, int width, int height, int count, KxxComponent *stats);

/* Clears every component of fewer than minArea pixels ("specks"), in place.
 *   image:        KIT_BIN, changed in place; stays KIT_BIN.
 *   connectivity: 4 or 8, as kxxLabel.
 *   minArea:      components with area >= minArea stay; minArea <= 1
 *                 keeps everything.
 * Returns image; null for null; another type, an unusable record or
 * another connectivity comes back unchanged.
 * Scratch memory: a label per pixel plus kxxLabel's; when it is not
 * available, "labels" is reported and the image comes back unchanged. */
KXX_API Image *kxxDespeckle(Image *image, int connectivity, int minArea);

/* kxxDespeckle for components of either value, in place.
 *   image, connectivity, minArea: as kxxDespeckle.
 *   value: 1 clears the set components of fewer than minArea pixels
 *          (kxxDespeckle); 0 sets the clear ones of fewer than minArea
 *          pixels to 1 (pinholes in the ink of a page whose paper is
 *          clear, or, on a page whose paper is set, specks of ink), the
 *          set pixels' bytes kept as they are.
 * Returns image; null for null; a value other than 0 and 1 and what
 * kxxDespeckle refuses come back unchanged.  Scratch memory: a byte and a
 * label per pixel plus kxxLabel's; when it is not available "labels" is
 * reported and the image comes back unchanged. */
KXX_API Image *kxxDespeckleEx(Image *image, int connectivity, int minArea, int value);

/* Keeps the n largest components and clears the others, in place.
 *   image:        KIT_BIN, changed in place; stays KIT_BIN.
 *   connectivity: 4 or 8, as kxxLabel.
 *   n:            components to keep; n <= 0 clears the image, n >= N
 *                 keeps it as it is.
 * Components are ranked by area, larger first; among equal areas the one
 * whose first pixel comes first in raster order (the lower kxxLabel label)
 * ranks higher, so exactly min(n, N) components stay.
 * Returns image; null for null; another type, an unusable record or
 * another connectivity comes back unchanged.
 * Scratch memory as kxxDespeckle, plus 4 bytes per component to rank them;
 * when that is not available "order" is reported and every component
 * stays. */
KXX_API Image *kxxKeepLargest(Image *image, int connectivity, int n);

/* ======================================================================
 * Stroke points of a one-pixel-wide skeleton
 * ====================================================================== */

/* Kinds of set pixels by their crossing number: the number of 0 -> 1
 * steps met walking once around the eight neighbours in circular order
 * (E, NE, N, NW, W, SW, S, SE, back to E), pixels outside the image
 * counting as 0.  That is half the sum of |P(i) - P(i+1)| around the ring.
 *   crossing number 0: an isolated dot;  1: an end point;
 *   2: an inner stroke point;             3 or 4: a branch point.
 * Bits of the `kinds` argument of kxxStrokePoints: */
#define KXX_STROKE_END 1    /* crossing number 1 */
#define KXX_STROKE_BRANCH 2 /* crossing number 3 or 4 */
#define KXX_STROKE_DOT 4    /* crossing number 0 */

/* Values of kxxMarkStrokePoints' output: */
#define KXX_MARK_NONE 0   /* clear pixel */
#define KXX_MARK_LINE 1   /* crossing number 2 */
#define KXX_MARK_END 2    /* crossing number 1 */
#define KXX_MARK_BRANCH 3 /* crossing number 3 or 4 */
#define KXX_MARK_DOT 4    /* crossing number 0 */

/* Lists the stroke points of a skeleton.
 *   skeleton: KIT_BIN, one pixel wide (kxThinning's output); not changed.
 *   kinds:    which points to list: an OR of KXX_STROKE_END,
 *             KXX_STROKE_BRANCH and KXX_STROKE_DOT.
 *   points:   room for `capacity` (x, y) pairs of int, x first; may be null
 *             when capacity is 0.
 * The points are listed in raster order; the first min(count, capacity)
 * are written.  Call once with capacity 0 to learn the count.
 * Returns the number of such points in the image (which may exceed
 * capacity); -1 for another type or an unusable record.
 * Asserts "skeleton" and "points || capacity <= 0".
 * Note: the crossing number looks at the ring only, so on a skeleton that
 * is not one pixel wide (a 2 x 2 block, a stair step with both its corner
 * pixels) it reports what the ring says: a pixel of a solid block has
 * crossing number 0 or 1.  Thin first. */
KXX_API int kxxStrokePoints(const Image *skeleton, int kinds, int *points, int capacity);

/* Marks every pixel of a skeleton with its kind, in place.
 *   image: KIT_BIN, becomes KIT_GRAY (same layout) holding KXX_MARK_NONE
 *          for clear pixels and KXX_MARK_LINE, _END, _BRANCH or _DOT for
 *          set ones, by their crossing number (computed on the image as it
 *          was given).
 * Returns image; null for null; another type or an unusable record comes
 * back unchanged.
 * Scratch memory: three rows; when it is not available "rows" is reported
 * and the image comes back unchanged. */
KXX_API Image *kxxMarkStrokePoints(Image *image);

/* ======================================================================
 * Selector levels as numbers
 * ====================================================================== */

/* Global level selectors.  Each computes the level the binarizer of
 * kxpre.h named beside it binarizes at, without binarizing, by the same
 * code; every one places its level in the lower class. */
#define KXX_OTSU 0             /* kxbOtsu: pixels >= max(level, 1) become 1 */
#define KXX_MIN_ERROR 1        /* kxbMinError(criterion 0), kxbGetOptima method 0 */
#define KXX_MIN_ERROR_POISSON 2 /* kxbMinError(criterion 1), kxbGetOptima method 1 */
#define KXX_MAX_ENTROPY 3      /* kxbMaxEntropy, kxbGetOptima method 2 */
#define KXX_MODE 4             /* kxbGetOptima method 3: the most frequent level */

/* The level a selector picks for an image's grey-level histogram.
 *   image:    KIT_GRAY; not changed.
 *   mask:     may be null (every pixel counts); otherwise only pixels whose
 *             mask byte (one byte per pixel at the mask's own pitch, any
 *             imageType) is non-zero count, within the rectangle common to
 *             image and mask - the rule of kxbOtsu and kxbGetOptimaE1.
 *   selector: KXX_OTSU .. KXX_MODE.
 * Returns the level, 0..255, exactly the one the named kxpre function
 * computes: Otsu gives 0 for a uniform image or an empty selection; the
 * minimum-error and maximum-entropy selectors give 255 for an empty
 * selection; the mode gives 0.  The binarizers raise a level of 0 to 1
 * (kxbOtsu, kxbMinError, kxbMaxEntropy: pixels >= max(level, 1) become 1);
 * the level returned here is not raised.
 * Returns -1 for another image type, an unusable image or mask record
 * (null data, a side below 1, pitch below its width) or another selector.
 * Asserts "image".  Otsu's histogram is a scratch block of 256 floats;
 * when it is not available "histogram" is reported and -1 returned. */
KXX_API int kxxLevel(const Image *image, const Image *mask, int selector);

/* kxxLevel on a histogram given as counts.
 *   histogram: 256 counts, histogram[v] the number of pixels of value v;
 *              negative counts are refused.
 * Returns the level, or -1 for a negative count or another selector.
 * The result equals kxxLevel's on any image with these counts.
 * Asserts "histogram". */
KXX_API int kxxHistogramLevel(const int32_t histogram[256], int selector);

/* The level kxbIsoData binarizes at (pixels > level become 1), same
 * arguments and arithmetic: from 128, the rounded (half up) average of the
 * mean below and the mean from the level up, at most maxIterations + 1
 * updates, on the histogram smoothed over `window` bins.
 *   image: KIT_GRAY; not changed.
 * Returns 0..255; -1 for another type or an unusable record.
 * Asserts "image". */
KXX_API int kxxIsoDataLevel(const Image *image, int maxIterations, int window);

/* The thresholds kxbMultiLevel posterizes at: levels - 1 values
 * b[0] < b[1] < ... (pixels p <= b[0] form class 0, b[i-1] < p <= b[i]
 * class i, p > b[levels-2] the last), by kxbMultiLevel's search.
 *   image:      KIT_GRAY; not changed.
 *   levels:     number of classes, 2..256.
 *   thresholds: room for levels - 1 ints.
 * Returns levels - 1, the number written; -1 (nothing written) for another
 * type, an unusable record or levels outside 2..256.
 * Asserts "image && thresholds".  When the search's scratch memory is not
 * available, -1 is returned. */
KXX_API int kxxMultiLevels(const Image *image, int levels, int *thresholds);

/* ======================================================================
 * Local thresholds by name
 * ====================================================================== */

/* Methods of kxxLocalLevels and kxxLocalThreshold.  m and s are the mean
 * and standard deviation of the window around the pixel (see below), k the
 * caller's weight, and every formula is evaluated in double as written,
 * left to right:
 *   KXX_NIBLACK   T = m - k * s                       (k = 0.2 is usual)
 *   KXX_SAUVOLA   T = m * (1 + k * (s / r - 1))       (k = 0.2..0.5, r = 127.5)
 *   KXX_WOLF      T = ((1 - k) * m + k * M) + k * (s / R) * (m - M)
 *                 with M the smallest pixel of the image and R the largest
 *                 s over the image; s / R counts as 0 when R is 0 (k = 0.5)
 *   KXX_BRADLEY   T = m * (1 - k)                     (k = 0.15 is usual)
 * Niblack and Sauvola are scikit-image's threshold_niblack and
 * threshold_sauvola: with the same window, k and r, T is the same double at
 * every pixel (the border rule included) for an image of 8-bit pixels. */
#define KXX_NIBLACK 0
#define KXX_SAUVOLA 1
#define KXX_WOLF 2
#define KXX_BRADLEY 3

/* The local level T of every pixel.
 *   image:  KIT_GRAY; not changed.
 *   method: KXX_NIBLACK .. KXX_BRADLEY.
 *   window: side of the square window centred on the pixel, 1..65535; an
 *           even side acts as the next odd one, a side below 1 as 1.
 *   k:      the method's weight (finite).
 *   r:      Sauvola's dynamic range of s, > 0 (127.5 for 8-bit pixels,
 *           half their range); not looked at by the other methods.
 *   levels: width * height doubles, rows `width` apart (no padding).
 * Window statistics: the image is extended beyond every border by
 * reflection about its edge pixels (... c b | a b c ... x y z | y x ...),
 * repeated for windows wider than the image, so every window holds
 * exactly n = window * window samples.  S and Q, the sums of the window's
 * values and of their squares, are exact integers; then, in double,
 *   m = S / n,   s = sqrt(max(Q / n - m * m, 0)).
 * Returns 1; 0 (levels untouched) for another type, an unusable record, an
 * unknown method, a window above 65535, a k that is not finite, or (for
 * Sauvola) r not above 0 or not finite.
 * Asserts "image && levels".  Scratch memory: a few rows; when it is not
 * available "columns && prefix && stats" is reported and 0 returned. */
KXX_API int kxxLocalLevels(const Image *image, int method, int window, double k, double r, double *levels);

/* Binarizes against the local level: pixels p with p > T (T as
 * kxxLocalLevels computes it) become 1, others 0 - bright pixels are
 * foreground, as with scikit-image's `image > threshold`.
 *   image: KIT_GRAY, changed in place; becomes KIT_BIN.
 *   method, window, k, r: as kxxLocalLevels.
 * Returns image; null for null; another type, an unusable record or
 * refused arguments come back unchanged.
 * Scratch memory: one byte per pixel (the original pixels) plus a few
 * rows; when it is not available "source" is reported and the image comes
 * back unchanged.
 * Note: dark text on light paper is the 0 class; invert with kxbSimple's
 * `invert` convention in mind, or compare the other way with
 * kxxLocalLevels. */
KXX_API Image *kxxLocalThreshold(Image *image, int method, int window, double k, double r);

/* ======================================================================
 * Page skew
 * ====================================================================== */

/* Finds the skew of a page of text lines by projection profiles.
 *   image:      KIT_BIN, set pixels the ink (binarize dark text with
 *               kxbSimple's invert); not changed.
 *   angle:      receives the skew in degrees, -15..15: text lines run along
 *               y = y0 + x * tan(angle) (rows down), so a positive angle is
 *               a page turned clockwise as seen, and kxRotateEx(page, angle,
 *               ...) levels it (kxxDeskew).
 *   confidence: receives (best - mean) / best, 0..1, where best is the
 *               score of the angle found and mean the mean score of the
 *               coarse sweep: pages of text lines gave 0.85..0.97 in our
 *               measurements, random noise about 0.25 (the best of many
 *               noisy scores stands out a little).  0 for a page without
 *               ink, whose angle is 0.
 * Method.  The page is cut into strips 16 pixels wide and the ink of each
 * strip row is counted once.  For a trial angle t each strip's row counts
 * are moved up by xc * tan(t) rows, xc the strip centre's offset from the
 * page centre (xc = j*16 + min(16, width - j*16)/2 - width/2, double; tan
 * of t * pi / 180), and summed into one profile.  The coarse sweep moves
 * whole rows, floor(xc * tan(t) + 0.5), each count weighing 256; the fine
 * sweeps move by f + q/256 rows (f + q/256 = floor(xc * tan(t) * 256 +
 * 0.5) / 256, q in 0..255) and give (256 - q) * count to bin y - f and
 * q * count to bin y - f - 1, all in integers.  The score is the sum of
 * squared differences of neighbouring bins (exact 64-bit integers) over
 * the bins every strip reaches, divided in double by the number of those
 * differences (so angles that leave fewer such bins compare fairly, and
 * the ramps where strips start and end - or ink touching the page edge -
 * do not count).  A sweep of -15..15 in steps of 0.25 degrees
 * (-15 + 0.25 * i) is followed by two sweeps of +-10 steps of 0.025 and
 * then 0.0025 degrees around the best angle so far (c + step * i, double);
 * the fine sweeps compare sub-row scores only (the coarse winner is scored
 * again that way).  The highest score wins; among equal scores the angle
 * nearest 0, then the one met first.  The confidence compares the coarse
 * sweep's scores.
 * Returns 1; 0 (nothing written) for another type or an unusable record.
 * Asserts "image && angle && confidence".  Scratch memory: one byte per 16
 * pixels and a profile; when it is not available "counts && bins" is
 * reported and 0 returned.
 * Notes:
 *  1. Lines must be roughly horizontal: a page turned by more than 15
 *     degrees (or 90) gives the angle within range that best lines it up.
 *     A page wider than 2^22 pixels is not searched (angle 0, confidence
 *     0): its profile bins would not fit 32 bits.
 *  2. Measured on generated pages (text drawn by kxFillText, turned by
 *     known angles up to 14.8 degrees with kxRotateE2, 1 % of pixels
 *     flipped) the error stayed within 0.005 degrees on A4 pages at 300 dpi
 *     (2480 x 3508, 14..19 ms) and within 0.03 degrees at 150 dpi.
 *  3. The score assumes straight lines: a photographed page whose lines
 *     bend (scikit-image's page()) has no single skew, and the angles found
 *     for it turned by known angles agreed within about +-0.2 degrees. */
KXX_API int kxxFindSkew(const Image *image, double *angle, double *confidence);

/* Finds the skew (kxxFindSkew) and, when its confidence is at least
 * minConfidence and the angle is not 0, turns the image back with
 * kxRotateEx(image, angle, nearest, 1) (size kept, background 0).
 *   image:         KIT_BIN, changed in place.
 *   minConfidence: below it the image is left as it is (0 always turns).
 *   nearest:       passed to kxRotateEx.
 *   angle:         may be null; receives the angle found, also when the
 *                  image is not turned.
 * Returns image; null for null; another type or an unusable record comes
 * back unchanged (angle untouched).
 * Note: to straighten a grey or colour page, find the angle on its binary
 * version and call kxRotateEx (or kxRotateE2 with a paper colour) on it. */
KXX_API Image *kxxDeskew(Image *image, double minConfidence, int nearest, double *angle);

/* ======================================================================
 * Gradients
 * ====================================================================== */

/* Derivative operators and norms of kxxGradient. */
#define KXX_SOBEL 0  /* 3 x 3: [-1 0 1; -2 0 2; -1 0 1] / gx, its transpose / gy */
#define KXX_SCHARR 1 /* 3 x 3: [-3 0 3; -10 0 10; -3 0 3] / gx, its transpose / gy */
#define KXX_L1 1     /* |gx| + |gy| */
#define KXX_L2 2     /* sqrt(gx^2 + gy^2) */

/* The gradient of a grey image: derivatives, magnitude and direction, any
 * of them, in one pass.  Nothing clips: a Sobel derivative reaches
 * +-1020, a Scharr one +-4080, an L1 magnitude 2040 or 8160.
 *   image:      KIT_GRAY; not changed.
 *   op:         KXX_SOBEL or KXX_SCHARR.
 *   norm:       KXX_L1 or KXX_L2; not looked at when no magnitude is asked
 *               for.
 *   gx, gy:     may be null; width * height int16_t (rows `width` apart):
 *               the exact integer derivatives, gx positive where the image
 *               brightens to the right, gy where it brightens downwards.
 *               They equal OpenCV's Sobel/Scharr (dx or dy 1, ksize 3,
 *               CV_16S) with its default border.
 *   magnitude:  may be null; width * height uint16_t: L1 exactly; L2 the
 *               square root of the exact integer gx^2 + gy^2 in double,
 *               rounded half up ((int)(m + 0.5)).
 *   magnitudeF: may be null; width * height float: L1 exactly; L2 that
 *               double root rounded to float.
 *   direction:  may be null; width * height float: atan2(gy, gx) in double,
 *               radians in -pi..pi, rounded to float; measured from +x
 *               towards +y (rows down, so clockwise as seen); 0 where
 *               gx = gy = 0.
 * Border: the image is mirrored about its edge pixels (row -1 is row 1,
 * column w is column w - 2); a side of one pixel repeats that pixel.
 * Returns 1; 0 (nothing written) for another type, an unusable record, an
 * unknown op, or an unknown norm when a magnitude is asked for.
 * Asserts "image".  Scratch memory: five rows of int16_t; when it is not
 * available "rows" is reported and 0 returned. */
KXX_API int kxxGradient(const Image *image, int op, int norm, int16_t *gx, int16_t *gy, uint16_t *magnitude,
                        float *magnitudeF, float *direction);

/* ======================================================================
 * Contrast-limited adaptive histogram equalization
 * ====================================================================== */

/* Equalizes the histogram tile by tile with a clip limit and blends the
 * tiles' tables bilinearly, in place: the method of OpenCV's createCLAHE
 * with the same parameters.  Most pixels come out within 1 of it, but not
 * all (a difference of 2 has been seen where the two blends round apart);
 * the arithmetic below is what this library computes, exactly.
 *   image:     KIT_GRAY, changed in place.
 *   tilesX/Y:  tiles across and down, 1..256 each (8 x 8 is usual).
 *   clipLimit: relative clip limit (40 is OpenCV's default, 2..4 usual);
 *              0 or below: no clipping (plain tile equalization).
 * Tiles, sized as OpenCV sizes them.  When width % tilesX and
 * height % tilesY are both 0, tw = width / tilesX and th = height / tilesY;
 * otherwise tw = width / tilesX + 1 and th = height / tilesY + 1 (integer
 * division; so a side that divides evenly still grows by a whole tile's
 * worth when the other does not).  The image is extended to tw * tilesX by
 * th * tilesY by mirroring about its last column and row (repeated when
 * the extension is wider than the image), and tile (i, j) covers columns
 * i*tw .. i*tw + tw - 1 and rows likewise of the extension: n = tw * th
 * pixels each.
 * Tables.  Per tile: limit = max(1, (int64)min(clipLimit * n / 256, n)) (in
 * double); every bin above it is cut to it and the excess E summed;
 * E / 256 (integer division) is added to every bin and the remaining
 * E % 256 counts one each to bins 0, s, 2s, ... (s = max(1, 256 / (E % 256)))
 * until spent.  table[v] = min(255, (int)(float(c(v)) * (255.0f / n) +
 * 0.5f)), c(v) the clipped cumulative count up to v, in float.
 * Blend.  For column x: f = x * (1.0f / tw) - 0.5f, i = floor(f),
 * u = f - i, tiles max(i, 0) and min(i + 1, tilesX - 1) (float); rows
 * likewise (v).  The pixel becomes (int)(((A * (1 - u) + B * u) * (1 - v) +
 * (C * (1 - u) + D * u) * v) + 0.5f), A..D the four tables at its value,
 * evaluated in float as written.
 * Returns image; null for null; another type, an unusable record, tiles
 * outside 1..256 or a NaN clip limit come back unchanged.
 * Scratch memory: 1280 bytes per tile plus a few rows; when it is not
 * available "hist && luts" is reported and the image comes back unchanged.
 * Note: OpenCV rounds half to even and evaluates its blend in its own
 * order; where the blend lies within a rounding of .5 the two results
 * differ by 1. */
KXX_API Image *kxxClahe(Image *image, int tilesX, int tilesY, double clipLimit);

/* ======================================================================
 * Documents: paper, stroke width, binarization of degraded pages
 * ====================================================================== */

/* What kxxMeasurePage finds on a page, and what kxxBinarizeDocumentEx
 * used.  sizeof 28, seven ints in this order (the last two were added
 * after the first five: a caller's record must have room for them). */
typedef struct KxxPageMeasures {
    int strokeWidth; /* pixels, 2..255; 0 when the page shows no strokes */
    int textHeight;  /* pixels; 0 when no letter-sized component is found */
    int paperCell;   /* cell side of the paper estimate, 2..64 */
    int edgeLevel;   /* stroke edges: 3 x 3 spread above it (binarizer only) */
    int window;      /* side of the binarizer's window (binarizer only) */
    int weakLevel;   /* ceiling of ink candidates (binarizer only) */
    int strongLevel; /* a kept component has a pixel at most this, -1 when
                        there was no candidate (binarizer only) */
} KxxPageMeasures;

/* Pages.  The functions below take a KIT_GRAY, KIT_RGB or KIT_RGBA page; a
 * colour pixel counts as its luminance R*0.299 + G*0.587 + B*0.114 in
 * double, truncated (kxiCast's grey).  Every step is integer arithmetic on
 * that grey page g (w x h), as follows.
 *
 * Paper at cell side s (2..64).  The page is cut into s x s cells from
 * its top left corner (the last row and column of cells may be smaller);
 * each cell gets the mean of its n pixels, (sum + n/2) / n.  On that grid
 * a closing removes the ink: a max filter and then a min filter over 7 x 7
 * cells (3 on every side, cut at the grid's border), then a 3 x 3 mean
 * ((sum + 4) / 9, the grid's edge cells repeated).  Pixel x then lies at
 * t = (2x + 1 - s) / (2s) cells from the first cell centre: with
 * i = floor(t) and u = 2x + 1 - s - 2s*i (0 .. 2s-1), it blends cells
 * i and i + 1 (each clamped to the grid), and likewise rows with v:
 *   P = ((A*(2s-u) + B*u) * (2s-v) + (C*(2s-u) + D*u) * v + 2s^2) / (4s^2)
 * in exact integers, A..D the cells (i, j), (i+1, j), (i, j+1), (i+1, j+1).
 * Flattened page: F = min(255, (g * 255 + P/2) / max(P, 1)) (paper -> 255).
 *
 * Stroke width.  The paper at cell 8 flattens the page; rough ink is
 * F <= min(Otsu level of F, 230) (kxxHistogramLevel, KXX_OTSU).  Runs of
 * rough ink across and down that end inside the page (neither touching
 * the start nor the end of their line) are counted by length, lengths
 * over 255 as 256.  The stroke width is the length L in 2..255 of the
 * largest count c(L-1) + c(L) + c(L+1) (c(1) for L = 2 is not added, nor
 * c(256) for L = 255); on ties the one with the larger c(L), then the
 * shortest; 0 when there is no such run.
 *
 * Text height.  The lower median height (box bottom - top + 1) of the
 * 8-connected components of rough ink with at least sw * sw pixels and a
 * height of 2 * sw .. h / 4 (integer division), sw the stroke width; 0 when
 * there is none (or the stroke width is 0).
 *
 * Paper cell.  s = min(max(sw, 2), 64) for the page's stroke width sw.
 */

/* Measures a page: its stroke width and text height, and the paper cell
 * its binarization uses (edgeLevel, window, weakLevel and strongLevel
 * are 0 here).
 *   page:     KIT_GRAY, KIT_RGB or KIT_RGBA; not changed.
 *   measures: receives the measures.
 * Returns 1; 0 (nothing written) for another type or an unusable record.
 * Asserts "page && measures".  Scratch memory: four bytes per pixel plus
 * the labels (four bytes per pixel); when they are not available "grey"
 * (or "labels", text height then 0) is reported and 0 returned. */
KXX_API int kxxMeasurePage(const Image *page, KxxPageMeasures *measures);

/* The stroke width of a page (see above), without the text height.
 *   page: KIT_GRAY, KIT_RGB or KIT_RGBA; not changed.
 * Returns 2..255, 0 for a page without strokes; -1 for another type or an
 * unusable record.  Asserts "page".  Scratch memory: four bytes per
 * pixel; when it is not available "grey" is reported and -1 returned. */
KXX_API int kxxEstimateStrokeWidth(const Image *page);

/* The paper of a page under its ink (see above): uneven light, shadows,
 * gutters and stains stay, strokes and letters narrower than about six
 * cells go.
 *   page:  KIT_GRAY, KIT_RGB or KIT_RGBA; not changed.
 *   cell:  cell side 2..64; 1 acts as 2; 0 or below takes the paper cell
 *          of the page's stroke width (kxxMeasurePage).
 *   paper: KIT_GRAY, the page's width and height, its own pitch; every
 *          pixel byte is written.
 * Returns paper; null when paper is null; another page type, an unusable
 * record of either, a paper of another type or size, or a cell above 64
 * leaves paper unchanged.  Asserts "page && paper".  Scratch memory: four
 * bytes per pixel; when not available "grey" is reported and paper comes
 * back unchanged. */
KXX_API Image *kxxEstimatePaper(const Image *page, int cell, Image *paper);

/* Divides a grey page by its paper, in place: F as above, so paper becomes
 * 255 and ink keeps its contrast to the paper around it.
 *   page: KIT_GRAY, changed in place.
 *   cell: as kxxEstimatePaper.
 * Returns page; null for null; another type, an unusable record or a cell
 * above 64 comes back unchanged.  Scratch memory as kxxEstimatePaper. */
KXX_API Image *kxxFlattenPaper(Image *page, int cell);

/* Binarizes a page of text by its stroke edges, in place.
 *   page:        KIT_GRAY becomes KIT_BIN in the same layout.  KIT_RGB
 *                and KIT_RGBA pages are first made KIT_GRAY by kxiCast
 *                (in place, its layout rule; a page it refuses, such as a
 *                wrapped one it cannot convert, comes back unchanged).
 *   inkSet:      non-zero: ink 1, paper 0; 0: paper 1, ink 0.
 *   strokeWidth: 0 or below: measured (above; a page without strokes
 *                counts 3); otherwise the stroke width to use, 1..255.
 *   measures:    may be null; receives the measures used (textHeight only
 *                measured when asked for).
 * Method, on the page F flattened at paper cell s (sw the stroke width):
 *  0. Grain.  A page whose grain hides its strokes is smoothed first.  On
 *     the page flattened at cell 8 (as for the measures), M is the lower
 *     median of the 3 x 3 spread (step 1) and C = 255 - the mean of the
 *     pixels at most its Otsu level (integer division): while
 *     5 * M > 2 * C (before the first smoothing) or 5 * M > C (after it),
 *     at most three times, every pixel of the grey page becomes the mean
 *     of its 3 x 3 square cut at the page border, (sum + k / 2) / k over
 *     its k pixels, and the page is flattened at cell 8 again.  The
 *     measures and every later step then take the smoothed page.  (Paper
 *     grain of a few levels, M about 2..30 on scanned pages, smooths
 *     nothing; a faint page under strong noise, ink 48 levels below the
 *     paper with noise of sigma 10, is smoothed twice or three times.)
 *  1. Spread D = max - min of F over the 3 x 3 square around each pixel
 *     (cut at the page border).
 *  2. Stroke edges: D > E, E = max(Otsu level of D's histogram, 20,
 *     2 * M), M the lower median of D (the grain of the paper: most of a
 *     page is paper).
 *  3. Candidates.  Over the (2r+1) x (2r+1) square around each pixel
 *     (r = 2 * sw, cut at the page border), N the number of edge pixels
 *     and S the sum of their F.  With T the Otsu level of F's histogram
 *     and the weak level W = T + (255 - T) / 2 (integers), the pixel is a
 *     candidate when
 *       N >= (2r + 1) * 3 / 2,  4 * F * N <= 3 * S + 255 * N  and  F <= W:
 *     enough stroke edges around, F at most a quarter of the way from
 *     their mean S / N to the paper (255), and not brighter than half way
 *     from T to the paper.
 *  4. Strong level.  With L the lowest F of a candidate,
 *       K = min(max(Otsu level of the histogram of F over the candidates,
 *                   L + (W - L) * 2 / 3),  255 - E):
 *     the darker side of the candidates, but never closer to L than two
 *     thirds of the way to W (Otsu splits a narrow histogram anywhere, and
 *     the split between black headings and grey body text would cost the
 *     body text), and standing out from the paper by more than the edge
 *     level.
 *  5. Ink: the 8-connected components of candidates that hold at least
 *     sw * sw pixels and at least one pixel with F <= K; every other
 *     pixel is paper.  So faint hairlines that join darker strokes stay,
 *     while faint marks on their own (show-through, stains) and specks go.
 * Every histogram level is kxxHistogramLevel(histogram, KXX_OTSU).
 * measures->edgeLevel is E, window 2r + 1, weakLevel W and strongLevel K
 * (K = -1 and a page all paper when there is no candidate).
 * The paper at cell 8 flattens the page for the measures; when the paper
 * cell is 8 the binarizer reuses that flattening (the same bytes).
 * Returns page; null for null; another type, an unusable record or a
 * strokeWidth above 255 comes back unchanged (measures untouched).
 * Scratch memory: five bytes per pixel plus the labels (four bytes per
 * pixel); when not available "grey" (or "labels") is reported and the
 * page comes back unchanged.
 * Note: a flat page (no stroke edges) comes out all paper. */
KXX_API Image *kxxBinarizeDocumentEx(Image *page, int inkSet, int strokeWidth, KxxPageMeasures *measures);

/* kxxBinarizeDocumentEx(page, inkSet, 0, null). */
KXX_API Image *kxxBinarizeDocument(Image *page, int inkSet);

/* ======================================================================
 * Cleaning pages: specks, scan borders, ruling lines
 * ====================================================================== */

/* The cleaners take a KIT_BIN page whose set pixels are the ink (as
 * kxxBinarizeDocumentEx(page, 1, ...) gives it), change it in place and
 * return it; they only ever clear pixels.  Components are 8-connected
 * (kxxLabel with connectivity 8); a component's area is its pixel count. */

/* Clears the specks of a page of text, keeping the dots that belong to it
 * (i-dots, periods, commas, the dots of colons).
 *   image:    KIT_BIN, ink set; changed in place.
 *   maxArea:  components of at most maxArea pixels are specks; larger ones
 *             ("letters") always stay.  Below 1: nothing is cleared.
 *   nearArea: specks of at most nearArea pixels are cleared wherever they
 *             lie (0: none is).
 *   reach:    a speck of more than nearArea pixels stays when some pixel of
 *             a letter lies within the (2 reach + 1) x (2 reach + 1) square
 *             centred on one of its pixels (|dx| <= reach and |dy| <= reach);
 *             below 0 acts as 0.
 * So, with maxArea a fraction of a letter and reach about half a text
 * height, a period beside its word or the dot over an i stays while
 * specks between the lines and in the margins go (kxxCleanPage's choice).
 * Returns image; null for null; another type or an unusable record comes
 * back unchanged.
 * Scratch memory: a label per pixel plus a byte per pixel; when it is not
 * available "labels" (or "areas && drop", "across && column") is reported
 * and the image comes back unchanged. */
KXX_API Image *kxxRemoveSpecks(Image *image, int maxArea, int nearArea, int reach);

/* Clears the dark borders a scanner leaves along the page edge: every
 * component that runs along the edge of the image for at least minContact
 * pixels.
 *   image:      KIT_BIN, ink set; changed in place.
 *   minContact: below 1 acts as 1 (everything that touches the edge goes).
 * Contact: walking once round the edge - the first row left to right, the
 * last column downwards, the last row right to left, the first column
 * upwards, each edge pixel once - a component's contact is its longest run
 * of consecutive edge pixels (the run through the top left corner joined
 * across it; the whole edge when the component holds all of it).
 * A band or corner of dark scan background runs along the edge; a letter
 * or a stroke running off the page touches it over its own width, and
 * noisy ink along a mottled margin over short broken runs, so with
 * minContact a few letters high such ink stays.  Ink that does not touch
 * the edge is never cleared.
 * Returns image; null for null; another type or an unusable record comes
 * back unchanged.
 * Scratch memory: a label per pixel (none when the edge holds fewer than
 * minContact set pixels); when it is not available "labels && contact &&
 * drop" is reported and the image comes back unchanged.
 * Note: a wide dark band is mostly paper already after
 * kxxBinarizeDocumentEx (its paper estimate takes it for paper); what
 * reaches the edge of it is what this clears (kxxCleanPage also clears
 * the line it leaves along its inner edge). */
KXX_API Image *kxxClearScanBorder(Image *image, int minContact);

/* Clears long horizontal and vertical ruling lines without cutting the
 * strokes that cross them.
 *   image:        KIT_BIN, ink set; changed in place.
 *   minLength:    a run of set pixels along a row (or a column) at least
 *                 this long is a line; 2 or more.
 *   maxThickness: 1 or more.
 * A pixel of a long row run is cleared when the run of set pixels through
 * it down its column is at most maxThickness long; a pixel of a long
 * column run when the run through it along its row is at most
 * maxThickness.  Runs are measured on the image as given (capped at
 * 65535).  Where a stroke crosses or touches a line, the ink through it is
 * longer than the line is thick, and those pixels stay: the stroke keeps
 * its piece of the line.
 * Returns image; null for null; another type, an unusable record, a
 * minLength below 2 or a maxThickness below 1 comes back unchanged.
 * Scratch memory: five bytes per pixel; when it is not available
 * "across && down && longRun" is reported and the image comes back
 * unchanged.
 * Note: lines turned by more than about maxThickness / minLength radians
 * break into shorter runs; straighten the page first. */
KXX_API Image *kxxRemoveRulings(Image *image, int minLength, int maxThickness);

/* ======================================================================
 * Skew of grey and colour pages
 * ====================================================================== */

/* The skew of a page of any kind.
 *   page: KIT_BIN (set pixels the ink), KIT_GRAY, KIT_RGB or KIT_RGBA; not
 *         changed.
 *   angle, confidence: as kxxFindSkew.
 * A binary page is searched as it is (kxxFindSkew); a grey or colour page
 * on a copy cleaned by kxxCleanPage(copy, 0, 0, null), so that the lines a
 * dark scan border leaves do not pass for text lines.
 * Returns 1; 0 (nothing written) for an unusable record.
 * Asserts "page && angle && confidence".  Scratch memory: a copy of the
 * page plus what kxxCleanPage and kxxFindSkew take; when the copy is not
 * available "ink" is reported and 0 returned. */
KXX_API int kxxFindPageSkew(const Image *page, double *angle, double *confidence);

/* Finds the skew of a page of any kind (kxxFindPageSkew) and, when the
 * confidence is at least minConfidence and the angle is not 0, turns it
 * back in place, size kept:
 *   KIT_BIN:             kxRotateEx(page, angle, 1, 1): nearest pixel,
 *                        background 0 (the paper of an ink-set page);
 *   grey, RGB and RGBA:  kxRotateE2(page, angle, 0xFFFFFFFF, 0, 1):
 *                        bilinear, white paper where the turned page does
 *                        not reach.
 *   minConfidence: below it the page stays as it is (0: turns whenever the
 *                  angle is not 0); 0.5 suits pages of text, whose
 *                  confidence is 0.85..0.97 while pages without text lines
 *                  stay below 0.5 (see kxxFindSkew).  NaN is refused.
 *   angle, confidence: may be null; receive what kxxFindPageSkew found,
 *                  also when the page is not turned.  The page was turned
 *                  exactly when confidence >= minConfidence and angle != 0.
 * Returns page; null for null; an unusable record or a NaN minConfidence
 * comes back unchanged (angle and confidence untouched).
 * Note: bilinear samples past the source edge mix in 0 (kxRotateEx note 2):
 * the picture's old edge shows as a faint line of one pixel where it turned
 * inside the frame. */
KXX_API Image *kxxDeskewPage(Image *page, double minConfidence, double *angle, double *confidence);

/* ======================================================================
 * One call: a clean, straight binary page for OCR
 * ====================================================================== */

/* Flags of kxxCleanPage's `turn`. */
#define KXX_CLEAN_TURN 1    /* find the skew and turn the page straight */
#define KXX_CLEAN_RULINGS 2 /* clear long ruling lines (kxxRemoveRulings) */

/* What kxxCleanPage did.  sizeof 56: two doubles, then ten ints, in this
 * order, no padding. */
typedef struct KxxCleanReport {
    double angle;      /* skew found (kxxFindSkew), degrees; 0 when not searched */
    double confidence; /* its confidence 0..1; 0 when not searched */
    int turned;        /* 1 when the page was turned by `angle`, else 0 */
    int dpi;           /* the resolution the limits came from */
    int dpiEstimated;  /* 1 when dpi was estimated (the caller gave 0) */
    int strokeWidth;   /* measured stroke width (0: no strokes found) */
    int textHeight;    /* measured text height (0: no letters found) */
    int speckLimit;    /* maxArea of the speck removal */
    int specks;        /* speck components cleared */
    int speckPixels;   /* their pixels */
    int borderPixels;  /* pixels of scan border cleared */
    int linePixels;    /* pixels of ruling lines cleared (KXX_CLEAN_RULINGS) */
} KxxCleanReport;

/* Cleans a scanned page for OCR, in place: a grey or colour page becomes a
 * KIT_BIN page with the ink set (1) and the paper 0, cleaned and, with
 * KXX_CLEAN_TURN, straight.
 *   page:   KIT_GRAY, KIT_RGB or KIT_RGBA; becomes KIT_BIN in the same
 *           layout (a colour page is first made KIT_GRAY in place by
 *           kxiCast, as kxxBinarizeDocumentEx does).
 *   dpi:    the page's resolution in dots per inch, 1..10000; 0 estimates it
 *           (below).
 *   turn:   an OR of KXX_CLEAN_TURN and KXX_CLEAN_RULINGS; 0 keeps the
 *           page's geometry (binarize and clean only: every pixel stays
 *           where it was, so the result compares pixel by pixel with the
 *           page).  Other bits are refused.
 *   report: may be null; receives what was done.
 * Steps, in this order (sw and th the stroke width and text height the
 * binarizer measured, kxxMeasurePage's rules):
 *  1. kxxBinarizeDocumentEx(page, 1, 0, &measures), ink set, except that
 *     its step 5 keeps the components of fewer than sw * sw pixels too
 *     (step 4 below clears the specks and keeps the dots of text).
 *  2. Resolution.  dpi as given; 0 estimates it: th * 12 when th > 0
 *     (letters of a 10 to 12 point text measure about a twelfth of an
 *     inch), else sw * 100 when sw > 0, else 300; the estimate is clamped
 *     to 50..10000.  The scale of the limits is S = max(th, 8), or
 *     max(dpi / 12, 8) (integer division) when th is 0: the measured
 *     letters rule, the resolution stands in for them.
 *  3. Scan border.  On the grey page g as it was before step 1 (a colour
 *     page's luminance), the dark pixels are g <= T / 2 (T the Otsu level
 *     of g, kxxLevel; integer division) and the solid dark ones those
 *     whose (2 k + 1) x (2 k + 1) square (k = max(sw, 1), cut at the image
 *     border) holds only dark pixels - strokes and mottled, noisy margins
 *     have none.  Components (8-connected) of solid dark pixels with a
 *     contact of at least 2 * S (as kxxClearScanBorder counts it) are the
 *     scanner's dark border, and every ink pixel within 3 * k + 2 pixels of
 *     one of their pixels (square) is cleared: the binarizer leaves a line
 *     of ink along the inner edge of a wide dark band, which this takes
 *     with it.  Then kxxClearScanBorder(page, 2 * S) clears the ink that
 *     runs along the edge itself.
 *  4. Specks: kxxRemoveSpecks's rule with maxArea S * S / 12 and
 *     nearArea sw * sw / 4 (integer divisions), its square reach widened
 *     to a rectangle: a speck stays when a larger component has a pixel
 *     within S across and S / 2 down of one of its pixels (|dx| <= S,
 *     |dy| <= S / 2).  So components up to a twelfth of a letter's square
 *     go unless a letter lies within a text height beside them or half of
 *     one above or below (the period after a word of a monospaced face,
 *     the dot over an i), and the tiniest, of at most a quarter of a
 *     stroke square, go wherever they lie.
 *  5. With KXX_CLEAN_RULINGS: kxxRemoveRulings(page, 8 * S,
 *     2 * max(sw, 1)).
 *  6. With KXX_CLEAN_TURN: kxxFindSkew on the clean page; when its
 *     confidence is at least 0.5 and the angle not 0, kxRotateEx(page,
 *     angle, 1, 1) turns it straight (nearest pixel, size kept, paper 0
 *     where the turned page does not reach).
 * The report's counts are those of steps 3 to 5 (capped at 2^31 - 1).
 * Returns page; null for null.  A KIT_BIN page, another type, an unusable
 * record, a dpi outside 0..10000, refused turn bits or a colour page
 * kxiCast cannot convert in place (a wrapped one) come back unchanged with
 * the report untouched: a page that comes back other than KIT_BIN was not
 * cleaned.
 * Scratch memory: a byte per pixel (the grey page), that of the
 * binarizer, then up to five bytes per pixel per step; when the grey page
 * or the binarizer's memory is not available "grey" is reported and the
 * page comes back KIT_GRAY (a colour page already made grey), report
 * untouched; when a later step's is not available that step is reported
 * and skipped.
 * Notes:
 *  1. The skew search levels lines to within about one pixel across the
 *     page: a page turned by less than about 1 / width radians (0.05
 *     degrees at 1240 pixels wide, A4 at 150 dpi) may be found straight
 *     (angle 0, not turned).  Measured on generated pages (kxFillText,
 *     A4 at 150..300 dpi, turned by up to 4 degrees, with uneven light,
 *     stains, blur, noise, specks, a dark border and JPEG) the angle was
 *     within 0.01 degrees.
 *  2. kxpipe's cleanpage step keeps the ink set, so the following binary
 *     steps work on the ink; a binary image is written with its set pixels
 *     white, so add `invert` before writing a black-on-white file for OCR.
 *  3. The dots of text survive at low resolutions: a period or an i-dot
 *     at 150 dpi is often 4..9 pixels, below the binarizer's own speck
 *     limit (sw * sw), which is why step 1 leaves them to step 4.  Dots
 *     too faint to reach the binarizer's strong level still go. */
KXX_API Image *kxxCleanPage(Image *page, int dpi, int turn, KxxCleanReport *report);

#ifdef __cplusplus
}
#endif

#include "kxextra_print.h" /* fingerprints */

#endif /* KXEXTRA_H */
