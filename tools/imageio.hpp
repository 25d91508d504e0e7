// Reading and writing image files for the tools, through the image-file
// library libkxio (kxio.h): PNG, PNM (PBM, PGM, PPM), TIFF and JPEG.
//
// Reading takes the format from the file's contents; a TIFF file gives its
// first page (kxpipe reads every page: see pipe.hpp).  Writing takes the format from the output name's extension
// (.png, .pnm/.pgm/.ppm/.pbm, .tif/.tiff, .jpg/.jpeg); any other name is an
// error.  How pixels map onto image types (KIT_BIN written black and white,
// alpha dropped where a format has none, ...) is described in kxio.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kxpre.h"

namespace kxtools {

struct ImageDeleter {
    void operator()(Image *im) const { kxDestroyImage(im); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

// Loads an image file; null with a message in `error` when the file cannot
// be opened or read.
ImagePtr readImage(const std::string &path, std::string &error);

// Whether `path` names a format we write (its extension); false with a
// message otherwise.  Lets a program refuse an output before it computes.
bool checkOutputName(const std::string &path, std::string &error);

// Whether an image of width x height pixels could be written and read back
// (kxioCheckSize): in the format of `path`'s extension, or, for an empty
// path, in some format (the largest sizes any reader takes).  False with a
// message otherwise.  Lets a program refuse a result before it computes it.
bool checkResultSize(int width, int height, const std::string &path, std::string &error);

// Writes an image; false with a message in `error` on failure (including a
// name whose extension names no format we write).  The file is written in
// place: use writeImageAtomic to keep an existing file intact until the new
// one is complete.
bool writeImage(const Image *image, const std::string &path, std::string &error);

// Writes to a temporary file in the target's directory and renames it over
// the target only when the whole file was written; on failure the target is
// untouched and the temporary file removed.
bool writeImageAtomic(const Image *image, const std::string &path, std::string &error);

// As writeImageAtomic for one or several pages (several: a TIFF name only).
// The temporary file is named ".kxtmp-" TAG "XXXXXX" plus the extension, so
// that a caller can find what a killed writer left.
bool writePagesAtomic(const std::vector<const Image *> &pages, const std::string &path, std::string &error,
                      const std::string &tag = "");

}  // namespace kxtools
