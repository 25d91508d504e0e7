/*
 * kxgeom.h - the geometry library: rotating vertices and testing points
 * against polygons.
 *
 * Angles are in degrees.  A positive angle turns counter-clockwise as seen on
 * a display whose rows run downward (y grows down), the same sense in which
 * the library's image rotations turn a picture:
 *   x' = cx + (x - cx) cos a + (y - cy) sin a
 *   y' = cy - (x - cx) sin a + (y - cy) cos a
 * computed in double precision.  Integer vertices are rounded to the nearest
 * integer (halves away from zero) and clamped to the 32-bit range.
 *
 * Point in polygon: the even-odd rule.  A point is inside when a ray from it
 * towards +x crosses the closed polygon's edges an odd number of times, an
 * edge counting when one end lies above the point's row and the other on or
 * below it (half-open), and the crossing lying strictly right of the point.
 * Boundary points are thereby split consistently: for an axis-aligned
 * rectangle with corners (x0, y0) and (x1, y1), x0 < x1, y0 < y1, exactly the
 * points with x0 <= x < x1 and y0 <= y < y1 are inside, so shapes that share
 * an edge never both claim its points.  The integer test is exact (128-bit
 * products); the float test computes in double.  Fewer than 3 vertices or a
 * null array: outside.
 */
#ifndef KXGEOM_H
#define KXGEOM_H

#if defined(__GNUC__)
#define KXGEOM_API __attribute__((visibility("default")))
#else
#define KXGEOM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Rotates `count` integer (x, y) pairs in place about (cx, cy). */
KXGEOM_API void kxRotateVertex(int *vertices, int count, int cx, int cy, float angle);
/* Rotates `count` float (x, y) pairs in place about (cx, cy). */
KXGEOM_API void kxRotateVertexE1(float *points, int count, float cx, float cy, float angle);
/* Non-zero when (x, y) lies inside the polygon of `count` integer vertices. */
KXGEOM_API int kxIsPointInPolygon(int x, int y, const int *vertices, int count);
/* Non-zero when (x, y) lies inside the polygon of `count` float vertices. */
KXGEOM_API int kxIsPointInPolygonE3(float x, float y, const float *points, int count);

#ifdef __cplusplus
}
#endif

#endif /* KXGEOM_H */
