// Cleaning binary pages of text (ink set): specks that keep the dots of
// text, dark scan borders along the page edge, long ruling lines.  Every
// rule is a count on 8-connected components or on runs of ink, so the
// results are exact and follow kxextra.h word for word.
#include <algorithm>
#include <cstring>

#include "cleanup.hpp"
#include "extra_detail.hpp"

using namespace kx;

namespace kxx {

namespace {

// Clears the pixels whose label has drop[label] set; counts them.
Removed clearLabels(Image *im, const int32_t *labels, const uint8_t *drop, int count)
{
    Removed r;
    for (int k = 1; k <= count; ++k) r.components += drop[k] != 0;
    const int w = im->width, h = im->height;
    for (int y = 0; y < h; ++y) {
        uint8_t *p = row(im, y);
        const int32_t *l = labels + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x)
            if (l[x] && drop[l[x]]) {
                p[x] = 0;
                ++r.pixels;
            }
    }
    return r;
}

}  // namespace

bool nearRect(const uint8_t *mask, int w, int h, int rx, int r, uint8_t *near, int32_t *column) noexcept
{
    Scratch<uint8_t> ring(size_t(r + 1) * size_t(w));
    if (!ring) return false;
    // Rows first (a running count over the row window into `near`), then
    // columns (a running count of those over the column window), in place
    // row by row: row y's result is written once rows up to y + r are in.
    for (int y = 0; y < h; ++y) {
        const uint8_t *m = mask + size_t(y) * size_t(w);
        uint8_t *o = near + size_t(y) * size_t(w);
        int inWindow = 0;
        for (int x = 0; x <= std::min(w - 1, rx); ++x) inWindow += m[x] != 0;
        for (int x = 0; x < w; ++x) {
            o[x] = inWindow > 0;
            if (x + rx + 1 < w) inWindow += m[x + rx + 1] != 0;
            if (x - rx >= 0) inWindow -= m[x - rx] != 0;
        }
    }
    // Column counts over rows y - r .. y + r of the row results; the row
    // results of rows above y - r are still needed after being replaced, so
    // keep a ring of the last r + 1 row results.
    std::fill(column, column + w, 0);
    auto rowOf = [&](int y) { return near + size_t(y) * size_t(w); };
    for (int y = 0; y <= std::min(h - 1, r); ++y)
        for (int x = 0; x < w; ++x) column[x] += rowOf(y)[x];
    for (int y = 0; y < h; ++y) {
        uint8_t *keep = &ring[size_t(y % (r + 1)) * size_t(w)];
        std::memcpy(keep, rowOf(y), size_t(w));
        for (int x = 0; x < w; ++x) rowOf(y)[x] = column[x] > 0;
        if (y + r + 1 < h)
            for (int x = 0; x < w; ++x) column[x] += rowOf(y + r + 1)[x];
        if (y - r >= 0)
            for (int x = 0; x < w; ++x) column[x] -= ring[size_t((y - r) % (r + 1)) * size_t(w) + size_t(x)];
    }
    return true;
}

