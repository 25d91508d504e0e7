// TIFF through libtiff.  Every file is opened with its own error handler
// (TIFFOpenOptions), so messages go to the caller's buffer and nothing is
// shared between calls.  Bilevel, grey, grey + alpha, RGB and RGBA pages
// are read as stored, strips row by row and tiles one at a time; anything
// else goes through libtiff's RGBA reader, a strip or a tile at a time.
#include <tiffio.h>

#include <algorithm>
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

// libtiff's last error message.  libtiff also reports as errors what it
// then gets over (an unknown tag's type), so a message is only passed on
// with a failure of our own that follows it.
struct Said {
    char text[300] = "";
    // " (libtiff: ...)" or "".
    const char *why() const { return text; }
};

int onError(TIFF *, void *user, const char *module, const char *format, va_list args)
{
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    auto *said = static_cast<Said *>(user);
    std::snprintf(said->text, sizeof said->text, " (libtiff: %s%s%s)", module ? module : "", module ? ": " : "", text);
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

std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(Said &said, uint64_t budget)
{
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> o(TIFFOpenOptionsAlloc());
    if (!o) return o;
    TIFFOpenOptionsSetErrorHandlerExtR(o.get(), onError, &said);
    TIFFOpenOptionsSetWarningHandlerExtR(o.get(), onWarning, nullptr);
    // No single allocation of libtiff's own beyond what the largest image
    // the readers accept needs, nor beyond the budget.
    TIFFOpenOptionsSetMaxSingleMemAlloc(o.get(), tmsize_t(std::min<uint64_t>(budget, uint64_t(KXIO_MAX_PIXELS) * 4)));
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
// The bytes are already in memory: libtiff reads pieces from them as from a
// mapped file (it copies a piece only where it must change it).  This is
// also the route on which libtiff's RGBA reader takes uncompressed tiles:
// unmapped, it reads them into a buffer of the raster's size and refuses
// them for their size.
int mapProc(thandle_t h, void **base, toff_t *size)
{
    auto *s = static_cast<Source *>(h);
    *base = const_cast<uint8_t *>(s->data);
    *size = s->size;
    return 1;
}
void unmapProc(thandle_t, void *, toff_t) {}

TiffPtr openMemory(Source &source, TIFFOpenOptions *opts, const Said &said, Error &error)
{
    TiffPtr tif(TIFFClientOpenExt("file", "r", &source, readProc, writeProc, seekProc, closeProc, sizeProc,
                                  mapProc, unmapProc, opts));
    if (!tif) fail(error, "TIFF: cannot read the file's header%s", said.why());
    return tif;
}

template <typename T> T field(TIFF *tif, ttag_t tag, T otherwise)
{
    T v{};
    return TIFFGetFieldDefaulted(tif, tag, &v) == 1 ? v : otherwise;
}

// A page's layout as the reader sees it.
struct Page {
    uint32_t width = 0, height = 0, tileWidth = 0, tileHeight = 0, rowsPerStrip = 0;
    uint16_t spp = 1, bps = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT, extras = 0;
    bool tiled = false, alpha = false;  // alpha: one unassociated alpha sample after the colour
    bool bottom = false, right = false; // row 0 at the bottom, column 0 at the right
};

bool describe(TIFF *tif, Page &p, Error &error)
{
    if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width) != 1 || TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height) != 1) {
        fail(error, "TIFF: the page has no size");
        return false;
    }
    p.spp = field<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    p.bps = field<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE, 1);
    p.planar = field<uint16_t>(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    p.compression = field<uint16_t>(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    p.sampleFormat = field<uint16_t>(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    uint16_t *kinds = nullptr;
    if (TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &p.extras, &kinds) != 1) p.extras = 0;
    p.alpha = p.extras == 1 && kinds && kinds[0] == EXTRASAMPLE_UNASSALPHA;
    // No photometric tag: black is zero for one colour sample, RGB for
    // three, as libtiff's RGBA reader takes it.
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p.photometric) != 1) {
        const int colours = p.spp - std::min<int>(p.extras, p.spp);
        p.photometric = colours >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    }
    // Orientations 5-8 (rows and columns exchanged) as 1-4, as libtiff does.
    const uint16_t o = field<uint16_t>(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    p.bottom = o == ORIENTATION_BOTRIGHT || o == ORIENTATION_BOTLEFT || o == ORIENTATION_RIGHTBOT ||
               o == ORIENTATION_LEFTBOT;
    p.right = o == ORIENTATION_TOPRIGHT || o == ORIENTATION_BOTRIGHT || o == ORIENTATION_RIGHTTOP ||
              o == ORIENTATION_RIGHTBOT;
    p.tiled = TIFFIsTiled(tif);
    if (p.tiled) {
        p.tileWidth = field<uint32_t>(tif, TIFFTAG_TILEWIDTH, 0);
        p.tileHeight = field<uint32_t>(tif, TIFFTAG_TILELENGTH, 0);
        if (p.tileWidth < 1 || p.tileHeight < 1) {
            fail(error, "TIFF: the page's tiles have no size");
            return false;
        }
        // No writer makes a tile much larger than its page (sides are
        // multiples of 16); a decoded one alone could take gigabytes.
        const auto needless = [](uint32_t tile, uint32_t side) {
            return tile > std::max<uint64_t>((uint64_t(side) + 15) / 16 * 16, 1024);
        };
        if (needless(p.tileWidth, p.width) || needless(p.tileHeight, p.height)) {
            fail(error, "TIFF: tiles of %u x %u are far larger than the %u x %u page", p.tileWidth, p.tileHeight,
                 p.width, p.height);
            return false;
        }
    } else {
        p.rowsPerStrip = std::max<uint32_t>(1, std::min(field<uint32_t>(tif, TIFFTAG_ROWSPERSTRIP, p.height), p.height));
    }
    return true;
}

