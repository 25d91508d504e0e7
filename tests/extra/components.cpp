// Connected components: kxxLabel against a flood-fill labeller and OpenCV's
// connectedComponentsWithStats, the statistics, and the two cleaners.
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <deque>
#include <functional>
#include <numeric>
#include <map>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;
using kxtest::makeImage;
using kxtest::PaddedImage;

namespace {

// Straightforward labeller: flood fill from every unlabelled set pixel in
// raster order, which numbers components by their first pixel.
std::vector<int32_t> floodLabels(const Image *im, int connectivity, int *count)
{
    const int w = im->width, h = im->height;
    std::vector<int32_t> l(size_t(w) * h, 0);
    auto set = [&](int x, int y) { return im->data[size_t(y) * im->pitch + x] != 0; };
    int n = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!set(x, y) || l[size_t(y) * w + x]) continue;
            ++n;
            std::deque<std::pair<int, int>> q{{x, y}};
            l[size_t(y) * w + x] = n;
            while (!q.empty()) {
                auto [cx, cy] = q.front();
                q.pop_front();
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        if ((dx || dy) == 0 || (connectivity == 4 && dx && dy)) continue;
                        const int nx = cx + dx, ny = cy + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h || !set(nx, ny) || l[size_t(ny) * w + nx])
                            continue;
                        l[size_t(ny) * w + nx] = n;
                        q.push_back({nx, ny});
                    }
            }
        }
    *count = n;
    return l;
}

// A binary image with about `percent` % set pixels, some rows of long runs
// so that components merge across many provisional labels.
ImagePtr randomBinary(int w, int h, int percent, uint32_t seed)
{
    ImagePtr im(kxCreateImage(KIT_BIN, w, h));
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) im->data[size_t(y) * im->pitch + x] = int(rng() % 100) < percent;
    return im;
}

std::vector<KxxComponent> statsOf(const std::vector<int32_t> &labels, int w, int h, int n)
{
    std::vector<KxxComponent> s(size_t(n) + 1);
    EXPECT_EQ(kxxComponentStats(labels.data(), w, h, n, s.data()), 1);
    return s;
}

struct Shape {
    const char *name;
    int w, h;
    const char *rows;  // '#' set, '.' clear
    int count4, count8;
};

const Shape kShapes[] = {
    {"empty", 3, 2, "......", 0, 0},
    {"full", 3, 2, "######", 1, 1},
    {"diagonal", 3, 3, "#...#...#", 3, 1},
    {"anti_diagonal", 3, 3, "..#.#.#..", 3, 1},
    {"u_shape_merges_late", 5, 3, "#...##...######", 1, 1},
    {"w_shape_three_arms", 7, 3, "#..#..#" "#..#..#" "#######", 1, 1},
    {"checkerboard", 4, 4, "#.#..#.##.#..#.#", 8, 1},
    {"hook_seen_right_first", 5, 5, "....#" "###.#" "#.#.#" "#...#" "#####", 1, 1},
    {"two_hooks", 5, 3, "#.#.#" "#.#.#" "##.##", 3, 1},
    {"single_pixel", 1, 1, "#", 1, 1},
    {"one_row", 7, 1, "##.#..#", 3, 3},
    {"one_column", 1, 5, "#.##.", 2, 2},
};

ImagePtr shapeImage(const Shape &s)
{
    std::vector<uint8_t> px;
    for (const char *c = s.rows; *c; ++c) px.push_back(*c == '#');
    return makeImage(KIT_BIN, s.w, s.h, px);
}

}  // namespace

TEST(ExtraLabel, ShapesCountAndMatchTheFloodFill)
{
    for (const Shape &s : kShapes) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ(std::strlen(s.rows), size_t(s.w * s.h));
        auto im = shapeImage(s);
        for (int c : {4, 8}) {
            std::vector<int32_t> got(size_t(s.w) * s.h, -7);
            int n = 0;
            const auto want = floodLabels(im.get(), c, &n);
            EXPECT_EQ(kxxLabel(im.get(), c, got.data()), c == 4 ? s.count4 : s.count8);
            EXPECT_EQ(n, c == 4 ? s.count4 : s.count8);
            EXPECT_EQ(got, want) << "connectivity " << c;
        }
    }
}

