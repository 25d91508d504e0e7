// Fuzz harness over every export of libkxpre (docs/reliability.md).  The
// first byte chooses an entry of the table below (corpus seeds opNNN), the
// rest decodes its arguments.  After the call no byte outside a wrapped
// image's pixels, no read-only input and no unusable record may have
// changed, records are well formed, and a returned image is an argument or,
// where the export may create one, a new well-formed image.
#include <algorithm>
#include <bit>
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
    char text[160];  // reported through the sanitizers: -close_fd_mask=2 closes stderr
    std::snprintf(text, sizeof text, "kxfuzz_exports: %s (operation %d)", what, op);
    __sanitizer_report_error_summary(text);
    std::abort();
}

template <class T, size_t N> T pick(const T (&table)[N], uint8_t i) { return table[i % N]; }

constexpr float kInf = std::numeric_limits<float>::infinity(), kMaxF = std::numeric_limits<float>::max();

// ---- images under watch -----------------------------------------------------

constexpr size_t kGuard = 32;
constexpr uint8_t kSentinel = 0xA5;
constexpr int ANY = 0, NONE = -1, B = KIT_BIN, G = KIT_GRAY, C = KIT_RGB;

std::vector<uint8_t> pixelsOf(const Image *im)
{
    std::vector<uint8_t> v;
    for (int y = 0; y < im->height; ++y) v.insert(v.end(), kx::row(im, y), kx::row(im, y) + kx::rowBytes(im));
    return v;
}
std::vector<uint8_t> bytesOf(const Mask *m)
{
    std::vector<uint8_t> v(reinterpret_cast<const uint8_t *>(m), reinterpret_cast<const uint8_t *>(m + 1));
    v.insert(v.end(), m->data, m->data + size_t(m->pitch) * m->height);
    return v;
}

struct Slot {
    Image *im = nullptr;
    std::vector<uint8_t> buf;      // wrapped image: guard, rows, guard
    uint8_t *savedData = nullptr;  // the record's data before a corruption nulled it
    Image rec{};                   // the record before the call
    bool usable = false, readOnly = false, aliased = false;
    std::vector<uint8_t> bufSnap, pixSnap;
};

// What a table entry's call sees: the input and its decoding, the images it
// makes (each snapshotted as it is made), and `a`, the first one, made from
// the entry's type hint.
struct Ctx {
    Ctx(const uint8_t *p, size_t n) : p_(p), n_(n) {}
    ~Ctx()
    {
        for (Slot &s : slots_) {
            if (s.savedData) s.im->data = s.savedData;
            kxDestroyImage(s.im);
        }
        for (auto &m : masks_) kxDestroyMask(m.first);
    }

    // ---- input decoding
    uint8_t u8() { return i_ < n_ ? p_[i_++] : 0; }
    uint32_t u32() { return uint32_t(u8()) << 24 | uint32_t(u8()) << 16 | uint32_t(u8()) << 8 | u8(); }
    bool flag(int oneIn) { return u8() % oneIn == 0; }

    // An int: small values, coordinates, extremes or raw bits.
    int arg()
    {
        static const int table[] = {0, 1, -1, 2, 3, 4, 5, 7, 8, -2, 255, 256, -256, 1000, 4095, 4096, 16383, 16384,
                                    16385, 32767, 65535, 1 << 20, INT32_MAX, INT32_MIN, -1000, 9, INT32_MAX - 1,
                                    INT32_MIN + 1, 1 << 30, -(1 << 30), 2097151, 2097152};
        const uint8_t mode = u8() % 8;
        if (mode < 3) return int(u8() % 32) - 8;
        if (mode == 3) return int(u8() % 24);
        if (mode < 6) return pick(table, u8());
        return mode == 6 ? int(u32()) : -int(u8() % 20);
    }
    float real()
    {
        static const float table[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 2.0f, std::nanf(""), kInf, -kInf, kMaxF,
                                      -kMaxF, std::numeric_limits<float>::min(),
                                      std::numeric_limits<float>::denorm_min(), 1e9f, -1e9f, 255.0f, 128.0f, 0.1f,
                                      2147483648.0f, -2147483904.0f, 256.0f, 0.999f, 1.5f, 45.0f, 90.0f, 180.0f,
                                      -90.0f, 1e-7f};
        const uint8_t mode = u8() % 6;
        if (mode < 3) return float(int8_t(u8())) / 8.0f;
        if (mode < 5) return pick(table, u8());
        return std::bit_cast<float>(u32());
    }
    double realD()
    {
        static const double table[] = {1e300, -1e300, std::numeric_limits<double>::max(),
                                       std::numeric_limits<double>::denorm_min(), 1e15, -1e15, 0.5, 359.999};
        const uint8_t mode = u8() % 4;
        if (mode == 2) return pick(table, u8());
        if (mode != 3) return double(real());
        return std::bit_cast<double>(uint64_t(u32()) << 32 | u32());
    }
    uint32_t colour()
    {
        static const uint32_t table[] = {0, 1, 255, 256, 0x1FF, 0xFFFFFFFF, 0xFF000000, 0x00FFFFFF, 0x80808080,
                                         0xFF102030};
        return u8() % 2 ? pick(table, u8()) : u32();
    }

