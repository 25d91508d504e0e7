// Flood fills against OpenCV's floodFill, the tolerance rules, masks that
// stop the fill or are reshaped, the two wrappers, and the refusals.
#include <cmath>

#include "cv_support.hpp"

using namespace kxvt;

static FloodRecord tol(double v) { return {{v, v, v, v}}; }

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
                if (type == KIT_RGBA) cv::extractChannel(bgr, alpha, 3), cv::cvtColor(bgr, bgr, cv::COLOR_BGRA2BGR);
                cv::floodFill(bgr.clone(), mask, cv::Point(7, 4), cv::Scalar(), nullptr, cv::Scalar::all(t),
                              cv::Scalar::all(t), flags | cv::FLOODFILL_MASK_ONLY | (200 << 8));
                const int area = cv::floodFill(bgr, cv::Point(5, 6), type == KIT_BIN ? cv::Scalar(1) : cv::Scalar(11, 22, 33),
                                               nullptr, cv::Scalar::all(t), cv::Scalar::all(t), flags);
                if (type == KIT_RGBA) cv::merge(std::vector<cv::Mat>{bgr, alpha}, bgr);
                const int conn = flags & 15, fixed = flags & KXV_FLOOD_FIXED_RANGE;
                ImagePtr m(ikxFloodFillM(src.get(), 7, 4, tol(t), tol(t), conn, fixed | KXV_FLOOD_MASK_VALUE(200), nullptr));
                EXPECT_TRUE(m && sameAs(m.get(), mask));
                PaddedImage im(type, 21, 17, pixels(src.get()));
                EXPECT_EQ(ikxFloodFill(im.get(), 5, 6, FloodValue{11, 22, 33}, tol(t), tol(t), conn, fixed), area);
                EXPECT_TRUE(sameAs(im.get(), bgr));
                EXPECT_TRUE(im.paddingIntact());
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
    for (int y = 0; y < 8; ++y) mask->data[y * mask->pitch + 5] = 9;
    EXPECT_EQ(ikxFloodFillM(flat.get(), 0, 0, tol(0), tol(0), 4, 0, mask.get()), mask.get());
    for (int y = 1; y <= 6; ++y)
        for (int x = 1; x <= 8; ++x) EXPECT_EQ(mask->data[y * mask->pitch + x], x < 5 ? 1 : x == 5 ? 9 : 0);
    // Masks of other sizes and types are reshaped and zeroed; wrapped ones and the source refuse.
    auto rgb = randomImage(KIT_RGB, 3, 3, 1);
    EXPECT_EQ(ikxFloodFillM(flat.get(), 0, 0, tol(0), tol(0), 4, 0, rgb.get()), rgb.get());
    EXPECT_TRUE(rgb->imageType == KIT_GRAY && rgb->width == 10 && rgb->data[rgb->pitch + 1] == 1);
    PaddedImage wrapped(KIT_GRAY, 3, 3, std::vector<uint8_t>(9, 5));
    expectUntouched(wrapped.get(), [&](Image *m) { return ikxFloodFillM(flat.get(), 0, 0, tol(0), tol(0), 4, 0, m); }, nullptr);
    EXPECT_EQ(ikxFloodFillM(flat.get(), 0, 0, tol(0), tol(0), 4, 0, flat.get()), nullptr);
    // kxFloodFill passes everything on; kxFloodMask cuts the frame off.
    auto a = regions(KIT_RGB, 15, 15, 9), b = copyOf(a.get());
    const FloodRecord lo = {{1, 2, 3, 0}}, up = {{3, 2, 1, 0}};
    EXPECT_EQ(kxFloodFill(a.get(), 3, 4, v, lo, up, 8, KXV_FLOOD_FIXED_RANGE), ikxFloodFill(b.get(), 3, 4, v, lo, up, 8, KXV_FLOOD_FIXED_RANGE));
    EXPECT_EQ(pixels(a.get()), pixels(b.get()));
    auto src = regions(KIT_GRAY, 12, 9, 2);
    ImagePtr framed(ikxFloodFillM(src.get(), 2, 2, tol(2), tol(2), 4, 0, nullptr)), cut(kxFloodMask(src.get(), 2, 2, tol(2), tol(2), 4, 0, nullptr));
    EXPECT_TRUE(framed && cut && sameAs(cut.get(), toMat(framed.get())(cv::Rect(1, 1, 12, 9))));
    auto keep = makeImage(KIT_GRAY, 2, 2);
    EXPECT_EQ(kxFloodMask(nullptr, 0, 0, tol(0), tol(0), 4, 0, keep.get()), keep.get());
    EXPECT_EQ(keep->width, 2);
    // A seed outside, a NaN tolerance, no image.
    for (auto [x, y, t, u] : {std::tuple{INT32_MIN, 9, 1.0, 1.0}, {1, 1, 1.0, std::nan("")}}) {
        expectUntouched(src.get(), [&](Image *i) { return ikxFloodFill(i, x, y, v, tol(t), tol(u), 4, 0) ? i : nullptr; }, nullptr);
        EXPECT_EQ(ikxFloodFillM(src.get(), x, y, tol(t), tol(u), 4, 0, nullptr), nullptr) << x << " " << t;
    }
    EXPECT_EQ(ikxFloodFill(nullptr, 0, 0, v, tol(1), tol(1), 4, 0), 0);
}
