// Clean-up of binary images and margins.
//
//   kxRemoveBorder    KIT_BIN; other types unchanged
//   kxRemoveBorderEx  KIT_BIN, with an optional one-byte region mask
//   kxFillHole        KIT_BIN; other types unchanged
//   kxFillHoleEx      KIT_BIN, with an optional one-byte region mask
//   kxRetrieveEdge    KIT_BIN; other types unchanged
//   kxRetrieveEdgeE1  KIT_BIN; other types leave both images unchanged
//   kxCutMargin       KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA (alpha kept)
#include "binary/binary_detail.hpp"

using namespace kx;
using namespace kx::binary;

namespace {

bool isBin(const Image *im) { return typeOk(im) && im->imageType == KIT_BIN; }

Plane planeOf(Image *im) { return Plane{im->data, im->width, im->height, im->pitch}; }

// Turns every marked pixel back to 0.
void clearMarks(Image *im) noexcept
{
    for (int y = 0; y < im->height; ++y) {
        uint8_t *p = row(im, y);
        for (int x = 0; x < im->width; ++x) p[x] = p[x] == kReached ? 0 : p[x];
    }
}

// A packed working copy of a binary image, each byte mapped by f.
template <class F>
bool fillWork(Scratch<uint8_t> &work, const Image *im, F f)
{
    if (!work) return false;
    const size_t w = size_t(im->width);
    for (int y = 0; y < im->height; ++y) {
        const uint8_t *p = row(im, y);
        uint8_t *q = work.get() + size_t(y) * w;
        for (size_t x = 0; x < w; ++x) q[x] = f(p[x]);
    }
    return true;
}

// One row of setSurvivors: a select per byte, no branch, so the loop runs
// on whole vectors.
[[gnu::always_inline]] inline void survivorsRow(uint8_t *__restrict p, const uint8_t *__restrict q,
                                                const uint8_t *__restrict k, size_t w) noexcept
{
    if (k)
        for (size_t x = 0; x < w; ++x) p[x] = q[x] != 0 && q[x] != kReached && k[x] ? 1 : p[x];
    else
        for (size_t x = 0; x < w; ++x) p[x] = q[x] != 0 && q[x] != kReached ? 1 : p[x];
}

// Sets to 1 the image pixels whose working byte survived the marking (non
// zero and not marked) and, with a mask, whose mask byte is non-zero.
void setSurvivors(Image *im, const uint8_t *work, MaskPlane m) noexcept
{
    const size_t w = size_t(im->width);
    const auto survivors = isa::Clones<survivorsRow>::table.pick();
    for (int y = 0; y < im->height; ++y) survivors(row(im, y), work + size_t(y) * w, m.data ? m.row(y) : nullptr, w);
}

}  // namespace

