// Injected allocation failures (docs/reliability.md).  The program wraps the
// libraries' allocating entry points (the dynamic linker resolves their calls
// here); each call of export_calls.hpp is run once to count the sites it
// reaches, then again with site 0, 1, ... failing in turn.  After each run
// nothing it allocated is still held (but an image it returns), every image
// is well formed and holds its input or the full result (or, where a partial
// result is documented, is only well formed), and wrapped images' padding
// and guard bytes are untouched.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "export_calls.hpp"

namespace {

struct Injector {
    bool armed = false;
    long calls = 0;    // allocating calls seen while armed
    long failAt = -1;  // the call that fails (-1: none)
    std::set<void *> held;  // blocks, images and elements made while armed, not yet released

    bool fail() { return armed && calls++ == failAt; }
    template <class T> T *made(T *p)
    {
        if (p && armed) held.insert(p);
        return p;
    }
};
Injector gInject;

template <class F> F real(const char *name)
{
    void *p = dlsym(RTLD_NEXT, name);
    if (!p) {
        std::fprintf(stderr, "failinject: %s not found\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(p);
}

}  // namespace

// NAME's wrapper: fails with FAILED when its turn comes, else calls through
// and passes the result to KEEP (`r` is the result).
#define KX_WRAP(Ret, name, params, args, failed, keep)                                                            \
    extern "C" __attribute__((visibility("default"))) Ret name params                                             \
    {                                                                                                             \
        static auto next = real<Ret(*) params>(#name);                                                            \
        if (gInject.fail()) return failed;                                                                        \
        Ret r = next args;                                                                                        \
        return keep;                                                                                              \
    }
#define KX_FORGET(name, T)                                                                                        \
    extern "C" __attribute__((visibility("default"))) void name(T *p)                                             \
    {                                                                                                             \
        static auto next = real<void (*)(T *)>(#name);                                                            \
        gInject.held.erase(p);                                                                                    \
        next(p);                                                                                                  \
    }

KX_WRAP(void *, kxAlloc, (uint64_t bytes), (bytes), nullptr, gInject.made(r))
KX_WRAP(Image *, kxCreateImageEx, (int type, int w, int h, int pitch, void *data, int flags),
        (type, w, h, pitch, data, flags), nullptr, gInject.made(r))
KX_WRAP(Image *, kxCreateImage, (int type, int w, int h), (type, w, h), nullptr, gInject.made(r))
KX_WRAP(Image *, kxiClone, (const Image *src, Image *dst), (src, dst), nullptr,
        dst ? r : gInject.made(r))
KX_WRAP(Image *, kxiCast, (Image * im, int type), (im, type), nullptr, r)
KX_WRAP(int, kxiSetSize, (Image * im, int w, int h), (im, w, h), 0, r)
KX_WRAP(int, kxiResize, (Image * im, int w, int h), (im, w, h), 0, r)
KX_WRAP(Mask *, kxCreateMask, (int shape, int w, int h), (shape, w, h), nullptr, gInject.made(r))
KX_FORGET(kxFree, void)
KX_FORGET(kxDestroyImage, Image)
KX_FORGET(kxDestroyMask, Mask)

namespace {

using namespace kxcalls;

class InjectedFailure : public ::testing::TestWithParam<size_t> {};

// Allocation k = -1 (none) fails first: that run counts the sites.
TEST_P(InjectedFailure, EverySiteInTurn)
{
    const Case &c = kCases[GetParam()];
    std::vector<std::string> success;
    for (long k = -1, sites = 0; k < sites; ++k) {
        SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(sites) + " fails");
        gInject.failAt = k;
        gInject.calls = 0;
        gInject.held.clear();
        Env e(c);
        const std::vector<std::string> before = e.state();
        gInject.armed = true;
        gInject.held.erase(e.run(c.call));  // an image handed to the caller is no leak
        gInject.armed = false;
        const std::vector<std::string> after = e.state();
        EXPECT_GT(gInject.calls, k) << "the site was not reached again";
        EXPECT_EQ(gInject.held.size(), 0u) << "blocks or images left behind";
        EXPECT_TRUE(e.wellFormed());
        EXPECT_TRUE(e.paddingKept());
        if (k < 0) {
            sites = gInject.calls;
            success = after;
            RecordProperty("allocation_sites", int(sites));
            if (HasFailure()) break;
        } else if (c.judge == kAllOrNothing) {
            // The arguments' images: unchanged, or exactly the full result.
            const auto args = [&](const std::vector<std::string> &v) {
                return std::vector<std::string>(v.begin(), v.begin() + std::ptrdiff_t(before.size()));
            };
            EXPECT_TRUE(args(after) == before || args(after) == args(success)) << "a half-done result";
        }
    }
    gInject.failAt = -1;
}

INSTANTIATE_TEST_SUITE_P(Exports, InjectedFailure, ::testing::Range<size_t>(0, std::size(kCases)),
                         [](const ::testing::TestParamInfo<size_t> &info) {
                             std::string n = kCases[info.param].name;
                             std::replace_if(n.begin(), n.end(), [](unsigned char ch) { return !isalnum(ch); }, '_');
                             return n;
                         });

}  // namespace
