// Private code shared by the fingerprint files of libkxextra.
#pragma once

#include <cstdint>

#include "extra_detail.hpp"
#include "frame/isa.hpp"

namespace kxx::print {

struct Grid {
    int block, cols, rows;
};

inline Grid grid(const Image *im, int block)
{
    return {block, (im->width + block - 1) / block, (im->height + block - 1) / block};
}

// The rule every fingerprint function checks its parameters with.
bool paramsOk(const KxxPrintParams &p) noexcept;

// The clean-up of kxxPrintMask on a raw block mask: opening, closing,
// holes filled, the largest region kept.  Returns the blocks kept; -1 when
// scratch memory is not available.
int cleanMask(const uint8_t *raw, int cols, int rows, uint8_t *mask) noexcept;

inline bool blockOk(int block) { return block >= 4 && block <= 64; }

// Rows of the block statistics: standard deviation and mean of each block.
// Returns false when scratch memory is not available.
bool blockStats(const Image *print, int block, double *sd, double *mean) noexcept;

// The Gabor kernel applied to n consecutive pixels of one row: acc[x] for
// x < n is the float sum over kernel rows i and columns j (row-major) of
// k[i * side + j] * pad[i * stride + x + j], pad pointing at the padded
// pixel of the first pixel's top-left tap.
using GaborRowFn = void (*)(const float *pad, ptrdiff_t stride, const float *k, int side, int n, float *acc);
// The kernel of an instruction level (never above what runs here).
GaborRowFn gaborRowKernel(kx::isa::Level level) noexcept;

}  // namespace kxx::print
