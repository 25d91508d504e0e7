// The warp wrappers: type gates, destination casts, corner orders, the
// re-binarised binary results and the patch of kxWarpEx.
#include "cv_support.hpp"

using namespace kxvt;
using kxtest::makeImage;
using kxtest::PaddedImage;
using kxtest::randomImage;

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
    const int w = maxX - minX + 1, h = maxY - minY + 1;
    ImagePtr tmp(kxCreateImage(image->imageType, w, h));
    float local[8];
    for (int i = 0; i < 4; ++i) local[2 * i] = d[2 * i] - float(minX), local[2 * i + 1] = d[2 * i + 1] - float(minY);
    ikxWarp(image, s, local, tmp.get());
    const int bpp = image->imageType == KIT_RGB ? 3 : 1;
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

TEST(KxWarp, TypeGateAndNullImageReturnDestUntouched)
{
    auto rgba = randomImage(KIT_RGBA, 6, 6, 1);
    auto dest = randomImage(KIT_GRAY, 6, 6, 2);
    const auto before = kxtest::pixels(dest.get());
    EXPECT_EQ(kxWarp(rgba.get(), kSquare6, kSquare6, dest.get()), dest.get());
    EXPECT_EQ(kxWarp(nullptr, kSquare6, kSquare6, dest.get()), dest.get());
    EXPECT_EQ(kxWarp(rgba.get(), kSquare6, kSquare6, nullptr), nullptr);
    EXPECT_EQ(dest->imageType, KIT_GRAY);
    EXPECT_EQ(kxtest::pixels(dest.get()), before);
}

TEST(KxWarp, ConvertsDestToTheSourceTypeThenWarps)
{
    auto src = randomImage(KIT_GRAY, 6, 6, 3);
    auto dest = makeImage(KIT_RGB, 6, 6);
    EXPECT_EQ(kxWarp(src.get(), kSquare6, kSquare6, dest.get()), dest.get());
    EXPECT_EQ(dest->imageType, KIT_GRAY);
    EXPECT_EQ(kxtest::pixels(dest.get()), kxtest::pixels(src.get()));
}

TEST(KxWarp, BinarySourceGivesZeroOneResult)
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
    const auto rp = kxtest::pixels(raw.get()), op = kxtest::pixels(out.get());
    EXPECT_GT(*std::max_element(rp.begin(), rp.end()), 1);
    for (size_t i = 0; i < op.size(); ++i) EXPECT_EQ(op[i], rp[i] != 0) << i;

    ImagePtr unwarped(makeImage(KIT_GRAY, 6, 6));
    kxUnwarp(src.get(), shifted, unwarped.get());
    EXPECT_EQ(unwarped->imageType, KIT_BIN);
    for (uint8_t b : kxtest::pixels(unwarped.get())) EXPECT_LE(b, 1);
}

TEST(KxUnwarp, NullsAndTypeGate)
{
    auto src = randomImage(KIT_GRAY, 6, 6, 4);
    auto rgba = randomImage(KIT_RGBA, 6, 6, 4);
    auto dest = randomImage(KIT_GRAY, 6, 6, 5);
    const auto before = kxtest::pixels(dest.get());
    EXPECT_EQ(kxUnwarp(src.get(), kSquare6, nullptr), nullptr);
    EXPECT_EQ(kxUnwarp(nullptr, kSquare6, dest.get()), dest.get());
    EXPECT_EQ(kxUnwarp(rgba.get(), kSquare6, dest.get()), dest.get());
    EXPECT_EQ(kxtest::pixels(dest.get()), before);
}

TEST(KxUnwarp, SourcePointsLandOnDestCornerPixelCentres)
{
    // Source pixel centres (0,0), (w-1,0), (w-1,h-1), (0,h-1) onto the same
    // corners of an equal-sized dest: the identity.
    for (int type : {KIT_BIN, KIT_GRAY, KIT_RGB}) {
        auto src = randomImage(type, 9, 7, uint32_t(type));
        PaddedImage dest(type, 9, 7);
        const float quad[8] = {0, 0, 8, 0, 8, 6, 0, 6};
        EXPECT_EQ(kxUnwarp(src.get(), quad, dest.get()), dest.get());
        EXPECT_EQ(kxtest::pixels(dest.get()), kxtest::pixels(src.get())) << type;
        EXPECT_TRUE(dest.paddingIntact());
    }
}

