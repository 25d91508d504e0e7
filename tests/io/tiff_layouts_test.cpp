// TIFF layouts written with libtiff itself: grey at every depth, tiles,
// compressions, alpha, orientations, and the pages read through libtiff's
// RGBA reader, against what kxio.h documents (and, for the RGBA reader's
// layouts, against libtiff's own whole-page decode).
#include <tiffio.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "kxio.h"
#include "kxtest.hpp"

namespace {

using namespace kxtest;

constexpr uint32_t kW = 37, kH = 21;  // partial 16 x 16 tiles, a partial strip of 4 rows

struct Layout {
    const char *name;
    uint16_t photometric, spp, bps, compression;
    bool tiled, alpha;
    uint16_t orientation;
    int type;  // what the reader gives
};

// The stored sample c of pixel (x, y) of a page of `bps` bits.
uint32_t sample(uint32_t x, uint32_t y, uint32_t c, uint16_t bps)
{
    const uint32_t top = bps == 32 ? 0xFFFFFFFFu : (1u << bps) - 1;
    return uint32_t((x * 2654435761u + y * 40503u + c * 97u + (x * y) % 7) % (uint64_t(top) + 1));
}

std::string scratch(const char *name) { return testing::TempDir() + "kxtiff" + std::to_string(getpid()) + name; }

// A TIFF file of the layout, written by libtiff.
std::vector<uint8_t> writeTiff(const Layout &l)
{
    const std::string path = scratch(".tif");
    TIFF *t = TIFFOpen(path.c_str(), "w");
    EXPECT_TRUE(t);
    if (!t) return {};
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kW);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, kH);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, l.spp);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, l.bps);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, l.compression);
    TIFFSetField(t, TIFFTAG_ORIENTATION, l.orientation);
    if (l.alpha) {
        const uint16_t kind = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &kind);
    }
    std::vector<uint16_t> map(size_t(1) << l.bps);
    if (l.photometric == PHOTOMETRIC_PALETTE) {  // 16-bit entries v * 257: libtiff's 8 bits are v
        std::vector<uint16_t> r(map.size()), g(map.size()), b(map.size());
        for (size_t i = 0; i < map.size(); ++i) r[i] = uint16_t(i * 257), g[i] = uint16_t((255 - i) * 257), b[i] = uint16_t(i / 2 * 257);
        TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    // Samples packed most significant bit first, rows byte aligned.
    const auto pack = [&](uint32_t x0, uint32_t y, uint32_t n, uint8_t *out) {
        uint64_t bit = 0;
        for (uint32_t x = x0; x < x0 + n; ++x)
            for (uint32_t c = 0; c < l.spp; ++c, bit += l.bps) {
                const uint32_t v = x < kW && y < kH ? sample(x, y, c, l.bps) : 0;
                if (l.bps == 16) {
                    const uint16_t s = uint16_t(v);
                    std::memcpy(out + bit / 8, &s, 2);
                } else if (l.bps == 8) {
                    out[bit / 8] = uint8_t(v);
                } else {
                    out[bit / 8] |= uint8_t(v << (8 - l.bps - bit % 8));
                }
            }
    };
    if (l.tiled) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
        std::vector<uint8_t> tile(size_t(TIFFTileSize(t)));
        const size_t rowBytes = size_t(TIFFTileRowSize(t));
        for (uint32_t y = 0; y < kH; y += 16)
            for (uint32_t x = 0; x < kW; x += 16) {
                std::fill(tile.begin(), tile.end(), 0);
                for (uint32_t r = 0; r < 16; ++r) pack(x, y + r, 16, &tile[r * rowBytes]);
                EXPECT_GE(TIFFWriteTile(t, tile.data(), x, y, 0, 0), 0);
            }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 4);
        std::vector<uint8_t> row(size_t(TIFFScanlineSize(t)));
        for (uint32_t y = 0; y < kH; ++y) {
            std::fill(row.begin(), row.end(), 0);
            pack(0, y, kW, row.data());
            EXPECT_GE(TIFFWriteScanline(t, row.data(), y, 0), 0);
        }
    }
    TIFFClose(t);
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    std::remove(path.c_str());
    return bytes;
}

