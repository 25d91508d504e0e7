// The image-file library: the corpus of tests/data (valid files of every
// supported kind, and malformed ones), round trips through every writer,
// TIFF pages, limits and the error reports.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kxio.h"
#include "kxtest.hpp"

namespace {

using kxtest::ImagePtr;

const std::string kData = KX_TEST_DATA "/";

// The corpus picture (make_corpus.py): 4 x 3 pixels.
int grey(int x, int y) { return (x * 60 + y * 20) % 256; }
int red(int x, int) { return 10 * x + 1; }
int green(int, int y) { return 20 * y + 2; }
int blue(int x, int y) { return 30 + x + y; }
int alpha(int x, int y) { return 255 - 40 * x - 10 * y; }
int bit(int x, int y) { return (x + y) % 2; }

std::string scratch(const std::string &name)
{
    return ::testing::TempDir() + "kxio-" + std::to_string(getpid()) + "-" + name;
}

ImagePtr read(const std::string &path, int page = 0)
{
    char error[256] = "";
    ImagePtr im(kxioRead(path.c_str(), page, error, sizeof error));
    EXPECT_TRUE(im) << path << ": " << error;
    return im;
}

std::vector<uint8_t> bytesOf(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

enum class Expect { Grey, Grey16, GreyAlpha, Rgb, Rgba, Palette, PaletteAlpha, Bits, BitsAsGrey };

struct Valid {
    const char *file;
    int type;
    Expect content;
};

TEST(ReadCorpus, EveryValidFileGivesThePicture)
{
    const Valid cases[] = {
        {"grey.png", KIT_GRAY, Expect::Grey},           {"grey16.png", KIT_GRAY, Expect::Grey},
        {"grey-alpha.png", KIT_RGBA, Expect::GreyAlpha}, {"rgb.png", KIT_RGB, Expect::Rgb},
        {"rgb16.png", KIT_RGB, Expect::Rgb},             {"rgba.png", KIT_RGBA, Expect::Rgba},
        {"rgb-interlaced.png", KIT_RGB, Expect::Rgb},    {"palette.png", KIT_RGB, Expect::Palette},
        {"palette-trns.png", KIT_RGBA, Expect::PaletteAlpha}, {"grey1.png", KIT_GRAY, Expect::BitsAsGrey},
        {"grey.pgm", KIT_GRAY, Expect::Grey},           {"grey-plain.pgm", KIT_GRAY, Expect::Grey},
        {"grey16.pgm", KIT_GRAY, Expect::Grey},         {"rgb.ppm", KIT_RGB, Expect::Rgb},
        {"rgb-plain.ppm", KIT_RGB, Expect::Rgb},         {"bits.pbm", KIT_BIN, Expect::Bits},
        {"bits-plain.pbm", KIT_BIN, Expect::Bits},       {"grey.tif", KIT_GRAY, Expect::Grey},
        {"rgb.tif", KIT_RGB, Expect::Rgb},               {"rgba.tif", KIT_RGBA, Expect::Rgba},
        {"bits.tif", KIT_BIN, Expect::Bits},
    };
    for (const Valid &c : cases) {
        SCOPED_TRACE(c.file);
        ImagePtr im = read(kData + c.file);
        if (!im) continue;
        ASSERT_EQ(im->imageType, c.type);
        ASSERT_EQ(im->width, 4);
        ASSERT_EQ(im->height, 3);
        const int bpp = kxiBytesPerPixel(c.type);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                const uint8_t *p = im->data + y * im->pitch + x * bpp;
                std::vector<int> want;
                switch (c.content) {
                case Expect::Grey:
                case Expect::Grey16: want = {grey(x, y)}; break;
                case Expect::GreyAlpha: want = {grey(x, y), grey(x, y), grey(x, y), alpha(x, y)}; break;
                case Expect::Rgb:
                case Expect::Palette: want = {blue(x, y), green(x, y), red(x, y)}; break;
                case Expect::Rgba: want = {blue(x, y), green(x, y), red(x, y), alpha(x, y)}; break;
                case Expect::PaletteAlpha: {
                    const int index = x + 4 * y;
                    want = {blue(x, y), green(x, y), red(x, y), index == 0 ? 0 : index == 1 ? 0x80 : 255};
                    break;
                }
                case Expect::Bits: want = {bit(x, y)}; break;
                case Expect::BitsAsGrey: want = {bit(x, y) * 255}; break;
                }
                for (int i = 0; i < bpp; ++i) ASSERT_EQ(p[i], want[size_t(i)]) << "pixel " << x << "," << y;
            }
    }
}

struct Malformed {
    const char *file;
    const char *says;  // part of the error text
};

TEST(ReadCorpus, EveryMalformedFileIsRefusedWithAReason)
{
    const Malformed cases[] = {
        {"bad-truncated.png", "PNG"},           {"bad-crc.png", "CRC"},
        {"bad-huge.png", "PNG"},                {"bad-zero-width.png", "PNG"},
        {"bad-signature-only.png", "ends early"}, {"bad-idat-garbage.png", "PNG"},
        {"bad-short.pgm", "ends early"},        {"bad-header.pgm", "header"},
        {"bad-maxval.pgm", "header"},           {"bad-huge.ppm", "limit"},
        {"bad-sample.pgm", "sample"},           {"bad-truncated.tif", "TIFF"},
        {"bad-huge.tif", "limit"},              {"bad-small-for-size.tif", "ends early"},              {"bad-strip-outside.tif", "TIFF"},
        {"bad-header.tif", "TIFF"},             {"bad-markers.jpg", "JPEG"},
        {"bad-empty-after-soi.jpg", "JPEG"},    {"does-not-exist.png", "No such file"},
        {"make_corpus.py", "not a PNG, PNM, TIFF or JPEG"},
    };
    for (const Malformed &c : cases) {
        char error[256] = "";
        ImagePtr im(kxioRead((kData + c.file).c_str(), 0, error, sizeof error));
        EXPECT_FALSE(im) << c.file;
        EXPECT_NE(std::string(error).find(c.says), std::string::npos) << c.file << ": " << error;
    }
}

// Every prefix of every valid file: a clean refusal or a picture, never a
// crash or a read outside the bytes (the sanitizer build checks the latter).
TEST(ReadCorpus, EveryTruncationOfAValidFileIsHandled)
{
    for (const char *file : {"grey.png", "rgb-interlaced.png", "palette-trns.png", "grey16.pgm", "rgb-plain.ppm",
                             "bits.pbm", "rgba.tif", "pages.tif", "bits.tif"}) {
        const std::vector<uint8_t> bytes = bytesOf(kData + file);
        ASSERT_FALSE(bytes.empty()) << file;
        for (size_t n = 0; n < bytes.size(); ++n) {
            char error[128] = "";
            ImagePtr im(kxioReadMemory(bytes.data(), n, 0, error, sizeof error));
            if (!im) {
                EXPECT_NE(error[0], '\0') << file << " cut at " << n;
            }
        }
    }
}

// Files with a few bytes changed at random, the compressed ones (JPEG, G4
// and Deflate TIFF, PNG) made by the library's own writers: each read either
// gives a picture or a reason, and never reads outside the bytes.
TEST(ReadCorpus, FilesWithChangedBytesAreHandled)
{
    std::vector<std::vector<uint8_t>> files;
    for (const char *file : {"palette-trns.png", "rgb-interlaced.png", "rgb-plain.ppm", "pages.tif"})
        files.push_back(bytesOf(kData + file));
    ImagePtr bits = kxtest::randomImage(KIT_BIN, 40, 30, 5);
    ImagePtr colour = kxtest::randomImage(KIT_RGB, 24, 16, 6);
    const struct {
        const Image *image;
        const char *name;
    } written[] = {{bits.get(), "m-g4.tif"}, {colour.get(), "m.tif"}, {colour.get(), "m.jpg"}, {colour.get(), "m.png"}};
    for (const auto &w : written) {
        const std::string path = scratch(w.name);
        char error[256] = "";
        ASSERT_TRUE(kxioWrite(w.image, path.c_str(), nullptr, error, sizeof error)) << error;
        files.push_back(bytesOf(path));
        std::remove(path.c_str());
    }
    std::mt19937 rng(11);
    int refused = 0, total = 0;
    for (const auto &original : files) {
        ASSERT_GT(original.size(), 16u);
        for (int round = 0; round < 1000; ++round) {
            std::vector<uint8_t> bytes = original;
            const int changes = 1 + int(rng() % 4);
            for (int i = 0; i < changes; ++i) bytes[rng() % bytes.size()] = uint8_t(rng());
            char error[128] = "";
            ImagePtr im(kxioReadMemory(bytes.data(), bytes.size(), 0, error, sizeof error));
            ++total;
            if (!im) {
                ++refused;
                ASSERT_NE(error[0], '\0') << "file " << (&original - files.data()) << " round " << round;
            }
        }
    }
    // Most changes are noticed (checksums, codes), some land in pixels.
    EXPECT_GT(refused, total / 10);
}

TEST(ReadCorpus, DeclaredSizeAboveTheLimitIsRefusedBeforeReadingPixels)
{
    // A PGM header that declares the largest accepted side twice over, with
    // no pixel data at all: refused for its size, not for the missing data.
    const std::string header = "P5\n" + std::to_string(KXIO_MAX_SIDE + 1) + " 1\n255\n";
    char error[256] = "";
    EXPECT_FALSE(kxioReadMemory(header.data(), header.size(), 0, error, sizeof error));
    EXPECT_NE(std::string(error).find("limit"), std::string::npos) << error;
    // Within the limits, a header whose data cannot be there is refused
    // before the image is made: raw and plain forms alike.
    for (const std::string small : {"P5\n60000 4000\n255\n\x01\x02", "P2\n60000 4000\n255\n1 2 3"}) {
        error[0] = '\0';
        EXPECT_FALSE(kxioReadMemory(small.data(), small.size(), 0, error, sizeof error));
        EXPECT_NE(std::string(error).find("ends early"), std::string::npos) << error;
    }
}

// ---- writing ----------------------------------------------------------------------

struct RoundTrip {
    const char *name;
    int typeIn;
    int typeOut;  // what reading the file gives back
};

TEST(WriteRead, LosslessFormatsGiveTheImageBack)
{
    const RoundTrip cases[] = {
        {"a.png", KIT_BIN, KIT_GRAY},  {"a.png", KIT_GRAY, KIT_GRAY},  {"a.png", KIT_RGB, KIT_RGB},
        {"a.png", KIT_RGBA, KIT_RGBA}, {"a.pgm", KIT_GRAY, KIT_GRAY},  {"a.pgm", KIT_BIN, KIT_GRAY},
        {"a.ppm", KIT_RGB, KIT_RGB},   {"a.PPM", KIT_RGBA, KIT_RGB},   {"a.pbm", KIT_BIN, KIT_BIN},
        {"a.tif", KIT_BIN, KIT_BIN},   {"a.tiff", KIT_GRAY, KIT_GRAY}, {"a.tif", KIT_RGB, KIT_RGB},
        {"a.TIF", KIT_RGBA, KIT_RGBA},
    };
    for (const RoundTrip &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " from type " + std::to_string(c.typeIn));
        ImagePtr in = kxtest::randomImage(c.typeIn, 37, 11, 7);
        const std::string path = scratch(c.name);
        char error[256] = "";
        ASSERT_TRUE(kxioWrite(in.get(), path.c_str(), nullptr, error, sizeof error)) << error;
        ImagePtr out = read(path);
        std::remove(path.c_str());
        ASSERT_TRUE(out);
        ASSERT_EQ(out->imageType, c.typeOut);
        ASSERT_EQ(out->width, 37);
        ASSERT_EQ(out->height, 11);
        const int bin = kxiBytesPerPixel(c.typeIn), bout = kxiBytesPerPixel(c.typeOut);
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 37; ++x)
                for (int i = 0; i < bout; ++i) {
                    int want = in->data[y * in->pitch + x * bin + i];
                    if (c.typeIn == KIT_BIN && c.typeOut != KIT_BIN) want = want ? 255 : 0;
                    ASSERT_EQ(out->data[y * out->pitch + x * bout + i], want) << x << "," << y << " byte " << i;
                }
    }
}

