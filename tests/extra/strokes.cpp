// Stroke points: the library's crossing-number table against the textbook
// sum around each set pixel, on drawn and on thinned random skeletons.
#include <cstdlib>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;

namespace {

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

std::vector<int> listPoints(const Image *im, int kinds)
{
    const int n = kxxStrokePoints(im, kinds, nullptr, 0);
    EXPECT_GE(n, 0);
    std::vector<int> p(size_t(std::max(n, 0)) * 2);
    EXPECT_EQ(kxxStrokePoints(im, kinds, p.data(), n), n);
    return p;
}

ImagePtr drawn(int w, int h, const char *rows)
{
    std::vector<uint8_t> px;
    for (const char *c = rows; *c; ++c) px.push_back(*c == '#');
    return kxtest::makeImage(KIT_BIN, w, h, px);
}

}  // namespace

TEST(ExtraStrokePoints, DrawnSkeletonsGiveTheirEndsBranchesAndDots)
{
    const struct {
        const char *name;
        int w, h;
        const char *rows;
        std::vector<int> ends, branches, dots;
    } cases[] = {
        {"segment", 5, 3, "......###......", {1, 1, 3, 1}, {}, {}},
        {"diagonal_touching_the_border", 3, 3, "#...#...#", {0, 0, 2, 2}, {}, {}},
        {"t_junction", 5, 4, "#####..#....#.......", {0, 0, 4, 0, 2, 2}, {2, 0}, {}},
        {"x_crossing", 5, 5, "#...#.#.#...#...#.#.#...#", {0, 0, 4, 0, 0, 4, 4, 4}, {2, 2}, {}},
        {"closed_loop_has_neither", 4, 4, ".##.#..##..#.##.", {}, {}, {}},
        {"y_fork", 5, 5, "#...#.#.#...#....#....#..", {0, 0, 4, 0, 2, 4}, {2, 2}, {}},
        {"dot", 3, 3, "....#....", {}, {}, {1, 1}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto im = drawn(c.w, c.h, c.rows);
        EXPECT_EQ(listPoints(im.get(), KXX_STROKE_END), c.ends);
        EXPECT_EQ(listPoints(im.get(), KXX_STROKE_BRANCH), c.branches);
        EXPECT_EQ(listPoints(im.get(), KXX_STROKE_DOT), c.dots);
    }
    // A capacity below the count: the count, and only that many points written.
    auto t = drawn(5, 4, cases[2].rows);
    int points[4] = {-1, -1, -1, -1};
    EXPECT_EQ(kxxStrokePoints(t.get(), KXX_STROKE_END, points, 1), 3);
    EXPECT_EQ(std::vector<int>(points, points + 4), (std::vector<int>{0, 0, -1, -1}));
    EXPECT_EQ(kxxStrokePoints(t.get(), KXX_STROKE_END, nullptr, -3), 3);
}

TEST(ExtraStrokePoints, ThinnedBlobsEqualTheCrossingNumberSum)
{
    // Smoothed noise above a level, thinned by the library: real skeletons
    // with many ends and branches.
    uint32_t seed = 5;
    for (const auto &[w, h] : {std::pair{64, 48}, std::pair{1, 30}, std::pair{30, 1}, std::pair{151, 97}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        auto im = kxtest::randomImage(KIT_GRAY, w, h, seed++);
        kxbSimple(kxSmoothAvg(im.get(), 5), 128, 0);
        kxThinning(im.get());
        std::vector<int> cn;  // -1 for clear pixels
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) cn.push_back(im->data[size_t(y) * im->pitch + x] ? crossingNumber(im.get(), x, y) : -1);
        for (int kinds = 0; kinds <= 7; ++kinds) {
            std::vector<int> want;
            for (size_t i = 0; i < cn.size(); ++i)
                if ((cn[i] == 0 ? KXX_STROKE_DOT : cn[i] == 1 ? KXX_STROKE_END : cn[i] >= 3 ? KXX_STROKE_BRANCH : 0) & kinds)
                    want.insert(want.end(), {int(i % size_t(w)), int(i / size_t(w))});
            EXPECT_EQ(listPoints(im.get(), kinds), want) << "kinds " << kinds;
        }
        const uint8_t mark[] = {KXX_MARK_NONE, KXX_MARK_DOT, KXX_MARK_END, KXX_MARK_LINE, KXX_MARK_BRANCH};
        std::vector<uint8_t> marks;
        for (int c : cn) marks.push_back(mark[std::min(c, 3) + 1]);
        EXPECT_EQ(kxxMarkStrokePoints(im.get()), im.get());
        EXPECT_EQ(im->imageType, KIT_GRAY);
        EXPECT_EQ(kxtest::pixels(im.get()), marks);
    }
}
