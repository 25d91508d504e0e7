// The companion library (libkxextra) beside its peers: labelling against
// OpenCV's connectedComponents(WithStats), the local thresholds against
// OpenCV's mean adaptive threshold (the nearest OpenCV has; scikit-image's
// Niblack/Sauvola are timed from Python), and page skew (no OpenCV
// counterpart) on a square text page at every side of kxbench::sides():
// text drawn by the library as on an A4 page at 300 dpi, turned by 2.7
// degrees.  None of these calls uses our threads.
#include <map>
#include <string>

#include "kxbench.hpp"
#include "kxextra.h"

namespace {

using kxbench::options;
using kxbench::sideOf;


// A grey page of text lines (black on white), side x side, turned clockwise
// by `angle` degrees: the lines and letters of an A4 page at 300 dpi
// (2480 x 3508), as many as fit.
cv::Mat greyPage(int side, double angle)
{
    const int kW = side, kH = side;
    const int lines = std::max(1, 60 * side / 3508), chars = std::max(10, 95 * side / 2480);
    const int left = 240 * side / 2480, top = 300 * side / 3508;
    const char *words[] = {"the", "image", "library", "page", "skew", "angle", "of", "lines", "projection",
                           "profile", "text", "document", "binary", "and", "scan", "Quality", "a", "in"};
    cv::RNG rng(7);
    std::string text;
    for (int l = 0; l < lines; ++l) {
        std::string line;
        while (line.size() < size_t(chars)) line += std::string(words[rng.uniform(0, 18)]) + " ";
        text += line + "\n";
    }
    Image *im = kxCreateImage(KIT_RGB, kW, kH);
    kxiFlood(im, 255);
    kxFillText(im, text.c_str(), left, top, 34, 0xFF000000u);
    kxiCast(im, KIT_GRAY);
    kxRotateE2(im, -angle, 0xFFFFFFFFu, 0, 1);
    cv::Mat m = cv::Mat(kH, kW, CV_8UC1, im->data, size_t(im->pitch)).clone();
    kxDestroyImage(im);
    return m;
}

const cv::Mat &greyPage27(int side)
{
    static std::map<int, cv::Mat> pages;
    cv::Mat &page = pages[side];
    if (page.empty()) page = greyPage(side, 2.7);
    return page;
}

// The page binarized: ink 1, paper 0.
const cv::Mat &binaryPage(int side)
{
    static std::map<int, cv::Mat> pages;
    cv::Mat &page = pages[side];
    if (page.empty()) cv::threshold(greyPage27(side), page, 128, 1, cv::THRESH_BINARY_INV);
    return page;
}


void BM_Label8(benchmark::State &state)
{
    const int side = sideOf(state);
    std::vector<int32_t> labels(size_t(side) * size_t(side));
    kxbench::compare(
        state, binaryPage(side), KIT_BIN, [&](Image *im) { benchmark::DoNotOptimize(kxxLabel(im, 8, labels.data())); },
        [](const cv::Mat &s, cv::Mat &d) { cv::connectedComponents(s, d, 8, CV_32S); },
        options("kxxLabel 8 page", "cv::connectedComponents 8", false));
}

void BM_Label4WithStats(benchmark::State &state)
{
    const int side = sideOf(state);
    std::vector<int32_t> labels(size_t(side) * size_t(side));
    std::vector<KxxComponent> stats(size_t(side) * size_t(side) / 2 + 2);
    kxbench::compare(
        state, binaryPage(side), KIT_BIN,
        [&](Image *im) {
            const int n = kxxLabel(im, 4, labels.data());
            kxxComponentStats(labels.data(), side, side, n, stats.data());
        },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::Mat st, c;
            cv::connectedComponentsWithStats(s, d, st, c, 4, CV_32S);
        },
        options("kxxLabel 4 + stats page", "cv::connectedComponentsWithStats 4", false));
}

void BM_Despeckle(benchmark::State &state)
{
    const int side = sideOf(state);
    // OpenCV: components with statistics, then a mask of the kept ones.
    kxbench::compare(
        state, binaryPage(side), KIT_BIN, [](Image *im) { kxxDespeckle(im, 8, 20); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::Mat labels, st, c;
            const int n = cv::connectedComponentsWithStats(s, labels, st, c, 8, CV_32S);
            std::vector<uint8_t> keep(static_cast<size_t>(n));
            for (int i = 1; i < n; ++i) keep[size_t(i)] = st.at<int>(i, cv::CC_STAT_AREA) >= 20;
            d.create(s.size(), CV_8UC1);
            for (int y = 0; y < s.rows; ++y)
                for (int x = 0; x < s.cols; ++x) d.at<uint8_t>(y, x) = keep[size_t(labels.at<int>(y, x))];
        },
        options("kxxDespeckle 8, 20 page", "cv::connectedComponentsWithStats + mask", false));
}

