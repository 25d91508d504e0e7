// Binary images.  Connected components: kxxLabel (union-find) against a
// flood-fill labeller, literal statistics, and the two cleaners.  Stroke
// points: the library's crossing-number table against the textbook sum
// around each set pixel, on thinned random skeletons, and the count given
// when the caller's room is short.  Page skew: generated pages of text
// turned by known angles, with noise.
#include <algorithm>
#include <cmath>
#include <deque>
#include <numeric>
#include <string>
#include <tuple>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;

namespace {

// Flood fill from every unlabelled set pixel in raster order, which numbers
// components by their first pixel.
std::vector<int32_t> floodLabels(const Image *im, int conn, int *count)
{
    const int w = im->width, h = im->height;
    std::vector<int32_t> l(size_t(w) * h, 0);
    auto free = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < w && y < h && im->data[size_t(y) * im->pitch + x] && !l[size_t(y) * w + x];
    };
    int n = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!free(x, y)) continue;
            l[size_t(y) * w + x] = ++n;
            for (std::deque<std::pair<int, int>> q{{x, y}}; !q.empty(); q.pop_front())
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = q.front().first + dx, ny = q.front().second + dy;
                        if ((conn == 4 && dx && dy) || !free(nx, ny)) continue;
                        l[size_t(ny) * w + nx] = n;
                        q.push_back({nx, ny});
                    }
        }
    *count = n;
    return l;
}

// '#' set; or, for null rows, about `percent` % set pixels at random.
ImagePtr binary(int w, int h, const char *rows, int percent = 0, uint32_t seed = 0)
{
    ImagePtr im(kxCreateImage(KIT_BIN, w, h));
    std::mt19937 rng(seed);
    for (int i = 0; i < w * h; ++i) im->data[i] = rows ? rows[i] == '#' : int(rng() % 100) < percent;
    return im;
}

auto fields(const KxxComponent &c) { return std::tuple(c.label, c.area, c.left, c.top, c.width, c.height, c.cx, c.cy); }


// Half the sum of |P(i) - P(i+1)| around the ring E, NE, N, NW, W, SW, S,
// SE, outside pixels 0.
int crossingNumber(const Image *im, int x, int y)
{
    static const int dx[8] = {1, 1, 0, -1, -1, -1, 0, 1}, dy[8] = {0, -1, -1, -1, 0, 1, 1, 1};
    auto at = [&](int i) {
        const int nx = x + dx[i & 7], ny = y + dy[i & 7];
        return nx >= 0 && ny >= 0 && nx < im->width && ny < im->height && im->data[size_t(ny) * im->pitch + nx];
    };
    int sum = 0;
    for (int i = 0; i < 8; ++i) sum += at(i) != at(i + 1);
    return sum / 2;
}

// A white page of random words drawn by the library in `height`-pixel
// lines, some short, turned clockwise by `angle` degrees (a skew of
// +angle), binarized with dark ink set, `noise` per mille of pixels flipped.
ImagePtr skewedPage(int w, int h, int height, double angle, int noise, uint32_t seed)
{
    static const char *const words[] = {"the", "image", "library", "page", "skew", "angle", "of", "lines",
                                        "projection", "profile", "text", "document", "Quality", "a", "with"};
    std::mt19937 rng(seed);
    std::string text;
    for (int l = 0; l < h * 8 / 10 / (height * 3 / 2); ++l) {
        std::string line;
        while (line.size() < size_t(w * 8 / 10 / (height / 2 + 1))) line += std::string(words[rng() % 15]) + " ";
        text += line.substr(0, rng() % 7 ? line.size() : line.size() / 2) + "\n";
    }
    ImagePtr page(kxCreateImage(KIT_RGB, w, h));
    kxiFlood(page.get(), 255);
    kxFillText(page.get(), text.c_str(), w / 10, h / 10, height, 0xFF000000u);
    kxRotateE2(kxiCast(page.get(), KIT_GRAY), -angle, 0xFFFFFFFFu, 0, 1);
    kxbSimple(page.get(), 128, 1);
    for (size_t i = 0, n = size_t(w) * h; i < n * size_t(noise) / 1000; ++i) page->data[rng() % n] ^= 1;
    return page;
}

}  // namespace