Removed removeSpecks(Image *im, int maxArea, int nearArea, int reachX, int reachY) noexcept
{
    Removed r;
    if (maxArea < 1) return r;
    const int w = im->width, h = im->height;
    reachX = std::clamp(reachX, 0, w);  // farther reaches everything already
    reachY = std::clamp(reachY, 0, h);
    const size_t n = size_t(w) * size_t(h);
    Scratch<int32_t> labels(n);
    if (!labels) return failed("labels", Removed{0, 0, false});
    const int count = labelComponents(im, true, labels.get());
    Scratch<int64_t> areas(size_t(std::max(count, 0)) + 1);
    Scratch<uint8_t> drop(size_t(std::max(count, 0)) + 1);
    if (count < 0 || !areas || !drop) return failed("areas && drop", Removed{0, 0, false});
    int64_t *a = areas.get();
    std::fill(a, a + size_t(count) + 1, int64_t(0));
    for (size_t i = 0; i < n; ++i)  // the paper (label 0) skipped: no chain of increments of one count
        if (const int32_t l = labels[i]) ++a[size_t(l)];
    // Specks with a chance to stay: nearArea < area <= maxArea.  kind[k]:
    // 1 a letter, 2 such a speck, 0 otherwise (label 0 too).
    bool candidates = false, large = false;
    Scratch<uint8_t> kind(size_t(count) + 1);
    if (!kind) return failed("areas && drop", Removed{0, 0, false});
    kind[0] = 0;
    for (int k = 1; k <= count; ++k) {
        drop[k] = a[k] <= maxArea;
        kind[k] = a[k] > maxArea ? 1 : a[k] > nearArea ? 2 : 0;
        candidates |= kind[k] == 2;
        large |= kind[k] == 1;
    }
    if (candidates && large) {
        // A speck near a letter stays.
        Scratch<uint8_t> mask(n), near(n);
        Scratch<int32_t> column{size_t(w)};
        if (!(mask && near && column)) return failed("mask && near && column", Removed{0, 0, false});
        const int32_t *L = labels.get();
        const uint8_t *K = kind.get();
        for (size_t i = 0; i < n; ++i) mask[i] = K[L[i]] == 1;
        if (!nearRect(mask.get(), w, h, reachX, reachY, near.get(), column.get()))
            return failed("ring", Removed{0, 0, false});
        for (size_t i = 0; i < n; ++i)
            if (near[i] && K[L[i]] == 2) drop[L[i]] = 0;
    }
    return clearLabels(im, labels.get(), drop.get(), count);
}

namespace {

// The components of a KIT_BIN image with at least minContact pixels on its
// edge: drop[label] set for each (drop has room for the most labels an image
// can have, (w + 1) / 2 a row, plus label 0).  Returns the number of labels,
// -1 when scratch memory ran out.
size_t labelRoom(const Image *im) { return size_t(im->height) * size_t((im->width + 1) / 2) + 1; }

// Whether the edge of a KIT_BIN image holds at least minContact set pixels
// (else no component can: nothing to label).
bool edgeHolds(const Image *im, int minContact)
{
    const int w = im->width, h = im->height;
    int64_t n = 0;
    for (int x = 0; x < w; ++x) n += (row(im, 0)[x] != 0) + (h > 1 && row(im, h - 1)[x] != 0);
    for (int y = 1; y < h - 1; ++y) n += (row(im, y)[0] != 0) + (w > 1 && row(im, y)[w - 1] != 0);
    return n >= std::max(minContact, 1);
}

int bordering(const Image *im, int minContact, Scratch<int32_t> &labels, Scratch<uint8_t> &drop)
{
    minContact = std::max(minContact, 1);
    const int w = im->width, h = im->height;
    if (!labels) return -1;
    const int count = labelComponents(im, true, labels.get());
    Scratch<int64_t> contact(size_t(std::max(count, 0)) + 1);
    if (count < 0 || !contact || !drop) return -1;
    int64_t *t = contact.get();
    std::fill(t, t + size_t(count) + 1, int64_t(0));
    // Walk once round the edge (top row left to right, right column down,
    // bottom row right to left, left column up; each pixel once) and keep
    // each label's longest run of consecutive edge pixels, the run through
    // the starting corner joined across it.
    const int32_t *L = labels.get();
    auto at = [&](int x, int y) { return L[size_t(y) * size_t(w) + size_t(x)]; };
    int32_t first = -1, last = -1;
    int64_t run = 0, leading = -1, total = 0;
    auto step = [&](int32_t k) {
        run = k && k == last ? run + 1 : (k ? 1 : 0);
        if (first < 0) first = k;
        if (leading < 0 && k != first) leading = total;  // the first run ends
        if (k) t[k] = std::max(t[k], run);
        last = k;
        ++total;
    };
    for (int x = 0; x < w; ++x) step(at(x, 0));
    for (int y = 1; y < h; ++y) step(at(w - 1, y));
    if (h > 1)
        for (int x = w - 2; x >= 0; --x) step(at(x, h - 1));
    if (w > 1)
        for (int y = h - 2; y >= 1; --y) step(at(0, y));
    if (leading < 0 && first) t[first] = total;  // the whole edge is one run
    else if (first && last == first) t[first] = std::max(t[first], run + leading);
    drop[0] = 0;
    for (int k = 1; k <= count; ++k) drop[k] = t[k] >= minContact;
    return count;
}

}  // namespace

