// Pages of documents: the paper under uneven light, its flattening, the
// stroke width and text height of a page, and a binarizer of stroke edges.
// Every step is integer arithmetic on a grey copy of the page (see
// kxextra.h for the formulas); the paper is estimated on a grid of cells and
// brought back to full size bilinearly, so its cost hardly depends on the
// scale.  The per-pixel loops are plain loops the compiler vectorises (the
// window decision is compiled per instruction level, isa::Clones); divisions
// go through exact reciprocals or tables built with the division itself.
#include <algorithm>
#include <cstring>
#include <vector>

#include "cleanup.hpp"
#include "extra_detail.hpp"
#include "frame/isa.hpp"

using namespace kx;

namespace {

constexpr int kRoughCell = 8;     // cell side of the first paper estimate (before the stroke width is known)
constexpr int kClosingCells = 3;  // radius, in cells, of the closing of the cell grid
constexpr int kMaxCell = 64;
constexpr int kMaxRun = 255;
constexpr int kFlatLevel = 230;  // rough ink: flattened pixels at most min(Otsu, this)
constexpr int kMinEdge = 20;     // stroke edges: a 3 x 3 spread above max(Otsu, this)
constexpr int kMaxSmoothing = 3; // 3 x 3 means at most, on a page too grainy for its contrast

bool pageOk(const Image *im)
{
    return typeOk(im) && (im->imageType == KIT_GRAY || im->imageType == KIT_RGB || im->imageType == KIT_RGBA);
}

// A packed grey copy of a usable grey or colour page (luminance truncated).
void greyCopy(const Image *im, uint8_t *out)
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
}

// Max (Max = true) or min filter of a packed gw x gh grid over the
// (2r+1)^2 square cut at the borders, separable: across each row, then
// down, each as r steps that fold in the samples at distance k.
template <bool Max>
void extremeFilter(std::vector<uint8_t> &grid, int gw, int gh, int r)
{
    auto pick = [](uint8_t a, uint8_t b) { return Max ? std::max(a, b) : std::min(a, b); };
    std::vector<uint8_t> tmp(grid);
    for (int y = 0; y < gh; ++y) {
        const uint8_t *in = &grid[size_t(y) * gw];
        uint8_t *out = &tmp[size_t(y) * gw];
        for (int k = 1; k <= r && k < gw; ++k)
            for (int x = 0; x < gw; ++x) {
                if (x >= k) out[x] = pick(out[x], in[x - k]);
                if (x + k < gw) out[x] = pick(out[x], in[x + k]);
            }
    }
    for (int y = 0; y < gh; ++y) {
        uint8_t *out = &grid[size_t(y) * gw];
        std::memcpy(out, &tmp[size_t(y) * gw], size_t(gw));
        for (int k = 1; k <= r; ++k) {
            if (y >= k) {
                const uint8_t *in = &tmp[size_t(y - k) * gw];
                for (int x = 0; x < gw; ++x) out[x] = pick(out[x], in[x]);
            }
            if (y + k < gh) {
                const uint8_t *in = &tmp[size_t(y + k) * gw];
                for (int x = 0; x < gw; ++x) out[x] = pick(out[x], in[x]);
            }
        }
    }
}

// floor(num / d) for 16 <= d <= 16384 and num < 256 * d: num * m >> 40 with
// m = ceil(2^40 / d).  With num = q*d + rho, the product is
// (q + rho/d + num*(m*d - 2^40)/(d*2^40)) * 2^40, and the last term is
// below num / 2^40 < 2^-18 < 1/d, so the floor is q.
struct Reciprocal {
    uint64_t m;
    explicit Reciprocal(uint32_t d) : m(((uint64_t(1) << 40) + d - 1) / d) {}
    uint32_t operator()(uint32_t num) const { return uint32_t((uint64_t(num) * m) >> 40); }
};

