// The companion library (libkxextra) beside its peers, single-threaded:
// labelling against OpenCV's connectedComponents(WithStats), the local
// thresholds against OpenCV's mean adaptive threshold (the nearest OpenCV
// has; scikit-image's Niblack/Sauvola are timed from Python), and page skew
// (no OpenCV counterpart) on an A4 page at 300 dpi: 2480 x 3508, text drawn
// by the library, turned by 2.7 degrees.
#include <string>

#include "kxbench.hpp"
#include "kxextra.h"

namespace {

constexpr int kW = 2480, kH = 3508;

// A grey A4 page of text lines (black on white), turned clockwise by
// `angle` degrees.
cv::Mat greyPage(double angle)
{
    const char *words[] = {"the", "image", "library", "page", "skew", "angle", "of", "lines", "projection",
                           "profile", "text", "document", "binary", "and", "scan", "Quality", "a", "in"};
    cv::RNG rng(7);
    std::string text;
    for (int l = 0; l < 60; ++l) {
        std::string line;
        while (line.size() < 95) line += std::string(words[rng.uniform(0, 18)]) + " ";
        text += line + "\n";
    }
    Image *im = kxCreateImage(KIT_RGB, kW, kH);
    kxiFlood(im, 255);
    kxFillText(im, text.c_str(), 240, 300, 34, 0xFF000000u);
    kxiCast(im, KIT_GRAY);
    kxRotateE2(im, -angle, 0xFFFFFFFFu, 0, 1);
    cv::Mat m = cv::Mat(kH, kW, CV_8UC1, im->data, size_t(im->pitch)).clone();
    kxDestroyImage(im);
    return m;
}

// The page binarized: ink 1, paper 0.
const cv::Mat &binaryPage()
{
    static const cv::Mat page = [] {
        cv::Mat b;
        cv::threshold(greyPage(2.7), b, 128, 1, cv::THRESH_BINARY_INV);
        return b;
    }();
    return page;
}

const cv::Mat &greyPage27()
{
    static const cv::Mat page = greyPage(2.7);
    return page;
}

void BM_Label8(benchmark::State &state)
{
    std::vector<int32_t> labels(size_t(kW) * kH);
    kxbench::compare(
        state, binaryPage(), KIT_BIN, [&](Image *im) { benchmark::DoNotOptimize(kxxLabel(im, 8, labels.data())); },
        [](const cv::Mat &s, cv::Mat &d) { cv::connectedComponents(s, d, 8, CV_32S); });
}

void BM_Label4WithStats(benchmark::State &state)
{
    std::vector<int32_t> labels(size_t(kW) * kH);
    std::vector<KxxComponent> stats(size_t(kW) * kH / 2 + 2);
    kxbench::compare(
        state, binaryPage(), KIT_BIN,
        [&](Image *im) {
            const int n = kxxLabel(im, 4, labels.data());
            kxxComponentStats(labels.data(), kW, kH, n, stats.data());
        },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::Mat st, c;
            cv::connectedComponentsWithStats(s, d, st, c, 4, CV_32S);
        });
}

void BM_Despeckle(benchmark::State &state)
{
    // OpenCV: components with statistics, then a mask of the kept ones.
    kxbench::compare(
        state, binaryPage(), KIT_BIN, [](Image *im) { kxxDespeckle(im, 8, 20); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::Mat labels, st, c;
            const int n = cv::connectedComponentsWithStats(s, labels, st, c, 8, CV_32S);
            std::vector<uint8_t> keep(static_cast<size_t>(n));
            for (int i = 1; i < n; ++i) keep[size_t(i)] = st.at<int>(i, cv::CC_STAT_AREA) >= 20;
            d.create(s.size(), CV_8UC1);
            for (int y = 0; y < s.rows; ++y)
                for (int x = 0; x < s.cols; ++x) d.at<uint8_t>(y, x) = keep[size_t(labels.at<int>(y, x))];
        });
}

void BM_FindSkew(benchmark::State &state)
{
    double angle = 0, confidence = 0;
    kxbench::compare(
        state, binaryPage(), KIT_BIN, [&](Image *im) { kxxFindSkew(im, &angle, &confidence); }, nullptr);
    state.counters["angle"] = angle;
    state.counters["confidence"] = confidence;
}

void BM_Sauvola15(benchmark::State &state)
{
    kxbench::compare(
        state, greyPage27(), KIT_GRAY, [](Image *im) { kxxLocalThreshold(im, KXX_SAUVOLA, 15, 0.34, 127.5); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::adaptiveThreshold(s, d, 1, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 15, 0);
        });
}

void BM_Niblack31(benchmark::State &state)
{
    kxbench::compare(
        state, greyPage27(), KIT_GRAY, [](Image *im) { kxxLocalThreshold(im, KXX_NIBLACK, 31, 0.2, 0); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::adaptiveThreshold(s, d, 1, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 31, 0);
        });
}

void BM_StrokePoints(benchmark::State &state)
{
    static const cv::Mat skeleton = [] {
        Image *im = kxCreateImage(KIT_BIN, kW, kH);
        std::memcpy(im->data, binaryPage().data, size_t(kW) * kH);
        kxThinning(im);
        cv::Mat m = cv::Mat(kH, kW, CV_8UC1, im->data).clone();
        kxDestroyImage(im);
        return m;
    }();
    kxbench::compare(
        state, skeleton, KIT_BIN,
        [](Image *im) { benchmark::DoNotOptimize(kxxStrokePoints(im, KXX_STROKE_END | KXX_STROKE_BRANCH, nullptr, 0)); },
        nullptr);
}

void BM_SobelL2Float(benchmark::State &state)
{
    std::vector<float> mag(size_t(kW) * kH);
    kxbench::compare(
        state, greyPage27(), KIT_GRAY,
        [&](Image *im) { kxxGradient(im, KXX_SOBEL, KXX_L2, nullptr, nullptr, nullptr, mag.data(), nullptr); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::Mat gx, gy;
            cv::Sobel(s, gx, CV_32F, 1, 0, 3);
            cv::Sobel(s, gy, CV_32F, 0, 1, 3);
            cv::magnitude(gx, gy, d);
        });
}

void BM_ScharrL1U16(benchmark::State &state)
{
    std::vector<uint16_t> mag(size_t(kW) * kH);
    kxbench::compare(
        state, greyPage27(), KIT_GRAY,
        [&](Image *im) { kxxGradient(im, KXX_SCHARR, KXX_L1, nullptr, nullptr, mag.data(), nullptr, nullptr); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::Mat gx, gy;
            cv::Scharr(s, gx, CV_16S, 1, 0);
            cv::Scharr(s, gy, CV_16S, 0, 1);
            d = cv::abs(gx) + cv::abs(gy);
        });
}

void BM_Clahe8x8(benchmark::State &state)
{
    static const cv::Mat photo = kxbench::smoothNoise(2048, CV_8UC1, 3);
    kxbench::compare(
        state, photo, KIT_GRAY, [](Image *im) { kxxClahe(im, 8, 8, 2.0); },
        [](const cv::Mat &s, cv::Mat &d) { cv::createCLAHE(2.0, cv::Size(8, 8))->apply(s, d); });
}

}  // namespace

BENCHMARK(BM_Clahe8x8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SobelL2Float)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScharrL1U16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Label8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Label4WithStats)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Despeckle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindSkew)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sauvola15)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Niblack31)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrokePoints)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
