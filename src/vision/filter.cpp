// Pyramids, edges, morphology and adaptive thresholds handed to the
// vision-filter library, and the placeholders of the Gabor family.
//
//   kxPyramid           KIT_BIN, KIT_GRAY, KIT_RGB (KIT_RGBA: dest returned)
//   kxCanny             KIT_GRAY (others: untouched)
//   kxScharr            KIT_GRAY, KIT_RGB (others: untouched)
//   kxMorphology        any; the library checks the image
//   kxMorpOpen          any
//   kxMorpClose         any
//   kxAdaptive          any; the library takes KIT_GRAY
//   kxCreateGaborBank, kxDestroyGaborBank, kxOrientationField,
//   kxFrequenceField, kxGabor: do nothing
#include "vision/vision_detail.hpp"

using kx::vision::binariseBytes;

extern "C" {

Image *kxPyramid(Image *image, int value, Image *dest)
{
    if (!image || image->imageType < 1 || image->imageType > 24) return dest;
    dest = ikxPyramid(image, value, dest);
    if (image->imageType == KIT_BIN) binariseBytes(image);
    if (!dest) return kx::failed("dest", dest);
    if (image->imageType == KIT_BIN) binariseBytes(dest);
    return dest;
}

Image *kxCanny(Image *image, double threshold1, double threshold2, int binarise, int value)
{
    if (!image) return nullptr;
    if (image->imageType != KIT_GRAY) return image;
    ikxCanny(image, threshold1, threshold2, value);
    if (binarise && kx::typeOk(image)) {
        for (int y = 0; y < image->height; ++y) {
            uint8_t *p = kx::row(image, y);
            for (int x = 0; x < image->width; ++x) p[x] = p[x] != 0;
        }
        image->imageType = KIT_BIN;
    }
    return image;
}

Image *kxScharr(Image *image, int value)
{
    if (!image) return nullptr;
    if (image->imageType != KIT_GRAY && image->imageType != KIT_RGB) return image;
    return ikxScharr(image, value);
}

Image *kxMorphology(Image *image, int operation, int iterations)
{
    if (operation == KXV_MORPH_ERODE) return ikxErode(image, iterations);
    if (operation == KXV_MORPH_DILATE) return ikxDilate(image, iterations);
    if (operation < KXV_MORPH_OPEN || operation > KXV_MORPH_BLACKHAT) return image;
    if (iterations <= 0) iterations = 1;
    if (!image) return nullptr;
    return ikxMorphology(image, operation, iterations);
}

Image *kxMorpOpen(Image *image) { return kxMorphology(image, KXV_MORPH_OPEN, 1); }

Image *kxMorpClose(Image *image) { return kxMorphology(image, KXV_MORPH_CLOSE, 1); }

Image *kxAdaptive(Image *image, int mode, int value)
{
    ikxAdaptive(image, mode == 1 ? 1 : 0, value, 5.0);
    return image;
}

void *kxCreateGaborBank(int, int, int, int) { return nullptr; }

int kxDestroyGaborBank(int) { return 0; }

int kxOrientationField(int, int) { return 0; }

int kxFrequenceField(int, int, int) { return 0; }

void kxGabor(int, int) {}

}  // extern "C"