TEST(ExtraLabel, DrawnAndRandomImagesEqualTheFloodFill)
{
    // Drawn shapes whose arms union-find meets late (U, W, hooks, diagonals,
    // a checkerboard), one row or column, and random images near the percolation
    // thresholds, where components wind and merge across many labels.
    const struct {
        int w, h;
        const char *rows;  // null: random with `percent` % set
        int percent = 0;
    } cases[] = {
        {3, 2, "......"}, {3, 3, "#...#...#"}, {3, 3, "..#.#.#.."}, {5, 3, "#...##...######"},
        {7, 3, "#..#..##..#..########"}, {4, 4, "#.#..#.##.#..#.#"}, {5, 5, "....####.##.#.##...######"},
        {5, 3, "#.#.##.#.###.##"}, {1, 40, nullptr, 50}, {40, 1, nullptr, 50}, {31, 17, nullptr, 10},
        {257, 129, nullptr, 45}, {64, 64, nullptr, 59},
    };
    uint32_t seed = 1;
    for (const auto &c : cases)
        for (int conn : {4, 8}) {
            SCOPED_TRACE(testing::Message()
                         << c.w << "x" << c.h << " " << (c.rows ? c.rows : "random") << " conn " << conn);
            auto im = binary(c.w, c.h, c.rows, c.percent, seed++);
            int n = 0;
            const auto want = floodLabels(im.get(), conn, &n);
            std::vector<int32_t> got(size_t(c.w) * c.h, -1);
            ASSERT_EQ(kxxLabel(im.get(), conn, got.data()), n);
            ASSERT_EQ(got, want);
            std::vector<KxxComponent> s(size_t(n) + 1);  // areas: the pixels of each label
            ASSERT_EQ(kxxComponentStats(got.data(), c.w, c.h, n, s.data()), 1);
            for (int k = 0; k <= n; ++k) EXPECT_EQ(s[size_t(k)].area, std::count(want.begin(), want.end(), k));
        }
}

TEST(ExtraStats, BackgroundEmptyAndForeignLabels)
{
    // Label 0 is described too; label 2 is carried by no pixel; -3 and 9 lie
    // outside 0..count and count nowhere.
    const std::vector<int32_t> labels = {1, 1, 0, -3, 0, 3, 3, 9, 0, 0, 3, 1};
    std::vector<KxxComponent> s(4);
    ASSERT_EQ(kxxComponentStats(labels.data(), 4, 3, 3, s.data()), 1);
    const KxxComponent want[] = {{0, 4, 0, 0, 3, 3, 3.0 / 4, 5.0 / 4}, {1, 3, 0, 0, 4, 3, 4.0 / 3, 2.0 / 3},
                                 {2, 0, 0, 0, 0, 0, 0.0, 0.0}, {3, 3, 1, 1, 2, 2, 5.0 / 3, 4.0 / 3}};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(fields(s[size_t(k)]), fields(want[k])) << k;
    s[0].area = 77;  // 65536 x 65536 labels: more than an int counts, refused
    EXPECT_EQ(kxxComponentStats(labels.data(), 65536, 65536, 1, s.data()), 0);
    EXPECT_EQ(s[0].area, 77);
}

TEST(ExtraCleaners, DespeckleAndKeepLargestKeepTheComponentsTheirRuleNames)
{
    // Ties in area are many at 45 %: the first component in raster order wins.
    uint32_t seed = 40;
    for (int conn : {4, 8})
        for (int k : {-1, 0, 1, 2, 7, 100000}) {
            SCOPED_TRACE(testing::Message() << "conn " << conn << " k " << k);
            auto a = binary(61, 47, nullptr, 45, seed++);
            ImagePtr b(kxiClone(a.get(), nullptr));
            int n = 0;
            const auto l = floodLabels(a.get(), conn, &n);
            std::vector<int> area(size_t(n) + 1, 0), order(static_cast<size_t>(n));
            for (int32_t v : l) ++area[size_t(v)];
            std::iota(order.begin(), order.end(), 1);
            std::stable_sort(order.begin(), order.end(),
                             [&](int x, int y) { return area[size_t(x)] > area[size_t(y)]; });
            std::vector<bool> largest(size_t(n) + 1, false);
            for (int i = 0; i < std::min(k, n); ++i) largest[size_t(order[size_t(i)])] = true;
            std::vector<uint8_t> despeckled, kept;
            for (int32_t v : l)
                despeckled.push_back(v && area[size_t(v)] >= k), kept.push_back(v && largest[size_t(v)]);
            EXPECT_EQ(kxtest::pixels(kxxDespeckle(a.get(), conn, k)), despeckled);
            EXPECT_EQ(kxtest::pixels(kxxKeepLargest(b.get(), conn, k)), kept);
            EXPECT_EQ(b->imageType, KIT_BIN);
        }
}

