// Injected allocation failures.
//
// This program interposes the memory and image libraries' allocating entry
// points (kxAlloc, kxCreateImage, kxCreateImageEx, kxiClone, kxiCast,
// kxiSetSize, kxiResize, kxCreateMask) with wrappers that count the calls and
// can make one of them fail as it would when memory runs out.  The dynamic
// linker resolves the libraries' calls to the program's definitions, so every
// allocation an export makes through them is seen.
//
// For each case, a first run counts the allocation sites the call reaches;
// then the call is repeated on fresh inputs with site 0, 1, ... failing in
// turn.  After each run:
//   - nothing the call allocated is still held (blocks freed, temporary
//     images and elements destroyed), apart from an image it returns;
//   - every image is well formed and holds either its input unchanged or
//     the full result of the run without failure (exports that document a
//     partial result, or a conversion made before the failing step, are only
//     checked for a well-formed record);
//   - a wrapped image's row padding and the bytes around it are untouched.
// The library reports the failed allocation on stderr (Release builds carry
// on with the do-nothing result; Debug builds abort, so this program is only
// built for release flavours).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "kxmask.h"
#include "kxpre.h"

namespace {

struct Injector {
    bool armed = false;
    long calls = 0;    // allocating calls seen while armed
    long failAt = -1;  // the call that fails (-1: none)
    bool failed = false;
    std::set<void *> blocks;  // kxAlloc blocks handed out while armed
    std::set<void *> images;  // images and elements made while armed

