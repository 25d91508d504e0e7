/*
 * kxextra_print.h - fingerprints: ridge orientation, segmentation, ridge
 * frequency, oriented Gabor enhancement and minutiae.  Included by
 * kxextra.h; the conventions at the top of kxextra.h hold here too.
 *
 *   Parameters             kxxPrintDefaults
 *   Block fields           kxxPrintOrientation, kxxPrintMask,
 *                          kxxPrintFrequency
 *   Enhancement            kxxPrintGabor
 *   Minutiae               kxxPrintMinutiae, kxxMarkMinutiae
 *   One call               kxxPrintAnalyse, kxxPrintEnhance, kxxPrintRidges
 *
 * Prints are KIT_GRAY images with dark ridges on a light background.
 *
 * Blocks.  The fields are given per block of `block` x `block` pixels:
 * cols = ceil(width / block) blocks across and rows = ceil(height / block)
 * down; block (i, j) covers columns i*block .. min(i*block + block,
 * width) - 1 and rows likewise (the last column and row of blocks may be
 * narrower).  A field is an array of cols * rows entries, row-major with
 * rows `cols` entries apart: the value of block (i, j) is field[j*cols + i].
 *
 * Angles are in radians measured from +x towards +y: rows run down, so a
 * positive angle turns clockwise as seen.  A ridge orientation is an angle
 * in [0, pi) (a line has no sense); a minutia direction is in [0, 2*pi).
 *
 * Arithmetic.  Sums of pixels and of products of integer derivatives are
 * exact 64-bit integers.  Everything else is double unless a comment says
 * float, evaluated as written, with no contraction into fused operations.
 * The functions of the C library used are sqrt (correctly rounded), atan2,
 * exp, cos and sin (the system's libm: the same bits wherever the same libm
 * runs), floor and ceil.  The Gabor filtering sums float products in float,
 * tap by tap in row-major kernel order, at every instruction level.
 */
#ifndef KXEXTRA_PRINT_H
#define KXEXTRA_PRINT_H

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================
 * Parameters
 * ====================================================================== */

/* The choices of the fingerprint functions.  sizeof 128, the fields in
 * this order without padding.  kxxPrintDefaults fills it for a resolution;
 * lengths in pixels scale with dpi / 500 (the values below are at 500).
 * Every function that takes a KxxPrintParams refuses one with a field
 * outside these ranges: block 4..64, smooth 0..4, minPeriod >= 2,
 * minPeriod < maxPeriod <= 100, angles 2..64, minArea >= 0, sigma
 * 0.1..2, sigmaAlong 0.1..4, border, minRidge, bridge and gap 0..1000,
 * trace 2..64, and the other doubles finite.  A function that takes its
 * own block argument uses that, not params->block. */
typedef struct KxxPrintParams {
    int32_t block;        /* block side, 4..64: 16 */
    int32_t smooth;       /* orientation smoothing radius in blocks, 0..4: 2 */
    double minStd;        /* segmentation: block standard deviation >= this: 8 */
    double minCoherence;  /* segmentation: block coherence >= this: 0.12 */
    double maxMean;       /* segmentation: block mean <= this: 250 */
    double minPeriod;     /* ridge period search range, pixels: 4 */
    double maxPeriod;     /*                                    18 */
    double minPeak;       /* frequency: spectral peak share >= this, 0..1: 0.12 */
    int32_t angles;       /* Gabor bank orientations, 2..64: 24 */
    int32_t minArea;      /* ridge specks and valley holes below this are cleared: 16 */
    double sigma;         /* Gabor envelope sigma across the ridges / period, 0.1..2: 0.35 */
    double sigmaAlong;    /* Gabor envelope sigma along the ridges / period, 0.1..4: 0.3 */
    double border;        /* minutiae closer than this to the background go: 8 */
    double minRidge;      /* spurs and ridges shorter than this go: 14 */
    double bridge;        /* bifurcations joined by a branch shorter than this go: 14 */
    double gap;           /* endings facing each other closer than this go: 18 */
    double gapAngle;      /* facing: each direction within this many degrees of the other point: 45 */
    int32_t trace;        /* pixels followed along a ridge for a minutia's direction, 2..64: 10 */
    int32_t reserved;     /* 0 */
} KxxPrintParams;

