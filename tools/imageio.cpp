// PNG through libpng's simplified interface, PGM/PPM by a small parser.
#include "imageio.hpp"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kxtools {

namespace {

struct FileCloser {
    void operator()(FILE *f) const
    {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

std::string lowerExtension(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    for (auto &c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool isPnmPath(const std::string &path)
{
    const std::string ext = lowerExtension(path);
    return ext == "pgm" || ext == "ppm" || ext == "pnm";
}

// ---- PNG -------------------------------------------------------------------

ImagePtr readPng(FILE *file, const std::string &path, std::string &error)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_stdio(&png, file)) {
        error = path + ": " + png.message;
        return nullptr;
    }
    int type = KIT_GRAY;
    if (png.format & PNG_FORMAT_FLAG_ALPHA) {
        type = KIT_RGBA;
        png.format = PNG_FORMAT_BGRA;
    } else if (png.format & PNG_FORMAT_FLAG_COLOR) {
        type = KIT_RGB;
        png.format = PNG_FORMAT_BGR;
    } else {
        png.format = PNG_FORMAT_GRAY;
    }
    if (png.width > 1u << 20 || png.height > 1u << 20) {
        png_image_free(&png);
        error = path + ": image too large";
        return nullptr;
    }
    ImagePtr im(kxCreateImage(type, int(png.width), int(png.height)));
    if (!im) {
        png_image_free(&png);
        error = path + ": image too large";
        return nullptr;
    }
    if (!png_image_finish_read(&png, nullptr, im->data, png_int_32(im->pitch), nullptr)) {
        error = path + ": " + png.message;
        png_image_free(&png);
        return nullptr;
    }
    return im;
}

// Packed rows of the image as they go into a file: KIT_BIN becomes 0/255.
std::vector<uint8_t> fileRows(const Image *image, int bpp)
{
    const size_t rowBytes = size_t(image->width) * size_t(bpp);
    std::vector<uint8_t> rows(rowBytes * size_t(image->height));
    for (int y = 0; y < image->height; ++y) {
        const uint8_t *src = image->data + size_t(y) * size_t(image->pitch);
        uint8_t *dst = rows.data() + rowBytes * size_t(y);
        if (image->imageType == KIT_BIN)
            for (size_t x = 0; x < rowBytes; ++x) dst[x] = src[x] ? 255 : 0;
        else
            std::memcpy(dst, src, rowBytes);
    }
    return rows;
}

bool usable(const Image *image)
{
    if (!image || !image->data || image->width < 1 || image->height < 1) return false;
    const int bpp = kxiBytesPerPixel(image->imageType);
    return bpp > 0 && int64_t(image->pitch) >= int64_t(image->width) * bpp;
}

bool writePng(const Image *image, FILE *file, const std::string &path, std::string &error)
{
    const int bpp = kxiBytesPerPixel(image->imageType);
    const std::vector<uint8_t> rows = fileRows(image, bpp);
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(image->width);
    png.height = png_uint_32(image->height);
    png.format = bpp == 1 ? PNG_FORMAT_GRAY : bpp == 3 ? PNG_FORMAT_BGR : PNG_FORMAT_BGRA;
    if (!png_image_write_to_stdio(&png, file, 0, rows.data(), 0, nullptr)) {
        error = path + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    return true;
}

// ---- PGM / PPM ---------------------------------------------------------------

// Next header number, skipping white space and comments; -1 when malformed.
long pnmNumber(FILE *f)
{
    int c = std::fgetc(f);
    for (;;) {
        if (c == '#') {
            while (c != EOF && c != '\n') c = std::fgetc(f);
        } else if (std::isspace(c)) {
            c = std::fgetc(f);
        } else {
            break;
        }
    }
    if (!std::isdigit(c)) return -1;
    long v = 0;
    while (std::isdigit(c)) {
        v = v * 10 + (c - '0');
        if (v > 1 << 24) return -1;
        c = std::fgetc(f);
    }
    // One white-space character ends the number (the last one before the
    // raster of a binary file).
    if (c != EOF && !std::isspace(c)) return -1;
    return v;
}

ImagePtr readPnm(FILE *f, char kind, const std::string &path, std::string &error)
{
    const long w = pnmNumber(f), h = pnmNumber(f), maxval = pnmNumber(f);
    if (w < 1 || h < 1 || maxval < 1 || maxval > 65535 || w > 1 << 20 || h > 1 << 20) {
        error = path + ": malformed PGM/PPM header";
        return nullptr;
    }
    const bool colour = kind == '3' || kind == '6';
    const bool plain = kind == '2' || kind == '3';
    const int channels = colour ? 3 : 1;
    ImagePtr im(kxCreateImage(colour ? KIT_RGB : KIT_GRAY, int(w), int(h)));
    if (!im) {
        error = path + ": image too large";
        return nullptr;
    }
    const bool wide = maxval > 255;
    for (long y = 0; y < h; ++y) {
        uint8_t *row = im->data + size_t(y) * size_t(im->pitch);
        for (long x = 0; x < w; ++x) {
            uint8_t rgb[3] = {0, 0, 0};
            for (int c = 0; c < channels; ++c) {
                long v;
                if (plain) {
                    v = pnmNumber(f);
                } else if (wide) {
                    const int hi = std::fgetc(f), lo = std::fgetc(f);
                    v = (hi == EOF || lo == EOF) ? -1 : (hi << 8 | lo);
                } else {
                    const int b = std::fgetc(f);
                    v = b == EOF ? -1 : b;
                }
                if (v < 0 || v > maxval) {
                    error = path + ": truncated or malformed PGM/PPM data";
                    return nullptr;
                }
                rgb[c] = uint8_t(maxval == 255 ? v : (v * 255 + maxval / 2) / maxval);
            }
            if (colour) {  // file order R, G, B; memory order B, G, R
                row[3 * x] = rgb[2];
                row[3 * x + 1] = rgb[1];
                row[3 * x + 2] = rgb[0];
            } else {
                row[x] = rgb[0];
            }
        }
    }
    return im;
}

bool writePnm(const Image *image, FILE *f, const std::string &path, std::string &error)
{
    const bool colour = image->imageType == KIT_RGB || image->imageType == KIT_RGBA;
    const int bpp = kxiBytesPerPixel(image->imageType);
    const std::vector<uint8_t> rows = fileRows(image, bpp);
    std::fprintf(f, "P%c\n%d %d\n255\n", colour ? '6' : '5', image->width, image->height);
    if (!colour) {
        std::fwrite(rows.data(), 1, rows.size(), f);
    } else {
        std::vector<uint8_t> rgb(size_t(image->width) * 3);
        for (int y = 0; y < image->height; ++y) {
            const uint8_t *src = rows.data() + size_t(y) * size_t(image->width) * size_t(bpp);
            for (int x = 0; x < image->width; ++x) {
                rgb[3 * size_t(x)] = src[size_t(x) * bpp + 2];
                rgb[3 * size_t(x) + 1] = src[size_t(x) * bpp + 1];
                rgb[3 * size_t(x) + 2] = src[size_t(x) * bpp];
            }
            std::fwrite(rgb.data(), 1, rgb.size(), f);
        }
    }
    if (std::ferror(f)) {
        error = path + ": write error";
        return false;
    }
    return true;
}

bool writeTo(const Image *image, FILE *f, const std::string &path, std::string &error)
{
    if (!usable(image)) {
        error = path + ": no image to write";
        return false;
    }
    return isPnmPath(path) ? writePnm(image, f, path, error) : writePng(image, f, path, error);
}

}  // namespace

ImagePtr readImage(const std::string &path, std::string &error)
{
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    unsigned char magic[8] = {};
    const size_t n = std::fread(magic, 1, sizeof magic, f.get());
    if (n == 8 && png_sig_cmp(magic, 0, 8) == 0) {
        std::rewind(f.get());
        return readPng(f.get(), path, error);
    }
    if (n >= 3 && magic[0] == 'P' && std::strchr("2356", magic[1]) && magic[1] && std::isspace(magic[2])) {
        std::fseek(f.get(), 2, SEEK_SET);
        return readPnm(f.get(), char(magic[1]), path, error);
    }
    error = path + ": not a PNG, PGM or PPM file";
    return nullptr;
}

bool writeImage(const Image *image, const std::string &path, std::string &error)
{
    FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!writeTo(image, f.get(), path, error)) return false;
    if (std::fclose(f.release()) != 0) {
        error = path + ": write error";
        return false;
    }
    return true;
}

bool writeImageAtomic(const Image *image, const std::string &path, std::string &error)
{
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    std::string tmp = (slash == std::string::npos ? std::string() : dir) + ".kxtmp-XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        error = path + ": cannot create a temporary file in " + dir + ": " + std::strerror(errno);
        return false;
    }
    tmp = name.data();
    FILE *f = fdopen(fd, "wb");
    if (!f) {
        error = path + ": " + std::strerror(errno);
        close(fd);
        unlink(tmp.c_str());
        return false;
    }
    bool ok = writeTo(image, f, path, error);
    ok = (std::fflush(f) == 0) && ok;
    if (ok && fsync(fileno(f)) != 0) ok = false;
    if (std::fclose(f) != 0) ok = false;
    if (ok) {
        // mkstemp creates the file with mode 0600; give the result the
        // permissions an ordinary new file gets.
        const mode_t mask = umask(0);
        umask(mask);
        chmod(tmp.c_str(), 0666 & ~mask);
    }
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        ok = false;
    } else if (!ok && error.empty()) {
        error = path + ": write error";
    }
    if (!ok) unlink(tmp.c_str());
    return ok;
}

}  // namespace kxtools