    bool fail()
    {
        if (!armed) return false;
        const bool now = calls++ == failAt;
        failed |= now;
        return now;
    }
    template <class T> T *made(T *p, std::set<void *> &into)
    {
        if (p && armed) into.insert(p);
        return p;
    }
};
Injector gInject;

template <class F> F real(const char *name)
{
    void *p = dlsym(RTLD_NEXT, name);
    if (!p) {
        std::fprintf(stderr, "failinject: %s not found\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(p);
}

}  // namespace

// NAME's wrapper: fails with FAILED when its turn comes, else calls through
// and passes the result to KEEP (`r` is the result).
#define KX_WRAP(Ret, name, params, args, failed, keep)                                                            \
    extern "C" __attribute__((visibility("default"))) Ret name params                                             \
    {                                                                                                             \
        static auto next = real<Ret(*) params>(#name);                                                            \
        if (gInject.fail()) return failed;                                                                        \
        Ret r = next args;                                                                                        \
        return keep;                                                                                              \
    }
#define KX_FORGET(name, T)                                                                                        \
    extern "C" __attribute__((visibility("default"))) void name(T *p)                                             \
    {                                                                                                             \
        static auto next = real<void (*)(T *)>(#name);                                                            \
        gInject.blocks.erase(p);                                                                                  \
        gInject.images.erase(p);                                                                                  \
        next(p);                                                                                                  \
    }

KX_WRAP(void *, kxAlloc, (uint64_t bytes), (bytes), nullptr, gInject.made(r, gInject.blocks))
KX_WRAP(Image *, kxCreateImageEx, (int type, int w, int h, int pitch, void *data, int flags),
        (type, w, h, pitch, data, flags), nullptr, gInject.made(r, gInject.images))
KX_WRAP(Image *, kxCreateImage, (int type, int w, int h), (type, w, h), nullptr, gInject.made(r, gInject.images))
KX_WRAP(Image *, kxiClone, (const Image *src, Image *dst), (src, dst), nullptr,
        dst ? r : gInject.made(r, gInject.images))
KX_WRAP(Image *, kxiCast, (Image * im, int type), (im, type), nullptr, r)
KX_WRAP(int, kxiSetSize, (Image * im, int w, int h), (im, w, h), 0, r)
KX_WRAP(int, kxiResize, (Image * im, int w, int h), (im, w, h), 0, r)
KX_WRAP(Mask *, kxCreateMask, (int shape, int w, int h), (shape, w, h), nullptr, gInject.made(r, gInject.images))
KX_FORGET(kxFree, void)
KX_FORGET(kxDestroyImage, Image)
KX_FORGET(kxDestroyMask, Mask)

namespace {

constexpr size_t kGuard = 16;
constexpr uint8_t kSentinel = 0x5A;
const int G = KIT_GRAY, B = KIT_BIN, C = KIT_RGB, A = KIT_RGBA;

struct Spec {
    int type = 0, w = 12, h = 9;  // type 0: no such image
    bool wrapped = false;
};

// How strictly a failed run's images are judged.
enum Judge {
    kAllOrNothing,  // the input unchanged, or the full result
    kWellFormed,    // a partial result or an early conversion is documented
};

// One export call on images `a` and `b` (made from the specs) and a 5 x 3
// elliptic element `m`; returns the image that holds the result.
using Call = Image *(*)(Image *a, Image *b, Mask *m);
struct Case {
    const char *name;
    Spec a, b;
    Call call;
    Judge judge = kAllOrNothing;
};

// The images of one run: owned or wrapped over a guarded buffer.
class Env {
public:
    explicit Env(const Case &c) : a_(image(c.a)), b_(image(c.b)), mask_(kxCreateMask(KXM_ELLIPSE, 5, 3)) {}
    ~Env()
    {
        for (Image *im : images_) kxDestroyImage(im);
        kxDestroyMask(mask_);
    }
    // Runs the export under injection.
    void run(Call call)
    {
        before = state();
        gInject.blocks.clear();
        gInject.images.clear();
        gInject.armed = true;
        Image *r = call(a_, b_, mask_);
        gInject.armed = false;
        if (r && r != a_ && r != b_) {
            gInject.images.erase(r);
            images_.push_back(r);  // destroyed with the others
        }
        leaked = gInject.blocks.size() + gInject.images.size();
        after = state();
    }
    bool wellFormed() const
    {
        for (const Image *im : images_) {
            const int bpp = kxiBytesPerPixel(im->imageType);
            if (im->magic != KXI_MAGIC || !im->data || im->width < 1 || im->height < 1 || bpp == 0 ||
                im->pitch < im->width * bpp || kxiGetType(im) != im->imageType ||
                im->size != uint32_t(im->pitch) * uint32_t(im->height))
                return false;
        }
        return true;
    }
    // The guard bytes and row padding of wrapped images are untouched.
    bool paddingKept() const
    {
        for (size_t k = 0; k < buffers_.size(); ++k) {
            const Image *im = images_[k];
            const std::vector<uint8_t> &buf = buffers_[k];
            if (buf.empty() || !im->isVirtual) continue;
            const size_t row = size_t(im->width) * kxiBytesPerPixel(im->imageType), pitch = size_t(im->pitch);
            for (size_t i = 0; i < buf.size(); ++i) {
                const bool pixel = i >= kGuard && i - kGuard < pitch * im->height && (i - kGuard) % pitch < row;
                if (!pixel && buf[i] != kSentinel) return false;
            }
        }
        return true;
    }

    std::vector<std::string> before, after;
    size_t leaked = 0;

private:
    Image *image(const Spec &s)
    {
        if (!s.type) return nullptr;
        const int bpp = kxiBytesPerPixel(s.type);
        Image *im;
        buffers_.emplace_back();  // one per image, empty for owned ones
        if (s.wrapped) {
            const int pitch = s.w * bpp + 3;
            buffers_.back().assign(kGuard + size_t(pitch) * s.h + kGuard, kSentinel);
            im = kxCreateImageEx(s.type, s.w, s.h, pitch, buffers_.back().data() + kGuard, 0);
        } else {
            im = kxCreateImage(s.type, s.w, s.h);
        }
        // A picture with edges, holes and a few levels.
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w * bpp; ++x) {
                const int v = ((x / bpp) * 37 + y * 91 + (x % bpp) * 50) % 256;
                const bool inside = x / bpp > 1 && x / bpp < s.w - 2 && y > 1 && y < s.h - 2 && (x / bpp + y) % 5;
                im->data[size_t(y) * im->pitch + x] = uint8_t(s.type == KIT_BIN ? inside : inside ? v : v / 4);
            }
        images_.push_back(im);
        return im;
    }
    // Record fields and pixel bytes of every image.
    std::vector<std::string> state() const
    {
        std::vector<std::string> s;
        for (const Image *im : images_) {
            std::string t = std::to_string(im->imageType) + ' ' + std::to_string(im->width) + 'x' +
                            std::to_string(im->height) + ':';
            const size_t row = size_t(im->width) * kxiBytesPerPixel(im->imageType);
            for (int y = 0; y < im->height; ++y)
                t.append(reinterpret_cast<const char *>(im->data) + size_t(y) * im->pitch, row);
            s.push_back(t);
        }
        return s;
    }

    std::vector<Image *> images_;
    std::vector<std::vector<uint8_t>> buffers_;
    Image *a_, *b_;
    Mask *mask_;
};

const float kQuad[8] = {1, 1, 8.5f, 0.5f, 9, 6, 0.5f, 7};
const float kQuad2[8] = {0, 0, 11, 0, 11, 8, 0, 8};
const int kPoly[8] = {1, 1, 9, 2, 7, 8, 2, 6};
const FloodRecord kTol{{5, 5, 5, 5}};

// A call whose result is in `a` (R: what it returns; V: a, after a call
// returning something else or nothing).
#define R(...) [](Image *a, [[maybe_unused]] Image *b, [[maybe_unused]] Mask *m) -> Image * { return __VA_ARGS__; }
#define V(...) R((void)(__VA_ARGS__), a)
#define VB(...) R((void)(__VA_ARGS__), b)
const Spec W{G, 12, 9, true};  // a wrapped grey image

const Case kCases[] = {
    // pixel and channel operations
    {"kxSetPixelEx", {C}, {}, V(kxSetPixelEx(a, 0x123456, nullptr, 0))},
    {"kxPixelMergeE1", {G}, {G, 10, 7, true}, R(kxPixelMergeE1(a, b, 4, 1.5f, 2.0f))},
    {"kxCopyPixels", {C}, {C, 10, 7, true}, VB(kxCopyPixels(a, 1, 1, 0, 0, b, 2, 1, 0, 0))},
    {"kxClip", {C}, {}, R(kxClip(a, -2, 1, 7, 12))}, {"kxReplaceChannel", {A}, {G}, R(kxReplaceChannel(a, b, 5))},
    // thresholding
    {"kxbOtsu", {G}, {}, R(kxbOtsu(a, nullptr))}, {"kxbIsoData", {G}, {}, R(kxbIsoData(a, 10, 3))},
    {"kxbMaxEntropy", {G}, {}, R(kxbMaxEntropy(a))}, {"kxbMinErrorE1", {G}, {B}, R(kxbMinErrorE1(a, b, 1))},
    {"kxbMultiLevel", {G}, {}, R(kxbMultiLevel(a, 4))},
    {"kxbLocalIntegral", W, {}, R(kxbLocalIntegral(a, 5, 128, 0.3f))},
    {"kxThreshold", {G}, {}, R(kxThreshold(a, 16, 5, 128, 0.2))},
    // filtering
    {"kxSobel", W, {}, R(kxSobel(a, 0))}, {"kxPrewitt", {B}, {}, R(kxPrewitt(a, 1))},
    {"kxKirsch", {G}, {}, R(kxKirsch(a, 2))}, {"kxLaPlacian", {G}, {}, R(kxLaPlacian(a))},
    {"kxSharp1541", {G}, {}, R(kxSharp1541(a))}, {"kxDiffSecond", {G}, {}, R(kxDiffSecond(a, 0))},
    {"kxRoberts", {G}, {}, R(kxRoberts(a))}, {"kxDiffFirst", {G}, {}, R(kxDiffFirst(a, 0))},
    {"kxGradient", {G}, {}, R(kxGradient(a, 0, 2))}, {"kxDetectEdge", W, {}, R(kxDetectEdge(a, 0, 0, 0.0f, nullptr))},
    {"kxSmoothAvg", {C}, {}, R(kxSmoothAvg(a, 3))}, {"kxMedian", W, {}, R(kxMedian(a, 5))},
    {"kxNormalize", {G}, {}, R(kxNormalize(a, 100.0f, 400.0f))}, {"kxEqualize", {G}, {}, R(kxEqualize(a))},
    {"kxContrast", {G}, {}, R(kxContrast(a, 0.1f, 0.8f))}, {"kxExpand", {G}, {}, R(kxExpand(a))},
    {"kxLinear", {B}, {}, R(kxLinear(a, 2.0f, 3.0f))}, {"kxIncreaseLum", {C, 12, 9, true}, {}, R(kxIncreaseLum(a))},
    // binary
    {"kxThinning", {B}, {}, V(kxThinning(a))}, {"kxSkeleton", {B}, {}, R(kxSkeleton(a, 0))},
    {"kxFillHole", {B}, {}, V(kxFillHole(a))}, {"kxFillHoleEx", {B}, W, V(kxFillHoleEx(a, b))},
    {"kxRemoveBorder", {B}, {}, V(kxRemoveBorder(a))}, {"kxRemoveBorderEx", {B}, {B}, V(kxRemoveBorderEx(a, b))},
    {"kxRetrieveEdge", {B}, {}, V(kxRetrieveEdge(a, 0, 0))},
    {"kxRetrieveEdgeE1", {B}, {G, 5, 5}, R(kxRetrieveEdgeE1(a, 1, b))}, {"kxErode", {G}, {}, R(kxErode(a, nullptr))},
    {"kxDilate", {B, 12, 9, true}, {}, R(kxDilate(a, m))}, {"kxDilateE1", {B}, {}, R(kxDilateE1(a, 2))},
    {"kxErodeE1", {B}, {}, R(kxErodeE1(a, 2))}, {"kxEclose", {B, 12, 9, true}, {}, V(kxEclose(a, 3))},
    // geometry
    {"kxRotate", {C}, {}, R(kxRotate(a, 1))}, {"kxFlip", {C}, {}, R(kxFlip(a, 1))},
    {"kxResize", {A}, {}, R(kxResize(a, 15, 6, 0xFF336699))},
    {"kxTranslate", {G}, {}, R(kxTranslate(a, 1.5f, -0.25f, 0))},
    {"kxRotateEx", {C}, {}, R(kxRotateEx(a, 30.0, 0, 0))}, {"kxRotateE2", W, {}, R(kxRotateE2(a, 45.0, 0x80, 1, 1))},
    // Regression: a failed scratch allocation used to leave the destination
    // already re-typed and zeroed.
    {"kxScaleEx keeps a destination of another type on failure", {C}, {G, 7, 5}, VB(kxScaleEx(a, b, 2))},
    {"kxScale", {G}, {}, V(kxScale(a, 1.7f, 4))}, {"kxScaleE1", {C}, {}, R(kxScaleE1(a, 0.5f, 0xFF0000, 3, 1))},
    {"kxMakeSquarePixel", {G}, {}, V(kxMakeSquarePixel(a, 3, 2, 2, 0))},
    {"kxRotateE3", {C}, {}, R(kxRotateE3(a, 5.5, 4.0, 20.0, 0xFF00FF00))},
    {"kxTranslateE1", {G}, {}, R(kxTranslateE1(a, 2.0, 1.0, 0xFF))},
    // KIT_RGBA becomes KIT_RGB for good before the warp's allocations.
    {"kxTranslateE1 rgba", {A}, {}, R(kxTranslateE1(a, 2.0, 1.0, 0xFF)), kWellFormed},
    // drawing
    {"kxSetEllipse", {C}, {}, V(kxSetEllipse(a, 6, 4, 5, 3, 30.0f, 0xFF))},
    {"kxFillPolygon", {G}, {}, V(kxFillPolygon(a, kPoly, 4, 200))},
    {"kxFillPolygonE1", {G}, {}, V(kxFillPolygonE1(a, kPoly, 4, kPoly, 3, 200))},
    {"kxFillPolygonE2", {G}, {}, V(kxFillPolygonE2(a, kPoly, 4, 77, 1))}, {"kxFill", {G}, {}, R(kxFill(a, 0, 0, 99))},
    {"kxFillTextEx", {G}, {}, V(kxFillTextEx(a, "Ab\nc", 1, 1, nullptr, 8, 0xFF, 0xFFFFFF, 0)), kWellFormed},
    {"kxFillText", {C}, {}, V(kxFillText(a, "xy", 0, 0, 7, 0))},
    // vision
    {"kxWarp", {G}, {}, R(kxWarp(a, kQuad, kQuad2, nullptr))},
    {"kxWarp dest", {C}, {G, 8, 6}, R(kxWarp(a, kQuad, kQuad2, b)), kWellFormed},
    {"kxUnwarp", {G}, {G, 8, 6, true}, R(kxUnwarp(a, kQuad, b))},
    {"kxWarpEx", {G}, {}, R(kxWarpEx(a, kQuad, 4, kQuad2, 4, 1, nullptr))},
    {"kxWarpEx dest", {G}, {G}, R(kxWarpEx(a, kQuad, 4, kQuad, 4, 1, b)), kWellFormed},
    {"kxCopyPixelsE3", {G}, {C, 6, 5}, VB(kxCopyPixelsE3(a, b, kQuad)), kWellFormed},
    {"kxPyramid", {C}, {}, R(kxPyramid(a, 0, nullptr))}, {"kxPyramid in place", {G}, {}, R(kxPyramid(a, 1, a))},
    {"kxCanny", {G}, {}, R(kxCanny(a, 20, 60, 1, 3)), kWellFormed},
    {"kxScharr", {C}, {}, R(kxScharr(a, 2)), kWellFormed}, {"kxBlur", {G}, {}, R(kxBlur(a, 3, 5)), kWellFormed},
    {"kxSmoothGaussian", {C}, {}, R(kxSmoothGaussian(a, 5, 3)), kWellFormed},
    {"kxSmoothMedian", {G}, {}, R(kxSmoothMedian(a, 3)), kWellFormed},
    {"kxMorphology", {A}, {}, R(kxMorphology(a, 4, 2)), kWellFormed},
    {"kxAdaptive", {G}, {}, R(kxAdaptive(a, 1, 5)), kWellFormed},
    {"kxFloodFill", {G}, {}, V(kxFloodFill(a, 3, 3, {9, 9, 9}, kTol, kTol, 4, 0)), kWellFormed},
    {"kxFloodMask", {G}, {}, R(kxFloodMask(a, 3, 3, kTol, kTol, 8, 0, nullptr))},
    {"kxFloodMask mask", {G}, {G, 3, 3}, R(kxFloodMask(a, 3, 3, kTol, kTol, 8, 0, b)), kWellFormed},
};

class InjectedFailure : public ::testing::TestWithParam<size_t> {};

TEST_P(InjectedFailure, EverySiteInTurn)
{
    const Case &c = kCases[GetParam()];
    gInject.failAt = -1;
    gInject.calls = 0;
    std::vector<std::string> success;
    {
        Env e(c);
        e.run(c.call);
        ASSERT_EQ(e.leaked, 0u) << "allocations left after a run without failure";
        ASSERT_TRUE(e.wellFormed());
        ASSERT_TRUE(e.paddingKept());
        success = e.after;
    }
    const long sites = gInject.calls;
    RecordProperty("allocation_sites", int(sites));
    for (long k = 0; k < sites; ++k) {
        SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(sites) + " fails");
        gInject.failAt = k;
        gInject.calls = 0;
        gInject.failed = false;
        Env e(c);
        e.run(c.call);
        EXPECT_TRUE(gInject.failed) << "the site was not reached again";
        EXPECT_EQ(e.leaked, 0u) << "blocks or images left behind";
        EXPECT_TRUE(e.wellFormed());
        EXPECT_TRUE(e.paddingKept());
        if (c.judge == kAllOrNothing) {
            // The arguments' images: unchanged, or exactly the full result.
            std::vector<std::string> after = e.after, full = success;
            after.resize(e.before.size());
            full.resize(e.before.size());
            EXPECT_TRUE(after == e.before || after == full) << "a half-done result";
        }
    }
    gInject.failAt = -1;
}

INSTANTIATE_TEST_SUITE_P(Exports, InjectedFailure, ::testing::Range<size_t>(0, std::size(kCases)),
                         [](const ::testing::TestParamInfo<size_t> &info) {
                             std::string n = kCases[info.param].name;
                             for (char &ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

}  // namespace
