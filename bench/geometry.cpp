// Geometry beside OpenCV (and Leptonica's rotation) on grey and RGB
// pictures of smoothed noise at every side of kxbench::sides().  Each
// benchmark times our call and its peers in the same loop (the input
// restored before each call, outside the timing; see kxbench.hpp).  None of
// these calls uses our threads; OpenCV's threads-on figures are given.
//   kxRotateEx 30 deg bilinear (kept size)   cv::warpAffine INTER_LINEAR,
//                                            pixRotate area map (grey)
//   kxRotateEx 30 deg nearest (kept size)    cv::warpAffine INTER_NEAREST,
//                                            pixRotate sampling (grey)
//   kxRotate 1                               cv::rotate 90 counter-clockwise
//   kxFlip 1 / 0 / 2                         cv::flip 1 / -1 / 0
//   kxScaleEx filter 2, x0.5                 cv::resize INTER_AREA and INTER_LINEAR
//   kxScaleEx filter 2, x2                   cv::resize INTER_LINEAR
//   kxScaleEx filter 4 (Gaussian), x0.5      cv::resize INTER_AREA
#include <string>
#include <vector>

#include "kxbench.hpp"

namespace {

using kxbench::options;
using kxbench::sideOf;

int typeOf(const benchmark::State &state) { return state.range(1) == 1 ? KIT_GRAY : KIT_RGB; }
std::string kitName(int kit) { return kit == KIT_RGB ? " RGB" : " grey"; }

cv::Mat source(const benchmark::State &state)
{
    return kxbench::smoothNoise(sideOf(state), typeOf(state) == KIT_RGB ? CV_8UC3 : CV_8UC1, 12345);
}

void compare(benchmark::State &state, const cv::Mat &src, const std::string &op, const std::string &opencv,
             const std::function<void(Image *)> &ours, const std::function<void(const cv::Mat &, cv::Mat &)> &theirs,
             const std::vector<kxbench::Contestant> &peers = {})
{
    const std::string name = op + kitName(typeOf(state));
    kxbench::Options opt;
    opt.op = name.c_str();
    opt.opencv = opencv.c_str();
    opt.oursThreads = false;
    kxbench::compare(state, src, typeOf(state), ours, theirs, opt, peers);
}

// range(2): 0 bilinear, 1 nearest.
void BM_RotateEx30(benchmark::State &state)
{
    const bool nearest = state.range(2) == 1;
    const int side = sideOf(state);
    const cv::Mat src = source(state);
    const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f((side - 1) / 2.0f, (side - 1) / 2.0f), 30.0, 1.0);
    std::vector<kxbench::Contestant> peers;
#ifdef KXBENCH_LEPTONICA
    kxbench::lept::Pix grey;
    if (typeOf(state) == KIT_GRAY) {
        grey = kxbench::lept::fromGrey(src);
        peers.push_back(kxbench::lept::rotation(grey, 30.0, !nearest));
    }
#endif
    compare(
        state, src, nearest ? "kxRotateEx 30 nearest" : "kxRotateEx 30 bilinear",
        nearest ? "cv::warpAffine NEAREST" : "cv::warpAffine LINEAR", [nearest](Image *im) { kxRotateEx(im, 30.0, nearest, 1); },
        [&m, nearest](const cv::Mat &s, cv::Mat &d) {
            cv::warpAffine(s, d, m, s.size(), nearest ? cv::INTER_NEAREST : cv::INTER_LINEAR);
        },
        peers);
}

void BM_RotateQuarter(benchmark::State &state)
{
    compare(
        state, source(state), "kxRotate 1", "cv::rotate 90 ccw", [](Image *im) { kxRotate(im, 1); },
        [](const cv::Mat &s, cv::Mat &d) { cv::rotate(s, d, cv::ROTATE_90_COUNTERCLOCKWISE); });
}

void BM_Flip(benchmark::State &state)
{
    const int mode = int(state.range(2));
    const int cvCode = mode == 1 ? 1 : mode == 0 ? -1 : 0;
    compare(
        state, source(state), "kxFlip " + std::to_string(mode), "cv::flip " + std::to_string(cvCode),
        [mode](Image *im) { kxFlip(im, mode); }, [cvCode](const cv::Mat &s, cv::Mat &d) { cv::flip(s, d, cvCode); });
}

// range(2): 0 half, 1 double; range(3): 0 INTER_LINEAR, 1 INTER_AREA;
// range(4): kxScaleEx filter code.
void BM_Scale(benchmark::State &state)
{
    const int side = state.range(2) == 0 ? sideOf(state) / 2 : sideOf(state) * 2;
    const bool area = state.range(3) == 1;
    const int filter = int(state.range(4));
    Image *out = kxCreateImage(typeOf(state), side, side);
    compare(
        state, source(state),
        "kxScaleEx filter " + std::to_string(filter) + (state.range(2) == 0 ? " x0.5" : " x2"),
        std::string("cv::resize ") + (area ? "AREA" : "LINEAR"), [out, filter](Image *im) { kxScaleEx(im, out, filter); },
        [side, area](const cv::Mat &s, cv::Mat &d) {
            cv::resize(s, d, cv::Size(side, side), 0, 0, area ? cv::INTER_AREA : cv::INTER_LINEAR);
        });
    kxDestroyImage(out);
}

// range(1): 1 grey, 3 RGB.
void rotations(benchmark::internal::Benchmark *b) { kxbench::bySide(b, {{1, 0}, {3, 0}, {1, 1}, {3, 1}}); }
void kinds(benchmark::internal::Benchmark *b) { kxbench::bySide(b, {{1}, {3}}); }
void flips(benchmark::internal::Benchmark *b) { kxbench::bySide(b, {{1, 1}, {3, 1}, {1, 0}, {3, 0}, {1, 2}, {3, 2}}); }
void scales(benchmark::internal::Benchmark *b)
{
    kxbench::bySide(b, {{1, 0, 1, 2}, {3, 0, 1, 2}, {1, 0, 0, 2}, {3, 0, 0, 2}, {1, 1, 0, 2}, {3, 1, 0, 2},
                        {1, 0, 1, 4}, {3, 0, 1, 4}});
}

BENCHMARK(BM_RotateEx30)->Apply(rotations)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateQuarter)->Apply(kinds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Flip)->Apply(flips)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scale)->Apply(scales)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
