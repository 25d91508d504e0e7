// Private code of the binary-image family: marking the set regions that are
// connected to the image border (or to the boundary of a region mask), the
// core of border removal and hole filling.
#pragma once

#include <bit>

#include "frame/frame.hpp"

namespace kx::binary {

// The marker written into every pixel a border region reaches.
constexpr uint8_t kReached = 127;

// One-byte pixels: w x h, rows `pitch` bytes apart.
struct Plane {
    uint8_t *data;
    int w, h;
    ptrdiff_t pitch;
    uint8_t *row(int y) const { return data + ptrdiff_t(y) * pitch; }
};

// A region mask addressed by its own pitch; data null means "no mask".
struct MaskPlane {
    const uint8_t *data = nullptr;
    ptrdiff_t pitch = 0;
    const uint8_t *row(int y) const { return data + ptrdiff_t(y) * pitch; }
};

// Clears the pixels outside the mask and marks every non-zero pixel of the
// first and last row and column.
inline void seedBorder(Plane p, MaskPlane m) noexcept
{
    if (m.data)
        for (int y = 0; y < p.h; ++y) {
            uint8_t *q = p.row(y);
            const uint8_t *k = m.row(y);
            for (int x = 0; x < p.w; ++x)
                if (!k[x]) q[x] = 0;
        }
    auto mark = [](uint8_t &b) {
        if (b) b = kReached;
    };
    for (int x = 0; x < p.w; ++x) {
        mark(p.row(0)[x]);
        mark(p.row(p.h - 1)[x]);
    }
    for (int y = 0; y < p.h; ++y) {
        mark(p.row(y)[0]);
        mark(p.row(y)[p.w - 1]);
    }
}

// An interior pixel inside the mask with a side neighbour outside it.
inline bool onMaskBoundary(MaskPlane m, int x, int y) noexcept
{
    const uint8_t *k = m.row(y);
    return k[x] && (!k[x - 1] || !k[x + 1] || !m.row(y - 1)[x] || !m.row(y + 1)[x]);
}

// The fallback when no stack can be had: mask-boundary seeds, then raster
// sweeps until one changes nothing.  Quadratic on long winding regions.
inline void spreadBySweeps(Plane p, MaskPlane m) noexcept
{
    if (m.data)
        for (int y = 1; y < p.h - 1; ++y)
            for (int x = 1; x < p.w - 1; ++x)
                if (onMaskBoundary(m, x, y)) p.row(y)[x] = kReached;
    for (bool changed = true; changed;) {
        changed = false;
        for (int y = 1; y < p.h - 1; ++y) {
            uint8_t *q = p.row(y);
            const uint8_t *up = p.row(y - 1), *dn = p.row(y + 1);
            for (int x = 1; x < p.w - 1; ++x)
                if (q[x] == 1 &&
                    (q[x - 1] == kReached || q[x + 1] == kReached || up[x] == kReached || dn[x] == kReached)) {
                    q[x] = kReached;
                    changed = true;
                }
        }
    }
}

// Index of the first byte equal to v in p[0, n), or n; eight bytes a step
// (the lowest byte the zero test flags is always a true zero).
inline size_t findByte(const uint8_t *p, uint8_t v, size_t n) noexcept
{
    size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
        const uint64_t pattern = ones * v;
        for (; i + 8 <= n; i += 8) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            const uint64_t t = word ^ pattern, zero = (t - ones) & ~t & highs;
            if (zero) return i + size_t(std::countr_zero(zero)) / 8;
        }
    }
    while (i < n && p[i] != v) ++i;
    return i;
}

// Length of the run of bytes equal to v from p, at most n.
inline size_t runLength(const uint8_t *p, uint8_t v, size_t n) noexcept
{
    size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t pattern = 0x0101010101010101u * v;
        for (; i + 8 <= n; i += 8) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (word != pattern) return i + size_t(std::countr_zero(word ^ pattern)) / 8;
        }
    }
    while (i < n && p[i] == v) ++i;
    return i;
}

