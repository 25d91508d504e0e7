// TIFF through libtiff.  Every file is opened with its own error handler
// (TIFFOpenOptions), so messages go to the caller's buffer and nothing is
// shared between calls.  Bilevel, 8-bit grey, RGB and RGBA strips are read
// row by row as stored; anything else goes through libtiff's RGBA reader.
#include <tiffio.h>

#include <cstdarg>
#include <cstring>
#include <memory>
#include <vector>

#include "io_detail.hpp"

namespace kxio {

namespace {

struct ImageDeleter {
    void operator()(Image *im) const { kxDestroyImage(im); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

int onError(TIFF *, void *user, const char *module, const char *format, va_list args)
{
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    fail(*static_cast<Error *>(user), "TIFF: %s%s%s", module ? module : "", module ? ": " : "", text);
    return 1;
}

int onWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }

struct OptionsDeleter {
    void operator()(TIFFOpenOptions *o) const { TIFFOpenOptionsFree(o); }
};
struct TiffCloser {
    void operator()(TIFF *t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(Error &error)
{
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> o(TIFFOpenOptionsAlloc());
    if (!o) return o;
    TIFFOpenOptionsSetErrorHandlerExtR(o.get(), onError, &error);
    TIFFOpenOptionsSetWarningHandlerExtR(o.get(), onWarning, nullptr);
    // No single allocation of libtiff's own beyond what the largest image
    // the readers accept needs.
    TIFFOpenOptionsSetMaxSingleMemAlloc(o.get(), tmsize_t(KXIO_MAX_PIXELS) * 4);
    return o;
}

// ---- reading from memory ---------------------------------------------------------

struct Source {
    const uint8_t *data;
    uint64_t size, pos;
};

tmsize_t readProc(thandle_t h, void *out, tmsize_t count)
{
    auto *s = static_cast<Source *>(h);
    if (count < 0) return -1;
    const uint64_t n = std::min<uint64_t>(uint64_t(count), s->size - std::min(s->pos, s->size));
    if (n) std::memcpy(out, s->data + s->pos, n);
    s->pos += n;
    return tmsize_t(n);
}
tmsize_t writeProc(thandle_t, void *, tmsize_t) { return -1; }
toff_t seekProc(thandle_t h, toff_t offset, int whence)
{
    auto *s = static_cast<Source *>(h);
    uint64_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->size : 0;
    s->pos = base + offset;
    return s->pos;
}
int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t h) { return static_cast<Source *>(h)->size; }
int mapProc(thandle_t, void **, toff_t *) { return 0; }
void unmapProc(thandle_t, void *, toff_t) {}

TiffPtr openMemory(Source &source, TIFFOpenOptions *opts, Error &error)
{
    TiffPtr tif(TIFFClientOpenExt("file", "rm", &source, readProc, writeProc, seekProc, closeProc, sizeProc,
                                  mapProc, unmapProc, opts));
    if (!tif) fail(error, "TIFF: cannot read the file's header");
    return tif;
}

template <typename T> T field(TIFF *tif, ttag_t tag, T otherwise)
{
    T v{};
    return TIFFGetFieldDefaulted(tif, tag, &v) == 1 ? v : otherwise;
}

// The stored layouts read row by row: 0 when libtiff's RGBA reader is needed.
int directType(TIFF *tif)
{
    if (TIFFIsTiled(tif) || field<uint16_t>(tif, TIFFTAG_PLANARCONFIG, 0) != PLANARCONFIG_CONTIG) return 0;
    uint16_t photometric = 0;
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1) return 0;
    const uint16_t spp = field<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL, 0);
    const uint16_t bps = field<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE, 0);
    const bool grey = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
    if (grey && spp == 1 && bps == 1) return KIT_BIN;
    if (grey && spp == 1 && bps == 8) return KIT_GRAY;
    if (photometric == PHOTOMETRIC_RGB && bps == 8 && spp == 3) return KIT_RGB;
    if (photometric == PHOTOMETRIC_RGB && bps == 8 && spp == 4) {
        uint16_t count = 0;
        uint16_t *kinds = nullptr;
        if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) == 1 && count == 1 &&
            kinds[0] == EXTRASAMPLE_UNASSALPHA)
            return KIT_RGBA;
    }
    return 0;
}

