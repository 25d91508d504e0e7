// Pyramids, Canny, Scharr, morphology and adaptive thresholds: the library
// against direct OpenCV calls, and the argument translation of the wrappers.
#include <limits>

#include "cv_support.hpp"

using namespace kxvt;

namespace {

const double kNan = std::numeric_limits<double>::quiet_NaN();

// A grey test picture with edges: a bright rectangle on dark noise.
ImagePtr blocks(int w, int h, uint32_t seed)
{
    auto im = randomImage(KIT_GRAY, w, h, seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t &b = im->data[y * im->pitch + x];
            b = uint8_t(x >= w / 4 && x < 3 * w / 4 && y >= h / 4 && y < 3 * h / 4 ? 200 + b % 40 : b % 40);
        }
    return im;
}

}  // namespace

// ---- pyramids ----------------------------------------------------------------

TEST(IkxPyramid, MatchesOpenCvBothWays)
{
    for (int type : kTypes)
        for (auto [w, h] : {std::pair{1, 1}, {2, 3}, {7, 5}, {16, 9}}) {
            auto src = randomImage(type, w, h, uint32_t(w + 10 * h + type));
            cv::Mat down, up;
            cv::pyrDown(toMat(src.get()), down, cv::Size((w + 1) / 2, (h + 1) / 2));
            cv::pyrUp(toMat(src.get()), up, cv::Size(2 * w, 2 * h));
            ImagePtr d(ikxPyramid(src.get(), KXV_PYR_DOWN, nullptr));
            ImagePtr u(ikxPyramid(src.get(), KXV_PYR_UP, nullptr));
            ASSERT_TRUE(d && u);
            EXPECT_EQ(d->imageType, type);
            EXPECT_TRUE(sameAs(d.get(), down)) << type << " " << w << "x" << h;
            EXPECT_TRUE(sameAs(u.get(), up)) << type << " " << w << "x" << h;
        }
}

TEST(IkxPyramid, DestIsReshapedOrRefused)
{
    auto src = randomImage(KIT_RGB, 10, 8, 1);
    ImagePtr expected(ikxPyramid(src.get(), KXV_PYR_DOWN, nullptr));
    auto dest = makeImage(KIT_GRAY, 3, 3), self = copyOf(src.get());  // self: in place
    EXPECT_EQ(ikxPyramid(src.get(), KXV_PYR_DOWN, dest.get()), dest.get());
    EXPECT_EQ(ikxPyramid(self.get(), KXV_PYR_DOWN, self.get()), self.get());
    for (Image *d : {dest.get(), self.get()}) {
        EXPECT_EQ(d->imageType, KIT_RGB);
        EXPECT_TRUE(sameAs(d, toMat(expected.get())));
    }
    PaddedImage wrapped(KIT_RGB, 3, 3);
    EXPECT_EQ(ikxPyramid(src.get(), KXV_PYR_DOWN, wrapped.get()), nullptr);
    for (int direction : {2, -1}) EXPECT_EQ(ikxPyramid(src.get(), direction, nullptr), nullptr);
    Image huge = *src;
    huge.width = 1 << 30, huge.pitch = 3 << 30;
    EXPECT_EQ(ikxPyramid(&huge, KXV_PYR_UP, nullptr), nullptr);
}

TEST(KxPyramid, GateAssertAndBinaryBytes)
{
    auto rgba = randomImage(KIT_RGBA, 6, 6, 1);
    auto dest = makeImage(KIT_GRAY, 2, 2);
    EXPECT_EQ(kxPyramid(rgba.get(), 0, dest.get()), dest.get());
    EXPECT_EQ(dest->width, 2);
    EXPECT_EQ(kxPyramid(nullptr, 0, dest.get()), dest.get());
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto grey = randomImage(KIT_GRAY, 6, 6, 2);
    EXPECT_KX_ASSERT(kxPyramid(grey.get(), 5, nullptr), "dest");

    // A KIT_BIN source holding other non-zero bytes: source and result end up 0/1.
    std::vector<uint8_t> bytes(64);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i % 3 == 0 ? 9 : 0);
    auto bin = makeImage(KIT_BIN, 8, 8, bytes);
    ImagePtr out(kxPyramid(bin.get(), KXV_PYR_UP, nullptr));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->width, 16);
    for (uint8_t b : pixels(out.get())) EXPECT_LE(b, 1);
    const auto after = pixels(bin.get());
    for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i], bytes[i] != 0);
}

