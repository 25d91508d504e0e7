// Polygon fills, in place:
//   kxFillPolygon    even-odd inside                       KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxFillPolygonE1  inside the first, not the second      KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
//   kxFillPolygonE2  closed outline, optional seed fill    KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA
// Other image types are left as they are.
//
// Inside test (pointInPolygon): an edge from vertex i to vertex i+1 (the
// last joins the first) counts for row y when min(y1,y2) <= y < max(y1,y2)
// and its crossing xi = (y-y1)(x2-x1)/(y2-y1) + x1, computed in double and
// rounded to single precision, lies strictly right of x; horizontal edges
// never count; odd counts are inside.  Rather than testing every pixel, each
// row takes the crossings of its active edges once: a pixel x is right-of
// crossing j exactly when x < ceil(xi_j), so the sorted ceilings cut the row
// into runs of equal count and whole runs are painted.  Same crossings, same
// pixels.
#include <cmath>

#include "draw/draw_detail.hpp"

using namespace kx;
using namespace kx::draw;

namespace {

struct Edge {
    int64_t x1, y1, x2, y2;  // as given: (x1, y1) is the edge's first vertex
    int64_t r0, r1;          // rows where it counts, clipped to the image
};

// The crossing of an edge with row y, as the inside test rounds it.
inline float crossing(const Edge &e, int64_t y)
{
    return float(double(y - e.y1) * double(e.x2 - e.x1) / double(e.y2 - e.y1) + double(e.x1));
}

// Rows usually cross a handful of edges: those few limits are put in order
// by insertion, more by the library sort.
inline void sortCuts(int64_t *c, size_t n)
{
    if (n > 16) return std::sort(c, c + n);
    for (size_t i = 1; i < n; ++i) {
        const int64_t v = c[i];
        size_t j = i;
        for (; j > 0 && c[j - 1] > v; --j) c[j] = c[j - 1];
        c[j] = v;
    }
}

// The edges of one polygon and, row after row, the sorted column limits of
// their crossings.
class EdgeTable {
public:
    EdgeTable(const int *v, int count, int64_t width, int64_t height) : edges_(size_t(count)), live_(size_t(count)),
                                                                        cuts_(size_t(count)), width_(width)
    {
        if (!edges_ || !live_ || !cuts_) return;
        for (int i = 0; i < count; ++i) {
            const int j = i + 1 == count ? 0 : i + 1;
            Edge e{v[2 * size_t(i)], v[2 * size_t(i) + 1], v[2 * size_t(j)], v[2 * size_t(j) + 1], 0, 0};
            if (e.y1 == e.y2) continue;
            e.r0 = std::max<int64_t>(std::min(e.y1, e.y2), 0);
            e.r1 = std::min<int64_t>(std::max(e.y1, e.y2) - 1, height - 1);
            if (e.r0 <= e.r1) edges_[n_++] = e;
        }
        std::sort(edges_.get(), edges_.get() + n_, [](const Edge &a, const Edge &b) { return a.r0 < b.r0; });
        ok_ = true;
    }

    bool ok() const { return ok_; }
    bool empty() const { return n_ == 0; }
    int64_t firstRow() const { return n_ ? edges_[0].r0 : 0; }
    int64_t lastRow() const
    {
        int64_t r = -1;
        for (size_t i = 0; i < n_; ++i) r = std::max(r, edges_[i].r1);
        return r;
    }

