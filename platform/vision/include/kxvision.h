/*
 * kxvision.h - the vision-filter library: pyramids, perspective warps, Canny
 * edges, Scharr derivatives, smoothing, morphology, adaptive thresholds and
 * flood fills on Image records, computed by OpenCV's core and imgproc
 * modules.
 *
 * Pixels are handed to OpenCV as cv::Mat headers over the image's own rows
 * (the record's `type` is an OpenCV type code and `pitch` the Mat step), so
 * nothing is copied unless an operation needs a separate output.  Only the
 * width * bpp pixel bytes of a row are read or written; the padding of a
 * wrapped image stays the caller's.
 *
 * Common rules:
 *  - Every function checks its inputs.  A null image, a record that does not
 *    describe addressable pixels (null data, a side below 1, pitch below
 *    width * bpp, pitch * height of 2^31 bytes or more, `type` disagreeing
 *    with imageType), an imageType a function does not take, a null point
 *    array or an argument outside the documented range makes it do nothing
 *    and return null (0 for ikxFloodFill).
 *  - No exception leaves the library: an OpenCV error or a failed allocation
 *    inside a call ends it with the do-nothing result.  Whatever the call
 *    created is released; an image it works on in place may then hold a
 *    partial result.
 *  - Borders: the filters read pixels beyond the edge by reflecting about the
 *    edge pixel (OpenCV's BORDER_REFLECT_101: ...cb|abcd|cb...) unless a
 *    function says otherwise.
 *  - Channels are filtered independently; in KIT_RGBA images the alpha byte
 *    is filtered like the colour bytes unless a function says otherwise.
 *  - Window sides are limited to KXV_MAX_WINDOW pixels; a larger window is
 *    refused.
 *  - Nothing is kept between calls.  OpenCV may spread one call over its own
 *    worker threads; the results do not depend on that.
 */
#ifndef KXVISION_H
#define KXVISION_H

#include <stdint.h>

#include "kximage.h"

#if defined(__GNUC__)
#define KXVISION_API __attribute__((visibility("default")))
#else
#define KXVISION_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Largest accepted side of a filter window, in pixels. */
#define KXV_MAX_WINDOW 4095

/* ---- pyramids ---- */

/* Pyramid directions of ikxPyramid. */
#define KXV_PYR_DOWN 0
#define KXV_PYR_UP 1

/* One pyramid step: Gaussian 5x5 smoothing with the kernel
 * [1 4 6 4 1] x [1 4 6 4 1] / 256, then
 *   KXV_PYR_DOWN (0): every second row and column is kept; the result is
 *                     (width + 1) / 2 x (height + 1) / 2;
 *   KXV_PYR_UP (1):   the image is doubled (zeros between the pixels) and
 *                     smoothed with 4 times the kernel; the result is
 *                     2 width x 2 height.
 * image: any of the four types.  dest (may be null, may be image): receives
 * the result and takes the source's imageType and the result's size (its
 * pixels are replaced); null makes a new image.  Returns dest or the new
 * image; null for another direction, a result side above 2^30 or a dest
 * that cannot take the result (a virtual image of another size or layout),
 * dest then untouched.
 * Notes:
 *  1. A KIT_BIN image of 0/1 bytes gives 0/1 bytes: the weights sum to one
 *     and the result rounds to nearest.
 *  2. Borders reflect about the edge pixel. */
KXVISION_API Image *ikxPyramid(const Image *image, int direction, Image *dest);

/* ---- perspective warps ---- */

/* Maps the quadrilateral `srcPoints` of image onto `dstPoints` of dest by
 * the perspective transform that takes the four source points to the four
 * destination points, sampling bilinearly.
 * srcPoints, dstPoints: four (x, y) float pairs each, x first, in pixel
 *   coordinates (pixel (x, y) has its centre at (x, y)).
 * image: any of the four types.  dest (may be null): the image drawn into;
 * another imageType is first converted in place with kxiCast (a refused
 * conversion returns null, dest untouched).  Null makes a new zeroed image
 * of the source's size and type, so what lies outside the mapped area is 0.
 * Only destination pixels whose source position falls on the source image
 * are written: the position, rounded to the nearest pixel, lies inside it
 * (-0.5 <= sx < width - 0.5, likewise sy).  Every other dest pixel keeps
 * its bytes (a transparent border), so a caller can fill dest first.  Near
 * the source's edge the missing bilinear neighbours repeat the edge pixel,
 * so the identity mapping copies the image exactly, last row and column
 * included.  Pixels are computed by OpenCV's bilinear warp (positions to
 * 1/32 pixel, weights in fixed point, rounded to nearest).
 * Returns dest, or the new image; null, with dest untouched, for a null
 * point array, a non-finite coordinate, a degenerate quadrilateral (three
 * points on one line: no invertible transform) or a source side of 32767
 * pixels or more (beyond OpenCV's warp coordinates).
 * Notes:
 *  1. image may be dest: the source is read before anything is written.
 *  2. Positions on the far side of the transform's horizon (behind the
 *     viewer) are outside, so a strong perspective does not fold the image
 *     back into dest. */
