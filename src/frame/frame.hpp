// The call frame every exported operation is built on: the failure report,
// the type gate, row access, colour rules and RAII holders for scratch
// memory and temporary images.
//
// An export reads as a checklist, every early return in sight:
//   if (!image) return kx::failed("image", nullptr);   // broken precondition, reported
//   if (!kx::typeOk(image)) return image;               // 1..32 gate + sane record
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "frame/isa.hpp"
#include "kxpre.h"

namespace kx {

// The caller's file and line, taken where a default argument is used, as
// std::source_location gives them (clang 14 with libstdc++ 12 lacks it).
class SourceLocation {
public:
    static constexpr SourceLocation current(const char *file = __builtin_FILE(), unsigned line = __builtin_LINE()) noexcept
    {
        return SourceLocation(file, line);
    }
    constexpr const char *file_name() const noexcept { return file_; }
    constexpr unsigned line() const noexcept { return line_; }

private:
    constexpr SourceLocation(const char *file, unsigned line) noexcept : file_(file), line_(line) {}
    const char *file_;
    unsigned line_;
};

// Reports a failed precondition: the expression text with file and line on
// stderr.  Debug builds abort afterwards; release builds return.
void reportFailure(const char *text, const SourceLocation &where) noexcept;

// `return kx::failed("text", result);`: reports "text" at the caller's line
// and gives the operation's do-nothing result (Release builds).
template <class T>
T failed(const char *text, T result, const SourceLocation &where = SourceLocation::current()) noexcept
{
    reportFailure(text, where);
    return result;
}

// The same for an operation without a result: `return kx::failed("text");`.
inline void failed(const char *text, const SourceLocation &where = SourceLocation::current()) noexcept
{
    reportFailure(text, where);
}

}  // namespace kx


namespace kx {

// ---- the type gate and record checks ------------------------------------

// imageType inside 1..32: the range in which operations branch on the type.
inline bool typeInRange(const Image *im) { return im->imageType >= 1 && im->imageType <= 32; }

// The gate at the top of every export: non-null, imageType in 1..32 and a
// well-formed record (the image library's rule).  Types inside 1..32 other
// than the four fail too, as every operation does nothing for them.
inline bool typeOk(const Image *im) { return im && typeInRange(im) && kxiIsWellFormed(im); }

// A one-byte-per-pixel image usable as a mask (KIT_BIN or KIT_GRAY).
inline bool maskOk(const Image *m) { return kxiIsWellFormed(m) && kxiBytesPerPixel(m->imageType) == 1; }

inline bool sameSize(const Image *a, const Image *b) { return a->width == b->width && a->height == b->height; }

// Pixels of the image (never `size`, which counts row padding).
inline int64_t pixelCount(const Image *im) { return int64_t(im->width) * im->height; }

// Pixel bytes of one row.
inline size_t rowBytes(const Image *im) { return size_t(im->width) * size_t(kxiBytesPerPixel(im->imageType)); }

inline uint8_t *row(Image *im, int y) { return im->data + ptrdiff_t(y) * im->pitch; }
inline const uint8_t *row(const Image *im, int y) { return im->data + ptrdiff_t(y) * im->pitch; }

inline bool inside(const Image *im, int64_t x, int64_t y)
{
    return x >= 0 && y >= 0 && x < im->width && y < im->height;
}

// ---- colours --------------------------------------------------------------

inline uint8_t blueOf(uint32_t c) { return uint8_t(c); }
inline uint8_t greenOf(uint32_t c) { return uint8_t(c >> 8); }
inline uint8_t redOf(uint32_t c) { return uint8_t(c >> 16); }
inline uint8_t alphaOf(uint32_t c) { return uint8_t(c >> 24); }

// R*0.299 + G*0.587 + B*0.114 in double, truncated.
inline uint8_t luminance(uint8_t b, uint8_t g, uint8_t r) { return uint8_t(r * 0.299 + g * 0.587 + b * 0.114); }

// How a colour value becomes a KIT_GRAY byte; operations differ here.
enum class GreyRule {
    Clamp,      // colour above 255 stores 255 (kxSetPixel, outlines)
    Luminance,  // colour above 255 stores its luminance (kxSetPixelEx)
    LowByte,    // the low byte (area fills)
};

// The bytes one colour writes into a pixel of the given type.
struct PixelValue {
    uint8_t bytes[4] = {0, 0, 0, 0};
    int bpp = 0;
    void store(uint8_t *p) const { std::memcpy(p, bytes, size_t(bpp)); }
};

// KIT_BIN stores 1 for any non-zero colour; KIT_GRAY follows `rule`; KIT_RGB
// stores B, G, R and KIT_RGBA B, G, R, A.  bpp is 0 for other types.
PixelValue pixelValue(int imageType, uint32_t colour, GreyRule rule) noexcept;

// The colour value of the pixel at p (kxGetPixel's assembly).
uint32_t colourAt(int imageType, const uint8_t *p) noexcept;

// ---- whole-image helpers ----------------------------------------------

// Applies a 256-entry table to the first `channels` bytes of every pixel.
void applyLut(Image *im, const uint8_t lut[256], int channels) noexcept;

// Applies a 256-entry table to the bytes of every pixel whose channel bit
// (bit c for byte c) is set in `channelBits`; other bytes stay.  Both
// appliers live with the pixel operations (src/pixel/internal/lut.cpp).
void applyLutChannels(Image *im, const uint8_t lut[256], unsigned channelBits) noexcept;

// ---- RAII holders --------------------------------------------------------

// A scratch array from the memory library, released on scope exit.  Check
// it with `if (!buf)` before use: the allocation can fail.
template <class T>
class Scratch {
public:
    explicit Scratch(size_t count)
        : p_(count <= SIZE_MAX / sizeof(T) ? static_cast<T *>(kxAlloc(uint64_t(count) * sizeof(T))) : nullptr),
          n_(p_ ? count : 0)
    {
    }
    ~Scratch() { kxFree(p_); }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    explicit operator bool() const { return p_ != nullptr; }
    T *get() const { return p_; }
    size_t size() const { return n_; }
    T &operator[](size_t i) const { return p_[i]; }

private:
    T *p_;
    size_t n_;
};

// A temporary image from the image library, destroyed on scope exit.
class TempImage {
public:
    TempImage(int imageType, int width, int height) : im_(kxCreateImage(imageType, width, height)) {}
    explicit TempImage(Image *adopted) : im_(adopted) {}
    ~TempImage() { kxDestroyImage(im_); }
    TempImage(const TempImage &) = delete;
    TempImage &operator=(const TempImage &) = delete;

    explicit operator bool() const { return im_ != nullptr; }
    Image *get() const { return im_; }
    Image *operator->() const { return im_; }
    Image *release() { return std::exchange(im_, nullptr); }

private:
    Image *im_;
};

}  // namespace kx