// The image type of the layouts read directly: 0 when libtiff's RGBA
// reader is needed.
int directType(const Page &p)
{
    if (p.sampleFormat != SAMPLEFORMAT_UINT || (p.planar != PLANARCONFIG_CONTIG && p.spp > 1)) return 0;
    const bool grey = p.photometric == PHOTOMETRIC_MINISWHITE || p.photometric == PHOTOMETRIC_MINISBLACK;
    const bool deep = p.bps == 8 || p.bps == 16;
    if (grey && p.spp == 1 && p.extras == 0) return p.bps == 1 ? KIT_BIN : p.bps == 2 || p.bps == 4 || deep ? KIT_GRAY : 0;
    if (grey && p.spp == 2 && p.alpha && deep) return KIT_RGBA;
    if (p.photometric == PHOTOMETRIC_RGB && p.spp == 3 && p.extras == 0 && deep) return KIT_RGB;
    if (p.photometric == PHOTOMETRIC_RGB && p.spp == 4 && p.alpha && deep) return KIT_RGBA;
    return 0;
}

// Decoded bytes one compressed byte gives at best (0: no bound known);
// `rowBytes` is a decoded row of a strip or tile.
uint64_t bestRatio(uint16_t compression, uint64_t rowBytes)
{
    switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;               // two bytes: a run of 128
    case COMPRESSION_LZW: return 4096 * 8 / 9;          // a code of 9 bits or more, a string of < 4096
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return kDeflateRatio;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4: return 8 * std::max<uint64_t>(rowBytes, 1);  // a row takes a bit or more
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG: return 1024;                // a bit an 8 x 8 block, 3 bytes a pixel out
    default: return 0;
    }
}

// The page's stored bytes that are inside the file (at most the file: strips
// may share bytes), and the largest strip or tile of them.
void storedBytes(TIFF *tif, uint64_t size, uint64_t &total, uint64_t &largest)
{
    total = largest = 0;
    const uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (uint32_t i = 0; i < count && total < size; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tif, i), bytes = TIFFGetStrileByteCount(tif, i);
        const uint64_t inside = offset < size ? std::min(bytes, size - offset) : 0;
        total += inside;
        largest = std::max(largest, inside);
    }
    total = std::min(total, size);
}

// Where a pixel of the file goes in the image.
struct Placer {
    Image *im;
    bool bottom, right;
    uint8_t *at(uint32_t fileRow, uint32_t fileCol, int bpp) const
    {
        const uint32_t y = bottom ? uint32_t(im->height) - 1 - fileRow : fileRow;
        const uint32_t x = right ? uint32_t(im->width) - 1 - fileCol : fileCol;
        return im->data + size_t(y) * size_t(im->pitch) + size_t(x) * size_t(bpp);
    }
};

