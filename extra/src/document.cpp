// Pages of documents: the paper under uneven light, its flattening, the
// stroke width and text height of a page, and a binarizer of stroke edges.
// Every step is integer arithmetic on a grey copy of the page (see
// kxextra.h for the formulas); the paper is estimated on a grid of cells and
// brought back to full size bilinearly, so its cost hardly depends on the
// scale.
#include <algorithm>
#include <cstring>
#include <vector>

#include "extra_detail.hpp"

using namespace kx;

namespace {

constexpr int kRoughCell = 8;     // cell side of the first paper estimate (before the stroke width is known)
constexpr int kClosingCells = 3;  // radius, in cells, of the closing of the cell grid
constexpr int kMaxCell = 64;
constexpr int kMaxRun = 255;
constexpr int kFlatLevel = 230;  // rough ink: flattened pixels at most min(Otsu, this)
constexpr int kMinEdge = 12;     // stroke edges: a 3 x 3 spread above max(Otsu, this)

bool pageOk(const Image *im)
{
    return typeOk(im) && (im->imageType == KIT_GRAY || im->imageType == KIT_RGB || im->imageType == KIT_RGBA);
}

// A packed grey copy of a usable grey or colour page (luminance truncated).
bool greyCopy(const Image *im, uint8_t *out)
{
    const int w = im->width, h = im->height, bpp = kxiBytesPerPixel(im->imageType);
    for (int y = 0; y < h; ++y) {
        const uint8_t *p = row(im, y);
        uint8_t *o = out + size_t(y) * size_t(w);
        if (bpp == 1)
            std::memcpy(o, p, size_t(w));
        else
            for (int x = 0; x < w; ++x) o[x] = luminance(p[x * bpp], p[x * bpp + 1], p[x * bpp + 2]);
    }
    return true;
}

// Running max (or min) over 2r + 1 samples of a line of n, the window cut
// at the ends.  Straightforward: the lines are cell grids or r = 1.
template <bool Max>
void runningExtreme(const uint8_t *in, size_t stride, int n, int r, uint8_t *out)
{
    for (int i = 0; i < n; ++i) {
        const int lo = std::max(0, i - r), hi = std::min(n - 1, i + r);
        uint8_t v = in[size_t(lo) * stride];
        for (int j = lo + 1; j <= hi; ++j) v = Max ? std::max(v, in[size_t(j) * stride]) : std::min(v, in[size_t(j) * stride]);
        out[i] = v;
    }
}

// Max (Max = true) or min filter of a packed gw x gh grid over the
// (2r+1)^2 square cut at the borders, separable.
template <bool Max>
void extremeFilter(std::vector<uint8_t> &grid, int gw, int gh, int r)
{
    std::vector<uint8_t> line(size_t(std::max(gw, gh))), tmp(grid.size());
    for (int y = 0; y < gh; ++y) runningExtreme<Max>(&grid[size_t(y) * gw], 1, gw, r, &tmp[size_t(y) * gw]);
    for (int x = 0; x < gw; ++x) {
        runningExtreme<Max>(&tmp[size_t(x)], size_t(gw), gh, r, line.data());
        for (int y = 0; y < gh; ++y) grid[size_t(y) * gw + x] = line[size_t(y)];
    }
}

// The paper of a packed grey page at cell side s (see kxxEstimatePaper).
void paperOf(const uint8_t *g, int w, int h, int s, uint8_t *paper)
{
    const int gw = (w + s - 1) / s, gh = (h + s - 1) / s;
    std::vector<uint8_t> grid(size_t(gw) * gh);
    std::vector<uint32_t> sums(static_cast<size_t>(gw));
    for (int cy = 0; cy < gh; ++cy) {
        std::fill(sums.begin(), sums.end(), 0u);
        const int y0 = cy * s, y1 = std::min(h, y0 + s);
        for (int y = y0; y < y1; ++y) {
            const uint8_t *r = g + size_t(y) * w;
            for (int x = 0; x < w; ++x) sums[size_t(x / s)] += r[x];
        }
        for (int cx = 0; cx < gw; ++cx) {
            const uint32_t n = uint32_t(std::min(w, cx * s + s) - cx * s) * uint32_t(y1 - y0);
            grid[size_t(cy) * gw + cx] = uint8_t((sums[size_t(cx)] + n / 2) / n);
        }
    }
    extremeFilter<true>(grid, gw, gh, kClosingCells);
    extremeFilter<false>(grid, gw, gh, kClosingCells);
    // 3 x 3 mean, the grid's edge cells repeated.
    std::vector<uint8_t> smooth(grid.size());
    for (int cy = 0; cy < gh; ++cy)
        for (int cx = 0; cx < gw; ++cx) {
            unsigned sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    sum += grid[size_t(std::clamp(cy + dy, 0, gh - 1)) * gw + size_t(std::clamp(cx + dx, 0, gw - 1))];
            smooth[size_t(cy) * gw + cx] = uint8_t((sum + 4) / 9);
        }
    // Bilinear between cell centres: pixel x lies at (2x + 1 - s) / (2s)
    // cells from the first centre.
    const int64_t s2 = 2 * int64_t(s);
    std::vector<int> x0(static_cast<size_t>(w)), x1(static_cast<size_t>(w)), ux(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
        const int64_t num = 2 * int64_t(x) + 1 - s;
        const int64_t i = num >= 0 ? num / s2 : -1;
        x0[size_t(x)] = int(std::clamp<int64_t>(i, 0, gw - 1));
        x1[size_t(x)] = int(std::clamp<int64_t>(i + 1, 0, gw - 1));
        ux[size_t(x)] = int(num - i * s2);
    }
    const int64_t half = s2 * s2 / 2, total = s2 * s2;
    for (int y = 0; y < h; ++y) {
        const int64_t num = 2 * int64_t(y) + 1 - s;
        const int64_t i = num >= 0 ? num / s2 : -1;
        const uint8_t *a = &smooth[size_t(std::clamp<int64_t>(i, 0, gh - 1)) * gw];
        const uint8_t *b = &smooth[size_t(std::clamp<int64_t>(i + 1, 0, gh - 1)) * gw];
        const int64_t v = num - i * s2;
        uint8_t *o = paper + size_t(y) * w;
        for (int x = 0; x < w; ++x) {
            const int64_t u = ux[size_t(x)];
            const int64_t top = a[x0[size_t(x)]] * (s2 - u) + a[x1[size_t(x)]] * u;
            const int64_t bottom = b[x0[size_t(x)]] * (s2 - u) + b[x1[size_t(x)]] * u;
            o[x] = uint8_t((top * (s2 - v) + bottom * v + half) / total);
        }
    }
}

// page <- min(255, (page * 255 + paper / 2) / max(paper, 1)).
void flatten(uint8_t *g, const uint8_t *paper, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const unsigned b = std::max<unsigned>(paper[i], 1u);
        g[i] = uint8_t(std::min(255u, (g[i] * 255u + b / 2) / b));
    }
}

