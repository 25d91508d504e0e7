// Pyramids, Canny, Scharr, morphology, adaptive thresholds and smoothing:
// one OpenCV cross-check per operation on random images, the wrappers'
// argument translation, and the refusals in one table.
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

// Runs `op` on a padded copy of `src` and compares with `want`.
void expectPadded(const Image *src, const Op &op, const cv::Mat &want)
{
    PaddedImage im(src->imageType, src->width, src->height, pixels(src));
    ASSERT_EQ(op(im.get()), im.get());
    EXPECT_TRUE(sameAs(im.get(), want));
    EXPECT_TRUE(im.paddingIntact());
}

}  // namespace

TEST(Vision, PyramidMatchesOpenCvBothWays)
{
    for (int type : kTypes)
        for (auto [w, h] : {std::pair{1, 1}, {2, 3}, {7, 5}, {16, 9}}) {
            SCOPED_TRACE(testing::Message() << type << " " << w << "x" << h);
            auto src = randomImage(type, w, h, uint32_t(w + 10 * h + type));
            cv::Mat down, up;
            cv::pyrDown(toMat(src.get()), down, cv::Size((w + 1) / 2, (h + 1) / 2));
            cv::pyrUp(toMat(src.get()), up, cv::Size(2 * w, 2 * h));
            ImagePtr d(ikxPyramid(src.get(), KXV_PYR_DOWN, nullptr)), u(ikxPyramid(src.get(), KXV_PYR_UP, nullptr));
            ASSERT_TRUE(d && u);
            EXPECT_TRUE(sameAs(d.get(), down));
            EXPECT_TRUE(sameAs(u.get(), up));
        }
    // A destination of another size and type, or the source itself, is reshaped.
    auto src = randomImage(KIT_RGB, 10, 8, 1);
    ImagePtr expected(ikxPyramid(src.get(), KXV_PYR_DOWN, nullptr));
    auto dest = makeImage(KIT_GRAY, 3, 3), self = copyOf(src.get());
    EXPECT_EQ(ikxPyramid(src.get(), KXV_PYR_DOWN, dest.get()), dest.get());
    EXPECT_EQ(ikxPyramid(self.get(), KXV_PYR_DOWN, self.get()), self.get());
    for (Image *d : {dest.get(), self.get()}) EXPECT_TRUE(sameAs(d, toMat(expected.get())));
    // kxPyramid on a KIT_BIN source holding other non-zero bytes: source and result end up 0/1.
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

TEST(Vision, CannyMatchesOpenCvForEachApertureAndNorm)
{
    auto src = blocks(40, 30, 3);
    const struct {
        int value, aperture;
        bool l2;
        double t1, t2;
    } cases[] = {{0, 3, false, 50, 150}, {3, 3, false, 150, 50}, {5, 5, false, 200, 600}, {7, 7, false, 1000, 3000},
                 {3 | KXV_CANNY_L2, 3, true, 40, 120}};
    for (const auto &c : cases) {
        cv::Mat want;
        cv::Canny(toMat(src.get()), want, c.t1, c.t2, c.aperture, c.l2);
        EXPECT_GT(cv::countNonZero(want), 0);
        expectPadded(src.get(), [&](Image *i) { return ikxCanny(i, c.t1, c.t2, c.value); }, want);
    }
    // kxCanny: binarise turns the image into KIT_BIN 0/1.
    cv::Mat want;
    cv::Canny(toMat(src.get()), want, 50, 150, 3);
    auto im = copyOf(src.get()), kept = copyOf(src.get());
    EXPECT_EQ(kxCanny(im.get(), 50, 150, 1, 0), im.get());
    kxCanny(kept.get(), 50, 150, 0, 0);
    EXPECT_EQ(im->imageType, KIT_BIN);
    EXPECT_TRUE(sameAs(im.get(), want / 255));
    EXPECT_EQ(kept->imageType, KIT_GRAY);
    EXPECT_TRUE(sameAs(kept.get(), want));
}

TEST(Vision, ScharrMatchesOpenCvInEachDirection)
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
            SCOPED_TRACE(testing::Message() << type << " " << dir);
            expectPadded(src.get(), [&](Image *i) { return ikxScharr(i, dir); }, want[dir]);
        }
    }
}