TEST(ExtraCleaners, DespeckleClearsTheLabelledComponentsBelowTheArea)
{
    // Rows of many words with odd tails, densities from specks to long runs of
    // set words, set bytes other than 1 (kept as they are), padded rows.
    uint32_t seed = 90;
    for (auto [w, h, percent] :
         {std::tuple{1, 50, 40}, {50, 1, 40}, {133, 71, 5}, {133, 71, 45}, {200, 90, 70}, {64, 40, 97}})
        for (int conn : {4, 8})
            for (int k : {2, 5, 40}) {
                SCOPED_TRACE(testing::Message() << w << "x" << h << " " << percent << "% conn " << conn << " k " << k);
                auto src = binary(w, h, nullptr, percent, seed++);
                std::vector<uint8_t> px = kxtest::pixels(src.get());
                for (size_t i = 0; i < px.size(); i += 7) px[i] = uint8_t(px[i] * 2);
                int n = 0;
                const auto l = floodLabels(src.get(), conn, &n);
                std::vector<int> area(size_t(n) + 1, 0);
                for (int32_t v : l) ++area[size_t(v)];
                std::vector<uint8_t> want(px.size());
                for (size_t i = 0; i < px.size(); ++i) want[i] = area[size_t(l[i])] >= k ? px[i] : 0;
                kxtest::PaddedImage im(KIT_BIN, w, h, px);
                EXPECT_EQ(kxxDespeckle(im.get(), conn, k), im.get());
                EXPECT_EQ(kxtest::pixels(im.get()), want);
                EXPECT_TRUE(im.paddingIntact());
                // The clear components (value 0): the small ones become 1,
                // every set byte stays as it was.
                ImagePtr clear = kxtest::makeImage(KIT_BIN, w, h);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) clear->data[size_t(y) * clear->pitch + x] = px[size_t(y) * w + x] == 0;
                int m = 0;
                const auto holes = floodLabels(clear.get(), conn, &m);
                std::vector<int> holeArea(size_t(m) + 1, 0);
                for (int32_t v : holes) ++holeArea[size_t(v)];
                for (size_t i = 0; i < px.size(); ++i) want[i] = holes[i] && holeArea[size_t(holes[i])] < k ? 1 : px[i];
                kxtest::PaddedImage filled(KIT_BIN, w, h, px);
                EXPECT_EQ(kxxDespeckleEx(filled.get(), conn, k, 0), filled.get());
                EXPECT_EQ(kxtest::pixels(filled.get()), want);
                EXPECT_TRUE(filled.paddingIntact());
            }
    // value 1 is kxxDespeckle; other values are refused.
    auto a = binary(40, 30, nullptr, 30, 7);
    ImagePtr b(kxiClone(a.get(), nullptr));
    const std::vector<uint8_t> before = kxtest::pixels(a.get());
    EXPECT_EQ(kxtest::pixels(kxxDespeckleEx(a.get(), 8, 3, 1)), kxtest::pixels(kxxDespeckle(b.get(), 8, 3)));
    ImagePtr c = kxtest::makeImage(KIT_BIN, 40, 30, before);
    for (int v : {-1, 2, 255}) EXPECT_EQ(kxtest::pixels(kxxDespeckleEx(c.get(), 8, 3, v)), before);
    EXPECT_EQ(kxxDespeckleEx(nullptr, 8, 3, 0), nullptr);
}

