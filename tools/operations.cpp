// The operation table of the tools: one entry per export that makes sense on
// one image, each calling its export through a generic lambda.
#include "operations.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>


namespace kxtools {


namespace {

// The result of a step that returns nothing: `(call, keep)`.
struct Keep {};
inline constexpr Keep keep{};

// Steps that write into a new image of a size named by their first two
// arguments (width, height) and replace the current image with it.
struct Into {
    template <class R>
    Into(R &&) {}
};

template <class F>
using ResultOf = decltype(std::declval<F>()(std::declval<Image *>(), std::declval<const Arguments &>()));

template <class F>
StepResult invoke(ImagePtr &image, const Arguments &args)
{
    using R = ResultOf<F>;
    Image *im = image.get();
    if constexpr (std::is_void_v<R> || std::is_same_v<R, Keep>) {
        F{}(im, args);
        return {};
    } else if constexpr (std::is_same_v<R, Image *>) {
        Image *out = F{}(im, args);
        if (!out) return {false, "the operation returned no image"};
        if (out != im) image.reset(out);  // a new image made by the library
        return {};
    } else {
        static_assert(std::is_arithmetic_v<R>, "unexpected result type");
        const R value = F{}(im, args);
        if constexpr (std::is_floating_point_v<R>)
            return {true, std::to_string(value)};
        else
            return {true, std::to_string(static_cast<long long>(value))};
    }
}

template <class F>
StepResult invokeInto(ImagePtr &image, const Arguments &args)
{
    ImagePtr dst(kxCreateImage(image->imageType, args.i(0), args.i(1)));
    if (!dst) return {false, "cannot create a " + args.values[0].text + " x " + args.values[1].text + " image"};
    F{}(image.get(), args, dst.get());
    image = std::move(dst);
    return {};
}

template <class F>
Operation op(const char *name, const char *function, const char *args, const char *summary, F)
{
    return {name, function, args, summary, &invoke<F>};
}

template <class F>
Operation opInto(const char *name, const char *function, const char *args, const char *summary, F)
{
    return {name, function, args, summary, &invokeInto<F>};
}

Image *castTo(Image *im, int type) { return kxiCast(im, type); }

// A KIT_GRAY image of the distances of a binary image, capped at 255.
template <class I>
Image *distanceImage(I *im, int needed)
{
    if (needed <= 0) return im;  // refused: the image stays as it is
    std::vector<int32_t> d(size_t(needed), 0);
    if (kxDistTrans(im, d.data(), uint32_t(needed)) != needed) return im;
    Image *out = kxCreateImage(KIT_GRAY, im->width, im->height);
    if (!out) return nullptr;
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x)
            out->data[size_t(y) * size_t(out->pitch) + size_t(x)] =
                uint8_t(std::clamp(d[size_t(y) * size_t(im->width) + size_t(x)], 0, 255));
    return out;
}

FloodValue floodValue(uint32_t colour)
{
    return FloodValue{uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour >> 16)};
}
FloodRecord floodRange(double v) { return FloodRecord{{v, v, v, v}}; }

