// The matrix library: zeroed, packed two-dimensional work arrays.
#include "kxmatrix.h"

#include <cstdlib>

namespace {

int elementSize(int type)
{
    static const int sizes[] = {1, 1, 2, 2, 4, 4, 8};
    return type >= 0 && type <= KXM_64F ? sizes[type] : 0;
}

}  // namespace

extern "C" {

Matrix *kxCreateMatrix(int type, int rows, int cols)
{
    const int es = elementSize(type);
    if (es == 0 || rows < 1 || cols < 1) return nullptr;
    const int64_t bytes = int64_t(rows) * cols * es;
    if (bytes > INT32_MAX) return nullptr;
    auto *m = static_cast<Matrix *>(std::calloc(1, sizeof(Matrix)));
    if (!m) return nullptr;
    m->data = std::calloc(size_t(bytes), 1);
    if (!m->data) {
        std::free(m);
        return nullptr;
    }
    m->type = type;
    m->rows = rows;
    m->cols = cols;
    m->elementSize = es;
    return m;
}

void kxDestroyMatrix(Matrix *matrix)
{
    if (!matrix) return;
    std::free(matrix->data);
    std::free(matrix);
}

void *kxmGetPtr(const Matrix *matrix) { return matrix ? matrix->data : nullptr; }

}  // extern "C"
