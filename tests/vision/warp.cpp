// Perspective warps: ikxWarp against direct OpenCV warps and its
// transparent border; the wrappers' type gates, destination casts, corner
// orders, re-binarised binary results and the patch of kxWarpEx.
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

const float kSquare6[8] = {0, 0, 6, 0, 6, 6, 0, 6};

// The patch of kxWarpEx as a straightforward loop over the whole
// rounded box (no clipping to dest), for comparison.
void referencePatch(const Image *image, const float *s, const float *d, Image *dest)
{
    int minX = INT32_MAX, maxX = INT32_MIN, minY = INT32_MAX, maxY = INT32_MIN;
    for (int i = 0; i < 4; ++i) {
        const int x = int(double(d[2 * i]) + 0.5), y = int(double(d[2 * i + 1]) + 0.5);
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    const int w = maxX - minX + 1, h = maxY - minY + 1, bpp = kxiBytesPerPixel(image->imageType);
    ImagePtr tmp(kxCreateImage(image->imageType, w, h));
    float local[8];
    for (int i = 0; i < 4; ++i) local[2 * i] = d[2 * i] - float(minX), local[2 * i + 1] = d[2 * i + 1] - float(minY);
    ikxWarp(image, s, local, tmp.get());
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const int tx = c + minX, ty = r + minY;
            if (kxIsPointInPolygonE3(float(c), float(r), local, 4) && tx >= 0 && ty >= 0 && tx < dest->width &&
                ty < dest->height)
                std::memcpy(dest->data + ty * dest->pitch + tx * bpp, tmp->data + r * tmp->pitch + c * bpp,
                            size_t(bpp));
        }
}

}  // namespace