TEST(KxCopyPixelsE3, QuadLandsOnOuterCornersOfTheWholeDestination)
{
    auto src = randomImage(KIT_RGB, 12, 10, 8);
    // The full source onto an equal-sized destination: the identity.
    const float whole[8] = {0, 0, 12, 0, 12, 10, 0, 10};
    auto dest = makeImage(KIT_GRAY, 12, 10);
    kxCopyPixelsE3(src.get(), dest.get(), whole);
    EXPECT_EQ(dest->imageType, KIT_RGB);
    EXPECT_EQ(kxtest::pixels(dest.get()), kxtest::pixels(src.get()));

    // A quad onto a smaller destination equals kxWarp with the corners at
    // (w, h), and differs from kxUnwarp's corners at (w - 1, h - 1).
    const float quad[8] = {1.5f, 2, 11, 1, 10.5f, 9, 2, 8.5f};
    auto viaCopy = makeImage(KIT_RGB, 7, 5);
    auto viaWarp = makeImage(KIT_RGB, 7, 5);
    auto viaUnwarp = makeImage(KIT_RGB, 7, 5);
    const float corners[8] = {0, 0, 7, 0, 7, 5, 0, 5};
    kxCopyPixelsE3(src.get(), viaCopy.get(), quad);
    kxWarp(src.get(), quad, corners, viaWarp.get());
    kxUnwarp(src.get(), quad, viaUnwarp.get());
    EXPECT_EQ(kxtest::pixels(viaCopy.get()), kxtest::pixels(viaWarp.get()));
    EXPECT_NE(kxtest::pixels(viaCopy.get()), kxtest::pixels(viaUnwarp.get()));
}

TEST(KxCopyPixelsE3, NothingForNullsAndRgba)
{
    auto rgba = randomImage(KIT_RGBA, 4, 4, 1);
    auto dest = randomImage(KIT_GRAY, 4, 4, 2);
    const auto before = kxtest::pixels(dest.get());
    const float quad[8] = {0, 0, 4, 0, 4, 4, 0, 4};
    kxCopyPixelsE3(rgba.get(), dest.get(), quad);
    kxCopyPixelsE3(nullptr, dest.get(), quad);
    kxCopyPixelsE3(rgba.get(), nullptr, quad);
    kxCopyPixelsE3(dest.get(), dest.get(), nullptr);
    EXPECT_EQ(dest->imageType, KIT_GRAY);
    EXPECT_EQ(kxtest::pixels(dest.get()), before);
}

TEST(KxWarpEx, CountsBelowFourAndUnsupportedTypesReturnDest)
{
    auto src = randomImage(KIT_GRAY, 6, 6, 1);
    auto rgba = randomImage(KIT_RGBA, 6, 6, 1);
    auto dest = randomImage(KIT_GRAY, 6, 6, 2);
    const auto before = kxtest::pixels(dest.get());
    EXPECT_EQ(kxWarpEx(src.get(), kSquare6, 4, kSquare6, 3, 0, dest.get()), dest.get());
    EXPECT_EQ(kxWarpEx(src.get(), kSquare6, 3, kSquare6, 4, 1, dest.get()), dest.get());
    EXPECT_EQ(kxWarpEx(rgba.get(), kSquare6, 4, kSquare6, 4, 0, dest.get()), dest.get());
    EXPECT_EQ(kxWarpEx(src.get(), kSquare6, 4, kSquare6, 3, 0, nullptr), nullptr);
    EXPECT_EQ(kxtest::pixels(dest.get()), before);
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
    for (int type : {KIT_BIN, KIT_GRAY, KIT_RGB})
        for (const Case &c : cases) {
            auto src = randomImage(type, 11, 9, uint32_t(type + 1));
            const float s[8] = {0, 0, 11, 0, 11, 9, 0, 9};
            auto dest = randomImage(type, 18, 16, 77);
            auto expected = copyOf(dest.get());
            referencePatch(src.get(), s, c.d, expected.get());
            EXPECT_EQ(kxWarpEx(src.get(), s, 4, c.d, 5, 1, dest.get()), dest.get());
            EXPECT_EQ(kxtest::pixels(dest.get()), kxtest::pixels(expected.get())) << type << " " << c.name;

            // Without the patch flag: the full warp first, then the patch.
            auto full = randomImage(type, 18, 16, 77);
            auto fullExpected = copyOf(full.get());
            ikxWarp(src.get(), s, c.d, fullExpected.get());
            referencePatch(src.get(), s, c.d, fullExpected.get());
            kxWarpEx(src.get(), s, 4, c.d, 4, 0, full.get());
            EXPECT_EQ(kxtest::pixels(full.get()), kxtest::pixels(fullExpected.get())) << type << " " << c.name;
        }
}

