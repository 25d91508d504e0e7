// Local thresholds: the levels (running column and row sums in the library)
// against a direct walk over every window of the reflected image, and the
// binarization against the levels.
#include <algorithm>
#include <cmath>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;

namespace {

int reflect(int i, int n)
{
    if (n == 1) return 0;
    const int p = 2 * (n - 1);
    i = ((i % p) + p) % p;
    return i < n ? i : p - i;
}

std::vector<double> referenceLevels(const Image *im, int method, int window, double k, double r)
{
    const int w = im->width, h = im->height, half = window / 2;
    auto px = [&](int x, int y) { return int64_t(im->data[size_t(reflect(y, h)) * im->pitch + reflect(x, w)]); };
    std::vector<double> m(size_t(w) * h), s(m.size()), t(m.size());
    const double n = double(window) * window;
    double bigR = 0, minM = 255;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int64_t sum = 0, sq = 0;
            for (int dy = -half; dy <= half; ++dy)
                for (int dx = -half; dx <= half; ++dx) sum += px(x + dx, y + dy), sq += px(x + dx, y + dy) * px(x + dx, y + dy);
            const size_t i = size_t(y) * w + x;
            m[i] = double(sum) / n;
            s[i] = std::sqrt(std::max(double(sq) / n - m[i] * m[i], 0.0));
            bigR = std::max(bigR, s[i]);
            minM = std::min(minM, double(px(x, y)));
        }
    for (size_t i = 0; i < m.size(); ++i)
        t[i] = method == KXX_NIBLACK   ? m[i] - k * s[i]
               : method == KXX_SAUVOLA ? m[i] * (1 + k * (s[i] / r - 1))
               : method == KXX_WOLF    ? ((1 - k) * m[i] + k * minM) + k * (bigR > 0 ? s[i] / bigR : 0.0) * (m[i] - minM)
                                       : m[i] * (1 - k);
    return t;
}

const struct {
    int method;
    double k, r;
} kMethods[] = {{KXX_NIBLACK, 0.2, 0}, {KXX_NIBLACK, -0.5, 0}, {KXX_SAUVOLA, 0.34, 127.5}, {KXX_SAUVOLA, 0.2, 64},
                {KXX_WOLF, 0.5, 0},    {KXX_BRADLEY, 0.15, 0}};

}  // namespace

TEST(ExtraLocal, LevelsEqualTheWindowWalkOverTheReflectedImage)
{
    // Windows narrower and wider than the image (repeated reflection), one
    // pixel wide images, a flat image (Wolf's R = 0).
    const struct {
        int w, h, window;
        bool flat;
    } sizes[] = {{23, 17, 5, false}, {16, 9, 15, false}, {7, 5, 31, false}, {1, 12, 3, false}, {12, 1, 9, false},
                 {10, 8, 3, true}};
    uint32_t seed = 1;
    for (const auto &z : sizes)
        for (const auto &c : kMethods) {
            SCOPED_TRACE(testing::Message() << z.w << "x" << z.h << " window " << z.window << " method " << c.method << " k " << c.k);
            auto im = kxtest::randomImage(KIT_GRAY, z.w, z.h, seed++);
            if (z.flat) kxiFlood(im.get(), 99);
            std::vector<double> got(size_t(z.w) * z.h, -1);
            ASSERT_EQ(kxxLocalLevels(im.get(), c.method, z.window, c.k, c.r, got.data()), 1);
            const auto want = referenceLevels(im.get(), c.method, z.window, c.k, c.r);
            for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], want[i]) << "pixel " << i;  // same bits
            std::vector<double> even(got.size());  // an even window acts as the next odd one
            kxxLocalLevels(im.get(), c.method, z.window - 1, c.k, c.r, even.data());
            EXPECT_EQ(even, got);
            ImagePtr bin(kxiClone(im.get(), nullptr));
            EXPECT_EQ(kxxLocalThreshold(bin.get(), c.method, z.window, c.k, c.r), bin.get());
            ASSERT_EQ(bin->imageType, KIT_BIN);
            for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(bin->data[i], double(im->data[i]) > want[i]);
        }
    // Window 1 (and a negative window below it): s = 0, so Niblack's level is the pixel.
    auto im = kxtest::randomImage(KIT_GRAY, 20, 14, 4);
    std::vector<double> levels(280);
    kxxLocalLevels(im.get(), KXX_NIBLACK, -4, 0.3, 0, levels.data());
    EXPECT_EQ(levels, std::vector<double>(im->data, im->data + 280));
}