TEST(Vision, MorphologyMatchesOpenCvForEveryCode)
{
    for (int type : kTypes)
        for (int op = 0; op <= 6; ++op)
            for (int n : {1, 3}) {
                SCOPED_TRACE(testing::Message() << type << " op " << op << " n " << n);
                auto src = randomImage(type, 11, 8, uint32_t(op * 10 + n + type));
                cv::Mat want;
                cv::morphologyEx(toMat(src.get()), want, op, cv::Mat(), cv::Point(-1, -1), n);
                expectPadded(src.get(), [&](Image *i) { return ikxMorphology(i, op, n); }, want);
            }
    // Huge counts reach the fixed point (and do not loop 2^31 times).
    auto src = randomImage(KIT_GRAY, 7, 5, 1);
    const auto v = pixels(src.get());
    const uint8_t lo = *std::min_element(v.begin(), v.end()), hi = *std::max_element(v.begin(), v.end());
    auto e = copyOf(src.get()), d = copyOf(src.get()), g = copyOf(src.get());
    ikxErode(e.get(), INT32_MAX);
    ikxDilate(d.get(), INT32_MAX);
    ikxMorphology(g.get(), KXV_MORPH_GRADIENT, INT32_MAX);
    EXPECT_EQ(pixels(e.get()), std::vector<uint8_t>(35, lo));
    EXPECT_EQ(pixels(d.get()), std::vector<uint8_t>(35, hi));
    EXPECT_EQ(pixels(g.get()), std::vector<uint8_t>(35, uint8_t(hi - lo)));
}

TEST(Vision, AdaptiveMatchesOpenCv)
{
    auto src = blocks(25, 19, 7);
    constexpr int kMean = cv::ADAPTIVE_THRESH_MEAN_C, kGauss = cv::ADAPTIVE_THRESH_GAUSSIAN_C;
    const struct {
        int mode, block;
        double offset;
        int cvMethod, cvBlock;
    } cases[] = {{0, 3, 5, kMean, 3}, {1, 7, 5, kGauss, 7}, {2, 11, -3, kMean, 11}, {1, 4, 0, kGauss, 5},
                 {0, 101, 2.5, kMean, 101}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.block);
        cv::Mat want;
        cv::adaptiveThreshold(toMat(src.get()), want, 255, c.cvMethod, cv::THRESH_BINARY, c.cvBlock, c.offset);
        expectPadded(src.get(), [&](Image *i) { return ikxAdaptive(i, c.mode, c.block, c.offset); }, want);
    }
}

// Each wrapper equals the library call it stands for.
TEST(Vision, WrappersPassTheirArgumentsOn)
{
    const auto morph = [](int op, int n) { return Op([=](Image *i) { return ikxMorphology(i, op, n); }); };
    const auto smooth = [](int m, int w, int h) { return Op([=](Image *i) { return ikxSmooth(i, m, w, h, 0, 0); }); };
    const auto adaptive = [](int flag) { return Op([=](Image *i) { return ikxAdaptive(i, flag, 9, 5.0); }); };
    const struct {
        const char *name;
        Op wrapper, library;
    } cases[] = {
        {"scharr", [](Image *i) { return kxScharr(i, 1); }, [](Image *i) { return ikxScharr(i, 1); }},
        // Counts <= 0 become 1, except for erosion and dilation (no change).
        {"morph 1 3", [](Image *i) { return kxMorphology(i, 1, 3); }, morph(1, 3)},
        {"morph 4 -3", [](Image *i) { return kxMorphology(i, 4, -3); }, morph(4, 1)},
        {"morph 6 INT_MIN", [](Image *i) { return kxMorphology(i, 6, INT32_MIN); }, morph(6, 1)},
        {"morph 0 -2", [](Image *i) { return kxMorphology(i, 0, -2); }, morph(0, -2)},
        {"open", kxMorpOpen, morph(2, 1)},
        {"close", kxMorpClose, morph(3, 1)},
        {"erode", [](Image *i) { return ikxErode(i, 2); }, morph(0, 2)},
        {"blur", [](Image *i) { return kxBlur(i, 4, 3); }, smooth(KXV_SMOOTH_BOX, 4, 3)},
        {"gaussian", [](Image *i) { return kxSmoothGaussian(i, 5, 3); }, smooth(KXV_SMOOTH_GAUSSIAN, 5, 3)},
        {"median", [](Image *i) { return kxSmoothMedian(i, 5); }, smooth(KXV_SMOOTH_MEDIAN, 5, 5)},
        // Mode 1 is the Gaussian flag; the offset is 5.
        {"adaptive 1", [](Image *i) { return kxAdaptive(i, 1, 9); }, adaptive(1)},
        {"adaptive 2", [](Image *i) { return kxAdaptive(i, 2, 9); }, adaptive(0)},
    };
    for (const auto &c : cases)
        for (int type : {KIT_GRAY, KIT_RGB}) {
            SCOPED_TRACE(testing::Message() << c.name << " " << type);
            if (type == KIT_RGB && std::string(c.name).rfind("adaptive", 0) == 0) continue;
            auto src = type == KIT_GRAY ? blocks(14, 10, 6) : randomImage(type, 14, 10, 6);
            expectSameCall(src.get(), c.wrapper, c.library);
        }
    // The offset 5: a flat image is above mean - 5 everywhere.
    auto flat = makeImage(KIT_GRAY, 8, 8, std::vector<uint8_t>(64, 40));
    kxAdaptive(flat.get(), 0, 3);
    EXPECT_EQ(pixels(flat.get()), std::vector<uint8_t>(64, 255));
}

