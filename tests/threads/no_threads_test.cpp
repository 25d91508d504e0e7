// With threads off (the default) no export starts a thread, not even the
// vision wrappers whose OpenCV calls would otherwise use OpenCV's pool.
//
// A process may hold threads before its first call: those of libraries the
// system loads with ours (OpenBLAS, where it is the system's BLAS, starts its
// pool when OpenCV's core loads it through LAPACK).  They are not counted:
// the tests count the threads started between two points, through this
// program's own pthread_create, which every library of the process calls.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../failinject/export_calls.hpp"
#include "kxtest.hpp"
#include "kxthreads.h"

namespace {

std::atomic<long> threadsStarted{0};

long threadsOfThisProcess()
{
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return std::distance(begin(tasks), end(tasks));
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int pthread_create(pthread_t *thread, const pthread_attr_t *attr,
                                                                     void *(*start)(void *), void *arg) noexcept
{
    using Create = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const auto next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    threadsStarted.fetch_add(1);
    return next ? next(thread, attr, start, arg) : EAGAIN;
}

namespace {

// Every export that takes an image (tests/failinject/export_calls.hpp), on
// pictures large enough for row bands and OpenCV's pool.
void calls()
{
    for (const kxcalls::Case &c : kxcalls::kCases) kxcalls::Env(c, 60).run(c.call);  // 720 x 540
}

TEST(NoThreadsOfOurOwn, UnlessTheCallerTurnsThemOn)
{
    kxtSetThreads(0);
    unsetenv("KXPRE_THREADS");
    const long present = threadsOfThisProcess(), started = threadsStarted.load();
    calls();
    EXPECT_EQ(threadsStarted.load() - started, 0);
    EXPECT_EQ(threadsOfThisProcess(), present);
    // The count sees the threads a call does start once they are on.
    kxtSetThreads(4);
    calls();
    kxtSetThreads(-1);
    EXPECT_GE(threadsStarted.load() - started, 3);
}

// Loading our libraries starts no thread: with the system's BLAS asked for
// one thread (OPENBLAS_NUM_THREADS=1, read by OpenBLAS when it loads), a new
// process running this program has only its main thread before any call.
TEST(NoThreadsOfOurOwn, NoneAtLoadWhenTheBlasIsAskedForOne)
{
    if (std::getenv("KX_AT_LOAD_CHILD")) {
        // The child: nothing of this program has run yet but the loader and
        // the test framework.
        EXPECT_EQ(threadsStarted.load(), 0);
        EXPECT_EQ(threadsOfThisProcess(), 1);
        return;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("KX_AT_LOAD_CHILD", "1", 1);
        setenv("OPENBLAS_NUM_THREADS", "1", 1);
        execl("/proc/self/exe", "no_threads_child", "--gtest_filter=NoThreadsOfOurOwn.NoneAtLoadWhenTheBlasIsAskedForOne",
              static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