/* Fills *params for prints of the given resolution: block = 2 *
 * floor(8 * dpi / 500 + 0.5) (at least 4, at most 64); smooth 2; angles
 * 24; minStd 8, minCoherence 0.12, maxMean 250, minPeak 0.12, sigma 0.35,
 * sigmaAlong 0.3, gapAngle 45 as they are; minPeriod, maxPeriod, border, minRidge, bridge,
 * gap the values above times dpi / 500; minArea (int)(16 * s * s + 0.5)
 * and trace max(2, (int)(10 * s + 0.5)) with s = dpi / 500.
 * Returns 1; 0 (nothing written) for dpi outside 100..2000.
 * Asserts "params". */
KXX_API int kxxPrintDefaults(KxxPrintParams *params, int dpi);

/* ======================================================================
 * Block fields
 * ====================================================================== */

/* The ridge orientation and its coherence per block.
 *   print:       KIT_GRAY; not changed.
 *   block:       block side, 4..64.
 *   smooth:      radius in blocks of the smoothing, 0..4.
 *   orientation: cols * rows floats: the ridge direction in [0, pi).
 *   coherence:   may be null; cols * rows floats in [0, 1].
 * Method.  gx, gy are the Scharr derivatives of kxxGradient (KXX_SCHARR,
 * borders mirrored about the edge pixel; more nearly isotropic than
 * Sobel's).  Each block sums, exactly, Sxx = gx*gx,
 * Syy = gy*gy and Sxy = gx*gy over its pixels.  Smoothing in the doubled-
 * angle domain: A = sum w * (Sxx - Syy), B = sum w * 2 * Sxy and
 * C = sum w * (Sxx + Syy) over the blocks (i + di, j + dj), |di|, |dj| <=
 * smooth, that lie in the image, with w = binom(2s, di + s) *
 * binom(2s, dj + s) (exact integers).  Then, in double,
 *   gradient angle t = 0.5 * atan2(B, A), ridge angle t + pi/2, and pi
 *   taken off when that is pi or more (float of the result, a float that
 *   rounds to pi stored as 0; 0 when A = B = 0);
 *   coherence sqrt(A * A + B * B) / C (0 when C is 0), as float.
 * A sinusoidal pattern gives its angle within 0.5 degrees (tested).
 * Returns 1; 0 (nothing written) for another type, an unusable record or
 * arguments out of range.  Asserts "print && orientation".  Scratch memory:
 * 24 bytes per block and three rows; when it is not available "sums" is
 * reported and 0 returned. */
KXX_API int kxxPrintOrientation(const Image *print, int block, int smooth, float *orientation, float *coherence);

/* The foreground (print) blocks.
 *   print:     KIT_GRAY; not changed.
 *   block:     block side, 4..64.
 *   coherence: cols * rows floats (kxxPrintOrientation's), or null to skip
 *              that criterion.
 *   mask:      cols * rows bytes: 1 foreground, 0 background.
 * A block is foreground when its pixels' standard deviation
 * sqrt(max(Q / n - m * m, 0)), m = S / n (S, Q the exact sums of the n
 * pixels and their squares) is at least minStd, its mean m at most maxMean
 * and its coherence at least minCoherence.  Clean-up, on the block grid:
 * an opening and then a closing with the 3 x 3 square (over the neighbours
 * within the grid: blocks outside it are left out), holes (background regions not 4-connected to the grid's
 * edge) filled, and only the largest 8-connected foreground region kept
 * (the first in raster order among equal ones).
 * Returns the number of foreground blocks; -1 (nothing written) for another
 * type, an unusable record or refused parameters.
 * Asserts "print && params && mask".  Scratch memory: about 40 bytes per
 * block;
 * when it is not available "grid" is reported and -1 returned. */
KXX_API int kxxPrintMask(const Image *print, int block, const float *coherence, const KxxPrintParams *params,
                         uint8_t *mask);

