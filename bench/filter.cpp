// Filtering and intensity against OpenCV (single-threaded), on 2048 x 2048
// grey and RGB images of smoothed noise.  Each benchmark times our call
// and the OpenCV counterpart in the same loop and reports both (thread CPU
// milliseconds) and their ratio (ours / OpenCV; below 1 means faster).
#include <benchmark/benchmark.h>

#include <ctime>
#include <cstring>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "kxpre.h"

namespace {

constexpr int kSide = 2048;

// Smoothed uniform noise: edges and flat parts, like a photograph.
cv::Mat sourceImage(int cvType)
{
    cv::Mat m(kSide, kSide, cvType);
    cv::setRNGSeed(12345);
    cv::randu(m, 0, 256);
    cv::GaussianBlur(m, m, cv::Size(5, 5), 1.5);
    return m;
}

double threadCpuMillis()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

// CPU time of this thread: the machine is shared, so wall time mostly
// measures the neighbours.
double millis(const std::function<void()> &f)
{
    const double t0 = threadCpuMillis();
    f();
    return threadCpuMillis() - t0;
}

// Runs `ours` on a kx image over a copy of the source and `theirs` on the
// cv::Mat source, restoring the input before each timed call.
void compare(benchmark::State &state, int kitType, const std::function<void(Image *)> &ours,
             const std::function<void(const cv::Mat &, cv::Mat &)> &theirs)
{
    cv::setNumThreads(1);
    const cv::Mat src = sourceImage(kitType == KIT_RGB ? CV_8UC3 : CV_8UC1);
    Image *im = kxCreateImage(kitType, kSide, kSide);
    cv::Mat dst;
    double oursMs = 0, theirsMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(im->data, src.data, im->size);
        im->imageType = kitType;
        state.ResumeTiming();
        oursMs += millis([&] { ours(im); });
        theirsMs += millis([&] { theirs(src, dst); });
        benchmark::DoNotOptimize(im->data);
        benchmark::DoNotOptimize(dst.data);
    }
    const double n = double(state.iterations());
    state.counters["kx_ms"] = oursMs / n;
    state.counters["opencv_ms"] = theirsMs / n;
    state.counters["ratio_vs_opencv"] = oursMs / theirsMs;
    kxDestroyImage(im);
}

void sobelCombined(const cv::Mat &src, cv::Mat &dst)
{
    cv::Mat dx, dy, sum;
    cv::Sobel(src, dx, CV_16S, 1, 0, 3, 1, 0, cv::BORDER_CONSTANT);
    cv::Sobel(src, dy, CV_16S, 0, 1, 3, 1, 0, cv::BORDER_CONSTANT);
    cv::add(dx, dy, sum);
    sum.convertTo(dst, CV_8U);
}

void BM_Sobel_Gray(benchmark::State &s) { compare(s, KIT_GRAY, [](Image *im) { kxSobel(im, 0); }, sobelCombined); }

void BM_SmoothAvg9(benchmark::State &s)
{
    compare(s, int(s.range(0)), [](Image *im) { kxSmoothAvg(im, 9); },
            [](const cv::Mat &a, cv::Mat &b) { cv::blur(a, b, cv::Size(9, 9), cv::Point(-1, -1), cv::BORDER_CONSTANT); });
}

void BM_Median(benchmark::State &s)
{
    const int n = int(s.range(1));
    compare(s, int(s.range(0)), [n](Image *im) { kxMedian(im, n); },
            [n](const cv::Mat &a, cv::Mat &b) { cv::medianBlur(a, b, n); });
}

void BM_Equalize_Gray(benchmark::State &s)
{
    compare(s, KIT_GRAY, [](Image *im) { kxEqualize(im); },
            [](const cv::Mat &a, cv::Mat &b) { cv::equalizeHist(a, b); });
}

}  // namespace

BENCHMARK(BM_Sobel_Gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothAvg9)->Arg(KIT_GRAY)->Arg(KIT_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Median)->Args({KIT_GRAY, 3})->Args({KIT_RGB, 3})->Args({KIT_GRAY, 9})->Args({KIT_RGB, 9})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Equalize_Gray)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
