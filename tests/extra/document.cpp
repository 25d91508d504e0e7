// Pages of documents.  The measures, the paper and the binarizer against a
// straightforward walk through their documented arithmetic (direct window
// loops, the bilinear blend as written, a flood fill for the components), on
// generated pages of strokes under uneven light; then what the binarizer is
// for: a flat page gives no ink, a stroke of known width on a strong light
// gradient comes back with its width measured, a faint stained page of text
// is read, inkSet only flips the sides; and the refusals.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;

namespace {

using Plane = std::vector<uint8_t>;

int otsu(const Plane &v, const Plane *mask = nullptr)
{
    int32_t hist[256] = {};
    for (size_t i = 0; i < v.size(); ++i)
        if (!mask || (*mask)[i]) ++hist[v[i]];
    return kxxHistogramLevel(hist, KXX_OTSU);
}

Plane refPaper(const Plane &g, int w, int h, int s)
{
    const int gw = (w + s - 1) / s, gh = (h + s - 1) / s;
    Plane grid(size_t(gw) * gh);
    for (int cy = 0; cy < gh; ++cy)
        for (int cx = 0; cx < gw; ++cx) {
            uint32_t sum = 0, n = 0;
            for (int y = cy * s; y < std::min(h, cy * s + s); ++y)
                for (int x = cx * s; x < std::min(w, cx * s + s); ++x) sum += g[size_t(y) * w + x], ++n;
            grid[size_t(cy) * gw + cx] = uint8_t((sum + n / 2) / n);
        }
    auto extreme = [&](const Plane &in, bool max) {
        Plane out(in.size());
        for (int cy = 0; cy < gh; ++cy)
            for (int cx = 0; cx < gw; ++cx) {
                uint8_t v = max ? 0 : 255;
                for (int y = std::max(0, cy - 3); y <= std::min(gh - 1, cy + 3); ++y)
                    for (int x = std::max(0, cx - 3); x <= std::min(gw - 1, cx + 3); ++x)
                        v = max ? std::max(v, in[size_t(y) * gw + x]) : std::min(v, in[size_t(y) * gw + x]);
                out[size_t(cy) * gw + cx] = v;
            }
        return out;
    };
    const Plane closed = extreme(extreme(grid, true), false);
    Plane smooth(closed.size());
    for (int cy = 0; cy < gh; ++cy)
        for (int cx = 0; cx < gw; ++cx) {
            unsigned sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    sum += closed[size_t(std::clamp(cy + dy, 0, gh - 1)) * gw + size_t(std::clamp(cx + dx, 0, gw - 1))];
            smooth[size_t(cy) * gw + cx] = uint8_t((sum + 4) / 9);
        }
    Plane paper(size_t(w) * h);
    const int64_t s2 = 2 * s;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int64_t tx = 2 * x + 1 - s, ty = 2 * y + 1 - s;
            const int64_t i = int64_t(std::floor(double(tx) / double(s2))), j = int64_t(std::floor(double(ty) / double(s2)));
            const int64_t u = tx - s2 * i, v = ty - s2 * j;
            auto cell = [&](int64_t a, int64_t b) {
                return int64_t(smooth[size_t(std::clamp<int64_t>(b, 0, gh - 1)) * gw + size_t(std::clamp<int64_t>(a, 0, gw - 1))]);
            };
            const int64_t top = cell(i, j) * (s2 - u) + cell(i + 1, j) * u;
            const int64_t bottom = cell(i, j + 1) * (s2 - u) + cell(i + 1, j + 1) * u;
            paper[size_t(y) * w + x] = uint8_t((top * (s2 - v) + bottom * v + s2 * s2 / 2) / (s2 * s2));
        }
    return paper;
}

Plane refFlatten(const Plane &g, const Plane &paper)
{
    Plane f(g.size());
    for (size_t i = 0; i < g.size(); ++i) {
        const unsigned b = std::max<unsigned>(paper[i], 1);
        f[i] = uint8_t(std::min(255u, (g[i] * 255u + b / 2) / b));
    }
    return f;
}

