// Filtering and intensity beside OpenCV, on grey and RGB images of smoothed
// noise at every side of kxbench::sides().  Each benchmark times our call
// and the OpenCV counterpart in the same loop (see kxbench.hpp),
// single-threaded and then with threads on; kxSobel and kxEqualize use our
// threads, the median and the box filter run on one thread.
#include <string>

#include "kxbench.hpp"

namespace {

using kxbench::options;
using kxbench::sideOf;

const char *kitName(int kit) { return kit == KIT_RGB ? "RGB" : "grey"; }

void compare(benchmark::State &state, int kitType, const std::string &op, const char *opencv, bool oursThreads,
             const std::function<void(Image *)> &ours, const std::function<void(const cv::Mat &, cv::Mat &)> &theirs)
{
    const cv::Mat src = kxbench::smoothNoise(sideOf(state), kitType == KIT_RGB ? CV_8UC3 : CV_8UC1, 12345);
    const std::string name = op + " " + kitName(kitType);
    kxbench::compare(state, src, kitType, ours, theirs, kxbench::options(name.c_str(), opencv, oursThreads));
}

void sobelCombined(const cv::Mat &src, cv::Mat &dst)
{
    cv::Mat dx, dy, sum;
    cv::Sobel(src, dx, CV_16S, 1, 0, 3, 1, 0, cv::BORDER_CONSTANT);
    cv::Sobel(src, dy, CV_16S, 0, 1, 3, 1, 0, cv::BORDER_CONSTANT);
    cv::add(dx, dy, sum);
    sum.convertTo(dst, CV_8U);
}

void BM_Sobel(benchmark::State &s)
{
    compare(s, KIT_GRAY, "kxSobel 0", "cv::Sobel dx + dy, 16-bit, to 8-bit", true, [](Image *im) { kxSobel(im, 0); },
            sobelCombined);
}

void BM_SmoothAvg9(benchmark::State &s)
{
    compare(s, int(s.range(1)), "kxSmoothAvg 9", "cv::blur 9x9", false, [](Image *im) { kxSmoothAvg(im, 9); },
            [](const cv::Mat &a, cv::Mat &b) { cv::blur(a, b, cv::Size(9, 9), cv::Point(-1, -1), cv::BORDER_CONSTANT); });
}

void BM_Median(benchmark::State &s)
{
    const int n = int(s.range(2));
    const std::string op = "kxMedian " + std::to_string(n), cv = "cv::medianBlur " + std::to_string(n);
    compare(s, int(s.range(1)), op, cv.c_str(), false, [n](Image *im) { kxMedian(im, n); },
            [n](const cv::Mat &a, cv::Mat &b) { cv::medianBlur(a, b, n); });
}

void BM_Equalize(benchmark::State &s)
{
    compare(s, KIT_GRAY, "kxEqualize", "cv::equalizeHist", true, [](Image *im) { kxEqualize(im); },
            [](const cv::Mat &a, cv::Mat &b) { cv::equalizeHist(a, b); });
}

void greyAndRgb(benchmark::internal::Benchmark *b) { kxbench::bySide(b, {{KIT_GRAY}, {KIT_RGB}}); }
void medians(benchmark::internal::Benchmark *b)
{
    kxbench::bySide(b, {{KIT_GRAY, 3}, {KIT_RGB, 3}, {KIT_GRAY, 9}, {KIT_RGB, 9}});
}

}  // namespace

BENCHMARK(BM_Sobel)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothAvg9)->Apply(greyAndRgb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Median)->Apply(medians)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Equalize)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