// The mean absolute difference between two images of the same layout.
double meanDifference(const Image *a, const Image *b)
{
    const std::vector<uint8_t> pa = kxtest::pixels(a), pb = kxtest::pixels(b);
    double sum = 0;
    for (size_t i = 0; i < pa.size(); ++i) sum += std::abs(int(pa[i]) - int(pb[i]));
    return sum / double(pa.size());
}

TEST(WriteRead, JpegKeepsASmoothPictureCloseAndQualityTradesSize)
{
    for (int type : {KIT_GRAY, KIT_RGB}) {
        ImagePtr in(kxCreateImage(type, 64, 48));
        const int bpp = kxiBytesPerPixel(type);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                for (int i = 0; i < bpp; ++i) in->data[y * in->pitch + x * bpp + i] = uint8_t(2 * x + y + 30 * i);
        long sizes[2];
        int k = 0;
        for (int quality : {30, 95}) {
            const std::string path = scratch(quality == 30 ? "q30.jpg" : "q95.jpg");
            const KxioOptions options = {KXIO_AUTO, quality};
            char error[256] = "";
            ASSERT_TRUE(kxioWrite(in.get(), path.c_str(), &options, error, sizeof error)) << error;
            struct stat st;
            ASSERT_EQ(stat(path.c_str(), &st), 0);
            sizes[k++] = long(st.st_size);
            ImagePtr out = read(path);
            std::remove(path.c_str());
            ASSERT_TRUE(out);
            ASSERT_EQ(out->imageType, type);
            EXPECT_LT(meanDifference(in.get(), out.get()), quality == 95 ? 1.5 : 4.0);
        }
        EXPECT_LT(sizes[0], sizes[1]);
    }
}

