// Grey images.  Selector levels: each is the level the kxpre binarizer it
// names uses.  Over the image extended by reflection: local levels (running
// sums in the library) against a direct walk over every window; CLAHE equal
// to its documented arithmetic per pixel (the library blends tile tables row
// by row).  Gradients: derivatives against OpenCV's Sobel/Scharr (16-bit, so
// not clipped), the rest by the documented arithmetic.
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <tuple>

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
    const int w = im->width, h = im->height, half = std::max(window, 1) / 2;  // 2 * half + 1 across
    auto px = [&](int x, int y) { return int64_t(im->data[size_t(reflect(y, h)) * im->pitch + reflect(x, w)]); };
    std::vector<double> m(size_t(w) * h), s(m.size()), t(m.size());
    const double n = double(2 * half + 1) * (2 * half + 1);
    double bigR = 0, minM = 255;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int64_t sum = 0, sq = 0;
            for (int dy = -half; dy <= half; ++dy)
                for (int dx = -half; dx <= half; ++dx)
                    sum += px(x + dx, y + dy), sq += px(x + dx, y + dy) * px(x + dx, y + dy);
            const size_t i = size_t(y) * w + x;
            m[i] = double(sum) / n;
            s[i] = std::sqrt(std::max(double(sq) / n - m[i] * m[i], 0.0));
            bigR = std::max(bigR, s[i]);
            minM = std::min(minM, double(px(x, y)));
        }
    for (size_t i = 0; i < m.size(); ++i)
        t[i] = method == KXX_NIBLACK   ? m[i] - k * s[i]
               : method == KXX_SAUVOLA ? m[i] * (1 + k * (s[i] / r - 1))
               : method == KXX_WOLF ? ((1 - k) * m[i] + k * minM) + k * (bigR > 0 ? s[i] / bigR : 0.0) * (m[i] - minM)
                                    : m[i] * (1 - k);
    return t;
}

const struct {
    int method;
    double k, r;
} kMethods[] = {{KXX_NIBLACK, -0.2, 0}, {KXX_SAUVOLA, 0.34, 64}, {KXX_WOLF, 0.5, 0}, {KXX_BRADLEY, 0.15, 0}};


// Smoothed noise over a gradient, and dark and bright low-contrast copies;
// the last sizes have fewer pixels than 8 x 8 tiles (unsmoothed noise).
std::vector<cv::Mat> pictures()
{
    std::vector<cv::Mat> out;
    cv::setRNGSeed(5);
    for (const auto &size : {cv::Size(257, 193), cv::Size(64, 500), cv::Size(31, 17), cv::Size(3, 2), cv::Size(1, 9),
                             cv::Size(9, 1), cv::Size(1, 1)}) {
        cv::Mat noise(size, CV_8UC1), ramp(size, CV_8UC1), mix, dark, bright;
        cv::randu(noise, 0, 256);
        if (size.area() > 99) cv::GaussianBlur(noise, noise, cv::Size(9, 9), 3);
        for (int x = 0; x < size.width; ++x) ramp.col(x).setTo(255 * x / std::max(1, size.width - 1));
        cv::addWeighted(noise, 0.6, ramp, 0.4, 0, mix);
        mix.convertTo(dark, CV_8U, 0.2, 10);
        mix.convertTo(bright, CV_8U, 0.15, 200);
        out.insert(out.end(), {mix, dark, bright});
    }
    return out;
}