    // Steps to row y (rows ascending): the active edges' crossing limits
    // ceil(xi) clamped to 0..width, sorted.  Returns their number.
    size_t row(int64_t y)
    {
        size_t k = 0;
        for (size_t i = 0; i < nLive_; ++i)
            if (edges_[live_[i]].r1 >= y) live_[k++] = live_[i];
        nLive_ = k;
        while (next_ < n_ && edges_[next_].r0 <= y) {
            if (edges_[next_].r1 >= y) live_[nLive_++] = uint32_t(next_);
            ++next_;
        }
        for (size_t i = 0; i < nLive_; ++i) {
            const double c = std::ceil(double(crossing(edges_[live_[i]], y)));
            cuts_[i] = c <= 0 ? 0 : c >= double(width_) ? width_ : int64_t(c);
        }
        sortCuts(cuts_.get(), nLive_);
        return nLive_;
    }
    const int64_t *cuts() const { return cuts_.get(); }

private:
    Scratch<Edge> edges_;
    Scratch<uint32_t> live_;
    Scratch<int64_t> cuts_;
    int64_t width_;
    size_t n_ = 0, next_ = 0, nLive_ = 0;
    bool ok_ = false;
};

// Walks a row's runs: the count of crossings right of x is n minus the
// limits at or left of x; odd is inside.
struct RunCursor {
    const int64_t *cut;
    size_t n, i = 0;
    bool insideAt(int64_t x)
    {
        while (i < n && cut[i] <= x) ++i;
        return (n - i) & 1;
    }
    int64_t nextChange(int64_t width) const { return i < n ? cut[i] : width; }
};

// Paints the pixels inside `in` and not inside `out` (may be null).
void fillPolygons(Image *im, EdgeTable &in, EdgeTable *out, const PixelValue &v)
{
    if (in.empty()) return;
    const int64_t w = im->width;
    const int64_t last = in.lastRow();
    for (int64_t y = in.firstRow(); y <= last; ++y) {
        RunCursor a{in.cuts(), in.row(y)};
        RunCursor b{nullptr, 0};
        if (out) b = RunCursor{out->cuts(), out->row(y)};
        for (int64_t x = 0; x < w;) {
            const bool inA = a.insideAt(x), inB = b.insideAt(x);  // both cursors advance to x
            const bool paint = inA && !inB;
            const int64_t end = std::min(a.nextChange(w), b.nextChange(w));
            if (paint) paintSpan(im, int(y), int(x), int(end - 1), v);
            x = end;
        }
    }
}

void fillPolygon(Image *image, const int *v, int count, const int *ex, int exCount, uint32_t colour)
{
    const PixelValue pv = areaColour(image->imageType, colour);
    EdgeTable in(v, count, image->width, image->height);
    if (!(in.ok())) return kx::failed("edges");
    if (!ex || exCount <= 2) {
        fillPolygons(image, in, nullptr, pv);
        return;
    }
    EdgeTable out(ex, exCount, image->width, image->height);
    if (!(out.ok())) return kx::failed("edges");
    fillPolygons(image, in, &out, pv);
}

// The pixel one right of each vertex, in order: the first inside the image
// that does not carry the fill colour yet and lies inside the polygon seeds
// kxFill.  Nothing changes the image during the search, so a pixel that
// failed once fails again: each distinct candidate is put to the inside
// test (linear in the vertex count) at most once, which keeps a polygon
// of many repeated vertices linear rather than quadratic.  Without memory
// for the list, every candidate is tested.
struct Candidate {
    int64_t x, y;
    int i;
};

void findPolygonSeed(Image *image, const int *pEdges, int count, uint32_t colour)
{
    if (!(image && pEdges)) return kx::failed("image && pEdges");
    const PixelValue fill = pixelValue(image->imageType, colour, GreyRule::LowByte);
    const int bpp = fill.bpp;
    auto candidate = [&](int i, int64_t &x, int64_t &y) {
        x = int64_t(pEdges[2 * size_t(i)]) + 1, y = pEdges[2 * size_t(i) + 1];
        return inside(image, x, y) &&
               std::memcmp(row(image, int(y)) + size_t(x) * size_t(bpp), fill.bytes, size_t(bpp)) != 0;
    };
    Scratch<Candidate> list{size_t(count)};
    Scratch<uint8_t> asked{size_t(count)};
    if (!list || !asked) {
        for (int i = 0; i < count; ++i) {
            int64_t x, y;
            if (candidate(i, x, y) && kxIsPointInPolygon(int(x), int(y), pEdges, count)) {
                kxFill(image, int(x), int(y), colour);
                return;
            }
        }
        return;
    }
    size_t n = 0;
    for (int i = 0; i < count; ++i) {
        int64_t x, y;
        asked[size_t(i)] = 0;
        if (candidate(i, x, y)) list[n++] = Candidate{x, y, i};
    }
    // The first vertex of each distinct pixel is the one asked.
    std::sort(list.get(), list.get() + n, [](const Candidate &a, const Candidate &b) {
        return a.x != b.x ? a.x < b.x : a.y != b.y ? a.y < b.y : a.i < b.i;
    });
    for (size_t k = 0; k < n; ++k)
        if (k == 0 || list[k].x != list[k - 1].x || list[k].y != list[k - 1].y) asked[size_t(list[k].i)] = 1;
    for (int i = 0; i < count; ++i) {
        int64_t x, y;
        if (!asked[size_t(i)]) continue;
        candidate(i, x, y);
        if (kxIsPointInPolygon(int(x), int(y), pEdges, count)) {
            kxFill(image, int(x), int(y), colour);
            return;
        }
    }
}

}  // namespace

extern "C" {

void kxFillPolygon(Image *image, const int *pVertexArray, int count, uint32_t colour)
{
    if (!image) return kx::failed("image");
    if (count <= 2) return;
    if (!pVertexArray) return kx::failed("pVertexArray");
    if (!typeOk(image)) return;
    fillPolygon(image, pVertexArray, count, nullptr, 0, colour);
}

void kxFillPolygonE1(Image *image, const int *pVertexArray, int count, const int *pExcluded, int excludedCount,
                     uint32_t colour)
{
    if (!image) return kx::failed("image");
    if (count <= 2) return;
    if (!pVertexArray) return kx::failed("pVertexArray");
    if (!typeOk(image)) return;
    fillPolygon(image, pVertexArray, count, pExcluded, excludedCount, colour);
}

void kxFillPolygonE2(Image *image, const int *pVertexArray, int count, uint32_t colour, int fill)
{
    if (!image) return kx::failed("image");
    if (count <= 2 || !pVertexArray) return;
    if (!typeOk(image)) return;
    const PixelValue line = outlineColour(image->imageType, colour);
    for (int i = 0; i < count; ++i) {
        const int *a = pVertexArray + 2 * size_t(i);
        const int *b = pVertexArray + (i + 1 == count ? 0 : 2 * size_t(i + 1));
        drawLineClipped(image, a[0], a[1], b[0], b[1], line);
    }
    if (!fill) return;
    uint32_t reduced = colour;
    if (image->imageType == KIT_BIN) reduced = colour != 0;
    if (image->imageType == KIT_GRAY) reduced = std::min<uint32_t>(colour, 255);
    findPolygonSeed(image, pVertexArray, count, reduced);
}

}  // extern "C"
