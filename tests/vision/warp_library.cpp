// ikxWarp against direct OpenCV warps, and its transparent border.
#include <limits>

#include "cv_support.hpp"

using namespace kxvt;

namespace {

struct Quad {
    float p[8];
};

Quad corners(float w, float h) { return {{0, 0, w, 0, w, h, 0, h}}; }

Quad jitter(const Quad &q, float amount, cv::RNG &rng)
{
    Quad out = q;
    for (float &v : out.p) v += float(rng.uniform(-amount, amount));
    return out;
}

// What a bilinear warp with a transparent border should leave in `before`:
// OpenCV's bilinear warp (edge pixels repeated) wherever the source
// position rounds to a source pixel, found with OpenCV's nearest warp of an
// all-ones image; `before` elsewhere.
cv::Mat expectedWarp(const cv::Mat &src, const Quad &s, const Quad &d, const cv::Mat &before)
{
    cv::Point2f sp[4], dp[4];
    for (int i = 0; i < 4; ++i) sp[i] = {s.p[2 * i], s.p[2 * i + 1]}, dp[i] = {d.p[2 * i], d.p[2 * i + 1]};
    const cv::Mat m = cv::getPerspectiveTransform(sp, dp);
    cv::Mat warped, onSource;
    cv::warpPerspective(src, warped, m, before.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::warpPerspective(cv::Mat(src.size(), CV_8UC1, cv::Scalar(1)), onSource, m, before.size(), cv::INTER_NEAREST,
                        cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::Mat out = before.clone();
    warped.copyTo(out, onSource);
    return out;
}

}  // namespace

TEST(IkxWarp, IdentityCopiesEveryPixelOfEveryType)
{
    for (int type : kTypes)
        for (auto [w, h] : {std::pair{1, 1}, {2, 3}, {7, 5}, {16, 9}}) {
            auto src = randomImage(type, w, h, uint32_t(w * 31 + h + type));
            PaddedImage dest(type, w, h);
            const Quad q = corners(float(w), float(h));
            ASSERT_EQ(ikxWarp(src.get(), q.p, q.p, dest.get()), dest.get());
            EXPECT_EQ(pixels(dest.get()), pixels(src.get())) << type << " " << w << "x" << h;
            EXPECT_TRUE(dest.paddingIntact());
        }
}

TEST(IkxWarp, MatchesOpenCvBilinearInsideAndKeepsDestOutside)
{
    cv::RNG rng(7);
    for (int type : kTypes)
        for (int round = 0; round < 6; ++round) {
            const int w = rng.uniform(3, 40), h = rng.uniform(3, 40);
            auto src = randomImage(type, w, h, uint32_t(round + 100 * type));
            const int dw = rng.uniform(3, 50), dh = rng.uniform(3, 50);
            auto dest = randomImage(type, dw, dh, uint32_t(round + 7));
            const Quad s = jitter(corners(float(w), float(h)), 0.15f * float(std::min(w, h)), rng);
            const Quad d = jitter(corners(float(dw), float(dh)), 0.3f * float(std::min(dw, dh)), rng);
            const cv::Mat expected = expectedWarp(toMat(src.get()), s, d, toMat(dest.get()));
            ASSERT_EQ(ikxWarp(src.get(), s.p, d.p, dest.get()), dest.get());
            EXPECT_TRUE(sameAs(dest.get(), expected)) << "type " << type << " round " << round;
        }
    // The source may be the destination.
    auto a = randomImage(KIT_RGBA, 17, 13, 1);
    auto b = copyOf(a.get());
    const Quad s = corners(17, 13), d = jitter(s, 3, rng);
    ikxWarp(a.get(), s.p, d.p, b.get());
    ikxWarp(a.get(), s.p, d.p, a.get());
    EXPECT_EQ(pixels(a.get()), pixels(b.get()));
}

TEST(IkxWarp, NullDestGivesZeroedImageOfSourceSizeAndType)
{
    auto src = makeImage(KIT_GRAY, 8, 6);
    kxiFlood(src.get(), 200);
    const Quad s = corners(8, 6), d = corners(4, 3);  // the source shrinks into the top-left quarter
    ImagePtr out(ikxWarp(src.get(), s.p, d.p, nullptr));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->imageType, KIT_GRAY);
    EXPECT_TRUE(sameAs(out.get(), [] {
        cv::Mat m = cv::Mat::zeros(6, 8, CV_8UC1);
        m(cv::Rect(0, 0, 4, 3)).setTo(200);
        return m;
    }()));
}

TEST(IkxWarp, RefusedArgumentsAndRecordsLeaveDestAlone)
{
    auto src = randomImage(KIT_GRAY, 6, 6, 5);
    auto dest = randomImage(KIT_GRAY, 6, 6, 6);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Quad ok = corners(6, 6);
    const Quad line = {{0, 0, 1, 1, 2, 2, 5, 0}};  // three points on one line
    const Quad withNan = {{0, 0, 6, 0, 6, nan, 0, 6}};
    const Quad allSame = {{1, 1, 1, 1, 1, 1, 1, 1}};
    struct Case {
        const char *name;
        const float *s;
        const float *d;
    } cases[] = {
        {"null source points", nullptr, ok.p}, {"null dest points", ok.p, nullptr}, {"collinear", line.p, ok.p},
        {"collinear dest", ok.p, line.p},      {"NaN", ok.p, withNan.p},           {"one point", allSame.p, ok.p},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectUntouched(dest.get(), [&](Image *i) { return ikxWarp(src.get(), c.s, c.d, i); }, nullptr);
        EXPECT_EQ(ikxWarp(src.get(), c.s, c.d, nullptr), nullptr);
    }

    Image bad[4] = {*src, *src, *src, *src};
    bad[0].imageType = 5, bad[1].width = INT32_MAX, bad[2].data = nullptr, bad[3].pitch = 1;
    for (Image &b : bad) {
        expectUntouched(dest.get(), [&](Image *i) { return ikxWarp(&b, ok.p, ok.p, i); }, nullptr);
        EXPECT_EQ(ikxWarp(&b, ok.p, ok.p, nullptr), nullptr);
    }
    EXPECT_EQ(ikxWarp(nullptr, ok.p, ok.p, dest.get()), nullptr);
    EXPECT_EQ(ikxWarp(src.get(), ok.p, ok.p, &bad[0]), nullptr);
}

TEST(IkxWarp, PixelsBeyondTheHorizonStayUntouched)
{
    // A strong perspective: the destination quad's far edge is tiny, so the
    // horizon line crosses dest and the transform is undefined beyond it.
    auto src = makeImage(KIT_GRAY, 20, 20);
    kxiFlood(src.get(), 100);
    auto dest = makeImage(KIT_GRAY, 40, 40);
    kxiFlood(dest.get(), 7);
    const Quad s = corners(20, 20);
    const Quad d = {{19.5f, 10, 20.5f, 10, 40, 20, 0, 20}};
    ASSERT_EQ(ikxWarp(src.get(), s.p, d.p, dest.get()), dest.get());
    // Above row 10 nothing maps back onto the source.
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(dest->data[y * dest->pitch + x], 7) << x << "," << y;
    EXPECT_EQ(dest->data[12 * dest->pitch + 20], 100);  // maps to source (10, 18.2)
}

TEST(IkxWarp, SourcesBeyondTheWarpCoordinateRangeAreRefused)
{
    auto wide = makeImage(KIT_GRAY, 40000, 1);
    auto small = makeImage(KIT_GRAY, 4, 4);
    const Quad q = corners(4, 4);
    EXPECT_EQ(ikxWarp(wide.get(), q.p, q.p, small.get()), nullptr);
    EXPECT_EQ(ikxWarp(small.get(), q.p, q.p, wide.get()), wide.get());  // a wide destination is fine
}
