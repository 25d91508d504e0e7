// Kernel and difference operators against the out-of-place versions and on
// worked images, the edge detector on worked step edges, the family's type
// and argument rules, and row bands.
#include <climits>
#include <functional>

#include "kxtest.hpp"
#include "kxthreads_bands.hpp"
#include "ref_filter.hpp"

using kxtest::PaddedImage;
using Bytes = std::vector<uint8_t>;
using Op = std::function<Image *(Image *)>;

namespace {

const int kSobelA[9] = {1, 0, -1, 2, 0, -2, 1, 0, -1}, kSobelB[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
const int kPrewittA[9] = {1, 0, -1, 1, 0, -1, 1, 0, -1}, kPrewittB[9] = {1, 1, 1, 0, 0, 0, -1, -1, -1};
const int kKirschA[9] = {5, 5, 5, -3, -3, -3, -3, -3, -3}, kKirschB[9] = {5, 5, -3, 5, -3, -3, -3, -3, -3};
const int kDiff2A[9] = {0, 0, 0, 1, -2, 1, 0, 0, 0}, kDiff2B[9] = {0, 1, 0, 0, -2, 0, 0, 1, 0};
const int kLap[9] = {0, 1, 0, 1, -4, 1, 0, 1, 0}, kSharp[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};

Op bind(Image *(*op)(Image *, int), int a) { return [=](Image *im) { return op(im, a); }; }
Op bind(Image *(*op)(Image *, int, int), int a, int b) { return [=](Image *im) { return op(im, a, b); }; }

// op on a padded copy of `in`: its pixels (the same image back, padding intact).
Bytes runPadded(int type, int w, int h, const Bytes &in, const Op &op)
{
    PaddedImage im(type, w, h, in);
    EXPECT_EQ(op(im.get()), im.get());
    EXPECT_TRUE(im.paddingIntact());
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
                        EXPECT_EQ(runPadded(type, w, h, in, bind(op.run, mode)), ref::convolve(in, w, h, mode, op.a, op.b))
                            << *op.a << " mode " << mode << " " << w << "x" << h << " type " << type;
                    }
            }
        const Bytes in = kxtest::randomBytes(size_t(w) * h, seed++);
        EXPECT_EQ(runPadded(KIT_GRAY, w, h, in, kxRoberts), ref::difference(in, w, h, 0, 0)) << w << "x" << h;
        for (int mode : {0, 1, 2, 5, 9}) {
            EXPECT_EQ(runPadded(KIT_GRAY, w, h, in, bind(kxDiffFirst, mode)), ref::difference(in, w, h, 1, mode))
                << "DiffFirst " << mode << " " << w << "x" << h;
            for (int gap : {1, 2, 5, 40})
                EXPECT_EQ(runPadded(KIT_GRAY, w, h, in, bind(kxGradient, mode, gap)), ref::difference(in, w, h, 2, mode, gap))
                    << "Gradient " << mode << " gap " << gap << " " << w << "x" << h;
        }
    }
}

TEST(FilterOperators, GiveTheWorkedValues)
{
    // What the comparison above cannot pin: the header's examples, a past
    // fault on binary images, a gap near INT_MAX.
    const struct { const char *name; Op op; int type, w, h; Bytes in, out; } cases[] = {
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
    };
    for (const auto &c : cases) EXPECT_EQ(runPadded(c.type, c.w, c.h, c.in, c.op), c.out) << c.name;
}

