// Fuzz harness over every export of libkxpre.
//
// The input bytes choose one export and decode its arguments: images of any
// type and a small size, owned or wrapped over a buffer with row padding and
// guard bytes, now and then an unusable record; integers, floats and doubles
// from small values, extremes, NaN and infinities; masks and destinations of
// other sizes and types; optional pointers null or not (required ones never
// null).  After the call it checks that
//   - no byte of a wrapped image's buffer outside its pixels changed (the
//     guard bytes around it and the row padding),
//   - read-only inputs are unchanged (record and pixels),
//   - a usable record is still usable (and a wrapped one still wraps the
//     same memory), an unusable one is untouched,
//   - an Image returned is one of the arguments, null, or (where an export
//     may create one) a new well-formed image.
// AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer watch the
// rest.  Arguments that only make a call slow (sizes of results, repeat
// counts) are bounded so that an execution stays short; the limits are in
// docs/reliability.md.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include <sanitizer/common_interface_defs.h>

#include "frame/frame.hpp"
#include "kxmask.h"
#include "kxpre.h"

namespace {

[[noreturn]] void fail(const char *what, int op)
{
    // Through the sanitizers' report channel: libFuzzer's -close_fd_mask=2
    // closes stderr.
    char text[160];
    std::snprintf(text, sizeof text, "kxfuzz_exports: %s (operation %d)", what, op);
    __sanitizer_report_error_summary(text);
    std::abort();
}

void printRecord(const char *when, const Image &r)
{
    std::fprintf(stderr, "%s: type %d imageType %d %dx%d pitch %d size %u data %p virtual %d\n", when, r.type,
                 r.imageType, r.width, r.height, r.pitch, r.size, static_cast<void *>(r.data), r.isVirtual);
}

// ---- input decoding ---------------------------------------------------------

class Input {
public:
    Input(const uint8_t *p, size_t n) : p_(p), n_(n) {}
    uint8_t u8() { return i_ < n_ ? p_[i_++] : 0; }
    uint32_t u32()
    {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) v = v << 8 | u8();
        return v;
    }
    bool flag(int oneIn) { return u8() % oneIn == 0; }

    // An int: small values, coordinates, extremes or raw bits.
    int arg()
    {
        static const int table[] = {0,     1,     -1,      2,       3,       4,       5,        7,
                                    8,     -2,    255,     256,     -256,    1000,    4095,     4096,
                                    16383, 16384, 16385,   32767,   65535,   1 << 20, INT32_MAX, INT32_MIN,
                                    -1000, 9,     INT32_MAX - 1, INT32_MIN + 1, 1 << 30, -(1 << 30), 2097151, 2097152};
        const uint8_t mode = u8();
        switch (mode % 8) {
        case 0:
        case 1:
        case 2: return int(u8() % 32) - 8;
        case 3: return int(u8() % 24);
        case 4:
        case 5: return table[u8() % (sizeof table / sizeof *table)];
        case 6: return int(u32());
        default: return -int(u8() % 20);
        }
    }
    // A non-negative small int, at most `bound`, with the extremes now and then.
    int small(int bound) { return int(u8()) % (bound + 1); }

