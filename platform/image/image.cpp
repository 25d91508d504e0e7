// The image library: creation, destruction, clone, cast, flood, re-size and
// field accessors of the Image record.
#include "kximage.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int64_t kMaxBytes = INT32_MAX;  // pitch * height stays an int

int channelsOf(int imageType)
{
    switch (imageType) {
    case KIT_BIN:
    case KIT_GRAY: return 1;
    case KIT_RGB: return 3;
    case KIT_RGBA: return 4;
    default: return 0;
    }
}

int typeCode(int imageType) { return (channelsOf(imageType) - 1) << 3; }

// Sizes are compared in 64 bits and without forming pitch * height, which
// for two sides near INT_MAX would not fit even there.
bool sizesOk(int imageType, int width, int height, int64_t pitch)
{
    const int bpp = channelsOf(imageType);
    if (bpp == 0 || width < 1 || height < 1) return false;
    if (pitch < int64_t(width) * bpp || pitch > kMaxBytes) return false;
    return pitch <= kMaxBytes / height;
}

// Only called for layouts sizesOk accepted, so the row fits an int.
int packedPitch(int imageType, int width) { return int(int64_t(width) * channelsOf(imageType)); }

void setLayout(Image *im, int imageType, int width, int height, int pitch)
{
    im->imageType = imageType;
    im->type = typeCode(imageType);
    im->width = width;
    im->height = height;
    im->pitch = pitch;
    im->size = uint32_t(pitch) * uint32_t(height);
}

// Pixel bytes of one row: what every row walk below touches.
size_t rowBytes(const Image *im) { return size_t(im->width) * size_t(channelsOf(im->imageType)); }

// A record the library can work on: sane sizes and a `type` code that
// agrees with imageType (a record that disagrees is refused, never repaired).
bool usable(const Image *im)
{
    return im && im->data && sizesOk(im->imageType, im->width, im->height, im->pitch) &&
           ((im->type & 0x1F8) >> 3) + 1 == channelsOf(im->imageType);
}

// Replaces the pixel buffer of an owned image by a zeroed one of the given
// layout.  Leaves the image as it was when memory runs out.
bool reallocate(Image *im, int imageType, int width, int height, int pitch)
{
    const size_t bytes = size_t(pitch) * size_t(height);
    if (im->data && !im->isVirtual && bytes <= size_t(uint32_t(im->capacity))) {
        std::memset(im->data, 0, bytes);
    } else {
        auto *fresh = static_cast<uint8_t *>(std::calloc(bytes, 1));
        if (!fresh) return false;
        if (!im->isVirtual) std::free(im->data);
        im->data = fresh;
        im->capacity = int32_t(bytes);
        im->isVirtual = 0;
    }
    setLayout(im, imageType, width, height, pitch);
    return true;
}

uint8_t luminance(uint8_t b, uint8_t g, uint8_t r)
{
    return uint8_t(r * 0.299 + g * 0.587 + b * 0.114);
}

// Converts one row of `from` pixels into `to` pixels.
void convertRow(const uint8_t *src, int from, uint8_t *dst, int to, int width)
{
    const int sb = channelsOf(from), db = channelsOf(to);
    for (int x = 0; x < width; ++x, src += sb, dst += db) {
        uint8_t b, g, r, a = 255;
        if (from == KIT_BIN) {
            b = g = r = src[0] ? 255 : 0;
        } else if (from == KIT_GRAY) {
            b = g = r = src[0];
        } else {
            b = src[0];
            g = src[1];
            r = src[2];
            if (from == KIT_RGBA) a = src[3];
        }
        switch (to) {
        case KIT_BIN:
            dst[0] = (b | g | r) != 0;
            break;
        case KIT_GRAY:
            dst[0] = (from == KIT_BIN || from == KIT_GRAY) ? b : luminance(b, g, r);
            break;
        default:
            dst[0] = b;
            dst[1] = g;
            dst[2] = r;
            if (to == KIT_RGBA) dst[3] = (from == KIT_RGBA) ? a : 255;
        }
    }
}

}  // namespace