TEST(KxWarpEx, PatchLeavesEverythingOutsideTheQuadAlone)
{
    auto src = makeImage(KIT_GRAY, 8, 8);
    kxiFlood(src.get(), 200);
    PaddedImage dest(KIT_GRAY, 16, 16, std::vector<uint8_t>(256, 3));
    const float s[8] = {0, 0, 8, 0, 8, 8, 0, 8};
    const float d[8] = {4, 4, 12, 4, 12, 12, 4, 12};
    kxWarpEx(src.get(), s, 4, d, 4, 1, dest.get());
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(dest.get()->data[y * dest.get()->pitch + x], x >= 4 && x < 12 && y >= 4 && y < 12 ? 200 : 3)
                << x << "," << y;
    EXPECT_TRUE(dest.paddingIntact());
}

TEST(KxWarpEx, PatchWithoutDestPastesOntoAFullWarp)
{
    auto src = randomImage(KIT_GRAY, 10, 10, 4);
    const float s[8] = {0, 0, 10, 0, 10, 10, 0, 10};
    const float d[8] = {1, 2, 9, 1, 8, 9, 2, 8};
    ImagePtr out(kxWarpEx(src.get(), s, 4, d, 4, 1, nullptr));
    ASSERT_TRUE(out);
    ImagePtr expected(ikxWarp(src.get(), s, d, nullptr));
    referencePatch(src.get(), s, d, expected.get());
    EXPECT_EQ(kxtest::pixels(out.get()), kxtest::pixels(expected.get()));
}

TEST(KxWarpEx, DestIsConvertedBeforeThePatchAndRefusalsAreSafe)
{
    auto src = randomImage(KIT_RGB, 6, 6, 4);
    auto dest = makeImage(KIT_GRAY, 6, 6);
    kxWarpEx(src.get(), kSquare6, 4, kSquare6, 4, 1, dest.get());
    EXPECT_EQ(dest->imageType, KIT_RGB);
    EXPECT_EQ(kxtest::pixels(dest.get()), kxtest::pixels(src.get()));

    // A wrapped grey dest cannot take RGB pixels: no patch is written.
    PaddedImage wrapped(KIT_GRAY, 6, 6, std::vector<uint8_t>(36, 9));
    EXPECT_EQ(kxWarpEx(src.get(), kSquare6, 4, kSquare6, 4, 1, wrapped.get()), wrapped.get());
    EXPECT_EQ(kxtest::pixels(wrapped.get()), std::vector<uint8_t>(36, 9));
    EXPECT_TRUE(wrapped.paddingIntact());

    // Absurd and non-finite destination points.
    auto grey = randomImage(KIT_GRAY, 6, 6, 5);
    auto target = randomImage(KIT_GRAY, 6, 6, 6);
    const auto before = kxtest::pixels(target.get());
    const float huge[8] = {-3e9f, -3e9f, 3e9f, -3e9f, 3e9f, 3e9f, -3e9f, 3e9f};
    const float inf = std::numeric_limits<float>::infinity();
    const float infinite[8] = {0, 0, inf, 0, inf, inf, 0, inf};
    EXPECT_EQ(kxWarpEx(grey.get(), kSquare6, 4, infinite, 4, 1, target.get()), target.get());
    EXPECT_EQ(kxtest::pixels(target.get()), before);
    EXPECT_EQ(kxWarpEx(grey.get(), kSquare6, 4, huge, 4, 1, target.get()), target.get());
}
