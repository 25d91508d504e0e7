// Flood fills handed to the vision-filter library.
//
//   kxFloodFill   any; the library checks the image and the seed
//   kxFloodMask   any; the library checks the image and the seed
#include "vision/vision_detail.hpp"

extern "C" {

int kxFloodFill(Image *image, int x, int y, FloodValue value, FloodRecord lo, FloodRecord up, int connectivity,
                int flags)
{
    return ikxFloodFill(image, x, y, value, lo, up, connectivity, flags);
}

Image *kxFloodMask(const Image *image, int x, int y, FloodRecord lo, FloodRecord up, int connectivity, int flags,
                   Image *mask)
{
    if (!image) return mask;
    Image *result = ikxFloodFillM(image, x, y, lo, up, connectivity, flags, mask);
    if (result) kxClip(result, 1, 1, kxiGetWidth(result) - 2, kxiGetHeight(result) - 2);
    return result;
}

}  // extern "C"
