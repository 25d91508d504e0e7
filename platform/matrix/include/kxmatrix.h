/*
 * kxmatrix.h - the matrix library: dense two-dimensional work arrays.
 *
 * A Matrix holds rows x cols elements of one type, row-major and packed:
 * element (r, c) is at position r * cols + c of kxmGetPtr(matrix).  Type
 * codes follow OpenCV's depth codes:
 *   0 uint8, 1 int8, 2 uint16, 3 int16, 4 int32, 5 float, 6 double.
 * New matrices hold zeros.
 */
#ifndef KXMATRIX_H
#define KXMATRIX_H

#include <stdint.h>

#if defined(__GNUC__)
#define KXMATRIX_API __attribute__((visibility("default")))
#else
#define KXMATRIX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define KXM_8U 0
#define KXM_8S 1
#define KXM_16U 2
#define KXM_16S 3
#define KXM_32S 4
#define KXM_32F 5
#define KXM_64F 6

typedef struct Matrix {
    int32_t type;
    int32_t rows;
    int32_t cols;
    int32_t elementSize;
    void *data;
} Matrix;

/* A new zeroed matrix; null for an unknown type, a side below 1, more than
 * 2^31 bytes, or lack of memory. */
KXMATRIX_API Matrix *kxCreateMatrix(int type, int rows, int cols);
/* Frees a matrix; null is ignored. */
KXMATRIX_API void kxDestroyMatrix(Matrix *matrix);
/* The first element; null for a null matrix. */
KXMATRIX_API void *kxmGetPtr(const Matrix *matrix);

#ifdef __cplusplus
}
#endif

#endif /* KXMATRIX_H */