// Refused arguments, types and records: the stated result, the image alone.
TEST(Vision, RefusalsLeaveTheImageAlone)
{
    auto grey = randomImage(KIT_GRAY, 9, 9, 11);
    Image *g = grey.get();
    const struct {
        const char *name;
        int type;
        Op op;
        bool self;  // returns the image (wrappers) rather than null
    } cases[] = {
        {"pyramid direction 2", KIT_GRAY, [](Image *i) { return ikxPyramid(i, 2, nullptr); }, false},
        {"pyramid into wrapped dest", KIT_GRAY,
         [](Image *i) { PaddedImage w(KIT_GRAY, 3, 3); return ikxPyramid(i, KXV_PYR_DOWN, w.get()); }, false},
        {"canny aperture 4", KIT_GRAY, [](Image *i) { return ikxCanny(i, 10, 20, 4); }, false},
        {"canny aperture 9", KIT_GRAY, [](Image *i) { return ikxCanny(i, 10, 20, 9); }, false},
        {"canny negative", KIT_GRAY, [](Image *i) { return ikxCanny(i, -1, 20, 3); }, false},
        {"canny NaN", KIT_GRAY, [](Image *i) { return ikxCanny(i, kNan, 20, 3); }, false},
        {"canny colour", KIT_RGB, [](Image *i) { return ikxCanny(i, 10, 20, 3); }, false},
        {"kxCanny binary", KIT_BIN, [](Image *i) { return kxCanny(i, 1, 2, 1, 0); }, true},
        {"kxCanny colour", KIT_RGBA, [](Image *i) { return kxCanny(i, 1, 2, 1, 0); }, true},
        {"scharr binary", KIT_BIN, [](Image *i) { return ikxScharr(i, 0); }, false},
        {"scharr direction 3", KIT_GRAY, [](Image *i) { return ikxScharr(i, 3); }, false},
        {"kxScharr RGBA", KIT_RGBA, [](Image *i) { return kxScharr(i, 0); }, true},
        {"kxScharr direction 7", KIT_RGB, [](Image *i) { return kxScharr(i, 7); }, false},
        {"erode 0", KIT_GRAY, [](Image *i) { return ikxErode(i, 0); }, true},
        {"dilate -5", KIT_GRAY, [](Image *i) { return ikxDilate(i, -5); }, true},
        {"open INT_MIN", KIT_GRAY, [](Image *i) { return ikxMorphology(i, KXV_MORPH_OPEN, INT32_MIN); }, true},
        {"morph code 7", KIT_GRAY, [](Image *i) { return ikxMorphology(i, 7, 1); }, false},
        {"kxMorphology code -1", KIT_RGB, [](Image *i) { return kxMorphology(i, -1, 1); }, true},
        {"kxAdaptive colour", KIT_RGB, [](Image *i) { return kxAdaptive(i, 1, 3); }, true},
        {"kxAdaptive block 1", KIT_GRAY, [](Image *i) { return kxAdaptive(i, 0, 1); }, true},
        {"kxAdaptive block too big", KIT_GRAY, [](Image *i) { return kxAdaptive(i, 0, KXV_MAX_WINDOW + 1); }, true},
        {"smooth method 0", KIT_GRAY, [](Image *i) { return ikxSmooth(i, 0, 3, 3, 0, 0); }, false},
        {"smooth method 4", KIT_GRAY, [](Image *i) { return ikxSmooth(i, 4, 3, 3, 0, 0); }, false},
        {"box width 0", KIT_GRAY, [](Image *i) { return ikxSmooth(i, KXV_SMOOTH_BOX, 0, 3, 0, 0); }, false},
        {"box too wide", KIT_GRAY, [](Image *i) { return ikxSmooth(i, KXV_SMOOTH_BOX, KXV_MAX_WINDOW + 1, 3, 0, 0); }, false},
        {"gaussian 0 without sigma", KIT_GRAY, [](Image *i) { return ikxSmooth(i, KXV_SMOOTH_GAUSSIAN, 0, 3, 0, 0); }, false},
        {"gaussian INT_MAX", KIT_GRAY, [](Image *i) { return ikxSmooth(i, KXV_SMOOTH_GAUSSIAN, INT32_MAX, 3, 0, 0); }, false},
        {"gaussian NaN sigma", KIT_GRAY, [](Image *i) { return ikxSmooth(i, KXV_SMOOTH_GAUSSIAN, 3, 3, kNan, 0); }, false},
        {"gaussian huge sigma", KIT_GRAY, [](Image *i) { return ikxSmooth(i, KXV_SMOOTH_GAUSSIAN, 0, 0, 1e300, 0); }, false},
        {"median INT_MAX", KIT_GRAY, [](Image *i) { return ikxSmooth(i, KXV_SMOOTH_MEDIAN, INT32_MAX, 1, 0, 0); }, false},
        {"kxSmoothGaussian 0", KIT_GRAY, [](Image *i) { return kxSmoothGaussian(i, 0, 3); }, false},
        {"kxBlur -5", KIT_GRAY, [](Image *i) { return kxBlur(i, -5, 3); }, false},
        {"kxSmoothMedian INT_MIN", KIT_GRAY, [](Image *i) { return kxSmoothMedian(i, INT32_MIN); }, false},
        {"kxBlur binary", KIT_BIN, [](Image *i) { return kxBlur(i, 3, 3); }, true},
        {"kxSmoothMedian RGBA", KIT_RGBA, [](Image *i) { return kxSmoothMedian(i, 3); }, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto im = c.type == KIT_GRAY ? copyOf(g) : randomImage(c.type, 8, 7, 2);
        expectUntouched(im.get(), c.op, c.self ? im.get() : nullptr);
    }
    // A null image, and records no operation may read.
    for (const Op &op : {Op([](Image *i) { return ikxErode(i, 1); }), Op([](Image *i) { return kxCanny(i, 1, 2, 1, 0); }),
                         Op([](Image *i) { return kxMorphology(i, 4, 1); }), Op([](Image *i) { return kxAdaptive(i, 1, 9); }),
                         Op([](Image *i) { return ikxSmooth(i, KXV_SMOOTH_BOX, 3, 3, 0, 0); })})
        EXPECT_EQ(op(nullptr), nullptr);
    Image badType = *g, tooHigh = *g, badPitch = *g, huge = *g;
    badType.imageType = 12, tooHigh.height = INT32_MAX, badPitch.pitch = 2;
    huge.width = 1 << 30, huge.pitch = 3 << 30;
    EXPECT_EQ(kxMorphology(&badType, 0, 1), nullptr);
    EXPECT_EQ(kxMorphology(&tooHigh, 1, 1), nullptr);
    EXPECT_EQ(kxMorphology(&tooHigh, 3, 1), nullptr);
    EXPECT_EQ(ikxSmooth(&badPitch, KXV_SMOOTH_BOX, 3, 3, 0, 0), nullptr);
    EXPECT_EQ(ikxPyramid(&huge, KXV_PYR_UP, nullptr), nullptr);
    // kxPyramid: a colour source passes the destination back; a bad direction asserts.
    auto dest = makeImage(KIT_GRAY, 2, 2);
    EXPECT_EQ(kxPyramid(randomImage(KIT_RGBA, 6, 6, 1).get(), 0, dest.get()), dest.get());
    EXPECT_EQ(dest->width, 2);
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // OpenCV may have started worker threads
    EXPECT_KX_ASSERT(kxPyramid(g, 5, nullptr), "dest");
    // The Gabor placeholders ignore their arguments.
    EXPECT_EQ(kxCreateGaborBank(INT32_MIN, -1, 0, INT32_MAX), nullptr);
    EXPECT_EQ(kxDestroyGaborBank(7) + kxOrientationField(1, 2) + kxFrequenceField(1, 2, 3), 0);
}
