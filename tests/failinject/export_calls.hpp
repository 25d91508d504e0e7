// Calls of every export that takes an image, shared by tests/failinject,
// tests/fpenv and tests/tsan.  A case names the images it works on (and a
// second one where the export takes it) and returns the image holding its
// result.
#pragma once

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "kxmask.h"
#include "kxpre.h"

namespace kxcalls {

struct Picture {
    int type = 0, w = 12, h = 9;  // type 0: no such image
    bool wrapped = false;         // over a buffer with row padding and guard bytes
};

// How strictly an image left by a failed allocation is judged: the input
// unchanged or the full result, or (where a partial result or an early
// conversion is documented) only well formed.
enum Judge { kAllOrNothing, kWellFormed };

using Call = Image *(*)(Image *a, Image *b, Mask *m);
struct Case {
    const char *name;
    Picture a, b;
    Call call;
    Judge judge = kAllOrNothing;
};

constexpr size_t kGuard = 16;
constexpr uint8_t kSentinel = 0x5A;

// The type, size and pixel bytes of an image.
inline std::string bytesOf(const Image *im)
{
    if (!im) return "null";
    std::string s = std::to_string(im->imageType) + ' ' + std::to_string(im->width) + 'x' + std::to_string(im->height);
    for (int y = 0; y < im->height; ++y)
        s.append(reinterpret_cast<const char *>(im->data) + size_t(y) * im->pitch,
                 size_t(im->width) * kxiBytesPerPixel(im->imageType));
    return s;
}

// The images of one call, the specs' sizes times `scale`, and a 5 x 3
// elliptic element.
struct Env {
    std::vector<Image *> images;                // the arguments first, then a returned image
    std::vector<std::vector<uint8_t>> buffers;  // one per argument, empty for owned ones
    Image *const a, *const b;
    Mask *const m;

    explicit Env(const Case &c, int scale = 1)
        : a(image(c.a, scale)), b(image(c.b, scale)), m(kxCreateMask(KXM_ELLIPSE, 5, 3)) {}
    ~Env()
    {
        for (Image *im : images) kxDestroyImage(im);
        kxDestroyMask(m);
    }
    // Runs the call; a new image it returns is destroyed with the others.
    Image *run(Call call)
    {
        Image *r = call(a, b, m);
        if (r && r != a && r != b) images.push_back(r);
        return r;
    }
    std::vector<std::string> state() const
    {
        std::vector<std::string> s;
        for (const Image *im : images) s.push_back(bytesOf(im));
        return s;
    }
    bool wellFormed() const
    {
        return std::all_of(images.begin(), images.end(), [](const Image *im) {
            return im->magic == KXI_MAGIC && kxiIsWellFormed(im) &&
                   im->size == uint32_t(im->pitch) * uint32_t(im->height);
        });
    }
    // The guard bytes and row padding of wrapped images are untouched.
    bool paddingKept() const
    {
        for (size_t k = 0; k < buffers.size(); ++k) {
            const Image *im = images[k];
            const std::vector<uint8_t> &buf = buffers[k];
            if (buf.empty() || !im->isVirtual) continue;
            const size_t row = size_t(im->width) * kxiBytesPerPixel(im->imageType), pitch = size_t(im->pitch);
            for (size_t i = 0; i < buf.size(); ++i) {
                const bool pixel = i >= kGuard && i - kGuard < pitch * im->height && (i - kGuard) % pitch < row;
                if (!pixel && buf[i] != kSentinel) return false;
            }
        }
        return true;
    }

    Image *image(const Picture &s, int scale)
    {
        if (!s.type) return nullptr;
        const int bpp = kxiBytesPerPixel(s.type), w = s.w * scale, h = s.h * scale, pitch = w * bpp + 3;
        auto &buf = buffers.emplace_back(s.wrapped ? kGuard + size_t(pitch) * h + kGuard : 0, kSentinel);
        Image *im = s.wrapped ? kxCreateImageEx(s.type, w, h, pitch, &buf[kGuard], 0) : kxCreateImage(s.type, w, h);
        // A picture with edges, holes and a few levels.
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w * bpp; ++x) {
                const int v = ((x / bpp) * 37 + y * 91 + (x % bpp) * 50) % 256;
                const bool inside = x / bpp > 1 && x / bpp < w - 2 && y > 1 && y < h - 2 && (x / bpp + y) % 5;
                im->data[size_t(y) * im->pitch + x] = uint8_t(s.type == KIT_BIN ? inside : inside ? v : v / 4);
            }
        images.push_back(im);
        return im;
    }
};

