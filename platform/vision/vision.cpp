// The vision-filter library on OpenCV.
#include "kxvision.h"
