// Reads bounded by the data a file holds, the caller's budget, and writers
// that refuse what the readers refuse.  Peak memory is measured in a child
// process (fork, getrusage), so that each read starts from the same state.
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <fstream>
#include <functional>

#include "kxio.h"
#include "kxtest.hpp"

namespace {

using namespace kxtest;
using Bytes = std::vector<uint8_t>;

// Appends one byte at a time: g++ 12 misjudges vector::insert of short
// lists at -O2 (stringop-overflow) and this is a test's file builder.
void add(Bytes &b, std::initializer_list<uint8_t> bytes)
{
    for (uint8_t v : bytes) b.push_back(v);
}
void add(Bytes &b, const Bytes &bytes)
{
    for (uint8_t v : bytes) b.push_back(v);
}
void add(Bytes &b, size_t count, uint8_t v)
{
    for (size_t i = 0; i < count; ++i) b.push_back(v);
}

void put16(Bytes &b, uint32_t v) { add(b, {uint8_t(v), uint8_t(v >> 8)}); }
void put32(Bytes &b, uint32_t v) { add(b, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); }
void putBig32(Bytes &b, uint32_t v) { add(b, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }

// A one-strip TIFF page of w x h pixels whose strip is `data`.
Bytes tiff(uint32_t w, uint32_t h, uint16_t spp, uint16_t bps, uint16_t compression, uint16_t photometric,
           const Bytes &data)
{
    Bytes b = {'I', 'I', 42, 0};
    put32(b, 8);
    const uint32_t tags[][2] = {{256, w}, {257, h}, {258, bps}, {259, compression}, {262, photometric},
                                {273, 0}, {277, spp}, {278, h}, {279, uint32_t(data.size())}};
    const uint32_t count = sizeof tags / sizeof tags[0], dataAt = 8 + 2 + 12 * count + 4;
    put16(b, count);
    for (const auto &t : tags) {
        put16(b, uint16_t(t[0]));
        put16(b, 4);  // LONG
        put32(b, 1);
        put32(b, t[0] == 273 ? dataAt : t[1]);
    }
    put32(b, 0);
    add(b, data);
    return b;
}

Bytes pngChunk(const char *type, const Bytes &body)
{
    Bytes c;
    putBig32(c, uint32_t(body.size()));
    for (int i = 0; i < 4; ++i) c.push_back(uint8_t(type[i]));
    add(c, body);
    putBig32(c, uint32_t(crc32(crc32(0, c.data() + 4, 4), body.data(), uInt(body.size()))));
    return c;
}

// A PNG of w x h pixels of colour type `colourType` whose IDAT is `idat`.
Bytes png(uint32_t w, uint32_t h, uint8_t colourType, const Bytes &idat)
{
    Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, ihdr;
    putBig32(ihdr, w);
    putBig32(ihdr, h);
    add(ihdr, {8, colourType, 0, 0, 0});
    for (const Bytes &c : {pngChunk("IHDR", ihdr), pngChunk("IDAT", idat), pngChunk("IEND", {})})
        add(b, c);
    return b;
}

// A progressive JPEG header of w x h grey pixels and the start of its first
// scan (the decoder keeps every block of such a file until its end).
Bytes progressiveJpeg(uint16_t w, uint16_t h)
{
    Bytes b = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};
    add(b, 64, 1);
    add(b, {0xFF, 0xC2, 0, 11, 8, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w), 1, 1, 0x11, 0});
    add(b, {0xFF, 0xC4, 0, 20, 0x00, 1});  // one DC code of one bit
    add(b, 15, 0);
    b.push_back(0);
    add(b, {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 0, 0x00});
    add(b, 40, 0);
    add(b, {0xFF, 0xD9});
    return b;
}