template <int Bits> uint32_t sampleAt(const uint8_t *samples, size_t i)
{
    if constexpr (Bits == 8) {
        return samples[i];
    } else if constexpr (Bits == 16) {  // libtiff hands 16-bit samples over in the machine's order
        uint16_t v;
        std::memcpy(&v, samples + 2 * i, 2);
        return v;
    } else {
        const size_t bit = i * Bits;
        return (samples[bit / 8] >> (8 - Bits - bit % 8)) & ((1u << Bits) - 1);
    }
}

// `count` pixels of a stored row, starting at column `col` of file row
// `row`, into the image.
template <int Bits>
void putPixels(const Page &p, const Placer &to, const uint8_t *samples, uint32_t row, uint32_t col, uint32_t count)
{
    constexpr uint32_t top = (1u << Bits) - 1;
    const bool whiteIsZero = p.photometric == PHOTOMETRIC_MINISWHITE;
    const int type = to.im->imageType, bpp = kxiBytesPerPixel(type);
    const uint32_t spp = p.spp;
    if (!to.right && !to.bottom && Bits == 8 && type == KIT_GRAY && !whiteIsZero) {
        std::memcpy(to.at(row, col, 1), samples, count);
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t *d = to.at(row, col + i, bpp);
        const size_t s = size_t(i) * spp;
        switch (type) {
        case KIT_BIN:  // 1 = white in the image, whatever the file's polarity
            d[0] = uint8_t(sampleAt<Bits>(samples, s) ^ (whiteIsZero ? 1 : 0));
            break;
        case KIT_GRAY: {
            const uint32_t v = sampleAt<Bits>(samples, s);
            d[0] = scaled(whiteIsZero ? top - v : v, top);
            break;
        }
        default:
            if (spp == 2) {  // grey and alpha
                const uint32_t v = sampleAt<Bits>(samples, s);
                d[0] = d[1] = d[2] = scaled(whiteIsZero ? top - v : v, top);
                d[3] = scaled(sampleAt<Bits>(samples, s + 1), top);
            } else {  // R, G, B[, A] -> B, G, R[, A]
                d[0] = scaled(sampleAt<Bits>(samples, s + 2), top);
                d[1] = scaled(sampleAt<Bits>(samples, s + 1), top);
                d[2] = scaled(sampleAt<Bits>(samples, s), top);
                if (bpp == 4) d[3] = scaled(sampleAt<Bits>(samples, s + 3), top);
            }
        }
    }
}

void put(const Page &p, const Placer &to, const uint8_t *samples, uint32_t row, uint32_t col, uint32_t count)
{
    switch (p.bps) {
    case 1: putPixels<1>(p, to, samples, row, col, count); break;
    case 2: putPixels<2>(p, to, samples, row, col, count); break;
    case 4: putPixels<4>(p, to, samples, row, col, count); break;
    case 8: putPixels<8>(p, to, samples, row, col, count); break;
    default: putPixels<16>(p, to, samples, row, col, count); break;
    }
}

// The stored layouts: strips row by row (libtiff decodes a strip as the
// rows are asked for), tiles one at a time.
bool readDirect(TIFF *tif, const Page &p, Image *im, const Said &said, Error &error)
{
    const Placer to{im, p.bottom, p.right};
    if (!p.tiled) {
        std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize64(tif)));
        if (line.size() < (uint64_t(p.width) * p.spp * p.bps + 7) / 8) {
            fail(error, "TIFF: unexpected row size");
            return false;
        }
        for (uint32_t y = 0; y < p.height; ++y) {
            if (TIFFReadScanline(tif, line.data(), y, 0) < 0) {
                fail(error, "TIFF: cannot read row %u%s", y, said.why());
                return false;
            }
            put(p, to, line.data(), y, 0, p.width);
        }
        return true;
    }
    const uint64_t rowBytes = TIFFTileRowSize64(tif), tileBytes = TIFFTileSize64(tif);
    if (rowBytes < (uint64_t(p.tileWidth) * p.spp * p.bps + 7) / 8 || tileBytes < rowBytes * p.tileHeight) {
        fail(error, "TIFF: unexpected tile size");
        return false;
    }
    std::vector<uint8_t> tile(static_cast<size_t>(tileBytes));
    for (uint32_t y = 0; y < p.height; y += p.tileHeight)
        for (uint32_t x = 0; x < p.width; x += p.tileWidth) {
            const uint32_t index = TIFFComputeTile(tif, x, y, 0, 0);
            if (TIFFReadEncodedTile(tif, index, tile.data(), tmsize_t(tileBytes)) < 0) {
                fail(error, "TIFF: cannot read tile %u%s", index, said.why());
                return false;
            }
            const uint32_t rows = std::min(p.tileHeight, p.height - y), cols = std::min(p.tileWidth, p.width - x);
            for (uint32_t r = 0; r < rows; ++r) put(p, to, &tile[size_t(r * rowBytes)], y + r, x, cols);
        }
    return true;
}

