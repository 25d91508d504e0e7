// Pyramids, Canny, Scharr, morphology, adaptive thresholds, smoothing,
// flood fills and perspective warps: one OpenCV cross-check per operation,
// the wrappers' argument translation, the refusals, the flood tolerance
// rules and masks, kxWarpEx's patch against the whole-box loop.
#include <functional>
#include <cmath>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "kxtest.hpp"

using namespace kxtest;

namespace {

// A deep copy of the image's pixels as a cv::Mat.
inline cv::Mat toMat(const Image *im)
{
    return cv::Mat(im->height, im->width, CV_8UC(bpp(im->imageType)), im->data, size_t(im->pitch)).clone();
}

// The image's pixels equal those of a Mat of the same layout.
inline bool sameAs(const Image *im, const cv::Mat &m)
{
    return im->height == m.rows && im->width == m.cols && bpp(im->imageType) == m.channels() &&
           cv::norm(cv::Mat(im->height, im->width, m.type(), im->data, size_t(im->pitch)), m, cv::NORM_INF) == 0;
}

inline ImagePtr copyOf(const Image *im) { return ImagePtr(kxiClone(im, nullptr)); }

Op smooth(int method, int w, int h, double sx = 0, double sy = 0)
{
    return [=](Image *i) { return ikxSmooth(i, method, w, h, sx, sy); };
}
Op morph(int op, int n) { return [=](Image *i) { return ikxMorphology(i, op, n); }; }

// `op` returns `result` and leaves the image's type and pixels alone.
inline void expectUntouched(Image *im, const Op &op, const Image *result)
{
    const int type = im->imageType;
    const auto before = pixels(im);
    EXPECT_EQ(op(im), result);
    EXPECT_TRUE(im->imageType == type && pixels(im) == before);
}

// Noisy blocks, so that fills have flat regions to follow and filters edges
// to find (binary images stay random).
inline ImagePtr regions(int type, int w, int h, uint32_t seed)
{
    auto im = randomImage(type, w, h, seed);
    for (int y = 0; y < h && type != KIT_BIN; ++y)
        for (uint8_t *b = im->data + y * im->pitch, *row = b; b < row + w * bpp(type); ++b)
            *b = uint8_t(((b - row) / bpp(type) / 4 + y / 3) % 3 * 60 + *b % 6);
    return im;
}

constexpr int kTypes[] = {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA};


const double kNan = NAN;

FloodRecord tol(double v) { return {{v, v, v, v}}; }

// `op` on a padded copy of `src` returns it and gives `want`.
void expectPadded(const Image *src, const Op &op, const cv::Mat &want)
{
    PaddedImage im(src->imageType, src->width, src->height, pixels(src));
    ASSERT_EQ(op(im.get()), im.get());
    EXPECT_TRUE(sameAs(im.get(), want) && im.paddingIntact());
}

const float kSquare6[8] = {0, 0, 6, 0, 6, 6, 0, 6};

// What a bilinear warp with a transparent border leaves in `before`:
// OpenCV's bilinear warp (edge pixels repeated) wherever the source
// position rounds to a source pixel (OpenCV's nearest warp of an all-ones
// image), `before` elsewhere.
cv::Mat expectedWarp(const cv::Mat &src, const float *s, const float *d, const cv::Mat &before)
{
    const cv::Point2f sp[4] = {{s[0], s[1]}, {s[2], s[3]}, {s[4], s[5]}, {s[6], s[7]}};
    const cv::Point2f dp[4] = {{d[0], d[1]}, {d[2], d[3]}, {d[4], d[5]}, {d[6], d[7]}};
    const cv::Mat m = cv::getPerspectiveTransform(sp, dp);
    cv::Mat warped, onSource, out = before.clone();
    cv::warpPerspective(src, warped, m, before.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::warpPerspective(cv::Mat(src.size(), CV_8UC1, cv::Scalar(1)), onSource, m, before.size(), cv::INTER_NEAREST,
                        cv::BORDER_CONSTANT, cv::Scalar(0));
    warped.copyTo(out, onSource);
    return out;
}

// kxWarpEx's patch the long way: ikxWarp into the rounded box of the
// destination quad, then every box pixel inside the quad (and inside dest).
void referencePatch(const Image *image, const float *s, const float *d, Image *dest)
{
    int r[8];
    for (int i = 0; i < 8; ++i) r[i] = int(double(d[i]) + 0.5);
    const int minX = std::min({r[0], r[2], r[4], r[6]}), maxX = std::max({r[0], r[2], r[4], r[6]});
    const int minY = std::min({r[1], r[3], r[5], r[7]}), maxY = std::max({r[1], r[3], r[5], r[7]});
    const int w = maxX - minX + 1, h = maxY - minY + 1, b = bpp(image->imageType);
    ImagePtr tmp(kxCreateImage(image->imageType, w, h));
    float local[8];
    for (int i = 0; i < 8; ++i) local[i] = d[i] - float(i % 2 ? minY : minX);
    ikxWarp(image, s, local, tmp.get());
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            if (kxIsPointInPolygonE3(float(c), float(r), local, 4) && c + minX >= 0 && r + minY >= 0 &&
                c + minX < dest->width && r + minY < dest->height)
                std::memcpy(dest->data + (r + minY) * dest->pitch + (c + minX) * b, tmp->data + r * tmp->pitch + c * b,
                            size_t(b));
}

}  // namespace

TEST(Vision, FiltersMatchOpenCv)
{
    for (int type : kTypes)
        for (auto [w, h] : {std::pair{1, 1}, {2, 5}, {13, 11}}) {
            SCOPED_TRACE(testing::Message() << type << " " << w << "x" << h);
            auto src = randomImage(type, w, h, uint32_t(w + 10 * h + type));
            const cv::Mat m = toMat(src.get());
            cv::Mat down, up;
            cv::pyrDown(m, down, cv::Size((w + 1) / 2, (h + 1) / 2));
            cv::pyrUp(m, up, cv::Size(2 * w, 2 * h));
            ImagePtr d(ikxPyramid(src.get(), KXV_PYR_DOWN, nullptr));  // into a new image, another dest, in place
            auto other = makeImage(type == KIT_GRAY ? KIT_RGB : KIT_GRAY, 3, 3), u = copyOf(src.get());
            EXPECT_TRUE(d && ikxPyramid(src.get(), KXV_PYR_DOWN, other.get()) == other.get());
            EXPECT_TRUE(ikxPyramid(u.get(), KXV_PYR_UP, u.get()) == u.get() && sameAs(u.get(), up));
            EXPECT_TRUE(sameAs(d.get(), down) && sameAs(other.get(), down));
            for (int op = 0; op <= 6; ++op) {  // morphology codes, one and three times
                cv::Mat want;
                cv::morphologyEx(m, want, op, cv::Mat(), cv::Point(-1, -1), 1 + op % 2 * 2);
                expectPadded(src.get(), morph(op, 1 + op % 2 * 2), want);
            }
            // Smoothing: Gaussian and median sides grow to the next odd one;
            // the median ignores the height.
            for (auto [kw, kh] : {std::pair{2, 4}, {41, 3}}) {
                cv::Mat box, gauss, median;
                cv::blur(m, box, cv::Size(kw, kh), cv::Point(-1, -1), cv::BORDER_REFLECT_101);
                cv::medianBlur(m, median, kw | 1);
                cv::GaussianBlur(m, gauss, cv::Size(kw | 1, kh | 1), 0, 0, cv::BORDER_REFLECT_101);
                expectPadded(src.get(), smooth(KXV_SMOOTH_BOX, kw, kh), box);
                expectPadded(src.get(), smooth(KXV_SMOOTH_GAUSSIAN, kw, kh), gauss);
                expectPadded(src.get(), smooth(KXV_SMOOTH_MEDIAN, kw, 99), median);
            }
            if (type == KIT_BIN) continue;
            cv::Mat dx, dy, scharr[3];
            cv::Scharr(m, dx, CV_16S, 1, 0);
            cv::Scharr(m, dy, CV_16S, 0, 1);
            cv::convertScaleAbs(dx, scharr[0]);
            cv::convertScaleAbs(dy, scharr[1]);
            cv::add(scharr[0], scharr[1], scharr[2]);
            for (int dir = 0; dir < 3; ++dir)
                expectPadded(src.get(), [&](Image *i) { return ikxScharr(i, dir); }, scharr[dir]);
        }
    // Gaussian sigmas: sides derived from sigma, sigmaY taken from sigmaX.
    auto src = randomImage(KIT_RGB, 20, 17, 10);
    for (auto [w, h, sx, sy] : {std::tuple{0, 0, 1.5, 0.0}, {5, 0, 2.0, 0.7}, {7, 3, 3.0, 0.0}}) {
        cv::Mat want;
        cv::GaussianBlur(toMat(src.get()), want, cv::Size(w, h), sx, sy, cv::BORDER_REFLECT_101);
        expectPadded(src.get(), smooth(KXV_SMOOTH_GAUSSIAN, w, h, sx, sy), want);
    }
}

TEST(Vision, CannyAndAdaptiveMatchOpenCv)
{
    auto src = regions(KIT_GRAY, 40, 30, 3);
    const cv::Mat m = toMat(src.get());
    for (auto [value, aperture, l2, t1, t2] : {std::tuple{0, 3, false, 50.0, 150.0}, {3, 3, false, 150.0, 50.0},
                                               {5, 5, false, 200.0, 600.0}, {7, 7, false, 1000.0, 3000.0},
                                               {3 | KXV_CANNY_L2, 3, true, 40.0, 120.0}}) {
        cv::Mat want;
        cv::Canny(m, want, t1, t2, aperture, l2);
        EXPECT_GT(cv::countNonZero(want), 0);
        expectPadded(src.get(), [&](Image *i) { return ikxCanny(i, t1, t2, value); }, want);
        auto bin = copyOf(src.get());  // kxCanny's binarise flag gives KIT_BIN 0/1
        EXPECT_EQ(kxCanny(bin.get(), t1, t2, 1, value), bin.get());
        EXPECT_TRUE(bin->imageType == KIT_BIN && sameAs(bin.get(), want / 255));
    }
    constexpr int kMean = cv::ADAPTIVE_THRESH_MEAN_C, kGauss = cv::ADAPTIVE_THRESH_GAUSSIAN_C;
    for (auto [mode, block, offset, method, cvBlock] : {std::tuple{0, 3, 5.0, kMean, 3}, {1, 7, 5.0, kGauss, 7},
                                                         {2, 11, -3.0, kMean, 11}, {1, 4, 0.0, kGauss, 5}}) {
        cv::Mat want;
        cv::adaptiveThreshold(m, want, 255, method, cv::THRESH_BINARY, cvBlock, offset);
        expectPadded(src.get(), [&](Image *i) { return ikxAdaptive(i, mode, block, offset); }, want);
    }
}

// The wrappers that translate their arguments equal the library call they
// stand for; huge morphology counts reach the fixed point.
TEST(Vision, WrappersAndDestinations)
{
    const struct { int type; Op wrapper, library; } cases[] = {
        // Counts <= 0 become 1, except for erosion and dilation (no change).
        {KIT_GRAY, [](Image *i) { return kxMorphology(i, 1, 3); }, morph(1, 3)},
        {KIT_RGB, [](Image *i) { return kxMorphology(i, 4, INT32_MIN); }, morph(4, 1)},
        {KIT_GRAY, [](Image *i) { return kxMorphology(i, 0, -2); }, morph(0, -2)},
        {KIT_RGB, kxMorpOpen, morph(2, 1)}, {KIT_GRAY, kxMorpClose, morph(3, 1)},
        // Mode 1 is the Gaussian flag; the offset is 5.
        {KIT_GRAY, [](Image *i) { return kxAdaptive(i, 1, 9); }, [](Image *i) { return ikxAdaptive(i, 1, 9, 5.0); }},
        {KIT_GRAY, [](Image *i) { return kxAdaptive(i, 2, 9); }, [](Image *i) { return ikxAdaptive(i, 0, 9, 5.0); }},
    };
    for (const auto &c : cases) {
        auto a = regions(c.type, 14, 10, 6), b = copyOf(a.get());
        EXPECT_TRUE(c.wrapper(a.get()) == a.get() && pixels(a.get()) == pixels(c.library(b.get())));
    }
    // kxPyramid on a KIT_BIN source holding other non-zero bytes: source and result end up 0/1.
    auto bin = makeImage(KIT_BIN, 4, 2, {9, 0, 0, 9, 0, 0, 9, 1});
    ImagePtr out(kxPyramid(bin.get(), KXV_PYR_UP, nullptr));
    ASSERT_TRUE(out && pixels(bin.get()) == std::vector<uint8_t>({1, 0, 0, 1, 0, 0, 1, 1}));
    for (uint8_t b : pixels(out.get())) EXPECT_LE(b, 1);
    auto grey = randomImage(KIT_GRAY, 7, 5, 1), eroded = copyOf(grey.get());
    double lo = 0, hi = 0;
    cv::minMaxLoc(toMat(grey.get()), &lo, &hi);
    ikxErode(eroded.get(), INT32_MAX);
    ikxMorphology(grey.get(), KXV_MORPH_GRADIENT, INT32_MAX);
    EXPECT_TRUE(sameAs(eroded.get(), cv::Mat(5, 7, CV_8UC1, cv::Scalar(lo))));
    EXPECT_TRUE(sameAs(grey.get(), cv::Mat(5, 7, CV_8UC1, cv::Scalar(hi - lo))));
}

// Refused arguments, types, points and records: null (the library calls)
// or the image (the wrappers' gates; for the warps the image is dest), the
// image alone.  (The exports' other kinds and bounds: the manifest's claims
// test.)
TEST(Vision, RefusalsLeaveTheImageAlone)
{
    auto src = randomImage(KIT_GRAY, 6, 6, 5), rgba = randomImage(KIT_RGBA, 6, 6, 1);
    auto wide = makeImage(KIT_GRAY, 40000, 1), target = randomImage(KIT_GRAY, 6, 6, 6);
    Image *g = src.get(), *c = rgba.get();
    const float *sq = kSquare6, line[8] = {0, 0, 1, 1, 2, 2, 5, 0}, same[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    const float withNan[8] = {0, 0, 6, 0, 6, NAN, 0, 6};
    const float infinite[8] = {0, 0, INFINITY, 0, INFINITY, INFINITY, 0, INFINITY};
    const float huge[8] = {-3e9f, -3e9f, 3e9f, -3e9f, 3e9f, 3e9f, -3e9f, 3e9f};
    const FloodRecord one = tol(1);
    const FloodValue nine = {9, 9, 9};
    const struct { int type; Op op; bool self; } cases[] = {
        {KIT_GRAY, [](Image *i) { return ikxPyramid(i, 2, nullptr); }, false},
        {KIT_GRAY, [](Image *i) { return ikxCanny(i, 10, 20, 4); }, false},
        {KIT_GRAY, [](Image *i) { return ikxPyramid(i, KXV_PYR_DOWN, PaddedImage(KIT_GRAY, 3, 3).get()); }, false},
        {KIT_GRAY, [](Image *i) { return ikxCanny(i, kNan, 20, 3); }, false},
        {KIT_RGB, [](Image *i) { return ikxCanny(i, 10, 20, 3); }, false},
        {KIT_BIN, [](Image *i) { return ikxScharr(i, 0); }, false},
        {KIT_GRAY, [](Image *i) { return ikxScharr(i, 3); }, false},
        {KIT_GRAY, [](Image *i) { return ikxErode(i, 0); }, true}, {KIT_GRAY, morph(7, 1), false},
        {KIT_GRAY, smooth(4, 3, 3), false},
        {KIT_GRAY, smooth(KXV_SMOOTH_BOX, KXV_MAX_WINDOW + 1, 3), false},
        {KIT_GRAY, smooth(KXV_SMOOTH_GAUSSIAN, 3, 3, kNan), false},
        {KIT_GRAY, smooth(KXV_SMOOTH_GAUSSIAN, 0, 0, 1e300), false},
        {KIT_GRAY, smooth(KXV_SMOOTH_MEDIAN, INT32_MAX, 1), false},
        // Floods from a seed outside or with a NaN tolerance; kxFloodMask without an image keeps the mask.
        {KIT_GRAY, [&](Image *i) { return ikxFloodFill(i, INT32_MIN, 9, nine, one, one, 4, 0) ? i : nullptr; }, false},
        {KIT_GRAY, [&](Image *i) { return ikxFloodFill(i, 1, 1, nine, one, tol(kNan), 4, 0) ? i : nullptr; }, false},
        {KIT_GRAY, [&](Image *i) { return ikxFloodFillM(i, INT32_MIN, 9, one, one, 4, 0, nullptr); }, false},
        {KIT_GRAY, [&](Image *i) { return ikxFloodFillM(i, 1, 1, one, tol(kNan), 4, 0, nullptr); }, false},
        {KIT_GRAY, [](Image *m) { return kxFloodMask(nullptr, 0, 0, tol(0), tol(0), 4, 0, m); }, true},
        {KIT_GRAY, [&](Image *d) { return ikxWarp(g, nullptr, sq, d); }, false},
        {KIT_GRAY, [&](Image *d) { return ikxWarp(g, line, sq, d); }, false},
        {KIT_GRAY, [&](Image *d) { return ikxWarp(g, sq, line, d); }, false},
        {KIT_GRAY, [&](Image *d) { return ikxWarp(g, sq, withNan, d); }, false},
        {KIT_GRAY, [&](Image *d) { return ikxWarp(g, same, sq, d); }, false},
        {KIT_GRAY, [&](Image *d) { return ikxWarp(wide.get(), sq, sq, d); }, false},  // beyond the warp's coordinates
        {KIT_GRAY, [&](Image *d) { return kxWarp(c, sq, sq, d); }, true},
        {KIT_GRAY, [&](Image *d) { return kxCopyPixelsE3(c, d, sq), d; }, true},
        {KIT_GRAY, [&](Image *d) { return kxCopyPixelsE3(d, d, nullptr), d; }, true},
        {KIT_GRAY, [&](Image *d) { return kxWarpEx(g, sq, 4, infinite, 4, 1, d); }, true},
    };
    for (size_t k = 0; k < std::size(cases); ++k) {
        auto im = randomImage(cases[k].type, 8, 7, 2);
        expectUntouched(im.get(), cases[k].op, cases[k].self ? im.get() : nullptr);
        EXPECT_EQ(cases[k].op(nullptr), nullptr) << k;
    }
    Image bad = *g, tooLarge = *g;  // an unusable record; a result too large
    bad.pitch = 1;
    tooLarge.width = 1 << 30;
    tooLarge.pitch = 3 << 30;
    EXPECT_EQ(ikxSmooth(&bad, KXV_SMOOTH_BOX, 3, 3, 0, 0), nullptr);
    EXPECT_EQ(ikxWarp(g, sq, sq, &bad), nullptr);
    EXPECT_EQ(ikxPyramid(&tooLarge, KXV_PYR_UP, nullptr), nullptr);
    EXPECT_EQ(ikxWarp(nullptr, sq, sq, g), nullptr);
    EXPECT_EQ(kxWarpEx(g, sq, 4, huge, 4, 1, target.get()), target.get());
    EXPECT_EQ(ikxWarp(g, sq, sq, wide.get()), wide.get());  // a wide destination is fine
    // kxPyramid: a colour source passes the destination back; a bad direction asserts.
    auto dest = makeImage(KIT_GRAY, 2, 2);
    EXPECT_EQ(kxPyramid(c, 0, dest.get()), dest.get());
    EXPECT_EQ(dest->width, 2);
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // OpenCV may have started worker threads
    EXPECT_KX_ASSERT(kxPyramid(g, 5, nullptr), "dest");
    EXPECT_KX_ASSERT(kxWarpEx(nullptr, sq, 4, sq, 4, 0, nullptr), "image");
    EXPECT_KX_ASSERT(kxWarpEx(g, nullptr, 4, sq, 4, 0, nullptr), "pSrcControls && pDestControls");
    // The Gabor placeholders ignore their arguments.
    EXPECT_EQ(kxCreateGaborBank(INT32_MIN, -1, 0, INT32_MAX), nullptr);
    EXPECT_EQ(kxDestroyGaborBank(7) + kxOrientationField(1, 2) + kxFrequenceField(1, 2, 3), 0);
}

// The fill and the framed mask against OpenCV; RGBA compares and paints
// its colour bytes only.
TEST(Vision, FloodFillMatchesOpenCv)
{
    for (int type : kTypes)
        for (int flags : {4, 8, 4 | KXV_FLOOD_FIXED_RANGE, 8 | KXV_FLOOD_FIXED_RANGE})
            for (double t : {0.0, 7.5}) {
                SCOPED_TRACE(testing::Message() << type << " " << flags << " " << t);
                auto src = regions(type, 21, 17, uint32_t(type + flags));
                cv::Mat bgr = toMat(src.get()), alpha, mask = cv::Mat::zeros(19, 23, CV_8UC1);
                if (type == KIT_RGBA) {
                    cv::extractChannel(bgr, alpha, 3);
                    cv::cvtColor(bgr, bgr, cv::COLOR_BGRA2BGR);
                }
                cv::floodFill(bgr.clone(), mask, cv::Point(7, 4), cv::Scalar(), nullptr, cv::Scalar::all(t),
                              cv::Scalar::all(t), flags | cv::FLOODFILL_MASK_ONLY | (200 << 8));
                const int area =
                    cv::floodFill(bgr, cv::Point(5, 6), type == KIT_BIN ? cv::Scalar(1) : cv::Scalar(11, 22, 33),
                                  nullptr, cv::Scalar::all(t), cv::Scalar::all(t), flags);
                if (type == KIT_RGBA) cv::merge(std::vector<cv::Mat>{bgr, alpha}, bgr);
                const int conn = flags & 15, fixed = flags & KXV_FLOOD_FIXED_RANGE;
                const FloodRecord r = tol(t);
                ImagePtr m(ikxFloodFillM(src.get(), 7, 4, r, r, conn, fixed | KXV_FLOOD_MASK_VALUE(200), nullptr));
                EXPECT_TRUE(m && sameAs(m.get(), mask));
                PaddedImage im(type, 21, 17, pixels(src.get()));
                EXPECT_EQ(ikxFloodFill(im.get(), 5, 6, FloodValue{11, 22, 33}, r, r, conn, fixed), area);
                EXPECT_TRUE(sameAs(im.get(), bgr) && im.paddingIntact());
            }
}

TEST(Vision, FloodRulesMasksWrappersAndRefusals)
{
    // Fractions are dropped and tolerances above 255 act as 255.
    auto ramp = makeImage(KIT_GRAY, 10, 1, {0, 2, 4, 6, 8, 10, 12, 14, 16, 18});
    const FloodValue v = {99, 0, 0};
    for (auto [x, t, up, flags, area] : {std::tuple{0, 2.9, 2.9, 0, 10}, {0, 1.9, 1.9, 0, 1},
                                         {9, 1e300, 0.0, KXV_FLOOD_FIXED_RANGE, 10}})
        EXPECT_EQ(ikxFloodFill(copyOf(ramp.get()).get(), x, 0, v, tol(t), tol(up), 4, flags), area) << t;
    // A wall in a given mask at image column 4 stops a 4-connected fill.
    auto flat = makeImage(KIT_GRAY, 8, 6), mask = makeImage(KIT_GRAY, 10, 8);
    const Op intoMask = [&](Image *m) { return ikxFloodFillM(flat.get(), 0, 0, tol(0), tol(0), 4, 0, m); };
    for (int y = 0; y < 8; ++y) mask->data[y * mask->pitch + 5] = 9;
    EXPECT_EQ(intoMask(mask.get()), mask.get());
    for (int y = 1; y <= 6; ++y)
        for (int x = 1; x <= 8; ++x) EXPECT_EQ(mask->data[y * mask->pitch + x], x < 5 ? 1 : x == 5 ? 9 : 0);
    // Masks of other sizes and types are reshaped and zeroed; wrapped ones and the source refuse.
    auto rgb = randomImage(KIT_RGB, 3, 3, 1);
    EXPECT_EQ(intoMask(rgb.get()), rgb.get());
    EXPECT_TRUE(rgb->imageType == KIT_GRAY && rgb->width == 10 && rgb->data[rgb->pitch + 1] == 1);
    PaddedImage wrapped(KIT_GRAY, 3, 3, std::vector<uint8_t>(9, 5));
    expectUntouched(wrapped.get(), intoMask, nullptr);
    EXPECT_EQ(intoMask(flat.get()), nullptr);
    // kxFloodFill passes everything on; kxFloodMask cuts the frame off.
    auto a = regions(KIT_RGB, 15, 15, 9), b = copyOf(a.get());
    const FloodRecord lo = {{1, 2, 3, 0}}, up = {{3, 2, 1, 0}};
    EXPECT_EQ(kxFloodFill(a.get(), 3, 4, v, lo, up, 8, KXV_FLOOD_FIXED_RANGE),
              ikxFloodFill(b.get(), 3, 4, v, lo, up, 8, KXV_FLOOD_FIXED_RANGE));
    EXPECT_EQ(pixels(a.get()), pixels(b.get()));
    auto src = regions(KIT_GRAY, 12, 9, 2);
    ImagePtr framed(ikxFloodFillM(src.get(), 2, 2, tol(2), tol(2), 4, 0, nullptr)),
        cut(kxFloodMask(src.get(), 2, 2, tol(2), tol(2), 4, 0, nullptr));
    EXPECT_TRUE(framed && cut && sameAs(cut.get(), toMat(framed.get())(cv::Rect(1, 1, 12, 9))));
}

TEST(Vision, WarpMatchesOpenCvWithTransparentBorder)
{
    cv::RNG rng(7);
    for (int type : kTypes)
        for (int round = 0; round < 4; ++round) {
            const int w = rng.uniform(3, 40), h = rng.uniform(3, 40), dw = rng.uniform(3, 50), dh = rng.uniform(3, 50);
            // Round 2 warps the source onto itself; round 3 has a null dest: a zeroed image of the source's size
            // and type under the warp.
            auto src = randomImage(type, w, h, uint32_t(round + 100 * type));
            auto dest = round == 2 ? copyOf(src.get())
                        : round == 3 ? makeImage(type, w, h) : randomImage(type, dw, dh, uint32_t(round + 7));
            float s[8] = {0, 0, float(w), 0, float(w), float(h), 0, float(h)},
                  d[8] = {0, 0, float(dw), 0, float(dw), float(dh), 0, float(dh)};
            for (float &v : s) v += float(rng.uniform(-0.15, 0.15)) * float(std::min(w, h));
            for (float &v : d) v += float(rng.uniform(-0.3, 0.3)) * float(std::min(dw, dh));
            const cv::Mat expected = expectedWarp(toMat(src.get()), s, d, toMat(dest.get()));
            if (round == 2) dest.reset(ikxWarp(src.get(), s, d, src.get()) == src.get() ? src.release() : nullptr);
            if (round == 3) dest.reset(ikxWarp(src.get(), s, d, nullptr));
            ASSERT_TRUE(dest && (round >= 2 || ikxWarp(src.get(), s, d, dest.get()) == dest.get()));
            EXPECT_TRUE(sameAs(dest.get(), expected)) << "type " << type << " round " << round;
        }
    // A strong perspective: the horizon crosses dest; nothing beyond it maps onto the source.
    auto grey = makeImage(KIT_GRAY, 20, 20, std::vector<uint8_t>(400, 100)),
         dest = makeImage(KIT_GRAY, 40, 40, std::vector<uint8_t>(1600, 7));
    const float s20[8] = {0, 0, 20, 0, 20, 20, 0, 20}, d[8] = {19.5f, 10, 20.5f, 10, 40, 20, 0, 20};
    ASSERT_EQ(ikxWarp(grey.get(), s20, d, dest.get()), dest.get());
    const auto px = pixels(dest.get());
    EXPECT_EQ(std::vector<uint8_t>(px.begin(), px.begin() + 9 * 40), std::vector<uint8_t>(360, 7));
    EXPECT_EQ(px[12 * 40 + 20], 100);  // maps to source (10, 18.2)
}

// The patch alone (patch flag) or on the full warp.
TEST(Vision, WarpExPatchesOnlyInsideTheDestinationQuad)
{
    const float cases[][8] = {
        {3.2f, 2.7f, 14.6f, 4.1f, 12.3f, 13.8f, 2.4f, 11.1f},    // inside
        {-4.3f, -3.1f, 9.7f, -1.2f, 8.2f, 9.6f, -2.6f, 7.4f},    // across the left and top edges
        {10.4f, 9.3f, 24.2f, 11.1f, 21.7f, 22.8f, 9.1f, 19.6f},  // across the right and bottom edges
        {30, 30, 40, 30, 40, 40, 30, 40},                        // outside
    };
    const float s[8] = {0, 0, 11, 0, 11, 9, 0, 9};
    for (int type : {KIT_BIN, KIT_RGB})
        for (const auto &d : cases)
            for (int patchOnly : {1, 0}) {
                auto src = randomImage(type, 11, 9, uint32_t(type + 1)), dest = randomImage(type, 18, 16, 77);
                auto expected = copyOf(dest.get());
                if (!patchOnly) ikxWarp(src.get(), s, d, expected.get());
                referencePatch(src.get(), s, d, expected.get());
                EXPECT_EQ(kxWarpEx(src.get(), s, 4, d, 4 + patchOnly, patchOnly, dest.get()), dest.get());
                EXPECT_EQ(pixels(dest.get()), pixels(expected.get())) << type << " " << d[0] << " " << patchOnly;
            }
}

TEST(Vision, WarpWrappersCastDestinationsAndBinariseResults)
{
    // The identity converts dest to the source's type; a wrapped dest cannot change type: untouched.
    const std::function<Image *(const Image *, Image *)> calls[] = {
        [](const Image *s, Image *d) { return kxWarp(s, kSquare6, kSquare6, d); },
        [](const Image *s, Image *d) { return kxWarpEx(s, kSquare6, 4, kSquare6, 4, 1, d); },
        [](const Image *s, Image *d) { return kxCopyPixelsE3(s, d, kSquare6), d; },
    };
    for (const auto &call : calls)
        for (auto [from, to] : {std::pair{KIT_RGB, KIT_GRAY}, {KIT_GRAY, KIT_RGB}}) {
            auto src = randomImage(from, 6, 6, 3), dest = makeImage(to, 6, 6);
            PaddedImage wrapped(to, 6, 6, std::vector<uint8_t>(size_t(36 * bpp(to)), 9));
            EXPECT_EQ(call(src.get(), dest.get()), dest.get());
            EXPECT_TRUE(dest->imageType == from && pixels(dest.get()) == pixels(src.get())) << from;
            expectUntouched(wrapped.get(), [&](Image *d) { return call(src.get(), d), d; }, wrapped.get());
        }
    // Binary bytes above 1 survive the library's bilinear warp; the wrappers re-binarise.
    auto bin = randomImage(KIT_BIN, 6, 6, 4), unwarped = makeImage(KIT_GRAY, 6, 6);
    for (int i = 0; i < 36; ++i) bin->data[i / 6 * bin->pitch + i % 6] *= 5;
    const float shifted[8] = {0.5f, 0, 6.5f, 0, 6.5f, 6, 0.5f, 6};
    ImagePtr raw(ikxWarp(bin.get(), kSquare6, shifted, nullptr)), out(kxWarp(bin.get(), kSquare6, shifted, nullptr));
    ASSERT_TRUE(raw && out && kxUnwarp(bin.get(), shifted, unwarped.get()) == unwarped.get());
    const auto rp = pixels(raw.get()), op = pixels(out.get()), up = pixels(unwarped.get());
    EXPECT_GT(*std::max_element(rp.begin(), rp.end()), 1);
    for (size_t i = 0; i < op.size(); ++i) EXPECT_TRUE(op[i] == (rp[i] != 0) && up[i] <= 1) << i;
    EXPECT_EQ(unwarped->imageType, KIT_BIN);
    // kxUnwarp maps pixel centres (0,0) .. (w-1,h-1): onto an equal dest the identity.
    // kxCopyPixelsE3 maps to corners at (w, h), as kxWarp does.
    auto src = randomImage(KIT_RGB, 12, 10, 8);
    const float quad[8] = {1.5f, 2, 11, 1, 10.5f, 9, 2, 8.5f}, corners[8] = {0, 0, 7, 0, 7, 5, 0, 5};
    const float centres[8] = {0, 0, 11, 0, 11, 9, 0, 9};
    auto same = makeImage(KIT_RGB, 12, 10), viaCopy = makeImage(KIT_RGB, 7, 5), viaWarp = makeImage(KIT_RGB, 7, 5),
         viaUnwarp = makeImage(KIT_RGB, 7, 5);
    EXPECT_EQ(kxUnwarp(src.get(), centres, same.get()), same.get());
    EXPECT_EQ(pixels(same.get()), pixels(src.get()));
    kxCopyPixelsE3(src.get(), viaCopy.get(), quad);
    kxWarp(src.get(), quad, corners, viaWarp.get());
    kxUnwarp(src.get(), quad, viaUnwarp.get());
    EXPECT_TRUE(pixels(viaCopy.get()) == pixels(viaWarp.get()) && pixels(viaCopy.get()) != pixels(viaUnwarp.get()));
}