bool readRows(TIFF *tif, Image *im, Error &error)
{
    const bool whiteIsZero = field<uint16_t>(tif, TIFFTAG_PHOTOMETRIC, 0) == PHOTOMETRIC_MINISWHITE;
    const int w = im->width, bpp = kxiBytesPerPixel(im->imageType);
    const tmsize_t expected = im->imageType == KIT_BIN ? (w + 7) / 8 : tmsize_t(w) * bpp;
    if (TIFFScanlineSize(tif) != expected) {
        fail(error, "TIFF: unexpected row size");
        return false;
    }
    std::vector<uint8_t> line(static_cast<size_t>(expected));
    for (int y = 0; y < im->height; ++y) {
        if (TIFFReadScanline(tif, line.data(), uint32_t(y), 0) < 0) {
            fail(error, "TIFF: cannot read row %d", y);
            return false;
        }
        uint8_t *row = im->data + size_t(y) * size_t(im->pitch);
        switch (im->imageType) {
        case KIT_BIN:  // 1 = white in the image, whatever the file's polarity
            for (int x = 0; x < w; ++x)
                row[x] = uint8_t(((line[size_t(x) / 8] >> (7 - x % 8)) & 1) ^ (whiteIsZero ? 1 : 0));
            break;
        case KIT_GRAY:
            for (int x = 0; x < w; ++x) row[x] = whiteIsZero ? uint8_t(255 - line[size_t(x)]) : line[size_t(x)];
            break;
        default:  // R, G, B[, A] -> B, G, R[, A]
            for (int x = 0; x < w; ++x) {
                const uint8_t *s = &line[size_t(x) * bpp];
                uint8_t *d = row + size_t(x) * bpp;
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                if (bpp == 4) d[3] = s[3];
            }
        }
    }
    return true;
}

bool readRgba(TIFF *tif, Image *im, Error &error)
{
    std::vector<uint32_t> raster(size_t(im->width) * size_t(im->height));
    if (!TIFFReadRGBAImageOriented(tif, uint32_t(im->width), uint32_t(im->height), raster.data(),
                                   ORIENTATION_TOPLEFT, 1)) {
        fail(error, "TIFF: cannot decode the page");
        return false;
    }
    const int bpp = kxiBytesPerPixel(im->imageType);
    for (int y = 0; y < im->height; ++y) {
        uint8_t *row = im->data + size_t(y) * size_t(im->pitch);
        const uint32_t *src = &raster[size_t(y) * size_t(im->width)];
        for (int x = 0; x < im->width; ++x) {
            uint8_t *d = row + size_t(x) * bpp;
            d[0] = uint8_t(TIFFGetB(src[x]));
            d[1] = uint8_t(TIFFGetG(src[x]));
            d[2] = uint8_t(TIFFGetR(src[x]));
            if (bpp == 4) d[3] = uint8_t(TIFFGetA(src[x]));
        }
    }
    return true;
}

}  // namespace

int tiffPageCount(const uint8_t *data, size_t size, Error &error)
{
    auto opts = options(error);
    Source source{data, size, 0};
    TiffPtr tif = opts ? openMemory(source, opts.get(), error) : nullptr;
    if (!tif) return -1;
    const tdir_t n = TIFFNumberOfDirectories(tif.get());
    return n > 0 && n <= 65535 ? int(n) : (fail(error, "TIFF: cannot count the pages"), -1);
}