// ---- Canny -------------------------------------------------------------------------

TEST(IkxCanny, MatchesOpenCvForEachApertureAndNorm)
{
    auto src = blocks(40, 30, 3);
    struct Case {
        int value, aperture;
        bool l2;
        double t1, t2;
    } cases[] = {
        {0, 3, false, 50, 150}, {3, 3, false, 150, 50}, {5, 5, false, 200, 600}, {7, 7, false, 1000, 3000},
        {3 | KXV_CANNY_L2, 3, true, 40, 120}};
    for (const Case &c : cases) {
        auto im = copyOf(src.get());
        ASSERT_EQ(ikxCanny(im.get(), c.t1, c.t2, c.value), im.get());
        cv::Mat want;
        cv::Canny(toMat(src.get()), want, c.t1, c.t2, c.aperture, c.l2);
        EXPECT_TRUE(sameAs(im.get(), want)) << c.value;
        EXPECT_EQ(im->imageType, KIT_GRAY);
        EXPECT_GT(cv::countNonZero(want), 0);
    }
    // Refused: other apertures, negative or NaN thresholds, colour images.
    for (auto [t1, value] : {std::pair{10.0, 4}, {10.0, 9}, {-1.0, 3}, {kNan, 3}})
        expectUntouched(src.get(), [&](Image *i) { return ikxCanny(i, t1, 20, value); }, nullptr);
    auto rgb = randomImage(KIT_RGB, 5, 5, 1);
    EXPECT_EQ(ikxCanny(rgb.get(), 10, 20, 3), nullptr);
}

TEST(KxCanny, BinariseFlagAndGreyOnlyGate)
{
    auto src = blocks(30, 20, 5);
    cv::Mat want;
    cv::Canny(toMat(src.get()), want, 50, 150, 3);
    PaddedImage im(KIT_GRAY, 30, 20, pixels(src.get()));
    EXPECT_EQ(kxCanny(im.get(), 50, 150, 1, 0), im.get());
    EXPECT_EQ(im.get()->imageType, KIT_BIN);
    EXPECT_TRUE(sameAs(im.get(), want / 255));
    EXPECT_TRUE(im.paddingIntact());
    auto kept = copyOf(src.get());
    kxCanny(kept.get(), 50, 150, 0, 0);
    EXPECT_EQ(kept->imageType, KIT_GRAY);
    EXPECT_TRUE(sameAs(kept.get(), want));

    EXPECT_EQ(kxCanny(nullptr, 1, 2, 1, 0), nullptr);
    for (int type : {KIT_BIN, KIT_RGB, KIT_RGBA}) {
        auto other = randomImage(type, 6, 6, 1);
        expectUntouched(other.get(), [](Image *i) { return kxCanny(i, 1, 2, 1, 0); }, other.get());
    }
}

// ---- Scharr -----------------------------------------------------------------------

TEST(Scharr, MatchesOpenCvAndTheWrapperPassesItOn)
{
    for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA}) {
        auto src = randomImage(type, 13, 9, uint32_t(type));
        cv::Mat dx, dy, ax, ay, both;
        cv::Scharr(toMat(src.get()), dx, CV_16S, 1, 0);
        cv::Scharr(toMat(src.get()), dy, CV_16S, 0, 1);
        cv::convertScaleAbs(dx, ax);
        cv::convertScaleAbs(dy, ay);
        cv::add(ax, ay, both);
        const cv::Mat want[] = {ax, ay, both};
        for (int dir = 0; dir < 3; ++dir) {
            PaddedImage im(type, 13, 9, pixels(src.get()));
            ASSERT_EQ(ikxScharr(im.get(), dir), im.get());
            EXPECT_TRUE(sameAs(im.get(), want[dir])) << type << " " << dir;
            EXPECT_TRUE(im.paddingIntact());
        }
    }
    auto bin = randomImage(KIT_BIN, 5, 5, 1), grey = randomImage(KIT_GRAY, 5, 5, 1);
    EXPECT_EQ(ikxScharr(bin.get(), 0), nullptr);
    EXPECT_EQ(ikxScharr(grey.get(), 3), nullptr);

    // kxScharr: the library call for KIT_GRAY and KIT_RGB, nothing for the others.
    EXPECT_EQ(kxScharr(nullptr, 0), nullptr);
    for (int type : {KIT_BIN, KIT_RGBA}) {
        auto im = randomImage(type, 6, 6, 1);
        expectUntouched(im.get(), [](Image *i) { return kxScharr(i, 0); }, im.get());
    }
    auto rgb = randomImage(KIT_RGB, 8, 7, 2);
    expectSameCall(rgb.get(), [](Image *i) { return kxScharr(i, 1); }, [](Image *i) { return ikxScharr(i, 1); });
    EXPECT_EQ(kxScharr(rgb.get(), 7), nullptr);
}