int otsuOf(const uint8_t *v, size_t n)
{
    int32_t hist[256] = {};
    for (size_t i = 0; i < n; ++i) ++hist[v[i]];
    return kxxHistogramLevel(hist, KXX_OTSU);
}

// Rough ink of a flattened page: 1 where f <= min(Otsu, kFlatLevel).
void roughInk(const uint8_t *f, size_t n, uint8_t *ink)
{
    const int level = std::min(otsuOf(f, n), kFlatLevel);
    for (size_t i = 0; i < n; ++i) ink[i] = f[i] <= level ? 1 : 0;
}

// The most frequent length of the ink runs across and down that end inside
// the page, lengths 2..kMaxRun, on counts summed over three neighbouring
// lengths; the shortest on ties; 0 without such runs.
int strokeWidthOf(const uint8_t *ink, int w, int h)
{
    std::vector<int64_t> hist(kMaxRun + 2, 0);
    auto line = [&](const uint8_t *p, size_t stride, int n) {
        int run = 0;
        bool open = false;  // the run started inside the line (not at its start)
        for (int i = 0; i < n; ++i) {
            if (p[size_t(i) * stride]) {
                if (run == 0) open = i > 0;
                ++run;
            } else {
                if (run > 0 && open) ++hist[size_t(std::min(run, kMaxRun + 1))];
                run = 0;
            }
        }
    };
    for (int y = 0; y < h; ++y) line(ink + size_t(y) * w, 1, w);
    for (int x = 0; x < w; ++x) line(ink + x, size_t(w), h);
    int best = 0;
    int64_t bestCount = 0;
    for (int len = 2; len <= kMaxRun; ++len) {
        const int64_t c = hist[size_t(len - 1)] * (len > 2) + hist[size_t(len)] + hist[size_t(len + 1)] * (len < kMaxRun);
        if (c > bestCount) best = len, bestCount = c;
    }
    return best;
}