/* The ridge frequency per block, in ridges per pixel (1 / period).
 *   print:       KIT_GRAY; not changed.
 *   block:       block side, 4..64.
 *   orientation: cols * rows floats (kxxPrintOrientation's).
 *   mask:        cols * rows bytes or null (all blocks count).
 *   frequency:   cols * rows floats, every one written.
 *   measured:    null, or cols * rows bytes: 1 for the blocks found valid
 *                (below), 0 for those filled in.
 * x-signature.  Around the block centre c = (x0 + (bw - 1) / 2, y0 +
 * (bh - 1) / 2) the window of L = 3 * block samples across the ridges and
 * block along them: sample (k, d) is the pixel nearest (floor(v + 0.5) per
 * coordinate) to c + (k - (L - 1) / 2) * n + (d - (block - 1) / 2) * u,
 * u = (cos t, sin t) the ridge direction and n = (-sin t, cos t), t the
 * block's orientation as double; pixels outside the image are skipped.
 * s[k] is the mean of the samples of column k (a column with none makes
 * the block invalid).  Spectrum.  With the Hann weights w[k] = 0.5 - 0.5 *
 * cos(2 pi (k + 1) / (L + 1)) and s taken about its weighted mean, the share
 * q(f) = |sum w s e^(-2 pi i f k)|^2 / (sum w s^2 * sum w) (0..1; about 0.5
 * for a pure sinusoid) is evaluated at 64 frequencies f_m = fmin + m * (fmax -
 * fmin) / 63, fmin = 1 / maxPeriod, fmax = 1 / minPeriod; the best m (the
 * first among equals) is refined by the parabola through its neighbours'
 * q when they bend down (not at the ends).  The block is valid when it is in the mask, its q
 * is at least minPeak and the refined f lies in [fmin, fmax].
 * Filling.  Passes over the grid give every invalid block with a valid
 * 8-neighbour the mean of those neighbours (float; values of the previous
 * pass), until every block has a value; with no valid block at all every
 * block gets 2 / (minPeriod + maxPeriod).  Last, the field is smoothed with
 * the 3 x 3 weights 1 2 1 / 2 4 2 / 1 2 1 over the neighbours in the grid
 * (weighted mean in double, stored as float).
 * Returns the number of valid blocks (before filling); -1 (nothing
 * written) for another type, an unusable record or refused parameters.
 * Asserts "print && orientation && params && frequency".  Scratch memory: 8
 * bytes per block and a table of 64 * L pairs of doubles; when it is not
 * available "table" is reported and -1 returned. */
KXX_API int kxxPrintFrequency(const Image *print, int block, const float *orientation, const uint8_t *mask,
                              const KxxPrintParams *params, float *frequency, uint8_t *measured);

/* ======================================================================
 * Enhancement
 * ====================================================================== */

/* Filters every pixel of a print with the Gabor kernel of its block's
 * orientation and frequency, and writes the enhanced print and/or the
 * binary ridge map.
 *   print:       KIT_GRAY; not changed (it may also be `enhanced`).
 *   block:       block side, 4..64.
 *   orientation, frequency: cols * rows floats (the functions above).
 *   mask:        cols * rows bytes or null (every block is foreground).
 *   enhanced:    null, or a KIT_GRAY image of the print's size: its
 *                foreground pixels become clamp(floor(128 + 64 * r / sd +
 *                0.5), 0, 255) (r the response, sd the block's standard
 *                deviation as in kxxPrintMask, 1 when below 1), its
 *                background pixels 255: ridges dark as in the print.
 *   ridges:      null, or a KIT_BIN or KIT_GRAY image of the print's size;
 *                becomes KIT_BIN: 1 where the pixel is foreground and r < 0
 *                (on a ridge), else 0.
 * The bank.  The orientation is quantised to q = floor(t / pi * angles +
 * 0.5) mod angles (kernel angle a = q * pi / angles), the period
 * T = 1 / f (f clamped to [1 / maxPeriod, 1 / minPeriod]) to half pixels,
 * P = floor(2 * T + 0.5) / 2; each (q, P) met gets one kernel, built once
 * per call: sigma = params->sigma * P, sigmaB = params->sigmaAlong * P,
 * radius R = ceil(2 * sigma) (at most 48), and for |dx|, |dy| <= R, with
 * u = dx * (-sin a) + dy * cos a (across the ridges) and v = dx * cos a +
 * dy * sin a (along them),
 *   g = exp(-(u * u / (2 * sigma * sigma) + v * v / (2 * sigmaB * sigmaB))) *
 *       (cx[dx] * cy[dy] - sx[dx] * sy[dy]),
 *   cx[dx] = cos(2 pi dx * (-sin a) / P), sx likewise with sin, cy[dy] =
 *   cos(2 pi dy * cos a / P), sy likewise with sin (so the cosine of
 *   2 pi (offset across the ridges) / P);
 * then the mean of g is taken off (the kernel sums to 0), g divided by
 * sum g * cos-term (unit gain for a ridge pattern of that period), and
 * rounded to float (a kernel whose gain is not above 0 is all zeros).  The
 * response r of pixel (x, y) is the float sum, in
 * row-major kernel order (dy from -R, dx from -R within), of k * p, p the
 * pixel at (x + dx, y + dy) as float, the image mirrored about its edge
 * pixels beyond its borders.  Background blocks are not filtered.
 * Returns 1; 0 (nothing written) for another type, an unusable record,
 * images of another size or type, or refused parameters.
 * Asserts "print && orientation && frequency && params".  Scratch memory:
 * the print as floats with a border of the largest radius used, the
 * kernels, and the block statistics; when it is not available "padded" is reported and 0
 * returned. */
