// Rotation by any angle about the image centre:
//   kxRotateEx   background 0          KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxRotateE2   background colour     KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
// Degrees become radians as angle * pi / 180 (product first); the engine in
// rotate_engine.hpp does the work.
#include "geometry/rotate_engine.hpp"

using namespace kx;
using namespace kx::geo;

namespace {

constexpr double kPi = 3.141592653589793;

// rotateImage / rotateImageFill: turns `im` in place by angle radians.
// mode 0 nearest neighbour, 1 bilinear; another mode returns null and
// leaves the image alone.  keepSize = 0 gives the image the bounding-box
// size, otherwise the centre of the box is cut out at the image's size.
// `fill` paints the background into an image.
template <class Fill>
Image *rotateWith(Image *im, double angle, int mode, int keepSize, Fill fill)
{
    KX_CHECK(im->imageType >= KIT_BIN && im->imageType <= KIT_RGBA,
             "im->imageType >= KIT_BIN && im->imageType <= KIT_RGBA", im);
    if (mode != 0 && mode != 1) return nullptr;
    if (!typeOk(im) || !std::isfinite(angle)) return im;
    int newW = im->width, newH = im->height;
    const bool sized = rotatedSize(newW, newH, angle);
    KX_CHECK(sized, "tmp_im", im);
    // A wrapped image cannot take another size.
    if (!keepSize && im->isVirtual && (newW != im->width || newH != im->height)) return im;
    const int outW = keepSize ? im->width : newW, outH = keepSize ? im->height : newH;
    const int offX = keepSize ? (newW - im->width) / 2 : 0, offY = keepSize ? (newH - im->height) / 2 : 0;
    TempImage out(im->imageType, outW, outH);
    KX_CHECK(out, "tmp_im", im);
    fill(out.get());
    KX_CHECK(im->data, "pSrcData", im);
    withBpp(movedBytes(im->imageType), [&](auto b) {
        renderRotation<decltype(b)::value>(im, out.get(), newW, newH, offX, offY, angle, mode == 0);
    });
    kxiClone(out.get(), im);
    return im;
}

Image *rotateImage(Image *im, double angle, int mode, int keepSize)
{
    return rotateWith(im, angle, mode, keepSize, [](Image *t) { kxiFlood(t, 0); });
}

Image *rotateImageFill(Image *im, double angle, uint32_t colour, int mode, int keepSize)
{
    return rotateWith(im, angle, mode, keepSize, [colour](Image *t) { kxSetPixelEx(t, colour, nullptr, 0); });
}

}  // namespace

extern "C" {

Image *kxRotateEx(Image *image, double angle, int nearest, int keepSize)
{
    if (!image || !typeOk(image)) return image;
    rotateImage(image, angle * kPi / 180.0, nearest ? 0 : 1, keepSize);
    return image;
}

Image *kxRotateE2(Image *image, double angle, uint32_t colour, int nearest, int keepSize)
{
    KX_ASSERT(image, nullptr);
    if (!typeOk(image)) return image;
    return rotateImageFill(image, angle * kPi / 180.0, colour, nearest ? 0 : 1, keepSize);
}

}  // extern "C"