TEST(ExtraLabel, RandomImagesEqualTheFloodFillExactly)
{
    // Densities around the percolation thresholds make long, winding
    // components with many merges.
    const struct {
        int w, h, percent;
    } cases[] = {{1, 1, 50}, {1, 40, 50}, {40, 1, 50}, {31, 17, 10}, {64, 64, 45},
                 {64, 64, 59}, {97, 53, 70}, {128, 96, 35}, {200, 3, 80}, {3, 200, 80}};
    uint32_t seed = 1;
    for (const auto &c : cases)
        for (int conn : {4, 8}) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.percent << "% conn " << conn);
            auto im = randomBinary(c.w, c.h, c.percent, seed++);
            int n = 0;
            const auto want = floodLabels(im.get(), conn, &n);
            std::vector<int32_t> got(size_t(c.w) * c.h, -1);
            EXPECT_EQ(kxxLabel(im.get(), conn, got.data()), n);
            EXPECT_EQ(got, want);
        }
}

TEST(ExtraLabel, EqualsOpenCvUpToNumberingWithTheSameStatistics)
{
    const struct {
        int w, h, percent;
    } cases[] = {{50, 40, 30}, {64, 64, 55}, {120, 80, 62}, {257, 129, 45}, {33, 333, 50}};
    uint32_t seed = 100;
    for (const auto &c : cases)
        for (int conn : {4, 8}) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " conn " << conn);
            auto im = randomBinary(c.w, c.h, c.percent, seed++);
            std::vector<int32_t> ours(size_t(c.w) * c.h);
            const int n = kxxLabel(im.get(), conn, ours.data());
            const cv::Mat src(c.h, c.w, CV_8UC1, im->data, size_t(im->pitch));
            cv::Mat cvLabels, cvStats, cvCentroids;
            const int cvN = cv::connectedComponentsWithStats(src, cvLabels, cvStats, cvCentroids, conn, CV_32S);
            ASSERT_EQ(n, cvN - 1);
            // The map between the numberings is one-to-one and the same at
            // every pixel.
            std::vector<int> toCv(size_t(n) + 1, -1), fromCv(size_t(cvN), -1);
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) {
                    const int a = ours[size_t(y) * c.w + x], b = cvLabels.at<int>(y, x);
                    if (toCv[size_t(a)] < 0) toCv[size_t(a)] = b;
                    if (fromCv[size_t(b)] < 0) fromCv[size_t(b)] = a;
                    ASSERT_EQ(toCv[size_t(a)], b);
                    ASSERT_EQ(fromCv[size_t(b)], a);
                }
            const auto s = statsOf(ours, c.w, c.h, n);
            for (int k = 0; k <= n; ++k) {
                const int b = toCv[size_t(k)];
                if (b < 0) continue;  // no clear pixel: label 0 unused
                EXPECT_EQ(s[size_t(k)].area, cvStats.at<int>(b, cv::CC_STAT_AREA));
                EXPECT_EQ(s[size_t(k)].left, cvStats.at<int>(b, cv::CC_STAT_LEFT));
                EXPECT_EQ(s[size_t(k)].top, cvStats.at<int>(b, cv::CC_STAT_TOP));
                EXPECT_EQ(s[size_t(k)].width, cvStats.at<int>(b, cv::CC_STAT_WIDTH));
                EXPECT_EQ(s[size_t(k)].height, cvStats.at<int>(b, cv::CC_STAT_HEIGHT));
                EXPECT_EQ(s[size_t(k)].cx, cvCentroids.at<double>(b, 0));  // same bits
                EXPECT_EQ(s[size_t(k)].cy, cvCentroids.at<double>(b, 1));
            }
        }
}

