// Geometry against OpenCV on 2048 x 2048 grey and RGB pictures of smoothed
// noise, single threaded.  Each benchmark times our call and the OpenCV
// counterpart in the same loop (the input restored before each call, outside
// the timing) and reports both in thread CPU milliseconds and their ratio
// `ratio_vs_opencv` = ours / OpenCV (below 1: we are faster).
//   kxRotateEx 30 deg bilinear (kept size)   cv::warpAffine INTER_LINEAR
//   kxRotateEx 30 deg nearest (kept size)    cv::warpAffine INTER_NEAREST
//   kxRotate 1                               cv::rotate 90 counter-clockwise
//   kxFlip 1 / 0 / 2                         cv::flip 1 / -1 / 0
//   kxScaleEx filter 2, x0.5                 cv::resize INTER_AREA and INTER_LINEAR
//   kxScaleEx filter 2, x2                   cv::resize INTER_LINEAR
//   kxScaleEx filter 4 (Gaussian), x0.5      cv::resize INTER_AREA
// For the median of several runs: --benchmark_repetitions=5.
#include "kxbench.hpp"

namespace {

constexpr int kSide = 2048;

int typeOf(benchmark::State &state) { return state.range(0) == 1 ? KIT_GRAY : KIT_RGB; }

void compare(benchmark::State &state, const std::function<void(Image *)> &ours,
             const std::function<void(const cv::Mat &, cv::Mat &)> &theirs)
{
    const int type = typeOf(state);
    const cv::Mat src = kxbench::smoothNoise(kSide, type == KIT_RGB ? CV_8UC3 : CV_8UC1, 12345);
    kxbench::compare(state, src, type, ours, theirs);
}

// range(1): 0 bilinear, 1 nearest.
void BM_RotateEx30(benchmark::State &state)
{
    const bool nearest = state.range(1) == 1;
    const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f((kSide - 1) / 2.0f, (kSide - 1) / 2.0f), 30.0, 1.0);
    compare(
        state, [nearest](Image *im) { kxRotateEx(im, 30.0, nearest, 1); },
        [&m, nearest](const cv::Mat &s, cv::Mat &d) {
            cv::warpAffine(s, d, m, s.size(), nearest ? cv::INTER_NEAREST : cv::INTER_LINEAR);
        });
}

void BM_RotateQuarter(benchmark::State &state)
{
    compare(
        state, [](Image *im) { kxRotate(im, 1); },
        [](const cv::Mat &s, cv::Mat &d) { cv::rotate(s, d, cv::ROTATE_90_COUNTERCLOCKWISE); });
}

void BM_Flip(benchmark::State &state)
{
    const int mode = int(state.range(1));
    const int cvCode = mode == 1 ? 1 : mode == 0 ? -1 : 0;
    compare(
        state, [mode](Image *im) { kxFlip(im, mode); }, [cvCode](const cv::Mat &s, cv::Mat &d) { cv::flip(s, d, cvCode); });
}

// range(1): 0 half, 1 double; range(2): 0 INTER_LINEAR, 1 INTER_AREA;
// range(3): kxScaleEx filter code.
void BM_Scale(benchmark::State &state)
{
    const int side = state.range(1) == 0 ? kSide / 2 : kSide * 2;
    const int interp = state.range(2) == 0 ? cv::INTER_LINEAR : cv::INTER_AREA;
    const int filter = int(state.range(3));
    Image *out = kxCreateImage(typeOf(state), side, side);
    compare(
        state, [out, filter](Image *im) { kxScaleEx(im, out, filter); },
        [side, interp](const cv::Mat &s, cv::Mat &d) { cv::resize(s, d, cv::Size(side, side), 0, 0, interp); });
    kxDestroyImage(out);
}

// range(0): 1 grey, 3 RGB.
BENCHMARK(BM_RotateEx30)->ArgsProduct({{1, 3}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateQuarter)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
// range(1): kxFlip mode.
BENCHMARK(BM_Flip)->ArgsProduct({{1, 3}, {1, 0, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scale)
    ->Args({1, 0, 1, 2})->Args({3, 0, 1, 2})->Args({1, 0, 0, 2})->Args({3, 0, 0, 2})
    ->Args({1, 1, 0, 2})->Args({3, 1, 0, 2})->Args({1, 0, 1, 4})->Args({3, 0, 1, 4})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
