// Every export that computes, called one after another in one process on
// images large enough to reach the vectorised paths: after each call the
// caller's floating-point state must be as it was.  A 64-bit vector moved
// through an MMX register without `emms` leaves the x87 stack marked in use,
// and every later long double result in the process becomes NaN.
#include <cfenv>
#include <cmath>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "kxtest.hpp"

using namespace kxtest;

namespace {

struct FpState {
    unsigned tagWord = 0xFFFF;  // 0xFFFF: every x87 register empty
    unsigned mxcsr = 0;  // control bits only: the sticky exception flags (bits 0-5) rise with any rounding
    int rounding = 0;
};

FpState readState()
{
    FpState s;
#if defined(__x86_64__) || defined(__i386__)
    unsigned char env[28];
    asm volatile("fnstenv %0\n\tfldenv %0" : "=m"(env));  // fnstenv masks exceptions; fldenv restores them
    s.tagWord = unsigned(env[8]) | unsigned(env[9]) << 8;
    s.mxcsr = _mm_getcsr() & ~0x3Fu;
#endif
    s.rounding = std::fegetround();
    return s;
}

// A long double computation whose exact result is known: 1/3 with a 64-bit
// mantissa, rounded to nearest, times 3 gives 1 exactly.
bool longDoubleIntact()
{
    volatile long double one = 1.0L, three = 3.0L;
    const long double third = one / three;
    volatile long double product = third * three;
    return product == 1.0L && !std::isnan(third) && std::sqrt((long double)(2.0L)) * std::sqrt((long double)(2.0L)) != 0.0L;
}

struct Call {
    const char *name;
    void (*run)();
};
#define CALL(...) {#__VA_ARGS__, [] { (void)(__VA_ARGS__); }}

// Images large enough for the vectorised paths.
ImagePtr grey(int w = 96, int h = 80, uint32_t seed = 1) { return randomImage(KIT_GRAY, w, h, seed); }
ImagePtr rgb(int w = 96, int h = 80, uint32_t seed = 2) { return randomImage(KIT_RGB, w, h, seed); }
ImagePtr binary(int w = 96, int h = 80, uint32_t seed = 3) { return randomImage(KIT_BIN, w, h, seed); }

std::vector<Call> calls()
{
    static const int poly[] = {5, 5, 80, 10, 60, 70, 10, 50, 40, 30};
    static const float quadA[] = {0, 0, 95, 0, 95, 79, 0, 79}, quadB[] = {3, 2, 90, 5, 92, 75, 1, 70};
    static const FloodRecord tol{{8, 8, 8, 8}};
    return {
        CALL(kxGetPixelE1(grey().get(), 40, 40, 5)), CALL(kxSetPixelEx(rgb().get(), 0x00123456, nullptr, 0)),
        CALL(kxPixelMergeE1(rgb().get(), rgb(96, 80, 9).get(), 1, 0.7f, 3.0f)),
        CALL(kxPixelAdd(grey().get(), grey(96, 80, 9).get())), CALL(kxPixelDiff(rgb().get(), rgb(96, 80, 9).get())),
        CALL(kxPixelMerge(grey().get(), grey(96, 80, 9).get(), 2)),
        CALL(kxInvert(rgb().get())), CALL(kxbSimple(grey().get(), 100, 0)), CALL(kxbOtsu(grey().get(), nullptr)),
        CALL(kxbIsoData(grey().get(), 10, 1)), CALL(kxbMaxEntropy(grey().get())), CALL(kxbMinError(grey().get(), 1)),
        CALL(kxbGetOptima(grey().get(), 2)), CALL(kxbMultiLevel(grey().get(), 3)),
        CALL(kxbLocalIntegral(grey().get(), 31, 128, 0.34f)), CALL(kxThreshold(grey().get(), 1, 0, 0, 0.5)),
        CALL(kxSobel(grey().get(), 3)), CALL(kxKirsch(binary().get(), 0)), CALL(kxRoberts(grey().get())),
        CALL(kxGradient(grey().get(), 0, 2)), CALL(kxDetectEdge(grey().get(), 0, 0, 0.0f, nullptr)),
        CALL(kxSmoothAvg(rgb().get(), 5)), CALL(kxMedian(grey().get(), 3)), CALL(kxMedian(grey().get(), 5)),
        CALL(kxMedian(grey().get(), 9)), CALL(kxMedian(rgb().get(), 3)), CALL(kxMedian(rgb().get(), 7)),
        CALL(kxNormalize(grey().get(), 128, 1200)), CALL(kxEqualize(grey().get())),
        CALL(kxContrast(grey().get(), 0.1f, 0.9f)), CALL(kxExpand(grey().get())),
        CALL(kxLinear(rgb().get(), 1.3f, -7.0f)), CALL(kxLinearEx(rgb().get(), 5, 0.8f, 9.0f)),
        CALL(kxIncreaseLum(grey().get())), CALL(kxThinning(binary().get())), CALL(kxSkeleton(binary().get(), 1)),
        CALL(kxFillHole(binary().get())), CALL(kxRemoveBorder(binary().get())),
        {"kxErode", [] { Mask *m = kxCreateMask(KXM_RECT, 3, 3); kxErode(binary().get(), m); kxDestroyMask(m); }},
        CALL(kxDilateE1(binary().get(), 3)),
        {"kxDistTrans", [] { std::vector<int32_t> d(96 * 80); kxDistTrans(binary().get(), d.data(), uint32_t(d.size())); }},
        CALL(kxErodeE1(binary().get(), 2)), CALL(kxEclose(binary().get(), 5)), CALL(kxRotate(rgb().get(), 1)),
        CALL(kxFlip(grey().get(), 0)), CALL(kxResize(grey().get(), 120, 50, 7)),
        CALL(kxTranslate(grey().get(), 1.5f, -2.25f, 0)), CALL(kxRotateEx(grey().get(), 30, 0, 1)),
        CALL(kxRotateEx(rgb().get(), -17.5, 1, 0)), CALL(kxRotateE2(rgb().get(), 12, 0x00FF00, 0, 0)),
        CALL(kxScale(grey().get(), 0.5f, 2)), CALL(kxScale(rgb().get(), 2.0f, 1)),
        CALL(kxScaleEx(grey().get(), makeImage(KIT_GRAY, 41, 37).get(), 3)),
        CALL(kxScaleE1(grey().get(), 0.7f, 0, 4, 1)), CALL(kxMakeSquarePixel(grey().get(), 3, 2, 2, 0)),
        CALL(kxRotateE3(rgb().get(), 40, 30, 25, 0)), CALL(kxTranslateE1(grey().get(), 3.5, 1.25, 0)),
        CALL(kxSetLine(rgb().get(), 0, 0, 95, 60, 0xFF0000)),
        CALL(kxSetEllipse(grey().get(), 40, 40, 30, 20, 33.0f, 200)),
        CALL(kxFillEllipseE1(grey().get(), EllipseBox{40, 40, 50, 30, 20}, 200)),
        CALL(kxFillPolygon(rgb().get(), poly, 5, 0x00FF00)), CALL(kxFillPolygonE2(grey().get(), poly, 5, 99, 1)),
        CALL(kxFill(grey().get(), 10, 10, 77)), CALL(kxFillText(rgb().get(), "Text 123", 2, 2, 20, 0)),
        CALL(kxWarp(grey().get(), quadA, quadB, makeImage(KIT_GRAY, 96, 80).get())),
        CALL(kxCopyPixelsE3(rgb().get(), makeImage(KIT_RGB, 50, 40).get(), quadB)),
        CALL(kxBlur(grey().get(), 5, 5)), CALL(kxSmoothGaussian(rgb().get(), 7, 7)),
        CALL(kxSmoothMedian(grey().get(), 5)), CALL(kxDestroyImage(kxPyramid(grey().get(), 0, nullptr))),
        CALL(kxCanny(grey().get(), 50, 150, 1, 255)), CALL(kxScharr(grey().get(), 0)),
        CALL(kxMorphology(grey().get(), 2, 2)), CALL(kxAdaptive(grey().get(), 0, 11)),
        CALL(kxFloodFill(rgb().get(), 5, 5, FloodValue{1, 2, 3}, tol, tol, 4, 0)),
        CALL(kxDestroyImage(kxFloodMask(grey().get(), 5, 5, tol, tol, 8, 0, nullptr))),
    };
}

TEST(FloatingPointState, IntactAfterEveryComputingExport)
{
    const FpState before = readState();
    ASSERT_EQ(before.tagWord, 0xFFFFu);
    ASSERT_TRUE(longDoubleIntact());
    for (const Call &c : calls()) {
        SCOPED_TRACE(c.name);
        c.run();
        const FpState after = readState();
        EXPECT_EQ(after.tagWord, 0xFFFFu) << "x87 registers left in use";
        EXPECT_EQ(after.mxcsr, before.mxcsr);
        EXPECT_EQ(after.rounding, before.rounding);
        EXPECT_TRUE(longDoubleIntact());
        if (HasFailure()) return;  // one broken call poisons every later check
    }
}

// Regression: after a 5 x 5 grey median the x87 stack was left full, so a
// long double scale factor became NaN and halving a 4 x 4 image gave 2 x 2.
TEST(FloatingPointState, ScaleAfterMedianKeepsItsSize)
{
    auto im = grey(64, 48);
    kxMedian(im.get(), 5);
    ASSERT_EQ(kxScale(im.get(), 0.5f, 2), 1);
    EXPECT_EQ(std::pair(im->width, im->height), std::pair(32, 24));
}

}  // namespace
