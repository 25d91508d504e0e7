// Helpers shared by the test programs: owned and wrapped images, pixel
// dumps, seeded random images and the assertion expectation.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kxpre.h"

// fontconfig loads its configuration once per process on first use and keeps
// it until exit; the leak checker must not count that as ours.
extern "C" __attribute__((visibility("default"), used)) inline const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so";
}

namespace kxtest {

struct ImageDeleter {
    void operator()(Image *im) const { kxDestroyImage(im); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

inline int bpp(int imageType) { return kxiBytesPerPixel(imageType); }

// An operation on one image, returning the image it gives back.
using Op = std::function<Image *(Image *)>;

// op with its arguments after the image fixed.
template <class... P, class... A>
Op bind(Image *(*op)(Image *, P...), A... a)
{
    return [=](Image *im) { return op(im, P(a)...); };
}

// A packed image holding `pixels` (width * height * bpp bytes, row-major);
// zeroed when `pixels` is empty.
inline ImagePtr makeImage(int imageType, int width, int height, const std::vector<uint8_t> &pixels = {})
{
    ImagePtr im(kxCreateImage(imageType, width, height));
    if (im && !pixels.empty()) kxiFloodEx(im.get(), pixels.data(), pixels.size());
    return im;
}

// The packed pixel bytes of an image (row padding left out).
inline std::vector<uint8_t> pixels(const Image *im)
{
    std::vector<uint8_t> out;
    const size_t n = size_t(im->width) * bpp(im->imageType);
    for (int y = 0; y < im->height; ++y) {
        const uint8_t *r = im->data + size_t(y) * im->pitch;
        out.insert(out.end(), r, r + n);
    }
    return out;
}

// Deterministic random bytes.
inline std::vector<uint8_t> randomBytes(size_t n, uint32_t seed, int lo = 0, int hi = 255)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    std::vector<uint8_t> v(n);
    for (auto &b : v) b = uint8_t(d(rng));
    return v;
}

// The same bytes as randomBytes, written straight into a new packed image (a
// temporary vector here trips g++ 12's free-nonheap-object check at -O2).
inline ImagePtr randomImage(int imageType, int width, int height, uint32_t seed)
{
    ImagePtr im(kxCreateImage(imageType, width, height));
    if (!im) return im;
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(0, imageType == KIT_BIN ? 1 : 255);
    const size_t n = size_t(width) * size_t(height) * size_t(bpp(imageType));
    for (size_t i = 0; i < n; ++i) im->data[i] = uint8_t(d(rng));
    return im;
}

// A virtual image over memory the test owns, with `pad` extra bytes at the
// end of every row filled with a sentinel.  paddingIntact() tells whether an
// operation wrote into them.
class PaddedImage {
public:
    static constexpr uint8_t kSentinel = 0xA5;

    PaddedImage(int imageType, int width, int height, const std::vector<uint8_t> &pixels = {}, int pad = 5)
        : width_(width), height_(height), rowBytes_(width * bpp(imageType)), pitch_(rowBytes_ + pad),
          memory_(size_t(pitch_) * height, kSentinel)
    {
        for (int y = 0; y < height; ++y)
            for (int i = 0; i < rowBytes_; ++i)
                memory_[size_t(y) * pitch_ + i] = pixels.empty() ? 0 : pixels[size_t(y) * rowBytes_ + i];
        im_.reset(kxCreateImageEx(imageType, width, height, pitch_, memory_.data(), 0));
    }

    Image *get() const { return im_.get(); }
    bool paddingIntact() const
    {
        for (int y = 0; y < height_; ++y)
            for (int i = rowBytes_; i < pitch_; ++i)
                if (memory_[size_t(y) * pitch_ + i] != kSentinel) return false;
        return true;
    }

private:
    int width_, height_, rowBytes_, pitch_;
    std::vector<uint8_t> memory_;
    ImagePtr im_;
};

}  // namespace kxtest

// A broken precondition: debug builds abort with the asserted text on
// stderr; release builds report it and return, so the statement must come
// back without crashing.
#ifdef NDEBUG
#define EXPECT_KX_ASSERT(statement, text)                                                                         \
    do {                                                                                                          \
        testing::internal::CaptureStderr();                                                                       \
        statement;                                                                                                \
        EXPECT_NE(testing::internal::GetCapturedStderr().find(text), std::string::npos);                          \
    } while (0)
#else
#define EXPECT_KX_ASSERT(statement, text) EXPECT_DEATH(statement, text)
#endif
