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

// A new zeroed image, or null with the reason in `error` when the declared
// size is outside the readers' limits or memory runs out.  Every reader
// calls this before it allocates anything for the pixels.
Image *newImage(int imageType, uint64_t width, uint64_t height, Error &error);

// A packed copy of the caller's image for writing, with KIT_BIN turned into
// 0/255 grey when `binToGray`; null with the reason for an unusable image.
Image *writableCopy(const Image *image, bool binToGray, Error &error);

Image *readPng(const uint8_t *data, size_t size, Error &error);
Image *readJpeg(const uint8_t *data, size_t size, Error &error);
Image *readPnm(const uint8_t *data, size_t size, Error &error);
Image *readTiff(const uint8_t *data, size_t size, int page, Error &error);
int tiffPageCount(const uint8_t *data, size_t size, Error &error);

bool writePng(const Image *image, FILE *file, Error &error);
bool writeJpeg(const Image *image, FILE *file, int quality, Error &error);
bool writePnm(const Image *image, FILE *file, bool bitmap, Error &error);
bool writeTiff(const Image *const *images, int count, const char *path, Error &error);

}  // namespace kxio