extern "C" {

void kxRemoveBorder(Image *image)
{
    if (!image) return kx::failed("image");
    if (!isBin(image)) return;
    markBorderRegions(planeOf(image), MaskPlane{});
    clearMarks(image);
}

void kxRemoveBorderEx(Image *image, const Image *mask)
{
    if (!image) return kx::failed("image");
    if (!isBin(image)) return;
    if (!mask) return kxRemoveBorder(image);
    if (!sameSize(image, mask))
        return kx::failed("(pI)->width == (pMask)->width && (pI)->height == (pMask)->height");
    if (!maskOk(mask)) return;
    markBorderRegions(planeOf(image), MaskPlane{mask->data, mask->pitch});
    clearMarks(image);
}

void kxFillHole(Image *image)
{
    if (!isBin(image)) return;
    // The inverted image's border regions are the image's background; what
    // stays set after marking them are the holes.
    Scratch<uint8_t> work(size_t(pixelCount(image)));
    if (!fillWork(work, image, [](uint8_t b) { return uint8_t(1 - b); })) return;
    markBorderRegions(Plane{work.get(), image->width, image->height, image->width}, MaskPlane{});
    setSurvivors(image, work.get(), MaskPlane{});
}

void kxFillHoleEx(Image *image, const Image *mask)
{
    if (!image) return kx::failed("image");
    if (!isBin(image)) return;
    MaskPlane m;
    if (mask) {
        if (!sameSize(image, mask))
            return kx::failed("(pI)->width == (pM)->width && (pI)->height == (pM)->height");
        if (!maskOk(mask)) return;
        m = MaskPlane{mask->data, mask->pitch};
    }
    // The background inside the mask is set in the working copy (outside
    // it the marking clears everything); its regions connected to the image
    // border or to the mask's edge are marked, and the rest are the holes.
    Scratch<uint8_t> work(size_t(pixelCount(image)));
    if (!fillWork(work, image, [](uint8_t b) { return uint8_t(b == 0); })) return;
    markBorderRegions(Plane{work.get(), image->width, image->height, image->width}, m);
    setSurvivors(image, work.get(), m);
}

int kxRetrieveEdge(Image *image, int mode, int value)
{
    if (!isBin(image)) return value;
    const int w = image->width, h = image->height;
    Scratch<uint8_t> edge(size_t(pixelCount(image)));
    if (!edge) return value;
    std::memset(edge.get(), 0, edge.size());
    // Mode 0 keeps set pixels next to an unset one, other modes mark unset
    // pixels next to a set one; side neighbours only, frame left 0.
    const uint8_t self = mode == 0 ? 1 : 0, other = mode == 0 ? 0 : 1;
    for (int y = 1; y < h - 1; ++y) {
        const uint8_t *p = row(image, y), *up = row(image, y - 1), *dn = row(image, y + 1);
        uint8_t *e = edge.get() + size_t(y) * size_t(w);
        for (int x = 1; x < w - 1; ++x)
            e[x] = p[x] == self && (p[x - 1] == other || p[x + 1] == other || up[x] == other || dn[x] == other);
    }
    for (int y = 0; y < h; ++y) std::memcpy(row(image, y), edge.get() + size_t(y) * size_t(w), size_t(w));
    return value;
}

Image *kxRetrieveEdgeE1(Image *image, int mode, Image *destination)
{
    if (!isBin(image)) return destination;
    // Writing into the image while reading it would feed later pixels, so
    // an aliased destination is treated as no destination.
    Image *const target = destination == image ? nullptr : destination;
    if (target && !kxiIsWellFormed(target)) return destination;  // an unusable record is left alone
    TempImage own(target ? nullptr : kxiClone(image, nullptr));
    Image *work = target ? kxiClone(image, target) : own.get();
    const uint8_t *pRowDest = work && kxiIsWellFormed(work) && sameSize(work, image) ? row(work, 0) : nullptr;
    const uint8_t *pRowSrc = row(image, 0);
    if (!(pRowDest && pRowSrc)) return kx::failed("pRowDest && pRowSrc", destination ? destination : image);

    // A set pixel whose side (mode 0) or all eight (other modes) neighbours
    // are set is cleared in the copy; reads come from the image only.
    const int w = image->width, h = image->height;
    for (int y = 1; y < h - 1; ++y) {
        const uint8_t *p = row(image, y), *up = row(image, y - 1), *dn = row(image, y + 1);
        uint8_t *q = row(work, y);
        for (int x = 1; x < w - 1; ++x) {
            if (!p[x] || !p[x - 1] || !p[x + 1] || !up[x] || !dn[x]) continue;
            if (mode != 0 && (!up[x - 1] || !up[x + 1] || !dn[x - 1] || !dn[x + 1])) continue;
            q[x] = 0;
        }
    }
    if (target) return target;
    for (int y = 0; y < h; ++y) std::memcpy(row(image, y), row(work, y), size_t(w));
    return image;
}

void kxCutMargin(Image *image, int margin)
{
    if (!image) return kx::failed("image");
    if (!typeOk(image)) return;
    const int m = margin > 1 ? margin : 1;
    const int w = image->width, h = image->height;
    if (w <= m || h <= m) return;
    const int bpp = kxiBytesPerPixel(image->imageType);
    // Colour pixels lose B, G and R; alpha stays.
    auto blank = [&](uint8_t *p, int count) {
        if (bpp == 1) {
            std::memset(p, 0, size_t(count));
            return;
        }
        for (int i = 0; i < count; ++i, p += bpp) p[0] = p[1] = p[2] = 0;
    };
    for (int y = 0; y < m; ++y) blank(row(image, y), w);
    for (int y = h - m; y < h; ++y) blank(row(image, y), w);
    for (int y = 0; y < h; ++y) {
        blank(row(image, y), m);
        blank(row(image, y) + size_t(w - m) * size_t(bpp), m);
    }
}

}  // extern "C"