// ---- morphology -------------------------------------------------------------------

TEST(IkxMorphology, MatchesOpenCvForEveryCode)
{
    for (int type : kTypes)
        for (int op = 0; op <= 6; ++op)
            for (int n : {1, 2, 3}) {
                auto src = randomImage(type, 11, 8, uint32_t(op * 10 + n + type));
                cv::Mat want;
                cv::morphologyEx(toMat(src.get()), want, op, cv::Mat(), cv::Point(-1, -1), n);
                PaddedImage im(type, 11, 8, pixels(src.get()));
                ASSERT_EQ(ikxMorphology(im.get(), op, n), im.get());
                EXPECT_TRUE(sameAs(im.get(), want)) << type << " op " << op << " n " << n;
                EXPECT_TRUE(im.paddingIntact());
            }
}

TEST(IkxMorphology, HugeCountsReachTheFixedPointAndTinyCountsDoNothing)
{
    auto src = randomImage(KIT_GRAY, 7, 5, 1);
    const auto v = pixels(src.get());
    const uint8_t lo = *std::min_element(v.begin(), v.end()), hi = *std::max_element(v.begin(), v.end());
    auto e = copyOf(src.get()), d = copyOf(src.get()), o = copyOf(src.get());
    ikxErode(e.get(), INT32_MAX);
    ikxDilate(d.get(), INT32_MAX);
    ikxMorphology(o.get(), KXV_MORPH_GRADIENT, INT32_MAX);
    EXPECT_EQ(pixels(e.get()), std::vector<uint8_t>(35, lo));
    EXPECT_EQ(pixels(d.get()), std::vector<uint8_t>(35, hi));
    EXPECT_EQ(pixels(o.get()), std::vector<uint8_t>(35, uint8_t(hi - lo)));

    const Op same[] = {[](Image *i) { return ikxErode(i, 0); }, [](Image *i) { return ikxDilate(i, -5); },
                       [](Image *i) { return ikxMorphology(i, KXV_MORPH_OPEN, INT32_MIN); }};
    for (const Op &op : same) expectUntouched(src.get(), op, src.get());
    for (int code : {7, -1}) EXPECT_EQ(ikxMorphology(src.get(), code, 1), nullptr);
    EXPECT_EQ(ikxErode(nullptr, 1), nullptr);
    EXPECT_EQ(ikxDilate(nullptr, 1), nullptr);
    EXPECT_EQ(ikxMorphology(nullptr, 2, 1), nullptr);
}

TEST(KxMorphology, WrappersEqualTheLibraryCall)
{
    // {op, n} of kxMorphology and the library's {op, n}: counts <= 0 become 1,
    // except for erosion and dilation, which pass them on (no change).
    const int cases[][4] = {{0, 2, 0, 2}, {1, 3, 1, 3}, {2, 1, 2, 1}, {3, 2, 3, 2}, {4, -3, 4, 1},
                            {5, 0, 5, 1}, {6, INT32_MIN, 6, 1}, {0, -2, 0, -2}, {1, 0, 1, 0}};
    const auto lib = [](int op, int n) { return Op([=](Image *i) { return ikxMorphology(i, op, n); }); };
    for (int type : {KIT_GRAY, KIT_RGB}) {
        auto src = randomImage(type, 10, 10, 6);
        for (auto &c : cases) {
            SCOPED_TRACE(testing::Message() << c[0] << " " << c[1] << " type " << type);
            expectSameCall(src.get(), [&](Image *i) { return kxMorphology(i, c[0], c[1]); }, lib(c[2], c[3]));
        }
        expectSameCall(src.get(), kxMorpOpen, lib(2, 1));
        expectSameCall(src.get(), kxMorpClose, lib(3, 1));
        expectSameCall(src.get(), [](Image *i) { return ikxErode(i, 2); }, lib(0, 2));
        expectSameCall(src.get(), [](Image *i) { return ikxDilate(i, 2); }, lib(1, 2));
    }
}

