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
#include <functional>
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
};
Injector gInject;

template <class F>
F real(const char *name)
{
    void *p = dlsym(RTLD_NEXT, name);
    if (!p) {
        std::fprintf(stderr, "failinject: %s not found\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(p);
}

}  // namespace

#define KX_INTERPOSE extern "C" __attribute__((visibility("default")))

KX_INTERPOSE void *kxAlloc(uint64_t bytes)
{
    static auto next = real<void *(*)(uint64_t)>("kxAlloc");
    if (gInject.fail()) return nullptr;
    void *p = next(bytes);
    if (p && gInject.armed) gInject.blocks.insert(p);
    return p;
}

KX_INTERPOSE void kxFree(void *block)
{
    static auto next = real<void (*)(void *)>("kxFree");
    gInject.blocks.erase(block);
    next(block);
}

KX_INTERPOSE Image *kxCreateImageEx(int type, int w, int h, int pitch, void *data, int flags)
{
    static auto next = real<Image *(*)(int, int, int, int, void *, int)>("kxCreateImageEx");
    if (gInject.fail()) return nullptr;
    Image *im = next(type, w, h, pitch, data, flags);
    if (im && gInject.armed) gInject.images.insert(im);
    return im;
}

KX_INTERPOSE Image *kxCreateImage(int type, int w, int h)
{
    static auto next = real<Image *(*)(int, int, int)>("kxCreateImage");
    if (gInject.fail()) return nullptr;
    Image *im = next(type, w, h);
    if (im && gInject.armed) gInject.images.insert(im);
    return im;
}

KX_INTERPOSE void kxDestroyImage(Image *im)
{
    static auto next = real<void (*)(Image *)>("kxDestroyImage");
    gInject.images.erase(im);
    next(im);
}

KX_INTERPOSE Image *kxiClone(const Image *src, Image *dst)
{
    static auto next = real<Image *(*)(const Image *, Image *)>("kxiClone");
    if (gInject.fail()) return nullptr;
    Image *r = next(src, dst);
    if (r && !dst && gInject.armed) gInject.images.insert(r);
    return r;
}

KX_INTERPOSE Image *kxiCast(Image *im, int type)
{
    static auto next = real<Image *(*)(Image *, int)>("kxiCast");
    if (gInject.fail()) return nullptr;
    return next(im, type);
}

KX_INTERPOSE int kxiSetSize(Image *im, int w, int h)
{
    static auto next = real<int (*)(Image *, int, int)>("kxiSetSize");
    if (gInject.fail()) return 0;
    return next(im, w, h);
}

KX_INTERPOSE int kxiResize(Image *im, int w, int h)
{
    static auto next = real<int (*)(Image *, int, int)>("kxiResize");
    if (gInject.fail()) return 0;
    return next(im, w, h);
}

KX_INTERPOSE Mask *kxCreateMask(int shape, int w, int h)
{
    static auto next = real<Mask *(*)(int, int, int)>("kxCreateMask");
    if (gInject.fail()) return nullptr;
    Mask *m = next(shape, w, h);
    if (m && gInject.armed) gInject.images.insert(m);
    return m;
}

KX_INTERPOSE void kxDestroyMask(Mask *m)
{
    static auto next = real<void (*)(Mask *)>("kxDestroyMask");
    gInject.images.erase(m);
    next(m);
}

namespace {

constexpr size_t kGuard = 16;
constexpr uint8_t kSentinel = 0x5A;

// The images of one run: owned or wrapped over a guarded buffer.
class Env {
public:
    ~Env()
    {
        for (Image *im : images_) kxDestroyImage(im);
        for (uint8_t *b : buffers_) delete[] b;
        for (Mask *m : masks_) kxDestroyMask(m);
    }
    Image *image(int type, int w, int h, bool wrapped = false)
    {
        const int bpp = kxiBytesPerPixel(type);
        Image *im;
        if (wrapped) {
            const int pitch = w * bpp + 3;
            const size_t len = kGuard + size_t(pitch) * h + kGuard;
            auto *buf = new uint8_t[len];
            std::memset(buf, kSentinel, len);
            buffers_.push_back(buf);
            lengths_.push_back(len);
            im = kxCreateImageEx(type, w, h, pitch, buf + kGuard, 0);
        } else {
            im = kxCreateImage(type, w, h);
        }
        // A picture with edges, holes and a few levels.
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w * bpp; ++x) {
                const int v = ((x / bpp) * 37 + y * 91 + (x % bpp) * 50) % 256;
                const bool inside = x / bpp > 1 && x / bpp < w - 2 && y > 1 && y < h - 2 && (x / bpp + y) % 5;
                im->data[size_t(y) * im->pitch + x] =
                    uint8_t(type == KIT_BIN ? (inside ? 1 : 0) : (inside ? v : v / 4));
            }
        images_.push_back(im);
        return im;
    }
    Mask *mask(int shape, int w, int h)
    {
        Mask *m = kxCreateMask(shape, w, h);
        masks_.push_back(m);
        return m;
    }
    // Runs the export under injection; returns its result.
    Image *run(const std::function<Image *()> &call)
    {
        before_ = state();
        gInject.blocks.clear();
        gInject.images.clear();
        gInject.armed = true;
        Image *r = call();
        gInject.armed = false;
        result_ = r;
        bool isArgument = false;
        for (Image *im : images_) isArgument |= im == r;
        if (r && !isArgument) {
            gInject.images.erase(r);
            returned_ = true;
            images_.push_back(r);  // destroyed with the others
        }
        leaked_ = gInject.blocks.size() + gInject.images.size();
        after_ = state();
        return r;
    }

    // Record fields and pixel bytes of every image, and the bytes around
    // the pixels of wrapped ones.
    std::vector<std::string> state() const
    {
        std::vector<std::string> s;
        for (size_t i = 0; i < images_.size(); ++i) {
            const Image *im = images_[i];
            std::string t = std::to_string(im->imageType) + ' ' + std::to_string(im->width) + 'x' +
                            std::to_string(im->height) + ':';
            const size_t row = size_t(im->width) * kxiBytesPerPixel(im->imageType);
            for (int y = 0; y < im->height; ++y)
                t.append(reinterpret_cast<const char *>(im->data) + size_t(y) * im->pitch, row);
            s.push_back(t);
        }
        return s;
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
        size_t b = 0;
        for (const Image *im : images_) {
            if (!im->isVirtual) continue;
            const uint8_t *buf = buffers_[b];
            const size_t len = lengths_[b++];
            const size_t row = size_t(im->width) * kxiBytesPerPixel(im->imageType);
            for (size_t i = 0; i < len; ++i) {
                const bool pixel = i >= kGuard && i - kGuard < size_t(im->pitch) * im->height &&
                                   (i - kGuard) % size_t(im->pitch) < row;
                if (!pixel && buf[i] != kSentinel) return false;
            }
        }
        return true;
    }

    std::vector<std::string> before_, after_;
    Image *result_ = nullptr;
    bool returned_ = false;
    size_t leaked_ = 0;

private:
    std::vector<Image *> images_;
    std::vector<uint8_t *> buffers_;
    std::vector<size_t> lengths_;
    std::vector<Mask *> masks_;
};

// How strictly a failed run's images are judged.
enum Judge {
    kAllOrNothing,  // the input unchanged, or the full result
    kWellFormed,    // a partial result or an early conversion is documented
};

struct Case {
    const char *name;
    std::function<void(Env &)> run;
    Judge judge = kAllOrNothing;
};

const float kQuad[8] = {1, 1, 8.5f, 0.5f, 9, 6, 0.5f, 7};
const float kQuad2[8] = {0, 0, 11, 0, 11, 8, 0, 8};
const int kPoly[8] = {1, 1, 9, 2, 7, 8, 2, 6};

std::vector<Case> cases()
{
    const int G = KIT_GRAY, B = KIT_BIN, C = KIT_RGB, A = KIT_RGBA;
    auto one = [](int type, std::function<Image *(Image *)> f, bool wrapped = false) {
        return [type, f, wrapped](Env &e) {
            Image *im = e.image(type, 12, 9, wrapped);
            e.run([&] { return f(im); });
        };
    };
    std::vector<Case> v = {
        // pixel and channel operations
        {"kxSetPixelEx", one(C, [](Image *im) { kxSetPixelEx(im, 0x123456, nullptr, 0); return im; })},
        {"kxPixelMergeE1",
         [](Env &e) {
             Image *a = e.image(G, 12, 9), *b = e.image(G, 10, 7, true);
             e.run([&] { return kxPixelMergeE1(a, b, 4, 1.5f, 2.0f); });
         }},
        {"kxCopyPixels",
         [](Env &e) {
             Image *a = e.image(C, 12, 9), *b = e.image(C, 10, 7, true);
             e.run([&] { kxCopyPixels(a, 1, 1, 0, 0, b, 2, 1, 0, 0); return b; });
         }},
        {"kxClip", one(C, [](Image *im) { return kxClip(im, -2, 1, 7, 12); })},
        {"kxReplaceChannel",
         [](Env &e) {
             Image *a = e.image(A, 12, 9), *b = e.image(G, 12, 9);
             e.run([&] { return kxReplaceChannel(a, b, 5); });
         }},
        // thresholding
        {"kxbOtsu", one(G, [](Image *im) { return kxbOtsu(im, nullptr); })},
        {"kxbIsoData", one(G, [](Image *im) { return kxbIsoData(im, 10, 3); })},
        {"kxbMaxEntropy", one(G, [](Image *im) { return kxbMaxEntropy(im); })},
        {"kxbMinErrorE1",
         [](Env &e) {
             Image *a = e.image(G, 12, 9), *m = e.image(B, 12, 9);
             e.run([&] { return kxbMinErrorE1(a, m, 1); });
         }},
        {"kxbMultiLevel", one(G, [](Image *im) { return kxbMultiLevel(im, 4); })},
        {"kxbLocalIntegral", one(G, [](Image *im) { return kxbLocalIntegral(im, 5, 128, 0.3f); }, true)},
        {"kxThreshold", one(G, [](Image *im) { return kxThreshold(im, 16, 5, 128, 0.2); })},
        // filtering
        {"kxSobel", one(G, [](Image *im) { return kxSobel(im, 0); }, true)},
        {"kxPrewitt", one(B, [](Image *im) { return kxPrewitt(im, 1); })},
        {"kxKirsch", one(G, [](Image *im) { return kxKirsch(im, 2); })},
        {"kxLaPlacian", one(G, [](Image *im) { return kxLaPlacian(im); })},
        {"kxSharp1541", one(G, [](Image *im) { return kxSharp1541(im); })},
        {"kxDiffSecond", one(G, [](Image *im) { return kxDiffSecond(im, 0); })},
        {"kxRoberts", one(G, [](Image *im) { return kxRoberts(im); })},
        {"kxDiffFirst", one(G, [](Image *im) { return kxDiffFirst(im, 0); })},
        {"kxGradient", one(G, [](Image *im) { return kxGradient(im, 0, 2); })},
        {"kxDetectEdge", one(G, [](Image *im) { return kxDetectEdge(im, 0, 0, 0.0f, nullptr); }, true)},
        {"kxSmoothAvg", one(C, [](Image *im) { return kxSmoothAvg(im, 3); })},
        {"kxMedian", one(G, [](Image *im) { return kxMedian(im, 5); }, true)},
        {"kxNormalize", one(G, [](Image *im) { return kxNormalize(im, 100.0f, 400.0f); })},
        {"kxEqualize", one(G, [](Image *im) { return kxEqualize(im); })},
        {"kxContrast", one(G, [](Image *im) { return kxContrast(im, 0.1f, 0.8f); })},
        {"kxExpand", one(G, [](Image *im) { return kxExpand(im); })},
        {"kxLinear", one(B, [](Image *im) { return kxLinear(im, 2.0f, 3.0f); })},
        {"kxIncreaseLum", one(C, [](Image *im) { return kxIncreaseLum(im); }, true)},
        // binary
        {"kxThinning", one(B, [](Image *im) { kxThinning(im); return im; })},
        {"kxSkeleton", one(B, [](Image *im) { return kxSkeleton(im, 0); })},
        {"kxFillHole", one(B, [](Image *im) { kxFillHole(im); return im; })},
        {"kxFillHoleEx",
         [](Env &e) {
             Image *a = e.image(B, 12, 9), *m = e.image(G, 12, 9, true);
             e.run([&] { kxFillHoleEx(a, m); return a; });
         }},
        {"kxRemoveBorder", one(B, [](Image *im) { kxRemoveBorder(im); return im; })},
        {"kxRemoveBorderEx",
         [](Env &e) {
             Image *a = e.image(B, 12, 9), *m = e.image(B, 12, 9);
             e.run([&] { kxRemoveBorderEx(a, m); return a; });
         }},
        {"kxRetrieveEdge", one(B, [](Image *im) { kxRetrieveEdge(im, 0, 0); return im; })},
        {"kxRetrieveEdgeE1",
         [](Env &e) {
             Image *a = e.image(B, 12, 9), *d = e.image(G, 5, 5);
             e.run([&] { return kxRetrieveEdgeE1(a, 1, d); });
         }},
        {"kxErode", one(G, [](Image *im) { return kxErode(im, nullptr); })},
        {"kxDilate",
         [](Env &e) {
             Image *a = e.image(B, 12, 9, true);
             Mask *m = e.mask(KXM_ELLIPSE, 5, 3);
             e.run([&] { return kxDilate(a, m); });
         }},
        {"kxDilateE1", one(B, [](Image *im) { return kxDilateE1(im, 2); })},
        {"kxErodeE1", one(B, [](Image *im) { return kxErodeE1(im, 2); })},
        {"kxEclose", one(B, [](Image *im) { kxEclose(im, 3); return im; }, true)},
        // geometry
        {"kxRotate", one(C, [](Image *im) { return kxRotate(im, 1); })},
        {"kxFlip", one(C, [](Image *im) { return kxFlip(im, 1); })},
        {"kxResize", one(A, [](Image *im) { return kxResize(im, 15, 6, 0xFF336699); })},
        {"kxTranslate", one(G, [](Image *im) { return kxTranslate(im, 1.5f, -0.25f, 0); })},
        {"kxRotateEx", one(C, [](Image *im) { return kxRotateEx(im, 30.0, 0, 0); })},
        {"kxRotateE2", one(G, [](Image *im) { return kxRotateE2(im, 45.0, 0x80, 1, 1); }, true)},
        // Regression: a failed scratch allocation used to leave the
        // destination already re-typed and zeroed.
        {"kxScaleEx keeps a destination of another type on failure",
         [](Env &e) {
             Image *a = e.image(C, 12, 9), *d = e.image(G, 7, 5);
             e.run([&] { kxScaleEx(a, d, 2); return d; });
         }},
        {"kxScale", one(G, [](Image *im) { kxScale(im, 1.7f, 4); return im; })},
        {"kxScaleE1", one(C, [](Image *im) { return kxScaleE1(im, 0.5f, 0xFF0000, 3, 1); })},
        {"kxMakeSquarePixel", one(G, [](Image *im) { kxMakeSquarePixel(im, 3, 2, 2, 0); return im; })},
        {"kxRotateE3", one(C, [](Image *im) { return kxRotateE3(im, 5.5, 4.0, 20.0, 0xFF00FF00); })},
        {"kxTranslateE1", one(G, [](Image *im) { return kxTranslateE1(im, 2.0, 1.0, 0xFF); })},
        // KIT_RGBA becomes KIT_RGB for good before the warp's allocations.
        {"kxTranslateE1 rgba", one(A, [](Image *im) { return kxTranslateE1(im, 2.0, 1.0, 0xFF); }), kWellFormed},
        // drawing
        {"kxSetEllipse", one(C, [](Image *im) { kxSetEllipse(im, 6, 4, 5, 3, 30.0f, 0xFF); return im; })},
        {"kxFillPolygon", one(G, [](Image *im) { kxFillPolygon(im, kPoly, 4, 200); return im; })},
        {"kxFillPolygonE1",
         one(G, [](Image *im) { kxFillPolygonE1(im, kPoly, 4, kPoly, 3, 200); return im; })},
        {"kxFillPolygonE2", one(G, [](Image *im) { kxFillPolygonE2(im, kPoly, 4, 77, 1); return im; })},
        {"kxFill", one(G, [](Image *im) { return kxFill(im, 0, 0, 99); })},
        {"kxFillTextEx",
         one(G, [](Image *im) { kxFillTextEx(im, "Ab\nc", 1, 1, nullptr, 8, 0xFF, 0xFFFFFF, 0); return im; }),
         kWellFormed},
        {"kxFillText", one(C, [](Image *im) { kxFillText(im, "xy", 0, 0, 7, 0); return im; })},
        // vision
        {"kxWarp",
         [](Env &e) {
             Image *a = e.image(G, 12, 9);
             e.run([&] { return kxWarp(a, kQuad, kQuad2, nullptr); });
         }},
        {"kxWarp dest",
         [](Env &e) {
             Image *a = e.image(C, 12, 9), *d = e.image(G, 8, 6);
             e.run([&] { return kxWarp(a, kQuad, kQuad2, d); });
         },
         kWellFormed},
        {"kxUnwarp",
         [](Env &e) {
             Image *a = e.image(G, 12, 9), *d = e.image(G, 8, 6, true);
             e.run([&] { return kxUnwarp(a, kQuad, d); });
         }},
        {"kxWarpEx",
         [](Env &e) {
             Image *a = e.image(G, 12, 9);
             e.run([&] { return kxWarpEx(a, kQuad, 4, kQuad2, 4, 1, nullptr); });
         }},
        {"kxWarpEx dest",
         [](Env &e) {
             Image *a = e.image(G, 12, 9), *d = e.image(G, 12, 9);
             e.run([&] { return kxWarpEx(a, kQuad, 4, kQuad, 4, 1, d); });
         },
         kWellFormed},
        {"kxCopyPixelsE3",
         [](Env &e) {
             Image *a = e.image(G, 12, 9), *d = e.image(C, 6, 5);
             e.run([&] { kxCopyPixelsE3(a, d, kQuad); return d; });
         },
         kWellFormed},
        {"kxPyramid", one(C, [](Image *im) { return kxPyramid(im, 0, nullptr); })},
        {"kxPyramid in place", one(G, [](Image *im) { return kxPyramid(im, 1, im); })},
        {"kxCanny", one(G, [](Image *im) { return kxCanny(im, 20, 60, 1, 3); }), kWellFormed},
        {"kxScharr", one(C, [](Image *im) { return kxScharr(im, 2); }), kWellFormed},
        {"kxBlur", one(G, [](Image *im) { return kxBlur(im, 3, 5); }), kWellFormed},
        {"kxSmoothGaussian", one(C, [](Image *im) { return kxSmoothGaussian(im, 5, 3); }), kWellFormed},
        {"kxSmoothMedian", one(G, [](Image *im) { return kxSmoothMedian(im, 3); }), kWellFormed},
        {"kxMorphology", one(A, [](Image *im) { return kxMorphology(im, 4, 2); }), kWellFormed},
        {"kxAdaptive", one(G, [](Image *im) { return kxAdaptive(im, 1, 5); }), kWellFormed},
        {"kxFloodFill",
         one(G, [](Image *im) { kxFloodFill(im, 3, 3, {9, 9, 9}, {{5, 5, 5, 5}}, {{5, 5, 5, 5}}, 4, 0); return im; }),
         kWellFormed},
        {"kxFloodMask",
         [](Env &e) {
             Image *a = e.image(G, 12, 9);
             e.run([&] { return kxFloodMask(a, 3, 3, {{5, 5, 5, 5}}, {{5, 5, 5, 5}}, 8, 0, nullptr); });
         }},
        {"kxFloodMask mask",
         [](Env &e) {
             Image *a = e.image(G, 12, 9), *m = e.image(G, 3, 3);
             e.run([&] { return kxFloodMask(a, 3, 3, {{5, 5, 5, 5}}, {{5, 5, 5, 5}}, 8, 0, m); });
         },
         kWellFormed},
    };
    return v;
}

class InjectedFailure : public ::testing::TestWithParam<size_t> {};

TEST_P(InjectedFailure, EverySiteInTurn)
{
    static const std::vector<Case> all = cases();
    const Case &c = all[GetParam()];
    SCOPED_TRACE(c.name);

    gInject.failAt = -1;
    gInject.calls = 0;
    gInject.failed = false;
    std::vector<std::string> success;
    {
        Env e;
        c.run(e);
        ASSERT_EQ(e.leaked_, 0u) << "allocations left after a run without failure";
        ASSERT_TRUE(e.wellFormed());
        ASSERT_TRUE(e.paddingKept());
        success = e.after_;
    }
    const long sites = gInject.calls;
    RecordProperty("allocation_sites", int(sites));
    for (long k = 0; k < sites; ++k) {
        SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(sites) + " fails");
        gInject.failAt = k;
        gInject.calls = 0;
        gInject.failed = false;
        Env e;
        c.run(e);
        EXPECT_TRUE(gInject.failed) << "the site was not reached again";
        EXPECT_EQ(e.leaked_, 0u) << "blocks or images left behind";
        EXPECT_TRUE(e.wellFormed());
        EXPECT_TRUE(e.paddingKept());
        if (c.judge == kAllOrNothing) {
            // The arguments' images: unchanged, or exactly the full result.
            std::vector<std::string> after = e.after_;
            std::vector<std::string> full = success;
            after.resize(e.before_.size());
            full.resize(e.before_.size());
            EXPECT_TRUE(after == e.before_ || after == full) << "a half-done result";
        }
    }
    gInject.failAt = -1;
}

std::string caseName(const ::testing::TestParamInfo<size_t> &info)
{
    static const std::vector<Case> all = cases();
    std::string n = all[info.param].name;
    for (char &ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Exports, InjectedFailure, ::testing::Range<size_t>(0, cases().size()), caseName);

}  // namespace