extern "C" {

Image *kxCreateImage(int imageType, int width, int height)
{
    return kxCreateImageEx(imageType, width, height, 0, nullptr, 0);
}

Image *kxCreateImageEx(int imageType, int width, int height, int pitch, void *data, int flags)
{
    if (flags != 0 || pitch < 0) return nullptr;
    if (channelsOf(imageType) == 0 || width < 1 || height < 1) return nullptr;
    const int64_t packed = int64_t(width) * channelsOf(imageType);
    const int64_t rowPitch = pitch == 0 ? packed : pitch;
    if (!sizesOk(imageType, width, height, rowPitch)) return nullptr;

    auto *im = static_cast<Image *>(std::calloc(1, sizeof(Image)));
    if (!im) return nullptr;
    im->magic = KXI_MAGIC;
    if (data) {
        im->data = static_cast<uint8_t *>(data);
        im->isVirtual = 1;
        im->capacity = 0;
    } else {
        const size_t bytes = size_t(rowPitch) * size_t(height);
        im->data = static_cast<uint8_t *>(std::calloc(bytes, 1));
        if (!im->data) {
            std::free(im);
            return nullptr;
        }
        im->capacity = int32_t(bytes);
    }
    setLayout(im, imageType, width, height, int(rowPitch));
    return im;
}

void kxDestroyImage(Image *image)
{
    if (!image) return;
    if (!image->isVirtual) std::free(image->data);
    std::free(image);
}

Image *kxiClone(const Image *source, Image *destination)
{
    if (!usable(source)) return nullptr;
    if (destination == source) return destination;
    if (!destination) {
        Image *copy = kxCreateImage(source->imageType, source->width, source->height);
        if (!copy) return nullptr;
        destination = copy;
    } else if (destination->isVirtual) {
        const bool same = usable(destination) && destination->width == source->width &&
                          destination->height == source->height &&
                          channelsOf(destination->imageType) == channelsOf(source->imageType);
        if (!same) return nullptr;
        destination->imageType = source->imageType;
        destination->type = source->type;
    } else {
        const bool sameLayout = usable(destination) && destination->width == source->width &&
                                destination->height == source->height &&
                                destination->pitch == packedPitch(source->imageType, source->width) &&
                                channelsOf(destination->imageType) == channelsOf(source->imageType);
        if (sameLayout) {
            destination->imageType = source->imageType;
            destination->type = source->type;
        } else if (!reallocate(destination, source->imageType, source->width, source->height,
                               packedPitch(source->imageType, source->width))) {
            return nullptr;
        }
    }
    const size_t n = rowBytes(source);
    for (int y = 0; y < source->height; ++y)
        std::memmove(destination->data + size_t(y) * destination->pitch, source->data + size_t(y) * source->pitch,
                     n);
    return destination;
}

Image *kxiCast(Image *image, int imageType)
{
    if (!usable(image) || channelsOf(imageType) == 0) return nullptr;
    const int from = image->imageType;
    if (from == imageType) return image;
    if (channelsOf(from) == channelsOf(imageType) && channelsOf(from) == 1) {
        // BIN and GRAY share one layout: convert the bytes in place.
        for (int y = 0; y < image->height; ++y) {
            uint8_t *row = image->data + size_t(y) * image->pitch;
            convertRow(row, from, row, imageType, image->width);
        }
        image->imageType = imageType;
        image->type = typeCode(imageType);
        return image;
    }
    if (image->isVirtual) return nullptr;
    Image *tmp = kxCreateImage(imageType, image->width, image->height);
    if (!tmp) return nullptr;
    for (int y = 0; y < image->height; ++y)
        convertRow(image->data + size_t(y) * image->pitch, from, tmp->data + size_t(y) * tmp->pitch, imageType,
                   image->width);
    // Hand the converted buffer over to the caller's record.
    std::free(image->data);
    image->data = tmp->data;
    image->capacity = tmp->capacity;
    setLayout(image, imageType, tmp->width, tmp->height, tmp->pitch);
    tmp->data = nullptr;
    kxDestroyImage(tmp);
    return image;
}

void kxiFlood(Image *image, int value)
{
    if (!usable(image)) return;
    const size_t n = rowBytes(image);
    for (int y = 0; y < image->height; ++y) std::memset(image->data + size_t(y) * image->pitch, value & 0xFF, n);
}

void kxiFloodEx(Image *image, const void *bytes, uint64_t count)
{
    if (!usable(image) || !bytes) return;
    const size_t n = rowBytes(image);
    const auto *src = static_cast<const uint8_t *>(bytes);
    for (int y = 0; y < image->height && count > 0; ++y) {
        const size_t take = count < n ? size_t(count) : n;
        std::memmove(image->data + size_t(y) * image->pitch, src, take);
        src += take;
        count -= take;
    }
}

int kxiSetSize(Image *image, int width, int height)
{
    if (!image || channelsOf(image->imageType) == 0) return 0;
    const int type = image->imageType;
    if (!sizesOk(type, width, height, int64_t(width) * channelsOf(type))) return 0;
    if (image->isVirtual) {
        if (!usable(image) || image->width != width || image->height != height) return 0;
        kxiFlood(image, 0);
        return 1;
    }
    return reallocate(image, type, width, height, packedPitch(type, width)) ? 1 : 0;
}

int kxiResize(Image *image, int width, int height)
{
    if (!image || channelsOf(image->imageType) == 0) return 0;
    const int type = image->imageType;
    if (!sizesOk(type, width, height, int64_t(width) * channelsOf(type))) return 0;
    if (image->isVirtual) {
        const bool same = usable(image) && image->width == width && image->height == height &&
                          image->type == typeCode(type);
        if (!same) return 0;
        kxiFlood(image, 0);
        return 1;
    }
    return reallocate(image, type, width, height, packedPitch(type, width)) ? 1 : 0;
}

void *kxiGetData(const Image *image) { return image ? image->data : nullptr; }
int kxiGetWidth(const Image *image) { return image ? image->width : 0; }
int kxiGetHeight(const Image *image) { return image ? image->height : 0; }
int kxiGetPitch(const Image *image) { return image ? image->pitch : 0; }
int kxiGetImageType(const Image *image) { return image ? image->imageType : 0; }
int kxiIsVirtual(const Image *image) { return image ? image->isVirtual : 0; }
int kxiBytesPerPixel(int imageType) { return channelsOf(imageType); }

int kxiIsWellFormed(const Image *image) { return usable(image) ? 1 : 0; }

int kxiIsByteRecord(const Image *record)
{
    if (!record || !record->data || record->width < 1 || record->height < 1) return 0;
    return record->pitch >= record->width && record->pitch <= kMaxBytes / record->height ? 1 : 0;
}

int kxiGetType(const Image *image)
{
    if (!image || channelsOf(image->imageType) == 0) return 0;
    const int channels = ((image->type & 0x1F8) >> 3) + 1;
    return channels == channelsOf(image->imageType) ? image->imageType : 0;
}

void *kxAlloc(uint64_t bytes)
{
    if (bytes > SIZE_MAX) return nullptr;
    return std::malloc(bytes ? size_t(bytes) : 1);
}

void kxFree(void *block) { std::free(block); }

}  // extern "C"