std::vector<uint8_t> claheReference(const cv::Mat &m, int tx, int ty, double clip)
{
    const int w = m.cols, h = m.rows;
    const bool even = w % tx == 0 && h % ty == 0;
    const int tw = w / tx + !even, th = h / ty + !even;
    const int64_t n = int64_t(tw) * th;
    std::vector<std::array<uint8_t, 256>> lut(size_t(tx * ty));
    for (int j = 0; j < ty; ++j)
        for (int i = 0; i < tx; ++i) {
            std::array<int64_t, 256> hist{};
            for (int y = j * th; y < (j + 1) * th; ++y)
                for (int x = i * tw; x < (i + 1) * tw; ++x) ++hist[m.at<uint8_t>(reflect(y, h), reflect(x, w))];
            if (clip > 0) {
                const int64_t limit = std::max<int64_t>(1, int64_t(std::min(clip * double(n) / 256.0, double(n))));
                int64_t excess = 0;
                for (auto &b : hist)
                    if (b > limit) excess += b - limit, b = limit;
                for (auto &b : hist) b += excess / 256;
                int64_t rest = excess % 256;
                const int64_t step = rest ? std::max<int64_t>(1, 256 / rest) : 1;
                for (int64_t k = 0; k < 256 && rest > 0; k += step, --rest) ++hist[size_t(k)];
            }
            int64_t c = 0;
            for (int v = 0; v < 256; ++v) {
                c += hist[size_t(v)];
                lut[size_t(j * tx + i)][size_t(v)] = uint8_t(std::min(255, int(float(c) * (255.0f / float(n)) + 0.5f)));
            }
        }
    std::vector<uint8_t> out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float fx = float(x) * (1.0f / float(tw)) - 0.5f, fy = float(y) * (1.0f / float(th)) - 0.5f;
            const int ix = int(std::floor(fx)), iy = int(std::floor(fy));
            const float u = fx - float(ix), v = fy - float(iy);
            const int x0 = std::max(ix, 0), x1 = std::min(ix + 1, tx - 1), y0 = std::max(iy, 0),
                      y1 = std::min(iy + 1, ty - 1);
            auto L = [&](int r, int c) { return float(lut[size_t(r * tx + c)][m.at<uint8_t>(y, x)]); };
            const float r =
                (L(y0, x0) * (1.0f - u) + L(y0, x1) * u) * (1.0f - v) + (L(y1, x0) * (1.0f - u) + L(y1, x1) * u) * v;
            out.push_back(uint8_t(std::min(255, int(r + 0.5f))));
        }
    return out;
}

}  // namespace

TEST(ExtraLocal, LevelsEqualTheWindowWalkOverTheReflectedImage)
{
    // Windows narrower and wider than the image (repeated reflection), even
    // windows (as the next odd one), one pixel wide images, a flat image
    // (Wolf's R = 0), windows below 1 (as 1).
    const struct {
        int w, h, window;
        bool flat;
    } sizes[] = {{23, 17, 5, false}, {16, 9, 14, false}, {7, 5, 31, false}, {1, 12, 3, false}, {12, 1, 8, false},
                 {10, 8, 3, true}, {20, 14, -4, false}};
    uint32_t seed = 1;
    for (const auto &z : sizes)
        for (const auto &c : kMethods) {
            SCOPED_TRACE(testing::Message()
                         << z.w << "x" << z.h << " window " << z.window << " method " << c.method << " k " << c.k);
            auto im = kxtest::randomImage(KIT_GRAY, z.w, z.h, seed++);
            if (z.flat) kxiFlood(im.get(), 99);
            std::vector<double> got(size_t(z.w) * z.h, -1);
            ASSERT_EQ(kxxLocalLevels(im.get(), c.method, z.window, c.k, c.r, got.data()), 1);
            const auto want = referenceLevels(im.get(), c.method, z.window, c.k, c.r);
            for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], want[i]) << "pixel " << i;  // same bits
            ImagePtr bin(kxiClone(im.get(), nullptr));
            ASSERT_EQ(kxxLocalThreshold(bin.get(), c.method, z.window, c.k, c.r)->imageType, KIT_BIN);
            for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(bin->data[i], double(im->data[i]) > want[i]);
        }
}


