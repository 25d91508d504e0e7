// The filters on padded rows: against out-of-place versions (each output
// from its window of the untouched input) on random images, on worked
// images and step edges; the median network's vector column steps against
// the plain ones; the type and argument rules; row bands for the filters
// and the pixel operations.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <tuple>

#include "filter/filter_detail.hpp"
#include "kxtest.hpp"
#include "levels.hpp"
#include "kxthreads_bands.hpp"

using kxtest::PaddedImage;
using Bytes = std::vector<uint8_t>;
using kxtest::Op;
using kxtest::bind;

namespace ref {

// out = f(at, x, y) per pixel and channel of a packed w x h x c image;
// at(i, j) reads the input, -1 outside.
template <class F>
Bytes each(const Bytes &in, int w, int h, int c, F f)
{
    Bytes out(in.size());
    for (size_t k = 0; k < out.size(); ++k) {
        const int64_t ch = int64_t(k % size_t(c));
        auto at = [&](int64_t i, int64_t j) {
            return i < 0 || j < 0 || i >= w || j >= h ? -1 : int(in[size_t((j * w + i) * c + ch)]);
        };
        out[k] = uint8_t(f(at, int(k / size_t(c) % size_t(w)), int(k / size_t(c) / size_t(w))));
    }
    return out;
}

// 3x3 correlation, zero outside: mode 1 kernel a, mode 2 kernel b (none:
// 0), other modes both; a response outside 0..255 stores 0.
inline Bytes convolve(const Bytes &in, int w, int h, int mode, const int *a, const int *b)
{
    return each(in, w, h, 1, [&](auto at, int x, int y) {
        auto response = [&](const int *k) {
            int r = 0;
            for (int j = 0; k && j < 9; ++j) r += std::max(at(x + j % 3 - 1, y + j / 3 - 1), 0) * k[j];
            return r;
        };
        const int r = mode == 1 ? response(a) : mode == 2 ? response(b) : response(a) + response(b);
        return r >= 0 && r <= 255 ? r : 0;
    });
}

// kxRoberts (op 0), kxDiffFirst (op 1) and kxGradient (op 2).
inline Bytes difference(const Bytes &in, int w, int h, int op, int mode, int gap = 1)
{
    return each(in, w, h, 1, [&](auto at, int x, int y) {
        const int p = at(x, y), r = at(int64_t(x) + gap, y), d = at(x, int64_t(y) + gap);
        const int corner = at(x + 1, y + 1);
        if (op == 0) return x < 1 || y < 1 || corner < 0 ? 0 : std::min(std::abs(corner - p) + std::abs(d - r), 255);
        if (op == 1 && (x < 1 || y < 1)) return 0;
        const int dx = op == 1 ? std::abs(at(x - 1, y) - p) : r < 0 ? 0 : std::abs(r - p);
        const int dy = op == 1 ? std::abs(at(x, y - 1) - p) : d < 0 ? 0 : std::abs(d - p);
        if (mode == 1 || mode == 2) return mode == 1 ? dx : dy;
        if (op == 1) return mode == 0 ? std::min(dx + dy, 255) : 0;
        return r < 0 || d < 0 ? 0 : std::min(dx + dy, 255);
    });
}

// The n x n window (n: the side capped at 9, made odd) clipped to the
// image: its sum over n * n as a float, truncated, or its value of rank
// count / 2.
inline Bytes smooth(const Bytes &in, int w, int h, int c, int side, bool median)
{
    const int n = std::min(side, 9) | 1;
    return each(in, w, h, c, [&](auto at, int x, int y) {
        std::vector<int> v;
        for (int j = -n / 2; j <= n / 2; ++j)
            for (int i = -n / 2; i <= n / 2; ++i)
                if (at(x + i, y + j) >= 0) v.push_back(at(x + i, y + j));
        std::sort(v.begin(), v.end());
        int sum = 0;
        for (int p : v) sum += p;
        return median ? v[v.size() / 2] : int(sum / float(n * n));
    });
}

}  // namespace ref