int refStrokeWidth(const Plane &ink, int w, int h)
{
    std::vector<int64_t> c(257, 0);
    auto line = [&](int n, auto at) {
        for (int i = 1; i < n; ++i)
            if (at(i) && !at(i - 1)) {
                int j = i;
                while (j < n && at(j)) ++j;
                if (j < n) ++c[size_t(std::min(j - i, 256))];
            }
    };
    for (int y = 0; y < h; ++y) line(w, [&](int x) { return ink[size_t(y) * w + x] != 0; });
    for (int x = 0; x < w; ++x) line(h, [&](int y) { return ink[size_t(y) * w + x] != 0; });
    int best = 0;
    int64_t most = 0;
    for (int len = 2; len <= 255; ++len) {
        const int64_t n = (len > 2 ? c[size_t(len - 1)] : 0) + c[size_t(len)] + (len < 255 ? c[size_t(len + 1)] : 0);
        if (n > most || (n == most && n > 0 && c[size_t(len)] > c[size_t(best)])) best = len, most = n;
    }
    return best;
}

Plane roughInk(const Plane &g, int w, int h)
{
    const Plane f = refFlatten(g, refPaper(g, w, h, 8));
    const int level = std::min(otsu(f), 230);
    Plane ink(f.size());
    for (size_t i = 0; i < f.size(); ++i) ink[i] = f[i] <= level;
    return ink;
}

// 8-connected components: label per pixel (0 for clear), by flood fill.
std::vector<int> components(const Plane &set, int w, int h, int &count)
{
    std::vector<int> label(set.size(), 0);
    count = 0;
    std::vector<int> stack;
    for (size_t start = 0; start < set.size(); ++start) {
        if (!set[start] || label[start]) continue;
        label[start] = ++count;
        stack.assign(1, int(start));
        while (!stack.empty()) {
            const int p = stack.back();
            stack.pop_back();
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int x = p % w + dx, y = p / w + dy;
                    if (x < 0 || y < 0 || x >= w || y >= h) continue;
                    const size_t q = size_t(y) * w + x;
                    if (set[q] && !label[q]) label[q] = count, stack.push_back(int(q));
                }
        }
    }
    return label;
}

struct RefResult {
    Plane ink;
    KxxPageMeasures m;
};

// The 3 x 3 spread (max - min, cut at the border) and its lower median.
Plane spread(const Plane &f, int w, int h, int &median)
{
    Plane d(f.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t hi = 0, lo = 255;
            for (int yy = std::max(0, y - 1); yy <= std::min(h - 1, y + 1); ++yy)
                for (int xx = std::max(0, x - 1); xx <= std::min(w - 1, x + 1); ++xx)
                    hi = std::max(hi, f[size_t(yy) * w + xx]), lo = std::min(lo, f[size_t(yy) * w + xx]);
            d[size_t(y) * w + x] = uint8_t(hi - lo);
        }
    Plane sorted = d;
    std::sort(sorted.begin(), sorted.end());
    median = sorted[(sorted.size() - 1) / 2];
    return d;
}

// The grain step: 3 x 3 means while the grain hides the contrast.
Plane refUngrained(Plane g, int w, int h)
{
    for (int pass = 0; pass < 3; ++pass) {
        const Plane f = refFlatten(g, refPaper(g, w, h, 8));
        const int t = otsu(f);
        int64_t n = 0, sum = 0, median = 0;
        for (uint8_t v : f)
            if (v <= t) ++n, sum += v;
        int m = 0;
        spread(f, w, h, m);
        median = m;
        if (!(5 * median > (pass ? 1 : 2) * (255 - sum / n))) break;
        Plane out(g.size());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                unsigned total = 0, k = 0;
                for (int yy = std::max(0, y - 1); yy <= std::min(h - 1, y + 1); ++yy)
                    for (int xx = std::max(0, x - 1); xx <= std::min(w - 1, x + 1); ++xx) total += g[size_t(yy) * w + xx], ++k;
                out[size_t(y) * w + x] = uint8_t((total + k / 2) / k);
            }
        g = out;
    }
    return g;
}

