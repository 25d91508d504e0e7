// Private: the cleaners of cleanup.cpp with their counts, for kxxCleanPage.
#pragma once

#include <cstdint>

#include "kxextra.h"
#include "kximage.h"

namespace kxx {

// What a cleaner removed: components and pixels.  `ok` is false when its
// scratch memory was not available (the image is then unchanged).
struct Removed {
    int64_t components = 0, pixels = 0;
    bool ok = true;
};

// The documented cleaners on a usable KIT_BIN image (arguments as given to
// the exports, already checked).
// removeSpecks looks for letters within reachX across and reachY down (the
// export's square reach is reachX = reachY).
Removed removeSpecks(Image *image, int maxArea, int nearArea, int reachX, int reachY) noexcept;
Removed clearScanBorder(Image *image, int minContact) noexcept;
Removed removeRulings(Image *image, int minLength, int maxThickness) noexcept;

// near[i] = 1 where a non-zero mask byte lies within the (2rx+1) x (2r+1)
// rectangle around pixel i (|dx| <= rx, |dy| <= r, cut at the borders),
// else 0; packed w x h planes, rx, r >= 0, `column` w ints of scratch.
// False when its own row ring is not available.
bool nearRect(const uint8_t *mask, int w, int h, int rx, int r, uint8_t *near, int32_t *column) noexcept;

// Clears the ink of a KIT_BIN page (w x h, ink set) within `reach` pixels
// (square) of the dark scan border of its grey page g (packed w x h): dark
// pixels g <= level whose (2 solid + 1)^2 square holds no lighter pixel,
// in components (8-connected) with at least minContact pixels on the image
// edge.
Removed clearDarkBorder(Image *ink, const uint8_t *g, int level, int minContact, int solid, int reach) noexcept;

// The document binarizer on a usable page (arguments already checked);
// keepSmall keeps the candidate components below a stroke square too, for a
// caller that clears the specks itself and keeps the dots of text.
Image *binarizeDocument(Image *page, int inkSet, int strokeWidth, bool keepSmall, KxxPageMeasures *measures) noexcept;

}  // namespace kxx