TEST(WriteRead, TiffPagesAreWrittenAndReadOneByOne)
{
    ImagePtr bits = kxtest::randomImage(KIT_BIN, 50, 20, 1);
    ImagePtr grey = kxtest::randomImage(KIT_GRAY, 7, 9, 2);
    ImagePtr rgba = kxtest::randomImage(KIT_RGBA, 3, 5, 3);
    const Image *pages[] = {bits.get(), grey.get(), rgba.get()};
    const std::string path = scratch("pages.tif");
    char error[256] = "";
    ASSERT_TRUE(kxioWritePages(pages, 3, path.c_str(), nullptr, error, sizeof error)) << error;
    EXPECT_EQ(kxioPageCount(path.c_str(), error, sizeof error), 3);
    for (int page = 0; page < 3; ++page) {
        ImagePtr im = read(path, page);
        ASSERT_TRUE(im);
        EXPECT_EQ(kxtest::pixels(im.get()), kxtest::pixels(pages[page])) << "page " << page;
        EXPECT_EQ(im->imageType, pages[page]->imageType);
    }
    EXPECT_FALSE(kxioRead(path.c_str(), 3, error, sizeof error));
    EXPECT_NE(std::string(error).find("no page 3"), std::string::npos) << error;
    std::remove(path.c_str());
    // The corpus file with three pages written by hand, uncompressed.
    EXPECT_EQ(kxioPageCount((kData + "pages.tif").c_str(), error, sizeof error), 3);
    ImagePtr third = read(kData + "pages.tif", 2);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->imageType, KIT_BIN);
    EXPECT_EQ(kxioPageCount((kData + "grey.png").c_str(), error, sizeof error), 1);
}

