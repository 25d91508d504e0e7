/*
 * kxio.h - image files in and out of the image library's Image records.
 *
 * Formats
 *   PNG   read: grey, grey + alpha, RGB, RGBA, palette (with or without
 *         transparency), 1/2/4/8/16 bits per sample, interlaced or not.
 *         write: every image type.
 *   PNM   read: P1-P6 (PBM, PGM, PPM, plain and binary; maxval up to 65535).
 *         write: binary P4 (PBM, only for a `.pbm` name), P5 (PGM) or P6 (PPM).
 *   TIFF  read: any page of a multi-page file (kxioPageCount tells how
 *         many); strips or tiles, any compression libtiff decodes (CCITT
 *         G3/G4 included).  Bilevel, grey (1/2/4/8/16 bits), grey + alpha,
 *         RGB and RGB + alpha (8/16 bits) directly; anything else libtiff's
 *         RGBA reader understands (palette, YCbCr, CMYK, separate planes,
 *         ...) as RGB/RGBA.  A page without a photometric tag is taken as
 *         black-is-zero (one sample) or RGB, as libtiff does.  Orientations
 *         that mirror the rows or columns (2-4, and 5-8 like 1-4, as libtiff
 *         does) are undone.
 *         write: one or several pages (kxioWritePages); KIT_BIN as 1-bit
 *         with CCITT G4, other types with Deflate.
 *   JPEG  read: grey and colour (YCbCr/RGB); CMYK files are refused, and so
 *         is any file the decoder finds damaged (truncated data, bad codes,
 *         stray bytes), where it would otherwise fill in grey.
 *         write: grey or colour with a quality of 1..100 (default 90).
 *
 * Pixels (reading)
 *   grey (any depth but bilevel TIFF), PGM  -> KIT_GRAY
 *   bilevel TIFF, PBM                       -> KIT_BIN: 1 white, 0 black,
 *                                              whatever the file's polarity
 *   RGB, palette, PPM, colour JPEG          -> KIT_RGB  (bytes B, G, R)
 *   anything with alpha or transparency     -> KIT_RGBA (bytes B, G, R, A;
 *                                              grey spread to B, G, R)
 *   16-bit samples are reduced to 8 bits with rounding (v * 255 / 65535);
 *   PNM samples are scaled from maxval to 255 the same way, and so are 2-
 *   and 4-bit TIFF samples.
 * Pixels (writing)
 *   KIT_BIN is written black (0) and white (1): 0/255 grey in PNG, PGM and
 *   JPEG, 1-bit in PBM and TIFF.  KIT_RGBA loses its alpha in PNM and JPEG.
 *
 * Limits: a reader refuses, before allocating anything for the pixels, a
 * file that declares a side above KXIO_MAX_SIDE or more than KXIO_MAX_PIXELS
 * pixels (JPEG: sides up to KXIO_MAX_JPEG_SIDE); files above
 * KXIO_MAX_FILE_BYTES are not read.  The writers refuse the same sizes
 * (kxioCheckSize), so that every file written reads back.
 *
 * Memory: a read takes no more than the file can fill.  Before the image is
 * made, a reader checks that the file's compressed data could decode to
 * it, at the best ratio its compression reaches (raw and PNM samples 1:1,
 * PackBits 64:1, Deflate (PNG, TIFF) 1032:1, LZW 3641:1, CCITT one bit a
 * row, Huffman JPEG one bit an 8 x 8 block), and refuses a file that
 * declares more.  Pixels are decoded piece by piece (rows, strips, tiles)
 * into the image, so that a read needs little beyond the file's bytes and
 * the image.  Compressions with no such bound (TIFF LZMA, Zstandard, WebP,
 * JBIG, ..., arithmetic-coded JPEG) decode piece by piece too, and the
 * zeroed image's memory is committed as pieces arrive.  A caller's budget
 * (KxioReadOptions.maxBytes) caps the whole: a read that would need more
 * is refused before the image is made.
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

/* Limits of the readers and writers. */
#define KXIO_MAX_SIDE 65535
#define KXIO_MAX_JPEG_SIDE 65500
#define KXIO_MAX_PIXELS (1 << 28)
#define KXIO_MAX_FILE_BYTES (1 << 30)

/* How to write.  A null options pointer means all defaults (0 fields). */
typedef struct KxioOptions {
    int format;  /* KXIO_AUTO (0) or a KXIO_ format code */
    int quality; /* JPEG quality 1..100; 0: 90 (the default).  Refused for
                    the other formats, which have none. */
} KxioOptions;

/* How to read.  A null options pointer means all defaults (0 fields). */
typedef struct KxioReadOptions {
    /* The most memory one read may take, in bytes: the file's bytes (when
     * read from a file), the image and the decoder's buffers.  A file whose
     * reading needs more is refused, with the figure, before its image is
     * made.  0: no budget but the limits. */
    size_t maxBytes;
} KxioReadOptions;

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

/* As kxioRead and kxioReadMemory, with read options (null: defaults). */
KXIO_API Image *kxioReadEx(const char *path, int page, const KxioReadOptions *options, char *error,
                           size_t errorSize);
KXIO_API Image *kxioReadMemoryEx(const void *bytes, size_t count, int page,
                                 const KxioReadOptions *options, char *error, size_t errorSize);

/* The number of pages of the file (1 for formats with one page); -1 with
 * the reason in `error` when it cannot be read.  Pages are numbered from 0
 * for kxioRead. */
KXIO_API int kxioPageCount(const char *path, char *error, size_t errorSize);

/* As kxioPageCount, from `count` bytes in memory. */
KXIO_API int kxioPageCountMemory(const void *bytes, size_t count, char *error, size_t errorSize);

/* 1 when an image of width x height pixels can be written in `format` and
 * read back by these readers: sides 1..KXIO_MAX_SIDE (JPEG:
 * KXIO_MAX_JPEG_SIDE), at most KXIO_MAX_PIXELS pixels.  KXIO_AUTO (0):
 * the limits every format shares (JPEG's included).  0 with the reason in
 * `error` otherwise, or for an unknown format code.  A program can ask this
 * before it computes an image it means to write. */
KXIO_API int kxioCheckSize(int format, int width, int height, char *error, size_t errorSize);

/* 1 when kxioWrite would accept the arguments: a usable image of a size
 * kxioCheckSize accepts for the format, a known format (from `options` or
 * the name's extension), a quality only for JPEG and within 1..100, a
 * binary image for a .pbm name.  0 with the reason in `error` otherwise.
 * Nothing is written; the file is not looked at. */
KXIO_API int kxioCheckWrite(const Image *image, const char *path, const KxioOptions *options, char *error,
                            size_t errorSize);

/* Writes the image to `path` (replacing the file) in the format of
 * `options` or of the name's extension.  1 on success; 0 with the reason in
 * `error` for what kxioCheckWrite refuses (before the file is touched) or a
 * failed write (no file is left under the name). */
KXIO_API int kxioWrite(const Image *image, const char *path, const KxioOptions *options,
                       char *error, size_t errorSize);

/* Writes `count` images as the pages of one TIFF file (the format must be
 * KXIO_TIFF, or KXIO_AUTO with a .tif/.tiff name), page i from images[i];
 * each page as kxioWrite would write it.  1 on success, 0 with the reason
 * in `error`. */
KXIO_API int kxioWritePages(const Image *const *images, int count, const char *path,
                            const KxioOptions *options, char *error, size_t errorSize);

#ifdef __cplusplus
}
#endif

#endif /* KXIO_H */
