// Flood fills: the library against OpenCV's floodFill, and the two
// wrappers (kxFloodFill passes everything on, kxFloodMask trims the frame).
#include <cmath>
#include <limits>

#include "cv_support.hpp"

using namespace kxvt;

namespace {

FloodRecord tol(double v) { return {{v, v, v, v}}; }

// Noisy blocks, so fills have flat regions to follow (binary images stay random).
ImagePtr regions(int type, int w, int h, uint32_t seed)
{
    auto im = randomImage(type, w, h, seed);
    const int bpp = kxiBytesPerPixel(type);
    for (int y = 0; y < h && type != KIT_BIN; ++y)
        for (int x = 0; x < w * bpp; ++x) {
            uint8_t &b = im->data[y * im->pitch + x];
            b = uint8_t((x / bpp / 4 + y / 3) % 3 * 60 + b % 6);
        }
    return im;
}

}  // namespace

TEST(IkxFloodFill, MatchesOpenCvFloodFill)
{
    const FloodValue value = {11, 22, 33};
    for (int type : {KIT_BIN, KIT_GRAY, KIT_RGB})
        for (int conn : {4, 8})
            for (int fixed : {0, KXV_FLOOD_FIXED_RANGE})
                for (double t : {0.0, 3.0, 7.5}) {
                    auto src = regions(type, 21, 17, uint32_t(type + conn));
                    cv::Mat want = toMat(src.get());
                    const cv::Scalar newVal = type == KIT_BIN ? cv::Scalar(1) : cv::Scalar(11, 22, 33);
                    const int area = cv::floodFill(want, cv::Point(5, 6), newVal, nullptr, cv::Scalar::all(t),
                                                   cv::Scalar::all(t), conn | fixed);
                    PaddedImage im(type, 21, 17, pixels(src.get()));
                    EXPECT_EQ(ikxFloodFill(im.get(), 5, 6, value, tol(t), tol(t), conn, fixed), area);
                    EXPECT_TRUE(sameAs(im.get(), want)) << type << " " << conn << " " << fixed << " " << t;
                    EXPECT_TRUE(im.paddingIntact());
                }
}

TEST(IkxFloodFill, RgbaComparesAndPaintsColourBytesOnly)
{
    auto src = regions(KIT_RGBA, 16, 12, 3);
    cv::Mat bgr, alpha;
    cv::cvtColor(toMat(src.get()), bgr, cv::COLOR_BGRA2BGR);
    cv::extractChannel(toMat(src.get()), alpha, 3);
    const int area = cv::floodFill(bgr, cv::Point(2, 2), cv::Scalar(1, 2, 3), nullptr, cv::Scalar::all(4),
                                   cv::Scalar::all(4), 4);
    cv::Mat want;
    cv::merge(std::vector<cv::Mat>{bgr, alpha}, want);  // alpha kept
    auto im = copyOf(src.get());
    EXPECT_EQ(ikxFloodFill(im.get(), 2, 2, FloodValue{1, 2, 3}, tol(4), tol(4), 4, 0), area);
    EXPECT_TRUE(sameAs(im.get(), want));
}

TEST(IkxFloodFill, ToleranceRulesAndRefusals)
{
    // Fractions are dropped and tolerances above 255 act as 255.
    auto ramp = makeImage(KIT_GRAY, 10, 1, {0, 2, 4, 6, 8, 10, 12, 14, 16, 18});
    const FloodValue v = {99, 0, 0};
    struct Rule {
        int x;
        double lo, up;
        int flags, area;
    } rules[] = {{0, 2.9, 2.9, 0, 10}, {0, 1.9, 1.9, 0, 1}, {9, 1e300, 0, KXV_FLOOD_FIXED_RANGE, 10}};
    for (const Rule &r : rules) {
        auto im = copyOf(ramp.get());
        EXPECT_EQ(ikxFloodFill(im.get(), r.x, 0, v, tol(r.lo), tol(r.up), 4, r.flags), r.area) << r.lo;
    }

    auto im = randomImage(KIT_GRAY, 6, 6, 4);
    const auto before = pixels(im.get());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *name;
        int x, y;
        FloodRecord lo, up;
    } cases[] = {
        {"seed left", -1, 0, tol(1), tol(1)},       {"seed below", 0, 6, tol(1), tol(1)},
        {"seed INT_MIN", INT32_MIN, INT32_MIN, tol(1), tol(1)},
        {"negative lo", 1, 1, tol(-1), tol(1)},     {"NaN up", 1, 1, tol(1), tol(nan)},
        {"infinite lo", 1, 1, tol(HUGE_VAL), tol(1)},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ikxFloodFill(im.get(), c.x, c.y, v, c.lo, c.up, 4, 0), 0) << c.name;
        EXPECT_EQ(ikxFloodFillM(im.get(), c.x, c.y, c.lo, c.up, 4, 0, nullptr), nullptr) << c.name;
    }
    EXPECT_EQ(pixels(im.get()), before);
    EXPECT_EQ(ikxFloodFill(nullptr, 0, 0, v, tol(1), tol(1), 4, 0), 0);
    Image bad = *im;
    bad.imageType = 16;
    EXPECT_EQ(ikxFloodFill(&bad, 0, 0, v, tol(1), tol(1), 4, 0), 0);
}

