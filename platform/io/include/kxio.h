/*
 * kxio.h - image files in and out of the image library's Image records.
 *
 * Formats
 *   PNG   read: grey, grey + alpha, RGB, RGBA, palette (with or without
 *         transparency), 1/2/4/8/16 bits per sample, interlaced or not.
 *         write: every image type.
 *   PNM   read: P1-P6 (PBM, PGM, PPM, plain and binary; maxval up to 65535).
 *         write: binary P4 (PBM, only for a `.pbm` name), P5 (PGM) or P6 (PPM).
 *   TIFF  read: any page of a multi-page file; 1-bit bilevel (any
 *         compression, CCITT G3/G4 included), 8-bit grey, RGB and RGBA
 *         directly, and anything else libtiff's RGBA reader understands
 *         (palette, 16-bit, tiles, YCbCr, ...) as RGB/RGBA.
 *         write: one or several pages; KIT_BIN as 1-bit with CCITT G4,
 *         other types with Deflate.
 *   JPEG  read: grey and colour (YCbCr/RGB); CMYK files are refused, and so
 *         is any file the decoder finds damaged (truncated data, bad codes,
 *         stray bytes), where it would otherwise fill in grey.
 *         write: grey or colour with a quality of 1..100 (default 90).
 *
 * Pixels (reading)
 *   grey, 1-bit grey (PNG), PGM             -> KIT_GRAY
 *   bilevel TIFF, PBM                       -> KIT_BIN: 1 white, 0 black,
 *                                              whatever the file's polarity
 *   RGB, palette, PPM, colour JPEG          -> KIT_RGB  (bytes B, G, R)
 *   anything with alpha or transparency     -> KIT_RGBA (bytes B, G, R, A;
 *                                              grey spread to B, G, R)
 *   16-bit samples are reduced to 8 bits with rounding (v * 255 / 65535);
 *   PNM samples are scaled from maxval to 255 the same way.
 * Pixels (writing)
 *   KIT_BIN is written black (0) and white (1): 0/255 grey in PNG, PGM and
 *   JPEG, 1-bit in PBM and TIFF.  KIT_RGBA loses its alpha in PNM and JPEG.
 *
 * Limits: a reader refuses, before allocating anything for the pixels, a
 * file that declares a side above KXIO_MAX_SIDE or more than KXIO_MAX_PIXELS
 * pixels; files above KXIO_MAX_FILE_BYTES are not read.
 *
 * Errors: every function takes `error`, a buffer of `errorSize` bytes (both
 * may be 0), and on failure writes a one-line, NUL-terminated description
 * into it (cut to fit).  Nothing is kept between calls: the functions may be
 * called from several threads at once.
 */
#ifndef KXIO_H
#define KXIO_H

#include <stddef.h>

#include "kximage.h"

#if defined(__GNUC__)
#define KXIO_API __attribute__((visibility("default")))
#else
#define KXIO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Format codes. */
#define KXIO_AUTO 0 /* writing: from the file name's extension */
#define KXIO_PNG 1
#define KXIO_PNM 2
#define KXIO_TIFF 3
#define KXIO_JPEG 4

/* Limits of the readers. */
#define KXIO_MAX_SIDE 65535
#define KXIO_MAX_PIXELS (1 << 28)
#define KXIO_MAX_FILE_BYTES (1 << 30)

/* How to write.  A null options pointer means all defaults (0 fields). */
typedef struct KxioOptions {
    int format;  /* KXIO_AUTO (0) or a KXIO_ format code */
    int quality; /* JPEG quality 1..100; 0: 90 */
} KxioOptions;

/* The format a file name's extension asks for: .png, .pgm/.ppm/.pbm/.pnm,
 * .tif/.tiff, .jpg/.jpeg (any letter case); 0 for any other name. */
KXIO_API int kxioFormatOfName(const char *path);

/* Reads page `page` (0 = the first; only TIFF files have more than one) of
 * the file at `path`.  The format comes from the file's first bytes, not its
 * name.  A new image (free it with kxDestroyImage), or null with the reason
 * in `error`. */
KXIO_API Image *kxioRead(const char *path, int page, char *error, size_t errorSize);

/* As kxioRead, from `count` bytes in memory. */
KXIO_API Image *kxioReadMemory(const void *bytes, size_t count, int page, char *error,
                               size_t errorSize);

/* The number of pages of the file (1 for formats with one page); -1 with
 * the reason in `error` when it cannot be read. */
KXIO_API int kxioPageCount(const char *path, char *error, size_t errorSize);

/* Writes the image to `path` (replacing the file) in the format of
 * `options` or of the name's extension.  1 on success; 0 with the reason in
 * `error` for an unusable image, a name without a known extension (when the
 * format is KXIO_AUTO), a quality outside 1..100 or a failed write. */
KXIO_API int kxioWrite(const Image *image, const char *path, const KxioOptions *options,
                       char *error, size_t errorSize);

/* Writes `count` images as the pages of one TIFF file (the format must be
 * KXIO_TIFF, or KXIO_AUTO with a .tif/.tiff name).  1 on success, 0 with the
 * reason in `error`. */
KXIO_API int kxioWritePages(const Image *const *images, int count, const char *path,
                            const KxioOptions *options, char *error, size_t errorSize);

#ifdef __cplusplus
}
#endif

#endif /* KXIO_H */