std::vector<Operation> buildTable()
{
    using A = const Arguments &;
    // clang-format off
    return {
    // ---- image type
    op("bin", "kxiCast", "", "convert to a binary image (non-zero grey -> 1)",
       [](auto *im, A) { return castTo(im, KIT_BIN); }),
    op("gray", "kxiCast", "", "convert to grey (luminance of a colour image)",
       [](auto *im, A) { return castTo(im, KIT_GRAY); }),
    op("rgb", "kxiCast", "", "convert to B,G,R colour",
       [](auto *im, A) { return castTo(im, KIT_RGB); }),
    op("rgba", "kxiCast", "", "convert to B,G,R,A colour (alpha 255)",
       [](auto *im, A) { return castTo(im, KIT_RGBA); }),

    // ---- pixel access and pixel-wise operations
    op("getpixel", "kxGetPixel", "x:i y:i", "print the colour value of one pixel",
       [](auto *im, A a) { return kxGetPixel(im, a.i(0), a.i(1)); }),
    op("getpixele1", "kxGetPixelE1", "x:i y:i radius:i", "print the mean colour of a square window",
       [](auto *im, A a) { return kxGetPixelE1(im, a.i(0), a.i(1), a.i(2)); }),
    op("setpixel", "kxSetPixel", "x:i y:i colour:u", "set one pixel",
       [](auto *im, A a) { return (kxSetPixel(im, a.i(0), a.i(1), a.u(2)), keep); }),
    op("setpixele1", "kxSetPixelE1", "points:p dx:i dy:i colour:u", "set a list of pixels, shifted by (dx, dy)",
       [](auto *im, A a) { return (kxSetPixelE1(im, a.points(0), a.count(0), a.i(1), a.i(2), a.u(3)), keep); }),
    op("setpixelex", "kxSetPixelEx", "colour:u mask:M invert:i", "fill with a colour (where a mask is set, or not set)",
       [](auto *im, A a) { return (kxSetPixelEx(im, a.u(0), a.image(1), a.i(2)), keep); }),
    op("pixeladd", "kxPixelAdd", "other:I", "min(other + image, 255)",
       [](auto *im, A a) { return kxPixelAdd(a.image(0), im); }),
    op("pixelsubtract", "kxPixelSubtract", "other:I", "max(other - image, 0)",
       [](auto *im, A a) { return kxPixelSubtract(a.image(0), im); }),
    op("pixellarge", "kxPixelLarge", "other:I", "max(other, image)",
       [](auto *im, A a) { return kxPixelLarge(a.image(0), im); }),
    op("pixelsmall", "kxPixelSmall", "other:I", "min(other, image)",
       [](auto *im, A a) { return kxPixelSmall(a.image(0), im); }),
    op("pixeland", "kxPixelAnd", "other:I", "other & image",
       [](auto *im, A a) { return kxPixelAnd(a.image(0), im); }),
    op("pixelor", "kxPixelOr", "other:I", "other | image",
       [](auto *im, A a) { return kxPixelOr(a.image(0), im); }),
    op("pixelxor", "kxPixelXor", "other:I", "other ^ image",
       [](auto *im, A a) { return kxPixelXor(a.image(0), im); }),
    op("pixelcopy", "kxPixelCopy", "other:I", "copy other over the common area",
       [](auto *im, A a) { return kxPixelCopy(a.image(0), im); }),
    op("pixeldiff", "kxPixelDiff", "other:I", "|other - image|",
       [](auto *im, A a) { return kxPixelDiff(a.image(0), im); }),
    op("pixelmerge", "kxPixelMerge", "other:I code:i", "combine other into the image by code 1204..1212",
       [](auto *im, A a) { return kxPixelMerge(a.image(0), im, a.i(1)); }),
    op("pixelmergee1", "kxPixelMergeE1", "other:I code:i scale:f offset:f", "scaled merge of other into the image, code 0..9",
       [](auto *im, A a) { return kxPixelMergeE1(im, a.image(0), a.i(1), a.f(2), a.f(3)); }),
    op("invert", "kxInvert", "", "invert the pixels (alpha kept)",
       [](auto *im, A) { return kxInvert(im); }),
    op("copypixels", "kxCopyPixels", "source:I sx:i sy:i sw:i sh:i dx:i dy:i dw:i dh:i", "copy a rectangle of source into the image",
       [](auto *im, A a) { return (kxCopyPixels(a.image(0), a.i(1), a.i(2), a.i(3), a.i(4), im, a.i(5), a.i(6), a.i(7), a.i(8)), keep); }),
    op("copypixelse2", "kxCopyPixelsE2", "source:I dx:i dy:i mask:M", "paste source at (dx, dy) where the mask is set",
       [](auto *im, A a) { return (kxCopyPixelsE2(a.image(0), im, a.i(1), a.i(2), a.image(3)), keep); }),
    op("replacechannel", "kxReplaceChannel", "channel:C selection:i", "write colour channels (bits 1 B, 2 G, 4 R, 8 A) from an image",
       [](auto *im, A a) { return kxReplaceChannel(im, a.image(0), a.i(1)); }),
    op("replacepixels", "kxReplacePixels", "old:u new:u mask:M", "replace one colour by another",
       [](auto *im, A a) { return (kxReplacePixels(im, a.u(0), a.u(1), a.image(2)), keep); }),
    op("clip", "kxClip", "left:i top:i right:i bottom:i", "crop to an inclusive rectangle",
       [](auto *im, A a) { return kxClip(im, a.i(0), a.i(1), a.i(2), a.i(3)); }),

    // ---- thresholding
    op("simple", "kxbSimple", "t:i invert:i", "binarize: pixel >= t -> 1 (inverted with invert 1)",
       [](auto *im, A a) { return kxbSimple(im, uint8_t(a.i(0)), a.i(1)); }),
    op("dark", "kxbDark", "t:i v:i binarize:i", "select pixels < t: set them to v, or binarize",
       [](auto *im, A a) { return kxbDark(im, uint8_t(a.i(0)), uint8_t(a.i(1)), a.i(2)); }),
    op("light", "kxbLight", "t:i v:i binarize:i", "select pixels >= t: set them to v, or binarize",
       [](auto *im, A a) { return kxbLight(im, uint8_t(a.i(0)), uint8_t(a.i(1)), a.i(2)); }),
    op("inner", "kxbInner", "lo:i hi:i v:i binarize:i", "select lo <= pixel < hi",
       [](auto *im, A a) { return kxbInner(im, uint8_t(a.i(0)), uint8_t(a.i(1)), uint8_t(a.i(2)), a.i(3)); }),
    op("outer", "kxbOuter", "lo:i hi:i v:i binarize:i", "select pixel < lo or pixel >= hi",
       [](auto *im, A a) { return kxbOuter(im, uint8_t(a.i(0)), uint8_t(a.i(1)), uint8_t(a.i(2)), a.i(3)); }),
    op("otsu", "kxbOtsu", "mask:M", "binarize at the Otsu level",
       [](auto *im, A a) { return kxbOtsu(im, a.image(0)); }),
    op("isodata", "kxbIsoData", "iterations:i window:i", "binarize at the isodata level",
       [](auto *im, A a) { return kxbIsoData(im, a.i(0), a.i(1)); }),
    op("maxentropy", "kxbMaxEntropy", "", "binarize at the maximum-entropy level",
       [](auto *im, A) { return kxbMaxEntropy(im); }),
    op("minerror", "kxbMinError", "criterion:i", "binarize at the minimum-error level (0 Gaussian, 1 Poisson)",
       [](auto *im, A a) { return kxbMinError(im, a.i(0)); }),
    op("minerrore1", "kxbMinErrorE1", "mask:M criterion:i", "minimum-error binarization inside a mask",
       [](auto *im, A a) { return kxbMinErrorE1(im, a.image(0), a.i(1)); }),
    op("getoptima", "kxbGetOptima", "method:i", "print the level a selector chooses (0..3)",
       [](auto *im, A a) { return kxbGetOptima(im, a.i(0)); }),
    op("getoptimae1", "kxbGetOptimaE1", "mask:M method:i", "print the level a selector chooses inside a mask",
       [](auto *im, A a) { return kxbGetOptimaE1(im, a.image(0), a.i(1)); }),
    op("multilevel", "kxbMultiLevel", "levels:i", "posterize into a number of grey classes",
       [](auto *im, A a) { return kxbMultiLevel(im, a.i(0)); }),
    op("localintegral", "kxbLocalIntegral", "window:i range:i k:f", "binarize against the local mean and deviation",
       [](auto *im, A a) { return kxbLocalIntegral(im, a.i(0), a.i(1), a.f(2)); }),
    op("threshold", "kxThreshold", "method:i p1:i p2:i param:d", "any binarization by method code",
       [](auto *im, A a) { return kxThreshold(im, a.i(0), a.i(1), a.i(2), a.d(3)); }),

    // ---- filtering and intensity
    op("sobel", "kxSobel", "mode:i", "Sobel edge response",
       [](auto *im, A a) { return kxSobel(im, a.i(0)); }),
    op("prewitt", "kxPrewitt", "mode:i", "Prewitt edge response",
       [](auto *im, A a) { return kxPrewitt(im, a.i(0)); }),
    op("kirsch", "kxKirsch", "mode:i", "Kirsch edge response",
       [](auto *im, A a) { return kxKirsch(im, a.i(0)); }),
    op("laplacian", "kxLaPlacian", "", "Laplacian response",
       [](auto *im, A) { return kxLaPlacian(im); }),
    op("sharp1541", "kxSharp1541", "", "sharpening kernel",
       [](auto *im, A) { return kxSharp1541(im); }),
    op("difffirst", "kxDiffFirst", "mode:i", "first difference (0, 1, 2)",
       [](auto *im, A a) { return kxDiffFirst(im, a.i(0)); }),
    op("diffsecond", "kxDiffSecond", "mode:i", "second difference",
       [](auto *im, A a) { return kxDiffSecond(im, a.i(0)); }),
    op("roberts", "kxRoberts", "", "Roberts cross",
       [](auto *im, A) { return kxRoberts(im); }),
    op("gradient", "kxGradient", "mode:i gap:i", "gradient over a gap",
       [](auto *im, A a) { return kxGradient(im, a.i(0), a.i(1)); }),
    op("detectedge", "kxDetectEdge", "method:i direction:i threshold:f mask:M", "binary edge map",
       [](auto *im, A a) { return kxDetectEdge(im, a.i(0), a.i(1), a.f(2), a.image(3)); }),
    op("smoothavg", "kxSmoothAvg", "window:i", "box mean over a square window",
       [](auto *im, A a) { return kxSmoothAvg(im, a.i(0)); }),
    op("median", "kxMedian", "window:i", "median over a square window",
       [](auto *im, A a) { return kxMedian(im, a.i(0)); }),
    op("normalize", "kxNormalize", "mean:f variance:f", "set the mean and variance of a grey image",
       [](auto *im, A a) { return kxNormalize(im, a.f(0), a.f(1)); }),
    op("equalize", "kxEqualize", "", "histogram equalization",
       [](auto *im, A) { return kxEqualize(im); }),
    op("contrast", "kxContrast", "low:f high:f", "stretch contrast between fractions of full scale",
       [](auto *im, A a) { return kxContrast(im, a.f(0), a.f(1)); }),
    op("linear", "kxLinear", "gain:f offset:f", "pixel * gain + offset",
       [](auto *im, A a) { return kxLinear(im, a.f(0), a.f(1)); }),
    op("linearex", "kxLinearEx", "channels:i gain:f offset:f", "linear map of chosen colour channels",
       [](auto *im, A a) { return kxLinearEx(im, a.i(0), a.f(1), a.f(2)); }),
    op("increaselum", "kxIncreaseLum", "", "tone-map the luminance of a colour image",
       [](auto *im, A) { return kxIncreaseLum(im); }),
    op("expand", "kxExpand", "", "expand the grey range",
       [](auto *im, A) { return kxExpand(im); }),

    // ---- binary images
    op("thinning", "kxThinning", "", "thin strokes to one-pixel lines",
       [](auto *im, A) { return (kxThinning(im), keep); }),
    op("skeleton", "kxSkeleton", "method:i", "skeleton (0 level maxima, 1 thinning)",
       [](auto *im, A a) { return kxSkeleton(im, a.i(0)); }),
    op("fillhole", "kxFillHole", "", "fill holes of binary regions",
       [](auto *im, A) { return (kxFillHole(im), keep); }),
    op("fillholeex", "kxFillHoleEx", "mask:M", "fill holes inside a mask",
       [](auto *im, A a) { return (kxFillHoleEx(im, a.image(0)), keep); }),
    op("removeborder", "kxRemoveBorder", "", "clear regions touching the border",
       [](auto *im, A) { return (kxRemoveBorder(im), keep); }),
    op("removeborderex", "kxRemoveBorderEx", "mask:M", "clear regions touching a mask's edge",
       [](auto *im, A a) { return (kxRemoveBorderEx(im, a.image(0)), keep); }),
    op("retrieveedge", "kxRetrieveEdge", "mode:i", "keep region outlines (0) or mark outer neighbours (1)",
       [](auto *im, A a) { return (kxRetrieveEdge(im, a.i(0), 0), keep); }),
    op("retrieveedgee1", "kxRetrieveEdgeE1", "mode:i", "region outlines, 8-connected variant",
       [](auto *im, A a) { return kxRetrieveEdgeE1(im, a.i(0), nullptr); }),
    op("cutmargin", "kxCutMargin", "margin:i", "blank a frame of the given width",
       [](auto *im, A a) { return (kxCutMargin(im, a.i(0)), keep); }),
    op("erode", "kxErode", "element:E", "erosion by a structuring element",
       [](auto *im, A a) { return kxErode(im, a.element(0)); }),
    op("dilate", "kxDilate", "element:E", "dilation by a structuring element",
       [](auto *im, A a) { return kxDilate(im, a.element(0)); }),
    op("dilatee1", "kxDilateE1", "radius:i", "dilate a binary image by a radius",
       [](auto *im, A a) { return kxDilateE1(im, a.i(0)); }),
    op("disttrans", "kxDistTrans", "", "replace a binary image by its distance map (grey, capped at 255)",
       [](auto *im, A) { return distanceImage(im, kxDistTrans(im, nullptr, 0)); }),
    op("erodee1", "kxErodeE1", "radius:i", "erode a binary image by distance",
       [](auto *im, A a) { return kxErodeE1(im, a.i(0)); }),
    op("eclose", "kxEclose", "radius:i", "turn a mask into weights falling off at its edges",
       [](auto *im, A a) { return (kxEclose(im, a.i(0)), keep); }),

    // ---- geometry
    op("rotate", "kxRotate", "quarters:i", "rotate by quarter turns",
       [](auto *im, A a) { return kxRotate(im, a.i(0)); }),
    op("rotateex", "kxRotateEx", "degrees:d nearest:i keepsize:i", "rotate by any angle",
       [](auto *im, A a) { return kxRotateEx(im, a.d(0), a.i(1), a.i(2)); }),
    op("rotatee2", "kxRotateE2", "degrees:d colour:u nearest:i keepsize:i", "rotate on a coloured background",
       [](auto *im, A a) { return kxRotateE2(im, a.d(0), a.u(1), a.i(2), a.i(3)); }),
    op("rotatee3", "kxRotateE3", "cx:d cy:d degrees:d colour:u", "rotate about a point through a warp",
       [](auto *im, A a) { return kxRotateE3(im, a.d(0), a.d(1), a.d(2), a.u(3)); }),
    op("translate", "kxTranslate", "dx:f dy:f nearest:i", "sub-pixel shift of a grey image",
       [](auto *im, A a) { return kxTranslate(im, a.f(0), a.f(1), a.i(2)); }),
    op("translatee1", "kxTranslateE1", "dx:d dy:d colour:u", "shift through a warp",
       [](auto *im, A a) { return kxTranslateE1(im, a.d(0), a.d(1), a.u(2)); }),
    op("flip", "kxFlip", "mode:i", "mirror (0 both, 1 left-right, 2 upside down)",
       [](auto *im, A a) { return kxFlip(im, a.i(0)); }),
    op("resize", "kxResize", "width:i height:i colour:u", "change the canvas size",
       [](auto *im, A a) { return kxResize(im, a.i(0), a.i(1), a.u(2)); }),
    op("makesquarepixel", "kxMakeSquarePixel", "sizex:i sizey:i filter:i shrink:i", "rescale one side to square pixels",
       [](auto *im, A a) { return kxMakeSquarePixel(im, a.i(0), a.i(1), a.i(2), a.i(3)); }),
    op("scale", "kxScale", "factor:f filter:i", "scale by a factor (filters 2..6, else nearest)",
       [](auto *im, A a) { return kxScale(im, a.f(0), a.i(1)); }),
    op("scalee1", "kxScaleE1", "factor:f colour:u filter:i keepsize:i", "scale, optionally keeping the size",
       [](auto *im, A a) { return kxScaleE1(im, a.f(0), a.u(1), a.i(2), a.i(3)); }),
    opInto("scaleex", "kxScaleEx", "width:i height:i filter:i", "scale to a given size",
       [](auto *im, A a, Image *dst) { return kxScaleEx(im, dst, a.i(2)); }),

    // ---- drawing
    op("setline", "kxSetLine", "x0:i y0:i x1:i y1:i colour:u", "draw a line",
       [](auto *im, A a) { return (kxSetLine(im, a.i(0), a.i(1), a.i(2), a.i(3), a.u(4)), keep); }),
    op("setpolyline", "kxSetPolyline", "points:p colour:u", "draw an open polyline",
       [](auto *im, A a) { return (kxSetPolyline(im, a.points(0), a.count(0), a.u(1)), keep); }),
    op("setellipse", "kxSetEllipse", "cx:i cy:i rx:i ry:i angle:f colour:u", "draw an ellipse outline",
       [](auto *im, A a) { return (kxSetEllipse(im, a.i(0), a.i(1), a.i(2), a.i(3), a.f(4), a.u(5)), keep); }),
    op("fillrect", "kxFillRect", "x0:i y0:i x1:i y1:i colour:u", "fill an inclusive rectangle",
       [](auto *im, A a) { return (kxFillRect(im, a.i(0), a.i(1), a.i(2), a.i(3), a.u(4)), keep); }),
    op("fillrecte1", "kxFillRectE1", "x0:i y0:i x1:i y1:i value:i", "fill a clamped rectangle with a raw byte",
       [](auto *im, A a) { return (kxFillRectE1(im, a.i(0), a.i(1), a.i(2), a.i(3), uint8_t(a.i(4))), keep); }),
    op("fillellipse", "kxFillEllipse", "left:i top:i right:i bottom:i colour:u", "fill the ellipse inscribed in a box",
       [](auto *im, A a) { return (kxFillEllipse(im, a.i(0), a.i(1), a.i(2), a.i(3), a.u(4)), keep); }),
    op("fillellipsee1", "kxFillEllipseE1", "cx:d cy:d width:d height:d degrees:d colour:u", "fill a rotated ellipse",
       [](auto *im, A a) { return (kxFillEllipseE1(im, EllipseBox{a.d(0), a.d(1), a.d(2), a.d(3), a.d(4)}, a.u(5)), keep); }),
    op("fillpolygon", "kxFillPolygon", "points:p colour:u", "fill a polygon (even-odd rule)",
       [](auto *im, A a) { return (kxFillPolygon(im, a.points(0), a.count(0), a.u(1)), keep); }),
    op("fillpolygone1", "kxFillPolygonE1", "points:p hole:p colour:u", "fill a polygon minus a second one",
       [](auto *im, A a) { return (kxFillPolygonE1(im, a.points(0), a.count(0), a.points(1), a.count(1), a.u(2)), keep); }),
    op("fillpolygone2", "kxFillPolygonE2", "points:p colour:u fill:i", "draw a closed outline, seed-fill it with fill 1",
       [](auto *im, A a) { return (kxFillPolygonE2(im, a.points(0), a.count(0), a.u(1), a.i(2)), keep); }),
    op("fill", "kxFill", "x:i y:i colour:u", "4-connected seed fill",
       [](auto *im, A a) { return kxFill(im, a.i(0), a.i(1), a.u(2)); }),
    op("fillex", "kxFillEx", "channels:u value:i", "set chosen channels (bits 1 B, 2 G, 4 R, 8 A) to a value",
       [](auto *im, A a) { return (kxFillEx(im, a.u(0), uint8_t(a.i(1))), keep); }),
    op("floodfill", "kxFloodFill", "x:i y:i colour:u lo:d up:d connectivity:i flags:i",
       "print the number of pixels repainted around a seed",
       [](auto *im, A a) { return kxFloodFill(im, a.i(0), a.i(1), floodValue(a.u(2)), floodRange(a.d(3)), floodRange(a.d(4)), a.i(5), a.i(6)); }),
    op("floodmask", "kxFloodMask", "x:i y:i lo:d up:d connectivity:i flags:i",
       "replace the image by the mask of the region around a seed",
       [](auto *im, A a) { return kxFloodMask(im, a.i(0), a.i(1), floodRange(a.d(2)), floodRange(a.d(3)), a.i(4), a.i(5), nullptr); }),
    op("filltext", "kxFillText", "text:s x:i y:i height:i colour:u", "draw text",
       [](auto *im, A a) { return (kxFillText(im, a.s(0), a.i(1), a.i(2), a.i(3), a.u(4)), keep); }),
    op("filltextex", "kxFillTextEx", "text:s x:i y:i face:s height:i colour:u background:u flags:u",
       "draw text in a face with a background and style flags",
       [](auto *im, A a) { return (kxFillTextEx(im, a.s(0), a.i(1), a.i(2), a.s(3), a.i(4), a.u(5), a.u(6), a.u(7)), keep); }),

    // ---- vision filters
    op("pyramid", "kxPyramid", "value:i", "one pyramid step (the image is replaced)",
       [](auto *im, A a) { return kxPyramid(im, a.i(0), nullptr); }),
    op("warp", "kxWarp", "from:q to:q", "map a quadrilateral onto another (new image)",
       [](auto *im, A a) { return kxWarp(im, a.quad(0), a.quad(1), nullptr); }),
    opInto("unwarp", "kxUnwarp", "width:i height:i from:q", "map a quadrilateral onto a whole new image",
       [](auto *im, A a, Image *dst) { return kxUnwarp(im, a.quad(2), dst); }),
    op("warpex", "kxWarpEx", "from:q to:q patch:i", "warp, or paste the warped quadrilateral only",
       [](auto *im, A a) { return kxWarpEx(im, a.quad(0), 4, a.quad(1), 4, a.i(2), nullptr); }),
    opInto("copypixelse3", "kxCopyPixelsE3", "width:i height:i quad:q", "copy a quadrilateral onto a whole new image",
       [](auto *im, A a, Image *dst) { return (kxCopyPixelsE3(im, dst, a.quad(2)), keep); }),
    op("canny", "kxCanny", "low:d high:d binarize:i value:i", "Canny edges",
       [](auto *im, A a) { return kxCanny(im, a.d(0), a.d(1), a.i(2), a.i(3)); }),
    op("scharr", "kxScharr", "value:i", "Scharr derivative",
       [](auto *im, A a) { return kxScharr(im, a.i(0)); }),
    op("blur", "kxBlur", "width:i height:i", "box blur",
       [](auto *im, A a) { return kxBlur(im, a.i(0), a.i(1)); }),
    op("smoothgaussian", "kxSmoothGaussian", "width:i height:i", "Gaussian smoothing",
       [](auto *im, A a) { return kxSmoothGaussian(im, a.i(0), a.i(1)); }),
    op("smoothmedian", "kxSmoothMedian", "size:i", "median smoothing",
       [](auto *im, A a) { return kxSmoothMedian(im, a.i(0)); }),
    op("morphology", "kxMorphology", "operation:i iterations:i", "morphology by operation code",
       [](auto *im, A a) { return kxMorphology(im, a.i(0), a.i(1)); }),
    op("morpopen", "kxMorpOpen", "", "morphological opening",
       [](auto *im, A) { return kxMorpOpen(im); }),
    op("morpclose", "kxMorpClose", "", "morphological closing",
       [](auto *im, A) { return kxMorpClose(im); }),
    op("adaptive", "kxAdaptive", "mode:i value:i", "adaptive threshold",
       [](auto *im, A a) { return kxAdaptive(im, a.i(0), a.i(1)); }),
    };
    // clang-format on
}