    float real()
    {
        static const float table[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 2.0f,
                                      std::numeric_limits<float>::quiet_NaN(),
                                      std::numeric_limits<float>::infinity(),
                                      -std::numeric_limits<float>::infinity(),
                                      std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
                                      std::numeric_limits<float>::min(), std::numeric_limits<float>::denorm_min(),
                                      1e9f, -1e9f, 255.0f, 128.0f, 0.1f, 2147483648.0f, -2147483904.0f, 256.0f,
                                      0.999f, 1.5f, 45.0f, 90.0f, 180.0f, -90.0f, 1e-7f};
        const uint8_t mode = u8();
        switch (mode % 6) {
        case 0:
        case 1:
        case 2: return float(int8_t(u8())) / 8.0f;
        case 3:
        case 4: return table[u8() % (sizeof table / sizeof *table)];
        default: {
            const uint32_t bits = u32();
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
        }
    }
    double realD()
    {
        const uint8_t mode = u8();
        if (mode % 4 == 3) {
            uint64_t bits = uint64_t(u32()) << 32 | u32();
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return d;
        }
        if (mode % 4 == 2) {
            static const double table[] = {1e300, -1e300, std::numeric_limits<double>::max(),
                                           std::numeric_limits<double>::denorm_min(), 1e15, -1e15, 0.5, 359.999};
            return table[u8() % (sizeof table / sizeof *table)];
        }
        return double(real());
    }
    uint32_t colour()
    {
        static const uint32_t table[] = {0, 1, 255, 256, 0x1FF, 0xFFFFFFFF, 0xFF000000, 0x00FFFFFF, 0x80808080,
                                         0xFF102030};
        return u8() % 2 ? table[u8() % (sizeof table / sizeof *table)] : u32();
    }

private:
    const uint8_t *p_;
    size_t n_;
    size_t i_ = 0;
};

// ---- images under watch ---------------------------------------------------------

constexpr size_t kGuard = 32;
constexpr uint8_t kSentinel = 0xA5;

int bppOf(int type) { return kxiBytesPerPixel(type); }

struct Slot {
    Image *im = nullptr;
    uint8_t *buf = nullptr;  // wrapped image: guard, rows, guard
    size_t bufLen = 0;
    uint8_t *savedData = nullptr;  // the record's data before a corruption nulled it
    Image rec{};                   // the record before the call
    bool usable = false;
    bool readOnly = false;
    bool aliased = false;
    std::vector<uint8_t> bufSnap;
    std::vector<uint8_t> pixSnap;
};

class Images {
public:
    explicit Images(Input &in) : in_(in) {}
    ~Images()
    {
        for (Slot &s : slots_) {
            if (s.savedData) s.im->data = s.savedData;
            kxDestroyImage(s.im);
            std::free(s.buf);
        }
        for (Mask *m : masks_) kxDestroyMask(m);
    }

    // A new image; `hint` is the type an operation works on (0: any).
    Image *make(int hint, bool readOnly = false)
    {
        static const int types[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};
        const uint8_t t = in_.u8();
        if (bppOf(hint) == 0) hint = 0;  // the type of an unusable record
        int type = t % 8 < 4 && hint ? hint : types[t % 4];
        int w = 1 + in_.u8() % 16, h = 1 + in_.u8() % 16;
        if (in_.flag(8)) {  // wide: row remainders of blocked loops
            w = 1 + in_.u8() % 80;
            h = 1 + in_.u8() % 4;
        }
        const uint8_t how = in_.u8();
        const bool wrapped = how % 2;
        const int pad = (how >> 1) % 5;
        const int pitch = w * bppOf(type) + pad;
        Slot s;
        if (wrapped) {
            s.bufLen = kGuard + size_t(pitch) * h + kGuard;
            s.buf = static_cast<uint8_t *>(std::malloc(s.bufLen));
            std::memset(s.buf, kSentinel, s.bufLen);
            s.im = kxCreateImageEx(type, w, h, pitch, s.buf + kGuard, 0);
        } else {
            s.im = kxCreateImageEx(type, w, h, pad ? pitch : 0, nullptr, 0);
        }
        if (!s.im) fail("image creation", -1);
        fill(s.im, type);
        if ((how >> 4) == 15) corrupt(s);
        s.readOnly = readOnly;
        snapshot(s);
        slots_.push_back(s);
        return slots_.back().im;
    }
    Image *maybe(int hint, bool readOnly = false) { return in_.flag(4) ? nullptr : make(hint, readOnly); }
    // An image already made, or a new one.
    Image *other(int hint, bool readOnly)
    {
        if (!slots_.empty() && in_.flag(16)) {
            Slot &s = slots_[0];
            s.aliased = true;
            return s.im;
        }
        return make(hint, readOnly);
    }
    Mask *mask()
    {
        if (in_.flag(5)) return nullptr;
        Mask *m = kxCreateMask(1 + in_.u8() % 3, 1 + in_.u8() % 7, 1 + in_.u8() % 7);
        if (!m) return nullptr;
        if (in_.flag(8)) {
            m->anchorX = in_.arg();
            m->anchorY = in_.arg();
        }
        masks_.push_back(m);
        maskSnaps_.push_back(copyMask(m));
        return m;
    }

    void check(int op)
    {
        for (Slot &s : slots_) checkSlot(s, op);
        for (size_t i = 0; i < masks_.size(); ++i)
            if (copyMask(masks_[i]) != maskSnaps_[i]) fail("structuring element changed", op);
    }

    bool owns(const Image *im) const
    {
        for (const Slot &s : slots_)
            if (s.im == im) return true;
        return false;
    }

private:
    static void snapshot(Slot &s)
    {
        s.rec = *s.im;
        s.usable = kx::typeOk(s.im);
        if (s.buf) s.bufSnap.assign(s.buf, s.buf + s.bufLen);
        if (s.readOnly && s.usable) s.pixSnap = pixels(s.im);
    }

