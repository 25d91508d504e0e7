// Point operations and pixel combination in row bands: every thread count
// gives the bytes of one thread, also for an image combined with itself and
// for two wrapped images sharing memory (which must not be split).
#include <functional>

#include "kxtest.hpp"
#include "kxthreads.h"

using namespace kxtest;

namespace {

// The output bytes of `run` on fresh inputs with 1, 2, 3 and 8 threads.
void expectSameForEveryCount(const char *name, const std::function<std::vector<uint8_t>()> &run)
{
    std::vector<uint8_t> one;
    for (int n : {1, 2, 3, 8}) {
        kxtSetThreads(n);
        const auto got = run();
        kxtSetThreads(-1);
        if (n == 1) one = got;
        EXPECT_EQ(got, one) << name << " with " << n << " threads";
    }
}

TEST(PixelThreads, EveryThreadCountGivesTheSameBytes)
{
    for (auto [w, h] : {std::pair{257, 2100}, {70000, 9}}) {
        // op(a, b) on random images of `type`; the bytes of b.
        auto run = [&](int type, std::function<void(Image *, Image *)> op) {
            return [=] {
                auto a = randomImage(type, w, h, 1), b = randomImage(type, w, h, 2);
                op(a.get(), b.get());
                return pixels(b.get());
            };
        };
        expectSameForEveryCount("linear grey", run(KIT_GRAY, [](Image *, Image *b) { kxLinear(b, 1.7f, -20.0f); }));
        expectSameForEveryCount("linear RGB", run(KIT_RGB, [](Image *, Image *b) { kxLinearEx(b, 5, 0.8f, 9.0f); }));
        expectSameForEveryCount("invert RGBA", run(KIT_RGBA, [](Image *, Image *b) { kxInvert(b); }));
        expectSameForEveryCount("simple", run(KIT_GRAY, [](Image *, Image *b) { kxbSimple(b, 100, 1); }));
        expectSameForEveryCount("add", run(KIT_RGB, [](Image *a, Image *b) { kxPixelAdd(a, b); }));
        expectSameForEveryCount("diff", run(KIT_GRAY, [](Image *a, Image *b) { kxPixelDiff(a, b); }));
        expectSameForEveryCount("merge scaled", run(KIT_GRAY, [](Image *a, Image *b) {
                                    kxPixelMergeE1(b, a, KX_MERGE_ADD, 0.5f, 3.0f);
                                }));
        expectSameForEveryCount("add to itself", run(KIT_GRAY, [](Image *, Image *b) { kxPixelAdd(b, b); }));
    }
    // Two wrapped images over one buffer, the second starting one row later:
    // the plain row order decides the result, so it must not be split.
    const int w = 300, h = 900;
    expectSameForEveryCount("overlapping", [&] {
        std::vector<uint8_t> buf = randomBytes(size_t(w) * (h + 1), 9);
        ImagePtr a(kxCreateImageEx(KIT_GRAY, w, h, w, buf.data(), 0)), b(kxCreateImageEx(KIT_GRAY, w, h, w, buf.data() + w, 0));
        kxPixelAdd(a.get(), b.get());
        return buf;
    });
}

}  // namespace