void putRgba(const Placer &to, uint32_t abgr, uint32_t row, uint32_t col)
{
    const int bpp = kxiBytesPerPixel(to.im->imageType);
    uint8_t *d = to.at(row, col, bpp);
    d[0] = uint8_t(TIFFGetB(abgr));
    d[1] = uint8_t(TIFFGetG(abgr));
    d[2] = uint8_t(TIFFGetR(abgr));
    if (bpp == 4) d[3] = uint8_t(TIFFGetA(abgr));
}

// Everything else through libtiff's RGBA reader, a strip or a tile at a
// time.  Its rasters have their first row at the bottom; libtiff has
// already undone a mirrored column order within the piece.
bool readRgba(TIFF *tif, const Page &p, Image *im, const Said &said, Error &error)
{
    const Placer to{im, p.bottom, p.right};
    if (!p.tiled) {
        std::vector<uint32_t> raster(size_t(p.width) * p.rowsPerStrip);
        for (uint32_t y = 0; y < p.height; y += p.rowsPerStrip) {
            if (!TIFFReadRGBAStrip(tif, y, raster.data())) {
                fail(error, "TIFF: cannot decode the rows from %u%s", y, said.why());
                return false;
            }
            const uint32_t rows = std::min(p.rowsPerStrip, p.height - y);
            for (uint32_t i = 0; i < rows; ++i) {
                const uint32_t row = y + (p.bottom ? i : rows - 1 - i);
                const uint32_t *src = &raster[size_t(i) * p.width];
                for (uint32_t x = 0; x < p.width; ++x) putRgba(to, src[x], row, p.right ? p.width - 1 - x : x);
            }
        }
        return true;
    }
    std::vector<uint32_t> raster(size_t(p.tileWidth) * p.tileHeight);
    for (uint32_t y = 0; y < p.height; y += p.tileHeight)
        for (uint32_t x = 0; x < p.width; x += p.tileWidth) {
            if (!TIFFReadRGBATile(tif, x, y, raster.data())) {
                fail(error, "TIFF: cannot decode the tile at (%u, %u)%s", x, y, said.why());
                return false;
            }
            const uint32_t rows = std::min(p.tileHeight, p.height - y), cols = std::min(p.tileWidth, p.width - x);
            for (uint32_t r = p.tileHeight - rows; r < p.tileHeight; ++r) {  // the piece's rows, from the bottom
                const uint32_t j = r - (p.tileHeight - rows);
                const uint32_t row = y + (p.bottom ? j : rows - 1 - j);
                const uint32_t *src = &raster[size_t(r) * p.tileWidth];
                for (uint32_t c = 0; c < cols; ++c) putRgba(to, src[c], row, x + (p.right ? cols - 1 - c : c));
            }
        }
    return true;
}

}  // namespace

int tiffPageCount(const uint8_t *data, size_t size, Error &error)
{
    Said said;
    auto opts = options(said, UINT64_MAX);
    Source source{data, size, 0};
    TiffPtr tif = opts ? openMemory(source, opts.get(), said, error) : nullptr;
    if (!tif) return -1;
    const tdir_t n = TIFFNumberOfDirectories(tif.get());
    return n > 0 && n <= 65535 ? int(n) : (fail(error, "TIFF: cannot count the pages%s", said.why()), -1);
}

