// Fuzz harness over every export of libkxpre (docs/reliability.md).  An
// input starts with an export's name and a zero byte (corpus seeds
// <export>-*), or else its first byte chooses an export by its place; the
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
#include <deque>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include <sanitizer/common_interface_defs.h>

#include "frame/frame.hpp"
#include "kxmask.h"
#include "kxpre.h"

namespace {

[[noreturn]] void fail(const char *what, const char *op)
{
    char text[160];  // reported through the sanitizers: -close_fd_mask=2 closes stderr
    std::snprintf(text, sizeof text, "kxfuzz_exports: %s (%s)", what, op);
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
        if (!s.im) fail("image creation", "-");
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
    void check(const char *op) const
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
    EllipseBox box()
    {
        EllipseBox b{realD(), realD(), realD(), realD(), realD()};
        if (flag(2))
            b = EllipseBox{double(arg() % 20), double(arg() % 20), double(u8() % 30), double(u8() % 30), real()};
        return b;
    }
    // A short text (with line breaks), a font face name, or null.
    const char *text()
    {
        static const char *const faces[] = {"Arial", "DejaVu Sans", "", "no such face at all", "Liberation Serif",
                                            "a face name far longer than thirty-one characters"};
        if (flag(16)) return nullptr;
        if (flag(4)) return pick(faces, u8());
        std::string &t = texts_.emplace_back(u8() % 24, ' ');
        for (char &ch : t) ch = char(flag(6) ? '\n' : 32 + u8() % 224);
        return t.c_str();
    }

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

    static void check(const Slot &s, const char *op)
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
    std::deque<std::string> texts_;
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
    const char *name;
    int hint;       // the type of `a` (ANY: any, NONE: no `a`)
    bool readOnly;  // `a` must come back unchanged
    Image *(*run)(Ctx &);
};

#define BODY(name, hint, ro, ...) {name, hint, ro, [](Ctx &c) -> Image * { __VA_ARGS__; }}
#define RET(name, hint, ...) BODY(name, hint, false, return __VA_ARGS__)

Image *scale(Ctx &c, bool e1)
{
    const float factor = c.real();
    const int filter = c.arg();
    if (factor > 0 && scaledSide(c.a->width, factor) * scaledSide(c.a->height, factor) > kMaxResultPixels)
        return c.skipped();
    if (!e1) return (void)kxScale(c.a, factor, filter), nullptr;
    return kxScaleE1(c.a, factor, c.colour(), filter, c.arg());
}

// Rows in place of the generated ones: bounds on costly arguments, value
// mixes the plain decoding rarely meets, optional images the manifest passes
// as constants.  The rows of exports taking a destination keep the decoding
// their fault seeds (*-unusable-destination) were written for.
const Export kHandRows[] = {
    BODY("kxPixelMerge", ANY, true, Image *dst = c.other(c.a->imageType);
         return kxPixelMerge(c.a, dst, c.flag(4) ? c.arg() : 1203 + c.u8() % 11)),
    BODY("kxClip", ANY, false, const int l = c.arg(), t = c.arg(), r = c.arg(), b = c.arg();
         if (r >= l && b >= t && (int64_t(r) - l + 1) * (int64_t(b) - t + 1) > kMaxResultPixels) return c.skipped();
         return kxClip(c.a, l, t, r, b)),
    RET("kxbIsoData", G, kxbIsoData(c.a, clampRepeat(c.arg(), 1000), c.arg())),
    RET("kxbMultiLevel", G, kxbMultiLevel(c.a, levels(c.arg()))),
    BODY("kxThreshold", G, false, const int method = c.flag(3) ? c.arg() : c.u8() % 22; int p1 = c.arg();
         p1 = method == 19 ? clampRepeat(p1, 1000) : method == 17 ? levels(p1) : p1;
         return kxThreshold(c.a, method, p1, c.arg(), c.realD())),
    BODY("kxFilter", NONE, false, int dummy = 0; return kxFilter(c.maybe(ANY), c.flag(2) ? nullptr : &dummy)),
    BODY("kxRetrieveEdgeE1", B, false, const int mode = c.arg();
         return kxRetrieveEdgeE1(c.a, mode, c.flag(3) ? nullptr : c.other(B))),
    BODY("kxResize", ANY, false, const int w = c.arg(); int h = c.arg();
         const int64_t cw = std::min(w, 16384), ch = std::min(h, 16384);
         if (cw > 0 && ch > 0 && cw * ch > kMaxResultPixels) h = int(std::max<int64_t>(1, kMaxResultPixels / cw));
         return kxResize(c.a, w, h, c.colour())),
    BODY("kxMakeSquarePixel", ANY, false, const int px = c.arg(), py = c.arg(), filter = c.arg(), shrink = c.arg();
         const double side = std::max(c.a->width, c.a->height);
         const double grown = px > 0 && py > 0 ? (px > py ? double(px) / py : double(py) / px) * side * side : 0;
         if (!shrink && grown > double(kMaxResultPixels) && grown / side <= 16384.0) return c.skipped();
         return (void)kxMakeSquarePixel(c.a, px, py, filter, shrink), nullptr),
    BODY("kxScale", ANY, false, return scale(c, false)), BODY("kxScaleE1", ANY, false, return scale(c, true)),
    // Cost grows with the larger semi-axis (8 points per pixel of it, up to
    // 2097151): keep accepted ones short.
    BODY("kxSetEllipse", ANY, false, const int cx = c.arg(), cy = c.arg(); int rx = c.arg(), ry = c.arg();
         if (rx > 4096 && rx <= 2097151) rx %= 4096; if (ry > 4096 && ry <= 2097151) ry %= 4096;
         kxSetEllipse(c.a, cx, cy, rx, ry, c.real(), c.colour()); return nullptr),
    BODY("kxFloodMask", ANY, true, const int x = c.arg(), y = c.arg(); const FloodRecord lo = c.tolerance(),
         up = c.tolerance(); const int connectivity = c.arg(), flags = int(c.u32());
         return c.created(kxFloodMask(c.a, x, y, lo, up, connectivity, flags, c.flag(3) ? nullptr : c.other(G)))),
    BODY("kxPyramid", ANY, false, const int value = c.flag(4) ? c.arg() : c.u8() % 2;
         return c.created(kxPyramid(c.a, value, c.flag(3) ? nullptr : c.other(ANY)))),
    BODY("kxWarp", G, true, auto s = c.fpoints(4); auto d = c.fpoints(4);
         Image *dst = c.flag(3) ? nullptr : c.other(ANY);
         return c.created(kxWarp(c.a, c.quad(s), c.quad(d), dst))),
    BODY("kxUnwarp", G, true, auto s = c.fpoints(4); Image *dst = c.flag(4) ? nullptr : c.other(ANY);
         return c.created(kxUnwarp(c.a, c.quad(s), dst))),
    BODY("kxWarpEx", G, true, const int sc = c.arg() % 9, dc = c.arg() % 9; auto s = c.fpoints(sc);
         auto d = c.fpoints(dc); const int patch = c.arg(); Image *dst = c.flag(3) ? nullptr : c.other(ANY);
         return c.created(kxWarpEx(c.a, s.data(), sc, d.data(), dc, patch, dst))),
    BODY("kxCopyPixelsE3", G, true, auto s = c.fpoints(4);
         kxCopyPixelsE3(c.a, c.other(ANY), c.flag(8) ? nullptr : s.data()); return nullptr),
    BODY("kxCanny", G, false, const double t1 = c.realD(), t2 = c.realD(); const int binarise = c.arg();
         const int value = c.flag(3) ? c.arg() : (3 + 2 * (c.u8() % 3)) | (c.flag(2) ? KXV_CANNY_L2 : 0);
         return kxCanny(c.a, t1, t2, binarise, value)),
};

// One row per export, in the manifest's order: the hand row where there is
// one, else the generated one.
const std::vector<Export> kExports = [] {
    std::vector<Export> rows = {
#include "fuzz_calls.inc"
    };
    for (const Export &h : kHandRows) {
        const auto e = std::find_if(rows.begin(), rows.end(),
                                    [&](const Export &r) { return std::string_view(r.name) == h.name; });
        if (e == rows.end()) fail("a hand row names no export", h.name);
        *e = h;
    }
    return rows;
}();

// The export an input names and the length of its prefix, or the one its
// first byte chooses.
std::pair<int, size_t> chosen(const uint8_t *data, size_t size)
{
    const auto *end = static_cast<const uint8_t *>(std::memchr(data, 0, std::min<size_t>(size, 40)));
    if (end) {
        const std::string_view name(reinterpret_cast<const char *>(data), size_t(end - data));
        for (size_t i = 0; i < kExports.size(); ++i)
            if (name == kExports[i].name) return {int(i), name.size() + 1};
    }
    return {size ? data[0] % int(kExports.size()) : 0, 1};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto [op, skip] = chosen(data, size);
    Ctx c(data + std::min(skip, size), size - std::min(skip, size));
    const Export &e = kExports[size_t(op)];
    if (e.hint != NONE) c.a = c.make(e.hint, e.readOnly);
    Image *result = e.run(c);
    if (c.skip) return -1;  // a result too large for a short execution
    c.check(e.name);
    if (result && !c.owns(result)) {
        if (!c.mayCreate) fail("returned an image that is not an argument", e.name);
        if (!kx::typeOk(result) || result->isVirtual || result->magic != KXI_MAGIC)
            fail("new image not well formed", e.name);
        kxDestroyImage(result);
    }
    return 0;
}
