// The sibling libraries (image, mask, matrix, geometry) as the operations rely on them.
#include <array>
#include <climits>
#include <cmath>
#include <cstddef>

#include "kxtest.hpp"

using namespace kxtest;

// The record layout keeps its field order; a Mask shares the leading fields.
static_assert(offsetof(Image, type) == 4 && offsetof(Image, size) == 8 && offsetof(Image, data) == 24);
static_assert(offsetof(Image, height) == 32 && offsetof(Image, width) == 36 && offsetof(Image, pitch) == 40);
static_assert(offsetof(Image, isVirtual) == 44 && offsetof(Image, imageType) == 48 && offsetof(Mask, anchorY) == 52);
static_assert(offsetof(Mask, data) == offsetof(Image, data) && offsetof(Mask, pitch) == offsetof(Image, pitch));
static_assert(offsetof(Mask, anchorX) == offsetof(Image, imageType));

// Packed rows for every type are checked after every turn in tests/geometry; kxiGetType gives the type only
// when the channel code agrees.
TEST(ImageLibrary, CreateGivesZeroedPackedImagesOrRefuses)
{
    ImagePtr im(kxCreateImage(KIT_RGB, 3, 2));
    ASSERT_TRUE(im);
    EXPECT_EQ(std::tuple(im->pitch, im->size, kxiGetType(im.get()), im->isVirtual, pixels(im.get())),
              std::tuple(9, 18u, int(KIT_RGB), 0, std::vector<uint8_t>(18, 0)));
    uint8_t buf[16];  // below: a pitch below width * 3, reserved flags
    EXPECT_TRUE(!kxCreateImage(16, 4, 4) && !kxCreateImage(KIT_GRAY, 0, 4) && !kxCreateImage(KIT_GRAY, 4, -1) &&
                !kxCreateImageEx(KIT_RGB, 4, 1, 11, buf, 0) && !kxCreateImageEx(KIT_GRAY, 4, 1, 0, buf, 1));
}

// Regression: clone and cast rewrote a `type` code that disagreed with imageType; now refused.
TEST(ImageLibrary, RecordsWithDisagreeingTypeAreRefusedNotRepaired)
{
    auto src = makeImage(KIT_GRAY, 4, 3, randomBytes(12, 5));
    PaddedImage dst(KIT_GRAY, 4, 3);
    Image *d = dst.get();
    const int code = d->type;
    d->type = 2 << 3;  // the three-channel code on a one-byte record
    EXPECT_TRUE(!kxiIsWellFormed(d) && !kxiClone(src.get(), d) && !kxiCast(d, KIT_BIN));
    EXPECT_TRUE(d->type == 2 << 3 && pixels(d) == std::vector<uint8_t>(12, 0) && dst.paddingIntact());
    d->type = code;
    EXPECT_EQ(kxiIsWellFormed(d), 1);
}

// Regression: pitch * height overflowed 64 bits for sides near INT_MAX (kxClip of an RGB image).
TEST(ImageLibrary, SizesNearIntMaxAreRefusedWithoutOverflow)
{
    EXPECT_EQ(kxCreateImage(KIT_RGBA, 65536, 65536), nullptr);  // 16 GiB: above the 2^31 byte limit
    for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA})
        for (int side : {INT32_MAX, INT32_MAX - 1, 1 << 30})
            EXPECT_TRUE(!kxCreateImage(type, side, side) && !kxCreateImage(type, side, 2) &&
                        !kxCreateImage(type, 4, side));
    auto im = makeImage(KIT_RGB, 3, 2, randomBytes(18, 4));
    const auto before = pixels(im.get());
    EXPECT_EQ(kxiSetSize(im.get(), INT32_MAX, INT32_MAX), 0);
    EXPECT_EQ(kxiResize(im.get(), INT32_MAX - 1, INT32_MAX - 1), 0);
    EXPECT_KX_ASSERT(kxClip(im.get(), 0, 0, INT32_MAX - 1, INT32_MAX - 1), "tmp");
    EXPECT_EQ(pixels(im.get()), before);
}

// A wrapped image keeps memory and pitch: other sizes and types are refused, a clone of its size copies pixels
// only, floods write pixel bytes only.  Copies are packed; an owned image takes new sizes and types.
TEST(ImageLibrary, VirtualImagesKeepCallerPitchAndCopiesArePacked)
{
    PaddedImage wrapped(KIT_GRAY, 5, 3, {}, 3), src(KIT_GRAY, 5, 3, randomBytes(15, 1));
    Image *im = wrapped.get();
    uint8_t *const data = im->data;
    ImagePtr other(kxCreateImage(KIT_RGB, 2, 2));
    ASSERT_TRUE(im->pitch == 8 && kxiIsVirtual(im));
    EXPECT_TRUE(!kxiSetSize(im, 6, 3) && !kxiResize(im, 5, 4) && !kxiCast(im, KIT_RGB) && !kxiClone(other.get(), im) &&
                im->data == data && im->width == 5 && im->height == 3);
    EXPECT_TRUE(kxiClone(src.get(), im) == im && pixels(im) == pixels(src.get()));
    ImagePtr copy(kxiClone(im, nullptr));
    EXPECT_TRUE(kxiClone(im, other.get()) == other.get() && !kxiClone(nullptr, other.get()));
    for (const Image *c : {copy.get(), other.get()})
        EXPECT_EQ(std::tuple(c->imageType, c->width, c->pitch, c->isVirtual, pixels(c)),
                  std::tuple(int(KIT_GRAY), 5, 5, 0, pixels(src.get())));
    kxiFlood(im, 0x17);
    EXPECT_EQ(pixels(im), std::vector<uint8_t>(15, 0x17));
    const std::vector<uint8_t> bytes = randomBytes(15, 3);
    kxiFloodEx(im, bytes.data(), 1000);  // packed rows in, more than the image holds
    EXPECT_TRUE(pixels(im) == bytes && kxiCast(im, KIT_BIN) == im && im->imageType == KIT_BIN);
    EXPECT_TRUE(wrapped.paddingIntact());
    EXPECT_TRUE(kxiSetSize(copy.get(), 2, 8) && copy->height == 8 && copy->pitch == 2);
    copy->imageType = KIT_RGBA;  // callers set imageType before a resize
    EXPECT_TRUE(kxiResize(copy.get(), 3, 3) && copy->pitch == 12 && kxiGetType(copy.get()) == KIT_RGBA);
    EXPECT_TRUE(!kxiResize(copy.get(), 0, 3) && copy->width == 3);
}

