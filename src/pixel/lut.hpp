// The byte-table mapper behind every 8-bit point operation: a 256-entry
// table applied to runs of pixel bytes, with one kernel per instruction
// level.  Every kernel stores
// exactly lut[byte] into every selected byte and leaves all other bytes,
// in the run and around it, untouched.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/isa.hpp"

namespace kx::lut {

// A kernel: maps the n bytes at p through lut, in place; with bpp > 1, p
// holds n/bpp whole pixels of bpp bytes and only byte c of each pixel with
// bit c set in channelBits (below bpp, not 0) is mapped.
using Kernel = void (*)(uint8_t *p, size_t n, const uint8_t lut[256], int bpp, unsigned channelBits) noexcept;

// The kernel of `level` (at most isa::active()): one lookup per byte
// (plain), sixteen 16-entry shuffles per 32 bytes (AVX2) or two 128-entry
// permutes per 64 bytes (VBMI).
Kernel kernel(isa::Level level = isa::active()) noexcept;

// Maps a run with kernel k; channel bits at or above bpp are ignored.
void mapRun(Kernel k, uint8_t *p, size_t n, const uint8_t lut[256], int bpp = 1, unsigned channelBits = 1) noexcept;

}  // namespace kx::lut
