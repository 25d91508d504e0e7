// What the benchmark programs share: test pictures, timing, and the
// side-by-side comparison of our call with its peers (OpenCV, Leptonica,
// memcpy of the same bytes) on the same input in the same loop.
//
// How results are reported (bench/report.py reads them from Google
// Benchmark's JSON output of every program, whatever the family):
//   counter  ours_ms (or kx_ms)  our call with threads off: median thread CPU ms
//   counter  <peer>_ms           a peer single-threaded: median thread CPU ms
//                                (opencv_ms, leptonica_ms, memcpy_ms, ...)
//   counter  ours_mt_ms          our call with threads on (kxtSetThreads(threadsOn()))
//                                and OpenCV at its default threads: median wall ms
//   counter  <peer>_mt_ms        the peer at its default threads: median wall ms
//   counter  ratio_*             for the console only; the report divides itself
//   label    "op=<our call>; size=<W>x<H>; <peer>=<the peer's call>; ..."
// Every part is optional: without `op` the report names the row after the
// benchmark, without an ours counter it takes the benchmark's CPU time.
// compare() and measure() below write all of it.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <thread>
#include <vector>

#include "kxpre.h"
#include "kxthreads.h"

#ifdef KXBENCH_LEPTONICA
#include <leptonica/allheaders.h>
#endif

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

