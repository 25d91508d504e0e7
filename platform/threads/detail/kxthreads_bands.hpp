// Row bands for the operations whose output rows can be computed
// independently: the rows 0..rows-1 are cut into at most kxtGetThreads()
// consecutive bands of at least `minRows` rows each, and the bands run at
// once, the calling thread taking the first.
//
//   const auto bands = kx::threads::Bands::plan(h, kx::threads::minRows(w));
//   kx::threads::forEach(bands, [&](int band, int y0, int y1) { ... });
//
// or, when a band needs nothing of its own:
//
//   kx::threads::forBands(h, kx::threads::minRows(w), [&](int y0, int y1) { ... });
//
// The band function must not throw.  Bands never share output rows; what a
// band reads that another band writes (an in-place operation's neighbour
// rows) has to be copied before the bands start.  A call made from inside a
// band runs single-threaded.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "kxthreads.h"

namespace kx::threads {

// Fewest pixels worth a band of their own: starting and joining a thread
// costs about as much as a simple filter spends on this many pixels.
constexpr int kMinBandPixels = 1 << 16;

// Fewest rows per band for rows of `width` pixels.
constexpr int minRows(int64_t width)
{
    return width >= kMinBandPixels ? 1 : width < 1 ? kMinBandPixels : int((kMinBandPixels + width - 1) / width);
}

// Number of bands for `rows` rows of at least `minRows` rows each, with the
// current setting: 1 when threads are off or there is too little to split.
KXTHREADS_API int bandCount(int rows, int minRows) noexcept;

// Calls fn(ctx, band) for band = 0..count-1, the first on the calling thread
// and the others on threads started here (a band whose thread cannot be
// started runs on the calling thread); returns when all have finished.
KXTHREADS_API void runBands(int count, void (*fn)(void *ctx, int band), void *ctx) noexcept;

// Consecutive row bands covering 0..rows-1.
struct Bands {
    int rows = 0;
    int count = 1;

    static Bands plan(int rows, int minRows) { return {rows, bandCount(rows, minRows)}; }
    // First row of band i (i == count: rows).
    int begin(int i) const { return int(int64_t(rows) * i / count); }
    int end(int i) const { return begin(i + 1); }
};

// Runs fn(band, y0, y1) for every band of `bands`.
template <class F>
void forEach(const Bands &bands, F &&fn)
{
    if (bands.count <= 1) {
        if (bands.rows > 0) fn(0, 0, bands.rows);
        return;
    }
    struct Ctx {
        const Bands *bands;
        std::remove_reference_t<F> *fn;
    } ctx{&bands, &fn};
    runBands(
        bands.count,
        [](void *p, int band) {
            auto *c = static_cast<Ctx *>(p);
            (*c->fn)(band, c->bands->begin(band), c->bands->end(band));
        },
        &ctx);
}

// Runs fn(y0, y1) over row bands of 0..rows-1, each of at least `minRows` rows.
template <class F>
void forBands(int rows, int minRows, F &&fn)
{
    forEach(Bands::plan(rows, minRows), [&](int, int y0, int y1) { fn(y0, y1); });
}

}  // namespace kx::threads
