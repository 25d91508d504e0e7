// The demo input: a photographed document page drawn with the library.
#pragma once

#include <iosfwd>

#include "imageio.hpp"

namespace kxtools {

// A KIT_GRAY page of the given size: a title, lines of text, a rule, a
// rotated stamp, a signature, corner marks, lying on a dark table that shows
// along the left and top edges; then uneven illumination and noise.  Drawing
// operations the library build lacks are replaced by plain blocks, with a
// note on `log`.  `noise` is the standard deviation of the camera noise in
// grey levels.  Null when the image cannot be created.
ImagePtr drawPage(int width, int height, std::ostream &log, double noise = 7.0);

}  // namespace kxtools
