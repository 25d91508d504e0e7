// The byte-table mapper behind every 8-bit point operation: a 256-entry
// table applied to runs of pixel bytes, with one kernel per instruction set
// and the widest the processor has chosen at run time.  Every kernel stores
// exactly lut[byte] into every selected byte and leaves all other bytes,
// in the run and around it, untouched.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx::lut {

enum class Kernel {
    Plain,   // one lookup per byte, any x86-64 (and any other processor)
    Avx2,    // sixteen 16-entry shuffles per 32 bytes
    Vbmi,    // two 128-entry permutes per 64 bytes (AVX-512 VBMI)
};

// The widest kernel this processor runs.
Kernel best() noexcept;

// Whether this processor runs kernel k.
bool runs(Kernel k) noexcept;

// Maps the n bytes at p through lut, in place.  With bpp > 1, p holds n/bpp
// whole pixels of bpp bytes and only byte c of each pixel with bit c set in
// channelBits is mapped (bits at or above bpp are ignored).  k must be a
// kernel the processor runs.
void mapRun(Kernel k, uint8_t *p, size_t n, const uint8_t lut[256], int bpp = 1,
            unsigned channelBits = 1) noexcept;

}  // namespace kx::lut
