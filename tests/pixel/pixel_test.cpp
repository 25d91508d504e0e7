// Pixel-wise combination, inversion, rectangle copies, channel and colour
// replacement, cropping and single-pixel access; the byte-table kernels
// against the plain lookup (the image walkers over padded rows: kxInvert,
// kxLinearEx and the threshold fills, through the exports).  Row bands: with
// the filters in tests/filter.
#include <cmath>
#include <functional>

#include "kxtest.hpp"
#include "levels.hpp"
#include "pixel/lut.hpp"

using namespace kxtest;
using Bytes = std::vector<uint8_t>;

// The shortcuts and rules (a from image0, b from image1) in code order, 1204..1212.
const struct { const char *name; Image *(*fn)(const Image *, Image *); std::function<int(int, int)> rule; }
    kMergeCases[] = {
    {"add", kxPixelAdd, [](int a, int b) { return std::min(a + b, 255); }},
    {"subtract", kxPixelSubtract, [](int a, int b) { return std::max(a - b, 0); }},
    {"xor", kxPixelXor, [](int a, int b) { return a ^ b; }},
    {"and", kxPixelAnd, [](int a, int b) { return a & b; }},
    {"or", kxPixelOr, [](int a, int b) { return a | b; }},
    {"small", kxPixelSmall, [](int a, int b) { return std::min(a, b); }},
    {"large", kxPixelLarge, [](int a, int b) { return std::max(a, b); }},
    {"copy", kxPixelCopy, [](int a, int) { return a; }},
    {"diff", kxPixelDiff, [](int a, int b) { return std::abs(a - b); }},
};

TEST(PixelMerge, EveryBytePairPaddedAliasedAndThroughTheShortcuts)
{
    // Every (a, b) byte pair (image0 the low byte of the index, image1 the
    // next), in rows that end past whole vectors, padded through the code
    // and packed through the shortcut; then image0 with itself.
    for (int code = KX_MERGE_ADD; code <= KX_MERGE_DIFF; ++code)
        for (int type : {KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA}) {
            const auto &c = kMergeCases[code - KX_MERGE_ADD];
            auto want = [&](const Bytes &a, const Bytes &b) {
                Bytes out(b.size());
                for (size_t i = 0; i < b.size(); ++i) out[i] = uint8_t(c.rule(a[i], b[i]));
                for (auto &o : out) o = type == KIT_BIN ? o > 0 : o;
                return out;
            };
            const int w = 67, h = 65536 / (w * bpp(type)) + 1;
            Bytes as(size_t(w) * h * bpp(type)), bs(as.size());
            for (size_t i = 0; i < as.size(); ++i) as[i] = uint8_t(i);
            for (size_t i = 0; i < bs.size(); ++i) bs[i] = uint8_t(i / 256);
            PaddedImage a(type, w, h, as, 3), b(type, w, h, bs, 11);
            ImagePtr pa = makeImage(type, w, h, as), pb = makeImage(type, w, h, bs);
            EXPECT_EQ(kxPixelMerge(a.get(), b.get(), code), b.get());
            EXPECT_EQ(c.fn(pa.get(), pb.get()), pb.get());
            ASSERT_EQ(pixels(b.get()), want(as, bs)) << c.name << " type " << type;
            EXPECT_EQ(pixels(pb.get()), pixels(b.get())) << c.name << " type " << type << " packed";
            EXPECT_EQ(pixels(a.get()), as) << "image0 is read only";
            c.fn(pa.get(), pa.get());
            EXPECT_EQ(pixels(pa.get()), want(as, as)) << c.name << " with itself";
        }
}

TEST(PixelMerge, CommonAreaTypesAndCodes)
{
    ImagePtr a = makeImage(KIT_GRAY, 2, 3, Bytes(6, 10));
    PaddedImage b(KIT_GRAY, 3, 2, Bytes(6, 1));
    kxPixelAdd(a.get(), b.get());
    EXPECT_EQ(pixels(b.get()), (Bytes{11, 11, 1, 11, 11, 1}));
    const auto before = pixels(b.get());
    for (int code : {1203, 1213}) EXPECT_EQ(kxPixelMerge(a.get(), b.get(), code), b.get());
    ImagePtr rgb = makeImage(KIT_RGB, 3, 2);
    kxPixelAdd(rgb.get(), b.get());
    EXPECT_EQ(pixels(b.get()), before);
    EXPECT_KX_ASSERT(kxPixelAdd(nullptr, b.get()), "image0 && image1");
}

