// Connected components of a binary image: two raster passes over a
// union-find forest of provisional labels, then per-label statistics and the
// largest-components cleaner built on them.  The speck cleaner needs no
// labels: it joins runs of set pixels (despeckleRuns).
//
// Pass 1 gives a set pixel the provisional label of an already visited
// neighbour (left, and the row above: up for 4-connectivity; up-left, up,
// up-right for 8), merging the sets of neighbours that differ, or a new
// label when none is set.  A union keeps the smaller root, so every set's
// root is its oldest label.  A component's first pixel in raster order has
// no visited neighbour in the component, so it opens the component's oldest
// label: numbering the roots in label order numbers the components in the
// raster order of their first pixels.
#include <algorithm>
#include <numeric>

#include "extra_detail.hpp"

using namespace kx;

namespace kxx {

namespace {

// Eight pixel bytes as one word (zero when all are clear).
inline uint64_t wordOf(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

int32_t findRoot(int32_t *parent, int32_t a)
{
    int32_t root = a;
    while (parent[root] != root) root = parent[root];
    while (parent[a] != root) {  // path compression
        const int32_t next = parent[a];
        parent[a] = root;
        a = next;
    }
    return root;
}

// Merges the sets of a and b; returns the root kept (the smaller).
int32_t unite(int32_t *parent, int32_t a, int32_t b)
{
    a = findRoot(parent, a);
    b = findRoot(parent, b);
    if (a == b) return a;
    if (a < b) {
        parent[b] = a;
        return a;
    }
    parent[a] = b;
    return b;
}

}  // namespace

int labelComponents(const Image *image, bool eight, int32_t *labels) noexcept
{
    const int w = image->width, h = image->height;
    // A new label needs a clear (or missing) left neighbour: at most
    // ceil(w / 2) new labels a row, plus the unused label 0.
    const size_t forestSize = size_t(h) * size_t((w + 1) / 2) + 1;
    Scratch<int32_t> forest(forestSize);
    if (!forest) return kx::failed("forest", -1);
    int32_t *parent = forest.get();
    parent[0] = 0;
    int32_t next = 1;

    for (int y = 0; y < h; ++y) {
        const uint8_t *p = row(image, y);
        int32_t *cur = labels + size_t(y) * size_t(w);
        const int32_t *up = y > 0 ? cur - w : nullptr;
        int x = 0;
        while (x < w) {
            // A run of clear pixels: skipped eight bytes at a time, its
            // labels cleared in one go.
            const int clear = x;
            while (x + 8 <= w && wordOf(p + x) == 0) x += 8;
            while (x < w && !p[x]) ++x;
            std::memset(cur + clear, 0, size_t(x - clear) * sizeof(int32_t));
            for (; x < w && p[x]; ++x) {
                // Already visited neighbours that touch each other are in
                // one set: left and up-left (stacked), left and up (8:
                // diagonal), up and both its sides (in one row).  So at most
                // one union a pixel is needed.
                const int32_t left = x > 0 ? cur[x - 1] : 0;
                int32_t l = left;
                if (up) {
                    if (up[x]) {
                        l = (eight || !left) ? up[x] : unite(parent, left, up[x]);
                    } else if (eight) {
                        const int32_t a = left ? left : (x > 0 ? up[x - 1] : 0);
                        const int32_t b = x + 1 < w ? up[x + 1] : 0;
                        l = a && b && a != b ? unite(parent, a, b) : (a ? a : b);
                    }
                }
                if (!l) {
                    l = next++;
                    parent[l] = l;
                }
                cur[x] = l;
            }
        }
    }

    // Final numbers, in place: a non-root's parent is an older label, so
    // walking the labels in order finds each parent already replaced by its
    // root's final number.
    int32_t count = 0;
    for (int32_t i = 1; i < next; ++i) parent[i] = parent[i] == i ? ++count : parent[parent[i]];
    // Only set pixels carry a provisional label; clear runs are skipped.
    for (int y = 0; y < h; ++y) {
        const uint8_t *p = row(image, y);
        int32_t *cur = labels + size_t(y) * size_t(w);
        for (int x = 0; x < w;) {
            while (x + 8 <= w && wordOf(p + x) == 0) x += 8;
            for (; x < w && !p[x]; ++x) {
            }
            for (; x < w && p[x]; ++x) cur[x] = parent[cur[x]];
        }
    }
    return count;
}

}  // namespace kxx

namespace {

bool connectivityOk(int c) { return c == 4 || c == 8; }

bool binaryOk(const Image *image) { return typeOk(image) && image->imageType == KIT_BIN; }

// Clears the pixels whose label is not kept (keep[label] == 0).
void clearUnkept(Image *image, const int32_t *labels, const uint8_t *keep)
{
    const int w = image->width;
    for (int y = 0; y < image->height; ++y) {
        uint8_t *p = row(image, y);
        const int32_t *l = labels + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x)
            if (!keep[l[x]]) p[x] = 0;
    }
}

// Labels the image and clears the components `select` does not keep;
// select(areas, count, keep) fills keep[0..count] from areas[0..count].
template <class Select>
Image *cleanComponents(Image *image, int connectivity, Select select)
{
    if (!image) return nullptr;
    if (!binaryOk(image) || !connectivityOk(connectivity)) return image;
    Scratch<int32_t> labels(size_t(pixelCount(image)));
    if (!labels) return kx::failed("labels", image);
    const int count = kxx::labelComponents(image, connectivity == 8, labels.get());
    if (count < 0) return image;
    Scratch<int32_t> areas(size_t(count) + 1);
    Scratch<uint8_t> keep(size_t(count) + 1);
    if (!(areas && keep)) return kx::failed("labels", image);
    std::fill(areas.get(), areas.get() + count + 1, 0);
    const size_t n = size_t(pixelCount(image));
    for (size_t i = 0; i < n; ++i) ++areas[size_t(labels[i])];
    keep[0] = 0;  // clear pixels stay clear either way
    select(areas.get(), count, keep.get());
    clearUnkept(image, labels.get(), keep.get());
    return image;
}

// ---- despeckling by runs --------------------------------------------------

// A run of set pixels of one row: columns x0..x1.
struct Run {
    int32_t x0, x1;
};

// Whether all eight bytes of a word are non-zero.
inline bool allSet(uint64_t v) { return ((v - 0x0101010101010101u) & ~v & 0x8080808080808080u) == 0; }

// The runs of set pixels of a row of w bytes, left to right; returns how
// many (at most (w + 1) / 2).
int rowRuns(const uint8_t *p, int w, Run *runs)
{
    int n = 0, x = 0;
    for (;;) {
        while (x + 8 <= w && kxx::wordOf(p + x) == 0) x += 8;
        while (x < w && !p[x]) ++x;
        if (x >= w) return n;
        const int start = x;
        while (x + 8 <= w && allSet(kxx::wordOf(p + x))) x += 8;
        while (x < w && p[x]) ++x;
        runs[n++] = {start, x - 1};
    }
}

// Clears the components of fewer than minArea pixels without labelling
// pixels: the runs of each row join the runs of the row above that touch
// them (sharing a column, or a corner for 8-connectivity) in a union-find
// forest numbered in raster order, whose roots count their components'
// pixels; a second pass finds the same runs again and clears those whose
// root counts too few.
bool despeckleRuns(Image *image, bool eight, int minArea)
{
    const int w = image->width, h = image->height;
    const size_t perRow = size_t(w + 1) / 2;
    Scratch<Run> rowBuf(2 * perRow);
    Scratch<int32_t> forest(size_t(h) * perRow);
    Scratch<int64_t> areas(size_t(h) * perRow);
    if (!(rowBuf && forest && areas)) return false;
    int32_t *parent = forest.get();
    int64_t *area = areas.get();
    Run *prev = rowBuf.get(), *cur = prev + perRow;
    const int reach = eight ? 1 : 0;
    int prevCount = 0;
    int32_t next = 0, prevFirst = 0;
    for (int y = 0; y < h; ++y) {
        const int count = rowRuns(row(image, y), w, cur);
        int j = 0;
        for (int i = 0; i < count; ++i) {
            const int32_t id = next + i;
            parent[id] = id;
            area[id] = cur[i].x1 - cur[i].x0 + 1;
            while (j < prevCount && prev[j].x1 + reach < cur[i].x0) ++j;
            for (int k = j; k < prevCount && prev[k].x0 <= cur[i].x1 + reach; ++k) {
                // The smaller root stays: roots are the oldest runs.
                int32_t a = kxx::findRoot(parent, prevFirst + k), b = kxx::findRoot(parent, id);
                if (a == b) continue;
                if (a > b) std::swap(a, b);
                parent[b] = a;
                area[a] += area[b];
            }
        }
        std::swap(prev, cur);
        prevCount = count;
        prevFirst = next;
        next += count;
    }
    // Every parent is an older run: in run order each parent's root is known.
    for (int32_t id = 0; id < next; ++id) parent[id] = parent[id] == id ? id : parent[parent[id]];
    int32_t id = 0;
    for (int y = 0; y < h; ++y) {
        uint8_t *p = row(image, y);
        const int count = rowRuns(p, w, cur);
        for (int i = 0; i < count; ++i, ++id)
            if (area[parent[id]] < minArea) std::memset(p + cur[i].x0, 0, size_t(cur[i].x1 - cur[i].x0 + 1));
    }
    return true;
}

}  // namespace

