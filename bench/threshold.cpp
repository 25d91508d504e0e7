// Thresholding against OpenCV (single-threaded) on a 2048 x 2048 grey page:
// dark text on a shaded, noisy background.  Each comparison times our call
// and the OpenCV counterpart in the same loop and reports both (thread CPU
// milliseconds) and their ratio (ours / OpenCV; below 1 means faster):
//   kxbOtsu           cv::threshold(THRESH_BINARY | THRESH_OTSU)
//   kxbLocalIntegral  cv::adaptiveThreshold(ADAPTIVE_THRESH_MEAN_C), both
//                     with a 31-pixel window (ours also takes the local
//                     deviation, OpenCV only the mean)
//   kxbMultiLevel     no OpenCV counterpart: milliseconds for 3 and 4 classes
#include "kxbench.hpp"

using kxbench::compare;

namespace {

constexpr int kSide = 2048;

cv::Mat pageImage()
{
    cv::Mat page(kSide, kSide, CV_8UC1);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) page.at<uint8_t>(y, x) = uint8_t(150 + 60 * x / kSide + 30 * y / kSide);
    cv::RNG rng(2024);
    const char *words[] = {"the", "quick", "brown", "fox", "jumps", "over", "a", "lazy", "dog", "08/15"};
    kxbench::writeTextLines(page, rng, words, 10, [](cv::RNG &r) { return cv::Scalar(r.uniform(20, 70)); }, cv::LINE_AA);
    cv::Mat noise(kSide, kSide, CV_8UC1);
    rng.fill(noise, cv::RNG::NORMAL, 0, 8);
    cv::Mat out;
    cv::add(page, noise, out);
    return out;
}

void BM_Otsu(benchmark::State &state)
{
    compare(
        state, pageImage(), KIT_GRAY, [](Image *im) { kxbOtsu(im, nullptr); },
        [](const cv::Mat &s, cv::Mat &d) { cv::threshold(s, d, 0, 1, cv::THRESH_BINARY | cv::THRESH_OTSU); });
}

void BM_LocalIntegral31(benchmark::State &state)
{
    compare(
        state, pageImage(), KIT_GRAY, [](Image *im) { kxbLocalIntegral(im, 31, 128, 0.34f); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::adaptiveThreshold(s, d, 1, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 31, 0);
        });
}

void BM_MultiLevel(benchmark::State &state)
{
    const int levels = int(state.range(0));
    compare(state, pageImage(), KIT_GRAY, [levels](Image *im) { kxbMultiLevel(im, levels); }, nullptr);
}

void BM_Simple(benchmark::State &state)
{
    compare(
        state, pageImage(), KIT_GRAY, [](Image *im) { kxbSimple(im, 128, 0); },
        [](const cv::Mat &s, cv::Mat &d) { cv::threshold(s, d, 127, 1, cv::THRESH_BINARY); });
}

}  // namespace

BENCHMARK(BM_Otsu)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Simple)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LocalIntegral31)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MultiLevel)->Arg(3)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
