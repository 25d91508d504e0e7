/*
 * kxextra.h - the companion library of kxpre: what a pipeline needs after
 * binarizing and thinning a page or a fingerprint.
 *
 *   Connected components   kxxLabel, kxxComponentStats, kxxDespeckle,
 *                          kxxKeepLargest
 *   Stroke points          kxxStrokePoints, kxxMarkStrokePoints
 *   Selector levels        kxxLevel, kxxHistogramLevel, kxxIsoDataLevel,
 *                          kxxMultiLevels
 *   Local thresholds       kxxLocalLevels, kxxLocalThreshold
 *   Page skew              kxxFindSkew, kxxDeskew
 *   Gradients              kxxGradient
 *   Contrast               kxxClahe
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

#ifdef __cplusplus
}
#endif

#include "kxextra_print.h" /* fingerprints */

#endif /* KXEXTRA_H */
