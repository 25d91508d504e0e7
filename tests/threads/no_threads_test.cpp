// With threads off (the default) no call starts a thread, not even the
// vision wrappers whose OpenCV calls would otherwise use OpenCV's pool.
// Each test runs in a process of its own, so the count of the process's
// threads tells.
#include <filesystem>

#include "kxtest.hpp"
#include "kxthreads.h"

namespace {

long threadsOfThisProcess()
{
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return std::distance(begin(tasks), end(tasks));
}

TEST(NoThreadsOfOurOwn, UnlessTheCallerTurnsThemOn)
{
    kxtSetThreads(0);
    unsetenv("KXPRE_THREADS");
    ASSERT_EQ(threadsOfThisProcess(), 1);
    const int w = 1200, h = 1000;  // large enough for row bands
    auto grey = kxtest::randomImage(KIT_GRAY, w, h, 1), rgb = kxtest::randomImage(KIT_RGB, w, h, 2);
    kxSmoothGaussian(grey.get(), 15, 15);
    kxSmoothMedian(rgb.get(), 5);
    kxBlur(grey.get(), 9, 9);
    kxCanny(grey.get(), 50, 150, 0, 0);
    kxMorphology(rgb.get(), 2, 3);
    kxAdaptive(grey.get(), 0, 11);
    const float q[8] = {0, 0, float(w), 0, float(w), float(h), 0, float(h)}, d[8] = {9, 4, 1100, 30, 1190, 990, 3, 900};
    kxWarp(rgb.get(), q, d, kxtest::makeImage(KIT_RGB, w, h).get());
    EXPECT_EQ(threadsOfThisProcess(), 1);
}

}  // namespace