Image *readTiff(const uint8_t *data, size_t size, int page, Error &error)
{
    auto opts = options(error);
    if (!opts) {
        fail(error, "out of memory");
        return nullptr;
    }
    Source source{data, size, 0};
    TiffPtr tif = openMemory(source, opts.get(), error);
    if (!tif) return nullptr;
    if (page > 0 && !TIFFSetDirectory(tif.get(), tdir_t(page))) {
        fail(error, "TIFF: no page %d (the file has %d)", page, int(TIFFNumberOfDirectories(tif.get())));
        return nullptr;
    }
    uint32_t w = 0, h = 0;
    if (TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w) != 1 || TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h) != 1) {
        fail(error, "TIFF: the page has no size");
        return nullptr;
    }
    // Uncompressed rows must all be in the file: refuse a small file that
    // declares a large page before the image is made.
    if (field<uint16_t>(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_NONE) == COMPRESSION_NONE &&
        !TIFFIsTiled(tif.get()) && w <= KXIO_MAX_SIDE && h <= KXIO_MAX_SIDE &&
        uint64_t(TIFFScanlineSize64(tif.get())) * h > size) {
        fail(error, "TIFF: the file ends early: %u x %u uncompressed pixels cannot fit in %zu bytes", w, h, size);
        return nullptr;
    }
    int type = directType(tif.get());
    const bool direct = type != 0;
    if (!direct) {
        char why[1024] = "";
        if (!TIFFRGBAImageOK(tif.get(), why)) {
            fail(error, "TIFF: unsupported page layout: %s", why);
            return nullptr;
        }
        uint16_t extra = 0;
        uint16_t *kinds = nullptr;
        TIFFGetField(tif.get(), TIFFTAG_EXTRASAMPLES, &extra, &kinds);
        type = extra > 0 ? KIT_RGBA : KIT_RGB;
    }
    ImagePtr im(newImage(type, w, h, error));
    if (!im) return nullptr;
    if (!(direct ? readRows(tif.get(), im.get(), error) : readRgba(tif.get(), im.get(), error))) return nullptr;
    return im.release();
}

// ---- writing -----------------------------------------------------------------------

namespace {

bool writePage(TIFF *tif, const Image *im, int page, int count, Error &error)
{
    const int w = im->width, h = im->height, bpp = kxiBytesPerPixel(im->imageType);
    const bool bilevel = im->imageType == KIT_BIN;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(bpp));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(bilevel ? 1 : 8));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 bilevel ? PHOTOMETRIC_MINISWHITE : bpp == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_ADOBE_DEFLATE);
    if (bpp == 4) {
        const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    }
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, bilevel ? uint32_t(h) : TIFFDefaultStripSize(tif, 0));
    if (count > 1) {
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, uint16_t(page), uint16_t(count));
    }
    std::vector<uint8_t> line(bilevel ? (size_t(w) + 7) / 8 : size_t(w) * bpp);
    for (int y = 0; y < h; ++y) {
        const uint8_t *src = im->data + size_t(y) * size_t(im->pitch);
        if (bilevel) {  // white is zero: a set bit is black (0 in the image)
            std::fill(line.begin(), line.end(), 0);
            for (int x = 0; x < w; ++x)
                if (!src[x]) line[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
        } else if (bpp == 1) {
            std::memcpy(line.data(), src, line.size());
        } else {
            for (int x = 0; x < w; ++x) {
                const uint8_t *s = src + size_t(x) * bpp;
                uint8_t *d = &line[size_t(x) * bpp];
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                if (bpp == 4) d[3] = s[3];
            }
        }
        if (TIFFWriteScanline(tif, line.data(), uint32_t(y), 0) < 0) {
            fail(error, "TIFF: cannot write row %d of page %d", y, page);
            return false;
        }
    }
    if (!TIFFWriteDirectory(tif)) {
        fail(error, "TIFF: cannot write page %d", page);
        return false;
    }
    return true;
}

}  // namespace

bool writeTiff(const Image *const *images, int count, const char *path, Error &error)
{
    auto opts = options(error);
    if (!opts) {
        fail(error, "out of memory");
        return false;
    }
    TIFF *tif = TIFFOpenExt(path, "w", opts.get());
    if (!tif) {
        fail(error, "TIFF: cannot create the file");
        return false;
    }
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        ImagePtr page(writableCopy(images[i], false, error));
        ok = page && writePage(tif, page.get(), i, count, error);
    }
    TIFFClose(tif);
    return ok;
}

}  // namespace kxio