TEST(ExtraClahe, EqualsTheDocumentedArithmetic)
{
    const struct {
        int tx, ty;
        double clip;
    } params[] = {{8, 8, 40}, {8, 8, 2}, {4, 6, 3.5},     {1, 1, 4},
                  {16, 3, 1}, {8, 8, 0}, {4, 4, INFINITY}};  // inf: no cut
    const auto pics = pictures();
    for (size_t k = 0; k < pics.size(); ++k)
        for (const auto &p : params) {
            SCOPED_TRACE(testing::Message()
                         << "picture " << k << " tiles " << p.tx << "x" << p.ty << " clip " << p.clip);
            auto im = kxtest::makeImage(KIT_GRAY, pics[k].cols, pics[k].rows, {pics[k].datastart, pics[k].dataend});
            EXPECT_EQ(kxxClahe(im.get(), p.tx, p.ty, p.clip), im.get());
            EXPECT_EQ(kxtest::pixels(im.get()), claheReference(pics[k], p.tx, p.ty, p.clip));
        }
}

TEST(ExtraLevels, EachSelectorIsTheLevelItsBinarizerUses)
{
    // Histograms bimodal, of one value, of two values with empty ranges
    // between; a single pixel.
    std::mt19937 rng(11);
    std::normal_distribution<double> dark(60, 15), light(190, 25);
    const std::vector<std::tuple<int, int, std::function<int()>>> images = {
        {80, 60, [&] { return int(rng() % 3 ? light(rng) : dark(rng)); }}, {10, 10, [&] { return 77; }},
        {9, 7, [&] { return rng() % 2 ? 0 : 255; }}, {1, 1, [&] { return 3; }},
    };
    for (const auto &[w, h, value] : images) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        ImagePtr im(kxCreateImage(KIT_GRAY, w, h));
        std::vector<int32_t> hist(256, 0);
        for (int i = 0; i < w * h; ++i) ++hist[im->data[i] = uint8_t(std::clamp(value(), 0, 255))];
        const Image *g = im.get();
        for (int s = KXX_OTSU; s <= KXX_MODE; ++s)
            EXPECT_EQ(kxxLevel(g, nullptr, s), kxxHistogramLevel(hist.data(), s));
        for (int s = KXX_MIN_ERROR; s <= KXX_MODE; ++s) EXPECT_EQ(kxxLevel(g, nullptr, s), kxbGetOptima(g, s - 1));
        // kxbOtsu sets the pixels >= max(level, 1), kxbIsoData those > its level.
        ImagePtr otsu(kxiClone(g, nullptr)), iso(kxiClone(g, nullptr));
        const int t = kxxLevel(g, nullptr, KXX_OTSU), u = kxxIsoDataLevel(g, 3, 4);
        kxbOtsu(otsu.get(), nullptr), kxbIsoData(iso.get(), 3, 4);
        for (int i = 0; i < w * h; ++i) ASSERT_EQ(otsu->data[i], g->data[i] >= std::max(t, 1)) << t;
        for (int i = 0; i < w * h; ++i) ASSERT_EQ(iso->data[i], g->data[i] > u) << u;
        std::vector<int> b(3, -1);  // kxbMultiLevel posterizes at the thresholds
        ASSERT_EQ(kxxMultiLevels(g, 4, b.data()), 3);
        ImagePtr multi(kxiClone(g, nullptr));
        kxbMultiLevel(multi.get(), 4);
        for (int i = 0; i < w * h; ++i) {  // c: the first threshold >= the pixel
            const auto c = std::lower_bound(b.begin(), b.end(), g->data[i]) - b.begin();
            ASSERT_EQ(multi->data[i], c == 0 ? 0 : c == 3 ? 255 : b[size_t(c - 1)]);
        }
    }
}

