/*
 * kximage.h - the image and memory libraries.
 *
 * The image library owns the `Image` record: it creates, destroys, clones,
 * casts, floods and re-sizes images and answers questions about them.  The
 * memory library hands out scratch blocks (kxAlloc/kxFree).
 *
 * Record layout (LP64; every field but `data` is 32 bits wide):
 *
 *   offset  field       meaning
 *   0       magic       the library's own: KXI_MAGIC for records it made
 *   4       type        element type: channels = ((type & 0x1F8) >> 3) + 1,
 *                       low three bits the depth (0 = 8-bit unsigned); the
 *                       codes are those of OpenCV (CV_8UC1 = 0, CV_8UC3 = 16,
 *                       CV_8UC4 = 24), so a record maps onto a cv::Mat as is
 *   8       size        bytes of pixel data: pitch * height
 *   12      capacity    the library's own: bytes allocated behind `data`
 *   16      flags       the library's own: reserved, 0
 *   20      (padding so that `data` is 8-byte aligned)
 *   24      data        address of row 0
 *   32      height
 *   36      width
 *   40      pitch       bytes from one row to the next, >= width * bpp
 *   44      isVirtual   non-zero: the pixels belong to the caller
 *   48      imageType   KIT_BIN 1, KIT_GRAY 8, KIT_RGB 24, KIT_RGBA 32
 *   (sizeof 56)
 *
 * Pixels: KIT_BIN one byte 0/1, KIT_GRAY one byte, KIT_RGB bytes B,G,R,
 * KIT_RGBA bytes B,G,R,A.  Pixel (x, y) starts at data + y*pitch + x*bpp.
 *
 * Row pitch.  Images the library allocates have packed rows:
 * pitch = width * bytes per pixel, the layout of a C-contiguous numpy array or
 * a continuous cv::Mat, so pixel memory passes between them without copying.
 * A virtual image (kxCreateImageEx with a data pointer) keeps the caller's
 * pitch; the bytes between width * bpp and pitch belong to the caller and no
 * operation reads them as pixels or writes them.
 *
 * Virtual images are never re-allocated or re-typed: kxiSetSize, kxiResize,
 * kxiClone into a virtual image and kxiCast refuse any change of layout
 * (they return 0 / null and leave the record as it was), except that
 * kxiClone copies pixels into a virtual destination of the same size and type
 * and kxiCast switches between KIT_BIN and KIT_GRAY, which share a layout.
 *
 * New images hold zero bytes.  Sizes: width and height >= 1, pitch * height
 * below 2^31 bytes.
 */
#ifndef KXIMAGE_H
#define KXIMAGE_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define KXIMAGE_API __attribute__((visibility("default")))
#else
#define KXIMAGE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Image types: bits per pixel. */
#define KIT_BIN 1
#define KIT_GRAY 8
#define KIT_RGB 24
#define KIT_RGBA 32

/* Value of the `magic` field in records made by the image library. */
#define KXI_MAGIC 0x4B58494D

/* The fields an Image shares with the records of the sibling libraries that
 * lay out pixels the same way (the mask library's Mask). */
#define KXI_RECORD_HEAD \
    int32_t magic;      \
    int32_t type;       \
    uint32_t size;      \
    int32_t capacity;   \
    int32_t flags;      \
    int32_t padding_;   \
    uint8_t *data;      \
    int32_t height;     \
    int32_t width;      \
    int32_t pitch;      \
    int32_t isVirtual;

typedef struct Image {
    KXI_RECORD_HEAD
    int32_t imageType;
} Image;

/* ---- memory library ---- */

/* A scratch block of `bytes` bytes (contents undefined); null on failure.
 * kxAlloc(0) returns a valid block that holds nothing. */
KXIMAGE_API void *kxAlloc(uint64_t bytes);
/* Releases a block from kxAlloc; null is ignored. */
KXIMAGE_API void kxFree(void *block);

/* ---- image library ---- */

/* A new zeroed image with packed rows; null when imageType is not one of the
 * four KIT_ types, a side is below 1, the size is too large or memory runs
 * out. */
KXIMAGE_API Image *kxCreateImage(int imageType, int width, int height);