TEST(ExtraStrokePoints, ThinnedBlobsEqualTheCrossingNumberSum)
{
    // Smoothed noise above a level, thinned by the library: real skeletons
    // with dots, ends, lines and branches (of 3 and 4 arms).
    uint32_t seed = 5;
    for (const auto &[w, h] : {std::pair{64, 48}, std::pair{1, 30}, std::pair{30, 1}, std::pair{151, 97}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        auto im = kxtest::randomImage(KIT_GRAY, w, h, seed++);
        kxbSimple(w > 1 && h > 1 ? kxSmoothAvg(im.get(), 5) : im.get(), 128, 0);  // one pixel across: dashes and dots
        kxThinning(im.get());
        std::vector<int> cn;  // -1 for clear pixels
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                cn.push_back(im->data[size_t(y) * im->pitch + x] ? crossingNumber(im.get(), x, y) : -1);
        for (int kinds = 0; kinds <= 7; ++kinds) {
            std::vector<int> want;
            for (size_t i = 0; i < cn.size(); ++i)
                if ((cn[i] == 0   ? KXX_STROKE_DOT
                     : cn[i] == 1 ? KXX_STROKE_END
                     : cn[i] >= 3 ? KXX_STROKE_BRANCH
                                  : 0) &
                    kinds)
                    want.insert(want.end(), {int(i % size_t(w)), int(i / size_t(w))});
            const int n = kxxStrokePoints(im.get(), kinds, nullptr, 0);  // the count, then the points
            std::vector<int> got(size_t(std::max(n, 0)) * 2);
            EXPECT_EQ(kxxStrokePoints(im.get(), kinds, got.data(), n), n);
            EXPECT_EQ(got, want) << "kinds " << kinds;
            std::vector<int> some(got.size(), -1);  // room for one point fewer: the count, the last unwritten
            EXPECT_EQ(kxxStrokePoints(im.get(), kinds, some.data(), n - 1), n);
            EXPECT_TRUE(n == 0 || (std::equal(some.begin(), some.end() - 2, want.begin()) && some.back() == -1));
        }
        const uint8_t mark[] = {KXX_MARK_NONE, KXX_MARK_DOT, KXX_MARK_END, KXX_MARK_LINE, KXX_MARK_BRANCH};
        std::vector<uint8_t> marks;
        for (int c : cn) marks.push_back(mark[std::min(c, 3) + 1]);
        EXPECT_EQ(kxxMarkStrokePoints(im.get()), im.get());
        EXPECT_EQ(im->imageType, KIT_GRAY);
        EXPECT_EQ(kxtest::pixels(im.get()), marks);
    }
}

TEST(ExtraSkew, GeneratedPagesWithinFiveHundredthsOfADegreeAndDeskewLevelsThem)
{
    const std::pair<double, int> cases[] = {{0.0, 0},    {0.3, 10}, {-0.7, 0},   {1.234, 10},
                                            {-6.66, 10}, {9.1, 0},  {-12.0, 10}, {14.5, 0}};
    uint32_t seed = 10;
    for (const auto &[angle, noise] : cases) {
        SCOPED_TRACE(testing::Message() << "angle " << angle << " noise " << noise << " per mille");
        auto page = skewedPage(1240, 1754, 22, angle, noise, seed++);
        double found = 99, confidence = -1, turned = 99;
        ASSERT_EQ(kxxFindSkew(page.get(), &found, &confidence), 1);
        EXPECT_NEAR(found, angle, 0.05);
        EXPECT_GT(confidence, 0.7);
        EXPECT_EQ(kxxDeskew(page.get(), 0.3, 1, &turned), page.get());  // turned by the angle found: level
        EXPECT_EQ(turned, found);
        EXPECT_EQ(std::tuple(kxxFindSkew(page.get(), &found, &confidence), page->imageType, page->width, page->height),
                  std::tuple(1, KIT_BIN, 1240, 1754));
        EXPECT_NEAR(found, 0.0, 0.05);
    }
}

TEST(ExtraSkew, BlankAndNoisePagesGiveNoConfidenceAndTinyPagesAnAnswer)
{
    double a = 99, c = 99;
    ASSERT_EQ(kxxFindSkew(kxtest::makeImage(KIT_BIN, 50, 40).get(), &a, &c), 1);
    EXPECT_EQ(std::pair(a, c), std::pair(0.0, 0.0));
    ASSERT_EQ(kxxFindSkew(kxtest::randomImage(KIT_BIN, 400, 300, 4).get(), &a, &c), 1);  // noise
    EXPECT_LT(c, 0.5);  // the best of 121 noisy scores stands out a little
    EXPECT_LE(std::abs(a), 15.0);
    for (const auto &[w, h] : {std::pair{1, 1}, std::pair{1, 50}, std::pair{50, 1}})
        EXPECT_EQ(kxxFindSkew(kxtest::randomImage(KIT_BIN, w, h, 5).get(), &a, &c), 1);
}
