// Flood fills against OpenCV's floodFill, the tolerance rules and
// refusals, the framed mask, and the two wrappers.
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

// The fill and the mask variant against OpenCV; RGBA compares and paints
// its colour bytes only.
TEST(Vision, FloodFillMatchesOpenCv)
{
    for (int type : kTypes)
        for (int conn : {4, 8})
            for (int fixed : {0, KXV_FLOOD_FIXED_RANGE})
                for (double t : {0.0, 7.5}) {
                    SCOPED_TRACE(testing::Message() << type << " " << conn << " " << fixed << " " << t);
                    auto src = regions(type, 21, 17, uint32_t(type + conn));
                    cv::Mat bgr = toMat(src.get()), alpha, mask = cv::Mat::zeros(19, 23, CV_8UC1);
                    if (type == KIT_RGBA) cv::extractChannel(bgr, alpha, 3), cv::cvtColor(bgr, bgr, cv::COLOR_BGRA2BGR);
                    cv::floodFill(bgr.clone(), mask, cv::Point(7, 4), cv::Scalar(), nullptr, cv::Scalar::all(t),
                                  cv::Scalar::all(t), conn | fixed | cv::FLOODFILL_MASK_ONLY | (200 << 8));
                    const int area = cv::floodFill(bgr, cv::Point(5, 6), type == KIT_BIN ? cv::Scalar(1) : cv::Scalar(11, 22, 33),
                                                   nullptr, cv::Scalar::all(t), cv::Scalar::all(t), conn | fixed);
                    if (type == KIT_RGBA) cv::merge(std::vector<cv::Mat>{bgr, alpha}, bgr);
                    ImagePtr m(ikxFloodFillM(src.get(), 7, 4, tol(t), tol(t), conn, fixed | KXV_FLOOD_MASK_VALUE(200), nullptr));
                    ASSERT_TRUE(m);
                    EXPECT_TRUE(sameAs(m.get(), mask));
                    PaddedImage im(type, 21, 17, pixels(src.get()));
                    EXPECT_EQ(ikxFloodFill(im.get(), 5, 6, FloodValue{11, 22, 33}, tol(t), tol(t), conn, fixed), area);
                    EXPECT_TRUE(sameAs(im.get(), bgr));
                    EXPECT_TRUE(im.paddingIntact());
                }
}

TEST(Vision, FloodToleranceRulesAndRefusals)
{
    // Fractions are dropped and tolerances above 255 act as 255.
    auto ramp = makeImage(KIT_GRAY, 10, 1, {0, 2, 4, 6, 8, 10, 12, 14, 16, 18});
    const FloodValue v = {99, 0, 0};
    for (auto [x, lo, up, flags, area] : {std::tuple{0, 2.9, 2.9, 0, 10}, {0, 1.9, 1.9, 0, 1},
                                          {9, 1e300, 0.0, KXV_FLOOD_FIXED_RANGE, 10}}) {
        auto im = copyOf(ramp.get());
        EXPECT_EQ(ikxFloodFill(im.get(), x, 0, v, tol(lo), tol(up), 4, flags), area) << lo;
    }
    auto im = randomImage(KIT_GRAY, 6, 6, 4);
    const auto before = pixels(im.get());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        int x, y;
        double lo, up;
    } cases[] = {{-1, 0, 1, 1}, {0, 6, 1, 1}, {INT32_MIN, INT32_MIN, 1, 1}, {1, 1, -1, 1}, {1, 1, 1, nan}, {1, 1, HUGE_VAL, 1}};
    for (const auto &c : cases) {
        EXPECT_EQ(ikxFloodFill(im.get(), c.x, c.y, v, tol(c.lo), tol(c.up), 4, 0), 0) << c.x << " " << c.lo;
        EXPECT_EQ(ikxFloodFillM(im.get(), c.x, c.y, tol(c.lo), tol(c.up), 4, 0, nullptr), nullptr) << c.x << " " << c.lo;
    }
    EXPECT_EQ(pixels(im.get()), before);
    Image bad = *im;
    bad.imageType = 16;
    EXPECT_EQ(ikxFloodFill(&bad, 0, 0, v, tol(1), tol(1), 4, 0), 0);
    EXPECT_EQ(ikxFloodFill(nullptr, 0, 0, v, tol(1), tol(1), 4, 0), 0);
}

TEST(Vision, FloodMaskStopsAtItsWallsOrIsReshaped)
{
    auto src = makeImage(KIT_GRAY, 8, 6);  // one flat region
    // A wall in the mask at image column 4 stops a 4-connected fill.
    auto mask = makeImage(KIT_GRAY, 10, 8);
    for (int y = 0; y < 8; ++y) mask->data[y * mask->pitch + 5] = 9;
    EXPECT_EQ(ikxFloodFillM(src.get(), 0, 0, tol(0), tol(0), 4, 0, mask.get()), mask.get());
    for (int y = 1; y <= 6; ++y)
        for (int x = 1; x <= 8; ++x) EXPECT_EQ(mask->data[y * mask->pitch + x], x < 5 ? 1 : x == 5 ? 9 : 0);
    // Wrong sizes and types are re-shaped and zeroed; wrapped ones and the source refuse.
    auto rgb = randomImage(KIT_RGB, 3, 3, 1);
    EXPECT_EQ(ikxFloodFillM(src.get(), 0, 0, tol(0), tol(0), 4, 0, rgb.get()), rgb.get());
    EXPECT_EQ(rgb->imageType, KIT_GRAY);
    EXPECT_EQ(rgb->width, 10);
    EXPECT_EQ(rgb->data[1 * rgb->pitch + 1], 1);
    PaddedImage wrapped(KIT_GRAY, 3, 3, std::vector<uint8_t>(9, 5));
    EXPECT_EQ(ikxFloodFillM(src.get(), 0, 0, tol(0), tol(0), 4, 0, wrapped.get()), nullptr);
    EXPECT_EQ(pixels(wrapped.get()), std::vector<uint8_t>(9, 5));
    EXPECT_EQ(ikxFloodFillM(src.get(), 0, 0, tol(0), tol(0), 4, 0, src.get()), nullptr);
}

TEST(Vision, FloodWrappersPassOnAndTrimTheFrame)
{
    auto a = regions(KIT_RGB, 15, 15, 9);
    auto b = copyOf(a.get());
    const FloodValue v = {5, 6, 7};
    const FloodRecord lo = {{1, 2, 3, 0}}, up = {{3, 2, 1, 0}};
    EXPECT_EQ(kxFloodFill(a.get(), 3, 4, v, lo, up, 8, KXV_FLOOD_FIXED_RANGE),
              ikxFloodFill(b.get(), 3, 4, v, lo, up, 8, KXV_FLOOD_FIXED_RANGE));
    EXPECT_EQ(pixels(a.get()), pixels(b.get()));
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