    // ---- images

    // A new image; `hint` is the type an operation works on (ANY: any).
    Image *make(int hint, bool readOnly = false)
    {
        static const int types[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};
        const uint8_t t = u8();
        if (kxiBytesPerPixel(hint) == 0) hint = ANY;  // the type of an unusable record
        const int type = t % 8 < 4 && hint ? hint : pick(types, t);
        int w = 1 + u8() % 16, h = 1 + u8() % 16;
        if (flag(8)) w = 1 + u8() % 80, h = 1 + u8() % 4;  // wide: row remainders of blocked loops
        const uint8_t how = u8();
        const int pad = (how >> 1) % 5, pitch = w * kxiBytesPerPixel(type) + pad;
        Slot &s = slots_.emplace_back();
        if (how % 2) s.buf.assign(kGuard + size_t(pitch) * h + kGuard, kSentinel);  // wrapped
        s.im = kxCreateImageEx(type, w, h, how % 2 || pad ? pitch : 0, how % 2 ? s.buf.data() + kGuard : nullptr, 0);
        if (!s.im) fail("image creation", -1);
        fill(s.im, type);
        if ((how >> 4) == 15) corrupt(s);
        s.readOnly = readOnly, s.rec = *s.im, s.bufSnap = s.buf;
        s.usable = kx::typeOk(s.im);
        if (readOnly && s.usable) s.pixSnap = pixelsOf(s.im);
        return s.im;
    }
    Image *maybe(int hint, bool readOnly = false) { return flag(4) ? nullptr : make(hint, readOnly); }
    // An image already made (aliasing the first), or a new one.
    Image *other(int hint, bool readOnly = false)
    {
        if (slots_.empty() || !flag(16)) return make(hint, readOnly);
        return slots_[0].aliased = true, slots_[0].im;
    }
    Mask *mask()
    {
        if (flag(5)) return nullptr;
        Mask *m = kxCreateMask(1 + u8() % 3, 1 + u8() % 7, 1 + u8() % 7);
        if (!m) return nullptr;
        if (flag(8)) m->anchorX = arg(), m->anchorY = arg();
        masks_.emplace_back(m, bytesOf(m));
        return m;
    }
    bool owns(const Image *im) const
    {
        return std::any_of(slots_.begin(), slots_.end(), [im](const Slot &s) { return s.im == im; });
    }
    void check(int op) const
    {
        for (const Slot &s : slots_) check(s, op);
        for (const auto &m : masks_)
            if (bytesOf(m.first) != m.second) fail("structuring element changed", op);
    }

    Image *a = nullptr;
    bool mayCreate = false;  // the export may hand back a new image
    bool skip = false;       // the result would be too large for a short execution

    Image *skipped() { return skip = true, nullptr; }
    Image *created(Image *im) { return mayCreate = true, im; }
    int side() const { return a ? std::max(a->width, a->height) : 16; }

