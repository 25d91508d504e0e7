// Drawing against OpenCV (single-threaded) on 2048 x 2048 grey images.  Each
// comparison restores both images, then times our call and the OpenCV
// counterpart in the same loop and reports both (thread CPU milliseconds)
// and their ratio (ours / OpenCV; below 1 means faster).
#include <cmath>
#include <vector>

#include "kxbench.hpp"

namespace {

constexpr int kSide = 2048;

// Both sides draw into a copy of `start`.
void compare(benchmark::State &state, const cv::Mat &start, const std::function<void(Image *)> &ours,
             const std::function<void(cv::Mat &)> &theirs)
{
    kxbench::compare(state, start, KIT_GRAY, ours, [&](const cv::Mat &, cv::Mat &m) { theirs(m); }, {true, true});
}

cv::Mat blank() { return cv::Mat(kSide, kSide, CV_8UC1, cv::Scalar(0)); }

// A 50-vertex star around the centre, radii alternating 600 and 950.
std::vector<cv::Point> star()
{
    std::vector<cv::Point> p;
    for (int k = 0; k < 50; ++k) {
        const double a = k * 2 * M_PI / 50, r = k % 2 ? 600 : 950;
        p.emplace_back(int(1024 + r * std::cos(a)), int(1024 + r * std::sin(a)));
    }
    return p;
}

void BM_FillPolygon50(benchmark::State &state)
{
    const std::vector<cv::Point> p = star();
    compare(
        state, blank(), [&](Image *im) { kxFillPolygon(im, &p[0].x, int(p.size()), 200); },
        [&](cv::Mat &m) { cv::fillPoly(m, std::vector<std::vector<cv::Point>>{p}, cv::Scalar(200), cv::LINE_8); });
}

void BM_FillEllipse(benchmark::State &state)
{
    compare(
        state, blank(), [](Image *im) { kxFillEllipse(im, 124, 224, 1924, 1824, 200); },
        [](cv::Mat &m) {
            cv::ellipse(m, cv::Point(1024, 1024), cv::Size(900, 800), 0, 0, 360, cv::Scalar(200), cv::FILLED,
                        cv::LINE_8);
        });
}

// A region winding between 40 staggered walls: most of the image.
cv::Mat maze()
{
    cv::Mat m = blank();
    for (int k = 0; k < 40; ++k) {
        const int x = 25 + 50 * k;
        if (k % 2)
            cv::line(m, cv::Point(x, 30), cv::Point(x, kSide - 1), cv::Scalar(255), 3);
        else
            cv::line(m, cv::Point(x, 0), cv::Point(x, kSide - 31), cv::Scalar(255), 3);
    }
    return m;
}

void BM_SeedFill(benchmark::State &state)
{
    compare(
        state, maze(), [](Image *im) { kxFill(im, 5, 5, 100); },
        [](cv::Mat &m) { cv::floodFill(m, cv::Point(5, 5), cv::Scalar(100), nullptr, cv::Scalar(), cv::Scalar(), 4); });
}

// 200 lines in all directions, some reaching far outside the image.
void BM_SetLine(benchmark::State &state)
{
    std::vector<cv::Vec4i> lines;
    cv::RNG rng(7);
    for (int k = 0; k < 200; ++k)
        lines.emplace_back(rng.uniform(-500, kSide + 500), rng.uniform(-500, kSide + 500), rng.uniform(-500, kSide + 500),
                           rng.uniform(-500, kSide + 500));
    compare(
        state, blank(),
        [&](Image *im) {
            for (const auto &l : lines) kxSetLine(im, l[0], l[1], l[2], l[3], 255);
        },
        [&](cv::Mat &m) {
            for (const auto &l : lines) cv::line(m, cv::Point(l[0], l[1]), cv::Point(l[2], l[3]), cv::Scalar(255), 1, cv::LINE_8);
        });
}

BENCHMARK(BM_FillPolygon50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillEllipse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeedFill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetLine)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