RefResult refBinarize(const Plane &page, int w, int h, int givenWidth)
{
    RefResult r{};
    const Plane g = refUngrained(page, w, h);
    const int measured = refStrokeWidth(roughInk(g, w, h), w, h);
    const int sw = givenWidth > 0 ? givenWidth : (measured ? measured : 3);
    r.m.strokeWidth = givenWidth > 0 ? givenWidth : measured;
    r.m.paperCell = std::clamp(sw, 2, 64);
    const Plane f = refFlatten(g, refPaper(g, w, h, r.m.paperCell));
    auto at = [&](int x, int y) { return f[size_t(y) * w + x]; };
    int median = 0;
    const Plane d = spread(f, w, h, median);
    const int e = std::max({otsu(d), 20, 2 * median});
    const int t = otsu(f), weak = t + (255 - t) / 2, rad = 2 * sw, span = 2 * rad + 1;
    r.m.edgeLevel = e;
    r.m.window = span;
    r.m.weakLevel = weak;
    Plane cand(f.size(), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int64_t n = 0, sum = 0;
            for (int yy = std::max(0, y - rad); yy <= std::min(h - 1, y + rad); ++yy)
                for (int xx = std::max(0, x - rad); xx <= std::min(w - 1, x + rad); ++xx)
                    if (d[size_t(yy) * w + xx] > e) ++n, sum += at(xx, yy);
            const int64_t v = at(x, y);
            cand[size_t(y) * w + x] = n >= span * 3 / 2 && 4 * v * n <= 3 * sum + 255 * n && v <= weak;
        }
    r.ink.assign(f.size(), 0);
    r.m.strongLevel = -1;
    int lowest = 256;
    for (size_t i = 0; i < f.size(); ++i)
        if (cand[i]) lowest = std::min(lowest, int(f[i]));
    if (lowest == 256) return r;
    const int strong = std::min(std::max(otsu(f, &cand), lowest + (weak - lowest) * 2 / 3), 255 - e);
    r.m.strongLevel = strong;
    int count = 0;
    const std::vector<int> label = components(cand, w, h, count);
    std::vector<int64_t> area(size_t(count) + 1, 0);
    std::vector<bool> dark(size_t(count) + 1, false);
    for (size_t i = 0; i < f.size(); ++i)
        if (label[i]) ++area[size_t(label[i])], dark[size_t(label[i])] = dark[size_t(label[i])] || f[i] <= strong;
    for (size_t i = 0; i < f.size(); ++i)
        r.ink[i] = label[i] && dark[size_t(label[i])] && area[size_t(label[i])] >= int64_t(sw) * sw;
    return r;
}

// Pages: light falling off from `paper` by `fall` (0..1) across a tilted
// gradient, strokes and a dot of ink `ink`, a stain, grain of +-noise.
struct PageSpec {
    int w, h, strokeWidth, paper, ink;
    double fall;
    bool stain;
    int noise;
};

double light(const PageSpec &p, int x, int y)
{
    double l = 1.0 - p.fall * (0.7 * x / std::max(1, p.w - 1) + 0.3 * y / std::max(1, p.h - 1));
    if (p.stain) {
        const double dx = (x - 0.6 * p.w) / (0.2 * p.w + 1), dy = (y - 0.5 * p.h) / (0.25 * p.h + 1);
        l *= 1.0 - 0.3 * std::exp(-(dx * dx + dy * dy));
    }
    return l;
}

// Strokes: horizontal and vertical bars of the given width, letter-sized.
Plane strokes(int w, int h, int sw)
{
    Plane t(size_t(w) * h, 0);
    const int step = 6 * sw + 4;
    for (int y0 = sw + 2; y0 + 4 * sw < h; y0 += step)
        for (int x0 = sw + 2; x0 + 4 * sw < w; x0 += 5 * sw + 3) {
            for (int y = y0; y < y0 + 4 * sw; ++y)
                for (int x = x0; x < x0 + sw; ++x) t[size_t(y) * w + x] = 1;  // a stem
            for (int y = y0; y < y0 + sw; ++y)
                for (int x = x0; x < std::min(w, x0 + 3 * sw); ++x) t[size_t(y) * w + x] = 1;  // an arm
        }
    return t;
}

Plane render(const PageSpec &p, const Plane &truth, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> grain(-p.noise, p.noise);
    Plane g(truth.size());
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            const double base = truth[size_t(y) * p.w + x] ? p.ink : p.paper;
            g[size_t(y) * p.w + x] = uint8_t(std::clamp(int(base * light(p, x, y)) + (p.noise ? grain(rng) : 0), 0, 255));
        }
    return g;
}

ImagePtr greyImage(const Plane &g, int w, int h) { return kxtest::makeImage(KIT_GRAY, w, h, g); }

Plane bytesOf(const Image *im) { return kxtest::pixels(im); }

