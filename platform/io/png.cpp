// PNG through libpng.  Reading uses libpng's full interface (its transforms
// expand palettes, low bit depths and transparency and reduce 16-bit
// samples); libpng reports errors by longjmp, so the reading function keeps
// nothing across setjmp that needs a destructor.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "io_detail.hpp"

namespace kxio {

namespace {

struct Source {
    const uint8_t *data;
    size_t size, pos;
};

void readFromMemory(png_structp png, png_bytep out, size_t count)
{
    auto *src = static_cast<Source *>(png_get_io_ptr(png));
    if (count > src->size - src->pos) png_error(png, "the file ends early");
    std::memcpy(out, src->data + src->pos, count);
    src->pos += count;
}

// libpng's error and warning callbacks share this: a warning often names
// the cause of the error that follows ("Image width exceeds user limit"
// before "Invalid IHDR data").
struct Report {
    Error *error;
    char warning[128];
};

void onError(png_structp png, png_const_charp message)
{
    const Report *report = static_cast<Report *>(png_get_error_ptr(png));
    if (report->warning[0])
        fail(*report->error, "PNG: %s (%s)", message, report->warning);
    else
        fail(*report->error, "PNG: %s", message);
    png_longjmp(png, 1);
}

void onWarning(png_structp png, png_const_charp message)
{
    Report *report = static_cast<Report *>(png_get_error_ptr(png));
    std::snprintf(report->warning, sizeof report->warning, "%s", message);
}

// Sets up the transforms and returns the image type the rows will have.
int prepare(png_structp png, png_infop info)
{
    const int colourType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    const bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) || transparency;
    const bool colour = (colourType & PNG_COLOR_MASK_COLOR) != 0;
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (transparency) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_scale_16(png);  // v * 255 / 65535, rounded
    if (alpha && !colour) png_set_gray_to_rgb(png);
    if (alpha || colour) png_set_bgr(png);
    return alpha ? KIT_RGBA : colour ? KIT_RGB : KIT_GRAY;
}

uint32_t bigEndian(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// Before libpng is given the file: the size the header declares within the
// limits, and enough compressed data in the IDAT chunks for the rows at
// Deflate's best ratio.  A file whose chunks cannot be walked is left to
// libpng, which says what is wrong with it.
bool fits(const uint8_t *data, size_t size, Error &error)
{
    size_t pos = 8;
    uint64_t idat = 0, rowBytes = 0, height = 0;
    bool header = false;
    while (size - pos >= 12) {
        const uint64_t length = bigEndian(data + pos);
        const uint8_t *type = data + pos + 4, *body = data + pos + 8;
        const uint64_t present = std::min<uint64_t>(length, size - pos - 8);
        if (!header) {
            // A damaged header is libpng's to describe.
            if (std::memcmp(type, "IHDR", 4) != 0 || length != 13 || size - pos < 25 ||
                crc32(crc32(0, type, 4), body, 13) != bigEndian(body + 13))
                return true;
            const uint64_t w = bigEndian(body), h = bigEndian(body + 4);
            if (w == 0 || h == 0) return true;
            const int depth = body[8], colourType = body[9];
            const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
            if (!sizeFits(KXIO_PNG, w, h, true, error)) return false;
            rowBytes = (w * uint64_t(channels) * uint64_t(depth) + 7) / 8;
            height = h;
            header = true;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            idat += present;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        }
        if (length > size - pos - 12) break;
        pos += 12 + size_t(length);
    }
    // Every row of a pass starts with its filter byte: at least the rows'
    // bytes, whether interlaced or not.
    return !header || canSupply(rowBytes * height, idat, kDeflateRatio, "PNG", error);
}

}  // namespace

Image *readPng(const uint8_t *data, size_t size, const Budget &budget, Error &error)
{
    if (!fits(data, size, error)) return nullptr;
    Report report{&error, ""};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &report, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        fail(error, "out of memory");
        return nullptr;
    }
    Source source{data, size, 0};
    Image *volatile image = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        kxDestroyImage(image);
        return nullptr;
    }
    png_set_read_fn(png, &source, readFromMemory);
    png_set_user_limits(png, KXIO_MAX_SIDE, KXIO_MAX_SIDE);
    png_read_info(png, info);
    const int type = prepare(png, info);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    image = newImage(type, png_get_image_width(png, info), png_get_image_height(png, info), 0, budget, error);
    if (!image) png_longjmp(png, 1);
    if (png_get_rowbytes(png, info) != size_t(image->width) * size_t(kxiBytesPerPixel(type)))
        png_error(png, "unexpected row layout");
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < image->height; ++y)
            png_read_row(png, image->data + size_t(y) * size_t(image->pitch), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return image;
}

bool writePng(const Image *image, FILE *file, Error &error)
{
    struct Deleter {
        void operator()(Image *im) const { kxDestroyImage(im); }
    };
    std::unique_ptr<Image, Deleter> copy(writableCopy(image, true, error));
    if (!copy) return false;
    const int bpp = kxiBytesPerPixel(copy->imageType);
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(copy->width);
    png.height = png_uint_32(copy->height);
    png.format = bpp == 1 ? PNG_FORMAT_GRAY : bpp == 3 ? PNG_FORMAT_BGR : PNG_FORMAT_BGRA;
    if (!png_image_write_to_stdio(&png, file, 0, copy->data, png_int_32(copy->pitch), nullptr)) {
        fail(error, "PNG: %s", png.message);
        png_image_free(&png);
        return false;
    }
    return true;
}

}  // namespace kxio
