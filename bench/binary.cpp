// Binary-image operations against OpenCV (single-threaded) on a 2048 x 2048
// scanned-page-like image: lines of printed text, 0/1 bytes.  Each
// comparison times our call and the OpenCV counterpart in the same loop
// and reports both (thread CPU milliseconds) and their ratio (ours /
// OpenCV; below 1 means faster).  Border removal on a spiral is reported
// as nanoseconds per pixel at three sizes: it must stay flat.
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "kxpre.h"

namespace {

constexpr int kSide = 2048;

// Black text on white, binarized: strokes 2-3 pixels wide, letters with
// holes (o, e, a, d, b), lines 44 pixels apart; set pixels are the ink.
cv::Mat pageImage()
{
    cv::Mat page(kSide, kSide, CV_8UC1, cv::Scalar(0));
    cv::RNG rng(2024);
    const char *words[] = {"the", "quick", "brown", "fox", "jumps", "over", "a", "lazy", "dog", "08/15",
                           "abode", "Holes", "mapped", "bold", "reader", "page", "2048", "scan"};
    for (int y = 40; y < kSide - 10; y += 44) {
        std::string line;
        while (line.size() < 110) line += std::string(words[rng.uniform(0, 18)]) + " ";
        cv::putText(page, line, cv::Point(12, y), cv::FONT_HERSHEY_SIMPLEX, 1.0, cv::Scalar(1),
                    rng.uniform(2, 4), cv::LINE_8);
    }
    return page;
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

// Runs `ours` on a kx copy of the page and `theirs` on the cv::Mat page,
// restoring our input before each timed call (most operations work in
// place).
void compare(benchmark::State &state, const std::function<void(Image *)> &ours,
             const std::function<void(const cv::Mat &, cv::Mat &)> &theirs)
{
    cv::setNumThreads(1);
    const cv::Mat src = pageImage();
    Image *im = kxCreateImage(KIT_BIN, kSide, kSide);
    cv::Mat dst;
    double oursMs = 0, theirsMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(im->data, src.data, im->size);
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

const cv::Mat kRect3 = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));

void BM_Erode3x3(benchmark::State &state)
{
    compare(
        state, [](Image *im) { kxErode(im, nullptr); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::erode(s, d, kRect3, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::Scalar(255));
        });
}

void BM_Dilate3x3(benchmark::State &state)
{
    compare(
        state, [](Image *im) { kxDilate(im, nullptr); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::dilate(s, d, kRect3, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::Scalar(0));
        });
}

void BM_DistTrans(benchmark::State &state)
{
    std::vector<int32_t> d(size_t(kSide) * kSide);
    compare(
        state,
        // Both measure each set pixel's distance to the nearest unset one.
        [&](Image *im) { kxDistTrans(im, d.data(), uint32_t(d.size())); },
        [](const cv::Mat &s, cv::Mat &out) { cv::distanceTransform(s, out, cv::DIST_L2, cv::DIST_MASK_3); });
}

// Hole filling the usual OpenCV way: flood the background from a padded
// frame, then set what the flood did not reach.
void openCvFillHole(const cv::Mat &s, cv::Mat &d)
{
    cv::Mat pad;
    cv::copyMakeBorder(s, pad, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::floodFill(pad, cv::Point(0, 0), cv::Scalar(2), nullptr, cv::Scalar(), cv::Scalar(), 4);
    const cv::Mat holes = pad(cv::Rect(1, 1, s.cols, s.rows)) == 0;
    s.copyTo(d);
    d.setTo(1, holes);
}

void BM_FillHole(benchmark::State &state) { compare(state, [](Image *im) { kxFillHole(im); }, openCvFillHole); }

// A 1-pixel spiral path with 1-pixel gaps, entered from the border: the
// worst case for sweeping, whose rounds grow with the path's turns.
void drawSpiral(uint8_t *p, int n)
{
    std::memset(p, 0, size_t(n) * n);
    int l = 0, t = 0, r = n - 1, b = n - 1, x = 0, y = 0;
    auto walk = [&](int dx, int dy, int steps) {
        for (int i = 0; i < steps; ++i) p[size_t(y += dy) * n + (x += dx)] = 1;
    };
    p[0] = 1;
    while (l <= r && t <= b) {
        walk(1, 0, r - x);
        if ((t += 2) > b) break;
        walk(0, 1, b - y);
        if (l > (r -= 2)) break;
        walk(-1, 0, x - l);
        if (t > (b -= 2)) break;
        walk(0, -1, y - t);
        l += 2;
    }
}

void BM_RemoveBorderSpiral(benchmark::State &state)
{
    const int n = int(state.range(0));
    std::vector<uint8_t> spiral(size_t(n) * n);
    drawSpiral(spiral.data(), n);
    Image *im = kxCreateImage(KIT_BIN, n, n);
    double ms = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(im->data, spiral.data(), spiral.size());
        state.ResumeTiming();
        ms += millis([&] { kxRemoveBorder(im); });
        benchmark::DoNotOptimize(im->data);
    }
    state.counters["ns_per_pixel"] = ms * 1e6 / double(state.iterations()) / (double(n) * n);
    kxDestroyImage(im);
}

}  // namespace

BENCHMARK(BM_Erode3x3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dilate3x3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DistTrans)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillHole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveBorderSpiral)->Arg(512)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