Bytes pnm(const std::string &header, const Bytes &pixels)
{
    Bytes b(header.begin(), header.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

Bytes fileBytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The growth of the peak resident memory, in MB, while `work` runs in a
// child process, and whether it succeeded.
std::pair<double, bool> peakOf(const std::function<bool()> &work)
{
    int fds[2];
    if (pipe(fds) != 0) return {-1, false};
    const pid_t child = fork();
    if (child == 0) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const bool ok = work();
        getrusage(RUSAGE_SELF, &after);
        const long grown = after.ru_maxrss - before.ru_maxrss;  // kB
        (void)!write(fds[1], &grown, sizeof grown);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    long grown = -1024;
    (void)!read(fds[0], &grown, sizeof grown);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return {grown / 1024.0, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

bool readsFromMemory(const Bytes &b)
{
    Image *im = kxioReadMemory(b.data(), b.size(), 0, nullptr, 0);
    kxDestroyImage(im);
    return im != nullptr;
}

// The fuzzer's 144-byte TIFF (a G4 page of 12816 x 19789 in 10 bytes, with a
// mistyped photometric tag) took 1.7 GB; so did any small file declaring a
// large page read through libtiff's RGBA reader.  Small files declaring large
// pages are refused for a few MB at most.
TEST(BoundedReads, SmallFilesDeclaringLargePagesAreRefusedForAFewMegabytes)
{
    Bytes artifact = fileBytes(KX_TEST_DATA "/../fuzz/corpus/tiff/oom-g4-page-of-12816x19789-in-10-bytes");
    ASSERT_EQ(artifact.size(), 145u);
    artifact.erase(artifact.begin());  // the harness's page byte
    Bytes tiles = fileBytes(KX_TEST_DATA "/../fuzz/corpus/tiff/oom-tiles-of-43-gigabytes");
    tiles.erase(tiles.begin());
    Bytes unknown = fileBytes(KX_TEST_DATA "/../fuzz/corpus/tiff/slow-unknown-compression-page-of-400-mb");
    unknown.erase(unknown.begin());
    const Bytes some(20, 0x5A);
    const struct { const char *name; Bytes file; } cases[] = {
        {"the fuzzer's G4 page", artifact},
        {"the fuzzer's page of 43 GB tiles", tiles},
        {"the fuzzer's page of a compression no codec reads", unknown},
        {"16-bit grey Deflate TIFF", tiff(16384, 16384, 1, 16, COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_MINISBLACK, some)},
        {"palette LZW TIFF", tiff(16384, 16384, 1, 8, COMPRESSION_LZW, PHOTOMETRIC_PALETTE, some)},
        {"8-bit grey uncompressed TIFF", tiff(16000, 16000, 1, 8, COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, some)},
        {"RGBA PNG", png(65535, 4096, 6, some)},
        {"progressive JPEG", progressiveJpeg(65500, 4000)},
        {"binary PGM", pnm("P5 16000 16000 255\n", some)},
        {"ASCII PPM", pnm("P3 9000 9000 255\n", some)},
    };
    for (const auto &c : cases) {
        char error[256] = "";
        EXPECT_FALSE(ImagePtr(kxioReadMemory(c.file.data(), c.file.size(), 0, error, sizeof error))) << c.name;
        EXPECT_TRUE(std::strstr(error, "cannot decode to") || std::strstr(error, "ends early") ||
                    std::strstr(error, "far larger than") || std::strstr(error, "not one this build decodes"))
            << c.name << ": " << error;
        const auto [mb, read] = peakOf([&] { return readsFromMemory(c.file); });
        EXPECT_TRUE(!read && mb >= 0 && mb < 8) << c.name << ": " << mb << " MB";
    }
}

// A 16-bit grey TIFF took more than twice its 8-bit result (libtiff's RGBA
// raster and an RGB image); now the file's bytes, the grey image and a small
// constant.
TEST(BoundedReads, LargeSixteenBitGreyPageTakesItsImageAndLittleMore)
{
    const uint32_t side = 4096;
    const std::string path = testing::TempDir() + "kxbounded" + std::to_string(getpid()) + ".tif";
    TIFF *t = TIFFOpen(path.c_str(), "w");
    ASSERT_TRUE(t);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, side);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, side);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, side);  // one strip: the worst case for a strip buffer
    std::vector<uint16_t> row(side);
    for (uint32_t y = 0; y < side; ++y) {
        for (uint32_t x = 0; x < side; ++x) row[x] = uint16_t(x / 64 * 1000 + y / 64);
        ASSERT_GE(TIFFWriteScanline(t, row.data(), y, 0), 0);
    }
    TIFFClose(t);
    const double image = side * side / 1048576.0, file = fileBytes(path).size() / 1048576.0;
    const auto [mb, read] = peakOf([&] {
        Image *im = kxioRead(path.c_str(), 0, nullptr, 0);
        const auto at = [&](uint32_t x, uint32_t y) { return im->data[size_t(y) * im->pitch + x]; };
        const auto want = [](uint32_t x, uint32_t y) { return uint8_t((uint16_t(x / 64 * 1000 + y / 64) * 255u + 32767) / 65535); };
        const bool grey = im && im->imageType == KIT_GRAY && at(1, 0) == want(1, 0) && at(4095, 4095) == want(4095, 4095) &&
                          at(3000, 17) == want(3000, 17);
        kxDestroyImage(im);
        return grey;
    });
    std::remove(path.c_str());
    EXPECT_TRUE(read);
    EXPECT_LT(mb, image + file + 8) << "image " << image << " MB, file " << file << " MB";
}

// The caller's budget refuses a read before its image is made, counting the
// file's bytes when the read is from a file, and lets through a read that fits.
TEST(BoundedReads, ABudgetRefusesReadsThatNeedMore)
{
    ImagePtr in = randomImage(KIT_RGB, 200, 100, 5);  // 60000 bytes of pixels
    const std::string path = testing::TempDir() + "kxbudget" + std::to_string(getpid()) + ".pnm";
    ASSERT_TRUE(kxioWrite(in.get(), path.c_str(), nullptr, nullptr, 0));
    const Bytes file = fileBytes(path);
    const struct { bool fromFile; size_t budget; const char *says; } cases[] = {
        {false, 59999, "above the budget of 59999"}, {false, 60000, nullptr},
        {true, file.size() - 1, "file's"}, {true, file.size() + 59999, "above the budget"},
        {true, file.size() + 60000, nullptr}, {false, 0, nullptr}};  // 0: no budget
    for (const auto &c : cases) {
        const KxioReadOptions options = {c.budget};
        char error[256] = "";
        ImagePtr got(c.fromFile ? kxioReadEx(path.c_str(), 0, &options, error, sizeof error)
                                : kxioReadMemoryEx(file.data(), file.size(), 0, &options, error, sizeof error));
        if (c.says)
            EXPECT_TRUE(!got && std::strstr(error, c.says)) << c.budget << ": " << error;
        else
            EXPECT_TRUE(got && pixels(got.get()) == pixels(in.get())) << c.budget << ": " << error;
    }
    std::remove(path.c_str());
}

// The writers refuse what the readers refuse, before the file is touched,
// and the largest sizes they accept read back.
TEST(BoundedWrites, WritersRefuseWhatReadersRefuseAndTheLimitsReadBack)
{
    const struct { int format; int w, h; bool ok; } sizes[] = {
        {KXIO_PNG, 65535, 1, true}, {KXIO_PNG, 65536, 1, false}, {KXIO_TIFF, 1, 65536, false},
        {KXIO_JPEG, 65500, 1, true}, {KXIO_JPEG, 1, 65501, false}, {KXIO_AUTO, 65501, 1, false},
        {KXIO_PNM, 16384, 16384, true}, {KXIO_PNM, 16384, 16385, false}, {KXIO_PNG, 0, 5, false},
        {KXIO_PNG, -1, 5, false}, {KXIO_TIFF, 65535, 4097, false}, {9, 1, 1, false}};
    for (const auto &c : sizes) {
        char error[256] = "";
        EXPECT_EQ(kxioCheckSize(c.format, c.w, c.h, error, sizeof error), int(c.ok))
            << c.format << ": " << c.w << " x " << c.h << ": " << error;
        EXPECT_TRUE(c.ok || *error) << c.w << " x " << c.h;
    }
    const struct { const char *name; int w, h; bool ok; } writes[] = {
        {"wide.png", 65535, 1, true}, {"tall.tif", 1, 65535, true}, {"wide.jpg", 65500, 1, true},
        {"wider.png", 65536, 1, false}, {"wider.jpg", 65501, 1, false}, {"taller.pgm", 1, 65536, false}};
    for (const auto &c : writes) {
        ImagePtr im = randomImage(KIT_GRAY, c.w, c.h, 3);
        const std::string path = testing::TempDir() + "kxlimit" + std::to_string(getpid()) + c.name;
        char error[256] = "";
        EXPECT_EQ(kxioCheckWrite(im.get(), path.c_str(), nullptr, error, sizeof error), int(c.ok)) << c.name << ": " << error;
        EXPECT_EQ(kxioWrite(im.get(), path.c_str(), nullptr, error, sizeof error), int(c.ok)) << c.name << ": " << error;
        ImagePtr back(kxioRead(path.c_str(), 0, error, sizeof error));
        if (c.ok)
            EXPECT_TRUE(back && back->width == c.w && back->height == c.h) << c.name << ": " << error;
        else
            EXPECT_TRUE(!back && std::strstr(error, "No such file")) << c.name << " was written: " << error;
        std::remove(path.c_str());
    }
}

}  // namespace