/* The general constructor.
 *   data == null: as kxCreateImage, with rows `pitch` bytes apart
 *                 (pitch 0: packed); the row padding is zeroed too.
 *   data != null: a virtual image over the caller's memory, rows `pitch`
 *                 bytes apart (0: packed); isVirtual = 1.  The caller keeps
 *                 the memory alive and frees it after kxDestroyImage.
 *   flags: reserved, pass 0.
 * Null when the type, the sizes or the pitch (< width * bpp) are invalid.
 * kxCreateImageEx(type, w, h, 0, 0, 0) equals kxCreateImage(type, w, h). */
KXIMAGE_API Image *kxCreateImageEx(int imageType, int width, int height, int pitch, void *data,
                                   int flags);

/* Frees the record and, unless it is virtual, its pixels.  Null is ignored. */
KXIMAGE_API void kxDestroyImage(Image *image);

/* destination == null: returns a new packed copy of source (null on failure).
 * Otherwise makes destination an exact copy of source (size, type, pixels)
 * and returns it; a virtual destination only takes the pixels of a source of
 * its own size and type.  Returns null, destination untouched, when the copy
 * is refused or memory runs out.  Null source: null. */
KXIMAGE_API Image *kxiClone(const Image *source, Image *destination);

/* Converts the image in place to imageType and returns it (null on refusal
 * or failure, image unchanged).  Conversions:
 *   BIN -> GRAY/RGB/RGBA: 0 -> 0, non-zero -> 255 in every colour byte;
 *   GRAY -> BIN: non-zero -> 1;  GRAY -> RGB/RGBA: B = G = R = grey;
 *   RGB/RGBA -> GRAY: R*0.299 + G*0.587 + B*0.114 in double, truncated;
 *   RGB/RGBA -> BIN: any of B, G, R non-zero -> 1 (alpha is not looked at);
 *   alpha is 255 where it is added and dropped where it is removed.
 * Casting to the current type does nothing and returns the image. */
KXIMAGE_API Image *kxiCast(Image *image, int imageType);

/* Sets every pixel byte (width * bpp bytes of each row) to `value`. */
KXIMAGE_API void kxiFlood(Image *image, int value);

/* Copies `count` bytes of packed pixel rows (width * bpp bytes per row, no
 * padding) into the image's rows, at most width * bpp * height bytes. */
KXIMAGE_API void kxiFloodEx(Image *image, const void *bytes, uint64_t count);

/* Re-shapes the image to width x height for its imageType; the pixels are
 * zero afterwards.  1 on success; 0 (image unchanged) for a virtual image
 * whose size would change, invalid sizes or lack of memory. */
KXIMAGE_API int kxiSetSize(Image *image, int width, int height);

/* Re-allocates the image for width x height and its current imageType (the
 * `type` field follows imageType); the pixels are zero afterwards.  1 on
 * success, 0 on failure (image unchanged).  A virtual image succeeds only
 * when nothing would change. */
KXIMAGE_API int kxiResize(Image *image, int width, int height);

/* Field accessors; 0 for a null image. */
KXIMAGE_API void *kxiGetData(const Image *image);
KXIMAGE_API int kxiGetWidth(const Image *image);
KXIMAGE_API int kxiGetHeight(const Image *image);
KXIMAGE_API int kxiGetPitch(const Image *image);
KXIMAGE_API int kxiGetImageType(const Image *image);
/* The image's KIT_ code: imageType when it is one of the four types and
 * agrees with the channel count of `type`, else 0. */
KXIMAGE_API int kxiGetType(const Image *image);
/* Non-zero for a virtual image. */
KXIMAGE_API int kxiIsVirtual(const Image *image);

/* Bytes per pixel of an image type: 1, 1, 3, 4; 0 for other values. */
KXIMAGE_API int kxiBytesPerPixel(int imageType);

/* 1 when the record describes addressable pixels of one of the four types:
 * data present, sides >= 1, rows at least width * bytes per pixel apart,
 * pitch * height within 2^31 - 1 bytes and `type` agreeing with imageType;
 * 0 otherwise (also for null).  Every operation checks its images with it. */
KXIMAGE_API int kxiIsWellFormed(const Image *image);

/* 1 when the record can be read as one byte per pixel through its own
 * pitch, whatever its imageType field holds (an Image, or a Mask of the mask
 * library, which keeps its anchor there): data present, sides >= 1,
 * pitch >= width and pitch * height within 2^31 - 1 bytes. */
KXIMAGE_API int kxiIsByteRecord(const Image *record);

#ifdef __cplusplus
}
#endif

#endif /* KXIMAGE_H */
