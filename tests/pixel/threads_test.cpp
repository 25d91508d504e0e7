// Point operations and pixel combination in row bands: every thread count
// gives the bytes of one thread, also for an image combined with itself and
// for two wrapped images sharing memory (which must not be split).
#include <functional>

#include "kxtest.hpp"
#include "kxthreads.h"

using namespace kxtest;

namespace {

struct ThreadCount {
    explicit ThreadCount(int n) { kxtSetThreads(n); }
    ~ThreadCount() { kxtSetThreads(-1); }
};

// Runs `call` on fresh copies of the inputs with 1, 2, 3 and 8 threads and
// expects the same output bytes each time.
void expectSameForEveryCount(const std::string &name, const std::function<std::vector<uint8_t>()> &call)
{
    std::vector<uint8_t> one;
    {
        ThreadCount t(1);
        one = call();
    }
    for (int n : {2, 3, 8}) {
        ThreadCount t(n);
        EXPECT_EQ(call(), one) << name << " with " << n << " threads";
    }
}

TEST(PixelThreads, EveryThreadCountGivesTheSameBytes)
{
    for (auto [w, h] : {std::pair{257, 2100}, {70000, 9}}) {
        const auto run1 = [&](int type, uint32_t seed, std::function<void(Image *)> op) {
            return [=] {
                auto im = randomImage(type, w, h, seed);
                op(im.get());
                return pixels(im.get());
            };
        };
        const auto run2 = [&](int type, std::function<void(Image *, Image *)> op) {
            return [=] {
                auto a = randomImage(type, w, h, 1), b = randomImage(type, w, h, 2);
                op(a.get(), b.get());
                return pixels(b.get());
            };
        };
        expectSameForEveryCount("linear grey", run1(KIT_GRAY, 3, [](Image *i) { kxLinear(i, 1.7f, -20.0f); }));
        expectSameForEveryCount("linear RGB", run1(KIT_RGB, 4, [](Image *i) { kxLinearEx(i, 5, 0.8f, 9.0f); }));
        expectSameForEveryCount("invert RGBA", run1(KIT_RGBA, 5, [](Image *i) { kxInvert(i); }));
        expectSameForEveryCount("simple", run1(KIT_GRAY, 6, [](Image *i) { kxbSimple(i, 100, 1); }));
        expectSameForEveryCount("add", run2(KIT_RGB, [](Image *a, Image *b) { kxPixelAdd(a, b); }));
        expectSameForEveryCount("diff", run2(KIT_GRAY, [](Image *a, Image *b) { kxPixelDiff(a, b); }));
        expectSameForEveryCount("merge scaled", run2(KIT_GRAY, [](Image *a, Image *b) {
                                    kxPixelMergeE1(b, a, KX_MERGE_ADD, 0.5f, 3.0f);
                                }));
        expectSameForEveryCount("add to itself", run1(KIT_GRAY, 7, [](Image *i) { kxPixelAdd(i, i); }));
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
