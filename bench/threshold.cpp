// Thresholding beside OpenCV (and Leptonica) on a grey page at every side of
// kxbench::sides(): dark text on a shaded, noisy background.  Each
// comparison times our call and its peers in the same loop (see
// kxbench.hpp), single-threaded and then with threads on:
//   kxbOtsu           cv::threshold(THRESH_BINARY | THRESH_OTSU)
//   kxbSimple         cv::threshold(THRESH_BINARY)
//   kxbLocalIntegral  cv::adaptiveThreshold(ADAPTIVE_THRESH_MEAN_C), both
//                     with a 31-pixel window (ours also takes the local
//                     deviation, OpenCV only the mean), and Leptonica's
//                     Sauvola binarization over the same window
//   kxbMultiLevel     no counterpart: milliseconds for 3, 4 and 8 classes
// kxbLocalIntegral runs on one thread whatever the setting.
#include "kxbench.hpp"

namespace {

using kxbench::options;
using kxbench::sideOf;


cv::Mat pageImage(int side)
{
    cv::Mat page(side, side, CV_8UC1);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) page.at<uint8_t>(y, x) = uint8_t(150 + 60 * x / side + 30 * y / side);
    cv::RNG rng(2024);
    const char *words[] = {"the", "quick", "brown", "fox", "jumps", "over", "a", "lazy", "dog", "08/15"};
    kxbench::writeTextLines(page, rng, words, 10, [](cv::RNG &r) { return cv::Scalar(r.uniform(20, 70)); }, cv::LINE_AA);
    cv::Mat noise(side, side, CV_8UC1);
    rng.fill(noise, cv::RNG::NORMAL, 0, 8);
    cv::Mat out;
    cv::add(page, noise, out);
    return out;
}


void BM_Otsu(benchmark::State &state)
{
    kxbench::compare(
        state, pageImage(sideOf(state)), KIT_GRAY, [](Image *im) { kxbOtsu(im, nullptr); },
        [](const cv::Mat &s, cv::Mat &d) { cv::threshold(s, d, 0, 1, cv::THRESH_BINARY | cv::THRESH_OTSU); },
        options("kxbOtsu page", "cv::threshold OTSU"));
}

void BM_LocalIntegral31(benchmark::State &state)
{
    const cv::Mat page = pageImage(sideOf(state));
    std::vector<kxbench::Contestant> peers;
#ifdef KXBENCH_LEPTONICA
    const kxbench::lept::Pix grey = kxbench::lept::fromGrey(page);
    peers.push_back(kxbench::lept::sauvola(grey, 31, 0.34f));
#endif
    kxbench::compare(
        state, page, KIT_GRAY, [](Image *im) { kxbLocalIntegral(im, 31, 128, 0.34f); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::adaptiveThreshold(s, d, 1, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 31, 0);
        },
        options("kxbLocalIntegral w31 page", "cv::adaptiveThreshold mean 31", false), peers);
}

void BM_MultiLevel(benchmark::State &state)
{
    const int levels = int(state.range(1));
    const std::string op = "kxbMultiLevel " + std::to_string(levels) + " page";
    kxbench::compare(state, pageImage(sideOf(state)), KIT_GRAY, [levels](Image *im) { kxbMultiLevel(im, levels); },
                     nullptr, options(op.c_str(), nullptr));
}

void BM_Simple(benchmark::State &state)
{
    kxbench::compare(
        state, pageImage(sideOf(state)), KIT_GRAY, [](Image *im) { kxbSimple(im, 128, 0); },
        [](const cv::Mat &s, cv::Mat &d) { cv::threshold(s, d, 127, 1, cv::THRESH_BINARY); },
        options("kxbSimple 128 page", "cv::threshold BINARY 127"));
}

void levels(benchmark::internal::Benchmark *b) { kxbench::bySide(b, {{3}, {4}, {8}}); }

}  // namespace

BENCHMARK(BM_Otsu)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Simple)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocalIntegral31)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultiLevel)->Apply(levels)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