void BM_FindSkew(benchmark::State &state)
{
    const int side = sideOf(state);
    double angle = 0, confidence = 0;
    kxbench::compare(
        state, binaryPage(side), KIT_BIN, [&](Image *im) { kxxFindSkew(im, &angle, &confidence); }, nullptr,
        options("kxxFindSkew page", nullptr, false));
    state.counters["angle"] = angle;
    state.counters["confidence"] = confidence;
}

void BM_Sauvola15(benchmark::State &state)
{
    const int side = sideOf(state);
    kxbench::compare(
        state, greyPage27(side), KIT_GRAY, [](Image *im) { kxxLocalThreshold(im, KXX_SAUVOLA, 15, 0.34, 127.5); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::adaptiveThreshold(s, d, 1, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 15, 0);
        },
        options("kxxLocalThreshold Sauvola 15 page", "cv::adaptiveThreshold mean 15", false));
}

void BM_Niblack31(benchmark::State &state)
{
    const int side = sideOf(state);
    kxbench::compare(
        state, greyPage27(side), KIT_GRAY, [](Image *im) { kxxLocalThreshold(im, KXX_NIBLACK, 31, 0.2, 0); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::adaptiveThreshold(s, d, 1, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 31, 0);
        },
        options("kxxLocalThreshold Niblack 31 page", "cv::adaptiveThreshold mean 31", false));
}

void BM_StrokePoints(benchmark::State &state)
{
    const int side = sideOf(state);
    static std::map<int, cv::Mat> skeletons;
    cv::Mat &skeleton = skeletons[side];
    if (skeleton.empty()) skeleton = [side] {
        Image *im = kxCreateImage(KIT_BIN, side, side);
        std::memcpy(im->data, binaryPage(side).data, size_t(side) * size_t(side));
        kxThinning(im);
        cv::Mat m = cv::Mat(side, side, CV_8UC1, im->data).clone();
        kxDestroyImage(im);
        return m;
    }();
    kxbench::compare(
        state, skeleton, KIT_BIN,
        [](Image *im) { benchmark::DoNotOptimize(kxxStrokePoints(im, KXX_STROKE_END | KXX_STROKE_BRANCH, nullptr, 0)); },
        nullptr,
        options("kxxStrokePoints skeleton", nullptr, false));
}

void BM_SobelL2Float(benchmark::State &state)
{
    const int side = sideOf(state);
    std::vector<float> mag(size_t(side) * size_t(side));
    kxbench::compare(
        state, greyPage27(side), KIT_GRAY,
        [&](Image *im) { kxxGradient(im, KXX_SOBEL, KXX_L2, nullptr, nullptr, nullptr, mag.data(), nullptr); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::Mat gx, gy;
            cv::Sobel(s, gx, CV_32F, 1, 0, 3);
            cv::Sobel(s, gy, CV_32F, 0, 1, 3);
            cv::magnitude(gx, gy, d);
        },
        options("kxxGradient Sobel L2 float page", "cv::Sobel 32F x2 + magnitude", false));
}

void BM_ScharrL1U16(benchmark::State &state)
{
    const int side = sideOf(state);
    std::vector<uint16_t> mag(size_t(side) * size_t(side));
    kxbench::compare(
        state, greyPage27(side), KIT_GRAY,
        [&](Image *im) { kxxGradient(im, KXX_SCHARR, KXX_L1, nullptr, nullptr, mag.data(), nullptr, nullptr); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::Mat gx, gy;
            cv::Scharr(s, gx, CV_16S, 1, 0);
            cv::Scharr(s, gy, CV_16S, 0, 1);
            d = cv::abs(gx) + cv::abs(gy);
        },
        options("kxxGradient Scharr L1 16-bit page", "cv::Scharr 16S x2, |gx| + |gy|", false));
}

void BM_Clahe8x8(benchmark::State &state)
{
    const int side = sideOf(state);
    const cv::Mat photo = kxbench::smoothNoise(side, CV_8UC1, 3);
    kxbench::compare(
        state, photo, KIT_GRAY, [](Image *im) { kxxClahe(im, 8, 8, 2.0); },
        [](const cv::Mat &s, cv::Mat &d) { cv::createCLAHE(2.0, cv::Size(8, 8))->apply(s, d); },
        options("kxxClahe 8x8 2.0", "cv::createCLAHE 8x8 2.0", false));
}

}  // namespace

BENCHMARK(BM_Clahe8x8)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SobelL2Float)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScharrL1U16)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Label8)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Label4WithStats)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Despeckle)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindSkew)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sauvola15)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Niblack31)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrokePoints)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
