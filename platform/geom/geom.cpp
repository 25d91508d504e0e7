// The geometry library: vertex rotation and point-in-polygon tests.
#include "kxgeom.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr double kPi = 3.141592653589793;

struct Turn {
    double c, s;
    explicit Turn(float degrees)
    {
        const double a = double(degrees) * kPi / 180.0;
        c = std::cos(a);
        s = std::sin(a);
    }
    void apply(double &x, double &y, double cx, double cy) const
    {
        const double dx = x - cx, dy = y - cy;
        x = cx + dx * c + dy * s;
        y = cy - dx * s + dy * c;
    }
};

int roundClamp(double v)
{
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return int(std::lround(v));
}

// Turns `count` (x, y) pairs in place; `store` converts a rotated double
// coordinate back to the element type.
template <class T, class Store>
void rotateAll(T *xy, int count, double cx, double cy, float angle, Store store)
{
    if (!xy || count < 1) return;
    const Turn t(angle);
    for (int i = 0; i < count; ++i) {
        double x = xy[2 * i], y = xy[2 * i + 1];
        t.apply(x, y, cx, cy);
        xy[2 * i] = store(x);
        xy[2 * i + 1] = store(y);
    }
}

}  // namespace

extern "C" {

void kxRotateVertex(int *vertices, int count, int cx, int cy, float angle)
{
    rotateAll(vertices, count, cx, cy, angle, roundClamp);
}

void kxRotateVertexE1(float *points, int count, float cx, float cy, float angle)
{
    rotateAll(points, count, cx, cy, angle, [](double v) { return float(v); });
}

int kxIsPointInPolygon(int x, int y, const int *vertices, int count)
{
    if (!vertices || count < 3) return 0;
    bool inside = false;
    for (int i = 0, j = count - 1; i < count; j = i++) {
        const int64_t xi = vertices[2 * i], yi = vertices[2 * i + 1];
        const int64_t xj = vertices[2 * j], yj = vertices[2 * j + 1];
        if ((yi > y) == (yj > y)) continue;
        // x < xi + (y - yi)(xj - xi)/(yj - yi), multiplied out exactly.
        const __int128 lhs = __int128(x - xi) * (yj - yi);
        const __int128 rhs = __int128(y - yi) * (xj - xi);
        if (yj > yi ? lhs < rhs : lhs > rhs) inside = !inside;
    }
    return inside;
}

int kxIsPointInPolygonE3(float x, float y, const float *points, int count)
{
    if (!points || count < 3) return 0;
    bool inside = false;
    for (int i = 0, j = count - 1; i < count; j = i++) {
        const double xi = points[2 * i], yi = points[2 * i + 1];
        const double xj = points[2 * j], yj = points[2 * j + 1];
        if ((yi > y) == (yj > y)) continue;
        if (x < xi + (y - yi) * (xj - xi) / (yj - yi)) inside = !inside;
    }
    return inside;
}

}  // extern "C"