bool parseInteger(const std::string &word, long long lo, long long hi, long long &out)
{
    if (word.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(word.c_str(), &end, 0);
    if (errno || *end || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool parseNumber(const std::string &word, double &out)
{
    if (word.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(word.c_str(), &end);
    if (errno || *end || !std::isfinite(v)) return false;
    out = v;
    return true;
}

// Comma-separated numbers; false on anything else.
bool parseList(const std::string &word, std::vector<double> &out)
{
    out.clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = word.find(',', start);
        double v;
        if (!parseNumber(word.substr(start, comma - start), v)) return false;
        out.push_back(v);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

}  // namespace

std::vector<std::pair<std::string, char>> Operation::argumentList() const
{
    std::vector<std::pair<std::string, char>> list;
    const std::string text = args;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(start, end - start);
        const size_t colon = item.find(':');
        list.emplace_back(item.substr(0, colon), item[colon + 1]);
        start = end + 1;
    }
    return list;
}

const std::vector<Operation> &operations()
{
    static const std::vector<Operation> table = buildTable();
    return table;
}

const Operation *findOperation(std::string_view name)
{
    for (const auto &o : operations())
        if (name == o.name) return &o;
    return nullptr;
}

bool parseValue(const std::string &word, char kind, const std::string &argName, Value &value,
                std::string &error)
{
    value = Value{};
    value.kind = kind;
    value.text = word;
    bool ok = true;
    std::string expected;
    switch (kind) {
    case 'i':
        ok = parseInteger(word, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), value.integer);
        expected = "an integer";
        break;
    case 'u':
        if (word.size() == 7 && word[0] == '#') {
            ok = word.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos &&
                 parseInteger("0x" + word.substr(1), 0, 0xFFFFFF, value.integer);
            value.integer |= 0xFF000000LL;
        } else {
            ok = word.find('-') == std::string::npos && parseInteger(word, 0, 0xFFFFFFFFLL, value.integer);
        }
        expected = "a colour (0xAARRGGBB, #RRGGBB or a number)";
        break;
    case 'f':
    case 'd':
        ok = parseNumber(word, value.number) &&
             (kind == 'd' || std::fabs(value.number) <= double(std::numeric_limits<float>::max()));
        expected = "a number";
        break;
    case 's':
        break;
    case 'p': {
        std::vector<double> list;
        ok = parseList(word, list) && !list.empty() && list.size() % 2 == 0;
        for (double v : list) {
            if (!ok) break;
            ok = v == std::floor(v) && std::fabs(v) <= std::numeric_limits<int>::max();
            value.points.push_back(int(v));
        }
        expected = "a point list x,y,x,y,... of integers";
        break;
    }
    case 'q': {
        std::vector<double> list;
        ok = parseList(word, list) && list.size() == 8;
        for (double v : list) {
            if (!ok) break;
            ok = std::fabs(v) <= 1e7;
            value.quad.push_back(float(v));
        }
        expected = "four points x0,y0,x1,y1,x2,y2,x3,y3";
        break;
    }
    case 'I':
    case 'C':
        ok = !word.empty();
        expected = "an image file";
        break;
    case 'M':
        ok = !word.empty();
        expected = "a mask image file or -";
        break;
    case 'E': {
        if (word == "-") break;
        const size_t colon = word.find(':'), x = word.find('x', colon == std::string::npos ? 0 : colon);
        const std::string shape = word.substr(0, colon);
        long long w = 0, h = 0;
        ok = colon != std::string::npos && x != std::string::npos &&
             (shape == "cross" || shape == "rect" || shape == "ellipse") &&
             parseInteger(word.substr(colon + 1, x - colon - 1), 1, 1024, w) &&
             parseInteger(word.substr(x + 1), 1, 1024, h);
        value.integer = (shape == "cross" ? KXM_CROSS : shape == "rect" ? KXM_RECT : KXM_ELLIPSE);
        value.points = {int(w), int(h)};
        expected = "an element rect:WxH, ellipse:WxH, cross:WxH or -";
        break;
    }
    default:
        ok = false;
        expected = "(unknown argument kind)";
    }
    if (!ok) error = argName + ": '" + word + "' is not " + expected;
    return ok;
}

bool loadValue(Value &value, std::string &error)
{
    switch (value.kind) {
    case 'I':
    case 'C':
    case 'M':
        if (value.kind == 'M' && value.text == "-") return true;
        value.image = readImage(value.text, error);
        if (!value.image) return false;
        if (value.kind == 'M' && value.image->imageType != KIT_GRAY && !kxiCast(value.image.get(), KIT_GRAY)) {
            error = value.text + ": cannot be used as a mask";
            return false;
        }
        return true;
    case 'E':
        if (value.text == "-") return true;
        value.element.reset(kxCreateMask(int(value.integer), value.points[0], value.points[1]));
        if (!value.element) {
            error = value.text + ": cannot create the element";
            return false;
        }
        return true;
    default:
        return true;
    }
}

StepResult runStep(const Operation &op, ImagePtr &image, Arguments &args)
{
    if (!op.run) return {false, std::string(op.function) + " is not in this build of the library"};
    if (!image) return {false, "no image"};
    for (auto &v : args.values) {
        if (v.kind == 'I' && v.image && v.image->imageType != image->imageType &&
            !kxiCast(v.image.get(), image->imageType))
            return {false, v.text + ": cannot convert to the image's type"};
    }
    return op.run(image, args);
}

StepResult applyOperation(ImagePtr &image, std::string_view name, const std::vector<std::string> &args)
{
    const Operation *op = findOperation(name);
    if (!op) return {false, "unknown operation " + std::string(name)};
    const auto list = op->argumentList();
    if (list.size() != args.size()) return {false, std::string(name) + ": wrong number of arguments"};
    Arguments parsed;
    std::string error;
    for (size_t k = 0; k < list.size(); ++k) {
        Value v;
        if (!parseValue(args[k], list[k].second, list[k].first, v, error) || !loadValue(v, error))
            return {false, std::string(name) + ": " + error};
        parsed.values.push_back(std::move(v));
    }
    return runStep(*op, image, parsed);
}

}  // namespace kxtools