    // `count` (x, y) pairs near the image, with extremes now and then.
    std::vector<int> points(int count)
    {
        std::vector<int> v(count > 0 ? size_t(count) * 2 : 1);
        for (size_t i = 0; count > 0 && i < v.size(); ++i) v[i] = flag(6) ? arg() : int(u8() % (side() + 8)) - 4;
        return v;
    }
    std::vector<float> fpoints(int count)
    {
        std::vector<float> v(count > 0 ? size_t(count) * 2 : 1);
        for (size_t i = 0; count > 0 && i < v.size(); ++i)
            v[i] = flag(6) ? real() : float(int(u8() % (2 * side() + 16)) - 8) * 0.5f;
        return v;
    }
    FloodRecord tolerance()
    {
        FloodRecord r;
        for (double &d : r.val) d = flag(4) ? realD() : double(u8() % 40);
        return r;
    }
    const float *quad(std::vector<float> &q) { return flag(16) ? nullptr : q.data(); }

private:
    void fill(Image *im, int type)
    {
        const uint8_t mode = u8();
        uint32_t x = u32() | 1;
        for (int y = 0; y < im->height; ++y) {
            uint8_t *r = kx::row(im, y);
            for (size_t i = 0; i < kx::rowBytes(im); ++i) {
                x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                const uint8_t v[4] = {uint8_t(x), uint8_t(uint8_t(x >> 7) & 1), mode,
                                      (x >> 9) % 5 ? mode : uint8_t(x)};
                r[i] = v[mode % 4];
                if (type == KIT_BIN && mode % 8 < 6) r[i] &= 1;
            }
        }
    }

    // Breaks the record so that no operation may use it.
    void corrupt(Slot &s)
    {
        Image *im = s.im;
        const Image saved = *im;
        switch (u8() % 8) {
        case 0: im->imageType = 16; break;
        case 1: im->imageType = 0; break;
        case 2: im->type = im->type == 0 ? 16 : 0; break;
        case 3: im->pitch = im->width * kxiBytesPerPixel(im->imageType) - 1; break;
        case 4: im->width = 0; break;
        case 5: im->height = -3; break;
        case 6: s.savedData = im->data, im->data = nullptr; break;
        default: im->width = 1 << 20; break;
        }
        if (kx::typeOk(im)) *im = saved, s.savedData = nullptr;  // still a usable layout: keep the original
    }

    static void check(const Slot &s, int op)
    {
        const Image *im = s.im;
        if (im->magic != KXI_MAGIC) fail("magic overwritten", op);
        if (!s.usable) {
            if (std::memcmp(im, &s.rec, sizeof *im) != 0) fail("unusable record changed", op);
            if (s.buf != s.bufSnap) fail("unusable image written", op);
            return;
        }
        if (!kx::typeOk(im)) fail("record no longer well formed", op);
        if (im->size != uint32_t(im->pitch) * uint32_t(im->height)) fail("size disagrees with pitch * height", op);
        if (!s.buf.empty()) {
            if (!im->isVirtual || im->data != s.rec.data || im->pitch != s.rec.pitch || im->width != s.rec.width ||
                im->height != s.rec.height || kxiBytesPerPixel(im->imageType) != kxiBytesPerPixel(s.rec.imageType))
                fail("wrapped image re-shaped", op);
            const size_t rowLen = kx::rowBytes(im), pitch = size_t(im->pitch);
            for (size_t i = 0; i < s.buf.size(); ++i) {
                const size_t off = i - kGuard;
                const bool pixel = i >= kGuard && off < pitch * im->height && off % pitch < rowLen;
                if (!pixel && s.buf[i] != s.bufSnap[i]) fail("byte outside the pixels written", op);
            }
        } else {
            if (im->isVirtual) fail("owned image turned virtual", op);
            if (uint32_t(im->capacity) < im->size) fail("capacity below size", op);
        }
        if (s.readOnly && !s.aliased) {
            if (std::memcmp(im, &s.rec, sizeof *im) != 0) fail("read-only record changed", op);
            if (pixelsOf(im) != s.pixSnap) fail("read-only image changed", op);
        }
    }

    const uint8_t *p_;
    size_t n_, i_ = 0;
    std::vector<Slot> slots_;
    std::vector<std::pair<Mask *, std::vector<uint8_t>>> masks_;
};

// ---- one call -----------------------------------------------------------------

// Result sides above this make an execution slow (the whole result is
// written); such inputs are skipped.
constexpr int64_t kMaxResultPixels = 1 << 14;

int64_t scaledSide(int side, float factor)
{
    const long double v = (long double)side * factor + 0.5L;
    if (!(v < 1e9L && v > -1e9L)) return 16384;
    const int64_t s = int64_t(v);
    return s < 2 ? 2 : s > 16384 ? 16384 : s;
}
int clampRepeat(int n, int bound) { return n > bound ? n % (bound + 1) : n; }
// kxbMultiLevel's search grows steeply with the class count (up to a second
// per call in this instrumented build): accepted counts stay at most 8,
// refused ones (below 2, above 256) pass as they are.
int levels(int n) { return n > 8 && n <= 256 ? 2 + n % 7 : n; }