TEST(PixelMergeE1, ScaledCodesInDoubleThenClampedDivisionByZeroIsZero)
{
    // Image0 (q) takes value(p from image1, q), truncated and clamped; the
    // bitwise codes and the extremes ignore scale and offset.
    const Bytes q = {10, 200, 7, 3, 90}, p = {4, 100, 0, 255, 120};
    const struct { int type, code; float scale, offset; Bytes q, p, want; } cases[] = {
        {KIT_GRAY, 0, 0.5f, 1.25f, q, p, {8, 151, 4, 130, 106}},  // (p + q) * s + o
        {KIT_GRAY, 1, 1.0f, 0.0f, q, p, {0, 0, 0, 252, 30}},  // p - q
        {KIT_GRAY, 2, 2.0f, -3.0f, q, p, {9, 197, 11, 255, 57}},  // |p - q|
        // p * q: 20000 * 0.01f is 199.99999..., so the scale is not taken as 0.01.
        {KIT_GRAY, 3, 0.01f, 0.0f, q, p, {0, 199, 0, 7, 107}},
        {KIT_GRAY, 4, 100.0f, 7.0f, q, p, {255, 207, 0, 8, 82}},  // q / p; division by zero stores 0 (no offset)
        {KIT_GRAY, 5, 9.0f, 9.0f, q, p, {0, 64, 0, 3, 88}},  // and
        {KIT_GRAY, 6, 9.0f, 9.0f, q, p, {14, 236, 7, 255, 122}},  // or
        {KIT_GRAY, 7, 9.0f, 9.0f, q, p, {14, 172, 7, 252, 34}},  // xor
        {KIT_GRAY, 8, 9.0f, 9.0f, q, p, {10, 200, 7, 255, 120}},  // max
        {KIT_GRAY, 9, 9.0f, 9.0f, q, p, {4, 100, 0, 3, 90}},  // min
        {KIT_GRAY, 10, 1.0f, 0.0f, q, p, q},  // no such code: nothing done
        {KIT_BIN, 0, 3.0f, 0.0f, {0, 1, 1, 0}, {1, 1, 0, 0}, {1, 1, 1, 0}},  // a binary result: 1 above 0
    };
    for (const auto &c : cases) {
        PaddedImage image0(c.type, int(c.q.size()), 1, c.q);
        ImagePtr image1 = makeImage(c.type, int(c.p.size()), 1, c.p);
        EXPECT_EQ(kxPixelMergeE1(image0.get(), image1.get(), c.code, c.scale, c.offset), image0.get());
        EXPECT_EQ(pixels(image0.get()), c.want) << "code " << c.code;
    }
}

TEST(Invert, EveryTypePaddedAndPackedAlphaKept)
{
    // RGBA goes through the table kernels with alpha masked out (compared
    // with the plain lookup in ByteTable); the other types through a byte loop.
    const struct { int type, w; Bytes in, out; } cases[] = {  // two rows
        {KIT_BIN, 3, {0, 1, 1, 1, 0, 0}, {1, 0, 0, 0, 1, 1}},
        {KIT_GRAY, 2, {0, 200, 7, 255}, {255, 55, 248, 0}},
        {KIT_RGBA, 1, {1, 2, 3, 4, 5, 6, 7, 8}, {254, 253, 252, 4, 250, 249, 248, 8}},
    };
    for (const auto &c : cases) {
        PaddedImage padded(c.type, c.w, 2, c.in);
        ImagePtr packed = makeImage(c.type, c.w, 2, c.in);
        EXPECT_EQ(kxInvert(padded.get()), padded.get());
        EXPECT_EQ(kxInvert(packed.get()), packed.get());
        EXPECT_EQ(pixels(padded.get()), c.out) << c.type;
        EXPECT_EQ(pixels(packed.get()), c.out) << c.type;
    }
}

