// Every export that computes (the calls of tests/failinject), on images large
// enough to reach the vectorised paths, leaves the caller's floating-point
// state as it was.  Regression: a 64-bit vector moved through an MMX register
// without `emms` (in the 5 x 5 grey median) left the x87 stack marked in use,
// so every later long double result became NaN and kxScale halved a 4 x 4
// image to 2 x 2.
#include <cfenv>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "../failinject/export_calls.hpp"
#include "kxtest.hpp"

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
    return product == 1.0L;  // NaN too compares unequal
}

TEST(FloatingPointState, IntactAfterEveryComputingExport)
{
    const FpState before = readState();
    ASSERT_EQ(before.tagWord, 0xFFFFu);
    ASSERT_TRUE(longDoubleIntact());
    for (const kxcalls::Case &c : kxcalls::kCases) {
        SCOPED_TRACE(c.name);
        kxcalls::Env(c, 8).run(c.call);  // 96 x 72 pictures
        const FpState after = readState();
        EXPECT_EQ(after.tagWord, 0xFFFFu) << "x87 registers left in use";
        EXPECT_EQ(std::pair(after.mxcsr, after.rounding), std::pair(before.mxcsr, before.rounding));
        EXPECT_TRUE(longDoubleIntact());
        if (HasFailure()) return;  // one broken call poisons every later check
    }
}

// The fault as users met it.
TEST(FloatingPointState, ScaleAfterFiveByFiveMedianKeepsItsSize)
{
    auto im = kxtest::randomImage(KIT_GRAY, 64, 48, 1);
    kxMedian(im.get(), 5);
    ASSERT_EQ(kxScale(im.get(), 0.5f, 2), 1);
    EXPECT_EQ(std::pair(im->width, im->height), std::pair(32, 24));
}

}  // namespace