    void fill(Image *im, int type)
    {
        const uint8_t mode = in_.u8();
        uint32_t x = in_.u32() | 1;
        const size_t n = kx::rowBytes(im);
        for (int y = 0; y < im->height; ++y) {
            uint8_t *r = kx::row(im, y);
            for (size_t i = 0; i < n; ++i) {
                x ^= x << 13;
                x ^= x >> 17;
                x ^= x << 5;
                switch (mode % 4) {
                case 0: r[i] = uint8_t(x); break;
                case 1: r[i] = uint8_t(x >> 7) & 1; break;
                case 2: r[i] = uint8_t(mode); break;
                default: r[i] = (x >> 9) % 5 ? uint8_t(mode) : uint8_t(x); break;
                }
                if (type == KIT_BIN && mode % 8 < 6) r[i] &= 1;
            }
        }
    }

    // Breaks the record so that no operation may use it.
    void corrupt(Slot &s)
    {
        Image *im = s.im;
        const Image saved = *im;
        switch (in_.u8() % 8) {
        case 0: im->imageType = 16; break;
        case 1: im->imageType = 0; break;
        case 2: im->type = im->type == 0 ? 16 : 0; break;
        case 3: im->pitch = im->width * bppOf(im->imageType) - 1; break;
        case 4: im->width = 0; break;
        case 5: im->height = -3; break;
        case 6:
            s.savedData = im->data;
            im->data = nullptr;
            break;
        default: im->width = 1 << 20; break;
        }
        if (kx::typeOk(im)) {  // still a usable layout: keep the original
            *im = saved;
            s.savedData = nullptr;
        }
    }

    static std::vector<uint8_t> pixels(const Image *im)
    {
        std::vector<uint8_t> v;
        const size_t n = kx::rowBytes(im);
        for (int y = 0; y < im->height; ++y) v.insert(v.end(), kx::row(im, y), kx::row(im, y) + n);
        return v;
    }
    static std::vector<uint8_t> copyMask(const Mask *m)
    {
        std::vector<uint8_t> v(reinterpret_cast<const uint8_t *>(m), reinterpret_cast<const uint8_t *>(m + 1));
        v.insert(v.end(), m->data, m->data + size_t(m->pitch) * m->height);
        return v;
    }

    void checkSlot(Slot &s, int op)
    {
        const Image *im = s.im;
        if (im->magic != KXI_MAGIC) fail("magic overwritten", op);
        if (!s.usable) {
            if (std::memcmp(im, &s.rec, sizeof *im) != 0) {
                printRecord("before", s.rec);
                printRecord("after", *im);
                fail("unusable record changed", op);
            }
            if (s.buf && std::memcmp(s.buf, s.bufSnap.data(), s.bufLen) != 0) fail("unusable image written", op);
            return;
        }
        if (!kx::typeOk(im)) fail("record no longer well formed", op);
        if (im->size != uint32_t(im->pitch) * uint32_t(im->height)) fail("size disagrees with pitch * height", op);
        if (s.buf) {
            if (!im->isVirtual || im->data != s.rec.data || im->pitch != s.rec.pitch || im->width != s.rec.width ||
                im->height != s.rec.height || bppOf(im->imageType) != bppOf(s.rec.imageType))
                fail("wrapped image re-shaped", op);
            const size_t rowLen = size_t(im->width) * bppOf(im->imageType);
            for (size_t i = 0; i < s.bufLen; ++i) {
                bool pixel = false;
                if (i >= kGuard) {
                    const size_t off = i - kGuard;
                    pixel = off < size_t(im->pitch) * im->height && off % size_t(im->pitch) < rowLen;
                }
                if (!pixel && s.buf[i] != s.bufSnap[i]) fail("byte outside the pixels written", op);
            }
        } else {
            if (im->isVirtual) fail("owned image turned virtual", op);
            if (uint32_t(im->capacity) < im->size) fail("capacity below size", op);
        }
        if (s.readOnly && !s.aliased) {
            if (std::memcmp(im, &s.rec, sizeof *im) != 0) fail("read-only record changed", op);
            if (pixels(im) != s.pixSnap) fail("read-only image changed", op);
        }
    }

