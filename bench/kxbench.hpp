// What the benchmark programs share: test pictures, thread CPU timing and
// the side-by-side comparison with OpenCV (single-threaded) that reports
// both times in milliseconds and their ratio (ours / OpenCV; below 1 means
// faster).
#pragma once

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "kxpre.h"

namespace kxbench {

// CPU time of this thread: the machine is shared, so wall time mostly
// measures the neighbours.
inline double threadCpuMillis()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

inline double millis(const std::function<void()> &f)
{
    const double t0 = threadCpuMillis();
    f();
    return threadCpuMillis() - t0;
}

// Smoothed uniform noise: edges and flat parts, like a photograph.
inline cv::Mat smoothNoise(int side, int cvType, int seed)
{
    cv::Mat m(side, side, cvType);
    cv::setRNGSeed(seed);
    cv::randu(m, 0, 256);
    cv::GaussianBlur(m, m, cv::Size(5, 5), 1.5);
    return m;
}

// Lines of random words, 44 pixels apart, each about 110 characters long,
// drawn 2-3 pixels thick in the colour `ink` picks.
inline void writeTextLines(cv::Mat &page, cv::RNG &rng, const char *const *words, int wordCount,
                           const std::function<cv::Scalar(cv::RNG &)> &ink, int lineType)
{
    for (int y = 40; y < page.rows - 10; y += 44) {
        std::string line;
        while (line.size() < 110) line += std::string(words[rng.uniform(0, wordCount)]) + " ";
        // One expression, as the pages were first drawn: the order the two
        // random draws happen in decides the picture.
        cv::putText(page, line, cv::Point(12, y), cv::FONT_HERSHEY_SIMPLEX, 1.0, ink(rng), rng.uniform(2, 4),
                    lineType);
    }
}

// How compare() prepares each timed pair of calls.
struct Options {
    bool pauseWhileRestoring = true;  // keep the copies out of the benchmark's own time
    bool theirsStartsFromSource = false;  // OpenCV's output starts as a copy of the source (in-place calls)
    const char *oursCounter = "kx_ms";
};

// Runs `ours` on a kx image restored from `src` before each call (our
// operations work in place) and, when given, `theirs` on `src`; reports the
// mean thread CPU milliseconds of each and their ratio.
inline void compare(benchmark::State &state, const cv::Mat &src, int kitType,
                    const std::function<void(Image *)> &ours,
                    const std::function<void(const cv::Mat &, cv::Mat &)> &theirs, Options opt = {})
{
    cv::setNumThreads(1);
    Image *im = kxCreateImage(kitType, src.cols, src.rows);
    cv::Mat dst;
    double oursMs = 0, theirsMs = 0;
    for (auto _ : state) {
        if (opt.pauseWhileRestoring) state.PauseTiming();
        std::memcpy(im->data, src.data, im->size);
        im->imageType = kitType;  // some operations change the type
        if (opt.theirsStartsFromSource) src.copyTo(dst);
        if (opt.pauseWhileRestoring) state.ResumeTiming();
        oursMs += millis([&] { ours(im); });
        if (theirs) theirsMs += millis([&] { theirs(src, dst); });
        benchmark::DoNotOptimize(im->data);
        benchmark::DoNotOptimize(dst.data);
    }
    kxDestroyImage(im);
    const double n = double(state.iterations());
    state.counters[opt.oursCounter] = oursMs / n;
    if (theirs) {
        state.counters["opencv_ms"] = theirsMs / n;
        state.counters["ratio_vs_opencv"] = theirsMs > 0 ? oursMs / theirsMs : 0;
    }
}

}  // namespace kxbench