double fMeasure(const Plane &ink, const Plane &truth)
{
    double tp = 0, fp = 0, fn = 0;
    for (size_t i = 0; i < ink.size(); ++i) tp += ink[i] && truth[i], fp += ink[i] && !truth[i], fn += !ink[i] && truth[i];
    return tp ? 200 * tp / (2 * tp + fp + fn) : 0;
}

bool sameMeasures(const KxxPageMeasures &a, const KxxPageMeasures &b)
{
    return a.strokeWidth == b.strokeWidth && a.paperCell == b.paperCell && a.edgeLevel == b.edgeLevel &&
           a.window == b.window && a.weakLevel == b.weakLevel && a.strongLevel == b.strongLevel;
}

}  // namespace

// Every byte and level as documented, on pages of several sizes (down to a
// single row and column, so every window is cut), stroke widths (the paper
// cell 8 reuses the measuring flattening) and kinds of light.
TEST(ExtraDocument, BinarizerEqualsTheDocumentedArithmetic)
{
    const PageSpec specs[] = {
        {97, 61, 3, 210, 60, 0.5, false, 6}, {64, 50, 8, 200, 90, 0.3, true, 10}, {33, 140, 2, 180, 120, 0.6, true, 4},
        {1, 40, 2, 200, 50, 0.2, false, 20}, {45, 1, 2, 200, 50, 0.2, false, 20}, {120, 80, 5, 230, 40, 0.0, false, 0},
        {90, 70, 3, 177, 129, 0.4, false, 30},  // grain hiding faint strokes: smoothed
    };
    uint32_t seed = 1;
    for (const PageSpec &p : specs)
        for (int given : {0, p.strokeWidth, 1}) {
            SCOPED_TRACE(testing::Message() << p.w << "x" << p.h << " sw " << p.strokeWidth << " given " << given);
            const Plane g = render(p, strokes(p.w, p.h, p.strokeWidth), ++seed);
            const RefResult want = refBinarize(g, p.w, p.h, given);
            ImagePtr im = greyImage(g, p.w, p.h);
            KxxPageMeasures m{};
            ASSERT_EQ(kxxBinarizeDocumentEx(im.get(), 1, given, &m), im.get());
            EXPECT_EQ(im->imageType, KIT_BIN);
            EXPECT_EQ(bytesOf(im.get()), want.ink);
            EXPECT_TRUE(sameMeasures(m, want.m)) << m.strokeWidth << " " << m.edgeLevel << " " << m.weakLevel << " "
                                                 << m.strongLevel << " vs " << want.m.strokeWidth << " "
                                                 << want.m.edgeLevel << " " << want.m.weakLevel << " " << want.m.strongLevel;
            // The paper and the flattening on their own, at the cell used.
            ImagePtr page = greyImage(g, p.w, p.h), paper = kxtest::makeImage(KIT_GRAY, p.w, p.h);
            kxxEstimatePaper(page.get(), m.paperCell, paper.get());
            const Plane wantPaper = refPaper(g, p.w, p.h, m.paperCell);
            EXPECT_EQ(bytesOf(paper.get()), wantPaper);
            kxxFlattenPaper(page.get(), m.paperCell);
            EXPECT_EQ(bytesOf(page.get()), refFlatten(g, wantPaper));
        }
}

// Paper without ink under light falling off, with grain or a stain (grain
// on a deep stain, amplified by the flattening, may leave specks).
TEST(ExtraDocument, FlatPagesGiveNoInk)
{
    const struct {
        int noise;
        double fall;
        bool stain;
    } pages[] = {{0, 0.0, false}, {0, 0.5, true}, {8, 0.0, false}, {8, 0.5, false}, {3, 0.4, true}};
    for (const auto &c : pages) {
        const PageSpec p{200, 150, 3, 200, 200, c.fall, c.stain, c.noise};
        ImagePtr im = greyImage(render(p, Plane(size_t(p.w) * p.h, 0), 7), p.w, p.h);
        KxxPageMeasures m{};
        kxxBinarizeDocumentEx(im.get(), 1, 0, &m);
        const Plane out = bytesOf(im.get());
        EXPECT_EQ(std::count(out.begin(), out.end(), 1), 0)
            << "noise " << c.noise << " fall " << c.fall << " stain " << c.stain << ": sw " << m.strokeWidth << " E "
            << m.edgeLevel << " K " << m.strongLevel;
    }
}