TEST(ExtraLevels, MasksCountTheCommonRectangleWhereSetAndTwoClassesGiveTheLowerTop)
{
    auto im = kxtest::randomImage(KIT_GRAY, 80, 60, 4);
    auto mask = kxtest::randomImage(KIT_GRAY, 50, 70, 9);  // narrower and taller, padded rows
    for (int i = 0; i < 50 * 70; ++i) mask->data[i] = mask->data[i] > 100;
    std::vector<int32_t> hist(256, 0);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 50; ++x) hist[im->data[y * 80 + x]] += mask->data[y * 50 + x];
    kxtest::PaddedImage wrappedMask(KIT_GRAY, 50, 70, kxtest::pixels(mask.get()), 6);
    auto none = kxtest::makeImage(KIT_BIN, 80, 60);
    const int empty[] = {0, 255, 255, 255, 0};
    for (int s = KXX_OTSU; s <= KXX_MODE; ++s) {
        EXPECT_EQ(kxxLevel(im.get(), wrappedMask.get(), s), kxxHistogramLevel(hist.data(), s)) << s;
        EXPECT_EQ(kxxLevel(im.get(), none.get(), s), empty[s]) << s;  // nothing selected
    }
    // Two classes, 70..90 and 152..170: the level is the lower class's top,
    // and kxbOtsu makes pixels equal to it foreground (as documented).
    for (int i = 0; i < 80 * 60; ++i) im->data[i] = uint8_t(i % 2 ? 70 + i % 21 : 170 - i % 19);
    EXPECT_EQ(kxxLevel(im.get(), nullptr, KXX_OTSU), 90);
}

TEST(ExtraGradient, DerivativesEqualOpenCvAndMagnitudesFollowTheDocumentedArithmetic)
{
    uint32_t seed = 1;
    for (const auto &[w, h] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{9, 1}, std::pair{2, 2}, std::pair{83, 61}})
        for (int op : {KXX_SOBEL, KXX_SCHARR}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " op " << op);
            auto im = kxtest::randomImage(KIT_GRAY, w, h, seed++);
            const size_t n = size_t(w) * h;
            std::vector<int16_t> gx(n), gy(n), onlyGx(n);
            std::vector<uint16_t> l1(n), l2(n), onlyL2(n);
            std::vector<float> l1f(n), l2f(n), dir(n);
            ASSERT_EQ(kxxGradient(im.get(), op, KXX_L2, gx.data(), gy.data(), l2.data(), l2f.data(), dir.data()), 1);
            ASSERT_EQ(kxxGradient(im.get(), op, KXX_L1, nullptr, nullptr, l1.data(), l1f.data(), nullptr), 1);
            // Outputs left null are not written; without a magnitude the norm is not looked at.
            ASSERT_EQ(kxxGradient(im.get(), op, KXX_L2, nullptr, nullptr, onlyL2.data(), nullptr, nullptr), 1);
            ASSERT_EQ(kxxGradient(im.get(), op, 99, onlyGx.data(), nullptr, nullptr, nullptr, nullptr), 1);
            EXPECT_EQ(onlyL2, l2);
            EXPECT_EQ(onlyGx, gx);
            const cv::Mat src(h, w, CV_8UC1, im->data, size_t(im->pitch));
            cv::Mat cx, cy;
            (op == KXX_SOBEL ? cv::Sobel(src, cx, CV_16S, 1, 0, 3) : cv::Scharr(src, cx, CV_16S, 1, 0));
            (op == KXX_SOBEL ? cv::Sobel(src, cy, CV_16S, 0, 1, 3) : cv::Scharr(src, cy, CV_16S, 0, 1));
            EXPECT_EQ(gx, std::vector<int16_t>(cx.begin<int16_t>(), cx.end<int16_t>()));
            EXPECT_EQ(gy, std::vector<int16_t>(cy.begin<int16_t>(), cy.end<int16_t>()));
            for (size_t i = 0; i < n; ++i) {
                const double m = std::sqrt(double(gx[i] * gx[i] + gy[i] * gy[i]));
                ASSERT_EQ(l1[i], std::abs(gx[i]) + std::abs(gy[i]));
                ASSERT_EQ(l1f[i], float(l1[i]));
                ASSERT_EQ(l2[i], uint16_t(int(m + 0.5)));
                ASSERT_EQ(l2f[i], float(m));
                ASSERT_EQ(dir[i], float(std::atan2(double(gy[i]), double(gx[i]))));
            }
        }
}