uint8_t eight(uint32_t v, uint16_t bps)
{
    const uint64_t top = (uint64_t(1) << bps) - 1;
    return uint8_t((v * 255 + top / 2) / top);  // v * 255 / top, rounded
}

// What kxio.h says the reader gives for a layout read as stored.
ImagePtr expected(const Layout &l)
{
    ImagePtr im(kxCreateImage(l.type, int(kW), int(kH)));
    const int bpp = kxiBytesPerPixel(l.type);
    const bool bottom = l.orientation == ORIENTATION_BOTLEFT || l.orientation == ORIENTATION_BOTRIGHT;
    const bool right = l.orientation == ORIENTATION_TOPRIGHT || l.orientation == ORIENTATION_BOTRIGHT;
    const uint32_t top = (1u << l.bps) - 1;
    for (uint32_t y = 0; y < kH; ++y)
        for (uint32_t x = 0; x < kW; ++x) {
            uint8_t *d = im->data + size_t(bottom ? kH - 1 - y : y) * im->pitch + size_t(right ? kW - 1 - x : x) * bpp;
            const auto s = [&](uint32_t c) { return sample(x, y, c, l.bps); };
            const bool white0 = l.photometric == PHOTOMETRIC_MINISWHITE;
            if (l.type == KIT_BIN) {
                d[0] = uint8_t(white0 ? 1 - s(0) : s(0));
            } else if (l.spp <= 2) {
                d[0] = d[bpp > 1 ? 1 : 0] = d[bpp > 1 ? 2 : 0] = eight(white0 ? top - s(0) : s(0), l.bps);
                if (l.spp == 2) d[3] = eight(s(1), l.bps);
            } else {
                d[0] = eight(s(2), l.bps), d[1] = eight(s(1), l.bps), d[2] = eight(s(0), l.bps);
                if (bpp == 4) d[3] = eight(s(3), l.bps);
            }
        }
    return im;
}

// libtiff's own decode of the whole page, top row first, as an image.
ImagePtr libtiffDecode(const std::vector<uint8_t> &bytes, int type)
{
    const std::string path = scratch("-ref.tif");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    TIFF *t = TIFFOpen(path.c_str(), "r");
    std::vector<uint32_t> raster(kW * kH);
    EXPECT_TRUE(t && TIFFReadRGBAImageOriented(t, kW, kH, raster.data(), ORIENTATION_TOPLEFT, 1));
    if (t) TIFFClose(t);
    std::remove(path.c_str());
    ImagePtr im(kxCreateImage(type, int(kW), int(kH)));
    const int bpp = kxiBytesPerPixel(type);
    for (uint32_t i = 0; i < kW * kH; ++i) {
        uint8_t *d = im->data + size_t(i / kW) * im->pitch + size_t(i % kW) * bpp;
        d[0] = uint8_t(TIFFGetB(raster[i])), d[1] = uint8_t(TIFFGetG(raster[i])), d[2] = uint8_t(TIFFGetR(raster[i]));
        if (bpp == 4) d[3] = uint8_t(TIFFGetA(raster[i]));
    }
    return im;
}

