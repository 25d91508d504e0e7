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
    bool failed = false;
    std::set<void *> held;  // blocks, images and elements made while armed, not yet released

    bool fail()
    {
        if (!armed) return false;
        const bool now = calls++ == failAt;
        failed |= now;
        return now;
    }
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
    if (!p) std::fprintf(stderr, "failinject: %s not found\n", name), std::abort();
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

// Runs the case's call under injection: the state of the images before and
// after, and how many blocks and images it left behind.
struct Outcome {
    std::vector<std::string> before, after;
    size_t leaked;
};
Outcome injected(Env &e, const Case &c)
{
    Outcome r;
    r.before = e.state();
    gInject.held.clear();
    gInject.armed = true;
    Image *result = e.run(c.call);
    gInject.armed = false;
    gInject.held.erase(result);  // handed to the caller
    r.leaked = gInject.held.size();
    r.after = e.state();
    return r;
}

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
        gInject.failed = false;
        Env e(c);
        const Outcome r = injected(e, c);
        EXPECT_EQ(gInject.failed, k >= 0) << "the site was not reached again";
        EXPECT_EQ(r.leaked, 0u) << "blocks or images left behind";
        EXPECT_TRUE(e.wellFormed());
        EXPECT_TRUE(e.paddingKept());
        if (k < 0) {
            sites = gInject.calls, success = r.after;
            RecordProperty("allocation_sites", int(sites));
            if (HasFailure()) break;
        } else if (c.judge == kAllOrNothing) {
            // The arguments' images: unchanged, or exactly the full result.
            std::vector<std::string> after = r.after, full = success;
            after.resize(r.before.size());
            full.resize(r.before.size());
            EXPECT_TRUE(after == r.before || after == full) << "a half-done result";
        }
    }
    gInject.failAt = -1;
}

INSTANTIATE_TEST_SUITE_P(Exports, InjectedFailure, ::testing::Range<size_t>(0, std::size(kCases)),
                         [](const ::testing::TestParamInfo<size_t> &info) {
                             std::string n = kCases[info.param].name;
                             for (char &ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

}  // namespace