Image *readTiff(const uint8_t *data, size_t size, int page, const Budget &budget, Error &error)
{
    Said said;
    auto opts = options(said, budget.bytes);
    if (!opts) {
        fail(error, "out of memory");
        return nullptr;
    }
    Source source{data, size, 0};
    TiffPtr tif = openMemory(source, opts.get(), said, error);
    if (!tif) return nullptr;
    if (page > 0 && !TIFFSetDirectory(tif.get(), tdir_t(page))) {
        fail(error, "TIFF: no page %d (the file has %d)%s", page, int(TIFFNumberOfDirectories(tif.get())),
             said.why());
        return nullptr;
    }
    Page p;
    if (!describe(tif.get(), p, error) || !sizeFits(KXIO_TIFF, p.width, p.height, true, error)) return nullptr;
    // The page's stored bytes must be able to decode to it before the image
    // is made.
    const uint64_t planes = p.planar == PLANARCONFIG_SEPARATE ? p.spp : 1;
    const uint64_t rowBytes = p.tiled ? TIFFTileRowSize64(tif.get()) : TIFFScanlineSize64(tif.get());
    const uint64_t needed = p.tiled ? TIFFTileSize64(tif.get()) * TIFFNumberOfTiles(tif.get())
                                    : rowBytes * p.height * planes;
    uint64_t stored = 0, largest = 0;
    storedBytes(tif.get(), size, stored, largest);
    if (p.compression == COMPRESSION_NONE && stored < needed) {
        fail(error, "TIFF: the file ends early: %u x %u uncompressed pixels need %llu bytes, the file holds %llu of "
                    "them", p.width, p.height, (unsigned long long)needed, (unsigned long long)stored);
        return nullptr;
    }
    if (!TIFFIsCODECConfigured(p.compression)) {  // before the image is made: nothing could fill it
        fail(error, "TIFF: the page's compression %u is not one this build decodes", unsigned(p.compression));
        return nullptr;
    }
    if (!canSupply(needed, stored, bestRatio(p.compression, rowBytes), "TIFF", error)) return nullptr;
    int type = directType(p);
    const bool direct = type != 0;
    uint64_t working = largest;  // libtiff's copy of a piece's stored bytes
    if (direct) {
        working += p.tiled ? TIFFTileSize64(tif.get()) : rowBytes;
    } else {
        char why[1024] = "";
        if (!TIFFRGBAImageOK(tif.get(), why)) {
            fail(error, "TIFF: unsupported page layout: %s%s", why, said.why());
            return nullptr;
        }
        type = p.extras > 0 ? KIT_RGBA : KIT_RGB;
        const uint64_t pixels = p.tiled ? uint64_t(p.tileWidth) * p.tileHeight : uint64_t(p.width) * p.rowsPerStrip;
        working += pixels * 4 + (p.tiled ? TIFFTileSize64(tif.get()) : TIFFStripSize64(tif.get()));
    }
    ImagePtr im(newImage(type, p.width, p.height, working, budget, error));
    if (!im) return nullptr;
    if (!(direct ? readDirect(tif.get(), p, im.get(), said, error) : readRgba(tif.get(), p, im.get(), said, error)))
        return nullptr;
    return im.release();
}

// ---- writing -----------------------------------------------------------------------

namespace {

bool writePage(TIFF *tif, const Image *im, int page, int count, const Said &said, Error &error)
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
            fail(error, "TIFF: cannot write row %d of page %d%s", y, page, said.why());
            return false;
        }
    }
    if (!TIFFWriteDirectory(tif)) {
        fail(error, "TIFF: cannot write page %d%s", page, said.why());
        return false;
    }
    return true;
}

}  // namespace

bool writeTiff(const Image *const *images, int count, const char *path, Error &error)
{
    Said said;
    auto opts = options(said, UINT64_MAX);
    if (!opts) {
        fail(error, "out of memory");
        return false;
    }
    TIFF *tif = TIFFOpenExt(path, "w", opts.get());
    if (!tif) {
        fail(error, "TIFF: cannot create the file%s", said.why());
        return false;
    }
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        ImagePtr page(writableCopy(images[i], false, error));
        ok = page && writePage(tif, page.get(), i, count, said, error);
    }
    TIFFClose(tif);
    return ok;
}

}  // namespace kxio
