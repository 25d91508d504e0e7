// The rotation engine's per-row work, across pixels in vector lanes:
//  1. source positions by a cheap route, each certified equal to the exact
//     route's floats (or computed by the exact route where it cannot be);
//  2. the samplers, the same single-precision operations per pixel as the
//     scalar samplers, eight one-byte or two wider pixels at a time.
// One source (rotate_fast.inc, GCC vector extensions) is compiled for the
// base instruction set, for AVX2 and - the positions - for AVX-512, and the
// processor picks one at run time; every lane operation is one IEEE
// operation, so all give the same bits.
#include <cmath>
#include <cstring>

#include <immintrin.h>

#include "geometry/rotate_engine.hpp"

// Clang (the fuzzing and sanitizer builds) has no `#pragma GCC target`: it
// builds the base kernels only, which give the same bits.
#if defined(__clang__)
#define KX_ROTATE_WIDE 0
#else
#define KX_ROTATE_WIDE 1
#endif

namespace kx::geo {

// Vector-extension types of 32 bytes are passed in registers only under
// AVX; the kernels are inlined and file-local, so no call between
// differently built code passes them.
#pragma GCC diagnostic ignored "-Wpsabi"

#define KX_ROTATE_AVX2 0
#define KX_ROTATE_AVX512 0
namespace base {
#include "geometry/rotate_fast.inc"
}  // namespace base
#undef KX_ROTATE_AVX2

#if KX_ROTATE_WIDE
#pragma GCC push_options
#pragma GCC target("avx2")
#define KX_ROTATE_AVX2 1
namespace avx2 {
#include "geometry/rotate_fast.inc"
}  // namespace avx2
#pragma GCC pop_options

// The positions again with eight doubles to a register.
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512vl,avx512dq,avx512bw")
#undef KX_ROTATE_AVX512
#define KX_ROTATE_AVX512 1
namespace avx512 {
#include "geometry/rotate_fast.inc"
}  // namespace avx512
#pragma GCC pop_options
#endif
#undef KX_ROTATE_AVX2
#undef KX_ROTATE_AVX512

namespace {

#if KX_ROTATE_WIDE
__attribute__((target("avx2"))) int64_t positionsAvx2(const RotationMap &map, int y, int x0, int n, float *sx,
                                                      float *sy)
{
    return avx2::positionsRow(map, y, x0, n, sx, sy);
}

__attribute__((target("avx2,avx512f,avx512vl,avx512dq,avx512bw"))) int64_t positionsAvx512(
    const RotationMap &map, int y, int x0, int n, float *sx, float *sy)
{
    return avx512::positionsRow(map, y, x0, n, sx, sy);
}

#endif

int64_t positionsBase(const RotationMap &map, int y, int x0, int n, float *sx, float *sy)
{
    return base::positionsRow(map, y, x0, n, sx, sy);
}

#if KX_ROTATE_WIDE
__attribute__((target("avx2"))) void bilinearAvx2(const Image *src, int B, const float *sx, const float *sy, int n,
                                                  uint8_t *out)
{
    avx2::bilinearRowOf(src, B, sx, sy, n, out);
}

#endif

void bilinearBase(const Image *src, int B, const float *sx, const float *sy, int n, uint8_t *out)
{
    base::bilinearRowOf(src, B, sx, sy, n, out);
}

#if KX_ROTATE_WIDE
__attribute__((target("avx2"))) void nearestAvx2(const Image *src, int B, const float *sx, const float *sy, int n,
                                                 uint8_t *out)
{
    avx2::nearestRowOf(src, B, sx, sy, n, out);
}

#endif

void nearestBase(const Image *src, int B, const float *sx, const float *sy, int n, uint8_t *out)
{
    base::nearestRowOf(src, B, sx, sy, n, out);
}

#if KX_ROTATE_WIDE
bool haveAvx2() { return __builtin_cpu_supports("avx2"); }
bool haveAvx512()
{
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw");
}
#else
bool haveAvx2() { return false; }
bool haveAvx512() { return false; }
// Never called: the processor checks above send every call to the base kernels.
int64_t positionsAvx512(const RotationMap &map, int y, int x0, int n, float *sx, float *sy)
{
    return positionsBase(map, y, x0, n, sx, sy);
}
int64_t positionsAvx2(const RotationMap &map, int y, int x0, int n, float *sx, float *sy)
{
    return positionsBase(map, y, x0, n, sx, sy);
}
void bilinearAvx2(const Image *src, int B, const float *sx, const float *sy, int n, uint8_t *out)
{
    bilinearBase(src, B, sx, sy, n, out);
}
void nearestAvx2(const Image *src, int B, const float *sx, const float *sy, int n, uint8_t *out)
{
    nearestBase(src, B, sx, sy, n, out);
}
#endif

}  // namespace

int64_t rotatedPositions(const RotationMap &map, int y, int x0, int n, float *sx, float *sy) noexcept
{
    return rotatedPositionsOn(haveAvx512() ? 2 : haveAvx2() ? 1 : 0, map, y, x0, n, sx, sy);
}

int64_t rotatedPositionsOn(int level, const RotationMap &map, int y, int x0, int n, float *sx, float *sy) noexcept
{
    if (level >= 2 && haveAvx512()) return positionsAvx512(map, y, x0, n, sx, sy);
    if (level >= 1 && haveAvx2()) return positionsAvx2(map, y, x0, n, sx, sy);
    return positionsBase(map, y, x0, n, sx, sy);
}

void bilinearRow(const Image *src, int B, const float *sx, const float *sy, int n, uint8_t *out) noexcept
{
    if (haveAvx2())
        bilinearAvx2(src, B, sx, sy, n, out);
    else
        bilinearBase(src, B, sx, sy, n, out);
}

void bilinearRowBase(const Image *src, int B, const float *sx, const float *sy, int n, uint8_t *out) noexcept
{
    bilinearBase(src, B, sx, sy, n, out);
}

void nearestRow(const Image *src, int B, const float *sx, const float *sy, int n, uint8_t *out) noexcept
{
    if (haveAvx2())
        nearestAvx2(src, B, sx, sy, n, out);
    else
        nearestBase(src, B, sx, sy, n, out);
}

void nearestRowBase(const Image *src, int B, const float *sx, const float *sy, int n, uint8_t *out) noexcept
{
    nearestBase(src, B, sx, sy, n, out);
}

}  // namespace kx::geo