// Strokes of a known width under light falling to 40%: the width is
// measured and the strokes come back (the window and paper cell follow).
TEST(ExtraDocument, StrokesOnAStrongGradientAreRecoveredWithTheirWidth)
{
    for (int sw : {2, 3, 5, 9}) {
        const PageSpec p{400, 300, sw, 220, 40, 0.6, false, 0};
        const Plane truth = strokes(p.w, p.h, sw);
        ImagePtr im = greyImage(render(p, truth, 3), p.w, p.h);
        EXPECT_EQ(kxxEstimateStrokeWidth(im.get()), sw);
        KxxPageMeasures m{};
        kxxBinarizeDocumentEx(im.get(), 1, 0, &m);
        EXPECT_EQ(m.strokeWidth, sw);
        EXPECT_EQ(m.window, 4 * sw + 1);
        EXPECT_GE(fMeasure(bytesOf(im.get()), truth), 99.0) << "stroke width " << sw;
    }
}

// Text drawn by the library, ink 129 on paper 177 under 59% light fall-off
// and a stain: faint, low-contrast, and not a reason for an empty page,
// nor is strong grain on it.
TEST(ExtraDocument, AFaintStainedTextPageIsRead)
{
    const int w = 640, h = 240;
    ImagePtr text = kxtest::makeImage(KIT_GRAY, w, h, Plane(size_t(w) * h, 255));
    for (int line = 0; line < 5; ++line)
        kxFillText(text.get(), "Faint ink on a stained page, 1850.", 10, 8 + 44 * line, 28, 0xff000000);
    ASSERT_EQ(text->imageType, KIT_RGB);
    Plane truth(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) truth[size_t(y) * w + x] = text->data[size_t(y) * text->pitch + 3 * size_t(x) + 1] < 128;
    ASSERT_GT(std::count(truth.begin(), truth.end(), 1), 5000);
    // Then under grain of +-30 levels, which hides the strokes until the
    // page is smoothed.
    for (const int noise : {0, 30})
        for (const bool rgb : {false, true}) {
            const PageSpec p{w, h, 3, 177, 129, 0.59, true, noise};
            ImagePtr im = greyImage(render(p, truth, 5), w, h);
            if (rgb) {
                ASSERT_TRUE(kxiCast(im.get(), KIT_RGB));
            }
            kxxBinarizeDocument(im.get(), 1);
            EXPECT_GE(fMeasure(bytesOf(im.get()), truth), noise ? 50.0 : 85.0) << (rgb ? "colour" : "grey") << noise;
        }
}

// A black heading over small grey body text: the body text is ink too,
// although its darkest pixels lie far above the heading's.
TEST(ExtraDocument, GreyBodyTextUnderABlackHeadingIsKept)
{
    const int w = 420, h = 170;
    ImagePtr page = kxtest::makeImage(KIT_GRAY, w, h, Plane(size_t(w) * h, 255));
    kxFillText(page.get(), "A black heading", 10, 6, 30, 0xff000000);
    for (int line = 0; line < 7; ++line)
        kxFillText(page.get(), "grey body text, small: 0.98 and a comma, i.", 10, 48 + 16 * line, 13, 0xff8c8c8c);
    kxiCast(page.get(), KIT_GRAY);
    const Plane g = bytesOf(page.get());
    Plane body(g.size());
    for (size_t i = 0; i < g.size(); ++i) body[i] = i >= size_t(w) * 46 && g[i] < 200;
    kxxBinarizeDocument(page.get(), 1);
    Plane ink = bytesOf(page.get());
    std::fill(ink.begin(), ink.begin() + ptrdiff_t(w) * 46, 0);
    EXPECT_GE(fMeasure(ink, body), 75.0);  // the body as drawn, with its anti-aliased rim
}

TEST(ExtraDocument, InkSetOnlyFlipsTheSides)
{
    const PageSpec p{150, 100, 3, 210, 70, 0.4, true, 5};
    const Plane g = render(p, strokes(p.w, p.h, 3), 11);
    ImagePtr a = greyImage(g, p.w, p.h), b = greyImage(g, p.w, p.h);
    kxxBinarizeDocument(a.get(), 1);
    kxxBinarizeDocument(b.get(), 0);
    const Plane inkSet = bytesOf(a.get()), paperSet = bytesOf(b.get());
    ASSERT_GT(std::count(inkSet.begin(), inkSet.end(), 1), 0);
    for (size_t i = 0; i < inkSet.size(); ++i) ASSERT_EQ(inkSet[i] + paperSet[i], 1) << i;
}