    Input &in_;
    std::vector<Slot> slots_;
    std::vector<Mask *> masks_;
    std::vector<std::vector<uint8_t>> maskSnaps_;
};

// A point list of `count` (x, y) pairs near an image of side `side`, with
// extremes now and then.
std::vector<int> points(Input &in, int count, int side)
{
    std::vector<int> v(size_t(count > 0 ? count : 0) * 2 + (count > 0 ? 0 : 1));
    for (size_t i = 0; i < size_t(count > 0 ? count : 0) * 2; ++i)
        v[i] = in.flag(6) ? in.arg() : int(in.u8() % (side + 8)) - 4;
    return v;
}
std::vector<float> fpoints(Input &in, int count, int side)
{
    std::vector<float> v(size_t(count > 0 ? count : 0) * 2 + (count > 0 ? 0 : 1));
    for (size_t i = 0; i < size_t(count > 0 ? count : 0) * 2; ++i)
        v[i] = in.flag(6) ? in.real() : float(int(in.u8() % (2 * side + 16)) - 8) * 0.5f;
    return v;
}
FloodRecord tolerance(Input &in)
{
    FloodRecord r;
    for (double &d : r.val) d = in.flag(4) ? in.realD() : double(in.u8() % 40);
    return r;
}

// Side of an image for point lists.
int sideOf(const Image *im) { return im ? std::max(im->width, im->height) : 16; }

// Result sides above this make an execution slow (the whole result is
// written); such inputs are skipped.
constexpr int64_t kMaxResultPixels = 1 << 14;

int64_t scaledSide(int side, float factor)
{
    const long double v = (long double)side * factor + 0.5L;
    if (!(v < 1e9L && v > -1e9L)) return 16384;
    int64_t s = int64_t(v);
    return s < 2 ? 2 : s > 16384 ? 16384 : s;
}

int clampRepeat(int n, int bound) { return n > bound ? n % (bound + 1) : n; }

// kxbMultiLevel's search grows steeply with the class count (up to a second
// per call in this instrumented build): accepted counts stay at most 8,
// refused ones (below 2, above 256) pass as they are.
int levels(int n) { return n > 8 && n <= 256 ? 2 + n % 7 : n; }

constexpr int kExports = 119;

// Runs one call; returns the Image it returned (or null).  *mayCreate is set
// when the export may hand back a new image.
Image *call(int op, Input &in, Images &ims, bool *mayCreate, bool *skip)
{
    *mayCreate = false;
    Image *a = nullptr;
    switch (op) {
    // ---- pixel access and combination
    case 0: a = ims.make(0, true); (void)kxGetPixel(a, in.arg(), in.arg()); return nullptr;
    case 1: a = ims.make(0, true); (void)kxGetPixelE1(a, in.arg(), in.arg(), in.arg()); return nullptr;
    case 2: a = ims.make(0); kxSetPixel(a, in.arg(), in.arg(), in.colour()); return nullptr;
    case 3: {
        a = ims.make(0);
        const int count = in.arg() % 40;
        std::vector<int> p = points(in, count, sideOf(a));
        kxSetPixelE1(a, in.flag(8) ? nullptr : p.data(), count, in.arg(), in.arg(), in.colour());
        return nullptr;
    }
    case 4: a = ims.make(0); kxSetPixelEx(a, in.colour(), ims.maybe(0, true), in.arg()); return nullptr;
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
    case 14: {
        Image *src = ims.make(0, true);
        Image *dst = ims.other(src->imageType, false);
        switch (op) {
        case 5: return kxPixelAdd(src, dst);
        case 6: return kxPixelSubtract(src, dst);
        case 7: return kxPixelLarge(src, dst);
        case 8: return kxPixelSmall(src, dst);
        case 9: return kxPixelAnd(src, dst);
        case 10: return kxPixelOr(src, dst);
        case 11: return kxPixelXor(src, dst);
        case 12: return kxPixelCopy(src, dst);
        case 13: return kxPixelDiff(src, dst);
        default: return kxPixelMerge(src, dst, in.flag(4) ? in.arg() : 1203 + in.u8() % 11);
        }
    }
    case 15: {
        Image *dst = ims.make(0);
        Image *src = ims.other(dst->imageType, true);
        return kxPixelMergeE1(dst, src, in.arg() % 12, in.real(), in.real());
    }
    case 16: return kxInvert(ims.make(0));
    case 17: {
        Image *src = ims.make(0, true);
        const int sx = in.arg(), sy = in.arg(), sw = in.arg(), sh = in.arg();
        Image *dst = ims.other(src->imageType, false);
        kxCopyPixels(src, sx, sy, sw, sh, dst, in.arg(), in.arg(), in.arg(), in.arg());
        return nullptr;
    }
    case 18: {
        Image *src = ims.make(0, true);
        Image *dst = ims.other(src->imageType, false);
        kxCopyPixelsE2(src, dst, in.arg(), in.arg(), ims.maybe(KIT_GRAY, true));
        return nullptr;
    }
    case 19: {
        a = ims.make(KIT_RGB);
        return kxReplaceChannel(a, ims.other(KIT_GRAY, true), in.arg());
    }
    case 20: a = ims.make(0); kxReplacePixels(a, in.colour(), in.colour(), ims.maybe(KIT_GRAY, true)); return nullptr;
    case 21: {
        a = ims.make(0);
        const int l = in.arg(), t = in.arg(), r = in.arg(), b = in.arg();
        if ((int64_t(r) - l + 1) * (int64_t(b) - t + 1) > kMaxResultPixels && r >= l && b >= t) {
            *skip = true;
            return nullptr;
        }
        return kxClip(a, l, t, r, b);
    }
    // ---- thresholding
    case 22: return kxbSimple(ims.make(KIT_GRAY), in.u8(), in.arg());
    case 23: return kxbDark(ims.make(KIT_GRAY), in.u8(), in.u8(), in.arg());
    case 24: return kxbLight(ims.make(KIT_GRAY), in.u8(), in.u8(), in.arg());
    case 25: return kxbInner(ims.make(KIT_GRAY), in.u8(), in.u8(), in.u8(), in.arg());
    case 26: return kxbOuter(ims.make(KIT_GRAY), in.u8(), in.u8(), in.u8(), in.arg());
    case 27: a = ims.make(KIT_GRAY); return kxbOtsu(a, ims.maybe(KIT_GRAY, true));
    case 28: return kxbIsoData(ims.make(KIT_GRAY), clampRepeat(in.arg(), 1000), in.arg());
    case 29: return kxbMaxEntropy(ims.make(KIT_GRAY));
    case 30: return kxbMinError(ims.make(KIT_GRAY), in.arg());
    case 31: a = ims.make(KIT_GRAY); return kxbMinErrorE1(a, ims.maybe(KIT_GRAY, true), in.arg());
    case 32: (void)kxbGetOptima(ims.make(KIT_GRAY, true), in.arg()); return nullptr;
    case 33: a = ims.make(KIT_GRAY, true); (void)kxbGetOptimaE1(a, ims.maybe(KIT_GRAY, true), in.arg()); return nullptr;
    case 34: return kxbMultiLevel(ims.make(KIT_GRAY), levels(in.arg()));
    case 35: return kxbLocalIntegral(ims.make(KIT_GRAY), in.arg(), in.u8(), in.real());
    case 36: {
        a = ims.make(KIT_GRAY);
        const int method = in.flag(3) ? in.arg() : in.u8() % 22;
        int p1 = in.arg();
        if (method == 19) p1 = clampRepeat(p1, 1000);
        if (method == 17) p1 = levels(p1);
        return kxThreshold(a, method, p1, in.arg(), in.realD());
    }
    // ---- filtering
    case 37: {
        int dummy = 0;
        return kxFilter(ims.maybe(0), in.flag(2) ? nullptr : &dummy);
    }
    case 38: return kxSobel(ims.make(KIT_GRAY), in.arg());
    case 39: return kxPrewitt(ims.make(KIT_GRAY), in.arg());
    case 40: return kxKirsch(ims.make(KIT_GRAY), in.arg());
    case 41: return kxLaPlacian(ims.make(KIT_GRAY));
    case 42: return kxSharp1541(ims.make(KIT_GRAY));
    case 43: return kxDiffFirst(ims.make(KIT_GRAY), in.arg());
    case 44: return kxDiffSecond(ims.make(KIT_GRAY), in.arg());
    case 45: return kxRoberts(ims.make(KIT_GRAY));
    case 46: return kxGradient(ims.make(KIT_GRAY), in.arg(), in.arg());
    case 47: {
        a = ims.make(KIT_GRAY);
        const int method = in.flag(4) ? in.arg() : 0;
        const int direction = in.arg();
        const float threshold = in.real();
        return kxDetectEdge(a, method, direction, threshold, ims.maybe(KIT_GRAY, true));
    }
    case 48: return kxSmoothAvg(ims.make(KIT_GRAY), in.arg());
    case 49: return kxMedian(ims.make(KIT_GRAY), in.arg());
    case 50: return kxNormalize(ims.make(KIT_GRAY), in.real(), in.real());
    case 51: return kxEqualize(ims.make(KIT_GRAY));
    case 52: return kxContrast(ims.make(KIT_GRAY), in.real(), in.real());
    case 53: return kxLinear(ims.make(0), in.real(), in.real());
    case 54: return kxLinearEx(ims.make(KIT_RGB), in.arg(), in.real(), in.real());
    case 55: return kxIncreaseLum(ims.make(KIT_RGB));
    case 56: return kxExpand(ims.make(KIT_GRAY));
    // ---- binary
    case 57: kxThinning(ims.make(KIT_BIN)); return nullptr;
    case 58: return kxSkeleton(ims.make(KIT_BIN), in.arg());
    case 59: kxFillHole(ims.make(KIT_BIN)); return nullptr;
    case 60: a = ims.make(KIT_BIN); kxFillHoleEx(a, ims.maybe(KIT_BIN, true)); return nullptr;
    case 61: kxRemoveBorder(ims.make(KIT_BIN)); return nullptr;
    case 62: a = ims.make(KIT_BIN); kxRemoveBorderEx(a, ims.maybe(KIT_BIN, true)); return nullptr;
    case 63: (void)kxRetrieveEdge(ims.make(KIT_BIN), in.arg(), in.arg()); return nullptr;
    case 64: {
        a = ims.make(KIT_BIN);
        const int mode = in.arg();
        Image *dst = in.flag(3) ? nullptr : ims.other(KIT_BIN, false);
        return kxRetrieveEdgeE1(a, mode, dst);
    }
    case 65: kxCutMargin(ims.make(0), in.arg()); return nullptr;
    case 66: a = ims.make(KIT_BIN); return kxErode(a, ims.mask());
    case 67: a = ims.make(KIT_BIN); return kxDilate(a, ims.mask());
    case 68: return kxDilateE1(ims.make(KIT_BIN), in.arg());
    case 69: {
        a = ims.make(KIT_BIN, true);
        if (in.flag(4)) {
            (void)kxDistTrans(a, nullptr, in.u32());
            return nullptr;
        }
        const uint32_t capacity = uint32_t(in.u8()) % uint32_t(a->width * std::max(a->height, 1) + 4);
        std::vector<int32_t> d(capacity ? capacity : 1);
        (void)kxDistTrans(a, d.data(), capacity);
        return nullptr;
    }
    case 70: return kxErodeE1(ims.make(KIT_BIN), in.arg());
    case 71: kxEclose(ims.make(KIT_BIN), in.arg()); return nullptr;
    // ---- geometry
    case 72: a = ims.make(0); return kxRotateEx(a, in.realD(), in.arg(), in.arg());
    case 73: a = ims.make(0); return kxRotateE2(a, in.realD(), in.colour(), in.arg(), in.arg());
    case 74: return kxRotate(ims.make(0), in.arg());
    case 75: a = ims.make(0); return kxRotateE3(a, in.realD(), in.realD(), in.realD(), in.colour());
    case 76: return kxTranslate(ims.make(KIT_GRAY), in.real(), in.real(), in.arg());
    case 77: a = ims.make(0); return kxTranslateE1(a, in.realD(), in.realD(), in.colour());
    case 78: return kxFlip(ims.make(0), in.arg());
    case 79: {
        a = ims.make(0);
        int w = in.arg(), h = in.arg();
        const int64_t cw = std::min(w, 16384), ch = std::min(h, 16384);
        if (cw > 0 && ch > 0 && cw * ch > kMaxResultPixels) h = int(std::max<int64_t>(1, kMaxResultPixels / cw));
        return kxResize(a, w, h, in.colour());
    }
    case 80: {
        a = ims.make(0);
        const int px = in.arg(), py = in.arg(), filter = in.arg(), shrink = in.arg();
        if (px > 0 && py > 0) {
            const double r = px > py ? double(px) / py : double(py) / px;
            const double grown = r * std::max(a->width, a->height) * std::max(a->width, a->height);
            if (!shrink && grown > double(kMaxResultPixels) && grown / std::max(a->width, a->height) <= 16384.0)
                *skip = true;
        }
        if (*skip) return nullptr;
        (void)kxMakeSquarePixel(a, px, py, filter, shrink);
        return nullptr;
    }
    case 81:
    case 82: {
        a = ims.make(0);
        const float factor = in.real();
        const int filter = in.arg();
        if (factor > 0 && scaledSide(a->width, factor) * scaledSide(a->height, factor) > kMaxResultPixels) {
            *skip = true;
            return nullptr;
        }
        if (op == 81) {
            (void)kxScale(a, factor, filter);
            return nullptr;
        }
        return kxScaleE1(a, factor, in.colour(), filter, in.arg());
    }
    case 83: {
        Image *src = ims.make(0, true);
        Image *dst = ims.other(0, false);
        (void)kxScaleEx(src, dst, in.arg());
        return nullptr;
    }
    // ---- drawing
    case 84: a = ims.make(0); kxSetLine(a, in.arg(), in.arg(), in.arg(), in.arg(), in.colour()); return nullptr;
    case 85: {
        a = ims.make(0);
        const int count = in.arg() % 24;
        std::vector<int> p = points(in, count, sideOf(a));
        kxSetPolyline(a, count < 2 && in.flag(2) ? nullptr : p.data(), count, in.colour());
        return nullptr;
    }
    case 86: {
        a = ims.make(0);
        const int cx = in.arg(), cy = in.arg();
        int rx = in.arg(), ry = in.arg();
        // Cost grows with the larger semi-axis (8 points per pixel of it,
        // up to 2097151): keep accepted ones short.
        if (rx > 4096 && rx <= 2097151) rx %= 4096;
        if (ry > 4096 && ry <= 2097151) ry %= 4096;
        kxSetEllipse(a, cx, cy, rx, ry, in.real(), in.colour());
        return nullptr;
    }
    case 87: a = ims.make(0); kxFillRect(a, in.arg(), in.arg(), in.arg(), in.arg(), in.colour()); return nullptr;
    case 88: a = ims.make(KIT_GRAY); kxFillRectE1(a, in.arg(), in.arg(), in.arg(), in.arg(), in.u8()); return nullptr;
    case 89: a = ims.make(0); kxFillEllipse(a, in.arg(), in.arg(), in.arg(), in.arg(), in.colour()); return nullptr;
    case 90: {
        a = ims.make(0);
        EllipseBox box{in.realD(), in.realD(), in.realD(), in.realD(), in.realD()};
        if (in.flag(2)) box = EllipseBox{double(in.arg() % 20), double(in.arg() % 20), double(in.u8() % 30),
                                         double(in.u8() % 30), double(in.real())};
        kxFillEllipseE1(a, box, in.colour());
        return nullptr;
    }
    case 91:
    case 92:
    case 93: {
        a = ims.make(0);
        const int count = in.arg() % 24;
        std::vector<int> p = points(in, count, sideOf(a));
        const uint32_t colour = in.colour();
        if (op == 91) {
            kxFillPolygon(a, p.data(), count, colour);
        } else if (op == 92) {
            const int ex = in.arg() % 24;
            std::vector<int> q = points(in, ex, sideOf(a));
            kxFillPolygonE1(a, p.data(), count, in.flag(4) ? nullptr : q.data(), ex, colour);
        } else {
            kxFillPolygonE2(a, in.flag(8) ? nullptr : p.data(), count, colour, in.arg());
        }
        return nullptr;
    }
    case 94: a = ims.make(0); return kxFill(a, in.arg(), in.arg(), in.colour());
    case 95: a = ims.make(0); kxFillEx(a, in.u32(), in.u8()); return nullptr;
    case 96: {
        a = ims.make(0);
        const int x = in.arg(), y = in.arg();
        FloodValue v{in.u8(), in.u8(), in.u8()};
        const FloodRecord lo = tolerance(in), up = tolerance(in);
        (void)kxFloodFill(a, x, y, v, lo, up, in.arg(), int(in.u32()));
        return nullptr;
    }
    case 97: {
        a = ims.make(0, true);
        const int x = in.arg(), y = in.arg();
        const FloodRecord lo = tolerance(in), up = tolerance(in);
        const int connectivity = in.arg(), flags = int(in.u32());
        Image *mask = in.flag(3) ? nullptr : ims.other(KIT_GRAY, false);
        *mayCreate = true;
        return kxFloodMask(a, x, y, lo, up, connectivity, flags, mask);
    }
    case 98:
    case 99: {
        a = ims.make(0);
        static const char *const faces[] = {"Arial", "DejaVu Sans", "", "no such face at all", "Liberation Serif",
                                            "a face name far longer than thirty-one characters"};
        char text[24];
        const int len = in.u8() % int(sizeof text);
        for (int i = 0; i < len; ++i) text[i] = char(in.flag(6) ? '\n' : 32 + in.u8() % 224);
        text[len] = 0;
        const int x = in.arg(), y = in.arg();
        int height = in.arg();
        if (height > 40 || height < -40) height %= 40;
        const char *t = in.flag(16) ? nullptr : text;
        if (op == 98) {
            kxFillText(a, t, x, y, height, in.colour());
        } else {
            const char *face = in.flag(4) ? nullptr : faces[in.u8() % 6];
            kxFillTextEx(a, t, x, y, face, height, in.colour(), in.colour(), in.u32());
        }
        return nullptr;
    }
    // ---- vision
    case 100: {
        a = ims.make(0);
        const int value = in.flag(4) ? in.arg() : in.u8() % 2;
        Image *dst = in.flag(3) ? nullptr : ims.other(0, false);
        *mayCreate = true;
        return kxPyramid(a, value, dst);
    }
    case 101:
    case 102:
    case 103:
    case 104: {
        Image *src = ims.make(KIT_GRAY, true);
        std::vector<float> sp = fpoints(in, 4, sideOf(src)), dp = fpoints(in, 4, sideOf(src));
        *mayCreate = true;
        if (op == 101) {
            Image *dst = in.flag(3) ? nullptr : ims.other(0, false);
            return kxWarp(src, in.flag(16) ? nullptr : sp.data(), in.flag(16) ? nullptr : dp.data(), dst);
        }
        if (op == 102) {
            Image *dst = in.flag(4) ? nullptr : ims.other(0, false);
            return kxUnwarp(src, in.flag(16) ? nullptr : sp.data(), dst);
        }
        if (op == 103) {
            const int sc = in.arg() % 9, dc = in.arg() % 9;
            std::vector<float> sq = fpoints(in, sc, sideOf(src)), dq = fpoints(in, dc, sideOf(src));
            const int patch = in.arg();
            Image *dst = in.flag(3) ? nullptr : ims.other(0, false);
            return kxWarpEx(src, sq.data(), sc, dq.data(), dc, patch, dst);
        }
        *mayCreate = false;
        kxCopyPixelsE3(src, ims.other(0, false), in.flag(8) ? nullptr : sp.data());
        return nullptr;
    }
    case 105: {
        a = ims.make(KIT_GRAY);
        const double t1 = in.realD(), t2 = in.realD();
        const int binarise = in.arg();
        const int value = in.flag(3) ? in.arg() : (3 + 2 * (in.u8() % 3)) | (in.flag(2) ? KXV_CANNY_L2 : 0);
        return kxCanny(a, t1, t2, binarise, value);
    }
    case 106: return kxScharr(ims.make(KIT_GRAY), in.arg());
    case 107: a = ims.make(KIT_GRAY); return kxBlur(a, in.arg(), in.arg());
    case 108: a = ims.make(KIT_GRAY); return kxSmoothGaussian(a, in.arg(), in.arg());
    case 109: return kxSmoothMedian(ims.make(KIT_GRAY), in.arg());
    case 110: a = ims.make(0); return kxMorphology(a, in.arg() % 8, in.arg());
    case 111: return kxMorpOpen(ims.make(0));
    case 112: return kxMorpClose(ims.make(0));
    case 113: a = ims.make(KIT_GRAY); return kxAdaptive(a, in.arg(), in.arg());
    case 114: return static_cast<Image *>(kxCreateGaborBank(in.arg(), in.arg(), in.arg(), in.arg()));
    case 115: (void)kxDestroyGaborBank(in.arg()); return nullptr;
    case 116: (void)kxOrientationField(in.arg(), in.arg()); return nullptr;
    case 117: (void)kxFrequenceField(in.arg(), in.arg(), in.arg()); return nullptr;
    default: kxGabor(in.arg(), in.arg()); return nullptr;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in(data, size);
    const int op = in.u8() % kExports;
    Images ims(in);  // every image is snapshotted as it is made
    bool mayCreate = false, skip = false;
    Image *result = call(op, in, ims, &mayCreate, &skip);
    if (skip) return -1;  // a result too large for a short execution
    ims.check(op);
    if (result && !ims.owns(result)) {
        if (!mayCreate) fail("returned an image that is not an argument", op);
        if (!kx::typeOk(result) || result->isVirtual || result->magic != KXI_MAGIC)
            fail("new image not well formed", op);
        kxDestroyImage(result);
    }
    return 0;
}
