// Stroke points: the crossing number of every set pixel against the
// textbook sum, on drawn skeletons and on thinned random blobs.
#include <cstdlib>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;
using kxtest::makeImage;
using kxtest::PaddedImage;

namespace {

// Crossing number as written: half the sum of |P(i) - P(i+1)| around the
// ring E, NE, N, NW, W, SW, S, SE, outside pixels 0.
int crossingNumber(const Image *im, int x, int y)
{
    static const int dx[8] = {1, 1, 0, -1, -1, -1, 0, 1}, dy[8] = {0, -1, -1, -1, 0, 1, 1, 1};
    auto at = [&](int i) {
        const int nx = x + dx[i & 7], ny = y + dy[i & 7];
        if (nx < 0 || ny < 0 || nx >= im->width || ny >= im->height) return 0;
        return im->data[size_t(ny) * im->pitch + nx] != 0 ? 1 : 0;
    };
    int sum = 0;
    for (int i = 0; i < 8; ++i) sum += std::abs(at(i) - at(i + 1));
    return sum / 2;
}

struct Expected {
    std::vector<int> points;    // every kind, raster order
    std::vector<uint8_t> marks;  // kxxMarkStrokePoints' bytes
};

Expected reference(const Image *im, int kinds)
{
    Expected e;
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x) {
            if (!im->data[size_t(y) * im->pitch + x]) {
                e.marks.push_back(KXX_MARK_NONE);
                continue;
            }
            const int cn = crossingNumber(im, x, y);
            const int kind = cn == 0 ? KXX_STROKE_DOT : cn == 1 ? KXX_STROKE_END : cn >= 3 ? KXX_STROKE_BRANCH : 0;
            e.marks.push_back(uint8_t(cn == 0   ? KXX_MARK_DOT
                                      : cn == 1 ? KXX_MARK_END
                                      : cn == 2 ? KXX_MARK_LINE
                                                : KXX_MARK_BRANCH));
            if (kind & kinds) {
                e.points.push_back(x);
                e.points.push_back(y);
            }
        }
    return e;
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
    return makeImage(KIT_BIN, w, h, px);
}

}  // namespace

TEST(ExtraStrokePoints, DrawnSkeletonsGiveTheirEndsAndBranches)
{
    const struct {
        const char *name;
        int w, h;
        const char *rows;
        std::vector<int> ends, branches;
    } cases[] = {
        {"segment", 5, 3, "....." ".###." ".....", {1, 1, 3, 1}, {}},
        {"diagonal_touching_the_border", 3, 3, "#.." ".#." "..#", {0, 0, 2, 2}, {}},
        {"t_junction", 5, 4, "#####" "..#.." "..#.." ".....", {0, 0, 4, 0, 2, 2}, {2, 0}},
        {"x_crossing", 5, 5, "#...#" ".#.#." "..#.." ".#.#." "#...#", {0, 0, 4, 0, 0, 4, 4, 4}, {2, 2}},
        {"closed_loop_has_neither", 4, 4, ".##." "#..#" "#..#" ".##.", {}, {}},
        {"y_fork", 5, 5, "#...#" ".#.#." "..#.." "..#.." "..#..", {0, 0, 4, 0, 2, 4}, {2, 2}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto im = drawn(c.w, c.h, c.rows);
        EXPECT_EQ(listPoints(im.get(), KXX_STROKE_END), c.ends);
        EXPECT_EQ(listPoints(im.get(), KXX_STROKE_BRANCH), c.branches);
        EXPECT_EQ(listPoints(im.get(), KXX_STROKE_DOT), std::vector<int>{});
    }
    auto dot = drawn(3, 3, "...." "#....");
    EXPECT_EQ(listPoints(dot.get(), KXX_STROKE_DOT), (std::vector<int>{1, 1}));
    EXPECT_EQ(listPoints(dot.get(), KXX_STROKE_END | KXX_STROKE_BRANCH), std::vector<int>{});
}

TEST(ExtraStrokePoints, ThinnedBlobsEqualTheCrossingNumberSum)
{
    // Random blobs (smoothed noise above a level), thinned by the library:
    // real skeletons with many ends and branches.
    uint32_t seed = 5;
    for (const auto &size : {std::pair{64, 48}, std::pair{1, 30}, std::pair{30, 1}, std::pair{151, 97}}) {
        auto im = kxtest::randomImage(KIT_GRAY, size.first, size.second, seed++);
        kxSmoothAvg(im.get(), 5);
        kxbSimple(im.get(), 128, 0);
        kxThinning(im.get());
        ASSERT_EQ(im->imageType, KIT_BIN);
        for (int kinds = 0; kinds <= 7; ++kinds) {
            SCOPED_TRACE(testing::Message() << size.first << "x" << size.second << " kinds " << kinds);
            EXPECT_EQ(listPoints(im.get(), kinds), reference(im.get(), kinds).points);
        }
        const auto marks = reference(im.get(), 7).marks;
        EXPECT_EQ(kxxMarkStrokePoints(im.get()), im.get());
        EXPECT_EQ(im->imageType, KIT_GRAY);
        EXPECT_EQ(kxtest::pixels(im.get()), marks);
    }
}

TEST(ExtraStrokePoints, CapacityBelowTheCountWritesOnlyThatMany)
{
    auto im = drawn(5, 4, "#####" "..#.." "..#.." ".....");
    int points[4] = {-1, -1, -1, -1};
    EXPECT_EQ(kxxStrokePoints(im.get(), KXX_STROKE_END, points, 1), 3);
    EXPECT_EQ(points[0], 0);
    EXPECT_EQ(points[1], 0);
    EXPECT_EQ(points[2], -1);
    EXPECT_EQ(points[3], -1);
    EXPECT_EQ(kxxStrokePoints(im.get(), KXX_STROKE_END, nullptr, -3), 3);
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxStrokePoints(im.get(), 1, nullptr, 2), -1), "points || capacity <= 0");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxStrokePoints(nullptr, 1, points, 2), -1), "skeleton");
}

TEST(ExtraStrokePoints, WrappedImageKeepsItsPaddingOutOfTheRing)
{
    // A set pixel at the right edge: the sentinel in the padding would make
    // it an inner stroke point if it were read as the east neighbour.
    const std::vector<uint8_t> px = {0, 0, 0, 0, 1, 1, 0, 0, 0};
    PaddedImage wrapped(KIT_BIN, 3, 3, px, 4);
    auto packed = makeImage(KIT_BIN, 3, 3, px);
    EXPECT_EQ(listPoints(wrapped.get(), 7), listPoints(packed.get(), 7));
    EXPECT_EQ(listPoints(wrapped.get(), KXX_STROKE_END), (std::vector<int>{1, 1, 2, 1}));
    kxxMarkStrokePoints(wrapped.get());
    kxxMarkStrokePoints(packed.get());
    EXPECT_EQ(kxtest::pixels(wrapped.get()), kxtest::pixels(packed.get()));
    EXPECT_TRUE(wrapped.paddingIntact());
}

TEST(ExtraStrokePoints, OtherTypesAreRefused)
{
    auto grey = kxtest::randomImage(KIT_GRAY, 6, 5, 2);
    const auto before = kxtest::pixels(grey.get());
    EXPECT_EQ(kxxStrokePoints(grey.get(), 7, nullptr, 0), -1);
    EXPECT_EQ(kxxMarkStrokePoints(grey.get()), grey.get());
    EXPECT_EQ(grey->imageType, KIT_GRAY);
    EXPECT_EQ(kxtest::pixels(grey.get()), before);
    EXPECT_EQ(kxxMarkStrokePoints(nullptr), nullptr);
}
