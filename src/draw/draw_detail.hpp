// Private helpers of the drawing family: colour bytes, the unchecked pixel
// writer, the clipped line walk and growable scratch arrays.
#pragma once

#include <algorithm>
#include <cstdint>

#include "frame/frame.hpp"

namespace kx::draw {

// Outlines clamp a grey colour above 255 to 255; area fills keep the low byte.
inline PixelValue outlineColour(int imageType, uint32_t colour)
{
    return pixelValue(imageType, colour, GreyRule::Clamp);
}
inline PixelValue areaColour(int imageType, uint32_t colour) { return pixelValue(imageType, colour, GreyRule::LowByte); }

// Writes one pixel without a bounds check; a colour of another image type
// (bpp 0) writes nothing.
inline void plotPixel(Image *im, int64_t x, int64_t y, const PixelValue &v)
{
    v.store(row(im, int(y)) + size_t(x) * size_t(v.bpp));
}

// Paints columns x0..x1 (inclusive, inside the row) of row y.
inline void paintSpan(Image *im, int y, int x0, int x1, const PixelValue &v)
{
    if (x0 > x1 || v.bpp == 0) return;
    uint8_t *p = row(im, y) + size_t(x0) * size_t(v.bpp);
    if (v.bpp == 1) {
        std::memset(p, v.bytes[0], size_t(x1 - x0 + 1));
        return;
    }
    for (int x = x0; x <= x1; ++x, p += v.bpp) v.store(p);
}

// The line from (x0, y0) to (x1, y1), both ends included, as the integer
// error walk draws it starting at (x0, y0), with only its pixels inside the
// image written.  The visible stretch is found arithmetically, so a line
// running far outside costs no more than its visible part.
void drawLineClipped(Image *im, int64_t x0, int64_t y0, int64_t x1, int64_t y1, const PixelValue &v) noexcept;

// A growable array in memory-library blocks; push() reports a failed
// growth with false.
template <class T>
class Growable {
public:
    Growable() = default;
    ~Growable() { kxFree(p_); }
    Growable(const Growable &) = delete;
    Growable &operator=(const Growable &) = delete;

    bool push(const T &t)
    {
        if (n_ == cap_ && !grow()) return false;
        p_[n_++] = t;
        return true;
    }
    bool reserve(size_t n) { return n <= cap_ || growTo(n); }
    T pop() { return p_[--n_]; }
    bool empty() const { return n_ == 0; }
    size_t size() const { return n_; }
    T *data() const { return p_; }
    T &operator[](size_t i) const { return p_[i]; }
    void clear() { n_ = 0; }
    void resize(size_t n) { n_ = n; }  // n <= capacity

private:
    bool grow() { return growTo(cap_ ? cap_ * 2 : 64); }
    bool growTo(size_t n)
    {
        if (n > SIZE_MAX / sizeof(T)) return false;
        T *q = static_cast<T *>(kxAlloc(uint64_t(n) * sizeof(T)));
        if (!q) return false;
        if (n_) std::memcpy(static_cast<void *>(q), p_, n_ * sizeof(T));
        kxFree(p_);
        p_ = q;
        cap_ = n;
        return true;
    }
    T *p_ = nullptr;
    size_t n_ = 0, cap_ = 0;
};

}  // namespace kx::draw
