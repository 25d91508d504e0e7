// Private code shared by the files of libkxextra.  The call frame (record
// checks, assertions, scratch holders) is libkxpre's own, compiled into this
// library as well (see extra/CMakeLists.txt).
#pragma once

#include <cstdint>

#include "frame/frame.hpp"
#include "kxextra.h"
#include "kxpre.h"

namespace kxx {

// Index i of a line of n samples extended by reflection about its end
// samples (... c b | a b c ... x y z | y x ...), repeated as often as needed
// (period 2n - 2); n == 1 repeats the sample.
inline int64_t reflect(int64_t i, int64_t n)
{
    if (n == 1) return 0;
    const int64_t period = 2 * (n - 1);
    i %= period;
    if (i < 0) i += period;
    return i < n ? i : period - i;
}

// Labels the set pixels of a usable KIT_BIN image (4- or 8-connectivity)
// into labels[0 .. width*height), numbered in raster order of first pixels.
// Returns the number of components; -1 when scratch memory is not available.
int labelComponents(const Image *image, bool eight, int32_t *labels) noexcept;

}  // namespace kxx