// Grey TIFFs of 16 bits and tiled 8-bit ones read as 3-channel B,G,R, 16-bit
// samples were cut with >> 8, and tiled uncompressed pages were refused: every
// layout now reads as documented, whatever its strips, tiles, compression
// and orientation.
TEST(TiffLayouts, GreyReadsAsGreyRoundedTilesAndOrientationsAsDocumented)
{
    const uint16_t MB = PHOTOMETRIC_MINISBLACK, MW = PHOTOMETRIC_MINISWHITE, RGB = PHOTOMETRIC_RGB;
    const uint16_t NONE = COMPRESSION_NONE, ZIP = COMPRESSION_ADOBE_DEFLATE, LZW = COMPRESSION_LZW,
                   PB = COMPRESSION_PACKBITS, G4 = COMPRESSION_CCITTFAX4;
    const uint16_t TL = ORIENTATION_TOPLEFT, BL = ORIENTATION_BOTLEFT, TR = ORIENTATION_TOPRIGHT,
                   BR = ORIENTATION_BOTRIGHT;
    const Layout cases[] = {
        {"grey 8, tiled, uncompressed", MB, 1, 8, NONE, true, false, TL, KIT_GRAY},
        {"grey 8, tiled, deflate", MB, 1, 8, ZIP, true, false, TL, KIT_GRAY},
        {"grey 16, strips, deflate", MB, 1, 16, ZIP, false, false, TL, KIT_GRAY},
        {"grey 16, white is zero, tiled, LZW", MW, 1, 16, LZW, true, false, TL, KIT_GRAY},
        {"grey 4, strips, PackBits", MB, 1, 4, PB, false, false, TL, KIT_GRAY},
        {"grey 2, tiled, uncompressed", MW, 1, 2, NONE, true, false, TL, KIT_GRAY},
        {"bilevel, tiled, uncompressed", MB, 1, 1, NONE, true, false, TL, KIT_BIN},
        {"bilevel, strips, G4, bottom up", MW, 1, 1, G4, false, false, BL, KIT_BIN},
        {"grey 8 + alpha, strips", MB, 2, 8, ZIP, false, true, TL, KIT_RGBA},
        {"grey 16 + alpha, tiled", MB, 2, 16, NONE, true, true, BR, KIT_RGBA},
        {"RGB 16, strips, deflate, mirrored", RGB, 3, 16, ZIP, false, false, TR, KIT_RGB},
        {"RGB 8, tiled, bottom up", RGB, 3, 8, LZW, true, false, BL, KIT_RGB},
        {"RGBA 8, tiled", RGB, 4, 8, NONE, true, true, TL, KIT_RGBA},
        {"grey 8, strips, bottom right", MB, 1, 8, NONE, false, false, BR, KIT_GRAY},
    };
    for (const auto &l : cases) {
        const std::vector<uint8_t> bytes = writeTiff(l);
        char error[256] = "";
        ImagePtr got(kxioReadMemory(bytes.data(), bytes.size(), 0, error, sizeof error));
        ImagePtr want = expected(l);
        ASSERT_TRUE(got) << l.name << ": " << error;
        EXPECT_TRUE(std::tuple(got->imageType, got->width, got->height, pixels(got.get())) ==
                    std::tuple(l.type, want->width, want->height, pixels(want.get()))) << l.name;
    }
}

// The layouts only libtiff's RGBA reader takes, now read a strip or a tile at
// a time, give libtiff's own whole-page result in every orientation.
TEST(TiffLayouts, PiecewiseRgbaReaderGivesLibtiffsWholePage)
{
    const uint16_t PAL = PHOTOMETRIC_PALETTE;
    const Layout cases[] = {
        {"palette 8, strips", PAL, 1, 8, COMPRESSION_LZW, false, false, ORIENTATION_TOPLEFT, KIT_RGB},
        {"palette 8, tiles, mirrored", PAL, 1, 8, COMPRESSION_NONE, true, false, ORIENTATION_TOPRIGHT, KIT_RGB},
        {"palette 4, strips, bottom right", PAL, 1, 4, COMPRESSION_NONE, false, false, ORIENTATION_BOTRIGHT, KIT_RGB},
        {"palette 8, tiles, bottom up", PAL, 1, 8, COMPRESSION_ADOBE_DEFLATE, true, false, ORIENTATION_BOTLEFT, KIT_RGB},
        {"palette 2, strips, bottom up", PAL, 1, 2, COMPRESSION_PACKBITS, false, false, ORIENTATION_BOTLEFT, KIT_RGB},
    };
    for (const auto &l : cases) {
        const std::vector<uint8_t> bytes = writeTiff(l);
        char error[256] = "";
        ImagePtr got(kxioReadMemory(bytes.data(), bytes.size(), 0, error, sizeof error));
        ASSERT_TRUE(got) << l.name << ": " << error;
        EXPECT_EQ(pixels(got.get()), pixels(libtiffDecode(bytes, l.type).get())) << l.name;
    }
}

}  // namespace