// The median height of the 8-connected rough-ink components of at least
// sw * sw pixels and height 2 * sw .. h / 4 (the lower median); 0 when none.
int textHeightOf(const uint8_t *ink, int w, int h, int sw)
{
    Image *view = kxCreateImageEx(KIT_BIN, w, h, w, const_cast<uint8_t *>(ink), 0);
    if (!view) return 0;
    TempImage hold(view);
    Scratch<int32_t> labels(size_t(w) * size_t(h));
    if (!labels) return failed("labels", 0);
    const int n = kxx::labelComponents(view, true, labels.get());
    if (n <= 0) return 0;
    std::vector<int> top(size_t(n) + 1, h), bottom(size_t(n) + 1, -1);
    std::vector<int64_t> area(size_t(n) + 1, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int32_t l = labels[size_t(y) * w + x];
            if (!l) continue;
            top[size_t(l)] = std::min(top[size_t(l)], y);
            bottom[size_t(l)] = y;
            ++area[size_t(l)];
        }
    std::vector<int> heights;
    for (int l = 1; l <= n; ++l) {
        const int height = bottom[size_t(l)] - top[size_t(l)] + 1;
        if (area[size_t(l)] >= int64_t(sw) * sw && height >= 2 * sw && height <= h / 4) heights.push_back(height);
    }
    if (heights.empty()) return 0;
    std::nth_element(heights.begin(), heights.begin() + (heights.size() - 1) / 2, heights.end());
    return heights[(heights.size() - 1) / 2];
}

int cellOf(int strokeWidth) { return std::clamp(strokeWidth, 2, kMaxCell); }

// Measures a packed grey page; `work` and `ink` are n-byte scratch.
void measure(const uint8_t *g, int w, int h, bool wantHeight, uint8_t *work, uint8_t *ink, KxxPageMeasures *m)
{
    const size_t n = size_t(w) * size_t(h);
    paperOf(g, w, h, kRoughCell, work);
    std::vector<uint8_t> f(g, g + n);
    flatten(f.data(), work, n);
    roughInk(f.data(), n, ink);
    m->strokeWidth = strokeWidthOf(ink, w, h);
    m->textHeight = wantHeight && m->strokeWidth ? textHeightOf(ink, w, h, m->strokeWidth) : 0;
    m->paperCell = cellOf(m->strokeWidth);
    m->edgeLevel = 0;
    m->window = 0;
}

