// Drawing beside OpenCV on grey images at every side of kxbench::sides(),
// the shapes scaled with the side.  Each comparison restores both images,
// then times our call and the OpenCV counterpart in the same loop (see
// kxbench.hpp).  None of these calls uses our threads.
#include <cmath>
#include <vector>

#include "kxbench.hpp"

namespace {

using kxbench::options;
using kxbench::sideOf;


// Both sides draw into a copy of `start`.
void compare(benchmark::State &state, const cv::Mat &start, const char *op, const char *opencv,
             const std::function<void(Image *)> &ours, const std::function<void(cv::Mat &)> &theirs)
{
    kxbench::Options opt{true, true};
    opt.op = op;
    opt.opencv = opencv;
    opt.oursThreads = false;
    kxbench::compare(state, start, KIT_GRAY, ours, [&](const cv::Mat &, cv::Mat &m) { theirs(m); }, opt);
}

cv::Mat blank(int side) { return cv::Mat(side, side, CV_8UC1, cv::Scalar(0)); }

// A length on a 2048 page, at this side.
int at(int side, double v) { return int(v * side / 2048); }

// A 50-vertex star around the centre, radii alternating 600 and 950 (at 2048).
std::vector<cv::Point> star(int side)
{
    std::vector<cv::Point> p;
    for (int k = 0; k < 50; ++k) {
        const double a = k * 2 * M_PI / 50, r = k % 2 ? 600 : 950;
        p.emplace_back(at(side, 1024 + r * std::cos(a)), at(side, 1024 + r * std::sin(a)));
    }
    return p;
}

void BM_FillPolygon50(benchmark::State &state)
{
    const int side = sideOf(state);
    const std::vector<cv::Point> p = star(side);
    compare(
        state, blank(side), "kxFillPolygon 50 vertices", "cv::fillPoly",
        [&](Image *im) { kxFillPolygon(im, &p[0].x, int(p.size()), 200); },
        [&](cv::Mat &m) { cv::fillPoly(m, std::vector<std::vector<cv::Point>>{p}, cv::Scalar(200), cv::LINE_8); });
}

void BM_FillEllipse(benchmark::State &state)
{
    const int s = sideOf(state);
    compare(
        state, blank(s), "kxFillEllipse", "cv::ellipse filled",
        [s](Image *im) { kxFillEllipse(im, at(s, 124), at(s, 224), at(s, 1924), at(s, 1824), 200); },
        [s](cv::Mat &m) {
            cv::ellipse(m, cv::Point(at(s, 1024), at(s, 1024)), cv::Size(at(s, 900), at(s, 800)), 0, 0, 360,
                        cv::Scalar(200), cv::FILLED, cv::LINE_8);
        });
}

// A region winding between 40 staggered walls: most of the image.  The
// seed (2, 2) lies left of the first wall at every side.
cv::Mat maze(int side)
{
    cv::Mat m = blank(side);
    for (int k = 0; k < 40; ++k) {
        const int x = at(side, 25 + 50 * k), gap = at(side, 30);
        if (k % 2)
            cv::line(m, cv::Point(x, gap), cv::Point(x, side - 1), cv::Scalar(255), 3);
        else
            cv::line(m, cv::Point(x, 0), cv::Point(x, side - 1 - gap), cv::Scalar(255), 3);
    }
    return m;
}

void BM_SeedFill(benchmark::State &state)
{
    compare(
        state, maze(sideOf(state)), "kxFill maze", "cv::floodFill 4-conn", [](Image *im) { kxFill(im, 2, 2, 100); },
        [](cv::Mat &m) { cv::floodFill(m, cv::Point(2, 2), cv::Scalar(100), nullptr, cv::Scalar(), cv::Scalar(), 4); });
}

// 200 lines in all directions, some reaching far outside the image.
void BM_SetLine(benchmark::State &state)
{
    const int side = sideOf(state), margin = side / 4;
    std::vector<cv::Vec4i> lines;
    cv::RNG rng(7);
    for (int k = 0; k < 200; ++k)
        lines.emplace_back(rng.uniform(-margin, side + margin), rng.uniform(-margin, side + margin),
                           rng.uniform(-margin, side + margin), rng.uniform(-margin, side + margin));
    compare(
        state, blank(side), "kxSetLine x200", "cv::line x200",
        [&](Image *im) {
            for (const auto &l : lines) kxSetLine(im, l[0], l[1], l[2], l[3], 255);
        },
        [&](cv::Mat &m) {
            for (const auto &l : lines) cv::line(m, cv::Point(l[0], l[1]), cv::Point(l[2], l[3]), cv::Scalar(255), 1, cv::LINE_8);
        });
}

BENCHMARK(BM_FillPolygon50)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillEllipse)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeedFill)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetLine)->Apply(kxbench::bySide)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