Removed clearScanBorder(Image *im, int minContact) noexcept
{
    if (!edgeHolds(im, minContact)) return Removed{};
    Scratch<int32_t> labels(size_t(im->width) * size_t(im->height));
    Scratch<uint8_t> drop(labelRoom(im));
    const int count = bordering(im, minContact, labels, drop);
    if (count < 0) return failed("labels && contact && drop", Removed{0, 0, false});
    return clearLabels(im, labels.get(), drop.get(), count);
}

Removed clearDarkBorder(Image *ink, const uint8_t *g, int level, int minContact, int solid, int reach) noexcept
{
    Removed r;
    const int w = ink->width, h = ink->height;
    const size_t n = size_t(w) * size_t(h);
    solid = std::clamp(solid, 0, std::max(w, h));
    reach = std::clamp(reach, 0, std::max(w, h));
    Scratch<uint8_t> dark(n), near(n);
    Scratch<int32_t> column{size_t(w)};
    if (!(dark && near && column)) return failed("dark && near && column", Removed{0, 0, false});
    for (size_t i = 0; i < n; ++i) dark[i] = g[i] <= level;
    Image *view = kxCreateImageEx(KIT_BIN, w, h, w, dark.get(), 0);
    if (!view) return failed("view", Removed{0, 0, false});
    TempImage hold(view);
    if (!edgeHolds(view, minContact)) return r;
    // The solid dark: pixels whose (2 solid + 1)^2 square (cut at the
    // image border) holds no light pixel.  Strokes and mottled, noisy dark
    // paper have none; a band of scan background keeps its middle.
    for (size_t i = 0; i < n; ++i) dark[i] = !dark[i];
    if (!nearRect(dark.get(), w, h, solid, solid, near.get(), column.get())) return failed("ring", Removed{0, 0, false});
    for (size_t i = 0; i < n; ++i) dark[i] = !near[i];
    if (!edgeHolds(view, minContact)) return r;
    Scratch<int32_t> labels(n);
    Scratch<uint8_t> drop(labelRoom(view));
    const int count = bordering(view, minContact, labels, drop);
    if (count < 0) return failed("labels && contact && drop", Removed{0, 0, false});
    bool any = false;
    for (size_t i = 0; i < n; ++i) {
        dark[i] = labels[i] != 0 && drop[size_t(labels[i])];
        any |= dark[i] != 0;
    }
    if (!any) return r;
    if (!nearRect(dark.get(), w, h, reach, reach, near.get(), column.get())) return failed("ring", Removed{0, 0, false});
    for (int y = 0; y < h; ++y) {
        uint8_t *p = row(ink, y);
        const uint8_t *m = near.get() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x)
            if (p[x] && m[x]) {
                p[x] = 0;
                ++r.pixels;
            }
    }
    r.components = 1;
    return r;
}

