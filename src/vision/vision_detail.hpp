// Private helpers of the vision-filter wrappers.
#pragma once

#include "frame/frame.hpp"

namespace kx::vision {

// A KIT_BIN image's pixel bytes become 0/1 (any non-zero byte becomes 1);
// other images and null are left alone.  Asserts "pData" for a KIT_BIN
// record without pixel data.
void binariseBytes(Image *im) noexcept;

}  // namespace kx::vision