// w x h with the given columns (or rows) set to v.
Bytes lines(int w, int h, std::initializer_list<int> which, bool rows, uint8_t v = 1)
{
    Bytes b(size_t(w) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int i : which)
                if ((rows ? y : x) == i) b[size_t(y) * w + x] = v;
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
        EXPECT_TRUE(im.paddingIntact());
    }
    // A mask of another size or of three bytes a pixel: nothing done.
    kxtest::ImagePtr im = kxtest::makeImage(KIT_GRAY, 6, 5, step);
    kxtest::ImagePtr small = kxtest::makeImage(KIT_BIN, 6, 4, Bytes(24, 1)), colour = kxtest::makeImage(KIT_RGB, 6, 5);
    EXPECT_EQ(kxDetectEdge(im.get(), 0, 0, 0, small.get()), im.get());
    kxDetectEdge(im.get(), 0, 0, 0, colour.get());
    EXPECT_EQ(im->imageType, KIT_GRAY);
    EXPECT_EQ(kxtest::pixels(im.get()), step);
}

TEST(FilterFamily, OtherTypesAndNullAreLeftAlone)
{
    // One row per type rule; the exports sharing a rule share its check.
    const std::pair<Op, int> ops[] = {
        {bind(kxSobel, 0), KIT_RGB},  // the kernels: KIT_BIN and KIT_GRAY
        {kxRoberts, KIT_BIN},         // the differences: KIT_GRAY only
        {kxEqualize, KIT_BIN},        // the intensity maps: KIT_GRAY only
        {kxIncreaseLum, KIT_RGBA},    // KIT_RGB only
        {[](Image *im) { return kxLinearEx(im, 15, 0, 0); }, KIT_GRAY},  // colour only
        {[](Image *im) { return kxDetectEdge(im, 0, 0, 0, nullptr); }, KIT_BIN},
        {[](Image *im) { return kxDetectEdge(im, 1, 0, 0, nullptr); }, KIT_GRAY},  // another method
        {[](Image *im) { int arg = 0; return kxFilter(im, &arg); }, KIT_GRAY},  // ignores its argument
    };
    for (const auto &[op, type] : ops) {
        EXPECT_EQ(op(nullptr), nullptr);
        kxtest::ImagePtr im = kxtest::randomImage(type, 4, 3, uint32_t(&op - &ops[0].first));
        const Bytes before = kxtest::pixels(im.get());
        EXPECT_EQ(op(im.get()), im.get());
        EXPECT_EQ(im->imageType, type);
        EXPECT_EQ(kxtest::pixels(im.get()), before) << "row " << &op - &ops[0].first;
    }
    EXPECT_KX_ASSERT(kxSmoothAvg(nullptr, 3), "image");
    kxtest::ImagePtr im = kxtest::randomImage(KIT_GRAY, 5, 4, 3);
    const Bytes before = kxtest::pixels(im.get());
    EXPECT_KX_ASSERT(kxGradient(im.get(), 0, INT_MIN), "gap>0");
    EXPECT_EQ(kxtest::pixels(im.get()), before);  // nothing written before the check
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
            {"Gradient 1", bind(kxGradient, 1, 3)}, {"Linear", [](Image *im) { return kxLinear(im, 1.7f, -20.0f); }},
            {"Add to itself", [](Image *im) { return kxPixelAdd(im, im); }},
            {"DetectEdge", [](Image *im) { return kxDetectEdge(im, 0, 0, 0, nullptr); }},
            // Two images over one buffer, the second a row lower: the plain
            // row order decides the sums, so the rows must not be split.
            {"Add overlapping", [](Image *im) {
                 kxtest::ImagePtr lower(kxCreateImageEx(KIT_GRAY, im->width, im->height - 1, im->pitch, im->data + im->pitch, 0));
                 kxPixelAdd(im, lower.get());
                 return im;
             }}};
        // Gaps within a band, across one or several boundaries, to the last row, past the image.
        for (int gap : {1, 7, h / 3 + 1, h - 1, h + 5}) cases.push_back({"Gradient 0", bind(kxGradient, 0, gap)});
        PaddedImage mask(KIT_BIN, w, h, kxtest::randomBytes(size_t(w) * h, 1, 0, 1), 2);
        cases.push_back({"DetectEdge mask", [&](Image *im) { return kxDetectEdge(im, 0, 0, 0, mask.get()); }});
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
