/*
 * kxmask.h - the mask library: structuring elements and pixel masks.
 *
 * A Mask shares the leading fields of an Image (kximage.h) up to and
 * including `isVirtual`, so code that reads `data`, `height`, `width` and
 * `pitch` of an Image reads a Mask the same way.  Where an Image holds
 * `imageType`, a Mask holds `anchorX`, followed by `anchorY`:
 *
 *   offset 24 data, 32 height, 36 width, 40 pitch, 44 isVirtual,
 *          48 anchorX, 52 anchorY   (sizeof 56)
 *
 * Element (i, j), 0 <= i < width, 0 <= j < height, is the byte at
 * data + j * pitch + i; non-zero means the element includes that offset.
 * Rows are packed (pitch = width).
 *
 * Shapes of kxCreateMask(shape, width, height), anchor at the centre
 * (width / 2, height / 2):
 *   1  cross: the centre row and the centre column;
 *   2  rectangle: every position (code 2 with 3 x 3 is the default
 *      structuring element of the morphology operations);
 *   3  ellipse: position (i, j) is set when
 *      ((2i - (width-1)) / width)^2 + ((2j - (height-1)) / height)^2 <= 1,
 *      i.e. the ellipse inscribed in the box through pixel centres; for a
 *      square of side 2r + 1 this is the disc of radius r + 1/2, so 3 x 3 is
 *      full and 5 x 5 lacks its four corners.
 * Any other shape code, or a side below 1, gives null.
 */
#ifndef KXMASK_H
#define KXMASK_H

#include <stdint.h>

#include "kximage.h"

#if defined(__GNUC__)
#define KXMASK_API __attribute__((visibility("default")))
#else
#define KXMASK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define KXM_CROSS 1
#define KXM_RECT 2
#define KXM_ELLIPSE 3

typedef struct Mask {
    KXI_RECORD_HEAD
    int32_t anchorX;
    int32_t anchorY;
} Mask;

/* A new element of the given shape and size; null on failure. */
KXMASK_API Mask *kxCreateMask(int shape, int width, int height);

/* Frees a mask; null is ignored. */
KXMASK_API void kxDestroyMask(Mask *mask);

/* A mask of the image's width and height whose byte is 1 where the pixel of
 * the KIT_BIN or KIT_GRAY image is non-zero and 0 elsewhere, anchor (0, 0).
 * Null for a null image, another type, or lack of memory. */
KXMASK_API Mask *kmkDeriveMask(const Image *image);

#ifdef __cplusplus
}
#endif

#endif /* KXMASK_H */