TEST(KxMorphology, UnknownCodesAndUnusableImages)
{
    auto im = randomImage(KIT_RGB, 6, 6, 1);
    for (int code : {7, -1}) expectUntouched(im.get(), [&](Image *i) { return kxMorphology(i, code, 1); }, im.get());
    for (int code : {0, 1, 4, 9}) EXPECT_EQ(kxMorphology(nullptr, code, 1), nullptr);
    EXPECT_EQ(kxMorpOpen(nullptr), nullptr);

    // Malformed records reach the library for codes 0 and 1; it refuses them.
    Image badType = *im, tooHigh = *im;
    badType.imageType = 12, tooHigh.height = INT32_MAX;
    EXPECT_EQ(kxMorphology(&badType, 0, 1), nullptr);
    EXPECT_EQ(kxMorphology(&tooHigh, 1, 1), nullptr);
    EXPECT_EQ(kxMorphology(&tooHigh, 3, 1), nullptr);
}

// ---- adaptive threshold -------------------------------------------------------

TEST(IkxAdaptive, MatchesOpenCv)
{
    auto src = blocks(25, 19, 7);
    constexpr int kMean = cv::ADAPTIVE_THRESH_MEAN_C, kGauss = cv::ADAPTIVE_THRESH_GAUSSIAN_C;
    struct Case {
        int mode, block;
        double offset;
        int cvMethod, cvBlock;
    } cases[] = {{0, 3, 5, kMean, 3}, {1, 7, 5, kGauss, 7}, {2, 11, -3, kMean, 11}, {1, 4, 0, kGauss, 5},
                 {0, 101, 2.5, kMean, 101}};
    for (const Case &c : cases) {
        PaddedImage im(KIT_GRAY, 25, 19, pixels(src.get()));
        ASSERT_EQ(ikxAdaptive(im.get(), c.mode, c.block, c.offset), im.get());
        cv::Mat want;
        cv::adaptiveThreshold(toMat(src.get()), want, 255, c.cvMethod, cv::THRESH_BINARY, c.cvBlock, c.offset);
        EXPECT_TRUE(sameAs(im.get(), want)) << c.mode << " " << c.block;
        EXPECT_EQ(im.get()->imageType, KIT_GRAY);
        EXPECT_TRUE(im.paddingIntact());
    }
}

TEST(KxAdaptive, PassesModeFlagBlockAndFive)
{
    auto src = blocks(20, 20, 8);
    for (auto [mode, flag] : {std::pair{1, 1}, {2, 0}, {0, 0}, {-1, 0}}) {
        SCOPED_TRACE(mode);
        expectSameCall(src.get(), [&](Image *i) { return kxAdaptive(i, mode, 9); },
                       [&](Image *i) { return ikxAdaptive(i, flag, 9, 5.0); });
    }
    // The offset 5: a flat image is above mean - 5 everywhere.
    auto flat = makeImage(KIT_GRAY, 8, 8);
    kxiFlood(flat.get(), 40);
    kxAdaptive(flat.get(), 0, 3);
    EXPECT_EQ(pixels(flat.get()), std::vector<uint8_t>(64, 255));

    EXPECT_EQ(kxAdaptive(nullptr, 1, 9), nullptr);
    auto rgb = randomImage(KIT_RGB, 5, 5, 1);
    expectUntouched(rgb.get(), [](Image *i) { return kxAdaptive(i, 1, 3); }, rgb.get());
    auto grey = randomImage(KIT_GRAY, 5, 5, 1);
    const auto g0 = pixels(grey.get());
    for (int block : {1, -2, INT32_MAX, KXV_MAX_WINDOW + 1}) kxAdaptive(grey.get(), 0, block);
    EXPECT_EQ(pixels(grey.get()), g0);
}

TEST(Gabor, PlaceholdersDoNothing)
{
    EXPECT_EQ(kxCreateGaborBank(1, 2, 3, 4), nullptr);
    EXPECT_EQ(kxCreateGaborBank(INT32_MIN, -1, 0, INT32_MAX), nullptr);
    EXPECT_EQ(kxDestroyGaborBank(7), 0);
    EXPECT_EQ(kxOrientationField(1, 2), 0);
    EXPECT_EQ(kxFrequenceField(1, 2, 3), 0);
    kxGabor(1, 2);
}