TEST(ExtraLabel, WrappedImageIgnoresItsPaddingAndLeavesItAlone)
{
    // The sentinel in the padding is non-zero: read as pixels it would join
    // the components at the right edge of every row into one.
    auto src = randomBinary(23, 19, 50, 7);
    const auto px = kxtest::pixels(src.get());
    PaddedImage wrapped(KIT_BIN, 23, 19, px, 3);
    for (int conn : {4, 8}) {
        std::vector<int32_t> a(23 * 19), b(23 * 19);
        EXPECT_EQ(kxxLabel(wrapped.get(), conn, a.data()), kxxLabel(src.get(), conn, b.data()));
        EXPECT_EQ(a, b);
        EXPECT_TRUE(wrapped.paddingIntact());
    }
    kxxDespeckle(wrapped.get(), 8, 3);
    kxxKeepLargest(wrapped.get(), 4, 2);
    EXPECT_TRUE(wrapped.paddingIntact());
}

TEST(ExtraLabel, RefusedInputsLeaveTheLabelsUntouched)
{
    auto grey = kxtest::randomImage(KIT_GRAY, 5, 4, 3);
    auto bin = randomBinary(5, 4, 50, 3);
    Image broken = *bin;
    broken.pitch = 2;  // below the width
    const struct {
        const char *name;
        const Image *im;
        int conn;
    } cases[] = {{"grey image", grey.get(), 8}, {"connectivity 6", bin.get(), 6},
                 {"connectivity 0", bin.get(), 0}, {"pitch below width", &broken, 4}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int32_t> l(20, -5);
        EXPECT_EQ(kxxLabel(c.im, c.conn, l.data()), -1);
        EXPECT_EQ(l, std::vector<int32_t>(20, -5));
    }
    std::vector<int32_t> l(20);
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxLabel(nullptr, 4, l.data()), -1), "image && labels");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxLabel(bin.get(), 4, nullptr), -1), "image && labels");
}

TEST(ExtraStats, BackgroundEmptyAndForeignLabels)
{
    // Label 0 is described too; label 2 is carried by no pixel; -3 and 9 lie
    // outside 0..count and count nowhere.
    const std::vector<int32_t> labels = {1, 1, 0, -3,  //
                                         0, 3, 3, 9,   //
                                         0, 0, 3, 1};
    std::vector<KxxComponent> s(4);
    ASSERT_EQ(kxxComponentStats(labels.data(), 4, 3, 3, s.data()), 1);
    const KxxComponent want[] = {{0, 4, 0, 0, 3, 3, 3.0 / 4, 5.0 / 4},
                                 {1, 3, 0, 0, 4, 3, 4.0 / 3, 2.0 / 3},
                                 {2, 0, 0, 0, 0, 0, 0.0, 0.0},
                                 {3, 3, 1, 1, 2, 2, 5.0 / 3, 4.0 / 3}};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(s[size_t(k)].label, want[k].label);
        EXPECT_EQ(s[size_t(k)].area, want[k].area);
        EXPECT_EQ(s[size_t(k)].left, want[k].left);
        EXPECT_EQ(s[size_t(k)].top, want[k].top);
        EXPECT_EQ(s[size_t(k)].width, want[k].width);
        EXPECT_EQ(s[size_t(k)].height, want[k].height);
        EXPECT_EQ(s[size_t(k)].cx, want[k].cx);
        EXPECT_EQ(s[size_t(k)].cy, want[k].cy);
    }
    std::vector<KxxComponent> untouched(2);
    untouched[0].area = 77;
    EXPECT_EQ(kxxComponentStats(labels.data(), 0, 3, 1, untouched.data()), 0);
    EXPECT_EQ(kxxComponentStats(labels.data(), 4, 3, -1, untouched.data()), 0);
    EXPECT_EQ(kxxComponentStats(labels.data(), 65536, 65536, 1, untouched.data()), 0);
    EXPECT_EQ(untouched[0].area, 77);
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxComponentStats(nullptr, 4, 3, 3, s.data()), 0), "labels && stats");
}

namespace {

// The straightforward cleaners: flood-fill labels, then a rule per label.
std::vector<uint8_t> keepByRule(const Image *im, int conn, const std::function<bool(int, int, int)> &keep)
{
    int n = 0;
    const auto l = floodLabels(im, conn, &n);
    std::vector<int> area(size_t(n) + 1, 0);
    for (int32_t v : l) ++area[size_t(v)];
    std::vector<uint8_t> out(l.size());
    for (size_t i = 0; i < l.size(); ++i) out[i] = l[i] != 0 && keep(l[i], area[size_t(l[i])], n);
    (void)area;
    return out;
}

}  // namespace