TEST(CopyPixels, RectanglesClipAndNegativeStartsShorten)
{
    // A 4 x 3 destination; source pixel value = 10*y + x + 1.
    const struct { const char *name; int sx, sy, sw, sh, dx, dy, dw, dh; Bytes want; } cases[] = {
        {"whole image", 0, 0, 0, 0, 0, 0, -1, -1, {1, 2, 3, 4, 11, 12, 13, 14, 21, 22, 23, 24}},
        {"offset destination clips", 1, 1, -1, -1, 2, 1, -1, -1, {0, 0, 0, 0, 0, 0, 12, 13, 0, 0, 22, 23}},
        {"negative dy shortens the height", 0, 0, -1, -1, 0, -2, -1, -1, {1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"start outside does nothing", 4, 0, -1, -1, 0, 0, -1, -1, Bytes(12, 0)},
        {"INT_MIN start does nothing", INT32_MIN, 0, 2, 2, 0, 0, -1, -1, Bytes(12, 0)},
    };
    Bytes src;
    for (int i = 0; i < 12; ++i) src.push_back(uint8_t(10 * (i / 4) + i % 4 + 1));
    for (const auto &c : cases) {
        ImagePtr s = makeImage(KIT_GRAY, 4, 3, src);
        PaddedImage d(KIT_GRAY, 4, 3);
        kxCopyPixels(s.get(), c.sx, c.sy, c.sw, c.sh, d.get(), c.dx, c.dy, c.dw, c.dh);
        EXPECT_EQ(pixels(d.get()), c.want) << c.name;
    }
    // A negative start shortens the width in pixels: seven three-byte columns from -3 with width 10.
    ImagePtr s = randomImage(KIT_RGB, 12, 1, 5), d = makeImage(KIT_RGB, 12, 1);
    kxCopyPixels(s.get(), -3, 0, 10, 1, d.get(), 0, 0, -1, -1);
    const auto ps = pixels(s.get()), pd = pixels(d.get());
    for (size_t i = 0; i < pd.size(); ++i) EXPECT_EQ(pd[i], i < 21 ? ps[i] : 0) << i;
}

TEST(CopyPixelsE2, PastesUnderMaskAndClips)
{
    ImagePtr s = makeImage(KIT_GRAY, 3, 2, {1, 2, 3, 4, 5, 6});
    ImagePtr m = makeImage(KIT_BIN, 3, 2, {1, 0, 1, 1, 1, 0});
    PaddedImage d(KIT_GRAY, 4, 3);
    kxCopyPixelsE2(s.get(), d.get(), 2, 1, m.get());
    EXPECT_EQ(pixels(d.get()), (Bytes{0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 4, 5}));
    PaddedImage e(KIT_GRAY, 4, 3);
    kxCopyPixelsE2(s.get(), e.get(), -1, 0, nullptr);  // source not shifted
    EXPECT_EQ(pixels(e.get()), (Bytes{1, 2, 3, 0, 4, 5, 6, 0, 0, 0, 0, 0}));
    ImagePtr wrongMask = makeImage(KIT_BIN, 2, 2);
    PaddedImage f(KIT_GRAY, 4, 3);
    kxCopyPixelsE2(s.get(), f.get(), 0, 0, wrongMask.get());
    EXPECT_EQ(pixels(f.get()), Bytes(12, 0));
}

TEST(ReplaceChannel, FromBinaryGreyAndColour)
{
    // Selection bits: 1 blue, 2 green, 4 red, 8 alpha (from a one-channel image only).
    const Bytes start = {1, 2, 3, 4, 5, 6, 7, 8};
    const struct { int type; Bytes source; int selection; Bytes out; } cases[] = {
        {KIT_BIN, {1, 0}, 4, {1, 2, 255, 4, 5, 6, 0, 8}},
        {KIT_GRAY, {90, 91}, 1 | 8, {90, 2, 3, 90, 91, 6, 7, 91}},
        {KIT_RGB, {31, 32, 33, 41, 42, 43}, 2 | 8, {1, 32, 3, 4, 5, 42, 7, 8}},
        {KIT_RGB, {31, 32, 33, 41, 42, 43}, 7, {31, 32, 33, 4, 41, 42, 43, 8}},
        {KIT_GRAY, {0}, 7, start},  // another size
    };
    for (const auto &c : cases) {
        PaddedImage im(KIT_RGBA, 2, 1, start);
        ImagePtr source = makeImage(c.type, int(c.source.size()) / bpp(c.type), 1, c.source);
        EXPECT_EQ(kxReplaceChannel(im.get(), source.get(), c.selection), im.get());
        EXPECT_EQ(pixels(im.get()), c.out) << c.type << " " << c.selection;
    }
    ImagePtr im = makeImage(KIT_RGBA, 2, 1, start), grey = makeImage(KIT_GRAY, 2, 1);
    EXPECT_KX_ASSERT(kxReplaceChannel(im.get(), grey.get(), 0), "image && channel");
}

TEST(ReplacePixels, MatchesPerTypeAndUnderMask)
{
    ImagePtr mask = makeImage(KIT_GRAY, 3, 1, {1, 1, 0});  // limits to 3 columns
    const struct { int type, w; Bytes in; uint32_t from, to; const Image *mask; Bytes out; } cases[] = {
        {KIT_GRAY, 4, {44, 7, 44, 44}, 44, 300, mask.get(), {255, 7, 44, 44}},  // the new colour clamps
        {KIT_GRAY, 4, {44, 7, 44, 44}, 300, 1, nullptr, {44, 7, 44, 44}},       // an old colour above 255 never matches
        {KIT_BIN, 3, {1, 0, 1}, 5, 0, nullptr, {1, 0, 1}},                      // 5 is not 1
        {KIT_BIN, 3, {1, 0, 1}, 1, 0, nullptr, {0, 0, 0}},
        // Alpha ignored on KIT_RGB.
        {KIT_RGB, 2, {3, 2, 1, 3, 2, 9}, 0xFF010203u, 0x00AABBCCu, nullptr, {0xCC, 0xBB, 0xAA, 3, 2, 9}},
        {KIT_RGBA, 2, {3, 2, 1, 0, 3, 2, 1, 5}, 0x05010203, 0x11223344, nullptr, {3, 2, 1, 0, 0x44, 0x33, 0x22, 0x11}},
    };
    for (const auto &c : cases) {
        PaddedImage im(c.type, c.w, 1, c.in);
        kxReplacePixels(im.get(), c.from, c.to, c.mask);
        EXPECT_EQ(pixels(im.get()), c.out) << c.type << " " << c.from;
    }
}

TEST(Clip, CropsInPlace)
{
    Bytes src;  // pixel value 10 * y + x
    for (int i = 0; i < 48; ++i) src.push_back(uint8_t(10 * (i / 8) + i % 8));
    ImagePtr im = makeImage(KIT_GRAY, 8, 6, src);
    EXPECT_EQ(kxClip(im.get(), 10, 10, 9, 20), im.get());
    EXPECT_EQ(im->width, 8);
    EXPECT_EQ(kxClip(im.get(), 2, 3, 5, 4), im.get());
    EXPECT_TRUE(im->width == 4 && im->height == 2);
    EXPECT_EQ(pixels(im.get()), (Bytes{32, 33, 34, 35, 42, 43, 44, 45}));
    // A negative left shortens the copy, which lands at the top-left.
    ImagePtr im2 = makeImage(KIT_GRAY, 8, 6, src);
    kxClip(im2.get(), -2, 0, 1, 0);
    EXPECT_EQ(pixels(im2.get()), (Bytes{0, 1, 0, 0}));
    PaddedImage wrapped(KIT_GRAY, 8, 6, src);
    kxClip(wrapped.get(), 0, 0, 3, 3);  // a virtual image cannot change size
    EXPECT_EQ(wrapped.get()->width, 8);
}

TEST(GetPixel, OutsideAndUnusableRecordsReadZero)
{
    // (The colour values of KIT_RGB and KIT_RGBA: through tests/draw.)
    ImagePtr im = makeImage(KIT_GRAY, 2, 2, {9, 9, 9, 7});
    EXPECT_EQ(kxGetPixel(im.get(), 1, 1), 7u);
    EXPECT_EQ(kxGetPixel(im.get(), 2, 0), 0u);
    EXPECT_EQ(kxGetPixel(im.get(), 0, -1), 0u);
    // Outside the types, inside 1..32 but not a type, disagreeing with the one-channel `type`.
    for (int bad : {40, 16, KIT_RGB}) {
        im->imageType = bad;
        EXPECT_EQ(kxGetPixel(im.get(), 0, 0), 0u) << bad;
    }
    EXPECT_KX_ASSERT(kxGetPixel(nullptr, 0, 0), "image");
}

TEST(GetPixelE1, AveragesTheClippedWindow)
{
    const struct { const char *name; int type, w, h; Bytes px; int x, y, radius; uint32_t want; } cases[] = {
        {"2 of 4 at a corner ties to 1", KIT_BIN, 2, 2, {1, 0, 0, 1}, 0, 0, 1, 1},
        {"4 of 9 is not half", KIT_BIN, 3, 3, {1, 1, 1, 1, 0, 0, 0, 0, 0}, 1, 1, 1, 0},
        {"grey corner counts only inside pixels", KIT_GRAY, 2, 2, {10, 20, 30, 41}, 0, 0, 5, 25},
        {"negative radius is its magnitude", KIT_GRAY, 3, 1, {0, 3, 7}, 1, 0, -1, 3},
        {"rgb per channel", KIT_RGB, 2, 1, {10, 20, 30, 11, 21, 32}, 0, 0, 1, 0xFF1F140Au},
        {"rgba averages alpha", KIT_RGBA, 2, 1, {0, 0, 0, 100, 0, 0, 0, 201}, 1, 0, 1, 0x96000000u},
        {"no pixel visited, rgb", KIT_RGB, 1, 1, {5, 5, 5}, 50, 50, 1, 0xFF000000u},
        {"huge radius does not overflow", KIT_GRAY, 2, 1, {4, 8}, 0, 0, INT32_MIN, 6},
    };
    for (const auto &c : cases) {
        ImagePtr im = makeImage(c.type, c.w, c.h, c.px);
        EXPECT_EQ(kxGetPixelE1(im.get(), c.x, c.y, c.radius), c.want) << c.name;
    }
}

TEST(SetPixel, ColourRulesPerSetterOutsideAndBadInput)
{
    const struct { const char *name; int type; uint32_t colour; Bytes viaSetPixel, viaSetPixelEx; } cases[] = {
        {"bin any non-zero", KIT_BIN, 0xFF000000u, {1}, {1}},
        {"bin zero", KIT_BIN, 0, {0}, {0}},
        {"gray small", KIT_GRAY, 200, {200}, {200}},
        {"gray 256: clamp vs luminance", KIT_GRAY, 0x100, {255}, {0}},
        {"gray red: clamp vs 255*0.299", KIT_GRAY, 0x00FF0000u, {255}, {76}},
        {"rgb", KIT_RGB, 0xAA112233u, {0x33, 0x22, 0x11}, {0x33, 0x22, 0x11}},
        {"rgba", KIT_RGBA, 0xAA112233u, {0x33, 0x22, 0x11, 0xAA}, {0x33, 0x22, 0x11, 0xAA}},
    };
    for (const auto &c : cases) {
        ImagePtr a = makeImage(c.type, 1, 1), b = makeImage(c.type, 1, 1);
        kxSetPixel(a.get(), 0, 0, c.colour);
        kxSetPixelEx(b.get(), c.colour, nullptr, 0);
        EXPECT_EQ(pixels(a.get()), c.viaSetPixel) << c.name;
        EXPECT_EQ(pixels(b.get()), c.viaSetPixelEx) << c.name;
    }
    PaddedImage im(KIT_GRAY, 3, 2);
    for (auto [x, y] : {std::pair{3, 0}, {-1, 1}, {0, INT32_MIN}}) kxSetPixel(im.get(), x, y, 9);
    EXPECT_EQ(pixels(im.get()), Bytes(6, 0));
}

TEST(SetPixelE1, ShiftsSkipsOutsideAndIgnoresEmptyLists)
{
    PaddedImage im(KIT_GRAY, 4, 3);
    const int pts[] = {0, 0, 3, 2, 2, 1, INT32_MAX, 0, -5, -5};
    kxSetPixelE1(im.get(), pts, 0, 0, 0, 50);
    kxSetPixelE1(im.get(), nullptr, 3, 0, 0, 50);
    EXPECT_EQ(pixels(im.get()), Bytes(12, 0));
    kxSetPixelE1(im.get(), pts, 5, 1, 0, 300);  // clamps like kxSetPixel
    EXPECT_EQ(pixels(im.get()), (Bytes{0, 255, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0}));
}

TEST(SetPixelEx, MaskSelectsAndLimitsTheArea)
{
    // A 2 x 2 mask (its own pitch) on a 3 x 3 image: the third row and
    // column stay; inverted, the mask's zeros are set.  Then a derived Mask,
    // which keeps its anchor where an Image keeps imageType: the fill reads
    // only its bytes.
    PaddedImage mask(KIT_BIN, 2, 2, {1, 0, 0, 1}, 3);
    ImagePtr bin = makeImage(KIT_BIN, 3, 1, {0, 1, 1});
    Mask *derived = kmkDeriveMask(bin.get());
    ASSERT_NE(derived, nullptr);
    const struct { int type, w, h; const Image *mask; int invert; Bytes want; } cases[] = {
        {KIT_RGB, 3, 3, mask.get(), 0, {3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 2, 1, 0, 0, 0}},
        {KIT_GRAY, 3, 3, mask.get(), 1, {0, 9, 0, 9, 0, 0, 0, 0, 0}},
        {KIT_GRAY, 3, 1, reinterpret_cast<const Image *>(derived), 0, {0, 9, 9}},
    };
    for (const auto &c : cases) {
        PaddedImage im(c.type, c.w, c.h);
        kxSetPixelEx(im.get(), c.type == KIT_RGB ? 0x00010203u : 9, c.mask, c.invert);
        Bytes want = c.want;
        want.resize(size_t(c.w) * c.h * bpp(c.type));
        EXPECT_EQ(pixels(im.get()), want) << c.type << " " << c.invert;
    }
    kxDestroyMask(derived);
}

TEST(ByteTable, EveryLevelMatchesTheDirectLookup)
{
    const int guard = 80;  // random bytes around the run, which must stay
    kxtest::atEveryLevel([&](kx::isa::Level level) {
        const kx::lut::Kernel k = kx::lut::kernel(level);
        uint32_t seed = 1;
        for (int kind = 0; kind < 4; ++kind) {
            Bytes lut = randomBytes(256, seed++);  // random, reversed, a step at the half, a wrapping ramp
            for (int v = 0; kind > 0 && v < 256; ++v)
                lut[size_t(v)] = uint8_t(kind == 1 ? 255 - v : kind == 2 ? v >= 128 : v * 7 + 3);
            for (int bpp : {1, 3, 4})
                for (unsigned bits = 0; bits < 16; ++bits)
                    for (size_t pixelsInRun : {0, 1, 2, 5, 10, 11, 21, 22, 31, 32, 33, 63, 64, 65, 97, 200, 1001}) {
                        const size_t n = pixelsInRun * size_t(bpp), offset = seed % 7;  // unaligned starts
                        Bytes buf = randomBytes(n + 2 * guard + offset, seed++);
                        Bytes want = buf;
                        uint8_t *run = want.data() + guard + offset;
                        for (size_t i = 0; i < n; ++i)
                            if (bits >> (i % bpp) & 1u) run[i] = lut[run[i]];
                        kx::lut::mapRun(k, buf.data() + guard + offset, n, lut.data(), bpp, bits);
                        ASSERT_EQ(buf, want) << "table " << kind << " bpp " << bpp << " bits " << bits
                                             << " pixels " << pixelsInRun;
                    }
        }
    });
}
