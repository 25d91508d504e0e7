// Binary-image operations beside OpenCV (and Leptonica's thinning) on a
// scanned-page-like image at every side of kxbench::sides(): lines of
// printed text, 0/1 bytes.  Each comparison times our call and its peers in
// the same loop (see kxbench.hpp); none of these calls uses our threads, so
// only OpenCV's threads-on figures are given.  Border removal on a spiral is
// also reported as nanoseconds per pixel: it must stay flat.
#include "kxbench.hpp"

using kxbench::millis;

namespace {

using kxbench::options;
using kxbench::sideOf;


// Black text on white, binarized: strokes 2-3 pixels wide, letters with
// holes (o, e, a, d, b), lines 44 pixels apart; set pixels are the ink.
cv::Mat pageImage(int side)
{
    cv::Mat page(side, side, CV_8UC1, cv::Scalar(0));
    cv::RNG rng(2024);
    const char *words[] = {"the", "quick", "brown", "fox", "jumps", "over", "a", "lazy", "dog", "08/15",
                           "abode", "Holes", "mapped", "bold", "reader", "page", "2048", "scan"};
    kxbench::writeTextLines(page, rng, words, 18, [](cv::RNG &) { return cv::Scalar(1); }, cv::LINE_8);
    return page;
}


void compare(benchmark::State &state, const char *op, const char *opencv, const std::function<void(Image *)> &ours,
             const std::function<void(const cv::Mat &, cv::Mat &)> &theirs)
{
    kxbench::compare(state, pageImage(sideOf(state)), KIT_BIN, ours, theirs, options(op, opencv, false));
}

const cv::Mat kRect3 = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));

void BM_Erode3x3(benchmark::State &state)
{
    compare(
        state, "kxErode 3x3 page", "cv::erode 3x3", [](Image *im) { kxErode(im, nullptr); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::erode(s, d, kRect3, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::Scalar(255));
        });
}

void BM_Dilate3x3(benchmark::State &state)
{
    compare(
        state, "kxDilate 3x3 page", "cv::dilate 3x3", [](Image *im) { kxDilate(im, nullptr); },
        [](const cv::Mat &s, cv::Mat &d) {
            cv::dilate(s, d, kRect3, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::Scalar(0));
        });
}

void BM_DistTrans(benchmark::State &state)
{
    std::vector<int32_t> d(size_t(sideOf(state)) * size_t(sideOf(state)));
    compare(
        state, "kxDistTrans page", "cv::distanceTransform L2 3x3",
        // Both measure each set pixel's distance to the nearest unset one.
        [&](Image *im) { kxDistTrans(im, d.data(), uint32_t(d.size())); },
        [](const cv::Mat &s, cv::Mat &out) { cv::distanceTransform(s, out, cv::DIST_L2, cv::DIST_MASK_3); });
}

// Template thinning has no OpenCV counterpart in the core modules; its
// peer is Leptonica's connectivity-preserving thinning, on the same page.
void BM_Thinning(benchmark::State &state)
{
    const cv::Mat page = pageImage(sideOf(state));
    std::vector<kxbench::Contestant> peers;
#ifdef KXBENCH_LEPTONICA
    const kxbench::lept::Pix binary = kxbench::lept::fromBinary(page);
    peers.push_back(kxbench::lept::thinning(binary));
#endif
    kxbench::compare(state, page, KIT_BIN, [](Image *im) { kxThinning(im); }, nullptr,
                     options("kxThinning text page", nullptr, false), peers);
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

void BM_FillHole(benchmark::State &state)
{
    compare(state, "kxFillHole page", "cv::floodFill from a frame", [](Image *im) { kxFillHole(im); }, openCvFillHole);
}

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
    state.counters["kx_ms"] = ms / double(state.iterations());
    state.counters["ns_per_pixel"] = ms * 1e6 / double(state.iterations()) / (double(n) * n);
    state.SetLabel(kxbench::label("kxRemoveBorder spiral", n, n));
    kxDestroyImage(im);
}

}  // namespace

BENCHMARK(BM_Erode3x3)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dilate3x3)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DistTrans)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Thinning)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillHole)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveBorderSpiral)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