// The forward sweep without a mask, a run of 1s at a time: a run with a
// marked pixel beside it, above or below it is marked whole, and its
// pixels with a 1 above go to the stack (the run is whole, so none has a
// 1 to its left).  Returns the stack's new top.
inline size_t sweepRuns(Plane p, uint32_t *stack, size_t top) noexcept
{
    const size_t end = size_t(p.w) - 1;
    for (int y = 1; y < p.h - 1; ++y) {
        uint8_t *q = p.row(y);
        const uint8_t *up = p.row(y - 1), *dn = p.row(y + 1);
        const size_t base = size_t(y) * size_t(p.pitch);
        for (size_t x = 1;;) {
            x += findByte(q + x, 1, end - x);
            if (x >= end) break;
            const size_t a = x;
            x += runLength(q + a, 1, end - a);
            const size_t n = x - a;
            if (q[a - 1] != kReached && q[x] != kReached && findByte(up + a, kReached, n) == n &&
                findByte(dn + a, kReached, n) == n)
                continue;
            std::memset(q + a, kReached, n);
            for (size_t i = a; (i += findByte(up + i, 1, x - i)) < x; ++i) stack[top++] = uint32_t(base + i);
        }
    }
    return top;
}

// One forward sweep, then a stack for what the sweep cannot reach (paths
// that run up or left).  The pixels marked are the same as with repeated
// sweeps: every interior pixel of value 1 that is 4-connected through such
// pixels to a marked pixel.  `stack` holds room for one entry per interior
// pixel; each pixel enters it at most once.
template <bool HasMask>
void spreadByStack(Plane p, MaskPlane m, uint32_t *stack) noexcept
{
    const ptrdiff_t s = p.pitch;
    size_t top = 0;
    if (!HasMask) top = sweepRuns(p, stack, top);
    for (int y = 1; HasMask && y < p.h - 1; ++y) {
        uint8_t *q = p.row(y);
        const uint8_t *up = p.row(y - 1), *dn = p.row(y + 1);
        for (int x = 1; x < p.w - 1; ++x) {
            uint8_t v = q[x];
            if (HasMask && onMaskBoundary(m, x, y)) {
                v = q[x] = kReached;
            } else if (v == 1 &&
                       (q[x - 1] == kReached || up[x] == kReached || q[x + 1] == kReached || dn[x] == kReached)) {
                v = q[x] = kReached;
            }
            // The sweep itself carries a mark right and down; a 1 to the
            // left or above is left for the stack.
            if (v == kReached && (q[x - 1] == 1 || up[x] == 1)) stack[top++] = uint32_t(y * s + x);
        }
    }
    // Popped pixels are interior, and no border pixel holds 1 any more, so
    // every neighbour read lies inside the image.
    while (top) {
        uint8_t *q = p.data + stack[--top];
        const uint32_t o = uint32_t(q - p.data);
        if (q[-1] == 1) q[-1] = kReached, stack[top++] = o - 1;
        if (q[1] == 1) q[1] = kReached, stack[top++] = o + 1;
        if (q[-s] == 1) q[-s] = kReached, stack[top++] = uint32_t(o - s);
        if (q[s] == 1) q[s] = kReached, stack[top++] = uint32_t(o + s);
    }
}

// Marks with kReached every non-zero border pixel and every pixel of value
// 1 connected to a marked pixel through side neighbours of value 1; with a
// mask, first clears the pixels outside it and marks the interior pixels on
// its boundary whatever their value.  Bytes that already hold kReached act
// as marks.  Never fails: without memory for the stack it sweeps.
inline void markBorderRegions(Plane p, MaskPlane m) noexcept
{
    seedBorder(p, m);
    if (p.w < 3 || p.h < 3) return;
    Scratch<uint32_t> stack(size_t(p.w - 2) * size_t(p.h - 2));
    if (!stack)
        spreadBySweeps(p, m);
    else if (m.data)
        spreadByStack<true>(p, m, stack.get());
    else
        spreadByStack<false>(p, m, stack.get());
}

}  // namespace kx::binary
