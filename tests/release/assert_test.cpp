// What a Release build does with a broken precondition: it reports the
// expression with file and line on stderr, returns the do-nothing result and
// carries on.  (Debug builds abort; the other test programs cover that.)
#include <regex>
#include <string>

#include "kxtest.hpp"

using namespace kxtest;

namespace {

#ifdef NDEBUG
struct Case {
    const char *name, *expression;
    std::function<bool()> callReturnsDoNothing;
};

TEST(ReleaseAssertions, ReportExpressionFileAndLineThenReturn)
{
    const int pts[] = {0, 0, 3, 3};
    const Case cases[] = {
        {"kxGradient null", "image", [] { return kxGradient(nullptr, 1, 1) == nullptr; }},
        {"kxGradient gap 0",
         "gap>0",
         [] {
             auto im = randomImage(KIT_GRAY, 4, 4, 1);
             const auto before = pixels(im.get());
             return kxGradient(im.get(), 1, 0) == im.get() && pixels(im.get()) == before;
         }},
        {"kxFlip null", "image", [] { return kxFlip(nullptr, 1) == nullptr; }},
        {"kxSetPolyline null", "image", [&] { return kxSetPolyline(nullptr, pts, 2, 1), true; }},
        {"kxEclose null", "imMask", [] { return kxEclose(nullptr, 3), true; }},
        {"kxClip huge",
         "tmp",
         [] {
             auto im = randomImage(KIT_RGB, 3, 2, 2);
             const auto before = pixels(im.get());
             return kxClip(im.get(), 0, 0, INT32_MAX - 1, INT32_MAX - 1) == im.get() && pixels(im.get()) == before;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        const bool ok = c.callReturnsDoNothing();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(ok);
        const std::regex report("kxpre: assertion \"" + std::string(c.expression) + "\" failed at [^ ]+\\.cpp:[0-9]+\n");
        EXPECT_TRUE(std::regex_search(err, report)) << err;
    }
}
#else
TEST(ReleaseAssertions, ReportExpressionFileAndLineThenReturn) { GTEST_SKIP() << "Debug builds abort instead"; }
#endif

}  // namespace