KXVISION_API Image *ikxWarp(const Image *image, const float *srcPoints, const float *dstPoints, Image *dest);

/* ---- edges ---- */

/* Canny's L2 gradient flag for ikxCanny's `aperture` argument. */
#define KXV_CANNY_L2 0x100

/* Canny edge detection in place: edge pixels become 255, others 0.
 * threshold1, threshold2: the hysteresis thresholds (either order; the
 *   smaller links edges, the larger starts them), finite and >= 0.
 * aperture: the Sobel aperture, 3, 5 or 7 (0 means 3), optionally or-ed
 *   with KXV_CANNY_L2 to measure the gradient as sqrt(dx^2 + dy^2) instead
 *   of |dx| + |dy|.
 * image: KIT_GRAY (or KIT_BIN, whose 0/1 bytes are taken as grey values).
 * The imageType is not changed.  Returns the image; null for other types or
 * arguments. */
KXVISION_API Image *ikxCanny(Image *image, double threshold1, double threshold2, int aperture);

/* Scharr derivative directions of ikxScharr. */
#define KXV_SCHARR_X 0
#define KXV_SCHARR_Y 1
#define KXV_SCHARR_XY 2

/* Scharr derivative in place: the 3x3 kernel [-3 0 3; -10 0 10; -3 0 3]
 * (KXV_SCHARR_X, d/dx), its transpose (KXV_SCHARR_Y, d/dy), or the
 * saturated sum of both absolute values (KXV_SCHARR_XY).  Each byte becomes
 * the absolute derivative clamped to 255.
 * image: KIT_GRAY, KIT_RGB or KIT_RGBA (each channel, alpha included).
 * Returns the image; null for KIT_BIN, other types or directions. */
KXVISION_API Image *ikxScharr(Image *image, int direction);

/* ---- smoothing ---- */

/* Smoothing methods of ikxSmooth. */
#define KXV_SMOOTH_BOX 1
#define KXV_SMOOTH_GAUSSIAN 2
#define KXV_SMOOTH_MEDIAN 3

/* Smooths the image in place.
 * method:
 *   KXV_SMOOTH_BOX (1):      mean of the width x height window (rounded to
 *                            nearest), window anchored at its centre
 *                            (column width / 2, row height / 2 of it);
 *                            sigmaX and sigmaY ignored.
 *   KXV_SMOOTH_GAUSSIAN (2): separable Gaussian of width x height with
 *                            standard deviations sigmaX, sigmaY.  A sigma
 *                            <= 0 follows from its side:
 *                            0.3 * ((side - 1) / 2 - 1) + 0.8; sigmaY <= 0
 *                            takes sigmaX when that is > 0.  A side <= 0
 *                            follows from its sigma: round(6 sigma + 1),
 *                            made odd.
 *   KXV_SMOOTH_MEDIAN (3):   median of the width x width square (height and
 *                            the sigmas ignored); its border repeats the edge
 *                            pixel.
 * width, height: window sides in pixels.  An even side of the Gaussian or
 *   the median grows by one to the next odd size (these windows need a
 *   centre pixel); the box takes even sides as they are.  Sides below 1
 *   that cannot be derived, or above KXV_MAX_WINDOW, are refused.
 * sigmaX, sigmaY: finite; any value for the box and the median.
 * image: any of the four types (KIT_BIN bytes 0/1 stay 0/1).
 * Returns the image; null for other methods or refused arguments (image
 * untouched). */
KXVISION_API Image *ikxSmooth(Image *image, int method, int width, int height, double sigmaX, double sigmaY);

/* ---- morphology ---- */

/* Morphology operations of ikxMorphology. */
#define KXV_MORPH_ERODE 0
#define KXV_MORPH_DILATE 1
#define KXV_MORPH_OPEN 2
#define KXV_MORPH_CLOSE 3
#define KXV_MORPH_GRADIENT 4
#define KXV_MORPH_TOPHAT 5
#define KXV_MORPH_BLACKHAT 6

/* Erosion (minimum) and dilation (maximum) over the 3x3 square, repeated
 * `iterations` times, in place.  Pixels beyond the edge take no part (the
 * window is clipped to the image).
 * image: any of the four types.  iterations <= 0 leaves the image as it is.
 * Returns the image; null for an unusable image.
 * Note: after max(width, height) rounds every pixel holds the image's
 * minimum (maximum), so larger counts cost no more. */