TEST(ImageLibrary, CastConvertsBetweenAllTypes)
{
    const struct { int from; std::vector<uint8_t> in; int to; std::vector<uint8_t> out; } cases[] = {
        {KIT_BIN, {0, 1}, KIT_GRAY, {0, 255}}, {KIT_GRAY, {0, 7}, KIT_BIN, {0, 1}},
        {KIT_GRAY, {9, 200}, KIT_RGB, {9, 9, 9, 200, 200, 200}},  // one byte into three (BIN first becomes 0/255)
        {KIT_RGB, {0, 0, 255, 10, 100, 0}, KIT_GRAY, {76, 59}},  // 255*0.299 = 76.2; 0.587*100 + 0.114*10 = 59.84
        {KIT_RGB, {0, 0, 0, 0, 1, 0}, KIT_BIN, {0, 1}},  // any colour byte
        {KIT_RGBA, {1, 2, 3, 4, 5, 6, 7, 8}, KIT_RGB, {1, 2, 3, 5, 6, 7}},
        {KIT_RGB, {1, 2, 3, 5, 6, 7}, KIT_RGBA, {1, 2, 3, 255, 5, 6, 7, 255}}};
    for (const auto &c : cases) {
        ImagePtr im = makeImage(c.from, 2, 1, c.in);
        ASSERT_EQ(kxiCast(im.get(), c.to), im.get());
        EXPECT_EQ(std::tuple(im->imageType, kxiGetType(im.get()), pixels(im.get())), std::tuple(c.to, c.to, c.out));
    }
}

// Ellipses are tests/binary's (dilation by them equals kxDilateE1's disc, pinned by hand there), as is the
// centred 3 x 3 rectangle (the morphology's default element); the cross is pinned here.
TEST(MaskAndMatrixLibraries, ShapesAnchorsAndZeroedStorage)
{
    Mask *cross = kxCreateMask(KXM_CROSS, 3, 3);
    ASSERT_NE(cross, nullptr);
    std::string bits;
    for (int i = 0; i < 9; ++i) bits += cross->data[i / 3 * cross->pitch + i % 3] ? '1' : '0';
    EXPECT_EQ(std::tuple(cross->anchorX, cross->anchorY, bits), std::tuple(1, 1, std::string("010111010")));
    kxDestroyMask(cross);
    Matrix *m = kxCreateMatrix(KXM_64F, 3, 4);
    ASSERT_NE(m, nullptr);
    const double *d = static_cast<const double *>(kxmGetPtr(m));
    EXPECT_EQ(std::vector<double>(d, d + 12), std::vector<double>(12, 0.0));
    kxDestroyMatrix(m);
    EXPECT_TRUE(!kxCreateMask(4, 3, 3) && !kxCreateMask(KXM_RECT, 0, 3) && !kxCreateMatrix(7, 2, 2) &&
                !kxCreateMatrix(KXM_32F, 0, 2) && !kxmGetPtr(nullptr));
}

// 90 degrees moves a point right of the centre up (y down); left and top edges are inside.
TEST(GeometryLibrary, RotationSenseAndPointInPolygon)
{
    int v[] = {15, 10, 10, 13}, far[] = {INT32_MAX, INT32_MAX};
    float f[] = {15.0f, 10.0f};
    kxRotateVertex(v, 2, 10, 10, 90.0f);
    kxRotateVertex(far, 1, 0, 0, 45.0f);
    kxRotateVertexE1(f, 1, 10, 10, 90);
    EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{10, 5, 13, 10}));
    EXPECT_EQ(far[0], INT32_MAX);
    EXPECT_TRUE(std::abs(f[0] - 10.0f) < 1e-5f && std::abs(f[1] - 5.0f) < 1e-5f) << f[0] << "," << f[1];
    const int square[] = {0, 0, 4, 0, 4, 4, 0, 4}, huge[] = {INT_MIN, INT_MIN, INT_MAX, INT_MIN, INT_MAX, INT_MAX};
    const float sq[] = {0, 0, 4, 0, 4, 4, 0, 4};
    for (int i = 0; i < 49; ++i) {
        const int x = i % 7 - 1, y = i / 7 - 1;
        const bool want = x >= 0 && x < 4 && y >= 0 && y < 4;
        EXPECT_EQ(kxIsPointInPolygon(x, y, square, 4) != 0, want) << x << "," << y;
        EXPECT_EQ(kxIsPointInPolygonE3(x, y, sq, 4) != 0, want) << x << "," << y;
    }
    EXPECT_TRUE(kxIsPointInPolygon(1000, -1000, huge, 3) && !kxIsPointInPolygon(-1000, 1000, huge, 3));
    EXPECT_FALSE(kxIsPointInPolygon(100000, 5, square, 4) || kxIsPointInPolygon(1, 1, square, 2) ||
                 kxIsPointInPolygon(1, 1, nullptr, 4));
}