TEST(WriteRead, BilevelTiffIsCompressedWithG4)
{
    // A white A4-like page at 100 dpi with one black bar: uncompressed it
    // would take 100 kB; G4 codes each white row in a few bits.
    ImagePtr page(kxCreateImage(KIT_BIN, 827, 1169));
    kxiFlood(page.get(), 1);
    for (int y = 500; y < 520; ++y)
        for (int x = 100; x < 700; ++x) page->data[y * page->pitch + x] = 0;
    const std::string path = scratch("g4.tif");
    char error[256] = "";
    ASSERT_TRUE(kxioWrite(page.get(), path.c_str(), nullptr, error, sizeof error)) << error;
    const std::vector<uint8_t> bytes = bytesOf(path);
    EXPECT_LT(bytes.size(), 2000u);
    // Tag 259 (compression) with value 4 (CCITT G4) is in the directory.
    bool g4 = false;
    for (size_t i = 0; i + 10 <= bytes.size(); ++i)
        if (bytes[i] == 0x03 && bytes[i + 1] == 0x01 && bytes[i + 2] == 3 && bytes[i + 8] == 4) g4 = true;
    EXPECT_TRUE(g4);
    ImagePtr back = read(path);
    std::remove(path.c_str());
    ASSERT_TRUE(back);
    EXPECT_EQ(kxtest::pixels(back.get()), kxtest::pixels(page.get()));
}

