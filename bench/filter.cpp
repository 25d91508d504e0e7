// Filtering and intensity against OpenCV (single-threaded), on 2048 x 2048
// grey and RGB images of smoothed noise.  Each benchmark times our call
// and the OpenCV counterpart in the same loop and reports both (thread CPU
// milliseconds) and their ratio (ours / OpenCV; below 1 means faster).
#include "kxbench.hpp"

namespace {

constexpr int kSide = 2048;

// Runs `ours` on a kx image over a copy of smoothed noise and `theirs` on
// the cv::Mat source, restoring the input before each timed call.
void compare(benchmark::State &state, int kitType, const std::function<void(Image *)> &ours,
             const std::function<void(const cv::Mat &, cv::Mat &)> &theirs)
{
    const cv::Mat src = kxbench::smoothNoise(kSide, kitType == KIT_RGB ? CV_8UC3 : CV_8UC1, 12345);
    kxbench::compare(state, src, kitType, ours, theirs);
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