// Wall milliseconds: the measure of a call that runs on several threads.
inline double wallMillis(const std::function<void()> &f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The picture sides every family runs at: 512, 2048 and 4096, or the
// comma-separated list in KXBENCH_SIDES (e.g. "512" for a quick run).
inline std::vector<int64_t> sides()
{
    std::vector<int64_t> out;
    if (const char *env = std::getenv("KXBENCH_SIDES")) {
        for (const char *p = env; *p;) {
            char *end = nullptr;
            const long v = std::strtol(p, &end, 10);
            if (end == p) break;
            if (v >= 16 && v <= 16384) out.push_back(v);
            p = *end == ',' ? end + 1 : end;
        }
    }
    if (out.empty()) out = {512, 2048, 4096};
    return out;
}

// For BENCHMARK(...)->Apply(kxbench::bySide): one run per side, range(0).
inline void bySide(benchmark::internal::Benchmark *b)
{
    for (int64_t s : sides()) b->Arg(s);
}

// One run per side (range(0)) for each further argument list (range(1)...).
inline void bySide(benchmark::internal::Benchmark *b, const std::vector<std::vector<int64_t>> &args)
{
    for (int64_t s : sides())
        for (const auto &a : args) {
            std::vector<int64_t> all = {s};
            all.insert(all.end(), a.begin(), a.end());
            b->Args(all);
        }
}

// The thread count of the "threads on" runs: KXBENCH_THREADS, else every
// processor (at least 2).
inline int threadsOn()
{
    if (const char *env = std::getenv("KXBENCH_THREADS")) {
        const int n = std::atoi(env);
        if (n >= 2) return n;
    }
    return std::max(2u, std::thread::hardware_concurrency());
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

// Lines of random words, 44 pixels apart, each about 110 characters long
// on a page 2048 pixels wide (as many more or fewer as the width allows),
// drawn 2-3 pixels thick in the colour `ink` picks.
inline void writeTextLines(cv::Mat &page, cv::RNG &rng, const char *const *words, int wordCount,
                           const std::function<cv::Scalar(cv::RNG &)> &ink, int lineType)
{
    const size_t chars = size_t(110) * size_t(page.cols) / 2048;
    for (int y = 40; y < page.rows - 10; y += 44) {
        std::string line;
        while (line.size() < chars) line += std::string(words[rng.uniform(0, wordCount)]) + " ";
        // One expression, as the pages were first drawn: the order the two
        // random draws happen in decides the picture.
        cv::putText(page, line, cv::Point(12, y), cv::FONT_HERSHEY_SIMPLEX, 1.0, ink(rng), rng.uniform(2, 4),
                    lineType);
    }
}

// ---- the comparison engine ------------------------------------------------

// How a contestant can run on several threads.
enum class Threading {
    None,    // always single-threaded (memcpy, Leptonica)
    Ours,    // ours: kxtSetThreads
    OpenCv,  // OpenCV: cv::setNumThreads
};

// One call timed in a comparison.  `restore` puts its input back before
// each call (not timed); `name` is its counter's stem ("ours", "opencv",
// "leptonica", "memcpy", ...) and `what` the call, for the report.
struct Contestant {
    std::string name;
    std::function<void()> run;
    std::function<void()> restore = {};
    Threading threading = Threading::None;
    std::string what = {};
};

// A peer of compare(): memcpy of `bytes` bytes (the bandwidth limit of a
// point operation on as many bytes).
inline Contestant memcpyPeer(size_t bytes)
{
    auto from = std::make_shared<std::vector<uint8_t>>(bytes, uint8_t(1));
    auto to = std::make_shared<std::vector<uint8_t>>(bytes);
    return {"memcpy", [from, to] {
                std::memcpy(to->data(), from->data(), from->size());
                benchmark::DoNotOptimize(to->data());
                benchmark::ClobberMemory();
            },
            {}, Threading::None, "memcpy " + std::to_string(bytes) + " bytes"};
}

namespace detail {

inline double median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline void setThreads(bool on)
{
    kxtSetThreads(on ? threadsOn() : 1);
    cv::setNumThreads(on ? -1 : 1);  // -1: OpenCV's default
}

}  // namespace detail

// Fewest timed calls per contestant behind each median.
constexpr int kMinSamples = 5;

// Times every contestant in turn in each iteration of the benchmark loop
// (restoring each input first, outside the benchmark's timing when
// `pauseWhileRestoring`), tops the samples up to kMinSamples, then times
// the threaded contestants with threads on, interleaved again.  Writes the
// counters and the label described at the top; `label` holds the parts
// other than the peers' `what` (e.g. "op=kxSobel 0 grey; size=2048x2048").
inline void measure(benchmark::State &state, const std::vector<Contestant> &contestants, const std::string &label,
                    bool pauseWhileRestoring = true)
{
    detail::setThreads(false);
    const size_t n = contestants.size();
    std::vector<std::vector<double>> single(n), multi(n);
    auto restoreAll = [&] {
        for (const Contestant &c : contestants)
            if (c.restore) c.restore();
    };
    for (auto _ : state) {
        if (pauseWhileRestoring) state.PauseTiming();
        restoreAll();
        if (pauseWhileRestoring) state.ResumeTiming();
        for (size_t i = 0; i < n; ++i) single[i].push_back(millis(contestants[i].run));
    }
    while (n && single[0].size() < size_t(kMinSamples)) {
        restoreAll();
        for (size_t i = 0; i < n; ++i) single[i].push_back(millis(contestants[i].run));
    }
    const bool anyThreaded = std::any_of(contestants.begin(), contestants.end(),
                                         [](const Contestant &c) { return c.threading != Threading::None; });
    if (anyThreaded) {
        detail::setThreads(true);
        for (int k = 0; k < kMinSamples; ++k) {
            restoreAll();
            for (size_t i = 0; i < n; ++i)
                if (contestants[i].threading != Threading::None) multi[i].push_back(wallMillis(contestants[i].run));
        }
        detail::setThreads(false);
    }
    std::string text = label;
    for (size_t i = 0; i < n; ++i) {
        const Contestant &c = contestants[i];
        state.counters[c.name + "_ms"] = detail::median(single[i]);
        if (!multi[i].empty()) state.counters[c.name + "_mt_ms"] = detail::median(multi[i]);
        if (!c.what.empty()) text += (text.empty() ? "" : "; ") + c.name + "=" + c.what;
    }
    state.SetLabel(text);
}

// "op=<op>; size=<W>x<H>" for a label.
inline std::string label(const std::string &op, int width, int height)
{
    std::string s = "size=" + std::to_string(width) + "x" + std::to_string(height);
    return op.empty() ? s : "op=" + op + "; " + s;
}

// How compare() prepares each timed pair of calls.
struct Options {
    bool pauseWhileRestoring = true;  // keep the copies out of the benchmark's own time
    bool theirsStartsFromSource = false;  // OpenCV's output starts as a copy of the source (in-place calls)
    const char *oursCounter = "kx_ms";
    const char *op = nullptr;       // our call as the report names it (default: the benchmark's name)
    const char *opencv = nullptr;   // the OpenCV call, for the report
    bool memcpy = false;            // also time memcpy of the source's bytes (point operations)
    bool oursThreads = true;        // our call uses threads when they are on (see kxthreads.h);
                                    // false: no threads-on run of ours (it would time the same thing)
};

// The options naming our call and OpenCV's, with or without a threads-on
// run of ours.
inline Options options(const char *op, const char *opencv, bool oursThreads = true)
{
    Options opt;
    opt.op = op;
    opt.opencv = opencv;
    opt.oursThreads = oursThreads;
    return opt;
}

// The image side of a benchmark run through bySide.
inline int sideOf(const benchmark::State &state) { return int(state.range(0)); }

// Runs `ours` on a kx image restored from `src` before each call (our
// operations work in place) and, when given, `theirs` on `src`, and any
// further `peers`; reports the median milliseconds of each (single-threaded,
// then with threads on) and the ratio ours / OpenCV.
inline void compare(benchmark::State &state, const cv::Mat &src, int kitType,
                    const std::function<void(Image *)> &ours,
                    const std::function<void(const cv::Mat &, cv::Mat &)> &theirs, Options opt = {},
                    const std::vector<Contestant> &peers = {})
{
    Image *im = kxCreateImage(kitType, src.cols, src.rows);
    cv::Mat dst;
    const std::string oursName = std::string(opt.oursCounter).substr(0, std::string(opt.oursCounter).rfind("_ms"));
    std::vector<Contestant> all = {{oursName, [&] { ours(im); },
                                    [&] {
                                        std::memcpy(im->data, src.data, im->size);
                                        im->imageType = kitType;  // some operations change the type
                                    },
                                    opt.oursThreads ? Threading::Ours : Threading::None}};
    if (theirs)
        all.push_back({"opencv", [&] { theirs(src, dst); },
                       [&] {
                           if (opt.theirsStartsFromSource) src.copyTo(dst);
                       },
                       Threading::OpenCv, opt.opencv ? opt.opencv : ""});
    if (opt.memcpy) all.push_back(memcpyPeer(src.total() * src.elemSize()));
    all.insert(all.end(), peers.begin(), peers.end());
    measure(state, all, label(opt.op ? opt.op : "", src.cols, src.rows), opt.pauseWhileRestoring);
    benchmark::DoNotOptimize(im->data);
    benchmark::DoNotOptimize(dst.data);
    kxDestroyImage(im);
    // Threaded runs of ours go by the name ours_mt_ms whatever the counter.
    if (oursName != "ours" && state.counters.count(oursName + "_mt_ms")) {
        state.counters["ours_mt_ms"] = state.counters[oursName + "_mt_ms"];
        state.counters.erase(oursName + "_mt_ms");
    }
    if (theirs) {
        const double o = state.counters[opt.oursCounter], t = state.counters["opencv_ms"];
        state.counters["ratio_vs_opencv"] = t > 0 ? o / t : 0;
    }
}

#ifdef KXBENCH_LEPTONICA
// ---- Leptonica, a peer for the document operations ------------------------
namespace lept {

// An owned PIX.
struct Pix {
    PIX *p = nullptr;
    explicit Pix(PIX *q = nullptr) : p(q) {}
    ~Pix() { pixDestroy(&p); }
    Pix(const Pix &) = delete;
    Pix &operator=(const Pix &) = delete;
    Pix(Pix &&o) noexcept : p(o.p) { o.p = nullptr; }
    Pix &operator=(Pix &&o) noexcept
    {
        if (this != &o) {
            pixDestroy(&p);
            p = o.p;
            o.p = nullptr;
        }
        return *this;
    }
    PIX *get() const { return p; }
};

// An 8-bit grey PIX with the pixels of a CV_8UC1 picture.
inline Pix fromGrey(const cv::Mat &m)
{
    Pix pix(pixCreate(m.cols, m.rows, 8));
    for (int y = 0; y < m.rows; ++y) {
        l_uint32 *line = pixGetData(pix.get()) + size_t(y) * pixGetWpl(pix.get());
        for (int x = 0; x < m.cols; ++x) SET_DATA_BYTE(line, x, m.at<uint8_t>(y, x));
    }
    return pix;
}

// A 1-bit PIX, foreground (1) where the CV_8UC1 picture is non-zero.
inline Pix fromBinary(const cv::Mat &m)
{
    Pix pix(pixCreate(m.cols, m.rows, 1));
    for (int y = 0; y < m.rows; ++y) {
        l_uint32 *line = pixGetData(pix.get()) + size_t(y) * pixGetWpl(pix.get());
        for (int x = 0; x < m.cols; ++x)
            if (m.at<uint8_t>(y, x)) SET_DATA_BIT(line, x);
    }
    return pix;
}

// A Leptonica call as a peer: `call` returns a new PIX, destroyed untimed
// before the next call.
inline Contestant peer(std::function<PIX *()> call, std::string what)
{
    std::shared_ptr<PIX *> out(new PIX *(nullptr), [](PIX **p) {
        pixDestroy(p);
        delete p;
    });
    return {"leptonica", [call, out] { *out = call(); }, [out] { pixDestroy(out.get()); }, Threading::None,
            std::move(what)};
}

// Sauvola binarization over a window of `window` pixels (odd) with factor k.
inline Contestant sauvola(const Pix &grey, int window, float k)
{
    PIX *src = grey.get();
    return peer(
        [src, window, k] {
            PIX *d = nullptr;
            pixSauvolaBinarize(src, window / 2, k, 1, nullptr, nullptr, nullptr, &d);
            return d;
        },
        "pixSauvolaBinarize half-width " + std::to_string(window / 2) + ", k " + std::to_string(k).substr(0, 4));
}

// Thinning to 8-connected skeletons of the foreground.
inline Contestant thinning(const Pix &binary)
{
    PIX *src = binary.get();
    return peer([src] { return pixThinConnected(src, L_THIN_FG, 8, 0); }, "pixThinConnected fg, 8-conn");
}

// Rotation by `degrees` (counter-clockwise) about the centre, same size,
// by area mapping (interpolating) or sampling; white comes in.
inline Contestant rotation(const Pix &pix, double degrees, bool interpolate)
{
    PIX *src = pix.get();
    const int type = interpolate ? L_ROTATE_AREA_MAP : L_ROTATE_SAMPLING;
    return peer([src, degrees, type] { return pixRotate(src, float(degrees * M_PI / 180), type, L_BRING_IN_WHITE, 0, 0); },
                std::string("pixRotate ") + (interpolate ? "area map" : "sampling"));
}

}  // namespace lept
#endif

}  // namespace kxbench