KXVISION_API Image *ikxErode(Image *image, int iterations);
KXVISION_API Image *ikxDilate(Image *image, int iterations);

/* Morphology with the 3x3 square, in place, n = iterations:
 *   0 erode n times; 1 dilate n times;
 *   2 open: erode n times, then dilate n times;
 *   3 close: dilate n times, then erode n times;
 *   4 gradient: dilated - eroded;
 *   5 top hat: image - opened;
 *   6 black hat: closed - image.
 * (The codes are OpenCV's MORPH_* values.)  Differences cannot go below 0.
 * image: any of the four types (KIT_BIN stays 0/1).  iterations <= 0
 * leaves the image as it is.  Returns the image; null for other codes or an
 * unusable image. */
KXVISION_API Image *ikxMorphology(Image *image, int operation, int iterations);

/* ---- adaptive threshold ---- */

/* Adaptive threshold modes of ikxAdaptive. */
#define KXV_ADAPTIVE_MEAN 0
#define KXV_ADAPTIVE_GAUSSIAN 1

/* Local threshold in place: a pixel becomes 255 when it is above its
 * neighbourhood's weighted mean minus `offset`, else 0.
 * mode: KXV_ADAPTIVE_MEAN (0) plain mean of the block, KXV_ADAPTIVE_GAUSSIAN
 *   (1) Gaussian-weighted mean; any other value is taken as 0.
 * blockSize: side of the square neighbourhood, 3..KXV_MAX_WINDOW; an even
 *   size grows by one.
 * offset: subtracted from the mean (finite).
 * Beyond the edge the edge pixel repeats (BORDER_REPLICATE).
 * image: KIT_GRAY; it stays KIT_GRAY with bytes 0 and 255.  Returns the
 * image; null for other types or a refused block size (image untouched). */
KXVISION_API Image *ikxAdaptive(Image *image, int mode, int blockSize, double offset);

/* ---- flood fills ---- */

/* The fill colour: bytes B, G, R.  A KIT_GRAY image takes b; a KIT_BIN image
 * takes 1 when b is non-zero, else 0; a KIT_RGBA image keeps its alpha. */
typedef struct FloodValue {
    uint8_t b, g, r;
} FloodValue;

/* Per-channel tolerances B, G, R, A (doubles, 32 bytes).  A KIT_GRAY or
 * KIT_BIN image uses the first; alpha is never compared.  Fractions are
 * dropped (whole byte steps); negative or non-finite values are refused;
 * values above 255 act as 255. */
typedef struct FloodRecord {
    double val[4];
} FloodRecord;

/* Connectivity and flags of the flood fills.  Or KXV_FLOOD_FIXED_RANGE into
 * `flags` to compare every pixel with the seed instead of with the
 * neighbour it is reached from; bits 8..15 of `flags` are the value the
 * mask fill writes (0 means 1). */
#define KXV_FLOOD_FIXED_RANGE 0x10000
#define KXV_FLOOD_MASK_VALUE(v) (((v) & 0xFF) << 8)

/* Repaints the connected region around the seed (x, y) with `value`.
 * A pixel joins the region when each compared channel lies within
 * [ref - lo, ref + up] of the reference: the neighbour it is reached from,
 * or the seed with KXV_FLOOD_FIXED_RANGE.
 * connectivity: 4 (sides) or 8 (sides and corners); other values mean 4.
 * image: any of the four types.  Returns the number of repainted pixels;
 * 0 for a seed outside the image or refused arguments. */
KXVISION_API int ikxFloodFill(Image *image, int x, int y, FloodValue value, FloodRecord lo, FloodRecord up,
                              int connectivity, int flags);

/* Marks the region ikxFloodFill would repaint in a mask instead, without
 * changing the image.  The mask has a one-pixel frame: it is
 * (width + 2) x (height + 2), mask pixel (x + 1, y + 1) belongs to image
 * pixel (x, y).  Marked pixels get the mask value of `flags`; a mask pixel
 * that is already non-zero stops the fill, so several fills can share one
 * mask.  The frame is set to 1 as a boundary.
 * mask (may be null): a one-byte image (KIT_GRAY or KIT_BIN) of that size
 * is used as it is.  Null gives a new zeroed KIT_GRAY mask.  An image of
 * another size or type is re-shaped in place to that size and zeroed (a
 * colour image becomes KIT_GRAY); a virtual one, which cannot change, or
 * the image itself make the call return null.
 * image: any of the four types.  Returns the mask; null for a seed outside
 * the image or refused arguments (mask untouched). */
KXVISION_API Image *ikxFloodFillM(const Image *image, int x, int y, FloodRecord lo, FloodRecord up,
                                  int connectivity, int flags, Image *mask);

#ifdef __cplusplus
}
#endif

#endif /* KXVISION_H */