extern "C" {

int kxxLabel(const Image *image, int connectivity, int32_t *labels)
{
    if (!(image && labels)) return kx::failed("image && labels", -1);
    if (!binaryOk(image) || !connectivityOk(connectivity)) return -1;
    return kxx::labelComponents(image, connectivity == 8, labels);
}

int kxxComponentStats(const int32_t *labels, int width, int height, int count, KxxComponent *stats)
{
    if (!(labels && stats)) return kx::failed("labels && stats", 0);
    if (width < 1 || height < 1 || count < 0 || int64_t(width) * height > INT32_MAX) return 0;
    struct Acc {
        int64_t sx, sy;
        int32_t area, x0, y0, x1, y1;
    };
    Scratch<Acc> acc(size_t(count) + 1);
    if (!acc) return kx::failed("acc", 0);
    for (int i = 0; i <= count; ++i) acc[size_t(i)] = {0, 0, 0, INT32_MAX, INT32_MAX, -1, -1};
    for (int y = 0; y < height; ++y) {
        const int32_t *l = labels + size_t(y) * size_t(width);
        for (int x = 0; x < width;) {
            const int32_t k = l[x];
            if (k == 0) {
                // A run of label 0 (mostly the page) counts in one step.
                const int x0 = x;
                while (x < width && l[x] == 0) ++x;
                const int64_t n = x - x0;
                Acc &a = acc[0];
                a.area += int32_t(n);
                a.sx += (int64_t(x0) + (x - 1)) * n / 2;  // x0 + ... + (x - 1), exact
                a.sy += int64_t(y) * n;
                a.x0 = std::min(a.x0, x0);
                a.x1 = std::max(a.x1, x - 1);
                a.y0 = std::min(a.y0, y);
                a.y1 = std::max(a.y1, y);
                continue;
            }
            if (k > 0 && k <= count) {
                Acc &a = acc[size_t(k)];
                ++a.area;
                a.sx += x;
                a.sy += y;
                a.x0 = std::min(a.x0, x);
                a.x1 = std::max(a.x1, x);
                a.y0 = std::min(a.y0, y);
                a.y1 = std::max(a.y1, y);
            }
            ++x;
        }
    }
    for (int i = 0; i <= count; ++i) {
        const Acc &a = acc[size_t(i)];
        KxxComponent &s = stats[i];
        s.label = i;
        s.area = a.area;
        if (a.area == 0) {
            s.left = s.top = s.width = s.height = 0;
            s.cx = s.cy = 0.0;
            continue;
        }
        s.left = a.x0;
        s.top = a.y0;
        s.width = a.x1 - a.x0 + 1;
        s.height = a.y1 - a.y0 + 1;
        s.cx = double(a.sx) / double(a.area);
        s.cy = double(a.sy) / double(a.area);
    }
    return 1;
}

Image *kxxDespeckle(Image *image, int connectivity, int minArea)
{
    if (!image) return nullptr;
    if (!binaryOk(image) || !connectivityOk(connectivity)) return image;
    if (!despeckleRuns(image, connectivity == 8, minArea)) return kx::failed("labels", image);
    return image;
}

Image *kxxKeepLargest(Image *image, int connectivity, int n)
{
    return cleanComponents(image, connectivity, [&](const int32_t *areas, int count, uint8_t *keep) {
        std::fill(keep + 1, keep + count + 1, uint8_t(0));
        if (n <= 0) return;
        if (n >= count) {
            std::fill(keep + 1, keep + count + 1, uint8_t(1));
            return;
        }
        // The n-th largest (area, then lower label first) by a partial
        // order of the labels; ranks are total, so exactly n stay.
        Scratch<int32_t> order{size_t(count)};
        if (!order) {  // no room to rank: keep everything rather than guess
            kx::failed("order");
            std::fill(keep + 1, keep + count + 1, uint8_t(1));
            return;
        }
        std::iota(order.get(), order.get() + count, 1);
        auto before = [&](int32_t a, int32_t b) { return areas[a] != areas[b] ? areas[a] > areas[b] : a < b; };
        std::nth_element(order.get(), order.get() + (n - 1), order.get() + count, before);
        for (int i = 0; i < n; ++i) keep[order[size_t(i)]] = 1;
    });
}

}  // extern "C"