// The paper of a packed grey page at cell side s (see kxxEstimatePaper).
void paperOf(const uint8_t *g, int w, int h, int s, uint8_t *paper)
{
    const int gw = (w + s - 1) / s, gh = (h + s - 1) / s;
    std::vector<uint8_t> grid(size_t(gw) * gh);
    std::vector<uint32_t> acc(static_cast<size_t>(w));
    for (int cy = 0; cy < gh; ++cy) {
        std::fill(acc.begin(), acc.end(), 0u);
        const int y0 = cy * s, y1 = std::min(h, y0 + s);
        for (int y = y0; y < y1; ++y) {
            const uint8_t *r = g + size_t(y) * w;
            for (int x = 0; x < w; ++x) acc[size_t(x)] += r[x];
        }
        for (int cx = 0; cx < gw; ++cx) {
            const int x0 = cx * s, x1 = std::min(w, x0 + s);
            uint32_t sum = 0;
            for (int x = x0; x < x1; ++x) sum += acc[size_t(x)];
            const uint32_t n = uint32_t(x1 - x0) * uint32_t(y1 - y0);
            grid[size_t(cy) * gw + cx] = uint8_t((sum + n / 2) / n);
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
    // cells from the first centre.  The rows are blended first, per cell
    // (the sum of the four products is the same in either order).
    const int s2 = 2 * s;
    std::vector<int> x0(static_cast<size_t>(w)), x1(static_cast<size_t>(w)), ux(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
        const int num = 2 * x + 1 - s;
        const int i = num >= 0 ? num / s2 : -1;
        x0[size_t(x)] = std::clamp(i, 0, gw - 1);
        x1[size_t(x)] = std::clamp(i + 1, 0, gw - 1);
        ux[size_t(x)] = num - i * s2;
    }
    const uint32_t half = uint32_t(s2) * uint32_t(s2) / 2;
    const Reciprocal divide(uint32_t(s2) * uint32_t(s2));
    std::vector<uint32_t> blend(static_cast<size_t>(gw));
    for (int y = 0; y < h; ++y) {
        const int num = 2 * y + 1 - s;
        const int i = num >= 0 ? num / s2 : -1;
        const uint8_t *a = &smooth[size_t(std::clamp(i, 0, gh - 1)) * gw];
        const uint8_t *b = &smooth[size_t(std::clamp(i + 1, 0, gh - 1)) * gw];
        const uint32_t v = uint32_t(num - i * s2);
        for (int c = 0; c < gw; ++c) blend[size_t(c)] = a[c] * (uint32_t(s2) - v) + b[c] * v;
        uint8_t *o = paper + size_t(y) * w;
        for (int x = 0; x < w; ++x) {
            const uint32_t u = uint32_t(ux[size_t(x)]);
            o[x] = uint8_t(divide(blend[size_t(x0[size_t(x)])] * (uint32_t(s2) - u) + blend[size_t(x1[size_t(x)])] * u + half));
        }
    }
}

// page <- min(255, (page * 255 + b / 2) / b), b = max(paper, 1): a table row
// of the 256 quotients for each paper value met, built on first use.
void flatten(const uint8_t *g, const uint8_t *paper, size_t n, uint8_t *out)
{
    std::vector<uint8_t> table(256 * 256);
    bool built[256] = {};
    for (size_t i = 0; i < n; ++i) {
        const unsigned p = paper[i];
        uint8_t *t = &table[size_t(p) * 256];
        if (!built[p]) {
            const unsigned b = std::max(p, 1u);
            for (unsigned v = 0; v < 256; ++v) t[v] = uint8_t(std::min(255u, (v * 255u + b / 2) / b));
            built[p] = true;
        }
        out[i] = t[g[i]];
    }
}

void histogramOf(const uint8_t *v, size_t n, int32_t hist[256])
{
    std::fill(hist, hist + 256, 0);
    for (size_t i = 0; i < n; ++i) ++hist[v[i]];
}

int otsuOf(const uint8_t *v, size_t n)
{
    int32_t hist[256];
    histogramOf(v, n, hist);
    return kxxHistogramLevel(hist, KXX_OTSU);
}

// Rough ink of a flattened page: 1 where f <= min(Otsu, kFlatLevel).
void roughInk(const uint8_t *f, size_t n, uint8_t *ink)
{
    const uint8_t level = uint8_t(std::min(otsuOf(f, n), kFlatLevel));
    for (size_t i = 0; i < n; ++i) ink[i] = f[i] <= level ? 1 : 0;
}

// The most frequent length of the ink runs across and down that end inside
// the page, lengths 2..kMaxRun, on counts summed over three neighbouring
// lengths; the shortest on ties; 0 without such runs.  The runs down are
// followed row by row, one open run per column.
int strokeWidthOf(const uint8_t *ink, int w, int h)
{
    std::vector<int64_t> hist(kMaxRun + 2, 0);
    auto count = [&](int run) { ++hist[size_t(std::min(run, kMaxRun + 1))]; };
    std::vector<int32_t> down(static_cast<size_t>(w), 0);  // length of the run down ending above; -1: from row 0
    for (int y = 0; y < h; ++y) {
        const uint8_t *p = ink + size_t(y) * w;
        int run = 0;
        bool open = false;  // the run across started inside the row
        for (int x = 0; x < w; ++x) {
            int32_t &d = down[size_t(x)];
            if (p[x]) {
                if (run == 0) open = x > 0;
                ++run;
                d = d == 0 ? (y > 0 ? 1 : -1) : (d > 0 ? d + 1 : d - 1);
            } else {
                if (run > 0 && open) count(run);
                run = 0;
                if (d > 0) count(d);
                d = 0;
            }
        }
    }
    // Ties of the sums (a page of one sharp width ties L - 1, L and L + 1)
    // go to the larger count of the length itself, then to the shorter.
    int best = 0;
    int64_t bestSum = 0, bestOwn = 0;
    for (int len = 2; len <= kMaxRun; ++len) {
        const int64_t own = hist[size_t(len)];
        const int64_t c = hist[size_t(len - 1)] * (len > 2) + own + hist[size_t(len + 1)] * (len < kMaxRun);
        if (c > bestSum || (c == bestSum && c > 0 && own > bestOwn)) best = len, bestSum = c, bestOwn = own;
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

// Measures a packed grey page g.  Leaves the page flattened at the rough
// cell in `flat` and its rough ink in `ink`; `paper` is scratch (all n
// bytes).
// Measures of a page already flattened at the rough cell (see measure).
void measureFlat(const uint8_t *flat, int w, int h, bool wantHeight, uint8_t *ink, KxxPageMeasures *m)
{
    const size_t n = size_t(w) * size_t(h);
    roughInk(flat, n, ink);
    *m = KxxPageMeasures{};
    m->strokeWidth = strokeWidthOf(ink, w, h);
    m->textHeight = wantHeight && m->strokeWidth ? textHeightOf(ink, w, h, m->strokeWidth) : 0;
    m->paperCell = cellOf(m->strokeWidth);
}

void measure(const uint8_t *g, int w, int h, bool wantHeight, uint8_t *paper, uint8_t *flat, uint8_t *ink,
             KxxPageMeasures *m)
{
    paperOf(g, w, h, kRoughCell, paper);
    flatten(g, paper, size_t(w) * size_t(h), flat);
    measureFlat(flat, w, h, wantHeight, ink, m);
}

// 3-sample max and min across a row, cut at its ends.
void across3(const uint8_t *p, int w, uint8_t *hi, uint8_t *lo)
{
    if (w == 1) {
        hi[0] = lo[0] = p[0];
        return;
    }
    hi[0] = std::max(p[0], p[1]);
    lo[0] = std::min(p[0], p[1]);
    for (int x = 1; x < w - 1; ++x) {
        hi[x] = std::max(std::max(p[x - 1], p[x]), p[x + 1]);
        lo[x] = std::min(std::min(p[x - 1], p[x]), p[x + 1]);
    }
    hi[w - 1] = std::max(p[w - 2], p[w - 1]);
    lo[w - 1] = std::min(p[w - 2], p[w - 1]);
}

// The window decision of a row: N and S come from the running column sums
// as differences of their sums across, qn[x + span] - qn[x] (and qs).
[[gnu::always_inline]] inline void decideRow(const int32_t *qn, const int32_t *qs, int span, const uint8_t *f, int w,
                                             uint32_t minEdges, uint8_t weak, uint8_t *out) noexcept
{
    for (int x = 0; x < w; ++x) {
        const uint32_t count = uint32_t(qn[x + span] - qn[x]);
        const uint32_t sum = uint32_t(qs[x + span] - qs[x]);
        const uint32_t v = f[x];
        out[x] = count >= minEdges && 4u * v * count <= 3u * sum + 255u * count && v <= weak ? 1 : 0;
    }
}

struct EdgeLevels {
    int edge, window, weak;
};

// The 3 x 3 spread D = max - min of a packed page f (cut at its border)
// into hi (lo is scratch).
void spreadOf(const uint8_t *f, int w, int h, uint8_t *hi, uint8_t *lo)
{
    for (int y = 0; y < h; ++y) across3(f + size_t(y) * w, w, hi + size_t(y) * w, lo + size_t(y) * w);
    // Down: D = max of the three maxima - min of the three minima, written
    // over `hi` one row behind (row y - 1 is needed for row y).
    {
        std::vector<uint8_t> prevHi(hi, hi + w), prevLo(lo, lo + w), curHi(static_cast<size_t>(w)), curLo(static_cast<size_t>(w));
        for (int y = 0; y < h; ++y) {
            uint8_t *hb = hi + size_t(y) * w, *lb = lo + size_t(y) * w;
            std::memcpy(curHi.data(), hb, size_t(w));
            std::memcpy(curLo.data(), lb, size_t(w));
            const uint8_t *hc = y + 1 < h ? hb + w : hb, *lc = y + 1 < h ? lb + w : lb;
            for (int x = 0; x < w; ++x)
                hb[x] = uint8_t(std::max(std::max(prevHi[size_t(x)], curHi[size_t(x)]), hc[x]) -
                                std::min(std::min(prevLo[size_t(x)], curLo[size_t(x)]), lc[x]));
            std::swap(prevHi, curHi);
            std::swap(prevLo, curLo);
        }
    }
}

// The lower median of a histogram of n values.
int lowerMedian(const int32_t hist[256], size_t n)
{
    int median = 0;
    for (int64_t below = hist[0]; 2 * below < int64_t(n); below += hist[++median]) {
    }
    return median;
}

// Whether a page flattened at the rough cell is too grainy for its
// contrast: 5 * M > limit * C, M the lower median of its 3 x 3 spread (the
// grain of the paper: most of a page is paper), C = 255 - the mean of the
// pixels at most its Otsu level (floor), limit 2 before the first
// smoothing and 1 after it.  hi and lo are scratch.
bool tooGrainy(const uint8_t *f, int w, int h, int pass, uint8_t *hi, uint8_t *lo)
{
    const size_t n = size_t(w) * size_t(h);
    int32_t hist[256];
    histogramOf(f, n, hist);
    const int otsu = kxxHistogramLevel(hist, KXX_OTSU);
    int64_t count = 0, sum = 0;
    for (int v = 0; v <= otsu; ++v) count += hist[v], sum += int64_t(hist[v]) * v;
    if (count == 0) return false;
    const int64_t contrast = 255 - sum / count;
    spreadOf(f, w, h, hi, lo);
    histogramOf(hi, n, hist);
    return 5 * int64_t(lowerMedian(hist, n)) > (pass == 0 ? 2 : 1) * contrast;
}

// g <- the mean of the 3 x 3 square around each pixel, cut at the border:
// (sum + k/2) / k over its k pixels.  `tmp` is n bytes of scratch.
void mean3(uint8_t *g, int w, int h, uint8_t *tmp)
{
    std::vector<uint16_t> col(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        const int y0 = std::max(y - 1, 0), y1 = std::min(y + 1, h - 1);
        for (int x = 0; x < w; ++x) {
            unsigned c = 0;
            for (int yy = y0; yy <= y1; ++yy) c += g[size_t(yy) * w + x];
            col[size_t(x)] = uint16_t(c);
        }
        const unsigned rows = unsigned(y1 - y0 + 1);
        uint8_t *o = tmp + size_t(y) * w;
        for (int x = 0; x < w; ++x) {
            const int x0 = std::max(x - 1, 0), x1 = std::min(x + 1, w - 1);
            unsigned sum = 0;
            for (int xx = x0; xx <= x1; ++xx) sum += col[size_t(xx)];
            const unsigned k = rows * unsigned(x1 - x0 + 1);
            o[x] = uint8_t((sum + k / 2) / k);
        }
    }
    std::memcpy(g, tmp, size_t(w) * size_t(h));
}

// Ink candidates of a packed flattened page f into out (1 candidate, 0
// paper): steps 1-3 of kxxBinarizeDocumentEx.  `hi` and `lo` are n-byte
// scratch; the spread D is left in `hi`.
EdgeLevels candidates(const uint8_t *f, int w, int h, int sw, uint8_t *hi, uint8_t *lo, uint8_t *out)
{
    const size_t n = size_t(w) * size_t(h);
    spreadOf(f, w, h, hi, lo);
    const uint8_t *spread = hi;
    EdgeLevels lv;
    {
        // Above the noise of the paper too: twice the median spread (most
        // of a page is paper), the lower median.
        int32_t hist[256];
        histogramOf(spread, n, hist);
        lv.edge = std::max({kxxHistogramLevel(hist, KXX_OTSU), kMinEdge, 2 * lowerMedian(hist, n)});
    }
    const int otsu = otsuOf(f, n);
    lv.weak = otsu + (255 - otsu) / 2;
    const int r = 2 * std::max(sw, 1), span = 2 * r + 1;
    lv.window = span;
    const uint32_t minEdges = uint32_t(span * 3 / 2);
    const uint8_t level = uint8_t(lv.edge);
    // Column sums of the edge count and of the edge pixels' values over
    // rows y - r .. y + r (cut at the borders).
    std::vector<int32_t> colCount(static_cast<size_t>(w), 0), colSum(static_cast<size_t>(w), 0);
    auto addRow = [&](int y, int32_t sign) {
        const uint8_t *d = spread + size_t(y) * w, *v = f + size_t(y) * w;
        for (int x = 0; x < w; ++x) {
            const int32_t e = d[x] > level ? sign : 0;
            colCount[size_t(x)] += e;
            colSum[size_t(x)] += e * v[x];
        }
    };
    // Sums across: q[j] = the column sums of columns 0 .. j - r - 1, so the
    // window of x (columns x - r .. x + r, cut) is q[x + span] - q[x].
    std::vector<int32_t> qn(size_t(w) + size_t(span)), qs(size_t(w) + size_t(span));
    const auto decide = isa::Clones<decideRow>::table.pick();
    for (int y = 0; y < std::min(r, h); ++y) addRow(y, 1);
    for (int y = 0; y < h; ++y) {
        if (y + r < h) addRow(y + r, 1);
        if (y - r - 1 >= 0) addRow(y - r - 1, -1);
        int32_t cn = 0, cs = 0;
        for (int j = 0; j < w + span; ++j) {
            const int c = j - r - 1;
            if (c >= 0 && c < w) cn += colCount[size_t(c)], cs += colSum[size_t(c)];
            qn[size_t(j)] = cn;
            qs[size_t(j)] = cs;
        }
        decide(qn.data(), qs.data(), span, f + size_t(y) * w, w, minEdges, uint8_t(lv.weak), out + size_t(y) * w);
    }
    return lv;
}

// Step 4: keeps the 8-connected candidate components of at least `minArea`
// pixels that hold a pixel of f at most the strong level (returned; -1
// when there are no candidates).  Returns -2 when scratch memory fails.
int keepStrong(const uint8_t *f, int w, int h, int64_t minArea, int weak, int edge, uint8_t *ink)
{
    const size_t n = size_t(w) * size_t(h);
    int32_t hist[256] = {};
    for (size_t i = 0; i < n; ++i) hist[f[i]] += ink[i];
    int lowest = 0;
    while (lowest < 256 && !hist[lowest]) ++lowest;
    if (lowest == 256) return -1;
    // Otsu splits a narrow histogram anywhere, or between black headings
    // and grey body text: at least two thirds of the way from the darkest
    // candidate to the weak level.
    // A kept component also stands out from the paper (255 after the
    // flattening) by more than the edge level.
    const int strong = std::min(std::max(kxxHistogramLevel(hist, KXX_OTSU), lowest + (weak - lowest) * 2 / 3), 255 - edge);
    Image *view = kxCreateImageEx(KIT_BIN, w, h, w, ink, 0);
    if (!view) return failed("view", -2);
    TempImage hold(view);
    Scratch<int32_t> labels(n);
    if (!labels) return failed("labels", -2);
    const int count = kxx::labelComponents(view, true, labels.get());
    if (count < 0) return -2;
    std::vector<int32_t> area(size_t(count) + 1, 0);
    std::vector<uint8_t> keep(size_t(count) + 1, 0);
    for (size_t i = 0; i < n; ++i)
        if (const int32_t l = labels[i]) {
            ++area[size_t(l)];
            keep[size_t(l)] |= f[i] <= strong ? 1 : 0;
        }
    keep[0] = 0;
    for (int l = 1; l <= count; ++l) keep[size_t(l)] &= area[size_t(l)] >= minArea ? 1 : 0;
    for (size_t i = 0; i < n; ++i) ink[i] = keep[size_t(labels[i])];
    return strong;
}

// Grey copy, measures and flattened page of a usable page, in three n-byte
// planes g, flat and a scratch plane; `ink` receives the rough ink.
// cell <= 0 takes the paper cell of the page's measured stroke width.
// Returns the cell used.
int flattenedAt(const Image *page, int cell, uint8_t *g, uint8_t *flat, uint8_t *scratch, uint8_t *ink)
{
    const int w = page->width, h = page->height;
    greyCopy(page, g);
    if (cell <= 0) {
        KxxPageMeasures m;
        measure(g, w, h, false, scratch, flat, ink, &m);
        cell = m.paperCell;
        if (cell == kRoughCell) return cell;
    }
    cell = std::max(cell, 2);
    paperOf(g, w, h, cell, scratch);
    flatten(g, scratch, size_t(w) * size_t(h), flat);
    return cell;
}

}  // namespace

extern "C" {

int kxxMeasurePage(const Image *page, KxxPageMeasures *measures)
{
    if (!(page && measures)) return failed("page && measures", 0);
    if (!pageOk(page)) return 0;
    const int w = page->width, h = page->height;
    const size_t n = size_t(w) * size_t(h);
    Scratch<uint8_t> buf(4 * n);
    if (!buf) return failed("grey", 0);
    greyCopy(page, buf.get());
    measure(buf.get(), w, h, true, buf.get() + n, buf.get() + 2 * n, buf.get() + 3 * n, measures);
    return 1;
}

int kxxEstimateStrokeWidth(const Image *page)
{
    if (!page) return failed("page", -1);
    if (!pageOk(page)) return -1;
    const int w = page->width, h = page->height;
    const size_t n = size_t(w) * size_t(h);
    Scratch<uint8_t> buf(4 * n);
    if (!buf) return failed("grey", -1);
    greyCopy(page, buf.get());
    KxxPageMeasures m;
    measure(buf.get(), w, h, false, buf.get() + n, buf.get() + 2 * n, buf.get() + 3 * n, &m);
    return m.strokeWidth;
}

Image *kxxEstimatePaper(const Image *page, int cell, Image *paper)
{
    if (!(page && paper)) return failed("page && paper", paper);
    if (!pageOk(page) || !typeOk(paper) || paper->imageType != KIT_GRAY || !sameSize(page, paper) || cell > kMaxCell)
        return paper;
    const int w = page->width, h = page->height;
    const size_t n = size_t(w) * size_t(h);
    Scratch<uint8_t> buf(4 * n);
    if (!buf) return failed("grey", paper);
    uint8_t *g = buf.get(), *b = g + n;
    greyCopy(page, g);
    if (cell <= 0) {
        KxxPageMeasures m;
        measure(g, w, h, false, b, b + n, b + 2 * n, &m);
        cell = m.paperCell;
    }
    paperOf(g, w, h, std::max(cell, 2), b);
    for (int y = 0; y < h; ++y) std::memcpy(row(paper, y), b + size_t(y) * w, size_t(w));
    return paper;
}

Image *kxxFlattenPaper(Image *page, int cell)
{
    if (!page) return nullptr;
    if (!typeOk(page) || page->imageType != KIT_GRAY || cell > kMaxCell) return page;
    const int w = page->width, h = page->height;
    const size_t n = size_t(w) * size_t(h);
    Scratch<uint8_t> buf(4 * n);
    if (!buf) return failed("grey", page);
    uint8_t *g = buf.get(), *f = g + n;
    flattenedAt(page, cell, g, f, f + n, f + 2 * n);
    for (int y = 0; y < h; ++y) std::memcpy(row(page, y), f + size_t(y) * w, size_t(w));
    return page;
}

}  // extern "C"

namespace kxx {

Image *binarizeDocument(Image *page, int inkSet, int strokeWidth, bool keepSmall, KxxPageMeasures *measures) noexcept
{
    if (page->imageType != KIT_GRAY && !kxiCast(page, KIT_GRAY)) return page;
    const int w = page->width, h = page->height;
    const size_t n = size_t(w) * size_t(h);
    Scratch<uint8_t> buf(5 * n);
    if (!buf) return failed("grey", page);
    uint8_t *g = buf.get(), *flat = g + n, *hi = flat + n, *lo = hi + n, *ink = lo + n;
    greyCopy(page, g);
    // A page whose grain hides its strokes is smoothed first, up to
    // kMaxSmoothing times.
    for (int pass = 0;; ++pass) {
        paperOf(g, w, h, kRoughCell, hi);
        flatten(g, hi, n, flat);
        if (pass == kMaxSmoothing || !tooGrainy(flat, w, h, pass, hi, lo)) break;
        mean3(g, w, h, hi);
    }
    KxxPageMeasures m{};
    if (strokeWidth <= 0 || measures) measureFlat(flat, w, h, measures != nullptr, ink, &m);
    if (strokeWidth > 0) m.strokeWidth = strokeWidth;
    const int sw = m.strokeWidth ? m.strokeWidth : 3;
    m.paperCell = cellOf(sw);
    if (m.paperCell != kRoughCell) {
        paperOf(g, w, h, m.paperCell, hi);
        flatten(g, hi, n, flat);
    }
    const EdgeLevels lv = candidates(flat, w, h, sw, hi, lo, ink);
    m.edgeLevel = lv.edge;
    m.window = lv.window;
    m.weakLevel = lv.weak;
    const int strong = keepStrong(flat, w, h, keepSmall ? 1 : int64_t(sw) * sw, lv.weak, lv.edge, ink);
    if (strong == -2) return page;
    m.strongLevel = strong;
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

}  // namespace kxx

extern "C" {

Image *kxxBinarizeDocumentEx(Image *page, int inkSet, int strokeWidth, KxxPageMeasures *measures)
{
    if (!page) return nullptr;
    if (!pageOk(page) || strokeWidth > kMaxRun) return page;
    return kxx::binarizeDocument(page, inkSet, strokeWidth, false, measures);
}

Image *kxxBinarizeDocument(Image *page, int inkSet) { return kxxBinarizeDocumentEx(page, inkSet, 0, nullptr); }

}  // extern "C"