TEST(IkxFloodFillM, MarksTheRegionInAFramedMask)
{
    for (int type : kTypes) {
        auto src = regions(type, 19, 14, uint32_t(type));
        const auto before = pixels(src.get());
        cv::Mat bgr = toMat(src.get());
        if (type == KIT_RGBA) cv::cvtColor(bgr, bgr, cv::COLOR_BGRA2BGR);
        cv::Mat want = cv::Mat::zeros(16, 21, CV_8UC1);
        cv::floodFill(bgr, want, cv::Point(7, 4), cv::Scalar(), nullptr, cv::Scalar::all(3), cv::Scalar::all(3),
                      8 | cv::FLOODFILL_MASK_ONLY | (200 << 8));
        ImagePtr mask(ikxFloodFillM(src.get(), 7, 4, tol(3), tol(3), 8, KXV_FLOOD_MASK_VALUE(200), nullptr));
        ASSERT_TRUE(mask);
        EXPECT_EQ(mask->imageType, KIT_GRAY);
        EXPECT_TRUE(sameAs(mask.get(), want)) << type;
        EXPECT_EQ(mask->data[0], 1);                      // the frame
        EXPECT_EQ(mask->data[5 * mask->pitch + 8], 200);  // the seed (7, 4)
        EXPECT_EQ(pixels(src.get()), before);
    }
}

TEST(IkxFloodFillM, ExistingMasksStopTheFillOrAreReshaped)
{
    auto src = makeImage(KIT_GRAY, 8, 6);  // one flat region
    // A wall in the mask at image column 4 stops a 4-connected fill.
    auto mask = makeImage(KIT_GRAY, 10, 8);
    for (int y = 0; y < 8; ++y) mask->data[y * mask->pitch + 5] = 9;
    EXPECT_EQ(ikxFloodFillM(src.get(), 0, 0, tol(0), tol(0), 4, 0, mask.get()), mask.get());
    for (int y = 1; y <= 6; ++y)
        for (int x = 1; x <= 8; ++x) EXPECT_EQ(mask->data[y * mask->pitch + x], x < 5 ? 1 : x == 5 ? 9 : 0);

    // Wrong sizes and types are re-shaped and zeroed; wrapped ones refuse.
    auto rgb = randomImage(KIT_RGB, 3, 3, 1);
    EXPECT_EQ(ikxFloodFillM(src.get(), 0, 0, tol(0), tol(0), 4, 0, rgb.get()), rgb.get());
    EXPECT_EQ(rgb->imageType, KIT_GRAY);
    EXPECT_EQ(rgb->width, 10);
    EXPECT_EQ(rgb->data[1 * rgb->pitch + 1], 1);
    PaddedImage wrapped(KIT_GRAY, 3, 3, std::vector<uint8_t>(9, 5));
    EXPECT_EQ(ikxFloodFillM(src.get(), 0, 0, tol(0), tol(0), 4, 0, wrapped.get()), nullptr);
    EXPECT_EQ(pixels(wrapped.get()), std::vector<uint8_t>(9, 5));
    auto self = copyOf(src.get());
    EXPECT_EQ(ikxFloodFillM(self.get(), 0, 0, tol(0), tol(0), 4, 0, self.get()), nullptr);
}

TEST(FloodWrappers, FillPassesEverythingOnAndMaskTrimsTheFrame)
{
    auto a = regions(KIT_RGB, 15, 15, 9);
    auto b = copyOf(a.get());
    const FloodValue v = {5, 6, 7};
    const FloodRecord lo = {{1, 2, 3, 0}}, up = {{3, 2, 1, 0}};
    EXPECT_EQ(kxFloodFill(a.get(), 3, 4, v, lo, up, 8, KXV_FLOOD_FIXED_RANGE),
              ikxFloodFill(b.get(), 3, 4, v, lo, up, 8, KXV_FLOOD_FIXED_RANGE));
    EXPECT_EQ(pixels(a.get()), pixels(b.get()));
    EXPECT_EQ(kxFloodFill(nullptr, 0, 0, v, lo, up, 4, 0), 0);
    Image bad = *a;
    bad.width = -3;
    EXPECT_EQ(kxFloodFill(&bad, 0, 0, v, lo, up, 4, 0), 0);

    auto src = regions(KIT_GRAY, 12, 9, 2);
    ImagePtr framed(ikxFloodFillM(src.get(), 2, 2, tol(2), tol(2), 4, 0, nullptr));
    ImagePtr mask(kxFloodMask(src.get(), 2, 2, tol(2), tol(2), 4, 0, nullptr));
    ASSERT_TRUE(framed && mask);
    EXPECT_TRUE(sameAs(mask.get(), toMat(framed.get())(cv::Rect(1, 1, 12, 9))));
    auto keep = makeImage(KIT_GRAY, 2, 2);
    EXPECT_EQ(kxFloodMask(nullptr, 0, 0, tol(0), tol(0), 4, 0, keep.get()), keep.get());
    EXPECT_EQ(keep->width, 2);
    EXPECT_EQ(kxFloodMask(src.get(), 50, 0, tol(0), tol(0), 4, 0, nullptr), nullptr);
}
