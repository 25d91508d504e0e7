// The vision wrappers against direct OpenCV calls (single-threaded), on
// 1024 x 1024 grey and RGB images of smoothed noise.  Each benchmark times
// our call and the OpenCV call it stands for in the same loop and reports
// both (thread CPU milliseconds) and their ratio (ours / OpenCV).  The
// OpenCV output starts as a copy of the source, made outside the timing.
#include "kxbench.hpp"

namespace {

constexpr int kSide = 1024;

// The copies that restore both sides are timed by the benchmark itself but
// not in the reported milliseconds.
void compare(benchmark::State &state, int kitType, const std::function<void(Image *)> &ours,
             const std::function<void(const cv::Mat &, cv::Mat &)> &theirs)
{
    const cv::Mat src = kxbench::smoothNoise(kSide, kitType == KIT_RGB ? CV_8UC3 : CV_8UC1, 777);
    kxbench::compare(state, src, kitType, ours, theirs, {false, true, "ours_ms"});
}

const float kSrcQuad[8] = {0, 0, kSide, 0, kSide, kSide, 0, kSide};
const float kDstQuad[8] = {40.5f, 20.25f, 1000.f, 60.f, 980.5f, 1010.f, 10.f, 990.f};

// The warp into an existing destination (transparent outside the quad).
void BM_Warp(benchmark::State &state)
{
    Image *dest = kxCreateImage(KIT_RGB, kSide, kSide);
    compare(
        state, KIT_RGB, [&](Image *im) { kxWarp(im, kSrcQuad, kDstQuad, dest); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::Point2f a[4], b[4];
            for (int i = 0; i < 4; ++i) a[i] = {kSrcQuad[2 * i], kSrcQuad[2 * i + 1]}, b[i] = {kDstQuad[2 * i], kDstQuad[2 * i + 1]};
            cv::warpPerspective(s, d, cv::getPerspectiveTransform(a, b), s.size(), cv::INTER_LINEAR,
                                cv::BORDER_TRANSPARENT);
        });
    kxDestroyImage(dest);
}

void BM_SmoothGaussian(benchmark::State &state)
{
    compare(
        state, KIT_GRAY, [](Image *im) { kxSmoothGaussian(im, 7, 7); },
        [](const cv::Mat &s, cv::Mat &d) { cv::GaussianBlur(s, d, cv::Size(7, 7), 0); });
}

void BM_SmoothMedian(benchmark::State &state)
{
    compare(
        state, KIT_RGB, [](Image *im) { kxSmoothMedian(im, 5); },
        [](const cv::Mat &s, cv::Mat &d) { cv::medianBlur(s, d, 5); });
}

void BM_MorpOpen(benchmark::State &state)
{
    compare(
        state, KIT_GRAY, [](Image *im) { kxMorpOpen(im); },
        [](const cv::Mat &s, cv::Mat &d) { cv::morphologyEx(s, d, cv::MORPH_OPEN, cv::Mat()); });
}

void BM_Canny(benchmark::State &state)
{
    compare(
        state, KIT_GRAY, [](Image *im) { kxCanny(im, 30, 90, 1, 3); },
        [](const cv::Mat &s, cv::Mat &d) { cv::Canny(s, d, 30, 90, 3); });
}

void BM_FloodFill(benchmark::State &state)
{
    const FloodValue v = {255, 255, 255};
    const FloodRecord t = {{4, 4, 4, 4}};
    compare(
        state, KIT_GRAY, [&](Image *im) { kxFloodFill(im, 512, 512, v, t, t, 4, 0); },
        [&](const cv::Mat &, cv::Mat &d) {
            cv::floodFill(d, cv::Point(512, 512), cv::Scalar(255), nullptr, cv::Scalar::all(4), cv::Scalar::all(4), 4);
        });
}

}  // namespace

BENCHMARK(BM_Warp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothGaussian)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothMedian)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MorpOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Canny)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodFill)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
