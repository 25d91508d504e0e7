// Calls from many threads at once give the serial results byte for byte.
// Built with -DKX_TSAN=ON (tests/tsan/run.sh), ThreadSanitizer also reports
// any data race between the calls.
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "../failinject/export_calls.hpp"
#include "kxtest.hpp"  // also the leak checker's fontconfig suppression
#include "kxthreads.h"
#include "kxthreads_bands.hpp"

namespace {

using namespace kxcalls;

std::string result(const Case &c, int scale) { return bytesOf(Env(c, scale).run(c.call)); }

// Runs the cases serially with the library's threads off, then from 8
// threads at once with `libraryThreads` set, each walking the table
// `rounds` times from its own start and in its own direction; returns the
// names of the cases whose results differ from the serial ones.
std::string differing(const std::vector<Case> &cases, int scale, int rounds, int libraryThreads)
{
    const size_t n = cases.size();
    kxtSetThreads(0);
    std::vector<std::string> serial;
    for (const Case &c : cases) serial.push_back(result(c, scale));
    kxtSetThreads(libraryThreads);
    std::vector<std::string> bad(8);
    std::vector<std::thread> pool;
    for (size_t t = 0; t < bad.size(); ++t)
        pool.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round)
                for (size_t k = 0; k < n; ++k) {
                    const size_t i = t % 2 ? (k + t * 5) % n : n - 1 - (k + t * 3) % n;
                    if (result(cases[i], scale) != serial[i]) bad[t] += std::string(cases[i].name) + "; ";
                }
        });
    for (std::thread &th : pool) th.join();
    kxtSetThreads(-1);
    return std::accumulate(bad.begin(), bad.end(), std::string());
}

TEST(Threads, EightThreadsGiveTheSerialResults)
{
    EXPECT_EQ(differing({std::begin(kCases), std::end(kCases)}, 4, 2, 0), "");  // 48 x 36 pictures
}

// Operations that split their rows into bands, from 8 callers at once with 4
// library threads.  The images are just large enough for 3 bands (a band
// holds at least 65536 pixels; edge operations band all rows but 2).
TEST(Threads, EightCallersWithLibraryThreadsOnGiveTheSerialResults)
{
    const Picture grey{G, 256, 770}, colour{C, 256, 770};
    const std::vector<Case> banded = {
        {"kxSobel", grey, {}, RET(kxSobel(a, 0))}, {"kxEqualize", grey, {}, RET(kxEqualize(a))},
        {"kxDetectEdge", grey, {}, RET(kxDetectEdge(a, 0, 0, 0.0f, nullptr))},
        {"kxLinear", {A, 256, 770}, {}, RET(kxLinear(a, 1.7f, -20.0f))},
        {"kxbOtsu", grey, {}, RET(kxbOtsu(a, nullptr))}, {"kxbMultiLevel", grey, {}, RET(kxbMultiLevel(a, 3))},
        {"kxPixelMergeE1", colour, colour, RET(kxPixelMergeE1(a, b, 2, 1.5f, 3.0f))},
    };
    kxtSetThreads(4);
    using kx::threads::bandCount, kx::threads::minRows;
    for (const Case &c : banded) ASSERT_EQ(bandCount(c.a.h - 2, minRows(c.a.w)), 3) << c.name;
    EXPECT_EQ(differing(banded, 1, 1, 4), "");
}

}  // namespace