Removed removeRulings(Image *im, int minLength, int maxThickness) noexcept
{
    Removed r;
    const int w = im->width, h = im->height;
    const size_t n = size_t(w) * size_t(h);
    // Run lengths through every set pixel, across (rows) and down
    // (columns), capped at 65535; bit 1 of `long`: in a row run of at least
    // minLength, bit 2: in such a column run.
    Scratch<uint16_t> across(n), down(n);
    Scratch<uint8_t> longRun(n);
    if (!(across && down && longRun)) return failed("across && down && longRun", Removed{0, 0, false});
    std::memset(longRun.get(), 0, n);
    for (int y = 0; y < h; ++y) {
        const uint8_t *p = row(im, y);
        const size_t base = size_t(y) * size_t(w);
        for (int x = 0; x < w;) {
            if (!p[x]) {
                across[base + size_t(x++)] = 0;
                continue;
            }
            int e = x;
            while (e < w && p[e]) ++e;
            const uint16_t len = uint16_t(std::min(e - x, 65535));
            const bool isLong = e - x >= minLength;
            if (isLong) ++r.components;
            for (int k = x; k < e; ++k) {
                across[base + size_t(k)] = len;
                longRun[base + size_t(k)] |= isLong ? 1 : 0;
            }
            x = e;
        }
    }
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h;) {
            if (!row(im, y)[x]) {
                down[size_t(y++) * size_t(w) + size_t(x)] = 0;
                continue;
            }
            int e = y;
            while (e < h && row(im, e)[x]) ++e;
            const uint16_t len = uint16_t(std::min(e - y, 65535));
            const bool isLong = e - y >= minLength;
            if (isLong) ++r.components;
            for (int k = y; k < e; ++k) {
                down[size_t(k) * size_t(w) + size_t(x)] = len;
                longRun[size_t(k) * size_t(w) + size_t(x)] |= isLong ? 2 : 0;
            }
            y = e;
        }
    }
    // A pixel of a long row run goes when the ink through it down is no
    // thicker than the line; likewise across for a long column run.
    for (int y = 0; y < h; ++y) {
        uint8_t *p = row(im, y);
        const size_t base = size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) {
            const uint8_t b = longRun[base + size_t(x)];
            if (((b & 1) && down[base + size_t(x)] <= maxThickness) ||
                ((b & 2) && across[base + size_t(x)] <= maxThickness)) {
                p[x] = 0;
                ++r.pixels;
            }
        }
    }
    return r;
}

}  // namespace kxx

extern "C" {

Image *kxxDespeckleEx(Image *image, int connectivity, int minArea, int value)
{
    if (!image) return nullptr;
    if (value == 1) return kxxDespeckle(image, connectivity, minArea);
    if (value != 0 || !typeOk(image) || image->imageType != KIT_BIN || (connectivity != 4 && connectivity != 8) ||
        minArea <= 1)
        return image;
    // The clear pixels as a packed plane of their own, labelled; the set
    // pixels' bytes are never rewritten (only small clear components are).
    const int w = image->width, h = image->height;
    const size_t n = size_t(w) * size_t(h);
    Scratch<uint8_t> clear(n);
    Scratch<int32_t> labels(n);
    if (!(clear && labels)) return failed("labels", image);
    for (int y = 0; y < h; ++y) {
        const uint8_t *p = row(image, y);
        for (int x = 0; x < w; ++x) clear[size_t(y) * size_t(w) + size_t(x)] = p[x] == 0;
    }
    Image *view = kxCreateImageEx(KIT_BIN, w, h, w, clear.get(), 0);
    if (!view) return failed("labels", image);
    TempImage hold(view);
    const int count = kxx::labelComponents(view, connectivity == 8, labels.get());
    Scratch<int64_t> areas(size_t(std::max(count, 0)) + 1);
    if (count < 0 || !areas) return failed("labels", image);
    std::fill(areas.get(), areas.get() + count + 1, int64_t(0));
    for (size_t i = 0; i < n; ++i)
        if (const int32_t l = labels[i]) ++areas[size_t(l)];
    for (int y = 0; y < h; ++y) {
        uint8_t *p = row(image, y);
        const int32_t *l = labels.get() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x)
            if (l[x] && areas[size_t(l[x])] < minArea) p[x] = 1;
    }
    return image;
}

Image *kxxRemoveSpecks(Image *image, int maxArea, int nearArea, int reach)
{
    if (!image) return nullptr;
    if (!typeOk(image) || image->imageType != KIT_BIN) return image;
    kxx::removeSpecks(image, maxArea, nearArea, reach, reach);
    return image;
}

Image *kxxClearScanBorder(Image *image, int minContact)
{
    if (!image) return nullptr;
    if (!typeOk(image) || image->imageType != KIT_BIN) return image;
    kxx::clearScanBorder(image, minContact);
    return image;
}

Image *kxxRemoveRulings(Image *image, int minLength, int maxThickness)
{
    if (!image) return nullptr;
    if (!typeOk(image) || image->imageType != KIT_BIN || minLength < 2 || maxThickness < 1) return image;
    kxx::removeRulings(image, minLength, maxThickness);
    return image;
}

}  // extern "C"
