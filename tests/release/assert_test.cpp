// What a Release build does with a broken precondition: it reports the
// expression with file and line on stderr, returns the do-nothing result and
// carries on.  (Debug builds abort; the other test programs cover that.)
#include <regex>
#include <string>

#include "kxtest.hpp"

using namespace kxtest;

namespace {

// The call returns `im` with its pixels as they were.
bool doesNothing(ImagePtr im, Image *(*call)(Image *))
{
    const auto before = pixels(im.get());
    return call(im.get()) == im.get() && pixels(im.get()) == before;
}

TEST(ReleaseAssertions, ReportExpressionFileAndLineThenReturn)
{
#ifndef NDEBUG
    GTEST_SKIP() << "Debug builds abort instead";
#endif
    // One row per kind of guard: image, argument, void export, scratch image.
    // A void export has no result to check: its row is the report alone.
    const std::pair<const char *, bool (*)()> cases[] = {
        {"image", [] { return kxGradient(nullptr, 1, 1) == nullptr; }},
        {"gap>0",
         [] { return doesNothing(randomImage(KIT_GRAY, 4, 4, 1), [](Image *im) { return kxGradient(im, 1, 0); }); }},
        {"imMask", nullptr},
        {"tmp", [] {
             return doesNothing(randomImage(KIT_RGB, 3, 2, 2),
                                [](Image *im) { return kxClip(im, 0, 0, INT32_MAX - 1, INT32_MAX - 1); });
         }},
    };
    for (const auto &[expression, callReturnsDoNothing] : cases) {
        SCOPED_TRACE(expression);
        testing::internal::CaptureStderr();
        if (callReturnsDoNothing)
            EXPECT_TRUE(callReturnsDoNothing());
        else
            kxEclose(nullptr, 3);
        const std::string err = testing::internal::GetCapturedStderr();
        const std::regex report("kxpre: assertion \"" + std::string(expression) + "\" failed at [^ ]+\\.cpp:[0-9]+\n");
        EXPECT_TRUE(std::regex_search(err, report)) << err;
    }
}

}  // namespace