struct Refusal {
    const char *name;
    int format, quality;
    bool nullImage;
    const char *says;
};

TEST(WriteRead, RefusedWritesSayWhyAndLeaveNoFile)
{
    const Refusal cases[] = {
        {"x.bmp", KXIO_AUTO, 0, false, "cannot tell the file format"},
        {"noextension", KXIO_AUTO, 0, false, "cannot tell the file format"},
        {"x.jpg", KXIO_AUTO, 101, false, "quality 101"},
        {"x.jpg", KXIO_AUTO, -1, false, "quality -1"},
        {"x.png", 9, 0, false, "unknown format code 9"},
        {"x.png", KXIO_AUTO, 0, true, "no usable image"},
        {"x.pbm", KXIO_AUTO, 0, false, "PBM holds binary images only"},
    };
    ImagePtr im = kxtest::randomImage(KIT_GRAY, 5, 5, 1);
    for (const Refusal &c : cases) {
        const std::string path = scratch(c.name);
        const KxioOptions options = {c.format, c.quality};
        char error[256] = "";
        EXPECT_FALSE(kxioWrite(c.nullImage ? nullptr : im.get(), path.c_str(), &options, error, sizeof error));
        EXPECT_NE(std::string(error).find(c.says), std::string::npos) << c.name << ": " << error;
        EXPECT_NE(access(path.c_str(), F_OK), 0) << c.name << " was left behind";
    }
    const Image *one[] = {im.get()};
    char error[256] = "";
    EXPECT_FALSE(kxioWritePages(one, 1, scratch("x.png").c_str(), nullptr, error, sizeof error));
    EXPECT_NE(std::string(error).find("only TIFF"), std::string::npos) << error;
}

TEST(Errors, TextIsCutToTheBufferAndAnyBufferMayBeNull)
{
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_FALSE(kxioRead((kData + "bad-huge.ppm").c_str(), 0, small, sizeof small));
    EXPECT_EQ(std::strlen(small), 7u);
    EXPECT_FALSE(kxioRead((kData + "bad-huge.ppm").c_str(), 0, nullptr, 0));
    EXPECT_FALSE(kxioRead(nullptr, 0, nullptr, 0));
    EXPECT_FALSE(kxioReadMemory(nullptr, 5, 0, nullptr, 0));
    char error[128] = "";
    EXPECT_FALSE(kxioRead((kData + "grey.png").c_str(), 1, error, sizeof error));
    EXPECT_NE(std::string(error).find("only TIFF"), std::string::npos) << error;
}

TEST(Names, ExtensionsMapToFormats)
{
    EXPECT_EQ(kxioFormatOfName("a/b.c/page.PNG"), KXIO_PNG);
    EXPECT_EQ(kxioFormatOfName("x.pbm"), KXIO_PNM);
    EXPECT_EQ(kxioFormatOfName("x.tiff"), KXIO_TIFF);
    EXPECT_EQ(kxioFormatOfName("x.JPEG"), KXIO_JPEG);
    EXPECT_EQ(kxioFormatOfName("a.png/x"), 0);
    EXPECT_EQ(kxioFormatOfName(nullptr), 0);
}

}  // namespace