TEST(ExtraDespeckle, RemovesExactlyTheComponentsBelowTheArea)
{
    uint32_t seed = 40;
    for (int percent : {20, 45, 60})
        for (int conn : {4, 8})
            for (int minArea : {-5, 0, 1, 2, 3, 7, 50, 100000}) {
                SCOPED_TRACE(testing::Message() << percent << "% conn " << conn << " minArea " << minArea);
                auto im = randomBinary(61, 47, percent, seed++);
                const auto want = keepByRule(im.get(), conn, [&](int, int area, int) { return area >= minArea; });
                EXPECT_EQ(kxxDespeckle(im.get(), conn, minArea), im.get());
                EXPECT_EQ(im->imageType, KIT_BIN);
                EXPECT_EQ(kxtest::pixels(im.get()), want);
            }
}

TEST(ExtraKeepLargest, KeepsTheNLargestWithTiesToTheEarlierComponent)
{
    // Four single pixels and a pair: keeping 2 keeps the pair and the first
    // single pixel in raster order.
    auto im = makeImage(KIT_BIN, 5, 3, {1, 0, 1, 0, 1,  //
                                        0, 0, 0, 0, 1,  //
                                        1, 0, 0, 0, 0});
    kxxKeepLargest(im.get(), 4, 2);
    EXPECT_EQ(kxtest::pixels(im.get()), (std::vector<uint8_t>{1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}));

    uint32_t seed = 90;
    for (int conn : {4, 8})
        for (int n : {-1, 0, 1, 2, 5, 30, 100000}) {
            SCOPED_TRACE(testing::Message() << "conn " << conn << " n " << n);
            auto r = randomBinary(53, 41, 40, seed++);
            int count = 0;
            const auto labels = floodLabels(r.get(), conn, &count);
            std::vector<int> area(size_t(count) + 1, 0);
            for (int32_t v : labels) ++area[size_t(v)];
            std::vector<int> order(static_cast<size_t>(count));
            std::iota(order.begin(), order.end(), 1);
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return area[size_t(a)] > area[size_t(b)]; });
            std::vector<bool> kept(size_t(count) + 1, false);
            for (int i = 0; i < std::min(n, count); ++i) kept[size_t(order[size_t(i)])] = true;
            const auto want = keepByRule(r.get(), conn, [&](int l, int, int) { return bool(kept[size_t(l)]); });
            kxxKeepLargest(r.get(), conn, n);
            EXPECT_EQ(kxtest::pixels(r.get()), want);
            int after = 0;
            std::vector<int32_t> l(53 * 41);
            after = kxxLabel(r.get(), conn, l.data());
            EXPECT_EQ(after, std::max(0, std::min(n, count)));
        }
}

TEST(ExtraCleaners, RefuseOtherTypesAndConnectivities)
{
    auto grey = kxtest::randomImage(KIT_GRAY, 9, 7, 1);
    const auto before = kxtest::pixels(grey.get());
    EXPECT_EQ(kxxDespeckle(grey.get(), 8, 5), grey.get());
    EXPECT_EQ(kxxKeepLargest(grey.get(), 8, 1), grey.get());
    EXPECT_EQ(kxtest::pixels(grey.get()), before);
    auto bin = randomBinary(9, 7, 50, 2);
    const auto binBefore = kxtest::pixels(bin.get());
    EXPECT_EQ(kxxDespeckle(bin.get(), 5, 100), bin.get());
    EXPECT_EQ(kxxKeepLargest(bin.get(), 0, 0), bin.get());
    EXPECT_EQ(kxtest::pixels(bin.get()), binBefore);
    EXPECT_EQ(kxxDespeckle(nullptr, 8, 5), nullptr);
    EXPECT_EQ(kxxKeepLargest(nullptr, 8, 5), nullptr);
}