namespace {

const int kSobelA[9] = {1, 0, -1, 2, 0, -2, 1, 0, -1}, kSobelB[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
const int kPrewittA[9] = {1, 0, -1, 1, 0, -1, 1, 0, -1}, kPrewittB[9] = {1, 1, 1, 0, 0, 0, -1, -1, -1};
const int kKirschA[9] = {5, 5, 5, -3, -3, -3, -3, -3, -3}, kKirschB[9] = {5, 5, -3, 5, -3, -3, -3, -3, -3};
const int kDiff2A[9] = {0, 0, 0, 1, -2, 1, 0, 0, 0}, kDiff2B[9] = {0, 1, 0, 0, -2, 0, 0, 1, 0};
const int kLap[9] = {0, 1, 0, 1, -4, 1, 0, 1, 0}, kSharp[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};

// op on a padded copy of `in`: its pixels (the same image back).
Bytes runPadded(int type, int w, int h, const Bytes &in, const Op &op)
{
    PaddedImage im(type, w, h, in);
    EXPECT_EQ(op(im.get()), im.get());
    return kxtest::pixels(im.get());
}

TEST(FilterOperators, MatchTheStraightforwardVersionsOnRandomImages)
{
    const struct { Image *(*run)(Image *, int); const int *a, *b; } ops[] = {  // b null: no modes
        {kxSobel, kSobelA, kSobelB}, {kxPrewitt, kPrewittA, kPrewittB}, {kxKirsch, kKirschA, kKirschB},
        {kxDiffSecond, kDiff2A, kDiff2B}, {[](Image *i, int) { return kxLaPlacian(i); }, kLap, nullptr},
        {[](Image *i, int) { return kxSharp1541(i); }, kSharp, nullptr}};
    uint32_t seed = 1;
    for (auto [w, h] : {std::pair{1, 1}, {1, 6}, {6, 1}, {2, 2}, {3, 3}, {4, 7}, {17, 5}, {33, 12}}) {
        for (const auto &op : ops)
            for (int mode : {0, 1, 2, 3, -7}) {
                if (!op.b && mode != 1) continue;
                for (int type : {KIT_GRAY, KIT_BIN})
                    // Low values too, so that many responses land inside 0..255.
                    for (int top : {type == KIT_BIN ? 1 : 255, type == KIT_BIN ? 1 : 40}) {
                        const Bytes in = kxtest::randomBytes(size_t(w) * h, seed++, 0, top);
                        EXPECT_EQ(runPadded(type, w, h, in, bind(op.run, mode)),
                                  ref::convolve(in, w, h, mode, op.a, op.b))
                            << *op.a << " mode " << mode << " " << w << "x" << h << " type " << type;
                    }
            }
        const Bytes in = kxtest::randomBytes(size_t(w) * h, seed++);
        EXPECT_EQ(runPadded(KIT_GRAY, w, h, in, kxRoberts), ref::difference(in, w, h, 0, 0)) << w << "x" << h;
        for (int mode : {0, 1, 2, 5, 9}) {
            EXPECT_EQ(runPadded(KIT_GRAY, w, h, in, bind(kxDiffFirst, mode)), ref::difference(in, w, h, 1, mode))
                << "DiffFirst " << mode << " " << w << "x" << h;
            for (int gap : {1, 2, 5, 40})
                EXPECT_EQ(runPadded(KIT_GRAY, w, h, in, bind(kxGradient, mode, gap)),
                          ref::difference(in, w, h, 2, mode, gap))
                    << "Gradient " << mode << " gap " << gap << " " << w << "x" << h;
        }
    }
}

// Inputs for the rows that leave an image alone, and masks the edge
// detector refuses: of another size, of three bytes a pixel.
const Bytes kGrey = kxtest::randomBytes(12, 3), kBin = kxtest::randomBytes(12, 2, 0, 1);
const kxtest::ImagePtr kSmallMask = kxtest::makeImage(KIT_BIN, 4, 2, Bytes(8, 1));
const kxtest::ImagePtr kColourMask = kxtest::makeImage(KIT_RGB, 4, 3);
int gFilterArgument = 0;

const struct {
    const char *name;
    Op op;
    int type, w, h;
    Bytes in, out;  // out empty: the same as in
    int outType = 0;  // 0: unchanged
} kCases[] = {
    // The operators: what their comparison cannot pin (the header's
    // examples, a past fault on binary images, a gap near INT_MAX).
    // Uniform 10: corners -20, edges -10, interior 0 -> all 0.
    {"LaplacianUniform", kxLaPlacian, KIT_GRAY, 3, 3, Bytes(9, 10), Bytes(9, 0)},
    // Uniform 100: interior 100, edges 200, corners 300 -> 0.
    {"SharpUniform", kxSharp1541, KIT_GRAY, 4, 3, Bytes(12, 100), {0, 200, 200, 0, 200, 100, 100, 200, 0, 200, 200, 0}},
    // Regression: binary images were clipped to 0/1.  A KIT_BIN image keeps its
    // type but holds the magnitudes: a lone set pixel sharpens to 5.
    {"BinaryKeepsSharpMagnitude", kxSharp1541, KIT_BIN, 3, 3, {0, 0, 0, 0, 1, 0, 0, 0, 0}, {0, 0, 0, 0, 5, 0, 0, 0, 0}},
    {"BinaryKeepsSobelMagnitude", bind(kxSobel, 3), KIT_BIN, 2, 2, {1, 1, 1, 0}, {0, 2, 2, 6}},
    // Left column 255: the centre's A response is 4 * 255 = 1020 -> 0, not 255.
    {"SobelAboveRangeIsZero", bind(kxSobel, 1), KIT_GRAY, 3, 3, {255, 0, 0, 255, 0, 0, 255, 0, 0}, Bytes(9, 0)},
    {"GradientHugeGap", bind(kxGradient, 0, INT_MAX), KIT_GRAY, 2, 2, {1, 2, 3, 4}, {0, 0, 0, 0}},
    // A median's corner window holds 4 values; the output is rank 2 (the
    // upper middle): {1, 5, 7, 9} -> 7.  The smoothers keep other types.
    {"MedianCornerUpperMiddle", bind(kxMedian, 3), KIT_GRAY, 2, 2, {1, 5, 7, 9}, {7, 7, 7, 7}},
    {"SmoothBinUnchanged", bind(kxSmoothAvg, 3), KIT_BIN, 3, 1, {1, 0, 1}, {1, 0, 1}},
    // The intensity maps.
    {"ExpandTwoLevels", kxExpand, KIT_GRAY, 3, 1, {50, 100, 75}, {0, 255, 127}},
    {"ExpandOneLevelUnchanged", kxExpand, KIT_GRAY, 2, 1, {9, 9}, {9, 9}},
    // lo 51, hi 204: 127 -> trunc(76/153*255 + 0.5) = 127.
    {"ContrastMiddle", bind(kxContrast, 0.2f, 0.8f), KIT_GRAY, 5, 1, {0, 51, 127, 204, 255}, {0, 0, 127, 255, 255}},
    {"ContrastEmptyRange", bind(kxContrast, 0.5f, 0.5f), KIT_GRAY, 2, 1, {3, 200}, {3, 200}},
    {"ContrastNaN", bind(kxContrast, NAN, 0.5f), KIT_GRAY, 2, 1, {3, 200}, {3, 200}},
    // 1.2 * 255 = 306 keeps its low byte: hi = 50, so 25 -> trunc(127.5 + 0.5).
    {"ContrastLowByteLevel", bind(kxContrast, 0.0f, 1.2f), KIT_GRAY, 4, 1, {0, 25, 50, 200}, {0, 128, 255, 255}},
    // 0 * inf = NaN -> 0.
    {"LinearInfiniteGain", bind(kxLinear, INFINITY, -1), KIT_GRAY, 2, 1, {0, 1}, {0, 255}},
    {"LinearReverses", bind(kxLinear, -1, 255), KIT_RGB, 1, 1, {0, 100, 255}, {255, 155, 0}},
    // Single precision: 0.5 + (0.5 - 2^-25) rounds to 1 (in double it would
    // truncate to 0), 1.5 + (0.5 - 2^-25) to 2.
    {"LinearInSinglePrecision", bind(kxLinear, 0.5f, 0.49999997f), KIT_GRAY, 3, 1, {0, 1, 3}, {0, 1, 2}},
    {"LinearBinBecomesGrey", bind(kxLinear, 255, 0), KIT_BIN, 3, 1, {0, 1, 1}, {0, 255, 255}, KIT_GRAY},
    {"LinearRgbaAlphaToo", bind(kxLinear, 0.5f, 0), KIT_RGBA, 1, 1, {10, 20, 30, 41}, {5, 10, 15, 20}},
    {"LinearExRedOnly", bind(kxLinearEx, 4, 0, 0), KIT_RGB, 2, 1, {1, 2, 3, 4, 5, 6}, {1, 2, 0, 4, 5, 0}},
    {"LinearExAlphaBitIgnoredOnRgb", bind(kxLinearEx, 8, 0, 0), KIT_RGB, 1, 1, {1, 2, 3}, {1, 2, 3}},
    {"LinearExAlphaOnRgba", bind(kxLinearEx, 9, 1, 100), KIT_RGBA, 1, 1, {1, 2, 3, 200}, {101, 2, 3, 255}},
    // Counting the padding as pixels would leave the brightest level below
    // 255.  (Five sixths summed in steps of 1/6 lands just below 5/6:
    // 212.4999... + 0.5 -> 212.)
    {"EqualizeReachesTop", kxEqualize, KIT_GRAY, 3, 2, {10, 20, 30, 40, 50, 60}, {43, 85, 128, 170, 212, 255}},
    {"NormalizeUniformUnchanged", bind(kxNormalize, 100, 400), KIT_GRAY, 3, 1, {7, 7, 7}, {7, 7, 7}},
    {"NormalizeOnePixelUnchanged", bind(kxNormalize, 100, 400), KIT_GRAY, 1, 1, {7}, {7}},
    {"NormalizeNegativeVarianceUnchanged", bind(kxNormalize, 100, -4), KIT_GRAY, 2, 1, {0, 200}, {0, 200}},
    // m = 100, sd = 141.4 -> 141; target 20.5: 0 -> -100/141*20.5 + 240.5 =
    // 225.96 -> 225, 200 -> 255.04 -> 255 (saturated, not 255 by accident:
    // see the next case).
    {"NormalizeWorked", bind(kxNormalize, 240, 400), KIT_GRAY, 2, 1, {0, 200}, {225, 255}},
    // 200 -> 300.04 would wrap to 44; it saturates instead, and 0 -> 270.96.
    {"NormalizeSaturates", bind(kxNormalize, 285, 400), KIT_GRAY, 2, 1, {0, 200}, {255, 255}},
    {"NormalizeNegativeSaturates", bind(kxNormalize, -50, 400), KIT_GRAY, 2, 1, {0, 200}, {0, 0}},
    {"IncreaseLumBlackStays", kxIncreaseLum, KIT_RGB, 2, 1, {0, 0, 0, 90, 90, 90}, {0, 0, 0, 255, 255, 255}},
    // Pure red: L = 76.2; red * r / L * 255 is far above 255 and saturates
    // (a wrapped byte would be arbitrary).
    {"IncreaseLumSaturates", kxIncreaseLum, KIT_RGB, 2, 1, {0, 0, 255, 0, 0, 0}, {0, 0, 255, 0, 0, 0}},
    // L = 100, 24.84 and 0.114 (the darkest pixel moves the log mean), worked out aside.
    {"IncreaseLumWorked", kxIncreaseLum, KIT_RGB, 3, 1, {100, 100, 100, 10, 20, 40, 1, 0, 0},
     {255, 255, 255, 57, 115, 230, 13, 0, 0}},
    // One row per type rule (the exports sharing a rule share its check):
    // other types come back untouched.
    {"KernelsRefuseRgb", bind(kxSobel, 0), KIT_RGB, 4, 1, kGrey, {}},  // KIT_BIN and KIT_GRAY
    {"DifferencesRefuseBin", kxRoberts, KIT_BIN, 4, 3, kBin, {}},  // KIT_GRAY only
    {"MapsRefuseBin", kxEqualize, KIT_BIN, 4, 3, kBin, {}},  // KIT_GRAY only
    {"IncreaseLumRefusesRgba", kxIncreaseLum, KIT_RGBA, 3, 1, kGrey, {}},  // KIT_RGB only
    {"LinearExRefusesGrey", bind(kxLinearEx, 15, 0, 0), KIT_GRAY, 4, 3, kGrey, {}},  // colour only
    {"DetectEdgeRefusesBin", bind(kxDetectEdge, 0, 0, 0, nullptr), KIT_BIN, 4, 3, kBin, {}},
    {"DetectEdgeOtherMethod", bind(kxDetectEdge, 1, 0, 0, nullptr), KIT_GRAY, 4, 3, kGrey, {}},
    {"DetectEdgeSmallerMask", bind(kxDetectEdge, 0, 0, 0, kSmallMask.get()), KIT_GRAY, 4, 3, kGrey, {}},
    {"DetectEdgeColourMask", bind(kxDetectEdge, 0, 0, 0, kColourMask.get()), KIT_GRAY, 4, 3, kGrey, {}},
    {"FilterIgnoresItsArgument", bind(kxFilter, &gFilterArgument), KIT_GRAY, 4, 3, kGrey, {}},
};

TEST(Filters, GiveTheWorkedValuesAndLeaveOtherTypesAlone)
{
    for (const auto &c : kCases) {
        PaddedImage im(c.type, c.w, c.h, c.in);
        EXPECT_EQ(c.op(im.get()), im.get());
        EXPECT_EQ(kxtest::pixels(im.get()), c.out.empty() ? c.in : c.out) << c.name;
        EXPECT_EQ(im.get()->imageType, c.outType ? c.outType : c.type) << c.name;
    }
    // (kxGradient's "gap>0": tests/release, which also checks that nothing is written first.)
    EXPECT_KX_ASSERT(kxSmoothAvg(nullptr, 3), "image");
}

// w x h with the given columns (or rows) set to v.
Bytes lines(int w, int h, std::initializer_list<int> which, bool rows, uint8_t v = 1)
{
    Bytes b(size_t(w) * h, 0);
    for (size_t i = 0; i < b.size(); ++i)
        if (std::count(which.begin(), which.end(), int(rows ? i / size_t(w) : i % size_t(w)))) b[i] = v;
    return b;
}

TEST(DetectEdge, StepEdges)
{
    // Columns 3..5 at 200: columns 2 and 3 have |gx| = 100, M = 10000; the
    // automatic cutoff is 4 * 60000 / 30 = 8000.  Column 2 has an equal
    // right neighbour, column 3 a smaller one, so column 3 is the edge; the
    // frame extends it.  The same on rows for the vertical gradient.
    const Bytes step = lines(6, 5, {3, 4, 5}, false, 200), col3 = lines(6, 5, {3}, false);
    Bytes horizontal = col3;  // see below
    horizontal[3 * 6 + 2] = horizontal[4 * 6 + 2] = 1;
    const struct { int w, h; Bytes in; int direction; float threshold; Bytes mask, want; } cases[] = {
        {6, 5, step, 0, 0.0f, {}, col3},
        {5, 6, lines(5, 6, {3, 4, 5}, true, 200), 0, -3.0f, {}, lines(5, 6, {3}, true)},  // below 0: automatic
        // Without column 3 taking part, column 2 becomes the maximum.
        {6, 5, step, 0, 0.0f, lines(6, 5, {0, 1, 2, 4, 5}, false), lines(6, 5, {2}, false)},
        {6, 5, step, 0, 0.0f, Bytes(30, 1), col3},  // a mask selecting all
        // A threshold of 100 needs M > 10000; the vertical direction alone
        // sees no gradient at all.
        {6, 5, step, 0, 100.0f, {}, Bytes(30, 0)},
        {6, 5, step, 2, 1.0f, {}, Bytes(30, 0)},
        // Horizontal only (ky = 0): column 3 as before; in column 2 the
        // vertical test degenerates to 0 >= -eps and its lowest interior
        // pixel (above a frame M of 0) passes, extended into the bottom row.
        {6, 5, step, 1, 99.9f, {}, horizontal},
        {5, 4, Bytes(20, 77), 0, 0.0f, {}, Bytes(20, 0)},  // uniform: no edge
        {4, 4, lines(4, 4, {2, 3}, false, 200), 0, 0.0f, {}, Bytes(16, 0)},  // cutoff 4 * 40000 / 16: not above it
        // Only the 20 pixels taking part count: the cutoff becomes 12000.
        {6, 5, step, 0, 0.0f, lines(6, 5, {1, 2, 3, 4}, false), Bytes(30, 0)},
        // The edge in column 1: the frame copies rows first, so the corners follow.
        {5, 5, lines(5, 5, {1, 2, 3, 4}, false, 200), 0, 0.0f, {}, lines(5, 5, {0, 1}, false)},
    };
    for (const auto &c : cases) {
        PaddedImage mask(KIT_BIN, c.w, c.h, c.mask, 3);  // its own pitch
        PaddedImage im(KIT_GRAY, c.w, c.h, c.in, 9);
        EXPECT_EQ(kxDetectEdge(im.get(), 0, c.direction, c.threshold, c.mask.empty() ? nullptr : mask.get()), im.get());
        EXPECT_EQ(im.get()->imageType, KIT_BIN);
        EXPECT_EQ(kxtest::pixels(im.get()), c.want) << c.w << "x" << c.h << " " << c.direction << " " << c.threshold;
    }
}

TEST(IntensityMaps, EqualizeSumsLikeAPerPixelAccumulation)
{
    // The table adds 1/n once per pixel of a level (eight levels at a time);
    // level counts that make repeated addition of 1/n differ from k/n.
    for (auto [w, h] : {std::pair{3, 1}, {7, 3}, {10, 10}, {101, 3}, {300, 200}, {64, 40}})
        for (int top : {5, 255}) {
            const Bytes in = kxtest::randomBytes(size_t(w) * h, uint32_t(w * h + top), 0, top);
            double sum[256] = {};  // the bins, then their running sums
            for (uint8_t p : in) sum[p] += 1.0 / double(in.size());
            for (int i = 1; i < 256; ++i) sum[i] += sum[i - 1];
            Bytes want(in);
            for (auto &p : want) p = uint8_t(std::min(sum[p] * 255.0 + 0.5, 255.0));
            EXPECT_EQ(runPadded(KIT_GRAY, w, h, in, kxEqualize), want) << w << "x" << h;
        }
}

TEST(Smooth, MeanAndMedianMatchTheDirectWindows)
{
    // Every window side on small shapes; then the 3 x 3 and 5 x 5 networks,
    // which run up to 64 bytes at a time in blocks of 1024 and 512, on rows
    // of 31 to 2050 bytes (rows of several blocks must join seamlessly), and
    // the sliding column totals over many steps.
    const std::vector<int> all = {INT_MIN, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 81, INT_MAX}, odd = {3, 5, 7, 9},
                           networks = {3, 5};
    uint32_t seed = 77;
    for (int c : {1, 3}) {
        std::vector<std::tuple<int, int, const std::vector<int> *>> shapes = {{90, 41, &odd}};
        for (auto [w, h] :
             {std::pair{1, 1}, {1, 9}, {9, 1}, {2, 3}, {3, 2}, {3, 3}, {5, 5}, {10, 7}, {4, 12}, {15, 11}})
            shapes.push_back({w, h, &all});
        for (int bytes : {31, 32, 33, 63, 64, 65, 80, 511, 512, 513, 1023, 1024, 1025, 1029, 2050})
            shapes.push_back({(bytes + c - 1) / c, 3 + bytes % 5, &networks});
        for (const auto &[w, h, windows] : shapes)
            for (int side : *windows)
                for (int top : {255, 2})  // full range, and few levels so that ranks tie
                    for (bool median : {false, true}) {
                        const Bytes in = kxtest::randomBytes(size_t(w) * h * c, seed++, 0, top);
                        EXPECT_EQ(runPadded(c == 3 ? KIT_RGB : KIT_GRAY, w, h, in,
                                            bind(median ? kxMedian : kxSmoothAvg, side)),
                                  side <= 1 ? in : ref::smooth(in, w, h, c, side, median))
                            << (median ? "median " : "mean ") << w << "x" << h << " c" << c << " n" << side;
                    }
    }
}

TEST(Smooth, MedianColumnStepsAtEveryLevelMatchTheDirectOnes)
{
    // The steps of every level sort and merge like a direct sort of each
    // triple and of the nine values, for run lengths around the vector
    // widths and both pixel strides, with ties (few levels) and the full range.
    auto sorted3 = [](uint8_t p, uint8_t q, uint8_t r) {
        std::array<uint8_t, 3> t = {p, q, r};
        std::sort(t.begin(), t.end());
        return t;
    };
    kxtest::atEveryLevel([&](kx::isa::Level level) {
        const kx::filter::ColumnSteps steps = kx::filter::columnSteps(level);
        uint32_t seed = 9000;
        for (size_t C : {1, 3})
            for (size_t n : {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 200, 1030})
                for (int top : {255, 2}) {
                    const size_t len = n + 2 * C;
                    Bytes in[3], cols[3] = {Bytes(len), Bytes(len), Bytes(len)}, out(n), want(n);
                    for (auto &b : in) b = kxtest::randomBytes(len, seed++, 0, top);
                    steps.sort(in[0].data(), in[1].data(), in[2].data(), cols[0].data(), cols[1].data(),
                               cols[2].data(), len);
                    for (size_t i = 0; i < len; ++i)
                        ASSERT_EQ((std::array{cols[0][i], cols[1][i], cols[2][i]}), sorted3(in[0][i], in[1][i], in[2][i]))
                            << "n " << n << " at " << i;
                    steps.merge(cols[0].data(), cols[1].data(), cols[2].data(), out.data(), n, C);
                    for (size_t i = 0; i < n; ++i) {
                        std::array<uint8_t, 9> nine;
                        for (size_t k = 0; k < 9; ++k) nine[k] = in[k % 3][i + k / 3 * C];
                        std::nth_element(nine.begin(), nine.begin() + 4, nine.end());
                        want[i] = nine[4];
                    }
                    ASSERT_EQ(out, want) << "n " << n << " C " << C;
                }
    });
}

TEST(Smooth, FiveByFiveStepsAtEveryLevelMatchTheDirectOnes)
{
    // Columns of five sorted and 25 values merged to their 13th, as a direct
    // sort does, around the vector widths (the last vector of a run overlaps
    // the one before) and for both pixel strides.
    kxtest::atEveryLevel([&](kx::isa::Level level) {
        const kx::filter::ColumnSteps steps = kx::filter::columnSteps(level);
        uint32_t seed = 9500;
        for (size_t C : {1, 3})
            for (size_t n : {1, 15, 16, 17, 33, 63, 64, 65, 127, 130, 600})
                for (int top : {255, 3}) {
                    const size_t len = n + 4 * C;
                    Bytes in[5], cols[5], out(n), want(n);
                    const uint8_t *inp[5];
                    uint8_t *colp[5];
                    for (int r = 0; r < 5; ++r) {
                        in[r] = kxtest::randomBytes(len, seed++, 0, top);
                        cols[r].assign(len, 0);
                        inp[r] = in[r].data();
                        colp[r] = cols[r].data();
                    }
                    steps.sort5(inp, colp, len);
                    for (size_t i = 0; i < len; ++i) {
                        std::array<uint8_t, 5> got, col;
                        for (int r = 0; r < 5; ++r) got[size_t(r)] = cols[r][i], col[size_t(r)] = in[r][i];
                        std::sort(col.begin(), col.end());
                        ASSERT_EQ(got, col) << "n " << n << " at " << i;
                    }
                    steps.merge5(colp, out.data(), n, C);
                    for (size_t i = 0; i < n; ++i) {
                        std::array<uint8_t, 25> all;
                        for (size_t k = 0; k < 25; ++k) all[k] = in[k % 5][i + k / 5 * C];
                        std::nth_element(all.begin(), all.begin() + 12, all.end());
                        want[i] = all[12];
                    }
                    ASSERT_EQ(out, want) << "n " << n << " C " << C;
                }
    });
}

TEST(Bands, EveryThreadCountGivesTheBytesOfOne)
{
    // A band holds at least 65536 pixels (and at least one row), so these
    // shapes split into three bands, also over the rows an operation plans
    // without its frame: tall, one pixel wide, and bands of a single row
    // (each row then reads its neighbours from copies taken before the
    // bands start).  The pixel operations of tests/pixel share the runner.
    for (auto [w, h] : {std::pair{257, 3 * 256 + 2}, {1, 3 * 65536 + 2}, {65536, 5}}) {
        std::vector<std::pair<std::string, Op>> cases = {
            {"Sobel", bind(kxSobel, 0)}, {"Roberts", kxRoberts}, {"DiffFirst", bind(kxDiffFirst, 0)},
            {"Gradient 1", bind(kxGradient, 1, 3)}, {"Linear", bind(kxLinear, 1.7f, -20.0f)},
            {"DetectEdge", bind(kxDetectEdge, 0, 0, 0, nullptr)},
            {"Add to itself", [](Image *im) { return kxPixelAdd(im, im); }},
            // Two images over one buffer, the second a row lower: the plain
            // row order decides the sums, so the rows must not be split.
            {"Add overlapping", [](Image *im) {
                 kxtest::ImagePtr lower(kxCreateImageEx(KIT_GRAY, im->width, im->height - 1, im->pitch,
                                                        im->data + im->pitch, 0));
                 kxPixelAdd(im, lower.get());
                 return im;
             }}};
        // Gaps within a band, across one or several boundaries, to the last row, past the image.
        for (int gap : {1, 7, h / 3 + 1, h - 1, h + 5}) cases.push_back({"Gradient 0", bind(kxGradient, 0, gap)});
        PaddedImage mask(KIT_BIN, w, h, kxtest::randomBytes(size_t(w) * h, 1, 0, 1), 2);
        cases.push_back({"DetectEdge mask", bind(kxDetectEdge, 0, 0, 0, mask.get())});
        uint32_t seed = 5000;
        for (const auto &[name, op] : cases) {
            const Bytes in = kxtest::randomBytes(size_t(w) * h, seed++, 0, 60);
            kxtSetThreads(1);
            const Bytes one = runPadded(KIT_GRAY, w, h, in, op);
            kxtSetThreads(3);
            EXPECT_EQ(kx::threads::bandCount(h - 2, kx::threads::minRows(w)), 3);  // the shape really splits
            EXPECT_EQ(runPadded(KIT_GRAY, w, h, in, op), one) << name << " " << w << "x" << h;
            kxtSetThreads(-1);
        }
    }
}

}  // namespace
