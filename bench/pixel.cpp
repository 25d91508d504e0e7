// Point operations and pixel combination beside OpenCV (single-threaded)
// and beside memcpy of the same bytes (the bandwidth limit), on 2048 x 2048
// grey and RGB images of smoothed noise.  Each benchmark times our call,
// the OpenCV counterpart and the copy in the same loop and reports the
// thread CPU milliseconds of each and the ratios ours / OpenCV and
// ours / memcpy (below 1 means faster):
//   kxInvert     cv::bitwise_not
//   kxLinear     cv::convertScaleAbs (grey: every value is non-negative, so
//                the absolute value changes nothing)
//   kxContrast   cv::LUT with the same stretch table
//   kxbSimple    cv::threshold(THRESH_BINARY)
//   kxPixelAdd   cv::add
//   kxPixelDiff  cv::absdiff
#include <vector>

#include "kxbench.hpp"

using kxbench::millis;

namespace {

constexpr int kSide = 2048;

cv::Mat noise(int kitType, int seed = 12345)
{
    return kxbench::smoothNoise(kSide, kitType == KIT_RGB ? CV_8UC3 : CV_8UC1, seed);
}

// Times `ours` (in place on a kx image restored from src before each call),
// `theirs` on src and a memcpy of src's bytes, interleaved in one loop.
void measure(benchmark::State &state, const cv::Mat &src, int kitType, const std::function<void(Image *)> &ours,
             const std::function<void(const cv::Mat &, cv::Mat &)> &theirs)
{
    cv::setNumThreads(1);
    Image *im = kxCreateImage(kitType, src.cols, src.rows);
    const size_t bytes = src.total() * src.elemSize();
    std::vector<uint8_t> copy(bytes);
    cv::Mat dst;
    double oursMs = 0, theirsMs = 0, copyMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(im->data, src.data, im->size);
        im->imageType = kitType;  // some operations change the type
        state.ResumeTiming();
        oursMs += millis([&] { ours(im); });
        theirsMs += millis([&] { theirs(src, dst); });
        copyMs += millis([&] { std::memcpy(copy.data(), src.data, bytes); });
        benchmark::DoNotOptimize(im->data);
        benchmark::DoNotOptimize(dst.data);
        benchmark::DoNotOptimize(copy.data());
    }
    kxDestroyImage(im);
    const double n = double(state.iterations());
    state.counters["kx_ms"] = oursMs / n;
    state.counters["opencv_ms"] = theirsMs / n;
    state.counters["memcpy_ms"] = copyMs / n;
    state.counters["ratio_vs_opencv"] = theirsMs > 0 ? oursMs / theirsMs : 0;
    state.counters["ratio_vs_memcpy"] = copyMs > 0 ? oursMs / copyMs : 0;
}

int kitOf(const benchmark::State &s) { return int(s.range(0)); }

void BM_Invert(benchmark::State &s)
{
    measure(s, noise(kitOf(s)), kitOf(s), [](Image *im) { kxInvert(im); },
            [](const cv::Mat &a, cv::Mat &b) { cv::bitwise_not(a, b); });
}

void BM_Linear(benchmark::State &s)
{
    measure(s, noise(kitOf(s)), kitOf(s), [](Image *im) { kxLinear(im, 1.3f, -20.0f); },
            [](const cv::Mat &a, cv::Mat &b) { cv::convertScaleAbs(a, b, 1.3, -20.0); });
}

void BM_Contrast(benchmark::State &s)
{
    // The table kxContrast builds for 0.2 .. 0.8 (levels 51 and 204).
    cv::Mat lut(1, 256, CV_8UC1);
    for (int b = 0; b < 256; ++b)
        lut.at<uint8_t>(b) = b <= 51    ? 0
                             : b >= 204 ? 255
                                        : cv::saturate_cast<uint8_t>(int((b - 51) / 153.0 * 255.0 + 0.5));
    measure(s, noise(KIT_GRAY), KIT_GRAY, [](Image *im) { kxContrast(im, 0.2f, 0.8f); },
            [lut](const cv::Mat &a, cv::Mat &b) { cv::LUT(a, lut, b); });
}

void BM_Simple(benchmark::State &s)
{
    measure(s, noise(KIT_GRAY), KIT_GRAY, [](Image *im) { kxbSimple(im, 128, 0); },
            [](const cv::Mat &a, cv::Mat &b) { cv::threshold(a, b, 127, 1, cv::THRESH_BINARY); });
}

// The combinations read a second image, which stays the same throughout.
void combination(benchmark::State &s, Image *(*op)(const Image *, Image *),
                 void (*cvOp)(cv::InputArray, cv::InputArray, cv::OutputArray))
{
    const int kit = kitOf(s);
    const cv::Mat other = noise(kit, 777);
    Image *first = kxCreateImage(kit, kSide, kSide);
    std::memcpy(first->data, other.data, first->size);
    measure(s, noise(kit), kit, [&](Image *im) { op(first, im); },
            [&](const cv::Mat &a, cv::Mat &b) { cvOp(other, a, b); });
    kxDestroyImage(first);
}

void cvAdd(cv::InputArray a, cv::InputArray b, cv::OutputArray d) { cv::add(a, b, d); }

void BM_PixelAdd(benchmark::State &s) { combination(s, kxPixelAdd, cvAdd); }
void BM_PixelDiff(benchmark::State &s) { combination(s, kxPixelDiff, cv::absdiff); }

}  // namespace

BENCHMARK(BM_Invert)->Arg(KIT_GRAY)->Arg(KIT_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Linear)->Arg(KIT_GRAY)->Arg(KIT_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contrast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Simple)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixelAdd)->Arg(KIT_GRAY)->Arg(KIT_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixelDiff)->Arg(KIT_GRAY)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
