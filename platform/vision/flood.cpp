// Flood fills of the vision-filter library.
#include "vision_detail.hpp"
