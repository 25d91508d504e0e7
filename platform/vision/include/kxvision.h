/*
 * kxvision.h - the vision-filter library (built on OpenCV).
 */
#ifndef KXVISION_H
#define KXVISION_H

#include "kximage.h"

#if defined(__GNUC__)
#define KXVISION_API __attribute__((visibility("default")))
#else
#define KXVISION_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXVISION_H */
