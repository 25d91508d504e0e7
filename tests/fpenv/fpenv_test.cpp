// Every export that computes (the calls of tests/failinject), on images large
// enough to reach the vectorised paths, leaves the caller's floating-point
// state as it was.  Regression: a 64-bit vector moved through an MMX register
// without `emms` (in the 5 x 5 grey median) left the x87 stack marked in use,
// so every later long double result became NaN and kxScale halved a 4 x 4
// image to 2 x 2.
#include <cfenv>
#include <string>
#include <tuple>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "../failinject/export_calls.hpp"
#include "kxtest.hpp"

namespace {

// The x87 tag word (0xFFFF: every register empty), the SSE control bits
// (not the sticky exception flags, bits 0-5, which rise with any rounding)
// and the rounding mode.
std::tuple<unsigned, unsigned, int> fpState()
{
    unsigned tagWord = 0xFFFF, mxcsr = 0;
#if defined(__x86_64__) || defined(__i386__)
    unsigned char env[28];
    asm volatile("fnstenv %0\n\tfldenv %0" : "=m"(env));  // fnstenv masks exceptions; fldenv restores them
    tagWord = unsigned(env[8]) | unsigned(env[9]) << 8;
    mxcsr = _mm_getcsr() & ~0x3Fu;
#endif
    return {tagWord, mxcsr, std::fegetround()};
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
    const auto before = fpState();
    ASSERT_EQ(std::get<0>(before), 0xFFFFu);
    ASSERT_TRUE(longDoubleIntact());
    for (const kxcalls::Case &c : kxcalls::kCases) {
        SCOPED_TRACE(c.name);
        kxcalls::Env(c, 8).run(c.call);  // 96 x 72 pictures
        EXPECT_EQ(fpState(), before) << "x87 registers left in use, or the SSE control or rounding changed";
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