struct Export {
    int hint;       // the type of `a` (ANY: any, NONE: no `a`)
    bool readOnly;  // `a` must come back unchanged
    Image *(*run)(Ctx &);
};

#define BODY(hint, ro, ...) {hint, ro, [](Ctx &c) -> Image * { __VA_ARGS__; }}
#define RET(hint, ...) BODY(hint, false, return __VA_ARGS__)
#define VOID(hint, ro, ...) BODY(hint, ro, (void)(__VA_ARGS__); return nullptr)
#define PAIR(f) BODY(ANY, true, return f(c.a, c.other(c.a->imageType)))

Image *scale(Ctx &c, bool e1)
{
    const float factor = c.real();
    const int filter = c.arg();
    if (factor > 0 && scaledSide(c.a->width, factor) * scaledSide(c.a->height, factor) > kMaxResultPixels)
        return c.skipped();
    if (!e1) return (void)kxScale(c.a, factor, filter), nullptr;
    return kxScaleE1(c.a, factor, c.colour(), filter, c.arg());
}

void polygon(Ctx &c, int form)
{
    const int count = c.arg() % 24;
    std::vector<int> p = c.points(count);
    const uint32_t colour = c.colour();
    if (form == 0) return kxFillPolygon(c.a, p.data(), count, colour);
    if (form == 2) return kxFillPolygonE2(c.a, c.flag(8) ? nullptr : p.data(), count, colour, c.arg());
    const int ex = c.arg() % 24;
    std::vector<int> q = c.points(ex);
    kxFillPolygonE1(c.a, p.data(), count, c.flag(4) ? nullptr : q.data(), ex, colour);
}

void text(Ctx &c, bool ex)
{
    static const char *const faces[] = {"Arial", "DejaVu Sans", "", "no such face at all", "Liberation Serif",
                                        "a face name far longer than thirty-one characters"};
    char t[24];
    const int len = c.u8() % int(sizeof t);
    for (int i = 0; i < len; ++i) t[i] = char(c.flag(6) ? '\n' : 32 + c.u8() % 224);
    t[len] = 0;
    const int x = c.arg(), y = c.arg();
    int height = c.arg();
    if (height > 40 || height < -40) height %= 40;
    const char *s = c.flag(16) ? nullptr : t;
    if (!ex) return kxFillText(c.a, s, x, y, height, c.colour());
    kxFillTextEx(c.a, s, x, y, c.flag(4) ? nullptr : pick(faces, c.u8()), height, c.colour(), c.colour(),
                 c.u32());
}