inline const float kQuad[8] = {1, 1, 8.5f, 0.5f, 9, 6, 0.5f, 7}, kQuad2[8] = {0, 0, 11, 0, 11, 8, 0, 8};
inline const int kPoly[8] = {1, 1, 9, 2, 7, 8, 2, 6};
inline const FloodRecord kTol{{5, 5, 5, 5}};
constexpr int G = KIT_GRAY, B = KIT_BIN, C = KIT_RGB, A = KIT_RGBA;
constexpr Picture W{G, 12, 9, true};  // a wrapped grey image

// A call whose result is in what RET's expression returns; VA: in a, VB: in b
// (after a call returning something else or nothing).
#define RET(...) [](Image *a, [[maybe_unused]] Image *b, [[maybe_unused]] Mask *m) -> Image * { return __VA_ARGS__; }
#define VA(...) RET((void)(__VA_ARGS__), a)
#define VB(...) RET((void)(__VA_ARGS__), b)

// The routes the generated rows (one per export, on the first image kind it
// takes) miss: other kinds, sizes and arguments, SIMD widths, kernels,
// element shapes.
inline const Case kRoutes[] = {
    {"kxPixelMergeE1 sizes", {G}, {G, 10, 7, true}, RET(kxPixelMergeE1(a, b, 4, 1.5f, 2.0f))},
    {"kxClip outside", {C}, {}, RET(kxClip(a, -2, 1, 7, 12))},
    {"kxReplaceChannel rgba", {A}, {G}, RET(kxReplaceChannel(a, b, 5))},
    {"kxbIsoData 10", {G}, {}, RET(kxbIsoData(a, 10, 3))},
    {"kxbMinErrorE1 mask", {G}, {B}, RET(kxbMinErrorE1(a, b, 1))},
    {"kxbMultiLevel 4", {G}, {}, RET(kxbMultiLevel(a, 4))},
    {"kxbLocalIntegral 5", W, {}, RET(kxbLocalIntegral(a, 5, 128, 0.3f))},
    {"kxThreshold 16", {G}, {}, RET(kxThreshold(a, 16, 5, 128, 0.2))},
    {"kxThreshold 1", {G}, {}, RET(kxThreshold(a, 1, 0, 0, 0.5))},
    {"kxPrewitt binary", {B}, {}, RET(kxPrewitt(a, 1))}, {"kxKirsch 2", {G}, {}, RET(kxKirsch(a, 2))},
    {"kxKirsch binary", {B}, {}, RET(kxKirsch(a, 0))}, {"kxSobel 3", {G}, {}, RET(kxSobel(a, 3))},
    {"kxGradient gap", {G}, {}, RET(kxGradient(a, 0, 2))}, {"kxSmoothAvg RGB", {C}, {}, RET(kxSmoothAvg(a, 3))},
    {"kxMedian 3", {G}, {}, RET(kxMedian(a, 3))}, {"kxMedian 5", W, {}, RET(kxMedian(a, 5))},
    {"kxMedian 9", {G}, {}, RET(kxMedian(a, 9))}, {"kxMedian 3 RGB", {C}, {}, RET(kxMedian(a, 3))},
    {"kxMedian 7 RGB", {C}, {}, RET(kxMedian(a, 7))}, {"kxNormalize 400", {G}, {}, RET(kxNormalize(a, 100.0f, 400.0f))},
    {"kxLinear binary", {B}, {}, RET(kxLinear(a, 2.0f, 3.0f))},
    {"kxLinearEx rgba", {A}, {}, RET(kxLinearEx(a, 0xB, 1.3f, -7.0f))},
    {"kxRetrieveEdgeE1 destination", {B}, {G, 5, 5}, RET(kxRetrieveEdgeE1(a, 1, b))},
    {"kxErode grey", {G}, {}, RET(kxErode(a, nullptr))}, {"kxErode element", {B}, {}, RET(kxErode(a, m))},
    {"kxEclose binary", {B, 12, 9, true}, {}, VA(kxEclose(a, 3))}, {"kxInvert rgba", {A}, {}, RET(kxInvert(a))},
    {"kxPixelDiff RGB", {C}, {C}, RET(kxPixelDiff(b, a))},
    // geometry
    {"kxRotate RGB", {C}, {}, RET(kxRotate(a, 1))}, {"kxFlip RGB", {C}, {}, RET(kxFlip(a, 1))},
    {"kxResize rgba", {A}, {}, RET(kxResize(a, 15, 6, 0xFF336699))},
    {"kxRotateEx RGB", {C}, {}, RET(kxRotateEx(a, 30.0, 0, 0))},
    {"kxRotateEx nearest", {C}, {}, RET(kxRotateEx(a, -17.5, 1, 0))},
    {"kxRotateE2 45", W, {}, RET(kxRotateE2(a, 45.0, 0x80, 1, 1))},
    {"kxRotateE3 RGB", {C}, {}, RET(kxRotateE3(a, 5.5, 4.0, 20.0, 0xFF00FF00))},
    // Regression: a failed scratch allocation used to leave the destination
    // already re-typed and zeroed.
    {"kxScaleEx keeps a destination of another type on failure", {C}, {G, 7, 5}, VB(kxScaleEx(a, b, 2))},
    {"kxScale 1.7", {G}, {}, VA(kxScale(a, 1.7f, 4))}, {"kxScale box", {G}, {}, VA(kxScale(a, 0.41f, 3))},
    {"kxScale double", {C}, {}, VA(kxScale(a, 2.0f, 1))}, {"kxScale RGBA", {A}, {}, VA(kxScale(a, 1.37f, 4))},
    {"kxScaleE1 RGB", {C}, {}, RET(kxScaleE1(a, 0.5f, 0xFF0000, 3, 1))},
    // KIT_RGBA becomes KIT_RGB for good before the warp's allocations.
    {"kxTranslateE1 rgba", {A}, {}, RET(kxTranslateE1(a, 2.0, 1.0, 0xFF)), kWellFormed},
    // drawing
    {"kxFillTextEx 8", {G}, {}, VA(kxFillTextEx(a, "Ab\nc", 1, 1, nullptr, 8, 0xFF, 0xFFFFFF, 0)), kWellFormed},
    {"kxFillText RGB", {C}, {}, VA(kxFillText(a, "xy", 0, 0, 7, 0))},
    // vision
    {"kxWarp dest", {C}, {G, 8, 6}, RET(kxWarp(a, kQuad, kQuad2, b)), kWellFormed},
    {"kxWarpEx patch", {G}, {}, RET(kxWarpEx(a, kQuad, 4, kQuad2, 4, 1, nullptr))},
    {"kxWarpEx dest", {G}, {G}, RET(kxWarpEx(a, kQuad, 4, kQuad, 4, 1, b)), kWellFormed},
    {"kxCopyPixelsE3 RGB", {G}, {C, 6, 5}, VB(kxCopyPixelsE3(a, b, kQuad)), kWellFormed},
    {"kxPyramid RGB", {C}, {}, RET(kxPyramid(a, 0, nullptr))}, {"kxPyramid in place", {G}, {}, RET(kxPyramid(a, 1, a))},
    {"kxCanny binarised", {G}, {}, RET(kxCanny(a, 20, 60, 1, 3)), kWellFormed},
    {"kxScharr RGB", {C}, {}, RET(kxScharr(a, 2)), kWellFormed},
    {"kxSmoothGaussian RGB", {C}, {}, RET(kxSmoothGaussian(a, 5, 3)), kWellFormed},
    {"kxSmoothMedian 3", {G}, {}, RET(kxSmoothMedian(a, 3)), kWellFormed},
    {"kxMorphology rgba", {A}, {}, RET(kxMorphology(a, 4, 2)), kWellFormed},
    {"kxAdaptive 5", {G}, {}, RET(kxAdaptive(a, 1, 5)), kWellFormed},
    {"kxFloodMask mask", {G}, {G, 3, 3}, RET(kxFloodMask(a, 3, 3, kTol, kTol, 8, 0, b)), kWellFormed},
};

// Exports whose documented partial results or early conversions leave an
// image only well formed when an allocation fails.
inline const std::set<std::string> kPartialResult = {"kxFillText", "kxFillTextEx", "kxCanny", "kxScharr", "kxBlur",
    "kxSmoothGaussian", "kxSmoothMedian", "kxMorphology", "kxAdaptive", "kxFloodFill"};

// One call per export that takes an image (generated from the export
// manifest), then the routes above.
inline const std::vector<Case> kCases = [] {
    std::vector<Case> v = {
#include "export_calls.inc"
    };
    for (Case &c : v)
        if (kPartialResult.count(c.name)) c.judge = kWellFormed;
    v.insert(v.end(), std::begin(kRoutes), std::end(kRoutes));
    return v;
}();

}  // namespace kxcalls