KXX_API int kxxPrintGabor(const Image *print, int block, const float *orientation, const float *frequency,
                          const uint8_t *mask, const KxxPrintParams *params, Image *enhanced, Image *ridges);

/* ======================================================================
 * Minutiae
 * ====================================================================== */

#define KXX_MINUTIA_ENDING 1
#define KXX_MINUTIA_BIFURCATION 2

/* One minutia.  sizeof 20, the fields in this order. */
typedef struct KxxMinutia {
    int32_t x, y;     /* the skeleton pixel */
    int32_t kind;     /* KXX_MINUTIA_ENDING or KXX_MINUTIA_BIFURCATION */
    float direction;  /* radians in [0, 2 pi), see kxxPrintMinutiae */
    float quality;    /* 0..1: the coherence of its block (1 without one) */
} KxxMinutia;

/* The minutiae of a ridge map.
 *   ridges:    KIT_BIN ridge map (kxxPrintGabor's), ridges set; not
 *              changed.
 *   block:     block side of the fields, 4..64.
 *   orientation: cols * rows floats or null: when given, a minutia's
 *              direction is its block's ridge angle t or t + pi, the one
 *              within a quarter turn of the direction the skeleton gives
 *              (t when exactly a quarter turn off), which is steadier than
 *              a few skeleton pixels.
 *   coherence: cols * rows floats or null.
 *   mask:      cols * rows bytes or null (all foreground; then only the
 *              image edge counts as background).
 *   minutiae:  room for `capacity` records; may be null when capacity is 0.
 *   skeleton:  null, or a KIT_BIN or KIT_GRAY image of the map's size that
 *              receives the cleaned, thinned map (KIT_BIN).
 * Steps.  A copy of the map loses its 8-connected ridge specks and its
 * 4-connected valley holes of fewer than minArea pixels (kxxDespeckle) and
 * is thinned (kxThinning).  Set pixels with crossing number 1 (see
 * kxxStrokePoints) are endings, 3 or 4 bifurcations.  From a minutia every
 * branch (one per run of set pixels in its ring, starting at the run's
 * first edge neighbour, else its first pixel; the ring counts as visited)
 * is followed pixel by pixel (edge neighbours before corner ones,
 * each in the ring order E, N, W, S / NE, NW, SW, SE) until it meets
 * another minutia or a pixel with no unvisited neighbour, or has gone
 * max(trace, minRidge, bridge) pixels.  A branch's vector ends at the
 * pixel reached after `trace` steps (or where it stopped) and starts at the
 * minutia, or, when trace is above 6 and the branch reached its third
 * pixel, at that pixel (thinning often kinks the first pixels of a ridge
 * end).
 * Direction: for an ending the opposite of its branch's vector (pointing
 * out of the ridge end); for a bifurcation the opposite of the vector of
 * its stem, the branch whose vector makes the largest smallest angle with
 * the other two (so it points along the fork's arms); atan2 of the vector
 * in [0, 2 pi); then the orientation, when given.  Removal, in this order (a removed minutia still removes
 * its partners in the same step):
 *   - an ending whose branch meets a minutia within minRidge steps, and
 *     that minutia (spurs, short ridges);
 *   - two bifurcations joined by a branch shorter than bridge (bridges);
 *   - two endings closer than gap each of whose direction points within
 *     gapAngle of the other (a ridge broken across a gap);
 *   - a minutia with a background block or the image edge at any of the
 *     nine points (x + a, y + b), a, b in {-border, 0, border} (border
 *     rounded down).
 * Output in raster order of (y, x).
 * Returns the number of minutiae (possibly above capacity; the first
 * capacity are written); -1 (nothing written) for another type, an
 * unusable record or refused parameters.
 * Asserts "ridges && params && (minutiae || capacity <= 0)".  Scratch
 * memory: two copies of the map and a few bytes per pixel; when it is not
 * available "copy" is reported and -1 returned. */
