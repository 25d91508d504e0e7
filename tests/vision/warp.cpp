// The warp wrappers: type gates, destination casts, corner orders, the
// re-binarised binary results and the patch of kxWarpEx.
#include <limits>

#include "cv_support.hpp"

using namespace kxvt;

namespace {

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

TEST(WarpWrappers, RefusalsReturnDestUntouched)
{
    auto grey = randomImage(KIT_GRAY, 6, 6, 1);
    auto rgba = randomImage(KIT_RGBA, 6, 6, 1);
    Image *g = grey.get(), *c = rgba.get();
    const float *sq = kSquare6;
    struct Case {
        const char *name;
        Op call;
    } cases[] = {
        {"kxWarp RGBA", [&](Image *d) { return kxWarp(c, sq, sq, d); }},
        {"kxWarp null", [&](Image *d) { return kxWarp(nullptr, sq, sq, d); }},
        {"kxUnwarp RGBA", [&](Image *d) { return kxUnwarp(c, sq, d); }},
        {"kxUnwarp null", [&](Image *d) { return kxUnwarp(nullptr, sq, d); }},
        {"kxWarpEx 3 dest points", [&](Image *d) { return kxWarpEx(g, sq, 4, sq, 3, 0, d); }},
        {"kxWarpEx 3 source points", [&](Image *d) { return kxWarpEx(g, sq, 3, sq, 4, 1, d); }},
        {"kxWarpEx RGBA", [&](Image *d) { return kxWarpEx(c, sq, 4, sq, 4, 0, d); }},
        {"kxCopyPixelsE3 RGBA", [&](Image *d) { return kxCopyPixelsE3(c, d, sq), d; }},
        {"kxCopyPixelsE3 null", [&](Image *d) { return kxCopyPixelsE3(nullptr, d, sq), d; }},
        {"kxCopyPixelsE3 no points", [&](Image *d) { return kxCopyPixelsE3(d, d, nullptr), d; }},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        auto dest = randomImage(KIT_GRAY, 6, 6, 2);
        expectUntouched(dest.get(), k.call, dest.get());
        EXPECT_EQ(k.call(nullptr), nullptr);
    }
}

TEST(WarpWrappers, IdentityConvertsDestToTheSourceType)
{
    const float whole[8] = {0, 0, 6, 0, 6, 6, 0, 6};
    struct Case {
        const char *name;
        std::function<Image *(const Image *, Image *)> call;
    } cases[] = {
        {"ikxWarp", [&](const Image *s, Image *d) { return ikxWarp(s, whole, whole, d); }},
        {"kxWarp", [&](const Image *s, Image *d) { return kxWarp(s, whole, whole, d); }},
        {"kxWarpEx", [&](const Image *s, Image *d) { return kxWarpEx(s, whole, 4, whole, 4, 1, d); }},
        {"kxCopyPixelsE3", [&](const Image *s, Image *d) { return kxCopyPixelsE3(s, d, whole), d; }},
    };
    for (const Case &c : cases)
        for (auto [from, to] : {std::pair{KIT_RGB, KIT_GRAY}, {KIT_GRAY, KIT_RGB}}) {
            SCOPED_TRACE(testing::Message() << c.name << " " << from);
            auto src = randomImage(from, 6, 6, 3);
            auto dest = makeImage(to, 6, 6);
            EXPECT_EQ(c.call(src.get(), dest.get()), dest.get());
            EXPECT_EQ(dest->imageType, from);
            EXPECT_EQ(pixels(dest.get()), pixels(src.get()));
            // A wrapped dest cannot change type: refused, untouched.
            PaddedImage wrapped(to, 6, 6, std::vector<uint8_t>(size_t(36 * kxiBytesPerPixel(to)), 9));
            c.call(src.get(), wrapped.get());
            EXPECT_EQ(wrapped.get()->imageType, to);
            EXPECT_EQ(pixels(wrapped.get()), std::vector<uint8_t>(size_t(36 * kxiBytesPerPixel(to)), 9));
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
    ImagePtr raw(ikxWarp(src.get(), kSquare6, shifted, nullptr));
    ImagePtr out(kxWarp(src.get(), kSquare6, shifted, nullptr));
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
    const float quad[8] = {1.5f, 2, 11, 1, 10.5f, 9, 2, 8.5f};
    const float corners[8] = {0, 0, 7, 0, 7, 5, 0, 5};
    auto viaCopy = makeImage(KIT_RGB, 7, 5), viaWarp = makeImage(KIT_RGB, 7, 5), viaUnwarp = makeImage(KIT_RGB, 7, 5);
    kxCopyPixelsE3(src.get(), viaCopy.get(), quad);
    kxWarp(src.get(), quad, corners, viaWarp.get());
    kxUnwarp(src.get(), quad, viaUnwarp.get());
    EXPECT_EQ(pixels(viaCopy.get()), pixels(viaWarp.get()));
    EXPECT_NE(pixels(viaCopy.get()), pixels(viaUnwarp.get()));
}

TEST(KxWarpEx, AssertsItsPointers)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // OpenCV may have started worker threads
    auto src = randomImage(KIT_GRAY, 6, 6, 1);
    EXPECT_KX_ASSERT(kxWarpEx(nullptr, kSquare6, 4, kSquare6, 4, 0, nullptr), "image");
    EXPECT_KX_ASSERT(kxWarpEx(src.get(), nullptr, 4, kSquare6, 4, 0, nullptr), "pSrcControls && pDestControls");
    EXPECT_KX_ASSERT(kxWarpEx(src.get(), kSquare6, 4, nullptr, 4, 0, nullptr), "pSrcControls && pDestControls");
}

TEST(KxWarpEx, PatchChangesOnlyPixelsInsideTheDestinationQuad)
{
    struct Case {
        const char *name;
        float d[8];
    } cases[] = {
        {"inside", {3.2f, 2.7f, 14.6f, 4.1f, 12.3f, 13.8f, 2.4f, 11.1f}},
        {"crossing the left and top edges", {-4.3f, -3.1f, 9.7f, -1.2f, 8.2f, 9.6f, -2.6f, 7.4f}},
        {"crossing the right and bottom edges", {10.4f, 9.3f, 24.2f, 11.1f, 21.7f, 22.8f, 9.1f, 19.6f}},
        {"outside", {30, 30, 40, 30, 40, 40, 30, 40}},
    };
    const float s[8] = {0, 0, 11, 0, 11, 9, 0, 9};
    for (int type : {KIT_BIN, KIT_GRAY, KIT_RGB})
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << type << " " << c.name);
            auto src = randomImage(type, 11, 9, uint32_t(type + 1));
            // With the patch flag: the patch alone; without: the full warp, then the patch.
            for (int patchOnly : {1, 0}) {
                auto dest = randomImage(type, 18, 16, 77);
                auto expected = copyOf(dest.get());
                if (!patchOnly) ikxWarp(src.get(), s, c.d, expected.get());
                referencePatch(src.get(), s, c.d, expected.get());
                EXPECT_EQ(kxWarpEx(src.get(), s, 4, c.d, 4 + patchOnly, patchOnly, dest.get()), dest.get());
                EXPECT_EQ(pixels(dest.get()), pixels(expected.get())) << patchOnly;
            }
        }
    // Without a dest the patch goes onto a full warp.
    auto src = randomImage(KIT_GRAY, 10, 10, 4);
    const float s10[8] = {0, 0, 10, 0, 10, 10, 0, 10}, d[8] = {1, 2, 9, 1, 8, 9, 2, 8};
    ImagePtr out(kxWarpEx(src.get(), s10, 4, d, 4, 1, nullptr));
    ImagePtr expected(ikxWarp(src.get(), s10, d, nullptr));
    ASSERT_TRUE(out && expected);
    referencePatch(src.get(), s10, d, expected.get());
    EXPECT_EQ(pixels(out.get()), pixels(expected.get()));
}

