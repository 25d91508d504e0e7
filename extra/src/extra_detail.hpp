// Private code shared by the files of libkxextra.  The call frame (record
// checks, assertions, scratch holders) is libkxpre's own, compiled into this
// library as well (see extra/CMakeLists.txt).
#pragma once

#include <cstdint>

#include "frame/frame.hpp"
#include "kxextra.h"
#include "kxpre.h"

namespace kxx {

// Labels the set pixels of a usable KIT_BIN image (4- or 8-connectivity)
// into labels[0 .. width*height), numbered in raster order of first pixels.
// Returns the number of components; -1 when scratch memory is not available.
int labelComponents(const Image *image, bool eight, int32_t *labels) noexcept;

}  // namespace kxx
