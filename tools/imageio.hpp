// Reading and writing image files for the tools: PNG (through libpng) and
// the binary and plain forms of PGM and PPM.
//
// Files map onto library images as follows:
//   read:  grey PNG, PGM                  -> KIT_GRAY
//          grey + alpha PNG, RGBA PNG     -> KIT_RGBA (grey spread to B, G, R)
//          RGB PNG, palette PNG, PPM      -> KIT_RGB  (a palette with
//                                            transparency gives KIT_RGBA)
//          16-bit samples keep their high byte; PNM samples above 255 are
//          scaled by maxval.
//   write: KIT_BIN  -> grey, 0 and 1 stored as 0 and 255 so the result is
//                      visible; KIT_GRAY -> grey; KIT_RGB -> RGB;
//          KIT_RGBA -> RGBA PNG (PPM drops the alpha channel).
// The format is chosen by the file extension (.pgm, .ppm, .pnm: PNM;
// anything else: PNG).
#pragma once

#include <memory>
#include <string>

#include "kxpre.h"

namespace kxtools {

struct ImageDeleter {
    void operator()(Image *im) const { kxDestroyImage(im); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

// Loads an image file; null with a message in `error` when the file cannot
// be opened or is not a PNG/PGM/PPM file this reader understands.
ImagePtr readImage(const std::string &path, std::string &error);

// Writes an image; false with a message in `error` on failure.  The file is
// written in place: use writeImageAtomic to keep an existing file intact
// until the new one is complete.
bool writeImage(const Image *image, const std::string &path, std::string &error);

// Writes to a temporary file in the target's directory and renames it over
// the target only when the whole file was written; on failure the target is
// untouched and the temporary file removed.
bool writeImageAtomic(const Image *image, const std::string &path, std::string &error);

}  // namespace kxtools
