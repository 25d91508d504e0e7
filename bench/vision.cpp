// The vision wrappers against direct OpenCV calls, on grey and RGB images of
// smoothed noise at every side of kxbench::sides().  Each benchmark times
// our call and the OpenCV call it stands for in the same loop, single
// threaded and then with threads on (both libraries), and reports the
// medians (see kxbench.hpp).  The OpenCV output starts as a copy of the
// source, made outside the timing.
#include "kxbench.hpp"

namespace {

using kxbench::options;
using kxbench::sideOf;


void compare(benchmark::State &state, int kitType, const char *op, const char *opencv,
             const std::function<void(Image *)> &ours, const std::function<void(const cv::Mat &, cv::Mat &)> &theirs)
{
    const cv::Mat src = kxbench::smoothNoise(sideOf(state), kitType == KIT_RGB ? CV_8UC3 : CV_8UC1, 777);
    kxbench::Options opt{false, true, "ours_ms"};
    opt.op = op;
    opt.opencv = opencv;
    kxbench::compare(state, src, kitType, ours, theirs, opt);
}

// The quad corners in parts of the side: the source corners onto a
// slightly skewed quad inside the picture.
void quads(int side, float src[8], float dst[8])
{
    const float s = float(side), unit[8] = {0, 0, 1, 0, 1, 1, 0, 1};
    const float skew[8] = {0.0396f, 0.0198f, 0.9766f, 0.0586f, 0.9575f, 0.9863f, 0.0098f, 0.9668f};
    for (int i = 0; i < 8; ++i) src[i] = unit[i] * s, dst[i] = skew[i] * s;
}

// The warp into an existing destination (transparent outside the quad).
void BM_Warp(benchmark::State &state)
{
    const int side = sideOf(state);
    float sq[8], dq[8];
    quads(side, sq, dq);
    Image *dest = kxCreateImage(KIT_RGB, side, side);
    compare(
        state, KIT_RGB, "kxWarp RGB", "cv::warpPerspective linear, transparent",
        [&](Image *im) { kxWarp(im, sq, dq, dest); },
        [&](const cv::Mat &s, cv::Mat &d) {
            cv::Point2f a[4], b[4];
            for (int i = 0; i < 4; ++i) a[i] = {sq[2 * i], sq[2 * i + 1]}, b[i] = {dq[2 * i], dq[2 * i + 1]};
            cv::warpPerspective(s, d, cv::getPerspectiveTransform(a, b), s.size(), cv::INTER_LINEAR,
                                cv::BORDER_TRANSPARENT);
        });
    kxDestroyImage(dest);
}

void BM_SmoothGaussian(benchmark::State &state)
{
    compare(
        state, KIT_GRAY, "kxSmoothGaussian 7 grey", "cv::GaussianBlur 7x7", [](Image *im) { kxSmoothGaussian(im, 7, 7); },
        [](const cv::Mat &s, cv::Mat &d) { cv::GaussianBlur(s, d, cv::Size(7, 7), 0); });
}

void BM_SmoothMedian(benchmark::State &state)
{
    compare(
        state, KIT_RGB, "kxSmoothMedian 5 RGB", "cv::medianBlur 5", [](Image *im) { kxSmoothMedian(im, 5); },
        [](const cv::Mat &s, cv::Mat &d) { cv::medianBlur(s, d, 5); });
}

void BM_MorpOpen(benchmark::State &state)
{
    compare(
        state, KIT_GRAY, "kxMorpOpen grey", "cv::morphologyEx open 3x3", [](Image *im) { kxMorpOpen(im); },
        [](const cv::Mat &s, cv::Mat &d) { cv::morphologyEx(s, d, cv::MORPH_OPEN, cv::Mat()); });
}

void BM_Canny(benchmark::State &state)
{
    compare(
        state, KIT_GRAY, "kxCanny 30/90", "cv::Canny 30/90", [](Image *im) { kxCanny(im, 30, 90, 1, 3); },
        [](const cv::Mat &s, cv::Mat &d) { cv::Canny(s, d, 30, 90, 3); });
}

void BM_FloodFill(benchmark::State &state)
{
    const int c = sideOf(state) / 2;
    const FloodValue v = {255, 255, 255};
    const FloodRecord t = {{4, 4, 4, 4}};
    compare(
        state, KIT_GRAY, "kxFloodFill from the centre", "cv::floodFill 4-conn",
        [&](Image *im) { kxFloodFill(im, c, c, v, t, t, 4, 0); },
        [&](const cv::Mat &, cv::Mat &d) {
            cv::floodFill(d, cv::Point(c, c), cv::Scalar(255), nullptr, cv::Scalar::all(4), cv::Scalar::all(4), 4);
        });
}

}  // namespace

BENCHMARK(BM_Warp)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothGaussian)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothMedian)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MorpOpen)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Canny)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodFill)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
