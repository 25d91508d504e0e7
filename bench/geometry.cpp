// Geometry against OpenCV on 2048 x 2048 grey and RGB pictures, single
// threaded.  Each benchmark times the library call; the OpenCV counterpart
// is timed in the same run and `ratio_vs_opencv` = library time / OpenCV
// time (below 1: the library is faster), both in thread CPU time.
//   kxRotateEx 30 deg bilinear (kept size)   cv::warpAffine INTER_LINEAR
//   kxRotate 1                               cv::rotate 90 counter-clockwise
//   kxFlip 1 / 0 / 2                         cv::flip 1 / -1 / 0
//   kxScaleEx filter 2, x0.5                 cv::resize INTER_AREA and INTER_LINEAR
//   kxScaleEx filter 2, x2                   cv::resize INTER_LINEAR
#include <algorithm>
#include <random>
#include <vector>

#include "kxbench.hpp"

using kxbench::millis;

namespace {

constexpr int kSide = 2048;

Image *noise(int type, int w, int h)
{
    Image *im = kxCreateImage(type, w, h);
    std::mt19937 rng(7);
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < im->pitch; ++i) im->data[size_t(y) * im->pitch + i] = uint8_t(rng() >> 24);
    return im;
}

cv::Mat matOf(Image *im) { return cv::Mat(im->height, im->width, im->type, im->data, size_t(im->pitch)); }

// Median thread CPU milliseconds per call of f over a few runs.
double millisPerCall(const std::function<void()> &f, int runs = 5)
{
    std::vector<double> t;
    f();  // warm up
    for (int i = 0; i < runs; ++i) t.push_back(millis(f));
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// Runs `ours` under the benchmark loop and reports its time against `theirs`.
void compare(benchmark::State &state, const std::function<void()> &ours, const std::function<void()> &theirs)
{
    cv::setNumThreads(1);
    const double cvMs = millisPerCall(theirs);
    double total = 0;
    int64_t n = 0;
    for (auto _ : state) {
        total += millis(ours);
        ++n;
    }
    state.counters["opencv_ms"] = cvMs;
    state.counters["ratio_vs_opencv"] = n ? total / n / cvMs : 0;
}

int typeOf(benchmark::State &state) { return state.range(0) == 1 ? KIT_GRAY : KIT_RGB; }

void BM_RotateEx30Bilinear(benchmark::State &state)
{
    Image *im = noise(typeOf(state), kSide, kSide);
    Image *work = kxCreateImage(im->imageType, kSide, kSide);
    cv::Mat src = matOf(im), dst;
    const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f((kSide - 1) / 2.0f, (kSide - 1) / 2.0f), 30.0, 1.0);
    compare(
        state,
        [&] {
            kxiClone(im, work);
            kxRotateEx(work, 30.0, 0, 1);
        },
        [&] { cv::warpAffine(src, dst, m, src.size(), cv::INTER_LINEAR); });
    kxDestroyImage(work);
    kxDestroyImage(im);
}

void BM_RotateQuarter(benchmark::State &state)
{
    Image *im = noise(typeOf(state), kSide, kSide);
    cv::Mat src = matOf(im).clone(), dst;
    compare(state, [&] { kxRotate(im, 1); }, [&] { cv::rotate(src, dst, cv::ROTATE_90_COUNTERCLOCKWISE); });
    kxDestroyImage(im);
}

void BM_Flip(benchmark::State &state)
{
    Image *im = noise(typeOf(state), kSide, kSide);
    const int mode = int(state.range(1));
    const int cvCode = mode == 1 ? 1 : mode == 0 ? -1 : 0;
    cv::Mat src = matOf(im).clone(), dst;
    compare(state, [&] { kxFlip(im, mode); }, [&] { cv::flip(src, dst, cvCode); });
    kxDestroyImage(im);
}

void BM_ScaleBilinear(benchmark::State &state)
{
    Image *im = noise(typeOf(state), kSide, kSide);
    const bool half = state.range(1) == 0;
    const int interp = state.range(2) == 0 ? cv::INTER_LINEAR : cv::INTER_AREA;
    const int side = half ? kSide / 2 : kSide * 2;
    Image *out = kxCreateImage(im->imageType, side, side);
    cv::Mat src = matOf(im), dst;
    compare(state, [&] { kxScaleEx(im, out, 2); }, [&] { cv::resize(src, dst, cv::Size(side, side), 0, 0, interp); });
    kxDestroyImage(out);
    kxDestroyImage(im);
}

// range(0): 1 grey, 3 RGB.
BENCHMARK(BM_RotateEx30Bilinear)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateQuarter)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
// range(1): kxFlip mode.
BENCHMARK(BM_Flip)->ArgsProduct({{1, 3}, {1, 0, 2}})->Unit(benchmark::kMillisecond);
// range(1): 0 half, 1 double; range(2): 0 INTER_LINEAR, 1 INTER_AREA.
BENCHMARK(BM_ScaleBilinear)
    ->Args({1, 0, 1})->Args({3, 0, 1})->Args({1, 0, 0})->Args({3, 0, 0})->Args({1, 1, 0})->Args({3, 1, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