// The stroke-edge binarization of a packed flattened page f into out
// (1 ink, 0 paper); returns the edge level.
int strokeEdges(const uint8_t *f, int w, int h, int sw, uint8_t *spread, uint8_t *out, int *windowOut)
{
    const size_t n = size_t(w) * size_t(h);
    {
        std::vector<uint8_t> hi(n), lo(n);
        for (int y = 0; y < h; ++y) {
            runningExtreme<true>(f + size_t(y) * w, 1, w, 1, &hi[size_t(y) * w]);
            runningExtreme<false>(f + size_t(y) * w, 1, w, 1, &lo[size_t(y) * w]);
        }
        for (int y = 0; y < h; ++y) {
            const uint8_t *ha = &hi[size_t(std::max(y - 1, 0)) * w], *hb = &hi[size_t(y) * w],
                          *hc = &hi[size_t(std::min(y + 1, h - 1)) * w];
            const uint8_t *la = &lo[size_t(std::max(y - 1, 0)) * w], *lb = &lo[size_t(y) * w],
                          *lc = &lo[size_t(std::min(y + 1, h - 1)) * w];
            uint8_t *d = spread + size_t(y) * w;
            for (int x = 0; x < w; ++x)
                d[x] = uint8_t(std::max({ha[x], hb[x], hc[x]}) - std::min({la[x], lb[x], lc[x]}));
        }
    }
    const int level = std::max(otsuOf(spread, n), kMinEdge);
    // Ink is never brighter than a fifth of the way from the page's Otsu
    // level towards the paper.
    const int otsu = otsuOf(f, n);
    const int dark = otsu + (255 - otsu) * 2 / 10;
    const int r = 2 * std::max(sw, 1);
    const int minEdges = (2 * r + 1) * 3 / 2;
    *windowOut = 2 * r + 1;
    // Column sums of the edge count and of the edge pixels' values over
    // rows y - r .. y + r (cut at the borders), then running sums across.
    std::vector<int32_t> colCount(static_cast<size_t>(w), 0), colSum(static_cast<size_t>(w), 0);
    auto addRow = [&](int y, int sign) {
        const uint8_t *d = spread + size_t(y) * w, *v = f + size_t(y) * w;
        for (int x = 0; x < w; ++x) {
            const int e = d[x] > level ? sign : 0;
            colCount[size_t(x)] += e;
            colSum[size_t(x)] += e * v[x];
        }
    };
    for (int y = 0; y < std::min(r, h); ++y) addRow(y, 1);
    for (int y = 0; y < h; ++y) {
        if (y + r < h) addRow(y + r, 1);
        if (y - r - 1 >= 0) addRow(y - r - 1, -1);
        int64_t count = 0, sum = 0;
        for (int x = 0; x < std::min(r, w); ++x) count += colCount[size_t(x)], sum += colSum[size_t(x)];
        const uint8_t *v = f + size_t(y) * w;
        uint8_t *o = out + size_t(y) * w;
        for (int x = 0; x < w; ++x) {
            if (x + r < w) count += colCount[size_t(x + r)], sum += colSum[size_t(x + r)];
            if (x - r - 1 >= 0) count -= colCount[size_t(x - r - 1)], sum -= colSum[size_t(x - r - 1)];
            o[x] = count >= minEdges && 10 * int64_t(v[x]) * count <= 11 * sum && v[x] <= dark ? 1 : 0;
        }
    }
    return level;
}

}  // namespace

