// Shared by the readers and writers of the image-file library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "kxio.h"

namespace kxio {

// Where a call reports its failure: the caller's buffer (may be null).
struct Error {
    char *text;
    size_t size;
    bool set;
};

// Writes the message into the caller's buffer, cut to fit.  Only the first
// message of a call is kept: later ones (libraries often add a generic
// "read error" after the specific cause) are dropped.
void fail(Error &error, const char *format, ...) __attribute__((format(printf, 2, 3)));

// What one read may still take, in bytes (the caller's budget less the
// file's bytes already held; UINT64_MAX: no budget).
struct Budget {
    uint64_t bytes;
};

// True when a width x height image fits the limits of `format` (0: every
// format's); otherwise false with the reason, worded for a file being read
// (`reading`) or an image being written.
bool sizeFits(int format, uint64_t width, uint64_t height, bool reading, Error &error);

// A new zeroed image, or null with the reason in `error` when the declared
// size is outside the readers' limits, the image and `working` bytes of the
// decoder's own buffers exceed the budget, or memory runs out.  Every
// reader calls this before it allocates anything for the pixels.
Image *newImage(int imageType, uint64_t width, uint64_t height, uint64_t working, const Budget &budget,
                Error &error);

// True when `available` bytes of compressed data can decode to `needed`
// bytes at a best ratio of `ratio` decoded bytes a byte; otherwise false
// with the reason, naming the format and compression in `what`.
bool canSupply(uint64_t needed, uint64_t available, uint64_t ratio, const char *what, Error &error);

// The best ratio of Deflate (PNG, TIFF): a match of 258 bytes in two bits.
constexpr uint64_t kDeflateRatio = 1032;

// A sample of 0..maxval scaled to 0..255, rounded (v * 255 / maxval).
inline uint8_t scaled(uint32_t v, uint32_t maxval)
{
    return uint8_t(maxval == 255 ? v : (uint64_t(v) * 255 + maxval / 2) / maxval);
}

// A packed copy of the caller's image for writing, with KIT_BIN turned into
// 0/255 grey when `binToGray`; null with the reason for an unusable image.
Image *writableCopy(const Image *image, bool binToGray, Error &error);

Image *readPng(const uint8_t *data, size_t size, const Budget &budget, Error &error);
Image *readJpeg(const uint8_t *data, size_t size, const Budget &budget, Error &error);
Image *readPnm(const uint8_t *data, size_t size, const Budget &budget, Error &error);
Image *readTiff(const uint8_t *data, size_t size, int page, const Budget &budget, Error &error);
int tiffPageCount(const uint8_t *data, size_t size, Error &error);

bool writePng(const Image *image, FILE *file, Error &error);
bool writeJpeg(const Image *image, FILE *file, int quality, Error &error);
bool writePnm(const Image *image, FILE *file, bool bitmap, Error &error);
bool writeTiff(const Image *const *images, int count, const char *path, Error &error);

}  // namespace kxio
