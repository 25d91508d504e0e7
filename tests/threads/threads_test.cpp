// The threads setting (call and environment) and the row-band runner.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

#include "kxthreads.h"
#include "kxthreads_bands.hpp"

namespace {

using kx::threads::Bands;

// Forgets the setting and the environment variable before and after.
class Threads : public testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override
    {
        kxtSetThreads(-1);
        unsetenv("KXPRE_THREADS");
    }
};

// Off by default; until a count is set the environment decides, read at
// every call; a set count wins over it, off included, and is clamped to off
// or the maximum; -1 hands back to the environment.
TEST_F(Threads, SetCountIsClampedAndTheEnvironmentDecidesUntilOneIsSet)
{
    EXPECT_EQ(kxtGetThreads(), 1);
    const std::pair<const char *, int> env[] = {{"4", 4}, {" 3 ", 3}, {"-5", 1}, {"1000", KXT_MAX_THREADS},
                                                {"", 1}, {"4x", 1}, {"99999999999999999999999", 1}};
    for (const auto &[value, get] : env) {
        setenv("KXPRE_THREADS", value, 1);
        EXPECT_EQ(kxtGetThreads(), get) << '"' << value << '"';
    }
    setenv("KXPRE_THREADS", "6", 1);
    const std::pair<int, int> cases[] = {{0, 1}, {1, 1}, {8, 8}, {KXT_MAX_THREADS, KXT_MAX_THREADS},
                                         {KXT_MAX_THREADS + 1, KXT_MAX_THREADS}};
    for (const auto &[set, get] : cases) {
        kxtSetThreads(set);
        EXPECT_EQ(kxtGetThreads(), get) << set;
    }
    kxtSetThreads(-1);
    EXPECT_EQ(kxtGetThreads(), 6);
}

// Bands hold at least the minimum rows (the fewest that make the minimum
// pixels), are no more than the threads, and cover the rows evenly.
TEST_F(Threads, BandsRespectTheSettingAndTheMinimumAndCoverTheRowsEvenly)
{
    const struct { int threads, rows, minRows, bands; } cases[] = {
        {1, 1000, 1, 1}, {4, 1000, 1, 4}, {4, 1000, 300, 3}, {4, 1000, 501, 1},
        {4, 3, 1, 3}, {4, 0, 1, 1}, {8, 1000, -3, 8}, {2, INT_MAX, 1, 2}};
    for (const auto &c : cases) {
        kxtSetThreads(c.threads);
        EXPECT_EQ(kx::threads::bandCount(c.rows, c.minRows), c.bands)
            << c.threads << " threads, " << c.rows << " rows, at least " << c.minRows;
    }
    using kx::threads::kMinBandPixels, kx::threads::minRows;
    EXPECT_EQ(std::pair(minRows(0), minRows(int64_t(1) << 40)), std::pair(kMinBandPixels, 1));
    for (int w : {1, 3, 255, 4096, 70000})
        EXPECT_TRUE(int64_t(minRows(w)) * w >= kMinBandPixels && int64_t(minRows(w) - 1) * w < kMinBandPixels) << w;
    // Consecutive bands of even sizes, none empty, from row 0 to the last
    // (INT_MAX rows: no overflow on the way).
    for (int rows : {1, 7, 4097, INT_MAX})
        for (int count = 1; count <= KXT_MAX_THREADS && count <= rows; count += count < 4 ? 1 : 13) {
            const Bands b{rows, count};
            EXPECT_EQ(std::pair(b.begin(0), b.end(count - 1)), std::pair(0, rows));
            for (int i = 0; i < count; ++i) {
                const int64_t size = int64_t(b.end(i)) - b.begin(i);
                EXPECT_TRUE(size >= 1 && size - int64_t(rows) / count <= 1) << rows << " / " << count << " #" << i;
            }
        }
}

// Threads off: one band on the calling thread; on: every band once, each
// on its own thread, the caller taking the first, and calls from inside a
// band run single-threaded; no rows: no call.
TEST_F(Threads, EveryBandRunsOnceEachOnItsOwnThread)
{
    for (int n : {1, 3, 8}) {
        kxtSetThreads(n);
        const Bands bands = Bands::plan(800, 100);
        ASSERT_EQ(bands.count, n);
        std::vector<std::atomic<int>> runs(800);
        std::vector<std::thread::id> ids(static_cast<size_t>(n));  // each band writes its own
        std::vector<int> inner(static_cast<size_t>(n), -1);
        kx::threads::forEach(bands, [&](int band, int y0, int y1) {
            for (int y = y0; y < y1; ++y) ++runs[size_t(y)];
            ids[size_t(band)] = std::this_thread::get_id();
            inner[size_t(band)] = kx::threads::bandCount(1000, 1);
        });
        for (int y = 0; y < 800; ++y) ASSERT_EQ(runs[size_t(y)], 1) << y;
        EXPECT_EQ(ids[0], std::this_thread::get_id());
        EXPECT_EQ(std::set<std::thread::id>(ids.begin(), ids.end()).size(), size_t(n));
        EXPECT_EQ(inner, std::vector<int>(size_t(n), 1));
        EXPECT_EQ(kx::threads::bandCount(1000, 1), n);  // and the caller's own setting is back
    }
    int calls = 0;
    kx::threads::forBands(0, 1, [&](int, int) { ++calls; });
    EXPECT_EQ(calls, 0);
}

}  // namespace