TEST(KxWarpEx, PatchLeavesEverythingOutsideTheQuadAlone)
{
    auto src = makeImage(KIT_GRAY, 8, 8);
    kxiFlood(src.get(), 200);
    PaddedImage dest(KIT_GRAY, 16, 16, std::vector<uint8_t>(256, 3));
    const float s[8] = {0, 0, 8, 0, 8, 8, 0, 8};
    const float d[8] = {4, 4, 12, 4, 12, 12, 4, 12};
    kxWarpEx(src.get(), s, 4, d, 4, 1, dest.get());
    cv::Mat want(16, 16, CV_8UC1, cv::Scalar(3));
    want(cv::Rect(4, 4, 8, 8)).setTo(200);
    EXPECT_TRUE(sameAs(dest.get(), want));
    EXPECT_TRUE(dest.paddingIntact());

    // Absurd and non-finite destination points.
    auto target = randomImage(KIT_GRAY, 6, 6, 6);
    const float inf = std::numeric_limits<float>::infinity();
    const float huge[8] = {-3e9f, -3e9f, 3e9f, -3e9f, 3e9f, 3e9f, -3e9f, 3e9f};
    const float infinite[8] = {0, 0, inf, 0, inf, inf, 0, inf};
    expectUntouched(target.get(), [&](Image *t) { return kxWarpEx(src.get(), kSquare6, 4, infinite, 4, 1, t); },
                    target.get());
    EXPECT_EQ(kxWarpEx(src.get(), kSquare6, 4, huge, 4, 1, target.get()), target.get());
}
