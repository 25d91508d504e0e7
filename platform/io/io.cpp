// The image-file library: format detection, whole-file reads, the public
// functions and the PNM reader and writer.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "io_detail.hpp"

namespace kxio {

void fail(Error &error, const char *format, ...)
{
    if (error.set) return;
    error.set = true;
    if (!error.text || error.size == 0) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(error.text, error.size, format, args);
    va_end(args);
}

bool sizeFits(int format, uint64_t width, uint64_t height, bool reading, Error &error)
{
    const uint64_t side = format == KXIO_JPEG || format == KXIO_AUTO ? KXIO_MAX_JPEG_SIDE : KXIO_MAX_SIDE;
    const uint64_t readSide = reading ? KXIO_MAX_SIDE : side;
    if (width < 1 || height < 1) {
        if (reading)
            fail(error, "the file declares an empty image (%llu x %llu)", (unsigned long long)width,
                 (unsigned long long)height);
        else
            fail(error, "an image of %llu x %llu pixels is empty", (unsigned long long)width,
                 (unsigned long long)height);
        return false;
    }
    if (width > readSide || height > readSide || width * height > uint64_t(KXIO_MAX_PIXELS)) {
        if (reading)
            fail(error, "the file declares %llu x %llu pixels, above the limit (sides up to %llu, %d pixels)",
                 (unsigned long long)width, (unsigned long long)height, (unsigned long long)readSide,
                 KXIO_MAX_PIXELS);
        else
            fail(error, "%llu x %llu pixels are above the limit of the files this library reads (sides up to "
                        "%llu, %d pixels)", (unsigned long long)width, (unsigned long long)height,
                 (unsigned long long)readSide, KXIO_MAX_PIXELS);
        return false;
    }
    return true;
}

Image *newImage(int imageType, uint64_t width, uint64_t height, uint64_t working, const Budget &budget,
                Error &error)
{
    if (!sizeFits(KXIO_PNG, width, height, true, error)) return nullptr;
    const uint64_t bytes = width * height * uint64_t(kxiBytesPerPixel(imageType)) + working;
    if (bytes > budget.bytes) {
        fail(error, "reading the %llu x %llu image takes %llu bytes, above the budget of %llu",
             (unsigned long long)width, (unsigned long long)height, (unsigned long long)bytes,
             (unsigned long long)budget.bytes);
        return nullptr;
    }
    Image *im = kxCreateImage(imageType, int(width), int(height));
    if (!im) fail(error, "out of memory for a %llu x %llu image", (unsigned long long)width,
                  (unsigned long long)height);
    return im;
}

bool canSupply(uint64_t needed, uint64_t available, uint64_t ratio, const char *what, Error &error)
{
    // 128-bit: a lying file may declare counts near 2^64.
    if (ratio == 0 || (unsigned __int128)available * ratio >= needed) return true;
    fail(error, "%s: the file holds %llu bytes of image data, which cannot decode to the %llu bytes its page "
                "declares (at most %llu times as many)", what, (unsigned long long)available,
         (unsigned long long)needed, (unsigned long long)ratio);
    return false;
}

Image *writableCopy(const Image *image, bool binToGray, Error &error)
{
    if (!kxiIsWellFormed(image)) {
        fail(error, "no usable image to write");
        return nullptr;
    }
    Image *copy = kxiClone(image, nullptr);
    if (!copy) {
        fail(error, "out of memory");
        return nullptr;
    }
    if (binToGray && copy->imageType == KIT_BIN && !kxiCast(copy, KIT_GRAY)) {
        kxDestroyImage(copy);
        fail(error, "out of memory");
        return nullptr;
    }
    return copy;
}

namespace {

struct ImageDeleter {
    void operator()(Image *im) const { kxDestroyImage(im); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

struct FileCloser {
    void operator()(FILE *f) const
    {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

int formatOf(const uint8_t *data, size_t size)
{
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(data, png, 8) == 0) return KXIO_PNG;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return KXIO_JPEG;
    if (size >= 4 && ((data[0] == 'I' && data[1] == 'I' && (data[2] == 42 || data[2] == 43) && data[3] == 0) ||
                      (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == 42 || data[3] == 43))))
        return KXIO_TIFF;
    if (size >= 3 && data[0] == 'P' && data[1] >= '1' && data[1] <= '6' && std::isspace(data[2]))
        return KXIO_PNM;
    return 0;
}

// The whole file, or false with the reason.
bool slurp(const char *path, std::vector<uint8_t> &bytes, Error &error)
{
    if (!path) {
        fail(error, "no file name");
        return false;
    }
    FilePtr f(std::fopen(path, "rb"));
    if (!f) {
        fail(error, "%s", std::strerror(errno));
        return false;
    }
    struct stat st;
    if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(error, "not a regular file");
        return false;
    }
    if (st.st_size > KXIO_MAX_FILE_BYTES) {
        fail(error, "the file holds %lld bytes, above the limit of %d", (long long)st.st_size,
             KXIO_MAX_FILE_BYTES);
        return false;
    }
    bytes.resize(size_t(st.st_size));
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) {
        fail(error, "read error");
        return false;
    }
    return true;
}

Image *readBytes(const uint8_t *data, size_t size, int page, const Budget &budget, Error &error)
{
    if (!data && size) {
        fail(error, "no data");
        return nullptr;
    }
    const int format = formatOf(data, size);
    if (page < 0 || (page > 0 && format != KXIO_TIFF && format != 0)) {
        fail(error, "no page %d: only TIFF files have more than one page", page);
        return nullptr;
    }
    switch (format) {
    case KXIO_PNG: return readPng(data, size, budget, error);
    case KXIO_JPEG: return readJpeg(data, size, budget, error);
    case KXIO_PNM: return readPnm(data, size, budget, error);
    case KXIO_TIFF: return readTiff(data, size, page, budget, error);
    default:
        fail(error, size == 0 ? "the file is empty" : "not a PNG, PNM, TIFF or JPEG file");
        return nullptr;
    }
}

int pageCount(const uint8_t *data, size_t size, Error &error)
{
    const int format = formatOf(data, size);
    if (format == KXIO_TIFF) return tiffPageCount(data, size, error);
    if (format == 0) {
        fail(error, size == 0 ? "the file is empty" : "not a PNG, PNM, TIFF or JPEG file");
        return -1;
    }
    return 1;
}

// The budget a read starts with, the file's `held` bytes taken.
bool startBudget(const KxioReadOptions *options, uint64_t held, Budget &budget, Error &error)
{
    budget.bytes = UINT64_MAX;
    if (!options || options->maxBytes == 0) return true;
    if (held > options->maxBytes) {
        fail(error, "the file's %llu bytes are above the budget of %llu", (unsigned long long)held,
             (unsigned long long)options->maxBytes);
        return false;
    }
    budget.bytes = options->maxBytes - held;
    return true;
}

std::string lowerExtension(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    const char *dot = std::strrchr(path, '.');
    if (!dot || (slash && dot < slash)) return {};
    std::string ext(dot + 1);
    for (auto &c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// The format and quality a write uses, or false with the reason.
bool writeSettings(const char *path, const KxioOptions *options, int &format, int &quality, Error &error)
{
    if (!path) {
        fail(error, "no file name");
        return false;
    }
    format = options ? options->format : KXIO_AUTO;
    const int asked = options ? options->quality : 0;
    quality = asked ? asked : 90;
    if (format == KXIO_AUTO) {
        format = kxioFormatOfName(path);
        if (!format) {
            fail(error, "cannot tell the file format from the name \"%s\" (known extensions: .png, "
                        ".pnm, .pgm, .ppm, .pbm, .tif, .tiff, .jpg, .jpeg)", path);
            return false;
        }
    }
    if (format < KXIO_PNG || format > KXIO_JPEG) {
        fail(error, "unknown format code %d", format);
        return false;
    }
    if (asked && format != KXIO_JPEG) {
        fail(error, "a quality (%d) is only for JPEG files; %s files have none", asked,
             format == KXIO_PNG ? "PNG" : format == KXIO_PNM ? "PNM" : "TIFF");
        return false;
    }
    if (quality < 1 || quality > 100) {
        fail(error, "JPEG quality %d is outside 1..100", quality);
        return false;
    }
    return true;
}

// Everything a write checks before the file is touched: the settings, a
// usable image of a size the format's readers take, PBM for binary images.
bool checkWrite(const Image *image, const char *path, const KxioOptions *options, int &format, int &quality,
                Error &error)
{
    if (!writeSettings(path, options, format, quality, error)) return false;
    if (!kxiIsWellFormed(image)) {
        fail(error, "no usable image to write");
        return false;
    }
    if (!sizeFits(format, uint64_t(image->width), uint64_t(image->height), false, error)) return false;
    if (format == KXIO_PNM && lowerExtension(path) == "pbm" && image->imageType != KIT_BIN) {
        fail(error, "PBM holds binary images only (this one is %d-bit); use .pgm, .ppm or .pnm", image->imageType);
        return false;
    }
    return true;
}

// ---- PNM -----------------------------------------------------------------------

struct Cursor {
    const uint8_t *p, *end;
    int next() { return p < end ? *p++ : -1; }
    int peek() const { return p < end ? *p : -1; }
    void skipSpace()
    {
        for (;;) {
            const int c = peek();
            if (c == '#') {
                while (peek() != -1 && peek() != '\n') ++p;
            } else if (c != -1 && std::isspace(c)) {
                ++p;
            } else {
                return;
            }
        }
    }
    // A decimal header number up to `limit`; -1 when malformed or larger.
    long number(long limit)
    {
        skipSpace();
        if (peek() == -1 || !std::isdigit(peek())) return -1;
        long v = 0;
        while (peek() != -1 && std::isdigit(peek())) {
            v = v * 10 + (next() - '0');
            if (v > limit) return -1;
        }
        return v;
    }
};

}  // namespace

Image *readPnm(const uint8_t *data, size_t size, const Budget &budget, Error &error)
{
    Cursor in{data + 2, data + size};
    const char kind = char(data[1]);
    const bool bitmap = kind == '1' || kind == '4';
    const bool plain = kind <= '3';
    const int channels = kind == '3' || kind == '6' ? 3 : 1;
    const long w = in.number(INT32_MAX), h = in.number(INT32_MAX);
    const long maxval = bitmap ? 1 : in.number(65535);
    if (w < 0 || h < 0 || maxval < 1) {
        fail(error, "PNM: malformed header (width, height and a maxval of 1..65535 expected)");
        return nullptr;
    }
    if (plain && w <= KXIO_MAX_SIDE && h <= KXIO_MAX_SIDE &&
        uint64_t(w) * uint64_t(h) * channels > uint64_t(in.end - in.p)) {
        // Every sample takes at least one character.
        fail(error, "PNM: the file ends early: %ld x %ld pixels need more than the %lld bytes that follow the "
                    "header", w, h, (long long)(in.end - in.p));
        return nullptr;
    }
    if (!plain) {
        // Exactly one white-space character ends the header of a raw file.
        const int c = in.next();
        if (c == -1 || !std::isspace(c)) {
            fail(error, "PNM: malformed header");
            return nullptr;
        }
        const uint64_t row = bitmap ? (uint64_t(w) + 7) / 8 : uint64_t(w) * channels * (maxval > 255 ? 2 : 1);
        if (w <= KXIO_MAX_SIDE && h <= KXIO_MAX_SIDE && row * uint64_t(h) > uint64_t(in.end - in.p)) {
            fail(error, "PNM: the file ends early: %ld x %ld pixels need %llu bytes, %lld follow the header",
                 w, h, (unsigned long long)(row * uint64_t(h)), (long long)(in.end - in.p));
            return nullptr;
        }
    }
    ImagePtr im(newImage(bitmap ? KIT_BIN : channels == 3 ? KIT_RGB : KIT_GRAY, uint64_t(w), uint64_t(h), 0, budget,
                         error));
    if (!im) return nullptr;
    for (long y = 0; y < h; ++y) {
        uint8_t *row = im->data + size_t(y) * size_t(im->pitch);
        if (bitmap && !plain) {  // bits, most significant first, 1 = black
            for (long x = 0; x < w; ++x) row[x] = uint8_t(((in.p[x / 8] >> (7 - x % 8)) & 1) ^ 1);
            in.p += (w + 7) / 8;
            continue;
        }
        for (long x = 0; x < w; ++x) {
            uint8_t px[3];
            for (int c = 0; c < channels; ++c) {
                long v;
                if (bitmap) {  // plain bitmap: one '0' or '1' each, spaces optional
                    in.skipSpace();
                    const int d = in.next();
                    v = d == '0' ? 0 : d == '1' ? 1 : -1;
                } else if (plain) {
                    v = in.number(maxval);
                } else if (maxval > 255) {
                    v = long(in.p[0]) << 8 | in.p[1];
                    in.p += 2;
                } else {
                    v = *in.p++;
                }
                if (v < 0 || v > maxval) {
                    fail(error, "PNM: malformed or missing sample at pixel (%ld, %ld)", x, y);
                    return nullptr;
                }
                px[c] = bitmap ? uint8_t(v ^ 1) : scaled(uint32_t(v), uint32_t(maxval));
            }
            if (channels == 3) {  // file order R, G, B; memory order B, G, R
                row[3 * x] = px[2];
                row[3 * x + 1] = px[1];
                row[3 * x + 2] = px[0];
            } else {
                row[x] = px[0];
            }
        }
    }
    return im.release();
}

bool writePnm(const Image *image, FILE *f, bool bitmap, Error &error)
{
    ImagePtr copy(writableCopy(image, !bitmap, error));
    if (!copy) return false;
    const int w = copy->width, h = copy->height, bpp = kxiBytesPerPixel(copy->imageType);
    const bool colour = bpp >= 3;
    std::fprintf(f, "P%c\n%d %d\n%s", bitmap ? '4' : colour ? '6' : '5', w, h, bitmap ? "" : "255\n");
    std::vector<uint8_t> out(bitmap ? (size_t(w) + 7) / 8 : size_t(w) * (colour ? 3 : 1));
    for (int y = 0; y < h; ++y) {
        const uint8_t *src = copy->data + size_t(y) * size_t(copy->pitch);
        if (bitmap) {
            std::fill(out.begin(), out.end(), 0);
            for (int x = 0; x < w; ++x)
                if (!src[x]) out[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
        } else if (colour) {
            for (int x = 0; x < w; ++x) {
                out[3 * size_t(x)] = src[size_t(x) * bpp + 2];
                out[3 * size_t(x) + 1] = src[size_t(x) * bpp + 1];
                out[3 * size_t(x) + 2] = src[size_t(x) * bpp];
            }
        } else {
            std::memcpy(out.data(), src, out.size());
        }
        std::fwrite(out.data(), 1, out.size(), f);
    }
    if (std::ferror(f)) {
        fail(error, "write error");
        return false;
    }
    return true;
}

}  // namespace kxio

using kxio::Error;

extern "C" {

int kxioFormatOfName(const char *path)
{
    if (!path) return 0;
    const std::string ext = kxio::lowerExtension(path);
    if (ext == "png") return KXIO_PNG;
    if (ext == "pnm" || ext == "pgm" || ext == "ppm" || ext == "pbm") return KXIO_PNM;
    if (ext == "tif" || ext == "tiff") return KXIO_TIFF;
    if (ext == "jpg" || ext == "jpeg") return KXIO_JPEG;
    return 0;
}

Image *kxioRead(const char *path, int page, char *error, size_t errorSize)
{
    return kxioReadEx(path, page, nullptr, error, errorSize);
}

Image *kxioReadMemory(const void *bytes, size_t count, int page, char *error, size_t errorSize)
{
    return kxioReadMemoryEx(bytes, count, page, nullptr, error, errorSize);
}

Image *kxioReadEx(const char *path, int page, const KxioReadOptions *options, char *error, size_t errorSize)
{
    Error e{error, errorSize, false};
    std::vector<uint8_t> bytes;
    kxio::Budget budget;
    if (!kxio::slurp(path, bytes, e) || !kxio::startBudget(options, bytes.size(), budget, e)) return nullptr;
    return kxio::readBytes(bytes.data(), bytes.size(), page, budget, e);
}

Image *kxioReadMemoryEx(const void *bytes, size_t count, int page, const KxioReadOptions *options, char *error,
                        size_t errorSize)
{
    Error e{error, errorSize, false};
    kxio::Budget budget;
    if (!kxio::startBudget(options, 0, budget, e)) return nullptr;
    return kxio::readBytes(static_cast<const uint8_t *>(bytes), count, page, budget, e);
}

int kxioPageCount(const char *path, char *error, size_t errorSize)
{
    Error e{error, errorSize, false};
    std::vector<uint8_t> bytes;
    if (!kxio::slurp(path, bytes, e)) return -1;
    return kxio::pageCount(bytes.data(), bytes.size(), e);
}

int kxioPageCountMemory(const void *bytes, size_t count, char *error, size_t errorSize)
{
    Error e{error, errorSize, false};
    if (!bytes && count) {
        kxio::fail(e, "no data");
        return -1;
    }
    return kxio::pageCount(static_cast<const uint8_t *>(bytes), count, e);
}

int kxioCheckSize(int format, int width, int height, char *error, size_t errorSize)
{
    Error e{error, errorSize, false};
    if (format < KXIO_AUTO || format > KXIO_JPEG) {
        kxio::fail(e, "unknown format code %d", format);
        return 0;
    }
    return kxio::sizeFits(format, uint64_t(std::max(width, 0)), uint64_t(std::max(height, 0)), false, e);
}

int kxioCheckWrite(const Image *image, const char *path, const KxioOptions *options, char *error,
                   size_t errorSize)
{
    Error e{error, errorSize, false};
    int format = 0, quality = 0;
    return kxio::checkWrite(image, path, options, format, quality, e);
}

int kxioWrite(const Image *image, const char *path, const KxioOptions *options, char *error, size_t errorSize)
{
    Error e{error, errorSize, false};
    int format = 0, quality = 0;
    // Refused before the target is touched.
    if (!kxio::checkWrite(image, path, options, format, quality, e)) return 0;
    if (format == KXIO_TIFF) return kxioWritePages(&image, 1, path, options, error, errorSize);
    kxio::FilePtr f(std::fopen(path, "wb"));
    if (!f) {
        kxio::fail(e, "%s", std::strerror(errno));
        return 0;
    }
    bool ok = false;
    switch (format) {
    case KXIO_PNG: ok = kxio::writePng(image, f.get(), e); break;
    case KXIO_JPEG: ok = kxio::writeJpeg(image, f.get(), quality, e); break;
    default: ok = kxio::writePnm(image, f.get(), kxio::lowerExtension(path) == "pbm", e); break;
    }
    if (std::fclose(f.release()) != 0 && ok) {
        kxio::fail(e, "write error");
        ok = false;
    }
    if (!ok) unlink(path);  // no half-written file under the name
    return ok;
}

int kxioWritePages(const Image *const *images, int count, const char *path, const KxioOptions *options,
                   char *error, size_t errorSize)
{
    Error e{error, errorSize, false};
    int format = 0, quality = 0;
    if (!kxio::writeSettings(path, options, format, quality, e)) return 0;
    if (format != KXIO_TIFF) {
        kxio::fail(e, "only TIFF files hold several pages");
        return 0;
    }
    if (!images || count < 1) {
        kxio::fail(e, "no pages to write");
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        char why[256] = "";
        Error pageError{why, sizeof why, false};
        if (!kxio::checkWrite(images[i], path, options, format, quality, pageError)) {
            if (count > 1) kxio::fail(e, "page %d: %s", i, why);
            else kxio::fail(e, "%s", why);
            return 0;
        }
    }
    const bool ok = kxio::writeTiff(images, count, path, e);
    if (!ok) unlink(path);
    return ok;
}

}  // extern "C"
