// JPEG through libjpeg-turbo, which decodes straight into B,G,R order.  The
// library reports errors by longjmp (its error_exit must not return), so the
// functions keep nothing across setjmp that needs a destructor.  Warnings
// about corrupt data (a truncated file, a bad Huffman code) count as errors:
// libjpeg would otherwise return a picture with grey where data is missing.
// jpeglib.h needs size_t and FILE declared first.
#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "io_detail.hpp"

namespace kxio {

namespace {

struct Failure {
    jpeg_error_mgr manager;  // first: libjpeg hands back a pointer to it
    jmp_buf jump;
    Error *error;
};

[[noreturn]] void onError(j_common_ptr info)
{
    auto *failure = reinterpret_cast<Failure *>(info->err);
    char text[JMSG_LENGTH_MAX];
    info->err->format_message(info, text);
    fail(*failure->error, "JPEG: %s", text);
    std::longjmp(failure->jump, 1);
}

void onMessage(j_common_ptr info, int level)
{
    if (level < 0) onError(info);  // corrupt data
}

void setUp(Failure &failure, Error &error)
{
    jpeg_std_error(&failure.manager);
    failure.manager.error_exit = onError;
    failure.manager.emit_message = onMessage;
    failure.error = &error;
}

}  // namespace

Image *readJpeg(const uint8_t *data, size_t size, const Budget &budget, Error &error)
{
    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    Failure failure;
    setUp(failure, error);
    info.err = &failure.manager;
    Image *volatile image = nullptr;
    if (setjmp(failure.jump)) {
        jpeg_destroy_decompress(&info);
        kxDestroyImage(image);
        return nullptr;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        fail(error, "JPEG: CMYK files are not supported");
        std::longjmp(failure.jump, 1);
    }
    const bool grey = info.num_components == 1;
    // Checked before the decoder allocates anything for the picture.  With
    // Huffman codes every 8 x 8 block of every component takes at least one
    // bit; arithmetic codes have no such bound.
    uint64_t blocks = 0;
    for (int c = 0; c < info.num_components; ++c)
        blocks += uint64_t(info.comp_info[c].width_in_blocks) * info.comp_info[c].height_in_blocks;
    if (!sizeFits(KXIO_JPEG, info.image_width, info.image_height, true, error) ||
        (!info.arith_code && !canSupply(blocks, size, 8, "JPEG", error)))
        std::longjmp(failure.jump, 1);
    // A progressive file keeps every block's coefficients (128 bytes) until
    // the end: the decoder's memory is held to the budget the image leaves.
    const uint64_t coefficients = info.progressive_mode ? blocks * 128 : 0;
    image = newImage(grey ? KIT_GRAY : KIT_RGB, info.image_width, info.image_height, coefficients, budget, error);
    if (!image) std::longjmp(failure.jump, 1);
    if (budget.bytes != UINT64_MAX) {
        const uint64_t rest = budget.bytes - uint64_t(image->pitch) * uint64_t(image->height);
        info.mem->max_memory_to_use = long(std::min<uint64_t>(rest, uint64_t(LONG_MAX)));
    }
    info.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    if (int(info.output_width) != image->width || int(info.output_height) != image->height ||
        info.output_components != kxiBytesPerPixel(image->imageType)) {
        fail(error, "JPEG: unexpected output layout");
        std::longjmp(failure.jump, 1);
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->data + size_t(info.output_scanline) * size_t(image->pitch);
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

bool writeJpeg(const Image *source, FILE *file, int quality, Error &error)
{
    Image *const image = writableCopy(source, true, error);
    if (!image) return false;
    jpeg_compress_struct info;
    std::memset(&info, 0, sizeof info);
    Failure failure;
    setUp(failure, error);
    info.err = &failure.manager;
    if (setjmp(failure.jump)) {
        jpeg_destroy_compress(&info);
        kxDestroyImage(image);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(image->width);
    info.image_height = JDIMENSION(image->height);
    const int bpp = kxiBytesPerPixel(image->imageType);
    info.input_components = bpp;
    info.in_color_space = bpp == 1 ? JCS_GRAYSCALE : bpp == 3 ? JCS_EXT_BGR : JCS_EXT_BGRX;  // alpha dropped
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = image->data + size_t(info.next_scanline) * size_t(image->pitch);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    kxDestroyImage(image);
    if (std::ferror(file)) {
        fail(error, "write error");
        return false;
    }
    return true;
}

}  // namespace kxio