TEST(IkxWarp, IdentityCopiesEveryPixelOfEveryType)
{
    for (int type : kTypes)
        for (auto [w, h] : {std::pair{1, 1}, {7, 5}}) {
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
        for (int round = 0; round < 4; ++round) {
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
    // A null dest: a zeroed image of the source's size and type under the warp.
    auto flat = makeImage(KIT_GRAY, 8, 6, std::vector<uint8_t>(48, 200));
    const Quad whole = corners(8, 6), quarter = corners(4, 3);
    ImagePtr out(ikxWarp(flat.get(), whole.p, quarter.p, nullptr));
    ASSERT_TRUE(out);
    cv::Mat want = cv::Mat::zeros(6, 8, CV_8UC1);
    want(cv::Rect(0, 0, 4, 3)).setTo(200);
    EXPECT_TRUE(sameAs(out.get(), want));
    // The source may be the destination.
    auto a = randomImage(KIT_RGBA, 17, 13, 1);
    auto b = copyOf(a.get());
    const Quad s = corners(17, 13), d = jitter(s, 3, rng);
    ikxWarp(a.get(), s.p, d.p, b.get());
    ikxWarp(a.get(), s.p, d.p, a.get());
    EXPECT_EQ(pixels(a.get()), pixels(b.get()));
}

// Refused points, records and types: dest comes back (or null) untouched.
TEST(IkxWarp, RefusalsLeaveDestAlone)
{
    auto src = randomImage(KIT_GRAY, 6, 6, 5), rgba = randomImage(KIT_RGBA, 6, 6, 1);
    Image *g = src.get(), *c = rgba.get();
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float *sq = kSquare6;
    const Quad line = {{0, 0, 1, 1, 2, 2, 5, 0}};  // three points on one line
    const Quad withNan = {{0, 0, 6, 0, 6, nan, 0, 6}}, allSame = {{1, 1, 1, 1, 1, 1, 1, 1}};
    const Quad infinite = {{0, 0, inf, 0, inf, inf, 0, inf}};
    Image bad[4] = {*g, *g, *g, *g};
    bad[0].imageType = 5, bad[1].width = INT32_MAX, bad[2].data = nullptr, bad[3].pitch = 1;
    auto wide = makeImage(KIT_GRAY, 40000, 1);  // beyond the warp's coordinate range as a source
    const struct {
        const char *name;
        std::function<Image *(Image *)> call;
        bool returnsDest;
    } cases[] = {
        {"null source points", [&](Image *d) { return ikxWarp(g, nullptr, sq, d); }, false},
        {"null dest points", [&](Image *d) { return ikxWarp(g, sq, nullptr, d); }, false},
        {"collinear", [&](Image *d) { return ikxWarp(g, line.p, sq, d); }, false},
        {"collinear dest", [&](Image *d) { return ikxWarp(g, sq, line.p, d); }, false},
        {"NaN", [&](Image *d) { return ikxWarp(g, sq, withNan.p, d); }, false},
        {"one point", [&](Image *d) { return ikxWarp(g, allSame.p, sq, d); }, false},
        {"bad type", [&](Image *d) { return ikxWarp(&bad[0], sq, sq, d); }, false},
        {"too wide", [&](Image *d) { return ikxWarp(&bad[1], sq, sq, d); }, false},
        {"no data", [&](Image *d) { return ikxWarp(&bad[2], sq, sq, d); }, false},
        {"short pitch", [&](Image *d) { return ikxWarp(&bad[3], sq, sq, d); }, false},
        {"wide source", [&](Image *d) { return ikxWarp(wide.get(), sq, sq, d); }, false},
        {"kxWarp RGBA", [&](Image *d) { return kxWarp(c, sq, sq, d); }, true},
        {"kxWarp null", [&](Image *d) { return kxWarp(nullptr, sq, sq, d); }, true},
        {"kxUnwarp RGBA", [&](Image *d) { return kxUnwarp(c, sq, d); }, true},
        {"kxWarpEx 3 dest points", [&](Image *d) { return kxWarpEx(g, sq, 4, sq, 3, 0, d); }, true},
        {"kxWarpEx 3 source points", [&](Image *d) { return kxWarpEx(g, sq, 3, sq, 4, 1, d); }, true},
        {"kxWarpEx RGBA", [&](Image *d) { return kxWarpEx(c, sq, 4, sq, 4, 0, d); }, true},
        {"kxCopyPixelsE3 RGBA", [&](Image *d) { return kxCopyPixelsE3(c, d, sq), d; }, true},
        {"kxCopyPixelsE3 no points", [&](Image *d) { return kxCopyPixelsE3(d, d, nullptr), d; }, true},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        auto dest = randomImage(KIT_GRAY, 6, 6, 2);
        expectUntouched(dest.get(), k.call, k.returnsDest ? dest.get() : nullptr);
        EXPECT_EQ(k.call(nullptr), nullptr);
    }
    EXPECT_EQ(ikxWarp(nullptr, sq, sq, g), nullptr);
    EXPECT_EQ(ikxWarp(g, sq, sq, &bad[0]), nullptr);
    EXPECT_EQ(ikxWarp(g, sq, sq, wide.get()), wide.get());  // a wide destination is fine
    const float huge[8] = {-3e9f, -3e9f, 3e9f, -3e9f, 3e9f, 3e9f, -3e9f, 3e9f};
    auto target = randomImage(KIT_GRAY, 6, 6, 6);
    expectUntouched(target.get(), [&](Image *d) { return kxWarpEx(g, sq, 4, infinite.p, 4, 1, d); }, target.get());
    EXPECT_EQ(kxWarpEx(g, sq, 4, huge, 4, 1, target.get()), target.get());
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // OpenCV may have started worker threads
    EXPECT_KX_ASSERT(kxWarpEx(nullptr, sq, 4, sq, 4, 0, nullptr), "image");
    EXPECT_KX_ASSERT(kxWarpEx(g, nullptr, 4, sq, 4, 0, nullptr), "pSrcControls && pDestControls");
}

TEST(IkxWarp, PixelsBeyondTheHorizonStayUntouched)
{
    // A strong perspective: the destination quad's far edge is tiny, so the
    // horizon line crosses dest and the transform is undefined beyond it.
    auto src = makeImage(KIT_GRAY, 20, 20, std::vector<uint8_t>(400, 100));
    auto dest = makeImage(KIT_GRAY, 40, 40, std::vector<uint8_t>(1600, 7));
    const Quad s = corners(20, 20), d = {{19.5f, 10, 20.5f, 10, 40, 20, 0, 20}};
    ASSERT_EQ(ikxWarp(src.get(), s.p, d.p, dest.get()), dest.get());
    // Above row 10 nothing maps back onto the source.
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(dest->data[y * dest->pitch + x], 7) << x << "," << y;
    EXPECT_EQ(dest->data[12 * dest->pitch + 20], 100);  // maps to source (10, 18.2)
}

TEST(WarpWrappers, IdentityConvertsDestToTheSourceType)
{
    const std::function<Image *(const Image *, Image *)> calls[] = {
        [](const Image *s, Image *d) { return kxWarp(s, kSquare6, kSquare6, d); },
        [](const Image *s, Image *d) { return kxWarpEx(s, kSquare6, 4, kSquare6, 4, 1, d); },
        [](const Image *s, Image *d) { return kxCopyPixelsE3(s, d, kSquare6), d; },
    };
    for (const auto &call : calls)
        for (auto [from, to] : {std::pair{KIT_RGB, KIT_GRAY}, {KIT_GRAY, KIT_RGB}}) {
            auto src = randomImage(from, 6, 6, 3);
            auto dest = makeImage(to, 6, 6);
            EXPECT_EQ(call(src.get(), dest.get()), dest.get());
            EXPECT_EQ(dest->imageType, from);
            EXPECT_EQ(pixels(dest.get()), pixels(src.get())) << from;
            // A wrapped dest cannot change type: refused, untouched.
            const std::vector<uint8_t> nines(size_t(36 * kxiBytesPerPixel(to)), 9);
            PaddedImage wrapped(to, 6, 6, nines);
            call(src.get(), wrapped.get());
            EXPECT_EQ(wrapped.get()->imageType, to);
            EXPECT_EQ(pixels(wrapped.get()), nines);
            EXPECT_TRUE(wrapped.paddingIntact());
        }
}

TEST(WarpWrappers, BinarySourceGivesZeroOneResult)
{
    // Binary bytes above 1 survive the library's bilinear warp; the wrappers
    // re-binarise the result.
    std::vector<uint8_t> bytes(36, 0);
    for (size_t i = 0; i < bytes.size(); i += 3) bytes[i] = 5;
    auto src = makeImage(KIT_BIN, 6, 6, bytes);
    const float shifted[8] = {0.5f, 0, 6.5f, 0, 6.5f, 6, 0.5f, 6};
    ImagePtr raw(ikxWarp(src.get(), kSquare6, shifted, nullptr)), out(kxWarp(src.get(), kSquare6, shifted, nullptr));
    ASSERT_TRUE(raw && out);
    const auto rp = pixels(raw.get()), op = pixels(out.get());
    EXPECT_GT(*std::max_element(rp.begin(), rp.end()), 1);
    for (size_t i = 0; i < op.size(); ++i) EXPECT_EQ(op[i], rp[i] != 0) << i;
    ImagePtr unwarped(makeImage(KIT_GRAY, 6, 6));
    kxUnwarp(src.get(), shifted, unwarped.get());
    EXPECT_EQ(unwarped->imageType, KIT_BIN);
    for (uint8_t b : pixels(unwarped.get())) EXPECT_LE(b, 1);
}

TEST(WarpWrappers, CornerConventions)
{
    // kxUnwarp: source pixel centres (0,0), (w-1,0), (w-1,h-1), (0,h-1) onto
    // the same corners of an equal-sized dest is the identity.
    for (int type : {KIT_BIN, KIT_GRAY, KIT_RGB}) {
        auto src = randomImage(type, 9, 7, uint32_t(type));
        PaddedImage dest(type, 9, 7);
        const float quad[8] = {0, 0, 8, 0, 8, 6, 0, 6};
        EXPECT_EQ(kxUnwarp(src.get(), quad, dest.get()), dest.get());
        EXPECT_EQ(pixels(dest.get()), pixels(src.get())) << type;
        EXPECT_TRUE(dest.paddingIntact());
    }
    // kxCopyPixelsE3: a quad onto a smaller destination equals kxWarp with
    // the corners at (w, h), and differs from kxUnwarp's (w - 1, h - 1).
    auto src = randomImage(KIT_RGB, 12, 10, 8);
    const float quad[8] = {1.5f, 2, 11, 1, 10.5f, 9, 2, 8.5f}, corners[8] = {0, 0, 7, 0, 7, 5, 0, 5};
    auto viaCopy = makeImage(KIT_RGB, 7, 5), viaWarp = makeImage(KIT_RGB, 7, 5), viaUnwarp = makeImage(KIT_RGB, 7, 5);
    kxCopyPixelsE3(src.get(), viaCopy.get(), quad);
    kxWarp(src.get(), quad, corners, viaWarp.get());
    kxUnwarp(src.get(), quad, viaUnwarp.get());
    EXPECT_EQ(pixels(viaCopy.get()), pixels(viaWarp.get()));
    EXPECT_NE(pixels(viaCopy.get()), pixels(viaUnwarp.get()));
}

// The patch of kxWarpEx, clipped to dest, against the whole-box loop.
TEST(KxWarpEx, PatchChangesOnlyPixelsInsideTheDestinationQuad)
{
    const float cases[][8] = {
        {3.2f, 2.7f, 14.6f, 4.1f, 12.3f, 13.8f, 2.4f, 11.1f},     // inside
        {-4.3f, -3.1f, 9.7f, -1.2f, 8.2f, 9.6f, -2.6f, 7.4f},     // across the left and top edges
        {10.4f, 9.3f, 24.2f, 11.1f, 21.7f, 22.8f, 9.1f, 19.6f},  // across the right and bottom edges
        {30, 30, 40, 30, 40, 40, 30, 40},                         // outside
    };
    const float s[8] = {0, 0, 11, 0, 11, 9, 0, 9};
    for (int type : {KIT_BIN, KIT_RGB})
        for (const auto &d : cases) {
            SCOPED_TRACE(testing::Message() << type << " " << d[0]);
            auto src = randomImage(type, 11, 9, uint32_t(type + 1));
            // With the patch flag: the patch alone; without: the full warp, then the patch.
            for (int patchOnly : {1, 0}) {
                auto dest = randomImage(type, 18, 16, 77);
                auto expected = copyOf(dest.get());
                if (!patchOnly) ikxWarp(src.get(), s, d, expected.get());
                referencePatch(src.get(), s, d, expected.get());
                EXPECT_EQ(kxWarpEx(src.get(), s, 4, d, 4 + patchOnly, patchOnly, dest.get()), dest.get());
                EXPECT_EQ(pixels(dest.get()), pixels(expected.get())) << patchOnly;
            }
        }
    // Without a dest the patch goes onto a full warp.
    auto src = randomImage(KIT_GRAY, 10, 10, 4);
    const float s10[8] = {0, 0, 10, 0, 10, 10, 0, 10}, d[8] = {1, 2, 9, 1, 8, 9, 2, 8};
    ImagePtr out(kxWarpEx(src.get(), s10, 4, d, 4, 1, nullptr)), expected(ikxWarp(src.get(), s10, d, nullptr));
    ASSERT_TRUE(out && expected);
    referencePatch(src.get(), s10, d, expected.get());
    EXPECT_EQ(pixels(out.get()), pixels(expected.get()));
    // An axis-aligned square patch: exactly the square, padding kept.
    auto flat = makeImage(KIT_GRAY, 8, 8, std::vector<uint8_t>(64, 200));
    PaddedImage dest(KIT_GRAY, 16, 16, std::vector<uint8_t>(256, 3));
    const float s8[8] = {0, 0, 8, 0, 8, 8, 0, 8}, d8[8] = {4, 4, 12, 4, 12, 12, 4, 12};
    kxWarpEx(flat.get(), s8, 4, d8, 4, 1, dest.get());
    cv::Mat want(16, 16, CV_8UC1, cv::Scalar(3));
    want(cv::Rect(4, 4, 8, 8)).setTo(200);
    EXPECT_TRUE(sameAs(dest.get(), want));
    EXPECT_TRUE(dest.paddingIntact());
}
