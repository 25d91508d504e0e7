// The mask library: structuring elements by shape, and masks derived from
// binary images.
#include "kxmask.h"

#include <cstddef>
#include <cstdlib>

static_assert(offsetof(Mask, data) == offsetof(Image, data));
static_assert(offsetof(Mask, pitch) == offsetof(Image, pitch));
static_assert(offsetof(Mask, anchorX) == offsetof(Image, imageType));

namespace {

Mask *allocate(int width, int height)
{
    if (width < 1 || height < 1 || int64_t(width) * height > INT32_MAX) return nullptr;
    auto *m = static_cast<Mask *>(std::calloc(1, sizeof(Mask)));
    if (!m) return nullptr;
    m->data = static_cast<uint8_t *>(std::calloc(size_t(width) * size_t(height), 1));
    if (!m->data) {
        std::free(m);
        return nullptr;
    }
    m->magic = KXI_MAGIC;
    m->width = width;
    m->height = height;
    m->pitch = width;
    m->size = uint32_t(width) * uint32_t(height);
    m->capacity = int32_t(m->size);
    return m;
}

bool inShape(int shape, int i, int j, int w, int h)
{
    switch (shape) {
    case KXM_CROSS: return i == w / 2 || j == h / 2;
    case KXM_RECT: return true;
    default: {
        // Compare in integers: (2i-(w-1))^2 h^2 + (2j-(h-1))^2 w^2 <= w^2 h^2.
        const int64_t dx = 2 * int64_t(i) - (w - 1), dy = 2 * int64_t(j) - (h - 1);
        const int64_t W = w, H = h;
        return dx * dx * H * H + dy * dy * W * W <= W * W * H * H;
    }
    }
}

}  // namespace

extern "C" {

Mask *kxCreateMask(int shape, int width, int height)
{
    if (shape < KXM_CROSS || shape > KXM_ELLIPSE) return nullptr;
    if (width > 65535 || height > 65535) return nullptr;  // keeps the ellipse test in 64 bits
    Mask *m = allocate(width, height);
    if (!m) return nullptr;
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) m->data[size_t(j) * m->pitch + i] = inShape(shape, i, j, width, height);
    m->anchorX = width / 2;
    m->anchorY = height / 2;
    return m;
}

void kxDestroyMask(Mask *mask)
{
    if (!mask) return;
    std::free(mask->data);
    std::free(mask);
}

Mask *kmkDeriveMask(const Image *image)
{
    if (!image || !image->data || (image->imageType != KIT_BIN && image->imageType != KIT_GRAY)) return nullptr;
    if (image->pitch < image->width) return nullptr;
    Mask *m = allocate(image->width, image->height);
    if (!m) return nullptr;
    for (int y = 0; y < image->height; ++y) {
        const uint8_t *src = image->data + size_t(y) * image->pitch;
        uint8_t *dst = m->data + size_t(y) * m->pitch;
        for (int x = 0; x < image->width; ++x) dst[x] = src[x] != 0;
    }
    return m;
}

}  // extern "C"
