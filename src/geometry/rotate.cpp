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
// Angles beyond 1e15 degrees mean nothing: doubles there lie an eighth of
// a degree or more apart, and further out the turns of the picture's
// corners cannot be told apart (at 1e20 every corner lands on one point and
// the picture would become 1 x 1).  They, and NaN, leave the image as it is.
constexpr double kMaxDegrees = 1e15;

bool meaningful(double degrees) { return std::fabs(degrees) <= kMaxDegrees; }

// Turns the well-formed image `im` in place by a finite angle in radians,
// by nearest neighbour or bilinear sampling.  keepSize = 0 gives the image
// the bounding-box size, otherwise the centre of the box is cut out at the
// image's size.  `fill` paints the background into the new image.  The
// exports check their arguments; this worker trusts them.
template <class Fill>
Image *rotateWith(Image *im, double angle, bool nearest, int keepSize, Fill fill)
{
    int newW = im->width, newH = im->height;
    if (!rotatedSize(newW, newH, angle)) return kx::failed("tmp_im", im);
    // A wrapped image cannot take another size.
    if (!keepSize && im->isVirtual && (newW != im->width || newH != im->height)) return im;
    const int outW = keepSize ? im->width : newW, outH = keepSize ? im->height : newH;
    const int offX = keepSize ? (newW - im->width) / 2 : 0, offY = keepSize ? (newH - im->height) / 2 : 0;
    TempImage out(im->imageType, outW, outH);
    if (!out) return kx::failed("tmp_im", im);
    fill(out.get());
    renderRotation(im, out.get(), kxiBytesPerPixel(im->imageType), newW, newH, offX, offY, angle, nearest);
    kxiClone(out.get(), im);
    return im;
}

}  // namespace

extern "C" {

Image *kxRotateEx(Image *image, double angle, int nearest, int keepSize)
{
    const double radians = angle * kPi / 180.0;
    if (!image || !typeOk(image) || !meaningful(angle)) return image;
    return rotateWith(image, radians, nearest != 0, keepSize, [](Image *t) { kxiFlood(t, 0); });
}

Image *kxRotateE2(Image *image, double angle, uint32_t colour, int nearest, int keepSize)
{
    if (!image) return kx::failed("image", nullptr);
    const double radians = angle * kPi / 180.0;
    if (!typeOk(image) || !meaningful(angle)) return image;
    return rotateWith(image, radians, nearest != 0, keepSize,
                      [colour](Image *t) { kxSetPixelEx(t, colour, nullptr, 0); });
}

}  // extern "C"
