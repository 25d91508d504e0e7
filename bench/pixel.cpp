// Point operations and pixel combination beside OpenCV and beside memcpy
// of the same bytes (the bandwidth limit), on grey and RGB images of
// smoothed noise at every side of kxbench::sides().  Each benchmark times
// our call, the OpenCV counterpart and the copy in the same loop (see
// kxbench.hpp), single-threaded and then with threads on:
//   kxInvert     cv::bitwise_not
//   kxLinear     cv::convertScaleAbs (every value is non-negative, so the
//                absolute value changes nothing)
//   kxContrast   cv::LUT with the same stretch table
//   kxbSimple    cv::threshold(THRESH_BINARY)
//   kxPixelAdd   cv::add
//   kxPixelDiff  cv::absdiff
#include <string>
#include <vector>

#include "kxbench.hpp"

namespace {

using kxbench::options;
using kxbench::sideOf;

int kitOf(const benchmark::State &s) { return int(s.range(1)); }
const char *kitName(int kit) { return kit == KIT_RGB ? "RGB" : "grey"; }

cv::Mat noise(int side, int kitType, int seed = 12345)
{
    return kxbench::smoothNoise(side, kitType == KIT_RGB ? CV_8UC3 : CV_8UC1, seed);
}

// Every operation here uses threads when they are on (kxthreads.h).
void run(benchmark::State &state, const std::string &op, const char *opencv, bool withMemcpy, const cv::Mat &src,
         int kitType, const std::function<void(Image *)> &ours,
         const std::function<void(const cv::Mat &, cv::Mat &)> &theirs)
{
    const std::string name = op + " " + kitName(kitType);
    kxbench::Options opt = kxbench::options(name.c_str(), opencv);
    opt.memcpy = withMemcpy;
    kxbench::compare(state, src, kitType, ours, theirs, opt);
}

void BM_Invert(benchmark::State &s)
{
    run(s, "kxInvert", "cv::bitwise_not", true, noise(sideOf(s), kitOf(s)), kitOf(s), [](Image *im) { kxInvert(im); },
        [](const cv::Mat &a, cv::Mat &b) { cv::bitwise_not(a, b); });
}

void BM_Linear(benchmark::State &s)
{
    run(s, "kxLinear 1.3, -20", "cv::convertScaleAbs 1.3, -20", true, noise(sideOf(s), kitOf(s)), kitOf(s),
        [](Image *im) { kxLinear(im, 1.3f, -20.0f); },
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
    run(s, "kxContrast 0.2..0.8", "cv::LUT", true, noise(sideOf(s), KIT_GRAY), KIT_GRAY,
        [](Image *im) { kxContrast(im, 0.2f, 0.8f); }, [lut](const cv::Mat &a, cv::Mat &b) { cv::LUT(a, lut, b); });
}

void BM_Simple(benchmark::State &s)
{
    run(s, "kxbSimple 128", "cv::threshold BINARY 127", true, noise(sideOf(s), KIT_GRAY), KIT_GRAY,
        [](Image *im) { kxbSimple(im, 128, 0); },
        [](const cv::Mat &a, cv::Mat &b) { cv::threshold(a, b, 127, 1, cv::THRESH_BINARY); });
}

// The combinations read a second image, which stays the same throughout.
void combination(benchmark::State &s, const char *op, const char *opencv, bool withMemcpy,
                 Image *(*kxOp)(const Image *, Image *), void (*cvOp)(cv::InputArray, cv::InputArray, cv::OutputArray))
{
    const int kit = kitOf(s), side = sideOf(s);
    const cv::Mat other = noise(side, kit, 777);
    Image *first = kxCreateImage(kit, side, side);
    std::memcpy(first->data, other.data, first->size);
    run(s, op, opencv, withMemcpy, noise(side, kit), kit, [&](Image *im) { kxOp(first, im); },
        [&](const cv::Mat &a, cv::Mat &b) { cvOp(other, a, b); });
    kxDestroyImage(first);
}

void cvAdd(cv::InputArray a, cv::InputArray b, cv::OutputArray d) { cv::add(a, b, d); }

void BM_PixelAdd(benchmark::State &s) { combination(s, "kxPixelAdd", "cv::add", true, kxPixelAdd, cvAdd); }
void BM_PixelDiff(benchmark::State &s) { combination(s, "kxPixelDiff", "cv::absdiff", false, kxPixelDiff, cv::absdiff); }

void greyAndRgb(benchmark::internal::Benchmark *b) { kxbench::bySide(b, {{KIT_GRAY}, {KIT_RGB}}); }
void greyOnly(benchmark::internal::Benchmark *b) { kxbench::bySide(b, {{KIT_GRAY}}); }

}  // namespace

BENCHMARK(BM_Invert)->Apply(greyAndRgb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Linear)->Apply(greyAndRgb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contrast)->Apply(greyOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Simple)->Apply(greyOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixelAdd)->Apply(greyAndRgb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixelDiff)->Apply(greyOnly)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