extern "C" {

int kxxMeasurePage(const Image *page, KxxPageMeasures *measures)
{
    if (!(page && measures)) return failed("page && measures", 0);
    if (!pageOk(page)) return 0;
    const int w = page->width, h = page->height;
    const size_t n = size_t(w) * size_t(h);
    Scratch<uint8_t> buf(3 * n);
    if (!buf) return failed("grey", 0);
    greyCopy(page, buf.get());
    measure(buf.get(), w, h, true, buf.get() + n, buf.get() + 2 * n, measures);
    return 1;
}

int kxxEstimateStrokeWidth(const Image *page)
{
    if (!page) return failed("page", -1);
    if (!pageOk(page)) return -1;
    const int w = page->width, h = page->height;
    const size_t n = size_t(w) * size_t(h);
    Scratch<uint8_t> buf(3 * n);
    if (!buf) return failed("grey", -1);
    greyCopy(page, buf.get());
    KxxPageMeasures m;
    measure(buf.get(), w, h, false, buf.get() + n, buf.get() + 2 * n, &m);
    return m.strokeWidth;
}

Image *kxxEstimatePaper(const Image *page, int cell, Image *paper)
{
    if (!(page && paper)) return failed("page && paper", paper);
    if (!pageOk(page) || !typeOk(paper) || paper->imageType != KIT_GRAY || !sameSize(page, paper) || cell > kMaxCell)
        return paper;
    const int w = page->width, h = page->height;
    const size_t n = size_t(w) * size_t(h);
    Scratch<uint8_t> buf(3 * n);
    if (!buf) return failed("grey", paper);
    uint8_t *g = buf.get(), *b = g + n;
    greyCopy(page, g);
    if (cell <= 0) {
        KxxPageMeasures m;
        measure(g, w, h, false, b, b + n, &m);
        cell = m.paperCell;
    }
    cell = std::max(cell, 2);
    paperOf(g, w, h, cell, b);
    for (int y = 0; y < h; ++y) std::memcpy(row(paper, y), b + size_t(y) * w, size_t(w));
    return paper;
}

Image *kxxFlattenPaper(Image *page, int cell)
{
    if (!page) return nullptr;
    if (!typeOk(page) || page->imageType != KIT_GRAY || cell > kMaxCell) return page;
    const int w = page->width, h = page->height;
    const size_t n = size_t(w) * size_t(h);
    Scratch<uint8_t> buf(3 * n);
    if (!buf) return failed("grey", page);
    uint8_t *g = buf.get(), *b = g + n;
    greyCopy(page, g);
    if (cell <= 0) {
        KxxPageMeasures m;
        measure(g, w, h, false, b, b + n, &m);
        cell = m.paperCell;
    }
    cell = std::max(cell, 2);
    paperOf(g, w, h, cell, b);
    flatten(g, b, n);
    for (int y = 0; y < h; ++y) std::memcpy(row(page, y), g + size_t(y) * w, size_t(w));
    return page;
}

Image *kxxBinarizeDocumentEx(Image *page, int inkSet, int strokeWidth, KxxPageMeasures *measures)
{
    if (!page) return nullptr;
    if (!pageOk(page) || strokeWidth > kMaxRun) return page;
    if (page->imageType != KIT_GRAY && !kxiCast(page, KIT_GRAY)) return page;
    const int w = page->width, h = page->height;
    const size_t n = size_t(w) * size_t(h);
    Scratch<uint8_t> buf(4 * n);
    if (!buf) return failed("grey", page);
    uint8_t *g = buf.get(), *b = g + n, *ink = b + n, *spread = ink + n;
    greyCopy(page, g);
    KxxPageMeasures m{};
    if (strokeWidth <= 0) {
        measure(g, w, h, measures != nullptr, b, ink, &m);
    } else {
        m.strokeWidth = strokeWidth;
        if (measures) {
            measure(g, w, h, true, b, ink, &m);
            m.strokeWidth = strokeWidth;
        }
    }
    const int sw = m.strokeWidth ? m.strokeWidth : 3;
    m.paperCell = cellOf(sw);
    paperOf(g, w, h, m.paperCell, b);
    flatten(g, b, n);
    m.edgeLevel = strokeEdges(g, w, h, sw, spread, ink, &m.window);
    // Specks: ink components of fewer than sw * sw pixels.
    if (Image *view = kxCreateImageEx(KIT_BIN, w, h, w, ink, 0)) {
        TempImage hold(view);
        kxxDespeckle(view, 8, sw * sw);
    }
    const uint8_t on = inkSet ? 1 : 0;
    for (int y = 0; y < h; ++y) {
        uint8_t *o = row(page, y);
        const uint8_t *s = ink + size_t(y) * w;
        for (int x = 0; x < w; ++x) o[x] = s[x] ? on : uint8_t(1 - on);
    }
    page->imageType = KIT_BIN;
    if (measures) *measures = m;
    return page;
}

Image *kxxBinarizeDocument(Image *page, int inkSet) { return kxxBinarizeDocumentEx(page, inkSet, 0, nullptr); }

}  // extern "C"
