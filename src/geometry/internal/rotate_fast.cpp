// The rotation engine's per-row work, across pixels in vector lanes:
//  1. source positions by a cheap route, each certified equal to the exact
//     route's floats (or computed by the exact route where it cannot be);
//  2. the samplers, the same single-precision operations per pixel as the
//     scalar samplers, eight one-byte or two wider pixels at a time.
// One source (rotate_fast.inc, GCC vector extensions) is compiled for every
// level (frame/isa_each.inc); every lane operation is one IEEE operation,
// so all give the same bits.
#include <cmath>
#include <cstring>

#include <immintrin.h>

#include "geometry/rotate_engine.hpp"

namespace kx::geo {

// Vector-extension types of 32 bytes are passed in registers only under
// AVX; the kernels are file-local tables, so no call between differently
// built code passes them.
#pragma GCC diagnostic ignored "-Wpsabi"

#define KX_ISA_SOURCE "geometry/internal/rotate_fast.inc"
#include "frame/isa_each.inc"

namespace {

constexpr RotationKernels kPlain{plain::positionsRow, plain::bilinearRowOf, plain::nearestRowOf, plain::nearestDirectRow};
constexpr RotationKernels kAvx2{avx2::positionsRow, avx2::bilinearRowOf, avx2::nearestRowOf, avx2::nearestDirectRow};
constexpr RotationKernels kAvx512{avx512::positionsRow, avx512::bilinearRowOf, avx512::nearestRowOf, avx512::nearestDirectRow};
constexpr isa::Table<const RotationKernels *> kKernels{{&kPlain, &kAvx2, &kAvx512}};

}  // namespace

const RotationKernels &rotationKernels(isa::Level level) noexcept { return *kKernels.pick(level); }

}  // namespace kx::geo
