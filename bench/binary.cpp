// Binary-image operations against OpenCV (single-threaded) on a 2048 x 2048
// scanned-page-like image: lines of printed text, 0/1 bytes.  Each
// comparison times our call and the OpenCV counterpart in the same loop
// and reports both (thread CPU milliseconds) and their ratio (ours /
// OpenCV; below 1 means faster).  Border removal on a spiral is reported
// as nanoseconds per pixel at three sizes: it must stay flat.
#include "kxbench.hpp"

using kxbench::millis;

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
    kxbench::writeTextLines(page, rng, words, 18, [](cv::RNG &) { return cv::Scalar(1); }, cv::LINE_8);
    return page;
}

void compare(benchmark::State &state, const std::function<void(Image *)> &ours,
             const std::function<void(const cv::Mat &, cv::Mat &)> &theirs)
{
    kxbench::compare(state, pageImage(), KIT_BIN, ours, theirs);
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

// Template thinning has no OpenCV counterpart in the core modules: its
// time alone, on the same page.
void BM_Thinning(benchmark::State &state)
{
    kxbench::compare(state, pageImage(), KIT_BIN, [](Image *im) { kxThinning(im); }, nullptr);
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
BENCHMARK(BM_Thinning)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillHole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveBorderSpiral)->Arg(512)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