const Export kExports[] = {
    // ---- pixel access and combination (0-21)
    VOID(ANY, true, kxGetPixel(c.a, c.arg(), c.arg())), VOID(ANY, true, kxGetPixelE1(c.a, c.arg(), c.arg(), c.arg())),
    VOID(ANY, false, kxSetPixel(c.a, c.arg(), c.arg(), c.colour())),
    BODY(ANY, false, const int n = c.arg() % 40; std::vector<int> p = c.points(n);
         kxSetPixelE1(c.a, c.flag(8) ? nullptr : p.data(), n, c.arg(), c.arg(), c.colour()); return nullptr),
    VOID(ANY, false, kxSetPixelEx(c.a, c.colour(), c.maybe(ANY, true), c.arg())),
    // (5-14: a read-only source, a destination of its type)
    PAIR(kxPixelAdd), PAIR(kxPixelSubtract), PAIR(kxPixelLarge), PAIR(kxPixelSmall), PAIR(kxPixelAnd),
    PAIR(kxPixelOr), PAIR(kxPixelXor), PAIR(kxPixelCopy), PAIR(kxPixelDiff),
    BODY(ANY, true, Image *dst = c.other(c.a->imageType);
         return kxPixelMerge(c.a, dst, c.flag(4) ? c.arg() : 1203 + c.u8() % 11)),
    RET(ANY, kxPixelMergeE1(c.a, c.other(c.a->imageType, true), c.arg() % 12, c.real(), c.real())),
    RET(ANY, kxInvert(c.a)),
    BODY(ANY, true, const int sx = c.arg(), sy = c.arg(), sw = c.arg(), sh = c.arg();
         kxCopyPixels(c.a, sx, sy, sw, sh, c.other(c.a->imageType), c.arg(), c.arg(), c.arg(), c.arg());
         return nullptr),
    VOID(ANY, true, kxCopyPixelsE2(c.a, c.other(c.a->imageType), c.arg(), c.arg(), c.maybe(G, true))),
    RET(C, kxReplaceChannel(c.a, c.other(G, true), c.arg())),
    VOID(ANY, false, kxReplacePixels(c.a, c.colour(), c.colour(), c.maybe(G, true))),
    BODY(ANY, false, const int l = c.arg(), t = c.arg(), r = c.arg(), b = c.arg();
         if (r >= l && b >= t && (int64_t(r) - l + 1) * (int64_t(b) - t + 1) > kMaxResultPixels) return c.skipped();
         return kxClip(c.a, l, t, r, b)),
    // ---- thresholding (22-36)
    RET(G, kxbSimple(c.a, c.u8(), c.arg())), RET(G, kxbDark(c.a, c.u8(), c.u8(), c.arg())),
    RET(G, kxbLight(c.a, c.u8(), c.u8(), c.arg())), RET(G, kxbInner(c.a, c.u8(), c.u8(), c.u8(), c.arg())),
    RET(G, kxbOuter(c.a, c.u8(), c.u8(), c.u8(), c.arg())), RET(G, kxbOtsu(c.a, c.maybe(G, true))),
    RET(G, kxbIsoData(c.a, clampRepeat(c.arg(), 1000), c.arg())), RET(G, kxbMaxEntropy(c.a)),
    RET(G, kxbMinError(c.a, c.arg())), RET(G, kxbMinErrorE1(c.a, c.maybe(G, true), c.arg())),
    VOID(G, true, kxbGetOptima(c.a, c.arg())), VOID(G, true, kxbGetOptimaE1(c.a, c.maybe(G, true), c.arg())),
    RET(G, kxbMultiLevel(c.a, levels(c.arg()))), RET(G, kxbLocalIntegral(c.a, c.arg(), c.u8(), c.real())),
    BODY(G, false, const int method = c.flag(3) ? c.arg() : c.u8() % 22; int p1 = c.arg();
         p1 = method == 19 ? clampRepeat(p1, 1000) : method == 17 ? levels(p1) : p1;
         return kxThreshold(c.a, method, p1, c.arg(), c.realD())),
    // ---- filtering (37-56)
    BODY(NONE, false, int dummy = 0; return kxFilter(c.maybe(ANY), c.flag(2) ? nullptr : &dummy)),
    RET(G, kxSobel(c.a, c.arg())), RET(G, kxPrewitt(c.a, c.arg())), RET(G, kxKirsch(c.a, c.arg())),
    RET(G, kxLaPlacian(c.a)), RET(G, kxSharp1541(c.a)), RET(G, kxDiffFirst(c.a, c.arg())),
    RET(G, kxDiffSecond(c.a, c.arg())), RET(G, kxRoberts(c.a)), RET(G, kxGradient(c.a, c.arg(), c.arg())),
    BODY(G, false, const int method = c.flag(4) ? c.arg() : 0, direction = c.arg(); const float t = c.real();
         return kxDetectEdge(c.a, method, direction, t, c.maybe(G, true))),
    RET(G, kxSmoothAvg(c.a, c.arg())), RET(G, kxMedian(c.a, c.arg())), RET(G, kxNormalize(c.a, c.real(), c.real())),
    RET(G, kxEqualize(c.a)), RET(G, kxContrast(c.a, c.real(), c.real())), RET(ANY, kxLinear(c.a, c.real(), c.real())),
    RET(C, kxLinearEx(c.a, c.arg(), c.real(), c.real())), RET(C, kxIncreaseLum(c.a)), RET(G, kxExpand(c.a)),
    // ---- binary (57-71)
    VOID(B, false, kxThinning(c.a)), RET(B, kxSkeleton(c.a, c.arg())), VOID(B, false, kxFillHole(c.a)),
    VOID(B, false, kxFillHoleEx(c.a, c.maybe(B, true))), VOID(B, false, kxRemoveBorder(c.a)),
    VOID(B, false, kxRemoveBorderEx(c.a, c.maybe(B, true))), VOID(B, false, kxRetrieveEdge(c.a, c.arg(), c.arg())),
    BODY(B, false, const int mode = c.arg(); return kxRetrieveEdgeE1(c.a, mode, c.flag(3) ? nullptr : c.other(B))),
    VOID(ANY, false, kxCutMargin(c.a, c.arg())), RET(B, kxErode(c.a, c.mask())),
    RET(B, kxDilate(c.a, c.mask())), RET(B, kxDilateE1(c.a, c.arg())),
    BODY(B, true, if (c.flag(4)) return (void)kxDistTrans(c.a, nullptr, c.u32()), nullptr;
         const uint32_t capacity = uint32_t(c.u8()) % uint32_t(c.a->width * std::max(c.a->height, 1) + 4);
         std::vector<int32_t> d(capacity ? capacity : 1); (void)kxDistTrans(c.a, d.data(), capacity);
         return nullptr),
    RET(B, kxErodeE1(c.a, c.arg())), VOID(B, false, kxEclose(c.a, c.arg())),
    // ---- geometry (72-83)
    RET(ANY, kxRotateEx(c.a, c.realD(), c.arg(), c.arg())),
    RET(ANY, kxRotateE2(c.a, c.realD(), c.colour(), c.arg(), c.arg())), RET(ANY, kxRotate(c.a, c.arg())),
    RET(ANY, kxRotateE3(c.a, c.realD(), c.realD(), c.realD(), c.colour())),
    RET(G, kxTranslate(c.a, c.real(), c.real(), c.arg())),
    RET(ANY, kxTranslateE1(c.a, c.realD(), c.realD(), c.colour())), RET(ANY, kxFlip(c.a, c.arg())),
    BODY(ANY, false, const int w = c.arg(); int h = c.arg();
         const int64_t cw = std::min(w, 16384), ch = std::min(h, 16384);
         if (cw > 0 && ch > 0 && cw * ch > kMaxResultPixels) h = int(std::max<int64_t>(1, kMaxResultPixels / cw));
         return kxResize(c.a, w, h, c.colour())),
    BODY(ANY, false, const int px = c.arg(), py = c.arg(), filter = c.arg(), shrink = c.arg();
         const double side = std::max(c.a->width, c.a->height);
         const double grown = px > 0 && py > 0 ? (px > py ? double(px) / py : double(py) / px) * side * side : 0;
         if (!shrink && grown > double(kMaxResultPixels) && grown / side <= 16384.0) return c.skipped();
         return (void)kxMakeSquarePixel(c.a, px, py, filter, shrink), nullptr),
    BODY(ANY, false, return scale(c, false)), BODY(ANY, false, return scale(c, true)),
    VOID(ANY, true, kxScaleEx(c.a, c.other(ANY), c.arg())),
    // ---- drawing (84-99)
    VOID(ANY, false, kxSetLine(c.a, c.arg(), c.arg(), c.arg(), c.arg(), c.colour())),
    BODY(ANY, false, const int n = c.arg() % 24; std::vector<int> p = c.points(n);
         kxSetPolyline(c.a, n < 2 && c.flag(2) ? nullptr : p.data(), n, c.colour()); return nullptr),
    // Cost grows with the larger semi-axis (8 points per pixel of it, up to
    // 2097151): keep accepted ones short.
    BODY(ANY, false, const int cx = c.arg(), cy = c.arg(); int rx = c.arg(), ry = c.arg();
         if (rx > 4096 && rx <= 2097151) rx %= 4096; if (ry > 4096 && ry <= 2097151) ry %= 4096;
         kxSetEllipse(c.a, cx, cy, rx, ry, c.real(), c.colour()); return nullptr),
    VOID(ANY, false, kxFillRect(c.a, c.arg(), c.arg(), c.arg(), c.arg(), c.colour())),
    VOID(G, false, kxFillRectE1(c.a, c.arg(), c.arg(), c.arg(), c.arg(), c.u8())),
    VOID(ANY, false, kxFillEllipse(c.a, c.arg(), c.arg(), c.arg(), c.arg(), c.colour())),
    BODY(ANY, false, EllipseBox box{c.realD(), c.realD(), c.realD(), c.realD(), c.realD()};
         if (c.flag(2)) box = EllipseBox{double(c.arg() % 20), double(c.arg() % 20), double(c.u8() % 30),
                                            double(c.u8() % 30), double(c.real())};
         kxFillEllipseE1(c.a, box, c.colour()); return nullptr),
    BODY(ANY, false, return polygon(c, 0), nullptr), BODY(ANY, false, return polygon(c, 1), nullptr),
    BODY(ANY, false, return polygon(c, 2), nullptr), RET(ANY, kxFill(c.a, c.arg(), c.arg(), c.colour())),
    VOID(ANY, false, kxFillEx(c.a, c.u32(), c.u8())),
    BODY(ANY, false, const int x = c.arg(), y = c.arg(); const FloodValue v{c.u8(), c.u8(), c.u8()};
         const FloodRecord lo = c.tolerance(), up = c.tolerance();
         (void)kxFloodFill(c.a, x, y, v, lo, up, c.arg(), int(c.u32())); return nullptr),
    BODY(ANY, true, const int x = c.arg(), y = c.arg(); const FloodRecord lo = c.tolerance(), up = c.tolerance();
         const int connectivity = c.arg(), flags = int(c.u32());
         return c.created(kxFloodMask(c.a, x, y, lo, up, connectivity, flags, c.flag(3) ? nullptr : c.other(G)))),
    BODY(ANY, false, return text(c, false), nullptr), BODY(ANY, false, return text(c, true), nullptr),
    // ---- vision (100-113)
    BODY(ANY, false, const int value = c.flag(4) ? c.arg() : c.u8() % 2;
         return c.created(kxPyramid(c.a, value, c.flag(3) ? nullptr : c.other(ANY)))),
    BODY(G, true, auto s = c.fpoints(4); auto d = c.fpoints(4); Image *dst = c.flag(3) ? nullptr : c.other(ANY);
         return c.created(kxWarp(c.a, c.quad(s), c.quad(d), dst))),
    BODY(G, true, auto s = c.fpoints(4); Image *dst = c.flag(4) ? nullptr : c.other(ANY);
         return c.created(kxUnwarp(c.a, c.quad(s), dst))),
    BODY(G, true, const int sc = c.arg() % 9, dc = c.arg() % 9; auto s = c.fpoints(sc); auto d = c.fpoints(dc);
         const int patch = c.arg(); Image *dst = c.flag(3) ? nullptr : c.other(ANY);
         return c.created(kxWarpEx(c.a, s.data(), sc, d.data(), dc, patch, dst))),
    BODY(G, true, auto s = c.fpoints(4);
         kxCopyPixelsE3(c.a, c.other(ANY), c.flag(8) ? nullptr : s.data()); return nullptr),
    BODY(G, false, const double t1 = c.realD(), t2 = c.realD(); const int binarise = c.arg();
         const int value = c.flag(3) ? c.arg() : (3 + 2 * (c.u8() % 3)) | (c.flag(2) ? KXV_CANNY_L2 : 0);
         return kxCanny(c.a, t1, t2, binarise, value)),
    RET(G, kxScharr(c.a, c.arg())), RET(G, kxBlur(c.a, c.arg(), c.arg())),
    RET(G, kxSmoothGaussian(c.a, c.arg(), c.arg())), RET(G, kxSmoothMedian(c.a, c.arg())),
    RET(ANY, kxMorphology(c.a, c.arg() % 8, c.arg())), RET(ANY, kxMorpOpen(c.a)), RET(ANY, kxMorpClose(c.a)),
    RET(G, kxAdaptive(c.a, c.arg(), c.arg())),
    // ---- placeholders without an image (114-118)
    RET(NONE, static_cast<Image *>(kxCreateGaborBank(c.arg(), c.arg(), c.arg(), c.arg()))),
    VOID(NONE, false, kxDestroyGaborBank(c.arg())), VOID(NONE, false, kxOrientationField(c.arg(), c.arg())),
    VOID(NONE, false, kxFrequenceField(c.arg(), c.arg(), c.arg())), VOID(NONE, false, kxGabor(c.arg(), c.arg())),
};
constexpr int kCount = sizeof kExports / sizeof *kExports;
static_assert(kCount == 119, "one entry per export");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Ctx c(data, size);
    const int op = c.u8() % kCount;
    const Export &e = kExports[op];
    if (e.hint != NONE) c.a = c.make(e.hint, e.readOnly);
    Image *result = e.run(c);
    if (c.skip) return -1;  // a result too large for a short execution
    c.check(op);
    if (result && !c.owns(result)) {
        if (!c.mayCreate) fail("returned an image that is not an argument", op);
        if (!kx::typeOk(result) || result->isVirtual || result->magic != KXI_MAGIC)
            fail("new image not well formed", op);
        kxDestroyImage(result);
    }
    return 0;
}