// A wrapped page with row padding: the same bytes as a packed one, the
// padding untouched (the paper and the flattening too).
TEST(ExtraDocument, WrappedPagesKeepTheirPadding)
{
    const PageSpec p{90, 70, 3, 210, 70, 0.4, true, 5};
    const Plane g = render(p, strokes(p.w, p.h, 3), 13);
    ImagePtr packed = greyImage(g, p.w, p.h);
    kxxBinarizeDocument(packed.get(), 1);
    kxtest::PaddedImage wrapped(KIT_GRAY, p.w, p.h, g);
    kxxBinarizeDocument(wrapped.get(), 1);
    EXPECT_EQ(bytesOf(wrapped.get()), bytesOf(packed.get()));
    EXPECT_TRUE(wrapped.paddingIntact());
    kxtest::PaddedImage page(KIT_GRAY, p.w, p.h, g), paper(KIT_GRAY, p.w, p.h);
    kxxEstimatePaper(page.get(), 0, paper.get());
    kxxFlattenPaper(page.get(), 0);
    EXPECT_TRUE(page.paddingIntact() && paper.paddingIntact());
}

TEST(ExtraDocument, MeasuresOfTheSamePageAgree)
{
    const PageSpec p{300, 200, 4, 200, 60, 0.3, false, 3};
    ImagePtr im = greyImage(render(p, strokes(p.w, p.h, 4), 2), p.w, p.h);
    KxxPageMeasures m{};
    ASSERT_EQ(kxxMeasurePage(im.get(), &m), 1);
    EXPECT_EQ(m.strokeWidth, 4);
    EXPECT_EQ(m.textHeight, 16);  // each letter is a stem of 4 sw
    EXPECT_EQ(m.paperCell, 4);
    EXPECT_EQ(m.edgeLevel | m.window | m.weakLevel | m.strongLevel, 0);
}

TEST(ExtraDocument, Refusals)
{
    EXPECT_EQ(kxxBinarizeDocument(nullptr, 1), nullptr);
    EXPECT_EQ(kxxFlattenPaper(nullptr, 0), nullptr);
    EXPECT_EQ(kxxEstimateStrokeWidth(kxtest::makeImage(KIT_BIN, 8, 8).get()), -1);
    KxxPageMeasures m{};
    m.window = 77;
    const Plane g(64 * 48, 200);
    struct {
        int type, strokeWidth;
    } const refused[] = {{KIT_BIN, 0}, {KIT_GRAY, 256}};
    for (const auto &r : refused) {
        ImagePtr im = kxtest::makeImage(r.type, 64, 48, Plane(64 * 48, r.type == KIT_BIN ? 1 : 200));
        EXPECT_EQ(kxxBinarizeDocumentEx(im.get(), 1, r.strokeWidth, &m), im.get());
        EXPECT_EQ(im->imageType, r.type);
        EXPECT_EQ(bytesOf(im.get()), Plane(64 * 48, r.type == KIT_BIN ? 1 : 200));
        EXPECT_EQ(m.window, 77);  // untouched
    }
    ImagePtr page = greyImage(g, 64, 48), small = kxtest::makeImage(KIT_GRAY, 32, 48), bin = kxtest::makeImage(KIT_BIN, 64, 48);
    EXPECT_EQ(kxxEstimatePaper(page.get(), 0, small.get()), small.get());
    EXPECT_EQ(kxxEstimatePaper(page.get(), 65, bin.get()), bin.get());
    EXPECT_EQ(kxxMeasurePage(bin.get(), &m), 0);
    EXPECT_EQ(m.window, 77);
    EXPECT_EQ(kxxFlattenPaper(page.get(), 65), page.get());
    EXPECT_EQ(bytesOf(page.get()), g);
    EXPECT_KX_ASSERT(kxxMeasurePage(page.get(), nullptr), "page && measures");
    EXPECT_KX_ASSERT(kxxEstimatePaper(nullptr, 0, small.get()), "page && paper");
}
