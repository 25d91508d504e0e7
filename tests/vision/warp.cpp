// Perspective warps: ikxWarp against OpenCV's warp with a transparent
// border, the patch of kxWarpEx against the whole-box loop, the wrappers'
// destination casts, corner conventions and binary results, and refusals.
#include <limits>

#include "cv_support.hpp"

using namespace kxvt;

namespace {

const float kSquare6[8] = {0, 0, 6, 0, 6, 6, 0, 6};

// What a bilinear warp with a transparent border leaves in `before`:
// OpenCV's bilinear warp (edge pixels repeated) wherever the source
// position rounds to a source pixel (OpenCV's nearest warp of an all-ones
// image), `before` elsewhere.
cv::Mat expectedWarp(const cv::Mat &src, const float *s, const float *d, const cv::Mat &before)
{
    cv::Point2f sp[4], dp[4];
    for (int i = 0; i < 4; ++i) sp[i] = {s[2 * i], s[2 * i + 1]}, dp[i] = {d[2 * i], d[2 * i + 1]};
    const cv::Mat m = cv::getPerspectiveTransform(sp, dp);
    cv::Mat warped, onSource, out = before.clone();
    cv::warpPerspective(src, warped, m, before.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::warpPerspective(cv::Mat(src.size(), CV_8UC1, cv::Scalar(1)), onSource, m, before.size(), cv::INTER_NEAREST,
                        cv::BORDER_CONSTANT, cv::Scalar(0));
    warped.copyTo(out, onSource);
    return out;
}

// kxWarpEx's patch the long way: ikxWarp into the rounded box of the
// destination quad, then every box pixel inside the quad (and inside dest).
void referencePatch(const Image *image, const float *s, const float *d, Image *dest)
{
    int minX = INT32_MAX, maxX = INT32_MIN, minY = INT32_MAX, maxY = INT32_MIN;
    for (int i = 0; i < 4; ++i) {
        const int x = int(double(d[2 * i]) + 0.5), y = int(double(d[2 * i + 1]) + 0.5);
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    const int w = maxX - minX + 1, h = maxY - minY + 1, b = bpp(image->imageType);
    ImagePtr tmp(kxCreateImage(image->imageType, w, h));
    float local[8];
    for (int i = 0; i < 8; ++i) local[i] = d[i] - float(i % 2 ? minY : minX);
    ikxWarp(image, s, local, tmp.get());
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            if (kxIsPointInPolygonE3(float(c), float(r), local, 4) && c + minX >= 0 && r + minY >= 0 &&
                c + minX < dest->width && r + minY < dest->height)
                std::memcpy(dest->data + (r + minY) * dest->pitch + (c + minX) * b, tmp->data + r * tmp->pitch + c * b, size_t(b));
}

}  // namespace

TEST(Vision, WarpMatchesOpenCvWithTransparentBorder)
{
    cv::RNG rng(7);
    for (int type : kTypes)
        for (int round = 0; round < 4; ++round) {
            const int w = rng.uniform(3, 40), h = rng.uniform(3, 40), dw = rng.uniform(3, 50), dh = rng.uniform(3, 50);
            auto src = randomImage(type, w, h, uint32_t(round + 100 * type)), dest = randomImage(type, dw, dh, uint32_t(round + 7));
            float s[8] = {0, 0, float(w), 0, float(w), float(h), 0, float(h)}, d[8] = {0, 0, float(dw), 0, float(dw), float(dh), 0, float(dh)};
            for (float &v : s) v += float(rng.uniform(-0.15, 0.15)) * float(std::min(w, h));
            for (float &v : d) v += float(rng.uniform(-0.3, 0.3)) * float(std::min(dw, dh));
            const cv::Mat expected = expectedWarp(toMat(src.get()), s, d, toMat(dest.get()));
            ASSERT_EQ(ikxWarp(src.get(), s, d, dest.get()), dest.get());
            EXPECT_TRUE(sameAs(dest.get(), expected)) << "type " << type << " round " << round;
        }
    // The source may be the destination.
    auto a = randomImage(KIT_RGBA, 17, 13, 1), b = copyOf(a.get());
    const float s17[8] = {0, 0, 17, 0, 17, 13, 0, 13}, d17[8] = {1, 2, 15, 0, 16, 12, 2, 11};
    ikxWarp(a.get(), s17, d17, b.get());
    ikxWarp(a.get(), s17, d17, a.get());
    EXPECT_EQ(pixels(a.get()), pixels(b.get()));
    // A null dest: a zeroed image of the source's size and type under the warp.
    auto flat = makeImage(KIT_GRAY, 8, 6, std::vector<uint8_t>(48, 200));
    const float whole[8] = {0, 0, 8, 0, 8, 6, 0, 6}, quarter[8] = {0, 0, 4, 0, 4, 3, 0, 3};
    ImagePtr out(ikxWarp(flat.get(), whole, quarter, nullptr));
    cv::Mat want = cv::Mat::zeros(6, 8, CV_8UC1);
    want(cv::Rect(0, 0, 4, 3)).setTo(200);
    EXPECT_TRUE(out && sameAs(out.get(), want));
    // A strong perspective: the horizon crosses dest; nothing beyond it maps onto the source.
    auto grey = makeImage(KIT_GRAY, 20, 20, std::vector<uint8_t>(400, 100)), dest = makeImage(KIT_GRAY, 40, 40, std::vector<uint8_t>(1600, 7));
    const float s20[8] = {0, 0, 20, 0, 20, 20, 0, 20}, d[8] = {19.5f, 10, 20.5f, 10, 40, 20, 0, 20};
    ASSERT_EQ(ikxWarp(grey.get(), s20, d, dest.get()), dest.get());
    const auto px = pixels(dest.get());
    EXPECT_EQ(std::vector<uint8_t>(px.begin(), px.begin() + 9 * 40), std::vector<uint8_t>(360, 7));
    EXPECT_EQ(px[12 * 40 + 20], 100);  // maps to source (10, 18.2)
}

// The patch alone (patch flag) or on the full warp.
TEST(Vision, WarpExPatchesOnlyInsideTheDestinationQuad)
{
    const float cases[][8] = {
        {3.2f, 2.7f, 14.6f, 4.1f, 12.3f, 13.8f, 2.4f, 11.1f},    // inside
        {-4.3f, -3.1f, 9.7f, -1.2f, 8.2f, 9.6f, -2.6f, 7.4f},    // across the left and top edges
        {10.4f, 9.3f, 24.2f, 11.1f, 21.7f, 22.8f, 9.1f, 19.6f},  // across the right and bottom edges
        {30, 30, 40, 30, 40, 40, 30, 40},                        // outside
    };
    const float s[8] = {0, 0, 11, 0, 11, 9, 0, 9};
    for (int type : {KIT_BIN, KIT_RGB})
        for (const auto &d : cases)
            for (int patchOnly : {1, 0}) {
                auto src = randomImage(type, 11, 9, uint32_t(type + 1)), dest = randomImage(type, 18, 16, 77);
                auto expected = copyOf(dest.get());
                if (!patchOnly) ikxWarp(src.get(), s, d, expected.get());
                referencePatch(src.get(), s, d, expected.get());
                EXPECT_EQ(kxWarpEx(src.get(), s, 4, d, 4 + patchOnly, patchOnly, dest.get()), dest.get());
                EXPECT_EQ(pixels(dest.get()), pixels(expected.get())) << type << " " << d[0] << " " << patchOnly;
            }
}

TEST(Vision, WarpWrappersCastDestinationsAndBinariseResults)
{
    // The identity converts dest to the source's type; a wrapped dest cannot change type: untouched.
    const std::function<Image *(const Image *, Image *)> calls[] = {
        [](const Image *s, Image *d) { return kxWarp(s, kSquare6, kSquare6, d); },
        [](const Image *s, Image *d) { return kxWarpEx(s, kSquare6, 4, kSquare6, 4, 1, d); },
        [](const Image *s, Image *d) { return kxCopyPixelsE3(s, d, kSquare6), d; },
    };
    for (const auto &call : calls)
        for (auto [from, to] : {std::pair{KIT_RGB, KIT_GRAY}, {KIT_GRAY, KIT_RGB}}) {
            auto src = randomImage(from, 6, 6, 3), dest = makeImage(to, 6, 6);
            PaddedImage wrapped(to, 6, 6, std::vector<uint8_t>(size_t(36 * bpp(to)), 9));
            EXPECT_EQ(call(src.get(), dest.get()), dest.get());
            EXPECT_TRUE(dest->imageType == from && pixels(dest.get()) == pixels(src.get())) << from;
            expectUntouched(wrapped.get(), [&](Image *d) { return call(src.get(), d), d; }, wrapped.get());
        }
    // Binary bytes above 1 survive the library's bilinear warp; the wrappers re-binarise.
    auto bin = randomImage(KIT_BIN, 6, 6, 4), unwarped = makeImage(KIT_GRAY, 6, 6);
    for (int i = 0; i < 36; ++i) bin->data[i / 6 * bin->pitch + i % 6] *= 5;
    const float shifted[8] = {0.5f, 0, 6.5f, 0, 6.5f, 6, 0.5f, 6};
    ImagePtr raw(ikxWarp(bin.get(), kSquare6, shifted, nullptr)), out(kxWarp(bin.get(), kSquare6, shifted, nullptr));
    ASSERT_TRUE(raw && out && kxUnwarp(bin.get(), shifted, unwarped.get()) == unwarped.get());
    const auto rp = pixels(raw.get()), op = pixels(out.get()), up = pixels(unwarped.get());
    EXPECT_GT(*std::max_element(rp.begin(), rp.end()), 1);
    for (size_t i = 0; i < op.size(); ++i) EXPECT_TRUE(op[i] == (rp[i] != 0) && up[i] <= 1) << i;
    EXPECT_EQ(unwarped->imageType, KIT_BIN);
    // kxUnwarp maps pixel centres (0,0) .. (w-1,h-1): onto an equal dest the identity.
    // kxCopyPixelsE3 maps to corners at (w, h), as kxWarp does.
    auto src = randomImage(KIT_RGB, 12, 10, 8);
    const float quad[8] = {1.5f, 2, 11, 1, 10.5f, 9, 2, 8.5f}, corners[8] = {0, 0, 7, 0, 7, 5, 0, 5};
    const float centres[8] = {0, 0, 11, 0, 11, 9, 0, 9};
    auto same = makeImage(KIT_RGB, 12, 10), viaCopy = makeImage(KIT_RGB, 7, 5), viaWarp = makeImage(KIT_RGB, 7, 5), viaUnwarp = makeImage(KIT_RGB, 7, 5);
    EXPECT_EQ(kxUnwarp(src.get(), centres, same.get()), same.get());
    EXPECT_EQ(pixels(same.get()), pixels(src.get()));
    kxCopyPixelsE3(src.get(), viaCopy.get(), quad), kxWarp(src.get(), quad, corners, viaWarp.get()), kxUnwarp(src.get(), quad, viaUnwarp.get());
    EXPECT_TRUE(pixels(viaCopy.get()) == pixels(viaWarp.get()) && pixels(viaCopy.get()) != pixels(viaUnwarp.get()));
}

// Refused points, records and types: dest comes back (or null) untouched.
TEST(Vision, WarpRefusalsLeaveDestAlone)
{
    auto src = randomImage(KIT_GRAY, 6, 6, 5), rgba = randomImage(KIT_RGBA, 6, 6, 1), wide = makeImage(KIT_GRAY, 40000, 1);
    Image *g = src.get(), *c = rgba.get();
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity(), *sq = kSquare6;
    const float line[8] = {0, 0, 1, 1, 2, 2, 5, 0}, withNan[8] = {0, 0, 6, 0, 6, nan, 0, 6}, same[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    const float infinite[8] = {0, 0, inf, 0, inf, inf, 0, inf}, huge[8] = {-3e9f, -3e9f, 3e9f, -3e9f, 3e9f, 3e9f, -3e9f, 3e9f};
    Image bad = *g;  // an unusable record
    bad.pitch = 1;
    const struct { Op call; bool returnsDest; } cases[] = {
        {[&](Image *d) { return ikxWarp(g, nullptr, sq, d); }, false}, {[&](Image *d) { return ikxWarp(g, line, sq, d); }, false},
        {[&](Image *d) { return ikxWarp(g, sq, line, d); }, false}, {[&](Image *d) { return ikxWarp(g, sq, withNan, d); }, false},
        {[&](Image *d) { return ikxWarp(g, same, sq, d); }, false},
        {[&](Image *d) { return ikxWarp(wide.get(), sq, sq, d); }, false},  // beyond the warp's coordinates
        {[&](Image *d) { return kxWarp(c, sq, sq, d); }, true}, {[&](Image *d) { return kxCopyPixelsE3(c, d, sq), d; }, true},
        {[&](Image *d) { return kxCopyPixelsE3(d, d, nullptr), d; }, true},
    };
    for (size_t k = 0; k < std::size(cases); ++k) {
        auto dest = randomImage(KIT_GRAY, 6, 6, 2);
        expectUntouched(dest.get(), cases[k].call, cases[k].returnsDest ? dest.get() : nullptr);
        EXPECT_EQ(cases[k].call(nullptr), nullptr) << k;
    }
    auto target = randomImage(KIT_GRAY, 6, 6, 6);
    expectUntouched(target.get(), [&](Image *d) { return kxWarpEx(g, sq, 4, infinite, 4, 1, d); }, target.get());
    EXPECT_EQ(kxWarpEx(g, sq, 4, huge, 4, 1, target.get()), target.get());
    EXPECT_EQ(ikxWarp(nullptr, sq, sq, g), nullptr);
    EXPECT_EQ(ikxWarp(g, sq, sq, &bad), nullptr);
    EXPECT_EQ(ikxWarp(g, sq, sq, wide.get()), wide.get());  // a wide destination is fine
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // OpenCV may have started worker threads
    EXPECT_KX_ASSERT(kxWarpEx(nullptr, sq, 4, sq, 4, 0, nullptr), "image");
    EXPECT_KX_ASSERT(kxWarpEx(g, nullptr, 4, sq, 4, 0, nullptr), "pSrcControls && pDestControls");
}