KXX_API int kxxPrintMinutiae(const Image *ridges, int block, const float *orientation, const float *coherence,
                             const uint8_t *mask, const KxxPrintParams *params, KxxMinutia *minutiae, int capacity,
                             Image *skeleton);

/* Marks minutiae on an image: a square of side 7 for an ending, a circle
 * of radius 4 for a bifurcation (kxSetLine, kxSetEllipse), each with a
 * stroke of 10 pixels along its direction, in `colour` (the outline colour
 * rule of kxpre.h).  Parts outside the image are clipped.
 * Returns image; null for null; another type or an unusable record comes
 * back unchanged.  Asserts "minutiae || count <= 0". */
KXX_API Image *kxxMarkMinutiae(Image *image, const KxxMinutia *minutiae, int count, uint32_t colour);

/* ======================================================================
 * One call
 * ====================================================================== */

/* Where kxxPrintAnalyse writes the block fields: each pointer may be null;
 * otherwise cols * rows entries for params->block.  sizeof 40 on 64-bit. */
typedef struct KxxPrintFields {
    int32_t cols, rows;  /* written by kxxPrintAnalyse */
    float *orientation;
    float *coherence;
    float *frequency;
    uint8_t *mask;
} KxxPrintFields;

/* From a grey print to its fields, enhanced image, ridge map and minutiae:
 * kxxPrintOrientation (block, smooth), kxxPrintMask, kxxPrintFrequency,
 * kxxPrintGabor and kxxPrintMinutiae with the same parameters.  Between the
 * frequency and the filtering the mask is narrowed to the blocks where a
 * ridge period was measured, cleaned up as kxxPrintMask cleans (opening,
 * closing, holes, largest region): a straight edge (a partial print's cut,
 * the paper's border) is coherent but has no period.  The frequency field
 * is not measured again.
 *   print:    KIT_GRAY; not changed.
 *   dpi:      the resolution, 100..2000; used when params is null
 *             (kxxPrintDefaults); otherwise not looked at.
 *   params:   null or the parameters.
 *   enhanced, ridges, skeleton: null or images as kxxPrintGabor and
 *             kxxPrintMinutiae take them.
 *   fields:   null or where the fields go (cols and rows written).
 *   minutiae, capacity: as kxxPrintMinutiae.
 * Returns the number of minutiae; -1 when an argument is refused (then
 * nothing is written: every check comes first) or scratch memory runs out
 * (reported; outputs may be partly written). Asserts "print" and "minutiae || capacity <= 0".  Scratch
 * memory: the steps' plus the four fields. */
KXX_API int kxxPrintAnalyse(const Image *print, int dpi, const KxxPrintParams *params, Image *enhanced, Image *ridges,
                            Image *skeleton, KxxPrintFields *fields, KxxMinutia *minutiae, int capacity);

/* The print enhanced in place (kxxPrintAnalyse's enhanced image with the
 * defaults for dpi).  Returns print; null for null; another type, an
 * unusable record or a dpi outside 100..2000 come back unchanged. */
KXX_API Image *kxxPrintEnhance(Image *print, int dpi);

/* The print replaced by its binary ridge map (ridges 1), in place: becomes
 * KIT_BIN.  Returns print; as kxxPrintEnhance otherwise. */
KXX_API Image *kxxPrintRidges(Image *print, int dpi);

#ifdef __cplusplus
}
#endif

#endif /* KXEXTRA_PRINT_H */
