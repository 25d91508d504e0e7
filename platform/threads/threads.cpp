// The threads setting and the band runner.
//
// The setting is the one value the image libraries keep between calls: the
// caller's choice of a thread count, like a library-wide option.  It is an
// atomic, so any thread may change it while others run operations.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "kxthreads.h"
#include "kxthreads_bands.hpp"

namespace {

constexpr int kUnset = -1;

std::atomic<int> g_count{kUnset};

// Set on the threads that run a band, so that an operation called from
// inside a band does not start threads of its own.
thread_local bool t_inBand = false;

int clampCount(long n) { return n <= 1 ? 1 : n > KXT_MAX_THREADS ? KXT_MAX_THREADS : int(n); }

// KXPRE_THREADS as a count: a decimal number, optionally signed and
// surrounded by blanks; anything else is off.
int environmentCount()
{
    const char *s = std::getenv("KXPRE_THREADS");
    if (!s) return 1;
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(s, &end, 10);
    if (end == s || errno == ERANGE) return 1;
    while (*end == ' ' || *end == '\t' || *end == '\n') ++end;
    return *end ? 1 : clampCount(n);
}

}  // namespace

extern "C" {

void kxtSetThreads(int count) { g_count.store(count < 0 ? kUnset : clampCount(count), std::memory_order_relaxed); }

int kxtGetThreads(void)
{
    const int n = g_count.load(std::memory_order_relaxed);
    return n == kUnset ? environmentCount() : n;
}

}  // extern "C"

namespace kx::threads {

int bandCount(int rows, int minRows) noexcept
{
    if (t_inBand || rows <= 1) return 1;
    const int most = minRows <= 1 ? rows : rows / minRows;
    const int n = kxtGetThreads();
    return most <= 1 ? 1 : n < most ? n : most;
}

void runBands(int count, void (*fn)(void *ctx, int band), void *ctx) noexcept
{
    if (count <= 1) {
        if (count == 1) fn(ctx, 0);
        return;
    }
    if (count > KXT_MAX_THREADS) count = KXT_MAX_THREADS;
    auto band = [fn, ctx](int i) {
        t_inBand = true;
        fn(ctx, i);
        t_inBand = false;
    };
    std::thread workers[KXT_MAX_THREADS];
    bool started[KXT_MAX_THREADS] = {};
    for (int i = 1; i < count; ++i) {
        try {
            workers[i] = std::thread(band, i);
            started[i] = true;
        } catch (const std::system_error &) {
            // No thread to be had: the band runs below, on this thread.
        }
    }
    const bool outer = t_inBand;
    band(0);
    for (int i = 1; i < count; ++i)
        if (!started[i]) band(i);
    t_inBand = outer;
    for (int i = 1; i < count; ++i)
        if (started[i]) workers[i].join();
}

}  // namespace kx::threads
